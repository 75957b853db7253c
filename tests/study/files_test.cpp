// Round trips of the run sheet and the study file, and refusal of bad
// input with line and column, leaving the study unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>

#include "same_bits.h"
#include "study/csv.h"
#include "study/scratch_folder.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// Unicode names and units, extra centre runs, extreme finite values and missing ones.
Study unicodeStudy() {
  Study study(DesignKind::BoxBehnken,
              {{"Température", -0.7, 0.1, "°C"}, {"时间", 1e-300, 3e-300, "分"}, {"Druck \"p\"", 0.1, 0.7, "bar"}},
              {{"Ausbeute", "%"}, {"Reinheit μ", ""}}, {.seed = 0xDEADBEEFCAFEULL, .extraCenterRuns = 2});
  const double values[] = {1e308, 5e-324, -0.0, 0.1, -1.7976931348623157e308, 1e7 + 0.1, 2.2250738585072014e-308};
  for (int id = 1; id <= 15; ++id) {
    study.setResult(id, "Ausbeute", values[id % 7] * (id % 2 ? 1 : -1));
    if (id % 5 != 0) study.setResult(id, "Reinheit μ", std::nextafter(0.3 * id, 1.0));
  }
  return study;
}

void expectSameBits(const Study& a, const Study& b) {
  ASSERT_EQ(a.results().rows(), b.results().rows());
  for (std::size_t r = 0; r < a.results().rows(); ++r)
    for (std::size_t j = 0; j < a.results().cols(); ++j)
      EXPECT_TRUE(sameBits(a.results()(r, j), b.results()(r, j))) << "run " << r + 1 << ", response " << j;
  EXPECT_TRUE(a == b);
}

TEST(RunSheet, HeaderAndRowsInExecutionOrder) {
  Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, "g"}, {"B", 1, 2, ""}}, {{"Y \"q\"", "%"}}, {.seed = 4});
  study.setResult(study.plan().executionOrder[0], "Y \"q\"", 0.1);
  const std::string sheet = study.runSheet();
  const std::string firstId = std::to_string(study.plan().executionOrder[0]);
  EXPECT_EQ(sheet.substr(0, sheet.find("\r\n")), "run_id,run_order,A [g],B,\"Y \"\"q\"\" [%]\"");
  const std::string row1 = sheet.substr(sheet.find("\r\n") + 2);
  EXPECT_EQ(row1.substr(0, row1.find("\r\n")).substr(0, firstId.size() + 3), firstId + ",1,");
  EXPECT_EQ(row1.substr(0, row1.find("\r\n")).substr(row1.find("\r\n") - 4), ",0.1");
}

// A field is quoted when a spreadsheet would otherwise split it or trim it.
TEST(RunSheet, FieldsAreQuotedWhereTheyMustBe) {
  EXPECT_EQ(csv::escape("Yield %"), "Yield %");
  EXPECT_EQ(csv::escape("a,b"), "\"a,b\"");
  EXPECT_EQ(csv::escape(" lead"), "\" lead\"");
  EXPECT_EQ(csv::escape("trail "), "\"trail \"");
}

TEST(RunSheet, ReadsByRunIdWithFreeColumnsBomAndQuotes) {
  Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}, {"B", 1, 2, ""}}, {{"Yield", "%"}, {"Purity", ""}},
              {.seed = 4});
  study.setResult(2, "Purity", 5.0);
  study.setResult(3, "Purity", 6.0);
  study.setResult(4, "Yield", 6.0);
  std::istringstream in(
      "\xEF\xBB\xBF,Yield [%],run_id,\"B\"\n"
      ",\"1.5\",3,\"1\"\r\n"
      "\r\n"
      ",,,\n"
      ",+2e-1,1,\n"
      ",,4,\n");
  study.readResults(in, "lab.csv");
  EXPECT_EQ(study.result(3, "Yield"), 1.5);
  EXPECT_EQ(study.result(1, "Yield"), 0.2);
  EXPECT_TRUE(std::isnan(study.result(4, "Yield")));   // an empty cell clears
  EXPECT_EQ(study.result(3, "Purity"), 6.0);           // an absent column keeps results
  EXPECT_EQ(study.result(2, "Purity"), 5.0);
}

