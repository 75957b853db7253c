// The last step of the polish: Newton's method on the optimality (KKT)
// conditions of the active set where SLSQP stopped. SLSQP stops on the size
// of its steps, which near a curved active constraint leaves the point some
// 1e-8 off; Newton's method with the models' exact second derivatives
// converges quadratically from there.
#pragma once

#include <vector>

#include "optimum/problem.h"

namespace tavrin::optimum {

// Refines `coded` in place and returns true when Newton's method on an
// active set converged to a point that meets the optimality (KKT)
// conditions: inside the region, meeting every interval, with multipliers
// of the right sign for the held intervals and the pinned bounds. The set
// starts from the coordinates near a bound (pinned to it) and the
// intervals near their ends, and changes one step at a time while a
// condition fails; otherwise `coded` is left unchanged and it returns false.
// A probe, tried while SLSQP is still under way, gives up sooner (a few
// Newton steps, each at most half the one before) and also needs a strict
// local maximum on the active set within 1 (coded) of `coded`.
bool refineActiveSet(const Problem& problem, const double* coef, double floor, std::vector<double>& coded,
                     bool probe = false);

}  // namespace tavrin::optimum
