// One start of the coordinate exchange. Moving coordinate j of run i to t
// changes the run's model row to f(t) = f0 + t g1 + t^2 g2 (g1, g2 hold the
// terms with factor j), so with A = (X'X)^-1 every quantity that scores
// the exchange of the old row x for f(t) is a polynomial in t whose
// coefficients cost O(p^2) once per coordinate; each candidate value then
// costs O(1). D scores the determinant ratio
//   det(X'X - x x' + y y') / det(X'X) = (1 + y'Ay)(1 - x'Ax) + (x'Ay)^2,
// I, Cloud and Optimum the trace of W times A after adding y and removing
// x by two Sherman-Morrison steps.
#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "designs/optimal_problem.h"

namespace tavrin::designs {
namespace {

using Vector = Eigen::VectorXd;
using Dense = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// A move must gain this much (log det, or relative trace) to be made, so
// every pass that moves gains, and the exchange ends.
constexpr double kMinGain = 1e-10;
// Below this reciprocal condition number the information matrix is singular.
constexpr double kMinRcond = 1e-12;
constexpr unsigned kMaxPasses = 200;
// Moves between grid levels creep towards a local optimum; a pass that
// gains less than this in all ends them.
constexpr double kPolishGain = 1e-4;
constexpr unsigned kStartAttempts = 100;
constexpr unsigned kGridTries = 100;
constexpr unsigned kGoldenSteps = 40;

// A term that holds factor j: its position in the model row, and whether
// it is x_j, x_j^2 or x_j times factor `other`.
struct TermRole {
  std::size_t position;
  enum Kind { Linear, Square, Product } kind;
  std::size_t other;
};

std::vector<std::vector<TermRole>> termRoles(const ModelTerms& model) {
  const std::size_t n = model.factors;
  std::vector<std::vector<TermRole>> roles(n);
  for (std::size_t c = 0; c < model.size(); ++c) {
    const quadratic::Term t = quadratic::term(n, model.indices[c]);
    switch (t.kind) {
      case quadratic::Term::Constant: break;
      case quadratic::Term::Linear: roles[t.first].push_back({c, TermRole::Linear, 0}); break;
      case quadratic::Term::Square: roles[t.first].push_back({c, TermRole::Square, 0}); break;
      case quadratic::Term::Product:
        roles[t.first].push_back({c, TermRole::Product, t.second});
        roles[t.second].push_back({c, TermRole::Product, t.first});
        break;
    }
  }
  return roles;
}

// The scores of moving one coordinate, as functions of its new value t.
struct MovePolynomials {
  std::array<double, 5> d{};      // y'Ay
  std::array<double, 3> c{};      // x'Ay
  double dx = 0.0;                // x'Ax
  std::array<double, 5> q{};      // (Ay)' W (Ay)
  std::array<double, 3> r{};      // (Ax)' W (Ay)
  double vWv = 0.0;               // (Ax)' W (Ax)
};

template <std::size_t N>
double horner(const std::array<double, N>& coef, double t) noexcept {
  double value = 0.0;
  for (std::size_t k = N; k-- > 0;) value = value * t + coef[k];
  return value;
}

class Exchange {
 public:
  Exchange(const ExchangeProblem& problem, Matrix points)
      : problem_(problem), roles_(termRoles(problem.model)), z_(std::move(points)),
        f_(z_.rows(), problem.terms()) {
    for (std::size_t r = 0; r < z_.rows(); ++r) modelRow(problem_.model, z_.row(r), f_.row(r));
  }

  // A, log det and the trace from the current runs; false when singular.
  bool factorize() {
    const auto p = static_cast<Eigen::Index>(problem_.terms());
    const Eigen::Map<const Dense> x(f_.data(), static_cast<Eigen::Index>(f_.rows()), p);
    const Eigen::MatrixXd info = x.transpose() * x;
    const Eigen::LLT<Eigen::MatrixXd> llt(info);
    if (llt.info() != Eigen::Success || !(llt.rcond() > kMinRcond)) return false;
    a_ = llt.solve(Eigen::MatrixXd::Identity(p, p));
    logDet_ = 2.0 * llt.matrixLLT().diagonal().array().log().sum();
    trace_ = 0.0;
    if (usesMoments()) {
      const Eigen::Map<const Dense> w(problem_.moments.data(), p, p);
      trace_ = (a_.array() * w.array()).sum();
    }
    return true;
  }

  // One pass over the exchanged runs; the sum of the gains of its moves
  // (0 when nothing moved).
  double pass() {
    double gained = 0.0;
    for (std::size_t i = problem_.fixed.rows(); i < z_.rows(); ++i)
      for (std::size_t j = 0; j < problem_.factors(); ++j) gained += moveCoordinate(i, j);
    return gained;
  }

