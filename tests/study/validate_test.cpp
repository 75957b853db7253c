// Validation: every rule's failure names the item, and a refused call
// changes nothing.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>

#include "refused.h"
#include "study/not_a_number.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<Factor> threeFactors() {
  return {{"Temperature", 150.3, 210.7, "°C"}, {"Time", 10.1, 49.9, "min"}, {"pH", 6.1, 7.3, ""}};
}

struct Case {
  const char* label;
  void (*edit)(std::vector<Factor>&, std::vector<Response>&);
  const char* mustMention;  // the item and the fault
};

const Case kCases[] = {
    {"empty factor name", [](auto& f, auto&) { f[1].name = ""; }, "factor 2: the name \"\" is empty"},
    {"invalid UTF-8", [](auto& f, auto&) { f[0].name = "Temp\xC3"; }, "factor 1: the name"},
    {"overlong name", [](auto& f, auto&) { f[2].name = std::string(65, 'x'); }, "65 bytes long"},
    {"tab", [](auto& f, auto&) { f[0].name = "Reaction\tTime"; }, "\"Reaction\\tTime\" holds a control"},
    {"newline", [](auto&, auto& r) { r[0].name = "Yield\n"; }, "response 1: the name \"Yield\\n\" holds a control"},
    {"C1 control", [](auto& f, auto&) { f[0].name = "A\xC2\x85"; }, "holds a control character"},
    {"last C1 control", [](auto& f, auto&) { f[0].name = "A\xC2\x9F"; }, "holds a control character"},
    {"comma", [](auto&, auto& r) { r[1].name = "Purity,%"; }, "response 2: the name \"Purity,%\" holds a comma"},
    {"double slash", [](auto& f, auto&) { f[1].name = "mol//L"; }, "factor 2: the name \"mol//L\" holds \"//\""},
    {"leading blank", [](auto& f, auto&) { f[0].name = " A"; }, "factor 1: the name \" A\" has a leading or trailing"},
    {"trailing blank", [](auto&, auto& r) { r[0].name = "Yield "; }, "leading or trailing blank"},
    {"repeated factor", [](auto& f, auto&) { f[2].name = "Time"; }, "factor 3: the name \"Time\" is already the name of factor 2"},
    {"repeated response", [](auto&, auto& r) { r[1].name = "Yield"; }, "response 2: the name \"Yield\" is already"},
    {"run sheet column", [](auto&, auto& r) { r[1].name = "run_id"; }, "response 2: the name \"run_id\" is a column"},
    {"run order column", [](auto& f, auto&) { f[0].name = "run_order"; }, "factor 1: the name \"run_order\" is a column"},
    {"factor named as a response", [](auto&, auto& r) { r[1].name = "pH"; }, "response 2: the name \"pH\" is already the name of factor 3"},
    {"bad unit", [](auto& f, auto&) { f[1].unit = "min//run"; }, "factor 2 \"Time\": the unit \"min//run\" holds"},
    {"low = high", [](auto& f, auto&) { f[1].high = f[1].low; }, "factor 2 \"Time\": low 10.1 is not below high 10.1"},
    {"low > high", [](auto& f, auto&) { std::swap(f[0].low, f[0].high); }, "factor 1 \"Temperature\": low 210.7"},
    {"infinite", [](auto& f, auto&) { f[2].high = kInf; }, "factor 3 \"pH\": the range 6.1..inf is not finite"},
    {"NaN", [](auto& f, auto&) { f[2].low = kNaN; }, "factor 3 \"pH\": the range nan..7.3 is not finite"},
    {"too wide", [](auto& f, auto&) { f[0].low = -1.7e308, f[0].high = 1.7e308; }, "is too wide"},
    {"no response", [](auto&, auto& r) { r.clear(); }, "at least one response"},
    {"factor count", [](auto& f, auto&) { f.resize(8, f[0]); for (int i = 0; i < 8; ++i) f[i].name = "F" + std::to_string(i); },
     "a box-behnken plan cannot have 8 factors; it supports 1-7, 9-12, 16 factors"},
};

TEST(Validation, EveryRuleNamesTheItem) {
  for (const Case& c : kCases) {
    std::vector<Factor> factors = threeFactors();
    std::vector<Response> responses = {{"Yield", "%"}, {"Purity", ""}};
    c.edit(factors, responses);
    const testing::Refusal r =
        testing::refused<InvalidArgument>([&] { validateDefinition(DesignKind::BoxBehnken, factors, responses); });
    EXPECT_TRUE(r.mentions(c.mustMention)) << c.label << ": " << r.what;
    EXPECT_THROW(Study(DesignKind::BoxBehnken, factors, responses, {.seed = 1}), InvalidArgument) << c.label;
  }
}

TEST(Validation, AcceptsWhatTheRulesAllow) {
  std::vector<Factor> factors = threeFactors();
  factors[0].name = "Température réelle";  // inner blank, non-ASCII
  factors[1].name = std::string(64, 'y');  // exactly the limit
  factors[2].name = "pH/1";                // a single slash
  EXPECT_NO_THROW(validateDefinition(DesignKind::BoxBehnken, factors, {{"Yield %", ""}, {"Ausbeute (g)", "g/L"}}));
}

// A heading as a spreadsheet or the command line gives it: "Name [unit]" or "45 °C".
TEST(Validation, SplitUnitTakesABracketedOrTrailingUnit) {
  const std::pair<const char*, LabelAndUnit> cases[] = {
      {" Temperature [ °C ] ", {"Temperature", "°C"}}, {"45 °C", {"45", "°C"}}, {"Reaction Time", {"Reaction Time", ""}}};
  for (const auto& [text, expected] : cases) {
    const LabelAndUnit got = splitUnit(text);
    EXPECT_EQ(got.label, expected.label) << text;
    EXPECT_EQ(got.unit, expected.unit) << text;
  }
}

TEST(Validation, RechtschaffnerCountsAreListed) {
  EXPECT_TRUE(testing::refused<InvalidArgument>([] {
                validateDefinition(DesignKind::Rechtschaffner, threeFactors(), {{"Y", ""}});
              }).mentions("cannot have 3 factors; it supports 4-20 factors"));
  std::vector<Factor> many;
  for (int i = 0; i < 21; ++i) many.push_back({"F" + std::to_string(i), 0.1, 0.7, ""});
  EXPECT_THROW(makePlan(DesignKind::Rechtschaffner, many, {.seed = 1}), InvalidArgument);
  many.resize(20);
  EXPECT_EQ(makePlan(DesignKind::Rechtschaffner, many, {.seed = 1}).runCount(), 231u);
}

TEST(Validation, DesignKindNames) {
  EXPECT_EQ(parseDesignKind("Box_Behnken"), DesignKind::BoxBehnken);
  EXPECT_EQ(parseDesignKind("RECHTSCHAFFNER"), DesignKind::Rechtschaffner);
  EXPECT_EQ(parseDesignKind("Optimal"), DesignKind::Optimal);
  // An unknown name is refused with every name a study holds.
  const testing::Refusal r = testing::refused<InvalidArgument>([] { parseDesignKind("central-composite"); });
  EXPECT_TRUE(r.mentions("\"optimal\"") && r.field == "design") << r.what;
}

}  // namespace
}  // namespace tavrin
