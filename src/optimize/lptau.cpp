#include "optimize/lptau.h"

namespace tavrin {

void lptauPoint(unsigned int i, int n, double* t) {
  for (int d = 1; d <= n; ++d) {
    std::uint32_t accumulator = 0;
    for (int b = 0; b < kLptauBits; ++b) {
      if ((i >> b) & 1u) accumulator ^= lptauShifted.entry[d][b];
    }
    t[d] = accumulator / 65536.0;
  }
}

}  // namespace tavrin
