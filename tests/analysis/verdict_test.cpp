// The plain-language verdicts: each finding is chosen by its threshold on
// constructed fit reports, and the study overload finds a planted outlier
// by its run id and a saturated plan.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tavrin/error.h"
#include "tavrin/verdict.h"

namespace tavrin {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

TEST(ModelVerdict, NotesATopOrBottomOutsideTheRegionButNotASaddle) {
  Canonical c;
  c.hasStationaryPoint = true;
  c.distanceFromCenter = 1.7321;
  for (const auto& [kind, noted] : {std::pair{Canonical::Maximum, true}, std::pair{Canonical::Minimum, true},
                                   std::pair{Canonical::Saddle, false}}) {
    c.kind = kind;
    const Verdict v = modelVerdict(goodReport(), Diagnostics{}, c);
    EXPECT_FALSE(v.warning);
    EXPECT_EQ(v.text.find("lies outside the region studied (1.7 coded units") != std::string::npos, noted) << v.text;
  }
  c.kind = Canonical::Maximum;
  c.insideRegion = true;
  EXPECT_EQ(modelVerdict(goodReport(), Diagnostics{}, c).text.find("outside"), std::string::npos);
}

TEST(ModelVerdict, RefusesAnOutlierTestOfOtherRuns) {
  Diagnostics d;
  d.runs.push_back({.row = 12});
  EXPECT_THROW(modelVerdict(goodReport(), d), InvalidArgument);
}

// Three factors, Box-Behnken with extra centre runs; a smooth response
// with small uneven noise, and one run recorded far off.
TEST(ModelVerdict, FindsAPlantedOutlierInAStudyAndASaturatedPlan) {
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

  Study saturated(DesignKind::Rechtschaffner, {{"A", 0.1, 0.7, ""}, {"B", 1, 2, ""}, {"C", 3, 4, ""}, {"D", 5, 6, ""}},
                  {{"y", ""}}, {.seed = 3});
  for (std::size_t r = 0; r < saturated.plan().runCount(); ++r)
    saturated.setResult(static_cast<int>(r) + 1, "y", 0.1 * static_cast<double>(r * r % 7) + 0.3);
  EXPECT_NE(modelVerdict(saturated, saturated.fit(), 0).text.find("Saturated model"), std::string::npos);
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

TEST(Meanings, EveryKeyIsUniqueAndFoundAndAnUnknownOneIsRefused) {
  const auto& all = statisticMeanings();
  for (const Meaning& m : all) {
    EXPECT_EQ(&meaningOf(m.key), &m);
    EXPECT_FALSE(m.text.empty());
  }
  EXPECT_THROW(meaningOf("rsquared"), UnknownName);
}

}  // namespace
}  // namespace tavrin
