// Text helpers of the study layer: UTF-8 checks and conversions, quoting
// of names in messages, and shortest round-trip formatting of doubles.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::text {

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(std::string_view s) noexcept;

// UTF-8 <-> wide text, by code point (wchar_t holds UTF-32 on the
// platforms the layer supports). Nothing when the input is not valid or a
// wide character is not a Unicode scalar value.
std::optional<std::wstring> utf8ToWide(std::string_view s);
std::optional<std::string> wideToUtf8(std::wstring_view s);

// The name in double quotes, for messages.
std::string quoted(std::string_view name);

// "1 result", "2 results": the count with the noun in its number.
std::string counted(std::size_t count, std::string_view singular, std::string_view plural);

// Shortest decimal text that reads back to the same double (std::to_chars).
std::string formatDouble(double value);
// The value to 12 significant digits, for messages: a setting computed as
// 0.15000000000000002 reads "0.15", as the user gave it.
std::string formatReadable(double value);

// Reads a whole field as a finite or infinite double (std::from_chars,
// general format); nothing when any character is left over or the text is
// empty. "nan" is refused: missing values are written as empty cells.
std::optional<double> parseDouble(std::string_view s) noexcept;

// Half a unit in the last digit of a number as printed: 0.005 for
// "183.33", 0.5 for "180", 5 for "1.8e2". Nothing when `s` is not plain
// decimal text (an optional sign, digits, a point, an exponent).
std::optional<double> halfUnitInLastPlace(std::string_view s) noexcept;

// The candidates `name` is probably a misspelling of: equal ignoring case
// and a trailing " [unit]", or within an edit distance of a third of the
// name's length (at least 1), closest first.
std::vector<std::string> similarNames(std::string_view name, const std::vector<std::string>& candidates);

}  // namespace tavrin::text
