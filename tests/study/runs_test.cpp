// The runs table: settings columns checked against each run (or recorded
// as the actual settings), unknown columns refused with suggestions, the
// fit on the actual settings, and studies made from existing data.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "refused.h"
#include "study/not_a_number.h"
#include "tavrin/model_building.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// Settings 0.15..0.35 and 10..50: the planned 0.15 is 0.15000000000000002.
Study twoFactorStudy() {
  return Study(DesignKind::BoxBehnken, {{"A", 0.15, 0.35, "g"}, {"B", 10, 50, ""}}, {{"Yield", "%"}, {"Purity", ""}},
               {.seed = 11});
}

// The refusal of a sheet, "" when read; a refused sheet must change nothing.
std::string refusal(Study& study, const std::string& text) {
  const Study before = study;
  std::istringstream in(text);
  const testing::Refusal r = testing::refused<ParseError>([&] { study.readResults(in, "lab.csv"); });
  if (r.accepted) return {};
  EXPECT_TRUE(study == before) << "a refused file changed the study";
  return r.what;
}

TEST(SettingsColumns, PrintedRoundingIsAcceptedAndAnyOtherMismatchRefused) {
  // Run 6 is at A = 0.15000000000000002 (coded -1) and B = 30.
  const struct {
    const char* column;
    const char* text;
    const char* mention;  // empty when accepted
  } cases[] = {
      {"A [g]", "0.15000000000000002", ""},
      {"A [g]", "0.15", ""},
      {"A [g]", "0.2", ""},  // one decimal, rounding up
      {"A [g]", "0.1", ""},  // and down
      {"A [g]", "1.5e-1", ""},
      {"A [g]", "", ""},  // an empty cell is not checked
      {"B", "30", ""},
      {"A [g]", "0.152", "run 6, factor \"A\": the file has 0.152, the study has 0.15."},
      {"A [g]", "0.25", "the file has 0.25, the study has 0.15. Are the rows under the right run ids?"},
      {"B", "31", "factor \"B\": the file has 31, the study has 30"},
      {"B", "4e1", "the file has 4e1"},  // a coarse exponent is still bounded
      {"B", "3O", "\"3O\" for factor \"B\" is not a finite number"},
  };
  for (const auto& c : cases) {
    Study study = twoFactorStudy();
    ASSERT_EQ(study.plan().coded(5, 0), -1.0);
    ASSERT_EQ(study.plan().natural(5, 1), 30.0);
    const std::string message = refusal(study, std::string("run_id,") + c.column + "\n6," + c.text + "\n");
    if (std::string(c.mention).empty()) {
      EXPECT_EQ(message, "") << c.text;
    } else {
      EXPECT_NE(message.find(c.mention), std::string::npos) << c.text << ": " << message;
    }
  }
}

// Unknown columns with suggestions at their place, CSV dialects named, and
// cleared rows skipped.
TEST(SettingsColumns, UnknownColumnsAndDialectsAreNamedAndClearedRowsSkipped) {
  const struct {
    const char* text;
    const char* mention;  // empty when accepted
  } cases[] = {
      {"run_id,Yeild\n1,2\n", "lab.csv:1:8: column \"Yeild\" is not a response or factor of the study; did you mean \"Yield [%]\"?"},
      {"run_id,yield\n1,2\n", "did you mean \"Yield [%]\"?"},
      {"run_id,Yield [g]\n1,2\n", "did you mean \"Yield [%]\"?"},
      {"run_id,Purty\n1,2\n", "did you mean \"Purity\"?"},
      {"run_id,Conversion\n1,2\n", "(the columns it knows are \"Yield [%]\", \"Purity\", \"A [g]\", \"B\", \"run_id\")."},
      {"run_id;run_order;A [g];B;Yield [%]\n1;1;0,15;30;2,5\n", "separated by semicolons"},
      {"run_id\trun_order\tYield [%]\n1\t1\t2.5\n", "separated by tabs"},
      {"run_id,Yield [%]\n1,2\xE9\n", "Windows-1252"},
      {"run_id,Yield [%],B\n,,\n1,2.5,50\n,,\n", ""},
  };
  for (const auto& c : cases) {
    Study study = twoFactorStudy();
    const std::string message = refusal(study, c.text);
    if (std::string(c.mention).empty()) {
      EXPECT_EQ(message, "");
      EXPECT_EQ(study.result(1, "Yield"), 2.5);
    } else {
      EXPECT_NE(message.find(c.mention), std::string::npos) << c.text << ": " << message;
    }
  }
}

// y = 1.3 + 0.7 A - 0.02 B + 4.1 A^2 + 0.003 B^2 - 0.11 A B, natural units.
double truth(double a, double b) { return 1.3 + 0.7 * a - 0.02 * b + 4.1 * a * a + 0.003 * b * b - 0.11 * a * b; }

