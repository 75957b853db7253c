// Design evaluation against values derived by hand (derivations in the
// comments) and against an independent computation of the power.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "tavrin/design_evaluation.h"
#include "tavrin/designs.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

TEST(Evaluation, OrthogonalFirstOrderDesign) {
  // 2^2 factorial: X'X = 4 I, so every efficiency is 100, VIF 1, the
  // columns uncorrelated and X'X perfectly conditioned.
  const DesignEvaluation plain = evaluateDesign(generateDesign("factorial", 2).coded, ModelTerms::linear(2));
  EXPECT_NEAR(plain.dEfficiency, 100.0, 1e-12);
  EXPECT_NEAR(plain.aEfficiency, 100.0, 1e-12);
  EXPECT_NEAR(plain.gEfficiency, 100.0, 1e-12);
  EXPECT_NEAR(plain.conditionNumber, 1.0, 1e-12);
  // With the interaction the design is saturated: still orthogonal, no
  // residual degrees of freedom, so no power.
  const DesignEvaluation saturated = evaluateDesign(generateDesign("factorial", 2).coded, ModelTerms::interaction(2));
  EXPECT_NEAR(saturated.dEfficiency, 100.0, 1e-12);
  EXPECT_EQ(saturated.residualDf, 0u);
  EXPECT_TRUE(std::isnan(saturated.power[3]));

  // With 3 centre runs (N = 7): X'X = diag(7, 4, 4). D = 100 (7*16)^(1/3) / 7;
  // A = 100 * 3 / (7 (1/7 + 1/4 + 1/4)); SPV(x) = 1 + 7/4 |x|^2, largest at
  // the corners (4.5), so G = 100 * 3 / 4.5; its mean over the cube is
  // 1 + 7/4 * 2/3, over the disc of radius sqrt 2 it is 1 + 7/4 * 2/4.
  EvaluationOptions options{.coefficient = 0.9, .sigma = 0.7};
  const Matrix design = generateDesign("factorial", 2, {.centerRuns = 3}).coded;
  const DesignEvaluation e = evaluateDesign(design, ModelTerms::linear(2), options);
  EXPECT_EQ(e.residualDf, 4u);
  EXPECT_NEAR(e.dEfficiency, 100.0 * std::cbrt(112.0) / 7.0, 1e-12);
  EXPECT_NEAR(e.aEfficiency, 300.0 / 4.5, 1e-12);
  EXPECT_NEAR(e.gEfficiency, 300.0 / 4.5, 1e-12);
  EXPECT_NEAR(e.iCriterion, 1.0 + 7.0 / 6.0, 1e-12);
  EXPECT_NEAR(e.conditionNumber, 7.0 / 4.0, 1e-12);
  for (std::size_t j = 1; j < 3; ++j) {
    EXPECT_NEAR(e.vif[j], 1.0, 1e-12);
    EXPECT_NEAR(e.coefficientVariance[j], 0.25, 1e-15);
  }
  EXPECT_NEAR(e.correlations(1, 2), 0.0, 1e-15);
  EXPECT_TRUE(std::isnan(e.vif[0]));
  // Power of the t test of b_1 = 0.9 with sigma 0.7 on 4 df: noncentrality
  // 0.9 / (0.7 * 0.5). 0.497942489860469 is P(|Z + delta| > c sqrt(V/4)),
  // V ~ chi^2(4), integrated with mpmath.quad at 30 digits, c solved from
  // the same integral at delta = 0 and 5 % (c = 2.776445105197794).
  EXPECT_NEAR(e.power[1], 0.497942489860469, 1e-9);

  options.region = Region::Sphere;
  const DesignEvaluation ball = evaluateDesign(design, ModelTerms::linear(2), options);
  EXPECT_NEAR(ball.iCriterion, 1.0 + 7.0 / 4.0, 1e-12);
  EXPECT_NEAR(ball.gEfficiency, 300.0 / 4.5, 1e-12);
}

TEST(Evaluation, ThreeLevelFactorialForTheQuadratic) {
  // 3^2 grid: X'X holds 6 I (linear), 4 (product) and, for the intercept and
  // squares, B = [[9,6,6],[6,6,4],[6,4,6]] with |B| = 36, so |X'X| = 5184 =
  // 2^6 3^4. Levels scaled by s multiply |X'X| by s^16. trace (X'X)^-1 =
  // 2/6 + 1/4 + (20 + 18 + 18)/36 = 77/36; at a corner f'(X'X)^-1 f = 2/6 +
  // 1/4 + (sum of adj B)/36 = 29/36, the largest SPV 9 * 29/36 = 7.25.
  const DesignRuns grid = generateDesign("factorial", 2, {.levels = 3});
  const DesignEvaluation e = evaluateDesign(grid.coded, ModelTerms::quadratic(2));
  EXPECT_NEAR(e.dEfficiency, 100.0 * 2.0 * std::cbrt(9.0) / 9.0, 1e-12);
  EXPECT_NEAR(e.aEfficiency, 100.0 * 6.0 * 36.0 / (9.0 * 77.0), 1e-12);
  EXPECT_NEAR(e.gEfficiency, 100.0 * 6.0 / 7.25, 1e-12);

  const double s = 0.7;
  Matrix scaled = grid.coded;
  std::for_each(scaled.data(), scaled.data() + 18, [s](double& x) { x *= s; });
  const DesignEvaluation small = evaluateDesign(scaled, ModelTerms::quadratic(2));
  EXPECT_NEAR(small.dEfficiency, 100.0 * 2.0 * std::cbrt(9.0) * std::pow(s, 16.0 / 6.0) / 9.0, 1e-12);
  // Centred, every column of the grid is orthogonal to the others.
  for (std::size_t j = 1; j < 6; ++j) EXPECT_NEAR(small.vif[j], 1.0, 1e-12) << j;
}

