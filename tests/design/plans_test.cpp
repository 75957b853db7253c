#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "design/plans.h"

using Plan = tavrin::Table<std::int32_t>;

namespace {

std::vector<int> runOf(const Plan& plan, int r, int n) { return {plan[r] + 1, plan[r] + n + 1}; }

// Row 0 and column 0 are outside the plan and must stay 0.
void expectBorderZero(const Plan& plan) {
  for (std::size_t c = 0; c < plan.colCount(); ++c) EXPECT_EQ(plan[0][c], 0);
  for (std::size_t r = 0; r < plan.rowCount(); ++r) EXPECT_EQ(plan[r][0], 0);
}

}  // namespace

TEST(RechtschaffnerPlan, FourVariablesRunByRun) {
  const std::vector<std::vector<int>> kRuns = {
      {-1, -1, -1, -1}, {-1, +1, +1, +1}, {+1, -1, +1, +1}, {+1, +1, -1, +1}, {+1, +1, +1, -1},
      {+1, +1, -1, -1}, {+1, -1, +1, -1}, {+1, -1, -1, +1}, {-1, +1, +1, -1}, {-1, +1, -1, +1},
      {-1, -1, +1, +1}, {+1, 0, 0, 0},    {0, +1, 0, 0},    {0, 0, +1, 0},    {0, 0, 0, +1}};
  const Plan plan = tavrin::buildRechtschaffnerPlan(4);
  ASSERT_EQ(plan.rowCount(), 17u);
  ASSERT_EQ(plan.colCount(), 5u);
  for (int r = 1; r <= 15; ++r) EXPECT_EQ(runOf(plan, r, 4), kRuns[r - 1]) << "run " << r;
  EXPECT_EQ(runOf(plan, 16, 4), std::vector<int>(4, 0));
  expectBorderZero(plan);
}

TEST(RechtschaffnerPlan, GroupStructureForEverySupportedCount) {
  const int kRunCounts[] = {15, 21, 28, 36, 45, 55, 66, 78, 91, 105, 120, 136, 153, 171, 190, 210, 231};
  for (int n = 4; n <= 20; ++n) {
    SCOPED_TRACE(testing::Message() << "n = " << n);
    const int N = kRunCounts[n - 4];
    EXPECT_EQ(tavrin::rechtschaffnerRunCount(n), N);
    const Plan plan = tavrin::buildRechtschaffnerPlan(n);
    ASSERT_EQ(plan.rowCount(), static_cast<std::size_t>(N + 2));
    ASSERT_EQ(plan.colCount(), static_cast<std::size_t>(n + 1));
    expectBorderZero(plan);
    EXPECT_EQ(runOf(plan, N + 1, n), std::vector<int>(n, 0));
    EXPECT_EQ(runOf(plan, 1, n), std::vector<int>(n, -1));
    int r = 2;
    for (int k = 1; k <= n; ++k, ++r) {  // variable k alone at -1
      std::vector<int> expected(n, +1);
      expected[k - 1] = -1;
      EXPECT_EQ(runOf(plan, r, n), expected) << "run " << r;
    }
    std::pair<int, int> previous{0, 0};
    for (int p = 0; p < n * (n - 1) / 2; ++p, ++r) {  // pairs at +1, the rest at -1, in order
      std::vector<int> high;
      for (int i = 1; i <= n; ++i) {
        if (plan[r][i] == +1) {
          high.push_back(i);
        } else {
          EXPECT_EQ(plan[r][i], -1);
        }
      }
      ASSERT_EQ(high.size(), 2u) << "run " << r;
      EXPECT_LT(previous, std::make_pair(high[0], high[1]));
      previous = {high[0], high[1]};
    }
    for (int k = 1; k <= n; ++k, ++r) {  // variable k alone at +1, the rest at 0
      std::vector<int> expected(n, 0);
      expected[k - 1] = +1;
      EXPECT_EQ(runOf(plan, r, n), expected) << "run " << r;
    }
    EXPECT_EQ(r, N + 1);
  }
}

