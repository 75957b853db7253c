// The fit: interpolation on saturated plans, missing results, refused values,
// runs in blocks. Coefficients, leverages and the natural-unit expansion are checked against
// independent references in test_reference.py.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "refused.h"
#include "study/not_a_number.h"
#include "tavrin/analysis.h"
#include "tavrin/study.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

std::vector<Factor> oddFactors(std::size_t n) {
  std::vector<Factor> factors;
  for (std::size_t i = 0; i < n; ++i) {
    const double low = 0.1 + 0.3 * static_cast<double>(i);
    factors.push_back({"F" + std::to_string(i + 1), low, low + 0.6 + 0.1 * static_cast<double>(i), ""});
  }
  return factors;
}

TEST(Fit, SaturatedRechtschaffnerPlansInterpolate) {
  for (const std::size_t n : {4u, 9u, 15u}) {
    const Plan plan = makePlan(DesignKind::Rechtschaffner, oddFactors(n), {.seed = 9});
    ASSERT_EQ(plan.runCount(), quadratic::termCount(n));
    Matrix results(plan.runCount(), 1);
    for (std::size_t r = 0; r < plan.runCount(); ++r)
      results(r, 0) = 1e7 + std::cos(0.37 * static_cast<double>(r * r + 1));  // arbitrary, not a quadratic
    const Fit fit = fitModels(plan, {{"Y", ""}}, results);
    EXPECT_EQ(fit.models[0].residualDf, 0);
    const Matrix fitted = predict(fit, plan.natural);
    for (std::size_t r = 0; r < plan.runCount(); ++r)
      EXPECT_NEAR(fitted(r, 0), results(r, 0), 1e-12 * 1e7) << "n = " << n << ", run " << r + 1;
    for (const double h : fit.models[0].leverages) EXPECT_NEAR(h, 1.0, 1e-12);
  }
}

TEST(Fit, MissingResultsAreNamedPerResponse) {
  Study study(DesignKind::BoxBehnken, oddFactors(3), {{"Yield", "%"}, {"Purity", ""}}, {.seed = 2});
  for (int id = 1; id <= 13; ++id) {
    if (id != 4 && id != 11) study.setResult(id, "Yield", id * 0.1);
    if (id != 7) study.setResult(id, "Purity", id * 0.3);
  }
  ASSERT_EQ(study.missing().size(), 3u);
  EXPECT_EQ(study.missing()[0].runId, 4);
  EXPECT_EQ(study.missing()[0].response, "Yield");
  const testing::Refusal r = testing::refused<StateError>([&] { (void)study.fit(); });
  EXPECT_TRUE(r.mentions("\"Yield\" has no result for runs 4 and 11")) << r.what;
  EXPECT_TRUE(r.mentions("\"Purity\" has no result for run 7")) << r.what;
  study.setResult(4, "Yield", 1.0);
  study.setResult(11, "Yield", 2.0);
  study.setResult(7, "Purity", 3.0);
  EXPECT_TRUE(study.missing().empty());
  EXPECT_NO_THROW((void)study.fit());
  study.setResult(7, "Purity", kNaN);  // clears again
  EXPECT_THROW((void)study.fit(), StateError);
}

TEST(Fit, RefusesInfiniteValuesAndUnknownNames) {
  Study study(DesignKind::BoxBehnken, oddFactors(3), {{"Yield", ""}}, {.seed = 2});
  study.setResult(3, "Yield", 0.25);
  const Study before = study;
  EXPECT_THROW(study.setResult(3, "Yield", std::numeric_limits<double>::infinity()), InvalidArgument);
  EXPECT_THROW(study.setResult(14, "Yield", 1.0), UnknownName);
  EXPECT_THROW(study.setResult(0, "Yield", 1.0), UnknownName);
  EXPECT_THROW(study.setResult(1, "yield", 1.0), UnknownName);
  EXPECT_TRUE(study == before);
  EXPECT_EQ(study.result(3, "Yield"), 0.25);
}

// Blocks are fixed effects: shifting every run of a block by a constant
// changes neither the model's terms (beyond the average block's intercept)
// nor the residuals, nor any statistic the analysis reports.
struct Shifted {
  Plan plan;
  Matrix results;
  Matrix shifted;        // each block's runs moved by its own constant
  double meanShift = 0;  // the average block's shift
};

