// The plain-text report: a coefficient table with aligned columns and
// significance codes, the statistics, the lack of fit, the runs and the
// canonical analysis, in the manner of the usual regression summaries.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tavrin/analysis.h"

namespace tavrin {
namespace {

using Row = std::vector<std::string>;

// Joins by appending: GCC 12 misreads `"literal" + std::string&&` as an
// overlapping copy (-Wrestrict) once inlined.
template <class... Parts>
std::string cat(const Parts&... parts) {
  std::string out;
  (out += ... += parts);
  return out;
}

std::string number(double x, int digits = 6) {
  if (std::isnan(x)) return "NA";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, x);
  return text;
}

std::string pValue(double p) {
  if (std::isnan(p)) return "NA";
  // Below this the value is rounding noise of the distribution's tail.
  if (p < 2e-16) return "<2e-16";
  return number(p, 3);
}

std::string stars(double p) {
  if (std::isnan(p)) return "";
  if (p < 0.001) return "***";
  if (p < 0.01) return "**";
  if (p < 0.05) return "*";
  if (p < 0.1) return ".";
  return "";
}

// Columns separated by two blanks; the first is left-aligned, the others
// right-aligned, except the ones listed in `leftAligned`.
std::string table(const std::vector<Row>& rows, const std::vector<std::size_t>& leftAligned = {}) {
  std::vector<std::size_t> width;
  for (const Row& row : rows) {
    width.resize(std::max(width.size(), row.size()), 0);
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  std::string out;
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const bool left = c == 0 || std::find(leftAligned.begin(), leftAligned.end(), c) != leftAligned.end();
      const std::string pad(width[c] - row[c].size(), ' ');
      line += cat(c == 0 ? "" : "  ", left ? row[c] : pad, left ? pad : row[c]);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out += cat(line, "\n");
  }
  return out;
}

std::string percent(double level) { return cat(number(100.0 * level, 4), "%"); }

std::string factorName(const Canonical& c, std::size_t i) {
  return i < c.factors.size() ? c.factors[i] : cat("x", std::to_string(i + 1));
}

void coefficientTable(std::string& out, const FitReport& r, bool natural) {
  const std::string stat = r.sigmaKnown ? "z" : "t";
  const double tail = (1.0 - r.confidence) / 2.0;
  std::vector<Row> rows{{"", "Estimate", "Std. Error", cat(stat, " value"), cat("Pr(>|", stat, "|)"), "",
                         cat("[", percent(tail)), cat(percent(1.0 - tail), "]")}};
  for (const CoefficientRow& c : r.coefficients) {
    const Estimate& e = natural ? c.natural : c.coded;
    rows.push_back({c.term, number(e.value), number(e.stdError), number(e.t, 4), pValue(e.p), stars(e.p),
                    number(e.lower), number(e.upper)});
  }
  out += natural ? "Coefficients (natural units):\n" : "Coefficients (coded units):\n";
  out += table(rows, {5});
}

void statistics(std::string& out, const FitReport& r) {
  if (r.sigmaKnown)
    out += cat("Known sigma: ", number(r.sigma), " (standard errors from it; z tests, normal distribution)\n");
  if (r.residualDf > 0)
    out += cat("Residual standard error: ", number(r.rmse, 4), " on ", std::to_string(r.residualDf),
               " degrees of freedom\n");
  else
    out += "Residual standard error: not estimable (no residual degree of freedom)\n";
  if (r.blocksDf > 0)
    out += cat("Blocks: sum of squares ", number(r.blocksSS, 4), " on ", std::to_string(r.blocksDf),
               " DF, set aside before the model's terms\n");
  if (r.residualDf > 0)
    out += cat("Multiple R-squared: ", number(r.rSquared, 4), ",  Adjusted R-squared: ",
               number(r.adjustedRSquared, 4), "\n");
  else
    out += cat("Multiple R-squared: ", number(r.rSquared, 4),
               " (by construction: the model passes through every run),  Adjusted R-squared: not estimable\n");
  if (std::isnan(r.press))
    out += "PRESS: not estimable,  Predicted R-squared: not estimable\n";
  else
    out += cat("PRESS: ", number(r.press, 4), ",  Predicted R-squared: ", number(r.predictedRSquared, 4), "\n");
  const std::string df2 = r.sigmaKnown ? "Inf" : std::to_string(r.residualDf);
  if (std::isnan(r.fStatistic))
    out += "F-statistic: not estimable\n";
  else
    out += cat("F-statistic: ", number(r.fStatistic, 4), " on ", std::to_string(r.fDfModel), " and ", df2,
               " DF,  p-value: ", pValue(r.fPValue), "\n");
  if (!r.notEstimable.empty()) out += cat("Not estimable: ", r.notEstimable, "\n");
}

void lackOfFitTable(std::string& out, const FitReport& r) {
  const LackOfFit& l = r.lackOfFit;
  out += "\nLack of fit:\n";
  if (!l.available) {
    out += cat("  not estimable: ", l.reason, "\n");
    return;
  }
  const auto meanSquare = [](double ss, int df) { return number(ss / df); };
  out += table({{"", "Df", "Sum Sq", "Mean Sq", "F value", "Pr(>F)"},
                {"Lack of fit", std::to_string(l.lackOfFitDf), number(l.lackOfFitSS),
                 meanSquare(l.lackOfFitSS, l.lackOfFitDf), number(l.f, 4), pValue(l.p)},
                {"Pure error", std::to_string(l.pureErrorDf), number(l.pureErrorSS),
                 meanSquare(l.pureErrorSS, l.pureErrorDf), "", ""},
                {"Residual", std::to_string(r.residualDf), number(r.residualSS),
                 meanSquare(r.residualSS, r.residualDf), "", ""}});
}

void runTable(std::string& out, const FitReport& r) {
  std::vector<Row> rows{{"Run", "Observed", "Fitted", "Residual", "Leverage", "Std. resid", "Cook's D"}};
  for (const RunDiagnostics& d : r.diagnostics)
    rows.push_back({std::to_string(d.runId), number(d.observed), number(d.fitted), number(d.residual, 4),
                    number(d.leverage, 4), number(d.studentized, 4), number(d.cooksDistance, 4)});
  out += cat("\nRuns:\n", table(rows));
}

void canonicalSection(std::string& out, const Canonical& c) {
  const std::size_t n = c.eigenvalues.size();
  out += "\nCanonical analysis (coded units):\n";
  if (!std::isnan(c.power))
    out += cat("Done on the transformed scale (power ", number(c.power, 4),
               "); the predicted value is in the response's units\n");
  std::vector<Row> rows{{"Eigenvalue"}};
  for (std::size_t k = 0; k < n; ++k) rows[0].push_back(number(c.eigenvalues[k]));
  for (std::size_t i = 0; i < n; ++i) {
    rows.push_back({factorName(c, i)});
    for (std::size_t k = 0; k < n; ++k) rows.back().push_back(number(c.eigenvectors(i, k), 4));
  }
  out += table(rows);
  out += cat("Kind: ", canonicalKindName(c.kind), " (a ridge when some |eigenvalue| < ", number(c.ridgeTolerance, 3),
             " x the largest |eigenvalue|)\n");
  if (!c.hasStationaryPoint) {
    out += "Stationary point: none (the second-order part is singular)\n";
    return;
  }
  std::vector<Row> point{{"Stationary point", "coded", "natural"}};
  for (std::size_t i = 0; i < n; ++i)
    point.push_back({cat("  ", factorName(c, i)), number(c.stationaryCoded[i]), number(c.stationaryNatural[i])});
  out += table(point);
  out += cat("Predicted value there: ", number(c.predictedAtStationary), "\n");
  out += cat("Distance from the centre: ", number(c.distanceFromCenter, 4), " (coded), ",
             c.insideRegion ? "inside" : "outside", " the design region\n");
}

}  // namespace

std::string formatReport(const FitReport& report, const Canonical& canonical) {
  std::string out = cat("Response: ", report.response);
  if (!report.unit.empty()) out += cat(" [", report.unit, "]");
  out += cat("\n", std::to_string(report.runs), " runs, ", std::to_string(report.terms), " terms, ",
             std::to_string(report.residualDf), " residual degrees of freedom; intervals at ",
             percent(report.confidence), "\n\n");
  coefficientTable(out, report, false);
  out += "---\nSignif. codes:  0 '***' 0.001 '**' 0.01 '*' 0.05 '.' 0.1 ' ' 1\n\n";
  coefficientTable(out, report, true);
  out += "\n";
  statistics(out, report);
  lackOfFitTable(out, report);
  runTable(out, report);
  canonicalSection(out, canonical);
  return out;
}

}  // namespace tavrin
