// Plain-language verdicts and the meanings of the statistics. Every text a
// front end shows about a model's quality is written here, once.
#include "tavrin/verdict.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "../study/text.h"
#include "inference.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

namespace rules = verdict_rules;

// A number for a sentence: `digits` significant digits, no exponent for
// everyday sizes.
std::string shown(double value, int digits = 2) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.*g", digits, value);
  return buffer.data();
}

// A share as a percentage that never rounds up to 100 %: 0.99984 is "99.98".
std::string percentOf(double share) {
  const double percent = 100.0 * share;
  if (percent >= 100.0) return "100";
  for (int digits = 2; digits < 6; ++digits) {
    std::string text = shown(percent, digits);
    if (std::stod(text) < 100.0) return text;
  }
  return shown(percent, 6);
}

std::string withUnit(const std::string& number, const std::string& unit) {
  return unit.empty() ? number : number + " " + unit;
}

std::string joined(const std::vector<std::string>& sentences) {
  std::string text;
  for (const std::string& s : sentences) text += (text.empty() ? "" : " ") + s;
  return text;
}

Verdict verdictOf(std::vector<std::string> warnings, const std::vector<std::string>& notes) {
  Verdict out;
  out.warning = !warnings.empty();
  out.findings = std::move(warnings);
  out.findings.insert(out.findings.end(), notes.begin(), notes.end());
  out.text = joined(out.findings);
  return out;
}

void judgeRuns(const FitReport& r, std::vector<std::string>& warnings) {
  if (r.residualDf == 0 && !r.sigmaKnown) {
    warnings.push_back("Saturated model: " + std::to_string(r.terms) + " terms from " + std::to_string(r.runs) +
                       " runs leave nothing to judge it by, so its errors and tests cannot be estimated; "
                       "add runs (repeated centre runs also test the lack of fit).");
    return;
  }
  if (r.residualDf < rules::fewResidualDf && !r.sigmaKnown)
    warnings.push_back("Too few runs: only " + std::to_string(r.residualDf) + " residual degree" +
                       (r.residualDf == 1 ? "" : "s") +
                       " of freedom, so the error estimate is rough and every interval wide; add runs.");
}

void judgeModel(const FitReport& r, std::vector<std::string>& warnings) {
  if (!std::isnan(r.fPValue) && r.fPValue >= rules::significance)
    warnings.push_back("The model explains no more than noise would (F test p = " + shown(r.fPValue) +
                       "): its terms may not matter over this range, or the noise hides them.");
  const LackOfFit& l = r.lackOfFit;
  if (l.available && l.p < rules::significance)
    warnings.push_back("Lack of fit (p = " + shown(l.p) +
                       "): the model misses a pattern that the repeated runs show is real; try a "
                       "transform of the response or more terms.");
  if (r.rSquared - r.predictedRSquared > rules::predictionGap)
    warnings.push_back("It predicts left-out runs much worse than it fits them (predicted R² " +
                       shown(r.predictedRSquared) + " against R² " + shown(r.rSquared) +
                       "): it may be overfitted, or one run may pull it.");
}

void judgeOutliers(const FitReport& r, const Diagnostics& d, std::vector<std::string>& warnings) {
  for (const RunDiagnostic& run : d.runs) {
    if (run.row >= r.diagnostics.size())
      throw InvalidArgument("the outlier test has row " + std::to_string(run.row + 1) + " but the fit report of " +
                            text::quoted(r.response) + " has " + std::to_string(r.diagnostics.size()) + " runs");
    if (!run.outlier) continue;
    warnings.push_back("Run " + std::to_string(r.diagnostics[run.row].runId) +
                       " looks like an outlier (studentised residual " + shown(run.externallyStudentized) +
                       ", Bonferroni p = " + shown(run.bonferroniP) +
                       "): check how it was made and recorded before trusting the model.");
  }
}

// Half-width of the prediction interval of a new run at the average leverage p/n.
double predictionHalfWidth(const FitReport& r) {
  const analysis::ErrorScale scale{r.sigmaKnown, r.sigma, r.residualDf};
  const double averageLeverage = static_cast<double>(r.terms) / r.runs;
  return analysis::criticalValue(scale, r.confidence) * r.sigma * std::sqrt(1.0 + averageLeverage);
}

