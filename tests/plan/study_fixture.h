#pragma once
#include <gtest/gtest.h>

#include <memory>
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
}  // namespace tavrin_test
