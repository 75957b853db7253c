// The global stage: each lane of its block kernel against samplePoint and
// the promised fused multiply-add order, bit for bit on every instruction
// set; its selection against a full sort of every point scored alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <set>

#include "model/evaluate_block.h"
#include "optimum/fixtures.h"
#include "optimum/global_search.h"
#include "optimum/problem.h"
#include "optimum/sample_kernel.h"
#include "tavrin/quadratic.h"

namespace tavrin::optimum {
namespace {

using tavrin::testing::goal;

constexpr BlockPath kPaths[] = {BlockPath::Baseline, BlockPath::Avx2, BlockPath::Avx512};

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The promised value, term by term from the layout of quadratic.h.
double promisedValue(const double* coef, std::size_t n, const double* x) {
  double y = coef[0];
  for (std::size_t i = 0; i < n; ++i) {
    double row = std::fma(coef[quadratic::squareIndex(n, i)], x[i], coef[quadratic::linearIndex(i)]);
    for (std::size_t j = i + 1; j < n; ++j) row = std::fma(coef[quadratic::productIndex(n, i, j)], x[j], row);
    y = std::fma(row, x[i], y);
  }
  return y;
}

TEST(SampleKernel, EveryLaneIsItsPointEvaluatedInThePromisedOrderOnEveryPath) {
  // Factors, models, and whether factor 1 is fixed (the sequence's
  // dimensions then skip it).
  const struct {
    std::size_t factors, models;
    bool fixed;
  } cases[] = {{1, 1, false}, {2, 2, false}, {3, 1, true},  {4, 3, false}, {5, 2, true},
               {6, 1, false}, {7, 2, false}, {8, 1, true}, {11, 2, false}, {20, 3, false}};
  // A first point that is not a multiple of the block, and a partial block.
  constexpr std::uint32_t kFirst = 4096 + 3 * kLanes;
  constexpr unsigned kCount = kLanes - 5;
  for (const auto& c : cases) {
    // A region with ends not exact in binary; coefficients of mixed signs and magnitudes.
    Problem p;
    p.factors = c.factors;
    for (std::size_t f = 0; f < c.factors; ++f) {
      p.lower.push_back(-0.9 + 0.03 * double(f));
      p.upper.push_back(c.fixed && f == 1 ? p.lower.back() : 0.7 + 0.01 * double(f));
      if (p.upper[f] > p.lower[f]) p.freeFactors.push_back(f);
    }
    p.lowerNatural = p.lower;
    p.upperNatural = p.upper;
    for (std::size_t m = 0; m < c.models; ++m) p.responses.push_back(m);
    p.scale.assign(c.models, 1.0);
    const std::size_t terms = quadratic::termCount(c.factors);
    std::vector<double> coef(terms * c.models);
    for (std::size_t k = 0; k < coef.size(); ++k) coef[k] = std::sin(1.3 * double(k) + 0.1) * (k % 3 == 0 ? 7.1 : 0.37);
    const PackedModels packed = packModels(c.factors, c.models, coef.data());
    const SampleSetup setup = prepareSample(p, packed);
    for (const BlockPath path : kPaths) {
      if (!useBlockPath(path)) continue;
      SCOPED_TRACE(::testing::Message() << c.factors << " factors, " << c.models << " models, path " << int(path));
      SampleBlock block;
      initBlock(setup, block);
      std::uint32_t acc[kLptauDimensions + 1];
      sequenceAt(kFirst, p.freeFactors.size(), acc);
      std::copy(acc + 1, acc + 1 + p.freeFactors.size(), block.base);
      std::fill(std::begin(block.threshold), std::end(block.threshold), -INFINITY);
      scoreSampleBlock(setup, block, kCount);
      std::vector<double> x(c.factors);
      for (unsigned l = 0; l < kCount; ++l) {
        samplePoint(p, kFirst + l, x.data());
        for (std::size_t f = 0; f < c.factors; ++f) ASSERT_EQ(bits(block.x[f].lane[l]), bits(x[f])) << "lane " << l;
        for (std::size_t m = 0; m < c.models; ++m)
          ASSERT_EQ(bits(block.values[m].lane[l]), bits(promisedValue(coef.data() + m * terms, c.factors, x.data())))
              << "lane " << l << ", model " << m;
      }
    }
  }
  useBlockPath(BlockPath::Best);
}

struct StageCase {
  const char* name;
  std::vector<Goal> goals;
  std::vector<Constraint> constraints;
};

class GlobalStage : public ::testing::TestWithParam<StageCase> {};

TEST_P(GlobalStage, PicksWhatAFullSortPicksOnEveryInstructionSet) {
  // Three factors with ranges not exact in binary, three curved responses.
  const Fit fit = tavrin::testing::exactFit(
      DesignKind::BoxBehnken, tavrin::testing::threeFactors(),
      {[](const double* x) { return 7.3 + 1.1 * x[0] - 0.7 * x[1] * x[1] + 0.45 * x[0] * x[2] - x[2] * x[2]; },
       [](const double* x) { return 3.1 - 0.9 * x[1] + 0.6 * x[0] * x[0] + 0.35 * x[1] * x[2]; },
       [](const double* x) { return 0.2 + 0.8 * x[2] + 0.3 * x[0] * x[1] - 0.55 * x[0] * x[0]; }},
      2, [](std::size_t r, std::size_t j) { return 0.01 * std::sin(1.7 * double(r) + double(j)); });
  Goals goals;
  goals.goals = GetParam().goals;
  goals.constraints = GetParam().constraints;
  const Problem p = compileProblem(fit, goals);
  const std::vector<double> coef = slotCoefficients(p, fit);
  const std::size_t terms = quadratic::termCount(p.factors);
  // Not a whole number of blocks or chunks, so the last block is partial.
  constexpr unsigned kPoints = 5000 + 37;
  constexpr std::size_t kKeep = 40;

  // The reference: every point scored alone, its region cell (a bit per
  // free factor in the upper half) read off its coordinates; the best
  // kKeep points and the best of each cell are the ones promised.
  std::vector<SamplePoint> all;
  std::vector<unsigned> cell;
  unsigned admissible = 0;
  std::vector<double> x(p.factors), values(p.slotCount());
  for (std::uint32_t i = 0; i < kPoints; ++i) {
    samplePoint(p, i, x.data());
    for (std::size_t s = 0; s < p.slotCount(); ++s) values[s] = promisedValue(coef.data() + s * terms, p.factors, x.data());
    const double v = violation(p, values.data());
    const bool ok = v <= kFeasibilityTolerance;
    admissible += ok ? 1u : 0u;
    all.push_back({i, ok, ok ? rankKey(p, values.data()) : -v});
    unsigned c = 0;
    for (std::size_t d = 0; d < p.freeFactors.size(); ++d) {
      const std::size_t f = p.freeFactors[d];
      if (x[f] >= p.lower[f] + (p.upper[f] - p.lower[f]) * 0.5) c |= 1u << d;
    }
    cell.push_back(c);
  }
  std::vector<SamplePoint> sorted = all;
  std::sort(sorted.begin(), sorted.end(), better);
  std::set<std::uint32_t> expected;
  for (std::size_t k = 0; k < kKeep; ++k) expected.insert(sorted[k].index);
  std::set<unsigned> cellsTaken;
  for (const SamplePoint& s : sorted)
    if (cellsTaken.insert(cell[s.index]).second) expected.insert(s.index);

  const PackedModels packed = packModels(p.factors, p.slotCount(), coef.data());
  std::vector<SamplePoint> first;
  for (const BlockPath path : kPaths) {
    if (!useBlockPath(path)) continue;
    for (const unsigned threads : {1u, 3u}) {
      const SampleResult got = sampleRegion(p, packed, kPoints, kKeep, threads);
      SCOPED_TRACE(::testing::Message() << "path " << int(path) << ", " << threads << " threads");
      EXPECT_EQ(got.admissible, admissible);
      std::set<std::uint32_t> indices;
      for (const SamplePoint& s : got.best) {
        indices.insert(s.index);
        EXPECT_EQ(s.admissible, all[s.index].admissible) << s.index;
        EXPECT_NEAR(s.key, all[s.index].key, 1e-12 * std::max(1.0, std::abs(all[s.index].key))) << s.index;
      }
      EXPECT_EQ(indices, expected);
      EXPECT_TRUE(std::is_sorted(got.best.begin(), got.best.end(), better));
      if (first.empty()) first = got.best;
      ASSERT_EQ(got.best.size(), first.size());
      for (std::size_t k = 0; k < first.size(); ++k) {
        EXPECT_EQ(got.best[k].index, first[k].index);
        EXPECT_EQ(bits(got.best[k].key), bits(first[k].key));
      }
    }
  }
  useBlockPath(BlockPath::Best);
}

INSTANTIATE_TEST_SUITE_P(
    Goals, GlobalStage,
    ::testing::Values(
        StageCase{"MaximizeUnderAnUpperLimit", {goal("Y1", Goal::Maximize, 2.1, 9.7)}, {{"Y2", -INFINITY, 3.3}}},
        StageCase{"MinimizeTargetAndWithin",
                  {goal("Y2", Goal::Minimize, 1.3, 5.9), goal("Y1", Goal::Target, 3.1, 8.9, 6.7),
                   goal("Y3", Goal::Within, -0.3, 0.9)},
                  {}},
        // No ceiling: the ratio keeps rising past high.
        StageCase{"UnboundedMaximize",
                  {{.response = "Y1", .kind = Goal::Maximize, .low = 2.1, .high = 5.3, .unbounded = true}},
                  {{"Y2", -INFINITY, 3.3}}},
        // An interval no point meets: the stage ranks by the violation.
        StageCase{"NothingAdmissible", {goal("Y1", Goal::Maximize, 2.1, 9.7)}, {{"Y3", 40.1, 41.3}}},
        StageCase{"WeightedSumUnderALimit",
                  {{.response = "Y1", .kind = Goal::WeightedSum, .weight = 0.7},
                   {.response = "Y2", .kind = Goal::WeightedSum, .weight = -1.3}},
                  {{"Y3", -0.45, 0.85}}},
        // Exponents other than 1 take the scalar keys.
        StageCase{"CurvedDesirability",
                  {{.response = "Y1", .kind = Goal::Maximize, .low = 2.1, .high = 9.7, .shape = 2.5},
                   goal("Y2", Goal::Minimize, 1.3, 5.9)},
                  {{"Y3", -INFINITY, 0.7}}}),
    [](const ::testing::TestParamInfo<StageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavrin::optimum
