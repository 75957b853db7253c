// The study file: JSON with a format version, holding everything a Study
// holds. Doubles are written as their shortest round-trip text, so they
// read back bit for bit; a missing result is null. A file of a version this
// library reads may hold nothing it does not know: an unknown member would
// be dropped silently by the next save, so it is refused with its path.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <type_traits>

#include "study/file_write.h"
#include "study/internal.h"
#include "study/json_text.h"
#include "study/text.h"
#include "study/held_design.h"
#include "tavrin/detail/definition_json.h"
#include "tavrin/detail/recipe_json.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

using Json = nlohmann::ordered_json;  // keys in the order written: format and version first
using ReadJson = nlohmann::json;      // sorted keys: lookups in O(log n)

constexpr std::string_view kFormatName = "tavrin-study";
// Version 2 added the runs table (planned and actual settings, block,
// origin) and studies of imported data; version 3 the design's recipe
// (any design kind) and the runs added since; version 4 the model chosen per
// response ("models"); version 5 the folds among the runs added
// ("augmentations" entries with "fold"). Older files still load.
constexpr int kFormatVersion = 5;

// Reads the parts of the document, naming the path of whatever is wrong.
class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void fail(const std::string& path, const std::string& what) const {
    throw ParseError(source_, 0, 0, path + ": " + what);
  }

  // For the schema owner's readers, which take any callable that throws.
  auto failure() const {
    return [this](const std::string& path, const std::string& what) { fail(path, what); };
  }

  const ReadJson& member(const ReadJson& object, const std::string& path, const char* key) const {
    if (!object.is_object()) fail(path, "is not an object");
    const auto it = object.find(key);
    if (it == object.end()) fail(path, "has no \"" + std::string(key) + "\"");
    return *it;
  }

  std::string string(const ReadJson& object, const std::string& path, const char* key) const {
    const ReadJson& value = member(object, path, key);
    if (!value.is_string()) fail(path + "." + key, "is not a string");
    return value.get<std::string>();
  }

  double number(const ReadJson& value, const std::string& path) const {
    if (!value.is_number()) fail(path, "is not a number");
    return value.get<double>();
  }

  std::uint64_t unsignedNumber(const ReadJson& value, const std::string& path) const {
    if (!value.is_number_unsigned()) fail(path, "is not a whole number >= 0");
    return value.get<std::uint64_t>();
  }

  const ReadJson& array(const ReadJson& object, const std::string& path, const char* key) const {
    const ReadJson& value = member(object, path, key);
    if (!value.is_array()) fail(path + "." + key, "is not an array");
    return value;
  }

 private:
  std::string source_;
};

std::string at(const std::string& path, std::size_t index) { return path + "[" + std::to_string(index) + "]"; }

// One member of every entry of the runs table: rows x n settings.
Matrix runSettings(const Reader& in, const ReadJson* runs, std::size_t n, const char* key) {
  if (runs == nullptr) in.fail("runs", "is missing; a study of imported data keeps its runs there");
  Matrix out(runs->size(), n);
  for (std::size_t r = 0; r < runs->size(); ++r) {
    const std::string path = at("runs", r);
    const ReadJson& values = in.array((*runs)[r], path, key);
    if (values.size() != n) in.fail(path + "." + key, "has " + std::to_string(values.size()) + " settings for " + std::to_string(n) + " factors");
    for (std::size_t i = 0; i < n; ++i) {
      out(r, i) = in.number(values[i], at(path + "." + key, i));
      if (!std::isfinite(out(r, i))) in.fail(at(path + "." + key, i), "is not finite");
    }
  }
  return out;
}

std::uint64_t blockOf(const Reader& in, const ReadJson& run, const std::string& path) {
  const std::uint64_t block = in.unsignedNumber(in.member(run, path, "block"), path + ".block");
  if (block < 1 || block > 1000000) in.fail(path + ".block", "is not a block number 1..1000000");
  return block;
}

