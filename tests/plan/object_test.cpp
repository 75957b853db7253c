#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <utility>
#include <vector>

#include "plan/messages.h"
#include "plan/study_fixture.h"

using namespace tavrin_test;

// The alphabet cycles, so a cut at the wrong place changes the last character; element 299 stays null.
TEST(Result, KeepsAtMost298CharactersByConstructionAndAssignment) {
  std::wstring text;
  for (int k = 0; k < 400; ++k) text += static_cast<wchar_t>(L'a' + k % 26);
  for (std::size_t length : {0u, 298u, 299u, 400u}) {
    Result made(9, text.substr(0, length).c_str()), assigned(4, L"a former text");
    assigned = made;
    const std::wstring want = L"9" + text.substr(0, std::min<std::size_t>(length, 298)) + L'\0';
    for (const Result& r : {made, assigned})
      EXPECT_EQ(std::to_wstring(r.code) + r.message + r.message[299], want);
  }
}

// Every entry: "Tavrin Error. " (small e for the adds and the lookups by position) + op + "(). " + reason.
TEST(MessageTable, EveryEntryIsBuiltFromItsPiecesAndCode) {
  using tavrin::Op;
  const wchar_t* const kOps[] = {L"planAddDesignVar", L"planAddObjective", L"planGetDesignVar",
      L"planGetObjective", L"planGetObjective", L"planCompute", L"planGetExperimentCount",
      L"planGetDesignVarValue", L"planGetObjectiveValue", L"planSetObjectiveValue", L"modelCompute",
      L"modelSetDesignVarValue", L"modelGetObjectiveValue", L"modelSetObjectiveLimits",
      L"modelGetObjectiveLimits", L"modelSetDesignVarLimits", L"modelGetDesignVarLimits", L"modelOptimize",
      L"modelGetObjectiveBestResult", L"modelGetDesignVarBestResult", L"Save", L"Load"};
  const wchar_t* const kReasons[] = {L"Plan is not computed.", L"Model is not computed.",
      L"Model is not optimized.", L"Can not find optimal results", L"Variable is not found.",
      L"MapDesignVars size error.", L"MapObjectives size error.", L"Plan is not computed. Check plan data",
      L"Index too large.", nullptr, L"File version is wrong.", L"Can not open file to save.",
      L"Can not open file to load.", L"Can not load from file.", L"Design Variable Name is not valid.",
      L"Objective Name is not valid.", L"Can not compute plan.", L"Can not compute model."};
  const unsigned kCodes[] = {1, 2, 3, 4, 5, 6, 7, 1, 11, 0, 20, 20, 21, 21, 21, 21, 21, 21};
  ASSERT_EQ(tavrin::kMessageCount, 59u);
  for (std::size_t k = 0; k < 59; ++k) {
    const tavrin::MessageEntry& e = tavrin::kMessages[k];
    const bool add = e.failure == tavrin::Failure::AddAfterPlan, addVar = e.op == Op::planAddDesignVar;
    const std::wstring reason = !add ? kReasons[int(e.failure)] : std::wstring(L"Can not Add ") +
        (addVar ? L"variable" : L"objective") + L". Plan has been computed.";
    const std::wstring text = (e.op <= Op::planGetObjectiveByIndex ? L"Tavrin error. " : L"Tavrin Error. ") +
        std::wstring(kOps[int(e.op)]) + L"(). " + reason;
    const std::wstring code = std::to_wstring(add ? (addVar ? 12u : 13u) : kCodes[int(e.failure)]);
    const Result r = tavrin::failure(e.op, e.failure);
    const std::wstring got = std::to_wstring(e.code) + e.text + L"|" + std::to_wstring(r.code) + r.message;
    EXPECT_EQ(got, code + text + L"|" + code + text);
  }
}

// Each operation from each stage (declared, planned, modeled, optimized): the "code:flags" it leaves.
TEST(Flags, TransitionTable) {
  double a = 0;
#define OP(call) #call, [&](CTavrin& s) { return s.call; }
  const struct { const char* what; std::function<Result(CTavrin&)> call; const char* expected; } kCases[] = {
      {OP(planAddDesignVar(L"z", 0, 1)), "0:--- 12:P-- 12:PM- 12:PMO "},
      {OP(planCompute()), "0:P-- 0:P-- 0:P-- 0:P-- "},
      {OP(modelCompute()), "1:--- 0:PM- 0:PM- 0:PMO "},
      {OP(planSetObjectiveValue(L"y1", 1, 2)), "1:--- 0:P-- 0:P-- 0:P-- "},
      {OP(modelSetDesignVarValue(L"x1", 1.5)), "1:--- 0:P-- 0:P-- 0:P-- "},
      {OP(modelSetObjectiveLimits(L"y1", 1, 0, 1)), "1:--- 2:P-- 0:PM- 0:PM- "},
      {OP(modelOptimize(0, 16)), "1:--- 2:P-- 4:PM- 0:PMO "},
      {OP(planGetDesignVarValue(L"no", L"nothing", 10, a)), "1:--- 11:P-- 11:PM- 11:PMO "},
      {OP(modelGetDesignVarBestResult(L"x2", 5, a)), "1:--- 2:P-- 3:PM- 0:PMO "},
  };
#undef OP
  for (const auto& c : kCases) {
    std::string got;
    for (Stage stage : {Stage::Declared, Stage::Planned, Stage::Modeled, Stage::Optimized}) {
      auto s = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1, stage);
      const unsigned code = c.call(*s).code;
      got += std::to_string(code) + ":" + flags(*s) + " ";
    }
    EXPECT_EQ(got, c.expected) << c.what;
  }
}