TEST(RunSheet, BadInputNamesLineAndColumnAndChangesNothing) {
  const struct {
    const char* label;
    const char* text;
    std::size_t line, column;
    const char* mention;
  } cases[] = {
      {"extra field", "run_id,Yield\n1,2.5\n2,2,5x\n", 3, 0, "the row has 3 fields; the header has 2"},
      {"not a number", "run_id,Yield\n1,2.5\n2,abc\n", 3, 3, "\"abc\" for response \"Yield\" is not a finite number"},
      {"infinite", "Yield,run_id\n-inf,1\n", 2, 1, "\"-inf\" for response \"Yield\" is not a finite number"},
      {"unknown run", "run_id,Yield\n1,2.5\n10,1\n", 3, 1, "run id \"10\" is not a run of the study; run ids are 1..9"},
      {"fractional run", "run_id,Yield\n1.5,2\n", 2, 1, "is not a run of the study"},
      {"twice", "run_id,Yield\n1,2.5\n2,3\n1,4\n", 4, 1, "run 1 is given twice; it was first given on line 2"},
      {"no run_id", "id,Yield\n1,2\n", 1, 0, "no \"run_id\" column; the sheet needs one"},
      {"two run_id", "run_id,run_id\n", 1, 8, "a second column \"run_id\" (the first is column 1)"},
      {"unterminated", "run_id,Yield\n1,\"2.5\n2,3\n", 2, 3, "no closing quote"},
      {"text after quote", "run_id,Yield\n1,\"2.5\"x\n", 2, 8, "after a closing quote"},
      {"after a quoted é", "run_id,Yield\n1,\"é\"x\n", 2, 6, "after a closing quote"},
      {"nan", "run_id,Yield\n1,nan\n", 2, 3, "\"nan\" for response \"Yield\" is not a finite number"},
      {"stray quote", "run_id,Yield\n1,2\"5\n", 2, 4, "a quote inside an unquoted field"},
      {"column of UTF-8", "run_id,é,Yield\n1,,x\n", 1, 8, "column \"é\" is not a response or factor of the study"},
      {"text under no header", "run_id,,Yield\n1,,2\n2,x,3\n", 3, 3, "in a column without a header"},
      {"empty", "", 0, 0, "empty"},
  };
  for (const auto& c : cases) {
    Study study(DesignKind::BoxBehnken, {{"A", 0.1, 0.7, ""}, {"B", 1, 2, ""}}, {{"Yield", ""}}, {.seed = 4});
    study.setResult(1, "Yield", 0.1);
    const Study before = study;
    std::istringstream in(c.text);
    try {
      study.readResults(in, "lab.csv");
      ADD_FAILURE() << c.label << ": accepted";
    } catch (const ParseError& e) {
      EXPECT_EQ(e.line(), c.line) << c.label << ": " << e.what();
      EXPECT_EQ(e.column(), c.column) << c.label << ": " << e.what();
      EXPECT_EQ(e.source(), "lab.csv");
      EXPECT_NE(std::string(e.what()).find(c.mention), std::string::npos) << c.label << ": " << e.what();
    }
    EXPECT_TRUE(study == before) << c.label;
  }
}

TEST(StudyFile, RoundTripsBitForBitAsTheRunSheetDoes) {
  const Study original = unicodeStudy();
  const std::string text = original.toJson();
  Study copy = Study::fromJson(text);
  expectSameBits(original, copy);
  EXPECT_EQ(copy.factors()[1].low, 1e-300);
  EXPECT_EQ(copy.factors()[0].unit, "°C");
  EXPECT_EQ(copy.plan().seed, 0xDEADBEEFCAFEULL);
  EXPECT_EQ(copy.toJson(), text);
  for (int id = 1; id <= 15; ++id) copy.setResult(id, "Ausbeute", 42.0);  // overwritten by the sheet
  std::istringstream sheet(original.runSheet());
  copy.readResults(sheet, "sheet.csv");
  expectSameBits(original, copy);

  const testing::ScratchFolder folder;
  try {
    (void)Study::load(folder / "absent.json");
    FAIL();
  } catch (const FileError& e) {
    EXPECT_TRUE(e.notFound());
  }
  // A folder is no study file: a FileError naming it, not a stream's failure.
  try {
    (void)Study::load(folder.path().string());
    FAIL();
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), folder.path().string());
    EXPECT_FALSE(e.notFound());
  }
}

