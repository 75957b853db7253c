#include <gtest/gtest.h>

#include <random>

#include "design/tables.h"
#include "model/evaluate.h"
#include "model/reference_model.h"

namespace {

using reference::bits;

// A workspace with n variables, m objectives, random coefficients, random
// per-objective coding ranges and a random natural point.
struct Models {
  tavrin::NumericWorkspace ws;
  std::vector<reference::Coefs> models;
};

void randomise(Models& s, int n, int m, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  s.ws.varCount = n;
  s.ws.objCount = m;
  s.ws.coefTable = tavrin::allocTriangularTable<float>(static_cast<std::size_t>(m) + 1, static_cast<std::size_t>(n) + 1);
  s.models.assign(static_cast<std::size_t>(m) + 1, reference::Coefs(n));
  for (int j = 1; j <= m; ++j) {
    for (const auto& [r, c] : reference::positions(n)) {
      const float v = static_cast<float>(100 * u(rng));
      s.ws.coefTable[static_cast<std::size_t>(j)][r][c] = v;
      s.models[static_cast<std::size_t>(j)].at(r, c) = v;
    }
    for (int i = 1; i <= n; ++i) {
      s.ws.levelLow[j][i] = 10 * u(rng) - 5;
      s.ws.levelHigh[j][i] = s.ws.levelLow[j][i] + 0.5 + 7 * (u(rng) + 1);
    }
  }
  for (int i = 1; i <= n; ++i) s.ws.pointNatural[i] = 12 * u(rng);
}

TEST(EvaluateQuadratic, BitExactNestedOrderForEveryN) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  for (int n = 1; n <= 20; ++n) {
    for (unsigned trial = 0; trial < 20; ++trial) {
      Models s;
      randomise(s, n, 2, 1000 * static_cast<unsigned>(n) + trial);
      for (int i = 1; i <= n; ++i) s.ws.pointCoded[i] = u(rng);
      tavrin::evaluateQuadratic(2, s.ws);
      EXPECT_EQ(bits(s.ws.objValue[2]), bits(reference::evaluate(s.models[2], s.ws.pointCoded))) << "n=" << n;
      EXPECT_EQ(s.ws.objValue[1], 0.0) << "only objective 2 is written";
    }
  }
}

// The nested order is still the quadratic form of the coefficient layout.
TEST(EvaluateQuadratic, ComputesTheQuadraticForm) {
  Models s;
  randomise(s, 4, 1, 3);
  const double x[5] = {0, 0.5, -1, 2, 0.25};
  for (int i = 1; i <= 4; ++i) s.ws.pointCoded[i] = x[i];
  const auto& b = s.models[1];
  double expected = b.at(0, 0);
  for (int i = 1; i <= 4; ++i) expected += b.at(0, i) * x[i] + b.at(i, 0) * x[i] * x[i];
  for (int i = 1; i < 4; ++i)
    for (int k = i + 1; k <= 4; ++k) expected += b.at(i, k - i) * x[i] * x[k];
  tavrin::evaluateQuadratic(1, s.ws);
  EXPECT_NEAR(s.ws.objValue[1], expected, 1e-9 * 1000);
}

// Every objective codes the point with its own ranges,
// (2 v - high - low) / (high - low), then evaluates its model.
TEST(EvaluateModels, CodesPerObjectiveAndEvaluatesEach) {
  for (int n : {1, 2, 7, 20}) {
    Models s;
    randomise(s, n, 3, 77 + static_cast<unsigned>(n));
    int failure = 9;
    tavrin::evaluateModels(s.ws, failure);
    EXPECT_EQ(failure, 0);
    for (int j = 1; j <= 3; ++j) {
      double x[21] = {};
      for (int i = 1; i <= n; ++i) {
        const double lo = s.ws.levelLow[j][i], hi = s.ws.levelHigh[j][i];
        x[i] = (2 * s.ws.pointNatural[i] - hi - lo) / (hi - lo);
        if (j == 3) {
          EXPECT_EQ(bits(s.ws.pointCoded[i]), bits(x[i])) << "pointCoded keeps the last objective's coding";
        }
      }
      EXPECT_EQ(bits(s.ws.objValue[j]), bits(reference::evaluate(s.models[static_cast<std::size_t>(j)], x)))
          << "n=" << n << " objective " << j;
    }
  }
}

}  // namespace
