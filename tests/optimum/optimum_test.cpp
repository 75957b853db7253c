// The search: known optima of constructed quadratics, the optimality (KKT)
// conditions of polished optima and independence of the thread count. The
// refusals are goals_test's.
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

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
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
  // multiplier mu, x_i = (a_i - mu) / 2 clipped to [-1, 1]. The first two
  // stay on their bounds, and the sum of the rest, (2.6 - 3 mu) / 2, meets
  // the cap for mu = 0.4: x = (1, -1, 0, 0.25, 0.45).
  const auto fiveFactors = [](const double* x) {
    constexpr double a[] = {3.1, -2.7, 0.4, 0.9, 1.3};
    double y = 10.0;
    for (int i = 0; i < 5; ++i) y += a[i] * x[i] - x[i] * x[i];
    return y;
  };
  const std::vector<Factor> five = {{"A", 0.1, 0.7, ""}, {"B", 1e7, 1e7 + 3.3, ""}, {"C", -2.5, 4.1, ""},
                                    {"D", 0.3, 0.9, ""}, {"E", -0.7, -0.1, ""}};
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
      // leaves the peak alone (inactive, though close enough to be tried as
      // active) or moves A onto it.
      {"cap just above the peak", threeFactors(), peak, first, {{"Y2", -INFINITY, 0.3005}}, {}, {0.3, -0.2, 0.1}, {}},
      {"cap just below the peak", threeFactors(), peak, first, {{"Y2", -INFINITY, 0.2995}}, {}, {0.2995, -0.2, 0.1},
       {"Y2 <= 0.2995"}},
      {"floor just below the peak", threeFactors(), peak, first, {{"Y2", 0.2995, INFINITY}}, {}, {0.3, -0.2, 0.1}, {}},
      {"floor just above the peak", threeFactors(), peak, first, {{"Y2", 0.3005, INFINITY}}, {}, {0.3005, -0.2, 0.1},
       {"Y2 >= 0.3005"}},
      {"floor far above the peak", threeFactors(), peak, first, {{"Y2", 0.6, INFINITY}}, {}, {0.6, -0.2, 0.1},
       {"Y2 >= 0.6"}},
      // low = high is an equality, held to SLSQP's precision (some 4e-9
      // off in coded units, not the 1e-9 of one side).
      {"equality", threeFactors(), peak, first, {{"Y2", 0.2, 0.2}}, {}, {0.2, -0.2, 0.1},
       {"Y2 <= 0.2", "Y2 >= 0.2"}, 1e-7},
      {"bounds and a cap of five factors", five, fiveFactors,
       [](const double* x) { return 100.3 + x[0] + x[1] + x[2] + x[3] + x[4]; }, {{"Y2", -INFINITY, 101.0}}, {},
       {1.0, -1.0, 0.0, 0.25, 0.45}, {"Y2 <= 101", "A = 0.7 (upper bound)", "B = 1e+07 (lower bound)"}},
      // A fixed factor and the region's ends are kept exactly.
      {"fixed factor and a region", threeFactors(), [](const double* x) { return x[0] + x[1] + x[2]; }, first, {},
       {{"B", {1e7 + 1.1, 1e7 + 1.1}}, {"C", {-0.3, 2.9}}}, {1.0, -1.0 / 3.0, 4.2 / 6.6},
       {"A = 0.7 (upper bound)", "C = 2.9 (upper bound)"}, 1e-9, {0.7, 1e7 + 1.1, 2.9}},
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
    EXPECT_EQ(best.pointsSearched, 65536u);
  }
}