  // From now on, also look between grid levels.
  void leaveGrid() noexcept { betweenLevels_ = true; }

  StartResult result() const { return {true, z_, logDet_, trace_}; }

 private:
  bool usesMoments() const noexcept { return problem_.criterion != Criterion::D; }

  // The gain of moving to t: log of the determinant ratio (D) or the
  // relative decrease of the trace; -infinity when the move makes X'X singular.
  double gain(const MovePolynomials& m, double t) const noexcept {
    const double d1 = 1.0 + horner(m.d, t);
    const double c = horner(m.c, t);
    const double ratio = d1 * (1.0 - m.dx) + c * c;
    if (!(ratio > kMinRcond)) return -HUGE_VAL;
    if (!usesMoments()) return std::log(ratio);
    const double q = horner(m.q, t);
    const double s = c / d1;
    const double removed = m.vWv - 2.0 * s * horner(m.r, t) + s * s * q;
    const double trace = trace_ - q / d1 + d1 * removed / ratio;
    return (trace_ - trace) / trace_;
  }

  MovePolynomials polynomials(std::size_t i, std::size_t j) const {
    const auto p = static_cast<Eigen::Index>(problem_.terms());
    const Eigen::Map<const Vector> fx(f_.row(i), p);
    const double xj = z_(i, j);
    // g1 and g2 hold only the terms with factor j, so A g1 and A g2 take
    // those columns of A.
    Vector g1 = Vector::Zero(p);
    Vector g2 = Vector::Zero(p);
    Vector u1 = Vector::Zero(p);
    Vector u2 = Vector::Zero(p);
    for (const TermRole& role : roles_[j]) {
      const auto c = static_cast<Eigen::Index>(role.position);
      if (role.kind == TermRole::Square) {
        g2(c) = 1.0;
        u2 += a_.col(c);
        continue;
      }
      g1(c) = role.kind == TermRole::Linear ? 1.0 : z_(i, role.other);
      u1 += g1(c) * a_.col(c);
    }
    const Vector f0 = fx - xj * g1 - xj * xj * g2;
    const Vector v = a_ * fx;
    const Vector u0 = v - xj * u1 - xj * xj * u2;

    MovePolynomials m;
    m.d = {f0.dot(u0), f0.dot(u1) + g1.dot(u0), f0.dot(u2) + g1.dot(u1) + g2.dot(u0), g1.dot(u2) + g2.dot(u1),
           g2.dot(u2)};
    m.c = {v.dot(f0), v.dot(g1), v.dot(g2)};
    m.dx = v.dot(fx);
    if (!usesMoments()) return m;
    const Eigen::Map<const Dense> w(problem_.moments.data(), p, p);
    const Vector wv = w * v;
    const Vector wu1 = w * u1;
    const Vector wu2 = w * u2;
    const Vector wu0 = wv - xj * wu1 - xj * xj * wu2;
    m.q = {u0.dot(wu0), 2 * u0.dot(wu1), 2 * u0.dot(wu2) + u1.dot(wu1), 2 * u1.dot(wu2), u2.dot(wu2)};
    m.r = {v.dot(wu0), v.dot(wu1), v.dot(wu2)};
    m.vWv = v.dot(wv);
    return m;
  }

  // The values coordinate j of run i may take without breaking a constraint.
  std::pair<double, double> interval(std::size_t i, std::size_t j) const noexcept {
    double lo = -1.0;
    double hi = 1.0;
    for (std::size_t c = 0; c < problem_.constraintB.size(); ++c) {
      const double aj = problem_.constraintA(c, j);
      if (aj == 0.0) continue;
      double rest = problem_.constraintB[c];
      for (std::size_t k = 0; k < problem_.factors(); ++k)
        if (k != j) rest -= problem_.constraintA(c, k) * z_(i, k);
      if (aj > 0) hi = std::min(hi, rest / aj);
      else lo = std::max(lo, rest / aj);
    }
    const double now = z_(i, j);
    return {std::min(lo, now), std::max(hi, now)};
  }

  // Moves coordinate j of run i to its best value; returns the gain.
  double moveCoordinate(std::size_t i, std::size_t j) {
    const MovePolynomials m = polynomials(i, j);
    const auto [lo, hi] = interval(i, j);
    double bestT = z_(i, j);
    double bestGain = 0.0;
    const auto consider = [&](double t) {
      const double g = gain(m, t);
      if (g > bestGain) {
        bestGain = g;
        bestT = t;
      }
    };
    for (const double level : problem_.levels)
      if (level >= lo && level <= hi) consider(level);
    consider(lo);
    consider(hi);
    if (betweenLevels_) refine(m, lo, hi, bestT, bestGain);
    if (!(bestGain > kMinGain) || !candidateFeasible(i, j, bestT)) return 0.0;
    apply(i, j, bestT);
    return bestGain;
  }

