// Results near 1e-200 or 1e200 analyse as results near 1 (quantities in the response's unit scale with them);
// only results that really are all equal count as "the same in every run".
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tavrin/analysis.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// A three-factor Box-Behnken plan with three extra centre runs, its one
// response a curved surface plus fixed deviations, all times `scale`.
Fit scaledFit(double scale) {
  const Plan plan = makePlan(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}, {"B", 1.3, 2.9, ""}, {"C", -4.1, 3.3, ""}},
                             {.seed = 5, .extraCenterRuns = 3});
  Matrix results(plan.runCount(), 1);
  for (std::size_t r = 0; r < plan.runCount(); ++r) {
    const double* x = plan.coded.row(r);
    const double y = 7.3 + 1.1 * x[0] - 0.7 * x[1] * x[1] + 0.45 * x[0] * x[2] + 0.3 * std::sin(1.7 * double(r));
    results(r, 0) = y * scale;
  }
  return fitModels(plan, {{"y", ""}}, results);
}

void expectRelative(double got, double expected, double tolerance, const std::string& what) {
  EXPECT_NEAR(got, expected, tolerance * std::fabs(expected)) << what;
}

TEST(Scale, ResultsNear1eMinus200Or1e200AnalyseAsResultsNear1) {
  const FitReport unit = analyze(scaledFit(1.0), 0);
  ASSERT_TRUE(unit.notEstimable.empty()) << unit.notEstimable;
  for (const double scale : {1e-200, 3.7e-170, 2.9e150, 1e200}) {
    SCOPED_TRACE(scale);
    const FitReport r = analyze(scaledFit(scale), 0);
    EXPECT_TRUE(r.notEstimable.empty()) << r.notEstimable;
    // Scale-free: the tests and ratios.
    expectRelative(r.rSquared, unit.rSquared, 1e-12, "R-squared");
    expectRelative(r.predictedRSquared, unit.predictedRSquared, 1e-12, "predicted R-squared");
    expectRelative(r.fStatistic, unit.fStatistic, 1e-12, "F");
    expectRelative(r.lackOfFit.f, unit.lackOfFit.f, 1e-12, "lack-of-fit F");
    for (std::size_t k = 0; k < r.coefficients.size(); ++k)
      expectRelative(r.coefficients[k].coded.t, unit.coefficients[k].coded.t, 1e-12, r.coefficients[k].term);
    // In the response's unit: times the scale.
    expectRelative(r.rmse, unit.rmse * scale, 1e-12, "RMSE");
    expectRelative(r.coefficients[1].coded.stdError, unit.coefficients[1].coded.stdError * scale, 1e-12, "se");
    const Prediction p = predictWithIntervals(scaledFit(scale), 0, Matrix(1, 3, 0.3))[0];
    const Prediction p1 = predictWithIntervals(scaledFit(1.0), 0, Matrix(1, 3, 0.3))[0];
    expectRelative(p.stdError, p1.stdError * scale, 1e-12, "standard error of a prediction");
  }
}

TEST(Scale, OnlyEqualResultsAreTheSameInEveryRun) {
  struct Case {
    double value;
    double step;  // added to one run
    bool same;
  };
  const Case cases[] = {{0.1, 0.0, true}, {1e-200, 0.0, true}, {7.3e200, 0.0, true},
                        {1e-200, 3e-201, false}, {0.1, 1e-15, false}};
  for (const Case& c : cases) {
    const Fit base = scaledFit(1.0);
    Plan plan = makePlan(DesignKind::BoxBehnken, base.factors, {});
    Matrix results(plan.runCount(), 1, c.value);
    results(2, 0) += c.step;
    const FitReport r = analyze(fitModels(plan, {{"y", ""}}, results), 0);
    const bool flagged = r.notEstimable.find("the same in every run") != std::string::npos;
    EXPECT_EQ(flagged, c.same) << c.value << " + " << c.step << ": " << r.notEstimable;
    EXPECT_EQ(std::isnan(r.rSquared), c.same) << c.value << " + " << c.step;
  }
}

}  // namespace
}  // namespace tavrin
