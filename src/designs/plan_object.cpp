// Box-Behnken and Rechtschaffner designs from the plan object's own
// generators, so their coded levels stay bit-identical to its plans.
#include <cstdint>
#include <vector>

#include "design/plans.h"
#include "designs/generators.h"

namespace tavrin::designs {
namespace {

// The plan's 1-based table as runs; an all-zero row is a centre run.
RunList fromTable(const Table<std::int32_t>& table, int runs, std::size_t factors) {
  RunList list{factors, {}, {}, {}};
  for (int r = 1; r <= runs; ++r) {
    std::vector<double> levels(factors);
    bool center = true;
    for (std::size_t i = 0; i < factors; ++i) {
      levels[i] = table[r][i + 1];
      center = center && levels[i] == 0.0;
    }
    list.add(levels, 1, center ? RunOrigin::Center : RunOrigin::Cube);
  }
  return list;
}

}  // namespace

DesignRuns buildBoxBehnken(std::size_t factors, const DesignOptions& options) {
  // The plan ends with its own centre run; added ones follow it.
  const int centers = countOption(options.centerRuns, 0, 0, kMaxCenterRuns, "center runs of a box-behnken design", DesignOption::CenterRuns);
  const int n = static_cast<int>(factors);
  RunList list = fromTable(buildBoxBehnkenPlan(n), boxBehnkenRunCount(n), factors);
  list.addCenter(centers, 1);
  return std::move(list).finish();
}

DesignRuns buildRechtschaffner(std::size_t factors, const DesignOptions& options) {
  const int centers =
      countOption(options.centerRuns, 0, 0, kMaxCenterRuns, "center runs of a rechtschaffner design", DesignOption::CenterRuns);
  const int n = static_cast<int>(factors);
  RunList list = fromTable(buildRechtschaffnerPlan(n), rechtschaffnerRunCount(n), factors);
  list.addCenter(centers, 1);
  return std::move(list).finish();
}

}  // namespace tavrin::designs
