// Argument checks, least-squares quantities and the tests of one response.
#include "analysis/inference.h"

#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>

#include "study/not_a_number.h"
#include "tavrin/error.h"
#include "tavrin/model_building.h"
#include "tavrin/quadratic.h"

namespace tavrin::analysis {
namespace {

std::string responseList(const Fit& fit) {
  std::string names;
  for (const Response& r : fit.responses) names += (names.empty() ? "" : ", ") + r.name;
  return names;
}

}  // namespace

void checkResponse(const Fit& fit, std::size_t response) {
  if (response >= fit.responses.size())
    throw InvalidArgument("response index " + std::to_string(response) + " is out of range: the fit has " +
                          std::to_string(fit.responses.size()) + " responses (" + responseList(fit) +
                          "), indexed from 0");
  const Model& model = fit.models.size() == fit.responses.size() ? fit.models[response] : Model{};
  if (model.coded.size() != fit.termCount())
    throw InvalidArgument("the fit of response " + fit.responses[response].name +
                          " is inconsistent: it needs one coded coefficient per term (" +
                          std::to_string(fit.termCount()) + ")");
}

void checkFitted(const Fit& fit, std::size_t response) {
  checkResponse(fit, response);
  const Model& model = fit.models[response];
  if (model.residualDf < 0 || model.residuals.size() != fit.runCount() || model.leverages.size() != fit.runCount() ||
      model.solver.rows() != fit.termCount() || model.solver.cols() != fit.runCount())
    throw InvalidArgument("the fit of response " + fit.responses[response].name + " has " +
                          std::to_string(fit.runCount()) +
                          " runs and a least-squares map, residuals or leverages that do not match them, or more "
                          "columns than runs");
}

void checkOptions(const Fit& fit, const AnalysisOptions& options) {
  if (!(options.confidence > 0.0 && options.confidence < 1.0))
    throw InvalidArgument("confidence level " + std::to_string(options.confidence) +
                          " is not allowed: it must lie strictly between 0 and 1 (e.g. 0.95)");
  for (const auto& [name, sigma] : options.knownSigma) {
    fit.responseIndex(name);
    if (!(std::isfinite(sigma) && sigma > 0.0))
      throw InvalidArgument("known sigma of response " + name + " is " + std::to_string(sigma) +
                            ": it must be a finite number greater than 0");
  }
}

std::optional<double> knownSigma(const Fit& fit, std::size_t response, const AnalysisOptions& options) {
  const auto it = options.knownSigma.find(fit.responses[response].name);
  if (it == options.knownSigma.end()) return std::nullopt;
  return it->second;
}

Eigen::VectorXd modelledObservations(const Fit& fit, std::size_t response) {
  Eigen::VectorXd y = view(fit.observations).col(static_cast<Eigen::Index>(response));
  const Model& model = fit.models[response];
  if (!model.transformed()) return y;
  const PowerTransform transform{model.power};
  return y.unaryExpr([&transform](double v) { return transform.apply(v); });
}

Eigen::VectorXd residuals(const Fit& fit, std::size_t response) {
  const std::vector<double>& r = fit.models[response].residuals;
  return Eigen::Map<const Eigen::VectorXd>(r.data(), static_cast<Eigen::Index>(r.size()));
}

double toOriginal(const Model& model, double value) noexcept {
  return model.transformed() ? PowerTransform{model.power}.invert(value) : value;
}

Eigen::MatrixXd unscaledCovariance(const Fit& fit, std::size_t response) {
  const auto solver = view(fit.models[response].solver);
  Eigen::MatrixXd c = solver * solver.transpose();
  // Symmetric by construction; make it so bit for bit.
  return (c + c.transpose()) * 0.5;
}

Eigen::MatrixXd codedToNaturalMap(const std::vector<Factor>& factors) {
  // Substituting c_i = a_i z_i + d_i, the coded level as a function of the
  // natural value z_i, expands each coded term into natural ones.
  const std::size_t n = factors.size();
  const auto p = static_cast<Eigen::Index>(quadratic::termCount(n));
  std::vector<double> a(n), d(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double width = factors[i].high - factors[i].low;
    a[i] = 2.0 / width;
    d[i] = -(factors[i].low + factors[i].high) / width;
  }
  Eigen::MatrixXd t = Eigen::MatrixXd::Zero(p, p);
  const auto at = [&](std::size_t row, std::size_t col) -> double& {
    return t(static_cast<Eigen::Index>(row), static_cast<Eigen::Index>(col));
  };
  at(0, 0) = 1.0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t li = quadratic::linearIndex(i), si = quadratic::squareIndex(n, i);
    at(0, li) = d[i];
    at(li, li) = a[i];
    at(0, si) = d[i] * d[i];
    at(li, si) = 2.0 * a[i] * d[i];
    at(si, si) = a[i] * a[i];
    for (std::size_t j = i + 1; j < n; ++j) {
      const std::size_t pij = quadratic::productIndex(n, i, j), lj = quadratic::linearIndex(j);
      at(0, pij) = d[i] * d[j];
      at(li, pij) = a[i] * d[j];
      at(lj, pij) = d[i] * a[j];
      at(pij, pij) = a[i] * a[j];
    }
  }
  return t;
}