TEST(BoxBehnkenPlan, SmallPlansRunByRun) {
  const struct {
    int n;
    std::vector<std::vector<int>> runs;
  } kCases[] = {
      {1, {{-1}, {+1}, {0}}},
      {2, {{+1, +1}, {-1, +1}, {+1, -1}, {-1, -1}, {+1, 0}, {-1, 0}, {0, +1}, {0, -1}, {0, 0}}},
      {3, {{+1, +1, 0}, {+1, -1, 0}, {-1, +1, 0}, {-1, -1, 0}, {+1, 0, +1}, {+1, 0, -1}, {-1, 0, +1},
           {-1, 0, -1}, {0, +1, +1}, {0, +1, -1}, {0, -1, +1}, {0, -1, -1}, {0, 0, 0}}},
  };
  for (const auto& c : kCases) {
    const Plan plan = tavrin::buildBoxBehnkenPlan(c.n);
    ASSERT_EQ(plan.rowCount(), c.runs.size() + 1);
    ASSERT_EQ(plan.colCount(), static_cast<std::size_t>(c.n + 1));
    expectBorderZero(plan);
    for (std::size_t r = 1; r <= c.runs.size(); ++r) {
      EXPECT_EQ(runOf(plan, static_cast<int>(r), c.n), c.runs[r - 1]) << "n = " << c.n << ", run " << r;
    }
  }
}

TEST(BoxBehnkenPlan, FactorialRowsInOrder) {
  const std::vector<std::vector<int>> kF3 = {{+1, +1, +1}, {+1, +1, -1}, {+1, -1, -1}, {-1, -1, -1},
                                             {-1, -1, +1}, {-1, +1, +1}, {+1, -1, +1}, {-1, +1, -1}};
  const std::vector<std::vector<int>> kF4 = {
      {-1, -1, -1, -1}, {+1, -1, -1, +1}, {-1, +1, -1, +1}, {+1, +1, -1, -1}, {-1, -1, +1, -1}, {+1, -1, +1, +1},
      {-1, +1, +1, +1}, {+1, +1, +1, -1}, {+1, +1, +1, +1}, {-1, +1, +1, -1}, {+1, -1, +1, -1}, {-1, -1, +1, +1},
      {+1, +1, -1, +1}, {-1, +1, -1, -1}, {+1, -1, -1, -1}, {-1, -1, -1, +1}};
  // The first block of n = 6 is {1,2,4} (F3), of n = 10 {2,6,7,10} (F4), of
  // n = 11 {3,7,8,9,11} (F4 plus the product of its four levels).
  const struct {
    int n;
    std::vector<int> block;
  } kCases[] = {{6, {1, 2, 4}}, {10, {2, 6, 7, 10}}, {11, {3, 7, 8, 9, 11}}};
  for (const auto& c : kCases) {
    const Plan plan = tavrin::buildBoxBehnkenPlan(c.n);
    const auto& f = c.block.size() == 3 ? kF3 : kF4;
    for (std::size_t row = 0; row < f.size(); ++row) {
      std::vector<int> expected(c.n, 0);
      int product = 1;
      for (std::size_t t = 0; t < 4 && t < c.block.size(); ++t) {
        expected[c.block[t] - 1] = f[row][t];
        product *= f[row][t];
      }
      if (c.block.size() == 5) expected[c.block[4] - 1] = product;
      EXPECT_EQ(runOf(plan, static_cast<int>(row) + 1, c.n), expected) << "n = " << c.n << ", run " << row + 1;
    }
  }
}