ParseError refusal(const std::string& text) {
  try {
    (void)Study::fromJson(text, "s.json");
  } catch (const ParseError& e) {
    return e;
  }
  ADD_FAILURE() << "accepted";
  return ParseError("s.json", 0, 0, "accepted");
}

TEST(StudyFile, TruncatedOrCorruptedFilesAreRefused) {
  const std::string text = unicodeStudy().toJson();
  // Cut inside the results: the parser stops at the end of the text.
  const std::string truncated = text.substr(0, text.size() - 40);
  const ParseError cut = refusal(truncated);
  EXPECT_EQ(cut.line(), 1 + static_cast<std::size_t>(std::count(truncated.begin(), truncated.end(), '\n')));
  EXPECT_GT(cut.column(), 0u);
  // A number beyond double's range is refused where it stands: "version": 5e400.
  std::string huge = text;
  huge.insert(huge.find("\"version\": ") + std::strlen("\"version\": ") + 1, "e400");
  const ParseError big = refusal(huge);
  EXPECT_EQ(big.line(), 3u);
  EXPECT_EQ(big.column(), 14u);
  EXPECT_NE(std::string(big.what()).find("e400"), std::string::npos) << big.what();
  // The execution order's first run id put in place of its second.
  const std::string order = "\"executionOrder\": [\n    ";
  const std::size_t first = text.find(order) + order.size();
  const std::string firstId = text.substr(first, text.find(',', first) - first);
  const std::size_t second = text.find(",\n    ", first) + std::strlen(",\n    ");
  const std::string secondId = text.substr(second, text.find(',', second) - second);
  const std::tuple<std::string, std::string, const char*> edits[] = {
      {order + firstId + ",\n    " + secondId + ",", order + firstId + ",\n    " + firstId + ",", "executionOrder[1]"},
      {"\"box-behnken\"", "\"plackett\"", "study.kind"},
      {"\"low\": -0.7", "\"low\": \"-0.7\"", "factors[0].low: is not a number"},
      {"\"extraCenterRuns\": 2", "\"extraCenterRuns\": -2", "extraCenterRuns"},
      {"\"name\": \"时间\"", "\"name\": \"Druck \\\"p\\\"\"", "already the name"},
      {order, order + "1,\n    ", "executionOrder"},
      {"\"results\": [\n    [\n      ", "\"results\": [\n    [\n      \"x\", ", "results[0]"},
  };
  for (const auto& [from, to, mention] : edits) {
    std::string edited = text;
    ASSERT_NE(edited.find(from), std::string::npos) << from;
    edited.replace(edited.find(from), from.size(), to);
    EXPECT_NE(std::string(refusal(edited).what()).find(mention), std::string::npos) << to;
  }
}

// Study files and run sheets read and write numbers with a point whatever
// the C locale says.
TEST(StudyFile, NumbersDoNotFollowADecimalCommaLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
  const Study original = unicodeStudy();
  const std::string text = original.toJson();
  Study copy = Study::fromJson(text);
  std::istringstream sheet("run_id,Ausbeute\n3,0.25\n");
  copy.readResults(sheet, "sheet.csv");
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_NE(text.find("\"low\": -0.7"), std::string::npos);
  EXPECT_EQ(copy.result(3, "Ausbeute"), 0.25);
  copy.setResult(3, "Ausbeute", original.result(3, "Ausbeute"));
  expectSameBits(original, copy);
}

}  // namespace
}  // namespace tavrin
