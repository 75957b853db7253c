#include "design/plans.h"
#include "design/tables.h"

namespace tavrin {

int rechtschaffnerRunCount(int n) { return (n + 1) * (n + 2) / 2; }

Table<std::int32_t> buildRechtschaffnerPlan(int n) {
  const int runs = rechtschaffnerRunCount(n);
  Table<std::int32_t> plan = allocTable<std::int32_t>(static_cast<std::size_t>(runs) + 2,
                                                     static_cast<std::size_t>(n) + 1);
  int r = 0;
  auto fillRun = [&](std::int32_t level) {
    ++r;
    for (int i = 1; i <= n; ++i) plan[r][i] = level;
    return plan[r];
  };

  // Every variable at -1.
  fillRun(-1);
  // Variable k at -1, the others at +1.
  for (int k = 1; k <= n; ++k) fillRun(+1)[k] = -1;
  // One run per pair a < b: both at +1, the others at -1.
  for (int a = 1; a < n; ++a) {
    for (int b = a + 1; b <= n; ++b) {
      std::int32_t* run = fillRun(-1);
      run[a] = +1;
      run[b] = +1;
    }
  }
  // Axial runs: variable k at +1, the others at 0.
  for (int k = 1; k <= n; ++k) fillRun(0)[k] = +1;
  return plan;
}

}  // namespace tavrin
