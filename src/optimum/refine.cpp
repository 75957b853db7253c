#include "optimum/refine.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "tavrin/quadratic.h"

namespace tavrin::optimum {
namespace {

// Distances (coded units; scaled response units) within which a bound or
// an interval end counts as active: wide enough for a polish stopped near
// the optimum, since the multipliers' signs are checked at the end.
constexpr double kOnBound = 1e-5;
constexpr double kOnInterval = 1e-3;
// A pinned coordinate's Lagrangian slope may point inwards by this much,
// relative to the largest slope, and still count as held by its bound.
constexpr double kSlopeTolerance = 1e-9;
constexpr int kMaxIterations = 30;
// Newton stops once its steps are this small (coded) and fails unless they
// came below kSettled.
constexpr double kConverged = 1e-15;
constexpr double kSettled = 1e-12;
// A point violating an interval by more than this (relative to the slot's
// scale) brings the interval's row into the active set.
constexpr double kRowSlack = 1e-12;
constexpr int kMaxActiveChanges = 8;
// A probe (see refine.h) runs Newton at most this many iterations, needs
// each step to be at most this fraction of the one before (near a solution
// the steps shrink quadratically), and must land within this distance
// (coded, Euclidean) of where it started.
constexpr int kMaxProbeIterations = 8;
constexpr double kProbeContraction = 0.5;
constexpr double kProbeReach = 1.0;

struct ActiveRow {
  std::size_t slot;
  double sign;  // +1 for y <= bound, -1 for y >= bound
  double bound;
};

// The slots' models as constant, linear part and full Hessian, so that a
// value and gradient are dense products: grad = b + H x, y = c + x'(b + H x / 2).
struct DenseModels {
  std::vector<double> constant;
  std::vector<Eigen::VectorXd> linear;
  std::vector<Eigen::MatrixXd> hessian;
};

DenseModels denseModels(const Problem& p, const double* coef) {
  const std::size_t n = p.factors;
  const std::size_t terms = quadratic::termCount(n);
  const Eigen::Index e = static_cast<Eigen::Index>(n);
  DenseModels models;
  for (std::size_t s = 0; s < p.slotCount(); ++s) {
    const double* c = coef + s * terms;
    models.constant.push_back(c[0]);
    Eigen::VectorXd b(e);
    Eigen::MatrixXd h(e, e);
    for (std::size_t i = 0; i < n; ++i) {
      const Eigen::Index a = static_cast<Eigen::Index>(i);
      b[a] = c[quadratic::linearIndex(i)];
      h(a, a) = 2.0 * c[quadratic::squareIndex(n, i)];
      for (std::size_t j = i + 1; j < n; ++j)
        h(a, static_cast<Eigen::Index>(j)) = h(static_cast<Eigen::Index>(j), a) = c[quadratic::productIndex(n, i, j)];
    }
    models.linear.push_back(std::move(b));
    models.hessian.push_back(std::move(h));
  }
  return models;
}

// A slot's Hessian restricted to the moving coordinates.
Eigen::MatrixXd movingHessian(const Eigen::MatrixXd& h, const std::vector<std::size_t>& moving) {
  const Eigen::Index m = static_cast<Eigen::Index>(moving.size());
  Eigen::MatrixXd out(m, m);
  for (Eigen::Index a = 0; a < m; ++a)
    for (Eigen::Index b = 0; b < m; ++b)
      out(a, b) = h(static_cast<Eigen::Index>(moving[static_cast<std::size_t>(a)]),
                    static_cast<Eigen::Index>(moving[static_cast<std::size_t>(b)]));
  return out;
}

void slotValuesAndGradients(const DenseModels& models, const std::vector<double>& x, std::vector<double>& values,
                            std::vector<double>& grads) {
  const Eigen::Index n = static_cast<Eigen::Index>(x.size());
  const Eigen::Map<const Eigen::VectorXd> point(x.data(), n);
  for (std::size_t s = 0; s < models.constant.size(); ++s) {
    Eigen::Map<Eigen::VectorXd> g(grads.data() + s * x.size(), n);
    g.noalias() = models.hessian[s] * point;
    values[s] = models.constant[s] + point.dot(models.linear[s] + 0.5 * g);
    g += models.linear[s];
  }
}

// The pinned coordinate whose bound does not hold at `x` (the slope of the
// Lagrangian, objective minus the active rows times their multipliers,
// points furthest into the region there), or p.factors when every bound
// holds.
std::size_t releasedBound(const Problem& p, const DenseModels& models, double floor, const std::vector<double>& x,
                          const std::vector<std::size_t>& pinned, const std::vector<ActiveRow>& rows,
                          const Eigen::VectorXd& lambda) {
  const std::size_t n = p.factors;
  if (pinned.empty()) return n;
  const std::size_t slots = p.slotCount();
  std::vector<double> values(slots);
  std::vector<double> grads(slots * n);
  slotValuesAndGradients(models, x, values, grads);
  std::vector<double> derivative(slots);
  surrogate(p, values.data(), floor, derivative.data());
  std::vector<double> slope(n, 0.0);
  double largest = 0.0;
  for (const std::size_t f : p.freeFactors) {
    for (std::size_t s = 0; s < slots; ++s) slope[f] += derivative[s] * grads[s * n + f];
    for (std::size_t k = 0; k < rows.size(); ++k)
      slope[f] -= lambda[static_cast<Eigen::Index>(k)] * rows[k].sign / p.scale[rows[k].slot] *
                  grads[rows[k].slot * n + f];
    largest = std::max(largest, std::abs(slope[f]));
  }
  const double tolerance = kSlopeTolerance * std::max(1.0, largest);
  std::size_t worst = n;
  double worstInward = tolerance;
  for (const std::size_t f : pinned) {
    const double inward = x[f] == p.upper[f] ? -slope[f] : slope[f];
    if (inward > worstInward) {
      worst = f;
      worstInward = inward;
    }
  }
  return worst;
}

// The active set being tried: moving coordinates, coordinates pinned to a
// bound, and interval rows held at their bound.
struct ActiveSet {
  std::vector<std::size_t> moving;
  std::vector<std::size_t> pinned;
  std::vector<ActiveRow> rows;
};

// Whether the Hessian of the Lagrangian, restricted to the directions that
// keep the active rows (the kernel of J), is negative definite: the point
// is a strict local maximum on its active set.
bool strictMaximum(const Eigen::MatrixXd& lagrangian, const Eigen::MatrixXd& jacobian) {
  if (jacobian.rows() == 0) return Eigen::LLT<Eigen::MatrixXd>(-lagrangian).info() == Eigen::Success;
  const Eigen::MatrixXd kernel = Eigen::FullPivLU<Eigen::MatrixXd>(jacobian).kernel();
  if (kernel.cols() == 0 || kernel.isZero(0)) return true;
  const Eigen::MatrixXd reduced = -(kernel.transpose() * lagrangian * kernel);
  return Eigen::LLT<Eigen::MatrixXd>(reduced).info() == Eigen::Success;
}

// Newton's method on  grad f - J' lambda = 0,  rows = 0  over the moving
// coordinates, from `x` (updated). False when a system is singular, a step
// is not finite, or the steps do not shrink to rounding; for a probe also
// when a step fails to halve the one before or the point is not a strict
// local maximum on the active set.
bool newtonOnActiveSet(const Problem& p, const DenseModels& models, double floor, const ActiveSet& active, bool probe,
                       std::vector<double>& x, Eigen::VectorXd& lambda) {
  const std::size_t n = p.factors;
  const std::size_t slots = p.slotCount();
  const std::vector<std::size_t>& moving = active.moving;
  const Eigen::Index m = static_cast<Eigen::Index>(moving.size());
  const Eigen::Index r = static_cast<Eigen::Index>(active.rows.size());
  std::vector<double> values(slots);
  std::vector<double> grads(slots * n);
  std::vector<double> derivative(slots);
  std::vector<double> curvature(slots);
  std::vector<bool> needed(slots, false);
  for (const ActiveRow& row : active.rows) needed[row.slot] = true;
  for (const GoalTerm& t : p.goals) needed[t.slot] = true;
  std::vector<Eigen::MatrixXd> hessians(slots);
  for (std::size_t s = 0; s < slots; ++s)
    if (needed[s]) hessians[s] = movingHessian(models.hessian[s], moving);
  // The systems' storage, reused by every iteration.
  Eigen::VectorXd g(m);
  Eigen::VectorXd gradient(m);
  Eigen::MatrixXd lagrangian(m, m);
  Eigen::MatrixXd jacobian(r, m);
  Eigen::VectorXd residual(r);
  Eigen::MatrixXd kkt(m + r, m + r);
  Eigen::VectorXd rhs(m + r);
  Eigen::VectorXd step(m + r);
  Eigen::FullPivLU<Eigen::MatrixXd> lu(m + r, m + r);
  double largest = INFINITY;
  const int iterations = probe ? kMaxProbeIterations : kMaxIterations;
  for (int iteration = 0; iteration < iterations && largest > kConverged; ++iteration) {
    slotValuesAndGradients(models, x, values, grads);
    surrogate(p, values.data(), floor, derivative.data(), curvature.data());
    gradient.setZero();
    lagrangian.setZero();
    for (std::size_t s = 0; s < slots; ++s) {
      if (derivative[s] == 0.0 && curvature[s] == 0.0) continue;
      for (Eigen::Index a = 0; a < m; ++a) g[a] = grads[s * n + moving[static_cast<std::size_t>(a)]];
      gradient += derivative[s] * g;
      lagrangian += derivative[s] * hessians[s];
      if (curvature[s] != 0.0) lagrangian.noalias() += curvature[s] * g * g.transpose();
    }
    for (Eigen::Index k = 0; k < r; ++k) {
      const ActiveRow& row = active.rows[static_cast<std::size_t>(k)];
      const double factor = row.sign / p.scale[row.slot];
      residual[k] = factor * (values[row.slot] - row.bound);
      for (Eigen::Index a = 0; a < m; ++a)
        jacobian(k, a) = factor * grads[row.slot * n + moving[static_cast<std::size_t>(a)]];
    }
    if (iteration == 0)
      lambda = r > 0 ? Eigen::VectorXd(jacobian.transpose().colPivHouseholderQr().solve(gradient))
                     : Eigen::VectorXd(0);
    // Newton step on  grad f - J' lambda = 0,  rows = 0.
    for (Eigen::Index k = 0; k < r; ++k) {
      const ActiveRow& row = active.rows[static_cast<std::size_t>(k)];
      lagrangian -= lambda[k] * (row.sign / p.scale[row.slot]) * hessians[row.slot];
    }
    kkt.topLeftCorner(m, m) = lagrangian;
    kkt.topRightCorner(m, r) = -jacobian.transpose();
    kkt.bottomLeftCorner(r, m) = jacobian;
    kkt.bottomRightCorner(r, r).setZero();
    rhs.head(m) = jacobian.transpose() * lambda - gradient;
    rhs.tail(r) = -residual;
    lu.compute(kkt);
    if (!lu.isInvertible()) return false;
    step = lu.solve(rhs);
    const double previous = largest;
    largest = 0.0;
    for (Eigen::Index a = 0; a < m; ++a) {
      x[moving[static_cast<std::size_t>(a)]] += step[a];
      largest = std::max(largest, std::abs(step[a]));
    }
    lambda += step.tail(r);
    if (!std::isfinite(largest)) return false;
    if (probe && largest > kProbeContraction * previous && largest > kSettled) return false;
  }
  if (largest > kSettled) return false;
  return !probe || strictMaximum(lagrangian, jacobian);
}

// The coordinates within kOnBound of a bound pinned there, the rest moving;
// the interval rows within kOnInterval of their bound.
ActiveSet initialActiveSet(const Problem& p, std::vector<double>& x, const std::vector<double>& values) {
  ActiveSet active;
  for (const std::size_t f : p.freeFactors) {
    if (x[f] - p.lower[f] > kOnBound && p.upper[f] - x[f] > kOnBound) {
      active.moving.push_back(f);
      continue;
    }
    x[f] = x[f] - p.lower[f] <= kOnBound ? p.lower[f] : p.upper[f];
    active.pinned.push_back(f);
  }
  for (const ResponseInterval& i : p.intervals) {
    const double scale = p.scale[i.slot];
    if (std::isfinite(i.high) && std::abs(values[i.slot] - i.high) <= kOnInterval * scale)
      active.rows.push_back({i.slot, 1.0, i.high});
    if (std::isfinite(i.low) && std::abs(values[i.slot] - i.low) <= kOnInterval * scale)
      active.rows.push_back({i.slot, -1.0, i.low});
  }
  return active;
}

// Moves a moving coordinate that left the region onto the bound it crossed;
// false when every moving coordinate is inside.
bool pinEscaped(const Problem& p, const std::vector<double>& x, ActiveSet& active, std::vector<double>& start) {
  bool changed = false;
  for (auto it = active.moving.begin(); it != active.moving.end();) {
    const std::size_t f = *it;
    if (x[f] >= p.lower[f] && x[f] <= p.upper[f]) {
      ++it;
      continue;
    }
    start[f] = x[f] < p.lower[f] ? p.lower[f] : p.upper[f];
    active.pinned.push_back(f);
    it = active.moving.erase(it);
    changed = true;
  }
  return changed;
}

// Adds the rows of intervals that `x` violates; false when it meets them all.
bool addViolated(const Problem& p, const std::vector<double>& values, ActiveSet& active) {
  bool changed = false;
  const auto held = [&](std::size_t slot, double sign) {
    return std::any_of(active.rows.begin(), active.rows.end(),
                       [&](const ActiveRow& row) { return row.slot == slot && row.sign == sign; });
  };
  for (const ResponseInterval& i : p.intervals) {
    const double y = values[i.slot];
    const double tolerance = kRowSlack * p.scale[i.slot];
    if (std::isfinite(i.high) && y - i.high > tolerance && !held(i.slot, 1.0)) {
      active.rows.push_back({i.slot, 1.0, i.high});
      changed = true;
    }
    if (std::isfinite(i.low) && i.low - y > tolerance && !held(i.slot, -1.0)) {
      active.rows.push_back({i.slot, -1.0, i.low});
      changed = true;
    }
  }
  return changed;
}

// Drops the row of the most negative multiplier; false when none is negative.
bool dropNegative(ActiveSet& active, Eigen::VectorXd& lambda) {
  Eigen::Index worst = -1;
  for (Eigen::Index k = 0; k < lambda.size(); ++k)
    if (lambda[k] < 0.0 && (worst < 0 || lambda[k] < lambda[worst])) worst = k;
  if (worst < 0) return false;
  active.rows.erase(active.rows.begin() + worst);
  return true;
}

}  // namespace

bool refineActiveSet(const Problem& p, const double* coef, double floor, std::vector<double>& coded, bool probe) {
  const std::size_t n = p.factors;
  const std::size_t slots = p.slotCount();
  std::vector<double> start = coded;
  std::vector<double> values(slots);
  std::vector<double> grads(slots * n);
  const DenseModels models = denseModels(p, coef);
  slotValuesAndGradients(models, start, values, grads);
  ActiveSet active = initialActiveSet(p, start, values);
  // A primal-dual active-set loop: Newton on the current set, then the
  // first of these that applies changes it by one step and Newton runs
  // again from the start: a coordinate left the region, an interval is
  // violated, a row's multiplier is negative, a bound does not hold.
  for (int change = 0; change <= kMaxActiveChanges; ++change) {
    if (active.moving.empty()) active.rows.clear();
    if (active.rows.size() > active.moving.size()) return false;
    std::vector<double> x = start;
    Eigen::VectorXd lambda(0);
    if (!active.moving.empty() && !newtonOnActiveSet(p, models, floor, active, probe, x, lambda)) return false;
    if (pinEscaped(p, x, active, start)) continue;
    slotValuesAndGradients(models, x, values, grads);
    if (addViolated(p, values, active)) {
      if (active.moving.empty()) return false;
      continue;
    }
    if (dropNegative(active, lambda)) continue;
    const std::size_t released = releasedBound(p, models, floor, x, active.pinned, active.rows, lambda);
    if (released < n) {
      active.pinned.erase(std::find(active.pinned.begin(), active.pinned.end(), released));
      active.moving.push_back(released);
      std::sort(active.moving.begin(), active.moving.end());
      continue;
    }
    if (probe && codedDistance(x, coded) > kProbeReach) return false;
    coded = x;
    return true;
  }
  return false;
}

}  // namespace tavrin::optimum
