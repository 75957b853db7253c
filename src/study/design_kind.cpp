// The design kinds a study holds: entries of the generator registry
// (designs.h), which owns their names and the factor counts they support,
// and imported data, which no generator makes.
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
                               {DesignKind::Rechtschaffner, "rechtschaffner"}};
constexpr std::string_view kImported = "imported";

bool namesImported(std::string_view text) {
  return std::equal(text.begin(), text.end(), kImported.begin(), kImported.end(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

std::string_view designKindName(DesignKind kind) noexcept {
  if (kind == DesignKind::Imported) return kImported;
  for (const KindName& k : kKinds)
    if (k.kind == kind) return k.generator;
  return "";
}

DesignKind parseDesignKind(std::string_view text) {
  if (namesImported(text)) return DesignKind::Imported;
  const DesignGenerator* found = nullptr;
  try {
    found = &findGenerator(text);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(e.what(), "design");
  }
  const DesignGenerator& generator = *found;
  for (const KindName& k : kKinds)
    if (k.generator == generator.name) return k.kind;
  throw InvalidArgument("design \"" + std::string(text) + "\": a study holds a box-behnken or rechtschaffner plan, not a " +
                            std::string(generator.name) + " design",
                        "design");
}

const std::vector<int>& supportedFactorCounts(DesignKind kind) {
  static const std::vector<int> imported = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  if (kind == DesignKind::Imported) return imported;
  return findGenerator(designKindName(kind)).factorCounts;
}

}  // namespace tavrin
