// Closed-form estimators of the full quadratic model of every objective.
// Both return a new coefficient table of m + 1 layers of width n + 1 in the
// layout B[0,0] constant, B[0,i] linear, B[i,0] square, B[i,c] product
// x_i * x_(i+c); layer 0 stays zero.
//
// Results are bit-exact: every value becomes single precision exactly where
// toSingle() stands, and sums run in the order written.
#pragma once

#include <cstdint>

#include "tavrin/detail/workspace.h"

namespace tavrin {

// Rounding of an intermediate or stored value to single precision.
inline float toSingle(double value) { return static_cast<float>(value); }

// Saturated Rechtschaffner plans, 4 <= n <= 20. Reads obsTable only.
TriangularTable<float> fitRechtschaffner(int n, int runCount, int m, const Table<std::int32_t>& planMatrix,
                                         const Table<float>& obsTable);

// Box-Behnken plans, n in 1..7, 9..12, 16.
TriangularTable<float> fitBoxBehnken(int n, int runCount, int m, const Table<std::int32_t>& planMatrix,
                                     const Table<float>& obsTable);

}  // namespace tavrin
