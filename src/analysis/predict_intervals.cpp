// Predictions of the responses with confidence and prediction intervals.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "analysis/inference.h"
#include "analysis/predictions.h"
#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/quadratic.h"

namespace tavrin {
namespace analysis {
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

// The points in coded units, one row each, and their variance ratios
// x'(X'X)^-1 x, which no response enters.
struct CodedPoints {
  std::vector<std::vector<double>> coded;
  std::vector<double> ratio;
};

CodedPoints codedPoints(const Fit& fit, const Matrix& points) {
  // (X'X)^-1 = solver * solver', so x'(X'X)^-1 x = ||solver' x||^2: a
  // product with the runs per point instead of forming the covariance.
  const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> solver(
      fit.solver.data(), static_cast<Eigen::Index>(fit.solver.rows()), static_cast<Eigen::Index>(fit.solver.cols()));
  const std::size_t n = fit.factorCount();
  CodedPoints out;
  Eigen::VectorXd row(static_cast<Eigen::Index>(fit.termCount()));
  for (std::size_t k = 0; k < points.rows(); ++k) {
    std::vector<double> coded(n);
    for (std::size_t i = 0; i < n; ++i) coded[i] = toCoded(fit.factors[i], points(k, i));
    quadratic::terms(n, coded.data(), row.data());
    out.ratio.push_back((solver.transpose() * row).squaredNorm());
    out.coded.push_back(std::move(coded));
  }
  return out;
}

// The error scale of one response; the residuals are formed only when
// sigma is estimated from them.
ErrorScale responseScale(const Fit& fit, std::size_t response, const AnalysisOptions& options) {
  const std::optional<double> known = knownSigma(fit, response, options);
  if (known || fit.residualDf() <= 0) return errorScale(0.0, fit.residualDf(), known);
  return {false, rootMeanSquare(residuals(fit, response), fit.residualDf()), fit.residualDf()};
}

std::vector<Prediction> predictResponse(const Fit& fit, std::size_t response, const CodedPoints& points,
                                        const ErrorScale& scale, double q) {
  const std::size_t n = fit.factorCount();
  const std::vector<double>& coef = fit.models[response].coded;
  std::vector<Prediction> out(points.coded.size());
  for (std::size_t k = 0; k < out.size(); ++k) {
    const double ratio = points.ratio[k];
    Prediction& p = out[k];
    p.value = quadratic::evaluate(n, coef.data(), points.coded[k].data());
    p.stdError = scale.sigma * std::sqrt(ratio);
    const double newObservation = scale.sigma * std::sqrt(1.0 + ratio);
    p.confidenceLow = p.value - q * p.stdError;
    p.confidenceHigh = p.value + q * p.stdError;
    p.predictionLow = p.value - q * newObservation;
    p.predictionHigh = p.value + q * newObservation;
  }
  return out;
}

}  // namespace

std::vector<std::vector<Prediction>> predictEveryResponse(const Fit& fit, const Matrix& points,
                                                          const AnalysisOptions& options) {
  for (std::size_t j = 0; j < fit.responses.size(); ++j) checkResponse(fit, j);
  checkOptions(fit, options);
  checkPoints(fit, points);
  const CodedPoints coded = codedPoints(fit, points);
  // The critical value depends only on whether sigma is known (normal) or
  // estimated (t on the fit's residual df), so it is computed once for each.
  std::optional<double> knownQ;
  std::optional<double> estimatedQ;
  std::vector<std::vector<Prediction>> out;
  for (std::size_t j = 0; j < fit.responses.size(); ++j) {
    const ErrorScale scale = responseScale(fit, j, options);
    std::optional<double>& q = scale.known ? knownQ : estimatedQ;
    // A sigma that is NaN makes the value NaN: not one to keep.
    const bool cached = q.has_value() && !std::isnan(scale.sigma);
    const double critical = cached ? *q : criticalValue(scale, options.confidence);
    if (!std::isnan(scale.sigma)) q = critical;
    out.push_back(predictResponse(fit, j, coded, scale, critical));
  }
  return out;
}

}  // namespace analysis

std::vector<Prediction> predictWithIntervals(const Fit& fit, std::size_t response, const Matrix& points,
                                             const AnalysisOptions& options) {
  analysis::checkResponse(fit, response);
  analysis::checkOptions(fit, options);
  analysis::checkPoints(fit, points);
  const analysis::ErrorScale scale = analysis::responseScale(fit, response, options);
  return analysis::predictResponse(fit, response, analysis::codedPoints(fit, points), scale,
                                   analysis::criticalValue(scale, options.confidence));
}

std::vector<std::size_t> extrapolatedPoints(const Fit& fit, const Matrix& points) {
  analysis::checkPoints(fit, points);
  // Compared in coded units, as the span was found, so a point typed as a
  // run's setting is inside; where the span reaches -1 or +1 the factor's own
  // low and high are compared, so a point typed as the factor's end is too.
  const auto beyond = [](const Factor& f, std::pair<double, double> span, double x) {
    const bool belowLow = span.first == -1.0 ? x < f.low : toCoded(f, x) < span.first;
    const bool aboveHigh = span.second == 1.0 ? x > f.high : toCoded(f, x) > span.second;
    return belowLow || aboveHigh;
  };
  std::vector<std::size_t> outside;
  for (std::size_t p = 0; p < points.rows(); ++p)
    for (std::size_t i = 0; i < fit.factorCount(); ++i) {
      const std::pair<double, double> span = i < fit.span.size() ? fit.span[i] : std::pair{-1.0, 1.0};
      if (beyond(fit.factors[i], span, points(p, i))) {
        outside.push_back(p);
        break;
      }
    }
  return outside;
}

}  // namespace tavrin
