// The slots' models in the order the global stage's kernels read them, and
// the block of points those kernels work on.
#pragma once

#include <cstddef>
#include <vector>

namespace tavrin::optimum {

// Points in a block: one 64-bit mask covers them, and on AVX-512 they make
// eight independent chains of fused multiply-adds, what keeps both units busy.
inline constexpr std::size_t kLanes = 64;

// One coordinate or one model value across the points of a block.
struct alignas(64) LaneColumn {
  double lane[kLanes];
};

// The models' coefficients in the order the kernels read them: per model
// the constant, then per factor i its linear and square terms and the
// products with factors i+1..n-1. A model's value at x is
//   c0 + sum_i x_i * ((lin_i + sq_i * x_i) + sum_{j>i} c_ij * x_j), in that order.
struct PackedModels {
  std::size_t factors = 0;
  std::size_t models = 0;
  std::vector<double> coefficients;
};

// `coef` holds `models` coefficient vectors in the layout of quadratic.h,
// one after the other.
PackedModels packModels(std::size_t factors, std::size_t models, const double* coef);

}  // namespace tavrin::optimum
