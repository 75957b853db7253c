// The LPtau (Sobol) sequence in its direct form: the bits of the point
// number itself select the direction numbers, with no Gray-code reordering.
#pragma once

#include <cstdint>

#include "tavrin/detail/workspace.h"

namespace tavrin {

inline constexpr int kLptauDimensions = 20;
inline constexpr int kLptauBits = 16;
static_assert(kLptauDimensions >= kMaxVars, "every design variable needs a row of direction numbers");
static_assert(kLptauBits <= 31, "shifted direction numbers and point numbers fit 32 bits");

using LptauTable = std::uint32_t[kLptauDimensions + 1][kLptauBits];  // row 0 unused

struct LptauShiftedTable {
  LptauTable entry;
};

// Direction numbers: row d for design variable d (1..20), column b for bit b.
inline constexpr LptauTable LPTAU_DIRECTIONS = {
    {},
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

// LPTAU_DIRECTIONS[d][b] * 2^(15 - b): every entry below 65536.
constexpr LptauShiftedTable lptauPrepare() {
  LptauShiftedTable shifted{};
  for (int d = 1; d <= kLptauDimensions; ++d) {
    for (int b = 0; b < kLptauBits; ++b) shifted.entry[d][b] = LPTAU_DIRECTIONS[d][b] << (15 - b);
  }
  return shifted;
}

// Built once, at compile time, and never rewritten, so runs on different
// objects may overlap.
inline constexpr LptauShiftedTable lptauShifted = lptauPrepare();

// Coordinates of point i in dimensions 1..n (n <= 20), each in [0, 1), to
// t[1]..t[n]. Only bits 0..15 of i take part.
void lptauPoint(unsigned int i, int n, double* t);

}  // namespace tavrin
