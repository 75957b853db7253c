#include "plan/messages.h"

#include <cstdlib>
#include <iterator>

namespace tavrin {

using F = Failure;

const MessageEntry kMessages[] = {
    {Op::planAddDesignVar, F::AddAfterPlan, 12,
     L"Tavrin error. planAddDesignVar(). Can not Add variable. Plan has been computed."},
    {Op::planAddObjective, F::AddAfterPlan, 13,
     L"Tavrin error. planAddObjective(). Can not Add objective. Plan has been computed."},
    {Op::planGetDesignVar, F::NotFound, 5, L"Tavrin error. planGetDesignVar(). Variable is not found."},
    {Op::planGetObjectiveByIndex, F::NotFound, 5,
     L"Tavrin error. planGetObjective(). Variable is not found."},
    {Op::planGetObjectiveByName, F::NotFound, 5,
     L"Tavrin Error. planGetObjective(). Variable is not found."},

    {Op::planCompute, F::DesignVarCount, 6, L"Tavrin Error. planCompute(). MapDesignVars size error."},
    {Op::planCompute, F::ObjectiveCount, 7, L"Tavrin Error. planCompute(). MapObjectives size error."},
    {Op::planCompute, F::PlanBuildFailed, 1,
     L"Tavrin Error. planCompute(). Plan is not computed. Check plan data"},

    {Op::planGetExperimentCount, F::PlanNotComputed, 1,
     L"Tavrin Error. planGetExperimentCount(). Plan is not computed."},

    {Op::planGetDesignVarValue, F::PlanNotComputed, 1,
     L"Tavrin Error. planGetDesignVarValue(). Plan is not computed."},
    {Op::planGetDesignVarValue, F::IndexTooLarge, 11, L"Tavrin Error. planGetDesignVarValue(). Index too large."},
    {Op::planGetDesignVarValue, F::NotFound, 5, L"Tavrin Error. planGetDesignVarValue(). Variable is not found."},

    {Op::planGetObjectiveValue, F::PlanNotComputed, 1,
     L"Tavrin Error. planGetObjectiveValue(). Plan is not computed."},
    {Op::planGetObjectiveValue, F::IndexTooLarge, 11, L"Tavrin Error. planGetObjectiveValue(). Index too large."},
    {Op::planGetObjectiveValue, F::NotFound, 5, L"Tavrin Error. planGetObjectiveValue(). Variable is not found."},

    {Op::planSetObjectiveValue, F::PlanNotComputed, 1,
     L"Tavrin Error. planSetObjectiveValue(). Plan is not computed."},
    {Op::planSetObjectiveValue, F::IndexTooLarge, 11, L"Tavrin Error. planSetObjectiveValue(). Index too large."},
    {Op::planSetObjectiveValue, F::NotFound, 5, L"Tavrin Error. planSetObjectiveValue(). Variable is not found."},

    {Op::modelCompute, F::PlanNotComputed, 1, L"Tavrin Error. modelCompute(). Plan is not computed."},

    {Op::modelSetDesignVarValue, F::PlanNotComputed, 1,
     L"Tavrin Error. modelSetDesignVarValue(). Plan is not computed."},
    {Op::modelSetDesignVarValue, F::NotFound, 5,
     L"Tavrin Error. modelSetDesignVarValue(). Variable is not found."},

    {Op::modelGetObjectiveValue, F::PlanNotComputed, 1,
     L"Tavrin Error. modelGetObjectiveValue(). Plan is not computed."},
    {Op::modelGetObjectiveValue, F::ModelNotComputed, 2,
     L"Tavrin Error. modelGetObjectiveValue(). Model is not computed."},
    {Op::modelGetObjectiveValue, F::NotFound, 5,
     L"Tavrin Error. modelGetObjectiveValue(). Variable is not found."},

    {Op::modelSetObjectiveLimits, F::PlanNotComputed, 1,
     L"Tavrin Error. modelSetObjectiveLimits(). Plan is not computed."},
    {Op::modelSetObjectiveLimits, F::ModelNotComputed, 2,
     L"Tavrin Error. modelSetObjectiveLimits(). Model is not computed."},
    {Op::modelSetObjectiveLimits, F::NotFound, 5,
     L"Tavrin Error. modelSetObjectiveLimits(). Variable is not found."},

    {Op::modelGetObjectiveLimits, F::PlanNotComputed, 1,
     L"Tavrin Error. modelGetObjectiveLimits(). Plan is not computed."},
    {Op::modelGetObjectiveLimits, F::ModelNotComputed, 2,
     L"Tavrin Error. modelGetObjectiveLimits(). Model is not computed."},
    {Op::modelGetObjectiveLimits, F::NotFound, 5,
     L"Tavrin Error. modelGetObjectiveLimits(). Variable is not found."},

    {Op::modelSetDesignVarLimits, F::PlanNotComputed, 1,
     L"Tavrin Error. modelSetDesignVarLimits(). Plan is not computed."},
    {Op::modelSetDesignVarLimits, F::ModelNotComputed, 2,
     L"Tavrin Error. modelSetDesignVarLimits(). Model is not computed."},
    {Op::modelSetDesignVarLimits, F::NotFound, 5,
     L"Tavrin Error. modelSetDesignVarLimits(). Variable is not found."},

    {Op::modelGetDesignVarLimits, F::PlanNotComputed, 1,
     L"Tavrin Error. modelGetDesignVarLimits(). Plan is not computed."},
    {Op::modelGetDesignVarLimits, F::ModelNotComputed, 2,
     L"Tavrin Error. modelGetDesignVarLimits(). Model is not computed."},
    {Op::modelGetDesignVarLimits, F::NotFound, 5,
     L"Tavrin Error. modelGetDesignVarLimits(). Variable is not found."},

    {Op::modelOptimize, F::PlanNotComputed, 1, L"Tavrin Error. modelOptimize(). Plan is not computed."},
    {Op::modelOptimize, F::ModelNotComputed, 2, L"Tavrin Error. modelOptimize(). Model is not computed."},
    {Op::modelOptimize, F::NoAdmissiblePoint, 4, L"Tavrin Error. modelOptimize(). Can not find optimal results"},

    {Op::modelGetObjectiveBestResult, F::IndexTooLarge, 11,
     L"Tavrin Error. modelGetObjectiveBestResult(). Index too large."},
    {Op::modelGetObjectiveBestResult, F::PlanNotComputed, 1,
     L"Tavrin Error. modelGetObjectiveBestResult(). Plan is not computed."},
    {Op::modelGetObjectiveBestResult, F::ModelNotComputed, 2,
     L"Tavrin Error. modelGetObjectiveBestResult(). Model is not computed."},
    {Op::modelGetObjectiveBestResult, F::NotOptimized, 3,
     L"Tavrin Error. modelGetObjectiveBestResult(). Model is not optimized."},
    {Op::modelGetObjectiveBestResult, F::NotFound, 5,
     L"Tavrin Error. modelGetObjectiveBestResult(). Variable is not found."},

    {Op::modelGetDesignVarBestResult, F::IndexTooLarge, 11,
     L"Tavrin Error. modelGetDesignVarBestResult(). Index too large."},
    {Op::modelGetDesignVarBestResult, F::PlanNotComputed, 1,
     L"Tavrin Error. modelGetDesignVarBestResult(). Plan is not computed."},
    {Op::modelGetDesignVarBestResult, F::ModelNotComputed, 2,
     L"Tavrin Error. modelGetDesignVarBestResult(). Model is not computed."},
    {Op::modelGetDesignVarBestResult, F::NotOptimized, 3,
     L"Tavrin Error. modelGetDesignVarBestResult(). Model is not optimized."},
    {Op::modelGetDesignVarBestResult, F::NotFound, 5,
     L"Tavrin Error. modelGetDesignVarBestResult(). Variable is not found."},

    {Op::Save, F::PlanNotComputed, 1, L"Tavrin Error. Save(). Plan is not computed."},
    {Op::Save, F::ModelNotComputed, 2, L"Tavrin Error. Save(). Model is not computed."},
    {Op::Save, F::FileVersion, 20, L"Tavrin Error. Save(). File version is wrong."},
    {Op::Save, F::CannotOpenToSave, 20, L"Tavrin Error. Save(). Can not open file to save."},

    {Op::Load, F::CannotOpenToLoad, 21, L"Tavrin Error. Load(). Can not open file to load."},
    {Op::Load, F::CannotLoad, 21, L"Tavrin Error. Load(). Can not load from file."},
    {Op::Load, F::DesignVarName, 21, L"Tavrin Error. Load(). Design Variable Name is not valid."},
    {Op::Load, F::ObjectiveName, 21, L"Tavrin Error. Load(). Objective Name is not valid."},
    {Op::Load, F::CannotComputePlan, 21, L"Tavrin Error. Load(). Can not compute plan."},
    {Op::Load, F::CannotComputeModel, 21, L"Tavrin Error. Load(). Can not compute model."},
};

const std::size_t kMessageCount = std::size(kMessages);

Result failure(Op op, Failure why) {
  for (const MessageEntry& entry : kMessages) {
    if (entry.op == op && entry.failure == why) return Result(entry.code, entry.text);
  }
  // Every (operation, failure) pair the library reports is in the table.
  std::abort();
}

Result requireStage(Op op, Stage needed, bool planComputed, bool modelComputed, bool modelOptimized) {
  if (!planComputed) return failure(op, Failure::PlanNotComputed);
  if (needed != Stage::Plan && !modelComputed) return failure(op, Failure::ModelNotComputed);
  if (needed == Stage::Optimized && !modelOptimized) return failure(op, Failure::NotOptimized);
  return Result();
}

}  // namespace tavrin
