// The block search evaluates many points side by side; it must leave every
// bit of the workspace exactly as the point-by-point search does.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "design/tables.h"
#include "optimize/search.h"

namespace {

using tavrin::NumericWorkspace;
using tavrin::SearchPath;

// A workspace with random models over n variables and m objectives, random
// coding ranges (shared by every objective, as the plan computation sets
// them), search ranges, weights and constraints that reject some points.
NumericWorkspace randomWorkspace(int n, int m, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  NumericWorkspace ws;
  ws.varCount = n;
  ws.objCount = m;
  for (int i = 1; i <= n; ++i) {
    const double lo = 10 * unit(rng);
    const double hi = lo + 0.5 + 5 * std::abs(unit(rng));
    for (int j = 1; j <= m; ++j) {
      ws.levelLow[j][i] = lo;
      ws.levelHigh[j][i] = hi;
    }
    ws.searchLow[i] = lo - unit(rng);
    ws.searchHigh[i] = hi + unit(rng);
  }
  ws.coefTable = tavrin::allocTriangularTable<float>(static_cast<std::size_t>(m) + 1, static_cast<std::size_t>(n) + 1);
  for (int j = 1; j <= m; ++j) {
    for (int r = 0; r <= n; ++r) {
      for (int c = 0; c <= n - r; ++c) ws.coefTable[static_cast<std::size_t>(j)][r][c] = static_cast<float>(unit(rng));
    }
    const bool constraint = j % 3 == 0;
    ws.objWeight[j] = constraint ? 0.0 : unit(rng);
    ws.objLow[j] = constraint ? -2.0 : 0.0;
    ws.objHigh[j] = constraint ? 2.0 : 0.0;
  }
  return ws;
}

void expectSameBits(const NumericWorkspace& a, const NumericWorkspace& b) {
  EXPECT_EQ(std::memcmp(a.bestVarValue, b.bestVarValue, sizeof a.bestVarValue), 0);
  EXPECT_EQ(std::memcmp(a.bestObjValue, b.bestObjValue, sizeof a.bestObjValue), 0);
  EXPECT_EQ(std::memcmp(a.pointNatural, b.pointNatural, sizeof a.pointNatural), 0);
  EXPECT_EQ(std::memcmp(a.pointCoded, b.pointCoded, sizeof a.pointCoded), 0);
  EXPECT_EQ(std::memcmp(a.objValue, b.objValue, sizeof a.objValue), 0);
}

TEST(SearchPaths, BlocksMatchPointByPointBitForBit) {
  std::mt19937 rng(20261206);
  struct Stretch {
    unsigned int first;
    unsigned int last;
  };
  const Stretch stretches[] = {{0, 1}, {0, 16}, {3, 40}, {65530, 65600}, {1000, 1517}};
  for (int n = 1; n <= 20; ++n) {
    for (int m : {1, 4, 20}) {
      const NumericWorkspace start = randomWorkspace(n, m, rng);
      for (const Stretch& s : stretches) {
        SCOPED_TRACE(testing::Message() << "n=" << n << " m=" << m << " points " << s.first << ".." << s.last);
        NumericWorkspace scalar = start;
        NumericWorkspace blocks = start;
        const bool foundScalar = tavrin::searchBestPoints(scalar, s.first, s.last, SearchPath::PointByPoint);
        const bool foundBlocks = tavrin::searchBestPoints(blocks, s.first, s.last, SearchPath::Blocks);
        EXPECT_EQ(foundScalar, foundBlocks);
        expectSameBits(scalar, blocks);
      }
    }
  }
}

// Objectives that code a variable differently cannot share one coded point;
// the search then evaluates point by point and still gives the same bits.
TEST(SearchPaths, ObjectivesWithTheirOwnCodingFallBackToPointByPoint) {
  std::mt19937 rng(7);
  NumericWorkspace start = randomWorkspace(5, 3, rng);
  start.levelHigh[2][4] += 1.0;
  NumericWorkspace scalar = start;
  NumericWorkspace blocks = start;
  EXPECT_EQ(tavrin::searchBestPoints(scalar, 0, 200, SearchPath::PointByPoint),
            tavrin::searchBestPoints(blocks, 0, 200, SearchPath::Blocks));
  expectSameBits(scalar, blocks);
}

}  // namespace
