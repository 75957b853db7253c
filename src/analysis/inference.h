// Internal routines shared by the fit report, the predictions and the
// canonical analysis: argument checks, the least-squares quantities of one
// response, and tests and intervals under the error scale in use.
#pragma once

#include <Eigen/Dense>
#include <boost/math/distributions/complement.hpp>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "tavrin/analysis.h"
#include "tavrin/study.h"

namespace tavrin::analysis {

using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

inline Eigen::Map<const RowMajorMatrix> view(const Matrix& m) {
  return {m.data(), static_cast<Eigen::Index>(m.rows()), static_cast<Eigen::Index>(m.cols())};
}

// InvalidArgument unless `response` indexes a response of the fit with a
// coded coefficient per term.
void checkResponse(const Fit& fit, std::size_t response);
// checkResponse, and the model's least-squares map, residuals and
// leverages match the runs, with at least as many runs as columns.
void checkFitted(const Fit& fit, std::size_t response);
// InvalidArgument for a confidence outside (0, 1) or a sigma that is not
// finite and positive; UnknownName for a sigma of an unknown response.
void checkOptions(const Fit& fit, const AnalysisOptions& options);
std::optional<double> knownSigma(const Fit& fit, std::size_t response, const AnalysisOptions& options);

// The observations of one response on its model's scale (transformed
// when the model is), per run.
Eigen::VectorXd modelledObservations(const Fit& fit, std::size_t response);
// Modelled observation minus fitted of one response, per run.
Eigen::VectorXd residuals(const Fit& fit, std::size_t response);
// (X'X)^-1 of a response's terms from its least-squares map S = (X'X)^-1 X':
// S S', in the full layout (rows and columns of terms left out are 0).
Eigen::MatrixXd unscaledCovariance(const Fit& fit, std::size_t response);
// A value on a response model's scale mapped back to the response's units.
double toOriginal(const Model& model, double value) noexcept;
// The linear map T from coded to natural coefficients: natural = T coded.
Eigen::MatrixXd codedToNaturalMap(const std::vector<Factor>& factors);

// The error standard deviation and the distribution of tests: normal when
// sigma is known, Student t on `df` otherwise; sigma is NaN when it is
// neither known nor estimable (no residual df).
struct ErrorScale {
  bool known = false;
  double sigma = 0.0;
  int df = 0;
};

ErrorScale errorScale(double residualSS, int residualDf, std::optional<double> known);

// The exponent k of the largest |v_i - v_0|, 0 when every v_i is equal: at
// the scale 2^-k (exact, a power of two) squares of the deviations neither
// overflow (results near 1e200) nor vanish (near 1e-200).
int spreadExponent(const Eigen::VectorXd& v);
// sqrt(sum r_i^2 / df), summed at the scale of r's spread so that it holds
// at any scale; equal to the direct formula wherever that one holds.
double rootMeanSquare(const Eigen::VectorXd& r, int df);
// P(X > x) under `distribution`: 0 for x = +inf and NaN for NaN, which
// Boost refuses with an exception of its own.
template <class Distribution>
double upperTail(const Distribution& distribution, double x) {
  if (std::isnan(x)) return std::numeric_limits<double>::quiet_NaN();
  if (x == std::numeric_limits<double>::infinity()) return 0.0;
  // Unqualified: found by argument-dependent lookup in the distribution's header.
  return cdf(boost::math::complement(distribution, x));
}

// The two-sided critical value at `confidence`; NaN when sigma is NaN.
double criticalValue(const ErrorScale& scale, double confidence);
// Two-sided p value of a t (or z) statistic; NaN for NaN.
double twoSidedP(const ErrorScale& scale, double statistic);
Estimate estimate(double value, double stdError, const ErrorScale& scale, double confidence);

// Why sigma-dependent numbers are missing; empty when none are.
std::string saturationReason(const Fit& fit, std::size_t response, const ErrorScale& scale);

}  // namespace tavrin::analysis
