// Words for the numbers: a plain-language verdict per response model and
// per optimum, and a one-line meaning of every statistic the front ends
// show, so that the command line, Python, the workbench and the report all
// say the same thing. Free functions over the analysis' values.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/api.h"
#include "tavrin/model_building.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin {

// The rules a verdict applies, one line each.
namespace verdict_rules {
// Lack of fit and the model's F test are judged at the usual 5 % level.
inline constexpr double significance = 0.05;
// Fewer residual degrees of freedom leave a poor error estimate: with 2 the
// 95 % t quantile is 4.30, more than twice the normal 1.96.
inline constexpr int fewResidualDf = 3;
// R-squared minus predicted R-squared above this: the model fits its own
// runs much better than it predicts left-out ones (overfitting or an
// influential run); the common "within 0.2 of each other" rule.
inline constexpr double predictionGap = 0.2;
// A setting counts as outside the runs' span beyond this, coded units.
inline constexpr double spanTolerance = 1e-9;
static_assert(significance > 0.0 && significance < 1.0);
static_assert(fewResidualDf >= 1);
}  // namespace verdict_rules

struct Verdict {
  // True when a finding needs attention before the numbers are trusted.
  bool warning = false;
  // One sentence per finding, the warnings first; `text` joins them.
  std::vector<std::string> findings;
  std::string text;
};

// The verdict on one response's model from its fit report and the outlier
// test of its runs (diagnose() on the same model; rows are matched to run
// ids through report.diagnostics, which is in the same standard order).
// Findings, in order: a saturated model (no residual df) or too few
// residual df; a model no better than noise (F test p >= significance);
// lack of fit (p < significance); each outlier with its run id; a large
// gap between R-squared and predicted R-squared; then the share of the
// variation explained, how close a new run is predicted (the prediction
// interval's half-width at the average leverage, t sigma sqrt(1 + p/n), in
// the response's unit), the lack-of-fit test passed or not available, and
// a maximum or minimum of `canonical` that lies outside the region studied.
// InvalidArgument when `diagnostics` has a row beyond the report's runs.
TAVRIN_LAYER_API Verdict modelVerdict(const FitReport& report, const Diagnostics& diagnostics,
                                      const Canonical& canonical = {});

// The same for response `response` of a study's full quadratic fit:
// analyze() with `options`, canonicalAnalysis(), and diagnose() (without
// blocks, as analyze fits) for its outliers. Throws as those do.
TAVRIN_LAYER_API Verdict modelVerdict(const Study& study, const Fit& fit, std::size_t response,
                                      const AnalysisOptions& options = {});

// The verdict on the best candidate of an optimum: a warning naming each
// factor whose setting lies outside the span of the runs (an
// extrapolation of the models), else that it lies within them.
// InvalidArgument for an optimum without candidates or of another factor count.
TAVRIN_LAYER_API Verdict optimumVerdict(const Fit& fit, const Optimum& optimum);

// The verdict on a model build (buildModel with `request`). Warnings, in
// order: a saturated model (no residual df); a model no better than noise
// (its ANOVA F test p >= significance); lack of fit (p < significance);
// each outlier with its run id; a model that is not hierarchical. Then the
// notes: what the transform means (with Box-Cox's lambda and 95 % interval
// when it chose the power, or that its interval holds 1 and no transform
// is used); which terms backward elimination dropped and why (partial-test
// p above request.reduction.pToRemove, or AICc fell; forced removals named
// as such), or that it dropped none; no lack of fit, or why it cannot be
// tested.
TAVRIN_LAYER_API Verdict buildVerdict(const ModelBuild& build, const ModelRequest& request);

// A statistic's name and its meaning in one line, keyed as the JSON
// outputs name the statistic (e.g. "rSquared", "press", "lackOfFit").
struct Meaning {
  std::string_view key;
  std::string_view name;
  std::string_view text;
};

// Every meaning, in the order a report lists the statistics.
TAVRIN_LAYER_API const std::vector<Meaning>& statisticMeanings();
// The meaning of one key; UnknownName listing the keys otherwise.
TAVRIN_LAYER_API const Meaning& meaningOf(std::string_view key);

}  // namespace tavrin
