// The plot data: what each view shows agrees with the analysis and the
// optimum it is laid out from, and views that cannot be drawn say why.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "refused.h"
#include "tavrin/error.h"
#include "tavrin/views.h"

namespace tavrin {
namespace {

// A three-factor Box-Behnken study with curved, noisy responses whose
// numbers are not exact in binary.
Study noisyStudy() {
  Study s(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, "g"}, {"B", 12.3, 15.9, "min"}, {"C", -2.5, 4.1, "C"}},
          {{"Yield", "%"}, {"Cost", "EUR"}}, {.seed = 11, .extraCenterRuns = 2});
  for (std::size_t r = 0; r < s.plan().runCount(); ++r) {
    const double* x = s.plan().coded.row(r);
    const double wobble = 0.37 * std::sin(1.7 * static_cast<double>(r) + 0.3);
    const int id = static_cast<int>(r) + 1;
    s.setResult(id, "Yield", 71.3 + 4.1 * x[0] - 2.9 * x[1] + 1.3 * x[0] * x[1] - 3.7 * x[0] * x[0] + wobble);
    s.setResult(id, "Cost", 12.1 + 0.9 * x[2] + 0.4 * x[1] * x[1] - 0.6 * wobble);
  }
  return s;
}

TEST(ProfilerData, TracesPassThroughTheSettingAndCarryTheDesirability) {
  const Fit fit = noisyStudy().fit();
  const std::vector<double> setting = {0.23, 14.1, 0.7};
  const Goal g{.response = "Yield", .kind = Goal::Maximize, .low = 65.1, .high = 76.3};
  Goals goals;
  goals.goals.push_back(g);
  const views::Profiler p = views::profiler(fit, setting, goals, 7);
  ASSERT_EQ(p.traces.size(), 6U);
  ASSERT_EQ(p.desirability.size(), 3U);
  EXPECT_TRUE(p.bandNote.empty());
  for (const views::ProfilerTrace& t : p.traces) {
    // Every trace holds its band around the prediction, and the panel's
    // prediction at the setting is the one the setting reports.
    for (std::size_t k = 0; k < t.x.size(); ++k) EXPECT_TRUE(t.lower[k] < t.value[k] && t.value[k] < t.upper[k]) << k;
    EXPECT_EQ(t.x.front(), fit.factors[t.factor].low);
    EXPECT_EQ(t.x.back(), fit.factors[t.factor].high);
    std::vector<double> at = setting;
    at[t.factor] = t.x[3];
    EXPECT_NEAR(t.value[3], predict(fit, Matrix{{at[0], at[1], at[2]}})(0, t.response), 1e-9);
  }
  // One goal: the overall desirability is that goal's own.
  const double yield = p.atSetting[0].value;
  EXPECT_NEAR(p.overallAtSetting, desirability(g, yield), 1e-12);
  const views::DesirabilityTrace& d = p.desirability[1];
  EXPECT_NEAR(d.overall[2], desirability(g, p.traces[1 * 2 + 0].value[2]), 1e-12);
}

TEST(ProfilerData, ASaturatedModelHasNoBandAndSaysWhy) {
  Study s(DesignKind::Rechtschaffner, {{"A", 0.1, 0.7, ""}, {"B", 1.1, 1.9, ""}, {"C", 2.3, 3.1, ""}, {"D", 0.2, 0.9, ""}},
          {{"Y", ""}});
  for (std::size_t r = 0; r < s.plan().runCount(); ++r) s.setResult(static_cast<int>(r) + 1, "Y", 0.1 * static_cast<double>(r * r) + 0.3);
  const Fit fit = s.fit();
  ASSERT_EQ(fit.models[0].residualDf, 0);
  const views::Profiler p = views::profiler(fit, views::centreSetting(fit), {}, 5);
  EXPECT_FALSE(p.bandNote.empty());
  EXPECT_TRUE(std::isnan(p.traces[0].lower[0]));
  EXPECT_TRUE(p.desirability.empty());
  EXPECT_TRUE(std::isnan(p.overallAtSetting));
  testing::expectRefusal<StateError>([&] { views::residuals(s, "Y"); }, "saturated");
}

