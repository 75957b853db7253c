// The optimum of a fit: desirability goals per response, hard constraints,
// a global stage over the LPtau sequence polished by a gradient method, and
// the robustness of the optimum under measurement noise.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/api.h"
#include "tavrin/study.h"

namespace tavrin {

// One response's goal. Derringer-Suich desirability:
//  Maximize: 0 below `low`, ((y - low) / (high - low))^shape up to `high`, then 1.
//  Minimize: 1 below `low`, ((high - y) / (high - low))^shape up to `high`, then 0.
//  Target:   ((y - low) / (target - low))^shape below the target,
//            ((high - y) / (high - target))^shapeHigh above it, 0 outside [low, high].
//  Within:   1 inside [low, high], 0 outside.
//  WeightedSum: the plan object's scoring, weight * prediction summed over
//            such goals; it cannot be mixed with the desirability kinds.
// The overall desirability is the weighted geometric mean
//  D = (prod_i d_i^importance_i)^(1 / sum_i importance_i)
// over the responses with a desirability goal; a response without a goal
// takes no part. Maximize and Minimize need finite low < high, Target
// finite low < target < high, Within low < high with one end finite;
// shapes and importances are finite and > 0. An `unbounded` Maximize
// (Minimize) goal has no upper (lower) limit: more (less) is better
// without end, so d keeps rising past `high` (`low`), above 1, and a
// better prediction always ranks higher; that bound only scales d.
struct Goal {
  enum Kind { Maximize, Minimize, Target, Within, WeightedSum };
  std::string response;
  Kind kind = Maximize;
  double low = std::numeric_limits<double>::quiet_NaN();
  double high = std::numeric_limits<double>::quiet_NaN();
  double target = std::numeric_limits<double>::quiet_NaN();
  double shape = 1.0;      // exponent (below the target for Target)
  double shapeHigh = 1.0;  // exponent above the target (Target only)
  double importance = 1.0; // weight in the geometric mean, > 0
  double weight = 1.0;     // WeightedSum only
  bool unbounded = false;  // Maximize and Minimize only
};

// The one table of goal kinds' names: "maximize", "minimize", "target",
// "within", "weightedSum".
TAVRIN_LAYER_API std::string_view goalKindName(Goal::Kind kind);

// A goal kind by its name, ignoring case, '-', '_' and blanks (so
// "weighted-sum" is WeightedSum); InvalidArgument listing the names else.
TAVRIN_LAYER_API Goal::Kind parseGoalKind(std::string_view name);

// A hard interval on a response's prediction; one side may be infinite. A
// point meets it within 1e-9 of the spread of the response's observations.
struct Constraint {
  std::string response;
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
};

struct Goals {
  std::vector<Goal> goals;  // at most one per response
  std::vector<Constraint> constraints;
  // Search region per factor name, natural units, within the factor's
  // declared range (low == high holds the factor there); factors not named
  // search their declared range.
  std::map<std::string, std::pair<double, double>, std::less<>> region;
};

// The global stage evaluates LPtau points 0..points-1 in the region on
// `threads` threads. The best `starts` of them (spread apart, the best point
// of each part of the region among them) are polished by SLSQP with the
// models' analytic gradients, maximising log D (continued linearly where a
// desirability is 0) or the weighted sum, with the constraints as
// inequalities; Newton steps on the active set finish each polish. The
// starts are polished in rounds of 4, best first, until a round finds no
// optimum that earlier rounds had not (or the starts run out). The
// distinct admissible results, best first, are the optima. The result does
// not depend on the thread count.
struct SearchOptions {
  unsigned points = 65536;         // LPtau points of the global stage, 1..65536
  unsigned starts = 16;            // most points polished locally, 1..points
  unsigned best = 5;               // distinct optima returned
  double distinctTolerance = 1e-3; // coded units, Euclidean
  unsigned threads = 0;            // 0 = every core
  AnalysisOptions analysis;        // intervals of the predictions
};

struct Candidate {
  std::vector<double> natural;  // settings per factor
  std::vector<double> coded;
  std::vector<Prediction> predictions;  // per response
  std::vector<double> desirability;     // per response; NaN for a response without a goal
  double overall = 0.0;                 // overall desirability, or the weighted sum
  std::vector<std::string> activeConstraints;  // "Impurity <= 1.5", "Time = 50 (upper bound)"
};

struct Optimum {
  std::vector<Candidate> candidates;  // best first; fewer than `best` when fewer distinct optima exist
  unsigned pointsSearched = 0;
  unsigned admissiblePoints = 0;  // of the global stage's points
};

// Fills the bounds that Maximize, Minimize and Target goals leave open
// (NaN) with the lowest and highest prediction of the response over the
// search region, found by the same search as the optimum. An open upper
// bound of Maximize (lower of Minimize) makes the goal unbounded: "maximise
// Yield" alone ranks by Yield itself, d = 1 at its highest prediction, in
// the optimum and in every robustness replicate alike. InvalidArgument
// when the response is flat over the region or never reaches a given bound.
TAVRIN_LAYER_API Goals completeGoals(const Fit& fit, Goals goals, const SearchOptions& options = {});

// Each response is searched through its chosen model (Fit::models); a
// transformed response's goals, constraints and predictions are in its own
// units, its model's values mapped back before they are scored.
// Completes the goals (completeGoals) and searches. Throws InvalidArgument
// for a malformed goal (naming the response, with the field's path),
// UnknownName for an unknown response or factor, StateError when no point
// of the region meets the constraints.
TAVRIN_LAYER_API Optimum optimize(const Fit& fit, const Goals& goals, const SearchOptions& options = {});

// Desirability of one goal at a predicted value (for tests and plots); an
// unbounded goal's exceeds 1 past its bound.
TAVRIN_LAYER_API double desirability(const Goal& goal, double predicted);

// Robustness of the nominal optimum under measurement noise. Each replicate
// k adds independent normal noise, sigma_j * z, to every observation of
// response j (z drawn from a std::mt19937_64 seeded with (seed, k) through
// std::seed_seq, turned into normals by the polar method), refits every
// response through the fit's least-squares map (one matrix product for all
// replicates) and locates the optimum again: SLSQP from the nominal optimum
// and from the best `relocationStarts` (spread apart) of the first
// `relocationPoints` LPtau points. Replicates do not share state, so the
// results do not depend on the thread count.
struct RobustnessOptions {
  // Per response name, finite and >= 0; a response not named uses the
  // RMSE of its residuals, which needs residual degrees of freedom. A
  // transformed response's sigma, and its noise, are on its model's scale.
  std::map<std::string, double, std::less<>> sigma;
  unsigned replicates = 1000;  // 1..1000000
  std::uint64_t seed = 1;
  unsigned threads = 0;  // 0 = every core; results do not depend on it
  std::vector<double> percentiles = {5, 25, 50, 75, 95};  // each in [0, 100]
  unsigned relocationPoints = 256;  // 0..65536
  unsigned relocationStarts = 2;    // at most relocationPoints
  // Called on the calling thread now and then with (done, total), and
  // once with (total, total) at the end; may be empty. If it throws, no
  // thread starts more work and robustness() rethrows (how Ctrl-C stops it).
  std::function<void(unsigned, unsigned)> progress;
};

// Percentiles interpolate linearly between order statistics (position
// (count - 1) * q / 100, as numpy's default). Settings are summarised over
// the replicates whose optimum was found, predictions over all replicates.
struct Robustness {
  std::vector<double> sigma;             // per response, as used
  std::vector<std::string> sigmaSource;  // "supplied" or "residuals"
  std::vector<double> nominal;           // the nominal optimum, natural units
  std::vector<double> percentiles;
  Matrix settingPercentiles;     // factors x percentiles, natural units
  Matrix predictionPercentiles;  // responses x percentiles, at the nominal optimum
  std::vector<double> predictionMean;
  std::vector<double> predictionStdDev;
  // Probability that each constraint (in the order of Goals::constraints)
  // is met at the nominal optimum.
  std::vector<double> constraintProbability;
  Matrix optima;  // replicates x factors: the relocated optima (natural units)
  unsigned replicates = 0;
  unsigned failedReplicates = 0;  // replicates where no admissible point was found
};

// The robustness of nominal.candidates[0]; open goal bounds are completed
// as optimize() does (default search, options.threads). Throws InvalidArgument for a bad
// option or an empty nominal optimum, UnknownName for a sigma of an unknown
// response, StateError naming the response when its sigma must be supplied
// (no residual degrees of freedom), and as optimize() for the goals.
TAVRIN_LAYER_API Robustness robustness(const Fit& fit, const Goals& goals, const Optimum& nominal,
                                       const RobustnessOptions& options = {});

}  // namespace tavrin