// Gradient of log D in natural units by central differences of the public
// predict() and desirability(), independent of the search's own gradients.
Eigen::VectorXd logDesirabilityGradient(const Fit& fit, const std::vector<Goal>& goals,
                                        const std::vector<double>& natural) {
  const auto logD = [&](const std::vector<double>& x) {
    Matrix point(1, x.size());
    std::copy(x.begin(), x.end(), point.row(0));
    const Matrix y = predict(fit, point);
    double sum = 0.0, weights = 0.0;
    for (const Goal& g : goals) {
      sum += g.importance * std::log(desirability(g, y(0, fit.responseIndex(g.response))));
      weights += g.importance;
    }
    return sum / weights;
  };
  Eigen::VectorXd g(natural.size());
  for (std::size_t i = 0; i < natural.size(); ++i) {
    const double h = 1e-5 * (fit.factors[i].high - fit.factors[i].low);
    std::vector<double> up = natural, down = natural;
    up[i] += h;
    down[i] -= h;
    g[static_cast<Eigen::Index>(i)] = (logD(up) - logD(down)) / (2 * h);
  }
  return g;
}

Eigen::VectorXd responseGradient(const Fit& fit, std::size_t response, const std::vector<double>& natural) {
  Eigen::VectorXd g(natural.size());
  for (std::size_t i = 0; i < natural.size(); ++i) {
    const double h = 1e-5 * (fit.factors[i].high - fit.factors[i].low);
    Matrix points(2, natural.size());
    std::copy(natural.begin(), natural.end(), points.row(0));
    std::copy(natural.begin(), natural.end(), points.row(1));
    points(0, i) += h;
    points(1, i) -= h;
    const Matrix y = predict(fit, points);
    g[static_cast<Eigen::Index>(i)] = (y(0, response) - y(1, response)) / (2 * h);
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
       [](const double* x) { return 1.0 + 0.6 * x[1] * x[1] + 0.9 * x[2] + 0.2 * x[0] * x[2]; }},
      0);
  Goal minimize;
  minimize.response = "Y2";
  minimize.kind = Goal::Minimize;
  minimize.low = 0.7;
  minimize.high = 4.6;
  minimize.shape = 1.5;
  minimize.importance = 2.0;
  Goals goals;
  goals.goals = {maximize("Y1", 7.1, 14.3), minimize};
  goals.constraints = {{"Y3", -INFINITY, 1.3}};
  const Optimum best = optimize(fit, goals);
  ASSERT_FALSE(best.candidates.empty());
  const Candidate& top = best.candidates.front();
  ASSERT_TRUE(contains(top.activeConstraints, "Y3 <= 1.3")) << ::testing::PrintToString(top.activeConstraints);
  ASSERT_TRUE(contains(top.activeConstraints, "A = 0.7 (upper bound)"))
      << ::testing::PrintToString(top.activeConstraints);

  // grad log D = sum of multipliers times the gradients of the active
  // inequalities g <= 0, every multiplier >= 0.
  const Eigen::VectorXd gradient = logDesirabilityGradient(fit, goals.goals, top.natural);
  Eigen::MatrixXd active(3, 2);
  active.col(0) = responseGradient(fit, 2, top.natural);
  active.col(1) = Eigen::Vector3d(1.0, 0.0, 0.0);
  const Eigen::VectorXd multipliers = active.colPivHouseholderQr().solve(gradient);
  const double residual = (active * multipliers - gradient).norm();
  EXPECT_LT(residual, 1e-6 * gradient.norm()) << "gradient " << gradient.transpose() << " Y2 "
                                               << top.predictions[1].value;
  EXPECT_GT(multipliers[0], 0.0);
  EXPECT_GT(multipliers[1], 0.0);
  EXPECT_NEAR(top.predictions[2].value, 1.3, 1e-9);
}

