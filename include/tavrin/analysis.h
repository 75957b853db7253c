// Analysis of a fit: how good each model is (the fit report) and what shape
// its surface has (the canonical analysis). Free functions over a Fit.
//
// Where a number needs the error variance and the plan leaves no residual
// degree of freedom (saturated plans), it is NaN and the report says why,
// unless a known measurement standard deviation sigma is supplied; with
// sigma, standard errors use it and tests use the normal distribution.
#pragma once

#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/api.h"
#include "tavrin/study.h"

namespace tavrin {

struct AnalysisOptions {
  // Level of every confidence and prediction interval, in (0, 1).
  double confidence = 0.95;
  // Known measurement standard deviation per response name (> 0, finite).
  std::map<std::string, double, std::less<>> knownSigma;
};

// A value with its standard error, t (or z) value, two-sided p value and
// confidence interval. NaN where not estimable.
struct Estimate {
  double value = 0.0;
  double stdError = 0.0;
  double t = 0.0;
  double p = 0.0;
  double lower = 0.0;
  double upper = 0.0;
};

struct CoefficientRow {
  std::string term;  // quadratic::termLabel
  Estimate coded;
  Estimate natural;
};

struct RunDiagnostics {
  int runId = 0;
  double observed = 0.0;
  double fitted = 0.0;
  double residual = 0.0;
  double leverage = 0.0;
  // Internally studentised with the sigma in use (known, else the RMSE);
  // NaN for a run of leverage 1, which the model fits exactly.
  double studentized = 0.0;
  double cooksDistance = 0.0;
};

// Pure error from replicated settings and the lack of fit beyond it. Pure
// error is the residual of a mean per distinct setting plus the block
// effects, on runs minus that model's rank.
struct LackOfFit {
  bool available = false;
  std::string reason;  // why not, when unavailable
  int pureErrorDf = 0;
  int lackOfFitDf = 0;
  double pureErrorSS = 0.0;
  double lackOfFitSS = 0.0;
  double f = 0.0;
  double p = 0.0;
};

struct FitReport {
  std::string response;
  std::string unit;
  double confidence = 0.95;
  int runs = 0;
  int terms = 0;  // estimated columns: the model's terms and block effects
  int residualDf = 0;
  // The error standard deviation used: sigma when known, else the RMSE,
  // NaN when neither exists.
  bool sigmaKnown = false;
  double sigma = 0.0;
  // Empty when every number is estimable; else the reason some are not.
  std::string notEstimable;

  // With blocks (Fit::blocks), the sum of squares between the blocks'
  // means on levels - 1 df: its own source, before the model's terms; 0 without.
  int blocksDf = 0;
  double blocksSS = 0.0;

  // NaN where not estimable: adjusted R-squared and RMSE without residual
  // df, PRESS and predicted R-squared when a run has leverage 1, R-squared
  // and F for a response that is the same in every run.
  // R-squared = SS(model | blocks) / (total SS - blocks SS), and adjusted and
  // predicted R-squared on that same total: the blocks explain nothing.
  double rSquared = 0.0;
  double adjustedRSquared = 0.0;
  double rmse = 0.0;
  double press = 0.0;
  double predictedRSquared = 0.0;
  double fStatistic = 0.0;
  // The overall F test of the model's terms given the blocks, on
  // fDfModel = terms without the intercept (block effects not counted).
  // With a known sigma the test is on (fDfModel, infinity) degrees of
  // freedom: the chi-square test.
  int fDfModel = 0;
  double fPValue = 0.0;
  double residualSS = 0.0;
  double totalSS = 0.0;

  std::vector<CoefficientRow> coefficients;
  std::vector<RunDiagnostics> diagnostics;  // per run, in standard order
  LackOfFit lackOfFit;
};

// A prediction with the standard error of the mean response, its confidence
// interval and the prediction interval of a new observation.
struct Prediction {
  double value = 0.0;
  double stdError = 0.0;
  double confidenceLow = 0.0;
  double confidenceHigh = 0.0;
  double predictionLow = 0.0;
  double predictionHigh = 0.0;
};

struct Canonical {
  enum Kind { Maximum, Minimum, Saddle, Ridge };
  std::string response;
  std::vector<std::string> factors;  // names, in the order of the coordinates
  Kind kind = Ridge;
  // An eigenvalue smaller in magnitude than ridgeTolerance times the
  // largest magnitude makes the surface a ridge.
  double ridgeTolerance = 0.0;
  // False when the second-order part is singular: no unique stationary point.
  bool hasStationaryPoint = false;
  std::vector<double> stationaryCoded;
  std::vector<double> stationaryNatural;
  // The response's Box-Cox power when its model is transformed, else NaN:
  // the eigenvalues are then on the transformed scale; the prediction at
  // the stationary point is always in the response's units.
  double power = std::numeric_limits<double>::quiet_NaN();
  double predictedAtStationary = 0.0;
  std::vector<double> eigenvalues;  // ascending
  Matrix eigenvectors;              // factors x factors; column k belongs to eigenvalue k
  bool insideRegion = false;        // every coded coordinate within [-1, 1]
  double distanceFromCenter = 0.0;  // Euclidean, coded units; NaN without a stationary point
};

TAVRIN_LAYER_API std::string_view canonicalKindName(Canonical::Kind kind) noexcept;

// The fit report of one response. InvalidArgument for a response index out
// of range, a confidence outside (0, 1), a sigma that is not finite and
// positive, or a fit with fewer runs than terms; UnknownName for a sigma of
// an unknown response. Every statistic is computed at the scale of the
// response's spread, so results near 1e-200 or 1e200 give those of results
// near 1; only residualSS, totalSS, press and the lack-of-fit sums, squares
// in the response's unit, can then leave double's range (0 or infinity).
TAVRIN_LAYER_API FitReport analyze(const Fit& fit, std::size_t response, const AnalysisOptions& options = {});

// Predictions of one response with intervals at points (natural units,
// points x factors). Refuses what analyze refuses, and points whose column
// count is not the factor count or that hold a value that is not finite.
// Without sigma and without residual df the value is given and the rest is NaN.
TAVRIN_LAYER_API std::vector<Prediction> predictWithIntervals(const Fit& fit, std::size_t response,
                                                              const Matrix& points,
                                                              const AnalysisOptions& options = {});

// The points (rows of `points`, natural units) where the model
// extrapolates: a setting beyond the span the runs cover (Fit::span),
// zero-based and ascending. InvalidArgument as predictWithIntervals for the
// points' shape and values.
TAVRIN_LAYER_API std::vector<std::size_t> extrapolatedPoints(const Fit& fit, const Matrix& points);

// Stationary point and eigen-decomposition of the second-order part, coded
// units. InvalidArgument for a response index out of range or a
// ridgeTolerance outside [0, 1).
TAVRIN_LAYER_API Canonical canonicalAnalysis(const Fit& fit, std::size_t response, double ridgeTolerance = 1e-3);

// A plain-text report in the manner of the usual regression summaries.
TAVRIN_LAYER_API std::string formatReport(const FitReport& report, const Canonical& canonical);

}  // namespace tavrin
