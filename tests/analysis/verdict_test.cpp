// The plain-language verdicts: each finding follows its threshold on constructed reports and builds; a planted
// outlier is named by its run id.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "study/not_a_number.h"
#include "tavrin/error.h"
#include "tavrin/verdict.h"

namespace tavrin {
namespace {

// 12 runs, 6 terms: a good model of a response in %.
FitReport goodReport() {
  FitReport r;
  r.response = "Yield";
  r.unit = "%";
  r.runs = 12;
  r.terms = 6;
  r.residualDf = 6;
  r.sigma = 0.41;
  r.rSquared = 0.9812;
  r.adjustedRSquared = 0.9655;
  r.predictedRSquared = 0.93;
  r.fPValue = 1.3e-5;
  r.lackOfFit = {true, "", 3, 3, 0.3, 0.7, 0.24, 0.86};
  for (int id : {4, 9, 1, 12, 7, 2, 3, 5, 6, 8, 10, 11}) r.diagnostics.push_back({.runId = id});
  return r;
}

struct VerdictCase {
  const char* name;
  void (*change)(FitReport&);
  bool warning;
  const char* says;
};

TEST(ModelVerdict, EachFindingFollowsItsThreshold) {
  const VerdictCase cases[] = {
      // t(0.975, 6) = 2.446912 from tables: 2.446912 * 0.41 * sqrt(1 + 6/12) = 1.2287.
      {"sound", [](FitReport&) {}, false,
       "The model explains 98 % of the variation; a new run is predicted to within about ±1.2 % "
       "(95 % prediction interval). No sign of lack of fit (p = 0.86)."},
      {"lack of fit", [](FitReport& r) { r.lackOfFit.p = 0.049; }, true, "Lack of fit (p = 0.049)"},
      {"lack of fit just absent", [](FitReport& r) { r.lackOfFit.p = 0.051; }, false,
       "No sign of lack of fit (p = 0.051)"},
      {"no pure error",
       [](FitReport& r) { r.lackOfFit = {.available = false, .reason = "no setting is repeated"}; }, false,
       "Lack of fit cannot be tested: no setting is repeated."},
      {"saturated",
       [](FitReport& r) {
         r.runs = 6;
         r.residualDf = 0;
         r.sigma = r.adjustedRSquared = r.predictedRSquared = r.fPValue = kNaN;
         r.lackOfFit = {.available = false, .reason = "no residual degree of freedom"};
       },
       true, "Saturated model: 6 terms from 6 runs"},
      {"two residual df", [](FitReport& r) { r.residualDf = 2; }, true, "Too few runs: only 2 residual degrees"},
      {"three residual df", [](FitReport& r) { r.residualDf = 3; }, false, "The model explains"},
      {"no better than noise", [](FitReport& r) { r.fPValue = 0.21; }, true, "no more than noise would (F test p = 0.21)"},
      {"overfitted", [](FitReport& r) { r.predictedRSquared = 0.7; }, true, "predicted R² 0.7 against R² 0.98"},
      {"gap within the rule", [](FitReport& r) { r.predictedRSquared = 0.79; }, false, "The model explains"},
      {"never 100 %", [](FitReport& r) { r.rSquared = 0.99996; }, false, "explains 99.996 % of"},
  };
  for (const VerdictCase& c : cases) {
    SCOPED_TRACE(c.name);
    FitReport report = goodReport();
    c.change(report);
    const Verdict v = modelVerdict(report, Diagnostics{});
    EXPECT_EQ(v.warning, c.warning) << v.text;
    EXPECT_NE(v.text.find(c.says), std::string::npos) << v.text;
  }
}

TEST(ModelVerdict, NamesTheOutlierByRunIdAndWarnsFirst) {
  Diagnostics d;
  for (std::size_t row = 0; row < 12; ++row) d.runs.push_back({.row = row, .outlier = row == 4});
  d.runs[4].externallyStudentized = 6.3;
  d.runs[4].bonferroniP = 0.0021;
  const Verdict v = modelVerdict(goodReport(), d);
  EXPECT_TRUE(v.warning);
  ASSERT_FALSE(v.findings.empty());
  EXPECT_EQ(v.findings.front().rfind("Run 7 looks like an outlier (studentised residual 6.3, Bonferroni p = 0.0021)", 0),
            0u)
      << v.text;
}

TEST(ModelVerdict, NotesATopOrBottomOutsideTheRegionButNotASaddleOrATopInside) {
  for (const auto& [kind, inside, noted] :
       {std::tuple{Canonical::Maximum, false, true}, std::tuple{Canonical::Minimum, false, true},
        std::tuple{Canonical::Saddle, false, false}, std::tuple{Canonical::Maximum, true, false}}) {
    Canonical c;
    c.hasStationaryPoint = true;
    c.distanceFromCenter = 1.7321;
    c.kind = kind;
    c.insideRegion = inside;
    const Verdict v = modelVerdict(goodReport(), Diagnostics{}, c);
    EXPECT_FALSE(v.warning);
    const char* says = noted ? "lies outside the region studied (1.7 coded units" : "outside";
    EXPECT_EQ(v.text.find(says) != std::string::npos, noted) << v.text;
  }
}

// Three factors, Box-Behnken with extra centre runs; a smooth response
// with small uneven noise, and one run recorded far off.
TEST(ModelVerdict, FindsAPlantedOutlierInAStudy) {
  Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}, {"B", 250.3, 310.9, "K"}, {"C", -3.3, 1.9, ""}},
              {{"y", "mg"}}, {.seed = 11, .extraCenterRuns = 3});
  const Matrix coded = study.plan().coded;
  for (std::size_t r = 0; r < study.plan().runCount(); ++r) {
    const double a = coded(r, 0), b = coded(r, 1), c = coded(r, 2);
    const double noise = 0.03 * std::sin(7.1 * static_cast<double>(r) + 0.3);
    const double planted = r + 1 == 8 ? 2.7 : 0.0;
    study.setResult(static_cast<int>(r) + 1, "y", 3.1 + 0.7 * a - 0.4 * b + 0.2 * c - 0.9 * a * a + 0.3 * a * b + noise + planted);
  }
  const Verdict v = modelVerdict(study, study.fit(), 0);
  EXPECT_TRUE(v.warning);
  EXPECT_NE(v.text.find("Run 8 looks like an outlier"), std::string::npos) << v.text;
  EXPECT_EQ(v.text.find("Run 7 "), std::string::npos) << v.text;
}

