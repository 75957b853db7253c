// Model building against derivations by hand and simulated processes of known model; fits, ANOVA and
// diagnostics are compared with statsmodels in test_model_building.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include "refused.h"
#include "tavrin/error.h"
#include "tavrin/model_building.h"

namespace tavrin {
namespace {

const std::vector<std::string> kNames{"A", "B", "C"};

// Uniform in (0, 1) and standard normal from mt19937_64 by formula, so the
// draws are the same with every standard library.
double uniform(std::mt19937_64& rng) { return (static_cast<double>(rng() >> 11) + 0.5) * 0x1.0p-53; }
double normal(std::mt19937_64& rng) {
  return std::sqrt(-2.0 * std::log(uniform(rng))) * std::cos(2.0 * std::numbers::pi * uniform(rng));
}

// A face-centred central composite plan in n factors with `centres` centre runs.
Matrix composite(std::size_t n, int centres) {
  const std::size_t corners = std::size_t{1} << n;
  Matrix m(corners + 2 * n + static_cast<std::size_t>(centres), n);
  for (std::size_t mask = 0; mask < corners; ++mask)
    for (std::size_t i = 0; i < n; ++i) m(mask, i) = (mask >> i & 1U) ? 1.0 : -1.0;
  for (std::size_t k = 0; k < 2 * n; ++k) m(corners + k, k / 2) = k % 2 ? 1.0 : -1.0;
  return m;
}

ModelData dataOf(const Matrix& coded, const std::vector<double>& coef, std::mt19937_64& rng, double noise) {
  ModelData d;
  d.factorNames = std::vector<std::string>(kNames.begin(), kNames.begin() + static_cast<long>(coded.cols()));
  d.coded = coded;
  for (std::size_t r = 0; r < coded.rows(); ++r)
    d.response.push_back(quadratic::evaluate(coded.cols(), coef.data(), coded.row(r)) + noise * normal(rng));
  return d;
}

ReductionOptions byP(double pToRemove, std::vector<std::string> forceIn = {}, std::vector<std::string> forceOut = {}) {
  return {.pToRemove = pToRemove, .forceIn = std::move(forceIn), .forceOut = std::move(forceOut)};
}

TEST(ModelTerms, ReadsTermListsInEveryWrittenForm) {
  for (const auto& [text, formatted] : std::vector<std::pair<const char*, const char*>>{
           {"linear", "A B C"},
           {"interaction", "A B C A:B A:C B:C"},
           {"quadratic", "A B C A^2 B^2 C^2 A:B A:C B:C"},
           {"A B C A:B A^2 B^2", "A B C A^2 B^2 A:B"},
           {"1 + C + B:A", "C A:B"},
           {"`A`^2, A", "A A^2"},
           {"1", ""}}) {
    SCOPED_TRACE(text);
    const ModelTerms m = parseModelTerms(text, kNames);
    EXPECT_EQ(m.indices.front(), 0u);
    EXPECT_EQ(formatModelTerms(m, kNames), formatted);
    EXPECT_EQ(parseModelTerms(formatModelTerms(m, kNames).empty() ? "1" : formatModelTerms(m, kNames), kNames), m);
  }
  const std::vector<std::string> spaced{"feed rate", "x:y"};
  const ModelTerms m = parseModelTerms("`feed rate` x:y `feed rate`:`x:y` `x:y`^2", spaced);
  EXPECT_EQ(formatModelTerms(m, spaced), "`feed rate` `x:y` `x:y`^2 `feed rate`:`x:y`");
}

TEST(ModelTerms, RefusesWhatIsNoTermOrDropsTheIntercept) {
  testing::expectRefusal<UnknownName>([] { parseModelTerms("A:D", kNames); }, "no factor is named \"D\"");
  for (const auto& [text, needle] : std::vector<std::pair<const char*, const char*>>{
           {"A B -1", "removes the intercept"}, {"0 + A", "removes the intercept"}, {"A B A", "appears twice"},
           {"A:B B:A", "appears twice"}, {"A:B:C", "has 3 factors"}, {"A^3", "only squares"}, {"A:A", "write A^2"},
           {"  ", "the model is empty"}, {"`A B", "not closed"}})
    testing::expectRefusal<InvalidArgument>([text = text] { parseModelTerms(text, kNames); }, needle);
}

TEST(ModelTerms, HierarchyNamesEachTermAndTheParentsItLacks) {
  const ModelTerms m = parseModelTerms("A A:C B^2 A^2", kNames);
  EXPECT_EQ(hierarchyWarning(m, kNames), "B^2 lacks B; A:C lacks C");
  EXPECT_EQ(missingParents(m), (std::vector<std::size_t>{2, 3}));
  EXPECT_TRUE(hierarchyWarning(parseModelTerms("A B A:B B^2", kNames), kNames).empty());
}

TEST(FitModel, StudyDataNameMissingRunsAndKeepTheRunOrder) {
  Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}, {"B", 250.3, 310.9, ""}, {"C", -3.3, 1.9, ""}},
              {{"y", ""}}, {.seed = 5, .extraCenterRuns = 2});
  std::mt19937_64 rng(17);
  for (std::size_t r = 0; r < study.plan().runCount(); ++r)
    study.setResult(static_cast<int>(r) + 1, "y", 3.7 + normal(rng));
  study.setResult(4, "y", std::nan(""));
  study.setResult(9, "y", std::nan(""));
  testing::expectRefusal<StateError>([&] { modelData(study, "y"); }, "run 4, 9");
  study.setResult(4, "y", 2.9);
  study.setResult(9, "y", 4.4);
  const ModelData d = modelData(study, "y");
  EXPECT_EQ(d.runOrder[6], study.plan().orderOf(7));
  EXPECT_EQ(fitModel(d, parseModelTerms("A A:B C^2", d.factorNames)).hierarchy, "C^2 lacks C; A:B lacks B");
  EXPECT_THROW(modelData(study, "z"), UnknownName);
}

