#include "study/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

#include "tavrin/study.h"

namespace tavrin::text {
namespace {

static_assert(sizeof(wchar_t) == 4, "wide names are converted as UTF-32");

// Decodes one code point at s[pos]; advances pos. Returns -1 on a malformed sequence.
long decodeOne(std::string_view s, std::size_t& pos) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int extra = 0;
  long cp = 0;
  long minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return -1;
  }
  if (pos + static_cast<std::size_t>(extra) >= s.size()) return -1;
  for (int k = 1; k <= extra; ++k) {
    const unsigned char c = byte(pos + static_cast<std::size_t>(k));
    if ((c & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  pos += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void encodeOne(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool isValidUtf8(std::string_view s) noexcept {
  std::size_t pos = 0;
  while (pos < s.size())
    if (decodeOne(s, pos) < 0) return false;
  return true;
}

std::optional<std::wstring> utf8ToWide(std::string_view s) {
  std::wstring out;
  std::size_t pos = 0;
  while (pos < s.size()) {
    const long cp = decodeOne(s, pos);
    if (cp < 0) return std::nullopt;
    out += static_cast<wchar_t>(cp);
  }
  return out;
}

std::optional<std::string> wideToUtf8(std::wstring_view s) {
  std::string out;
  for (const wchar_t c : s) {
    // wchar_t is signed here: a negative value becomes a huge code point and is refused.
    const std::uint32_t cp = std::char_traits<wchar_t>::to_int_type(c);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    encodeOne(out, cp);
  }
  return out;
}

std::string quoted(std::string_view name) {
  // Control characters are shown escaped so the message stays on one line.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string formatDouble(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string formatReadable(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 12);
  return std::string(buffer, result.ptr);
}

std::optional<double> parseDouble(std::string_view s) noexcept {
  if (s.empty()) return std::nullopt;
  // from_chars takes no leading '+'; a sheet may have one.
  std::string_view digits = s;
  if (digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || (digits.front() == '-' && s.front() == '+')) return std::nullopt;
  double value = 0.0;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return std::nullopt;
  if (std::isnan(value)) return std::nullopt;
  return value;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The name folded to lower case (ASCII) without a trailing " [unit]".
std::string nameKey(std::string_view name) {
  if (name.size() > 2 && name.back() == ']') {
    const std::size_t open = name.rfind(" [");
    if (open != std::string_view::npos && open > 0) name = name.substr(0, open);
  }
  std::string key;
  for (const char c : name) key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return key;
}

// Edit distance over bytes, a swap of neighbours counting as one edit.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<double> halfUnitInLastPlace(std::string_view s) noexcept {
  std::size_t k = 0;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
  std::size_t digits = 0;
  for (; k < s.size() && isDigit(s[k]); ++k) ++digits;
  int decimals = 0;
  if (k < s.size() && s[k] == '.') {
    for (++k; k < s.size() && isDigit(s[k]); ++k) ++decimals;
  }
  if (digits == 0 && decimals == 0) return std::nullopt;
  int exponent = 0;
  if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
    std::string_view rest = s.substr(k + 1);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    const auto result = std::from_chars(rest.data(), rest.data() + rest.size(), exponent);
    if (result.ec != std::errc() || result.ptr != rest.data() + rest.size()) return std::nullopt;
    k = s.size();
  }
  if (k != s.size()) return std::nullopt;
  return 0.5 * std::pow(10.0, exponent - decimals);
}

std::string counted(std::size_t count, std::string_view singular, std::string_view plural) {
  return std::to_string(count) + " " + std::string(count == 1 ? singular : plural);
}

std::vector<std::string> similarNames(std::string_view name, const std::vector<std::string>& candidates) {
  const std::string key = nameKey(name);
  std::vector<std::pair<std::size_t, std::string>> close;
  for (const std::string& candidate : candidates) {
    const std::string other = nameKey(candidate);
    const std::size_t limit = std::min(key.size(), other.size()) / 3;
    const std::size_t distance = editDistance(key, other);
    if (distance <= limit) close.emplace_back(distance, candidate);
  }
  std::stable_sort(close.begin(), close.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  out.reserve(close.size());
  for (auto& [distance, candidate] : close) out.push_back(std::move(candidate));
  return out;
}

}  // namespace tavrin::text

namespace tavrin {

std::vector<std::string> similarNames(std::string_view name, const std::vector<std::string>& candidates) {
  return text::similarNames(name, candidates);
}

LabelAndUnit splitUnit(std::string_view text) {
  const auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  };
  text = trim(text);
  const std::size_t open = text.rfind('[');
  if (!text.empty() && text.back() == ']' && open != std::string_view::npos)
    return {std::string(trim(text.substr(0, open))), std::string(trim(text.substr(open + 1, text.size() - open - 2)))};
  // "45 °C": a number, then the unit after the first blank.
  const std::size_t blank = text.find_first_of(" \t");
  if (blank != std::string_view::npos && text::parseDouble(text.substr(0, blank)))
    return {std::string(text.substr(0, blank)), std::string(trim(text.substr(blank)))};
  return {std::string(text), {}};
}

}  // namespace tavrin
