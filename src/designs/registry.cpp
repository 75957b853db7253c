// The one table of design generators and the checks every generator shares.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "design/plans.h"
#include "designs/generators.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

using O = DesignOption;

// The factor counts the plan object has a Box-Behnken plan for.
std::vector<int> boxBehnkenCounts() {
  constexpr int kLargest = 20;
  std::vector<int> counts;
  for (int n = 1; n <= kLargest; ++n)
    if (boxBehnkenSupports(n)) counts.push_back(n);
  return counts;
}

std::vector<int> countsFrom(int first, int last) {
  std::vector<int> counts;
  for (int n = first; n <= last; ++n) counts.push_back(n);
  return counts;
}

// A name as compared: lower case, without '-', '_' and ' '.
std::string key(std::string_view text) {
  std::string k;
  for (const char c : text)
    if (c != '-' && c != '_' && c != ' ') k += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

std::string countsText(const std::vector<int>& counts) {
  std::string text;
  for (std::size_t i = 0; i < counts.size();) {
    std::size_t j = i;
    while (j + 1 < counts.size() && counts[j + 1] == counts[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(counts[i]);
    if (j > i) text += (j == i + 1 ? ", " : "-") + std::to_string(counts[j]);
    i = j + 1;
  }
  return text;
}

bool isSet(const DesignOptions& o, DesignOption option) {
  switch (option) {
    case O::Alpha: return o.alpha.has_value();
    case O::Inscribed: return o.inscribed.has_value();
    case O::CenterRuns: return o.centerRuns.has_value();
    case O::AxialCenterRuns: return o.axialCenterRuns.has_value();
    case O::Blocks: return o.blocks.has_value();
    case O::Fraction: return o.fraction.has_value();
    case O::Levels: return o.levels.has_value();
  }
  return false;
}

constexpr DesignOption kAllOptions[] = {O::Alpha, O::Inscribed, O::CenterRuns, O::AxialCenterRuns,
                                        O::Blocks, O::Fraction, O::Levels};

}  // namespace

// The registry: one entry per generator.
const std::vector<DesignGenerator>& designGenerators() {
  static const std::vector<DesignGenerator> table = {
      {"box-behnken", "Box-Behnken: three levels, edge midpoints of the cube and centre runs",
       boxBehnkenCounts(), {O::CenterRuns}, designs::buildBoxBehnken},
      {"rechtschaffner", "Rechtschaffner: saturated for the full quadratic, (k+1)(k+2)/2 runs",
       countsFrom(4, 20), {O::CenterRuns}, designs::buildRechtschaffner},
      {"ccd", "central composite: a two-level cube, axial runs at +-alpha and centre runs",
       countsFrom(2, 10), {O::Alpha, O::Inscribed, O::CenterRuns, O::AxialCenterRuns, O::Blocks, O::Fraction},
       designs::buildCentralComposite},
      {"factorial", "factorial: two levels (full or fractional) with centre runs, or three levels",
       countsFrom(1, 10), {O::CenterRuns, O::Blocks, O::Fraction, O::Levels}, designs::buildFactorial},
  };
  return table;
}

bool DesignGenerator::supports(std::size_t factors) const noexcept {
  return std::find(factorCounts.begin(), factorCounts.end(), static_cast<int>(factors)) != factorCounts.end();
}

bool DesignGenerator::takes(DesignOption option) const noexcept {
  return std::find(options.begin(), options.end(), option) != options.end();
}

const DesignGenerator& findGenerator(std::string_view name) {
  const std::string wanted = key(name);
  std::string names;
  for (const DesignGenerator& g : designGenerators()) {
    if (key(g.name) == wanted) return g;
    names += std::string(names.empty() ? "\"" : ", \"") + std::string(g.name) + "\"";
  }
  throw InvalidArgument("unknown design \"" + std::string(name) + "\": the designs are " + names);
}

DesignRuns generateDesign(std::string_view name, std::size_t factors, const DesignOptions& options) {
  const DesignGenerator& g = findGenerator(name);
  if (!g.supports(factors))
    throw InvalidArgument(std::string(g.name) + " supports " + countsText(g.factorCounts) + " factors, not " +
                          std::to_string(factors));
  for (const DesignOption option : kAllOptions)
    if (isSet(options, option) && !g.takes(option))
      throw InvalidArgument(std::string(g.name) + " takes no option \"" + std::string(designOptionName(option)) + "\"",
                            std::string(designOptionName(option)));
  return g.build(factors, options);
}

std::string_view designOptionName(DesignOption option) noexcept {
  switch (option) {
    case O::Alpha: return "alpha";
    case O::Inscribed: return "inscribed";
    case O::CenterRuns: return "center-runs";
    case O::AxialCenterRuns: return "axial-center-runs";
    case O::Blocks: return "blocks";
    case O::Fraction: return "fraction";
    case O::Levels: return "levels";
  }
  return "";
}

std::string_view runOriginName(RunOrigin origin) noexcept {
  switch (origin) {
    case RunOrigin::Cube: return "cube";
    case RunOrigin::Axial: return "axial";
    case RunOrigin::Center: return "center";
    case RunOrigin::Augmented: return "augmented";
    case RunOrigin::Imported: return "imported";
  }
  return "";
}

Alpha parseAlpha(std::string_view text) {
  const std::string k = key(text);
  if (k == "rotatable") return {AlphaKind::Rotatable, 0.0};
  if (k == "orthogonal") return {AlphaKind::Orthogonal, 0.0};
  if (k == "spherical") return {AlphaKind::Spherical, 0.0};
  if (k == "face" || k == "facecentred" || k == "facecentered") return {AlphaKind::Face, 0.0};
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0.0)
    throw InvalidArgument("alpha \"" + std::string(text) +
                              "\": use rotatable, orthogonal, spherical, face or a positive number",
                          "alpha");
  return {AlphaKind::Value, value};
}

namespace designs {

int countOption(const std::optional<int>& value, int fallback, int low, int high, const std::string& what,
                DesignOption option) {
  const int v = value.value_or(fallback);
  if (v < low || v > high)
    throw InvalidArgument(what + ": " + std::to_string(v) + " is outside the allowed " + std::to_string(low) + ".." +
                              std::to_string(high),
                          std::string(designOptionName(option)));
  return v;
}

void RunList::add(const std::vector<double>& levels, int block, RunOrigin origin) {
  flat.insert(flat.end(), levels.begin(), levels.end());
  blocks.push_back(block);
  origins.push_back(origin);
}

void RunList::addCenter(int count, int block) {
  for (int c = 0; c < count; ++c) add(std::vector<double>(factors, 0.0), block, RunOrigin::Center);
}

DesignRuns RunList::finish() && {
  DesignRuns runs;
  runs.coded = Matrix(blocks.size(), factors);
  std::copy(flat.begin(), flat.end(), runs.coded.data());
  runs.blocks = std::move(blocks);
  runs.origins = std::move(origins);
  return runs;
}

}  // namespace designs
}  // namespace tavrin
