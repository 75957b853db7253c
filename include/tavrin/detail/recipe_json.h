// The JSON of a design recipe and of an augmentation: one schema for the
// study file, the command line's --json and the workbench's API. Templates
// over the JSON type, as definition_json.h. Only the members a recipe sets
// are written:
//
//   recipe: {"alpha": "rotatable"|"orthogonal"|"spherical"|"face"|number,
//            "inscribed": bool, "centerRuns", "axialCenterRuns", "blocks",
//            "fraction", "levels": whole numbers, "model": string,
//            "runs": whole number, "criterion": "d"|"i",
//            "constraints": [{"a": [numbers], "b": number}]}
//   augmentation: {"runs", "criterion", "model", "seed", "block"}
//   fold:         {"runs", "seed", "block", "fold": {"alpha", "centerRuns"}}
//
// Reading refuses an unknown member and a value of the wrong form with its
// path; values are left to the checks of the layer.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "tavrin/design_recipe.h"
#include "tavrin/detail/definition_json.h"

namespace tavrin::detail {

inline const char* alphaName(AlphaKind kind) noexcept {
  switch (kind) {
    case AlphaKind::Rotatable: return "rotatable";
    case AlphaKind::Orthogonal: return "orthogonal";
    case AlphaKind::Spherical: return "spherical";
    case AlphaKind::Face: return "face";
    case AlphaKind::Value: return "";
  }
  return "";
}

template <class Json>
Json alphaJson(const Alpha& alpha) {
  return alpha.kind == AlphaKind::Value ? Json(alpha.value) : Json(alphaName(alpha.kind));
}

template <class Json>
Json recipeJson(const DesignRecipe& recipe) {
  Json out = Json::object();
  const DesignOptions& o = recipe.options;
  if (o.alpha) out["alpha"] = alphaJson<Json>(*o.alpha);
  if (o.inscribed) out["inscribed"] = *o.inscribed;
  if (o.centerRuns) out["centerRuns"] = *o.centerRuns;
  if (o.axialCenterRuns) out["axialCenterRuns"] = *o.axialCenterRuns;
  if (o.blocks) out["blocks"] = *o.blocks;
  if (o.fraction) out["fraction"] = *o.fraction;
  if (o.levels) out["levels"] = *o.levels;
  if (!recipe.model.empty()) out["model"] = recipe.model;
  if (recipe.runs != 0) out["runs"] = recipe.runs;
  if (recipe.criterion) out["criterion"] = std::string(criterionName(*recipe.criterion));
  if (!recipe.constraints.empty()) {
    Json list = Json::array();
    for (const LinearConstraint& c : recipe.constraints) list.push_back(Json{{"a", c.a}, {"b", c.b}});
    out["constraints"] = std::move(list);
  }
  return out;
}

template <class Json>
Json augmentationJson(const Augmentation& a) {
  if (a.fold) {
    Json fold = Json::object();
    if (a.fold->alpha) fold["alpha"] = alphaJson<Json>(*a.fold->alpha);
    if (a.fold->centerRuns) fold["centerRuns"] = *a.fold->centerRuns;
    return Json{{"runs", a.runs}, {"seed", a.seed}, {"block", a.block}, {"fold", std::move(fold)}};
  }
  return Json{{"runs", a.runs}, {"criterion", std::string(criterionName(a.criterion))}, {"model", a.model},
              {"seed", a.seed}, {"block", a.block}};
}

template <class Json, class Fail>
long long wholeMember(const Json& object, const std::string& path, const char* key, Fail&& fail) {
  const Json& value = object.at(key);
  if (!value.is_number_integer()) fail(path + "." + key, "is not a whole number");
  return value.template get<long long>();
}

// A count option: in int's range, or refused with its path.
template <class Json, class Fail>
std::optional<int> countMember(const Json& object, const std::string& path, const char* key, Fail&& fail) {
  if (!object.contains(key)) return std::nullopt;
  const long long value = wholeMember(object, path, key, fail);
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    fail(path + "." + key, "is out of range");
  return static_cast<int>(value);
}

template <class Json, class Fail>
std::string textMember(const Json& object, const std::string& path, const char* key, Fail&& fail) {
  if (!object.contains(key)) return {};
  const Json& value = object.at(key);
  if (!value.is_string()) fail(path + "." + key, "is not a string");
  return value.template get<std::string>();
}

template <class Json, class Fail>
Criterion criterionMember(const Json& object, const std::string& path, Fail&& fail) {
  try {
    return parseCriterion(textMember(object, path, "criterion", fail));
  } catch (const InvalidArgument& e) {
    fail(path + ".criterion", e.what());
  }
  return Criterion::D;
}

template <class Json, class Fail>
std::vector<LinearConstraint> constraintsMember(const Json& object, const std::string& path, Fail&& fail) {
  std::vector<LinearConstraint> out;
  if (!object.contains("constraints")) return out;
  const Json& list = object.at("constraints");
  if (!list.is_array()) fail(path + ".constraints", "is not an array");
  for (std::size_t c = 0; c < list.size(); ++c) {
    const std::string at = path + ".constraints[" + std::to_string(c) + "]";
    const Json& item = list[c];
    if (!item.is_object()) fail(at, "is not an object");
    refuseUnknownMembers(item, at, {"a", "b"}, fail);
    if (!item.contains("a") || !item.at("a").is_array()) fail(at + ".a", "is not an array of numbers");
    if (!item.contains("b") || !item.at("b").is_number()) fail(at + ".b", "is not a number");
    LinearConstraint constraint;
    for (const auto& v : item.at("a")) {
      if (!v.is_number()) fail(at + ".a", "is not an array of numbers");
      constraint.a.push_back(v.template get<double>());
    }
    constraint.b = item.at("b").template get<double>();
    out.push_back(std::move(constraint));
  }
  return out;
}

template <class Json, class Fail>
std::optional<Alpha> alphaMember(const Json& object, const std::string& path, Fail&& fail) {
  if (!object.contains("alpha")) return std::nullopt;
  const Json& alpha = object.at("alpha");
  if (alpha.is_number()) return Alpha{AlphaKind::Value, alpha.template get<double>()};
  if (!alpha.is_string()) fail(path + ".alpha", "is neither a number nor a name");
  try {
    return parseAlpha(alpha.template get<std::string>());
  } catch (const InvalidArgument& e) {
    fail(path + ".alpha", e.what());
  }
  return std::nullopt;
}

template <class Json, class Fail>
DesignRecipe recipeFromJson(const Json& object, const std::string& path, Fail&& fail) {
  if (!object.is_object()) fail(path, "is not an object");
  refuseUnknownMembers(object, path,
                       {"alpha", "inscribed", "centerRuns", "axialCenterRuns", "blocks", "fraction", "levels", "model",
                        "runs", "criterion", "constraints"},
                       fail);
  DesignRecipe recipe;
  DesignOptions& o = recipe.options;
  o.alpha = alphaMember(object, path, fail);
  if (object.contains("inscribed")) {
    if (!object.at("inscribed").is_boolean()) fail(path + ".inscribed", "is not true or false");
    o.inscribed = object.at("inscribed").template get<bool>();
  }
  o.centerRuns = countMember(object, path, "centerRuns", fail);
  o.axialCenterRuns = countMember(object, path, "axialCenterRuns", fail);
  o.blocks = countMember(object, path, "blocks", fail);
  o.fraction = countMember(object, path, "fraction", fail);
  o.levels = countMember(object, path, "levels", fail);
  recipe.model = textMember(object, path, "model", fail);
  if (object.contains("runs")) {
    const long long runs = wholeMember(object, path, "runs", fail);
    if (runs < 0) fail(path + ".runs", "is negative");
    recipe.runs = static_cast<std::size_t>(runs);
  }
  if (object.contains("criterion")) recipe.criterion = criterionMember(object, path, fail);
  recipe.constraints = constraintsMember(object, path, fail);
  return recipe;
}

// A fold's "fold" member: the alpha and the centre runs it placed.
template <class Json, class Fail>
FoldOptions foldMember(const Json& object, const std::string& path, Fail&& fail) {
  if (!object.is_object()) fail(path, "is not an object");
  refuseUnknownMembers(object, path, {"alpha", "centerRuns"}, fail);
  for (const char* key : {"alpha", "centerRuns"})
    if (!object.contains(key)) fail(path, "has no \"" + std::string(key) + "\"");
  return {alphaMember(object, path, fail), countMember(object, path, "centerRuns", fail)};
}

template <class Json, class Fail>
Augmentation augmentationFromJson(const Json& object, const std::string& path, Fail&& fail) {
  if (!object.is_object()) fail(path, "is not an object");
  const bool fold = object.contains("fold");
  if (fold) refuseUnknownMembers(object, path, {"runs", "seed", "block", "fold"}, fail);
  else refuseUnknownMembers(object, path, {"runs", "criterion", "model", "seed", "block"}, fail);
  for (const char* key : {"runs", "seed", "block"})
    if (!object.contains(key)) fail(path, "has no \"" + std::string(key) + "\"");
  Augmentation a;
  const long long runs = wholeMember(object, path, "runs", fail);
  if (runs < 1) fail(path + ".runs", "is not a count of runs >= 1");
  a.runs = static_cast<std::size_t>(runs);
  if (fold) a.fold = foldMember(object.at("fold"), path + ".fold", fail);
  else {
    for (const char* key : {"criterion", "model"})
      if (!object.contains(key)) fail(path, "has no \"" + std::string(key) + "\"");
    a.criterion = criterionMember(object, path, fail);
    a.model = textMember(object, path, "model", fail);
  }
  if (!object.at("seed").is_number_unsigned()) fail(path + ".seed", "is not a whole number >= 0");
  a.seed = object.at("seed").template get<std::uint64_t>();
  const std::optional<int> block = countMember(object, path, "block", fail);
  if (*block < 1) fail(path + ".block", "is not a block number >= 1");
  a.block = *block;
  return a;
}

}  // namespace tavrin::detail
