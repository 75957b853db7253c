// The JSON of a factor and of a response: one schema for the study file,
// the command line's --json and the workbench's API. Templates over the
// JSON type (nlohmann's json or ordered_json), so this header needs no JSON
// library of its own.
//
//   factor:   {"name": string, "low": number, "high": number, "unit": string}
//   response: {"name": string, "unit": string}
//
// Reading is strict about form and leaves values to validateDefinition:
// a null low or high reads as NaN (which validation refuses as not
// finite), an absent or null unit as none, and any other member is refused
// with its path.
#pragma once

#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/study.h"

namespace tavrin::detail {

template <class Json>
Json factorJson(const Factor& factor) {
  const auto bound = [](double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); };
  return Json{{"name", factor.name}, {"low", bound(factor.low)}, {"high", bound(factor.high)}, {"unit", factor.unit}};
}

template <class Json>
Json responseJson(const Response& response) {
  return Json{{"name", response.name}, {"unit", response.unit}};
}

// Calls fail(path, what), which must throw, for the first member of `object`
// that is not one of `known`.
template <class Json, class Fail>
void refuseUnknownMembers(const Json& object, const std::string& path, std::initializer_list<std::string_view> known,
                          Fail&& fail) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool listed = false;
    for (const std::string_view key : known) listed = listed || key == it.key();
    if (!listed) fail(path + "." + it.key(), "is not a member this reader knows");
  }
}

// The reading half: `fail(path, what)` must throw. `path` names the object
// in messages, e.g. "factors[2]".
template <class Json, class Fail>
std::string nameMember(const Json& object, const std::string& path, Fail&& fail) {
  const auto it = object.find("name");
  if (it == object.end()) fail(path, "has no \"name\"");
  if (!it->is_string()) fail(path + ".name", "is not a string");
  return it->template get<std::string>();
}

template <class Json, class Fail>
std::string unitMember(const Json& object, const std::string& path, Fail&& fail) {
  const auto it = object.find("unit");
  if (it == object.end() || it->is_null()) return {};
  if (!it->is_string()) fail(path + ".unit", "is not a string");
  return it->template get<std::string>();
}

template <class Json, class Fail>
double boundMember(const Json& object, const std::string& path, const char* key, Fail&& fail) {
  const auto it = object.find(key);
  if (it == object.end()) fail(path, "has no \"" + std::string(key) + "\"");
  if (it->is_null()) return std::numeric_limits<double>::quiet_NaN();
  if (!it->is_number()) fail(path + "." + key, "is not a number");
  return it->template get<double>();
}

template <class Json, class Fail>
Factor factorFromJson(const Json& object, const std::string& path, Fail&& fail) {
  if (!object.is_object()) fail(path, "is not an object");
  refuseUnknownMembers(object, path, {"name", "low", "high", "unit"}, fail);
  return {nameMember(object, path, fail), boundMember(object, path, "low", fail),
          boundMember(object, path, "high", fail), unitMember(object, path, fail)};
}

template <class Json, class Fail>
Response responseFromJson(const Json& object, const std::string& path, Fail&& fail) {
  if (!object.is_object()) fail(path, "is not an object");
  refuseUnknownMembers(object, path, {"name", "unit"}, fail);
  return {nameMember(object, path, fail), unitMember(object, path, fail)};
}

// A list of them: `path` names the array ("factors"); items are "factors[k]".
template <class Json, class Fail>
std::vector<Factor> factorsFromJson(const Json& list, const std::string& path, Fail&& fail) {
  if (!list.is_array()) fail(path, "is not an array");
  std::vector<Factor> factors;
  for (std::size_t k = 0; k < list.size(); ++k)
    factors.push_back(factorFromJson(list[k], path + "[" + std::to_string(k) + "]", fail));
  return factors;
}

template <class Json, class Fail>
std::vector<Response> responsesFromJson(const Json& list, const std::string& path, Fail&& fail) {
  if (!list.is_array()) fail(path, "is not an array");
  std::vector<Response> responses;
  for (std::size_t k = 0; k < list.size(); ++k)
    responses.push_back(responseFromJson(list[k], path + "[" + std::to_string(k) + "]", fail));
  return responses;
}

}  // namespace tavrin::detail
