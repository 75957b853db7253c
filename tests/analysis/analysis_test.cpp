// Properties of the analysis that need no outside reference: closed forms
// of the 2x2 canonical analysis, the rules for a known sigma, refusals and
// the text of the report. Comparisons with statsmodels are in the pytest.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Two factors, coefficients given directly in coded units.
Fit surface(double b1, double b2, double b11, double b22, double b12) {
  Fit fit;
  fit.factors = {{"A", 0.1, 0.7, ""}, {"B", 250.3, 310.9, ""}};
  fit.responses = {{"y", ""}};
  fit.runIds = {1, 2, 3, 4, 5, 6};
  Model model;
  model.coded = {4.1, b1, b2, b11, b22, b12};
  fit.models = {model};
  return fit;
}

struct SurfaceCase {
  const char* name;
  double b1, b2, b11, b22, b12;
  Canonical::Kind kind;
};

TEST(Canonical, ClassifiesAndMatchesTheClosedFormsOf2x2) {
  const SurfaceCase cases[] = {
      {"maximum", 0.3, -0.2, -1.1, -0.7, 0.4, Canonical::Maximum},
      {"minimum", -0.3, 0.2, 1.1, 0.7, -0.4, Canonical::Minimum},
      {"saddle", 0.45, 0.1, 1.3, -0.6, 0.1, Canonical::Saddle},
      {"ridge", 0.3, -0.2, -1.1, -0.0007, 0.0, Canonical::Ridge},
  };
  for (const SurfaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Canonical can = canonicalAnalysis(surface(c.b1, c.b2, c.b11, c.b22, c.b12), 0);
    EXPECT_EQ(can.kind, c.kind);
    // Eigenvalues of [[a, h], [h, d]]: (a + d)/2 -+ sqrt(((a - d)/2)^2 + h^2).
    const double h = c.b12 / 2, mean = (c.b11 + c.b22) / 2, radius = std::hypot((c.b11 - c.b22) / 2, h);
    ASSERT_EQ(can.eigenvalues.size(), 2u);
    EXPECT_NEAR(can.eigenvalues[0], mean - radius, 1e-14);
    EXPECT_NEAR(can.eigenvalues[1], mean + radius, 1e-14);
    for (std::size_t k = 0; k < 2; ++k) {
      const double v0 = can.eigenvectors(0, k), v1 = can.eigenvectors(1, k);
      EXPECT_NEAR(c.b11 * v0 + h * v1, can.eigenvalues[k] * v0, 1e-14);
      EXPECT_NEAR(h * v0 + c.b22 * v1, can.eigenvalues[k] * v1, 1e-14);
      EXPECT_NEAR(std::hypot(v0, v1), 1.0, 1e-14);
    }
    // Stationary point by Cramer's rule on 2 B x = -b.
    const double det = c.b11 * c.b22 - h * h;
    const double x0 = -(c.b22 * c.b1 - h * c.b2) / (2 * det), x1 = -(c.b11 * c.b2 - h * c.b1) / (2 * det);
    ASSERT_TRUE(can.hasStationaryPoint);
    EXPECT_NEAR(can.stationaryCoded[0], x0, 1e-12 * std::max(1.0, std::fabs(x0)));
    EXPECT_NEAR(can.stationaryCoded[1], x1, 1e-12 * std::max(1.0, std::fabs(x1)));
    EXPECT_NEAR(can.distanceFromCenter, std::hypot(x0, x1), 1e-12 * std::max(1.0, std::hypot(x0, x1)));
    EXPECT_EQ(can.insideRegion, std::fabs(x0) <= 1 && std::fabs(x1) <= 1);
    EXPECT_NEAR(can.predictedAtStationary, 4.1 + (c.b1 * x0 + c.b2 * x1) / 2, 1e-9);
  }
}

TEST(Canonical, SingularSecondOrderPartHasNoStationaryPoint) {
  for (const Fit& fit : {surface(0.3, -0.2, -1.1, 0.0, 0.0), surface(0.3, -0.2, 0.0, 0.0, 0.0),
                         surface(0.3, 0.1, 1.0, 0.25, 1.0)}) {
    const Canonical can = canonicalAnalysis(fit, 0);
    EXPECT_FALSE(can.hasStationaryPoint);
    EXPECT_EQ(can.kind, Canonical::Ridge);
    EXPECT_TRUE(can.stationaryCoded.empty());
    EXPECT_TRUE(std::isnan(can.predictedAtStationary));
    EXPECT_NE(formatReport(FitReport{}, can).find("Stationary point: none"), std::string::npos);
  }
}

