// The local stage: SLSQP (NLopt) from a starting point, with the models'
// analytic gradients, the region as bounds and the response intervals as
// inequalities. It maximises the smooth surrogate of problem.h; the caller
// verifies the result against the true overall desirability.
#pragma once

#include <vector>

#include "optimum/problem.h"

namespace tavrin::optimum {

// Slot values at a coded point; `coef` holds the slots' coefficients one
// after the other in the layout of quadratic.h.
void slotValues(const Problem& problem, const double* coef, const double* coded, double* values) noexcept;

// What the polish used, for the refinement that follows it.
struct PolishTrace {
  double floor = 0.0;  // of the surrogate in the last SLSQP run
};

// How far SLSQP goes: Near stops once its steps are about 1e-3 (coded) or
// the objective changes by 1e-6 relative, for the Newton refinement on the
// active set to finish; Full runs it to 1e-10.
enum class Precision { Near, Full };

// The polished coded point (every factor; fixed factors keep their value).
// At Near precision SLSQP stops early where a Newton probe on its active
// set reaches a strict local maximum, and drops the coordinates it holds on
// a bound once they have settled.
std::vector<double> polish(const Problem& problem, const double* coef, const std::vector<double>& start,
                           PolishTrace* trace = nullptr, Precision precision = Precision::Full);

// A point with what decides its rank.
struct Located {
  std::vector<double> coded;
  bool admissible = false;
  double key = 0.0;        // rankKey
  double violation = 0.0;  // of the hard intervals
};

Located locate(const Problem& problem, const double* coef, std::vector<double> coded);

// Admissible first, then the higher key, then the smaller violation.
bool better(const Located& a, const Located& b) noexcept;

// Polishes from `start` to Near precision and refines the result on its
// active set; when the refinement fails (the active set was not yet
// clear) polishes again to Full precision and refines that. Keeps the
// polished point only if it ranks at least as well as the start under the
// true goals.
Located polishVerified(const Problem& problem, const double* coef, const std::vector<double>& start);

}  // namespace tavrin::optimum
