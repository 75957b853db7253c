// The study file: JSON with a format version, holding everything a Study
// holds. Doubles are written as their shortest round-trip text, so they
// read back bit for bit; a missing result is null.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <type_traits>

#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

using Json = nlohmann::ordered_json;  // keys in the order written: format and version first

constexpr std::string_view kFormatName = "tavrin-study";
constexpr int kFormatVersion = 1;

// Line and column (from 1, in characters) of byte `offset` of `text`.
std::pair<std::size_t, std::size_t> position(std::string_view text, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t k = 0; k < offset && k < text.size(); ++k) {
    if (text[k] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

// Reads the parts of the document, naming the path of whatever is wrong.
class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void fail(const std::string& path, const std::string& what) const {
    throw ParseError(source_, 0, 0, path + ": " + what);
  }

  const Json& member(const Json& object, const std::string& path, const char* key) const {
    if (!object.is_object()) fail(path, "is not an object");
    const auto it = object.find(key);
    if (it == object.end()) fail(path, "has no \"" + std::string(key) + "\"");
    return *it;
  }

  std::string string(const Json& object, const std::string& path, const char* key) const {
    const Json& value = member(object, path, key);
    if (!value.is_string()) fail(path + "." + key, "is not a string");
    return value.get<std::string>();
  }

  double number(const Json& value, const std::string& path) const {
    if (!value.is_number()) fail(path, "is not a number");
    return value.get<double>();
  }

  std::uint64_t unsignedNumber(const Json& value, const std::string& path) const {
    if (!value.is_number_unsigned()) fail(path, "is not a whole number >= 0");
    return value.get<std::uint64_t>();
  }

  const Json& array(const Json& object, const std::string& path, const char* key) const {
    const Json& value = member(object, path, key);
    if (!value.is_array()) fail(path + "." + key, "is not an array");
    return value;
  }

 private:
  std::string source_;
};

std::string at(const std::string& path, std::size_t index) { return path + "[" + std::to_string(index) + "]"; }

}  // namespace

std::string Study::toJson() const {
  Json doc = Json::object();
  doc["format"] = kFormatName;
  doc["version"] = kFormatVersion;
  doc["kind"] = designKindName(plan_.kind);
  Json factors = Json::array();
  for (const Factor& f : plan_.factors)
    factors.push_back({{"name", f.name}, {"low", f.low}, {"high", f.high}, {"unit", f.unit}});
  doc["factors"] = std::move(factors);
  Json responses = Json::array();
  for (const Response& r : responses_) responses.push_back({{"name", r.name}, {"unit", r.unit}});
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
  return doc.dump(2) + "\n";
}

namespace {

// The JSON library's DOM builder, except that a failure keeps where it
// happened: the library reports a number beyond double's range (1e400) as
// an exception without a position, but hands the position to the builder.
class PositionedDom : public nlohmann::detail::json_sax_dom_parser<Json> {
 public:
  using json_sax_dom_parser::json_sax_dom_parser;
  std::size_t failedAt = 0;  // 1-based position of the offending character

  template <class Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
    // A syntax error stops at the offending character; a number out of
    // range has been read whole, so point at its first character.
    const bool number = std::is_same_v<Exception, nlohmann::detail::out_of_range>;
    failedAt = number && position >= token.size() ? position - token.size() + 1 : position;
    return json_sax_dom_parser::parse_error(position, token, error);
  }
};

}  // namespace

