// Robustness of the optimum: reproducible, independent of the thread count,
// and spread as the least-squares theory says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "optimum/fixtures.h"
#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/optimum.h"

namespace tavrin {
namespace {

// Y1 to maximise, Y2 capped at 1.5; fixed deviations give the plan's five
// residual degrees of freedom (three extra centre runs) some error.
Fit noisyFit() {
  return testing::exactFit(
      DesignKind::BoxBehnken, testing::threeFactors(),
      {[](const double* x) { return 80.0 + 3.0 * x[0] + 2.0 * x[1] - 2.5 * x[0] * x[0] - 1.5 * x[1] * x[1] - x[2] * x[2]; },
       [](const double* x) { return 1.2 + 0.5 * x[0] + 0.3 * x[1] + 0.2 * x[0] * x[1] + 0.1 * x[2]; }},
      3, [](std::size_t run, std::size_t response) { return (response == 0 ? 0.3 : 0.02) * std::sin(1.7 * run + response); });
}

Goals yieldGoals(double low = 70.0, double high = 90.0) {
  Goals goals;
  goals.goals = {testing::goal("Y1", Goal::Maximize, low, high)};
  goals.constraints = {{"Y2", -INFINITY, 1.5}};
  return goals;
}

// Robustness of the nominal optimum of `goals`; no relocation unless `relocate`.
Robustness robustnessOf(const Fit& fit, const Goals& goals, RobustnessOptions options, bool relocate = true) {
  if (!relocate) options.relocationPoints = options.relocationStarts = 0;
  return robustness(fit, goals, optimize(fit, goals), options);
}

TEST(Robustness, IsReproducibleIndependentOfTheThreadCountAndDrawsEachReplicatesOwnNoise) {
  const Fit fit = noisyFit();
  RobustnessOptions options{
      .sigma = {}, .replicates = 300, .seed = 0x9E3779B97F4A7C15ull, .threads = 1, .progress = {}};
  const Robustness one = robustnessOf(fit, yieldGoals(), options);
  EXPECT_EQ(one.sigmaSource, (std::vector<std::string>{"residuals", "residuals"}));
  for (const unsigned threads : {3u, 8u}) {
    options.threads = threads;
    const Robustness many = robustnessOf(fit, yieldGoals(), options);
    EXPECT_EQ(many.optima, one.optima) << threads << " threads";
    EXPECT_EQ(many.settingPercentiles, one.settingPercentiles);
    EXPECT_EQ(many.predictionPercentiles, one.predictionPercentiles);
    EXPECT_EQ(many.constraintProbability, one.constraintProbability);
  }
  options.seed += 1;
  EXPECT_FALSE(robustnessOf(fit, yieldGoals(), options).optima == one.optima);
  // No two relocated optima coincide.
  for (std::size_t a = 0; a < one.optima.rows(); ++a)
    for (std::size_t b = a + 1; b < one.optima.rows(); ++b)
      ASSERT_FALSE(std::equal(one.optima.row(a), one.optima.row(a) + 3, one.optima.row(b))) << a << ", " << b;
}

// A progress callback that throws (Python's Ctrl-C does) ends the call with
// the caller's exception.
TEST(Robustness, AProgressCallbackThatThrowsEndsTheCall) {
  const auto stop = [](unsigned done, unsigned) {
    if (done > 0) throw std::length_error("stopped by the caller");
  };
  const RobustnessOptions options{.sigma = {}, .replicates = 200, .threads = 2, .progress = stop};
  EXPECT_THROW((void)robustnessOf(noisyFit(), yieldGoals(), options), std::length_error);
}

TEST(Robustness, PredictionsSpreadAsTheLeastSquaresTheorySays) {
  const Fit fit = noisyFit();
  const RobustnessOptions options{.sigma = {{"Y1", 0.4}, {"Y2", 0.07}}, .replicates = 4000, .progress = {}};
  const Robustness r = robustnessOf(fit, yieldGoals(), options, false);
  AnalysisOptions known;
  known.knownSigma = options.sigma;
  Matrix at(1, 3);
  std::copy(r.nominal.begin(), r.nominal.end(), at.row(0));
  for (std::size_t j = 0; j < 2; ++j) {
    // The standard error of the mean response, sigma * sqrt(x'(X'X)^-1 x).
    const Prediction p = predictWithIntervals(fit, j, at, known)[0];
    const double error = p.stdError / std::sqrt(4000.0);
    EXPECT_NEAR(r.predictionStdDev[j], p.stdError, 0.05 * p.stdError) << j;
    EXPECT_NEAR(r.predictionMean[j], p.value, 4.0 * error) << j;
    EXPECT_NEAR(r.predictionPercentiles(j, 2), p.value, 6.0 * error) << j;
  }
  // The nominal optimum sits on the cap, so the cap holds half the time.
  ASSERT_EQ(r.constraintProbability.size(), 1u);
  EXPECT_NEAR(r.constraintProbability[0], 0.5, 0.03);
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t q = 1; q < r.percentiles.size(); ++q)
      EXPECT_LT(r.settingPercentiles(i, q - 1), r.settingPercentiles(i, q)) << i << ", " << q;
}

// Two replicates: the 0th and 100th percentiles are the two predictions,
// whose sample standard deviation (n - 1) is their distance / sqrt(2), and
// the 25th lies a quarter of the way between them (numpy's interpolation).
TEST(Robustness, StandardDeviationAndPercentilesAreTheSampleOnes) {
  const RobustnessOptions options{.sigma = {}, .replicates = 2, .percentiles = {0, 100, 25}, .progress = {}};
  const Robustness r = robustnessOf(noisyFit(), yieldGoals(), options, false);
  for (std::size_t j = 0; j < 2; ++j) {
    const double distance = r.predictionPercentiles(j, 1) - r.predictionPercentiles(j, 0);
    EXPECT_GT(distance, 0.0) << j;
    EXPECT_NEAR(r.predictionStdDev[j], distance / std::sqrt(2.0), 1e-12 * distance) << j;
    EXPECT_NEAR(r.predictionPercentiles(j, 2), r.predictionPercentiles(j, 0) + 0.25 * distance, 1e-12 * distance) << j;
  }
}

// "Maximise Y1" with open bounds ranks by Y1 itself in every replicate, as
// bounds far outside the predictions do: a replicate whose surface rises
// above the nominal top must still find its own top, not tie at d = 1.
TEST(Robustness, OpenGoalBoundsSpreadAsFarExplicitBoundsDo) {
  const Fit fit = noisyFit();
  const RobustnessOptions options{.sigma = {{"Y1", 0.9}, {"Y2", 0.03}}, .replicates = 300, .seed = 11, .progress = {}};
  const Robustness open = robustnessOf(fit, yieldGoals(NAN, NAN), options);
  const Robustness far = robustnessOf(fit, yieldGoals(-1000.3, 1000.7), options);
  ASSERT_EQ(open.failedReplicates, 0u);
  for (std::size_t i = 0; i < 3; ++i) {
    const double range = fit.factors[i].high - fit.factors[i].low;
    EXPECT_NEAR(open.nominal[i], far.nominal[i], 1e-6 * range) << i;
    for (std::size_t q = 0; q < open.percentiles.size(); ++q)
      EXPECT_NEAR(open.settingPercentiles(i, q), far.settingPercentiles(i, q), 1e-6 * range) << i << ", " << q;
  }
  for (std::size_t k = 0; k < open.optima.rows(); ++k)
    EXPECT_FALSE(std::equal(open.nominal.begin(), open.nominal.end(), open.optima.row(k))) << k;
}

TEST(Robustness, TakesSigmaFromTheResidualsOrRequiresIt) {
  const Fit fit = noisyFit();
  const Optimum nominal = optimize(fit, yieldGoals());
  std::vector<std::pair<unsigned, unsigned>> calls;
  RobustnessOptions options{.sigma = {{"Y2", 0.05}}, .replicates = 10, .progress = [&](unsigned done, unsigned total) {
                              calls.emplace_back(done, total);
                            }};
  const Robustness r = robustness(fit, yieldGoals(), nominal, options);
  EXPECT_NEAR(r.sigma[0], analyze(fit, 0).rmse, 1e-12 * r.sigma[0]);
  EXPECT_EQ(r.sigma[1], 0.05);
  EXPECT_EQ(r.sigmaSource, (std::vector<std::string>{"residuals", "supplied"}));
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair(10u, 10u));
  EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));

  // A saturated plan leaves no residuals: sigma must be supplied.
  const Fit saturated = testing::exactFit(
      DesignKind::Rechtschaffner, {{"A", 0.1, 0.7, ""}, {"B", 1.0, 2.0, ""}, {"C", -1.0, 1.0, ""}, {"D", 5.0, 6.0, ""}},
      {[](const double* x) { return 1.0 + x[0] - x[1] * x[1]; }, [](const double* x) { return x[2]; }});
  ASSERT_EQ(saturated.models[0].residualDf, 0);
  const Optimum top = optimize(saturated, yieldGoals());
  try {
    robustness(saturated, yieldGoals(), top, options);
    ADD_FAILURE() << "accepted a saturated plan without sigma";
  } catch (const StateError& e) {
    EXPECT_NE(std::string(e.what()).find("\"Y1\" has no residual degrees of freedom"), std::string::npos) << e.what();
  }
  options.sigma["Y1"] = 0.1;
  EXPECT_NO_THROW(robustness(saturated, yieldGoals(), top, options));

  EXPECT_THROW(robustness(fit, yieldGoals(), nominal, {.sigma = {{"Y7", 1.0}}, .progress = {}}), UnknownName);
  EXPECT_THROW(robustness(fit, yieldGoals(), nominal, {.sigma = {{"Y1", -1.0}}, .progress = {}}), InvalidArgument);
  EXPECT_THROW(robustness(fit, yieldGoals(), nominal, {.sigma = {}, .percentiles = {50, 101}, .progress = {}}),
               InvalidArgument);
  EXPECT_THROW(robustness(fit, yieldGoals(), Optimum{}, RobustnessOptions{}), InvalidArgument);
}

}  // namespace
}  // namespace tavrin
