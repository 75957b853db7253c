#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <sstream>
#include <vector>

#include "plan/messages.h"
#include "plan/study_fixture.h"

using namespace tavrin_test;

TEST(Result, KeepsAtMost298CharactersByConstructionAndAssignment) {
  std::wstring text;  // the alphabet cycles, so a cut at the wrong place changes the last character
  for (int k = 0; k < 400; ++k) text += static_cast<wchar_t>(L'a' + k % 26);
  for (std::size_t length : {0u, 297u, 298u, 299u, 400u}) {
    Result made(9, text.substr(0, length).c_str()), assigned(4, L"a former text");
    EXPECT_EQ(&(assigned = made), &assigned);
    for (const Result& r : {made, assigned})
      EXPECT_EQ(std::to_wstring(r.code) + r.message + r.message[299], L"9" + text.substr(0, std::min<std::size_t>(length, 298)) + L'\0');
  }
  Result unterminated(1, text.c_str()), target, null(3, nullptr);
  unterminated.message[299] = L'Z';
  target = unterminated;
  EXPECT_EQ(std::to_wstring(Result().code) + Result().message + null.message + target.message[299], L"0No Errors" + std::wstring(1, 0));
}

// Every entry: "Tavrin Error. " (small e for the adds and the lookups by position) + op + "(). " + reason.
TEST(MessageTable, EveryEntryIsBuiltFromItsPiecesAndCode) {
  using tavrin::Failure, tavrin::Op;
  const wchar_t* const kOps[] = {L"planAddDesignVar", L"planAddObjective", L"planGetDesignVar", L"planGetObjective",
      L"planGetObjective", L"planCompute", L"planGetExperimentCount", L"planGetDesignVarValue", L"planGetObjectiveValue",
      L"planSetObjectiveValue", L"modelCompute", L"modelSetDesignVarValue", L"modelGetObjectiveValue",
      L"modelSetObjectiveLimits", L"modelGetObjectiveLimits", L"modelSetDesignVarLimits", L"modelGetDesignVarLimits",
      L"modelOptimize", L"modelGetObjectiveBestResult", L"modelGetDesignVarBestResult", L"Save", L"Load"};
  const wchar_t* const kReasons[] = {L"Plan is not computed.", L"Model is not computed.", L"Model is not optimized.",
      L"Can not find optimal results", L"Variable is not found.", L"MapDesignVars size error.",
      L"MapObjectives size error.", L"Plan is not computed. Check plan data", L"Index too large.", nullptr,
      L"File version is wrong.", L"Can not open file to save.", L"Can not open file to load.",
      L"Can not load from file.", L"Design Variable Name is not valid.", L"Objective Name is not valid.",
      L"Can not compute plan.", L"Can not compute model."};
  const unsigned kCodes[] = {1, 2, 3, 4, 5, 6, 7, 1, 11, 0, 20, 20, 21, 21, 21, 21, 21, 21};
  for (std::size_t k = 0; k < tavrin::kMessageCount; ++k) {
    const tavrin::MessageEntry& e = tavrin::kMessages[k];
    const bool add = e.failure == Failure::AddAfterPlan, addVar = e.op == Op::planAddDesignVar;
    const std::wstring text = (e.op <= Op::planGetObjectiveByIndex ? L"Tavrin error. " : L"Tavrin Error. ") +
        std::wstring(kOps[int(e.op)]) + L"(). " + (!add ? kReasons[int(e.failure)]
        : std::wstring(L"Can not Add ") + (addVar ? L"variable" : L"objective") + L". Plan has been computed.");
    const std::wstring code = std::to_wstring(add ? (addVar ? 12u : 13u) : kCodes[int(e.failure)]);
    const Result r = tavrin::failure(e.op, e.failure);
    EXPECT_EQ(std::to_wstring(e.code) + e.text + L"|" + std::to_wstring(r.code) + r.message, code + text + L"|" + code + text);
  }
  EXPECT_EQ(tavrin::kMessageCount, 59u);  // one entry per failure the operations report
}

