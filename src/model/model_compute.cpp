#include <new>

#include "design/plan_kinds.h"
#include "design/tables.h"
#include "model/evaluate.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

Result CTavrin::modelCompute() {
  if (!PlanComputed) return tavrin::failure(tavrin::Op::modelCompute, tavrin::Failure::PlanNotComputed);
  tavrin::NumericWorkspace& ws = Workspace;
  tavrin::freeTable(ws.planMatrix);

  // The fit goes into a table of its own; the workspace takes it only once
  // it is complete, so nothing is left half done. The tables themselves end
  // the process when memory runs out, and so does the fit's scratch.
  const tavrin::PlanKind& kind = tavrin::planKindOf(CurrentPlanType);
  tavrin::TriangularTable<float> fitted;
  try {
    const tavrin::Table<std::int32_t> plan = kind.build(ws.varCount);
    fitted = kind.fit(ws.varCount, ws.runCount, ws.objCount, plan, ws.obsTable);
  } catch (const std::bad_alloc&) {
    tavrin::outOfMemory("\nInsufficient memory, model fit", "\n N=%d  Nbite=%d", ws.runCount, 8);
  }

  // From here on nothing allocates or throws.
  ws.coefTable = std::move(fitted);
  int evaluationFailure = 0;
  tavrin::evaluateModels(ws, evaluationFailure);
  ModelComputed = true;
  return Result();
}
