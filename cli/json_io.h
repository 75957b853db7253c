// The JSON of the study layer's values, one schema for every front end:
// the command line's --json outputs and any JSON API built on the layer.
//
// Conventions:
//  - numbers in full double precision (they read back to the same double);
//  - NaN and infinities are null: "not estimable", "no goal", "no bound";
//  - settings, predictions and results are objects keyed by factor or
//    response name, in the order of the study's definition;
//  - runs are listed in execution order, each with its run id.
#pragma once

#include <exception>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tavrin/analysis.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"
#include "tavrin/verdict.h"

namespace tavrin::json {

using Json = nlohmann::ordered_json;

// A finite double, or null.
Json number(double value);

Json toJson(const Factor& factor);    // {name, low, high, unit}
Json toJson(const Response& response);  // {name, unit}
Json toJson(const Estimate& estimate);  // {value, stdError, t, p, lower, upper}
Json toJson(const Prediction& prediction);
Json toJson(const LackOfFit& lackOfFit);
Json toJson(const FitReport& report);
// The stationary point and eigenvectors keyed by the fit's factor names.
Json toJson(const Canonical& canonical, const std::vector<Factor>& factors);
Json toJson(const Goals& goals);

// The definition and the runs in execution order with their settings and
// results (null where missing), plus the list of missing results.
Json studyJson(const Study& study);

Json toJson(const Verdict& verdict);  // {warning, text, findings}
// Every statistic's meaning keyed as the outputs name it: {key: {name, text}}.
Json meaningsJson();
// The design evaluation of `model` ({model, runs, terms, residualDf,
// efficiencies, iCriterion, conditionNumber, terms: [{term, variance, vif,
// power}], correlations, fds: {fractions, spv}}, numbers in full precision).
Json evaluationJson(const DesignEvaluation& evaluation, const ModelTerms& model, const std::vector<Factor>& factors);
// The recipe of the study's design and the runs added since.
Json recipeJson(const Plan& plan);

// A fit report with its canonical analysis under "canonical" and its verdict under "verdict".
Json analysisJson(const FitReport& report, const Canonical& canonical, const std::vector<Factor>& factors,
                  const Verdict& verdict);
// {"responses": [analysisJson of each response index in `responses`], "meanings": meaningsJson()}.
Json analysesJson(const Study& study, const Fit& fit, const std::vector<std::size_t>& responses,
                  const AnalysisOptions& options = {});

// The optima, best first, ranked from 1, and the verdict on the best (null without one).
Json optimumJson(const Fit& fit, const Optimum& optimum);

// The robustness of the best optimum; constraint probabilities are paired
// with the constraints of `goals`, in their order.
Json robustnessJson(const Fit& fit, const Goals& goals, const Robustness& robustness);

// Predictions with intervals, points numbered from 1: predictions[r][p] is
// response r at point p.
Json predictionsJson(const Fit& fit, const Matrix& points, const std::vector<std::vector<Prediction>>& predictions,
                     double confidence);

// `value` as JSON text, indented by `indent` spaces (-1: on one line). Bytes
// that are not UTF-8 (a file name in another encoding, quoted in an error
// message) become U+FFFD; nlohmann's default would throw.
std::string serialized(const Json& value, int indent = -1);
// Writes `value` as every --json output does: indented by two, then a line end.
void printJson(std::ostream& out, const Json& value);

// The name of an error's class ("ParseError", "UnknownName", ...; "Error"
// for anything else).
std::string errorType(const std::exception& error);
// {"error": {type, message[, path][, source, line, column]}}.
Json errorJson(const std::exception& error, std::string_view type);

// Each response's model as the study fits it: {R: {terms, transform, power}}.
Json modelsUsedJson(const Study& study);

}  // namespace tavrin::json