TEST(FitModel, RefusesWhatItCannotFitAndNamesTheCause) {
  std::mt19937_64 rng(4);
  const ModelData good = dataOf(composite(2, 3), {4.1, 0.3, -0.2, -1.1, -0.7, 0.4}, rng, 0.1);
  const auto changed = [&good](void (*change)(ModelData&)) {
    ModelData d = good;
    change(d);
    return d;
  };
  const std::pair<ModelData, const char*> bad[] = {
      {changed([](ModelData& d) { d.blocks.assign(d.response.size(), 3); }), "blocks need two or more labels"},
      {changed([](ModelData& d) { d.response[2] = std::nan(""); }), "run 3: the response is not a finite number"},
      {changed([](ModelData& d) {
         for (std::size_t r = 0; r < d.response.size(); ++r) d.runOrder.push_back(r == 5 ? 2 : static_cast<int>(r) + 1);
       }),
       "run 6: run position 2 is given twice"},
      {changed([](ModelData& d) {
         d.coded = Matrix(4, 2, 0.3);
         d.response.resize(4);
       }),
       "at least as many runs as columns"},
  };
  for (const auto& [data, needle] : bad)
    testing::expectRefusal<InvalidArgument>([&data = data] { fitModel(data, ModelTerms::quadratic(2)); }, needle);
  ModelData aliased = good;
  for (std::size_t r = 0; r < aliased.coded.rows(); ++r) aliased.coded(r, 1) = aliased.coded(r, 0);
  testing::expectRefusal<StateError>([&] { fitModel(aliased, ModelTerms::linear(2)); }, "cannot separate");
  EXPECT_THROW(fitModel(good, ModelTerms::quadratic(3)), InvalidArgument);
  EXPECT_THROW(fitModel(good, ModelTerms{2, {1, 2}}), InvalidArgument);
}

