#include "optimum/polish.h"

#include <algorithm>
#include <cmath>
#include <nlopt.hpp>

#include "optimum/refine.h"
#include "tavrin/quadratic.h"

namespace tavrin::optimum {
namespace {

// Below this ratio the surrogate continues log r linearly.
constexpr double kLargestFloor = 1e-3;
constexpr double kConstraintTolerance = 1e-12;
constexpr int kMaxEvaluations = 1000;
// A coordinate this close to a bound (coded) counts as held there when
// deciding whether SLSQP's bounds have settled.
constexpr double kNearBound = 1e-7;
// Evaluations in a row on the same bounds after which SLSQP goes on
// without the coordinates held there.
constexpr int kStableBeforeReduce = 2;
// Free factors from which SLSQP tries handing over to Newton's method (and
// goes on without settled coordinates); below, its iterations are cheap.
constexpr std::size_t kProbeFromFactors = 6;

// What the callbacks share: the problem, the slot values and gradients at
// the last point asked for (objective and constraints ask at the same x).
struct Context {
  Context(const Problem& p, const double* c) : problem(p), coef(c), terms(quadratic::termCount(p.factors)) {}

  const Problem& problem;
  const double* coef;
  std::size_t terms;
  double floor = kLargestFloor;
  double objectiveScale = 1.0;
  std::vector<double> full;      // every factor, coded
  std::vector<double> lastFree;  // the free point `values` belong to
  std::vector<double> values;    // per slot
  std::vector<double> gradient;  // per slot, per factor
  std::vector<double> derivative;
  // Handing over to Newton while SLSQP runs (Near only): where each free
  // coordinate stood at the last evaluation (-1 lower bound, 1 upper, 0
  // inside), and the refined point once a probe succeeded.
  bool probing = false;
  std::vector<signed char> bounds;
  std::vector<double> handoff;
  // Evaluations in a row on the same bounds; whether SLSQP may be stopped
  // to go on without the coordinates held on a bound, and whether it was.
  int stable = 0;
  bool reducible = false;
  bool reduce = false;

