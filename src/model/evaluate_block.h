// Evaluation of every model at a block of points at once. Each point (lane)
// goes through exactly the operations evaluateModels performs for it, in
// the same order, so every prediction has the same bits; only independent
// lanes run side by side in vector registers.
#pragma once

#include <cstddef>
#include <vector>

#include "tavrin/detail/workspace.h"

namespace tavrin {

inline constexpr int kBlockLanes = 16;

// Values of one variable or objective across the points of a block.
struct alignas(64) BlockColumn {
  double lane[kBlockLanes];
};

// The fitted models, widened to double once and laid out in the order
// evaluateQuadratic consumes them.
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

// The instruction-set variant of evaluateBlock: the best the processor
// offers (AVX2 where present), or the baseline that every x86-64 has. Both
// give the same bits; forcing the baseline lets a test prove that on an AVX2
// machine. The choice holds for the whole process.
enum class BlockVariant { Best, Baseline };
void setBlockVariant(BlockVariant variant);
bool blockUsesBaseline();

// Codes natural[1..n] of every lane and evaluates every model there:
// coded[1..n] and values[1..m] receive, lane by lane, what pointCoded and
// objValue would hold after evaluateModels at that point.
void evaluateBlock(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded, BlockColumn* values);

}  // namespace tavrin