Study Study::fromJson(std::string_view text, const std::string& source) {
  Json doc;
  PositionedDom dom(doc);
  try {
    Json::sax_parse(text.begin(), text.end(), &dom);
  } catch (const Json::exception& e) {
    const auto [line, column] = position(text, dom.failedAt == 0 ? 0 : dom.failedAt - 1);
    std::string what = e.what();
    const std::size_t kind = what.find("] ");
    throw ParseError(source, line, column,
                     "not a valid study file: " + what.substr(kind == std::string::npos ? 0 : kind + 2));
  }
  const Reader in(source);
  if (!doc.is_object() || in.string(doc, "study", "format") != kFormatName)
    in.fail("study", "is not a tavrin study file (\"format\" must be \"" + std::string(kFormatName) + "\")");
  const Json& version = in.member(doc, "study", "version");
  if (!version.is_number_integer() || version.get<long long>() < 1)
    in.fail("study.version", "is not a format version (a whole number >= 1)");
  if (version.get<long long>() > kFormatVersion)
    in.fail("study.version", std::to_string(version.get<long long>()) + " is newer than this library reads (" +
                                 std::to_string(kFormatVersion) + ")");

  DesignKind kind;
  try {
    kind = parseDesignKind(in.string(doc, "study", "kind"));
  } catch (const InvalidArgument& e) {
    in.fail("study.kind", e.what());
  }
  std::vector<Factor> factors;
  const Json& factorArray = in.array(doc, "study", "factors");
  for (std::size_t i = 0; i < factorArray.size(); ++i) {
    const std::string path = at("factors", i);
    const Json& f = factorArray[i];
    factors.push_back({in.string(f, path, "name"), in.number(in.member(f, path, "low"), path + ".low"),
                       in.number(in.member(f, path, "high"), path + ".high"), in.string(f, path, "unit")});
  }
  std::vector<Response> responses;
  const Json& responseArray = in.array(doc, "study", "responses");
  for (std::size_t j = 0; j < responseArray.size(); ++j) {
    const std::string path = at("responses", j);
    responses.push_back({in.string(responseArray[j], path, "name"), in.string(responseArray[j], path, "unit")});
  }
  PlanOptions options;
  options.seed = in.unsignedNumber(in.member(doc, "study", "seed"), "seed");
  const std::uint64_t extra = in.unsignedNumber(in.member(doc, "study", "extraCenterRuns"), "extraCenterRuns");
  options.extraCenterRuns = static_cast<int>(std::min<std::uint64_t>(extra, 1u << 20));

  Study study;
  try {
    study = Study(kind, std::move(factors), std::move(responses), options);
  } catch (const InvalidArgument& e) {
    in.fail("study", e.what());
  }

  const std::size_t runs = study.plan_.runCount();
  const Json& order = in.array(doc, "study", "executionOrder");
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

  const Json& results = in.array(doc, "study", "results");
  if (results.size() != runs)
    in.fail("results", "has " + std::to_string(results.size()) + " rows; the plan has " + std::to_string(runs) + " runs");
  const std::size_t m = study.responses_.size();
  for (std::size_t r = 0; r < runs; ++r) {
    const Json& row = results[r];
    if (!row.is_array() || row.size() != m)
      in.fail(at("results", r), "is not an array of " + std::to_string(m) + " results (null for missing)");
    for (std::size_t j = 0; j < m; ++j)
      study.results_(r, j) = row[j].is_null() ? std::numeric_limits<double>::quiet_NaN()
                                              : in.number(row[j], at(at("results", r), j));
  }
  return study;
}

void Study::save(const std::string& path) const {
  const std::string text = toJson();
  // Written beside the target and renamed over it, so a failed write never
  // leaves a half-written study file under the real name.
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw FileError(path, "cannot write " + text::quoted(temporary) + ": " + std::strerror(errno));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      throw FileError(path, "writing " + text::quoted(temporary) + " failed");
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    throw FileError(path, "cannot replace " + text::quoted(path) + ": " + reason);
  }
}

Study Study::load(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw FileError(path, "cannot open the study file " + text::quoted(path) + ": it is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    FileError error(path, "cannot open the study file " + text::quoted(path) + ": " + std::strerror(errno));
    if (errno == ENOENT) error.markNotFound();
    throw error;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw FileError(path, "reading the study file " + text::quoted(path) + " failed");
  return fromJson(text, path);
}

}  // namespace tavrin