// The runs table of a version 2 file into a plan built from the same
// definition: its planned settings must be the plan's, bit for bit.
void readRunTable(const Reader& in, const ReadJson& runs, Plan& plan) {
  if (runs.size() != plan.runCount())
    in.fail("runs", "has " + std::to_string(runs.size()) + " entries; the plan has " + std::to_string(plan.runCount()) + " runs");
  const Matrix planned = runSettings(in, &runs, plan.factorCount(), "planned");
  plan.actual = runSettings(in, &runs, plan.factorCount(), "actual");
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const std::string path = at("runs", r);
    detail::refuseUnknownMembers(runs[r], path, {"id", "block", "origin", "planned", "actual"}, in.failure());
    if (in.unsignedNumber(in.member(runs[r], path, "id"), path + ".id") != r + 1)
      in.fail(path + ".id", "is not " + std::to_string(r + 1) + "; the runs table lists run ids 1..N in order");
    for (std::size_t i = 0; i < plan.factorCount(); ++i)
      if (std::bit_cast<std::uint64_t>(planned(r, i)) != std::bit_cast<std::uint64_t>(plan.natural(r, i)))
        in.fail(at(path + ".planned", i), text::formatDouble(planned(r, i)) + " is not the plan's setting " +
                                              text::formatDouble(plan.natural(r, i)));
    plan.blocks[r] = static_cast<int>(blockOf(in, runs[r], path));
    try {
      plan.origins[r] = parseRunOrigin(in.string(runs[r], path, "origin"));
    } catch (const InvalidArgument& e) {
      in.fail(path + ".origin", e.what());
    }
  }
}

// The blocks of the runs table's first `count` entries.
std::vector<int> tableBlocks(const Reader& in, const ReadJson& runs, std::size_t count) {
  std::vector<int> blocks;
  for (std::size_t r = 0; r < count; ++r) blocks.push_back(static_cast<int>(blockOf(in, runs[r], at("runs", r))));
  return blocks;
}

// A fold is made again from the runs before it; its record must describe
// those runs (the runs table then holds them bit for bit).
void replayFold(const Reader& in, const std::string& path, const Augmentation& a, Plan& plan) {
  FoldedRuns made;
  try {
    made = foldRuns(plan, *a.fold);
  } catch (const InvalidArgument& e) {
    in.fail(path + ".fold", e.what());
  }
  if (made.runs.runCount() != a.runs || made.runs.blocks.front() != a.block)
    in.fail(path, "records " + std::to_string(a.runs) + " runs in block " + std::to_string(a.block) + "; the fold makes " +
                      std::to_string(made.runs.runCount()) + " in block " + std::to_string(made.runs.blocks.front()));
  appendCodedRuns(plan, made.runs);
}

constexpr std::array<std::pair<ReductionOptions::Criterion, std::string_view>, 2> kCriteria = {
    {{ReductionOptions::PValue, "p"}, {ReductionOptions::Aicc, "aicc"}}};

Json modelChoiceJson(const ModelChoice& c) {
  std::string_view criterion;
  for (const auto& [value, name] : kCriteria)
    if (value == c.reduction.criterion) criterion = name;
  return {{"model", c.model},
          {"transform", c.transform},
          {"reduce", c.reduce},
          {"reduction",
           {{"criterion", criterion},
            {"pToRemove", c.reduction.pToRemove},
            {"forceIn", c.reduction.forceIn},
            {"forceOut", c.reduction.forceOut}}},
          {"terms", c.terms},
          {"power", std::isnan(c.power) ? Json(nullptr) : Json(c.power)}};
}

std::vector<std::string> labels(const Reader& in, const ReadJson& object, const std::string& path, const char* key) {
  std::vector<std::string> out;
  const ReadJson& list = in.array(object, path, key);
  for (std::size_t k = 0; k < list.size(); ++k) {
    if (!list[k].is_string()) in.fail(at(path + "." + key, k), "is not a term label");
    out.push_back(list[k].get<std::string>());
  }
  return out;
}

