// The two kinds of plan, each as one row: which design-variable counts it
// supports, how many runs it has, how its coded matrix is built and how its
// models are fitted. planCompute, modelCompute and Load all go through this
// table, so the kinds cannot drift apart between them.
#pragma once

#include <cstdint>

#include "tavrin/tavrin.h"

namespace tavrin {

struct PlanKind {
  CTavrin::PlanType type;
  bool (*supports)(int n);
  int (*runCount)(int n);
  Table<std::int32_t> (*build)(int n);
  TriangularTable<float> (*fit)(int n, int runCount, int m, const Table<std::int32_t>& planMatrix,
                                const Table<float>& obsTable);
};

// The kind that builds plans of `type`: Box-Behnken for BoxBehnkenPlan,
// Rechtschaffner for every other value, stored or not.
const PlanKind& planKindOf(CTavrin::PlanType type);

// The kind a plan file's type number stands for: Rechtschaffner for 1,
// Box-Behnken for every other number.
const PlanKind& planKindOfFileType(int fileType);

}  // namespace tavrin