std::vector<std::string> notesOf(const FitReport& r) {
  std::vector<std::string> notes;
  std::string quality;
  if (!std::isnan(r.rSquared)) quality = "The model explains " + percentOf(r.rSquared) + " % of the variation";
  const double half = predictionHalfWidth(r);
  if (std::isfinite(half) && half > 0.0)
    quality += (quality.empty() ? "A" : "; a") + std::string(" new run is predicted to within about ±") +
               withUnit(shown(half), r.unit) + " (" + percentOf(r.confidence) + " % prediction interval)";
  if (!quality.empty()) notes.push_back(quality + ".");
  const LackOfFit& l = r.lackOfFit;
  if (l.available && l.p >= rules::significance) notes.push_back("No sign of lack of fit (p = " + shown(l.p) + ").");
  if (!l.available) notes.push_back("Lack of fit cannot be tested: " + l.reason + ".");
  return notes;
}

// A top or bottom outside [-1, 1]: the best settings inside are on the region's edge.
void noteStationaryPoint(const Canonical& c, std::vector<std::string>& notes) {
  if (!c.hasStationaryPoint || c.insideRegion || (c.kind != Canonical::Maximum && c.kind != Canonical::Minimum)) return;
  notes.push_back("The surface's " + std::string(canonicalKindName(c.kind)) + " lies outside the region studied (" +
                  shown(c.distanceFromCenter) +
                  " coded units from the centre): the best settings inside are on its edge, and runs further out "
                  "would show whether the true optimum lies there.");
}

std::string spanText(const Factor& f, double lowCoded, double highCoded) {
  return shown(toNatural(f, lowCoded), 6) + " .. " + withUnit(shown(toNatural(f, highCoded), 6), f.unit);
}

// ------------------------------------------------------------ model build

// What fitting on a power's scale means, in words; power 1 is never asked.
std::string powerMeaning(double lambda) {
  const std::string scale = " Estimates and the ANOVA are on that scale; predictions and the optimum are mapped back "
                            "to the response's own units.";
  if (lambda == 0.0)
    return "The model is fitted to log y, so each factor's effect multiplies the response (equal steps give equal "
           "percentage changes); it suits noise that grows in proportion to the response." + scale;
  if (lambda == 0.5)
    return "The model is fitted to the square root of y, which suits noise that grows with the response's level, "
           "as for counts." + scale;
  if (lambda == -0.5)
    return "The model is fitted to 1/√y (inverse square root), which strongly compresses large values." + scale;
  if (lambda == -1.0)
    return "The model is fitted to the inverse of y, natural for a rate such as the time something takes." + scale;
  if (lambda == 2.0)
    return "The model is fitted to the square of y, which suits noise that shrinks as the response grows." + scale;
  return "The model is fitted to (y^λ - 1)/λ with λ = " + shown(lambda, 3) + "." + scale;
}

std::string transformNote(const ModelBuild& b) {
  if (b.boxCox) {
    const BoxCox& c = *b.boxCox;
    const std::string found = "Box-Cox puts λ at " + shown(c.lambda, 3) + " (95 % interval " + shown(c.lower, 3) +
                              " .. " + shown(c.upper, 3) + ")";
    if (!b.transform) return found + ", which holds 1: the response is modelled as measured.";
    return found + " and recommends the " + c.recommendation + " transform. " + powerMeaning(b.transform->lambda);
  }
  return b.transform ? powerMeaning(b.transform->lambda) : std::string();
}

std::string listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t k = 0; k < items.size(); ++k)
    text += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
  return text;
}

std::string reductionNote(const Reduction& r, const ReductionOptions& options) {
  const bool byAicc = options.criterion == ReductionOptions::Aicc;
  std::vector<std::string> forced;
  std::vector<std::string> dropped;
  for (const ReductionStep& s : r.steps) {
    if (s.forced)
      forced.push_back(s.term);
    else
      dropped.push_back(s.term + (byAicc ? " (AICc " + shown(s.deltaAicc, 3) + ")" : " (p = " + shown(s.p) + ")"));
  }
  std::string note;
  if (!forced.empty()) note = listed(forced) + (forced.size() == 1 ? " was" : " were") + " removed as asked. ";
  const std::string rule = byAicc ? "removing any further term would raise AICc"
                                  : "every remaining candidate has p ≤ " + shown(options.pToRemove);
  if (dropped.empty()) return note + "Backward elimination dropped no term: " + rule + ".";
  const std::string why = byAicc ? "each removal lowered AICc, so the smaller model is expected to predict as well"
                                 : "each had a partial-test p above " + shown(options.pToRemove) +
                                       ", an effect not told apart from noise";
  return note + "Backward elimination dropped " + listed(dropped) + ": " + why + "; then " + rule +
         " (terms that a kept term contains stay, for hierarchy).";
}