// What a caller reads from a study of up to 3 variables and 2 objectives, codes included.
static std::wstring snapshot(CTavrin& s) {
  std::wostringstream os;
  double v[3] = {};
  auto add = [&](const Result& r, int n) {
    os << L'|' << r.code;
    for (int k = 0; k < n && !r.code; ++k) os << L' ' << v[k];
  };
  unsigned runs = 0;
  s.planGetExperimentCount(runs);
  os << std::hexfloat << flags(s).c_str() << runs;
  for (int i = 1; i <= 4; ++i) add(s.modelGetDesignVarLimits(varName(i).c_str(), v[0], v[1]), 2);
  for (int j = 1; j <= 3; ++j) {
    const std::wstring y = objName(j);
    for (unsigned r = 0; r <= runs; ++r) add(s.planGetObjectiveValue(y.c_str(), r, v[0]), 1);
    add(s.modelGetObjectiveLimits(y.c_str(), v[0], v[1], v[2]), 3);
    for (unsigned k = 1; k <= 5; ++k) add(s.modelGetObjectiveBestResult(y.c_str(), k, v[0]), 1);
  }
  return os.str();
}

// An optimized source, copied and assigned over a larger study of the other type, then changed and destroyed.
TEST(Copy, CopiesReproduceTheSourceOutliveItAndStayIndependent) {
  auto source = makeStudy(CTavrin::BoxBehnkenPlan, 3, 2, Stage::Optimized);
  const std::wstring expected = snapshot(*source);
  CTavrin copy(*source);
  auto target = makeStudy(CTavrin::RechschafnerPlan, 5, 3, Stage::Optimized);
  EXPECT_EQ(&(*target = *source), target.get());
  source->planSetObjectiveValue(L"y1", 4, 99.0), source->planSetType(CTavrin::RechschafnerPlan);
  source.reset();
  EXPECT_EQ(snapshot(*target) + L"#" + snapshot(copy), expected + L"#" + expected);
}

// "code min" by name (exact, first wins), "code name min" by position; outputs stay untouched on failure.
TEST(Registry, LookupsByNameAndPosition) {
  CTavrin s(CTavrin::BoxBehnkenPlan);
  for (auto [n, min] : {std::pair{L"Speed", 1}, {L"speed", 3}, {L"Speed", 5}, {L"", 7}, {nullptr, 9}})
    s.planAddDesignVar(n, min, min + 1);
  std::wstring got;
  double lo = 0, hi = 0;
  const wchar_t* name = L"?";
  const wchar_t* const kNames[] = {L"Speed", L"speed", L"SPEED", L"Speed ", L"", nullptr};
  for (const wchar_t* n : kNames) {
    const unsigned code = s.planGetDesignVar(n, lo = 0, hi).code;
    got += std::to_wstring(code) + L" " + std::to_wstring(int(lo)) + L";";
  }
  for (int index : {-1, 0, 2, 4, 5}) {
    const unsigned code = s.planGetDesignVar(index, name = L"?", lo = 0, hi).code;
    got += std::to_wstring(code) + L" " + name + std::to_wstring(int(lo)) + L";";
  }
  EXPECT_EQ(got, L"0 1;0 3;5 0;5 0;0 7;0 7;5 ?0;0 Speed1;0 Speed5;0 9;5 ?0;");
}

// A value reads back in single precision; experiment 0 is stored but not fitted.
TEST(ExperimentAccess, ValuesAreSinglePrecisionAndExperimentZeroIsNotFitted) {
  auto s = makeStudy(CTavrin::BoxBehnkenPlan, 1, 2, Stage::Modeled);
  double v[4] = {};
  s->modelGetObjectiveValue(L"y1", v[2]);
  s->planSetObjectiveValue(L"y1", 3, 0.1), s->planSetObjectiveValue(L"y1", 0, 1e6);
  s->planGetObjectiveValue(L"y1", 3, v[0]), s->planGetObjectiveValue(L"y1", 0, v[1]);
  s->planSetObjectiveValue(L"y1", 3, 4), s->modelCompute(), s->modelGetObjectiveValue(L"y1", v[3]);
  EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{0.10000000149011612, 1e6, v[2], v[2]}));
}

// "a,b"+"c" and "a"+"b,c" form one key; the record built first (objectives outer, "c" first) answers both.
TEST(ExperimentAccess, CollidingKeysResolveToTheFirstRecordBuilt) {
  CTavrin s(CTavrin::BoxBehnkenPlan);
  s.planAddDesignVar(L"a", 10, 20), s.planAddDesignVar(L"a,b", 100, 200);
  s.planAddObjective(L"c"), s.planAddObjective(L"b,c");
  ASSERT_EQ(s.planCompute().code, 0u);
  double v[4] = {};
  s.planGetDesignVarValue(L"a", L"b,c", 4, v[0]), s.planGetDesignVarValue(L"a,b", L"c", 4, v[1]);
  s.planGetDesignVarValue(L"a", L"c", 1, v[2]), s.planGetDesignVarValue(L"a,b", L"b,c", 1, v[3]);
  EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{100, 100, 20, 200}));
}
