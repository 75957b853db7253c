// Bit-for-bit equality of doubles: what "unchanged" means for a value the
// layer carries through (NaN equals itself, 0.0 differs from -0.0).
#pragma once

#include <bit>
#include <cstdint>

namespace tavrin {

inline bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace tavrin
