#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tavrin::cli {
namespace {

std::size_t displayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

std::string percent(double level) { return formatNumber(100.0 * level) + "%"; }

// "Temperature = 180, Time = 30".
std::string settingsText(const std::vector<Factor>& factors, const std::vector<double>& values) {
  std::string text;
  for (std::size_t f = 0; f < factors.size() && f < values.size(); ++f) {
    if (f > 0) text += ", ";
    text += factors[f].name + " = " + formatNumber(values[f], digitsOf(factors[f]));
  }
  return text;
}

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
  std::string text;
  for (std::size_t k = 0; k < items.size(); ++k) text += (k > 0 ? separator : "") + items[k];
  return text;
}

// Each statistic with its meaning, in the library's words.
void printStatistics(std::ostream& out, const FitReport& r) {
  Table stats({"Statistic", "Value", "Meaning"}, {true, false, true});
  const auto add = [&stats](const std::string& name, double value, const char* key, int digits = 6) {
    stats.add({name, formatNumber(value, digits), std::string(meaningOf(key).text)});
  };
  add("R-squared", r.rSquared, "rSquared");
  add("Adjusted R-squared", r.adjustedRSquared, "adjustedRSquared");
  add("Predicted R-squared", r.predictedRSquared, "predictedRSquared");
  add("PRESS", r.press, "press");
  add("RMSE", r.rmse, "rmse");
  add(r.sigmaKnown ? "Sigma (known)" : "Sigma (RMSE)", r.sigma, "sigma");
  add("F (" + std::to_string(r.fDfModel) + ", " + std::to_string(r.residualDf) + ")", r.fStatistic, "fStatistic");
  add("p of F", r.fPValue, "fPValue", 3);
  add("Residual SS", r.residualSS, "residualSS");
  add("Total SS", r.totalSS, "totalSS");
  if (r.blocksDf > 0) add("Blocks SS (" + std::to_string(r.blocksDf) + " df)", r.blocksSS, "blocksSS");
  stats.print(out);
}

void printCoefficients(std::ostream& out, const FitReport& r, bool natural) {
  const std::string level = percent(r.confidence);
  out << "\n  Coefficients, " << (natural ? "natural" : "coded") << " units (" << level << " confidence)\n";
  Table table({"Term", "Estimate", "Std. error", r.sigmaKnown ? "z" : "t", "p", "Lower", "Upper"}, {true});
  for (const CoefficientRow& row : r.coefficients) {
    const Estimate& e = natural ? row.natural : row.coded;
    table.add({row.term, formatNumber(e.value), formatNumber(e.stdError), formatNumber(e.t), formatNumber(e.p, 3),
               formatNumber(e.lower), formatNumber(e.upper)});
  }
  table.print(out);
}

void printLackOfFit(std::ostream& out, const LackOfFit& l) {
  if (!l.available) {
    out << "\n  Lack of fit: not available: " << l.reason << "\n";
    return;
  }
  out << "\n  Lack of fit\n";
  Table table({"Source", "DF", "SS", "F", "p"}, {true});
  table.add({"Lack of fit", std::to_string(l.lackOfFitDf), formatNumber(l.lackOfFitSS), formatNumber(l.f), formatNumber(l.p, 3)});
  table.add({"Pure error", std::to_string(l.pureErrorDf), formatNumber(l.pureErrorSS), "", ""});
  table.print(out);
}

