#include <gtest/gtest.h>

#include <string>

#include "plan/study_fixture.h"

using tavrin_test::Flags;
using tavrin_test::flagsOf;
using tavrin_test::makeStudy;
using tavrin_test::objName;
using tavrin_test::Stage;
using tavrin_test::varName;

namespace {

constexpr auto BB = CTavrin::BoxBehnkenPlan;
constexpr auto R = CTavrin::RechschafnerPlan;
const wchar_t kVarsError[] = L"Tavrin Error. planCompute(). MapDesignVars size error.";
const wchar_t kObjsError[] = L"Tavrin Error. planCompute(). MapObjectives size error.";

}  // namespace

TEST(PlanCompute, RefusedCountsChangeNothing) {
  const struct {
    int type, vars, objs;
    unsigned int code;
  } kCases[] = {
      {BB, 0, 1, 6},  {BB, 8, 1, 6},  {BB, 13, 1, 6}, {BB, 14, 1, 6}, {BB, 15, 1, 6}, {BB, 17, 1, 6},
      {R, 3, 1, 6},   {R, 21, 1, 6},  {0, 3, 1, 6},   {7, 0, 1, 6},
      {BB, 8, 0, 6},  {R, 3, 21, 6},  // the variable count is checked first
      {BB, 2, 0, 7},  {BB, 16, 21, 7}, {R, 4, 0, 7},  {9, 20, 21, 7},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << ", " << c.vars << " variables, " << c.objs << " objectives");
    auto study = makeStudy(static_cast<CTavrin::PlanType>(c.type), c.vars, c.objs);
    const Result r = study->planCompute();
    EXPECT_EQ(r.code, c.code);
    EXPECT_STREQ(r.message, c.code == 6 ? kVarsError : kObjsError);
    EXPECT_EQ(flagsOf(*study), (Flags{false, false, false}));
    unsigned int count = 0;
    EXPECT_EQ(study->planGetExperimentCount(count).code, 1u);
    study->planGetDesignVarCount(count);
    EXPECT_EQ(count, static_cast<unsigned int>(c.vars));
    study->planGetObjectiveCount(count);
    EXPECT_EQ(count, static_cast<unsigned int>(c.objs));
  }
}

TEST(PlanCompute, RunCounts) {
  const struct {
    int type;
    int vars;
    unsigned int runs;
  } kCases[] = {
      {BB, 1, 3},   {BB, 2, 9},   {BB, 3, 13},   {BB, 4, 25},  {BB, 5, 41},  {BB, 6, 49},
      {BB, 7, 57},  {BB, 9, 121}, {BB, 10, 161}, {BB, 11, 177}, {BB, 12, 193}, {BB, 16, 385},
      {R, 4, 15},   {R, 5, 21},   {R, 6, 28},    {R, 7, 36},   {R, 8, 45},   {R, 9, 55},
      {R, 10, 66},  {R, 11, 78},  {R, 12, 91},   {R, 13, 105}, {R, 14, 120}, {R, 15, 136},
      {R, 16, 153}, {R, 17, 171}, {R, 18, 190},  {R, 19, 210}, {R, 20, 231},
      {0, 4, 15},   {7, 8, 45},   {-3, 20, 231},  // every other type builds a Rechtschaffner plan
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << ", " << c.vars << " variables");
    // Twenty objectives fill the workspace to its last index.
    auto study = makeStudy(static_cast<CTavrin::PlanType>(c.type), c.vars, c.vars == 20 ? 20 : 1);
    const Result r = study->planCompute();
    EXPECT_EQ(r.code, 0u);
    EXPECT_STREQ(r.message, L"No Errors");
    EXPECT_EQ(flagsOf(*study), (Flags{true, false, false}));
    unsigned int runs = 0;
    EXPECT_EQ(study->planGetExperimentCount(runs).code, 0u);
    EXPECT_EQ(runs, c.runs);
  }
}

