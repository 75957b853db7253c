// Evaluation of every model at a block of points at once. Each point (lane)
// goes through exactly the operations evaluateModels performs for it, in
// the same order, so every prediction has the same bits; only independent
// lanes run side by side in vector registers.
#pragma once

#include <cstddef>
#include <vector>

#include "tavrin/detail/workspace.h"

namespace tavrin {

inline constexpr int kBlockLanes = 64;

// Values of one variable or objective across the points of a block.
struct alignas(64) BlockColumn {
  double lane[kBlockLanes];
};

// The fitted models, widened to double once and laid out in the order the
// block evaluation consumes them (two rows of a model side by side).
struct PreparedModels {
  int varCount = 0;
  int objCount = 0;
  std::size_t coefficientsPerModel = 0;
  std::vector<double> coefficients;
  double levelLow[kSlots] = {};
  double levelHigh[kSlots] = {};
};

// Prepares the models of `ws` for block evaluation. Returns false when the
// objectives code the design variables differently (then a point must be
// coded per objective and only evaluateModels applies).
bool prepareModels(const NumericWorkspace& ws, PreparedModels& models);

// Codes natural[1..n] of every lane and evaluates every model there:
// coded[1..n] and values[1..m] receive, lane by lane, what pointCoded and
// objValue would hold after evaluateModels at that point.
void evaluateBlock(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded, BlockColumn* values);

// Instruction sets evaluateBlock can run on; every path gives the same bits.
// Best is the widest the processor offers, the one chosen at start-up.
enum class BlockPath { Best, Baseline, Avx2, Avx512 };

// Makes evaluateBlock run on `path` from now on, in the whole process.
// Returns false, changing nothing, when the processor lacks it.
bool useBlockPath(BlockPath path);

// The path evaluateBlock runs on now (never Best); callers with vector code
// of their own around it follow the same choice.
BlockPath activeBlockPath();

}  // namespace tavrin