Shifted blockedPlan() {
  const std::vector<Factor> factors{{"A", 0.1, 0.7, ""}, {"B", 150.0, 210.0, ""}, {"C", -0.35, 0.05, ""}};
  Shifted s{makePlan(DesignKind::BoxBehnken, factors, {.seed = 3, .extraCenterRuns = 3}), {}, {}, 0.0};
  const double shift[] = {0.37, -1.13, 0.0};
  s.meanShift = (shift[0] + shift[1] + shift[2]) / 3.0;
  const std::size_t runs = s.plan.runCount();
  s.results = Matrix(runs, 1);
  s.shifted = Matrix(runs, 1);
  for (std::size_t r = 0; r < runs; ++r) {
    s.plan.blocks[r] = static_cast<int>(r % 3) + 1;
    const double* x = s.plan.natural.row(r);
    const double y = 3.1 + 0.7 * x[0] - 0.013 * x[1] + 1.9 * x[2] - 2.3 * x[0] * x[0] + 0.4 * x[0] * x[2] +
                     0.05 * std::sin(2.3 * static_cast<double>(r) + 0.4);
    s.results(r, 0) = y;
    s.shifted(r, 0) = y + shift[r % 3];
  }
  return s;
}

TEST(BlockedFit, ShiftingAWholeBlockChangesNoTermResidualOrStatistic) {
  const Shifted s = blockedPlan();
  ModelChoice reduced;
  reduced.model = reduced.terms = "A B C A^2 A:C";
  for (const std::vector<ModelChoice>& choices : {std::vector<ModelChoice>{}, std::vector<ModelChoice>{reduced}}) {
    const Fit a = fitModels(s.plan, {{"Y", ""}}, s.results, choices);
    const Fit b = fitModels(s.plan, {{"Y", ""}}, s.shifted, choices);
    ASSERT_EQ(a.blocks, s.plan.blocks);
    const std::size_t columns = a.models[0].terms.size() + 2;  // the terms and two block effects
    EXPECT_EQ(a.models[0].residualDf, static_cast<int>(s.plan.runCount() - columns));
    double leverageSum = 0.0;
    for (const double h : a.models[0].leverages) leverageSum += h;
    EXPECT_NEAR(leverageSum, static_cast<double>(columns), 1e-9);
    EXPECT_NEAR(b.models[0].coded[0] - a.models[0].coded[0], s.meanShift, 1e-12);
    for (std::size_t k = 1; k < a.termCount(); ++k) EXPECT_NEAR(b.models[0].coded[k], a.models[0].coded[k], 1e-12);
    for (std::size_t r = 0; r < a.runCount(); ++r)
      EXPECT_NEAR(b.models[0].residuals[r], a.models[0].residuals[r], 1e-12);

    const FitReport ra = analyze(a, 0);
    const FitReport rb = analyze(b, 0);
    EXPECT_EQ(ra.blocksDf, 2);
    EXPECT_GT(rb.blocksSS, ra.blocksSS);
    EXPECT_EQ(ra.fDfModel, static_cast<int>(a.models[0].terms.size()) - 1);
    for (const auto& [name, x, y] : {std::tuple{"R2", ra.rSquared, rb.rSquared},
                                     std::tuple{"adjusted R2", ra.adjustedRSquared, rb.adjustedRSquared},
                                     std::tuple{"predicted R2", ra.predictedRSquared, rb.predictedRSquared},
                                     std::tuple{"F", ra.fStatistic, rb.fStatistic},
                                     std::tuple{"lack-of-fit F", ra.lackOfFit.f, rb.lackOfFit.f}})
      EXPECT_NEAR(x, y, 1e-9 * std::abs(x)) << name;
  }
}

TEST(BlockedFit, OneBlockIsNoBlocks) {
  Shifted s = blockedPlan();
  for (int& b : s.plan.blocks) b = 2;
  const Fit fit = fitModels(s.plan, {{"Y", ""}}, s.results);
  EXPECT_TRUE(fit.blocks.empty());
  EXPECT_EQ(fit.models[0].residualDf, static_cast<int>(s.plan.runCount() - fit.termCount()));
  EXPECT_EQ(analyze(fit, 0).blocksDf, 0);
}

}  // namespace
}  // namespace tavrin
