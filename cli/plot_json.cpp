#include "plot_json.h"

#include <algorithm>

#include "tavrin/error.h"
#include "tavrin/views.h"

namespace tavrin::json {
namespace {

Json numbers(const std::vector<double>& values) {
  Json out = Json::array();
  for (const double v : values) out.push_back(number(v));
  return out;
}

Json rows(const Matrix& m) {
  Json out = Json::array();
  for (std::size_t i = 0; i < m.rows(); ++i) out.push_back(numbers(std::vector<double>(m.row(i), m.row(i) + m.cols())));
  return out;
}

Json setting(const Fit& fit, const std::vector<double>& values) {
  Json out = Json::object();
  for (std::size_t f = 0; f < fit.factorCount(); ++f) out[fit.factors[f].name] = number(values[f]);
  return out;
}

Json axis(const Factor& f, const std::vector<double>& values) {
  return {{"name", f.name}, {"unit", f.unit}, {"values", numbers(values)}};
}

std::size_t factorOf(const Study& study, const std::string& name, std::size_t fallback) {
  if (!name.empty()) return study.factorIndex(name);
  return std::min(fallback, study.factors().size() - 1);
}

// The second factor of a pair: the one named, else the first that is not `x`.
std::size_t otherFactor(const Study& study, const std::string& name, std::size_t x) {
  if (!name.empty()) return study.factorIndex(name);
  return x == 0 && study.factors().size() > 1 ? 1 : 0;
}

std::size_t responseOf(const Study& study, const std::string& name) {
  return name.empty() ? 0 : study.responseIndex(name);
}

std::vector<double> heldSetting(const Study& study, const PlotRequest& request,
                                const std::vector<double>& base) {
  std::vector<double> held = base;
  for (const auto& [name, value] : request.at) held[study.factorIndex(name)] = value;
  return held;
}

bool hasGoal(const PlotRequest& request) { return !request.goals.goals.empty(); }

Optimum bestOptimum(const Fit& fit, const Goals& goals, unsigned threads) {
  SearchOptions search;
  search.threads = threads;
  return optimize(fit, goals, search);
}

Json profilerJson(const Study& study, const Fit& fit, const PlotRequest& request) {
  AnalysisOptions analysis;
  analysis.confidence = request.confidence;
  const views::Profiler p = views::profiler(fit, heldSetting(study, request, views::centreSetting(fit)),
                                            request.goals, request.steps, analysis);
  Json factors = Json::array();
  for (std::size_t f = 0; f < fit.factorCount(); ++f)
    factors.push_back({{"name", fit.factors[f].name},
                       {"unit", fit.factors[f].unit},
                       {"low", number(p.traces[f * fit.responses.size()].x.front())},
                       {"high", number(p.traces[f * fit.responses.size()].x.back())}});
  Json responses = Json::array();
  for (const Response& r : fit.responses) responses.push_back(toJson(r));
  Json atSetting = Json::object();
  for (std::size_t r = 0; r < fit.responses.size(); ++r) atSetting[fit.responses[r].name] = toJson(p.atSetting[r]);
  Json traces = Json::array();
  for (const views::ProfilerTrace& t : p.traces)
    traces.push_back({{"factor", fit.factors[t.factor].name},
                      {"response", fit.responses[t.response].name},
                      {"x", numbers(t.x)},
                      {"value", numbers(t.value)},
                      {"lower", numbers(t.lower)},
                      {"upper", numbers(t.upper)}});
  Json desirability = Json::array();
  for (const views::DesirabilityTrace& d : p.desirability)
    desirability.push_back({{"factor", fit.factors[d.factor].name}, {"x", numbers(d.x)}, {"overall", numbers(d.overall)}});
  return {{"kind", "profiler"},
          {"factors", factors},
          {"responses", responses},
          {"setting", setting(fit, p.setting)},
          {"confidence", p.confidence},
          {"bandNote", p.bandNote.empty() ? Json(nullptr) : Json(p.bandNote)},
          {"atSetting", atSetting},
          {"traces", traces},
          {"desirability", desirability},
          {"overallAtSetting", number(p.overallAtSetting)}};
}

Json surfaceJson(const Study& study, const Fit& fit, const PlotRequest& request) {
  const std::size_t x = factorOf(study, request.x, 0);
  const std::size_t y = otherFactor(study, request.y, x);
  const std::size_t r = responseOf(study, request.response);
  const views::Slice s = views::slice(fit, r, x, y, heldSetting(study, request, views::centreSetting(fit)),
                                      request.steps);
  Json runs = Json::array();
  for (std::size_t k = 0; k < s.runs.runIds.size(); ++k)
    runs.push_back({{"runId", s.runs.runIds[k]},
                    {"x", number(s.runs.x[k])},
                    {"y", number(s.runs.y[k])},
                    {"observed", number(s.runs.observed[k])}});
  return {{"kind", "surface"},
          {"response", fit.responses[r].name},
          {"unit", fit.responses[r].unit},
          {"x", axis(fit.factors[x], s.grid.x)},
          {"y", axis(fit.factors[y], s.grid.y)},
          {"held", setting(fit, s.grid.held)},
          {"z", rows(s.value)},
          {"runs", runs}};
}

Json overlayOf(const Fit& fit, const views::Overlay& o) {
  Json limits = Json::array();
  for (const views::Limit& l : o.limits)
    limits.push_back({{"response", fit.responses[l.response].name},
                      {"unit", fit.responses[l.response].unit},
                      {"level", number(l.level)},
                      {"side", l.lower ? "low" : "high"},
                      {"z", rows(l.value)}});
  Json feasible = Json::array();
  for (std::size_t i = 0; i < o.grid.y.size(); ++i) {
    Json row = Json::array();
    for (std::size_t j = 0; j < o.grid.x.size(); ++j) row.push_back(static_cast<int>(o.feasible[i * o.grid.x.size() + j]));
    feasible.push_back(std::move(row));
  }
  Json runs = Json::array();
  for (std::size_t k = 0; k < o.runs.runIds.size(); ++k)
    runs.push_back({{"runId", o.runs.runIds[k]}, {"x", number(o.runs.x[k])}, {"y", number(o.runs.y[k])}});
  return {{"kind", "overlay"},
          {"x", axis(fit.factors[o.grid.xFactor], o.grid.x)},
          {"y", axis(fit.factors[o.grid.yFactor], o.grid.y)},
          {"held", setting(fit, o.grid.held)},
          {"limits", limits},
          {"feasible", feasible},
          {"feasibleFraction", number(o.feasibleFraction)},
          {"optimum", o.optimum.empty() ? Json(nullptr) : setting(fit, o.optimum)},
          {"runs", runs}};
}

// The overlay, held at the best optimum when goals give one.
Json overlayJson(const Study& study, const Fit& fit, const PlotRequest& request, const Optimum* optimum) {
  const std::size_t x = factorOf(study, request.x, 0);
  const std::size_t y = otherFactor(study, request.y, x);
  const bool atOptimum = optimum != nullptr && !optimum->candidates.empty();
  const std::vector<double> base = atOptimum ? optimum->candidates.front().natural : views::centreSetting(fit);
  return overlayOf(fit, views::overlay(fit, request.goals.constraints, x, y, heldSetting(study, request, base),
                                       optimum, request.steps));
}

Json interactionJson(const Study& study, const Fit& fit, const PlotRequest& request) {
  const std::size_t x = factorOf(study, request.x, 0);
  const std::size_t by = otherFactor(study, request.by.empty() ? request.y : request.by, x);
  const std::size_t r = responseOf(study, request.response);
  const views::Interaction in =
      views::interaction(fit, r, x, by, heldSetting(study, request, views::centreSetting(fit)), request.steps);
  const Factor& b = fit.factors[by];
  return {{"kind", "interaction"},
          {"response", fit.responses[r].name},
          {"unit", fit.responses[r].unit},
          {"factor", {{"name", fit.factors[x].name}, {"unit", fit.factors[x].unit}}},
          {"by", {{"name", b.name}, {"unit", b.unit}, {"low", number(in.byLow)}, {"high", number(in.byHigh)}}},
          {"x", numbers(in.x)},
          {"atLow", numbers(in.atLow)},
          {"atHigh", numbers(in.atHigh)}};
}

Json residualsJson(const Study& study, const PlotRequest& request) {
  const std::size_t r = responseOf(study, request.response);
  const views::Residuals res = views::residuals(study, study.responses()[r].name);
  Json runs = Json::array();
  for (const views::ResidualPoint& p : res.runs) {
    Json settings = Json::object();
    for (std::size_t f = 0; f < res.factors.size(); ++f) settings[res.factors[f]] = number(p.settings[f]);
    runs.push_back({{"runId", p.runId},
                    {"order", p.order},
                    {"observed", number(p.observed)},
                    {"fitted", number(p.fitted)},
                    {"residual", number(p.residual)},
                    {"externallyStudentized", number(p.externallyStudentized)},
                    {"normalScore", number(p.normalScore)},
                    {"leverage", number(p.leverage)},
                    {"cooksDistance", number(p.cooksDistance)},
                    {"outlier", p.outlier},
                    {"settings", settings}});
  }
  Json factors = Json::array();
  for (const Factor& f : study.factors()) factors.push_back(toJson(f));
  return {{"kind", "residuals"}, {"response", res.response}, {"unit", res.unit}, {"alpha", res.alpha},
          {"factors", factors},  {"runs", runs}};
}

Json boxCoxJson(const Study& study, const PlotRequest& request) {
  const std::size_t r = responseOf(study, request.response);
  const views::BoxCoxProfile b = views::boxCoxProfile(study, study.responses()[r].name, request.model);
  return {{"kind", "boxcox"},
          {"response", b.response},
          {"unit", b.unit},
          {"model", b.model},
          {"lambda", numbers(b.lambda)},
          {"logLikelihood", numbers(b.logLikelihood)},
          {"best", number(b.best)},
          {"bestLogLikelihood", number(b.bestLogLikelihood)},
          {"lower", number(b.lower)},
          {"upper", number(b.upper)},
          {"cut", number(b.cut)},
          {"recommended", number(b.recommended)},
          {"recommendation", b.recommendation}};
}

Json fdsJson(const Study& study) {
  const views::PredictionVariance v = views::predictionVariance(study.plan());
  return {{"kind", "fds"},           {"fractions", numbers(v.fractions)}, {"spv", numbers(v.spv)},
          {"maxSpv", number(v.maxSpv)}, {"meanSpv", number(v.meanSpv)}, {"terms", v.terms},
          {"correlations", rows(v.correlations)}};
}

Json robustnessJson(const Study& study, const Fit& fit, const PlotRequest& request) {
  if (!hasGoal(request))
    throw InvalidArgument("cannot draw the robustness cloud: it relocates the optimum, so give at least one goal", "goals");
  const Goals goals = completeGoals(fit, request.goals);
  const Optimum optimum = bestOptimum(fit, goals, request.threads);
  RobustnessOptions options;
  options.replicates = request.replicates;
  options.seed = request.seed;
  options.threads = request.threads;
  const Robustness result = robustness(fit, goals, optimum, options);
  const std::size_t x = factorOf(study, request.x, 0);
  const std::size_t y = otherFactor(study, request.y, x);
  const views::RobustnessCloud c = views::robustnessCloud(fit, result, x, y);
  const bool limits = !goals.constraints.empty();
  return {{"kind", "robustness"},
          {"x", {{"name", fit.factors[x].name}, {"unit", fit.factors[x].unit}}},
          {"y", {{"name", fit.factors[y].name}, {"unit", fit.factors[y].unit}}},
          {"replicates", result.replicates},
          {"failedReplicates", result.failedReplicates},
          {"cloud", {{"x", numbers(c.x)}, {"y", numbers(c.y)}}},
          {"nominal", {{"x", number(c.nominalX)}, {"y", number(c.nominalY)}}},
          {"box",
           {{"lowX", number(c.boxLowX)},
            {"highX", number(c.boxHighX)},
            {"lowY", number(c.boxLowY)},
            {"highY", number(c.boxHighY)},
            {"lowPercentile", number(c.lowPercentile)},
            {"highPercentile", number(c.highPercentile)}}},
          {"overlay", limits ? overlayJson(study, fit, request, &optimum) : Json(nullptr)}};
}

}  // namespace

const std::vector<std::string_view>& plotKinds() {
  static const std::vector<std::string_view> kinds = {"profiler",  "surface", "overlay",   "interaction",
                                                      "residuals", "boxcox",  "fds",         "robustness"};
  return kinds;
}

Json plotJson(const Study& study, const PlotRequest& request) {
  const std::string& kind = request.kind;
  if (std::find(plotKinds().begin(), plotKinds().end(), kind) == plotKinds().end()) {
    std::string names;
    for (const std::string_view k : plotKinds()) names += (names.empty() ? "" : ", ") + std::string(k);
    throw InvalidArgument("unknown plot kind \"" + kind + "\"; the kinds are " + names, "kind");
  }
  if (kind == "residuals") return residualsJson(study, request);
  if (kind == "boxcox") return boxCoxJson(study, request);
  if (kind == "fds") return fdsJson(study);
  const Fit fit = study.fit();
  if (kind == "profiler") return profilerJson(study, fit, request);
  if (kind == "surface") return surfaceJson(study, fit, request);
  if (kind == "interaction") return interactionJson(study, fit, request);
  if (kind == "robustness") return robustnessJson(study, fit, request);
  if (!hasGoal(request)) return overlayJson(study, fit, request, nullptr);
  const Optimum optimum = bestOptimum(fit, completeGoals(fit, request.goals), request.threads);
  return overlayJson(study, fit, request, &optimum);
}

}  // namespace tavrin::json
