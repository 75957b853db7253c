// Timings of every step of a study on three workloads:
//   W1: Rechtschaffner plan, 20 design variables, 20 objectives (231 runs);
//   W2: Box-Behnken plan, 16 design variables, 20 objectives (385 runs);
//   small: Box-Behnken plan, 2 design variables, 1 objective (9 runs).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bound_chains.h"
#include "model/evaluate_block.h"
#include "tavrin/tavrin.h"

namespace {

struct Workload {
  CTavrin::PlanType type;
  int designVars;
  int objectives;
};

constexpr Workload kW1{CTavrin::RechschafnerPlan, 20, 20};
constexpr Workload kW2{CTavrin::BoxBehnkenPlan, 16, 20};
constexpr Workload kSmall{CTavrin::BoxBehnkenPlan, 2, 1};

std::wstring name(const wchar_t* prefix, int i) { return prefix + std::to_wstring(i); }

// A study with its plan computed; variable i ranges over [i, 2i + 10].
CTavrin plannedStudy(const Workload& w) {
  CTavrin study(w.type);
  for (int i = 1; i <= w.designVars; ++i) study.planAddDesignVar(name(L"x", i).c_str(), i, 2 * i + 10);
  for (int j = 1; j <= w.objectives; ++j) study.planAddObjective(name(L"y", j).c_str());
  study.planCompute();
  return study;
}

// Deterministic smooth observations for every objective and experiment.
void enterObservations(CTavrin& study, const Workload& w) {
  unsigned int runs = 0;
  study.planGetExperimentCount(runs);
  for (int j = 1; j <= w.objectives; ++j) {
    const std::wstring objective = name(L"y", j);
    for (unsigned int k = 1; k <= runs; ++k) {
      study.planSetObjectiveValue(objective.c_str(), k, std::sin(0.37 * j + 0.11 * k) * 10 + j);
    }
  }
}

// A fitted study whose search ranges are the declared ranges and whose
// objectives all have weight 1 except the last, a loose constraint.
CTavrin fittedStudy(const Workload& w) {
  CTavrin study = plannedStudy(w);
  enterObservations(study, w);
  study.modelCompute();
  for (int i = 1; i <= w.designVars; ++i) study.modelSetDesignVarLimits(name(L"x", i).c_str(), i, 2 * i + 10);
  for (int j = 1; j <= w.objectives; ++j) {
    const bool constraint = j == w.objectives && w.objectives > 1;
    study.modelSetObjectiveLimits(name(L"y", j).c_str(), constraint ? 0.0 : 1.0, -1e6, 1e6);
  }
  return study;
}

void planCompute(benchmark::State& state, Workload w) {
  CTavrin study = plannedStudy(w);
  for (auto _ : state) benchmark::DoNotOptimize(study.planCompute().code);
}

void readExperimentTable(benchmark::State& state, Workload w) {
  CTavrin study = plannedStudy(w);
  std::vector<std::wstring> vars, objs;
  for (int i = 1; i <= w.designVars; ++i) vars.push_back(name(L"x", i));
  for (int j = 1; j <= w.objectives; ++j) objs.push_back(name(L"y", j));
  unsigned int runs = 0;
  study.planGetExperimentCount(runs);
  for (auto _ : state) {
    double sum = 0.0;
    for (const std::wstring& objective : objs) {
      for (unsigned int k = 1; k <= runs; ++k) {
        for (const std::wstring& var : vars) {
          double value = 0.0;
          study.planGetDesignVarValue(var.c_str(), objective.c_str(), k, value);
          sum += value;
        }
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["values"] = static_cast<double>(vars.size() * objs.size() * runs);
}

void enterAllObservations(benchmark::State& state, Workload w) {
  CTavrin study = plannedStudy(w);
  for (auto _ : state) enterObservations(study, w);
}

void modelCompute(benchmark::State& state, Workload w) {
  CTavrin study = plannedStudy(w);
  enterObservations(study, w);
  for (auto _ : state) benchmark::DoNotOptimize(study.modelCompute().code);
}

void modelOptimize(benchmark::State& state, Workload w, unsigned int points) {
  CTavrin study = fittedStudy(w);
  for (auto _ : state) benchmark::DoNotOptimize(study.modelOptimize(0, points).code);
  // Seconds per point tried (shown with an SI prefix: 1.2u is 1.2 microseconds).
  state.counters["per_point"] = benchmark::Counter(static_cast<double>(points),
                                                   benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::string benchFile(const char* tag) { return std::string("/tmp/tavrin_bench_") + tag + ".tvr"; }

void save(benchmark::State& state, Workload w, const char* tag) {
  CTavrin study = fittedStudy(w);
  const std::string path = benchFile(tag);
  for (auto _ : state) benchmark::DoNotOptimize(study.Save(path.c_str(), 1).code);
  std::remove(path.c_str());
}

void load(benchmark::State& state, Workload w, const char* tag) {
  const std::string path = benchFile(tag);
  fittedStudy(w).Save(path.c_str(), 1);
  for (auto _ : state) {
    CTavrin loaded(CTavrin::RechschafnerPlan);
    unsigned int version = 0;
    benchmark::DoNotOptimize(loaded.Load(path.c_str(), version).code);
  }
  std::remove(path.c_str());
}

void wholeSmallStudy(benchmark::State& state) {
  const std::string path = benchFile("small_study");
  for (auto _ : state) {
    CTavrin study = fittedStudy(kSmall);
    study.modelOptimize(0, 1024);
    study.Save(path.c_str(), 1);
    CTavrin loaded(CTavrin::RechschafnerPlan);
    unsigned int version = 0;
    benchmark::DoNotOptimize(loaded.Load(path.c_str(), version).code);
  }
  std::remove(path.c_str());
}

using namespace bench;

constexpr long kBoundSteps = 4096;

void multiplyAddBound(benchmark::State& state, Chains chains) {
  double results = 0.0;
  for (auto _ : state) results = chains(kBoundSteps);
  // Products and sums per second (1.2G is 1.2 per nanosecond).
  state.counters["results"] = benchmark::Counter(results, benchmark::Counter::kIsIterationInvariantRate);
}

// Products and sums one W1 point needs in the fixed order: 20 objectives
// of 230 products and 249 sums, and per design variable the mapping of the
// LPtau coordinate (a product and two sums) and the coding (a quotient and
// three sums; the range of the variable is the same for every point).
constexpr double kW1Sums = 20 * 249 + 20 * (2 + 3);
constexpr double kW1Results = 20 * (230 + 249) + 20 * (3 + 4);

// The chains of the lane width of a block path.
struct LaneChains {
  Chains mixed;
  Chains sums;
  int lanes;
};

LaneChains chainsOf(tavrin::BlockPath path) {
#if defined(__x86_64__)
  if (path == tavrin::BlockPath::Avx512) return {chainsAvx512, sumsAvx512, 8};
  if (path == tavrin::BlockPath::Avx2) return {chainsAvx2, sumsAvx2, 4};
#endif
  return {chainsTwoLanes, sumsTwoLanes, 2};
}

// Core search, W1, on block path `path` (Best: the one the library picks):
// the search and both chains of the same lane width in turns, slice by
// slice, so all see the same machine. The bound of a point is the slower of
// its products and sums at the mixed rate and its sums at the rate of
// additions. The counters are ns per point, the bound and their ratio.
void coreSearchW1(benchmark::State& state, tavrin::BlockPath path) {
  if (!tavrin::useBlockPath(path)) {
    state.SkipWithError("this processor lacks the path");
    return;
  }
  CTavrin study = fittedStudy(kW1);
  const LaneChains chains = chainsOf(tavrin::activeBlockPath());
  constexpr unsigned int kSlice = 1024;
  // About as many steps as a slice takes at the bound.
  const long steps = static_cast<long>(kW1Results * kSlice / (2.0 * 14 * chains.lanes));
  double searchNs = 0.0, mixedNs = 0.0, mixedResults = 0.0, sumsNs = 0.0, sums = 0.0, points = 0.0;
  for (auto _ : state) {
    for (unsigned int first = 0; first < 65536; first += kSlice) {
      const double t0 = threadNs();
      benchmark::DoNotOptimize(study.modelOptimize(first, first + kSlice).code);
      const double t1 = threadNs();
      mixedResults += chains.mixed(steps);
      const double t2 = threadNs();
      sums += chains.sums(steps);
      const double t3 = threadNs();
      searchNs += t1 - t0;
      mixedNs += t2 - t1;
      sumsNs += t3 - t2;
      points += kSlice;
    }
  }
  tavrin::useBlockPath(tavrin::BlockPath::Best);
  const double pointNs = searchNs / points;
  const double boundNs = std::max(mixedNs / mixedResults * kW1Results, sumsNs / sums * kW1Sums);
  state.counters["point_ns"] = pointNs;
  state.counters["bound_ns"] = boundNs;
  state.counters["ratio"] = pointNs / boundNs;
  state.counters["mixed_per_ns"] = mixedResults / mixedNs;
  state.counters["sums_per_ns"] = sums / sumsNs;
}

}  // namespace

BENCHMARK_CAPTURE(multiplyAddBound, Scalar, chainsScalar);
BENCHMARK_CAPTURE(multiplyAddBound, TwoLanes, chainsTwoLanes);
BENCHMARK_CAPTURE(multiplyAddBound, ScalarSums, sumsScalar);
BENCHMARK_CAPTURE(multiplyAddBound, TwoLanesSums, sumsTwoLanes);
#if defined(__x86_64__)
BENCHMARK_CAPTURE(multiplyAddBound, Avx2, chainsAvx2);
BENCHMARK_CAPTURE(multiplyAddBound, Avx2Sums, sumsAvx2);
BENCHMARK_CAPTURE(multiplyAddBound, Avx512, chainsAvx512);
BENCHMARK_CAPTURE(multiplyAddBound, Avx512Sums, sumsAvx512);
#endif
BENCHMARK_CAPTURE(coreSearchW1, Best, tavrin::BlockPath::Best)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreSearchW1, Baseline, tavrin::BlockPath::Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreSearchW1, Avx2, tavrin::BlockPath::Avx2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(coreSearchW1, Avx512, tavrin::BlockPath::Avx512)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(planCompute, W1, kW1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(planCompute, W2, kW2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(planCompute, small, kSmall)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readExperimentTable, W1, kW1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readExperimentTable, W2, kW2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enterAllObservations, W1, kW1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(enterAllObservations, W2, kW2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(modelCompute, W1, kW1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(modelCompute, W2, kW2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(modelCompute, small, kSmall)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(modelOptimize, W1, kW1, 65536)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(modelOptimize, W2, kW2, 65536)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(modelOptimize, small, kSmall, 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(save, W1, kW1, "W1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(save, W2, kW2, "W2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(save, small, kSmall, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(load, W1, kW1, "W1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(load, W2, kW2, "W2")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(load, small, kSmall, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK(wholeSmallStudy)->Unit(benchmark::kMicrosecond);