TEST(Reduction, ForcedTermsAndRefusals) {
  std::mt19937_64 rng(9);
  const ModelData d = dataOf(composite(3, 4), {20.3, 1.3, -0.9, 0.0, -1.1, 0.0, 0.0, 0.8, 0.0, 0.0}, rng, 0.35);
  const ModelTerms full = ModelTerms::quadratic(3);
  const Reduction kept = reduceModel(d, full, byP(0.10, {"B:C"}, {"C^2"}));
  EXPECT_TRUE(kept.fit.terms.contains(quadratic::productIndex(3, 1, 2)));
  EXPECT_TRUE(kept.fit.terms.contains(quadratic::linearIndex(2)));  // parent of a forced term
  ASSERT_FALSE(kept.steps.empty());
  EXPECT_EQ(kept.steps.front().term, "C^2");
  EXPECT_TRUE(kept.steps.front().forced);

  // B has no linear effect but a strong square: B stays, for hierarchy.
  const ModelData curved = dataOf(composite(3, 4), {20.3, 1.3, 0.0, 0.0, 0.0, -1.1, 0.0, 0.0, 0.0, 0.0}, rng, 0.35);
  const Reduction r = reduceModel(curved, full, byP(0.10));
  EXPECT_TRUE(r.fit.terms.contains(quadratic::squareIndex(3, 1)));
  EXPECT_TRUE(missingParents(r.fit.terms).empty()) << formatModelTerms(r.fit.terms, kNames);

  EXPECT_THROW(reduceModel(d, full, byP(0.10, {}, {"C"})), InvalidArgument);  // C^2 and A:C still hold it
  EXPECT_THROW(reduceModel(d, full, byP(0.10, {"A"}, {"A"})), InvalidArgument);
  EXPECT_THROW(reduceModel(d, full, byP(0.10, {"D"})), UnknownName);
  EXPECT_THROW(reduceModel(d, ModelTerms::linear(3), byP(0.10, {"A^2"})), InvalidArgument);
  EXPECT_THROW(reduceModel(d, full, byP(1.0)), InvalidArgument);

  // Pure noise: the reduction would leave the intercept alone.
  ModelData noise = d;
  for (double& y : noise.response) y = 5.17 + 0.01 * normal(rng);
  testing::expectRefusal<StateError>([&] { reduceModel(noise, ModelTerms::linear(3), byP(0.001)); }, "intercept alone");
}

