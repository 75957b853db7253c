#include <cmath>
#include <cstdint>
#include <limits>

#include "model/evaluate.h"
#include "model/evaluate_block.h"
#include "optimize/interrupt.h"
#include "optimize/lptau.h"
#include "optimize/search.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr double kUnscored = -std::numeric_limits<double>::max();
constexpr double kZeroWeight = 1e-300;

using SlotScores = double[kBestSlots];

// Natural value of every design variable at LPtau point i.
void mapPoint(const NumericWorkspace& ws, unsigned int i, double* natural) {
  double t[kSlots];
  lptauPoint(i, ws.varCount, t);
  for (int d = 1; d <= ws.varCount; ++d) natural[d] = (ws.searchHigh[d] - ws.searchLow[d]) * t[d] + ws.searchLow[d];
}

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

// The current point takes the lowest slot whose score is strictly lower;
// the point that held it is dropped and nothing moves down.
void rankPoint(NumericWorkspace& ws, SlotScores& slotScore) {
  const double score = scorePoint(ws);
  for (int s = 1; s < kBestSlots; ++s) {
    if (slotScore[s] < score) {
      slotScore[s] = score;
      for (int d = 1; d <= ws.varCount; ++d) ws.bestVarValue[s][d] = ws.pointNatural[d];
      for (int j = 1; j <= ws.objCount; ++j) ws.bestObjValue[s][j] = ws.objValue[j];
      return;
    }
  }
}

// Points i, i + 1, ... while a whole block of them remains before `last`;
// returns the first point not tried.
std::uint64_t searchInBlocks(NumericWorkspace& ws, const PreparedModels& models, std::uint64_t i,
                             std::uint64_t last, SlotScores& slotScore) {
  BlockColumn natural[kSlots], coded[kSlots], values[kSlots];
  double point[kSlots];
  for (; last - i >= kBlockLanes; i += kBlockLanes) {
    checkSearchInterrupt();
    for (int l = 0; l < kBlockLanes; ++l) {
      mapPoint(ws, static_cast<unsigned int>(i) + static_cast<unsigned int>(l), point);
      for (int d = 1; d <= ws.varCount; ++d) natural[d].lane[l] = point[d];
    }
    evaluateBlock(models, natural, coded, values);
    for (int l = 0; l < kBlockLanes; ++l) {
      for (int d = 1; d <= ws.varCount; ++d) {
        ws.pointNatural[d] = natural[d].lane[l];
        ws.pointCoded[d] = coded[d].lane[l];
      }
      for (int j = 1; j <= ws.objCount; ++j) ws.objValue[j] = values[j].lane[l];
      rankPoint(ws, slotScore);
    }
  }
  return i;
}

}  // namespace

bool searchBestPoints(NumericWorkspace& ws, unsigned int first, unsigned int last, SearchPath path) {
  SlotScores slotScore;
  for (double& score : slotScore) score = kUnscored;

  std::uint64_t i = first;
  PreparedModels models;
  if (path == SearchPath::Blocks && first < last && prepareModels(ws, models)) {
    i = searchInBlocks(ws, models, i, last, slotScore);
  }
  int evaluationFailure = 0;
  for (; i < last; ++i) {
    if ((i - first) % kBlockLanes == 0) checkSearchInterrupt();
    mapPoint(ws, static_cast<unsigned int>(i), ws.pointNatural);
    evaluateModels(ws, evaluationFailure);
    rankPoint(ws, slotScore);
  }

  for (int s = 1; s < kBestSlots; ++s) {
    if (slotScore[s] != kUnscored) return true;
  }
  return false;
}

}  // namespace tavrin

Result CTavrin::modelOptimize(unsigned int first, unsigned int last) {
  const tavrin::Op op = tavrin::Op::modelOptimize;
  Result stage = tavrin::requireStage(op, tavrin::Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  ModelOptimized = tavrin::searchBestPoints(Workspace, first, last);
  if (!ModelOptimized) return tavrin::failure(op, tavrin::Failure::NoAdmissiblePoint);
  return Result();
}