void printCanonical(std::ostream& out, const Canonical& c, const std::vector<Factor>& factors, int digits) {
  out << "\n  Canonical analysis: " << canonicalKindName(c.kind) << "\n";
  if (!std::isnan(c.power))
    out << "  Done on the transformed scale (power " << formatNumber(c.power, 4)
        << "); the prediction is in the response's units\n";
  if (!c.hasStationaryPoint) {
    out << "  No unique stationary point: the second-order part is singular.\n";
  } else {
    out << "  Stationary point: " << settingsText(factors, c.stationaryNatural) << " ("
        << (c.insideRegion ? "inside" : "outside") << " the region, " << formatNumber(c.distanceFromCenter)
        << " coded units from the centre)\n";
    out << "  Predicted there: " << formatNumber(c.predictedAtStationary, digits) << "\n";
  }
  std::vector<std::string> headings{"Eigenvalue"};
  for (const Factor& f : factors) headings.push_back(f.name);
  Table table(headings);
  for (std::size_t k = 0; k < c.eigenvalues.size(); ++k) {
    std::vector<std::string> row{formatNumber(c.eigenvalues[k])};
    for (std::size_t f = 0; f < factors.size() && k < c.eigenvectors.cols(); ++f)
      row.push_back(formatNumber(c.eigenvectors(f, k)));
    table.add(std::move(row));
  }
  table.print(out);
}

void printDiagnostics(std::ostream& out, const FitReport& r, int digits) {
  out << "\n  Runs\n";
  Table table({"Run", "Observed", "Fitted", "Residual", "Leverage", "Studentized", "Cook's D"});
  for (const RunDiagnostics& d : r.diagnostics)
    table.add({std::to_string(d.runId), formatNumber(d.observed, digits), formatNumber(d.fitted, digits), formatNumber(d.residual),
               formatNumber(d.leverage), formatNumber(d.studentized), formatNumber(d.cooksDistance)});
  table.print(out);
}

std::string boundsText(const Constraint& c, int digits) {
  if (std::isinf(c.low)) return c.response + " <= " + formatNumber(c.high, digits);
  if (std::isinf(c.high)) return c.response + " >= " + formatNumber(c.low, digits);
  return formatNumber(c.low, digits) + " <= " + c.response + " <= " + formatNumber(c.high, digits);
}

// Digits of the response a constraint or goal names.
int responseDigits(const Fit& fit, const std::string& response) {
  return digitsOf(fit.observations, fit.responseIndex(response));
}

}  // namespace

int digitsFor(double low, double high) {
  const double magnitude = std::max(std::fabs(low), std::fabs(high));
  const double spread = high - low;
  if (!(spread > 0.0) || !std::isfinite(magnitude) || !std::isfinite(spread)) return 6;
  return std::clamp(6 + static_cast<int>(std::floor(std::log10(magnitude / spread))), 6, 17);
}

int digitsOf(const Factor& factor) { return digitsFor(factor.low, factor.high); }

int digitsOf(const Matrix& observations, std::size_t response) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (std::size_t row = 0; row < observations.rows(); ++row) {
    const double value = observations(row, response);
    if (!std::isfinite(value)) continue;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  return digitsFor(low, high);
}

std::string formatNumber(double value, int digits) {
  if (std::isnan(value)) return "n/a";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

Table::Table(std::vector<std::string> headings, std::vector<bool> leftAligned)
    : headings_(std::move(headings)), left_(std::move(leftAligned)) {
  left_.resize(headings_.size(), false);
}

void Table::add(std::vector<std::string> cells) {
  cells.resize(headings_.size());
  rows_.push_back(std::move(cells));
}

void Table::print(std::ostream& out, int indent) const {
  std::vector<std::size_t> widths(headings_.size());
  for (std::size_t c = 0; c < headings_.size(); ++c) {
    widths[c] = displayWidth(headings_[c]);
    for (const auto& row : rows_) widths[c] = std::max(widths[c], displayWidth(row[c]));
  }
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text(static_cast<std::size_t>(indent), ' ');
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::string pad(widths[c] - displayWidth(cells[c]), ' ');
      if (c > 0) text += "  ";
      text += left_[c] ? cells[c] + pad : pad + cells[c];
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  };
  line(headings_);
  for (const auto& row : rows_) line(row);
}

std::string label(const Factor& factor) { return factor.unit.empty() ? factor.name : factor.name + " [" + factor.unit + "]"; }
std::string label(const Response& response) {
  return response.unit.empty() ? response.name : response.name + " [" + response.unit + "]";
}

