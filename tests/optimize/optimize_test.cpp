#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iomanip>
#include <map>
#include <random>
#include <sstream>

#include "design/tables.h"
#include "optimize/lptau.h"
#include "optimize/search.h"
#include "tavrin/tavrin.h"

namespace {

// x on [0, 10] and y1 = x at the runs, so y1 predicts x; stage 0 declared .. 3 optimized over points 0..7.
std::unique_ptr<CTavrin> lineStudy(int stage) {
  auto s = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  EXPECT_EQ(s->planAddDesignVar(L"x", 0, 10).code + s->planAddObjective(L"y1").code, 0u);
  EXPECT_TRUE(stage < 1 || s->planCompute().code == 0);
  for (unsigned r = 1; stage >= 2 && r <= 3; ++r) s->planSetObjectiveValue(L"y1", r, r == 1 ? 0 : r == 2 ? 10 : 5);
  EXPECT_TRUE(stage < 2 || s->modelCompute().code == 0);
  EXPECT_TRUE(stage < 3 || s->modelSetObjectiveLimits(L"y1", 1, 0, 0).code + s->modelSetDesignVarLimits(L"x", 0, 10).code + s->modelOptimize(0, 8).code == 0);
  return s;
}

double out[3];  // outputs of the calls; a failure leaves them alone

// Stage needed: 1 planned, 2 modelled, 3 optimized; flags cleared: 2 both model flags, 1 ModelOptimized.
struct Op { const wchar_t* name; int needs, clears; const wchar_t* known; std::function<Result(CTavrin&, const wchar_t*, unsigned)> call; };
const Op kOps[] = {
    {L"modelSetDesignVarValue", 1, 2, L"x", [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelSetDesignVarValue(n, 3); }},
    {L"modelGetObjectiveValue", 2, 0, L"y1", [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelGetObjectiveValue(n, out[0]); }},
    {L"modelSetObjectiveLimits", 2, 1, L"y1", [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelSetObjectiveLimits(n, 1, 2, 3); }},
    {L"modelGetObjectiveLimits", 2, 0, L"y1", [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelGetObjectiveLimits(n, out[0], out[1], out[2]); }},
    {L"modelSetDesignVarLimits", 2, 1, L"x", [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelSetDesignVarLimits(n, 1, 2); }},
    {L"modelGetDesignVarLimits", 2, 0, L"x", [](CTavrin& s, const wchar_t* n, unsigned) { return s.modelGetDesignVarLimits(n, out[0], out[1]); }},
    {L"modelGetObjectiveBestResult", 3, 0, L"y1", [](CTavrin& s, const wchar_t* n, unsigned k) { return s.modelGetObjectiveBestResult(n, k, out[0]); }},
    {L"modelGetDesignVarBestResult", 3, 0, L"x", [](CTavrin& s, const wchar_t* n, unsigned k) { return s.modelGetDesignVarBestResult(n, k, out[0]); }},
};

// Each operation, stage, name, slot: code (11 first, then 1, 2, 3, 5), message, outputs and flags (cleared on 5).
TEST(ModelQueries, CodesMessagesOutputsAndFlagsOverEveryStage) {
  const std::map<unsigned, std::wstring> reason = {{1, L"Plan is not computed."}, {2, L"Model is not computed."}, {3, L"Model is not optimized."}, {5, L"Variable is not found."}, {11, L"Index too large."}};
  std::wstring got, want;
  for (const Op& op : kOps)
    for (int stage = 0; stage <= 3; ++stage)
      for (const wchar_t* name : {op.known, L"nope"})
        for (unsigned slot : {5u, 6u}) {
          auto s = lineStudy(stage);
          out[0] = out[1] = out[2] = -7;
          const Result r = op.call(*s, name, slot);
          const std::wstring head = std::wstring(op.name) + L" stage " + std::to_wstring(stage) + L" " + name + L" slot " + std::to_wstring(slot) + L": ";
          got += head + std::to_wstring(r.code) + L" " + r.message + L" flags " + std::to_wstring(s->planIsComputed()) +
                 std::to_wstring(s->modelIsComputed()) + std::to_wstring(s->modelIsOptimized()) + (out[0] == -7 ? L"" : L" written") + L"\n";
          const unsigned code = op.needs == 3 && slot > 5 ? 11 : stage < op.needs ? stage + 1 : name == op.known ? 0 : 5;
          const bool passed = code == 0 || code == 5;
          want += head + std::to_wstring(code) + L" " + (code ? L"Tavrin Error. " + std::wstring(op.name) + L"(). " + reason.at(code) : L"No Errors") +
                  L" flags " + std::to_wstring(stage >= 1) + std::to_wstring(stage >= 2 && !(passed && op.clears == 2)) +
                  std::to_wstring(stage == 3 && !(passed && op.clears >= 1)) + (code == 0 && op.clears == 0 ? L" written" : L"") + L"\n";
        }
  EXPECT_EQ(got, want);
}

// Points 0..7 in 3 dimensions; every point is the xor of shifted direction numbers of bits 0..15, in [0, 1).
TEST(Lptau, FirstPointsBitByBitReadingAndPeriod) {
  const double first[8][3] = {{0, 0, 0},           {0.5, 0.5, 0.5},       {0.25, 0.75, 0.25},    {0.75, 0.25, 0.75},
                              {0.125, 0.625, 0.875}, {0.625, 0.125, 0.375}, {0.375, 0.375, 0.625}, {0.875, 0.875, 0.125}};
  double t[21], u[21];
  std::string bad;
  for (unsigned i = 0; i < 65536; i += i < 1024 ? 1 : 37) {
    tavrin::lptauPoint(i, 20, t);
    tavrin::lptauPoint(i + (i % 2 ? 65536u : 0xFFFF0000u), 20, u);
    for (int d = 1; d <= 20; ++d) {
      std::uint32_t acc = 0;
      for (int b = 0; b < 16; ++b) acc ^= (i >> b) & 1u ? tavrin::LPTAU_DIRECTIONS[d][b] << (15 - b) : 0u;
      for (int b = 0; i == 0 && b < 16; ++b) bad += tavrin::lptauShifted.entry[d][b] == tavrin::LPTAU_DIRECTIONS[d][b] << (15 - b) ? "" : "shifted\n";
      if (t[d] != acc / 65536.0 || u[d] != t[d] || !(t[d] >= 0 && t[d] < 1) || (i < 8 && d <= 3 && t[d] != first[i][d - 1]))
        bad += "point " + std::to_string(i) + " d" + std::to_string(d) + "\n";
    }
  }
  EXPECT_EQ(bad, "");
}

// Code of a run, y1 at the current point and, when optimized, x of slots 0..5 (with y1 where it is not x).
std::string describe(CTavrin& s, const Result& r) {
  std::ostringstream d;
  double x = -1, y = -1;
  d << std::setprecision(17) << r.code << (s.modelGetObjectiveValue(L"y1", y).code ? " -" : " current ") << y << (s.modelIsOptimized() ? " slots" : "");
  for (unsigned k = 0; k <= 5 && s.modelIsOptimized(); ++k) {
    d << " " << (s.modelGetDesignVarBestResult(L"x", k, x).code + s.modelGetObjectiveBestResult(L"y1", k, y).code ? -1 : x);
    if (x != y) d << "/" << y;
  }
  return d.str();
}

// Runs in order on one study whose y1 predicts x: search range, weight, limits, points first..last-1.
TEST(ModelOptimize, RunsOnALineStudy) {
  auto s = lineStudy(2);
  double v[5] = {-1, -1, -1, -1, -1};
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y1", v[0], v[1], v[2]).code + s->modelGetDesignVarLimits(L"x", v[3], v[4]).code, 0u);
  EXPECT_EQ(std::vector<double>(v, v + 5), std::vector<double>(5, 0.0)) << "after planCompute";
  EXPECT_EQ(s->modelGetDesignVarBestResult(L"x", 1, v[0]).code, 3u);
  const struct { double lo, hi, weight, low, high; unsigned first, last; const char* want; } runs[] = {
      {0, 0, 0, 0, 0, 0, 16, "0 current 0 slots 0 0 0 0 0 0"},  // defaults: only x = 0, where y1 is exactly 0
      {0, 10, 0, 0, 6, 0, 2, "0 current 5 slots 0 0 5 0 0 0"},  // weight 0: the first five admissible points
      {0, 10, 0, 0, 6, 0, 4, "0 current 7.5 slots 0 0 5 2.5 0 0"},  // the walk 0, 5, 2.5, 7.5, 1.25, 6.25, 3.75, 8.75
      {0, 10, 0, 0, 6, 0, 7, "0 current 3.75 slots 0 0 5 2.5 1.25 3.75"},
      {0, 10, 0, 0, 6, 0, 8, "0 current 8.75 slots 0 0 5 2.5 1.25 3.75"},
      {0, 10, 1, 0, 0, 0, 8, "0 current 8.75 slots 0 8.75 6.25 3.75 1.25 3.75"},  // first slot beaten; 4, 5 kept
      {0, 10, 1, 0, 0, 5, 5, "4 current 8.75"},
      {0, 10, 1, 0, 0, 0, 4, "0 current 7.5 slots 0 7.5 2.5 3.75 1.25 3.75"},
      {0, 10, 1, 0, 0, 6, 5, "4 current 7.5"},
      {0, 40, 0, 20, 20, 1, 2, "0 current 20 slots 0 20 2.5 3.75 1.25 3.75"},  // inclusive limits: x = 20, then 10
      {0, 40, 0, 10, 10, 2, 3, "0 current 10 slots 0 10 2.5 3.75 1.25 3.75"},
      {0, 40, 0, 20.001, 30, 1, 2, "4 current 20"},
      {0, 40, 0, 0, 19.999, 1, 2, "4 current 20"},
      {0, 40, 0, 0, 9.999, 2, 3, "4 current 10"},
      {0, 40, -1, 10, 20, 0, 4, "0 current 30 slots 0 0 10 30 1.25 3.75"},  // limits of a weighted objective ignored
      {5, 1, 1, 0, 0, 0, 4, "0 current 2 slots 0 5 4 2 1.25 3.75"},  // reversed range: x = 5, 3, 4, 2
  };
  for (const auto& r : runs) {
    ASSERT_EQ(s->modelSetDesignVarLimits(L"x", r.lo, r.hi).code + s->modelSetObjectiveLimits(L"y1", r.weight, r.low, r.high).code, 0u);
    EXPECT_EQ(describe(*s, s->modelOptimize(r.first, r.last)), r.want) << r.first << ".." << r.last << " in [" << r.low << ", " << r.high << "]";
  }
  ASSERT_EQ(s->modelSetObjectiveLimits(L"y1", 2.5, 9, -4).code + s->modelSetDesignVarLimits(L"x", 7, -7).code, 0u);
  ASSERT_EQ(s->modelGetObjectiveLimits(L"y1", v[0], v[1], v[2]).code + s->modelGetDesignVarLimits(L"x", v[3], v[4]).code, 0u);
  EXPECT_EQ(std::vector<double>(v, v + 5), (std::vector<double>{2.5, 9, -4, 7, -7})) << "weight, low, high as given";
}

// Blocks and point by point leave the same bits for n = 1..20 (n = 5, m = 4: one objective codes differently).
TEST(SearchPaths, BlocksMatchPointByPointBitForBit) {
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::pair<unsigned, unsigned> stretches[] = {{0, 1}, {0, 16}, {3, 40}, {65530, 65600}, {1000, 1517}};
  for (int n = 1; n <= 20; ++n)
    for (int m : {1, 4, 20}) {
      tavrin::NumericWorkspace ws;
      ws.varCount = n, ws.objCount = m;
      ws.coefTable = tavrin::allocTriangularTable<float>(m + 1, n + 1);
      for (int i = 1; i <= n; ++i) {
        const double lo = 10 * u(rng), hi = lo + 0.5 + 5 * std::fabs(u(rng));
        for (int j = 1; j <= m; ++j) ws.levelLow[j][i] = lo, ws.levelHigh[j][i] = hi;
        ws.searchLow[i] = lo - u(rng), ws.searchHigh[i] = hi + u(rng);
        for (int slot = 1; slot <= 5; ++slot) ws.bestVarValue[slot][i] = u(rng);  // rows of an earlier run
      }
      for (int j = 1; j <= m; ++j) {
        for (int r = 0; r <= n; ++r)
          for (int c = 0; r + c <= n; ++c) ws.coefTable[j][r][c] = static_cast<float>(u(rng));
        ws.objWeight[j] = j % 3 == 0 ? 0.0 : u(rng);
        ws.objLow[j] = j % 3 == 0 ? -2.0 : 0.0, ws.objHigh[j] = -ws.objLow[j];
      }
      if (n == 5 && m == 4) ws.levelHigh[2][4] += 1.0;
      for (const auto& [first, last] : stretches) {
        tavrin::NumericWorkspace a = ws, b = ws;
        EXPECT_EQ(tavrin::searchBestPoints(a, first, last, tavrin::SearchPath::PointByPoint), tavrin::searchBestPoints(b, first, last, tavrin::SearchPath::Blocks));
        auto same = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
        EXPECT_TRUE(same(a.bestVarValue, b.bestVarValue) && same(a.bestObjValue, b.bestObjValue) && same(a.pointNatural, b.pointNatural) &&
                    same(a.pointCoded, b.pointCoded) && same(a.objValue, b.objValue)) << "n=" << n << " m=" << m << " points " << first << ".." << last;
      }
    }
}

}  // namespace
