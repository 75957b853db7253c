// The plan: settings bit-identical to the plan object, the seeded order,
// extra centre runs.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

#include "refused.h"
#include "tavrin/study.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

std::vector<Factor> factorsWithOddRanges(std::size_t n) {
  std::vector<Factor> factors;
  for (std::size_t i = 0; i < n; ++i) {
    const double low = 0.1 * static_cast<double>(i + 1) - 1e7 * static_cast<double>(i % 3);
    factors.push_back({"X" + std::to_string(i + 1), low, low + 0.7 + 0.3 * static_cast<double>(i), ""});
  }
  return factors;
}

TEST(Plan, NaturalSettingsMatchThePlanObjectBitForBit) {
  const struct {
    DesignKind kind;
    std::size_t n;
  } cases[] = {{DesignKind::BoxBehnken, 2}, {DesignKind::BoxBehnken, 9}, {DesignKind::Rechtschaffner, 7}};
  for (const auto& c : cases) {
    const std::vector<Factor> factors = factorsWithOddRanges(c.n);
    const Plan plan = makePlan(c.kind, factors, {.seed = 1});
    CTavrin object(c.kind == DesignKind::BoxBehnken ? CTavrin::BoxBehnkenPlan : CTavrin::RechschafnerPlan);
    std::vector<std::wstring> names;
    for (const Factor& f : factors) {
      names.push_back(std::wstring(f.name.begin(), f.name.end()));
      ASSERT_EQ(object.planAddDesignVar(names.back().c_str(), f.low, f.high).code, 0u);
    }
    ASSERT_EQ(object.planAddObjective(L"Y").code, 0u);
    ASSERT_EQ(object.planCompute().code, 0u);
    unsigned int runs = 0;
    object.planGetExperimentCount(runs);
    ASSERT_EQ(plan.runCount(), runs) << "n = " << c.n;
    for (unsigned int r = 1; r <= runs; ++r)
      for (std::size_t i = 0; i < c.n; ++i) {
        double value = 0.0;
        ASSERT_EQ(object.planGetDesignVarValue(names[i].c_str(), L"Y", r, value).code, 0u);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(plan.natural(r - 1, i)), std::bit_cast<std::uint64_t>(value))
            << "n = " << c.n << ", run " << r << ", factor " << i + 1;
      }
  }
}

TEST(Plan, ExtraCentreRunsFollowThePlanProper) {
  const Plan base = makePlan(DesignKind::BoxBehnken, factorsWithOddRanges(3), {.seed = 5});
  const Plan plan = makePlan(DesignKind::BoxBehnken, factorsWithOddRanges(3), {.seed = 5, .extraCenterRuns = 3});
  ASSERT_EQ(plan.runCount(), base.runCount() + 3);
  EXPECT_EQ(plan.baseRunCount(), base.runCount());
  for (std::size_t r = 0; r < base.runCount(); ++r)
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(plan.coded(r, i), base.coded(r, i));
  for (std::size_t r = base.runCount(); r < plan.runCount(); ++r)
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(plan.coded(r, i), 0.0);
      // The midpoint as the plan object computes it, ((low + high) + 0) / 2.
      const Factor& f = plan.factors[i];
      EXPECT_EQ(plan.natural(r, i), (f.low + f.high) / 2);
    }
  for (const int extra : {-1, 101})
    EXPECT_THROW(makePlan(DesignKind::BoxBehnken, factorsWithOddRanges(3), {.seed = 5, .extraCenterRuns = extra}),
                 InvalidArgument);
}

// A seed is read whole or refused: never wrapped past 2^64 - 1 or clamped.
TEST(Seed, IsReadWholeOrRefused) {
  EXPECT_EQ(parseSeed("0"), 0u);
  EXPECT_EQ(parseSeed("7"), 7u);
  EXPECT_EQ(parseSeed("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(parseSeed("00042"), 42u);
  for (const char* bad : {"-1", "18446744073709551616", "99999999999999999999999", "1e3", "2.5", "+3", " 3", "3 ",
                          "", "0x10", "seven"}) {
    const testing::Refusal r = testing::refused<InvalidArgument>([&] { parseSeed(bad); });
    EXPECT_EQ(r.field, "seed") << bad;
    EXPECT_TRUE(r.mentions(std::string("\"") + bad + "\"")) << r.what;
  }
}

// The exact order is checked against an independent MT19937-64 in
// test_reference.py; here the plan's order and its inverse.
TEST(ExecutionOrder, IsThePlansSeedsAndOrderOfInvertsIt) {
  const Plan plan = makePlan(DesignKind::Rechtschaffner, factorsWithOddRanges(5), {.seed = 77});
  EXPECT_EQ(plan.executionOrder, executionOrder(plan.runCount(), 77));
  for (std::size_t k = 0; k < plan.runCount(); ++k) EXPECT_EQ(plan.orderOf(plan.executionOrder[k]), int(k) + 1);
  EXPECT_THROW((void)plan.orderOf(0), UnknownName);
}

}  // namespace
}  // namespace tavrin