TEST(BoxBehnkenPlan, BlockStructureForEverySupportedCount) {
  const struct {
    int n, runs, blockSize, perVariable;
    std::set<int> firstBlock, lastBlock;
  } kCases[] = {
      {3, 13, 2, 8, {1, 2}, {2, 3}},
      {4, 25, 2, 12, {1, 2}, {2, 4}},
      {5, 41, 2, 16, {1, 2}, {2, 4}},
      {6, 49, 3, 24, {1, 2, 4}, {1, 3, 6}},
      {7, 57, 3, 24, {4, 5, 6}, {2, 3, 6}},
      {9, 121, 3, 40, {1, 4, 7}, {3, 6, 9}},
      {10, 161, 4, 64, {2, 6, 7, 10}, {4, 5, 6, 8}},
      {11, 177, 5, 80, {3, 7, 8, 9, 11}, {2, 6, 7, 8, 10}},
      {12, 193, 4, 64, {1, 2, 5, 7}, {1, 4, 6, 12}},
      {16, 385, 4, 96, {1, 2, 6, 9}, {2, 8, 12, 14}},
  };
  for (int n = 0; n <= 17; ++n) {
    const bool supported = n >= 1 && n != 8 && (n <= 12 || n == 16);
    EXPECT_EQ(tavrin::boxBehnkenSupports(n), supported) << n;
  }
  EXPECT_EQ(tavrin::boxBehnkenRunCount(1), 3);
  EXPECT_EQ(tavrin::boxBehnkenRunCount(2), 9);
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "n = " << c.n);
    EXPECT_EQ(tavrin::boxBehnkenRunCount(c.n), c.runs);
    const Plan plan = tavrin::buildBoxBehnkenPlan(c.n);
    ASSERT_EQ(plan.rowCount(), static_cast<std::size_t>(c.runs + 1));
    ASSERT_EQ(plan.colCount(), static_cast<std::size_t>(c.n + 1));
    expectBorderZero(plan);
    EXPECT_EQ(runOf(plan, c.runs, c.n), std::vector<int>(c.n, 0));  // the centre run closes the plan
    const int blockRuns = c.blockSize == 2 ? 4 : c.blockSize == 3 ? 8 : 16;
    std::vector<int> perVariable(c.n + 1, 0);
    for (int first = 1; first < c.runs; first += blockRuns) {
      // A block: the same variables move in every run, through distinct
      // sign patterns; the half fraction keeps the product of its five at +1.
      std::set<int> moving;
      std::set<std::vector<int>> patterns;
      for (int r = first; r < first + blockRuns; ++r) {
        std::set<int> nonZero;
        std::vector<int> pattern;
        int product = 1;
        for (int i = 1; i <= c.n; ++i) {
          ASSERT_TRUE(plan[r][i] >= -1 && plan[r][i] <= 1);
          if (plan[r][i] == 0) continue;
          nonZero.insert(i);
          pattern.push_back(plan[r][i]);
          product *= plan[r][i];
          ++perVariable[i];
        }
        EXPECT_EQ(nonZero.size(), static_cast<std::size_t>(c.blockSize)) << "run " << r;
        if (r == first) moving = nonZero;
        EXPECT_EQ(nonZero, moving) << "run " << r;
        patterns.insert(pattern);
        if (c.blockSize == 5) {
          EXPECT_EQ(product, 1) << "run " << r;
        }
      }
      EXPECT_EQ(patterns.size(), static_cast<std::size_t>(blockRuns));
      if (first == 1) {
        EXPECT_EQ(moving, c.firstBlock);
      }
      if (first + blockRuns == c.runs) {
        EXPECT_EQ(moving, c.lastBlock);
      }
    }
    for (int i = 1; i <= c.n; ++i) EXPECT_EQ(perVariable[i], c.perVariable) << "variable " << i;
  }
}

TEST(BoxBehnkenPlan, NineVariablesRepeatTheirFirstThreeBlocks) {
  const Plan plan = tavrin::buildBoxBehnkenPlan(9);
  for (int r = 1; r <= 24; ++r) EXPECT_EQ(runOf(plan, r + 96, 9), runOf(plan, r, 9)) << "run " << r;
}

TEST(PlanGenerators, EachCallReturnsAnIndependentTable) {
  for (bool boxBehnken : {false, true}) {
    Plan a = boxBehnken ? tavrin::buildBoxBehnkenPlan(5) : tavrin::buildRechtschaffnerPlan(5);
    const Plan b = boxBehnken ? tavrin::buildBoxBehnkenPlan(5) : tavrin::buildRechtschaffnerPlan(5);
    ASSERT_NE(a.data(), b.data());
    ASSERT_EQ(a.rowCount(), b.rowCount());
    for (std::size_t r = 0; r < a.rowCount(); ++r) EXPECT_EQ(runOf(a, static_cast<int>(r), 5), runOf(b, static_cast<int>(r), 5));
    a[1][1] = 9;
    EXPECT_NE(b[1][1], 9);
  }
}