void judgeAnova(const ModelBuild& b, std::vector<std::string>& warnings, std::vector<std::string>& notes) {
  const Anova& a = b.anova;
  if (!std::isnan(a.model.p) && a.model.p >= rules::significance)
    warnings.push_back("The model explains no more than noise would (ANOVA F test p = " + shown(a.model.p) +
                       "): its terms may not matter over this range, or the noise hides them.");
  if (!a.lackOfFitReason.empty()) {
    notes.push_back("Lack of fit cannot be tested: " + a.lackOfFitReason + ".");
    return;
  }
  if (a.lackOfFit.p < rules::significance)
    warnings.push_back("Lack of fit is significant (p = " + shown(a.lackOfFit.p) +
                       "): the model misses a pattern that the repeated runs show is real; try a transform of the "
                       "response or more terms.");
  else
    notes.push_back("No sign of lack of fit (p = " + shown(a.lackOfFit.p) +
                    "): the model's errors are the size of the repeated runs' spread.");
}

}  // namespace

Verdict buildVerdict(const ModelBuild& build, const ModelRequest& request) {
  const ModelFit& f = build.fit;
  std::vector<std::string> warnings;
  std::vector<std::string> notes;
  if (f.residualDf == 0)
    warnings.push_back("Saturated model: " + std::to_string(f.estimates.size()) + " estimates from " +
                       std::to_string(f.runs) + " runs leave nothing to judge it by; add runs or drop terms.");
  judgeAnova(build, warnings, notes);
  for (const RunDiagnostic& run : build.diagnostics.runs)
    if (run.outlier)
      warnings.push_back("Run " + std::to_string(run.row + 1) + " looks like an outlier (studentised residual " +
                         shown(run.externallyStudentized) + ", Bonferroni p = " + shown(run.bonferroniP) +
                         "): check how it was made and recorded before trusting the model.");
  if (!f.hierarchy.empty())
    warnings.push_back("The model is not hierarchical (" + f.hierarchy +
                       "): its terms change meaning with the factors' coding; add the missing parents.");
  if (const std::string t = transformNote(build); !t.empty()) notes.insert(notes.begin(), t);
  if (build.reduction) notes.insert(notes.begin() + (build.transform || build.boxCox ? 1 : 0),
                                    reductionNote(*build.reduction, request.reduction));
  return verdictOf(std::move(warnings), notes);
}

Verdict modelVerdict(const FitReport& report, const Diagnostics& diagnostics, const Canonical& canonical) {
  std::vector<std::string> warnings;
  judgeRuns(report, warnings);
  judgeModel(report, warnings);
  judgeOutliers(report, diagnostics, warnings);
  std::vector<std::string> notes = notesOf(report);
  noteStationaryPoint(canonical, notes);
  return verdictOf(std::move(warnings), notes);
}

Verdict modelVerdict(const Study& study, const Fit& fit, std::size_t response, const AnalysisOptions& options) {
  const FitReport report = analyze(fit, response, options);
  const Canonical canonical = canonicalAnalysis(fit, response);
  ModelData data = modelData(study, fit.responses.at(response).name);
  data.blocks.clear();
  if (report.residualDf == 0) return modelVerdict(report, Diagnostics{}, canonical);
  const ModelFit model = fitModel(data, ModelTerms::quadratic(fit.factorCount()), options.confidence);
  return modelVerdict(report, diagnose(data, model), canonical);
}

Verdict optimumVerdict(const Fit& fit, const Optimum& optimum) {
  if (optimum.candidates.empty()) throw InvalidArgument("the optimum has no candidate to judge");
  const Candidate& best = optimum.candidates.front();
  if (best.coded.size() != fit.factorCount() || fit.span.size() != fit.factorCount())
    throw InvalidArgument("the optimum has " + std::to_string(best.coded.size()) + " settings but the fit " +
                          std::to_string(fit.factorCount()) + " factors");
  std::vector<std::string> outside;
  for (std::size_t i = 0; i < fit.factorCount(); ++i) {
    const auto [low, high] = fit.span[i];
    const double x = best.coded[i];
    if (x >= low - rules::spanTolerance && x <= high + rules::spanTolerance) continue;
    const Factor& f = fit.factors[i];
    outside.push_back(f.name + " " + withUnit(shown(best.natural[i], 6), f.unit) + " (runs " +
                      spanText(f, low, high) + ")");
  }
  if (outside.empty()) return verdictOf({}, {"The optimum lies within the settings the runs covered."});
  std::string list;
  for (const std::string& o : outside) list += (list.empty() ? "" : "; ") + o;
  return verdictOf({"The optimum extrapolates beyond the runs: " + list +
                    ". The models are untested there; confirm it with runs at these settings."},
                   {});
}

