#include "io/number_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string general(double value) {
  std::string out;
  tavrin::appendGeneral(out, value);
  return out;
}

std::string printfGeneral(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

}  // namespace

TEST(NumberFormat, GeneralNotationExamples) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {10, "10"},
      {0.5, "0.5"},
      {1.0 / 3, "0.333333"},
      {0.0000123, "1.23e-05"},
      {1234567, "1.23457e+06"},
      {0.1234567, "0.123457"},
      {-0.1234567, "-0.123457"},
      {-1234567, "-1.23457e+06"},
      {-3, "-3"},
      {100000, "100000"},
      {999999, "999999"},
      {1e6, "1e+06"},
      {999999.5, "1e+06"},  // rounding to 6 digits moves the exponent to 6
      {0.0001, "0.0001"},
      {0.00009999996, "0.0001"},  // rounds up into fixed notation
      {0.00009999949, "9.99995e-05"},
      {0, "0"},
      {-0.0, "-0"},
      {1.5e300, "1.5e+300"},
      {1e-300, "1e-300"},
      {std::numeric_limits<double>::denorm_min(), "4.94066e-324"},
      {inf, "inf"},
      {-inf, "-inf"},
      {nan, "nan"},
      {-nan, "-nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(general(c.value), c.text) << c.text;
}

TEST(NumberFormat, GeneralAppendsToExistingText) {
  std::string out = "x\t";
  tavrin::appendGeneral(out, 2.5);
  tavrin::appendGeneral(out, -1);
  EXPECT_EQ(out, "x\t2.5-1");
}

// The C library's "%g" is the reference: compare over every kind of double,
// from arbitrary bit patterns (NaNs, infinities, subnormals included) to
// values near the rounding and notation boundaries.
TEST(NumberFormat, GeneralAgreesWithPrintf) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    ASSERT_EQ(general(value), printfGeneral(value)) << bits;
  }
  for (int i = 0; i < 100000; ++i) {
    const int exponent = static_cast<int>(random() % 24) - 12;
    const double mantissa = static_cast<double>(random() % 20000000) / 1e6;  // 0 .. 20, many ending in 5
    const double value = (random() & 1 ? -1 : 1) * mantissa * std::pow(10.0, exponent);
    ASSERT_EQ(general(value), printfGeneral(value)) << mantissa << "e" << exponent;
    const float single = static_cast<float>(value);  // values held in single precision
    ASSERT_EQ(general(single), printfGeneral(single)) << single;
  }
}

TEST(NumberFormat, IntegerIsPlainDecimal) {
  const struct {
    long long value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {7, "7"},
      {-1, "-1"},
      {4294967295LL, "4294967295"},
      {LLONG_MAX, "9223372036854775807"},
      {LLONG_MIN, "-9223372036854775808"},
  };
  for (const auto& c : cases) {
    std::string out = "B[";
    tavrin::appendInteger(out, c.value);
    EXPECT_EQ(out, std::string("B[") + c.text);
  }
}
