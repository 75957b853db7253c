// Reading view of a plan file: content lines and the fields parsed from them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// Physical lines hold at most this many characters.
inline constexpr std::size_t kMaxLineLength = 299;

// Yields content lines: leading blanks, tabs and carriage returns skipped,
// everything from the first "//" cut off, empty lines passed over. Reads
// through a fixed buffer, so memory stays bounded whatever the file holds.
class ContentLineReader {
 public:
  explicit ContentLineReader(std::FILE* file) : file_(file), buffer_(1 << 16) {}

  // The next content line, or nothing when the file ends before one or a
  // physical line is longer than kMaxLineLength.
  std::optional<std::string_view> next();

 private:
  enum class LineStatus { Read, End, TooLong };
  LineStatus readPhysicalLine();
  int getChar();

  std::FILE* file_;
  std::vector<char> buffer_;
  std::size_t bufferPos_ = 0;
  std::size_t bufferLen_ = 0;
  char line_[kMaxLineLength + 1] = {};
  std::size_t lineLen_ = 0;
};

// "%d": a whole number after optional white space; out-of-range values
// saturate at the int limits.
std::optional<int> parseInt(std::string_view& text);

// "%lg": a real number after optional white space.
std::optional<double> parseReal(std::string_view& text);

// "%s": the first run of non-white-space characters after white space.
std::optional<std::string> parseWord(std::string_view& text);

}  // namespace tavrin
