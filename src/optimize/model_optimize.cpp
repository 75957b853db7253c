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

// The lowest slot whose score is strictly lower takes `score`, or 0 when
// none does; the point that held it is dropped and nothing moves down.
inline int takeSlot(SlotScores& slotScore, double score) {
  for (int s = 1; s < kBestSlots; ++s) {
    if (slotScore[s] < score) {
      slotScore[s] = score;
      return s;
    }
  }
  return 0;
}

void rankPoint(NumericWorkspace& ws, SlotScores& slotScore) {
  const int s = takeSlot(slotScore, scorePoint(ws));
  if (s == 0) return;
  for (int d = 1; d <= ws.varCount; ++d) ws.bestVarValue[s][d] = ws.pointNatural[d];
  for (int j = 1; j <= ws.objCount; ++j) ws.bestObjValue[s][j] = ws.objValue[j];
}

// Numerators of the LPtau coordinates (coordinate times 65536) are linear
// in the bits of the point number under exclusive or.
std::uint32_t lptauNumerator(unsigned int bits, int d) {
  std::uint32_t acc = 0;
  for (bits &= 0xFFFFu; bits != 0; bits &= bits - 1) acc ^= lptauShifted.entry[d][__builtin_ctz(bits)];
  return acc;
}

// Numerators of the point numbers below kBlockLanes, twice in a row, by
// dimension: lanes of a block read a contiguous stretch whatever the first
// point's remainder.
constexpr unsigned int kLowMask = kBlockLanes - 1;
static_assert((kBlockLanes & kLowMask) == 0 && kBlockLanes <= 65536);

struct LowNumerators {
  std::uint32_t entry[kSlots][2 * kBlockLanes];
};

constexpr LowNumerators lowNumerators() {
  LowNumerators t{};
  for (int d = 1; d <= kLptauDimensions; ++d) {
    for (unsigned int v = 0; v < 2 * kBlockLanes; ++v) {
      for (int b = 0; b < kLptauBits; ++b) {
        if (((v & kLowMask) >> b) & 1u) t.entry[d][v] ^= lptauShifted.entry[d][b];
      }
    }
  }
  return t;
}

inline constexpr LowNumerators lowNumeratorTable = lowNumerators();

// Natural values of LPtau points p, p + 1, ... in the lanes of `natural`,
// the same bits as mapPoint. Point p + l splits into its high bits, shared
// by the lanes before and after the one where the low bits wrap, and its
// low bits, read from the table.
__attribute__((always_inline)) inline void mapBlock(const NumericWorkspace& ws, unsigned int p, BlockColumn* natural) {
  const unsigned int high = p & ~kLowMask, low = p & kLowMask;
  const int wrap = static_cast<int>(kBlockLanes - low);
  for (int d = 1; d <= ws.varCount; ++d) {
    const std::uint32_t before = lptauNumerator(high, d), after = lptauNumerator(high + kBlockLanes, d);
    const std::uint32_t* row = lowNumeratorTable.entry[d] + low;
    const double origin = ws.searchLow[d], width = ws.searchHigh[d] - origin;
    for (int l = 0; l < kBlockLanes; ++l) {
      const std::uint32_t numerator = (l < wrap ? before : after) ^ row[l];
      natural[d].lane[l] = width * (static_cast<double>(static_cast<std::int32_t>(numerator)) / 65536.0) + origin;
    }
  }
}

// scorePoint for every lane of a block, each lane's sum in the same order.
__attribute__((always_inline)) inline void scoreBlock(const NumericWorkspace& ws, const BlockColumn* values,
                                                      double* score) {
  bool outside[kBlockLanes] = {};
  for (int l = 0; l < kBlockLanes; ++l) score[l] = 0.0;
  for (int j = 1; j <= ws.objCount; ++j) {
    const double weight = ws.objWeight[j], low = ws.objLow[j], high = ws.objHigh[j];
    const double* v = values[j].lane;
    if (std::fabs(weight) < kZeroWeight) {
      for (int l = 0; l < kBlockLanes; ++l) outside[l] = outside[l] || low > v[l] || high < v[l];
    }
    for (int l = 0; l < kBlockLanes; ++l) score[l] += v[l] * weight;
  }
  for (int l = 0; l < kBlockLanes; ++l) score[l] = outside[l] ? kUnscored : score[l];
}

// Points i, i + 1, ... while a whole block of them remains before `last`;
// returns the first point not tried.
__attribute__((always_inline)) inline std::uint64_t searchBlocks(NumericWorkspace& ws, const PreparedModels& models,
                                                                 std::uint64_t i, std::uint64_t last,
                                                                 SlotScores& slotScore) {
  BlockColumn natural[kSlots], coded[kSlots], values[kSlots];
  alignas(64) double score[kBlockLanes];
  const int n = ws.varCount, m = ws.objCount;
  for (; last - i >= kBlockLanes; i += kBlockLanes) {
    checkSearchInterrupt();
    mapBlock(ws, static_cast<unsigned int>(i), natural);
    evaluateBlock(models, natural, coded, values);
    scoreBlock(ws, values, score);
    for (int l = 0; l < kBlockLanes; ++l) {
      const int s = takeSlot(slotScore, score[l]);
      if (s == 0) continue;
      for (int d = 1; d <= n; ++d) ws.bestVarValue[s][d] = natural[d].lane[l];
      for (int j = 1; j <= m; ++j) ws.bestObjValue[s][j] = values[j].lane[l];
    }
    constexpr int kLast = kBlockLanes - 1;
    for (int d = 1; d <= n; ++d) ws.pointNatural[d] = natural[d].lane[kLast], ws.pointCoded[d] = coded[d].lane[kLast];
    for (int j = 1; j <= m; ++j) ws.objValue[j] = values[j].lane[kLast];
  }
  return i;
}

// The mapping and the scoring follow the instruction set of the evaluation;
// every variant gives the same bits, lane by lane.
std::uint64_t searchBlocksBaseline(NumericWorkspace& ws, const PreparedModels& models, std::uint64_t i,
                                   std::uint64_t last, SlotScores& slotScore) {
  return searchBlocks(ws, models, i, last, slotScore);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) std::uint64_t searchBlocksAvx2(NumericWorkspace& ws, const PreparedModels& models,
                                                               std::uint64_t i, std::uint64_t last,
                                                               SlotScores& slotScore) {
  return searchBlocks(ws, models, i, last, slotScore);
}

__attribute__((target("avx512f"))) std::uint64_t searchBlocksAvx512(NumericWorkspace& ws, const PreparedModels& models,
                                                                    std::uint64_t i, std::uint64_t last,
                                                                    SlotScores& slotScore) {
  return searchBlocks(ws, models, i, last, slotScore);
}
#endif

std::uint64_t searchInBlocks(NumericWorkspace& ws, const PreparedModels& models, std::uint64_t i,
                             std::uint64_t last, SlotScores& slotScore) {
#if defined(__x86_64__)
  switch (activeBlockPath()) {
    case BlockPath::Avx512:
      return searchBlocksAvx512(ws, models, i, last, slotScore);
    case BlockPath::Avx2:
      return searchBlocksAvx2(ws, models, i, last, slotScore);
    default:
      break;
  }
#endif
  return searchBlocksBaseline(ws, models, i, last, slotScore);
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
