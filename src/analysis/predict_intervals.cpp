// Predictions of one response with confidence and prediction intervals.
#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/inference.h"
#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/quadratic.h"

namespace tavrin {
namespace {

void checkPoints(const Fit& fit, const Matrix& points) {
  if (points.cols() != fit.factorCount())
    throw InvalidArgument("points have " + std::to_string(points.cols()) + " columns: one per factor (" +
                          std::to_string(fit.factorCount()) + ") is needed, in natural units");
  for (std::size_t r = 0; r < points.rows(); ++r)
    for (std::size_t c = 0; c < points.cols(); ++c)
      if (!std::isfinite(points(r, c)))
        throw InvalidArgument("point " + std::to_string(r + 1) + " has a value of factor " + fit.factors[c].name +
                              " that is not finite: every setting must be a finite number");
}

}  // namespace

std::vector<Prediction> predictWithIntervals(const Fit& fit, std::size_t response, const Matrix& points,
                                             const AnalysisOptions& options) {
  analysis::checkResponse(fit, response);
  analysis::checkOptions(fit, options);
  checkPoints(fit, points);

  const analysis::ErrorScale scale = analysis::errorScale(analysis::residuals(fit, response).squaredNorm(),
                                                          fit.residualDf(),
                                                          analysis::knownSigma(fit, response, options));
  const double q = analysis::criticalValue(scale, options.confidence);
  // (X'X)^-1 = solver * solver', so x'(X'X)^-1 x = ||solver' x||^2: a
  // product with the runs per point instead of forming the covariance.
  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> solver(
      fit.solver.data(), static_cast<Eigen::Index>(fit.solver.rows()), static_cast<Eigen::Index>(fit.solver.cols()));
  const std::size_t n = fit.factorCount();
  const std::vector<double>& coef = fit.models[response].coded;

  std::vector<Prediction> out(points.rows());
  std::vector<double> coded(n);
  Eigen::VectorXd row(static_cast<Eigen::Index>(fit.termCount()));
  for (std::size_t k = 0; k < points.rows(); ++k) {
    for (std::size_t i = 0; i < n; ++i) coded[i] = toCoded(fit.factors[i], points(k, i));
    quadratic::terms(n, coded.data(), row.data());
    const double ratio = (solver.transpose() * row).squaredNorm();
    Prediction& p = out[k];
    p.value = quadratic::evaluate(n, coef.data(), coded.data());
    p.stdError = scale.sigma * std::sqrt(ratio);
    const double newObservation = scale.sigma * std::sqrt(1.0 + ratio);
    p.confidenceLow = p.value - q * p.stdError;
    p.confidenceHigh = p.value + q * p.stdError;
    p.predictionLow = p.value - q * newObservation;
    p.predictionHigh = p.value + q * newObservation;
  }
  return out;
}

}  // namespace tavrin
