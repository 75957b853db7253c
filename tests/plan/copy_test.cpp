#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan/study_fixture.h"

using tavrin_test::makeStudy;
using tavrin_test::objName;
using tavrin_test::Stage;
using tavrin_test::varName;

namespace {

// Everything a caller can read from a study of up to 5 variables and 3
// objectives (names x1.., y1..), with the code of every query.
std::vector<double> snapshot(CTavrin& s) {
  std::vector<double> out;
  auto add = [&](const Result& r, std::initializer_list<double> values) {
    out.push_back(r.code);
    if (r.code == 0) out.insert(out.end(), values);
  };
  out.insert(out.end(), {double(s.planIsComputed()), double(s.modelIsComputed()), double(s.modelIsOptimized())});
  unsigned int u = 0;
  double a = 0, b = 0, c = 0;
  CTavrin::PlanType type{};
  add(s.planGetType(type), {double(type)});
  add(s.planGetDesignVarCount(u), {double(u)});
  add(s.planGetObjectiveCount(u), {double(u)});
  add(s.planGetExperimentCount(u), {double(u)});
  const unsigned int runs = u;
  for (int i = 1; i <= 5; ++i) {
    const std::wstring x = varName(i);
    const wchar_t* name = nullptr;
    add(s.planGetDesignVar(i - 1, name, a, b), {a, b, name ? double(name == x) : 0.0});
    add(s.modelGetDesignVarLimits(x.c_str(), a, b), {a, b});
    for (unsigned int slot = 0; slot <= 5; ++slot) add(s.modelGetDesignVarBestResult(x.c_str(), slot, a), {a});
    for (int j = 1; j <= 3; ++j) {
      for (unsigned int r = 1; r <= runs; ++r) add(s.planGetDesignVarValue(x.c_str(), objName(j).c_str(), r, a), {a});
    }
  }
  for (int j = 1; j <= 3; ++j) {
    const std::wstring y = objName(j);
    add(s.planGetObjective(y.c_str()), {});
    for (unsigned int r = 0; r <= runs; ++r) add(s.planGetObjectiveValue(y.c_str(), r, a), {a});
    add(s.modelGetObjectiveValue(y.c_str(), a), {a});
    add(s.modelGetObjectiveLimits(y.c_str(), a, b, c), {a, b, c});
    for (unsigned int slot = 0; slot <= 5; ++slot) add(s.modelGetObjectiveBestResult(y.c_str(), slot, a), {a});
  }
  return out;
}

// An optimized Box-Behnken study of 3 variables and 2 objectives with a
// value in experiment 0 and non-zero limits, so that every part is filled.
std::unique_ptr<CTavrin> richStudy() {
  auto study = makeStudy(CTavrin::BoxBehnkenPlan, 3, 2, Stage::Optimized);
  study->planSetObjectiveValue(L"y2", 0, 0.25);
  study->modelCompute();
  study->modelSetObjectiveLimits(L"y2", 0.5, -100.0, 100.0);
  study->modelSetDesignVarLimits(L"x3", 3.5, 5.5);
  EXPECT_EQ(study->modelOptimize(0, 128).code, 0u);
  return study;
}

}  // namespace

TEST(Copy, CopyOutlivesItsSource) {
  auto source = richStudy();
  const std::vector<double> expected = snapshot(*source);
  ASSERT_EQ(std::vector<double>(expected.begin(), expected.begin() + 3), std::vector<double>(3, 1.0));
  const wchar_t* sourceName = nullptr;
  double min = 0, max = 0;
  source->planGetDesignVar(0, sourceName, min, max);

  CTavrin copy(*source);
  EXPECT_EQ(snapshot(copy), expected);
  const wchar_t* copyName = nullptr;
  copy.planGetDesignVar(0, copyName, min, max);
  EXPECT_NE(copyName, sourceName);  // the copy owns its texts
  source.reset();
  EXPECT_EQ(snapshot(copy), expected);
  // The copy keeps working: a new fit and optimization on its own tables.
  EXPECT_EQ(copy.modelSetDesignVarValue(L"x1", 1.5).code, 0u);
  EXPECT_EQ(copy.modelCompute().code, 0u);
  EXPECT_EQ(copy.modelOptimize(0, 32).code, 0u);
}

TEST(Copy, CopiesAreIndependent) {
  auto source = richStudy();
  const std::vector<double> expected = snapshot(*source);
  CTavrin copy(*source);
  copy.planSetObjectiveValue(L"y1", 4, 99.0);
  copy.modelCompute();
  copy.modelSetObjectiveLimits(L"y1", 7.0, 1.0, 2.0);
  EXPECT_EQ(snapshot(*source), expected);
  const std::vector<double> changed = snapshot(copy);
  EXPECT_NE(changed, expected);
  source->planSetType(CTavrin::RechschafnerPlan);
  source->planAddDesignVar(L"x4", 0, 1);
  EXPECT_EQ(snapshot(copy), changed);
}

TEST(Copy, AssignmentReplacesTheWholeTarget) {
  auto source = richStudy();
  const std::vector<double> expected = snapshot(*source);
  // A target with more variables, objectives and runs, of the other type.
  auto target = makeStudy(CTavrin::RechschafnerPlan, 5, 3, Stage::Optimized);
  CTavrin& returned = (*target = *source);
  EXPECT_EQ(&returned, target.get());
  EXPECT_EQ(snapshot(*target), expected);
  double min = 0, max = 0;
  EXPECT_EQ(target->planGetDesignVar(L"x4", min, max).code, 5u);
  EXPECT_EQ(target->planGetObjective(L"y3").code, 5u);
  source.reset();
  EXPECT_EQ(snapshot(*target), expected);

  // Assigning a new object empties a computed one.
  *target = CTavrin(CTavrin::BoxBehnkenPlan);
  EXPECT_EQ(snapshot(*target), snapshot(*makeStudy(CTavrin::BoxBehnkenPlan, 0, 0)));
  EXPECT_EQ(target->planAddDesignVar(L"z", 0, 1).code, 0u);
}

TEST(Copy, SelfAssignmentChangesNothing) {
  auto study = richStudy();
  const std::vector<double> expected = snapshot(*study);
  CTavrin& alias = *study;
  CTavrin& returned = (*study = alias);
  EXPECT_EQ(&returned, study.get());
  EXPECT_EQ(snapshot(*study), expected);
  EXPECT_EQ(study->modelCompute().code, 0u);
}
