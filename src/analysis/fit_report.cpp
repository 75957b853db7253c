// The fit report of one response: coefficients with their tests, the
// goodness-of-fit statistics, per-run diagnostics and the lack of fit.
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "analysis/inference.h"
#include "analysis/lack_of_fit.h"
#include "study/not_a_number.h"
#include "tavrin/analysis.h"
#include "tavrin/error.h"
#include "tavrin/quadratic.h"

namespace tavrin {
namespace {

// A leverage this close to 1 means the run is fitted exactly whatever it
// measures: its left-out residual is not defined.
constexpr double kUnitLeverageGap = 1e-9;

std::vector<std::string> factorNames(const Fit& fit) {
  std::vector<std::string> names;
  for (const Factor& f : fit.factors) names.push_back(f.name);
  return names;
}

void fillCoefficients(const Fit& fit, std::size_t response, const analysis::ErrorScale& scale, double confidence,
                      FitReport& report) {
  const Eigen::MatrixXd coded = analysis::unscaledCovariance(fit, response);
  const Eigen::MatrixXd map = analysis::codedToNaturalMap(fit.factors);
  const Eigen::MatrixXd natural = map * coded * map.transpose();
  const std::vector<std::string> names = factorNames(fit);
  const Model& model = fit.models[response];
  // The model's terms; a term left out has no estimate.
  for (const std::size_t k : model.terms) {
    const auto d = static_cast<Eigen::Index>(k);
    CoefficientRow row;
    row.term = quadratic::termLabel(names, k);
    row.coded = analysis::estimate(model.coded[k], scale.sigma * std::sqrt(coded(d, d)), scale, confidence);
    row.natural = analysis::estimate(model.natural[k], scale.sigma * std::sqrt(natural(d, d)), scale, confidence);
    report.coefficients.push_back(row);
  }
}

// Leverage-based diagnostics; returns the runs whose leverage is 1.
std::vector<int> fillDiagnostics(const Fit& fit, std::size_t response, const Eigen::VectorXd& observed,
                                 const Eigen::VectorXd& residual, const analysis::ErrorScale& scale,
                                 FitReport& report) {
  std::vector<int> unitLeverage;
  const Model& model = fit.models[response];
  const double columns = static_cast<double>(fit.runCount()) - model.residualDf;
  double press = 0.0;
  for (std::size_t r = 0; r < fit.runCount(); ++r) {
    const auto i = static_cast<Eigen::Index>(r);
    RunDiagnostics d;
    d.runId = fit.runIds[r];
    d.observed = observed(i);
    d.residual = residual(i);
    d.fitted = d.observed - d.residual;
    d.leverage = model.leverages[r];
    const double gap = 1.0 - d.leverage;
    if (gap <= kUnitLeverageGap) {
      unitLeverage.push_back(d.runId);
      d.studentized = kNaN;
      d.cooksDistance = kNaN;
    } else {
      d.studentized = d.residual / (scale.sigma * std::sqrt(gap));
      d.cooksDistance = d.studentized * d.studentized * d.leverage / (columns * gap);
      press += (d.residual / gap) * (d.residual / gap);
    }
    report.diagnostics.push_back(d);
  }
  report.press = unitLeverage.empty() ? press : kNaN;
  return unitLeverage;
}

// The sum of squares between the blocks' means of y (shifted as the total SS is).
void fillBlocks(const Fit& fit, const Eigen::ArrayXd& shifted, FitReport& report) {
  if (fit.blocks.empty()) return;
  std::map<int, std::pair<double, int>> sums;
  for (Eigen::Index r = 0; r < shifted.size(); ++r) {
    auto& [sum, count] = sums[fit.blocks[static_cast<std::size_t>(r)]];
    sum += shifted(r);
    ++count;
  }
  const double mean = shifted.mean();
  for (const auto& entry : sums) {
    const auto& [sum, count] = entry.second;
    const double deviation = sum / count - mean;
    report.blocksSS += count * deviation * deviation;
  }
  report.blocksDf = static_cast<int>(sums.size()) - 1;
}

void fillOverallTest(const Model& model, const analysis::ErrorScale& scale, FitReport& report) {
  report.fDfModel = static_cast<int>(model.terms.size()) - 1;
  const double modelMeanSquare = (report.totalSS - report.blocksSS - report.residualSS) / report.fDfModel;
  report.fStatistic = kNaN;
  report.fPValue = kNaN;
  if (report.totalSS == 0.0) return;
  if (scale.known) {
    report.fStatistic = modelMeanSquare / (scale.sigma * scale.sigma);
    report.fPValue = analysis::upperTail(boost::math::chi_squared_distribution<>(report.fDfModel),
                                         report.fStatistic * report.fDfModel);
    return;
  }
  if (report.residualDf <= 0) return;
  if (report.residualSS == 0.0) {
    report.fStatistic = std::numeric_limits<double>::infinity();
    report.fPValue = 0.0;
    return;
  }
  report.fStatistic = modelMeanSquare / (report.residualSS / report.residualDf);
  report.fPValue =
      analysis::upperTail(boost::math::fisher_f_distribution<>(report.fDfModel, report.residualDf), report.fStatistic);
}

std::string runList(const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) text += (text.empty() ? "" : ", ") + std::to_string(id);
  return text;
}

std::string notEstimableReason(const Fit& fit, std::size_t response, const analysis::ErrorScale& scale,
                               const FitReport& report, const std::vector<int>& unitLeverage) {
  std::vector<std::string> reasons;
  if (std::string saturated = analysis::saturationReason(fit, response, scale); !saturated.empty())
    reasons.push_back(std::move(saturated));
  else if (report.residualDf == 0)
    reasons.push_back("no residual degree of freedom: the RMSE, adjusted R-squared and lack of fit are not "
                      "estimable; standard errors and tests use the known sigma");
  if (unitLeverage.size() == fit.runCount())
    reasons.push_back("every run has leverage 1, so PRESS and predicted R-squared are not defined");
  else if (!unitLeverage.empty())
    reasons.push_back("run(s) " + runList(unitLeverage) +
                      " have leverage 1, so PRESS and predicted R-squared are not defined");
  if (report.totalSS == 0.0)
    reasons.push_back("the response is the same in every run: R-squared and the F test are not defined");
  std::string text;
  for (const std::string& r : reasons) text += (text.empty() ? "" : "; ") + r;
  return text;
}

// The report of one response at its own scale; analyze() calls it with
// the observations brought near 1 by a power of two.
FitReport analyzeAtScale(const Fit& fit, std::size_t response, const AnalysisOptions& options) {
  const Eigen::VectorXd observed = analysis::modelledObservations(fit, response);
  const Eigen::VectorXd residual = analysis::residuals(fit, response);

  FitReport report;
  report.response = fit.responses[response].name;
  report.unit = fit.responses[response].unit;
  report.confidence = options.confidence;
  report.runs = static_cast<int>(fit.runCount());
  report.residualDf = fit.models[response].residualDf;
  report.terms = report.runs - report.residualDf;
  report.residualSS = residual.squaredNorm();
  // About the first run first: exactly 0 when every run gave the same.
  const Eigen::ArrayXd shifted = observed.array() - observed(0);
  report.totalSS = (shifted - shifted.mean()).square().sum();
  fillBlocks(fit, shifted, report);
  // What the blocks leave for the model's terms and the residual.
  const double withinBlocksSS = report.totalSS - report.blocksSS;

  const analysis::ErrorScale scale =
      analysis::errorScale(report.residualSS, report.residualDf, analysis::knownSigma(fit, response, options));
  report.sigmaKnown = scale.known;
  report.sigma = scale.sigma;

  const double runs = report.runs;
  report.rmse = report.residualDf > 0 ? std::sqrt(report.residualSS / report.residualDf) : kNaN;
  report.rSquared = report.totalSS > 0.0 ? 1.0 - report.residualSS / withinBlocksSS : kNaN;
  report.adjustedRSquared =
      report.residualDf > 0 ? 1.0 - (1.0 - report.rSquared) * (runs - 1.0 - report.blocksDf) / report.residualDf
                            : kNaN;

  fillCoefficients(fit, response, scale, options.confidence, report);
  const std::vector<int> unitLeverage = fillDiagnostics(fit, response, observed, residual, scale, report);
  report.predictedRSquared = report.totalSS > 0.0 ? 1.0 - report.press / withinBlocksSS : kNaN;
  fillOverallTest(fit.models[response], scale, report);
  report.lackOfFit = analysis::lackOfFit(analysis::pureError(analysis::settingsOf(fit), fit.blocks, observed),
                                         report.residualSS, report.residualDf);
  report.notEstimable = notEstimableReason(fit, response, scale, report, unitLeverage);
  return report;
}

void scaleEstimate(Estimate& e, int k) {
  for (double* v : {&e.value, &e.stdError, &e.lower, &e.upper}) *v = std::ldexp(*v, k);
}

// Fields in the response's unit times 2^k, sums of squares times 4^k;
// tests, ratios and leverages do not depend on the scale.
void scaleReport(FitReport& r, int k) {
  r.sigma = std::ldexp(r.sigma, k);
  r.rmse = std::ldexp(r.rmse, k);
  for (double* ss : {&r.residualSS, &r.totalSS, &r.blocksSS, &r.press, &r.lackOfFit.pureErrorSS, &r.lackOfFit.lackOfFitSS})
    *ss = std::ldexp(*ss, 2 * k);
  for (CoefficientRow& row : r.coefficients) {
    scaleEstimate(row.coded, k);
    scaleEstimate(row.natural, k);
  }
  for (RunDiagnostics& d : r.diagnostics)
    for (double* v : {&d.observed, &d.fitted, &d.residual}) *v = std::ldexp(*v, k);
}

}  // namespace