// What was added to the design since it was made, for the heading.
static std::string additions(const Plan& plan) {
  const std::size_t folds = static_cast<std::size_t>(std::count_if(
      plan.augmentations.begin(), plan.augmentations.end(), [](const Augmentation& a) { return a.fold.has_value(); }));
  std::string text;
  if (folds > 0) text += ", folded into a central composite";
  const std::size_t others = plan.augmentations.size() - folds;
  if (others > 0) text += ", augmented " + std::to_string(others) + (others == 1 ? " time" : " times");
  return text;
}

void printStudy(std::ostream& out, const Study& study) {
  const Plan& plan = study.plan();
  if (plan.kind == DesignKind::Imported)
    out << "existing data of " << plan.factorCount() << " factors" << additions(plan) << ": " << plan.runCount()
        << " runs in the data's order\n\n";
  else
    out << designKindName(plan.kind) << " plan of " << plan.factorCount() << " factors" << additions(plan) << ": "
        << plan.runCount() << " runs in execution order (seed " << plan.seed << ")\n\n";
  const bool blocked = std::any_of(plan.blocks.begin(), plan.blocks.end(), [](int b) { return b != 1; });
  std::vector<int> deviating;
  for (std::size_t r = 0; r < plan.runCount(); ++r)
    if (plan.deviates(r)) deviating.push_back(static_cast<int>(r) + 1);
  // Where runs came from matters once a design has more than cube and centre runs.
  const bool mixed = std::any_of(plan.origins.begin(), plan.origins.end(),
                                 [](RunOrigin o) { return o == RunOrigin::Axial || o == RunOrigin::Augmented; });
  std::vector<std::string> headings{"Order", "Run"};
  if (blocked) headings.emplace_back("Block");
  if (mixed) headings.emplace_back("Origin");
  for (const Factor& f : plan.factors) headings.push_back(label(f));
  for (const Response& r : study.responses()) headings.push_back(label(r));
  Table table(headings);
  for (std::size_t k = 0; k < plan.executionOrder.size(); ++k) {
    const int id = plan.executionOrder[k];
    const std::size_t row = static_cast<std::size_t>(id - 1);
    std::vector<std::string> cells{std::to_string(k + 1), std::to_string(id)};
    if (blocked) cells.push_back(std::to_string(plan.blocks[row]));
    if (mixed) cells.emplace_back(runOriginName(plan.origins[row]));
    for (std::size_t f = 0; f < plan.factorCount(); ++f)
      cells.push_back(formatNumber(plan.actual(row, f), digitsOf(plan.factors[f])));
    for (std::size_t r = 0; r < study.responses().size(); ++r) {
      const double value = study.results()(row, r);
      cells.push_back(std::isnan(value) ? "" : formatNumber(value, digitsOf(study.results(), r)));
    }
    table.add(std::move(cells));
  }
  table.print(out);
  if (!deviating.empty()) {
    std::string list;
    for (const int id : deviating) list += (list.empty() ? "" : ", ") + std::to_string(id);
    out << (deviating.size() == 1 ? "\nRun " : "\nRuns ") << list << (deviating.size() == 1 ? " shows" : " show")
        << " the recorded actual settings, not the planned ones.\n";
  }
  const std::size_t missing = study.missing().size();
  const std::size_t total = plan.runCount() * study.responses().size();
  if (missing == 0)
    out << "\nAll " << total << " results entered.\n";
  else
    out << "\n" << missing << " of " << total << " results missing.\n";
}

void printAnalysis(std::ostream& out, const FitReport& r, const Canonical& c, const std::vector<Factor>& factors,
                   const Verdict& verdict, bool diagnostics) {
  out << r.response << ": " << r.runs << " runs, " << r.terms << " terms, " << r.residualDf
      << " residual degrees of freedom\n\n";
  out << (verdict.warning ? "  Verdict (warning): " : "  Verdict: ") << verdict.text << "\n\n";
  if (!r.notEstimable.empty()) out << "  Not estimable: " << r.notEstimable << "\n\n";
  printStatistics(out, r);
  printCoefficients(out, r, false);
  printCoefficients(out, r, true);
  Matrix observed(r.diagnostics.size(), 1);
  for (std::size_t k = 0; k < r.diagnostics.size(); ++k) observed(k, 0) = r.diagnostics[k].observed;
  const int digits = digitsOf(observed, 0);
  printLackOfFit(out, r.lackOfFit);
  printCanonical(out, c, factors, digits);
  if (diagnostics) printDiagnostics(out, r, digits);
}

