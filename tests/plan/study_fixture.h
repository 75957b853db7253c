// Builders of small studies at a chosen stage, shared by the tests of the
// plan object and of the plan computation.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tavrin/tavrin.h"

namespace tavrin_test {

enum class Stage { Declared, Planned, Modeled, Optimized };

inline std::wstring varName(int i) { return L"x" + std::to_wstring(i); }
inline std::wstring objName(int j) { return L"y" + std::to_wstring(j); }

// A study of `vars` design variables x1.. (x_i declared on [i, 2i]) and
// `objs` objectives y1.., advanced to `stage`. Measured values are
// y_j(run r) = r + j, so every model differs; the optimized stage searches
// the declared ranges with weight 1 on every objective.
inline std::unique_ptr<CTavrin> makeStudy(CTavrin::PlanType type, int vars, int objs,
                                          Stage stage = Stage::Declared) {
  auto study = std::make_unique<CTavrin>(type);
  for (int i = 1; i <= vars; ++i) study->planAddDesignVar(varName(i).c_str(), i, 2.0 * i);
  for (int j = 1; j <= objs; ++j) study->planAddObjective(objName(j).c_str());
  if (stage == Stage::Declared) return study;
  EXPECT_EQ(study->planCompute().code, 0u);
  if (stage == Stage::Planned) return study;
  unsigned int runs = 0;
  study->planGetExperimentCount(runs);
  for (int j = 1; j <= objs; ++j) {
    for (unsigned int r = 1; r <= runs; ++r) study->planSetObjectiveValue(objName(j).c_str(), r, r + j);
  }
  EXPECT_EQ(study->modelCompute().code, 0u);
  if (stage == Stage::Modeled) return study;
  for (int j = 1; j <= objs; ++j) study->modelSetObjectiveLimits(objName(j).c_str(), 1.0, 0.0, 0.0);
  for (int i = 1; i <= vars; ++i) study->modelSetDesignVarLimits(varName(i).c_str(), i, 2.0 * i);
  EXPECT_EQ(study->modelOptimize(0, 64).code, 0u);
  return study;
}

struct Flags {
  bool plan, model, optimized;
  bool operator==(const Flags&) const = default;
};

inline Flags flagsOf(const CTavrin& study) {
  return {study.planIsComputed(), study.modelIsComputed(), study.modelIsOptimized()};
}

inline std::ostream& operator<<(std::ostream& os, const Flags& f) {
  return os << '{' << f.plan << ',' << f.model << ',' << f.optimized << '}';
}

}  // namespace tavrin_test
