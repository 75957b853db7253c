#include "optimize/lptau.h"

namespace tavrin {

void lptauPoint(unsigned int i, int n, double* t) {
  std::uint32_t accumulator[kLptauDimensions + 1] = {};
  // Each bit that is 1 in i combines its direction numbers into every
  // dimension; exclusive or is exact, so the order of the bits is free.
  for (unsigned int bits = i & 0xFFFFu; bits != 0; bits &= bits - 1) {
    const int b = __builtin_ctz(bits);
    for (int d = 1; d <= n; ++d) accumulator[d] ^= lptauShifted.entry[d][b];
  }
  for (int d = 1; d <= n; ++d) t[d] = accumulator[d] / 65536.0;
}

}  // namespace tavrin
