#include <gtest/gtest.h>

#include <cmath>

#include "design/plans.h"
#include "design/tables.h"
#include "model/estimators.h"
#include "model/random_obs.h"
#include "model/reference_model.h"

namespace {

using reference::bits;
using tavrin::Table;

int runsFor(int n) { return (n + 1) * (n + 2) / 2; }

tavrin::TriangularTable<float> fit(int n, int m, const Table<float>& obs) {
  return tavrin::fitRechtschaffner(n, runsFor(n), m, tavrin::buildRechtschaffnerPlan(n), obs);
}

// Counts positions of layer j whose bits differ from the reference.
int mismatches(const tavrin::TriangularTable<float>& coef, int j, const reference::Coefs& ref) {
  int bad = 0;
  for (const auto& [r, c] : reference::positions(ref.n)) {
    if (bits(coef[static_cast<std::size_t>(j)][r][c]) != bits(ref.at(r, c))) {
      if (bad++ == 0) ADD_FAILURE() << "n=" << ref.n << " objective " << j << " B[" << r << "," << c << "]";
    }
  }
  return bad;
}

TEST(RechtschaffnerFit, BitExactAgainstCoefficientByCoefficientReading) {
  for (int n = 4; n <= 20; ++n) {
    for (unsigned seed : {1u, 2u}) {
      const int m = 4;
      const auto obs = reference::randomObservations(m, runsFor(n), seed * 100 + static_cast<unsigned>(n));
      const auto coef = fit(n, m, obs);
      ASSERT_EQ(coef.layerCount(), static_cast<std::size_t>(m + 1));
      ASSERT_EQ(coef.width(), static_cast<std::size_t>(n + 1));
      for (int j = 1; j <= m; ++j) {
        EXPECT_EQ(mismatches(coef, j, reference::rechtschaffner(n, obs[static_cast<std::size_t>(j)])), 0);
      }
      for (const auto& [r, c] : reference::positions(n)) EXPECT_EQ(bits(coef[0][r][c]), 0u) << "layer 0 stays zero";
    }
  }
}

TEST(RechtschaffnerFit, ConstantObservationsGiveConstantModel) {
  for (int n = 4; n <= 20; ++n) {
    const int N = runsFor(n);
    auto obs = tavrin::allocTable<float>(2, static_cast<std::size_t>(N) + 1);
    for (int r = 1; r <= N; ++r) obs[1][r] = 1.0f;
    const auto coef = fit(n, 1, obs);
    for (const auto& [r, c] : reference::positions(n)) {
      EXPECT_NEAR(coef[1][r][c], (r == 0 && c == 0) ? 1.0 : 0.0, 1e-5) << "n=" << n << " B[" << r << "," << c << "]";
    }
  }
}

TEST(RechtschaffnerFit, ZeroObjectiveGetsZeroLayerAndLeavesOthersAlone) {
  const int n = 7, N = runsFor(n);
  auto obs = reference::randomObservations(3, N, 77);
  for (int r = 1; r <= N; ++r) obs[2][r] = 0.0f;
  const auto coef = fit(n, 3, obs);
  for (int j : {1, 3}) {
    auto single = tavrin::allocTable<float>(2, static_cast<std::size_t>(N) + 1);
    for (int r = 1; r <= N; ++r) single[1][r] = obs[static_cast<std::size_t>(j)][r];
    const auto alone = fit(n, 1, single);
    for (const auto& [r, c] : reference::positions(n)) {
      EXPECT_EQ(bits(coef[static_cast<std::size_t>(j)][r][c]), bits(alone[1][r][c]));
      EXPECT_EQ(bits(coef[2][r][c]), 0u);
    }
  }
}

// For n = 5 the weights K3, K7 and K8 are zero: run 1 and the runs 1 + j'
// (j' != i) never move the square term of i, and no pair run moves the
// constant term.
TEST(RechtschaffnerFit, FiveVariablesZeroWeightsIgnoreTheirRuns) {
  const int n = 5, N = runsFor(n), i = 3;
  auto obs = reference::randomObservations(1, N, 5);
  const auto base = fit(n, 1, obs);
  auto pairsOnly = reference::randomObservations(1, N, 5);
  for (int p = 0; p < n * (n - 1) / 2; ++p) pairsOnly[1][n + 2 + p] += 11.0f;
  EXPECT_EQ(bits(fit(n, 1, pairsOnly)[1][0][0]), bits(base[1][0][0]));
  auto squareOnly = reference::randomObservations(1, N, 5);
  squareOnly[1][1] += 17.0f;
  for (int j = 1; j <= n; ++j)
    if (j != i) squareOnly[1][1 + j] -= 3.0f;
  EXPECT_EQ(bits(fit(n, 1, squareOnly)[1][i][0]), bits(base[1][i][0]));
}

}  // namespace