// Each operation from each stage (declared, planned, modeled, optimized): the "code:flags" it leaves.
TEST(Flags, TransitionTable) {
  double a = 0;
#define OP(call) #call, [&](CTavrin& s) { return s.call; }
  const struct { const char* what; std::function<Result(CTavrin&)> call; const char* expected; } kCases[] = {
      {OP(planSetType(CTavrin::BoxBehnkenPlan)), "0:--- 0:--- 0:--- 0:---"},
      {OP(planAddDesignVar(L"z", 0, 1)), "0:--- 12:P-- 12:PM- 12:PMO"},
      {OP(planAddObjective(L"z")), "0:--- 13:P-- 13:PM- 13:PMO"},
      {OP(planCompute()), "0:P-- 0:P-- 0:P-- 0:P--"},
      {OP(modelCompute()), "1:--- 0:PM- 0:PM- 0:PMO"},
      {OP(planSetObjectiveValue(L"y1", 1, 2)), "1:--- 0:P-- 0:P-- 0:P--"},
      {OP(planSetObjectiveValue(L"q", 1, 2)), "1:--- 5:P-- 5:P-- 5:P--"},
      {OP(planSetObjectiveValue(L"q", 10, 2)), "1:--- 11:P-- 11:PM- 11:PMO"},
      {OP(modelSetDesignVarValue(L"x1", 1.5)), "1:--- 0:P-- 0:P-- 0:P--"},
      {OP(modelSetDesignVarValue(L"q", 1.5)), "1:--- 5:P-- 5:P-- 5:P--"},
      {OP(modelSetObjectiveLimits(L"y1", 1, 0, 1)), "1:--- 2:P-- 0:PM- 0:PM-"},
      {OP(modelSetDesignVarLimits(L"q", 1, 2)), "1:--- 2:P-- 5:PM- 5:PM-"},
      {OP(modelOptimize(0, 16)), "1:--- 2:P-- 4:PM- 0:PMO"},  // modeled: weight 0 and limits [0, 0] admit nothing
      {OP(modelOptimize(3, 3)), "1:--- 2:P-- 4:PM- 4:PM-"},
      {OP(planGetDesignVarValue(L"no", L"nothing", 10, a)), "1:--- 11:P-- 11:PM- 11:PMO"},  // number before names
      {OP(planGetDesignVarValue(L"x1", L"y1", 0, a)), "1:--- 5:P-- 5:PM- 5:PMO"},
      {OP(planGetDesignVarValue(L"y1", L"x1", 1, a)), "1:--- 5:P-- 5:PM- 5:PMO"},  // names swapped
      {OP(planGetDesignVarValue(L"x1,y1", L"", 1, a)), "1:--- 5:P-- 5:PM- 5:PMO"},
      {OP(modelGetDesignVarBestResult(L"x2", 5, a)), "1:--- 2:P-- 3:PM- 0:PMO"},
      {OP(modelGetObjectiveBestResult(L"y1", 6, a)), "11:--- 11:P-- 11:PM- 11:PMO"},
  };
#undef OP
  for (const auto& c : kCases) {
    std::string got;
    for (Stage stage : {Stage::Declared, Stage::Planned, Stage::Modeled, Stage::Optimized}) {
      auto s = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1, stage);  // 9 experiments
      const unsigned code = c.call(*s).code;
      got += (got.empty() ? "" : " ") + std::to_string(code) + ":" + flags(*s);
    }
    EXPECT_EQ(got, c.expected) << c.what;
  }
}

// What a caller reads from a study of up to 5 variables and 3 objectives, codes included.
static std::wstring snapshot(CTavrin& s) {
  std::wostringstream os;
  double v[3] = {};
  auto add = [&](const Result& r, int n) { os << L'|' << r.code; for (int k = 0; k < n && !r.code; ++k) os << L' ' << v[k]; };
  CTavrin::PlanType type{};
  unsigned runs = 0, vars = 0, objs = 0;
  add(s.planGetExperimentCount(runs), 0), s.planGetType(type), s.planGetDesignVarCount(vars), s.planGetObjectiveCount(objs);
  os << std::hexfloat << flags(s).c_str() << type << L',' << runs << L',' << vars << L',' << objs;
  for (int i = 1; i <= 5; ++i) add(s.modelGetDesignVarLimits(varName(i).c_str(), v[0], v[1]), 2);
  for (unsigned r = 0; r <= runs + 1; ++r) add(s.planGetDesignVarValue(L"x3", L"y2", r, v[0]), 1);
  for (int j = 1; j <= 3; ++j) {
    const std::wstring y = objName(j);
    for (unsigned r = 0; r <= runs; ++r) add(s.planGetObjectiveValue(y.c_str(), r, v[0]), 1);
    add(s.modelGetObjectiveValue(y.c_str(), v[0]), 1), add(s.modelGetObjectiveLimits(y.c_str(), v[0], v[1], v[2]), 3);
    for (unsigned k = 0; k <= 5; ++k) add(s.modelGetObjectiveBestResult(y.c_str(), k, v[0]), 1);
  }
  return os.str();
}

// The source is optimized, with a value in experiment 0 and limits of its own, so every part is filled.
TEST(Copy, CopiesReproduceTheSourceOutliveItAndStayIndependent) {
  auto source = makeStudy(CTavrin::BoxBehnkenPlan, 3, 2, Stage::Optimized);
  source->planSetObjectiveValue(L"y2", 0, 0.25), source->modelCompute(), source->modelSetObjectiveLimits(L"y2", 0.5, -9, 9);
  ASSERT_EQ(source->modelOptimize(0, 128).code, 0u);
  const std::wstring expected = snapshot(*source);
  CTavrin copy(*source), &alias = copy;
  auto target = makeStudy(CTavrin::RechschafnerPlan, 5, 3, Stage::Optimized);  // larger, of the other type
  EXPECT_EQ(&(*target = *source), target.get());
  EXPECT_EQ(&(copy = alias), &copy);
  source->planSetObjectiveValue(L"y1", 4, 99.0), source->planSetType(CTavrin::RechschafnerPlan);
  source->planAddDesignVar(L"x4", 0, 1);  // changes to the source reach no copy
  source.reset();
  EXPECT_EQ(snapshot(*target) + L"#" + snapshot(copy), expected + L"#" + expected);
  EXPECT_EQ(copy.modelCompute().code + copy.modelOptimize(0, 32).code, 0u);  // the copy works on its own tables
  EXPECT_EQ(snapshot(*target), expected);
  *target = CTavrin(CTavrin::BoxBehnkenPlan);  // a new object empties a computed one
  EXPECT_EQ(snapshot(*target), snapshot(*makeStudy(CTavrin::BoxBehnkenPlan, 0, 0)));
}

