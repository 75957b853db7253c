// The design kinds a study holds: entries of the generator registry
// (designs.h), which owns their names and the factor counts they support,
// optimal designs (built for a model, not by a registry entry) and
// imported data, which no generator makes.
#include <algorithm>
#include <cctype>
#include <string>

#include "tavrin/designs.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

struct KindName {
  DesignKind kind;
  std::string_view generator;
};
constexpr KindName kKinds[] = {{DesignKind::BoxBehnken, "box-behnken"},
                               {DesignKind::Rechtschaffner, "rechtschaffner"},
                               {DesignKind::CentralComposite, "ccd"},
                               {DesignKind::Factorial, "factorial"}};
constexpr std::string_view kImported = "imported";
constexpr std::string_view kOptimal = "optimal";

bool names(std::string_view text, std::string_view name) {
  return std::equal(text.begin(), text.end(), name.begin(), name.end(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

std::string_view designKindName(DesignKind kind) noexcept {
  if (kind == DesignKind::Imported) return kImported;
  if (kind == DesignKind::Optimal) return kOptimal;
  for (const KindName& k : kKinds)
    if (k.kind == kind) return k.generator;
  return "";
}

DesignKind parseDesignKind(std::string_view text) {
  if (names(text, kImported)) return DesignKind::Imported;
  if (names(text, kOptimal)) return DesignKind::Optimal;
  const DesignGenerator* found = nullptr;
  try {
    found = &findGenerator(text);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(std::string(e.what()) + ", \"optimal\"", "design");
  }
  const DesignGenerator& generator = *found;
  for (const KindName& k : kKinds)
    if (k.generator == generator.name) return k.kind;
  throw InvalidArgument("design \"" + std::string(text) + "\": a study cannot hold a " + std::string(generator.name) +
                            " design",
                        "design");
}

const std::vector<int>& supportedFactorCounts(DesignKind kind) {
  static const std::vector<int> imported = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  if (kind == DesignKind::Imported || kind == DesignKind::Optimal) return imported;
  return findGenerator(designKindName(kind)).factorCounts;
}

std::vector<DesignKindInfo> generatedDesignKinds() {
  std::vector<DesignKindInfo> kinds;
  for (const KindName& k : kKinds) {
    const DesignGenerator& g = findGenerator(k.generator);
    std::vector<std::string> options;
    for (const DesignOption o : g.options) options.emplace_back(designOptionName(o));
    kinds.push_back({k.kind, g.name, g.summary, g.factorCounts, std::move(options)});
  }
  // An optimal design's recipe (held_design.cpp refuses any other option).
  kinds.push_back({DesignKind::Optimal, kOptimal, "optimal: D- or I-optimal runs for a model, under linear constraints",
                   supportedFactorCounts(DesignKind::Optimal),
                   {std::string(designOptionName(DesignOption::CenterRuns)), "model", "runs", "criterion", "constraint"}});
  return kinds;
}

}  // namespace tavrin
