// The plan file: a study goes out and comes back, a file the plan object
// wrote comes in, and what the file cannot carry is refused.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>

#include "refused.h"
#include "study/scratch_folder.h"
#include "tavrin/study.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

class PlanFile : public ::testing::Test {
 protected:
  void SetUp() override {
    locale_ = std::setlocale(LC_CTYPE, nullptr);
  }
  void TearDown() override {
    std::setlocale(LC_CTYPE, locale_.c_str());
  }
  std::string path(const char* name) const { return folder_ / name; }

  testing::ScratchFolder folder_;
  std::string locale_;
};

TEST_F(PlanFile, ExportsAndImportsAStudy) {
  Study study(DesignKind::BoxBehnken, {{"Temp", 150, 210, "°C"}, {"Time", 10.5, 50.25, "min"}, {"pH", 0.1, 0.7, ""}},
              {{"Yield", "%"}}, {.seed = 3});
  for (int id = 1; id <= 13; ++id) study.setResult(id, "Yield", 0.1 * id + 80.0);
  const std::string file = path("plan.txt");
  study.exportPlanFile(file);
  const Study back = Study::importPlanFile(file, {.seed = 3});
  EXPECT_EQ(back.kind(), DesignKind::BoxBehnken);
  ASSERT_EQ(back.factors().size(), 3u);
  EXPECT_EQ(back.factors()[1].name, "Time");
  EXPECT_EQ(back.factors()[1].low, 10.5);
  EXPECT_EQ(back.factors()[1].high, 50.25);
  EXPECT_TRUE(back.factors()[0].unit.empty());  // the plan file holds no units
  // Results come back as the file's 6-digit text reads, not as float noise.
  for (int id = 1; id <= 13; ++id) EXPECT_EQ(back.result(id, "Yield"), std::round((0.1 * id + 80.0) * 10) / 10);
  EXPECT_TRUE(back.plan().natural == study.plan().natural);
}

TEST_F(PlanFile, ImportsAFileThePlanObjectWrote) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  CTavrin object(CTavrin::RechschafnerPlan);
  const wchar_t* names[] = {L"Température", L"B", L"C", L"D"};
  for (const wchar_t* name : names) object.planAddDesignVar(name, 0.25, 0.75);
  object.planAddObjective(L"Ausbeute");
  ASSERT_EQ(object.planCompute().code, 0u);
  for (unsigned int k = 1; k <= 15; ++k) object.planSetObjectiveValue(L"Ausbeute", k, 1.5 * k);
  ASSERT_EQ(object.modelCompute().code, 0u);
  const std::string file = path("object.txt");
  ASSERT_EQ(object.Save(file.c_str(), 1).code, 0u);
  const Study study = Study::importPlanFile(file, {.seed = 1, .extraCenterRuns = 1});
  EXPECT_EQ(study.kind(), DesignKind::Rechtschaffner);
  EXPECT_EQ(study.factors()[0].name, "Température");
  EXPECT_EQ(study.result(15, "Ausbeute"), 22.5);
  EXPECT_EQ(study.missing().size(), 1u);  // the extra centre run
  EXPECT_EQ(study.missing()[0].runId, 16);
}

TEST_F(PlanFile, RefusesWhatTheFileCannotCarry) {
  const auto make = [](std::vector<Factor> factors, std::vector<Response> responses, int extra = 0) {
    Study study(DesignKind::BoxBehnken, std::move(factors), std::move(responses), {.seed = 1, .extraCenterRuns = extra});
    for (int id = 1; id <= static_cast<int>(study.plan().runCount()); ++id)
      for (const Response& r : study.responses()) study.setResult(id, r.name, 1.0);
    return study;
  };
  const std::vector<Factor> ok = {{"A", 0.1, 0.7, ""}, {"B", 1, 2, ""}};
  Study augmented = make(ok, {{"Y", ""}});
  augmented.augment({.runs = 2, .criterion = Criterion::D, .model = "", .seed = 1, .cloud = {}});
  std::setlocale(LC_CTYPE, "C");
  const struct {
    const char* label;
    Study study;
    const char* mention;
  } cases[] = {
      {"composite", Study(DesignKind::CentralComposite, ok, {{"Y", ""}}, {.seed = 1}), "ccd design"},
      {"augmented", augmented, "runs were added"},
      {"blank", make({{"Reaction Time", 1, 2, ""}, {"B", 1, 2, ""}}, {{"Y", ""}}), "holds a blank"},
      {"locale", make(ok, {{"Ausbeute μ", ""}}), "has no encoding for it"},
      {"one extra centre", make(ok, {{"Y", ""}}, 1), "the 1 extra centre run;"},
      {"range digits", make({{"A", 0.1234567, 0.7, ""}, {"B", 1, 2, ""}}, {{"Y", ""}}), "6 significant digits"},
      {"heading", make({{std::string(64, 'a'), 1, 2, ""}, {std::string(64, 'b'), 1, 2, ""},
                        {std::string(64, 'c'), 1, 2, ""}, {std::string(64, 'd'), 1, 2, ""}},
                       {{std::string(64, 'y'), ""}}),
       "heading line would be 327 bytes"},
  };
  Study huge = make(ok, {{"Y", ""}});
  huge.setResult(3, "Y", 1e39);
  Study missing = huge;
  missing.setResult(3, "Y", std::numeric_limits<double>::quiet_NaN());
  for (const auto& [label, study, mention] : {std::tuple{"huge", &huge, ""}, std::tuple{"missing", &missing,
                                                                      "1 result is missing (the first: run 3"}})
    EXPECT_TRUE(testing::refused<InvalidArgument>([&] { study->exportPlanFile(path("refused.txt")); }).mentions(mention))
        << label;
  for (const auto& c : cases) {
    const testing::Refusal r = testing::refused<InvalidArgument>([&] { c.study.exportPlanFile(path("refused.txt")); });
    EXPECT_TRUE(r.mentions(c.mention)) << c.label << ": " << r.what;
    EXPECT_FALSE(std::filesystem::exists(path("refused.txt"))) << c.label;
  }
  // Under a UTF-8 locale the non-ASCII name goes through.
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_NO_THROW(make(ok, {{"Ausbeute_μ", ""}}).exportPlanFile(path("utf8.txt")));
  EXPECT_EQ(Study::importPlanFile(path("utf8.txt")).responses()[0].name, "Ausbeute_μ");
}

// Under a decimal-comma locale numbers are still read as the file and the
// study write them: with a point.
TEST_F(PlanFile, ExportsUnderADecimalCommaLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
  Study study(DesignKind::BoxBehnken, {{"A", 0.5, 0.7, ""}, {"B", -1.25, 2.5, ""}, {"C", 0.1, 0.3, ""}}, {{"Y", ""}},
              {.seed = 5});
  for (int id = 1; id <= 13; ++id) study.setResult(id, "Y", 0.3 * id);
  const std::string file = path("comma.txt");
  const testing::Refusal exported = testing::refused([&] { study.exportPlanFile(file); });
  const Study back = exported.accepted ? Study::importPlanFile(file, {.seed = 5}) : study;
  std::setlocale(LC_ALL, before.c_str());
  ASSERT_TRUE(exported.accepted) << exported.what;
  EXPECT_EQ(back.factors()[0].low, 0.5);
  EXPECT_EQ(back.factors()[1].low, -1.25);
  EXPECT_EQ(back.result(13, "Y"), 3.9);
}

}  // namespace
}  // namespace tavrin
