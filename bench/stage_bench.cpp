// The study layer's global stage on each block path, against the bound of
// the same lane width (part of tavrin_bench when the layer is built):
//   W1:     Rechtschaffner, 20 factors, 20 responses, every one taking part
//           (maximise Y1..Y19, Y20 <= 1e6, never binding): 20 models a point;
//   twenty: the same fit, maximise Y1 and Y2 <= 50: 2 models a point.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bound_chains.h"
#include "model/evaluate_block.h"
#include "optimum/global_search.h"
#include "optimum/problem.h"
#include "smooth_fit.h"
#include "tavrin/optimum.h"
#include "tavrin/quadratic.h"

namespace {

using namespace tavrin;

Goal maximize(const std::string& response) {
  Goal g;
  g.response = response;
  g.kind = Goal::Maximize;
  g.low = 0.0;
  g.high = 200.0;
  return g;
}

const Fit& fitW1() {
  static const Fit fit = bench::smoothFit(DesignKind::Rechtschaffner, 20, 20);
  return fit;
}

Goals goalsW1() {
  Goals goals;
  for (std::size_t j = 1; j < 20; ++j) goals.goals.push_back(maximize(bench::numbered("Y", j)));
  goals.constraints = {{"Y20", -INFINITY, 1e6}};
  return goals;
}

Goals goalsTwenty() {
  Goals goals;
  goals.goals = {maximize("Y1")};
  goals.constraints = {{"Y2", -INFINITY, 50.0}};
  return goals;
}

struct FusedChains {
  bench::Chains chains;
  int lanes;
};

// The stage's lane width on each path: the portable kernel runs one lane.
FusedChains fusedOf(BlockPath path) {
  if (path == BlockPath::Avx512) return {bench::fusedAvx512, 8};
  if (path == BlockPath::Avx2) return {bench::fusedAvx2, 4};
  return {bench::fusedScalar, 1};
}

// The global stage on one thread and block path `path`: all 65,536 LPtau
// points mapped, evaluated, scored and the best 256 kept, in turns with
// fused chains of the same lane width, each timed by the thread's CPU time.
// The stage's arithmetic is fused multiply-adds: terms - 1 per model and
// one per free factor (its mapping), so the bound of a point is those at
// the chains' rate. Counters: ns per point, the bound and their ratio.
void globalStage(benchmark::State& state, BlockPath path, Goals (*goals)()) {
  if (!useBlockPath(path)) {
    state.SkipWithError("this processor lacks the path");
    return;
  }
  const optimum::Problem p = optimum::compileProblem(fitW1(), goals());
  const std::vector<double> coef = optimum::slotCoefficients(p, fitW1());
  const optimum::PackedModels packed = optimum::packModels(p.factors, p.slotCount(), coef.data());
  const double fused = double(p.slotCount()) * double(quadratic::termCount(p.factors) - 1) + double(p.freeFactors.size());
  const FusedChains chains = fusedOf(activeBlockPath());
  constexpr unsigned kPoints = optimum::kSequencePoints;
  // About as many steps as the stage takes at the bound.
  const long steps = static_cast<long>(fused * kPoints / (14.0 * chains.lanes));
  double stageNs = 0.0, chainsNs = 0.0, results = 0.0, points = 0.0;
  for (auto _ : state) {
    const double t0 = bench::threadNs();
    const optimum::SampleResult r = optimum::sampleRegion(p, packed, kPoints, 256, 1);
    benchmark::DoNotOptimize(r.best.data());
    const double t1 = bench::threadNs();
    results += chains.chains(steps);
    const double t2 = bench::threadNs();
    stageNs += t1 - t0;
    chainsNs += t2 - t1;
    points += kPoints;
  }
  useBlockPath(BlockPath::Best);
  const double pointNs = stageNs / points;
  const double boundNs = chainsNs / results * 2.0 * fused;
  state.counters["point_ns"] = pointNs;
  state.counters["bound_ns"] = boundNs;
  state.counters["ratio"] = pointNs / boundNs;
  state.counters["fused_per_ns"] = results / chainsNs;
}

}  // namespace

BENCHMARK_CAPTURE(globalStage, W1/Baseline, BlockPath::Baseline, goalsW1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(globalStage, W1/Avx2, BlockPath::Avx2, goalsW1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(globalStage, W1/Avx512, BlockPath::Avx512, goalsW1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(globalStage, twenty/Baseline, BlockPath::Baseline, goalsTwenty)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(globalStage, twenty/Avx2, BlockPath::Avx2, goalsTwenty)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(globalStage, twenty/Avx512, BlockPath::Avx512, goalsTwenty)->Unit(benchmark::kMillisecond);
