// Canonical analysis of a fitted second-order surface, in coded units:
// y = b0 + x'b + x'Bx with B symmetric (squares on the diagonal, half the
// products off it). Its stationary point solves 2Bx + b = 0.
#include <Eigen/Eigenvalues>
#include <cmath>
#include <string>

#include "analysis/inference.h"
#include "analysis/second_order.h"
#include "study/not_a_number.h"
#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/quadratic.h"

namespace tavrin {
namespace {

// B counts as singular when its smallest eigenvalue is this small relative
// to its largest: the stationary point is then not unique (or at infinity)
// within rounding.
constexpr double kSingularRatio = 1e-12;

Canonical::Kind classify(const Eigen::VectorXd& eigenvalues, double ridgeTolerance) {
  const double largest = eigenvalues.cwiseAbs().maxCoeff();
  if (largest == 0.0 || (eigenvalues.cwiseAbs().array() < ridgeTolerance * largest).any()) return Canonical::Ridge;
  if ((eigenvalues.array() < 0.0).all()) return Canonical::Maximum;
  if ((eigenvalues.array() > 0.0).all()) return Canonical::Minimum;
  return Canonical::Saddle;
}

}  // namespace

std::string_view canonicalKindName(Canonical::Kind kind) noexcept {
  switch (kind) {
    case Canonical::Maximum: return "maximum";
    case Canonical::Minimum: return "minimum";
    case Canonical::Saddle: return "saddle";
    case Canonical::Ridge: return "ridge";
  }
  return "ridge";
}

Canonical canonicalAnalysis(const Fit& fit, std::size_t response, double ridgeTolerance) {
  analysis::checkResponse(fit, response);
  if (!(ridgeTolerance >= 0.0 && ridgeTolerance < 1.0))
    throw InvalidArgument("ridge tolerance " + std::to_string(ridgeTolerance) +
                          " is not allowed: it must lie in [0, 1) (e.g. 0.001)");

  const std::size_t n = fit.factorCount();
  const std::vector<double>& coef = fit.models[response].coded;
  Canonical out;
  out.response = fit.responses[response].name;
  for (const Factor& f : fit.factors) out.factors.push_back(f.name);
  out.ridgeTolerance = ridgeTolerance;
  out.power = fit.models[response].power;

  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(analysis::secondOrderPart(n, coef));
  const Eigen::VectorXd& lambda = solver.eigenvalues();  // ascending
  out.eigenvalues.assign(lambda.data(), lambda.data() + lambda.size());
  out.eigenvectors = analysis::orientedEigenvectors(solver.eigenvectors());
  out.kind = classify(lambda, ridgeTolerance);

  out.predictedAtStationary = kNaN;
  out.distanceFromCenter = kNaN;
  const double largest = lambda.cwiseAbs().maxCoeff();
  if (largest == 0.0 || lambda.cwiseAbs().minCoeff() <= kSingularRatio * largest) return out;

  const Eigen::VectorXd linear = analysis::firstOrderPart(n, coef);
  // x = -B^-1 b / 2 through B = V diag(lambda) V'.
  const Eigen::MatrixXd& v = solver.eigenvectors();
  const Eigen::VectorXd x = -0.5 * (v * (v.transpose() * linear).cwiseQuotient(lambda));

  out.hasStationaryPoint = true;
  out.insideRegion = true;
  for (std::size_t i = 0; i < n; ++i) {
    const double c = x(static_cast<Eigen::Index>(i));
    out.stationaryCoded.push_back(c);
    out.stationaryNatural.push_back(toNatural(fit.factors[i], c));
    out.insideRegion = out.insideRegion && c >= -1.0 && c <= 1.0;
  }
  // Back in the response's units, as the predictions are.
  out.predictedAtStationary =
      analysis::toOriginal(fit.models[response], quadratic::evaluate(n, coef.data(), out.stationaryCoded.data()));
  out.distanceFromCenter = x.norm();
  return out;
}

}  // namespace tavrin
