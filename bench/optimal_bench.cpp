// Optimal designs for 6 factors, the full quadratic (28 terms), 40 runs, 20
// starts, seed 1: D-optimal on all cores and on one thread, with and without
// the golden-section search between grid levels (without it the exchange is
// the one bench/peer_optimal.py writes with numpy), and I-optimal. Counters:
// the D-efficiency reached and log det(X'X); bench/compare_optimal runs this
// and the peer side by side.
#include <benchmark/benchmark.h>

#include "tavrin/optimal_design.h"

namespace {

using namespace tavrin;

void BM_OptimalDesign(benchmark::State& state) {
  OptimalOptions options;
  options.criterion = state.range(0) == 0 ? Criterion::D : Criterion::I;
  options.refine = state.range(1) != 0;
  options.threads = static_cast<unsigned>(state.range(2));
  options.runs = 40;
  options.starts = 20;
  options.seed = 1;
  const ModelTerms model = ModelTerms::quadratic(6);
  OptimalDesign design;
  for (auto _ : state) {
    design = optimalDesign(model, options);
    benchmark::DoNotOptimize(design.logDet);
  }
  state.counters["d_efficiency"] = design.dEfficiency;
  state.counters["log_det"] = design.logDet;
  if (options.criterion == Criterion::I) state.counters["average_variance"] = design.averageVariance;
}
BENCHMARK(BM_OptimalDesign)
    ->ArgNames({"i", "refine", "threads"})
    ->Args({0, 1, 0})
    ->Args({0, 1, 1})
    ->Args({0, 0, 0})
    ->Args({0, 0, 1})
    ->Args({1, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