TEST(Canonical, RidgeThresholdIsRelativeToTheLargestEigenvalue) {
  const Fit fit = surface(0.3, -0.2, -1.1, -0.0007, 0.0);
  EXPECT_EQ(canonicalAnalysis(fit, 0, 1e-3).kind, Canonical::Ridge);
  EXPECT_EQ(canonicalAnalysis(fit, 0, 1e-4).kind, Canonical::Maximum);
  EXPECT_NE(formatReport(FitReport{}, canonicalAnalysis(fit, 0, 1e-3)).find("< 0.001 x the largest"),
            std::string::npos);
}

// A Box-Behnken plan in three factors with cancelling, non-round data.
Fit noisyFit(int extraCenterRuns = 2) {
  PlanOptions options;
  options.seed = 3;
  options.extraCenterRuns = extraCenterRuns;
  const Plan plan = makePlan(DesignKind::BoxBehnken, {{"T", 0.1, 0.7, ""}, {"t", 1e7, 1e7 + 0.3, ""},
                                                      {"p", -2.3, 4.1, ""}}, options);
  Matrix results(plan.runCount(), 2);
  for (std::size_t r = 0; r < plan.runCount(); ++r) {
    const double* c = plan.coded.row(r);
    const double wobble = std::sin(7.1 * static_cast<double>(r) + 0.3);
    results(r, 0) = 12.7 + 0.9 * c[0] - 1.3 * c[1] * c[1] + 0.4 * c[0] * c[2] + 0.21 * wobble;
    results(r, 1) = 1e7 + 0.1 * c[2] + 0.03 * wobble;
  }
  return fitModels(plan, {{"y", "%"}, {"z", ""}}, results);
}

TEST(Analysis, KnownSigmaUsesTheNormalDistribution) {
  const Fit fit = noisyFit();
  AnalysisOptions options;
  options.knownSigma["y"] = 0.137;
  const FitReport estimated = analyze(fit, 0);
  const FitReport known = analyze(fit, 0, options);
  EXPECT_TRUE(known.sigmaKnown);
  EXPECT_EQ(known.sigma, 0.137);
  EXPECT_EQ(known.rmse, estimated.rmse);
  for (std::size_t k = 0; k < known.coefficients.size(); ++k) {
    const Estimate& e = known.coefficients[k].coded;
    EXPECT_NEAR(e.stdError, estimated.coefficients[k].coded.stdError * 0.137 / estimated.rmse, 1e-15);
    EXPECT_NEAR(e.p, std::erfc(std::fabs(e.t) / std::sqrt(2.0)), 1e-12);
    EXPECT_NEAR(e.upper - e.value, 1.959963984540054 * e.stdError, 1e-12 * e.stdError);
  }
}

TEST(Analysis, IntervalsAtTheRunsFollowTheLeverages) {
  const Fit fit = noisyFit();
  AnalysisOptions options;
  options.confidence = 0.9;
  const FitReport report = analyze(fit, 1, options);
  const Matrix natural = [&] {
    PlanOptions po;
    po.seed = 3;
    po.extraCenterRuns = 2;
    return makePlan(DesignKind::BoxBehnken, fit.factors, po).natural;
  }();
  const std::vector<Prediction> at = predictWithIntervals(fit, 1, natural, options);
  ASSERT_EQ(at.size(), fit.runCount());
  for (std::size_t r = 0; r < at.size(); ++r) {
    EXPECT_NEAR(at[r].value, report.diagnostics[r].fitted, 1e-7);
    EXPECT_NEAR(at[r].stdError, report.rmse * std::sqrt(fit.models[0].leverages[r]), 1e-9 * report.rmse);
    // The interval ends sit near 1e7: a few of their ulps is all the precision there is.
    const double ulp = std::nextafter(at[r].value, INFINITY) - at[r].value;
    const double ci = at[r].confidenceHigh - at[r].value, pi = at[r].predictionHigh - at[r].value;
    EXPECT_NEAR(pi, ci * std::sqrt((1 + fit.models[0].leverages[r]) / fit.models[0].leverages[r]), 4 * ulp);
  }
}

