// Central composite designs: a two-level cube of resolution V or more,
// 2k axial runs at +-alpha and centre runs, optionally in blocks (the cube
// split by confounding high-order interactions, the axial runs a block of
// their own).
#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "designs/generators.h"
#include "tavrin/error.h"

namespace tavrin::designs {
namespace {

constexpr int kMaxBlocks = 9;  // the axial block and up to 8 cube blocks

struct CenterDefaults {
  int cube;   // per cube block
  int axial;  // in the axial block
};

// Blocked rotatable designs that block orthogonally, Box and Hunter (1957),
// as tabulated by Montgomery, Design and Analysis of Experiments, and by
// Myers and Montgomery, Response Surface Methodology.
struct BoxHunterEntry {
  int factors;
  int cubeRuns;
  int cubeBlocks;
  CenterDefaults centers;
};
constexpr BoxHunterEntry kBoxHunter[] = {
    {2, 4, 1, {3, 3}},  {3, 8, 2, {2, 2}},  {4, 16, 2, {2, 2}}, {5, 32, 4, {2, 4}},
    {5, 16, 1, {6, 1}}, {6, 32, 2, {4, 2}}, {7, 64, 8, {1, 4}},
};

double orthogonalAlpha(int k, int cubeRuns, int cubeBlocks, CenterDefaults c) {
  const double f = cubeRuns;
  return orthogonalBlockingAlpha(f, f + cubeBlocks * c.cube, k, c.axial);
}

// Centre runs that make the rotatable design of uniform precision (Box and
// Hunter): N lambda_4 = N F / (F + 2 sqrt F)^2 at the tabulated lambda_4.
int uniformPrecisionCenters(int k, int cubeRuns) {
  const double lambda4 = (k + 3 + std::sqrt(9.0 * k * k + 14.0 * k - 7.0)) / (4.0 * (k + 2));
  const double f = cubeRuns;
  const double runs = lambda4 * (f + 2.0 * std::sqrt(f)) * (f + 2.0 * std::sqrt(f)) / f;
  return static_cast<int>(std::lround(runs - f - 2.0 * k));
}

// Blocked: Box and Hunter's counts where tabulated, else the counts up to
// 4 per cube block and 8 in the axial block whose orthogonal-blocking alpha
// is nearest the rotatable one (fewest centre runs on a tie).
CenterDefaults blockedCenters(int k, int cubeRuns, int cubeBlocks) {
  for (const BoxHunterEntry& e : kBoxHunter)
    if (e.factors == k && e.cubeRuns == cubeRuns && e.cubeBlocks == cubeBlocks) return e.centers;
  const double rotatable = std::pow(cubeRuns, 0.25);
  CenterDefaults best{1, 1};
  double bestGap = HUGE_VAL;
  for (int total = 2; total <= 12; ++total)
    for (int cube = 1; cube <= 4 && cube < total; ++cube) {
      const CenterDefaults c{cube, total - cube};
      if (c.axial > 8) continue;
      const double gap = std::fabs(orthogonalAlpha(k, cubeRuns, cubeBlocks, c) - rotatable);
      if (gap < bestGap - 1e-12) {
        bestGap = gap;
        best = c;
      }
    }
  return best;
}

// Centre runs of each cube block and of the axial block (an unblocked
// design's in `cube`): the defaults, or `centerRuns` shared equally by the
// cube blocks with the rest in the axial block.
CenterDefaults centersOf(const DesignOptions& o, int k, int cubeRuns, int cubeBlocks, int blocks) {
  if (blocks == 1) {
    if (o.axialCenterRuns)
      throw InvalidArgument("axial center runs: an unblocked ccd has no axial block; set blocks to 2 or more",
                            "axial-center-runs");
    return {countOption(o.centerRuns, uniformPrecisionCenters(k, cubeRuns), 0, kMaxCenterRuns, "center runs of a ccd",
                        DesignOption::CenterRuns),
            0};
  }
  const CenterDefaults table = blockedCenters(k, cubeRuns, cubeBlocks);
  if (!o.centerRuns)
    return {table.cube, countOption(o.axialCenterRuns, table.axial, 0, kMaxCenterRuns, "axial center runs of a ccd",
                                      DesignOption::AxialCenterRuns)};
  const int total = countOption(o.centerRuns, 0, 0, kMaxCenterRuns, "center runs of a ccd", DesignOption::CenterRuns);
  if (!o.axialCenterRuns) {
    const int share = total / blocks;
    return {share, total - share * cubeBlocks};
  }
  const int axial = countOption(o.axialCenterRuns, 0, 0, total, "axial center runs of a ccd (at most its center runs)",
                                 DesignOption::AxialCenterRuns);
  if ((total - axial) % cubeBlocks != 0)
    throw InvalidArgument("axial center runs: the other " + std::to_string(total - axial) +
                              " center runs do not split equally over the " + std::to_string(cubeBlocks) + " cube blocks",
                          "axial-center-runs");
  return {(total - axial) / cubeBlocks, axial};
}

// Unblocked, the axial distance that makes the centred square columns
// orthogonal: alpha^4 = F (sqrt(N) - sqrt(F))^2 / 4 for N runs in all.
double orthogonalQuadraticAlpha(int k, int cubeRuns, int centers) {
  const double f = cubeRuns;
  const double n = f + 2.0 * k + centers;
  const double root = std::sqrt(n) - std::sqrt(f);
  return std::pow(f * root * root / 4.0, 0.25);
}

double alphaOf(const Alpha& alpha, int k, int cubeRuns, int cubeBlocks, int blocks, CenterDefaults c) {
  switch (alpha.kind) {
    case AlphaKind::Rotatable: return std::pow(cubeRuns, 0.25);
    case AlphaKind::Spherical: return std::sqrt(static_cast<double>(k));
    case AlphaKind::Face: return 1.0;
    case AlphaKind::Orthogonal:
      return blocks == 1 ? orthogonalQuadraticAlpha(k, cubeRuns, c.cube) : orthogonalAlpha(k, cubeRuns, cubeBlocks, c);
    case AlphaKind::Value:
      if (!std::isfinite(alpha.value) || alpha.value <= 0.0)
        throw InvalidArgument("alpha " + std::to_string(alpha.value) + ": the axial distance must be positive and finite",
                              "alpha");
      return alpha.value;
  }
  return 0.0;
}

int fractionOf(const DesignOptions& o, int k) {
  if (!o.fraction) return smallestFraction(k, 5);
  if (*o.fraction == 0) return 0;
  if (*o.fraction < 0)
    throw InvalidArgument("fraction " + std::to_string(*o.fraction) + ": p must be 0 or more", "fraction");
  const TwoLevelFraction& f = findFraction(k, *o.fraction);
  if (f.resolution < 5)
    throw InvalidArgument("fraction " + std::to_string(f.p) + ": the 2^(" + std::to_string(k) + "-" +
                          std::to_string(f.p) + ") cube has resolution " + std::to_string(f.resolution) +
                          "; a central composite design needs resolution 5 or more to estimate every "
                          "two-factor interaction",
                          "fraction");
  return f.p;
}

}  // namespace

DesignRuns buildCentralComposite(std::size_t factors, const DesignOptions& o) {
  const int k = static_cast<int>(factors);
  const int p = fractionOf(o, k);
  const int cubeRuns = 1 << (k - p);
  const int blocks = countOption(o.blocks, 1, 1, kMaxBlocks, "blocks of a ccd", DesignOption::Blocks);
  const int cubeBlocks = blocks == 1 ? 1 : blocks - 1;
  if (!std::has_single_bit(static_cast<unsigned>(cubeBlocks)))
    throw InvalidArgument("blocks of a ccd: " + std::to_string(blocks) +
                          " is not the axial block plus 1, 2, 4 or 8 cube blocks; use 1, 2, 3, 5 or 9",
                          "blocks");
  const CenterDefaults c = centersOf(o, k, cubeRuns, cubeBlocks, blocks);
  const double alpha = alphaOf(o.alpha.value_or(Alpha{}), k, cubeRuns, cubeBlocks, blocks, c);
  const bool inscribed = o.inscribed.value_or(false);
  if (inscribed && alpha < 1.0)
    throw InvalidArgument("inscribed: alpha " + std::to_string(alpha) +
                          " is below 1, so scaling the axial runs to +-1 would put the cube outside the region",
                          "inscribed");
  const double scale = inscribed ? 1.0 / alpha : 1.0;

  const TwoLevelCube cube = twoLevelCube(k, p, cubeBlocks, 3, "ccd");
  RunList list{factors, {}, {}, {}};
  for (int b = 1; b <= cubeBlocks; ++b) {
    for (std::size_t r = 0; r < cube.runs.size(); ++r) {
      if (cube.blocks[r] != b) continue;
      std::vector<double> levels = cube.runs[r];
      for (double& x : levels) x *= scale;
      list.add(levels, b, RunOrigin::Cube);
    }
    if (blocks > 1) list.addCenter(c.cube, b);
  }
  const int axialBlock = blocks == 1 ? 1 : blocks;
  for (std::size_t i = 0; i < factors; ++i)
    for (const double s : {-1.0, 1.0}) {
      std::vector<double> levels(factors, 0.0);
      levels[i] = s * alpha * scale;
      list.add(levels, axialBlock, RunOrigin::Axial);
    }
  list.addCenter(blocks == 1 ? c.cube : c.axial, axialBlock);
  return std::move(list).finish();
}

double orthogonalBlockingAlpha(double corners, double cubeBlockRuns, int k, int axialCenters) {
  return std::sqrt(corners * (2.0 * k + axialCenters) / (2.0 * cubeBlockRuns));
}

}  // namespace tavrin::designs
