// What every plot of a study shows, as plain values in double precision:
// the front ends (Python's tavrin.plot, the workbench, the report) draw
// these numbers and compute none of their own.
//
// Each function reads the results of the analysis, the optimum or the
// design evaluation through their own entry points (predictWithIntervals,
// buildModel, evaluateDesign, the optimum's problem) and lays them out for
// a picture. Settings and axes are in natural units. A plot that cannot be
// drawn is refused with an exception whose message says why: StateError
// for missing results or a model without residual degrees of freedom,
// InvalidArgument for a two-factor view of a one-factor study or an
// option out of range, UnknownName for a factor or response not in the fit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/api.h"
#include "tavrin/design_evaluation.h"
#include "tavrin/matrix.h"
#include "tavrin/model_building.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin::views {

// Grid points per axis of a trace or a slice: 2..401.
inline constexpr std::size_t kDefaultSteps = 41;

// ----------------------------------------------------------------- profiler

// One panel of the profiler: a response along one factor, every other
// factor held at the setting. `lower`/`upper` bound the confidence interval
// of the mean response (NaN without residual degrees of freedom).
struct ProfilerTrace {
  std::size_t factor = 0;
  std::size_t response = 0;
  std::vector<double> x;  // natural units, the runs' span of the factor
  std::vector<double> value;
  std::vector<double> lower;
  std::vector<double> upper;
};

// The overall desirability along one factor (the profiler's bottom row).
struct DesirabilityTrace {
  std::size_t factor = 0;
  std::vector<double> x;
  std::vector<double> overall;
};

struct Profiler {
  std::vector<std::string> factors;
  std::vector<std::string> units;  // per factor
  std::vector<std::string> responses;
  std::vector<std::string> responseUnits;
  std::vector<double> setting;          // natural units, per factor
  std::vector<Prediction> atSetting;    // per response
  std::vector<ProfilerTrace> traces;    // factor-major: trace f * responses + r
  double confidence = 0.95;
  // Why the band is missing, empty when every response has one.
  std::string bandNote;
  // Empty without desirability goals; else one trace per factor.
  std::vector<DesirabilityTrace> desirability;
  double overallAtSetting = 0.0;  // NaN without desirability goals
};

// The profiler at `setting` (natural units, one per factor, finite). Goals
// are completed as optimize() completes them; the desirability row appears
// when a goal has a desirability kind (not for a weighted sum).
// InvalidArgument for a setting of the wrong size or not finite, steps out
// of range; as analyze() and completeGoals() for the rest.
TAVRIN_LAYER_API Profiler profiler(const Fit& fit, const std::vector<double>& setting, const Goals& goals = {},
                                   std::size_t steps = kDefaultSteps, const AnalysisOptions& options = {});

// The centre of the runs' span per factor, natural units: the profiler's
// and the slices' default setting.
TAVRIN_LAYER_API std::vector<double> centreSetting(const Fit& fit);

// -------------------------------------------------------- 2-D slice, overlay

// A grid over two factors, the others held at `held`. Grids are stored
// y-major: value(i, j) is at (x[j], y[i]), as contour and surface plots take them.
struct Grid {
  std::size_t xFactor = 0;
  std::size_t yFactor = 0;
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> held;  // the full setting; x and y columns are ignored
};

// The runs' settings on the two factors and what they measured.
struct DesignPoints {
  std::vector<int> runIds;
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> observed;  // the sliced response; empty for the overlay
};

struct Slice {
  Grid grid;
  std::size_t response = 0;
  Matrix value;  // y.size() x x.size()
  DesignPoints runs;
};

// One response's fitted surface over factors x and y. InvalidArgument for
// a one-factor study, x == y, a bad `held` or steps.
TAVRIN_LAYER_API Slice slice(const Fit& fit, std::size_t response, std::size_t xFactor, std::size_t yFactor,
                             const std::vector<double>& held, std::size_t steps = kDefaultSteps);

// One limit of one response, drawn as the contour value(response) == level.
struct Limit {
  std::size_t response = 0;
  double level = 0.0;
  bool lower = true;  // the response must stay above (true) or below the level
  Matrix value;       // the response over the grid
};

// The sweet spot: every limit (each finite side of each constraint) and the
// mask of grid points where all hold, by the optimum's own admissibility
// rule. `optimum` is the best candidate's setting when given (empty else).
struct Overlay {
  Grid grid;
  std::vector<Limit> limits;
  std::vector<unsigned char> feasible;  // y-major, 1 where every limit holds
  double feasibleFraction = 0.0;        // of the grid points
  std::vector<double> optimum;          // natural units, per factor; empty when not given
  DesignPoints runs;
};

// InvalidArgument when no constraint has a finite side, and as slice();
// the constraints are validated as optimize() validates them.
TAVRIN_LAYER_API Overlay overlay(const Fit& fit, const std::vector<Constraint>& constraints, std::size_t xFactor,
                                 std::size_t yFactor, const std::vector<double>& held, const Optimum* optimum = nullptr,
                                 std::size_t steps = kDefaultSteps);

