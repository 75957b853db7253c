// Results of whole studies against literals that tests/golden/golden.py
// derives with exact rational arithmetic, rounding where the plan object
// rounds. A change of compiler flag, of summation order or of a weight
// changes a last bit and fails here. Inputs are not exact in binary: ranges
// i/10 .. (i+6)/10, observations 1000 + ((37 r) mod 101) / 7, or 1e6 on even
// runs and ((37 r) mod 101) / 70000 on odd ones, which cancel in the sums, or
// 1000 + 1/7 in every run, whose square terms cancel to a rounding residue.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "design/plan_kinds.h"
#include "design/tables.h"
#include "model/evaluate_block.h"
#include "tavrin/tavrin.h"

namespace {

struct Coefficient { int r, c; double value; };
struct Golden {
  CTavrin::PlanType type;
  int n;
  int data;                               // observations: 0 plain, 1 cancelling, 2 flat
  std::vector<Coefficient> coefficients;  // a spread of B[r,c]; the prediction depends on all of them
  double prediction;                      // at x_i = (10 i + 3) / 100
  double best[5];                         // objective in slots 1..5 after modelOptimize(7, 90), weight 0.3
  double bestX1;                          // x1 in slot 1
};

const Golden kGolden[] = {
#include "golden/golden_values.inc"
};

struct GoldenPrediction { CTavrin::PlanType type; int n; double prediction; };
const GoldenPrediction kEveryCount[] = {
#define TAVRIN_GOLDEN_EVERY_COUNT
#include "golden/golden_values.inc"
#undef TAVRIN_GOLDEN_EVERY_COUNT
};

double observation(int data, unsigned r) {
  if (data == 1) return r % 2 == 0 ? 1e6 : (37 * r % 101) / 70000.0;
  return 1000 + (data == 2 ? 1 : 37 * r % 101) / 7.0;
}

std::wstring name(const char* prefix, int i) { return std::wstring(prefix, prefix + 1) + std::to_wstring(i); }

// Declares x_i on [i/10, (i+6)/10], enters the observations and sets the point x_i = (10 i + 3)/100.
unsigned prepare(CTavrin& s, int n, int data) {
  for (int i = 1; i <= n; ++i) s.planAddDesignVar(name("x", i).c_str(), i / 10.0, (i + 6) / 10.0);
  s.planAddObjective(L"y");
  unsigned runs = 0, failed = s.planCompute().code + s.planGetExperimentCount(runs).code;
  for (unsigned r = 1; r <= runs; ++r) failed += s.planSetObjectiveValue(L"y", r, observation(data, r)).code;
  for (int i = 1; i <= n; ++i) failed += s.modelSetDesignVarValue(name("x", i).c_str(), (10 * i + 3) / 100.0).code;
  return failed + s.modelCompute().code;
}

// The study through the public interface, and the fit of the estimator it uses.
std::string run(const Golden& g) {
  std::string bad;
  auto check = [&bad](const std::string& what, double got, double want) {
    if (std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(want)) bad += " " + what;
  };
  CTavrin s(g.type);
  unsigned runs = 0, failed = prepare(s, g.n, g.data) + s.planGetExperimentCount(runs).code;
  double value = 0;
  failed += s.modelGetObjectiveValue(L"y", value).code;
  check("prediction", value, g.prediction);
  for (int i = 1; i <= g.n; ++i) failed += s.modelSetDesignVarLimits(name("x", i).c_str(), i / 10.0, (i + 6) / 10.0).code;
  failed += s.modelSetObjectiveLimits(L"y", 0.3, 0, 0).code + s.modelOptimize(7, 90).code;
  for (unsigned k = 1; k <= 5; ++k) {
    failed += s.modelGetObjectiveBestResult(L"y", k, value).code;
    check("slot" + std::to_string(k), value, g.best[k - 1]);
  }
  failed += s.modelGetDesignVarBestResult(L"x1", 1, value).code;
  check("x1", value, g.bestX1);
  // The fitted coefficients, from the estimator the plan object uses.
  const tavrin::PlanKind& kind = tavrin::planKindOf(g.type);
  tavrin::Table<float> observations = tavrin::allocTable<float>(2, runs + 1);
  for (unsigned r = 1; r <= runs; ++r) observations[1][r] = static_cast<float>(observation(g.data, r));
  const auto fitted = kind.fit(g.n, static_cast<int>(runs), 1, kind.build(g.n), observations);
  for (const Coefficient& c : g.coefficients)
    check("B" + std::to_string(c.r) + "," + std::to_string(c.c), fitted[1][c.r][c.c], c.value);
  return failed ? bad + " failed" : bad;
}

TEST(Golden, FitPredictionAndSearchPerPlanFamilyAndSize) {
  using tavrin::BlockPath;
  for (BlockPath path : {BlockPath::Baseline, BlockPath::Avx2, BlockPath::Avx512}) {
    if (!tavrin::useBlockPath(path)) continue;
    for (const Golden& g : kGolden) EXPECT_EQ(run(g), "") << "type " << g.type << " n=" << g.n;
  }
  tavrin::useBlockPath(BlockPath::Best);
}

// Every supported count of both kinds: the prediction from cancelling observations, to the last bit.
TEST(Golden, PredictionForEverySupportedCount) {
  for (const GoldenPrediction& g : kEveryCount) {
    CTavrin s(g.type);
    double value = 0;
    const unsigned failed = prepare(s, g.n, 1) + s.modelGetObjectiveValue(L"y", value).code;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(g.prediction))
        << "type " << g.type << " n=" << g.n << " failed " << failed;
  }
}

}  // namespace
