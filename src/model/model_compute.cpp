#include "design/plans.h"
#include "design/tables.h"
#include "model/estimators.h"
#include "model/evaluate.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

Result CTavrin::modelCompute() {
  if (!PlanComputed) return tavrin::failure(tavrin::Op::modelCompute, tavrin::Failure::PlanNotComputed);
  tavrin::NumericWorkspace& ws = Workspace;
  tavrin::freeTable(ws.planMatrix);
  tavrin::freeTriangularTable(ws.coefTable);

  const int n = ws.varCount;
  if ((CurrentPlanType == BoxBehnkenPlan || n < 4) && n != 8) {
    ws.planMatrix = tavrin::buildBoxBehnkenPlan(n);
    ws.coefTable = tavrin::fitBoxBehnken(n, ws.runCount, ws.objCount, ws.planMatrix, ws.obsTable);
  } else {
    ws.planMatrix = tavrin::buildRechtschaffnerPlan(n);
    ws.coefTable = tavrin::fitRechtschaffner(n, ws.runCount, ws.objCount, ws.planMatrix, ws.obsTable);
  }
  tavrin::freeTable(ws.planMatrix);

  int evaluationFailure = 0;
  tavrin::evaluateModels(ws, evaluationFailure);
  ModelComputed = true;
  return Result();
}
