#include "arguments.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tavrin::cli {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

[[noreturn]] void malformed(std::string_view what, std::string_view text, std::string_view expected) {
  throw UsageError("malformed " + std::string(what) + " " + inQuotes(text) + ": expected " + std::string(expected));
}

// A name before a separator: non-empty once trimmed.
std::string nameOf(std::string_view text, std::string_view what, std::string_view whole, std::string_view expected) {
  const std::string_view name = trim(text);
  if (name.empty()) malformed(what, whole, expected);
  return std::string(name);
}

double numberOf(std::string_view text, std::string_view what, std::string_view whole, std::string_view expected) {
  double value = 0.0;
  if (!parseNumber(text, value)) malformed(what, whole, expected);
  return value;
}

// Splits at every ':'.
std::vector<std::string_view> splitColons(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t at = text.find(':'); at != std::string_view::npos; at = text.find(':')) {
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.push_back(text);
  return parts;
}

// A name and its unit in brackets, as the library splits them (a name's
// unit is always bracketed); an unmatched "]" is malformed.
LabelAndUnit unitOf(std::string_view text, std::string_view what, std::string_view expected) {
  text = trim(text);
  if (text.empty() || text.back() != ']') return {std::string(text), {}};
  if (text.find('[') == std::string_view::npos) malformed(what, text, expected);
  return splitUnit(text);
}

}  // namespace

