#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "design/plans.h"
#include "design/tables.h"
#include "model/estimators.h"
#include "model/random_obs.h"
#include "model/reference_model.h"

namespace {

using reference::bits;
using tavrin::Table;

// Supported design-variable counts and their run counts.
const std::vector<std::pair<int, int>> kPlans = {{1, 3},    {2, 9},    {3, 13},   {4, 25},   {5, 41},  {6, 49},
                                                 {7, 57},   {9, 121},  {10, 161}, {11, 177}, {12, 193}, {16, 385}};

struct Fitted {
  Table<std::int32_t> plan;
  tavrin::TriangularTable<float> coef;
};

Fitted fit(int n, int N, int m, const Table<float>& obs) {
  Fitted f{tavrin::buildBoxBehnkenPlan(n), {}};
  f.coef = tavrin::fitBoxBehnken(n, N, m, f.plan, obs);
  return f;
}

// Value of the regressor of coefficient position (r, c) in run `run`.
double regressor(const Table<std::int32_t>& plan, int run, int r, int c) {
  auto x = [&](int i) { return static_cast<double>(plan[static_cast<std::size_t>(run)][i]); };
  if (r == 0) return c == 0 ? 1.0 : x(c);
  return c == 0 ? x(r) * x(r) : x(r) * x(r + c);
}

// Ordinary least squares of the full quadratic by the normal equations,
// solved by Gaussian elimination with partial pivoting in double.
std::vector<double> leastSquares(int n, int N, const Table<std::int32_t>& plan, const float* y) {
  const auto pos = reference::positions(n);
  const std::size_t p = pos.size();
  std::vector<std::vector<double>> a(p, std::vector<double>(p + 1, 0.0));
  for (int run = 1; run <= N; ++run) {
    std::vector<double> row(p);
    for (std::size_t k = 0; k < p; ++k) row[k] = regressor(plan, run, pos[k].first, pos[k].second);
    for (std::size_t u = 0; u < p; ++u) {
      for (std::size_t v = 0; v < p; ++v) a[u][v] += row[u] * row[v];
      a[u][p] += row[u] * y[run];
    }
  }
  for (std::size_t col = 0; col < p; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < p; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    std::swap(a[col], a[pivot]);
    for (std::size_t r = 0; r < p; ++r) {
      if (r == col) continue;
      const double factor = a[r][col] / a[col][col];
      for (std::size_t c = col; c <= p; ++c) a[r][c] -= factor * a[col][c];
    }
  }
  std::vector<double> beta(p);
  for (std::size_t k = 0; k < p; ++k) beta[k] = a[k][p] / a[k][k];
  return beta;
}

double maxAbs(const float* y, int N) {
  double m = 0;
  for (int r = 1; r <= N; ++r) m = std::max(m, std::fabs(static_cast<double>(y[r])));
  return m;
}

TEST(BoxBehnkenFit, BitExactAgainstLiteralSums) {
  for (const auto& [n, N] : kPlans) {
    for (unsigned seed : {3u, 4u}) {
      const int m = 4;
      const auto obs = reference::randomObservations(m, N, seed * 100 + static_cast<unsigned>(n));
      const Fitted f = fit(n, N, m, obs);
      ASSERT_EQ(f.coef.layerCount(), static_cast<std::size_t>(m + 1));
      ASSERT_EQ(f.coef.width(), static_cast<std::size_t>(n + 1));
      auto level = [&](int r, int i) { return f.plan[static_cast<std::size_t>(r)][i]; };
      for (int j = 1; j <= m; ++j) {
        const auto ref = reference::boxBehnken(n, N, level, obs[static_cast<std::size_t>(j)]);
        int bad = 0;
        for (const auto& [r, c] : reference::positions(n)) {
          if (bits(f.coef[static_cast<std::size_t>(j)][r][c]) != bits(ref.at(r, c)) && bad++ == 0) {
            ADD_FAILURE() << "n=" << n << " objective " << j << " B[" << r << "," << c << "] "
                          << f.coef[static_cast<std::size_t>(j)][r][c] << " vs " << ref.at(r, c);
          }
        }
        EXPECT_EQ(bad, 0);
      }
    }
  }
}

// n = 1 and n >= 3: the closed form is the least-squares fit. n = 2: only
// the linear and interaction terms are; the model goes through y_9.
TEST(BoxBehnkenFit, AgreesWithLeastSquares) {
  for (const auto& [n, N] : kPlans) {
    const int m = 4;
    const auto obs = reference::randomObservations(m, N, 500 + static_cast<unsigned>(n));
    const Fitted f = fit(n, N, m, obs);
    const auto pos = reference::positions(n);
    for (int j = 1; j <= m; ++j) {
      const float* y = obs[static_cast<std::size_t>(j)];
      const auto beta = leastSquares(n, N, f.plan, y);
      const double tol = 2e-6 * maxAbs(y, N);
      for (std::size_t k = 0; k < pos.size(); ++k) {
        const auto [r, c] = pos[k];
        const bool lsTerm = n != 2 || (r == 0 && c != 0) || (r == 1 && c == 1);
        if (lsTerm) {
          EXPECT_NEAR(f.coef[static_cast<std::size_t>(j)][r][c], beta[k], tol)
              << "n=" << n << " objective " << j << " B[" << r << "," << c << "]";
        }
      }
      if (n == 2) {
        EXPECT_EQ(bits(f.coef[static_cast<std::size_t>(j)][0][0]), bits(y[9]));
        EXPECT_GT(std::fabs(f.coef[static_cast<std::size_t>(j)][0][0] - beta[0]), 10 * tol)
            << "the constant term is not the least-squares one";
      }
    }
  }
}

TEST(BoxBehnkenFit, ConstantTermIsTheCentreRunAndConstantDataGivesConstantModel) {
  for (const auto& [n, N] : kPlans) {
    auto obs = tavrin::allocTable<float>(3, static_cast<std::size_t>(N) + 1);
    for (int r = 1; r <= N; ++r) {
      obs[1][r] = 2.75f;
      obs[2][r] = 0.0f;
    }
    const Fitted f = fit(n, N, 2, obs);
    for (const auto& [r, c] : reference::positions(n)) {
      EXPECT_NEAR(f.coef[1][r][c], (r == 0 && c == 0) ? 2.75 : 0.0, 1e-6) << "n=" << n << " B[" << r << "," << c << "]";
      EXPECT_EQ(f.coef[2][r][c], 0.0f) << "n=" << n;
    }
    EXPECT_EQ(f.coef[1][0][0], 2.75f);
    for (int i = 1; i <= n; ++i) EXPECT_EQ(f.plan[static_cast<std::size_t>(N)][i], 0) << "last run is the centre";
  }
}

// Two observations of 2^40 whose contributions to L_1 (objective 1) or to
// S_12 (objective 2) cancel, among small ones in [-1, 1]: while the partial
// sum holds 2^40 the small terms round to multiples of 2^-12, so the result
// depends on which runs are added in that window. The library must match
// the runs taken in order 1..N for every seed, and over the seeds the data
// must tell that order apart from summing the +1 and -1 runs separately.
TEST(BoxBehnkenFit, SumsTakeTheRunsInPlanOrder) {
  for (const auto& [n, N] : kPlans) {
    if (n < 3) continue;
    const auto plan = tavrin::buildBoxBehnkenPlan(n);
    auto factor = [&](int j, int r) {
      const auto* x = plan[static_cast<std::size_t>(r)];
      return j == 1 ? x[1] : x[1] * x[2];
    };
    const auto w = reference::boxBehnkenWeights(n);
    int distinguished[3] = {0, 0, 0};
    for (unsigned seed = 0; seed < 8; ++seed) {
      const auto a = reference::randomObservations(1, N, 900 + 31 * seed + static_cast<unsigned>(n));
      const auto b = reference::randomObservations(1, N, 950 + 31 * seed + static_cast<unsigned>(n));
      auto obs = tavrin::allocTable<float>(3, static_cast<std::size_t>(N) + 1);
      for (int r = 1; r <= N; ++r) {
        obs[1][r] = a[1][r];
        obs[2][r] = b[1][r];
      }
      for (int j = 1; j <= 2; ++j) {
        // The first +1 run from N/3 on (from run 1 if there is none), then
        // the last -1 run after it.
        int bigPlus = 0, bigMinus = 0;
        for (int start : {N / 3, 1}) {
          for (int r = start; r <= N; ++r) {
            if (factor(j, r) == 1 && bigPlus == 0) bigPlus = r;
            if (factor(j, r) == -1 && bigPlus != 0) bigMinus = r;
          }
          if (bigMinus != 0) break;
          bigPlus = 0;
        }
        ASSERT_TRUE(bigPlus != 0 && bigMinus != 0) << "n=" << n;
        obs[static_cast<std::size_t>(j)][bigPlus] = 0x1p40f;
        obs[static_cast<std::size_t>(j)][bigMinus] = 0x1p40f;
      }
      const Fitted f = fit(n, N, 2, obs);
      auto level = [&](int r, int i) { return f.plan[static_cast<std::size_t>(r)][i]; };
      for (int j = 1; j <= 2; ++j) {
        const auto ref = reference::boxBehnken(n, N, level, obs[static_cast<std::size_t>(j)]);
        const int r = j == 1 ? 0 : 1, c = 1;
        const float got = f.coef[static_cast<std::size_t>(j)][r][c];
        EXPECT_EQ(bits(got), bits(ref.at(r, c))) << "n=" << n;
        double plus = 0, minus = 0;
        for (int run = 1; run <= N; ++run) {
          const double y = obs[static_cast<std::size_t>(j)][run];
          if (factor(j, run) == 1) plus += y;
          if (factor(j, run) == -1) minus += y;
        }
        const double split = plus - minus;
        const float fromSplit = j == 1 ? static_cast<float>(static_cast<double>(static_cast<float>(split)) * w.A)
                                       : static_cast<float>((reference::pairUsesG(n, 1, 2) ? w.G : w.H) * split);
        distinguished[j] += bits(got) != bits(fromSplit);
      }
    }
    EXPECT_GT(distinguished[1], 0) << "n=" << n;
    EXPECT_GT(distinguished[2], 0) << "n=" << n;
  }
}

}  // namespace
