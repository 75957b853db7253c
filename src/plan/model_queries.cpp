#include "plan/messages.h"
#include "plan/registry.h"
#include "tavrin/tavrin.h"

using tavrin::Failure;
using tavrin::Op;
using tavrin::Stage;

Result CTavrin::modelSetDesignVarValue(wchar_t const* designVar, double value) {
  const Op op = Op::modelSetDesignVarValue;
  if (!PlanComputed) return tavrin::failure(op, Failure::PlanNotComputed);
  ModelComputed = ModelOptimized = false;
  const tavrin::DesignVarRecord* record = tavrin::findDesignVar(MapDesignVars, designVar);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  Workspace.pointNatural[record->index] = value;
  return Result();
}

Result CTavrin::modelGetObjectiveValue(wchar_t const* objective, double& value) {
  const Op op = Op::modelGetObjectiveValue;
  Result stage = tavrin::requireStage(op, Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  const tavrin::ObjectiveRecord* record = tavrin::findObjective(MapObjectives, objective);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  value = Workspace.objValue[record->index];
  return Result();
}

Result CTavrin::modelSetObjectiveLimits(wchar_t const* objective, double weight, double low, double high) {
  const Op op = Op::modelSetObjectiveLimits;
  Result stage = tavrin::requireStage(op, Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  ModelOptimized = false;
  const tavrin::ObjectiveRecord* record = tavrin::findObjective(MapObjectives, objective);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  Workspace.objWeight[record->index] = weight;
  Workspace.objLow[record->index] = low;
  Workspace.objHigh[record->index] = high;
  return Result();
}

Result CTavrin::modelGetObjectiveLimits(wchar_t const* objective, double& weight, double& low, double& high) {
  const Op op = Op::modelGetObjectiveLimits;
  Result stage = tavrin::requireStage(op, Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  const tavrin::ObjectiveRecord* record = tavrin::findObjective(MapObjectives, objective);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  weight = Workspace.objWeight[record->index];
  low = Workspace.objLow[record->index];
  high = Workspace.objHigh[record->index];
  return Result();
}

Result CTavrin::modelSetDesignVarLimits(wchar_t const* designVar, double low, double high) {
  const Op op = Op::modelSetDesignVarLimits;
  Result stage = tavrin::requireStage(op, Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  ModelOptimized = false;
  const tavrin::DesignVarRecord* record = tavrin::findDesignVar(MapDesignVars, designVar);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  Workspace.searchLow[record->index] = low;
  Workspace.searchHigh[record->index] = high;
  return Result();
}

Result CTavrin::modelGetDesignVarLimits(wchar_t const* designVar, double& low, double& high) {
  const Op op = Op::modelGetDesignVarLimits;
  Result stage = tavrin::requireStage(op, Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  const tavrin::DesignVarRecord* record = tavrin::findDesignVar(MapDesignVars, designVar);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  low = Workspace.searchLow[record->index];
  high = Workspace.searchHigh[record->index];
  return Result();
}

Result CTavrin::modelGetObjectiveBestResult(wchar_t const* objective, unsigned int slot, double& value) {
  const Op op = Op::modelGetObjectiveBestResult;
  if (slot > BestResultCount) return tavrin::failure(op, Failure::IndexTooLarge);
  Result stage = tavrin::requireStage(op, Stage::Optimized, PlanComputed, ModelComputed, ModelOptimized);
  if (stage.code != 0) return stage;
  const tavrin::ObjectiveRecord* record = tavrin::findObjective(MapObjectives, objective);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  value = Workspace.bestObjValue[slot][record->index];
  return Result();
}

Result CTavrin::modelGetDesignVarBestResult(wchar_t const* designVar, unsigned int slot, double& value) {
  const Op op = Op::modelGetDesignVarBestResult;
  if (slot > BestResultCount) return tavrin::failure(op, Failure::IndexTooLarge);
  Result stage = tavrin::requireStage(op, Stage::Optimized, PlanComputed, ModelComputed, ModelOptimized);
  if (stage.code != 0) return stage;
  const tavrin::DesignVarRecord* record = tavrin::findDesignVar(MapDesignVars, designVar);
  if (!record) return tavrin::failure(op, Failure::NotFound);
  value = Workspace.bestVarValue[slot][record->index];
  return Result();
}