TEST(Analysis, RefusesBadArgumentsNamingThem) {
  const Fit fit = noisyFit();
  const auto options = [](double confidence, const char* name, double sigma) {
    AnalysisOptions o;
    o.confidence = confidence;
    if (name) o.knownSigma[name] = sigma;
    return o;
  };
  const struct {
    AnalysisOptions options;
    const char* mentions;
  } bad[] = {{options(0.0, nullptr, 0), "confidence"}, {options(1.0, nullptr, 0), "confidence"},
             {options(kNaN, nullptr, 0), "confidence"}, {options(0.95, "y", -0.1), "sigma of response y"},
             {options(0.95, "z", INFINITY), "sigma of response z"}, {options(0.95, "y", 0.0), "greater than 0"}};
  for (const auto& b : bad) {
    try {
      analyze(fit, 0, b.options);
      ADD_FAILURE() << "accepted " << b.mentions;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(b.mentions), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(analyze(fit, 0, options(0.95, "w", 1.0)), UnknownName);
  EXPECT_THROW(analyze(fit, 2), InvalidArgument);
  EXPECT_THROW(canonicalAnalysis(fit, 2), InvalidArgument);
  EXPECT_THROW(canonicalAnalysis(fit, 0, 1.0), InvalidArgument);
  EXPECT_THROW(canonicalAnalysis(fit, 0, kNaN), InvalidArgument);
  EXPECT_THROW(predictWithIntervals(fit, 0, Matrix(1, 2, 0.3)), InvalidArgument);
  EXPECT_THROW(predictWithIntervals(fit, 0, Matrix{{0.3, 1e7, kNaN}}), InvalidArgument);
}

TEST(Analysis, LackOfFitNeedsReplicatesThatDiffer) {
  EXPECT_NE(analyze(noisyFit(0), 0).lackOfFit.reason.find("no setting is repeated"), std::string::npos);
  Fit exact = noisyFit(2);
  const std::size_t runs = exact.runCount();
  for (std::size_t r = runs - 2; r < runs; ++r) exact.observations(r, 0) = exact.observations(runs - 3, 0);
  const LackOfFit l = analyze(exact, 0).lackOfFit;
  EXPECT_FALSE(l.available);
  EXPECT_NE(l.reason.find("agree exactly"), std::string::npos);
  EXPECT_TRUE(std::isnan(l.f));
}

TEST(Analysis, SaturatedReportSaysWhatIsNotEstimable) {
  const Plan plan = makePlan(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}});
  const Fit fit = fitModels(plan, {{"y", ""}}, Matrix{{0.31}, {0.77}, {0.52}});
  const FitReport report = analyze(fit, 0);
  EXPECT_EQ(report.notEstimable,
            "saturated plan: 3 runs for 3 coefficients leave no residual degree of freedom; supply a known sigma "
            "to get standard errors; every run has leverage 1, so PRESS and predicted R-squared are not defined");
  const std::string text = formatReport(report, canonicalAnalysis(fit, 0));
  for (const char* line : {"Residual standard error: not estimable", "F-statistic: not estimable",
                           "PRESS: not estimable", "Not estimable: saturated plan"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  // With sigma: (X'X)^-1 of {-1, 0, 1} is [[1, 0, -1], [0, 1/2, 0], [-1, 0, 3/2]].
  AnalysisOptions options;
  options.knownSigma["y"] = 0.2;
  const FitReport known = analyze(fit, 0, options);
  EXPECT_NEAR(known.coefficients[0].coded.stdError, 0.2, 1e-15);
  EXPECT_NEAR(known.coefficients[1].coded.stdError, 0.2 * std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(known.coefficients[2].coded.stdError, 0.2 * std::sqrt(1.5), 1e-15);
  EXPECT_NE(known.notEstimable.find("use the known sigma"), std::string::npos);
}

TEST(Analysis, ConstantResponseHasNoRSquared) {
  const Plan plan = makePlan(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}, {"B", 3, 9, ""}});
  const Fit fit = fitModels(plan, {{"y", ""}}, Matrix(plan.runCount(), 1, 0.3));
  const FitReport report = analyze(fit, 0);
  EXPECT_TRUE(std::isnan(report.rSquared));
  EXPECT_TRUE(std::isnan(report.fStatistic));
  EXPECT_NE(report.notEstimable.find("the same in every run"), std::string::npos);
}

}  // namespace
}  // namespace tavrin
