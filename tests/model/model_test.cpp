#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <random>

#include "design/plans.h"
#include "design/tables.h"
#include "model/estimators.h"
#include "model/evaluate.h"
#include "tavrin/tavrin.h"

namespace {

using Coefs = std::vector<std::vector<float>>;  // B[r][c] of one objective, (n+1) x (n+1)

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

// x[1..n] coded point; nested order, every coefficient widened to double.
double evaluate(const Coefs& b, const double* x) {
  const int n = static_cast<int>(b.size()) - 1;
  auto B = [&](int r, int c) { return static_cast<double>(b[r][c]); };
  double y = B(0, 0) + (B(0, n) + B(n, 0) * x[n]) * x[n];
  for (int i = n - 1; i >= 1; --i) {
    double s = 0;
    for (int k = n; k >= i + 1; --k) s = s + B(i, k - i) * x[k];
    y = y + ((B(i, 0) * x[i] + B(0, i)) + s) * x[i];
  }
  return y;
}

std::wstring varName(int i) { return L"x" + std::to_wstring(i); }
// Declared range of x_i, not symmetric about zero and not dyadic, so coding does real work.
double low(int i) { return 0.3 * i - 1.1; }
double high(int i) { return 0.3 * i + 2.6; }
double coded(int i, double v) { return (2 * v - high(i) - low(i)) / (high(i) - low(i)); }

std::unique_ptr<CTavrin> computedStudy(CTavrin::PlanType type, int n, int m) {
  auto s = std::make_unique<CTavrin>(type);
  unsigned failed = 0;
  for (int i = 1; i <= n; ++i) failed += s->planAddDesignVar(varName(i).c_str(), low(i), high(i)).code;
  for (int j = 1; j <= m; ++j) failed += s->planAddObjective((L"y" + std::to_wstring(j)).c_str()).code;
  EXPECT_EQ(failed + s->planCompute().code, 0u);
  return s;
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

// Every plan: a quadratic y1 comes back, constant y2 stays, unset y3 predicts 0, a refit repeats the bits.
TEST(ModelCompute, RecoversQuadraticsThroughThePublicInterface) {
  std::mt19937 rng(2024);
  std::vector<std::pair<CTavrin::PlanType, int>> plans;
  for (const auto& [n, N] : kBoxBehnken) plans.push_back({CTavrin::BoxBehnkenPlan, n});
  for (int n = 4; n <= 20; ++n) plans.push_back({CTavrin::RechschafnerPlan, n});
  for (const auto& [type, n] : plans) {
    auto s = computedStudy(type, n, 3);
    Coefs q(n + 1, std::vector<float>(n + 1));
    for (const auto& [r, c] : positions(n)) q[r][c] = static_cast<float>(static_cast<int>(rng() % 11) - 5);
    unsigned N = 0, failed = s->planGetExperimentCount(N).code;
    double x[21], v[4], again = 0;
    for (unsigned r = 1; r <= N; ++r) {
      for (int i = 1; i <= n; ++i) {
        failed += s->planGetDesignVarValue(varName(i).c_str(), L"y1", r, x[i]).code;
        x[i] = coded(i, x[i]);
      }
      failed += s->planSetObjectiveValue(L"y1", r, evaluate(q, x)).code;
      failed += s->planSetObjectiveValue(L"y2", r, -3.5).code;
    }
    for (int i = 1; i <= n; ++i) {
      failed += s->modelSetDesignVarValue(varName(i).c_str(), low(i) + 0.17 * i).code;
      x[i] = coded(i, low(i) + 0.17 * i);
    }
    for (double* y1 : {&v[1], &again})
      failed += s->modelCompute().code, failed += s->modelGetObjectiveValue(L"y1", *y1).code;
    failed += s->modelGetObjectiveValue(L"y2", v[2]).code + s->modelGetObjectiveValue(L"y3", v[3]).code;
    ASSERT_EQ(failed, 0u);
    EXPECT_NEAR(v[1], evaluate(q, x), 2e-6 * (n + 1) * (n + 2)) << "type " << type << " n=" << n;
    EXPECT_TRUE(std::fabs(v[2] + 3.5) < 1e-4 && v[3] == 0.0 && again == v[1]) << v[2] << " " << v[3];
  }
}

}  // namespace