TEST(PlanCompute, NaturalValuesPerRunAndObjective) {
  // Box-Behnken, 2 variables: runs (+1,+1) (-1,+1) (+1,-1) (-1,-1) (+1,0)
  // (-1,0) (0,+1) (0,-1) (0,0). x is declared on [10, 20], y on [5, -5].
  const double kX[] = {20, 10, 20, 10, 20, 10, 15, 15, 15};
  const double kY[] = {-5, -5, 5, 5, 0, 0, -5, 5, 0};
  CTavrin study(BB);
  study.planAddDesignVar(L"x", 10, 20);
  study.planAddDesignVar(L"y", 5, -5);
  study.planAddObjective(L"first");
  study.planAddObjective(L"second");
  ASSERT_EQ(study.planCompute().code, 0u);
  for (const wchar_t* objective : {L"first", L"second"}) {
    for (unsigned int r = 1; r <= 9; ++r) {
      double x = 0, y = 0;
      EXPECT_EQ(study.planGetDesignVarValue(L"x", objective, r, x).code, 0u);
      EXPECT_EQ(study.planGetDesignVarValue(L"y", objective, r, y).code, 0u);
      EXPECT_EQ(x, kX[r - 1]) << objective << " run " << r;
      EXPECT_EQ(y, kY[r - 1]) << objective << " run " << r;
    }
  }
  // A type other than 1 and 2, 4 variables x_i on [i, 2i]: run 1 has every
  // variable at -1, run 15 only x4 at +1 and the others at 0.
  auto other = makeStudy(static_cast<CTavrin::PlanType>(7), 4, 1, Stage::Planned);
  for (int i = 1; i <= 4; ++i) {
    double first = 0, last = 0;
    other->planGetDesignVarValue(varName(i).c_str(), L"y1", 1, first);
    other->planGetDesignVarValue(varName(i).c_str(), L"y1", 15, last);
    EXPECT_EQ(first, i);
    EXPECT_EQ(last, i == 4 ? 8.0 : 1.5 * i);
  }
}

TEST(PlanCompute, SecondComputeDiscardsEverythingEntered) {
  auto study = makeStudy(BB, 2, 2, Stage::Optimized);
  study->planSetObjectiveValue(L"y2", 0, 4.0);
  ASSERT_EQ(study->modelCompute().code, 0u);
  study->modelSetObjectiveLimits(L"y1", 2.0, -1.0, 9.0);
  study->modelSetDesignVarLimits(L"x2", 3.0, 4.0);
  ASSERT_EQ(study->planCompute().code, 0u);
  EXPECT_EQ(flagsOf(*study), (Flags{true, false, false}));
  double value = -1, low = -1, high = -1;
  for (unsigned int r = 0; r <= 9; ++r) {
    for (int j = 1; j <= 2; ++j) {
      study->planGetObjectiveValue(objName(j).c_str(), r, value);
      EXPECT_EQ(value, 0.0) << "run " << r;
    }
  }
  EXPECT_EQ(study->planGetDesignVarValue(L"x2", L"y2", 1, value).code, 0u);
  EXPECT_EQ(value, 4.0);  // the plan itself is built again from the same registries
  ASSERT_EQ(study->modelCompute().code, 0u);
  study->modelGetObjectiveValue(L"y1", value);
  EXPECT_EQ(value, 0.0);  // fitted to all-zero data
  study->modelGetObjectiveLimits(L"y1", value, low, high);
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(low, 0.0);
  EXPECT_EQ(high, 0.0);
  study->modelGetDesignVarLimits(L"x2", low, high);
  EXPECT_EQ(low, 0.0);
  EXPECT_EQ(high, 0.0);
  EXPECT_EQ(study->modelGetDesignVarBestResult(L"x1", 1, value).code, 3u);
}

// The first model evaluation happens at the last run of the plan.
TEST(PlanCompute, CurrentPointIsTheLastRun) {
  // Rechtschaffner plans are saturated: the model reproduces every measured
  // value, here y1 = run + 1, so 16 at run 15.
  auto saturated = makeStudy(R, 4, 1, Stage::Modeled);
  double value = 0;
  ASSERT_EQ(saturated->modelGetObjectiveValue(L"y1", value).code, 0u);
  EXPECT_NEAR(value, 16.0, 1e-4);

  // Box-Behnken, 2 variables, y = 3 + c1 + 2 c2 in coded levels: only the
  // centre run (run 9) predicts 3.
  const double kY[] = {6, 4, 2, 0, 4, 2, 5, 1, 3};
  auto centre = makeStudy(BB, 2, 1, Stage::Planned);
  for (unsigned int r = 1; r <= 9; ++r) centre->planSetObjectiveValue(L"y1", r, kY[r - 1]);
  ASSERT_EQ(centre->modelCompute().code, 0u);
  centre->modelGetObjectiveValue(L"y1", value);
  EXPECT_NEAR(value, 3.0, 1e-5);
}