bool parseNumber(std::string_view text, double& value) {
  text = trim(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty()) return false;
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

Factor parseFactor(std::string_view text) {
  constexpr std::string_view kWhat = "factor";
  constexpr std::string_view kExpected =
      "Name=low:high, Name=low:high[unit] or Name=low:high unit, e.g. \"Temperature=150:210[°C]\"";
  const LabelAndUnit split = unitOf(text, kWhat, kExpected);
  const std::string_view rest = split.label;
  const std::size_t equals = rest.rfind('=');
  if (equals == std::string_view::npos) malformed(kWhat, text, kExpected);
  const auto bounds = splitColons(rest.substr(equals + 1));
  if (bounds.size() != 2) malformed(kWhat, text, kExpected);
  // Without brackets, a unit follows the high end after a blank: "Temp=25:45 °C".
  const LabelAndUnit high = split.unit.empty() ? splitUnit(bounds[1]) : LabelAndUnit{std::string(bounds[1]), split.unit};
  Factor factor;
  factor.name = nameOf(rest.substr(0, equals), kWhat, text, kExpected);
  factor.low = numberOf(bounds[0], kWhat, text, kExpected);
  factor.high = numberOf(high.label, kWhat, text, kExpected);
  factor.unit = high.unit;
  return factor;
}

Factor parseDataFactor(std::string_view text) {
  if (text.find('=') != std::string_view::npos) return parseFactor(text);
  constexpr std::string_view kExpected = "Name, Name[unit] or Name=low:high[unit], e.g. \"Time[min]\"";
  const LabelAndUnit split = unitOf(text, "factor", kExpected);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return {nameOf(split.label, "factor", text, kExpected), nan, nan, split.unit};
}

Response parseResponse(std::string_view text) {
  constexpr std::string_view kExpected = "Name or Name[unit], e.g. \"Yield[%]\"";
  const LabelAndUnit split = unitOf(text, "response", kExpected);
  return {nameOf(split.label, "response", text, kExpected), split.unit};
}

std::pair<std::string, double> parseAssignment(std::string_view text, std::string_view what) {
  const std::string expected = "Name=value, e.g. \"Yield=0.5\"";
  const std::size_t equals = text.rfind('=');
  if (equals == std::string_view::npos) malformed(what, text, expected);
  return {nameOf(text.substr(0, equals), what, text, expected), numberOf(text.substr(equals + 1), what, text, expected)};
}

NamedInterval parseInterval(std::string_view text, std::string_view what) {
  constexpr std::string_view kExpected = "Name=low:high, Name<=high or Name>=low, e.g. \"Impurity=0:1.5\"";
  const std::size_t equals = text.rfind('=');
  if (equals == std::string_view::npos) malformed(what, text, kExpected);
  const std::string_view value = text.substr(equals + 1);
  if (equals > 0 && (text[equals - 1] == '<' || text[equals - 1] == '>')) {
    const std::string name = nameOf(text.substr(0, equals - 1), what, text, kExpected);
    const double bound = numberOf(value, what, text, kExpected);
    if (text[equals - 1] == '<') return {name, -kInf, bound};
    return {name, bound, kInf};
  }
  const auto bounds = splitColons(value);
  if (bounds.size() != 2) malformed(what, text, kExpected);
  return {nameOf(text.substr(0, equals), what, text, kExpected), numberOf(bounds[0], what, text, kExpected),
          numberOf(bounds[1], what, text, kExpected)};
}

Goal parseGoal(Goal::Kind kind, std::string_view text) {
  Goal goal;
  goal.kind = kind;
  goal.low = goal.high = goal.target = kNaN;
  switch (kind) {
    case Goal::Maximize:
    case Goal::Minimize: {
      const std::string what = kind == Goal::Maximize ? "--maximize goal" : "--minimize goal";
      const std::string expected = kind == Goal::Maximize
                                       ? "Name, Name>=low or Name=low:high, e.g. \"Yield>=70\""
                                       : "Name, Name<=high or Name=low:high, e.g. \"Impurity<=2\"";
      if (text.find('=') == std::string_view::npos) {
        goal.response = nameOf(text, what, text, expected);
        return goal;
      }
      const NamedInterval interval = parseInterval(text, what);
      const bool open = std::isinf(interval.low) || std::isinf(interval.high);
      // Maximize takes a lower bound alone, minimize an upper bound alone.
      if (open && std::isinf(kind == Goal::Maximize ? interval.low : interval.high))
        malformed(what, text, expected);
      goal.response = interval.name;
      goal.low = std::isinf(interval.low) ? kNaN : interval.low;
      goal.high = std::isinf(interval.high) ? kNaN : interval.high;
      return goal;
    }
    case Goal::Target: {
      constexpr std::string_view kExpected = "Name=target or Name=low:target:high, e.g. \"Yield=85\"";
      const std::size_t equals = text.rfind('=');
      if (equals == std::string_view::npos) malformed("--target goal", text, kExpected);
      goal.response = nameOf(text.substr(0, equals), "--target goal", text, kExpected);
      const auto values = splitColons(text.substr(equals + 1));
      if (values.size() == 1) {
        goal.target = numberOf(values[0], "--target goal", text, kExpected);
        return goal;
      }
      if (values.size() != 3) malformed("--target goal", text, kExpected);
      goal.low = numberOf(values[0], "--target goal", text, kExpected);
      goal.target = numberOf(values[1], "--target goal", text, kExpected);
      goal.high = numberOf(values[2], "--target goal", text, kExpected);
      return goal;
    }
    case Goal::Within:
    case Goal::WeightedSum: break;
  }
  throw UsageError("goal kind without a command-line syntax");
}

std::vector<Goal> parseGoals(const std::vector<std::string>& maximize, const std::vector<std::string>& minimize,
                             const std::vector<std::string>& target) {
  std::vector<Goal> goals;
  goals.reserve(maximize.size() + minimize.size() + target.size());
  for (const std::string& g : maximize) goals.push_back(parseGoal(Goal::Maximize, g));
  for (const std::string& g : minimize) goals.push_back(parseGoal(Goal::Minimize, g));
  for (const std::string& g : target) goals.push_back(parseGoal(Goal::Target, g));
  return goals;
}

std::vector<Constraint> parseConstraints(const std::vector<std::string>& within) {
  std::vector<Constraint> constraints;
  constraints.reserve(within.size());
  for (const std::string& w : within) {
    const NamedInterval interval = parseInterval(w, "--within constraint");
    constraints.push_back({interval.name, interval.low, interval.high});
  }
  return constraints;
}

std::vector<std::pair<std::string, double>> parsePoint(std::string_view text) {
  constexpr std::string_view kExpected = "Name=value,Name=value, e.g. \"Temperature=180,Time=30\"";
  std::vector<std::pair<std::string, double>> values;
  std::string_view rest = text;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view part = rest.substr(0, comma);
    const std::size_t equals = part.rfind('=');
    if (equals == std::string_view::npos) malformed("point", text, kExpected);
    values.emplace_back(nameOf(part.substr(0, equals), "point", text, kExpected),
                        numberOf(part.substr(equals + 1), "point", text, kExpected));
    if (comma == std::string_view::npos) return values;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace tavrin::cli
