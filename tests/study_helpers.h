// Shared helpers for tests that drive a whole study through CTavrin.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tavrin/tavrin.h"

namespace study {

inline std::wstring varName(int i) { return L"x" + std::to_wstring(i); }
inline std::wstring objName(int j) { return L"y" + std::to_wstring(j); }

struct Range {
  double lo;
  double hi;
};

// Declared range of variable i used by default: distinct, not symmetric
// about zero and not dyadic, so coding a natural value does real work.
inline Range defaultRange(int i) { return {0.3 * i - 1.1, 0.3 * i + 2.6}; }

// A study with variables x1..xn (ranges from `range`) and objectives
// y1..ym on which planCompute has succeeded.
template <class RangeFn = Range (*)(int)>
std::unique_ptr<CTavrin> computedStudy(CTavrin::PlanType type, int n, int m, RangeFn range = defaultRange) {
  auto s = std::make_unique<CTavrin>(type);
  for (int i = 1; i <= n; ++i) {
    const Range r = range(i);
    EXPECT_EQ(s->planAddDesignVar(varName(i).c_str(), r.lo, r.hi).code, 0u);
  }
  for (int j = 1; j <= m; ++j) EXPECT_EQ(s->planAddObjective(objName(j).c_str()).code, 0u);
  EXPECT_EQ(s->planCompute().code, 0u);
  return s;
}

inline unsigned runCount(CTavrin& s) {
  unsigned count = 0;
  EXPECT_EQ(s.planGetExperimentCount(count).code, 0u);
  return count;
}

// Natural value of variable i in experiment r (as mapped for objective y1).
inline double naturalAt(CTavrin& s, int i, unsigned r) {
  double v = 0;
  EXPECT_EQ(s.planGetDesignVarValue(varName(i).c_str(), objName(1).c_str(), r, v).code, 0u);
  return v;
}

// Coded value of a natural value for a variable declared on [lo, hi].
inline double coded(double v, Range r) { return (2 * v - r.hi - r.lo) / (r.hi - r.lo); }

// Moves the current point, refits and returns the prediction of objective j.
inline double predictAt(CTavrin& s, const std::vector<double>& point, int j) {
  for (std::size_t i = 0; i < point.size(); ++i) {
    EXPECT_EQ(s.modelSetDesignVarValue(varName(static_cast<int>(i) + 1).c_str(), point[i]).code, 0u);
  }
  EXPECT_EQ(s.modelCompute().code, 0u);
  double v = 0;
  EXPECT_EQ(s.modelGetObjectiveValue(objName(j).c_str(), v).code, 0u);
  return v;
}

// Error message of an operation: "Tavrin Error. <op>(). <reason>".
inline std::wstring errorText(const std::wstring& op, const std::wstring& reason) {
  return L"Tavrin Error. " + op + L"(). " + reason;
}

}  // namespace study