TEST(OverlayData, TheMaskHoldsExactlyWhereEveryLimitHolds) {
  const Fit fit = noisyStudy().fit();
  const std::vector<Constraint> limits = {{"Yield", 69.7, INFINITY}, {"Cost", 11.5, 12.6}};
  Optimum opt;
  opt.candidates.push_back({{0.4, 13.0, 1.1}, {}, {}, {}, 0.0, {}});
  const views::Overlay o = views::overlay(fit, limits, 0, 2, {0.3, 13.7, 0.0}, &opt, 31);
  ASSERT_EQ(o.limits.size(), 3U);
  EXPECT_EQ(o.optimum, opt.candidates[0].natural);
  std::size_t inside = 0;
  std::size_t mixed = 0;
  for (std::size_t i = 0; i < o.grid.y.size(); ++i)
    for (std::size_t j = 0; j < o.grid.x.size(); ++j) {
      bool all = true;
      for (const views::Limit& l : o.limits) all = all && (l.lower ? l.value(i, j) >= l.level : l.value(i, j) <= l.level);
      EXPECT_EQ(o.feasible[i * o.grid.x.size() + j] == 1, all) << i << "," << j;
      inside += all ? 1 : 0;
      mixed += all ? 0 : 1;
    }
  // The slice is cut so that the region is neither empty nor everything.
  EXPECT_GT(inside, 0U);
  EXPECT_GT(mixed, 0U);
  EXPECT_DOUBLE_EQ(o.feasibleFraction, static_cast<double>(inside) / static_cast<double>(inside + mixed));
}

TEST(SliceData, SurfaceAndInteractionAgreeWithTheProfiler) {
  const Fit fit = noisyStudy().fit();
  const std::vector<double> held = {0.3, 13.7, 0.9};
  const views::Slice s = views::slice(fit, 0, 0, 1, held, 9);
  const views::Interaction in = views::interaction(fit, 0, 0, 1, held, 9);
  // The interaction's two lines are the surface's first and last rows.
  for (std::size_t j = 0; j < 9; ++j) {
    EXPECT_DOUBLE_EQ(in.atLow[j], s.value(0, j));
    EXPECT_DOUBLE_EQ(in.atHigh[j], s.value(8, j));
  }
  ASSERT_EQ(s.runs.x.size(), fit.runCount());
  EXPECT_EQ(s.runs.observed[4], fit.observations(4, 0));
  EXPECT_NEAR(s.runs.y[4], noisyStudy().plan().actual(4, 1), 1e-12);
}

TEST(ResidualData, ComeFromTheModelBuilderInExecutionOrder) {
  const Study s = noisyStudy();
  const views::Residuals r = views::residuals(s, "Yield");
  const ModelBuild b = buildModel(modelData(s, "Yield"), {});
  ASSERT_EQ(r.runs.size(), s.plan().runCount());
  for (std::size_t k = 0; k < r.runs.size(); ++k) {
    EXPECT_EQ(r.runs[k].order, static_cast<int>(k) + 1);
    EXPECT_EQ(s.plan().executionOrder[k], r.runs[k].runId);
    EXPECT_NEAR(r.runs[k].observed, s.result(r.runs[k].runId, "Yield"), 1e-9);
    EXPECT_EQ(r.runs[k].outlier, b.diagnostics.runs[k].outlier);
  }
}

// Views over two factors of a one-factor study or over one factor twice,
// grids of one step, and any view of a study with a missing or
// non-positive result are refused with the reason.
TEST(PlotRefusals, SayWhyTheViewCannotBeDrawn) {
  Study one(DesignKind::BoxBehnken, {{"T", 0.1, 0.7, ""}}, {{"Y", ""}});
  for (std::size_t r = 0; r < one.plan().runCount(); ++r)
    one.setResult(static_cast<int>(r) + 1, "Y", 0.3 + 0.1 * static_cast<double>(r));
  const Fit single = one.fit();
  testing::expectRefusal<InvalidArgument>([&] { views::slice(single, 0, 0, 1, {0.4}); }, "needs two factors");
  testing::expectRefusal<InvalidArgument>([&] { views::overlay(single, {{"Y", 0.2, INFINITY}}, 0, 1, {0.4}); },
                                 "needs two factors");
  const Fit fit = noisyStudy().fit();
  const std::vector<double> held = {0.3, 13.7, 0.9};
  testing::expectRefusal<InvalidArgument>([&] { views::interaction(fit, 0, 1, 1, held); }, "x and y are both \"B\"");
  testing::expectRefusal<InvalidArgument>([&] { views::slice(fit, 0, 0, 1, held, 1); }, "steps must be between 2 and 401");
  testing::expectRefusal<InvalidArgument>([&] { views::overlay(fit, {}, 0, 1, held); }, "no response has a limit");
  Study partial = noisyStudy();
  partial.setResult(3, "Cost", NAN);
  testing::expectRefusal<StateError>([&] { views::residuals(partial, "Cost"); }, "no result for run 3");
  Study negative = noisyStudy();
  negative.setResult(5, "Cost", -0.3);
  testing::expectRefusal<InvalidArgument>([&] { views::boxCoxProfile(negative, "Cost"); },
                                 "Box-Cox profile of \"Cost\": run 5: the response -0.3 is not positive");
}

}  // namespace
}  // namespace tavrin