TEST(ActualSettings, AreRecordedUsedByTheFitAndThenChecked) {
  Study study = twoFactorStudy();
  // Runs 7 and 5 were made elsewhere than planned; run 6 as planned, printed rounded.
  std::istringstream made("run_id,A [g],B\n7,0.37,\n5,,11.9\n6,0.15,30\n");
  study.readResults(made, "made.csv", SettingsColumns::RecordActual);
  EXPECT_EQ(study.plan().actual(6, 0), 0.37);
  EXPECT_EQ(study.plan().actual(4, 1), 11.9);
  for (std::size_t r = 0; r < study.plan().runCount(); ++r) EXPECT_EQ(study.plan().deviates(r), r == 6 || r == 4);

  for (int id = 1; id <= 9; ++id) {
    const double* x = study.plan().actual.row(static_cast<std::size_t>(id - 1));
    study.setResult(id, "Yield", truth(x[0], x[1]));
    study.setResult(id, "Purity", 0.5);
  }
  // The quadratic is exact at the actual settings, so the fit returns it.
  const double expected[] = {1.3, 0.7, -0.02, 4.1, 0.003, -0.11};
  for (std::size_t k = 0; k < 6; ++k) EXPECT_NEAR(study.fit().models[0].natural[k], expected[k], 1e-9) << k;

  // The run sheet shows where the runs were made, and reads back.
  Study again = study;
  std::istringstream sheetBack(study.runSheet());
  again.readResults(sheetBack, "sheet.csv");
  EXPECT_TRUE(again == study);
  const std::string message = refusal(study, "run_id,A [g]\n7,0.25\n");
  EXPECT_NE(message.find("the file has 0.25, the study has 0.37 (recorded as made; planned 0.25)"), std::string::npos)
      << message;
  EXPECT_THROW(again.exportPlanFile("unused.tvr"), InvalidArgument);
  // Recording the planned setting again, printed rounded, restores it bit for bit.
  std::istringstream back("run_id,A [g]\n7,0.25\n");
  study.readResults(back, "lab.csv", SettingsColumns::RecordActual);
  EXPECT_FALSE(study.plan().deviates(6));
}

TEST(ActualSettings, ValuesFromAFrameFollowTheSameRules) {
  Study study = twoFactorStudy();
  const double a6 = study.plan().natural(5, 0);
  const Study before = study;
  EXPECT_THROW(study.enterResults({"run_id", "A [g]", "Yield [%]"}, Matrix{{1, 0.25, 80.5}}), InvalidArgument);
  EXPECT_TRUE(study == before);
  study.enterResults({"run_id", "A [g]", "Yield [%]", "Purity"}, Matrix{{6, 0.15, 80.5, kNaN}, {3, kNaN, 81.25, 0.5}});
  EXPECT_EQ(study.result(6, "Yield"), 80.5);
  EXPECT_EQ(study.result(3, "Purity"), 0.5);
  EXPECT_EQ(study.plan().actual(5, 0), a6);
  study.enterResults({"run_id", "A [g]"}, Matrix{{6, 0.14}}, SettingsColumns::RecordActual);
  EXPECT_EQ(study.plan().actual(5, 0), 0.14);
}

TEST(DataStudies, CodeFromTheGivenRangeOrFromTheData) {
  // A rotatable central composite in two factors with three centre runs:
  // axial runs at 1.414 lie outside the coding 0.1..0.7.
  const double a = std::sqrt(2.0);
  std::vector<std::vector<double>> coded = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {-a, 0}, {a, 0},
                                            {0, -a},  {0, a},  {0, 0},  {0, 0}, {0, 0}};
  Matrix settings(coded.size(), 2), results(coded.size(), 1);
  for (std::size_t r = 0; r < coded.size(); ++r) {
    settings(r, 0) = 0.4 + 0.3 * coded[r][0];
    settings(r, 1) = 25 + 5 * coded[r][1];
    results(r, 0) = truth(settings(r, 0), settings(r, 1)) + (r >= 8 ? 0.01 * (static_cast<double>(r) - 9.0) : 0.0);
  }
  const Study coded01 = Study::fromData({{"A", 0.1, 0.7, ""}, {"B", 20, 30, ""}}, {{"Y", ""}}, settings, results, {});
  EXPECT_EQ(coded01.kind(), DesignKind::Imported);
  const std::vector<FactorSpan> span = spans(coded01.plan());
  EXPECT_NEAR(span[0].highCoded, a, 1e-12);
  EXPECT_NEAR(span[1].lowCoded, -a, 1e-12);
  EXPECT_NEAR(span[0].high, 0.4 + 0.3 * a, 1e-12);

  const Study fromData = Study::fromData({{"A", kNaN, kNaN, ""}, {"B", kNaN, kNaN, ""}}, {{"Y", ""}}, settings, results);
  EXPECT_NEAR(fromData.factors()[0].low, 0.4 - 0.3 * a, 1e-12);
  EXPECT_NEAR(fromData.factors()[1].high, 25 + 5 * a, 1e-12);
  EXPECT_EQ(spans(fromData.plan())[0].lowCoded, -1.0);

  // The coding changes the coded coefficients, never the fitted surface.
  const Fit f1 = coded01.fit(), f2 = fromData.fit();
  for (std::size_t k = 0; k < 6; ++k) EXPECT_NEAR(f1.models[0].natural[k], f2.models[0].natural[k], 1e-9) << k;
  EXPECT_TRUE(Study::fromJson(fromData.toJson()) == fromData);
}

