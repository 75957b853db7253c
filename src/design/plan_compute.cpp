#include <new>

#include "design/plan_kinds.h"
#include "design/tables.h"
#include "design/transforms.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

using tavrin::Failure;
using tavrin::Op;

Result CTavrin::planCompute() {
  const tavrin::PlanKind& kind = tavrin::planKindOf(CurrentPlanType);
  const std::size_t varCount = MapDesignVars.size();
  const std::size_t objCount = MapObjectives.size();
  // No kind has room for more design variables than the workspace.
  if (varCount > static_cast<std::size_t>(tavrin::kMaxVars) || !kind.supports(static_cast<int>(varCount))) {
    return tavrin::failure(Op::planCompute, Failure::DesignVarCount);
  }
  if (objCount == 0 || objCount > tavrin::kMaxObjectives) {
    return tavrin::failure(Op::planCompute, Failure::ObjectiveCount);
  }

  try {
    const int n = static_cast<int>(varCount);
    const int m = static_cast<int>(objCount);
    tavrin::NumericWorkspace& ws = Workspace;

    MapDesignVarValues.clear();
    tavrin::freeTable(ws.planMatrix);
    tavrin::freeModelTables(ws);
    ws = tavrin::NumericWorkspace();

    ws.varCount = n;
    ws.objCount = m;
    ws.runCount = kind.runCount(n);
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

    ws.planMatrix = kind.build(n);

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
