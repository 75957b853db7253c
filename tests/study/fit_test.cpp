// The fit: interpolation on saturated plans, missing results, refused values.
// Coefficients, leverages and the natural-unit expansion are checked against
// independent references in test_reference.py.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "study/not_a_number.h"
#include "study/refused.h"
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

}  // namespace
}  // namespace tavrin
