#include <gtest/gtest.h>

#include <functional>

#include "plan/study_fixture.h"

using tavrin_test::Flags;
using tavrin_test::flagsOf;
using tavrin_test::makeStudy;
using tavrin_test::Stage;

TEST(Flags, NewObjectIsEmptyAndKeepsAnyPlanType) {
  for (int type : {0, 1, 2, 7}) {
    CTavrin study(static_cast<CTavrin::PlanType>(type));
    EXPECT_EQ(flagsOf(study), (Flags{false, false, false}));
    unsigned int vars = 9, objs = 9;
    EXPECT_EQ(study.planGetDesignVarCount(vars).code, 0u);
    EXPECT_EQ(study.planGetObjectiveCount(objs).code, 0u);
    EXPECT_EQ(vars, 0u);
    EXPECT_EQ(objs, 0u);
    CTavrin::PlanType got = CTavrin::BoxBehnkenPlan;
    const Result r = study.planGetType(got);
    EXPECT_EQ(r.code, 0u);
    EXPECT_STREQ(r.message, L"No Errors");
    EXPECT_EQ(static_cast<int>(got), type);
    study.planSetType(static_cast<CTavrin::PlanType>(type + 40));
    study.planGetType(got);
    EXPECT_EQ(static_cast<int>(got), type + 40);
  }
  // The constants are data that a caller can refer to.
  const unsigned int* version = &CTavrin::FILE_CURRENT_VERSION;
  const unsigned int& slots = CTavrin::BestResultCount;
  EXPECT_EQ(*version, 1u);
  EXPECT_EQ(slots, 5u);
}

// Each operation applied to a study at a given stage: the code it returns
// and the flags (plan, model, optimized) it leaves.
TEST(Flags, TransitionTable) {
  double a = 0, b = 0, c = 0;
  unsigned int u = 0;
  const wchar_t* name = nullptr;
  using Call = std::function<Result(CTavrin&)>;
  const struct {
    const char* what;
    Stage start;
    Call call;
    unsigned int code;
    Flags after;
  } kCases[] = {
      {"planSetType", Stage::Optimized, [](CTavrin& s) { return s.planSetType(CTavrin::BoxBehnkenPlan); }, 0, {0, 0, 0}},
      {"planAddDesignVar before plan", Stage::Declared, [](CTavrin& s) { return s.planAddDesignVar(L"z", 0, 1); }, 0, {0, 0, 0}},
      {"planAddDesignVar after plan", Stage::Optimized, [](CTavrin& s) { return s.planAddDesignVar(L"z", 0, 1); }, 12, {1, 1, 1}},
      {"planAddObjective after plan", Stage::Optimized, [](CTavrin& s) { return s.planAddObjective(L"z"); }, 13, {1, 1, 1}},
      {"planCompute", Stage::Optimized, [](CTavrin& s) { return s.planCompute(); }, 0, {1, 0, 0}},
      {"planCompute refused", Stage::Declared, [](CTavrin& s) { s.planAddObjective(L"y2"); s.planSetType(CTavrin::RechschafnerPlan); return s.planCompute(); }, 6, {0, 0, 0}},
      {"modelCompute", Stage::Planned, [](CTavrin& s) { return s.modelCompute(); }, 0, {1, 1, 0}},
      {"modelCompute keeps optimized", Stage::Optimized, [](CTavrin& s) { return s.modelCompute(); }, 0, {1, 1, 1}},
      {"modelCompute before plan", Stage::Declared, [](CTavrin& s) { return s.modelCompute(); }, 1, {0, 0, 0}},
      {"planSetObjectiveValue", Stage::Optimized, [](CTavrin& s) { return s.planSetObjectiveValue(L"y1", 1, 2.0); }, 0, {1, 0, 0}},
      {"planSetObjectiveValue unknown", Stage::Optimized, [](CTavrin& s) { return s.planSetObjectiveValue(L"q", 1, 2.0); }, 5, {1, 0, 0}},
      {"planSetObjectiveValue too large", Stage::Optimized, [](CTavrin& s) { return s.planSetObjectiveValue(L"y1", 10, 2.0); }, 11, {1, 1, 1}},
      {"modelSetDesignVarValue", Stage::Optimized, [](CTavrin& s) { return s.modelSetDesignVarValue(L"x1", 1.5); }, 0, {1, 0, 0}},
      {"modelSetDesignVarValue unknown", Stage::Optimized, [](CTavrin& s) { return s.modelSetDesignVarValue(L"q", 1.5); }, 5, {1, 0, 0}},
      {"modelSetObjectiveLimits", Stage::Optimized, [](CTavrin& s) { return s.modelSetObjectiveLimits(L"y1", 1, 0, 1); }, 0, {1, 1, 0}},
      {"modelSetObjectiveLimits unknown", Stage::Optimized, [](CTavrin& s) { return s.modelSetObjectiveLimits(L"q", 1, 0, 1); }, 5, {1, 1, 0}},
      {"modelSetObjectiveLimits before model", Stage::Planned, [](CTavrin& s) { return s.modelSetObjectiveLimits(L"y1", 1, 0, 1); }, 2, {1, 0, 0}},
      {"modelSetDesignVarLimits", Stage::Optimized, [](CTavrin& s) { return s.modelSetDesignVarLimits(L"x1", 1, 2); }, 0, {1, 1, 0}},
      {"modelSetDesignVarLimits unknown", Stage::Optimized, [](CTavrin& s) { return s.modelSetDesignVarLimits(L"q", 1, 2); }, 5, {1, 1, 0}},
      {"modelOptimize", Stage::Modeled, [](CTavrin& s) { s.modelSetObjectiveLimits(L"y1", 1, 0, 0); return s.modelOptimize(0, 16); }, 0, {1, 1, 1}},
      {"modelOptimize finds nothing", Stage::Optimized, [](CTavrin& s) { return s.modelOptimize(3, 3); }, 4, {1, 1, 0}},
      {"modelOptimize before model", Stage::Planned, [](CTavrin& s) { return s.modelOptimize(0, 16); }, 2, {1, 0, 0}},
      // Queries change nothing.
      {"planGetDesignVar", Stage::Optimized, [&](CTavrin& s) { return s.planGetDesignVar(0, name, a, b); }, 0, {1, 1, 1}},
      {"planGetObjective", Stage::Optimized, [](CTavrin& s) { return s.planGetObjective(L"q"); }, 5, {1, 1, 1}},
      {"planGetExperimentCount", Stage::Optimized, [&](CTavrin& s) { return s.planGetExperimentCount(u); }, 0, {1, 1, 1}},
      {"planGetDesignVarValue", Stage::Optimized, [&](CTavrin& s) { return s.planGetDesignVarValue(L"x1", L"y1", 2, a); }, 0, {1, 1, 1}},
      {"planGetObjectiveValue", Stage::Optimized, [&](CTavrin& s) { return s.planGetObjectiveValue(L"y1", 2, a); }, 0, {1, 1, 1}},
      {"modelGetObjectiveValue", Stage::Optimized, [&](CTavrin& s) { return s.modelGetObjectiveValue(L"y1", a); }, 0, {1, 1, 1}},
      {"modelGetObjectiveLimits", Stage::Optimized, [&](CTavrin& s) { return s.modelGetObjectiveLimits(L"y1", a, b, c); }, 0, {1, 1, 1}},
      {"modelGetDesignVarBestResult", Stage::Optimized, [&](CTavrin& s) { return s.modelGetDesignVarBestResult(L"x2", 5, a); }, 0, {1, 1, 1}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    // A Box-Behnken study of 2 variables and 1 objective: 9 experiments.
    auto study = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1, c.start);
    EXPECT_EQ(c.call(*study).code, c.code);
    EXPECT_EQ(flagsOf(*study), c.after);
  }
}

