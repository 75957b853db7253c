#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "tavrin/tavrin.h"

namespace tavrin_test {
enum class Stage { Declared, Planned, Modeled, Optimized };
inline std::wstring varName(int i) { return L"x" + std::to_wstring(i); }
inline std::wstring objName(int j) { return L"y" + std::to_wstring(j); }

// A study advanced to a stage: x_i on [i, 2i]; y_j measured as r + j in run r; weight 1 over the ranges.
inline std::unique_ptr<CTavrin> makeStudy(CTavrin::PlanType type, int vars, int objs,
                                          Stage stage = Stage::Declared) {
  auto s = std::make_unique<CTavrin>(type);
  for (int i = 1; i <= vars; ++i) s->planAddDesignVar(varName(i).c_str(), i, 2.0 * i);
  for (int j = 1; j <= objs; ++j) s->planAddObjective(objName(j).c_str());
  if (stage == Stage::Declared) return s;
  EXPECT_EQ(s->planCompute().code, 0u);
  if (stage == Stage::Planned) return s;
  unsigned runs = 0;
  s->planGetExperimentCount(runs);
  for (int j = 1; j <= objs; ++j)
    for (unsigned r = 1; r <= runs; ++r) s->planSetObjectiveValue(objName(j).c_str(), r, r + j);
  EXPECT_EQ(s->modelCompute().code, 0u);
  if (stage == Stage::Modeled) return s;
  for (int j = 1; j <= objs; ++j) s->modelSetObjectiveLimits(objName(j).c_str(), 1.0, 0.0, 0.0);
  for (int i = 1; i <= vars; ++i) s->modelSetDesignVarLimits(varName(i).c_str(), i, 2.0 * i);
  EXPECT_EQ(s->modelOptimize(0, 64).code, 0u);
  return s;
}

inline std::string flags(const CTavrin& s) {
  return {"-P"[s.planIsComputed()], "-M"[s.modelIsComputed()], "-O"[s.modelIsOptimized()]};
}

// What a caller reads from a study of up to 4 variables and 3 objectives, codes included.
inline std::wstring snapshot(CTavrin& s) {
  std::wostringstream os;
  double v[3] = {};
  auto add = [&](const Result& r, int n) {
    os << L'|' << r.code;
    for (int k = 0; k < n && !r.code; ++k) os << L' ' << v[k];
  };
  unsigned runs = 0, n = 0, m = 0;
  s.planGetExperimentCount(runs), s.planGetDesignVarCount(n), s.planGetObjectiveCount(m);
  os << std::hexfloat << flags(s).c_str() << runs << L' ' << n << L' ' << m;
  for (int i = 1; i <= 4; ++i) add(s.modelGetDesignVarLimits(varName(i).c_str(), v[0], v[1]), 2);
  for (int j = 1; j <= 3; ++j) {
    const std::wstring y = objName(j);
    for (unsigned r = 0; r <= runs; ++r) add(s.planGetObjectiveValue(y.c_str(), r, v[0]), 1);
    add(s.modelGetObjectiveLimits(y.c_str(), v[0], v[1], v[2]), 3);
    for (unsigned k = 1; k <= 5; ++k) add(s.modelGetObjectiveBestResult(y.c_str(), k, v[0]), 1);
  }
  return os.str();
}
}  // namespace tavrin_test