  // Golden-section search within one grid step either side of bestT.
  void refine(const MovePolynomials& m, double lo, double hi, double& bestT, double& bestGain) const {
    const double step = 2.0 / static_cast<double>(problem_.levels.size() - 1);
    double a = std::max(lo, bestT - step);
    double b = std::min(hi, bestT + step);
    const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
    double x1 = b - ratio * (b - a);
    double x2 = a + ratio * (b - a);
    double g1 = gain(m, x1);
    double g2 = gain(m, x2);
    for (unsigned k = 0; k < kGoldenSteps; ++k) {
      if (g1 > g2) {
        b = x2;
        x2 = x1;
        g2 = g1;
        x1 = b - ratio * (b - a);
        g1 = gain(m, x1);
      } else {
        a = x1;
        x1 = x2;
        g1 = g2;
        x2 = a + ratio * (b - a);
        g2 = gain(m, x2);
      }
    }
    const double t = g1 > g2 ? x1 : x2;
    const double g = std::max(g1, g2);
    // Only a clear gain over the grid's best leaves the grid.
    if (g > bestGain + kMinGain) {
      bestGain = g;
      bestT = t;
    }
  }

  bool candidateFeasible(std::size_t i, std::size_t j, double t) const {
    std::vector<double> z(z_.row(i), z_.row(i) + problem_.factors());
    z[j] = t;
    return problem_.feasible(z.data());
  }

  // Replaces row x of run i by y (coordinate j at t): A gains y, then loses x.
  void apply(std::size_t i, std::size_t j, double t) {
    const auto p = static_cast<Eigen::Index>(problem_.terms());
    const Vector x = Eigen::Map<const Vector>(f_.row(i), p);
    z_(i, j) = t;
    modelRow(problem_.model, z_.row(i), f_.row(i));
    const Eigen::Map<const Vector> y(f_.row(i), p);
    const Vector ay = a_ * y;
    const double addDenominator = 1.0 + y.dot(ay);
    a_.noalias() -= (ay / addDenominator) * ay.transpose();
    const Vector ax = a_ * x;
    const double removeDenominator = 1.0 - x.dot(ax);
    a_.noalias() += (ax / removeDenominator) * ax.transpose();
    logDet_ += std::log(addDenominator * removeDenominator);
    if (usesMoments()) {
      const Eigen::Map<const Dense> w(problem_.moments.data(), p, p);
      trace_ = (a_.array() * w.array()).sum();
    }
  }

  const ExchangeProblem& problem_;
  std::vector<std::vector<TermRole>> roles_;
  Matrix z_;  // runs x factors, coded
  Matrix f_;  // runs x terms
  Eigen::MatrixXd a_;
  double logDet_ = 0.0;
  double trace_ = 0.0;
  bool betweenLevels_ = false;
};

// Uniform on 0..count-1 from the generator's raw output, so the draws are
// the same with every standard library.
std::size_t pick(std::mt19937_64& rng, std::size_t count) { return static_cast<std::size_t>(rng() % count); }

// A random grid point that meets the constraints, or else a random point
// of the feasible sample.
void drawRun(const ExchangeProblem& problem, std::mt19937_64& rng, double* z) {
  for (unsigned attempt = 0; attempt < kGridTries; ++attempt) {
    for (std::size_t i = 0; i < problem.factors(); ++i) z[i] = problem.levels[pick(rng, problem.levels.size())];
    if (problem.feasible(z)) return;
  }
  const double* point = problem.feasibleSample.row(pick(rng, problem.feasibleSample.rows()));
  std::copy(point, point + problem.factors(), z);
}

}  // namespace

StartResult exchangeStart(const ExchangeProblem& problem, std::uint64_t seed, unsigned start) {
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32), start};
  std::mt19937_64 rng(sequence);
  const std::size_t kept = problem.fixed.rows();
  for (unsigned attempt = 0; attempt < kStartAttempts; ++attempt) {
    Matrix points(problem.runs(), problem.factors());
    std::copy(problem.fixed.data(), problem.fixed.data() + kept * problem.factors(), points.data());
    for (std::size_t r = kept; r < problem.runs(); ++r) drawRun(problem, rng, points.row(r));
    Exchange exchange(problem, std::move(points));
    if (!exchange.factorize()) continue;
    for (unsigned k = 0; k < kMaxPasses && exchange.pass() > 0.0; ++k)
      if (!exchange.factorize()) return {};
    if (!problem.refine) return exchange.result();
    exchange.leaveGrid();
    for (unsigned k = 0; k < kMaxPasses; ++k) {
      const double gained = exchange.pass();
      if (!exchange.factorize()) return {};
      if (gained < kPolishGain) break;
    }
    return exchange.result();
  }
  return {};
}

}  // namespace tavrin::designs
