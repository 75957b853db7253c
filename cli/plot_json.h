// The plot data of a study as JSON, one schema for the command line's
// `tavrin plot --json`, the workbench's /api/plot and the report. Every
// number comes from tavrin/views.h; this file only chooses the view's
// factors and setting from a request and lays the values out.
//
// Schema (NaN and infinities are null; settings keyed by factor name):
//   every view: {kind, ...}
//   profiler:    factors [{name, unit, low, high}], responses [{name, unit}],
//                setting {F: v}, confidence, bandNote (null or why no band),
//                atSetting {R: prediction}, traces [{factor, response, x,
//                value, lower, upper}], desirability [{factor, x, overall}],
//                overallAtSetting
//   surface:     response, unit, x/y {name, unit, values}, held {F: v},
//                z [[...]] (z[i][j] at x[j], y[i]), runs [{runId, x, y, observed}]
//   overlay:     x, y, held, limits [{response, unit, level, side ("low" or
//                "high"), z}], feasible [[0|1]], feasibleFraction,
//                optimum ({F: v} or null), runs [{runId, x, y}]
//   interaction: response, unit, factor {name, unit}, by {name, unit, low,
//                high}, x, atLow, atHigh, held
//   residuals:   response, unit, alpha, runs [{runId, order, observed,
//                fitted, residual, externallyStudentized, normalScore,
//                leverage, cooksDistance, outlier, settings {F: v}}]
//   boxcox:      response, unit, model (the terms profiled), lambda [...],
//                logLikelihood [...] (up to a constant), best,
//                bestLogLikelihood, lower, upper (the 95 % interval), cut (the
//                log-likelihood at its ends), recommended, recommendation
//   fds:         fractions, spv, maxSpv, meanSpv, terms, correlations [[...]]
//   robustness:  x, y {name, unit}, replicates, failedReplicates, cloud {x, y},
//                nominal {x, y}, box {lowX, highX, lowY, highY, lowPercentile,
//                highPercentile}, overlay (as above, or null without constraints)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "json_io.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"
#include "tavrin/views.h"

namespace tavrin::json {

// What to draw. Empty names take defaults: the first response, the first
// two factors (x, y; `by` is y); factors not in `at` are held at the
// centre of the runs' span, or at the best optimum for the overlay and the
// robustness cloud when goals are given.
struct PlotRequest {
  std::string kind;
  std::string response;
  std::string x;
  std::string y;
  std::string by;
  std::string model;  // Box-Cox: the terms profiled; empty for the response's chosen model
  std::map<std::string, double, std::less<>> at;
  Goals goals;
  std::size_t steps = views::kDefaultSteps;
  double confidence = 0.95;
  unsigned replicates = 200;  // robustness
  std::uint64_t seed = 1;     // robustness
  unsigned threads = 0;
};

// The kinds: profiler, surface, overlay, interaction, residuals, boxcox, fds, robustness.
const std::vector<std::string_view>& plotKinds();

// The view as JSON. InvalidArgument naming the kinds for an unknown kind,
// UnknownName for an unknown factor or response, and what the view's
// function in views.h throws when it cannot be drawn.
Json plotJson(const Study& study, const PlotRequest& request);

}  // namespace tavrin::json
