// The builders behind the registry's entries and the pieces they share.
// Each builder validates its option values; the registry has already
// checked the factor count and which options are set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tavrin/designs.h"

namespace tavrin::designs {

DesignRuns buildBoxBehnken(std::size_t factors, const DesignOptions& options);
DesignRuns buildRechtschaffner(std::size_t factors, const DesignOptions& options);
DesignRuns buildCentralComposite(std::size_t factors, const DesignOptions& options);
DesignRuns buildFactorial(std::size_t factors, const DesignOptions& options);

// The axial distance of orthogonal blocking: alpha^2 = F (2k + c) / (2 n)
// for F corners among the n runs of the cube's blocks and c centre runs in
// the axial block (each block's share of sum x_i^2 is its share of the runs).
double orthogonalBlockingAlpha(double corners, double cubeBlockRuns, int k, int axialCenters);

// Largest number of centre runs per block an option may ask for.
constexpr int kMaxCenterRuns = 100;

// `value` if set, else `fallback`; refused outside [low, high] with `what`
// named and the option as the error's field.
int countOption(const std::optional<int>& value, int fallback, int low, int high, const std::string& what,
                DesignOption option);

// Runs collected in order, then moved into a DesignRuns.
struct RunList {
  std::size_t factors = 0;
  std::vector<double> flat;
  std::vector<int> blocks;
  std::vector<RunOrigin> origins;

  void add(const std::vector<double>& levels, int block, RunOrigin origin);
  void addCenter(int count, int block);
  DesignRuns finish() &&;
};

// A two-level cube 2^(k-p) in standard order (the first factor changes
// fastest), split into `cubeBlocks` blocks by confounding high-order
// interactions; blocks are numbered 1.. in order of first appearance.
struct TwoLevelCube {
  std::vector<std::vector<double>> runs;
  std::vector<int> blocks;
  int resolution = 0;  // of the fraction; 0 for a full cube
};

// The tabulated fraction, or a refusal listing the tabulated p for k.
const TwoLevelFraction& findFraction(int factors, int p);
// The smallest tabulated p whose resolution is at least `resolution`.
int smallestFraction(int factors, int resolution);
// Builds the cube. Every block effect must be aliased only with
// interactions of at least `minAliasLength` factors (2 keeps main effects
// clear, 3 keeps two-factor interactions clear too); `design` names the
// design in a refusal.
TwoLevelCube twoLevelCube(int factors, int p, int cubeBlocks, int minAliasLength, const std::string& design);

}  // namespace tavrin::designs
