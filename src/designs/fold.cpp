// Folding a two-level factorial into a central composite design: the
// factorial's runs are checked to be corners of the cube or its centre,
// their corners to estimate the interaction model orthogonally, and the
// axial block is placed beside them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "designs/generators.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

constexpr double kTolerance = 1e-9;  // coded units: how far a run may lie from a level of the cube

[[noreturn]] void refuse(const std::string& what, const char* field = "fold") { throw InvalidArgument(what, field); }

std::string nameOf(const std::vector<std::string>& names, std::size_t i) {
  return i < names.size() ? names[i] : factorLetter(i);
}

std::string codedText(const Matrix& coded, std::size_t r) {
  std::string text;
  for (std::size_t i = 0; i < coded.cols(); ++i) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", coded(r, i));
    if (i > 0) text += ", ";
    text += buffer;
  }
  return text;
}

// The runs as the fold sees them: the signs of the corners (+-1 exactly)
// and, per run, whether it is a corner.
struct CubeRuns {
  std::vector<std::vector<int>> corners;  // signs of each corner run
  std::vector<int> cornerBlocks;          // block of each corner run
  std::vector<bool> isCorner;             // per run
};

CubeRuns classify(const Matrix& coded, const std::vector<std::string>& names) {
  CubeRuns cube;
  for (std::size_t r = 0; r < coded.rows(); ++r) {
    std::vector<int> signs(coded.cols());
    bool corner = true;
    bool centre = true;
    for (std::size_t i = 0; i < coded.cols(); ++i) {
      const double x = coded(r, i);
      if (!std::isfinite(x)) refuse("run " + std::to_string(r + 1) + ": the setting of " + nameOf(names, i) + " is not finite");
      signs[i] = x < 0 ? -1 : 1;
      corner = corner && std::fabs(std::fabs(x) - 1.0) <= kTolerance;
      centre = centre && std::fabs(x) <= kTolerance;
    }
    if (!corner && !centre)
      refuse("run " + std::to_string(r + 1) + " (coded " + codedText(coded, r) +
             ") is neither a corner of the cube nor its centre: only a two-level factorial, with or without centre "
             "runs, folds into a central composite design");
    cube.isCorner.push_back(corner);
    if (corner) cube.corners.push_back(std::move(signs));
  }
  if (cube.corners.empty()) refuse("no run lies at a corner of the cube: there is no factorial to fold");
  return cube;
}

// The columns of the interaction model other than the mean: each factor,
// then each pair, as the factors they multiply.
std::vector<std::vector<std::size_t>> interactionColumns(std::size_t k) {
  std::vector<std::vector<std::size_t>> columns;
  for (std::size_t i = 0; i < k; ++i) columns.push_back({i});
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = i + 1; j < k; ++j) columns.push_back({i, j});
  return columns;
}

int product(const std::vector<int>& signs, const std::vector<std::size_t>& column) {
  int p = 1;
  for (const std::size_t i : column) p *= signs[i];
  return p;
}

std::string label(const std::vector<std::size_t>& column, const std::vector<std::string>& names) {
  std::string text;
  for (const std::size_t i : column) {
    if (!text.empty()) text += ':';
    text += nameOf(names, i);
  }
  return text;
}

// Every column balanced and every two orthogonal over the corners: a full
// factorial or a fraction of resolution 5 or more (replicated alike).
void requireResolutionFive(const CubeRuns& cube, const std::vector<std::string>& names) {
  const std::vector<std::vector<std::size_t>> columns = interactionColumns(cube.corners.front().size());
  std::vector<std::vector<int>> values(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c)
    for (const std::vector<int>& signs : cube.corners) values[c].push_back(product(signs, columns[c]));
  const std::string why =
      ": a fold needs a full two-level factorial or a fraction of resolution 5 or more, so that the axial runs "
      "complete a design that estimates every term of the quadratic";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const long sum = std::accumulate(values[c].begin(), values[c].end(), 0L);
    if (sum != 0)
      refuse("the corner runs are not balanced in " + label(columns[c], names) + " (" +
             std::to_string((static_cast<long>(values[c].size()) + sum) / 2) + " at +1, " +
             std::to_string((static_cast<long>(values[c].size()) - sum) / 2) + " at -1)" + why);
    for (std::size_t d = c + 1; d < columns.size(); ++d)
      if (std::inner_product(values[c].begin(), values[c].end(), values[d].begin(), 0L) != 0)
        refuse("the corner runs do not estimate " + label(columns[c], names) + " and " + label(columns[d], names) +
               " apart" + why);
  }
}

