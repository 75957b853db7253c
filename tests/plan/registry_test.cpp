#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan/registry.h"
#include "tavrin/tavrin.h"

namespace {

const wchar_t kVarNotFound[] = L"Tavrin error. planGetDesignVar(). Variable is not found.";

}  // namespace

TEST(Registry, LookupByPosition) {
  CTavrin study(CTavrin::RechschafnerPlan);
  const wchar_t* name = L"untouched";
  double min = -1, max = -1;
  Result r = study.planGetDesignVar(0, name, min, max);
  EXPECT_EQ(r.code, 5u);
  EXPECT_STREQ(r.message, kVarNotFound);
  r = study.planGetObjective(0, name);
  EXPECT_EQ(r.code, 5u);
  EXPECT_STREQ(r.message, L"Tavrin error. planGetObjective(). Variable is not found.");

  study.planAddDesignVar(L"a", 1, 2);
  study.planAddDesignVar(L"b", 3, 4);
  study.planAddDesignVar(L"c", 9, -9);  // min above max is kept as given
  study.planAddObjective(L"o1");
  study.planAddObjective(L"o2");
  for (int index : {-1, 3, 1000}) {
    EXPECT_EQ(study.planGetDesignVar(index, name, min, max).code, 5u) << index;
    EXPECT_EQ(study.planGetObjective(index, name).code, 5u) << index;
  }
  EXPECT_STREQ(name, L"untouched");  // outputs are written only on success
  EXPECT_EQ(min, -1);
  r = study.planGetDesignVar(2, name, min, max);
  EXPECT_EQ(r.code, 0u);
  EXPECT_STREQ(r.message, L"No Errors");
  EXPECT_STREQ(name, L"c");
  EXPECT_EQ(min, 9);
  EXPECT_EQ(max, -9);
  EXPECT_EQ(study.planGetObjective(1, name).code, 0u);
  EXPECT_STREQ(name, L"o2");
  EXPECT_EQ(study.planGetObjective(2, name).code, 5u);
}

TEST(Registry, LookupByNameIsExactAndFirstWins) {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  study.planAddDesignVar(L"Speed", 1, 2);
  study.planAddDesignVar(L"speed", 3, 4);
  study.planAddDesignVar(L"Speed", 5, 6);
  study.planAddDesignVar(L"", 7, 8);
  study.planAddDesignVar(nullptr, 9, 10);  // a null name reads as ""
  study.planAddObjective(L"Cost");
  study.planAddObjective(L"");

  const struct {
    const wchar_t* name;
    unsigned int code;
    double min, max;
  } kCases[] = {
      {L"Speed", 0, 1, 2}, {L"speed", 0, 3, 4},   {L"SPEED", 5, 0, 0}, {L"Speed ", 5, 0, 0},
      {L"Spee", 5, 0, 0},  {L"", 0, 7, 8},        {nullptr, 0, 7, 8},
  };
  for (const auto& c : kCases) {
    double min = 0, max = 0;
    const Result r = study.planGetDesignVar(c.name, min, max);
    EXPECT_EQ(r.code, c.code) << (c.name ? c.name : L"(null)");
    EXPECT_EQ(min, c.min);
    EXPECT_EQ(max, c.max);
    EXPECT_STREQ(r.message, c.code == 0 ? L"No Errors" : kVarNotFound);
  }
  unsigned int count = 0;
  study.planGetDesignVarCount(count);
  EXPECT_EQ(count, 5u);
  const wchar_t* name = nullptr;
  double min = 0, max = 0;
  study.planGetDesignVar(2, name, min, max);  // the duplicate is reachable by position
  EXPECT_STREQ(name, L"Speed");
  EXPECT_EQ(min, 5);
  study.planGetDesignVar(4, name, min, max);
  EXPECT_STREQ(name, L"");

  EXPECT_EQ(study.planGetObjective(L"Cost").code, 0u);
  EXPECT_EQ(study.planGetObjective(L"").code, 0u);
  EXPECT_EQ(study.planGetObjective(nullptr).code, 0u);
  const Result r = study.planGetObjective(L"cost");
  EXPECT_EQ(r.code, 5u);
  EXPECT_STREQ(r.message, L"Tavrin Error. planGetObjective(). Variable is not found.");
}

TEST(Registry, NamesAreCopiedAndComparedByCodeUnit) {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  std::wstring caller = L"temp\u00e9";
  study.planAddDesignVar(caller.c_str(), 0, 1);
  caller[0] = L'T';
  double min = 0, max = 0;
  EXPECT_EQ(study.planGetDesignVar(L"temp\u00e9", min, max).code, 0u);
  EXPECT_EQ(study.planGetDesignVar(L"tempe\u0301", min, max).code, 5u);  // same glyph, other code units
}

TEST(Registry, InternalFindReturnsFirstRecord) {
  const std::vector<tavrin::DesignVarRecord> vars = {{L"a", 0, 1, 2}, {L"b", 0, 3, 4}, {L"a", 0, 5, 6}};
  EXPECT_EQ(tavrin::findDesignVar(vars, L"a"), &vars[0]);
  EXPECT_EQ(tavrin::findDesignVar(vars, L"b"), &vars[1]);
  EXPECT_EQ(tavrin::findDesignVar(vars, L"c"), nullptr);
  EXPECT_EQ(tavrin::findDesignVar({}, L""), nullptr);
  const std::vector<tavrin::ObjectiveRecord> objs = {{L"", 0}, {L"", 0}};
  EXPECT_EQ(tavrin::findObjective(objs, nullptr), &objs[0]);
}