ModelChoice modelChoiceFromJson(const Reader& in, const ReadJson& value, const std::string& path) {
  detail::refuseUnknownMembers(value, path, {"model", "transform", "reduce", "reduction", "terms", "power"}, in.failure());
  ModelChoice c;
  c.model = in.string(value, path, "model");
  c.transform = in.string(value, path, "transform");
  const ReadJson& reduce = in.member(value, path, "reduce");
  if (!reduce.is_boolean()) in.fail(path + ".reduce", "is not true or false");
  c.reduce = reduce.get<bool>();
  const std::string reductionPath = path + ".reduction";
  const ReadJson& reduction = in.member(value, path, "reduction");
  detail::refuseUnknownMembers(reduction, reductionPath, {"criterion", "pToRemove", "forceIn", "forceOut"}, in.failure());
  const std::string criterion = in.string(reduction, reductionPath, "criterion");
  const auto known = std::find_if(kCriteria.begin(), kCriteria.end(), [&](const auto& k) { return k.second == criterion; });
  if (known == kCriteria.end()) in.fail(reductionPath + ".criterion", "is not \"p\" or \"aicc\"");
  c.reduction.criterion = known->first;
  c.reduction.pToRemove = in.number(in.member(reduction, reductionPath, "pToRemove"), reductionPath + ".pToRemove");
  c.reduction.forceIn = labels(in, reduction, reductionPath, "forceIn");
  c.reduction.forceOut = labels(in, reduction, reductionPath, "forceOut");
  c.terms = in.string(value, path, "terms");
  const ReadJson& power = in.member(value, path, "power");
  c.power = power.is_null() ? std::numeric_limits<double>::quiet_NaN() : in.number(power, path + ".power");
  return c;
}

// The "models" member: the chosen model of each response named, checked
// against the study's factors.
std::vector<ModelChoice> readModelChoices(const Reader& in, const ReadJson& models, const std::vector<Factor>& factors,
                                          const std::vector<Response>& responses) {
  if (!models.is_object()) in.fail("models", "is not an object");
  std::vector<std::string> names;
  names.reserve(responses.size());
  for (const Response& r : responses) names.push_back(r.name);
  std::vector<ModelChoice> out(responses.size());
  for (const auto& [name, value] : models.items()) {
    const auto it = std::find(names.begin(), names.end(), name);
    const std::string path = "models." + name;
    if (it == names.end()) in.fail(path, "names no response of the study");
    ModelChoice c = modelChoiceFromJson(in, value, path);
    try {
      validateModelChoice(c, factors, path);
    } catch (const Error& e) {
      in.fail(path, e.what());
    }
    out[static_cast<std::size_t>(it - names.begin())] = std::move(c);
  }
  return out;
}

}  // namespace

std::string Study::toJson() const {
  Json doc = Json::object();
  doc["format"] = kFormatName;
  doc["version"] = kFormatVersion;
  doc["kind"] = designKindName(plan_.kind);
  Json factors = Json::array();
  for (const Factor& f : plan_.factors) factors.push_back(detail::factorJson<Json>(f));
  doc["factors"] = std::move(factors);
  Json responses = Json::array();
  for (const Response& r : responses_) responses.push_back(detail::responseJson<Json>(r));
  doc["responses"] = std::move(responses);
  doc["seed"] = plan_.seed;
  doc["extraCenterRuns"] = plan_.extraCenterRuns;
  doc["executionOrder"] = plan_.executionOrder;
  // One row per run id, one entry per response; null when missing.
  Json results = Json::array();
  for (std::size_t r = 0; r < results_.rows(); ++r) {
    Json row = Json::array();
    for (std::size_t j = 0; j < results_.cols(); ++j) {
      const double v = results_(r, j);
      row.push_back(std::isnan(v) ? Json(nullptr) : Json(v));
    }
    results.push_back(std::move(row));
  }
  doc["results"] = std::move(results);
  Json runs = Json::array();
  for (std::size_t r = 0; r < plan_.runCount(); ++r) {
    const auto row = [&](const Matrix& m) { return std::vector<double>(m.row(r), m.row(r) + m.cols()); };
    runs.push_back({{"id", r + 1},
                    {"block", plan_.blocks[r]},
                    {"origin", runOriginName(plan_.origins[r])},
                    {"planned", row(plan_.natural)},
                    {"actual", row(plan_.actual)}});
  }
  doc["runs"] = std::move(runs);
  doc["design"] = detail::recipeJson<Json>(plan_.design);
  Json added = Json::array();
  for (const Augmentation& a : plan_.augmentations) added.push_back(detail::augmentationJson<Json>(a));
  doc["augmentations"] = std::move(added);
  // The chosen models; a response keeping the full quadratic is left out.
  Json models = Json::object();
  for (std::size_t j = 0; j < choices_.size(); ++j)
    if (!choices_[j].isDefault()) models[responses_[j].name] = modelChoiceJson(choices_[j]);
  doc["models"] = std::move(models);
  return doc.dump(2) + "\n";
}