// Orthogonal blocking needs the factorial's own blocks orthogonal to the
// model: each block the same share of corners as of runs (the square
// terms) and balanced in every main effect and two-factor interaction.
void requireOrthogonalBlocks(const CubeRuns& cube, const std::vector<int>& blocks, const std::vector<std::string>& names) {
  std::map<int, long> runs;
  std::map<int, long> corners;
  for (std::size_t r = 0; r < blocks.size(); ++r) {
    ++runs[blocks[r]];
    if (cube.isCorner[r]) ++corners[blocks[r]];
  }
  const long n = static_cast<long>(blocks.size());
  const long f = static_cast<long>(cube.corners.size());
  const std::string why = ", so no axial distance blocks orthogonally; choose another alpha";
  for (const auto& [block, count] : runs)
    if (corners[block] * n != f * count)
      refuse("block " + std::to_string(block) + " has " + std::to_string(corners[block]) + " corner runs among its " +
                 std::to_string(count) + " runs, the factorial " + std::to_string(f) + " among " + std::to_string(n) +
                 ": its blocks are not orthogonal to the square terms" + why,
             "alpha");
  const std::vector<std::vector<std::size_t>> columns = interactionColumns(cube.corners.front().size());
  for (const auto& [block, count] : runs)
    for (const std::vector<std::size_t>& column : columns) {
      long sum = 0;
      for (std::size_t c = 0; c < cube.corners.size(); ++c)
        if (cube.cornerBlocks[c] == block) sum += product(cube.corners[c], column);
      if (sum != 0)
        refuse("block " + std::to_string(block) + " is not balanced in " + label(column, names) +
                   ": the factorial's blocks are not orthogonal to the model" + why,
               "alpha");
    }
}

int defaultCenters(double corners, double kept, int k) {
  const double rotatable = std::pow(corners, 0.25);
  int best = 0;
  for (int c = 1; c <= designs::kMaxCenterRuns; ++c)
    if (std::fabs(designs::orthogonalBlockingAlpha(corners, kept, k, c) - rotatable) <
        std::fabs(designs::orthogonalBlockingAlpha(corners, kept, k, best) - rotatable) - 1e-12)
      best = c;
  return best;
}

double alphaOf(const Alpha& alpha, double corners, double kept, int k, int centers) {
  switch (alpha.kind) {
    case AlphaKind::Rotatable: return std::pow(corners, 0.25);
    case AlphaKind::Orthogonal: return designs::orthogonalBlockingAlpha(corners, kept, k, centers);
    case AlphaKind::Spherical: return std::sqrt(static_cast<double>(k));
    case AlphaKind::Face: return 1.0;
    case AlphaKind::Value:
      if (!std::isfinite(alpha.value) || alpha.value <= 0.0)
        refuse("alpha " + std::to_string(alpha.value) + ": the axial distance must be positive and finite", "alpha");
      return alpha.value;
  }
  return 0.0;
}

}  // namespace

FoldedRuns foldDesign(const Matrix& coded, const std::vector<int>& blocks, const FoldOptions& options,
                      const std::vector<std::string>& names) {
  if (coded.rows() == 0 || coded.cols() == 0) refuse("there are no runs to fold");
  if (blocks.size() != coded.rows())
    refuse("there are " + std::to_string(blocks.size()) + " blocks for " + std::to_string(coded.rows()) + " runs");
  if (*std::min_element(blocks.begin(), blocks.end()) < 1) refuse("a block number is below 1");
  CubeRuns cube = classify(coded, names);
  for (std::size_t r = 0; r < blocks.size(); ++r)
    if (cube.isCorner[r]) cube.cornerBlocks.push_back(blocks[r]);
  requireResolutionFive(cube, names);

  const Alpha alpha = options.alpha.value_or(Alpha{AlphaKind::Orthogonal, 0.0});
  if (alpha.kind == AlphaKind::Orthogonal) requireOrthogonalBlocks(cube, blocks, names);
  const std::size_t k = coded.cols();
  const auto corners = static_cast<double>(cube.corners.size());
  const auto kept = static_cast<double>(coded.rows());
  const auto factors = static_cast<int>(k);
  FoldedRuns folded;
  folded.centerRuns = designs::countOption(options.centerRuns, defaultCenters(corners, kept, factors), 0,
                                           designs::kMaxCenterRuns, "center runs", DesignOption::CenterRuns);
  folded.alpha = alphaOf(alpha, corners, kept, factors, folded.centerRuns);

  const int block = *std::max_element(blocks.begin(), blocks.end()) + 1;
  designs::RunList list{k, {}, {}, {}};
  for (std::size_t i = 0; i < k; ++i)
    for (const double s : {-1.0, 1.0}) {
      std::vector<double> levels(k, 0.0);
      levels[i] = s * folded.alpha;
      list.add(levels, block, RunOrigin::Axial);
    }
  list.addCenter(folded.centerRuns, block);
  folded.runs = std::move(list).finish();
  return folded;
}

}  // namespace tavrin