TEST(Optimum, OverallIsTheWeightedGeometricMeanOfTheDesirabilities) {
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return 1.0 + x[0] - 0.3 * x[1] * x[1]; },
                            [](const double* x) { return 2.0 - x[0] + x[2] + 0.2 * x[0] * x[1]; }});
  Goal minimize;
  minimize.response = "Y2";
  minimize.kind = Goal::Minimize;
  minimize.low = 0.3;
  minimize.high = 3.7;
  minimize.importance = 3.0;
  Goals goals;
  goals.goals = {maximize("Y1", 0.1, 2.3), minimize};
  SearchOptions options;
  options.best = 3;
  const Optimum best = optimize(fit, goals, options);
  for (const Candidate& c : best.candidates) {
    const double expected = std::pow(std::pow(c.desirability[0], 1.0) * std::pow(c.desirability[1], 3.0), 1.0 / 4.0);
    EXPECT_NEAR(c.overall, expected, 1e-14);
    EXPECT_NEAR(c.desirability[0], (c.predictions[0].value - 0.1) / 2.2, 1e-14);
    EXPECT_GE(c.predictions[0].predictionHigh, c.predictions[0].confidenceHigh);
  }
  for (std::size_t k = 1; k < best.candidates.size(); ++k)
    EXPECT_LE(best.candidates[k].overall, best.candidates[k - 1].overall);
}

TEST(Optimum, PredictionsOfTheOptimaAreThoseOfTheAnalysis) {
  // Y2 with a known sigma (normal intervals), Y1 and Y3 estimated from
  // residuals (t intervals), on a plan with residual degrees of freedom.
  const auto deviation = [](std::size_t run, std::size_t response) {
    return 0.01 * std::sin(1.7 * double(run) + double(response));
  };
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return 1e7 + 0.3 * x[0] - 0.7 * x[1] * x[1] - x[2] * x[2]; },
                            [](const double* x) { return 0.1 * x[0] * x[1] + 0.3; },
                            [](const double* x) { return x[2] - 0.2 * x[0]; }},
                           3, deviation);
  Goals goals;
  goals.goals = {maximize("Y1", 1e7 - 3.0, 1e7 + 1.0)};
  goals.constraints = {{"Y3", -0.3, 0.1}};
  SearchOptions options;
  options.best = 3;
  options.analysis.confidence = 0.9;
  options.analysis.knownSigma["Y2"] = 0.05;
  const Optimum best = optimize(fit, goals, options);
  ASSERT_FALSE(best.candidates.empty());
  for (const Candidate& c : best.candidates) {
    Matrix at(1, c.natural.size());
    std::copy(c.natural.begin(), c.natural.end(), at.row(0));
    for (std::size_t j = 0; j < 3; ++j) {
      const Prediction expected = predictWithIntervals(fit, j, at, options.analysis)[0];
      const Prediction& got = c.predictions[j];
      EXPECT_EQ(got.value, expected.value) << "response " << j;
      EXPECT_EQ(got.stdError, expected.stdError) << "response " << j;
      EXPECT_EQ(got.confidenceLow, expected.confidenceLow) << "response " << j;
      EXPECT_EQ(got.predictionHigh, expected.predictionHigh) << "response " << j;
    }
    // Normal against t quantiles at 90%: z = 1.6448536..., t on the
    // residual df is wider.
    const double z = (c.predictions[1].confidenceHigh - c.predictions[1].value) / c.predictions[1].stdError;
    EXPECT_NEAR(z, 1.6448536269514722, 1e-12);
    const double t = (c.predictions[2].confidenceHigh - c.predictions[2].value) / c.predictions[2].stdError;
    EXPECT_GT(t, z);
  }
}

TEST(Optimum, DistinctOptimaOfABimodalSurface) {
  // Convex in A: two peaks, at A's ends, of heights 4.2 and 3.8.
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return 3.0 + 0.2 * x[0] + 1.0 * x[0] * x[0] - x[1] * x[1] - x[2] * x[2]; }});
  Goals goals;
  goals.goals = {maximize("Y1", 0.0, 10.0)};
  SearchOptions options;
  options.best = 4;
  const Optimum best = optimize(fit, goals, options);
  ASSERT_EQ(best.candidates.size(), 2u);
  EXPECT_NEAR(best.candidates[0].coded[0], 1.0, 1e-12);
  EXPECT_NEAR(best.candidates[1].coded[0], -1.0, 1e-12);
  EXPECT_NEAR(best.candidates[0].predictions[0].value, 4.2, 1e-9);
  EXPECT_NEAR(best.candidates[1].predictions[0].value, 3.8, 1e-9);
}

