// The global stage against a brute-force reference: every sample point
// evaluated on its own with the scalar goal functions, ranked with a full
// sort, and its region cell read off its coordinates. The stage's lane
// kernels must pick the same points on every instruction set, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <set>

#include "model/evaluate_block.h"
#include "optimum/fixtures.h"
#include "optimum/global_search.h"
#include "optimum/problem.h"
#include "optimum/sample_kernel.h"
#include "tavrin/quadratic.h"

namespace tavrin::optimum {
namespace {

using tavrin::testing::exactFit;

// Three factors with ranges not exact in binary, three curved responses.
Fit stageFit() {
  const std::vector<Factor> factors = {{"A", 0.1, 0.7, ""}, {"B", 1e7, 1e7 + 3.3, ""}, {"C", -2.5, 4.1, ""}};
  return exactFit(DesignKind::BoxBehnken, factors,
                  {[](const double* x) { return 7.3 + 1.1 * x[0] - 0.7 * x[1] * x[1] + 0.45 * x[0] * x[2] - x[2] * x[2]; },
                   [](const double* x) { return 3.1 - 0.9 * x[1] + 0.6 * x[0] * x[0] + 0.35 * x[1] * x[2]; },
                   [](const double* x) { return 0.2 + 0.8 * x[2] + 0.3 * x[0] * x[1] - 0.55 * x[0] * x[0]; }},
                  2, [](std::size_t r, std::size_t j) { return 0.01 * std::sin(1.7 * double(r) + double(j)); });
}

using tavrin::testing::goal;

Goal weighted(const char* response, double weight) {
  Goal g = goal(response, Goal::WeightedSum, NAN, NAN);
  g.weight = weight;
  return g;
}

Goal curved(const char* response, double low, double high, double shape) {
  Goal g = goal(response, Goal::Maximize, low, high);
  g.shape = shape;
  return g;
}

Goal unbounded(const char* response, double low, double high) {
  Goal g = goal(response, Goal::Maximize, low, high);
  g.unbounded = true;
  return g;
}

// The model's value at a coded point, term by term from quadratic.h.
double modelAt(const std::vector<double>& coef, const std::vector<double>& x) {
  const std::size_t n = x.size();
  double y = coef[0];
  for (std::size_t i = 0; i < n; ++i) {
    y += coef[quadratic::linearIndex(i)] * x[i] + coef[quadratic::squareIndex(n, i)] * x[i] * x[i];
    for (std::size_t j = i + 1; j < n; ++j) y += coef[quadratic::productIndex(n, i, j)] * x[i] * x[j];
  }
  return y;
}

struct Reference {
  std::vector<SamplePoint> all;
  std::vector<unsigned> cell;
  unsigned admissible = 0;
};

Reference reference(const Fit& fit, const Problem& p, unsigned points) {
  Reference r;
  std::vector<double> x(p.factors), values(p.slotCount());
  for (std::uint32_t i = 0; i < points; ++i) {
    samplePoint(p, i, x.data());
    for (std::size_t s = 0; s < p.slotCount(); ++s) values[s] = modelAt(fit.models[p.responses[s]].coded, x);
    const double v = violation(p, values.data());
    const bool ok = v <= kFeasibilityTolerance;
    r.admissible += ok ? 1u : 0u;
    r.all.push_back({i, ok, ok ? rankKey(p, values.data()) : -v});
    unsigned cell = 0;
    for (std::size_t d = 0; d < std::min<std::size_t>(8, p.freeFactors.size()); ++d) {
      const std::size_t f = p.freeFactors[d];
      if (x[f] >= p.lower[f] + (p.upper[f] - p.lower[f]) * 0.5) cell |= 1u << d;
    }
    r.cell.push_back(cell);
  }
  return r;
}

// The best `keep` points and the best of each cell, as sampleRegion
// promises them.
std::set<std::uint32_t> expectedPoints(const Reference& r, std::size_t keep) {
  std::vector<SamplePoint> sorted = r.all;
  std::sort(sorted.begin(), sorted.end(), better);
  std::set<std::uint32_t> chosen;
  for (std::size_t k = 0; k < keep && k < sorted.size(); ++k) chosen.insert(sorted[k].index);
  std::set<unsigned> cellsTaken;
  for (const SamplePoint& s : sorted)
    if (cellsTaken.insert(r.cell[s.index]).second) chosen.insert(s.index);
  return chosen;
}

struct StageCase {
  const char* name;
  std::vector<Goal> goals;
  std::vector<Constraint> constraints;
};

void PrintTo(const StageCase& c, std::ostream* os) { *os << c.name; }

class GlobalStage : public ::testing::TestWithParam<StageCase> {};

TEST_P(GlobalStage, PicksWhatAFullSortPicksOnEveryInstructionSet) {
  const Fit fit = stageFit();
  Goals goals;
  goals.goals = GetParam().goals;
  goals.constraints = GetParam().constraints;
  const Problem p = compileProblem(fit, goals);
  const std::vector<double> coef = slotCoefficients(p, fit);
  const PackedModels packed = packModels(p.factors, p.slotCount(), coef.data());
  // Not a whole number of blocks or chunks, so the last block is partial.
  constexpr unsigned kPoints = 5000 + 37;
  constexpr std::size_t kKeep = 40;
  const Reference ref = reference(fit, p, kPoints);
  const std::set<std::uint32_t> expected = expectedPoints(ref, kKeep);

  std::vector<SamplePoint> first;
  for (const BlockPath path : {BlockPath::Baseline, BlockPath::Avx2, BlockPath::Avx512}) {
    if (!useBlockPath(path)) continue;
    for (const unsigned threads : {1u, 3u}) {
      const SampleResult got = sampleRegion(p, packed, kPoints, kKeep, threads);
      SCOPED_TRACE(::testing::Message() << "path " << int(path) << ", " << threads << " threads");
      EXPECT_EQ(got.admissible, ref.admissible);
      std::set<std::uint32_t> indices;
      for (const SamplePoint& s : got.best) {
        indices.insert(s.index);
        const SamplePoint& r = ref.all[s.index];
        EXPECT_EQ(s.admissible, r.admissible) << s.index;
        EXPECT_NEAR(s.key, r.key, 1e-12 * std::max(1.0, std::abs(r.key))) << s.index;
      }
      EXPECT_EQ(indices, expected);
      EXPECT_TRUE(std::is_sorted(got.best.begin(), got.best.end(), better));
      if (first.empty()) first = got.best;
      ASSERT_EQ(got.best.size(), first.size());
      for (std::size_t k = 0; k < first.size(); ++k) {
        EXPECT_EQ(got.best[k].index, first[k].index);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got.best[k].key), std::bit_cast<std::uint64_t>(first[k].key));
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
        // An interval no point meets: the stage ranks by the violation.
        // No ceiling: the ratio keeps rising past high.
        StageCase{"UnboundedMaximize", {unbounded("Y1", 2.1, 5.3)}, {{"Y2", -INFINITY, 3.3}}},
        StageCase{"NothingAdmissible", {goal("Y1", Goal::Maximize, 2.1, 9.7)}, {{"Y3", 40.1, 41.3}}},
        StageCase{"WeightedSumUnderALimit", {weighted("Y1", 0.7), weighted("Y2", -1.3)}, {{"Y3", -0.45, 0.85}}},
        StageCase{"WeightedSumNothingAdmissible", {weighted("Y1", 0.7)}, {{"Y3", 40.1, 41.3}}},
        // Exponents other than 1 take the scalar keys.
        StageCase{"CurvedDesirability",
                  {curved("Y1", 2.1, 9.7, 2.5), goal("Y2", Goal::Minimize, 1.3, 5.9)},
                  {{"Y3", -INFINITY, 0.7}}}),
    [](const ::testing::TestParamInfo<StageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavrin::optimum
