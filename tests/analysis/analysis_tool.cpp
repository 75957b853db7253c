// Test driver: a JSON request on stdin, the layer's results as JSON (NaN as null) on stdout. "coded" settings
// give a chosen model's fit, ANOVA, diagnostics and predictions (a reduction and Box-Cox when asked); a design
// "kind" gives the plan and, with results, the fit reports, canonical analyses, predictions and text reports.
#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>

#include "tavrin/analysis.h"
#include "tavrin/model_building.h"
#include "tavrin/study.h"

namespace {

using nlohmann::json;
using namespace tavrin;

json number(double x) { return std::isfinite(x) ? json(x) : json(nullptr); }

json numbers(const std::vector<double>& xs) {
  json out = json::array();
  for (const double x : xs) out.push_back(number(x));
  return out;
}

json rows(const Matrix& m) {
  json out = json::array();
  for (std::size_t r = 0; r < m.rows(); ++r) out.push_back(numbers(std::vector<double>(m.row(r), m.row(r) + m.cols())));
  return out;
}

Matrix matrix(const json& j, std::size_t cols) {
  Matrix m(j.size(), cols);
  for (std::size_t r = 0; r < m.rows(); ++r)
    for (std::size_t c = 0; c < m.cols(); ++c) m(r, c) = j[r][c].get<double>();
  return m;
}

json estimate(const Estimate& e) {
  return {{"value", number(e.value)}, {"se", number(e.stdError)}, {"t", number(e.t)},
          {"p", number(e.p)},         {"lower", number(e.lower)}, {"upper", number(e.upper)}};
}

json predictions(const std::vector<Prediction>& ps) {
  json out = json::array();
  for (const Prediction& p : ps)
    out.push_back({{"value", number(p.value)}, {"se", number(p.stdError)}, {"ciLow", number(p.confidenceLow)},
                   {"ciHigh", number(p.confidenceHigh)}, {"piLow", number(p.predictionLow)},
                   {"piHigh", number(p.predictionHigh)}});
  return out;
}

json report(const FitReport& r) {
  json coefficients = json::array();
  for (const CoefficientRow& c : r.coefficients)
    coefficients.push_back({{"term", c.term}, {"coded", estimate(c.coded)}, {"natural", estimate(c.natural)}});
  json runs = json::array();
  for (const RunDiagnostics& d : r.diagnostics)
    runs.push_back({{"fitted", number(d.fitted)}, {"residual", number(d.residual)}, {"leverage", number(d.leverage)},
                    {"studentized", number(d.studentized)}, {"cooks", number(d.cooksDistance)}});
  return {{"residualDf", r.residualDf}, {"sigmaKnown", r.sigmaKnown}, {"sigma", number(r.sigma)},
          {"notEstimable", r.notEstimable}, {"rSquared", number(r.rSquared)},
          {"adjustedRSquared", number(r.adjustedRSquared)}, {"rmse", number(r.rmse)}, {"press", number(r.press)},
          {"predictedRSquared", number(r.predictedRSquared)}, {"f", number(r.fStatistic)},
          {"fDfModel", r.fDfModel}, {"fP", number(r.fPValue)}, {"coefficients", coefficients}, {"runs", runs}};
}

json canonical(const Canonical& c) {
  return {{"kind", canonicalKindName(c.kind)}, {"hasStationaryPoint", c.hasStationaryPoint},
          {"stationaryCoded", numbers(c.stationaryCoded)}, {"stationaryNatural", numbers(c.stationaryNatural)},
          {"predicted", number(c.predictedAtStationary)}, {"eigenvalues", numbers(c.eigenvalues)},
          {"eigenvectors", rows(c.eigenvectors)}, {"inside", c.insideRegion},
          {"distance", number(c.distanceFromCenter)}};
}

json planAndReports(const json& in) {
  std::vector<Factor> factors;
  for (const json& f : in.at("factors")) factors.push_back({f.at("name"), f.at("low"), f.at("high"), ""});
  const Plan plan = makePlan(parseDesignKind(in.at("kind").get<std::string>()), factors,
                             {.seed = 1, .extraCenterRuns = in.value("extraCenterRuns", 0)});
  json out = {{"coded", rows(plan.coded)}, {"natural", rows(plan.natural)}};
  if (!in.contains("results")) return out;
  std::vector<Response> responses;
  for (const json& name : in.at("responses")) responses.push_back({name, ""});
  const Fit fit = fitModels(plan, responses, matrix(in.at("results"), responses.size()));
  AnalysisOptions options;
  options.confidence = in.value("confidence", 0.95);
  const json sigmas = in.value("sigma", json::object());
  for (const auto& [name, sigma] : sigmas.items()) options.knownSigma[name] = sigma;
  const Matrix points = matrix(in.value("points", json::array()), factors.size());
  for (std::size_t j = 0; j < responses.size(); ++j) {
    const FitReport r = analyze(fit, j, options);
    const Canonical c = canonicalAnalysis(fit, j);
    out["reports"].push_back(report(r));
    out["canonical"].push_back(canonical(c));
    out["predictions"].push_back(predictions(predictWithIntervals(fit, j, points, options)));
    out["text"].push_back(formatReport(r, c));
  }
  return out;
}

json anovaRow(const AnovaRow& r) {
  return {{"source", r.source}, {"df", r.df}, {"ss", number(r.ss)}, {"f", number(r.f)}, {"p", number(r.p)}};
}

json fitJson(const ModelFit& fit) {
  json estimates = json::array();
  for (const TermEstimate& t : fit.estimates) {
    json e = estimate(t.estimate);
    e["term"] = t.term;
    estimates.push_back(e);
  }
  return {{"terms", formatModelTerms(fit.terms, fit.factorNames)}, {"residualDf", fit.residualDf},
          {"estimates", estimates}, {"residuals", numbers(fit.residuals)}, {"residualSS", number(fit.residualSS)},
          {"rSquared", number(fit.rSquared)}, {"adjustedRSquared", number(fit.adjustedRSquared)},
          {"logLikelihood", number(fit.logLikelihood)}};
}

json anovaJson(const Anova& a) {
  json out = {{"model", anovaRow(a.model)}, {"lackOfFit", anovaRow(a.lackOfFit)},
              {"pureError", anovaRow(a.pureError)}, {"total", anovaRow(a.total)}};
  for (const char* part : {"sequential", "partial"}) out[part] = json::array();
  for (const AnovaRow& r : a.sequential) out["sequential"].push_back(anovaRow(r));
  for (const AnovaRow& r : a.partial) out["partial"].push_back(anovaRow(r));
  return out;
}

json diagnosticsJson(const Diagnostics& d) {
  json runs = json::array();
  for (const RunDiagnostic& r : d.runs)
    runs.push_back({{"row", r.row}, {"externallyStudentized", number(r.externallyStudentized)},
                    {"dffits", number(r.dffits)}, {"cooks", number(r.cooksDistance)},
                    {"bonferroniP", number(r.bonferroniP)}, {"normalScore", number(r.normalScore)}});
  return {{"runs", runs}};
}

json modelBuilding(const json& in) {
  ModelData data;
  data.factorNames = in.at("factors").get<std::vector<std::string>>();
  data.coded = matrix(in.at("coded"), data.factorNames.size());
  data.response = in.at("response").get<std::vector<double>>();
  data.blocks = in.value("blocks", std::vector<int>{});
  const ModelTerms terms = parseModelTerms(in.value("model", std::string("quadratic")), data.factorNames);
  const double confidence = in.value("confidence", 0.95);
  const ModelFit fit = fitModel(data, terms, confidence);
  json out = {{"fit", fitJson(fit)}, {"anova", anovaJson(anova(data, fit))},
              {"diagnostics", diagnosticsJson(diagnose(data, fit))}};
  if (in.contains("points"))
    out["predictions"] = predictions(predictModel(fit, matrix(in.at("points"), data.factorNames.size()), confidence));
  if (in.contains("reduce")) {
    const json& r = in.at("reduce");
    ReductionOptions options;
    options.criterion = r.value("aicc", false) ? ReductionOptions::Aicc : ReductionOptions::PValue;
    options.forceIn = r.value("forceIn", std::vector<std::string>{});
    const Reduction reduction = reduceModel(data, terms, options);
    out["reduction"] = {{"steps", json::array()}, {"fit", fitJson(reduction.fit)}};
    for (const ReductionStep& s : reduction.steps)
      out["reduction"]["steps"].push_back({{"term", s.term}, {"p", number(s.p)}, {"deltaAicc", number(s.deltaAicc)}});
  }
  if (in.value("boxCox", false)) {
    const BoxCox b = boxCox(data, terms);
    out["boxCox"] = {{"lambda", b.lambda}, {"lower", b.lower}, {"upper", b.upper}};
  }
  return out;
}

}  // namespace

int main() {
  const json in = json::parse(std::cin);
  std::cout << (in.contains("coded") ? modelBuilding(in) : planAndReports(in)).dump() << "\n";
  return 0;
}