  void at(const double* x) {
    const std::size_t dims = problem.freeFactors.size();
    if (!lastFree.empty() && std::equal(x, x + dims, lastFree.begin())) return;
    lastFree.assign(x, x + dims);
    for (std::size_t d = 0; d < dims; ++d) full[problem.freeFactors[d]] = x[d];
    const std::size_t n = problem.factors;
    for (std::size_t s = 0; s < problem.slotCount(); ++s) {
      values[s] = quadratic::evaluate(n, coef + s * terms, full.data());
      quadratic::gradient(n, coef + s * terms, full.data(), gradient.data() + s * n);
    }
  }
};

// Whether the free coordinates of `x` sit on the same bounds as at the
// last evaluation; records them.
bool sameBounds(Context& c, const double* x) {
  bool same = c.bounds.size() == c.problem.freeFactors.size();
  c.bounds.resize(c.problem.freeFactors.size());
  for (std::size_t d = 0; d < c.bounds.size(); ++d) {
    const std::size_t f = c.problem.freeFactors[d];
    const signed char where =
        x[d] <= c.problem.lower[f] + kNearBound ? -1 : (x[d] >= c.problem.upper[f] - kNearBound ? 1 : 0);
    same = same && c.bounds[d] == where;
    c.bounds[d] = where;
  }
  return same;
}

// Once the bounds SLSQP holds stop changing, Newton's method on the active
// set may finish from the current point at a fraction of the cost of
// SLSQP's remaining iterations; when a probe reaches a strict local maximum
// no worse than the current point, SLSQP stops there.
void tryHandoff(Context& c, const double* x, double value) {
  if (!c.probing) return;
  if (!sameBounds(c, x)) {
    c.stable = 0;
    return;
  }
  ++c.stable;
  std::vector<double> point = c.full;
  if (refineActiveSet(c.problem, c.coef, c.floor, point, true)) {
    std::vector<double> values(c.problem.slotCount());
    slotValues(c.problem, c.coef, point.data(), values.data());
    std::vector<double> derivative(c.problem.slotCount());
    if (surrogate(c.problem, values.data(), c.floor, derivative.data()) >= value) {
      c.handoff = std::move(point);
      throw nlopt::forced_stop();
    }
  }
  // SLSQP's cost per iteration grows with the coordinates and bounds it
  // carries: once the held bounds have settled, it goes on without them.
  const bool held = std::any_of(c.bounds.begin(), c.bounds.end(), [](signed char b) { return b != 0; });
  if (c.reducible && held && c.stable >= kStableBeforeReduce) {
    c.reduce = true;
    throw nlopt::forced_stop();
  }
}

double objective(unsigned dims, const double* x, double* grad, void* data) {
  Context& c = *static_cast<Context*>(data);
  c.at(x);
  const double value = surrogate(c.problem, c.values.data(), c.floor, c.derivative.data());
  tryHandoff(c, x, value);
  if (grad != nullptr) {
    const std::size_t n = c.problem.factors;
    for (unsigned d = 0; d < dims; ++d) {
      const std::size_t f = c.problem.freeFactors[d];
      double g = 0.0;
      for (std::size_t s = 0; s < c.problem.slotCount(); ++s) g += c.derivative[s] * c.gradient[s * n + f];
      grad[d] = c.objectiveScale * g;
    }
  }
  return c.objectiveScale * value;
}

// One row per finite side of each interval: (y - high) / scale <= 0 and
// (low - y) / scale <= 0.
void constraints(unsigned rows, double* result, unsigned dims, const double* x, double* grad, void* data) {
  Context& c = *static_cast<Context*>(data);
  c.at(x);
  const std::size_t n = c.problem.factors;
  unsigned row = 0;
  const auto emit = [&](std::size_t slot, double sign, double bound) {
    const double scale = c.problem.scale[slot];
    result[row] = sign * (c.values[slot] - bound) / scale;
    if (grad != nullptr)
      for (unsigned d = 0; d < dims; ++d)
        grad[row * dims + d] = sign * c.gradient[slot * n + c.problem.freeFactors[d]] / scale;
    ++row;
  };
  for (const ResponseInterval& i : c.problem.intervals) {
    if (std::isfinite(i.high)) emit(i.slot, 1.0, i.high);
    if (std::isfinite(i.low)) emit(i.slot, -1.0, i.low);
  }
  (void)rows;
}

unsigned constraintRows(const Problem& p) {
  unsigned rows = 0;
  for (const ResponseInterval& i : p.intervals) rows += (std::isfinite(i.high) ? 1u : 0u) + (std::isfinite(i.low) ? 1u : 0u);
  return rows;
}

// SLSQP starts from the identity as its Hessian estimate, so an objective
// whose curvature is far from 1 costs it many iterations to learn the
// scale; dividing by the largest diagonal curvature at the start fixes that.
double objectiveScale(Context& c, const std::vector<double>& x) {
  c.at(x.data());
  std::vector<double> curvature(c.problem.slotCount());
  surrogate(c.problem, c.values.data(), c.floor, c.derivative.data(), curvature.data());
  const std::size_t n = c.problem.factors;
  double largest = 0.0;
  for (const std::size_t f : c.problem.freeFactors) {
    double h = 0.0;
    for (std::size_t s = 0; s < c.problem.slotCount(); ++s) {
      const double g = c.gradient[s * n + f];
      h += c.derivative[s] * 2.0 * c.coef[s * c.terms + quadratic::squareIndex(n, f)] + curvature[s] * g * g;
    }
    largest = std::max(largest, std::abs(h));
  }
  return (std::isfinite(largest) && largest > 1e-12) ? 1.0 / largest : 1.0;
}

// One SLSQP run from `x` (free coordinates), updated in place.
void runSlsqp(Context& c, std::vector<double>& x, Precision precision) {
  const std::size_t dims = c.problem.freeFactors.size();
  nlopt::opt opt(nlopt::LD_SLSQP, static_cast<unsigned>(dims));
  std::vector<double> lower(dims);
  std::vector<double> upper(dims);
  for (std::size_t d = 0; d < dims; ++d) {
    lower[d] = c.problem.lower[c.problem.freeFactors[d]];
    upper[d] = c.problem.upper[c.problem.freeFactors[d]];
  }
  opt.set_lower_bounds(lower);
  opt.set_upper_bounds(upper);
  c.objectiveScale = objectiveScale(c, x);
  opt.set_max_objective(objective, &c);
  const unsigned rows = constraintRows(c.problem);
  if (rows > 0) opt.add_inequality_mconstraint(constraints, &c, std::vector<double>(rows, kConstraintTolerance));
  // SLSQP only has to come near the optimum: refineActiveSet finishes the
  // job with Newton steps, so looser tolerances save most of its iterations.
  const bool near = precision == Precision::Near;
  // With few coordinates an SLSQP iteration costs less than a Newton probe.
  c.probing = near && dims >= kProbeFromFactors;
  c.bounds.clear();
  c.handoff.clear();
  c.stable = 0;
  c.reduce = false;
  opt.set_ftol_rel(near ? 1e-6 : 1e-12);
  opt.set_xtol_rel(near ? 1e-3 : 1e-10);
  opt.set_xtol_abs(near ? 1e-3 : 1e-10);
  opt.set_maxeval(kMaxEvaluations);
  double value = 0.0;
  try {
    opt.optimize(x, value);
  } catch (const nlopt::roundoff_limited&) {
    // x holds the best point reached; the caller verifies it.
  } catch (const nlopt::forced_stop&) {
    // A probe succeeded (SLSQP stops at the refined point) or SLSQP is to
    // go on without the held bounds from where it stands.
    const std::vector<double>& at = c.reduce ? c.full : c.handoff;
    for (std::size_t d = 0; d < dims; ++d) x[d] = at[c.problem.freeFactors[d]];
  } catch (const std::runtime_error&) {
    // A failed step leaves x where SLSQP stopped; verified likewise.
  }
  for (std::size_t d = 0; d < dims; ++d) x[d] = std::clamp(x[d], lower[d], upper[d]);
}

}  // namespace

void slotValues(const Problem& problem, const double* coef, const double* coded, double* values) noexcept {
  const std::size_t terms = quadratic::termCount(problem.factors);
  for (std::size_t s = 0; s < problem.slotCount(); ++s)
    values[s] = quadratic::evaluate(problem.factors, coef + s * terms, coded);
}

namespace {

// SLSQP from `x` (free coordinates of c.problem, updated) on the problem
// with the coordinates c.bounds marks as held fixed on their bounds.
void continueWithoutHeldBounds(const Context& c, const std::vector<double>& start, std::vector<double>& x,
                               Precision precision) {
  const Problem& problem = c.problem;
  Problem reduced = problem;
  reduced.freeFactors.clear();
  std::vector<double> full = start;
  for (std::size_t d = 0; d < problem.freeFactors.size(); ++d) {
    const std::size_t f = problem.freeFactors[d];
    full[f] = x[d];
    if (c.bounds[d] == 0) {
      reduced.freeFactors.push_back(f);
      continue;
    }
    full[f] = c.bounds[d] < 0 ? problem.lower[f] : problem.upper[f];
    reduced.lower[f] = reduced.upper[f] = full[f];
  }
  std::vector<double> polished = full;
  if (!reduced.freeFactors.empty()) {
    Context r(reduced, c.coef);
    r.full = full;
    r.values.resize(problem.slotCount());
    r.gradient.resize(problem.slotCount() * problem.factors);
    r.derivative.resize(problem.slotCount());
    r.floor = c.floor;
    std::vector<double> y(reduced.freeFactors.size());
    for (std::size_t d = 0; d < y.size(); ++d) y[d] = full[reduced.freeFactors[d]];
    runSlsqp(r, y, precision);
    for (std::size_t d = 0; d < y.size(); ++d) polished[reduced.freeFactors[d]] = y[d];
  }
  for (std::size_t d = 0; d < problem.freeFactors.size(); ++d) x[d] = polished[problem.freeFactors[d]];
}

}  // namespace

std::vector<double> polish(const Problem& problem, const double* coef, const std::vector<double>& start,
                           PolishTrace* trace, Precision precision) {
  const std::size_t dims = problem.freeFactors.size();
  if (dims == 0) return start;
  const std::size_t slots = problem.slotCount();
  Context c(problem, coef);
  c.full = start;
  c.values.resize(slots);
  c.gradient.resize(slots * problem.factors);
  c.derivative.resize(slots);
  std::vector<double> x(dims);
  for (std::size_t d = 0; d < dims; ++d) x[d] = start[problem.freeFactors[d]];

  // The floor sits below every ratio at the start, so the surrogate is
  // log D around it; a start of zero desirability first climbs with the
  // largest floor and is polished again once every ratio is positive.
  std::vector<double> values(slots);
  slotValues(problem, coef, start.data(), values.data());
  double smallest = smallestRatio(problem, values.data());
  c.floor = smallest > 0.0 ? std::min(kLargestFloor, smallest / 2) : kLargestFloor;
  c.reducible = true;
  runSlsqp(c, x, precision);
  c.reducible = false;
  if (c.reduce) continueWithoutHeldBounds(c, start, x, precision);
  if (smallest <= 0.0 && !problem.weightedSum) {
    std::vector<double> full = start;
    for (std::size_t d = 0; d < dims; ++d) full[problem.freeFactors[d]] = x[d];
    slotValues(problem, coef, full.data(), values.data());
    smallest = smallestRatio(problem, values.data());
    if (smallest > 0.0 && smallest / 2 < kLargestFloor) {
      c.floor = smallest / 2;
      c.lastFree.clear();
      runSlsqp(c, x, precision);
    }
  }
  std::vector<double> result = start;
  for (std::size_t d = 0; d < dims; ++d) result[problem.freeFactors[d]] = x[d];
  if (trace != nullptr) trace->floor = c.floor;
  return result;
}

Located locate(const Problem& problem, const double* coef, std::vector<double> coded) {
  std::vector<double> values(problem.slotCount());
  slotValues(problem, coef, coded.data(), values.data());
  Located l{std::move(coded), false, 0.0, violation(problem, values.data())};
  l.admissible = l.violation <= kFeasibilityTolerance;
  l.key = rankKey(problem, values.data());
  return l;
}

bool better(const Located& a, const Located& b) noexcept {
  if (a.admissible != b.admissible) return a.admissible;
  if (a.admissible) return a.key > b.key;
  return a.violation < b.violation;
}

namespace {

// The polished point from `start` at `precision`, refined on its active set
// when that converges; `refined` tells whether it did.
Located polishAndRefine(const Problem& problem, const double* coef, const std::vector<double>& start,
                        Precision precision, bool& refined) {
  PolishTrace trace;
  Located polished = locate(problem, coef, polish(problem, coef, start, &trace, precision));
  std::vector<double> point = polished.coded;
  refined = false;
  if (!refineActiveSet(problem, coef, trace.floor, point)) return polished;
  // Keep the refined point unless it is worse beyond rounding: at an
  // optimum the objective is flat to second order, so its last bits
  // cannot tell the two points apart, while the refined one is exact.
  Located candidate = locate(problem, coef, std::move(point));
  const double slack = 1e-12 * std::abs(polished.key);
  if (!candidate.admissible || (polished.admissible && candidate.key < polished.key - slack)) return polished;
  refined = true;
  return candidate;
}

}  // namespace

Located polishVerified(const Problem& problem, const double* coef, const std::vector<double>& start) {
  Located initial = locate(problem, coef, start);
  bool refined = false;
  Located polished = polishAndRefine(problem, coef, start, Precision::Near, refined);
  if (!refined) {
    Located full = polishAndRefine(problem, coef, start, Precision::Full, refined);
    if (!better(polished, full)) polished = std::move(full);
  }
  return better(initial, polished) ? initial : polished;
}

}  // namespace tavrin::optimum
