#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <sstream>
#include <utility>
#include <vector>

#include "plan/study_fixture.h"

using namespace tavrin_test;

// Built in storage full of junk and assigned over one: at most 298 characters (the alphabet cycles, so a
// cut at the wrong place shows), every element after them null, null read as "".
TEST(Result, KeepsAtMost298CharactersAndANullTail) {
  std::wstring text;
  for (int k = 0; k < 400; ++k) text += static_cast<wchar_t>(L'a' + k % 26);
  alignas(Result) unsigned char storage[2][sizeof(Result)];
  for (int length : {-1, 0, 298, 299, 400}) {
    const std::wstring kept = text.substr(0, std::clamp(length, 0, 298));
    std::memset(storage, 0xA5, sizeof storage);
    Result* made = new (storage[0]) Result(9, length < 0 ? nullptr : text.substr(0, length).c_str());
    Result* assigned = new (storage[1]) Result(4, L"a former text");
    *assigned = *made;
    for (const Result* r : {made, assigned})
      EXPECT_EQ(std::to_wstring(r->code) + std::wstring(r->message, Result::kMessageSize),
                L"9" + kept + std::wstring(Result::kMessageSize - kept.size(), L'\0')) << length;
  }
}

// Each operation from each stage (declared, planned, modeled, optimized): the "code:flags" it leaves.
TEST(Flags, TransitionTable) {
  double a = 0;
#define OP(call) #call, [&](CTavrin& s) { return s.call; }
  const struct { const char* what; std::function<Result(CTavrin&)> call; const char* expected; } kCases[] = {
      {OP(planAddDesignVar(L"z", 0, 1)), "0:--- 12:P-- 12:PM- 12:PMO "},
      {OP(planAddObjective(L"w")), "0:--- 13:P-- 13:PM- 13:PMO "},
      {OP(planSetType(CTavrin::RechschafnerPlan)), "0:--- 0:--- 0:--- 0:--- "},
      {OP(planCompute()), "0:P-- 0:P-- 0:P-- 0:P-- "},
      {OP(modelCompute()), "1:--- 0:PM- 0:PM- 0:PMO "},
      {OP(planSetObjectiveValue(L"y1", 1, 2)), "1:--- 0:P-- 0:P-- 0:P-- "},
      {OP(planSetObjectiveValue(L"nope", 1, 2)), "1:--- 5:P-- 5:P-- 5:P-- "},
      {OP(modelSetDesignVarValue(L"x1", 1.5)), "1:--- 0:P-- 0:P-- 0:P-- "},
      {OP(modelSetObjectiveLimits(L"y1", 1, 0, 1)), "1:--- 2:P-- 0:PM- 0:PM- "},
      {OP(modelSetDesignVarLimits(L"x9", 0, 1)), "1:--- 2:P-- 5:PM- 5:PM- "},
      {OP(modelOptimize(0, 16)), "1:--- 2:P-- 4:PM- 0:PMO "},
      {OP(planGetDesignVarValue(L"no", L"nothing", 10, a)), "1:--- 11:P-- 11:PM- 11:PMO "},
      {OP(modelGetDesignVarBestResult(L"x2", 5, a)), "1:--- 2:P-- 3:PM- 0:PMO "},
      {OP(modelGetObjectiveBestResult(L"y1", 5, a)), "1:--- 2:P-- 3:PM- 0:PMO "},
      {OP(modelGetObjectiveBestResult(L"y1", 6, a)), "11:--- 11:P-- 11:PM- 11:PMO "},
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

// Values read back in single precision; experiment 0 is stored but not fitted. "a,b"+"c" and "a"+"b,c" form
// one key: the record built first (objectives outer, "c" first) answers both.
TEST(ExperimentAccess, SinglePrecisionExperimentZeroAndCollidingKeys) {
  auto s = makeStudy(CTavrin::BoxBehnkenPlan, 1, 2, Stage::Modeled);
  double v[4] = {};
  s->modelGetObjectiveValue(L"y1", v[2]);
  s->planSetObjectiveValue(L"y1", 3, 0.1), s->planSetObjectiveValue(L"y1", 0, 1e6);
  s->planGetObjectiveValue(L"y1", 3, v[0]), s->planGetObjectiveValue(L"y1", 0, v[1]);
  s->planSetObjectiveValue(L"y1", 3, 4), s->modelCompute(), s->modelGetObjectiveValue(L"y1", v[3]);
  EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{0.10000000149011612, 1e6, v[2], v[2]}));
  CTavrin c(CTavrin::BoxBehnkenPlan);
  c.planAddDesignVar(L"a", 10, 20), c.planAddDesignVar(L"a,b", 100, 200);
  c.planAddObjective(L"c"), c.planAddObjective(L"b,c");
  ASSERT_EQ(c.planCompute().code, 0u);
  c.planGetDesignVarValue(L"a", L"b,c", 4, v[0]), c.planGetDesignVarValue(L"a,b", L"c", 4, v[1]);
  c.planGetDesignVarValue(L"a", L"c", 1, v[2]), c.planGetDesignVarValue(L"a,b", L"b,c", 1, v[3]);
  EXPECT_EQ(std::vector<double>(v, v + 4), (std::vector<double>{100, 100, 20, 200}));
}
