// Every failure an operation can report, with its code and exact text.
#pragma once

#include "tavrin/tavrin.h"

namespace tavrin {

// The operation reporting a failure; one entry per message prefix.
enum class Op {
  planAddDesignVar,
  planAddObjective,
  planGetDesignVar,
  planGetObjectiveByIndex,
  planGetObjectiveByName,
  planCompute,
  planGetExperimentCount,
  planGetDesignVarValue,
  planGetObjectiveValue,
  planSetObjectiveValue,
  modelCompute,
  modelSetDesignVarValue,
  modelGetObjectiveValue,
  modelSetObjectiveLimits,
  modelGetObjectiveLimits,
  modelSetDesignVarLimits,
  modelGetDesignVarLimits,
  modelOptimize,
  modelGetObjectiveBestResult,
  modelGetDesignVarBestResult,
  Save,
  Load,
};

enum class Failure {
  PlanNotComputed,
  ModelNotComputed,
  NotOptimized,
  NoAdmissiblePoint,
  NotFound,
  DesignVarCount,
  ObjectiveCount,
  PlanBuildFailed,
  IndexTooLarge,
  AddAfterPlan,
  FileVersion,
  CannotOpenToSave,
  CannotOpenToLoad,
  CannotLoad,
  DesignVarName,
  ObjectiveName,
  CannotComputePlan,
  CannotComputeModel,
};

struct MessageEntry {
  Op op;
  Failure failure;
  unsigned int code;
  const wchar_t* text;
};

// The table itself, for tests that walk every message.
extern const MessageEntry kMessages[];
extern const std::size_t kMessageCount;

// The Result of `op` failing for `failure`; every pair used is in the table.
Result failure(Op op, Failure failure);

// The stages a study passes through, each needing the one before.
enum class Stage { Plan, Model, Optimized };

// A failing Result if the flags do not reach `needed` (checked plan, model,
// optimized in that order), or code 0.
Result requireStage(Op op, Stage needed, bool planComputed, bool modelComputed,
                    bool modelOptimized = false);

}  // namespace tavrin
