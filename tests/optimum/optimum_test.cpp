// The search: known optima of constructed quadratics, the optimality (KKT)
// conditions of a polished optimum and the overall desirability.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "optimum/fixtures.h"
#include "tavrin/optimum.h"

namespace tavrin {
namespace {

using testing::exactFit;
using testing::threeFactors;

Goal maximize(const std::string& response, double low, double high) {
  return testing::goal(response, Goal::Maximize, low, high);
}

// Y1 = 5 - a^2 - 2 b^2 - 0.5 c^2 about the coded point (0.3, -0.2, 0.1).
double peak(const double* x) {
  const double a = x[0] - 0.3, b = x[1] + 0.2, c = x[2] - 0.1;
  return 5.0 - a * a - 2.0 * b * b - 0.5 * c * c;
}

// The coded optimum of maximising Y1 under the constraints and region, the
// active constraints it names and, where given, its natural settings exactly.
struct KnownOptimum {
  const char* name;
  std::vector<Factor> factors;
  testing::CodedFunction y1;
  testing::CodedFunction y2;
  std::vector<Constraint> constraints;
  std::map<std::string, std::pair<double, double>, std::less<>> region;
  std::vector<double> coded;
  std::vector<std::string> active;
  double tolerance = 1e-9;
  std::vector<double> natural = {};
};

TEST(Optimum, FindsKnownOptimaOfConstructedQuadratics) {
  const auto first = [](const double* x) { return x[0]; };
  // Y1 = 10 + sum a_i x_i - x_i^2 under x_1 + ... + x_5 <= 0.7: with a
  // multiplier mu, x_i = (a_i - mu) / 2 clipped to [-1, 1]; mu = 0.4 gives
  // x = (1, -1, 0, 0.25, 0.45).
  const auto fiveFactors = [](const double* x) {
    constexpr double a[] = {3.1, -2.7, 0.4, 0.9, 1.3};
    double y = 10.0;
    for (int i = 0; i < 5; ++i) y += a[i] * x[i] - x[i] * x[i];
    return y;
  };
  std::vector<Factor> five = threeFactors();
  five.insert(five.end(), {{"D", 0.3, 0.9, ""}, {"E", -0.7, -0.1, ""}});
  const KnownOptimum cases[] = {
      {"interior maximum", threeFactors(),
       [](const double* x) { return peak(x) + 0.3 * (x[0] - 0.3) * (x[1] + 0.2); }, first, {}, {},
       {0.3, -0.2, 0.1}, {}},
      {"maximum on a bound", threeFactors(),
       [](const double* x) {
         const double a = x[0] - 1.4, b = x[1] - 0.25, c = x[2] + 0.35;
         return 2.0 - a * a - b * b - c * c;
       },
       first, {}, {}, {1.0, 0.25, -0.35}, {"A = 0.7 (upper bound)"}},
      // Largest x1 + x2 - x3^2 on the disc x1^2 + x2^2 <= 0.5: (0.5, 0.5, 0).
      {"constrained optimum on a curved constraint", threeFactors(),
       [](const double* x) { return x[0] + x[1] - x[2] * x[2]; },
       [](const double* x) { return x[0] * x[0] + x[1] * x[1]; }, {{"Y2", -INFINITY, 0.5}}, {}, {0.5, 0.5, 0.0},
       {"Y2 <= 0.5"}},
      // A limit on Y2 = A within 1e-3 of its spread of the peak either
      // leaves the peak alone or moves A onto it.
      {"cap just above the peak", threeFactors(), peak, first, {{"Y2", -INFINITY, 0.3005}}, {}, {0.3, -0.2, 0.1}, {}},
      {"cap just below the peak", threeFactors(), peak, first, {{"Y2", -INFINITY, 0.2995}}, {}, {0.2995, -0.2, 0.1},
       {"Y2 <= 0.2995"}},
      {"floor just below the peak", threeFactors(), peak, first, {{"Y2", 0.2995, INFINITY}}, {}, {0.3, -0.2, 0.1}, {}},
      {"floor just above the peak", threeFactors(), peak, first, {{"Y2", 0.3005, INFINITY}}, {}, {0.3005, -0.2, 0.1},
       {"Y2 >= 0.3005"}},
      // low = high is an equality, held to SLSQP's precision.
      {"equality", threeFactors(), peak, first, {{"Y2", 0.2, 0.2}}, {}, {0.2, -0.2, 0.1},
       {"Y2 <= 0.2", "Y2 >= 0.2"}, 1e-7},
      {"bounds and a cap of five factors", five, fiveFactors,
       [](const double* x) { return 100.3 + x[0] + x[1] + x[2] + x[3] + x[4]; }, {{"Y2", -INFINITY, 101.0}}, {},
       {1.0, -1.0, 0.0, 0.25, 0.45}, {"Y2 <= 101", "A = 0.7 (upper bound)", "B = 1e+07 (lower bound)"}},
      // A fixed factor and the region's ends are kept exactly (2.6 does not
      // survive the round trip through coded units).
      {"fixed factor and a region", threeFactors(), [](const double* x) { return x[0] + x[1] + x[2]; }, first, {},
       {{"B", {1e7 + 1.1, 1e7 + 1.1}}, {"C", {-0.3, 2.6}}}, {1.0, -1.0 / 3.0, 3.6 / 6.6},
       {"A = 0.7 (upper bound)", "C = 2.6 (upper bound)"}, 1e-9, {0.7, 1e7 + 1.1, 2.6}},
  };
  for (const KnownOptimum& c : cases) {
    SCOPED_TRACE(c.name);
    const Fit fit = exactFit(DesignKind::BoxBehnken, c.factors, {c.y1, c.y2});
    Goals goals;
    goals.goals = {maximize("Y1", -10.0, 30.0)};
    goals.constraints = c.constraints;
    goals.region = c.region;
    const Optimum best = optimize(fit, goals);
    ASSERT_FALSE(best.candidates.empty());
    const Candidate& top = best.candidates.front();
    for (std::size_t i = 0; i < c.coded.size(); ++i) {
      EXPECT_NEAR(top.coded[i], c.coded[i], c.tolerance) << "factor " << i;
      const Factor& f = fit.factors[i];
      EXPECT_NEAR(top.natural[i], toNatural(f, c.coded[i]), c.tolerance * (f.high - f.low)) << "factor " << i;
    }
    if (!c.natural.empty()) {
      EXPECT_EQ(top.natural, c.natural);
    }
    EXPECT_EQ(top.activeConstraints, c.active);
  }
}

// Gradient in natural units by central differences of f.
Eigen::VectorXd gradient(const Fit& fit, const std::vector<double>& natural,
                         const std::function<double(const Matrix&)>& f) {
  Eigen::VectorXd g(natural.size());
  for (std::size_t i = 0; i < natural.size(); ++i) {
    const double h = 1e-5 * (fit.factors[i].high - fit.factors[i].low);
    Matrix up(1, natural.size()), down(1, natural.size());
    std::copy(natural.begin(), natural.end(), up.row(0));
    std::copy(natural.begin(), natural.end(), down.row(0));
    up(0, i) += h;
    down(0, i) -= h;
    g[static_cast<Eigen::Index>(i)] = (f(up) - f(down)) / (2 * h);
  }
  return g;
}

TEST(Optimum, PolishedOptimumMeetsTheKktConditions) {
  // Y1 to maximise, Y2 to minimise, Y3 capped: the optimum sits on the Y3
  // cap and on the upper bound of A, with both goals in their smooth part.
  const Fit fit = exactFit(
      DesignKind::BoxBehnken, threeFactors(),
      {[](const double* x) { return 10.0 + 2.0 * x[0] + x[1] - 0.8 * x[1] * x[1] - 0.5 * x[2] * x[2] + 0.4 * x[0] * x[2]; },
       [](const double* x) { return 3.0 + x[1] - 0.7 * x[2] + 0.3 * x[0] * x[1]; },
       [](const double* x) { return 1.0 + 0.6 * x[1] * x[1] + 0.9 * x[2] + 0.2 * x[0] * x[2]; }});
  Goals goals;
  goals.goals = {maximize("Y1", 7.1, 14.3), {.response = "Y2", .kind = Goal::Minimize, .low = 0.7, .high = 4.6,
                                              .shape = 1.5, .importance = 2.0}};
  goals.constraints = {{"Y3", -INFINITY, 1.3}};
  const Candidate top = optimize(fit, goals).candidates.at(0);
  ASSERT_EQ(top.activeConstraints, (std::vector<std::string>{"Y3 <= 1.3", "A = 0.7 (upper bound)"}));

  // grad log D (from the public predict() and desirability()) = sum of
  // multipliers >= 0 times the gradients of the active inequalities.
  const auto logD = [&](const Matrix& at) {
    const Matrix y = predict(fit, at);
    double sum = 0.0, weights = 0.0;
    for (const Goal& g : goals.goals) {
      sum += g.importance * std::log(desirability(g, y(0, fit.responseIndex(g.response))));
      weights += g.importance;
    }
    return sum / weights;
  };
  const Eigen::VectorXd objective = gradient(fit, top.natural, logD);
  Eigen::MatrixXd active(3, 2);
  active.col(0) = gradient(fit, top.natural, [&](const Matrix& at) { return predict(fit, at)(0, 2); });
  active.col(1) = Eigen::Vector3d(1.0, 0.0, 0.0);
  const Eigen::VectorXd multipliers = active.colPivHouseholderQr().solve(objective);
  EXPECT_LT((active * multipliers - objective).norm(), 1e-6 * objective.norm());
  EXPECT_GT(multipliers[0], 0.0);
  EXPECT_GT(multipliers[1], 0.0);
  EXPECT_NEAR(top.predictions[2].value, 1.3, 1e-9);
}

TEST(Optimum, OverallIsTheWeightedGeometricMeanOfTheDesirabilities) {
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return 1.0 + x[0] - 0.3 * x[1] * x[1]; },
                            [](const double* x) { return 2.0 - x[0] + x[2] + 0.2 * x[0] * x[1]; }});
  Goals goals;
  goals.goals = {maximize("Y1", 0.1, 2.3), {.response = "Y2", .kind = Goal::Minimize, .low = 0.3, .high = 3.7,
                                            .importance = 3.0}};
  const Optimum best = optimize(fit, goals, {.best = 3, .analysis = {}});
  for (const Candidate& c : best.candidates) {
    EXPECT_NEAR(c.overall, std::pow(c.desirability[0] * std::pow(c.desirability[1], 3.0), 1.0 / 4.0), 1e-14);
    EXPECT_NEAR(c.desirability[0], (c.predictions[0].value - 0.1) / 2.2, 1e-14);
    EXPECT_GE(c.predictions[0].predictionHigh, c.predictions[0].confidenceHigh);
  }
  for (std::size_t k = 1; k < best.candidates.size(); ++k)
    EXPECT_LE(best.candidates[k].overall, best.candidates[k - 1].overall);
}

