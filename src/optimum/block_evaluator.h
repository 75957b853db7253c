// Evaluation of several quadratic models (double coefficients, coded
// units) at a block of points at once. Every point (lane) goes through the
// same operations in the same order whatever the instruction set, so a
// prediction does not depend on the block it was evaluated in.
#pragma once

#include <cstddef>
#include <vector>

namespace tavrin::optimum {

inline constexpr std::size_t kLanes = 32;

// One coordinate or one model value across the points of a block.
struct alignas(64) LaneColumn {
  double lane[kLanes];
};

// The models' coefficients in the order evaluateBlock reads them: per
// model the constant, then per factor i its linear and square terms and
// the products with factors i+1..n-1.
struct PackedModels {
  std::size_t factors = 0;
  std::size_t models = 0;
  std::vector<double> coefficients;
};

// `coef` holds `models` coefficient vectors in the layout of quadratic.h,
// one after the other.
PackedModels packModels(std::size_t factors, std::size_t models, const double* coef);

// values[m].lane[l] = model m at the coded point (x[0].lane[l], ..., x[n-1].lane[l]):
//   c0 + sum_i x_i * ((lin_i + sq_i * x_i) + sum_{j>i} c_ij * x_j), summed in that order.
void evaluateBlock(const PackedModels& models, const LaneColumn* x, LaneColumn* values);

}  // namespace tavrin::optimum
