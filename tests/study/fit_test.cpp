// The fit: exact recovery, interpolation on saturated plans, agreement with
// the plan object's closed form, missing results, prediction.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tavrin/study.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<Factor> oddFactors(std::size_t n) {
  std::vector<Factor> factors;
  for (std::size_t i = 0; i < n; ++i) {
    const double low = 0.1 + 0.3 * static_cast<double>(i);
    factors.push_back({"F" + std::to_string(i + 1), low, low + 0.6 + 0.1 * static_cast<double>(i), ""});
  }
  return factors;
}

// A quadratic in natural units, with known coefficients in the layout of quadratic.h.
std::vector<double> knownNatural(std::size_t n, double offset) {
  std::vector<double> a(quadratic::termCount(n));
  for (std::size_t k = 0; k < a.size(); ++k) a[k] = std::sin(1.0 + 0.7 * static_cast<double>(k)) * 3.0;
  a[0] += offset;
  return a;
}

Matrix resultsOf(const Plan& plan, const std::vector<std::vector<double>>& models) {
  Matrix results(plan.runCount(), models.size());
  for (std::size_t r = 0; r < plan.runCount(); ++r)
    for (std::size_t j = 0; j < models.size(); ++j)
      results(r, j) = quadratic::evaluate(plan.factorCount(), models[j].data(), plan.natural.row(r));
  return results;
}

TEST(Fit, RecoversAnExactQuadraticInNaturalUnits) {
  const struct {
    DesignKind kind;
    std::size_t n;
    int extra;
  } cases[] = {{DesignKind::BoxBehnken, 2, 0}, {DesignKind::BoxBehnken, 3, 3}, {DesignKind::BoxBehnken, 5, 0},
               {DesignKind::Rechtschaffner, 4, 0}, {DesignKind::Rechtschaffner, 6, 2}};
  for (const auto& c : cases) {
    const Plan plan = makePlan(c.kind, oddFactors(c.n), {.seed = 3, .extraCenterRuns = c.extra});
    const std::vector<double> truth = knownNatural(c.n, 0.0);
    const Fit fit = fitModels(plan, {{"Y", ""}}, resultsOf(plan, {truth}));
    ASSERT_EQ(fit.models.size(), 1u);
    for (std::size_t k = 0; k < truth.size(); ++k)
      EXPECT_NEAR(fit.models[0].natural[k], truth[k], 1e-9 * (1 + std::abs(truth[k])))
          << "n = " << c.n << ", term " << k;
    double leverageSum = 0.0;
    for (const double h : fit.models[0].leverages) leverageSum += h;
    EXPECT_NEAR(leverageSum, static_cast<double>(fit.termCount()), 1e-9);  // trace of the hat matrix
  }
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

TEST(Fit, AnOffsetOf1e7LeavesTheOtherCoefficientsIntact) {
  // Results on the grid of 2^-29, the spacing of doubles near 1e7, so that
  // adding 1e7 is exact and the two responses differ by the offset only.
  const Plan plan = makePlan(DesignKind::BoxBehnken, oddFactors(4), {.seed = 1, .extraCenterRuns = 2});
  Matrix results = resultsOf(plan, {knownNatural(4, 0.0), knownNatural(4, 0.0)});
  for (std::size_t r = 0; r < results.rows(); ++r) {
    results(r, 0) = std::ldexp(std::round(std::ldexp(results(r, 0), 29)), -29);
    results(r, 1) = results(r, 0) + 1e7;
  }
  const Fit fit = fitModels(plan, {{"Small", ""}, {"Large", ""}}, results);
  EXPECT_NEAR(fit.models[1].coded[0] - 1e7, fit.models[0].coded[0], 1e-8);
  for (std::size_t k = 1; k < fit.termCount(); ++k)
    EXPECT_NEAR(fit.models[1].coded[k], fit.models[0].coded[k], 1e-13 * std::abs(fit.models[0].coded[k]))
        << "term " << k;
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
  try {
    (void)study.fit();
    FAIL() << "fit with missing results succeeded";
  } catch (const StateError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("\"Yield\" has no result for runs 4 and 11"), std::string::npos) << what;
    EXPECT_NE(what.find("\"Purity\" has no result for run 7"), std::string::npos) << what;
  }
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
