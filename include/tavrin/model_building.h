// Model building over plain values: fit a chosen model (a subset of the
// full quadratic, with blocks as fixed effects), its ANOVA by source,
// backward elimination, run diagnostics, the Box-Cox transform, canonical
// analysis with a ridge threshold, ridge analysis and steepest ascent.
//
// Everything works in coded units on a coded settings matrix (runs x
// factors). Blocks enter with sum-to-zero effects, so the intercept and
// every prediction are at the average block. Where the error variance is
// needed and no residual degree of freedom is left, numbers are NaN and
// `notEstimable` says why.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/api.h"
#include "tavrin/matrix.h"
#include "tavrin/model_terms.h"
#include "tavrin/study.h"

namespace tavrin {

// The data a model is fitted to.
struct ModelData {
  std::vector<std::string> factorNames;  // one per column of `coded`
  Matrix coded;                          // runs x factors, coded settings
  std::vector<double> response;          // one finite value per run
  // Empty (no blocks) or one label per run; two or more distinct labels.
  std::vector<int> blocks;
  // Empty (runs in row order) or the execution position of each run, distinct.
  std::vector<int> runOrder;
};

// One estimated column of the model matrix.
struct TermEstimate {
  std::string term;   // "(Intercept)", "A", "A^2", "A:B", or "Block 3"
  bool block = false; // a block effect (deviation from the average block)
  Estimate estimate;
};

// A least-squares fit of one model.
struct ModelFit {
  std::vector<std::string> factorNames;
  ModelTerms terms;
  std::vector<int> blockLevels;  // distinct labels, increasing; empty without blocks
  int runs = 0;
  int residualDf = 0;
  // The model in the layout of quadratic.h with zeros for dropped terms, at
  // the average block: evaluation, gradients and the optimum use it as is.
  std::vector<double> coefficients;
  // The terms' estimates, then one per block level (the last level's effect
  // is minus the sum of the others and carries its own standard error).
  std::vector<TermEstimate> estimates;
  // (X'X)^-1 over the model-matrix columns: the terms, then the effects of
  // every block level but the last.
  Matrix unscaledCovariance;
  std::vector<double> fitted;
  std::vector<double> residuals;
  std::vector<double> leverages;
  double residualSS = 0.0;
  double totalSS = 0.0;  // about the mean
  double sigma = 0.0;    // RMSE; NaN without residual df
  // Of the variation within blocks, as FitReport's: 1 - residualSS / (SS
  // about the block means), adjusted on that SS's df.
  double rSquared = 0.0;
  double adjustedRSquared = 0.0;
  // Gaussian log-likelihood at the maximum-likelihood variance, and AICc
  // counting the columns and the variance as parameters; AICc is NaN when
  // runs <= columns + 2.
  double logLikelihood = 0.0;
  double aicc = 0.0;
  std::string notEstimable;
  // Empty for a hierarchical model; else each term and the parents it
  // lacks, e.g. "A:C lacks C" (the fit is made as asked).
  std::string hierarchy;
};

// The data of one response of a study: the runs' actual coded settings, their blocks (when there are two or more), the
// response per run (standard order) and the execution order. StateError
// naming the runs whose result is missing; UnknownName for the response.
TAVRIN_LAYER_API ModelData modelData(const Study& study, std::string_view response);

// Fits `terms` to the data (column-pivoted QR). InvalidArgument for shapes
// that do not match, a value that is not finite, a model without the
// intercept or of another factor count, a single block, or fewer runs than
// columns; StateError naming a term that the settings cannot separate from
// the others (rank deficiency). `confidence` sets the intervals, in (0, 1).
TAVRIN_LAYER_API ModelFit fitModel(const ModelData& data, const ModelTerms& terms, double confidence = 0.95);

// The prediction at coded points (points x factors), at the average block,
// with its standard error (NaN without residual df).
TAVRIN_LAYER_API std::vector<Prediction> predictModel(const ModelFit& fit, const Matrix& codedPoints,
                                                      double confidence = 0.95);

// -------------------------------------------------------------------- ANOVA

struct AnovaRow {
  std::string source;
  int df = 0;
  double ss = 0.0;
  double ms = 0.0;
  double f = 0.0;  // NaN where there is no test
  double p = 0.0;
};

// The analysis of variance of a fit.
struct Anova {
  // Sequential sums of squares by group, each after those above it:
  // "Blocks", "Linear", "Interaction", "Square" (groups the model has).
  std::vector<AnovaRow> sequential;
  // Partial (adjusted) sums of squares: each term given all the others,
  // blocks as one group; F = t^2 for a single-df term.
  std::vector<AnovaRow> partial;
  // The model's terms (blocks excluded) given the blocks, against the residual.
  AnovaRow model;
  AnovaRow residual;
  // Lack of fit and pure error split the residual when settings repeat
  // (within a block). Pure error is the residual of a cell mean per
  // distinct setting (plus block effects). `lackOfFitReason` says why the
  // split is missing; the rows then have df 0.
  AnovaRow lackOfFit;
  AnovaRow pureError;
  std::string lackOfFitReason;
  AnovaRow total;  // corrected total
};

TAVRIN_LAYER_API Anova anova(const ModelData& data, const ModelFit& fit);

// ---------------------------------------------------------------- reduction

struct ReductionStep {
  std::string term;
  bool forced = false;  // removed by forceOut
  // The term's partial-test p before removal, and the change of AICc that
  // removing it made (NaN where not computed).
  double p = 0.0;
  double deltaAicc = 0.0;
  ModelTerms remaining;
};

struct Reduction {
  std::vector<ReductionStep> steps;
  ModelFit fit;  // of the final model
};

// Backward elimination that keeps hierarchy: a term is a candidate only
// while no kept term contains it. PValue removes the candidate of largest
// p while it exceeds pToRemove; Aicc removes the candidate whose removal
// lowers AICc most while one does. InvalidArgument for a pToRemove outside
// (0, 1), a forced term not in the start model, a term forced both ways or
// forced out while a kept term contains it; UnknownName for an unknown
// label; StateError naming the last term when the elimination would leave
// the intercept alone, and for Aicc when AICc is not defined.
TAVRIN_LAYER_API Reduction reduceModel(const ModelData& data, const ModelTerms& start,
                                       const ReductionOptions& options = {});

// -------------------------------------------------------------- diagnostics

struct RunDiagnostic {
  std::size_t row = 0;  // row of the data
  int order = 0;        // execution position
  double residual = 0.0;
  double leverage = 0.0;
  // Externally studentised residual e / (s_(i) sqrt(1 - h)), DFFITS, and the
  // Bonferroni p of the outlier test (n times the two-sided t p, at most
  // 1). NaN for a run of leverage 1 or with no df left after deleting it.
  double externallyStudentized = 0.0;
  double dffits = 0.0;
  double bonferroniP = 0.0;
  // Cook's distance, e^2 h / (p s^2 (1 - h)^2) over the p model columns;
  // NaN for a run of leverage 1 or without residual df.
  double cooksDistance = 0.0;
  bool outlier = false;  // bonferroniP < alpha
  // The normal score of the residual's rank, Blom's (i - 3/8) / (n + 1/4).
  double normalScore = 0.0;
};

struct Diagnostics {
  double alpha = 0.05;
  std::vector<RunDiagnostic> runs;  // in execution order, for drift plots
  // Durbin-Watson statistic of the residuals in execution order: near 2
  // without drift, towards 0 with positive serial correlation.
  double durbinWatson = 0.0;
};

// InvalidArgument for an alpha outside (0, 1).
TAVRIN_LAYER_API Diagnostics diagnose(const ModelData& data, const ModelFit& fit, double alpha = 0.05);

// ------------------------------------------------------------------ Box-Cox

// y -> (y^lambda - 1) / lambda, or log y for lambda 0: increasing in y for
// every lambda, so a goal's direction is kept.
struct PowerTransform {
  double lambda = 1.0;
  double apply(double y) const noexcept;
  // The inverse; NaN where the transformed value has no preimage.
  double invert(double w) const noexcept;
};

struct BoxCox {
  double lambda = 0.0;  // maximum of the profile likelihood
  // The 95 % interval {lambda : 2 (L(lambda_hat) - L(lambda)) <= chi2_1(0.95)}
  // within the searched [-3, 3]; an end at the search bound means open.
  double lower = 0.0;
  double upper = 0.0;
  // The profile at lambda, and the level the interval's ends lie at
  // (logLikelihood - chi2_1(0.95) / 2).
  double logLikelihood = 0.0;
  double cut = 0.0;
  // The conventional power inside the interval nearest the optimum
  // (1 meaning no transform, 0 the log), or lambda when none is.
  double recommended = 1.0;
  std::string recommendation;  // in words, e.g. "log"
  std::vector<double> gridLambda;  // the profile, for plotting
  std::vector<double> gridLogLikelihood;  // up to the same constant as logLikelihood
};

// The profile log-likelihood of lambda for `terms`. InvalidArgument naming
// the first run with a response that is not positive.
TAVRIN_LAYER_API BoxCox boxCox(const ModelData& data, const ModelTerms& terms);

// The data with the response transformed. InvalidArgument naming the first
// run with a response that is not positive.
TAVRIN_LAYER_API ModelData transformResponse(const ModelData& data, const PowerTransform& transform);

// The model fitted to the transformed response and its predictions mapped
// back into the original units.
struct TransformedFit {
  PowerTransform transform;
  ModelFit fit;  // on the transformed scale
};
TAVRIN_LAYER_API TransformedFit fitTransformed(const ModelData& data, const ModelTerms& terms, double lambda,
                                               double confidence = 0.95);
// Predictions in original units: the value and both intervals' ends mapped
// back (a monotone map keeps coverage); stdError stays on the transformed scale.
TAVRIN_LAYER_API std::vector<Prediction> predictOriginal(const TransformedFit& fit, const Matrix& codedPoints,
                                                         double confidence = 0.95);

// ---------------------------------------------------------- ridges and paths

struct RidgeCanonical {
  std::vector<double> eigenvalues;  // ascending
  Matrix eigenvectors;              // factors x factors, column k for eigenvalue k
  double threshold = 0.0;           // |eigenvalue| below it counts as zero
  std::vector<std::size_t> zeroDirections;  // eigenvalue indices under the threshold
  // The stationary point of the surface restricted to the other
  // directions, nearest the design centre (coded), and the prediction there.
  std::vector<double> stationary;
  double predicted = 0.0;
  double distance = 0.0;
  // Each near-zero direction in factor terms, e.g. "+0.71 A -0.70 B".
  std::vector<std::string> ridgeDirections;
};

// InvalidArgument for a threshold that is negative or not finite.
TAVRIN_LAYER_API RidgeCanonical canonicalWithThreshold(const ModelFit& fit, double threshold);
// With rsm's default threshold, a tenth of the largest eigenvalue magnitude.
TAVRIN_LAYER_API RidgeCanonical canonicalWithThreshold(const ModelFit& fit);

struct PathPoint {
  double radius = 0.0;          // distance from the centre, coded
  std::vector<double> coded;
  std::vector<double> natural;  // empty when no factor ranges were given
  Prediction prediction;
  bool insideRegion = true;     // every coded coordinate within [-1, 1]
};

// The point of best predicted response on each sphere of radius
// r = k R / steps about the centre (k = 0..steps), found by the Lagrange
// condition (B - mu I) x = -b / 2. InvalidArgument for a radius that is not
// finite and positive or steps outside 1..1000.
TAVRIN_LAYER_API std::vector<PathPoint> ridgeAnalysis(const ModelFit& fit, double radius, int steps,
                                                      bool maximize = true, double confidence = 0.95);

// The path of steepest ascent (or descent) of the fit's first-order part,
// in steps where `factor` moves by `step` natural units (sign ignored; the
// direction follows the gradient); `steps` + 1 points from the centre.
// Factor ranges give the natural units. InvalidArgument for a factor index
// out of range, a zero or non-finite step, a factor whose linear
// coefficient is 0, steps outside 1..1000, ranges not matching the factors.
TAVRIN_LAYER_API std::vector<PathPoint> steepestAscent(const ModelFit& fit, const std::vector<Factor>& ranges,
                                                       std::size_t factor, double step, int steps,
                                                       bool ascent = true, double confidence = 0.95);

// ------------------------------------------------------------ a whole build

// The power of a named transform: "none" 1, "sqrt" 0.5, "log" 0,
// "inverse" -1. InvalidArgument naming the accepted names otherwise
// ("boxcox" is chosen from the data by buildModel).
TAVRIN_LAYER_API double namedPower(std::string_view name);

struct ModelRequest {
  std::string model = "quadratic";  // as parseModelTerms reads it
  std::string transform = "none";   // none, log, sqrt, inverse or boxcox
  bool reduce = false;
  ReductionOptions reduction;
  double confidence = 0.95;
  double outlierAlpha = 0.05;
};

struct ModelBuild {
  ModelTerms start;
  std::optional<BoxCox> boxCox;              // with transform "boxcox"
  std::optional<PowerTransform> transform;   // empty: the response as measured
  std::optional<Reduction> reduction;        // when asked
  ModelFit fit;                              // the final model, on the transformed scale
  Anova anova;
  Diagnostics diagnostics;
};

// Reads the model, transforms the response (for "boxcox" by the
// recommendation of its profile under the start model), reduces when
// asked, then the ANOVA and run diagnostics of the final model. Throws as
// the steps it takes do.
TAVRIN_LAYER_API ModelBuild buildModel(const ModelData& data, const ModelRequest& request);

// The choice a request and its build make: what was asked, and the final
// terms ("quadratic" when they are the full quadratic) and power.
TAVRIN_LAYER_API ModelChoice modelChoice(const ModelRequest& request, const ModelBuild& build);

// The build of the response's saved model (Study::modelChoice) as the
// study's fit() fits it: the saved terms, on the saved power's scale, with
// the blocks; nothing is chosen again (no Box-Cox search, no reduction), so
// `start` is the saved terms. Throws as modelData and fitModel do.
TAVRIN_LAYER_API ModelBuild savedModel(const Study& study, std::string_view response, double confidence = 0.95,
                                       double outlierAlpha = 0.05);

// The model a path of one response follows: the saved one (savedModel)
// when `model` is empty, else `model` (as parseModelTerms reads it) fitted
// to the response as measured. Throws as those do.
TAVRIN_LAYER_API ModelBuild pathModel(const Study& study, std::string_view response, const std::string& model,
                                      double confidence = 0.95);

// The paths of a build's final model; with a transform, each point's
// prediction (value and interval ends) is in the original units, stdError
// on the transformed scale, as predictOriginal's. The transform is
// increasing, so the best point at each radius is the same on both scales.
TAVRIN_LAYER_API std::vector<PathPoint> ridgeAnalysis(const ModelBuild& build, double radius, int steps,
                                                      bool maximize = true, double confidence = 0.95);
TAVRIN_LAYER_API std::vector<PathPoint> steepestAscent(const ModelBuild& build, const std::vector<Factor>& ranges,
                                                       std::size_t factor, double step, int steps,
                                                       bool ascent = true, double confidence = 0.95);

// Builds the model of one response of the study (buildModel on
// modelData) and keeps it as the response's chosen model, which the
// study's fit() and everything after it then use. Throws as they do; a
// refused build changes nothing.
TAVRIN_LAYER_API ModelBuild chooseModel(Study& study, std::string_view response, const ModelRequest& request);

}  // namespace tavrin