TEST(Flags, SetTypeReopensTheRegistries) {
  auto study = makeStudy(CTavrin::BoxBehnkenPlan, 2, 1, Stage::Planned);
  unsigned int count = 0;
  Result r = study->planAddObjective(L"late");
  EXPECT_EQ(r.code, 13u);
  EXPECT_STREQ(r.message, L"Tavrin error. planAddObjective(). Can not Add objective. Plan has been computed.");
  r = study->planAddDesignVar(L"late", 0, 1);
  EXPECT_EQ(r.code, 12u);
  EXPECT_STREQ(r.message, L"Tavrin error. planAddDesignVar(). Can not Add variable. Plan has been computed.");
  study->planGetObjectiveCount(count);
  EXPECT_EQ(count, 1u);
  study->planGetDesignVarCount(count);
  EXPECT_EQ(count, 2u);

  r = study->planSetType(CTavrin::BoxBehnkenPlan);
  EXPECT_EQ(r.code, 0u);
  EXPECT_STREQ(r.message, L"No Errors");
  EXPECT_EQ(study->planGetExperimentCount(count).code, 1u);
  EXPECT_EQ(study->planAddObjective(L"late").code, 0u);
  EXPECT_EQ(study->planAddDesignVar(L"late", 0, 1).code, 0u);
  study->planGetObjectiveCount(count);
  EXPECT_EQ(count, 2u);
  // The next plan is built from the grown registries: 3 variables, 13 runs.
  EXPECT_EQ(study->planCompute().code, 0u);
  study->planGetExperimentCount(count);
  EXPECT_EQ(count, 13u);
}
