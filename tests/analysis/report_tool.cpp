// Test driver: reads a plan request and results as JSON on stdin, prints
// the plan, the fit reports, the canonical analyses, predictions with
// intervals and the text reports as JSON (NaN as null). Without results it
// prints the plan only, so a test can generate data for it first.
#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>

#include "tavrin/analysis.h"
#include "tavrin/study.h"

namespace {

using nlohmann::json;
using namespace tavrin;

json number(double x) { return std::isfinite(x) ? json(x) : json(nullptr); }

json rows(const Matrix& m) {
  json out = json::array();
  for (std::size_t r = 0; r < m.rows(); ++r) {
    json row = json::array();
    for (std::size_t c = 0; c < m.cols(); ++c) row.push_back(number(m(r, c)));
    out.push_back(row);
  }
  return out;
}

Matrix matrix(const json& j) {
  Matrix m(j.size(), j.empty() ? 0 : j[0].size());
  for (std::size_t r = 0; r < m.rows(); ++r)
    for (std::size_t c = 0; c < m.cols(); ++c) m(r, c) = j[r][c].get<double>();
  return m;
}

json estimate(const Estimate& e) {
  return {{"value", number(e.value)}, {"se", number(e.stdError)}, {"t", number(e.t)},
          {"p", number(e.p)},         {"lower", number(e.lower)}, {"upper", number(e.upper)}};
}

json report(const FitReport& r) {
  json coefficients = json::array();
  for (const CoefficientRow& c : r.coefficients)
    coefficients.push_back({{"term", c.term}, {"coded", estimate(c.coded)}, {"natural", estimate(c.natural)}});
  json runs = json::array();
  for (const RunDiagnostics& d : r.diagnostics)
    runs.push_back({{"id", d.runId}, {"observed", number(d.observed)}, {"fitted", number(d.fitted)},
                    {"residual", number(d.residual)}, {"leverage", number(d.leverage)},
                    {"studentized", number(d.studentized)}, {"cooks", number(d.cooksDistance)}});
  const LackOfFit& l = r.lackOfFit;
  return {{"residualDf", r.residualDf}, {"sigmaKnown", r.sigmaKnown}, {"sigma", number(r.sigma)},
          {"notEstimable", r.notEstimable}, {"rSquared", number(r.rSquared)},
          {"adjustedRSquared", number(r.adjustedRSquared)}, {"rmse", number(r.rmse)}, {"press", number(r.press)},
          {"predictedRSquared", number(r.predictedRSquared)}, {"f", number(r.fStatistic)},
          {"fDfModel", r.fDfModel}, {"fP", number(r.fPValue)}, {"residualSS", number(r.residualSS)},
          {"totalSS", number(r.totalSS)}, {"coefficients", coefficients}, {"runs", runs},
          {"lackOfFit",
           {{"available", l.available}, {"reason", l.reason}, {"pureErrorDf", l.pureErrorDf},
            {"lackOfFitDf", l.lackOfFitDf}, {"pureErrorSS", number(l.pureErrorSS)},
            {"lackOfFitSS", number(l.lackOfFitSS)}, {"f", number(l.f)}, {"p", number(l.p)}}}};
}

json canonical(const Canonical& c) {
  json stationaryCoded = json::array(), stationaryNatural = json::array(), eigenvalues = json::array();
  for (double x : c.stationaryCoded) stationaryCoded.push_back(number(x));
  for (double x : c.stationaryNatural) stationaryNatural.push_back(number(x));
  for (double x : c.eigenvalues) eigenvalues.push_back(number(x));
  return {{"kind", canonicalKindName(c.kind)}, {"hasStationaryPoint", c.hasStationaryPoint},
          {"stationaryCoded", stationaryCoded}, {"stationaryNatural", stationaryNatural},
          {"predicted", number(c.predictedAtStationary)}, {"eigenvalues", eigenvalues},
          {"eigenvectors", rows(c.eigenvectors)}, {"inside", c.insideRegion},
          {"distance", number(c.distanceFromCenter)}};
}

json predictions(const std::vector<Prediction>& ps) {
  json out = json::array();
  for (const Prediction& p : ps)
    out.push_back({{"value", number(p.value)}, {"se", number(p.stdError)}, {"ciLow", number(p.confidenceLow)},
                   {"ciHigh", number(p.confidenceHigh)}, {"piLow", number(p.predictionLow)},
                   {"piHigh", number(p.predictionHigh)}});
  return out;
}

}  // namespace

int main() {
  const json in = json::parse(std::cin);
  std::vector<Factor> factors;
  for (const json& f : in.at("factors")) factors.push_back({f.at("name"), f.at("low"), f.at("high"), ""});
  PlanOptions planOptions;
  planOptions.seed = 1;
  planOptions.extraCenterRuns = in.value("extraCenterRuns", 0);
  const Plan plan = makePlan(parseDesignKind(in.at("kind").get<std::string>()), factors, planOptions);
  json out = {{"coded", rows(plan.coded)}, {"natural", rows(plan.natural)}};
  if (!in.contains("results")) {
    std::cout << out.dump() << "\n";
    return 0;
  }

  std::vector<Response> responses;
  for (const json& name : in.at("responses")) responses.push_back({name, ""});
  const Fit fit = fitModels(plan, responses, matrix(in.at("results")));
  AnalysisOptions options;
  options.confidence = in.value("confidence", 0.95);
  if (in.contains("sigma"))
    for (const auto& [name, sigma] : in.at("sigma").items()) options.knownSigma[name] = sigma.get<double>();
  const Matrix points = in.contains("points") ? matrix(in.at("points")) : Matrix(0, factors.size());

  for (std::size_t j = 0; j < responses.size(); ++j) {
    const FitReport r = analyze(fit, j, options);
    const Canonical c = canonicalAnalysis(fit, j, in.value("ridgeTolerance", 1e-3));
    out["reports"].push_back(report(r));
    out["canonical"].push_back(canonical(c));
    out["predictions"].push_back(predictions(predictWithIntervals(fit, j, points, options)));
    out["text"].push_back(formatReport(r, c));
  }
  std::cout << out.dump() << "\n";
  return 0;
}