TEST(Optimum, FindsTheBestDistinctCornersOfAConvexSurface) {
  // Convex in every factor: each of the 16 corners is a local maximum.
  constexpr double a[] = {1.0, 1.3, 0.7, 1.1};
  constexpr double c[] = {0.3, -0.2, 0.1, -0.4};
  const auto y = [&](const double* x) {
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) sum += a[i] * (x[i] - c[i]) * (x[i] - c[i]);
    return sum;
  };
  std::vector<Factor> factors = threeFactors();
  factors.push_back({"D", 0.3, 0.9, ""});
  const Fit fit = exactFit(DesignKind::BoxBehnken, factors, {y});
  std::vector<double> heights;
  for (int corner = 0; corner < 16; ++corner) {
    double x[4];
    for (int i = 0; i < 4; ++i) x[i] = (corner >> i) & 1 ? 1.0 : -1.0;
    heights.push_back(y(x));
  }
  std::sort(heights.begin(), heights.end(), std::greater<>());
  Goals goals;
  goals.goals = {maximize("Y1", 0.0, 20.0)};
  const Optimum best = optimize(fit, goals, {.best = 5, .analysis = {}});
  ASSERT_EQ(best.candidates.size(), 5u);
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_NEAR(best.candidates[k].predictions[0].value, heights[k], 1e-9 * heights[0]) << "corner " << k;
    for (const double x : best.candidates[k].coded) EXPECT_EQ(std::abs(x), 1.0);
  }
}

TEST(Optimum, WeightedSumMaximisesTheSumOfWeightedPredictions) {
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return 1.0 - x[0] * x[0] + 0.5 * x[1]; },
                            [](const double* x) { return 0.3 * x[0] - x[1] * x[1] - x[2] * x[2]; }});
  Goals goals;
  goals.goals = {{.response = "Y1", .kind = Goal::WeightedSum, .weight = 2.0},
                 {.response = "Y2", .kind = Goal::WeightedSum}};
  const Candidate top = optimize(fit, goals).candidates.at(0);
  // 2 (1 - x1^2 + x2/2) + 0.3 x1 - x2^2 - x3^2: x1 = 0.075, x2 = 0.5, x3 = 0.
  const double expected[] = {0.075, 0.5, 0.0};
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(top.coded[i], expected[i], 1e-9);
  EXPECT_NEAR(top.overall, 2.0 * top.predictions[0].value + top.predictions[1].value, 1e-12);
  EXPECT_TRUE(std::isnan(top.desirability[0]));
}

}  // namespace
}  // namespace tavrin
