// Mapping between coded levels and natural values of the design variables,
// per objective. Only the linear kind exists: coded -1, 0, +1 stand for the
// declared minimum, the midpoint and the declared maximum.
#pragma once

#include "tavrin/detail/workspace.h"

namespace tavrin {

inline constexpr int kLinearTransform = 1;

// levelLow/levelHigh of objective j from the declared ranges.
void mapRanges(int j, NumericWorkspace& ws);

// pointNatural holds coded levels on entry and natural values on return:
// x = ((lo + hi) + (hi - lo) * c) / 2. `failure` is set to 0.
void transformForward(int j, NumericWorkspace& ws, int& failure);

// pointCoded = (x + x - hi - lo) / (hi - lo) for every variable, evaluated
// left to right. `failure` is set to 0.
void transformInverse(int j, NumericWorkspace& ws, int& failure);

}  // namespace tavrin