// Lookups by name ("code min max": exact, first wins) and by position ("code name min"; outputs untouched on failure).
TEST(Registry, LookupsByNameAndPosition) {
  CTavrin s(CTavrin::BoxBehnkenPlan);
  for (auto [name, lo, hi] : {std::tuple{L"Speed", 1, 2}, {L"speed", 3, 4}, {L"Speed", 5, 6}, {L"", 7, 8},
                              {nullptr, 9, 10}, {L"c", 9, -9}})  // min above max is kept as given
    s.planAddDesignVar(name, lo, hi);
  s.planAddObjective(L"Cost"), s.planAddObjective(L"");
  std::wstring got;
  double lo = 0, hi = 0;
  const wchar_t* name = L"?";
  for (const wchar_t* n : {L"Speed", L"speed", L"SPEED", L"Speed ", L"", static_cast<const wchar_t*>(nullptr), L"c"}) {
    const unsigned code = s.planGetDesignVar(n, lo = 0, hi = 0).code;
    got += std::to_wstring(code) + L" " + std::to_wstring(int(lo)) + L" " + std::to_wstring(int(hi)) + L";";
  }
  for (int index : {-1, 0, 2, 4, 5, 6}) {
    const unsigned code = s.planGetDesignVar(index, name = L"?", lo = 0, hi).code;
    got += std::to_wstring(code) + L" " + name + std::to_wstring(int(lo)) + L";";
  }
  const wchar_t* const kObjectives[] = {L"Cost", L"cost", L"", nullptr};  // by name
  for (int index : {-1, 0, 1, 2}) {
    const unsigned code = s.planGetObjective(index, name = L"?").code;
    got += std::to_wstring(code) + name + std::to_wstring(s.planGetObjective(kObjectives[index + 1]).code) + L";";
  }
  EXPECT_EQ(got, L"0 1 2;0 3 4;5 0 0;5 0 0;0 7 8;0 7 8;0 9 -9;5 ?0;0 Speed1;0 Speed5;0 9;0 c9;5 ?0;5?0;0Cost5;00;5?0;");
  EXPECT_EQ(s.planGetObjective(9, name).message + std::wstring(s.planGetObjective(L"x").message),  // by position, by name
            L"Tavrin error. planGetObjective(). Variable is not found.Tavrin Error. planGetObjective(). Variable is not found.");
}

TEST(ExperimentAccess, ValuesAreSinglePrecisionAndExperimentZeroIsNotFitted) {
  auto s = makeStudy(CTavrin::BoxBehnkenPlan, 1, 2, Stage::Modeled);  // 3 experiments
  double v[4] = {};
  s->modelGetObjectiveValue(L"y1", v[2]);
  s->planSetObjectiveValue(L"y1", 3, 0.1), s->planSetObjectiveValue(L"y1", 0, 1e6);
  s->planGetObjectiveValue(L"y1", 3, v[0]), s->planGetObjectiveValue(L"y1", 0, v[1]);
  s->planSetObjectiveValue(L"y1", 3, 4), s->modelCompute(), s->modelGetObjectiveValue(L"y1", v[3]);
  EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{0.10000000149011612, 1e6, v[2], v[2]}));
}

// "a,b" with "c" and "a" with "b,c" form one key; the record built first (objectives outer) answers both.
TEST(ExperimentAccess, CollidingKeysResolveToTheFirstRecordBuilt) {
  for (bool bcFirst : {true, false}) {
    CTavrin s(CTavrin::BoxBehnkenPlan);
    s.planAddDesignVar(L"a", 10, 20), s.planAddDesignVar(L"a,b", 100, 200);
    s.planAddObjective(bcFirst ? L"b,c" : L"c"), s.planAddObjective(bcFirst ? L"c" : L"b,c");
    ASSERT_EQ(s.planCompute().code, 0u);
    double v[4] = {};  // run 4 is (-1, -1), run 1 (+1, +1)
    s.planGetDesignVarValue(L"a", L"b,c", 4, v[0]), s.planGetDesignVarValue(L"a,b", L"c", 4, v[1]);
    s.planGetDesignVarValue(L"a", L"c", 1, v[2]), s.planGetDesignVarValue(L"a,b", L"b,c", 1, v[3]);
    EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{bcFirst ? 10. : 100., bcFirst ? 10. : 100., 20, 200}));
  }
}