ErrorScale errorScale(double residualSS, int residualDf, std::optional<double> known) {
  if (known) return {true, *known, residualDf};
  if (residualDf <= 0) return {false, kNaN, residualDf};
  return {false, std::sqrt(residualSS / residualDf), residualDf};
}

int spreadExponent(const Eigen::VectorXd& v) {
  if (v.size() == 0) return 0;
  const double spread = (v.array() - v(0)).abs().maxCoeff();
  return spread > 0.0 && std::isfinite(spread) ? std::ilogb(spread) : 0;
}

double rootMeanSquare(const Eigen::VectorXd& r, int df) {
  const double largest = r.size() == 0 ? 0.0 : r.cwiseAbs().maxCoeff();
  const int k = largest > 0.0 && std::isfinite(largest) ? std::ilogb(largest) : 0;
  const Eigen::VectorXd scaled = r.unaryExpr([k](double x) { return std::ldexp(x, -k); });
  return std::ldexp(std::sqrt(scaled.squaredNorm() / df), k);
}

double criticalValue(const ErrorScale& scale, double confidence) {
  const double tail = (1.0 - confidence) / 2.0;
  if (scale.known) return boost::math::quantile(boost::math::complement(boost::math::normal_distribution<>(), tail));
  if (std::isnan(scale.sigma)) return kNaN;
  return boost::math::quantile(
      boost::math::complement(boost::math::students_t_distribution<>(static_cast<double>(scale.df)), tail));
}

double twoSidedP(const ErrorScale& scale, double statistic) {
  if (std::isnan(statistic) || std::isnan(scale.sigma)) return kNaN;
  const double x = std::fabs(statistic);
  if (std::isinf(x)) return 0.0;
  if (scale.known) return 2.0 * boost::math::cdf(boost::math::complement(boost::math::normal_distribution<>(), x));
  return 2.0 * boost::math::cdf(
                   boost::math::complement(boost::math::students_t_distribution<>(static_cast<double>(scale.df)), x));
}

Estimate estimate(double value, double stdError, const ErrorScale& scale, double confidence) {
  Estimate e;
  e.value = value;
  e.stdError = stdError;
  if (std::isnan(stdError) || (stdError == 0.0 && value == 0.0))
    e.t = kNaN;
  else if (stdError == 0.0)
    e.t = std::copysign(std::numeric_limits<double>::infinity(), value);
  else
    e.t = value / stdError;
  e.p = twoSidedP(scale, e.t);
  const double q = criticalValue(scale, confidence);
  e.lower = value - q * stdError;
  e.upper = value + q * stdError;
  return e;
}

std::string saturationReason(const Fit& fit, std::size_t response, const ErrorScale& scale) {
  if (fit.models[response].residualDf > 0 || scale.known) return {};
  const std::string runs = std::to_string(fit.runCount());
  return "saturated plan: " + runs + " runs for " + runs +
         " coefficients leave no residual degree of freedom; supply a known sigma to get standard errors";
}

}  // namespace tavrin::analysis
