// The optimum of a fit: desirability goals per response, hard constraints,
// a global stage over the LPtau sequence polished by a gradient method, and
// the robustness of the optimum under measurement noise.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
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
};

// A hard interval on a response's prediction; one side may be infinite.
struct Constraint {
  std::string response;
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
};

struct Goals {
  std::vector<Goal> goals;
  std::vector<Constraint> constraints;
  // Search region per factor name, natural units; factors not named search
  // their declared range.
  std::map<std::string, std::pair<double, double>, std::less<>> region;
};

struct SearchOptions {
  unsigned points = 65536;         // LPtau points of the global stage, 1..65536
  unsigned starts = 16;            // distinct best points polished locally
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
  std::vector<Candidate> candidates;  // best first
  unsigned pointsSearched = 0;
  unsigned admissiblePoints = 0;
};

// Throws InvalidArgument for a malformed goal (naming the response and the
// field), UnknownName for an unknown response or factor, StateError when no
// point of the region meets the constraints.
TAVRIN_LAYER_API Optimum optimize(const Fit& fit, const Goals& goals, const SearchOptions& options = {});

// Desirability of one goal at a predicted value (for tests and plots).
TAVRIN_LAYER_API double desirability(const Goal& goal, double predicted);

struct RobustnessOptions {
  std::map<std::string, double, std::less<>> sigma;  // per response; else estimated from residuals
  unsigned replicates = 1000;
  std::uint64_t seed = 1;
  unsigned threads = 0;  // 0 = every core; results do not depend on it
  std::vector<double> percentiles = {5, 25, 50, 75, 95};
  SearchOptions search;  // for relocating each optimum
  // Called now and then with (done, total); may be empty.
  std::function<void(unsigned, unsigned)> progress;
};

struct Robustness {
  std::vector<double> sigma;             // per response, as used
  std::vector<std::string> sigmaSource;  // "supplied" or "residuals"
  std::vector<double> percentiles;
  Matrix settingPercentiles;     // factors x percentiles, natural units
  Matrix predictionPercentiles;  // responses x percentiles, at the nominal optimum
  std::vector<double> predictionMean;
  std::vector<double> predictionStdDev;
  // Probability that each constraint is met at the nominal optimum.
  std::vector<double> constraintProbability;
  Matrix optima;  // replicates x factors: the relocated optima (natural units)
  unsigned replicates = 0;
  unsigned failedReplicates = 0;  // replicates where no admissible point was found
};

TAVRIN_LAYER_API Robustness robustness(const Fit& fit, const Goals& goals, const Optimum& nominal,
                                       const RobustnessOptions& options = {});

}  // namespace tavrin