Study Study::fromJson(std::string_view text, const std::string& source) {
  const ReadJson doc = parseJsonText(text, source);
  const Reader in(source);
  if (!doc.is_object() || in.string(doc, "study", "format") != kFormatName)
    in.fail("study", "is not a tavrin study file (\"format\" must be \"" + std::string(kFormatName) + "\")");
  const ReadJson& version = in.member(doc, "study", "version");
  if (!version.is_number_integer() || version.get<long long>() < 1)
    in.fail("study.version", "is not a format version (a whole number >= 1)");
  if (version.get<long long>() > kFormatVersion)
    in.fail("study.version", std::to_string(version.get<long long>()) + " is newer than this library reads (" +
                                 std::to_string(kFormatVersion) + ")");
  // Paths of top-level members are their keys: "extra", not "study.extra".
  const long long fileVersion = version.get<long long>();
  const auto refuseTopLevel = [&in](const std::string& path, const std::string& what) { in.fail(path.substr(1), what); };
  if (fileVersion >= 4)
    detail::refuseUnknownMembers(doc, "", {"format", "version", "kind", "factors", "responses", "seed", "extraCenterRuns",
                                           "executionOrder", "results", "runs", "design", "augmentations", "models"},
                                 refuseTopLevel);
  else if (fileVersion == 3)
    detail::refuseUnknownMembers(doc, "", {"format", "version", "kind", "factors", "responses", "seed", "extraCenterRuns",
                                           "executionOrder", "results", "runs", "design", "augmentations"},
                                 refuseTopLevel);
  else if (fileVersion == 2)
    detail::refuseUnknownMembers(doc, "", {"format", "version", "kind", "factors", "responses", "seed", "extraCenterRuns",
                                           "executionOrder", "results", "runs"}, refuseTopLevel);
  else
    detail::refuseUnknownMembers(doc, "", {"format", "version", "kind", "factors", "responses", "seed", "extraCenterRuns",
                                           "executionOrder", "results"}, refuseTopLevel);

  DesignKind kind;
  try {
    kind = parseDesignKind(in.string(doc, "study", "kind"));
  } catch (const InvalidArgument& e) {
    in.fail("study.kind", e.what());
  }
  std::vector<Factor> factors = detail::factorsFromJson(in.member(doc, "study", "factors"), "factors", in.failure());
  std::vector<Response> responses =
      detail::responsesFromJson(in.member(doc, "study", "responses"), "responses", in.failure());
  PlanOptions options;
  options.seed = in.unsignedNumber(in.member(doc, "study", "seed"), "seed");
  const std::uint64_t extra = in.unsignedNumber(in.member(doc, "study", "extraCenterRuns"), "extraCenterRuns");
  options.extraCenterRuns = static_cast<int>(std::min<std::uint64_t>(extra, 1u << 20));

  const ReadJson* runTable = nullptr;
  if (fileVersion >= 2) runTable = &in.array(doc, "study", "runs");
  std::vector<Augmentation> augmentations;
  if (fileVersion >= 3) {
    options.design = detail::recipeFromJson(in.member(doc, "study", "design"), "design", in.failure());
    const ReadJson& added = in.array(doc, "study", "augmentations");
    for (std::size_t k = 0; k < added.size(); ++k) {
      augmentations.push_back(detail::augmentationFromJson(added[k], at("augmentations", k), in.failure()));
      if (augmentations.back().fold && fileVersion < 5)
        in.fail(at("augmentations", k) + ".fold", "is not a member of a version " + std::to_string(fileVersion) + " file");
    }
  }
  std::size_t addedRuns = 0;
  for (const Augmentation& a : augmentations) addedRuns += a.runs;
  const std::size_t tableRuns = runTable ? runTable->size() : 0;
  if (addedRuns > tableRuns)
    in.fail("augmentations", "add " + std::to_string(addedRuns) + " runs; the runs table has " + std::to_string(tableRuns));
  Study study;
  try {
    if (kind == DesignKind::Optimal) {
      // Found by search, an optimal design is not made again: its runs are the table's.
      const Matrix planned = runSettings(in, runTable, factors.size(), "planned");
      Matrix own(planned.rows() - addedRuns, factors.size());
      std::copy(planned.data(), planned.data() + own.rows() * own.cols(), own.data());
      validateDefinition(kind, factors, responses);
      study.plan_ = planOfRuns(kind, std::move(factors), options, own);
      study.responses_ = std::move(responses);
    } else if (kind == DesignKind::Imported) {
      // The data are the runs before those added; a fold is made again from them, in their blocks.
      if (options.extraCenterRuns != 0) in.fail("extraCenterRuns", "is not 0; imported data have no extra centre runs");
      const Matrix planned = runSettings(in, runTable, factors.size(), "planned");
      Matrix data(planned.rows() - addedRuns, factors.size());
      std::copy(planned.data(), planned.data() + data.rows() * data.cols(), data.data());
      const Matrix noResults(data.rows(), responses.size(), std::numeric_limits<double>::quiet_NaN());
      study = fromData(std::move(factors), std::move(responses), data, noResults, tableBlocks(in, *runTable, data.rows()));
      study.plan_.seed = *options.seed;
    } else {
      study = Study(kind, std::move(factors), std::move(responses), options);
    }
  } catch (const InvalidArgument& e) {
    in.fail("study", e.what());
  }
  if (addedRuns > 0) {
    const Matrix planned = runSettings(in, runTable, study.plan_.factorCount(), "planned");
    for (std::size_t k = 0; k < augmentations.size(); ++k) {
      const Augmentation& a = augmentations[k];
      const std::size_t first = study.plan_.runCount();
      if (first + a.runs > planned.rows()) in.fail("runs", "has fewer entries than the design and the runs added");
      if (a.fold) {
        replayFold(in, at("augmentations", k), a, study.plan_);
        continue;
      }
      Matrix rows(a.runs, planned.cols());
      std::copy(planned.row(first), planned.row(first) + a.runs * planned.cols(), rows.data());
      appendRuns(study.plan_, rows, a.block, RunOrigin::Augmented);
    }
  }
  study.plan_.augmentations = std::move(augmentations);
  study.results_ = Matrix(study.plan_.runCount(), study.responses_.size(), std::numeric_limits<double>::quiet_NaN());
  if (runTable) readRunTable(in, *runTable, study.plan_);

  const std::size_t runs = study.plan_.runCount();
  const ReadJson& order = in.array(doc, "study", "executionOrder");
  if (order.size() != runs)
    in.fail("executionOrder", "has " + std::to_string(order.size()) + " entries; the plan has " +
                                  std::to_string(runs) + " runs");
  std::vector<int> executionOrder;
  std::set<std::uint64_t> seen;
  for (std::size_t k = 0; k < runs; ++k) {
    const std::uint64_t id = in.unsignedNumber(order[k], at("executionOrder", k));
    if (id < 1 || id > runs || !seen.insert(id).second)
      in.fail(at("executionOrder", k), "is not a run id 1.." + std::to_string(runs) + " given once");
    executionOrder.push_back(static_cast<int>(id));
  }
  study.plan_.executionOrder = std::move(executionOrder);

  const ReadJson& results = in.array(doc, "study", "results");
  if (results.size() != runs)
    in.fail("results", "has " + std::to_string(results.size()) + " rows; the plan has " + std::to_string(runs) + " runs");
  const std::size_t m = study.responses_.size();
  for (std::size_t r = 0; r < runs; ++r) {
    const ReadJson& row = results[r];
    if (!row.is_array() || row.size() != m)
      in.fail(at("results", r), "is not an array of " + std::to_string(m) + " results (null for missing)");
    for (std::size_t j = 0; j < m; ++j)
      study.results_(r, j) = row[j].is_null() ? std::numeric_limits<double>::quiet_NaN()
                                              : in.number(row[j], at(at("results", r), j));
  }
  if (fileVersion >= 4) {
    study.choices_ = readModelChoices(in, in.member(doc, "study", "models"), study.factors(), study.responses_);
    if (std::all_of(study.choices_.begin(), study.choices_.end(), [](const ModelChoice& c) { return c.isDefault(); }))
      study.choices_.clear();
  }
  return study;
}

void Study::save(const std::string& path) const { replaceFileWithText(path, toJson()); }

Study Study::load(const std::string& path) { return fromJson(readFileText(path, "the study file"), path); }

}  // namespace tavrin