// ------------------------------------------------------------- interaction

// A response along `factor` with `by` at its low and at its high end of
// the runs' span, the others held.
struct Interaction {
  std::size_t response = 0;
  std::size_t factor = 0;
  std::size_t by = 0;
  std::vector<double> x;
  double byLow = 0.0;
  double byHigh = 0.0;
  std::vector<double> atLow;
  std::vector<double> atHigh;
};

TAVRIN_LAYER_API Interaction interaction(const Fit& fit, std::size_t response, std::size_t factor, std::size_t by,
                                         const std::vector<double>& held, std::size_t steps = kDefaultSteps);

// --------------------------------------------------------------- residuals

// One run in the residual plots, as the model builder's diagnostics give it.
struct ResidualPoint {
  int runId = 0;
  int order = 0;  // execution position
  double observed = 0.0;
  double fitted = 0.0;
  double residual = 0.0;
  double externallyStudentized = 0.0;
  double normalScore = 0.0;  // Blom's normal score of the residual's rank
  double leverage = 0.0;
  double cooksDistance = 0.0;
  bool outlier = false;              // Bonferroni outlier test at `alpha`
  std::vector<double> settings;      // natural units, per factor
};

struct Residuals {
  std::string response;
  std::string unit;
  std::vector<std::string> factors;
  double alpha = 0.05;
  std::vector<ResidualPoint> runs;  // in execution order
};

// The diagnostics of the response's saved model (savedModel: its terms,
// transform and the blocks), as the study's fit uses it. StateError when
// results are missing or the model leaves no residual degree of freedom
// (every residual would be zero); as savedModel otherwise.
TAVRIN_LAYER_API Residuals residuals(const Study& study, std::string_view response, double outlierAlpha = 0.05);

// ------------------------------------------------------------------ Box-Cox

// The profile log-likelihood of the Box-Cox power lambda of one response
// under a model, as boxCox() computes it (model_building.h), with the chosen
// power, its 95 % interval and the conventional transform it recommends.
struct BoxCoxProfile {
  std::string response;
  std::string unit;
  std::string model;                  // the terms profiled, as parseModelTerms reads them
  std::vector<double> lambda;         // the grid over [-3, 3]
  std::vector<double> logLikelihood;  // per grid point, up to a constant
  double best = 0.0;                  // the maximum-likelihood lambda
  double bestLogLikelihood = 0.0;
  double lower = 0.0;  // the 95 % interval; an end at -3 or 3 is open
  double upper = 0.0;
  double cut = 0.0;  // the log-likelihood at the interval's ends
  double recommended = 1.0;
  std::string recommendation;  // in words: "none", "log", "square root", ...
};

// The profile of the response as measured, under `model` (as
// parseModelTerms reads it; "1" is the mean alone), or when empty the model
// chosen for the response (Study::modelChoice: the terms asked, which a
// build's Box-Cox profiles; the full quadratic unless chosen otherwise).
// StateError when results are missing or the model leaves no residual
// degree of freedom; InvalidArgument naming the first run whose response is
// not positive, and as parseModelTerms for the model.
TAVRIN_LAYER_API BoxCoxProfile boxCoxProfile(const Study& study, std::string_view response,
                                             std::string_view model = {});

// --------------------------------------------------- prediction variance

// The fraction-of-design-space curve and the terms' correlations of the
// study's runs (their actual settings) for the full quadratic.
struct PredictionVariance {
  std::vector<double> fractions;
  std::vector<double> spv;
  double maxSpv = 0.0;   // the highest quantile of the sampled points
  double meanSpv = 0.0;  // the I criterion
  std::vector<std::string> terms;
  Matrix correlations;  // terms x terms, NaN on the intercept's row and column
};

// As evaluateDesign refuses (e.g. fewer runs than terms, said in words).
TAVRIN_LAYER_API PredictionVariance predictionVariance(const Plan& plan, const EvaluationOptions& options = {});

// ---------------------------------------------------------------- robustness

// The relocated optima of a robustness study on two factors, the nominal
// optimum and the box of the outermost percentiles.
struct RobustnessCloud {
  std::size_t xFactor = 0;
  std::size_t yFactor = 0;
  std::vector<double> x;  // per replicate whose optimum was found
  std::vector<double> y;
  double nominalX = 0.0;
  double nominalY = 0.0;
  double boxLowX = 0.0;
  double boxHighX = 0.0;
  double boxLowY = 0.0;
  double boxHighY = 0.0;
  double lowPercentile = 0.0;
  double highPercentile = 0.0;
};

// InvalidArgument for a one-factor fit or x == y; StateError when no
// replicate found an optimum.
TAVRIN_LAYER_API RobustnessCloud robustnessCloud(const Fit& fit, const Robustness& result, std::size_t xFactor,
                                                 std::size_t yFactor);

}  // namespace tavrin::views
