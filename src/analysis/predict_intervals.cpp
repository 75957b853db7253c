// Predictions of the responses with confidence and prediction intervals.
#include <algorithm>
#include <cmath>
#include <map>
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

// The points in coded units, one row each, and their model rows.
struct CodedPoints {
  std::vector<std::vector<double>> coded;
  Eigen::MatrixXd rows;  // terms x points, the full quadratic's terms
};

CodedPoints codedPoints(const Fit& fit, const Matrix& points) {
  const std::size_t n = fit.factorCount();
  CodedPoints out;
  out.rows.resize(static_cast<Eigen::Index>(fit.termCount()), static_cast<Eigen::Index>(points.rows()));
  for (std::size_t k = 0; k < points.rows(); ++k) {
    std::vector<double> coded(n);
    for (std::size_t i = 0; i < n; ++i) coded[i] = toCoded(fit.factors[i], points(k, i));
    quadratic::terms(n, coded.data(), out.rows.col(static_cast<Eigen::Index>(k)).data());
    out.coded.push_back(std::move(coded));
  }
  return out;
}

// The variance ratios x'(X'X)^-1 x of a response's model at the points.
// (X'X)^-1 = S S', so x'(X'X)^-1 x = ||S' x||^2: a product with the runs
// per point instead of forming the covariance; the zero rows of the terms
// left out drop their columns.
std::vector<double> varianceRatios(const Model& model, const CodedPoints& points) {
  const Eigen::MatrixXd projected = view(model.solver).transpose() * points.rows;
  std::vector<double> out;
  for (Eigen::Index k = 0; k < projected.cols(); ++k) out.push_back(projected.col(k).squaredNorm());
  return out;
}

// The error scale of one response; the residuals are formed only when
// sigma is estimated from them.
ErrorScale responseScale(const Fit& fit, std::size_t response, const AnalysisOptions& options) {
  const std::optional<double> known = knownSigma(fit, response, options);
  const int df = fit.models[response].residualDf;
  if (known || df <= 0) return errorScale(0.0, df, known);
  return {false, rootMeanSquare(residuals(fit, response), df), df};
}

std::vector<Prediction> predictResponse(const Fit& fit, std::size_t response, const CodedPoints& points,
                                        const ErrorScale& scale, double q) {
  const std::size_t n = fit.factorCount();
  const Model& model = fit.models[response];
  const std::vector<double>& coef = model.coded;
  const std::vector<double> ratios = varianceRatios(model, points);
  std::vector<Prediction> out(points.coded.size());
  for (std::size_t k = 0; k < out.size(); ++k) {
    const double ratio = ratios[k];
    Prediction& p = out[k];
    p.value = quadratic::evaluate(n, coef.data(), points.coded[k].data());
    p.stdError = scale.sigma * std::sqrt(ratio);
    const double newObservation = scale.sigma * std::sqrt(1.0 + ratio);
    p.confidenceLow = p.value - q * p.stdError;
    p.confidenceHigh = p.value + q * p.stdError;
    p.predictionLow = p.value - q * newObservation;
    p.predictionHigh = p.value + q * newObservation;
    if (!model.transformed()) continue;
    // Back in the response's units; a monotone map keeps the intervals'
    // coverage, and the standard error stays on the model's scale.
    for (double* v : {&p.value, &p.confidenceLow, &p.confidenceHigh, &p.predictionLow, &p.predictionHigh})
      *v = toOriginal(model, *v);
  }
  return out;
}

}  // namespace

std::vector<std::vector<Prediction>> predictEveryResponse(const Fit& fit, const Matrix& points,
                                                          const AnalysisOptions& options) {
  for (std::size_t j = 0; j < fit.responses.size(); ++j) checkFitted(fit, j);
  checkOptions(fit, options);
  checkPoints(fit, points);
  const CodedPoints coded = codedPoints(fit, points);
  // The critical value depends only on whether sigma is known (normal) or
  // estimated (t on the model's residual df), so it is computed once for each.
  std::optional<double> knownQ;
  std::map<int, double> estimatedQ;
  std::vector<std::vector<Prediction>> out;
  for (std::size_t j = 0; j < fit.responses.size(); ++j) {
    const ErrorScale scale = responseScale(fit, j, options);
    double critical = 0.0;
    if (std::isnan(scale.sigma)) {
      critical = criticalValue(scale, options.confidence);
    } else if (scale.known) {
      if (!knownQ) knownQ = criticalValue(scale, options.confidence);
      critical = *knownQ;
    } else {
      const auto [it, added] = estimatedQ.try_emplace(scale.df, 0.0);
      if (added) it->second = criticalValue(scale, options.confidence);
      critical = it->second;
    }
    out.push_back(predictResponse(fit, j, coded, scale, critical));
  }
  return out;
}

}  // namespace analysis

std::vector<Prediction> predictWithIntervals(const Fit& fit, std::size_t response, const Matrix& points,
                                             const AnalysisOptions& options) {
  analysis::checkFitted(fit, response);
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
