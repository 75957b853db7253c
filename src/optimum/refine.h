// The last step of the polish: Newton's method on the optimality (KKT)
// conditions of the active set where SLSQP stopped. SLSQP stops on the size
// of its steps, which near a curved active constraint leaves the point some
// 1e-8 off; Newton's method with the models' exact second derivatives
// converges quadratically from there.
#pragma once

#include <vector>

#include "optimum/problem.h"

namespace tavrin::optimum {

// Refines `coded` in place and returns true when the Newton iteration on
// the active set (coordinates near a bound pinned to it) converged inside
// the region with multipliers of the right sign, for the intervals and the
// pinned bounds alike; otherwise leaves it unchanged and returns false.
bool refineActiveSet(const Problem& problem, const double* coef, double floor, std::vector<double>& coded);

}  // namespace tavrin::optimum
