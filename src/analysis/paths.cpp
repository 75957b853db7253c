// Ridges and the way to a better region, in coded units: canonical
// analysis with a threshold for near-zero eigenvalues, ridge analysis on
// spheres about the centre, and the path of steepest ascent.
#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "analysis/model_matrix.h"
#include "analysis/second_order.h"
#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

constexpr int kMaxSteps = 1000;
// rsm's default: eigenvalues under a tenth of the largest magnitude count as zero.
constexpr double kDefaultThreshold = 0.1;

// " +0.707 A -0.707 B": eigenvector column k in factor terms.
std::string direction(const Matrix& vectors, std::size_t k, const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "%+.3f", vectors(i, k));
    if (!out.empty()) out += ' ';
    out.append(number).append(1, ' ').append(names[i]);
  }
  return out;
}

void checkSteps(int steps) {
  if (steps < 1 || steps > kMaxSteps)
    throw InvalidArgument("steps " + std::to_string(steps) + " is not allowed: it must lie in 1.." +
                          std::to_string(kMaxSteps));
}

bool inside(const std::vector<double>& x) {
  for (const double c : x)
    if (!(c >= -1.0 && c <= 1.0)) return false;
  return true;
}

// Points of a path with their predictions and natural settings.
std::vector<PathPoint> pathPoints(const ModelFit& fit, const std::vector<Eigen::VectorXd>& xs,
                                  const std::vector<Factor>* ranges, double confidence) {
  const auto n = static_cast<std::size_t>(fit.terms.factors);
  Matrix points(xs.size(), n);
  for (std::size_t k = 0; k < xs.size(); ++k)
    for (std::size_t i = 0; i < n; ++i) points(k, i) = xs[k](static_cast<Eigen::Index>(i));
  const std::vector<Prediction> predictions = predictModel(fit, points, confidence);
  std::vector<PathPoint> out;
  for (std::size_t k = 0; k < xs.size(); ++k) {
    PathPoint p;
    p.radius = xs[k].norm();
    p.coded.assign(points.row(k), points.row(k) + n);
    if (ranges)
      for (std::size_t i = 0; i < n; ++i) p.natural.push_back(toNatural((*ranges)[i], p.coded[i]));
    p.prediction = predictions[k];
    p.insideRegion = inside(p.coded);
    out.push_back(std::move(p));
  }
  return out;
}

// The maximiser of x'b + x'Bx on the sphere |x| = r, from the eigen
// decomposition of B (ascending eigenvalues): x = -(B - mu I)^-1 b / 2 with
// mu above the largest eigenvalue, |x| decreasing in mu.
Eigen::VectorXd sphereMaximum(const Eigen::VectorXd& lambda, const Eigen::MatrixXd& v, const Eigen::VectorXd& b,
                              double r) {
  const Eigen::VectorXd c = v.transpose() * b;  // b in eigen coordinates
  const Eigen::Index top = lambda.size() - 1;
  const double lambdaMax = lambda(top);
  const auto at = [&](double mu) -> Eigen::VectorXd {
    return (0.5 * c.array() / (mu - lambda.array())).matrix();
  };
  // The hard case: b has no part along the top eigenspace, so |x(mu)| stays
  // bounded as mu falls to the top eigenvalue; beyond that bound the
  // sphere is reached by adding a multiple of the top eigenvector.
  const double scale = b.norm() + lambda.cwiseAbs().maxCoeff();
  Eigen::VectorXd limit = Eigen::VectorXd::Zero(c.size());
  bool hard = true;
  for (Eigen::Index k = 0; k < c.size(); ++k) {
    const bool topSpace = lambdaMax - lambda(k) <= 1e-12 * scale;
    if (topSpace && std::fabs(c(k)) > 1e-14 * scale) hard = false;
    if (!topSpace) limit(k) = 0.5 * c(k) / (lambdaMax - lambda(k));
  }
  if (hard && limit.norm() <= r) {
    limit(top) = std::sqrt(std::max(0.0, r * r - limit.squaredNorm()));
    return v * limit;
  }
  // Bisection on mu: |x| <= |b| / (2 (mu - lambdaMax)) brackets the root.
  double low = lambdaMax, high = lambdaMax + b.norm() / (2.0 * r);
  for (int k = 0; k < 400 && high - low > 4.0 * std::numeric_limits<double>::epsilon() * std::fabs(high); ++k) {
    const double mid = low + (high - low) / 2.0;
    (at(mid).norm() > r ? low : high) = mid;
  }
  return v * at(high);
}

}  // namespace

RidgeCanonical canonicalWithThreshold(const ModelFit& fit, double threshold) {
  if (!(std::isfinite(threshold) && threshold >= 0.0))
    throw InvalidArgument("threshold " + std::to_string(threshold) +
                          " is not allowed: it is a finite eigenvalue magnitude >= 0");
  const std::size_t n = fit.terms.factors;
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(analysis::secondOrderPart(n, fit.coefficients));
  const Eigen::VectorXd& lambda = solver.eigenvalues();
  RidgeCanonical out;
  out.threshold = threshold;
  out.eigenvalues.assign(lambda.data(), lambda.data() + lambda.size());
  out.eigenvectors = analysis::orientedEigenvectors(solver.eigenvectors());
  // x = -1/2 sum over the kept directions of v_k (v_k'b) / lambda_k: no
  // component along the near-zero directions, so the point nearest the centre.
  const Eigen::VectorXd b = analysis::firstOrderPart(n, fit.coefficients);
  const Eigen::MatrixXd& v = solver.eigenvectors();
  Eigen::VectorXd x = Eigen::VectorXd::Zero(static_cast<Eigen::Index>(n));
  for (Eigen::Index k = 0; k < lambda.size(); ++k) {
    if (std::fabs(lambda(k)) < threshold || lambda(k) == 0.0) {
      out.zeroDirections.push_back(static_cast<std::size_t>(k));
      out.ridgeDirections.push_back(direction(out.eigenvectors, static_cast<std::size_t>(k), fit.factorNames));
      continue;
    }
    x -= 0.5 * v.col(k) * (v.col(k).dot(b) / lambda(k));
  }
  out.stationary.assign(x.data(), x.data() + x.size());
  out.predicted = quadratic::evaluate(n, fit.coefficients.data(), out.stationary.data());
  out.distance = x.norm();
  return out;
}

