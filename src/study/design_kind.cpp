// The design kinds of the study layer and the factor counts each supports.
#include <algorithm>
#include <cctype>
#include <string>

#include "design/plans.h"
#include "tavrin/study.h"

namespace tavrin {

std::string_view designKindName(DesignKind kind) noexcept {
  return kind == DesignKind::BoxBehnken ? "box-behnken" : "rechtschaffner";
}

DesignKind parseDesignKind(std::string_view text) {
  std::string key;
  for (const char c : text) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    key += (lower == '_' || lower == ' ') ? '-' : lower;
  }
  if (key == "box-behnken" || key == "boxbehnken") return DesignKind::BoxBehnken;
  if (key == "rechtschaffner") return DesignKind::Rechtschaffner;
  throw InvalidArgument("unknown design kind \"" + std::string(text) +
                        "\": the kinds are \"box-behnken\" and \"rechtschaffner\"");
}

const std::vector<int>& supportedFactorCounts(DesignKind kind) {
  static const std::vector<int> boxBehnken = [] {
    std::vector<int> counts;
    for (int n = 1; n <= 20; ++n)
      if (boxBehnkenSupports(n)) counts.push_back(n);
    return counts;
  }();
  static const std::vector<int> rechtschaffner = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  return kind == DesignKind::BoxBehnken ? boxBehnken : rechtschaffner;
}

}  // namespace tavrin
