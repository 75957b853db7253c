#include "io/plan_file_reader.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tavrin {
namespace {

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skipWhiteSpace(std::string_view& text) {
  std::size_t i = 0;
  while (i < text.size() && isWhiteSpace(text[i])) ++i;
  text.remove_prefix(i);
}

// Skips white space and one optional sign; returns whether it was '-'.
bool takeSign(std::string_view& text) {
  skipWhiteSpace(text);
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  return negative;
}

}  // namespace

int ContentLineReader::getChar() {
  if (bufferPos_ == bufferLen_) {
    bufferLen_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    bufferPos_ = 0;
    if (bufferLen_ == 0) return EOF;
  }
  return static_cast<unsigned char>(buffer_[bufferPos_++]);
}

ContentLineReader::LineStatus ContentLineReader::readPhysicalLine() {
  lineLen_ = 0;
  bool extracted = false;
  for (;;) {
    const int c = getChar();
    if (c == EOF) return extracted ? LineStatus::Read : LineStatus::End;
    extracted = true;
    if (c == '\n') return LineStatus::Read;
    if (lineLen_ == kMaxLineLength) return LineStatus::TooLong;
    line_[lineLen_++] = static_cast<char>(c);
  }
}

std::optional<std::string_view> ContentLineReader::next() {
  for (;;) {
    if (readPhysicalLine() != LineStatus::Read) return std::nullopt;
    std::string_view text(line_, lineLen_);
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t' || text[start] == '\r')) ++start;
    text.remove_prefix(start);
    const std::size_t comment = text.find("//");
    if (comment != std::string_view::npos) text = text.substr(0, comment);
    if (!text.empty()) return text;
  }
}

std::optional<int> parseInt(std::string_view& text) {
  std::string_view digits = text;
  const bool negative = takeSign(digits);
  if (digits.empty() || digits[0] < '0' || digits[0] > '9') return std::nullopt;
  long long value = 0;
  const std::from_chars_result parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (parsed.ptr == digits.data()) return std::nullopt;
  if (parsed.ec == std::errc::result_out_of_range) value = LLONG_MAX;
  // Skip digits that did not fit, so the rest of the text follows the number.
  const char* end = parsed.ptr;
  while (end < digits.data() + digits.size() && *end >= '0' && *end <= '9') ++end;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  if (negative) value = value > -static_cast<long long>(INT_MIN) ? INT_MIN : -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::optional<double> parseReal(std::string_view& text) {
  // strtod in the "C" locale reads what "%lg" reads, whatever the process's
  // locale: decimal and hexadecimal forms, inf, infinity, nan and nan(...),
  // overflow to an infinity and underflow to the nearest denormal or zero.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
  char token[kMaxLineLength + 1];
  const std::size_t length = std::min(text.size(), kMaxLineLength);
  std::memcpy(token, text.data(), length);
  token[length] = '\0';
  char* end = token;
  const double value = strtod_l(token, &end, cLocale);
  if (end == token) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - token));
  return value;
}

std::optional<std::string> parseWord(std::string_view& text) {
  skipWhiteSpace(text);
  std::size_t length = 0;
  while (length < text.size() && !isWhiteSpace(text[length])) ++length;
  if (length == 0) return std::nullopt;
  std::string word(text.substr(0, length));
  text.remove_prefix(length);
  return word;
}

}  // namespace tavrin