RidgeCanonical canonicalWithThreshold(const ModelFit& fit) {
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(
      analysis::secondOrderPart(fit.terms.factors, fit.coefficients), Eigen::EigenvaluesOnly);
  const double largest = fit.terms.factors == 0 ? 0.0 : solver.eigenvalues().cwiseAbs().maxCoeff();
  return canonicalWithThreshold(fit, kDefaultThreshold * largest);
}

std::vector<PathPoint> ridgeAnalysis(const ModelFit& fit, double radius, int steps, bool maximize,
                                     double confidence) {
  if (!(std::isfinite(radius) && radius > 0.0))
    throw InvalidArgument("radius " + std::to_string(radius) + " is not allowed: it is a finite coded distance > 0");
  checkSteps(steps);
  const std::size_t n = fit.terms.factors;
  if (n == 0) throw InvalidArgument("a ridge analysis needs at least one factor");
  // Minimising y is maximising -y.
  const double sign = maximize ? 1.0 : -1.0;
  const Eigen::MatrixXd big = sign * analysis::secondOrderPart(n, fit.coefficients);
  const Eigen::VectorXd b = sign * analysis::firstOrderPart(n, fit.coefficients);
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(big);
  std::vector<Eigen::VectorXd> xs{Eigen::VectorXd::Zero(static_cast<Eigen::Index>(n))};
  for (int k = 1; k <= steps; ++k)
    xs.push_back(sphereMaximum(solver.eigenvalues(), solver.eigenvectors(), b, radius * k / steps));
  return pathPoints(fit, xs, nullptr, confidence);
}

std::vector<PathPoint> steepestAscent(const ModelFit& fit, const std::vector<Factor>& ranges, std::size_t factor,
                                      double step, int steps, bool ascent, double confidence) {
  const std::size_t n = fit.terms.factors;
  checkSteps(steps);
  if (ranges.size() != n)
    throw InvalidArgument("ranges are given for " + std::to_string(ranges.size()) + " factors; the model has " +
                          std::to_string(n));
  for (const Factor& f : ranges)
    if (!(std::isfinite(f.low) && std::isfinite(f.high) && f.low < f.high))
      throw InvalidArgument("factor " + text::quoted(f.name) + ": the range needs finite low < high");
  if (factor >= n)
    throw InvalidArgument("factor index " + std::to_string(factor) + " is out of range: the model has " +
                          std::to_string(n) + " factors, indexed from 0");
  if (!(std::isfinite(step) && step != 0.0))
    throw InvalidArgument("step " + std::to_string(step) + " of factor " + text::quoted(ranges[factor].name) +
                          " is not allowed: it is a finite, non-zero change in natural units");
  const Eigen::VectorXd b = analysis::firstOrderPart(n, fit.coefficients);
  const auto k = static_cast<Eigen::Index>(factor);
  if (b(k) == 0.0)
    throw InvalidArgument("factor " + text::quoted(ranges[factor].name) +
                          " has no linear effect, so the path does not move it; choose the step on another factor");
  // Unit direction of the gradient at the centre; one step moves the chosen
  // factor by |step| natural units, i.e. |step| / half-range coded.
  const Eigen::VectorXd d = (ascent ? 1.0 : -1.0) * b / b.norm();
  const double halfRange = (ranges[factor].high - ranges[factor].low) / 2.0;
  const double length = std::fabs(step) / halfRange / std::fabs(d(k));
  std::vector<Eigen::VectorXd> xs;
  for (int j = 0; j <= steps; ++j) xs.push_back(d * (length * j));
  return pathPoints(fit, xs, &ranges, confidence);
}

}  // namespace tavrin

namespace tavrin {
namespace {

// The transform is increasing, so each interval end maps to the same end.
std::vector<PathPoint> inOriginalUnits(const ModelBuild& build, std::vector<PathPoint> path) {
  if (!build.transform) return path;
  for (PathPoint& point : path)
    for (double* v : {&point.prediction.value, &point.prediction.confidenceLow, &point.prediction.confidenceHigh,
                      &point.prediction.predictionLow, &point.prediction.predictionHigh})
      *v = build.transform->invert(*v);
  return path;
}

}  // namespace

std::vector<PathPoint> ridgeAnalysis(const ModelBuild& build, double radius, int steps, bool maximize,
                                     double confidence) {
  return inOriginalUnits(build, ridgeAnalysis(build.fit, radius, steps, maximize, confidence));
}

std::vector<PathPoint> steepestAscent(const ModelBuild& build, const std::vector<Factor>& ranges, std::size_t factor,
                                      double step, int steps, bool ascent, double confidence) {
  return inOriginalUnits(build, steepestAscent(build.fit, ranges, factor, step, steps, ascent, confidence));
}

}  // namespace tavrin
