#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "optimize/lptau.h"

namespace {

using tavrin::LPTAU_DIRECTIONS;
using tavrin::lptauPoint;

// Direction numbers, row d = 1..20, bit b = 0..15.
constexpr std::uint32_t kDirections[20][16] = {
    {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {1, 3, 5, 15, 17, 51, 85, 255, 257, 771, 1285, 3855, 4369, 13107, 21845, 65535},
    {1, 1, 7, 11, 13, 61, 67, 79, 465, 721, 823, 4091, 4125, 4141, 28723, 45311},
    {1, 3, 7, 5, 7, 43, 49, 147, 439, 1013, 727, 987, 5889, 6915, 16647, 49925},
    {1, 1, 5, 3, 15, 51, 125, 141, 177, 759, 267, 1839, 6929, 16241, 16565, 17139},
    {1, 3, 1, 1, 9, 59, 25, 89, 321, 835, 833, 4033, 3913, 11643, 18777, 35225},
    {1, 1, 3, 7, 31, 47, 109, 173, 181, 949, 471, 2515, 6211, 2147, 3169, 35873},
    {1, 3, 3, 9, 9, 57, 43, 43, 225, 113, 1601, 579, 1731, 11977, 7241, 63609},
    {1, 3, 7, 13, 3, 35, 89, 9, 235, 929, 1341, 3863, 1347, 4417, 5087, 12631},
    {1, 1, 5, 11, 27, 53, 69, 25, 103, 615, 913, 977, 6197, 14651, 2507, 27109},
    {1, 3, 5, 1, 15, 19, 113, 115, 411, 157, 1725, 3463, 2817, 9997, 7451, 12055},
    {1, 1, 7, 3, 29, 51, 47, 97, 233, 39, 2021, 2909, 5459, 2615, 13329, 35887},
    {1, 3, 7, 7, 21, 61, 55, 19, 59, 761, 1905, 3379, 8119, 13207, 8965, 9997},
    {1, 1, 1, 9, 23, 37, 97, 97, 353, 169, 375, 1349, 5121, 13313, 19457, 1033},
    {1, 3, 3, 5, 19, 33, 3, 197, 329, 983, 893, 3739, 7669, 2671, 18391, 31161},
    {1, 1, 3, 13, 11, 7, 37, 101, 463, 657, 1599, 347, 2481, 5201, 3123, 32253},
    {1, 1, 7, 13, 25, 5, 83, 255, 385, 647, 415, 387, 7101, 11469, 11699, 15865},
    {1, 3, 5, 11, 7, 11, 103, 29, 111, 581, 605, 2381, 2677, 14855, 721, 26903},
    {1, 1, 1, 3, 13, 39, 27, 203, 475, 505, 819, 2821, 1405, 12165, 709, 41543},
    {1, 3, 1, 15, 17, 63, 13, 65, 451, 833, 975, 1873, 7423, 5837, 20481, 12291},
};

// Point i read bit by bit for each dimension: exclusive or of
// direction[d][b] * 2^(15 - b) over the bits b set in i, over 65536.
double literalCoordinate(unsigned i, int d) {
  std::uint32_t acc = 0;
  for (int b = 0; b < 16; ++b)
    if ((i >> b) & 1u) acc ^= kDirections[d - 1][b] << (15 - b);
  return acc / 65536.0;
}

TEST(Lptau, DirectionAndShiftedTables) {
  for (int d = 1; d <= 20; ++d) {
    for (int b = 0; b < 16; ++b) {
      const std::uint32_t v = LPTAU_DIRECTIONS[d][b];
      EXPECT_EQ(v, kDirections[d - 1][b]) << "d=" << d << " b=" << b;
      EXPECT_EQ(v % 2, 1u);
      EXPECT_LT(v, 2u << b);
      EXPECT_EQ(tavrin::lptauShifted.entry[d][b], v << (15 - b));
      EXPECT_LT(tavrin::lptauShifted.entry[d][b], 65536u);
    }
  }
}

TEST(Lptau, FirstPointsInThreeDimensions) {
  const double expected[8][3] = {{0, 0, 0},           {0.5, 0.5, 0.5},       {0.25, 0.75, 0.25},   {0.75, 0.25, 0.75},
                                 {0.125, 0.625, 0.875}, {0.625, 0.125, 0.375}, {0.375, 0.375, 0.625}, {0.875, 0.875, 0.125}};
  for (unsigned i = 0; i < 8; ++i) {
    for (int n = 1; n <= 3; ++n) {
      double t[4] = {-1, -1, -1, -1};
      lptauPoint(i, n, t);
      for (int d = 1; d <= n; ++d) EXPECT_EQ(t[d], expected[i][d - 1]) << "point " << i << " d=" << d;
      for (int d = n + 1; d <= 3; ++d) EXPECT_EQ(t[d], -1.0) << "only t[1..n] are written";
      EXPECT_EQ(t[0], -1.0);
    }
  }
}

// Every point of all 20 dimensions against the bit-by-bit reading; only
// bits 0..15 count, so point i + 65536 k repeats point i.
TEST(Lptau, MatchesBitByBitReadingAndRepeatsEvery65536) {
  double t[21], u[21];
  for (unsigned i = 0; i < 65536; i += (i < 1024 ? 1 : 37)) {
    lptauPoint(i, 20, t);
    for (int d = 1; d <= 20; ++d) {
      ASSERT_EQ(t[d], literalCoordinate(i, d)) << "point " << i << " d=" << d;
      ASSERT_GE(t[d], 0.0);
      ASSERT_LT(t[d], 1.0);
    }
    for (unsigned shift : {65536u, 3u * 65536u, 0xFFFF0000u}) {
      lptauPoint(i + shift, 20, u);
      for (int d = 1; d <= 20; ++d) ASSERT_EQ(u[d], t[d]) << "point " << i + shift;
    }
  }
  lptauPoint(65541, 3, t);
  lptauPoint(5, 3, u);
  for (int d = 1; d <= 3; ++d) EXPECT_EQ(t[d], u[d]);
}

// With odd direction numbers below 2^(b+1), the first 2^k points put
// exactly one coordinate into each interval [m / 2^k, (m + 1) / 2^k) in
// every dimension.
TEST(Lptau, FirstPowerOfTwoPointsStratifyEveryDimension) {
  const unsigned k = 12, count = 1u << k;
  std::vector<std::vector<int>> hits(21, std::vector<int>(count, 0));
  double t[21];
  for (unsigned i = 0; i < count; ++i) {
    lptauPoint(i, 20, t);
    for (int d = 1; d <= 20; ++d) ++hits[static_cast<std::size_t>(d)][static_cast<std::size_t>(t[d] * count)];
  }
  for (int d = 1; d <= 20; ++d)
    for (unsigned m = 0; m < count; ++m) ASSERT_EQ(hits[static_cast<std::size_t>(d)][m], 1) << "d=" << d << " m=" << m;
}

}  // namespace
