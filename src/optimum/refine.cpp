#include "optimum/refine.h"

#include <Eigen/Dense>
#include <cmath>

#include "tavrin/quadratic.h"

namespace tavrin::optimum {
namespace {

// Distances (coded units; scaled response units) within which a bound or
// an interval end counts as active: wide enough for a polish stopped near
// the optimum, since the multipliers' signs are checked at the end.
constexpr double kOnBound = 1e-5;
constexpr double kOnInterval = 1e-5;
// A pinned coordinate's Lagrangian slope may point inwards by this much,
// relative to the largest slope, and still count as held by its bound.
constexpr double kSlopeTolerance = 1e-9;
constexpr int kMaxIterations = 30;

struct ActiveRow {
  std::size_t slot;
  double sign;  // +1 for y <= bound, -1 for y >= bound
  double bound;
};

// Hessian of a quadratic model restricted to the moving coordinates.
Eigen::MatrixXd modelHessian(std::size_t n, const double* c, const std::vector<std::size_t>& moving) {
  const Eigen::Index m = static_cast<Eigen::Index>(moving.size());
  Eigen::MatrixXd h(m, m);
  for (Eigen::Index a = 0; a < m; ++a)
    for (Eigen::Index b = 0; b < m; ++b) {
      const std::size_t i = moving[static_cast<std::size_t>(a)];
      const std::size_t j = moving[static_cast<std::size_t>(b)];
      if (i == j)
        h(a, b) = 2.0 * c[quadratic::squareIndex(n, i)];
      else
        h(a, b) = c[quadratic::productIndex(n, std::min(i, j), std::max(i, j))];
    }
  return h;
}

// Whether each pinned coordinate is held by its bound at `x`: the slope of
// the Lagrangian (objective minus the active rows times their multipliers)
// must point out of the region there, or the optimum lies inside.
bool boundsHold(const Problem& p, const double* coef, double floor, const std::vector<double>& x,
                const std::vector<std::size_t>& pinned, const std::vector<ActiveRow>& rows,
                const Eigen::VectorXd& lambda) {
  if (pinned.empty()) return true;
  const std::size_t n = p.factors;
  const std::size_t terms = quadratic::termCount(n);
  const std::size_t slots = p.slotCount();
  std::vector<double> values(slots);
  std::vector<double> grads(slots * n);
  for (std::size_t s = 0; s < slots; ++s) {
    values[s] = quadratic::evaluate(n, coef + s * terms, x.data());
    quadratic::gradient(n, coef + s * terms, x.data(), grads.data() + s * n);
  }
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
  for (const std::size_t f : pinned) {
    const bool outward = x[f] == p.upper[f] ? slope[f] >= -tolerance : slope[f] <= tolerance;
    if (!outward) return false;
  }
  return true;
}

}  // namespace

bool refineActiveSet(const Problem& p, const double* coef, double floor, std::vector<double>& coded) {
  const std::size_t n = p.factors;
  const std::size_t terms = quadratic::termCount(n);
  const std::size_t slots = p.slotCount();
  std::vector<double> x = coded;
  std::vector<double> values(slots);
  std::vector<double> grads(slots * n);
  for (std::size_t s = 0; s < slots; ++s) {
    values[s] = quadratic::evaluate(n, coef + s * terms, x.data());
    quadratic::gradient(n, coef + s * terms, x.data(), grads.data() + s * n);
  }
  std::vector<std::size_t> moving;
  std::vector<std::size_t> pinned;
  for (const std::size_t f : p.freeFactors) {
    if (x[f] - p.lower[f] > kOnBound && p.upper[f] - x[f] > kOnBound) {
      moving.push_back(f);
      continue;
    }
    x[f] = x[f] - p.lower[f] <= kOnBound ? p.lower[f] : p.upper[f];
    pinned.push_back(f);
  }
  if (!pinned.empty())
    for (std::size_t s = 0; s < slots; ++s) {
      values[s] = quadratic::evaluate(n, coef + s * terms, x.data());
      quadratic::gradient(n, coef + s * terms, x.data(), grads.data() + s * n);
    }
  std::vector<ActiveRow> rows;
  for (const ResponseInterval& i : p.intervals) {
    const double scale = p.scale[i.slot];
    if (std::isfinite(i.high) && std::abs(values[i.slot] - i.high) <= kOnInterval * scale)
      rows.push_back({i.slot, 1.0, i.high});
    if (std::isfinite(i.low) && std::abs(values[i.slot] - i.low) <= kOnInterval * scale)
      rows.push_back({i.slot, -1.0, i.low});
  }
  if (moving.empty() && rows.empty()) {
    // A corner of the region: nothing moves, only the bounds' signs decide.
    if (!boundsHold(p, coef, floor, x, pinned, rows, Eigen::VectorXd(0))) return false;
    coded = x;
    return true;
  }
  if (moving.empty() || rows.size() > moving.size()) return false;

  const Eigen::Index m = static_cast<Eigen::Index>(moving.size());
  const Eigen::Index r = static_cast<Eigen::Index>(rows.size());
  std::vector<Eigen::MatrixXd> hessians;
  for (std::size_t s = 0; s < slots; ++s) hessians.push_back(modelHessian(n, coef + s * terms, moving));
  std::vector<double> derivative(slots);
  std::vector<double> curvature(slots);
  Eigen::VectorXd lambda;
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    if (iteration > 0)
      for (std::size_t s = 0; s < slots; ++s) {
        values[s] = quadratic::evaluate(n, coef + s * terms, x.data());
        quadratic::gradient(n, coef + s * terms, x.data(), grads.data() + s * n);
      }
    surrogate(p, values.data(), floor, derivative.data(), curvature.data());
    Eigen::VectorXd gradient = Eigen::VectorXd::Zero(m);
    Eigen::MatrixXd hessian = Eigen::MatrixXd::Zero(m, m);
    for (std::size_t s = 0; s < slots; ++s) {
      Eigen::VectorXd g(m);
      for (Eigen::Index a = 0; a < m; ++a) g[a] = grads[s * n + moving[static_cast<std::size_t>(a)]];
      gradient += derivative[s] * g;
      hessian += derivative[s] * hessians[s] + curvature[s] * g * g.transpose();
    }
    Eigen::MatrixXd jacobian(r, m);
    Eigen::VectorXd residual(r);
    for (Eigen::Index k = 0; k < r; ++k) {
      const ActiveRow& row = rows[static_cast<std::size_t>(k)];
      const double factor = row.sign / p.scale[row.slot];
      residual[k] = factor * (values[row.slot] - row.bound);
      for (Eigen::Index a = 0; a < m; ++a) jacobian(k, a) = factor * grads[row.slot * n + moving[static_cast<std::size_t>(a)]];
    }
    if (iteration == 0)
      lambda = r > 0 ? Eigen::VectorXd(jacobian.transpose().colPivHouseholderQr().solve(gradient))
                     : Eigen::VectorXd(0);
    // Newton step on  grad f - J^T lambda = 0,  g = 0.
    Eigen::MatrixXd kkt = Eigen::MatrixXd::Zero(m + r, m + r);
    kkt.topLeftCorner(m, m) = hessian;
    for (Eigen::Index k = 0; k < r; ++k) {
      const ActiveRow& row = rows[static_cast<std::size_t>(k)];
      kkt.topLeftCorner(m, m) -= lambda[k] * (row.sign / p.scale[row.slot]) * hessians[row.slot];
    }
    kkt.topRightCorner(m, r) = -jacobian.transpose();
    kkt.bottomLeftCorner(r, m) = jacobian;
    Eigen::VectorXd rhs(m + r);
    rhs.head(m) = -(gradient - jacobian.transpose() * lambda);
    rhs.tail(r) = -residual;
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(kkt);
    if (!lu.isInvertible()) return false;
    const Eigen::VectorXd step = lu.solve(rhs);
    double largest = 0.0;
    for (Eigen::Index a = 0; a < m; ++a) {
      x[moving[static_cast<std::size_t>(a)]] += step[a];
      largest = std::max(largest, std::abs(step[a]));
    }
    lambda += step.tail(r);
    if (!std::isfinite(largest)) return false;
    if (largest <= 1e-15) break;
  }
  for (const std::size_t f : moving)
    if (x[f] < p.lower[f] || x[f] > p.upper[f]) return false;
  for (Eigen::Index k = 0; k < r; ++k)
    if (lambda[k] < 0.0) return false;
  if (!boundsHold(p, coef, floor, x, pinned, rows, lambda)) return false;
  coded = x;
  return true;
}

}  // namespace tavrin::optimum
