#include <cmath>
#include <limits>

#include "model/evaluate.h"
#include "optimize/lptau.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr double kUnscored = -std::numeric_limits<double>::max();
constexpr double kZeroWeight = 1e-300;

// Weighted sum of the predictions, or kUnscored if a constraint objective
// (|weight| < 1e-300) predicts outside its inclusive limits.
double scorePoint(const NumericWorkspace& ws) {
  double score = 0.0;
  for (int j = 1; j <= ws.objCount; ++j) {
    if (std::fabs(ws.objWeight[j]) < kZeroWeight && (ws.objLow[j] > ws.objValue[j] || ws.objHigh[j] < ws.objValue[j])) {
      return kUnscored;
    }
    score += ws.objValue[j] * ws.objWeight[j];
  }
  return score;
}

// The point takes the lowest slot whose score is strictly lower; the point
// that held it is dropped and nothing moves down.
void rankPoint(NumericWorkspace& ws, double (&slotScore)[kBestSlots], double score) {
  for (unsigned int s = 1; s <= CTavrin::BestResultCount; ++s) {
    if (slotScore[s] < score) {
      slotScore[s] = score;
      for (int d = 1; d <= ws.varCount; ++d) ws.bestVarValue[s][d] = ws.pointNatural[d];
      for (int j = 1; j <= ws.objCount; ++j) ws.bestObjValue[s][j] = ws.objValue[j];
      return;
    }
  }
}

}  // namespace
}  // namespace tavrin

Result CTavrin::modelOptimize(unsigned int first, unsigned int last) {
  const tavrin::Op op = tavrin::Op::modelOptimize;
  Result stage = tavrin::requireStage(op, tavrin::Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;

  tavrin::NumericWorkspace& ws = Workspace;
  double slotScore[tavrin::kBestSlots];
  for (double& score : slotScore) score = tavrin::kUnscored;

  double t[tavrin::kSlots] = {};
  int evaluationFailure = 0;
  for (unsigned int i = first; i < last; ++i) {
    tavrin::lptauPoint(i, ws.varCount, t);
    for (int d = 1; d <= ws.varCount; ++d) {
      ws.pointNatural[d] = (ws.searchHigh[d] - ws.searchLow[d]) * t[d] + ws.searchLow[d];
    }
    tavrin::evaluateModels(ws, evaluationFailure);
    tavrin::rankPoint(ws, slotScore, tavrin::scorePoint(ws));
  }

  for (unsigned int s = 1; s <= BestResultCount; ++s) {
    if (slotScore[s] != tavrin::kUnscored) {
      ModelOptimized = true;
      return Result();
    }
  }
  ModelOptimized = false;
  return tavrin::failure(op, tavrin::Failure::NoAdmissiblePoint);
}