TEST(Saturated, NumbersThatNeedTheErrorVarianceAreMissingAndStepsThatNeedItRefuse) {
  ModelData d;
  d.factorNames = {"A", "B"};
  d.coded = Matrix{{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {0.1, 0}, {0, 0.3}};
  d.response = {3.1, 4.7, 2.2, 5.9, 3.3, 3.8};
  const ModelFit fit = fitModel(d, ModelTerms::quadratic(2));
  EXPECT_EQ(fit.residualDf, 0);
  EXPECT_FALSE(fit.notEstimable.empty());
  EXPECT_TRUE(std::isnan(fit.sigma));
  const Anova a = anova(d, fit);
  for (const AnovaRow& r : a.partial) EXPECT_TRUE(std::isnan(r.f)) << r.source;
  EXPECT_NEAR(a.model.ss, a.total.ss, 1e-12);
  EXPECT_FALSE(a.lackOfFitReason.empty());
  for (const RunDiagnostic& r : diagnose(d, fit).runs) EXPECT_TRUE(std::isnan(r.externallyStudentized));
  EXPECT_THROW(reduceModel(d, ModelTerms::quadratic(2)), StateError);
  EXPECT_THROW(boxCox(d, ModelTerms::quadratic(2)), StateError);
  EXPECT_TRUE(std::isnan(predictModel(fit, Matrix{{0.2, 0.2}})[0].stdError));
}

TEST(BoxCox, PredictionsMapBackToTheResponsesUnits) {
  for (const double lambda : {-0.5, 0.0, 0.5, 1.0}) {
    SCOPED_TRACE(lambda);
    std::mt19937_64 rng(static_cast<std::uint64_t>(31 + 4 * lambda));
    // w = the transformed response on a linear surface; y = its preimage.
    const PowerTransform power{lambda};
    // Slopes of 2.1, -1.3 and 1.7 in y's units at y = 7.3, so y spans about 2..13.
    const double slope = std::pow(7.3, lambda - 1.0);
    ModelData d = dataOf(composite(3, 6), {power.apply(7.3), 2.1 * slope, -1.3 * slope, 1.7 * slope, 0, 0, 0, 0, 0, 0},
                         rng, 0.1 * slope);
    for (double& y : d.response) y = power.invert(y);
    const TransformedFit t = fitTransformed(d, ModelTerms::linear(3), lambda);
    const Matrix points{{0.13, -0.71, 0.37}, {-0.6, 0.2, 0.9}};
    const std::vector<Prediction> scaled = predictModel(t.fit, points);
    const std::vector<Prediction> original = predictOriginal(t, points);
    for (std::size_t k = 0; k < scaled.size(); ++k)
      for (const auto end : {&Prediction::value, &Prediction::confidenceLow, &Prediction::predictionHigh})
        EXPECT_NEAR(power.apply(original[k].*end), scaled[k].*end, 1e-12 * std::fabs(scaled[k].*end) + 1e-13);
  }
  ModelData bad;
  bad.factorNames = {"A"};
  bad.coded = Matrix{{-1}, {0}, {1}, {0.5}};
  bad.response = {1.2, 0.7, 0.0, 2.1};
  testing::expectRefusal<InvalidArgument>([&] { boxCox(bad, ModelTerms::linear(1)); }, "run 3: the response 0 is not positive");
}

TEST(BuildModel, TransformsThenReducesAndRefusesUnknownTransforms) {
  std::mt19937_64 rng(44);
  // log y on A, B, A:B, A^2 with noise.
  ModelData d = dataOf(composite(3, 4), {1.3, 0.41, -0.27, 0.0, -0.33, 0.0, 0.0, 0.19, 0.0, 0.0}, rng, 0.02);
  for (double& y : d.response) y = std::exp(y);
  ModelRequest request;
  request.transform = "boxcox";
  const ModelBuild chosen = buildModel(d, request);
  ASSERT_TRUE(chosen.boxCox && chosen.transform);
  EXPECT_EQ(chosen.transform->lambda, chosen.boxCox->recommended);
  EXPECT_LE(chosen.boxCox->lower, chosen.transform->lambda);
  EXPECT_GE(chosen.boxCox->upper, chosen.transform->lambda);

  request.transform = "log";
  request.reduce = true;
  request.reduction = byP(0.01);
  const ModelBuild build = buildModel(d, request);
  ASSERT_TRUE(build.transform && build.reduction);
  EXPECT_EQ(build.transform->lambda, 0.0);
  EXPECT_EQ(formatModelTerms(build.fit.terms, d.factorNames), "A B A^2 A:B");
  EXPECT_EQ(build.anova.residual.df, build.fit.residualDf);
  EXPECT_EQ(build.diagnostics.runs.size(), d.response.size());

  request.transform = "cube";
  EXPECT_THROW(buildModel(d, request), InvalidArgument);
  request.transform = "log";
  d.response[5] = -0.4;
  EXPECT_THROW(buildModel(d, request), InvalidArgument);
  request.transform = "none";
  request.reduce = false;
  EXPECT_FALSE(buildModel(d, request).transform);
}

ModelFit surface2(std::vector<double> coef) {
  ModelFit fit;
  fit.factorNames = {"A", "B"};
  fit.terms = ModelTerms::quadratic(2);
  fit.coefficients = std::move(coef);
  fit.runs = 13;
  fit.residualDf = 7;
  fit.residualSS = 0.61;
  fit.unscaledCovariance = Matrix(6, 6);
  for (std::size_t c = 0; c < 6; ++c) fit.unscaledCovariance(c, c) = 0.1 + 0.03 * static_cast<double>(c);
  return fit;
}

TEST(Canonical, ThresholdGivesTheRidgePointNearestTheCentre) {
  // B = [[-1.1, 1.1], [1.1, -1.1]] + 1e-4 on A^2: eigenvalues about -2.2 and 5e-5.
  const ModelFit fit = surface2({7.3, 0.53, 0.31, -1.1 + 1e-4, -1.1, 2.2});
  const RidgeCanonical c = canonicalWithThreshold(fit, 0.1);
  ASSERT_EQ(c.zeroDirections.size(), 1u);
  // Along v = (1, -1)/sqrt2 (eigenvalue near -2.2) the gradient b + 2 B x
  // vanishes; no component along the ridge: x = (v'b) / (-2 lambda) v.
  const double a = -1.1 + 1e-4, d = -1.1, h = 1.1;
  const double lambda = (a + d) / 2 - std::hypot((a - d) / 2, h);
  const double vx = h, vy = lambda - a, norm = std::hypot(vx, vy);
  const double along = (0.53 * vx + 0.31 * vy) / norm / (-2 * lambda);
  EXPECT_NEAR(c.stationary[0], along * vx / norm, 1e-14);
  EXPECT_NEAR(c.stationary[1], along * vy / norm, 1e-14);
  EXPECT_NEAR(c.eigenvalues[0], lambda, 1e-14);
  EXPECT_EQ(c.ridgeDirections[0], "+0.707 A +0.707 B");
  EXPECT_EQ(canonicalWithThreshold(fit).stationary, c.stationary);  // rsm's default: 0.1 x 2.2
  // The threshold bounds the near-zero eigenvalue (about 5e-5) itself.
  EXPECT_EQ(canonicalWithThreshold(fit, 1e-4).zeroDirections.size(), 1u);
  EXPECT_TRUE(canonicalWithThreshold(fit, 1e-5).zeroDirections.empty());
  EXPECT_THROW(canonicalWithThreshold(fit, -1.0), InvalidArgument);
  // Without a threshold the point is the full stationary point, far away.
  EXPECT_GT(canonicalWithThreshold(fit, 0.0).distance, 100.0);
}

TEST(Paths, RidgeAnalysisSolvesTheLagrangeConditionOfTwoFactors) {
  const std::vector<double> coef{7.3, 0.53, -0.31, -0.83, 0.47, 0.61};
  const ModelFit fit = surface2(coef);
  // For a multiplier mu above B's largest eigenvalue, (B - mu I) x = -b / 2
  // by Cramer's rule gives the best point on the circle of radius |x|.
  const double a = coef[3], d = coef[4], h = coef[5] / 2;
  const double top = (a + d) / 2 + std::hypot((a - d) / 2, h);
  for (const double gap : {0.07, 0.3, 1.9}) {
    SCOPED_TRACE(gap);
    const double mu = top + gap;
    const double det = (a - mu) * (d - mu) - h * h;
    const double x = (-coef[1] / 2 * (d - mu) + coef[2] / 2 * h) / det;
    const double y = (-coef[2] / 2 * (a - mu) + coef[1] / 2 * h) / det;
    const std::vector<PathPoint> path = ridgeAnalysis(fit, std::hypot(x, y), 3);
    ASSERT_EQ(path.size(), 4u);
    EXPECT_NEAR(path[3].coded[0], x, 1e-10);
    EXPECT_NEAR(path[3].coded[1], y, 1e-10);
    EXPECT_NEAR(path[3].radius, std::hypot(x, y), 1e-12);
    EXPECT_DOUBLE_EQ(path[0].prediction.value, coef[0]);
  }
  // Minimising follows the smallest eigenvalue side: value decreases along the path.
  const std::vector<PathPoint> down = ridgeAnalysis(fit, 1.7, 5, false);
  for (std::size_t k = 1; k < down.size(); ++k) EXPECT_LT(down[k].prediction.value, down[k - 1].prediction.value);
  EXPECT_FALSE(down.back().insideRegion);
  EXPECT_THROW(ridgeAnalysis(fit, 0.0, 3), InvalidArgument);
  EXPECT_THROW(ridgeAnalysis(fit, 1.0, 0), InvalidArgument);
}

TEST(Paths, SteepestAscentFollowsTheNormalisedGradientInNaturalSteps) {
  std::mt19937_64 rng(12);
  const ModelData d = dataOf(composite(3, 3), {11.7, 0.83, -0.37, 0.21, 0, 0, 0, 0, 0, 0}, rng, 0.05);
  const ModelFit fit = fitModel(d, ModelTerms::linear(3));
  const std::vector<Factor> ranges{{"A", 150.0, 210.0, "C"}, {"B", 0.1, 0.7, ""}, {"C", 12.5, 47.5, "min"}};
  for (const bool ascent : {true, false}) {
    SCOPED_TRACE(ascent);
    const std::vector<PathPoint> path = steepestAscent(fit, ranges, 0, 4.5, 8, ascent);
    ASSERT_EQ(path.size(), 9u);
    const double b[3] = {fit.coefficients[1], fit.coefficients[2], fit.coefficients[3]};
    const double sign = ascent ? 1.0 : -1.0;
    for (std::size_t k = 0; k < path.size(); ++k) {
      // A moves 4.5 natural units a step, in the direction of its gradient component.
      EXPECT_NEAR(path[k].natural[0], 180.0 + sign * (b[0] > 0 ? 4.5 : -4.5) * static_cast<double>(k), 1e-10);
      // Coded point parallel to the gradient: x_i / b_i the same for every factor.
      for (std::size_t i = 1; i < 3; ++i)
        EXPECT_NEAR(path[k].coded[i] * b[0], path[k].coded[0] * b[i], 1e-13);
      if (k > 0) {
        EXPECT_EQ(path[k].prediction.value > path[k - 1].prediction.value, ascent);
      }
    }
    EXPECT_FALSE(path.back().insideRegion);  // 8 steps of 4.5 leave the 30-unit half range
  }
  EXPECT_THROW(steepestAscent(fit, ranges, 3, 4.5, 8), InvalidArgument);
  EXPECT_THROW(steepestAscent(fit, ranges, 0, 0.0, 8), InvalidArgument);
  EXPECT_THROW(steepestAscent(fit, {ranges[0]}, 0, 4.5, 8), InvalidArgument);
}

}  // namespace
}  // namespace tavrin
