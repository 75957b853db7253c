#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "design/tables.h"
#include "model/reference_model.h"
#include "optimize/lptau.h"
#include "optimize/search.h"
#include "study_helpers.h"

namespace {

using reference::bits;
using study::errorText;

// One variable x declared on [0, 10] and one objective y measured as x
// itself at the three Box-Behnken runs (0, 10, 5): the fitted model
// predicts x exactly at every dyadic point.
std::unique_ptr<CTavrin> identityStudy(int objectives = 1) {
  auto s = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  s->planAddDesignVar(L"x", 0, 10);
  for (int j = 1; j <= objectives; ++j) s->planAddObjective(study::objName(j).c_str());
  EXPECT_EQ(s->planCompute().code, 0u);
  for (unsigned r = 1; r <= 3; ++r) {
    double x = 0;
    EXPECT_EQ(s->planGetDesignVarValue(L"x", L"y1", r, x).code, 0u);
    for (int j = 1; j <= objectives; ++j) s->planSetObjectiveValue(study::objName(j).c_str(), r, x);
  }
  EXPECT_EQ(s->modelCompute().code, 0u);
  return s;
}

double bestX(CTavrin& s, unsigned slot) {
  double v = -1;
  EXPECT_EQ(s.modelGetDesignVarBestResult(L"x", slot, v).code, 0u);
  return v;
}

double bestY(CTavrin& s, unsigned slot) {
  double v = -1;
  EXPECT_EQ(s.modelGetObjectiveBestResult(L"y1", slot, v).code, 0u);
  return v;
}

double currentY(CTavrin& s) {
  double v = -1;
  EXPECT_EQ(s.modelGetObjectiveValue(L"y1", v).code, 0u);
  return v;
}

TEST(ModelOptimize, RefusesWithoutPlanOrModel) {
  CTavrin fresh(CTavrin::BoxBehnkenPlan);
  Result r = fresh.modelOptimize(0, 8);
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(std::wstring(r.message), errorText(L"modelOptimize", L"Plan is not computed."));
  auto s = identityStudy();
  ASSERT_EQ(s->planSetObjectiveValue(L"y1", 1, 3.0).code, 0u);  // clears the model
  r = s->modelOptimize(0, 8);
  EXPECT_EQ(r.code, 2u);
  EXPECT_EQ(std::wstring(r.message), errorText(L"modelOptimize", L"Model is not computed."));
  EXPECT_FALSE(s->modelIsOptimized());
}

// The one-variable walk: points 0..7 on [0, 10] are 0, 5, 2.5, 7.5, 1.25,
// 6.25, 3.75, 8.75. With weight 1 each point takes the first slot it beats.
TEST(ModelOptimize, OneVariableWalkKeepsFirstBeatenSlot) {
  auto s = identityStudy();
  double v = -1;
  EXPECT_EQ(s->modelGetDesignVarBestResult(L"x", 1, v).code, 3u) << "no run yet";
  EXPECT_EQ(std::wstring(s->modelGetObjectiveBestResult(L"y1", 1, v).message),
            errorText(L"modelGetObjectiveBestResult", L"Model is not optimized."));
  ASSERT_EQ(s->modelSetDesignVarLimits(L"x", 0, 10).code, 0u);
  ASSERT_EQ(s->modelSetObjectiveLimits(L"y1", 1, 0, 0).code, 0u);
  const double tried[8] = {0, 5, 2.5, 7.5, 1.25, 6.25, 3.75, 8.75};
  for (unsigned k = 1; k <= 8; ++k) {
    ASSERT_EQ(s->modelOptimize(0, k).code, 0u);
    EXPECT_EQ(currentY(*s), tried[k - 1]) << "the last point tried stays current";
  }

  // All weights zero: the first five admissible points, in order.
  ASSERT_EQ(s->modelSetObjectiveLimits(L"y1", 0, 0, 10).code, 0u);
  ASSERT_EQ(s->modelOptimize(0, 5).code, 0u);
  for (unsigned slot = 1; slot <= 5; ++slot) EXPECT_EQ(bestX(*s, slot), tried[slot - 1]);

  ASSERT_EQ(s->modelSetObjectiveLimits(L"y1", 1, 0, 0).code, 0u);
  const Result r = s->modelOptimize(0, 8);
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(std::wstring(r.message), L"No Errors");
  EXPECT_TRUE(s->modelIsOptimized());
  const double slots[6] = {0, 8.75, 6.25, 3.75, 7.5, 1.25};  // slots 4, 5 from the run before
  for (unsigned slot = 0; slot <= 5; ++slot) {
    EXPECT_EQ(bestX(*s, slot), slots[slot]) << "slot " << slot;
    EXPECT_EQ(bestY(*s, slot), slots[slot]) << "slot " << slot;
  }
  EXPECT_EQ(currentY(*s), 8.75);
  ASSERT_EQ(s->modelOptimize(0, 7).code, 0u);
  EXPECT_EQ(currentY(*s), 3.75) << "the last point tried, not the best one";
  EXPECT_EQ(bestY(*s, 1), 7.5);
}

TEST(ModelOptimize, ZeroWeightsSkipRejectedPoints) {
  auto s = identityStudy();
  s->modelSetDesignVarLimits(L"x", 0, 10);
  s->modelSetObjectiveLimits(L"y1", 0, 0, 6);  // rejects 7.5, 6.25, 8.75
  ASSERT_EQ(s->modelOptimize(0, 8).code, 0u);
  const double expected[5] = {0, 5, 2.5, 1.25, 3.75};
  for (unsigned slot = 1; slot <= 5; ++slot) EXPECT_EQ(bestX(*s, slot), expected[slot - 1]);
}

TEST(ModelOptimize, EmptyRangeFindsNothing) {
  for (unsigned first : {5u, 6u}) {
    auto s = identityStudy();
    s->modelSetDesignVarLimits(L"x", 0, 10);
    s->modelSetObjectiveLimits(L"y1", 1, 0, 0);
    ASSERT_EQ(s->modelOptimize(0, 4).code, 0u);
    ASSERT_TRUE(s->modelIsOptimized());
    const Result r = s->modelOptimize(first, 5);
    EXPECT_EQ(r.code, 4u);
    EXPECT_EQ(std::wstring(r.message), errorText(L"modelOptimize", L"Can not find optimal results"));
    EXPECT_FALSE(s->modelIsOptimized());
    EXPECT_TRUE(s->modelIsComputed());
    double v;
    EXPECT_EQ(s->modelGetDesignVarBestResult(L"x", 1, v).code, 3u);
  }
}

// Search range [0, 40]: point 1 is x = 20, point 2 is x = 10, and the
// model predicts x there exactly. Constraint limits are inclusive.
TEST(ModelOptimize, ConstraintLimitsAreInclusive) {
  struct Case {
    unsigned point;
    double low, high;
    unsigned code;
  };
  const Case cases[] = {{1, 10, 20, 0},     {2, 10, 20, 0},     {1, 20, 20, 0},        {2, 10, 10, 0},
                        {1, 20.001, 30, 4}, {1, 0, 19.999, 4},  {2, 10.001, 20, 4},    {2, 0, 9.999, 4},
                        {1, 21, 19, 4}};
  auto s = identityStudy();
  s->modelSetDesignVarLimits(L"x", 0, 40);
  for (const Case& c : cases) {
    ASSERT_EQ(s->modelSetObjectiveLimits(L"y1", 0, c.low, c.high).code, 0u);
    EXPECT_EQ(s->modelOptimize(c.point, c.point + 1).code, c.code) << c.point << " in [" << c.low << ", " << c.high << "]";
    EXPECT_EQ(currentY(*s), c.point == 1 ? 20.0 : 10.0);
  }
}

// Points 0..3 on [0, 40] predict 0, 20, 10, 30; weight -1 prefers low
// values and its limits [10, 20] are never tested.
TEST(ModelOptimize, NegativeWeightIgnoresLimits) {
  auto s = identityStudy();
  s->modelSetDesignVarLimits(L"x", 0, 40);
  s->modelSetObjectiveLimits(L"y1", -1, 10, 20);
  ASSERT_EQ(s->modelOptimize(0, 4).code, 0u);
  EXPECT_EQ(bestY(*s, 1), 0.0);
  EXPECT_EQ(bestY(*s, 2), 10.0);
  EXPECT_EQ(bestY(*s, 3), 30.0);
  EXPECT_EQ(bestY(*s, 4), 0.0) << "never filled";
}

// searchLow 5, searchHigh 1: t maps to 5 - 4 t, so points 0..3 are 5, 3, 4, 2.
TEST(ModelOptimize, ReversedSearchRangeIsUsedAsGiven) {
  auto s = identityStudy();
  s->modelSetDesignVarLimits(L"x", 5, 1);
  s->modelSetObjectiveLimits(L"y1", 1, 0, 0);
  ASSERT_EQ(s->modelOptimize(0, 4).code, 0u);
  EXPECT_EQ(bestX(*s, 1), 5.0);
  EXPECT_EQ(bestX(*s, 2), 4.0);
  EXPECT_EQ(bestX(*s, 3), 2.0);
  EXPECT_EQ(currentY(*s), 2.0);
}

// After planCompute every search range is [0, 0] and every objective a
// constraint on [0, 0]: a run succeeds only if the prediction at the
// all-zero point is exactly 0.
TEST(ModelOptimize, DefaultsAdmitOnlyExactZeroPredictions) {
  auto identity = identityStudy();  // predicts 0 at x = 0 (not all observations are 0)
  ASSERT_EQ(identity->modelOptimize(0, 16).code, 0u);
  for (unsigned slot = 1; slot <= 5; ++slot) EXPECT_EQ(bestX(*identity, slot), 0.0);

  auto offset = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  offset->planAddDesignVar(L"x", 0, 10);
  offset->planAddObjective(L"y1");
  ASSERT_EQ(offset->planCompute().code, 0u);
  for (unsigned r = 1; r <= 3; ++r) offset->planSetObjectiveValue(L"y1", r, 1e-30);
  ASSERT_EQ(offset->modelCompute().code, 0u);
  EXPECT_EQ(offset->modelOptimize(0, 16).code, 4u);
  EXPECT_FALSE(offset->modelIsOptimized());
}

// Variable d walks row d of the sequence: with three variables on search
// ranges [2, 10], [-4, 12], [1, 33], point i lands at (hi - lo) t + lo.
TEST(ModelOptimize, EachVariableUsesItsOwnDimension) {
  auto s = study::computedStudy(CTavrin::BoxBehnkenPlan, 3, 3, [](int) { return study::Range{0, 10}; });
  const unsigned N = study::runCount(*s);
  for (int j = 1; j <= 3; ++j)
    for (unsigned r = 1; r <= N; ++r)
      s->planSetObjectiveValue(study::objName(j).c_str(), r, study::naturalAt(*s, j, r));  // y_j measures x_j
  ASSERT_EQ(s->modelCompute().code, 0u);
  const double lo[3] = {2, -4, 1}, hi[3] = {10, 12, 33};
  for (int i = 1; i <= 3; ++i) s->modelSetDesignVarLimits(study::varName(i).c_str(), lo[i - 1], hi[i - 1]);
  for (int j = 1; j <= 3; ++j) s->modelSetObjectiveLimits(study::objName(j).c_str(), 1, 0, 0);
  const double t[8][3] = {{0, 0, 0},           {0.5, 0.5, 0.5},       {0.25, 0.75, 0.25},   {0.75, 0.25, 0.75},
                          {0.125, 0.625, 0.875}, {0.625, 0.125, 0.375}, {0.375, 0.375, 0.625}, {0.875, 0.875, 0.125}};
  for (unsigned p = 0; p < 8; ++p) {
    ASSERT_EQ(s->modelOptimize(p, p + 1).code, 0u);
    for (int i = 1; i <= 3; ++i) {
      const double expected = (hi[i - 1] - lo[i - 1]) * t[p][i - 1] + lo[i - 1];
      double v = 0;
      ASSERT_EQ(s->modelGetDesignVarBestResult(study::varName(i).c_str(), 1, v).code, 0u);
      EXPECT_EQ(v, expected) << "point " << p << " variable " << i;
      ASSERT_EQ(s->modelGetObjectiveBestResult(study::objName(i).c_str(), 1, v).code, 0u);
      EXPECT_NEAR(v, expected, 1e-5) << "y_i predicts x_i";
    }
  }
}

// ---------------------------------------------------------------- search core

// A literal run of the search over a workspace: map, evaluate, score, rank.
struct LiteralRun {
  double bestVar[6][21] = {}, bestObj[6][21] = {}, point[21] = {}, value[21] = {};
  bool found = false;
};

LiteralRun literalSearch(const tavrin::NumericWorkspace& ws, const std::vector<reference::Coefs>& models, unsigned first,
                         unsigned last, const double (&startVar)[6][21], const double (&startObj)[6][21]) {
  LiteralRun out;
  std::copy(&startVar[0][0], &startVar[0][0] + 6 * 21, &out.bestVar[0][0]);
  std::copy(&startObj[0][0], &startObj[0][0] + 6 * 21, &out.bestObj[0][0]);
  const double lowest = -1.7976931348623157e308;
  double score[6] = {lowest, lowest, lowest, lowest, lowest, lowest};
  const int n = ws.varCount, m = ws.objCount;
  for (unsigned i = first; i < last; ++i) {
    double t[21];
    tavrin::lptauPoint(i, n, t);
    for (int d = 1; d <= n; ++d) out.point[d] = (ws.searchHigh[d] - ws.searchLow[d]) * t[d] + ws.searchLow[d];
    for (int j = 1; j <= m; ++j) {
      double x[21];
      for (int d = 1; d <= n; ++d) x[d] = (2 * out.point[d] - ws.levelHigh[j][d] - ws.levelLow[j][d]) / (ws.levelHigh[j][d] - ws.levelLow[j][d]);
      out.value[j] = reference::evaluate(models[static_cast<std::size_t>(j)], x);
    }
    double s = 0.0;
    for (int j = 1; j <= m; ++j) {
      if (std::fabs(ws.objWeight[j]) < 1e-300 && (ws.objLow[j] > out.value[j] || ws.objHigh[j] < out.value[j])) {
        s = lowest;
        break;
      }
      s += out.value[j] * ws.objWeight[j];
    }
    for (int slot = 1; slot <= 5; ++slot) {
      if (score[slot] < s) {
        score[slot] = s;
        for (int d = 1; d <= n; ++d) out.bestVar[slot][d] = out.point[d];
        for (int j = 1; j <= m; ++j) out.bestObj[slot][j] = out.value[j];
        break;
      }
    }
  }
  for (int slot = 1; slot <= 5; ++slot) out.found = out.found || score[slot] != lowest;
  return out;
}

// Both evaluation paths of the search give the bits of the literal run,
// for stretches that fill whole blocks, leave a tail, or are shorter than a
// block, with a constraint that rejects part of the points.
TEST(SearchBestPoints, BothPathsMatchLiteralRunBitForBit) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int n : {1, 2, 5, 20}) {
    const int m = 3;
    tavrin::NumericWorkspace ws;
    ws.varCount = n;
    ws.objCount = m;
    ws.coefTable = tavrin::allocTriangularTable<float>(m + 1, static_cast<std::size_t>(n) + 1);
    std::vector<reference::Coefs> models(m + 1, reference::Coefs(n));
    for (int j = 1; j <= m; ++j) {
      for (const auto& [r, c] : reference::positions(n)) {
        const float v = static_cast<float>(10 * u(rng));
        ws.coefTable[static_cast<std::size_t>(j)][r][c] = v;
        models[static_cast<std::size_t>(j)].at(r, c) = v;
      }
      for (int i = 1; i <= n; ++i) {
        ws.levelLow[j][i] = -1 - i;
        ws.levelHigh[j][i] = 2 + 0.5 * i;
      }
    }
    for (int i = 1; i <= n; ++i) {
      ws.searchLow[i] = -2 + 0.1 * u(rng);
      ws.searchHigh[i] = 3 + u(rng);
    }
    ws.objWeight[1] = 1.5;
    ws.objWeight[2] = -0.25;
    ws.objLow[3] = -5;  // objective 3 is a constraint
    ws.objHigh[3] = 5;
    for (int slot = 1; slot <= 5; ++slot) ws.bestVarValue[slot][1] = 100 + slot;  // rows of an earlier run

    for (const auto& [first, last] : std::vector<std::pair<unsigned, unsigned>>{{0, 3}, {7, 8 * 9 + 12}, {100, 164}, {65530, 65600}}) {
      const LiteralRun expected = literalSearch(ws, models, first, last, ws.bestVarValue, ws.bestObjValue);
      for (auto path : {tavrin::SearchPath::PointByPoint, tavrin::SearchPath::Blocks}) {
        tavrin::NumericWorkspace run = ws;
        EXPECT_EQ(tavrin::searchBestPoints(run, first, last, path), expected.found);
        int bad = 0;
        for (int slot = 0; slot <= 5; ++slot) {
          for (int d = 1; d <= n; ++d) bad += bits(run.bestVarValue[slot][d]) != bits(expected.bestVar[slot][d]);
          for (int j = 1; j <= m; ++j) bad += bits(run.bestObjValue[slot][j]) != bits(expected.bestObj[slot][j]);
        }
        for (int d = 1; d <= n; ++d) bad += bits(run.pointNatural[d]) != bits(expected.point[d]);
        for (int j = 1; j <= m; ++j) bad += bits(run.objValue[j]) != bits(expected.value[j]);
        EXPECT_EQ(bad, 0) << "n=" << n << " points " << first << ".." << last << " path " << static_cast<int>(path);
      }
    }
  }
}

}  // namespace
