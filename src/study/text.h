// Text helpers of the study layer: UTF-8 checks and conversions, quoting
// of names in messages, and shortest round-trip formatting of doubles.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// Shortest decimal text that reads back to the same double (std::to_chars).
std::string formatDouble(double value);

// Reads a whole field as a finite or infinite double (std::from_chars,
// general format); nothing when any character is left over or the text is
// empty. "nan" is refused: missing values are written as empty cells.
std::optional<double> parseDouble(std::string_view s) noexcept;

}  // namespace tavrin::text
