#include <gtest/gtest.h>

#include <string>

#include "plan/study_fixture.h"
#include "tavrin/detail/workspace.h"

using tavrin_test::makeStudy;
using tavrin_test::Stage;

TEST(ExperimentAccess, NeedAComputedPlan) {
  auto study = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1);
  unsigned int count = 7;
  double value = -7;
  const Result results[] = {study->planGetExperimentCount(count), study->planGetDesignVarValue(L"x1", L"y1", 1, value),
                            study->planGetObjectiveValue(L"y1", 1, value), study->planSetObjectiveValue(L"y1", 1, 1.0),
                            study->modelCompute()};
  const wchar_t* const kOps[] = {L"planGetExperimentCount", L"planGetDesignVarValue", L"planGetObjectiveValue",
                                 L"planSetObjectiveValue", L"modelCompute"};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(results[k].code, 1u);
    EXPECT_EQ(std::wstring(results[k].message), std::wstring(L"Tavrin Error. ") + kOps[k] + L"(). Plan is not computed.");
  }
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(value, -7);
}

TEST(ExperimentAccess, ExperimentNumbersAreCheckedBeforeNames) {
  // Box-Behnken, 2 variables: 9 experiments; x1 is declared on [1, 2].
  auto study = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1, Stage::Planned);
  double value = -7;
  Result r = study->planGetDesignVarValue(L"nobody", L"nothing", 10, value);
  EXPECT_EQ(r.code, 11u);
  EXPECT_STREQ(r.message, L"Tavrin Error. planGetDesignVarValue(). Index too large.");
  r = study->planGetObjectiveValue(L"nothing", 10, value);
  EXPECT_EQ(r.code, 11u);
  EXPECT_STREQ(r.message, L"Tavrin Error. planGetObjectiveValue(). Index too large.");
  r = study->planSetObjectiveValue(L"nothing", 10, 1.0);
  EXPECT_EQ(r.code, 11u);
  EXPECT_STREQ(r.message, L"Tavrin Error. planSetObjectiveValue(). Index too large.");

  const struct {
    const wchar_t* var;
    const wchar_t* obj;
    unsigned int experiment;
  } kNotFound[] = {{L"x1", L"y1", 0}, {L"y1", L"x1", 1}, {L"x1", L"nothing", 1}, {L"X1", L"y1", 1}, {L"x1,y1", L"", 1}};
  for (const auto& c : kNotFound) {
    r = study->planGetDesignVarValue(c.var, c.obj, c.experiment, value);
    EXPECT_EQ(r.code, 5u) << c.var << L" " << c.obj;
    EXPECT_STREQ(r.message, L"Tavrin Error. planGetDesignVarValue(). Variable is not found.");
  }
  r = study->planGetObjectiveValue(L"nothing", 1, value);
  EXPECT_EQ(r.code, 5u);
  EXPECT_STREQ(r.message, L"Tavrin Error. planGetObjectiveValue(). Variable is not found.");
  r = study->planSetObjectiveValue(L"nothing", 1, 1.0);
  EXPECT_EQ(r.code, 5u);
  EXPECT_STREQ(r.message, L"Tavrin Error. planSetObjectiveValue(). Variable is not found.");
  EXPECT_EQ(value, -7);

  // Experiment 9 is the centre run: x1 at the midpoint of [1, 2].
  r = study->planGetDesignVarValue(L"x1", L"y1", 9, value);
  EXPECT_EQ(r.code, 0u);
  EXPECT_STREQ(r.message, L"No Errors");
  EXPECT_EQ(value, 1.5);
}

