// Reading the study file's JSON text safely: bounded nesting, no key
// given twice, positions in messages.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tavrin {

// Deepest nesting of arrays and objects a study file may hold; the format
// needs far less, and a bound keeps a crafted file from exhausting the stack.
inline constexpr int kMaxJsonDepth = 32;

// Parses `text` into a tree whose objects are sorted maps (reading time
// O(n log n) in the number of members). ParseError naming `source` with
// line and column for malformed text or nesting deeper than kMaxJsonDepth,
// and naming the key for an object that gives one key twice.
nlohmann::json parseJsonText(std::string_view text, const std::string& source);

}  // namespace tavrin
