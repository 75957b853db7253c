// Random observation tables for estimator tests.
#pragma once

#include <cmath>
#include <random>

#include "design/tables.h"
#include "tavrin/detail/workspace.h"

namespace reference {

// Objective j of the table gets a different kind of data: 1 uniform in
// [-1, 1], 2 a wide spread of magnitudes (2^-20 .. 2^20, either sign),
// 3 integers in [-1000, 1000], further objectives uniform in [-50, 150].
inline tavrin::Table<float> randomObservations(int m, int N, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-20, 20);
  std::uniform_int_distribution<int> integer(-1000, 1000);
  auto obs = tavrin::allocTable<float>(static_cast<std::size_t>(m) + 1, static_cast<std::size_t>(N) + 1);
  for (int j = 1; j <= m; ++j) {
    for (int r = 1; r <= N; ++r) {
      double v = 0;
      switch (j) {
        case 1: v = unit(rng); break;
        case 2: v = std::ldexp(1.0 + std::fabs(unit(rng)), exponent(rng)) * (unit(rng) < 0 ? -1 : 1); break;
        case 3: v = integer(rng); break;
        default: v = 50 + 100 * unit(rng); break;
      }
      obs[static_cast<std::size_t>(j)][r] = static_cast<float>(v);
    }
  }
  return obs;
}

}  // namespace reference