TEST(DataStudies, RefuseWhatCannotBeARun) {
  const Matrix settings{{0.1, 1}, {0.7, 2}, {0.4, 3}};
  const Matrix results{{1}, {2}, {3}};
  const struct {
    const char* label;
    std::vector<Factor> factors;
    Matrix settings;
    std::vector<int> blocks;
    const char* mention;
  } cases[] = {
      {"missing setting", {{"A", 0, 1, ""}, {"B", 0, 1, ""}}, Matrix{{0.1, 1}, {kNaN, 2}, {0.4, 3}}, {}, "row 2: the setting is missing"},
      {"constant factor", {{"A", kNaN, kNaN, ""}, {"B", 0, 1, ""}}, Matrix{{0.3, 1}, {0.3, 2}, {0.3, 3}}, {}, "every row has the setting 0.3"},
      {"half a coding", {{"A", 0, kNaN, ""}, {"B", 0, 1, ""}}, settings, {}, "both ends of the coding"},
      {"block 0", {{"A", 0, 1, ""}, {"B", 0, 1, ""}}, settings, {1, 0, 1}, "row 2: block 0"},
      {"wrong width", {{"A", 0, 1, ""}}, settings, {}, "2 columns for 1 factors"},
  };
  for (const auto& c : cases) {
    const testing::Refusal r = testing::refused<InvalidArgument>(
        [&] { (void)Study::fromData(c.factors, {{"Y", ""}}, c.settings, results, c.blocks); });
    EXPECT_TRUE(r.mentions(c.mention)) << c.label << ": " << r.what;
  }
}

// A row a spreadsheet left with every cell cleared is no run; the fit's span
// is that of the runs, here A's highest setting on the second.
TEST(DataStudies, ATableSkipsClearedRowsAndTheFitSpansItsRuns) {
  const std::vector<std::vector<std::string>> rows = {
      {"0.3", "2.5", ""}, {"0.7", "1.5", "x"}, {"", "", ""}, {"0.1", "0.5", ""}};
  const Study study = Study::fromTable({"A", "Y", "note"}, rows, {{"A", 0.1, 0.9, ""}}, {{"Y", ""}});
  ASSERT_EQ(study.plan().runCount(), 3u);
  EXPECT_NEAR(study.fit().span[0].second, 0.5, 1e-12);  // 0.7 coded on 0.1..0.9
}

TEST(ModelData, TakesTheActualSettingsAndTheBlocks) {
  const Matrix settings{{0.1, 1}, {0.7, 1}, {0.1, 3}, {0.7, 3}, {0.4, 2}, {0.4, 2}};
  const Matrix results{{1}, {2}, {3}, {4}, {5}, {6}};
  Study study = Study::fromData({{"A", 0.1, 0.7, ""}, {"B", 1, 3, ""}}, {{"Y", ""}}, settings, results, {1, 1, 1, 2, 2, 2});
  study.enterResults({"run_id", "A"}, Matrix{{5, 0.43}}, SettingsColumns::RecordActual);
  const ModelData data = modelData(study, "Y");
  EXPECT_NEAR(data.coded(4, 0), 0.1, 1e-12);  // (0.43 - 0.4) / 0.3
  EXPECT_EQ(data.coded(5, 0), study.plan().coded(5, 0));
  EXPECT_EQ(data.blocks, (std::vector<int>{1, 1, 1, 2, 2, 2}));
  const Study oneBlock = Study::fromData({{"A", 0.1, 0.7, ""}, {"B", 1, 3, ""}}, {{"Y", ""}}, settings, results);
  EXPECT_TRUE(modelData(oneBlock, "Y").blocks.empty());
}

TEST(StudyFile, AVersionOneFileLoadsWithPlannedRuns) {
  const Study study = Study::load(std::string(TAVRIN_TEST_DATA) + "/study/data/study_version1.json");
  EXPECT_EQ(study.plan().runCount(), 11u);
  EXPECT_EQ(study.plan().executionOrder, executionOrder(11, 7));  // as the file's seed draws it
  for (std::size_t r = 0; r < 11; ++r) {
    EXPECT_FALSE(study.plan().deviates(r));
    EXPECT_EQ(study.plan().blocks[r], 1);
    EXPECT_EQ(study.plan().origins[r], r >= 8 ? RunOrigin::Center : RunOrigin::Cube) << r;
  }
  EXPECT_TRUE(std::isnan(study.result(8, "Impurity")));
  EXPECT_EQ(study.result(11, "Yield"), 85.23);
  EXPECT_NE(study.toJson().find("\"version\": 5"), std::string::npos);
}

}  // namespace
}  // namespace tavrin
