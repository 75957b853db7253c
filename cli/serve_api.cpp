#include "serve_api.h"

#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "json_io.h"
#include "plot_json.h"
#include "report.h"
#include "model_commands.h"
#include "tavrin/model_building.h"
#include "tavrin/analysis.h"
#include "tavrin/detail/definition_json.h"
#include "tavrin/detail/recipe_json.h"
#include "tavrin/optimum.h"

namespace tavrin::cli {
namespace {

using json::Json;

// A request the API cannot read: not JSON, or a member of the wrong type;
// its field is the member's path.
class RequestError : public Error {
 public:
  using Error::Error;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// The largest grid a surface request may ask for, per side.
constexpr int kMaxSurfaceSteps = 201;
// Robustness replicates and search points the API accepts per request.
constexpr unsigned kMaxReplicates = 5000;

ApiReply reply(const Json& body, int status = 200) { return {status, json::serialized(body), "application/json"}; }

ApiReply refusal(int status, const std::exception& error, std::string_view type) {
  return reply(json::errorJson(error, type), status);
}

// Runs an operation and turns what it throws into a 4xx (bad request) or
// 5xx (the server's own file) answer with the layer's message.
template <typename Operation>
ApiReply answer(Operation&& operation) {
  try {
    return operation();
  } catch (const RequestError& e) {
    return refusal(400, e, "BadRequest");
  } catch (const nlohmann::json::exception& e) {
    return refusal(400, std::runtime_error(std::string("the request does not have the expected form: ") + e.what()),
                   "BadRequest");
  } catch (const StateError& e) {
    return refusal(409, e, json::errorType(e));
  } catch (const FileChanged& e) {
    return refusal(409, e, json::errorType(e));
  } catch (const FileError& e) {
    return refusal(500, e, json::errorType(e));
  } catch (const Error& e) {
    return refusal(422, e, json::errorType(e));
  }
}

Json parseBody(std::string_view body) {
  Json parsed = Json::parse(body, nullptr, false);
  if (parsed.is_discarded()) throw RequestError("the request body is not valid JSON");
  if (!parsed.is_object()) throw RequestError("the request body must be a JSON object");
  return parsed;
}

// Member `key` of `object`; null when absent.
const Json& member(const Json& object, const char* key) {
  static const Json null;
  const auto it = object.find(key);
  return it == object.end() ? null : *it;
}

// A number, with null read as `missing` (NaN, an infinite bound).
double numberOf(const Json& value, const std::string& what, double missing = kNaN) {
  if (value.is_null()) return missing;
  if (!value.is_number()) throw RequestError(what + " must be a number or null", what);
  return value.get<double>();
}

std::string textOf(const Json& value, const std::string& what, bool required = true) {
  if (value.is_null() && !required) return {};
  if (!value.is_string()) throw RequestError(what + " must be a string", what);
  return value.get<std::string>();
}

const Json& arrayOf(const Json& value, const std::string& what) {
  if (!value.is_array()) throw RequestError(what + " must be an array", what);
  return value;
}

long long integerOf(const Json& value, const std::string& what, long long low, long long high) {
  if (!value.is_number_integer() || value.get<long long>() < low || value.get<long long>() > high)
    throw RequestError(what + " must be a whole number in " + std::to_string(low) + ".." + std::to_string(high), what);
  return value.get<long long>();
}

struct Definition {
  DesignKind kind = DesignKind::BoxBehnken;
  std::vector<Factor> factors;
  std::vector<Response> responses;
  PlanOptions options;
};

// The definition's factors and responses, read by their schema's owner.
[[noreturn]] void badRequest(const std::string& path, const std::string& what) { throw RequestError(path + ": " + what, path); }

std::vector<Factor> factorsOf(const Json& list) { return detail::factorsFromJson(list, "factors", badRequest); }

std::vector<Response> responsesOf(const Json& list) { return detail::responsesFromJson(list, "responses", badRequest); }

std::vector<std::string> namesOf(const std::vector<Factor>& factors) {
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  return names;
}

// Runs `parse` and gives what it refuses the field `field` unless the layer named one.
template <typename Parse>
auto withField(const std::string& field, Parse&& parse) {
  try {
    return parse();
  } catch (const UnknownName& e) {
    throw UnknownName(e.what(), e.field().empty() ? field : e.field());
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(e.what(), e.field().empty() ? field : e.field());
  }
}

std::optional<int> countOf(const Json& options, const char* key) {
  const Json& value = member(options, key);
  if (value.is_null()) return std::nullopt;
  return static_cast<int>(integerOf(value, key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The design's options {alpha, inscribed, center-runs, ..., model, runs,
// criterion, constraint: [text]}, keyed by the names the layer gives its
// options and their faults; the layer parses and judges the values.
DesignRecipe recipeOf(const Json& options, const std::vector<Factor>& factors) {
  DesignRecipe recipe;
  if (options.is_null()) return recipe;
  if (!options.is_object()) throw RequestError("options must be an object", "options");
  DesignOptions& o = recipe.options;
  if (const Json& alpha = member(options, "alpha"); !alpha.is_null())
    o.alpha = withField("alpha", [&] { return parseAlpha(textOf(alpha, "alpha")); });
  if (const Json& inscribed = member(options, "inscribed"); !inscribed.is_null()) {
    if (!inscribed.is_boolean()) throw RequestError("inscribed must be true, false or null", "inscribed");
    o.inscribed = inscribed.get<bool>();
  }
  o.centerRuns = countOf(options, "center-runs");
  o.axialCenterRuns = countOf(options, "axial-center-runs");
  o.blocks = countOf(options, "blocks");
  o.fraction = countOf(options, "fraction");
  o.levels = countOf(options, "levels");
  recipe.model = textOf(member(options, "model"), "model", false);
  if (const Json& runs = member(options, "runs"); !runs.is_null())
    recipe.runs = static_cast<std::size_t>(integerOf(runs, "runs", 0, std::numeric_limits<int>::max()));
  if (const std::string c = textOf(member(options, "criterion"), "criterion", false); !c.empty())
    recipe.criterion = parseCriterion(c);
  if (const Json& list = member(options, "constraint"); !list.is_null())
    for (const Json& text : arrayOf(list, "constraint"))
      recipe.constraints.push_back(parseConstraint(textOf(text, "constraint"), namesOf(factors)));
  return recipe;
}

// A seed as a whole number or as its decimal text (which a page keeps
// exact past 2^53), read by the layer; none when null.
std::optional<std::uint64_t> seedOf(const Json& seed) {
  if (seed.is_null()) return std::nullopt;
  if (seed.is_string()) return parseSeed(seed.get<std::string>());
  if (!seed.is_number_unsigned()) throw RequestError("seed must be a whole number from 0, its text or null", "seed");
  return seed.get<std::uint64_t>();
}

// The definition's shape; the layer judges its values. The design's
// options are read only when `withRecipe`.
Definition definitionOf(const Json& body, bool withRecipe = true) {
  Definition d;
  d.factors = factorsOf(member(body, "factors"));
  d.responses = responsesOf(member(body, "responses"));
  d.options.seed = seedOf(member(body, "seed"));
  if (const Json& extra = member(body, "extraCenterRuns"); !extra.is_null())
    d.options.extraCenterRuns = static_cast<int>(integerOf(extra, "extraCenterRuns", -1000000, 1000000));
  if (withRecipe) d.options.design = recipeOf(member(body, "options"), d.factors);
  return d;
}

// The field an error is about: its own path, else `fallback`.
std::string fieldOf(const Error& error, const std::string& fallback) {
  return error.field().empty() ? fallback : error.field();
}

Json definitionFaults(const Json& body) {
  Json fields = Json::object();
  const auto note = [&](const std::string& field, const std::string& message) {
    if (!fields.contains(field)) fields[field] = message;
  };
  DesignKind kind = DesignKind::BoxBehnken;
  try {
    kind = parseDesignKind(textOf(member(body, "design"), "design"));
  } catch (const InvalidArgument& e) {
    note(fieldOf(e, "design"), e.what());
  }
  Json rest = body;
  rest.erase("seed");
  Definition d = definitionOf(rest, false);
  try {
    d.options.seed = seedOf(member(body, "seed"));
    d.options.design = recipeOf(member(body, "options"), d.factors);
  } catch (const InvalidArgument& e) {
    note(fieldOf(e, "design"), e.what());
  }
  // Each half on its own, so that a fault among the factors does not hide
  // one among the responses.
  const std::vector<Factor> oneFactor = {{"x", 0.0, 1.0, ""}};
  const std::vector<Response> oneResponse = {{"y", ""}};
  try {
    validateDefinition(fields.contains("design") ? DesignKind::BoxBehnken : kind, d.factors, oneResponse);
  } catch (const InvalidArgument& e) {
    note(fieldOf(e, "factors"), e.what());
  }
  try {
    validateDefinition(DesignKind::BoxBehnken, oneFactor, d.responses);
  } catch (const InvalidArgument& e) {
    note(fieldOf(e, "responses"), e.what());
  }
  if (fields.empty()) {
    try {
      makePlan(kind, d.factors, d.options);
    } catch (const InvalidArgument& e) {
      note(fieldOf(e, "design"), e.what());
    }
  }
  return fields;
}

// The study as json::studyJson gives it, with its design's constraints and
// its seed as the text the definition form edits.
Json studyReply(const Study& study) {
  Json out = json::studyJson(study);
  Json texts = Json::array();
  for (const LinearConstraint& c : study.plan().design.constraints)
    texts.push_back(formatConstraint(c, namesOf(study.factors())));
  out["constraintTexts"] = std::move(texts);
  out["seedText"] = std::to_string(study.plan().seed);
  return out;
}

Json designsJson() {
  Json list = Json::array();
  for (const DesignKindInfo& k : generatedDesignKinds())
    list.push_back({{"name", std::string(k.name)},
                    {"summary", std::string(k.summary)},
                    {"factorCounts", k.factorCounts},
                    {"options", k.options}});
  Json alphas = Json::array();
  for (const AlphaKind k : {AlphaKind::Rotatable, AlphaKind::Orthogonal, AlphaKind::Spherical, AlphaKind::Face})
    alphas.push_back(detail::alphaName(k));
  Json criteria = Json::array();
  for (const Criterion c : {Criterion::D, Criterion::I}) criteria.push_back(std::string(criterionName(c)));
  return {{"designs", std::move(list)}, {"alpha", std::move(alphas)}, {"criterion", std::move(criteria)}};
}

// Missing study: the page has nothing to show until one is created or opened.
[[noreturn]] void noStudy() { throw StateError("there is no study yet: create one or open a study file"); }

Matrix gridPoints(const Fit& fit, std::size_t x, std::size_t y, const std::vector<double>& at, int steps,
                  std::vector<double>& xs, std::vector<double>& ys) {
  const auto line = [steps](const Factor& f) {
    std::vector<double> values(static_cast<std::size_t>(steps));
    for (int k = 0; k < steps; ++k) values[static_cast<std::size_t>(k)] = toNatural(f, -1.0 + 2.0 * k / (steps - 1));
    return values;
  };
  xs = line(fit.factors[x]);
  ys = line(fit.factors[y]);
  Matrix points(xs.size() * ys.size(), fit.factorCount());
  for (std::size_t j = 0; j < ys.size(); ++j)
    for (std::size_t i = 0; i < xs.size(); ++i) {
      double* p = points.row(j * xs.size() + i);
      std::copy(at.begin(), at.end(), p);
      p[x] = xs[i];
      p[y] = ys[j];
    }
  return points;
}

Goals goalsOf(const Json& body, const Fit& fit) {
  Goals goals;
  const Json& list = member(body, "goals");
  for (std::size_t k = 0; k < arrayOf(list, "goals.goals").size(); ++k) {
    const Json& g = list[k];
    const std::string what = "goals[" + std::to_string(k) + "]";
    if (!g.is_object()) throw RequestError(what + " must be an object", what);
    Goal goal;
    goal.response = textOf(member(g, "response"), what + ".response");
    goal.kind = parseGoalKind(textOf(member(g, "kind"), what + ".kind"));
    goal.low = numberOf(member(g, "low"), what + ".low");
    goal.high = numberOf(member(g, "high"), what + ".high");
    goal.target = numberOf(member(g, "target"), what + ".target");
    goal.shape = numberOf(member(g, "shape"), what + ".shape", 1.0);
    goal.shapeHigh = numberOf(member(g, "shapeHigh"), what + ".shapeHigh", 1.0);
    goal.importance = numberOf(member(g, "importance"), what + ".importance", 1.0);
    goal.weight = numberOf(member(g, "weight"), what + ".weight", 1.0);
    if (const Json& unbounded = member(g, "unbounded"); !unbounded.is_null()) {
      if (!unbounded.is_boolean())
        throw RequestError(what + ".unbounded must be true, false or null", what + ".unbounded");
      goal.unbounded = unbounded.get<bool>();
    }
    fit.responseIndex(goal.response);
    goals.goals.push_back(goal);
  }
  const Json& constraints = member(body, "constraints");
  if (!constraints.is_null()) {
    for (std::size_t k = 0; k < arrayOf(constraints, "goals.constraints").size(); ++k) {
      const Json& c = constraints[k];
      const std::string what = "constraints[" + std::to_string(k) + "]";
      if (!c.is_object()) throw RequestError(what + " must be an object", what);
      goals.constraints.push_back({textOf(member(c, "response"), what + ".response"),
                                   numberOf(member(c, "low"), what + ".low", -kInf),
                                   numberOf(member(c, "high"), what + ".high", kInf)});
      fit.responseIndex(goals.constraints.back().response);
    }
  }
  const Json& region = member(body, "region");
  if (!region.is_null()) {
    if (!region.is_object()) throw RequestError("goals.region must be an object", "region");
    for (const auto& [name, range] : region.items()) {
      if (!range.is_array() || range.size() != 2) throw RequestError("goals.region." + name + " must be [low, high]", "region." + name);
      goals.region[name] = {numberOf(range[0], "goals.region." + name + "[0]"),
                            numberOf(range[1], "goals.region." + name + "[1]")};
    }
  }
  return goals;
}

RobustnessOptions robustnessOptionsOf(const Json& robust, const Fit& fit) {
  if (!robust.is_object()) throw RequestError("robust must be an object or null", "robust");
  RobustnessOptions options;
  if (const Json& k = member(robust, "replicates"); !k.is_null())
    options.replicates = static_cast<unsigned>(integerOf(k, "robust.replicates", 1, kMaxReplicates));
  if (const Json& seed = member(robust, "seed"); !seed.is_null()) {
    if (!seed.is_number_unsigned()) throw RequestError("robust.seed must be a whole number from 0", "robust.seed");
    options.seed = seed.get<std::uint64_t>();
  }
  if (const Json& sigma = member(robust, "sigma"); !sigma.is_null()) {
    if (!sigma.is_object()) throw RequestError("robust.sigma must be an object of numbers by response", "robust.sigma");
    for (const auto& [name, value] : sigma.items()) {
      if (value.is_null()) continue;
      fit.responseIndex(name);
      options.sigma[name] = numberOf(value, "robust.sigma." + name);
    }
  }
  return options;
}

}  // namespace

Workbench::Workbench(std::optional<std::string> path) : path_(std::move(path)) {
  if (!path_ || !std::filesystem::exists(*path_)) return;
  StampedStudy read = loadStamped(*path_);
  study_ = std::move(read.study);
  stamp_ = read.stamp;
}

void Workbench::replace(Study study, bool saved) {
  study_ = std::move(study);
  fit_.reset();
  saved_ = saved;
}

std::shared_ptr<const Fit> Workbench::currentFit() const {
  std::lock_guard lock(mutex_);
  return fitLocked();
}

std::shared_ptr<const Fit> Workbench::fitLocked() const {
  if (!study_) noStudy();
  if (!fit_) fit_ = std::make_shared<const Fit>(study_->fit());
  return fit_;
}

ApiReply Workbench::state() const {
  std::lock_guard lock(mutex_);
  Json file = path_ ? Json(std::filesystem::path(*path_).filename().string()) : Json(nullptr);
  return reply({{"file", std::move(file)},
                {"saved", saved_},
                {"study", study_ ? studyReply(*study_) : Json(nullptr)}});
}

ApiReply Workbench::validate(std::string_view body) const {
  return answer([&] {
    const Json fields = definitionFaults(parseBody(body));
    return reply({{"ok", fields.empty()}, {"fields", fields}});
  });
}

ApiReply Workbench::designs() const { return reply(designsJson()); }

ApiReply Workbench::evaluate(std::string_view body) const {
  return answer([&] {
    const Json request = parseBody(body);
    Definition d = definitionOf(request);
    // The design does not depend on the responses: one stands in for them.
    const Study study(parseDesignKind(textOf(member(request, "design"), "design")), std::move(d.factors),
                      {{"y", ""}}, d.options);
    const std::string model = textOf(member(request, "model"), "model", false);
    const ModelTerms terms = model.empty() ? study.designModel()
                                           : withField("evaluation.model", [&] {
                                               return parseModelTerms(model, namesOf(study.factors()));
                                             });
    const DesignEvaluation evaluation = withField("evaluation.model", [&] { return study.evaluate(model); });
    return reply({{"evaluation", json::evaluationJson(evaluation, terms, study.factors())}});
  });
}

ApiReply Workbench::create(std::string_view body) {
  return answer([&] {
    const Json request = parseBody(body);
    Definition d = definitionOf(request);
    Study study(parseDesignKind(textOf(member(request, "design"), "design")), std::move(d.factors),
                std::move(d.responses), d.options);
    std::lock_guard lock(mutex_);
    replace(std::move(study), false);
    return reply({{"study", studyReply(*study_)}});
  });
}

ApiReply Workbench::enterResults(std::string_view body) {
  return answer([&] {
    const Json request = parseBody(body);
    const Json& cells = arrayOf(member(request, "results"), "results");
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    Study changed = *study_;
    for (std::size_t k = 0; k < cells.size(); ++k) {
      const std::string what = "results[" + std::to_string(k) + "]";
      if (!cells[k].is_object()) throw RequestError(what + " must be an object", what);
      const long long run = integerOf(member(cells[k], "run"), what + ".run", std::numeric_limits<int>::min(),
                                      std::numeric_limits<int>::max());
      changed.setResult(static_cast<int>(run), textOf(member(cells[k], "response"), what + ".response"),
                        numberOf(member(cells[k], "value"), what + ".value"));
    }
    replace(std::move(changed), false);
    return reply({{"study", studyReply(*study_)}});
  });
}

ApiReply Workbench::enterResultsCsv(std::string_view body, const std::string& source, bool recordActual) {
  return answer([&] {
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    Study changed = *study_;
    std::istringstream in{std::string(body)};
    changed.readResults(in, source, recordActual ? SettingsColumns::RecordActual : SettingsColumns::Check);
    replace(std::move(changed), false);
    return reply({{"study", studyReply(*study_)}});
  });
}

ApiReply Workbench::runSheet() const {
  return answer([&] {
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    return ApiReply{200, study_->runSheet(), "text/csv; charset=utf-8"};
  });
}

ApiReply Workbench::fit() const {
  return answer([&] {
    std::shared_ptr<const Fit> fit;
    std::optional<Study> study;
    {
      std::lock_guard lock(mutex_);
      fit = fitLocked();
      study = study_;
    }
    std::vector<std::size_t> all(fit->responses.size());
    for (std::size_t r = 0; r < all.size(); ++r) all[r] = r;
    return reply(json::analysesJson(*study, *fit, all));
  });
}

ApiReply Workbench::model(std::string_view body) {
  return answer([&] {
    const Json request = parseBody(body);
    const std::string response = textOf(member(request, "response"), "response");
    ModelRequest build;
    if (const std::string m = textOf(member(request, "model"), "model", false); !m.empty()) build.model = m;
    if (const std::string t = textOf(member(request, "transform"), "transform", false); !t.empty()) build.transform = t;
    build.reduce = member(request, "reduce").is_boolean() && member(request, "reduce").get<bool>();
    build.reduction.criterion = member(request, "aicc").is_boolean() && member(request, "aicc").get<bool>()
                                    ? ReductionOptions::Aicc
                                    : ReductionOptions::PValue;
    build.reduction.pToRemove = numberOf(member(request, "pToRemove"), "pToRemove", build.reduction.pToRemove);
    for (const char* key : {"forceIn", "forceOut"}) {
      const Json& list = member(request, key);
      if (list.is_null()) continue;
      std::vector<std::string>& terms = std::string_view(key) == "forceIn" ? build.reduction.forceIn : build.reduction.forceOut;
      for (const Json& t : arrayOf(list, key)) terms.push_back(textOf(t, key));
    }
    const bool save = member(request, "save").is_boolean() && member(request, "save").get<bool>();
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    Study changed = *study_;
    const ModelBuild result = save ? chooseModel(changed, response, build) : buildModel(modelData(changed, response), build);
    if (save) replace(std::move(changed), false);
    return reply({{"build", buildJson(response, result, build)}, {"models", json::modelsUsedJson(*study_)}, {"saved", saved_}});
  });
}

ApiReply Workbench::surface(std::string_view body) const {
  return answer([&] {
    const Json request = parseBody(body);
    std::shared_ptr<const Fit> fit;
    std::size_t x = 0, y = 0;
    {
      std::lock_guard lock(mutex_);
      fit = fitLocked();
      x = study_->factorIndex(textOf(member(request, "x"), "x"));
      y = study_->factorIndex(textOf(member(request, "y"), "y"));
    }
    const std::size_t response = fit->responseIndex(textOf(member(request, "response"), "response"));
    if (x == y) throw InvalidArgument("the surface needs two different factors; both are \"" + fit->factors[x].name + "\"");
    const Json& steps = member(request, "steps");
    const int n = steps.is_null() ? 41 : static_cast<int>(integerOf(steps, "steps", 2, kMaxSurfaceSteps));
    // Factors not on the axes sit at `at`, or at the centre of their range.
    std::vector<double> at(fit->factorCount());
    const Json& given = member(request, "at");
    for (std::size_t k = 0; k < at.size(); ++k) {
      const Factor& f = fit->factors[k];
      at[k] = given.is_object() && given.contains(f.name) ? numberOf(given[f.name], "at." + f.name) : toNatural(f, 0.0);
      if (!std::isfinite(at[k])) throw InvalidArgument("at." + f.name + ": the setting must be a finite number");
    }
    std::vector<double> xs, ys;
    const Matrix values = predict(*fit, gridPoints(*fit, x, y, at, n, xs, ys));
    Json z = Json::array();
    for (std::size_t j = 0; j < ys.size(); ++j) {
      Json row = Json::array();
      for (std::size_t i = 0; i < xs.size(); ++i) row.push_back(json::number(values(j * xs.size() + i, response)));
      z.push_back(std::move(row));
    }
    Json settings = Json::object();
    for (std::size_t k = 0; k < at.size(); ++k) settings[fit->factors[k].name] = at[k];
    return reply({{"response", fit->responses[response].name},
                  {"x", {{"factor", fit->factors[x].name}, {"values", xs}}},
                  {"y", {{"factor", fit->factors[y].name}, {"values", ys}}},
                  {"at", std::move(settings)},
                  {"z", std::move(z)}});
  });
}

ApiReply Workbench::optimize(std::string_view body) const {
  return answer([&] {
    const Json request = parseBody(body);
    const std::shared_ptr<const Fit> fit = currentFit();
    const Json& goalsJson = member(request, "goals");
    if (!goalsJson.is_object()) throw RequestError("goals must be an object", "goals");
    Goals goals = goalsOf(goalsJson, *fit);
    SearchOptions search;
    if (const Json& points = member(request, "points"); !points.is_null())
      search.points = static_cast<unsigned>(integerOf(points, "points", 1, 65536));
    const Json& robust = member(request, "robust");
    const RobustnessOptions robustOptions = robust.is_null() ? RobustnessOptions{}
                                                             : robustnessOptionsOf(robust, *fit);
    goals = completeGoals(*fit, goals, search);
    const Optimum optimum = tavrin::optimize(*fit, goals, search);
    Json result = {{"goals", json::toJson(goals)}, {"optimum", json::optimumJson(*fit, optimum)}};
    if (!robust.is_null()) {
      result["robustness"] = json::robustnessJson(*fit, goals, robustness(*fit, goals, optimum, robustOptions));
      result["robustness"]["seed"] = robustOptions.seed;
    }
    return reply(result);
  });
}

ApiReply Workbench::plot(std::string_view body) const {
  return answer([&] {
    const Json given = parseBody(body);
    json::PlotRequest request;
    request.kind = textOf(member(given, "kind"), "kind");
    request.response = textOf(member(given, "response"), "response", false);
    request.x = textOf(member(given, "x"), "x", false);
    request.y = textOf(member(given, "y"), "y", false);
    request.by = textOf(member(given, "by"), "by", false);
    if (const Json& at = member(given, "at"); !at.is_null()) {
      if (!at.is_object()) throw RequestError("at must be an object of settings by factor name", "at");
      for (const auto& [name, value] : at.items()) request.at[name] = numberOf(value, "at." + name);
    }
    if (const Json& steps = member(given, "steps"); !steps.is_null())
      request.steps = static_cast<std::size_t>(integerOf(steps, "steps", 2, kMaxSurfaceSteps));
    if (const Json& level = member(given, "confidence"); !level.is_null()) request.confidence = numberOf(level, "confidence");
    if (const Json& replicates = member(given, "replicates"); !replicates.is_null())
      request.replicates = static_cast<unsigned>(integerOf(replicates, "replicates", 1, 10000));
    if (const Json& seed = member(given, "seed"); !seed.is_null())
      request.seed = static_cast<std::uint64_t>(integerOf(seed, "seed", 0, std::numeric_limits<long long>::max()));
    std::optional<Study> study;
    {
      std::lock_guard lock(mutex_);
      if (!study_) noStudy();
      study = *study_;
    }
    if (const Json& goals = member(given, "goals"); !goals.is_null()) {
      if (!goals.is_object()) throw RequestError("goals must be an object", "goals");
      request.goals = goalsOf(goals, study->fit());
    }
    return reply(json::plotJson(*study, request));
  });
}

ApiReply Workbench::report(std::string_view body) const {
  return answer([&] {
    const Json request = parseBody(body);
    std::optional<Study> study;
    {
      std::lock_guard lock(mutex_);
      if (!study_) noStudy();
      study = study_;
    }
    report::ReportRequest wanted;
    const Json& goals = member(request, "goals");
    const bool hasGoals = goals.is_object() && (!member(goals, "goals").empty() || !member(goals, "constraints").empty());
    if (hasGoals || !member(request, "robust").is_null()) {
      const std::shared_ptr<const Fit> fit = currentFit();
      if (hasGoals) wanted.goals = goalsOf(goals, *fit);
      if (const Json& robust = member(request, "robust"); !robust.is_null()) wanted.robustness = robustnessOptionsOf(robust, *fit);
    }
    if (const Json& points = member(request, "points"); !points.is_null())
      wanted.search.points = static_cast<unsigned>(integerOf(points, "points", 1, 65536));
    return ApiReply{200, report::html(*study, wanted), "text/html; charset=utf-8"};
  });
}

ApiReply Workbench::studyFile() const {
  return answer([&] {
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    return ApiReply{200, study_->toJson(), "application/json"};
  });
}

ApiReply Workbench::open(std::string_view body, const std::string& source) {
  return answer([&] {
    Study study = Study::fromJson(body, source);
    std::lock_guard lock(mutex_);
    replace(std::move(study), false);
    return reply({{"study", studyReply(*study_)}});
  });
}

ApiReply Workbench::save() {
  return answer([&] {
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    if (!path_)
      throw StateError("the workbench was started without a study file: download the study instead, or start "
                       "it as `tavrin serve study.json`");
    stamp_ = saveIfUnchanged(*study_, *path_, stamp_);
    saved_ = true;
    return reply({{"file", std::filesystem::path(*path_).filename().string()}, {"saved", true}});
  });
}

ApiReply Workbench::reload() {
  return answer([&] {
    std::lock_guard lock(mutex_);
    if (!path_) throw StateError("the workbench was started without a study file: there is nothing to reload");
    StampedStudy read = loadStamped(*path_);
    replace(std::move(read.study), true);
    stamp_ = read.stamp;
    return reply({{"study", studyReply(*study_)}});
  });
}

ApiReply Workbench::saveAs(std::string_view body) {
  return answer([&] {
    const std::string name = textOf(member(parseBody(body), "name"), "name");
    std::lock_guard lock(mutex_);
    if (!study_) noStudy();
    if (!path_)
      throw StateError("the workbench was started without a study file: download the study instead");
    const std::filesystem::path file(name);
    if (name.empty() || file.filename().string() != name || name.front() == '.' || file.extension() != ".json" ||
        name.find('\0') != std::string::npos)
      throw InvalidArgument("\"" + name + "\" is not a new study file's name: give a plain file name ending in "
                            "\".json\", saved beside \"" + std::filesystem::path(*path_).filename().string() + "\"");
    const std::string target = (std::filesystem::path(*path_).parent_path() / file).string();
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(target, error)))
      throw InvalidArgument("\"" + name + "\" already exists: choose another name");
    stamp_ = saveIfUnchanged(*study_, target, FileStamp{});
    path_ = target;
    saved_ = true;
    return reply({{"file", name}, {"saved", true}});
  });
}

}  // namespace tavrin::cli
