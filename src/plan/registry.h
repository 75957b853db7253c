// Lookups in the design-variable and objective registries.
#pragma once

#include <string_view>
#include <vector>

#include "tavrin/detail/workspace.h"

namespace tavrin {

// A caller's name; a null pointer reads as the empty text.
inline std::wstring_view nameOf(const wchar_t* name) {
  return name ? std::wstring_view(name) : std::wstring_view();
}

// The first record whose name equals `name` code unit by code unit, or null.
const DesignVarRecord* findDesignVar(const std::vector<DesignVarRecord>& registry, const wchar_t* name);
const ObjectiveRecord* findObjective(const std::vector<ObjectiveRecord>& registry, const wchar_t* name);

}  // namespace tavrin
