// The verdict on a model build: each finding follows its threshold or its
// part of the build (transform, reduction, ANOVA, outliers, hierarchy) on
// constructed builds, and the notes come in the order the build was made.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tavrin/verdict.h"

namespace tavrin {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 15 runs, 10 columns, a significant model without lack of fit.
ModelBuild soundBuild() {
  ModelBuild b;
  b.fit.runs = 15;
  b.fit.residualDf = 5;
  b.fit.estimates.resize(10);
  b.anova.model.p = 3.1e-4;
  b.anova.lackOfFit = {"Lack of fit", 3, 0.21, 0.07, 1.3, 0.43};
  for (std::size_t row : {3u, 0u, 7u}) b.diagnostics.runs.push_back({.row = row});
  return b;
}

BoxCox boxCoxAt(double lambda, double lower, double upper, double recommended, const char* name) {
  BoxCox c;
  c.lambda = lambda;
  c.lower = lower;
  c.upper = upper;
  c.recommended = recommended;
  c.recommendation = name;
  return c;
}

ReductionStep step(const char* term, double p, double deltaAicc, bool forced = false) {
  ReductionStep s;
  s.term = term;
  s.p = p;
  s.deltaAicc = deltaAicc;
  s.forced = forced;
  return s;
}

struct BuildCase {
  const char* name;
  void (*change)(ModelBuild&, ModelRequest&);
  bool warning;
  const char* says;
};

TEST(BuildVerdict, EachFindingFollowsItsThresholdOrItsStep) {
  const BuildCase cases[] = {
      {"sound", [](ModelBuild&, ModelRequest&) {}, false, "No sign of lack of fit (p = 0.43)"},
      {"lack of fit", [](ModelBuild& b, ModelRequest&) { b.anova.lackOfFit.p = 0.049; }, true,
       "Lack of fit is significant (p = 0.049)"},
      {"lack of fit just absent", [](ModelBuild& b, ModelRequest&) { b.anova.lackOfFit.p = 0.051; }, false,
       "No sign of lack of fit (p = 0.051)"},
      {"no pure error", [](ModelBuild& b, ModelRequest&) { b.anova.lackOfFitReason = "no setting is repeated"; },
       false, "Lack of fit cannot be tested: no setting is repeated."},
      {"noise", [](ModelBuild& b, ModelRequest&) { b.anova.model.p = 0.0512; }, true,
       "no more than noise would (ANOVA F test p = 0.051)"},
      {"saturated",
       [](ModelBuild& b, ModelRequest&) {
         b.fit.runs = 10;
         b.fit.residualDf = 0;
         b.anova.model.p = kNaN;
         b.anova.lackOfFitReason = "no residual degree of freedom";
       },
       true, "Saturated model: 10 estimates from 10 runs"},
      {"outlier", [](ModelBuild& b, ModelRequest&) { b.diagnostics.runs[1].outlier = true; }, true,
       "Run 1 looks like an outlier"},
      {"not hierarchical", [](ModelBuild& b, ModelRequest&) { b.fit.hierarchy = "A:C lacks C"; }, true,
       "not hierarchical (A:C lacks C)"},
      {"log chosen by Box-Cox",
       [](ModelBuild& b, ModelRequest&) {
         b.boxCox = boxCoxAt(0.123, -0.314, 0.552, 0.0, "log");
         b.transform = PowerTransform{0.0};
       },
       false, "Box-Cox puts λ at 0.123 (95 % interval -0.314 .. 0.552) and recommends the log transform. The "
              "model is fitted to log y"},
      {"Box-Cox keeps the response",
       [](ModelBuild& b, ModelRequest&) { b.boxCox = boxCoxAt(0.87, 0.41, 1.38, 1.0, "none"); }, false,
       "(95 % interval 0.41 .. 1.38), which holds 1: the response is modelled as measured."},
      {"a power asked by name", [](ModelBuild& b, ModelRequest&) { b.transform = PowerTransform{-1.0}; }, false,
       "fitted to the inverse of y"},
      {"dropped by p",
       [](ModelBuild& b, ModelRequest& r) {
         r.reduction.pToRemove = 0.15;
         b.reduction = Reduction{{step("A:B", 0.4137, kNaN), step("B^2", 0.6241, kNaN)}, {}};
       },
       false, "Backward elimination dropped A:B (p = 0.41) and B^2 (p = 0.62): each had a partial-test p above 0.15"},
      {"dropped by AICc",
       [](ModelBuild& b, ModelRequest& r) {
         r.reduction.criterion = ReductionOptions::Aicc;
         b.reduction = Reduction{{step("C^2", 0.31, -1.934)}, {}};
       },
       false, "dropped C^2 (AICc -1.93): each removal lowered AICc"},
      {"none dropped",
       [](ModelBuild& b, ModelRequest& r) {
         r.reduction.pToRemove = 0.05;
         b.reduction = Reduction{};
       },
       false, "Backward elimination dropped no term: every remaining candidate has p ≤ 0.05."},
      {"forced out",
       [](ModelBuild& b, ModelRequest&) { b.reduction = Reduction{{step("C", 0.02, kNaN, true)}, {}}; }, false,
       "C was removed as asked. Backward elimination dropped no term"},
  };
  for (const BuildCase& c : cases) {
    ModelBuild build = soundBuild();
    ModelRequest request;
    c.change(build, request);
    const Verdict v = buildVerdict(build, request);
    EXPECT_EQ(v.warning, c.warning) << c.name << ": " << v.text;
    EXPECT_NE(v.text.find(c.says), std::string::npos) << c.name << ": " << v.text;
  }
}

TEST(BuildVerdict, WarnsFirstThenTellsTheTransformTheReductionAndTheLackOfFit) {
  ModelBuild build = soundBuild();
  build.diagnostics.runs[0].outlier = true;
  build.boxCox = boxCoxAt(0.49, 0.12, 0.91, 0.5, "square root");
  build.transform = PowerTransform{0.5};
  build.reduction = Reduction{{step("A:C", 0.77, kNaN)}, {}};
  const Verdict v = buildVerdict(build, {});
  ASSERT_EQ(v.findings.size(), 4u) << v.text;
  EXPECT_EQ(v.findings[0].rfind("Run 4 looks like an outlier", 0), 0u) << v.findings[0];
  EXPECT_EQ(v.findings[1].rfind("Box-Cox puts λ at 0.49", 0), 0u) << v.findings[1];
  EXPECT_EQ(v.findings[2].rfind("Backward elimination dropped A:C (p = 0.77)", 0), 0u) << v.findings[2];
  EXPECT_EQ(v.findings[3].rfind("No sign of lack of fit", 0), 0u) << v.findings[3];
}

}  // namespace
}  // namespace tavrin