FitReport analyze(const Fit& fit, std::size_t response, const AnalysisOptions& options) {
  analysis::checkFitted(fit, response);
  analysis::checkOptions(fit, options);
  if (fit.models[response].natural.size() != fit.termCount() || fit.models[response].terms.empty())
    throw InvalidArgument("the fit of response " + fit.responses[response].name +
                          " is inconsistent: it needs one natural coefficient per term (" +
                          std::to_string(fit.termCount()) + ")");
  // A transformed response is analysed on its own scale, as it is.
  const int k = fit.models[response].transformed()
                    ? 0
                    : analysis::spreadExponent(analysis::view(fit.observations).col(static_cast<Eigen::Index>(response)));
  if (k == 0) return analyzeAtScale(fit, response, options);
  // Scaling by 2^-k is exact and commutes with every rounding, so the
  // report is the one at unit scale, bit for bit, wherever that one holds.
  Fit scaled = fit;
  for (std::size_t r = 0; r < scaled.runCount(); ++r)
    scaled.observations(r, response) = std::ldexp(scaled.observations(r, response), -k);
  Model& model = scaled.models[response];
  for (std::vector<double>* c : {&model.coded, &model.natural, &model.residuals})
    for (double& v : *c) v = std::ldexp(v, -k);
  AnalysisOptions at = options;
  if (const auto it = at.knownSigma.find(fit.responses[response].name); it != at.knownSigma.end())
    it->second = std::ldexp(it->second, -k);
  FitReport report = analyzeAtScale(scaled, response, at);
  scaleReport(report, k);
  return report;
}

}  // namespace tavrin
