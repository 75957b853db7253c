#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>

#include "design/plans.h"
#include "design/tables.h"
#include "model/estimators.h"

namespace {

// Positions (r, c), r + c <= n: B[0][0] constant, B[0][i] linear, B[i][0] square, B[i][d] x_i x_(i+d).
std::vector<std::pair<int, int>> positions(int n) {
  std::vector<std::pair<int, int>> out;
  for (int r = 0; r <= n; ++r)
    for (int c = 0; r + c <= n; ++c) out.push_back({r, c});
  return out;
}

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// Objective 1 uniform in [-1, 1], 2 in [-50, 150], 3 magnitudes 2^-20..2^21 of either sign.
tavrin::Table<float> randomObservations(int N, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto obs = tavrin::allocTable<float>(4, N + 1);
  for (int r = 1; r <= N; ++r) {
    obs[1][r] = static_cast<float>(u(rng));
    obs[2][r] = static_cast<float>(50 + 100 * u(rng));
    const double mantissa = u(rng) + (u(rng) < 0 ? -2 : 2);
    obs[3][r] = static_cast<float>(std::ldexp(mantissa, static_cast<int>(rng() % 41) - 20));
  }
  return obs;
}

const std::pair<int, int> kBoxBehnken[] = {{1, 3},   {2, 9},    {3, 13},   {4, 25},   {5, 41},  {6, 49},
                                          {7, 57}, {9, 121}, {10, 161}, {11, 177}, {12, 193}, {16, 385}};

// Residuals orthogonal to every regressor; for n = 2 only to those of B01, B02, B11, and B00 = y_9.
TEST(BoxBehnkenFit, LeastSquaresExceptTheSquaresOfTwoVariables) {
  for (const auto& [n, N] : kBoxBehnken) {
    const auto obs = randomObservations(N, 500 + n);
    const auto plan = tavrin::buildBoxBehnkenPlan(n);
    const auto coef = tavrin::fitBoxBehnken(n, N, 3, plan, obs);
    const auto pos = positions(n);
    auto regressor = [&](int run, int r, int c) {
      return 1.0 * (r == 0 ? (c == 0 ? 1 : plan[run][c]) : plan[run][r] * plan[run][r + c]);
    };
    for (int j = 1; j <= 3; ++j) {
      std::string orthogonal;
      for (const auto& [pr, pc] : pos) {
        double dot = 0, scale = 0;
        for (int run = 1; run <= N; ++run) {
          double resid = obs[j][run];
          for (const auto& [r, c] : pos) resid -= coef[j][r][c] * regressor(run, r, c);
          dot += regressor(run, pr, pc) * resid;
          scale = std::max(scale, std::fabs(1.0 * obs[j][run]));
        }
        orthogonal += std::fabs(dot) <= 4e-6 * N * scale ? '1' : '0';
      }
      const bool centre = n != 2 || (orthogonal != "111111" && bits(coef[j][0][0]) == bits(obs[j][9]));
      if (n == 2) orthogonal = {orthogonal[1], orthogonal[2], orthogonal[4]};
      EXPECT_TRUE(centre && orthogonal == std::string(orthogonal.size(), '1')) << n << " " << orthogonal;
    }
  }
}

}  // namespace
