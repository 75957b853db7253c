// Test driver: reads coded settings, a response, optional blocks and run
// order and a model text as JSON on stdin; prints the fit, its ANOVA, its
// run diagnostics, predictions and, when asked, a reduction and Box-Cox as
// JSON (NaN as null).
#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>

#include "tavrin/model_building.h"

namespace {

using nlohmann::json;
using namespace tavrin;

json number(double x) { return std::isfinite(x) ? json(x) : json(nullptr); }

json numbers(const std::vector<double>& xs) {
  json out = json::array();
  for (const double x : xs) out.push_back(number(x));
  return out;
}

Matrix matrix(const json& j, std::size_t cols) {
  Matrix m(j.size(), cols);
  for (std::size_t r = 0; r < m.rows(); ++r)
    for (std::size_t c = 0; c < m.cols(); ++c) m(r, c) = j[r][c].get<double>();
  return m;
}

json row(const AnovaRow& r) {
  return {{"source", r.source}, {"df", r.df}, {"ss", number(r.ss)}, {"ms", number(r.ms)},
          {"f", number(r.f)},   {"p", number(r.p)}};
}

json rows(const std::vector<AnovaRow>& rs) {
  json out = json::array();
  for (const AnovaRow& r : rs) out.push_back(row(r));
  return out;
}

json fitJson(const ModelFit& fit) {
  json estimates = json::array();
  for (const TermEstimate& t : fit.estimates)
    estimates.push_back({{"term", t.term}, {"block", t.block}, {"value", number(t.estimate.value)},
                         {"se", number(t.estimate.stdError)}, {"t", number(t.estimate.t)},
                         {"p", number(t.estimate.p)}, {"lower", number(t.estimate.lower)},
                         {"upper", number(t.estimate.upper)}});
  return {{"terms", formatModelTerms(fit.terms, fit.factorNames)}, {"residualDf", fit.residualDf},
          {"coefficients", numbers(fit.coefficients)}, {"estimates", estimates},
          {"fitted", numbers(fit.fitted)}, {"residuals", numbers(fit.residuals)},
          {"leverages", numbers(fit.leverages)}, {"residualSS", number(fit.residualSS)},
          {"sigma", number(fit.sigma)}, {"rSquared", number(fit.rSquared)},
          {"adjustedRSquared", number(fit.adjustedRSquared)}, {"logLikelihood", number(fit.logLikelihood)},
          {"aicc", number(fit.aicc)}};
}

json anovaJson(const Anova& a) {
  return {{"sequential", rows(a.sequential)}, {"partial", rows(a.partial)}, {"model", row(a.model)},
          {"residual", row(a.residual)},     {"lackOfFit", row(a.lackOfFit)}, {"pureError", row(a.pureError)},
          {"lackOfFitReason", a.lackOfFitReason}, {"total", row(a.total)}};
}

json diagnosticsJson(const Diagnostics& d) {
  json runs = json::array();
  for (const RunDiagnostic& r : d.runs)
    runs.push_back({{"row", r.row}, {"order", r.order}, {"residual", number(r.residual)},
                    {"externallyStudentized", number(r.externallyStudentized)}, {"dffits", number(r.dffits)},
                    {"cooks", number(r.cooksDistance)}, {"bonferroniP", number(r.bonferroniP)},
                    {"outlier", r.outlier}, {"normalScore", number(r.normalScore)}});
  return {{"runs", runs}, {"durbinWatson", number(d.durbinWatson)}};
}

json predictionsJson(const std::vector<Prediction>& ps) {
  json out = json::array();
  for (const Prediction& p : ps)
    out.push_back({{"value", number(p.value)}, {"se", number(p.stdError)}, {"ciLow", number(p.confidenceLow)},
                   {"ciHigh", number(p.confidenceHigh)}, {"piLow", number(p.predictionLow)},
                   {"piHigh", number(p.predictionHigh)}});
  return out;
}

json reductionJson(const Reduction& r) {
  json steps = json::array();
  for (const ReductionStep& s : r.steps)
    steps.push_back({{"term", s.term}, {"forced", s.forced}, {"p", number(s.p)}, {"deltaAicc", number(s.deltaAicc)}});
  return {{"steps", steps}, {"fit", fitJson(r.fit)}};
}

}  // namespace

int main() {
  const json in = json::parse(std::cin);
  ModelData data;
  data.factorNames = in.at("factors").get<std::vector<std::string>>();
  data.coded = matrix(in.at("coded"), data.factorNames.size());
  data.response = in.at("response").get<std::vector<double>>();
  data.blocks = in.value("blocks", std::vector<int>{});
  data.runOrder = in.value("runOrder", std::vector<int>{});
  const ModelTerms terms = parseModelTerms(in.value("model", std::string("quadratic")), data.factorNames);
  const double confidence = in.value("confidence", 0.95);

  const ModelFit fit = fitModel(data, terms, confidence);
  json out = {{"fit", fitJson(fit)}, {"anova", anovaJson(anova(data, fit))},
              {"diagnostics", diagnosticsJson(diagnose(data, fit, in.value("alpha", 0.05)))}};
  if (in.contains("points"))
    out["predictions"] = predictionsJson(predictModel(fit, matrix(in.at("points"), data.factorNames.size()),
                                                      confidence));
  if (in.contains("reduce")) {
    const json& r = in.at("reduce");
    ReductionOptions options;
    options.criterion = r.value("aicc", false) ? ReductionOptions::Aicc : ReductionOptions::PValue;
    options.pToRemove = r.value("pToRemove", 0.10);
    options.forceIn = r.value("forceIn", std::vector<std::string>{});
    options.forceOut = r.value("forceOut", std::vector<std::string>{});
    out["reduction"] = reductionJson(reduceModel(data, terms, options));
  }
  if (in.value("boxCox", false)) {
    const BoxCox b = boxCox(data, terms);
    out["boxCox"] = {{"lambda", b.lambda}, {"lower", b.lower}, {"upper", b.upper}, {"recommended", b.recommended}};
  }
  std::cout << out.dump() << "\n";
  return 0;
}
