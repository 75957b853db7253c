// Optimal designs and augmentation against exhaustive search, known optimal
// designs, criteria recomputed from full inverses and quadrature, and the refusals.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "designs/design_checks.h"
#include "tavrin/error.h"
#include "tavrin/optimal_design.h"

namespace tavrin {
namespace {

using Points = std::vector<std::vector<double>>;
using testing::modelMatrix;

Points rowsOf(const Matrix& m) {
  Points points;
  for (std::size_t r = 0; r < m.rows(); ++r) points.emplace_back(m.row(r), m.row(r) + m.cols());
  return points;
}

Matrix matrixOf(const Points& points, std::size_t columns) {
  Matrix m(points.size(), columns);
  for (std::size_t r = 0; r < points.size(); ++r) std::copy(points[r].begin(), points[r].end(), m.row(r));
  return m;
}

// log det(X'X) by a full LU factorisation; -infinity when singular.
double logDet(const ModelTerms& model, const Matrix& design) {
  const Eigen::MatrixXd x = modelMatrix(design, model);
  const double det = (x.transpose() * x).partialPivLu().determinant();
  return det > 1e-12 ? std::log(det) : -INFINITY;
}

// The weighted sum over the points `at` of f'(X'X)^-1 f.
double averageVariance(const ModelTerms& model, const Matrix& design, const Points& at,
                       const std::vector<double>& weights) {
  const Eigen::MatrixXd x = modelMatrix(design, model);
  const Eigen::MatrixXd inverse = (x.transpose() * x).inverse();
  const Eigen::MatrixXd f = modelMatrix(matrixOf(at, model.factors), model);
  double sum = 0.0;
  for (Eigen::Index r = 0; r < f.rows(); ++r)
    sum += weights[static_cast<std::size_t>(r)] * f.row(r).dot(inverse * f.row(r).transpose());
  return sum;
}

// Every combination of the three `levels` over n factors; `w` gets the
// product of their `weights`.
Points productGrid(std::size_t n, const double (&levels)[3], const double (&weights)[3], std::vector<double>& w) {
  Points points;
  for (std::size_t index = 0; index < static_cast<std::size_t>(std::pow(3, n)); ++index) {
    points.emplace_back();
    w.push_back(1.0);
    for (std::size_t i = 0, rest = index; i < n; ++i, rest /= 3) {
      points.back().push_back(levels[rest % 3]);
      w.back() *= weights[rest % 3];
    }
  }
  return points;
}

// The average prediction variance over the cube by the 3-point
// Gauss-Legendre product rule, exact for polynomials of degree <= 5 in each
// factor, so for a quadratic model's f'(X'X)^-1 f.
double cubeAverageVariance(const ModelTerms& model, const Matrix& design) {
  std::vector<double> weights;
  const Points nodes =
      productGrid(model.factors, {-std::sqrt(0.6), 0.0, std::sqrt(0.6)}, {5.0 / 18, 8.0 / 18, 5.0 / 18}, weights);
  return averageVariance(model, design, nodes, weights);
}

// log det (D) or minus the average variance over the cube (I): larger is better.
double score(const ModelTerms& model, Criterion criterion, const Matrix& design) {
  const double ld = logDet(model, design);
  return criterion == Criterion::D || ld == -INFINITY ? ld : -cubeAverageVariance(model, design);
}

// The best score over every multiset of `added` points of the 3^n grid
// joined to `kept`.
double exhaustiveBest(const ModelTerms& model, Criterion criterion, const Matrix& kept, std::size_t added) {
  std::vector<double> unused;
  const Points grid = productGrid(model.factors, {-1.0, 0.0, 1.0}, {1.0, 1.0, 1.0}, unused);
  Points design = rowsOf(kept);
  double best = -INFINITY;
  const std::function<void(std::size_t)> extend = [&](std::size_t from) {
    if (design.size() == kept.rows() + added) {
      best = std::max(best, score(model, criterion, matrixOf(design, model.factors)));
      return;
    }
    for (std::size_t c = from; c < grid.size(); ++c) {
      design.push_back(grid[c]);
      extend(c);
      design.pop_back();
    }
  };
  extend(0);
  return best;
}

TEST(OptimalDesign, NewAndAugmentedDesignsMatchExhaustiveSearchOverTheThreeLevelGrid) {
  const ModelTerms model = ModelTerms::quadratic(2);
  // A 2^2 factorial and an off-grid run, augmented for the quadratic.
  const Matrix kept{{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {0.15, -0.35}};
  for (const Criterion criterion : {Criterion::D, Criterion::I})
    for (std::size_t runs = 6; runs <= 10; ++runs) {
      SCOPED_TRACE((criterion == Criterion::D ? "D, runs " : "I, runs ") + std::to_string(runs));
      const ExchangeOptions grid{.criterion = criterion, .factors = {}, .constraints = {}, .levels = 3, .refine = false,
                                 .starts = 60, .seed = 11};
      const OptimalDesign d = optimalDesign(model, OptimalOptions{grid, runs});
      const double best = exhaustiveBest(model, criterion, Matrix(0, 2), runs);
      EXPECT_NEAR(score(model, criterion, d.coded), best, 1e-9 * std::abs(best));
      EXPECT_NEAR(criterion == Criterion::D ? d.logDet : -d.averageVariance, best, 1e-9 * std::abs(best));
      const OptimalDesign augmented = augmentDesign(kept, model, AugmentOptions{grid, runs - 5, {}});
      ASSERT_EQ(augmented.coded.rows(), runs);
      EXPECT_TRUE(std::equal(kept.data(), kept.data() + 10, augmented.coded.data()));
      const double bestAdded = exhaustiveBest(model, criterion, kept, runs - 5);
      EXPECT_NEAR(score(model, criterion, augmented.coded), bestAdded, 1e-9 * std::abs(bestAdded));
    }
}

// Designs known to be optimal among all designs on the interval or cube.
TEST(OptimalDesign, FindsKnownOptimalDesigns) {
  struct Known {
    const char* name;
    ModelTerms model;
    Criterion criterion;
    std::size_t runs;
    Points expected;  // in the order the rows are sorted
  };
  const Known cases[] = {
      // D-optimal for a quadratic on [-1, 1]: equal weights at -1, 0, 1.
      {"D, quadratic in one factor", ModelTerms::quadratic(1), Criterion::D, 6, {{-1}, {-1}, {0}, {0}, {1}, {1}}},
      // I-optimal for a quadratic on [-1, 1]: weights 1/4, 1/2, 1/4.
      {"I, quadratic in one factor", ModelTerms::quadratic(1), Criterion::I, 4, {{-1}, {0}, {0}, {1}}},
      // The 2^3 factorial for the first-order model.
      {"D, linear in three factors", ModelTerms::linear(3), Criterion::D, 8,
       {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, -1}, {-1, 1, 1}, {1, -1, -1}, {1, -1, 1}, {1, 1, -1}, {1, 1, 1}}},
  };
  for (const Known& k : cases) {
    SCOPED_TRACE(k.name);
    const OptimalDesign d =
        optimalDesign(k.model, {{.criterion = k.criterion, .factors = {}, .constraints = {}, .levels = 11}, k.runs});
    Points rows = rowsOf(d.coded);
    std::sort(rows.begin(), rows.end());
    ASSERT_EQ(rows.size(), k.expected.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (std::size_t i = 0; i < rows[r].size(); ++i) EXPECT_NEAR(rows[r][i], k.expected[r][i], 1e-6);
  }
  OptimalOptions o;
  o.runs = 8;
  const OptimalDesign cube = optimalDesign(ModelTerms::linear(3), o);
  EXPECT_NEAR(cube.dEfficiency, 100.0, 1e-9);
  EXPECT_TRUE(std::isnan(cube.averageVariance));
}

// Factors whose ranges and constraint coefficients are not exact in binary.
std::vector<Factor> threeFactors() { return {{"A", 0.1, 0.7, ""}, {"B", 0.2, 0.9, ""}, {"C", 1.3, 2.9, ""}}; }

// 0.3 A + 0.7 B <= 0.45 and A + C >= 1.6.
std::vector<LinearConstraint> twoConstraints() { return {{{0.3, 0.7, 0.0}, 0.45}, {{-1.0, 0.0, -1.0}, -1.6}}; }

TEST(OptimalDesign, MeetsLinearConstraintsOnNaturalSettings) {
  const ModelTerms models[] = {ModelTerms::quadratic(3), ModelTerms::interaction(3), ModelTerms{3, {0, 1, 2, 3, 4, 9}}};
  for (const ModelTerms& model : models)
    for (const Criterion criterion : {Criterion::D, Criterion::I}) {
      SCOPED_TRACE("terms " + std::to_string(model.size()) + (criterion == Criterion::D ? ", D" : ", I"));
      const OptimalOptions o{
          {.criterion = criterion, .factors = threeFactors(), .constraints = twoConstraints(), .starts = 8},
          model.size() + 4};
      const OptimalDesign d = optimalDesign(model, o);
      ASSERT_EQ(d.natural.rows(), o.runs);
      std::vector<double> slack(o.constraints.size(), INFINITY);
      for (std::size_t r = 0; r < d.natural.rows(); ++r) {
        for (std::size_t i = 0; i < 3; ++i) {
          EXPECT_GE(d.natural(r, i), o.factors[i].low - 1e-12);
          EXPECT_LE(d.natural(r, i), o.factors[i].high + 1e-12);
          EXPECT_NEAR(d.natural(r, i), toNatural(o.factors[i], d.coded(r, i)), 1e-15);
        }
        for (std::size_t c = 0; c < o.constraints.size(); ++c) {
          double value = 0.0;
          for (std::size_t i = 0; i < 3; ++i) value += o.constraints[c].a[i] * d.natural(r, i);
          EXPECT_LE(value, o.constraints[c].b + 1e-9) << "run " << r << ", constraint " << c;
          slack[c] = std::min(slack[c], o.constraints[c].b - value);
        }
      }
      // The constraints cut the box, so the best designs put runs on them.
      for (const double s : slack) EXPECT_LT(s, 1e-6);
    }
}

TEST(OptimalDesign, IsReproducibleForASeedAndTheSameForAnyThreadCount) {
  OptimalOptions o{{.criterion = Criterion::I, .factors = threeFactors(), .constraints = twoConstraints(), .starts = 6,
                    .seed = 0x9e3779b97f4a7c15ULL, .threads = 1},
                   14};
  const OptimalDesign one = optimalDesign(ModelTerms::quadratic(3), o);
  o.threads = 2;
  const OptimalDesign two = optimalDesign(ModelTerms::quadratic(3), o);
  EXPECT_EQ(one.coded, two.coded);
  EXPECT_EQ(one.averageVariance, two.averageVariance);
  EXPECT_EQ(one.bestStart, two.bestStart);
  o.seed = 2;
  EXPECT_FALSE(optimalDesign(ModelTerms::quadratic(3), o).coded == one.coded);
}

// The mean over points of sum_i g_i'(X'X)^-1 g_i, g_i the derivative of
// the model row by factor i by central differences (exact for a quadratic
// up to rounding).
double averageGradientVariance(const ModelTerms& model, const Matrix& design, const Points& at) {
  const Eigen::MatrixXd x = modelMatrix(design, model);
  const Eigen::MatrixXd inverse = (x.transpose() * x).inverse();
  const double h = 0.125;
  double sum = 0.0;
  for (const auto& point : at)
    for (std::size_t i = 0; i < model.factors; ++i) {
      Points pair = {point, point};
      pair[0][i] += h;
      pair[1][i] -= h;
      const Eigen::MatrixXd f = modelMatrix(matrixOf(pair, model.factors), model);
      const Eigen::VectorXd g = (f.row(0) - f.row(1)).transpose() / (2 * h);
      sum += g.dot(inverse * g);
    }
  return sum / static_cast<double>(at.size());
}

TEST(AugmentDesign, CloudCriteriaLowerTheVarianceWhereTheCloudLies) {
  const ModelTerms model = ModelTerms::quadratic(2);
  const std::vector<Factor> factors = {{"T", 0.1, 0.7, ""}, {"P", 2.3, 4.1, ""}};
  // A 3^2 start and a cloud of optima near a corner.
  const Matrix kept{{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  std::mt19937_64 rng(3);
  std::normal_distribution<double> normal(0.0, 0.04);
  Matrix cloud(41, 2, NAN);  // the last row: a replicate whose optimum failed
  Points cloudCoded;
  for (std::size_t r = 0; r < 40; ++r) {
    cloud(r, 0) = 0.61 + normal(rng);
    cloud(r, 1) = 3.77 + 2 * normal(rng);
    cloudCoded.push_back({toCoded(factors[0], cloud(r, 0)), toCoded(factors[1], cloud(r, 1))});
  }
  const std::vector<double> equal(40, 1.0 / 40);
  const std::function<double(const Matrix&)> measures[] = {
      [&](const Matrix& d) { return averageVariance(model, d, cloudCoded, equal); },
      [&](const Matrix& d) { return averageGradientVariance(model, d, cloudCoded); }};
  for (const Criterion criterion : {Criterion::Cloud, Criterion::Optimum}) {
    SCOPED_TRACE(criterion == Criterion::Cloud ? "Cloud" : "Optimum");
    const auto& measure = measures[criterion == Criterion::Cloud ? 0 : 1];
    AugmentOptions a{{.criterion = criterion, .factors = factors, .constraints = {}, .starts = 8}, 4, cloud};
    const OptimalDesign chosen = augmentDesign(kept, model, a);
    const double own = measure(chosen.coded);
    EXPECT_NEAR(chosen.averageVariance, own, 1e-9 * own);
    a.cloud = Matrix();
    for (const Criterion other : {Criterion::D, Criterion::I}) {
      a.criterion = other;
      EXPECT_LT(own, measure(augmentDesign(kept, model, a).coded));
    }
  }
}

TEST(OptimalDesign, RefusalsNameWhatIsWrong) {
  const ModelTerms quadratic3 = ModelTerms::quadratic(3);
  // A call of optimalDesign (12 runs, three factors) or augmentDesign (4 runs added) after `change`.
  const auto optimal = [&](const std::function<void(OptimalOptions&)>& change) {
    return [=] {
      OptimalOptions o;
      o.runs = 12;
      o.factors = threeFactors();
      change(o);
      optimalDesign(quadratic3, o);
    };
  };
  const auto augment = [&](const Matrix& kept, const std::function<void(AugmentOptions&)>& change) {
    return [=] {
      AugmentOptions a;
      a.runs = 4;
      change(a);
      augmentDesign(kept, quadratic3, a);
    };
  };
  const Matrix kept{{-1, -1, -1}, {1, 1, 1}, {0.25, -0.75, 0.5}, {0, 0, 0}, {1, -1, 0}, {-1, 1, 0.5}, {0, 1, -1}};
  Matrix nan = kept;
  nan(1, 1) = NAN;
  const auto none = [](AugmentOptions&) {};
  const std::pair<std::function<void()>, const char*> refusals[] = {
      {optimal([](OptimalOptions& o) { o.runs = 9; }), "9 runs cannot estimate the model's 10 terms"},
      {augment(Matrix(2, 3), none), "6 runs in all (2 kept, 4 added)"},
      {optimal([](OptimalOptions& o) { o.constraints = {{{0.3, 0.7, 0.0}, 0.1}}; }),
       "constraint 1 (0.3*\"A\" + 0.7*\"B\" <= 0.1) excludes the whole factor box"},
      {optimal([](OptimalOptions& o) { o.constraints = {{{1.0, 0.0, 0.0}, 0.25}, {{-1.0, 0.0, 0.0}, -0.55}}; }),
       "the constraints together leave no region to place runs in"},
      {optimal([](OptimalOptions& o) { o.constraints = {{{0.3, NAN, 0.0}, 0.45}}; }),
       "constraint 1 has a coefficient or bound that is not finite"},
      {optimal([](OptimalOptions& o) { o.constraints = {{{0.3, 0.7}, 0.45}}; }),
       "constraint 1 has 2 coefficients; the model has 3 factors"},
      {optimal([](OptimalOptions& o) { o.constraints = {{{0.0, 0.0, 0.0}, 0.45}}; }), "every coefficient is 0"},
      {optimal([](OptimalOptions& o) { o.factors[1].high = NAN; }), "factor \"B\""},
      {optimal([](OptimalOptions& o) { o.starts = 0; }), "starts must be at least 1"},
      {optimal([](OptimalOptions& o) { o.levels = 2; }), "at least 3 levels"},
      {optimal([](OptimalOptions& o) { o.criterion = Criterion::Optimum; }), "augmentDesign"},
      {augment(kept, [](AugmentOptions& a) { a.cloud = Matrix{{0.1, 0.2, 0.3}}; }), "neither Cloud nor Optimum"},
      {augment(nan, none), "existing run 2, factor 2"},
      {augment(Matrix(12, 2), none), "the existing design has 2 columns"},
      {augment(kept, [](AugmentOptions& a) { a.runs = 0; }), "runs to add must be at least 1"},
      {augment(kept, [](AugmentOptions& a) { a.criterion = Criterion::Cloud; }), "need cloud points"},
      {augment(kept,
               [](AugmentOptions& a) {
                 a.criterion = Criterion::Cloud;
                 a.cloud = Matrix{{0.1, 0.2, 0.3}, {0.4, NAN, 0.2}};
               }),
       "cloud point 2, factor 2"},
      {[] { optimalDesign(ModelTerms{2, {0, 2, 1}}, OptimalOptions{{}, 6}); }, "model term index 1 is out of order"},
  };
  for (const auto& [call, message] : refusals) {
    try {
      call();
      ADD_FAILURE() << "accepted: " << message;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  // A feasible sliver too thin for three distinct levels of a quadratic.
  const OptimalOptions sliver{{.factors = {}, .constraints = {{{1.0}, -0.9999}}, .starts = 2}, 3};
  EXPECT_THROW(optimalDesign(ModelTerms::quadratic(1), sliver), StateError);
}

}  // namespace
}  // namespace tavrin
