// Evaluation of the fitted quadratic models at the current point.
#pragma once

#include "tavrin/detail/workspace.h"

namespace tavrin {

// objValue[j] = model j at pointCoded, in the fixed order of additions:
// y = B00; y += (B0n + Bn0 x_n) x_n; then for i = n-1 down to 1,
// s = sum over k = n down to i+1 of B[i,k-i] x_k and
// y += ((Bi0 x_i + B0i) + s) x_i.
void evaluateQuadratic(int j, NumericWorkspace& ws);

// Codes pointNatural for every objective and evaluates its model.
void evaluateModels(NumericWorkspace& ws, int& failure);

}  // namespace tavrin
