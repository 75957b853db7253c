// Validation of a study's definition: names, units, ranges and counts.
#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

constexpr const char* kNameRules =
    "names are 1 to 64 bytes of UTF-8 without control characters (tab and newline included), "
    "commas or \"//\", and without leading or trailing blanks";

// Why `text` breaks the name rules, or an empty string when it keeps them.
std::string nameFault(std::string_view text) {
  if (text.empty()) return "is empty";
  if (!text::isValidUtf8(text)) return "is not valid UTF-8";
  if (text.size() > kMaxNameBytes)
    return "is " + std::to_string(text.size()) + " bytes long, more than " + std::to_string(kMaxNameBytes);
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    if (c < 0x20 || c == 0x7F) return "holds a control character";
    // U+0080..U+009F, the C1 controls: 0xC2 0x80..0x9F in UTF-8.
    if (c == 0xC2 && k + 1 < text.size() && static_cast<unsigned char>(text[k + 1]) < 0xA0)
      return "holds a control character";
  }
  if (text.find(',') != std::string_view::npos) return "holds a comma";
  if (text.find("//") != std::string_view::npos) return "holds \"//\"";
  if (text.front() == ' ' || text.back() == ' ') return "has a leading or trailing blank";
  return {};
}

// The path of item k's field in a list: "factors[1].low".
std::string fieldPath(const char* list, std::size_t k, const char* field) {
  return std::string(list) + "[" + std::to_string(k) + "]." + field;
}

void checkNames(const char* what, const char* list, const std::vector<std::string_view>& names,
                const std::vector<std::string_view>& units) {
  std::unordered_map<std::string_view, std::size_t> seen;
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string item = std::string(what) + " " + std::to_string(k + 1);
    const std::string name = fieldPath(list, k, "name");
    const std::string fault = nameFault(names[k]);
    if (!fault.empty())
      throw InvalidArgument(item + ": the name " + text::quoted(names[k]) + " " + fault + "; " + kNameRules, name);
    if (names[k] == kRunIdHeader || names[k] == kRunOrderHeader)
      throw InvalidArgument(item + ": the name " + text::quoted(names[k]) +
                                " is a column of the run sheet; choose another name",
                            name);
    const auto [at, inserted] = seen.emplace(names[k], k);
    if (!inserted)
      throw InvalidArgument(item + ": the name " + text::quoted(names[k]) + " is already the name of " + what +
                                " " + std::to_string(at->second + 1) + "; " + what + " names must be unique",
                            name);
    if (units[k].empty()) continue;
    const std::string unitFault = nameFault(units[k]);
    if (!unitFault.empty())
      throw InvalidArgument(item + " " + text::quoted(names[k]) + ": the unit " + text::quoted(units[k]) + " " +
                                unitFault + "; a unit is empty or follows the name rules: " + kNameRules,
                            fieldPath(list, k, "unit"));
  }
}

}  // namespace

std::string supportedCountsText(DesignKind kind) {
  const std::vector<int>& counts = supportedFactorCounts(kind);
  std::string out;
  for (std::size_t k = 0; k < counts.size();) {
    std::size_t end = k;
    while (end + 1 < counts.size() && counts[end + 1] == counts[end] + 1) ++end;
    if (!out.empty()) out += ", ";
    out += std::to_string(counts[k]);
    if (end > k) out += (end == k + 1 ? ", " : "-") + std::to_string(counts[end]);
    k = end + 1;
  }
  return out;
}

void validateFactors(DesignKind kind, const std::vector<Factor>& factors) {
  std::vector<std::string_view> names, units;
  for (const Factor& f : factors) {
    names.push_back(f.name);
    units.push_back(f.unit);
  }
  checkNames("factor", "factors", names, units);
  for (std::size_t k = 0; k < factors.size(); ++k) {
    const Factor& f = factors[k];
    const std::string item = "factor " + std::to_string(k + 1) + " " + text::quoted(f.name);
    const std::string badEnd = fieldPath("factors", k, std::isfinite(f.low) ? "high" : "low");
    if (!std::isfinite(f.low) || !std::isfinite(f.high))
      throw InvalidArgument(item + ": the range " + text::formatDouble(f.low) + ".." + text::formatDouble(f.high) +
                                " is not finite; low and high must be finite numbers",
                            badEnd);
    if (!(f.low < f.high))
      throw InvalidArgument(item + ": low " + text::formatDouble(f.low) + " is not below high " +
                                text::formatDouble(f.high) + "; a range needs low < high",
                            fieldPath("factors", k, "high"));
    // The coded transform divides by high - low: it must not overflow.
    if (!std::isfinite(f.high - f.low) || !std::isfinite(f.high + f.low))
      throw InvalidArgument(item + ": the range " + text::formatDouble(f.low) + ".." + text::formatDouble(f.high) +
                                " is too wide; high - low and high + low must be finite",
                            fieldPath("factors", k, "high"));
  }
  const std::vector<int>& counts = supportedFactorCounts(kind);
  const int n = static_cast<int>(factors.size());
  if (std::find(counts.begin(), counts.end(), n) == counts.end())
    throw InvalidArgument("a " + std::string(designKindName(kind)) + " plan cannot have " + std::to_string(n) +
                              " factor" + (n == 1 ? "" : "s") + "; it supports " + supportedCountsText(kind) +
                              " factors",
                          "factors");
}

void validateResponses(const std::vector<Response>& responses) {
  if (responses.empty()) throw InvalidArgument("a study needs at least one response", "responses");
  std::vector<std::string_view> names, units;
  for (const Response& r : responses) {
    names.push_back(r.name);
    units.push_back(r.unit);
  }
  checkNames("response", "responses", names, units);
}

void validateDefinition(DesignKind kind, const std::vector<Factor>& factors, const std::vector<Response>& responses) {
  validateFactors(kind, factors);
  validateResponses(responses);
  // The run sheet finds a column by its name, so one name names one column.
  for (std::size_t k = 0; k < responses.size(); ++k)
    for (std::size_t i = 0; i < factors.size(); ++i)
      if (responses[k].name == factors[i].name)
        throw InvalidArgument("response " + std::to_string(k + 1) + ": the name " + text::quoted(responses[k].name) +
                              " is already the name of factor " + std::to_string(i + 1) +
                                  "; factors and responses need different names",
                              "responses[" + std::to_string(k) + "].name");
}

}  // namespace tavrin