TEST(OptimumVerdict, WarnsOfExtrapolationNamingTheFactorAndTheRunsSpan) {
  Fit fit;
  fit.factors = {{"Temperature", 150, 210, "°C"}, {"Time", 10, 50, "min"}};
  fit.span = {{-1.0, 1.0}, {-1.0, 1.0}};
  Optimum optimum;
  Candidate best;
  best.natural = {189.4, 37.1};
  best.coded = {0.3133, 0.355};
  optimum.candidates.push_back(best);
  const Verdict inside = optimumVerdict(fit, optimum);
  EXPECT_FALSE(inside.warning) << inside.text;
  optimum.candidates.front().natural = {216, 37.1};
  optimum.candidates.front().coded = {1.2, 0.355};
  const Verdict outside = optimumVerdict(fit, optimum);
  EXPECT_TRUE(outside.warning);
  EXPECT_NE(outside.text.find("Temperature 216 °C (runs 150 .. 210 °C)"), std::string::npos) << outside.text;
  EXPECT_EQ(outside.text.find("Time"), std::string::npos) << outside.text;
}

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
  return {.lambda = lambda, .lower = lower, .upper = upper, .recommended = recommended, .recommendation = name,
          .gridLambda = {}, .gridLogLikelihood = {}};
}

ReductionStep step(const char* term, double p, double deltaAicc, bool forced = false) {
  return {.term = term, .forced = forced, .p = p, .deltaAicc = deltaAicc, .remaining = {}};
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
