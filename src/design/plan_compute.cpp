#include <new>

#include "design/plans.h"
#include "design/tables.h"
#include "design/transforms.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

using tavrin::Failure;
using tavrin::Op;

namespace {

bool designVarCountFits(CTavrin::PlanType type, std::size_t n) {
  if (type == CTavrin::BoxBehnkenPlan) return n <= 16 && tavrin::boxBehnkenSupports(static_cast<int>(n));
  // The workspace holds at most 20 design variables.
  return n >= 4 && n <= tavrin::kMaxVars;
}

}  // namespace

Result CTavrin::planCompute() {
  const std::size_t varCount = MapDesignVars.size();
  const std::size_t objCount = MapObjectives.size();
  if (!designVarCountFits(CurrentPlanType, varCount)) {
    return tavrin::failure(Op::planCompute, Failure::DesignVarCount);
  }
  if (objCount == 0 || objCount > tavrin::kMaxObjectives) {
    return tavrin::failure(Op::planCompute, Failure::ObjectiveCount);
  }

  try {
    const int n = static_cast<int>(varCount);
    const int m = static_cast<int>(objCount);
    const bool boxBehnken = CurrentPlanType == BoxBehnkenPlan;
    tavrin::NumericWorkspace& ws = Workspace;

    MapDesignVarValues.clear();
    tavrin::freeTable(ws.planMatrix);
    tavrin::freeModelTables(ws);
    ws = tavrin::NumericWorkspace();

    ws.varCount = n;
    ws.objCount = m;
    ws.runCount = boxBehnken ? tavrin::boxBehnkenRunCount(n) : tavrin::rechtschaffnerRunCount(n);
    tavrin::allocObsTable(ws);

    for (int k = 1; k <= n; ++k) {
      tavrin::DesignVarRecord& record = MapDesignVars[static_cast<std::size_t>(k - 1)];
      record.index = k;
      ws.varMin[k] = record.minValue;
      ws.varMax[k] = record.maxValue;
    }
    for (int k = 1; k <= m; ++k) MapObjectives[static_cast<std::size_t>(k - 1)].index = k;

    for (int j = 1; j <= m; ++j) {
      for (int i = 1; i <= n; ++i) ws.transformKind[j][i] = tavrin::kLinearTransform;
    }
    for (int j = 1; j <= m; ++j) tavrin::mapRanges(j, ws);

    ws.planMatrix = boxBehnken ? tavrin::buildBoxBehnkenPlan(n) : tavrin::buildRechtschaffnerPlan(n);

    for (const tavrin::ObjectiveRecord& objective : MapObjectives) {
      for (const tavrin::DesignVarRecord& designVar : MapDesignVars) {
        MapDesignVarValues.append(designVar.name, objective.name);
      }
    }

    // The record each (variable, objective) pair appends to: the first one
    // with its key, which never changes while the values are appended.
    std::vector<tavrin::DesignVarValuesRecord*> target(static_cast<std::size_t>(n) + 1);
    for (int j = 1; j <= m; ++j) {
      const wchar_t* objectiveName = MapObjectives[static_cast<std::size_t>(j - 1)].name.c_str();
      for (int i = 1; i <= n; ++i) {
        target[static_cast<std::size_t>(i)] =
            MapDesignVarValues.find(MapDesignVars[static_cast<std::size_t>(i - 1)].name.c_str(), objectiveName);
        target[static_cast<std::size_t>(i)]->values.reserve(static_cast<std::size_t>(ws.runCount));
      }
      for (int r = 1; r <= ws.runCount; ++r) {
        for (int i = 1; i <= n; ++i) ws.pointNatural[i] = static_cast<double>(ws.planMatrix[r][i]);
        int transformFailure = 0;
        tavrin::transformForward(j, ws, transformFailure);
        for (int i = 1; i <= n; ++i) target[static_cast<std::size_t>(i)]->values.push_back(ws.pointNatural[i]);
      }
    }
  } catch (const std::bad_alloc&) {
    PlanComputed = ModelComputed = ModelOptimized = false;
    return tavrin::failure(Op::planCompute, Failure::PlanBuildFailed);
  }

  PlanComputed = true;
  ModelComputed = ModelOptimized = false;
  return Result();
}
