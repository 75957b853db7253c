// The plan file's number fields read as "%d" and "%lg" read them, in any locale.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <optional>
#include <string>

#include "io/plan_file_reader.h"

namespace {

// "value|rest" after parsing, or "none|text" when nothing is parsed (the text then stays as it was).
template <class T>
std::string parsed(std::optional<T> (*parse)(std::string_view&), const char* input) {
  std::string_view text(input);
  const std::optional<T> value = parse(text);
  if (!value) return "none|" + std::string(text);
  char buffer[64];
  if constexpr (std::is_same_v<T, int>) std::snprintf(buffer, sizeof buffer, "%d", *value);
  else std::snprintf(buffer, sizeof buffer, "%a", *value);
  return buffer + ("|" + std::string(text));
}

// Saturation at the int limits, one optional sign, no second sign, no blank after the sign.
TEST(Reader, WholeNumbersOverflowAndSigns) {
  const std::pair<const char*, const char*> cases[] = {
      {"2147483647 x", "2147483647| x"}, {"2147483648", "2147483647|"}, {"-2147483648", "-2147483648|"},
      {"-2147483649", "-2147483648|"}, {"99999999999999999999999\t5", "2147483647|\t5"},
      {"-99999999999999999999999", "-2147483648|"}, {"  +17//", "17|//"}, {"-0", "0|"}, {"007", "7|"},
      {"--5", "none|--5"}, {"+-5", "none|+-5"}, {"-+5", "none|-+5"}, {"- 5", "none|- 5"}, {"+", "none|+"},
      {"x5", "none|x5"}, {"", "none|"}, {"\v\f\r 12e3", "12|e3"}, {"3.9", "3|.9"}};
  for (const auto& [input, want] : cases) EXPECT_EQ(parsed<int>(tavrin::parseInt, input), want) << input;
}

// Decimal and hexadecimal forms, inf and nan, overflow to infinity and underflow to a denormal or zero.
TEST(Reader, RealNumbersAsPercentLg) {
  const std::pair<const char*, const char*> cases[] = {
      {"0x10", "0x1p+4|"}, {"-0X1.8p1 y", "-0x1.8p+1| y"}, {"0x.1", "0x1p-4|"}, {"0x", "0x0p+0|x"},
      {"0.1", "0x1.999999999999ap-4|"}, {"  +.5e1\t7", "0x1.4p+2|\t7"}, {"1e", "0x1p+0|e"},
      {"1.5e400", "inf|"}, {"-1e99999", "-inf|"}, {"1e-400", "0x0p+0|"}, {"3e-324", "0x0.0000000000001p-1022|"},
      {"inf", "inf|"}, {"-Infinity,", "-inf|,"}, {"nan(7)x", "nan|x"}, {"-NAN", "-nan|"},
      {"--1", "none|--1"}, {"+-1", "none|+-1"}, {"- 1", "none|- 1"}, {"e5", "none|e5"}, {".", "none|."}};
  for (const auto& [input, want] : cases) EXPECT_EQ(parsed<double>(tavrin::parseReal, input), want) << input;
}

// A numeric locale with a decimal comma changes nothing, out-of-range values included.
TEST(Reader, RealNumbersIgnoreTheNumericLocale) {
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"})
    if ((chosen = std::setlocale(LC_NUMERIC, name)) && *std::localeconv()->decimal_point == ',') break;
  if (!chosen || *std::localeconv()->decimal_point != ',') GTEST_SKIP() << "no locale with a decimal comma";
  std::string_view texts[3] = {"1.5e400", "2.5", "-1.5e-400"};
  std::optional<double> values[3];
  for (int k = 0; k < 3; ++k) values[k] = tavrin::parseReal(texts[k]);
  std::setlocale(LC_NUMERIC, "C");  // before the values are printed
  std::string got;
  for (int k = 0; k < 3; ++k) got += std::to_string(values[k].value_or(-1)) + "|" + std::string(texts[k]);
  EXPECT_EQ(got, "inf|2.500000|-0.000000|");
}

}  // namespace
