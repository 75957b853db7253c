#include "json_io.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "tavrin/detail/definition_json.h"
#include "tavrin/detail/recipe_json.h"

namespace tavrin::json {
namespace {

// values[k] keyed by the k-th name.
template <typename Named, typename Value>
Json keyed(const std::vector<Named>& names, const std::vector<Value>& values) {
  Json object = Json::object();
  for (std::size_t k = 0; k < names.size() && k < values.size(); ++k) {
    if constexpr (std::is_same_v<Value, double>)
      object[names[k].name] = number(values[k]);
    else
      object[names[k].name] = toJson(values[k]);
  }
  return object;
}

// Row `r` of a matrix keyed by the names.
template <typename Named>
Json keyedRow(const std::vector<Named>& names, const Matrix& matrix, std::size_t r) {
  return keyed(names, std::vector<double>(matrix.row(r), matrix.row(r) + matrix.cols()));
}

}  // namespace

Json number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json toJson(const Factor& factor) { return detail::factorJson<Json>(factor); }

Json toJson(const Response& response) { return detail::responseJson<Json>(response); }

Json toJson(const Estimate& e) {
  return {{"value", number(e.value)}, {"stdError", number(e.stdError)}, {"t", number(e.t)},
          {"p", number(e.p)},         {"lower", number(e.lower)},       {"upper", number(e.upper)}};
}

Json toJson(const Prediction& p) {
  return {{"value", number(p.value)},
          {"stdError", number(p.stdError)},
          {"confidenceLow", number(p.confidenceLow)},
          {"confidenceHigh", number(p.confidenceHigh)},
          {"predictionLow", number(p.predictionLow)},
          {"predictionHigh", number(p.predictionHigh)}};
}

Json toJson(const LackOfFit& l) {
  return {{"available", l.available},
          {"reason", l.available ? Json(nullptr) : Json(l.reason)},
          {"pureErrorDf", l.pureErrorDf},
          {"lackOfFitDf", l.lackOfFitDf},
          {"pureErrorSS", number(l.pureErrorSS)},
          {"lackOfFitSS", number(l.lackOfFitSS)},
          {"f", number(l.f)},
          {"p", number(l.p)}};
}

Json toJson(const FitReport& r) {
  Json coefficients = Json::array();
  for (const CoefficientRow& row : r.coefficients)
    coefficients.push_back({{"term", row.term}, {"coded", toJson(row.coded)}, {"natural", toJson(row.natural)}});
  Json diagnostics = Json::array();
  for (const RunDiagnostics& d : r.diagnostics)
    diagnostics.push_back({{"run", d.runId},
                           {"observed", number(d.observed)},
                           {"fitted", number(d.fitted)},
                           {"residual", number(d.residual)},
                           {"leverage", number(d.leverage)},
                           {"studentized", number(d.studentized)},
                           {"cooksDistance", number(d.cooksDistance)}});
  return {{"response", r.response},
          {"confidence", r.confidence},
          {"runs", r.runs},
          {"terms", r.terms},
          {"residualDf", r.residualDf},
          {"sigmaKnown", r.sigmaKnown},
          {"sigma", number(r.sigma)},
          {"notEstimable", r.notEstimable.empty() ? Json(nullptr) : Json(r.notEstimable)},
          {"rSquared", number(r.rSquared)},
          {"adjustedRSquared", number(r.adjustedRSquared)},
          {"rmse", number(r.rmse)},
          {"press", number(r.press)},
          {"predictedRSquared", number(r.predictedRSquared)},
          {"fStatistic", number(r.fStatistic)},
          {"fDfModel", r.fDfModel},
          {"fPValue", number(r.fPValue)},
          {"residualSS", number(r.residualSS)},
          {"totalSS", number(r.totalSS)},
          {"blocksDf", r.blocksDf},
          {"blocksSS", number(r.blocksSS)},
          {"coefficients", std::move(coefficients)},
          {"diagnostics", std::move(diagnostics)},
          {"lackOfFit", toJson(r.lackOfFit)}};
}

Json toJson(const Canonical& c, const std::vector<Factor>& factors) {
  Json eigenvectors = Json::array();
  for (std::size_t k = 0; k < c.eigenvalues.size() && k < c.eigenvectors.cols(); ++k) {
    std::vector<double> column(c.eigenvectors.rows());
    for (std::size_t f = 0; f < column.size(); ++f) column[f] = c.eigenvectors(f, k);
    eigenvectors.push_back(keyed(factors, column));
  }
  Json eigenvalues = Json::array();
  for (double value : c.eigenvalues) eigenvalues.push_back(number(value));
  return {{"response", c.response},
          {"kind", std::string(canonicalKindName(c.kind))},
          {"ridgeTolerance", number(c.ridgeTolerance)},
          {"hasStationaryPoint", c.hasStationaryPoint},
          {"stationaryCoded", c.hasStationaryPoint ? keyed(factors, c.stationaryCoded) : Json(nullptr)},
          {"stationaryNatural", c.hasStationaryPoint ? keyed(factors, c.stationaryNatural) : Json(nullptr)},
          {"predictedAtStationary", c.hasStationaryPoint ? number(c.predictedAtStationary) : Json(nullptr)},
          {"transformPower", number(c.power)},
          {"eigenvalues", std::move(eigenvalues)},
          {"eigenvectors", std::move(eigenvectors)},
          {"insideRegion", c.insideRegion},
          {"distanceFromCenter", c.hasStationaryPoint ? number(c.distanceFromCenter) : Json(nullptr)}};
}

Json toJson(const Goals& goals) {
  Json list = Json::array();
  for (const Goal& g : goals.goals)
    list.push_back({{"response", g.response},
                    {"kind", std::string(goalKindName(g.kind))},
                    {"low", number(g.low)},
                    {"high", number(g.high)},
                    {"target", number(g.target)},
                    {"shape", number(g.shape)},
                    {"shapeHigh", number(g.shapeHigh)},
                    {"importance", number(g.importance)},
                    {"weight", number(g.weight)},
                    {"unbounded", g.unbounded}});
  Json constraints = Json::array();
  for (const Constraint& c : goals.constraints)
    constraints.push_back({{"response", c.response}, {"low", number(c.low)}, {"high", number(c.high)}});
  Json region = Json::object();
  for (const auto& [name, range] : goals.region) region[name] = {number(range.first), number(range.second)};
  return {{"goals", std::move(list)}, {"constraints", std::move(constraints)}, {"region", std::move(region)}};
}

Json studyJson(const Study& study) {
  const Plan& plan = study.plan();
  const auto& responses = study.responses();
  Json factors = Json::array();
  for (const Factor& f : plan.factors) factors.push_back(toJson(f));
  Json responseList = Json::array();
  for (const Response& r : responses) responseList.push_back(toJson(r));
  Json runs = Json::array();
  for (std::size_t k = 0; k < plan.executionOrder.size(); ++k) {
    const int id = plan.executionOrder[k];
    const std::size_t row = static_cast<std::size_t>(id - 1);
    runs.push_back({{"run", id},
                    {"order", k + 1},
                    {"settings", keyedRow(plan.factors, plan.natural, row)},
                    {"coded", keyedRow(plan.factors, plan.coded, row)},
                    {"actual", keyedRow(plan.factors, plan.actual, row)},
                    {"block", plan.blocks[row]},
                    {"origin", std::string(runOriginName(plan.origins[row]))},
                    {"results", keyedRow(responses, study.results(), row)}});
  }
  Json missing = Json::array();
  for (const MissingResult& m : study.missing()) missing.push_back({{"run", m.runId}, {"response", m.response}});
  return {{"design", std::string(designKindName(plan.kind))},
          {"recipe", recipeJson(plan)},
          {"seed", plan.seed},
          {"extraCenterRuns", plan.extraCenterRuns},
          {"factors", std::move(factors)},
          {"responses", std::move(responseList)},
          {"runs", std::move(runs)},
          {"missing", std::move(missing)}};
}

Json toJson(const Verdict& verdict) {
  return {{"warning", verdict.warning}, {"text", verdict.text}, {"findings", verdict.findings}};
}

Json meaningsJson() {
  Json out = Json::object();
  for (const Meaning& m : statisticMeanings())
    out[std::string(m.key)] = {{"name", std::string(m.name)}, {"text", std::string(m.text)}};
  return out;
}

Json evaluationJson(const DesignEvaluation& e, const ModelTerms& model, const std::vector<Factor>& factors) {
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  Json terms = Json::array();
  Json correlations = Json::array();
  for (std::size_t c = 0; c < model.size(); ++c) {
    terms.push_back({{"term", quadratic::termLabel(names, model.indices[c])},
                     {"variance", number(e.coefficientVariance[c])},
                     {"vif", number(e.vif[c])},
                     {"power", number(e.power[c])}});
    Json row = Json::array();
    for (std::size_t d = 0; d < model.size(); ++d) row.push_back(number(e.correlations(c, d)));
    correlations.push_back(std::move(row));
  }
  Json spv = Json::array();
  for (const double v : e.fdsSpv) spv.push_back(number(v));
  return {{"model", formatModelTerms(model, names)},
          {"runs", e.runs},
          {"terms", e.terms},
          {"residualDf", e.residualDf},
          {"dEfficiency", number(e.dEfficiency)},
          {"aEfficiency", number(e.aEfficiency)},
          {"gEfficiency", number(e.gEfficiency)},
          {"iCriterion", number(e.iCriterion)},
          {"conditionNumber", number(e.conditionNumber)},
          {"coefficients", std::move(terms)},
          {"correlations", std::move(correlations)},
          {"fds", {{"fractions", e.fdsFractions}, {"spv", std::move(spv)}}}};
}

Json recipeJson(const Plan& plan) {
  Json added = Json::array();
  for (const Augmentation& a : plan.augmentations) added.push_back(detail::augmentationJson<Json>(a));
  return {{"options", detail::recipeJson<Json>(plan.design)}, {"augmentations", std::move(added)}};
}

Json analysisJson(const FitReport& report, const Canonical& canonical, const std::vector<Factor>& factors,
                  const Verdict& verdict) {
  Json json = toJson(report);
  json["canonical"] = toJson(canonical, factors);
  json["verdict"] = toJson(verdict);
  return json;
}

Json analysesJson(const Study& study, const Fit& fit, const std::vector<std::size_t>& responses,
                  const AnalysisOptions& options) {
  Json reports = Json::array();
  for (const std::size_t r : responses)
    reports.push_back(analysisJson(analyze(fit, r, options), canonicalAnalysis(fit, r), fit.factors,
                                   modelVerdict(study, fit, r, options)));
  return {{"responses", std::move(reports)}, {"meanings", meaningsJson()}};
}

Json optimumJson(const Fit& fit, const Optimum& optimum) {
  Json candidates = Json::array();
  for (std::size_t k = 0; k < optimum.candidates.size(); ++k) {
    const Candidate& c = optimum.candidates[k];
    candidates.push_back({{"rank", k + 1},
                          {"settings", keyed(fit.factors, c.natural)},
                          {"coded", keyed(fit.factors, c.coded)},
                          {"predictions", keyed(fit.responses, c.predictions)},
                          {"desirability", keyed(fit.responses, c.desirability)},
                          {"overall", number(c.overall)},
                          {"activeConstraints", c.activeConstraints}});
  }
  return {{"pointsSearched", optimum.pointsSearched},
          {"admissiblePoints", optimum.admissiblePoints},
          {"candidates", std::move(candidates)},
          {"verdict", optimum.candidates.empty() ? Json(nullptr) : toJson(optimumVerdict(fit, optimum))}};
}

Json robustnessJson(const Fit& fit, const Goals& goals, const Robustness& r) {
  Json sigma = Json::object();
  for (std::size_t k = 0; k < fit.responses.size() && k < r.sigma.size(); ++k)
    sigma[fit.responses[k].name] = {{"value", number(r.sigma[k])},
                                    {"source", k < r.sigmaSource.size() ? r.sigmaSource[k] : std::string()}};
  Json percentiles = Json::array();
  for (double p : r.percentiles) percentiles.push_back(number(p));
  Json settingPercentiles = Json::object();
  for (std::size_t f = 0; f < fit.factors.size() && f < r.settingPercentiles.rows(); ++f) {
    Json row = Json::array();
    for (std::size_t p = 0; p < r.settingPercentiles.cols(); ++p) row.push_back(number(r.settingPercentiles(f, p)));
    settingPercentiles[fit.factors[f].name] = std::move(row);
  }
  Json predictions = Json::object();
  for (std::size_t k = 0; k < fit.responses.size() && k < r.predictionPercentiles.rows(); ++k) {
    Json row = Json::array();
    for (std::size_t p = 0; p < r.predictionPercentiles.cols(); ++p) row.push_back(number(r.predictionPercentiles(k, p)));
    predictions[fit.responses[k].name] = {
        {"percentiles", std::move(row)},
        {"mean", k < r.predictionMean.size() ? number(r.predictionMean[k]) : Json(nullptr)},
        {"stdDev", k < r.predictionStdDev.size() ? number(r.predictionStdDev[k]) : Json(nullptr)}};
  }
  Json constraints = Json::array();
  for (std::size_t k = 0; k < goals.constraints.size() && k < r.constraintProbability.size(); ++k) {
    const Constraint& c = goals.constraints[k];
    constraints.push_back({{"response", c.response},
                           {"low", number(c.low)},
                           {"high", number(c.high)},
                           {"probability", number(r.constraintProbability[k])}});
  }
  Json optima = Json::object();
  for (std::size_t f = 0; f < fit.factors.size() && f < r.optima.cols(); ++f) {
    Json column = Json::array();
    for (std::size_t k = 0; k < r.optima.rows(); ++k) column.push_back(number(r.optima(k, f)));
    optima[fit.factors[f].name] = std::move(column);
  }
  return {{"nominal", keyed(fit.factors, r.nominal)},
          {"replicates", r.replicates},
          {"failedReplicates", r.failedReplicates},
          {"sigma", std::move(sigma)},
          {"percentiles", std::move(percentiles)},
          {"settingPercentiles", std::move(settingPercentiles)},
          {"predictionPercentiles", std::move(predictions)},
          {"constraints", std::move(constraints)},
          {"optima", std::move(optima)}};
}

Json predictionsJson(const Fit& fit, const Matrix& points, const std::vector<std::vector<Prediction>>& predictions,
                     double confidence) {
  Json list = Json::array();
  const std::vector<std::size_t> outside = extrapolatedPoints(fit, points);
  for (std::size_t p = 0; p < points.rows(); ++p) {
    Json byResponse = Json::object();
    for (std::size_t r = 0; r < fit.responses.size() && r < predictions.size(); ++r)
      byResponse[fit.responses[r].name] = toJson(predictions[r][p]);
    list.push_back({{"point", p + 1},
                    {"settings", keyedRow(fit.factors, points, p)},
                    {"extrapolates", std::binary_search(outside.begin(), outside.end(), p)},
                    {"predictions", std::move(byResponse)}});
  }
  return {{"confidence", confidence}, {"points", std::move(list)}};
}

std::string serialized(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

void printJson(std::ostream& out, const Json& value) { out << serialized(value, 2) << "\n"; }

std::string errorType(const std::exception& error) {
  if (dynamic_cast<const ParseError*>(&error)) return "ParseError";
  if (dynamic_cast<const FileChanged*>(&error)) return "FileChanged";
  if (dynamic_cast<const FileError*>(&error)) return "FileError";
  if (dynamic_cast<const UnknownName*>(&error)) return "UnknownName";
  if (dynamic_cast<const StateError*>(&error)) return "StateError";
  if (dynamic_cast<const InvalidArgument*>(&error)) return "InvalidArgument";
  return "Error";
}

Json errorJson(const std::exception& error, std::string_view type) {
  Json body = {{"type", std::string(type)}, {"message", error.what()}};
  if (const auto* layer = dynamic_cast<const Error*>(&error); layer != nullptr && !layer->field().empty())
    body["field"] = layer->field();
  if (const auto* file = dynamic_cast<const FileError*>(&error)) {
    body["path"] = file->path();
    body["notFound"] = file->notFound();
  }
  if (const auto* parse = dynamic_cast<const ParseError*>(&error)) {
    body["source"] = parse->source();
    body["line"] = parse->line();
    body["column"] = parse->column();
  }
  return {{"error", std::move(body)}};
}

Json modelsUsedJson(const Study& study) {
  Json out = Json::object();
  for (const Response& r : study.responses()) {
    const ModelChoice& c = study.modelChoice(r.name);
    out[r.name] = {{"terms", c.terms}, {"transform", c.transform}, {"power", number(c.power)}};
  }
  return out;
}

}  // namespace tavrin::json