void printOptimum(std::ostream& out, const Fit& fit, const Goals& goals, const Optimum& optimum) {
  out << "Goals\n";
  Table goalTable({"Response", "Goal", "Low", "Target", "High", "Shape", "Importance"}, {true, true});
  for (const Goal& g : goals.goals) {
    const int digits = responseDigits(fit, g.response);
    goalTable.add({g.response, std::string(goalKindName(g.kind)), formatNumber(g.low, digits),
                   g.kind == Goal::Target ? formatNumber(g.target, digits) : "-", formatNumber(g.high, digits),
                   formatNumber(g.shape), formatNumber(g.importance)});
  }
  goalTable.print(out);
  for (const Goal& g : goals.goals)
    if (g.unbounded)
      out << "  " << g.response << ": no " << (g.kind == Goal::Maximize ? "upper" : "lower")
          << " limit; desirability 1 at the " << (g.kind == Goal::Maximize ? "highest" : "lowest")
          << " prediction, still rising past it\n";
  if (!goals.constraints.empty()) {
    std::vector<std::string> bounds;
    for (const Constraint& c : goals.constraints) bounds.push_back(boundsText(c, responseDigits(fit, c.response)));
    out << "  Constraints: " << joined(bounds, "; ") << "\n";
  }
  const std::size_t found = optimum.candidates.size();
  out << "\n" << found << (found == 1 ? " distinct optimum; " : " distinct optima; ") << optimum.admissiblePoints
      << " of the " << optimum.pointsSearched << " points searched meet the constraints\n\n";
  std::vector<std::string> headings{"Rank"};
  for (const Factor& f : fit.factors) headings.push_back(label(f));
  for (const Response& r : fit.responses) headings.push_back(label(r));
  headings.push_back("Desirability");
  headings.push_back("Active constraints");
  std::vector<bool> left(headings.size(), false);
  left.back() = true;
  Table table(headings, left);
  for (std::size_t k = 0; k < optimum.candidates.size(); ++k) {
    const Candidate& c = optimum.candidates[k];
    std::vector<std::string> cells{std::to_string(k + 1)};
    for (std::size_t f = 0; f < c.natural.size(); ++f) cells.push_back(formatNumber(c.natural[f], digitsOf(fit.factors[f])));
    for (std::size_t r = 0; r < c.predictions.size(); ++r)
      cells.push_back(formatNumber(c.predictions[r].value, digitsOf(fit.observations, r)));
    cells.push_back(formatNumber(c.overall));
    cells.push_back(c.activeConstraints.empty() ? "-" : joined(c.activeConstraints, "; "));
    table.add(std::move(cells));
  }
  table.print(out);
  if (!optimum.candidates.empty()) {
    const Verdict verdict = optimumVerdict(fit, optimum);
    out << (verdict.warning ? "\n  Verdict (warning): " : "\n  Verdict: ") << verdict.text << "\n";
  }
}

