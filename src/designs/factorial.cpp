// Factorial designs: the two-level cube (full or a tabulated fraction,
// optionally in blocks) with centre runs, and the three-level grid.
#include <bit>
#include <string>
#include <vector>

#include "designs/generators.h"
#include "tavrin/error.h"

namespace tavrin::designs {
namespace {

constexpr int kMaxCubeBlocks = 8;
constexpr int kMaxThreeLevelFactors = 7;  // 2187 runs

DesignRuns threeLevel(std::size_t factors, const DesignOptions& o) {
  if (factors > kMaxThreeLevelFactors)
    throw InvalidArgument("levels 3: a three-level factorial of " + std::to_string(factors) + " factors has 3^" +
                          std::to_string(factors) + " runs; at most " + std::to_string(kMaxThreeLevelFactors) +
                              " factors are allowed",
                          "levels");
  if (o.fraction && *o.fraction != 0)
    throw InvalidArgument("fraction: only the two-level factorial can be fractional; set levels to 2", "fraction");
  if (o.blocks && *o.blocks != 1)
    throw InvalidArgument("blocks: only the two-level factorial can be blocked; set levels to 2", "blocks");
  const int centers = countOption(o.centerRuns, 0, 0, kMaxCenterRuns, "center runs of a factorial", DesignOption::CenterRuns);
  RunList list{factors, {}, {}, {}};
  std::size_t runs = 1;
  for (std::size_t i = 0; i < factors; ++i) runs *= 3;
  // Standard order: the first factor changes fastest, levels -1, 0, +1.
  for (std::size_t r = 0; r < runs; ++r) {
    std::vector<double> levels(factors);
    bool center = true;
    std::size_t rest = r;
    for (std::size_t i = 0; i < factors; ++i, rest /= 3) {
      levels[i] = static_cast<double>(rest % 3) - 1.0;
      center = center && levels[i] == 0.0;
    }
    list.add(levels, 1, center ? RunOrigin::Center : RunOrigin::Cube);
  }
  list.addCenter(centers, 1);
  return std::move(list).finish();
}

DesignRuns twoLevel(std::size_t factors, const DesignOptions& o) {
  const int k = static_cast<int>(factors);
  const int p = o.fraction.value_or(0);
  if (p < 0) throw InvalidArgument("fraction " + std::to_string(p) + ": p must be 0 or more", "fraction");
  if (p > 0) findFraction(k, p);
  const int blocks = countOption(o.blocks, 1, 1, kMaxCubeBlocks, "blocks of a factorial", DesignOption::Blocks);
  if (!std::has_single_bit(static_cast<unsigned>(blocks)))
    throw InvalidArgument("blocks of a factorial: " + std::to_string(blocks) + " is not 1, 2, 4 or 8",
                          "blocks");
  if (blocks > 1 << (k - p))
    throw InvalidArgument("blocks of a factorial: " + std::to_string(blocks) + " blocks for " +
                          std::to_string(1 << (k - p)) + " cube runs",
                          "blocks");
  const int centers = countOption(o.centerRuns, 0, 0, kMaxCenterRuns, "center runs of a factorial", DesignOption::CenterRuns);
  const TwoLevelCube cube = twoLevelCube(k, p, blocks, 2, "factorial");
  RunList list{factors, {}, {}, {}};
  for (int b = 1; b <= blocks; ++b) {
    for (std::size_t r = 0; r < cube.runs.size(); ++r)
      if (cube.blocks[r] == b) list.add(cube.runs[r], b, RunOrigin::Cube);
    list.addCenter(centers / blocks + (b <= centers % blocks ? 1 : 0), b);
  }
  return std::move(list).finish();
}

}  // namespace

DesignRuns buildFactorial(std::size_t factors, const DesignOptions& options) {
  const int levels = countOption(options.levels, 2, 2, 3, "levels of a factorial", DesignOption::Levels);
  return levels == 3 ? threeLevel(factors, options) : twoLevel(factors, options);
}

}  // namespace tavrin::designs
