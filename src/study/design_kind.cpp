// The design kinds a study holds: entries of the generator registry
// (designs.h), which owns their names and the factor counts they support.
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

}  // namespace

std::string_view designKindName(DesignKind kind) noexcept {
  for (const KindName& k : kKinds)
    if (k.kind == kind) return k.generator;
  return "";
}

DesignKind parseDesignKind(std::string_view text) {
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

const std::vector<int>& supportedFactorCounts(DesignKind kind) { return findGenerator(designKindName(kind)).factorCounts; }

}  // namespace tavrin
