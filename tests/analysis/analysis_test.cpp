// The 2x2 canonical analysis by Cramer's rule, refusals and the lack of fit's reasons; comparisons with
// statsmodels are in the pytests.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "refused.h"
#include "study/not_a_number.h"
#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

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

TEST(Canonical, ClassifiesAndPlacesTheStationaryPointOf2x2) {
  const struct {
    double b1, b2, b11, b22, b12;
    Canonical::Kind kind;
  } cases[] = {
      {0.3, -0.2, -1.1, -0.7, 0.4, Canonical::Maximum},  // inside
      {-1.3, 0.2, 0.6, 0.7, -0.4, Canonical::Minimum},   // x0 above +1
      {0.45, 0.1, 1.3, -0.6, 0.1, Canonical::Saddle},
      {0.3, -0.2, -1.1, -0.0007, 0.0, Canonical::Ridge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const Canonical can = canonicalAnalysis(surface(c.b1, c.b2, c.b11, c.b22, c.b12), 0);
    EXPECT_EQ(can.kind, c.kind);
    // Stationary point by Cramer's rule on 2 B x = -b.
    const double h = c.b12 / 2, det = c.b11 * c.b22 - h * h;
    const double x0 = -(c.b22 * c.b1 - h * c.b2) / (2 * det), x1 = -(c.b11 * c.b2 - h * c.b1) / (2 * det);
    ASSERT_TRUE(can.hasStationaryPoint);
    EXPECT_NEAR(can.stationaryCoded[0], x0, 1e-12 * std::max(1.0, std::fabs(x0)));
    EXPECT_NEAR(can.stationaryCoded[1], x1, 1e-12 * std::max(1.0, std::fabs(x1)));
    EXPECT_EQ(can.insideRegion, std::fabs(x0) <= 1 && std::fabs(x1) <= 1);
  }
}

TEST(Canonical, SingularSecondOrderPartHasNoStationaryPoint) {
  for (const Fit& fit : {surface(0.3, -0.2, -1.1, 0.0, 0.0), surface(0.3, 0.1, 1.0, 0.25, 1.0)}) {
    const Canonical can = canonicalAnalysis(fit, 0);
    EXPECT_FALSE(can.hasStationaryPoint);
    EXPECT_EQ(can.kind, Canonical::Ridge);
    EXPECT_TRUE(std::isnan(can.predictedAtStationary));
    EXPECT_NE(formatReport(FitReport{}, can).find("Stationary point: none"), std::string::npos);
  }
}

TEST(Canonical, RidgeThresholdIsRelativeToTheLargestEigenvalue) {
  // The same surface scaled down by 10 keeps its kinds.
  for (const double scale : {1.0, 0.1}) {
    const Fit fit = surface(0.3 * scale, -0.2 * scale, -1.1 * scale, -0.0007 * scale, 0.0);
    EXPECT_EQ(canonicalAnalysis(fit, 0, 1e-3).kind, Canonical::Ridge) << scale;
    EXPECT_EQ(canonicalAnalysis(fit, 0, 1e-4).kind, Canonical::Maximum) << scale;
  }
}

// A Box-Behnken plan in three factors with cancelling, non-round data.
Fit noisyFit(int extraCenterRuns = 2) {
  const Plan plan = makePlan(DesignKind::BoxBehnken, {{"T", 0.1, 0.7, ""}, {"t", 1e7, 1e7 + 0.3, ""},
                                                      {"p", -2.3, 4.1, ""}}, {.seed = 3, .extraCenterRuns = extraCenterRuns});
  Matrix results(plan.runCount(), 2);
  for (std::size_t r = 0; r < plan.runCount(); ++r) {
    const double* c = plan.coded.row(r);
    const double wobble = std::sin(7.1 * static_cast<double>(r) + 0.3);
    results(r, 0) = 12.7 + 0.9 * c[0] - 1.3 * c[1] * c[1] + 0.4 * c[0] * c[2] + 0.21 * wobble;
    results(r, 1) = 1e7 + 0.1 * c[2] + 0.03 * wobble;
  }
  return fitModels(plan, {{"y", "%"}, {"z", ""}}, results);
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
  for (const auto& b : bad) testing::expectRefusal<InvalidArgument>([&] { analyze(fit, 0, b.options); }, b.mentions);
  EXPECT_THROW(analyze(fit, 0, options(0.95, "w", 1.0)), UnknownName);
  EXPECT_THROW(analyze(fit, 2), InvalidArgument);
  EXPECT_THROW(canonicalAnalysis(fit, 0, 1.0), InvalidArgument);
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

}  // namespace
}  // namespace tavrin