TEST(Optimum, FindsTheBestCornersOfAConvexSurface) {
  // Convex in every factor: each of the 16 corners is a local maximum, of
  // height sum_i a_i (1 + |c_i|)^2 or a_i (1 - |c_i|)^2 per factor.
  constexpr double a[] = {1.0, 1.3, 0.7, 1.1};
  constexpr double c[] = {0.3, -0.2, 0.1, -0.4};
  const auto y = [&](const double* x) {
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) sum += a[i] * (x[i] - c[i]) * (x[i] - c[i]);
    return sum;
  };
  const std::vector<Factor> factors = {
      {"A", 0.1, 0.7, ""}, {"B", 1e7, 1e7 + 3.3, ""}, {"C", -2.5, 4.1, ""}, {"D", 0.3, 0.9, ""}};
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
  SearchOptions options;
  options.best = 5;
  const Optimum best = optimize(fit, goals, options);
  ASSERT_EQ(best.candidates.size(), 5u);
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_NEAR(best.candidates[k].predictions[0].value, heights[k], 1e-9 * heights[0]) << "corner " << k;
    for (const double x : best.candidates[k].coded) EXPECT_EQ(std::abs(x), 1.0);
  }
}

TEST(Optimum, WeightedSumMatchesTheSumOfWeightedPredictions) {
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return 1.0 - x[0] * x[0] + 0.5 * x[1]; },
                            [](const double* x) { return 0.3 * x[0] - x[1] * x[1] - x[2] * x[2]; }});
  Goal a;
  a.response = "Y1";
  a.kind = Goal::WeightedSum;
  a.weight = 2.0;
  Goal b = a;
  b.response = "Y2";
  b.weight = 1.0;
  Goals goals;
  goals.goals = {a, b};
  const Optimum best = optimize(fit, goals);
  const Candidate& top = best.candidates.front();
  // 2 (1 - x1^2 + x2/2) + 0.3 x1 - x2^2 - x3^2: x1 = 0.075, x2 = 0.5, x3 = 0.
  EXPECT_NEAR(top.coded[0], 0.075, 1e-9);
  EXPECT_NEAR(top.coded[1], 0.5, 1e-9);
  EXPECT_NEAR(top.coded[2], 0.0, 1e-9);
  EXPECT_NEAR(top.overall, 2.0 * top.predictions[0].value + top.predictions[1].value, 1e-12);
  EXPECT_TRUE(std::isnan(top.desirability[0]));
}

TEST(Optimum, ResultsDoNotDependOnTheThreadCount) {
  const Fit fit = exactFit(DesignKind::BoxBehnken, threeFactors(),
                           {[](const double* x) { return std::sin(0.3) + x[0] - x[1] * x[2] + 0.4 * x[2] * x[2]; },
                            [](const double* x) { return x[0] * x[1] + 0.1 * x[2]; }});
  Goals goals;
  goals.goals = {maximize("Y1", -1.0, 3.0)};
  goals.constraints = {{"Y2", -0.2, 0.3}};
  goals.region["C"] = {-1.1, 3.9};
  SearchOptions options;
  options.points = 5000;
  options.threads = 1;
  const Optimum one = optimize(fit, goals, options);
  for (const unsigned threads : {2u, 3u, 7u}) {
    options.threads = threads;
    const Optimum many = optimize(fit, goals, options);
    ASSERT_EQ(many.candidates.size(), one.candidates.size());
    EXPECT_EQ(many.admissiblePoints, one.admissiblePoints);
    for (std::size_t k = 0; k < one.candidates.size(); ++k) {
      EXPECT_EQ(many.candidates[k].coded, one.candidates[k].coded);
      EXPECT_EQ(many.candidates[k].overall, one.candidates[k].overall);
    }
  }
}

}  // namespace
}  // namespace tavrin