TEST(Evaluation, RotatableCompositeDesign) {
  // k = 2, alpha = sqrt 2, 5 centre runs (N = 13). Centred A^2 and B^2:
  // sum A^2 = 8, sum A^4 = 12, sum A^2 B^2 = 4, so S_aa = 12 - 64/13 and
  // S_ab = 4 - 64/13: r = -12/92 and VIF = 1 / (1 - r^2) = 8464 / 8320.
  EvaluationOptions options{.samples = 20000, .coefficient = 0.9, .sigma = 0.7};
  const DesignRuns ccd = generateDesign("ccd", 2, {.centerRuns = 5});
  const ModelTerms model = ModelTerms::quadratic(2);
  const DesignEvaluation e = evaluateDesign(ccd.coded, model, options);
  EXPECT_EQ(e.runs, 13u);
  EXPECT_NEAR(e.correlations(3, 4), -12.0 / 92.0, 1e-12);
  EXPECT_NEAR(e.vif[3], 8464.0 / 8320.0, 1e-12);
  EXPECT_NEAR(e.vif[1], 1.0, 1e-12);
  // The AB column is orthogonal to the rest: Var(b_AB) = 1 / 4, and its
  // power on 7 df, by the same mpmath integral as above (c = 2.364624251592785).
  EXPECT_NEAR(e.coefficientVariance[5], 0.25, 1e-15);
  EXPECT_NEAR(e.power[5], 0.599772466172668, 1e-9);
  // The exact mean SPV agrees with the mean of the sampled SPV.
  const double sampled =
      std::accumulate(e.fdsSpv.begin(), e.fdsSpv.end(), 0.0) / static_cast<double>(e.fdsSpv.size());
  EXPECT_NEAR(sampled, e.iCriterion, 0.02 * e.iCriterion);
  ASSERT_EQ(e.fdsFractions.size(), 101u);
  EXPECT_EQ(e.fdsFractions.front(), 0.0);
  EXPECT_EQ(e.fdsFractions.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(e.fdsSpv.begin(), e.fdsSpv.end()));
  EXPECT_LE(e.fdsSpv.back(), 100.0 * 6.0 / e.gEfficiency * (1.0 + 1e-12));

  // Over the ball of radius sqrt 3 the exact and the sampled mean agree too
  // (the ball's moments are a separate formula from the cube's).
  options.region = Region::Sphere;
  const DesignEvaluation ball = evaluateDesign(generateDesign("ccd", 3).coded, ModelTerms::quadratic(3), options);
  const double ballSampled =
      std::accumulate(ball.fdsSpv.begin(), ball.fdsSpv.end(), 0.0) / static_cast<double>(ball.fdsSpv.size());
  EXPECT_NEAR(ballSampled, ball.iCriterion, 0.02 * ball.iCriterion);
}

TEST(Evaluation, LargestVarianceAtACornerWithoutARun) {
  // Runs (-1, -1), (-1, 1), (1, 1), (0.3, -0.4), (0, 0): by exact rational arithmetic the SPV, 5 f'(X'X)^-1 f, is
  // largest at the corner (1, -1), where no run lies: 5945/831. (A linear model's SPV is convex, so no point of
  // the cube exceeds its corners.)
  const Matrix design{{-1, -1}, {-1, 1}, {1, 1}, {0.3, -0.4}, {0, 0}};
  EXPECT_NEAR(evaluateDesign(design, ModelTerms::linear(2)).gEfficiency, 300.0 * 831.0 / 5945.0, 1e-12);
}

TEST(Evaluation, RefusalsNameWhatIsWrong) {
  Matrix nan = generateDesign("factorial", 2, {.centerRuns = 2}).coded;
  nan(2, 1) = std::nan("");
  const Matrix cube = generateDesign("factorial", 3).coded;
  const struct {
    Matrix design;
    ModelTerms model;
    EvaluationOptions options;
    const char* says;
  } cases[] = {
      {nan, ModelTerms::linear(2), {}, "run 3, factor B"},
      {cube, ModelTerms::linear(2), {}, "model: it has 2 factors, the design 3"},
      {generateDesign("factorial", 2).coded, ModelTerms::quadratic(2), {}, "4 runs, fewer than the 6 terms"},
      {generateDesign("factorial", 3, {.centerRuns = 2}).coded, ModelTerms::quadratic(3), {},
       "the columns of A^2, B^2, C^2 are linearly dependent"},
      {cube, ModelTerms::linear(3), {.sigma = 0.0}, "sigma"},
      {cube, ModelTerms::linear(3), {.significance = 1.0}, "significance"},
  };
  for (const auto& c : cases) {
    try {
      evaluateDesign(c.design, c.model, c.options);
      ADD_FAILURE() << c.says;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tavrin
