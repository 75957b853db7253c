// Generators of the coded plan matrices (levels -1, 0, +1). Each returns a
// new zero-filled table whose row r (from 1) is run r and whose column i
// (from 1) is design variable i; row 0 and column 0 stay 0.
#pragma once

#include <cstdint>

#include "tavrin/detail/workspace.h"

namespace tavrin {

// Runs of the saturated Rechtschaffner plan: (n + 1)(n + 2) / 2.
int rechtschaffnerRunCount(int n);

// Rechtschaffner plan for n >= 1 design variables: N + 2 rows (the last one
// stays 0), n + 1 columns.
Table<std::int32_t> buildRechtschaffnerPlan(int n);

// True for the design-variable counts that have a Box-Behnken plan:
// 1 to 7, 9 to 12 and 16.
bool boxBehnkenSupports(int n);

// Runs of the Box-Behnken plan for a supported n.
int boxBehnkenRunCount(int n);

// Box-Behnken plan for a supported n: N + 1 rows, n + 1 columns; the last
// run is the single centre run.
Table<std::int32_t> buildBoxBehnkenPlan(int n);

}  // namespace tavrin