const std::vector<Meaning>& statisticMeanings() {
  static const std::vector<Meaning> meanings = {
      {"rSquared", "R²", "Share of the variation in the results that the model accounts for; 1 is a perfect fit."},
      {"adjustedRSquared", "Adjusted R²",
       "R² penalised for the number of terms, so adding a useless term does not raise it."},
      {"predictedRSquared", "Predicted R²",
       "How well the model predicts each run when that run is left out of the fit; far below R² means overfitting."},
      {"press", "PRESS",
       "Sum of squared errors predicting each run from a fit without it; smaller is better."},
      {"rmse", "RMSE", "Typical size of a residual: the estimated standard deviation of the measurement noise."},
      {"sigma", "Sigma", "The noise standard deviation the intervals and tests use: known, or the RMSE."},
      {"fStatistic", "F statistic", "Variation the model explains per term, against the noise; large means real effects."},
      {"fPValue", "p of F", "Chance of a fit this good if no factor mattered; below 0.05 the model is significant."},
      {"residualSS", "Residual SS", "Sum of squared differences between the results and the model."},
      {"totalSS", "Total SS", "Sum of squared differences between the results and their mean."},
      {"blocksSS", "Blocks SS",
       "Variation between the blocks' means: set aside before the model, so R² and F count only the rest."},
      {"coefficient", "Coefficient", "Change in the response per coded unit of a term (from the centre to the edge)."},
      {"stdError", "Standard error", "How uncertain an estimate is, in its own units."},
      {"pValue", "p value", "Chance of an estimate this far from zero if the term had no effect; small means it matters."},
      {"confidenceInterval", "Confidence interval", "Range that holds the true mean response (or coefficient) at the stated confidence."},
      {"predictionInterval", "Prediction interval", "Range that holds a single new run's result at the stated confidence."},
      {"lackOfFit", "Lack of fit",
       "Tests whether the model misses a real pattern, by comparing its errors with the spread of repeated runs."},
      {"pureError", "Pure error", "Spread between runs repeated at the same settings: the noise no model can remove."},
      {"leverage", "Leverage", "How strongly a run pulls the fit towards itself, 0 to 1; 1 means fitted exactly."},
      {"studentized", "Studentised residual", "A residual divided by its standard error; beyond about ±3 is suspicious."},
      {"cooksDistance", "Cook's distance", "How much the whole fit would change without the run; above 1 is influential."},
      {"outlier", "Outlier", "A run whose residual is too large to be noise (Bonferroni-adjusted test at 0.05)."},
      {"durbinWatson", "Durbin-Watson", "Tests for drift in run order: near 2 none, towards 0 neighbouring runs alike."},
      {"aicc", "AICc", "Fit quality penalised for the number of terms; lower is better when comparing models."},
      {"eigenvalues", "Eigenvalues",
       "Curvature of the surface along its principal directions: all negative a maximum, all positive a minimum, mixed a saddle."},
      {"stationaryPoint", "Stationary point", "Where the surface is flat: its top, bottom or saddle."},
      {"desirability", "Desirability", "How well a prediction meets its goal, from 0 (unacceptable) to 1 (fully met)."},
      {"overall", "Overall desirability", "Weighted geometric mean of the goals' desirabilities; 0 if any goal fails."},
      {"robustness", "Robustness", "Where the optimum moves when the results are re-drawn with their noise."},
      {"dEfficiency", "D-efficiency", "How precisely the design estimates the coefficients together, in % of an ideal design."},
      {"aEfficiency", "A-efficiency", "The average variance of the coefficients, in % of an ideal design."},
      {"gEfficiency", "G-efficiency", "The worst prediction variance over the region, in % of an ideal design."},
      {"iCriterion", "I-criterion", "Average scaled prediction variance over the region; smaller is better."},
      {"spv", "Scaled prediction variance",
       "Variance of a prediction times the number of runs, in units of the noise variance; lower is better."},
      {"vif", "VIF", "How much a coefficient's variance grows from correlation with other terms; 1 is none, above 10 is high."},
      {"conditionNumber", "Condition number", "Largest over smallest eigenvalue of X'X; large means nearly dependent terms."},
      {"power", "Power", "Chance of detecting a coefficient of the stated size at the 5 % level."},
  };
  return meanings;
}

const Meaning& meaningOf(std::string_view key) {
  const std::vector<Meaning>& all = statisticMeanings();
  const auto it = std::find_if(all.begin(), all.end(), [key](const Meaning& m) { return m.key == key; });
  if (it != all.end()) return *it;
  std::string keys;
  for (const Meaning& m : all) keys += (keys.empty() ? "" : ", ") + std::string(m.key);
  throw UnknownName("no meaning for " + text::quoted(key) + "; known statistics: " + keys);
}

}  // namespace tavrin
