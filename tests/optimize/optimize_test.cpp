#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <random>
#include <sstream>
#include <vector>

#include "design/tables.h"
#include "model/evaluate_block.h"
#include "optimize/lptau.h"
#include "optimize/search.h"
#include "tavrin/tavrin.h"

namespace {

// x on [0, 10] and y1 = x at the runs, modelled.
std::unique_ptr<CTavrin> lineStudy() {
  auto s = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  unsigned failed = s->planAddDesignVar(L"x", 0, 10).code + s->planAddObjective(L"y1").code + s->planCompute().code;
  for (unsigned r = 1; r <= 3; ++r) failed += s->planSetObjectiveValue(L"y1", r, r == 1 ? 0 : 20 - 5.0 * r).code;
  EXPECT_EQ(failed + s->modelCompute().code, 0u);
  return s;
}

// For every k <= 16 the first 2^k points of every dimension put exactly one point into each of the 2^k equal
// cells of [0, 1). Literal points 12345 and 65535 (times 65536) in every dimension, derived from the direction
// numbers by tests/golden/golden.py. Point i + 65536 is point i.
TEST(Lptau, StratifiesEveryDimensionAndHitsLiteralPoints) {
  const std::uint32_t p12345[20] = {39948, 28740, 27740, 36868, 8524, 64420, 22420, 12604, 43804, 6468,
                                    24636, 5700, 40932, 19468, 2580, 2252, 58076, 40884, 53756, 47308};
  const std::uint32_t p65535[20] = {65535, 1, 36949, 16799, 49925, 36863, 33895, 44039, 60901, 62791,
                                    24845, 22905, 15667, 62327, 18515, 62407, 14291, 14769, 44737, 44797};
  std::vector<std::array<double, 21>> points(65536);
  for (unsigned i = 0; i < 65536; ++i) tavrin::lptauPoint(i, 20, points[i].data());
  std::string bad;
  double t[21];
  for (int d = 1; d <= 20; ++d) {
    for (int k = 0; k <= 16; ++k) {
      std::vector<bool> taken(std::size_t{1} << k);
      for (std::size_t i = 0; i < taken.size(); ++i) {
        const double cell = std::floor(points[i][d] * static_cast<double>(taken.size()));
        if (cell < 0 || cell >= static_cast<double>(taken.size()) || taken[static_cast<std::size_t>(cell)]) {
          bad += " d" + std::to_string(d) + " k" + std::to_string(k);
          break;
        }
        taken[static_cast<std::size_t>(cell)] = true;
      }
    }
    if (points[12345][d] * 65536 != p12345[d - 1] || points[65535][d] * 65536 != p65535[d - 1])
      bad += " literal d" + std::to_string(d);
    tavrin::lptauPoint(12345 + 65536 * 3, 20, t);
    if (t[d] != points[12345][d]) bad += " period d" + std::to_string(d);
  }
  EXPECT_EQ(bad, "");
}

// Code of a run, y1 at the current point and, when optimized, x of slots 0..5 (with y1 where it is not x).
std::string describe(CTavrin& s, const Result& r) {
  std::ostringstream d;
  double x = -1, y = -1;
  d << std::setprecision(17) << r.code << (s.modelGetObjectiveValue(L"y1", y).code ? " -" : " current ") << y;
  for (unsigned k = 0; k <= 5 && s.modelIsOptimized(); ++k) {
    const unsigned failed =
        s.modelGetDesignVarBestResult(L"x", k, x).code + s.modelGetObjectiveBestResult(L"y1", k, y).code;
    d << (k ? " " : " slots ") << (failed ? -1 : x);
    if (x != y) d << "/" << y;
  }
  return d.str();
}

// Runs in order on one study (y1 = x): walk, slots, empty ranges, inclusive limits, weights (below 1e-300 a
// constraint), reversed range.
TEST(ModelOptimize, RunsOnALineStudy) {
  auto s = lineStudy();
  double v[5] = {-1, -1, -1, -1, -1};
  const unsigned got = s->modelGetObjectiveLimits(L"y1", v[0], v[1], v[2]).code +
                       s->modelGetDesignVarLimits(L"x", v[3], v[4]).code;
  EXPECT_EQ(std::vector<double>(v, v + 5), std::vector<double>(5, 0.0)) << got;
  const struct { double lo, hi, weight, low, high; unsigned first, last; const char* want; } runs[] = {
      {0, 0, 0, 0, 0, 0, 16, "0 current 0 slots 0 0 0 0 0 0"},
      {0, 10, 0, 0, 6, 0, 4, "0 current 7.5 slots 0 0 5 2.5 0 0"},
      {0, 10, 0, 0, 6, 0, 8, "0 current 8.75 slots 0 0 5 2.5 1.25 3.75"},
      {0, 10, 1, 0, 0, 0, 8, "0 current 8.75 slots 0 8.75 6.25 3.75 1.25 3.75"},
      {0, 10, 1, 0, 0, 5, 5, "4 current 8.75"},
      {0, 10, 1, 0, 0, 0, 4, "0 current 7.5 slots 0 7.5 2.5 3.75 1.25 3.75"},
      {0, 10, 1, 0, 0, 6, 5, "4 current 7.5"},
      {0, 40, 0, 20, 20, 1, 2, "0 current 20 slots 0 20 2.5 3.75 1.25 3.75"},
      {0, 40, 0, 10, 10, 2, 3, "0 current 10 slots 0 10 2.5 3.75 1.25 3.75"},
      {0, 40, 0, 20.001, 30, 1, 2, "4 current 20"},
      {0, 40, 0, 0, 9.999, 2, 3, "4 current 10"},
      {0, 40, 1e-301, 0, 9.999, 2, 3, "4 current 10"},
      {0, 40, -1, 10, 20, 0, 4, "0 current 30 slots 0 0 10 30 1.25 3.75"},
      {5, 1, 1, 0, 0, 0, 4, "0 current 2 slots 0 5 4 2 1.25 3.75"},
  };
  for (const auto& r : runs) {
    const unsigned set = s->modelSetDesignVarLimits(L"x", r.lo, r.hi).code +
                         s->modelSetObjectiveLimits(L"y1", r.weight, r.low, r.high).code;
    EXPECT_EQ(describe(*s, s->modelOptimize(r.first, r.last)), r.want) << set << " from " << r.first;
  }
}

// Blocks and point by point leave the same bits on every vector path the processor offers (the baseline
// forced too), for n = 1..20 with drawn models and rows of an earlier run in the slots; stretches cover
// whole blocks from aligned and unaligned starts, partial tails and the wrap of the sequence at 65536.
TEST(SearchPaths, BlocksMatchPointByPointBitForBitOnEveryPath) {
  using tavrin::BlockPath;
  const std::pair<unsigned, unsigned> stretches[] = {{0, 16}, {3, 40}, {37, 300}, {65500, 65700}};
  for (BlockPath path : {BlockPath::Baseline, BlockPath::Avx2, BlockPath::Avx512}) {
    if (!tavrin::useBlockPath(path)) continue;
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 1; n <= 20; ++n)
      for (int m : {1, 5}) {
        tavrin::NumericWorkspace ws;
        ws.varCount = n, ws.objCount = m;
        ws.coefTable = tavrin::allocTriangularTable<float>(m + 1, n + 1);
        for (int j = 1; j <= m; ++j)
          for (int r = 0; r <= n; ++r)
            for (int c = 0; r + c <= n; ++c) ws.coefTable[j][r][c] = static_cast<float>(u(rng));
        for (int i = 1; i <= n; ++i) {
          const double lo = 10 * u(rng), hi = lo + 0.5 + 5 * std::fabs(u(rng));
          for (int j = 1; j <= m; ++j) ws.levelLow[j][i] = lo, ws.levelHigh[j][i] = hi;
          ws.searchLow[i] = lo - u(rng), ws.searchHigh[i] = hi + u(rng);
          for (int slot = 1; slot <= 5; ++slot) ws.bestVarValue[slot][i] = u(rng);
        }
        for (int j = 1; j <= m; ++j)  // every third objective a constraint on [-2, 2]
          ws.objWeight[j] = j % 3 == 0 ? 0.0 : u(rng), ws.objLow[j] = j % 3 == 0 ? -2 : 0, ws.objHigh[j] = -ws.objLow[j];
        for (const auto& [first, last] : stretches) {
          tavrin::NumericWorkspace a = ws, b = ws;
          EXPECT_EQ(tavrin::searchBestPoints(a, first, last, tavrin::SearchPath::PointByPoint),
                    tavrin::searchBestPoints(b, first, last, tavrin::SearchPath::Blocks));
          auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
          EXPECT_TRUE(same(a.bestVarValue, b.bestVarValue) && same(a.bestObjValue, b.bestObjValue) &&
                      same(a.pointNatural, b.pointNatural) && same(a.pointCoded, b.pointCoded) &&
                      same(a.objValue, b.objValue))
              << "path " << static_cast<int>(path) << " n=" << n << " m=" << m << " from " << first;
        }
      }
  }
  EXPECT_TRUE(tavrin::useBlockPath(BlockPath::Best));
}

}  // namespace