void printRobustness(std::ostream& out, const Fit& fit, const Goals& goals, const Robustness& r, std::uint64_t seed) {
  out << "\nRobustness of optimum 1: " << r.replicates << " replicates (seed " << seed << "), "
      << r.failedReplicates << " without an admissible optimum\n\n";
  Table noise({"Response", "Sigma", "Source"}, {true, false, true});
  for (std::size_t k = 0; k < fit.responses.size() && k < r.sigma.size(); ++k)
    noise.add({fit.responses[k].name, formatNumber(r.sigma[k]), k < r.sigmaSource.size() ? r.sigmaSource[k] : ""});
  noise.print(out);

  out << "\n  Relocated optimum and predictions at optimum 1, by percentile\n";
  std::vector<std::string> headings{"Quantity"};
  for (double p : r.percentiles) headings.push_back(formatNumber(p) + "%");
  headings.push_back("Mean");
  headings.push_back("Std. dev.");
  Table table(headings, {true});
  for (std::size_t f = 0; f < fit.factors.size() && f < r.settingPercentiles.rows(); ++f) {
    std::vector<std::string> cells{label(fit.factors[f])};
    for (std::size_t p = 0; p < r.settingPercentiles.cols(); ++p)
      cells.push_back(formatNumber(r.settingPercentiles(f, p), digitsOf(fit.factors[f])));
    table.add(std::move(cells));
  }
  for (std::size_t k = 0; k < fit.responses.size() && k < r.predictionPercentiles.rows(); ++k) {
    std::vector<std::string> cells{label(fit.responses[k])};
    for (std::size_t p = 0; p < r.predictionPercentiles.cols(); ++p)
      cells.push_back(formatNumber(r.predictionPercentiles(k, p), digitsOf(fit.observations, k)));
    cells.push_back(k < r.predictionMean.size() ? formatNumber(r.predictionMean[k], digitsOf(fit.observations, k)) : "");
    cells.push_back(k < r.predictionStdDev.size() ? formatNumber(r.predictionStdDev[k]) : "");
    table.add(std::move(cells));
  }
  table.print(out);

  if (goals.constraints.empty()) return;
  out << "\n";
  Table constraints({"Constraint", "Probability met"}, {true});
  for (std::size_t k = 0; k < goals.constraints.size() && k < r.constraintProbability.size(); ++k)
    constraints.add({boundsText(goals.constraints[k], responseDigits(fit, goals.constraints[k].response)),
                     formatNumber(r.constraintProbability[k])});
  constraints.print(out);
}

void printPredictions(std::ostream& out, const Fit& fit, const Matrix& points,
                      const std::vector<std::vector<Prediction>>& predictions, double confidence) {
  const std::string level = percent(confidence);
  std::vector<std::string> headings{"Point"};
  for (const Factor& f : fit.factors) headings.push_back(label(f));
  for (const std::string& h : std::vector<std::string>{"Response", "Predicted", "Std. error", level + " CI low", "CI high", "PI low", "PI high"})
    headings.push_back(h);
  std::vector<bool> left(headings.size(), false);
  left[1 + fit.factorCount()] = true;
  Table table(headings, left);
  for (std::size_t p = 0; p < points.rows(); ++p) {
    for (std::size_t r = 0; r < fit.responses.size() && r < predictions.size(); ++r) {
      const Prediction& y = predictions[r][p];
      std::vector<std::string> cells{r == 0 ? std::to_string(p + 1) : ""};
      for (std::size_t f = 0; f < fit.factorCount(); ++f)
        cells.push_back(r == 0 ? formatNumber(points(p, f), digitsOf(fit.factors[f])) : "");
      const int digits = digitsOf(fit.observations, r);
      for (const std::string& v : std::vector<std::string>{
               fit.responses[r].name, formatNumber(y.value, digits), formatNumber(y.stdError),
               formatNumber(y.confidenceLow, digits), formatNumber(y.confidenceHigh, digits),
               formatNumber(y.predictionLow, digits), formatNumber(y.predictionHigh, digits)})
        cells.push_back(v);
      table.add(std::move(cells));
    }
  }
  table.print(out);
  const std::vector<std::size_t> outside = extrapolatedPoints(fit, points);
  if (outside.empty()) return;
  std::vector<std::string> ids;
  ids.reserve(outside.size());
  for (std::size_t p : outside) ids.push_back(std::to_string(p + 1));
  out << "\nOutside the plan's ranges, where the model extrapolates: point" << (ids.size() > 1 ? "s " : " ")
      << joined(ids, ", ") << "\n";
}

}  // namespace tavrin::cli
