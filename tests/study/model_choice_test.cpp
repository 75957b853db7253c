// The model chosen per response: kept in the study file bit for bit, used
// by the study's fit, and refused, naming the field, when it does not fit
// the study.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "refused.h"
#include "tavrin/model_building.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// Three factors, every result positive and not exact in binary; Purity
// depends on A and B only, so a reduction drops C and its terms.
Study measuredStudy() {
  Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, "g"}, {"B", 1.3, 2.9, ""}, {"C", -0.7, 0.3, ""}},
              {{"Yield", "%"}, {"Purity", ""}}, {.seed = 11, .extraCenterRuns = 3});
  const Plan& plan = study.plan();
  for (std::size_t r = 0; r < plan.runCount(); ++r) {
    const double a = plan.coded(r, 0), b = plan.coded(r, 1), c = plan.coded(r, 2);
    const double wobble = 0.03 * std::sin(7.3 * static_cast<double>(r) + 0.4);
    const int id = static_cast<int>(r) + 1;
    study.setResult(id, "Yield", 71.3 + 4.1 * a - 2.7 * b + 1.9 * c - 3.3 * a * a + 1.1 * a * b + 10 * wobble);
    study.setResult(id, "Purity", std::exp(0.7 + 0.31 * a - 0.22 * b - 0.17 * a * a + wobble));
  }
  return study;
}

TEST(ModelChoice, RoundTripsThroughTheFileAndDrivesTheFit) {
  Study study = measuredStudy();
  ModelRequest request;
  request.transform = "log";
  request.reduce = true;
  request.reduction.forceIn = {"B"};
  const ModelBuild build = chooseModel(study, "Purity", request);
  const ModelChoice& chosen = study.modelChoice("Purity");
  EXPECT_EQ(chosen.power, 0.0);
  EXPECT_EQ(chosen.terms, formatModelTerms(build.fit.terms, build.fit.factorNames));
  ASSERT_LT(build.fit.terms.size(), quadratic::termCount(3));

  const Study loaded = Study::fromJson(study.toJson());
  EXPECT_TRUE(loaded.modelChoice("Purity") == chosen);
  EXPECT_TRUE(loaded.modelChoice("Yield").isDefault());
  EXPECT_TRUE(loaded == study);
  const Fit before = study.fit();
  const Fit after = loaded.fit();
  EXPECT_EQ(after.models[1].coded, before.models[1].coded);
  // The fit is the saved model's, on the log scale, with zeros for the dropped terms.
  EXPECT_EQ(after.models[1].power, 0.0);
  for (std::size_t k = 0; k < quadratic::termCount(3); ++k) {
    if (build.fit.terms.contains(k))
      EXPECT_NEAR(after.models[1].coded[k], build.fit.coefficients[k], 1e-12) << k;
    else
      EXPECT_EQ(after.models[1].coded[k], 0.0) << k;
  }
  EXPECT_NEAR(after.models[1].coded[0], 0.7, 0.05);
}

TEST(ModelChoice, RefusalsNameTheFieldAndChangeNothing) {
  Study study = measuredStudy();
  const std::string before = study.toJson();
  const struct {
    const char* name;
    void (*edit)(ModelChoice&);
    const char* field;
  } cases[] = {
      {"unknown factor", [](ModelChoice& c) { c.terms = "A B D"; }, "models.Yield.terms"},
      {"malformed term", [](ModelChoice& c) { c.model = "A B A^3"; }, "models.Yield.model"},
      {"unknown transform", [](ModelChoice& c) { c.transform = "cube"; }, "models.Yield.transform"},
      {"power of another transform", [](ModelChoice& c) { c.transform = "log", c.power = 0.5; }, "models.Yield.power"},
      {"p to remove", [](ModelChoice& c) { c.reduction.pToRemove = 1.5; }, "models.Yield.reduction.pToRemove"},
      {"forced term", [](ModelChoice& c) { c.reduction.forceOut = {"A", "Z"}; }, "models.Yield.reduction.forceOut[1]"},
  };
  for (const auto& c : cases) {
    ModelChoice choice;
    c.edit(choice);
    EXPECT_EQ(testing::refused([&] { study.setModelChoice("Yield", choice); }).field, c.field) << c.name;
    EXPECT_EQ(study.toJson(), before) << c.name;
  }
}

TEST(ModelChoice, AFileWhoseChoiceNamesNoFactorIsRefusedWithItsPath) {
  Study study = measuredStudy();
  ModelRequest request;
  request.model = "A B A^2";
  chooseModel(study, "Yield", request);
  std::string text = study.toJson();
  const std::string from = "\"terms\": \"A B A^2\"";
  ASSERT_NE(text.find(from), std::string::npos);
  text.replace(text.find(from), from.size(), "\"terms\": \"A B Q^2\"");
  EXPECT_TRUE(testing::refused<ParseError>([&] { (void)Study::fromJson(text, "s.json"); }).mentions("models.Yield.terms"));
}

TEST(ModelChoice, ATransformOfANonPositiveResponseIsRefusedByTheFit) {
  Study study = measuredStudy();
  ModelChoice log;
  log.transform = "log";
  log.power = 0.0;
  study.setModelChoice("Yield", log);
  study.setResult(5, "Yield", -0.3);
  const testing::Refusal r = testing::refused<InvalidArgument>([&] { (void)study.fit(); });
  EXPECT_EQ(r.field, "models.Yield.transform");
  EXPECT_TRUE(r.mentions("run 5")) << r.what;
}

}  // namespace
}  // namespace tavrin