TEST(ExperimentAccess, ObjectiveValuesAreSinglePrecision) {
  auto study = makeStudy(CTavrin::BoxBehnkenPlan, 1, 2, Stage::Planned);
  double value = -7;
  for (unsigned int e = 0; e <= 3; ++e) {
    EXPECT_EQ(study->planGetObjectiveValue(L"y2", e, value).code, 0u);
    EXPECT_EQ(value, 0.0);  // never entered
  }
  EXPECT_EQ(study->planSetObjectiveValue(L"y1", 3, 0.1).code, 0u);
  study->planGetObjectiveValue(L"y1", 3, value);
  EXPECT_EQ(value, 0.10000000149011612);
  EXPECT_EQ(value, static_cast<double>(0.1f));
  study->planGetObjectiveValue(L"y2", 3, value);
  EXPECT_EQ(value, 0.0);  // each objective has its own row

  // Experiment 0 is a cell of its own that the fit does not read.
  for (unsigned int r = 1; r <= 3; ++r) study->planSetObjectiveValue(L"y1", r, 2.0 * r);
  ASSERT_EQ(study->modelCompute().code, 0u);
  double before = 0, after = 0;
  study->modelGetObjectiveValue(L"y1", before);
  EXPECT_EQ(study->planSetObjectiveValue(L"y1", 0, 1e6).code, 0u);
  study->planGetObjectiveValue(L"y1", 0, value);
  EXPECT_EQ(value, 1e6);
  study->planGetObjectiveValue(L"y1", 1, value);
  EXPECT_EQ(value, 2.0);
  ASSERT_EQ(study->modelCompute().code, 0u);
  study->modelGetObjectiveValue(L"y1", after);
  EXPECT_EQ(after, before);
}

// A variable "a,b" with an objective "c" and a variable "a" with an objective
// "b,c" form the same key; the record built first (objectives outer,
// variables inner) answers both.
TEST(ExperimentAccess, CollidingKeysResolveToTheFirstRecordBuilt) {
  const struct {
    const wchar_t* objectives[2];
    double expectedAtRun4;  // run 4 is (-1, -1): the winner's declared minimum
  } kCases[] = {
      {{L"b,c", L"c"}, 10.0},   // (a, b,c) is built first: a on [10, 20]
      {{L"c", L"b,c"}, 100.0},  // (a,b, c) is built first: a,b on [100, 200]
  };
  for (const auto& c : kCases) {
    CTavrin study(CTavrin::BoxBehnkenPlan);
    study.planAddDesignVar(L"a", 10, 20);
    study.planAddDesignVar(L"a,b", 100, 200);
    study.planAddObjective(c.objectives[0]);
    study.planAddObjective(c.objectives[1]);
    ASSERT_EQ(study.planCompute().code, 0u);
    double v1 = 0, v2 = 0;
    EXPECT_EQ(study.planGetDesignVarValue(L"a", L"b,c", 4, v1).code, 0u);
    EXPECT_EQ(study.planGetDesignVarValue(L"a,b", L"c", 4, v2).code, 0u);
    EXPECT_EQ(v1, c.expectedAtRun4);
    EXPECT_EQ(v2, c.expectedAtRun4);
    // Run 1 of the two-variable plan is (+1, +1).
    EXPECT_EQ(study.planGetDesignVarValue(L"a", L"c", 1, v1).code, 0u);
    EXPECT_EQ(v1, 20.0);
    EXPECT_EQ(study.planGetDesignVarValue(L"a,b", L"b,c", 1, v1).code, 0u);
    EXPECT_EQ(v1, 200.0);
  }
}

TEST(ExperimentTable, KeepsOrderAndFindsFirstKeyAcrossRehashing) {
  tavrin::ExperimentTable table;
  EXPECT_EQ(table.find(L"a", L"b"), nullptr);
  // 400 records force several index rebuilds; every pair (20 objectives x
  // 10 variables) is appended twice and the first copy must stay the answer.
  for (int pass = 0; pass < 2; ++pass) {
    for (int j = 0; j < 20; ++j) {
      for (int i = 0; i < 10; ++i) table.append(L"v" + std::to_wstring(i), L"o" + std::to_wstring(j));
    }
  }
  ASSERT_EQ(table.records().size(), 400u);
  EXPECT_EQ(table.records()[0].key, L"v0,o0");
  EXPECT_EQ(table.records()[13].key, L"v3,o1");
  for (int j = 0; j < 20; ++j) {
    for (int i = 0; i < 10; ++i) {
      const std::wstring var = L"v" + std::to_wstring(i), obj = L"o" + std::to_wstring(j);
      EXPECT_EQ(table.find(var.c_str(), obj.c_str()), &table.records()[static_cast<std::size_t>(j * 10 + i)]);
    }
  }
  EXPECT_EQ(table.find(L"v0,o0", L""), nullptr);
  EXPECT_EQ(table.find(L"v0", L"o20"), nullptr);
  table.append(L"", L"");
  EXPECT_EQ(table.find(nullptr, nullptr), &table.records()[400]);
  EXPECT_EQ(table.find(L"", L"")->key, L",");
  table.clear();
  EXPECT_TRUE(table.records().empty());
  EXPECT_EQ(table.find(L"v0", L"o0"), nullptr);
}
