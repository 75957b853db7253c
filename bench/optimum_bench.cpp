// Timings of the optimum and its robustness on three studies:
//   example: the process study of examples/process_study.cpp (Box-Behnken,
//            2 factors, 3 extra centre runs): maximise Yield, Impurity <= 1.5;
//   four:    Box-Behnken, 4 factors, 3 responses: maximise Y1, minimise Y2,
//            Y3 <= 50;
//   twenty:  Rechtschaffner, 20 factors, 20 responses (231 runs, saturated):
//            maximise Y1, Y2 <= 50.
// The global stage alone is timed against the all-core multiply/add bound
// measured in the same run. `optimum_bench --export FILE` writes the fitted
// models, goals and this library's optima as JSON for bench/peer_optimum.py,
// then exits.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <time.h>
#include <vector>

#include "bound_chains.h"
#include "optimum/global_search.h"
#include "optimum/problem.h"
#include "smooth_fit.h"
#include "tavrin/optimum.h"
#include "tavrin/quadratic.h"

namespace {

using namespace tavrin;
using bench::smoothFit;
using bench::numbered;

struct Case {
  std::string name;
  Fit fit;
  Goals goals;
  std::map<std::string, double, std::less<>> sigma;  // for robustness of saturated plans
};

Goal maximize(const std::string& response, double low, double high) {
  Goal g;
  g.response = response;
  g.kind = Goal::Maximize;
  g.low = low;
  g.high = high;
  return g;
}

// The example study, built as examples/process_study.cpp builds it: results
// in execution order with its noise sequence, rounded to two decimals as
// its results sheet holds them.
Case exampleCase() {
  const auto trueYield = [](double temp, double time) {
    const double dT = temp - 192.0, dt = time - 38.0;
    return 88.0 - 0.012 * dT * dT - 0.015 * dt * dt - 0.0008 * dT * dt;
  };
  const auto trueImpurity = [](double temp, double time) {
    const double dT = temp - 150.0, dt = time - 10.0;
    return 0.4 + 0.0004 * dT * dT + 0.012 * dt + 0.00015 * dT * dt;
  };
  std::uint32_t state = 12345u;
  const auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / double(1u << 23) - 1.0;
  };
  const auto twoDecimals = [](double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", v);
    return std::strtod(text, nullptr);
  };
  PlanOptions options;
  options.seed = 20240611;
  options.extraCenterRuns = 3;
  const Plan plan = makePlan(DesignKind::BoxBehnken, {{"Temperature", 150.0, 210.0, "°C"}, {"Time", 10.0, 50.0, "min"}},
                             options);
  Matrix results(plan.runCount(), 2);
  for (const int id : plan.executionOrder) {
    const double* x = plan.natural.row(static_cast<std::size_t>(id - 1));
    const double yield = trueYield(x[0], x[1]) + 0.3 * noise();
    const double impurity = trueImpurity(x[0], x[1]) + 0.02 * noise();
    results(static_cast<std::size_t>(id - 1), 0) = twoDecimals(yield);
    results(static_cast<std::size_t>(id - 1), 1) = twoDecimals(impurity);
  }
  Case c{"example", fitModels(plan, {{"Yield", "%"}, {"Impurity", "%"}}, results), {}, {}};
  c.goals.goals = {maximize("Yield", 80.0, 100.0)};
  c.goals.constraints = {{"Impurity", -INFINITY, 1.5}};
  return c;
}

Case fourCase() {
  Case c{"four", smoothFit(DesignKind::BoxBehnken, 4, 3), {}, {}};
  Goal minimize;
  minimize.response = "Y2";
  minimize.kind = Goal::Minimize;
  minimize.low = 40.0;
  minimize.high = 60.0;
  c.goals.goals = {maximize("Y1", 40.0, 70.0), minimize};
  c.goals.constraints = {{"Y3", -INFINITY, 50.0}};
  return c;
}

Case twentyCase() {
  Case c{"twenty", smoothFit(DesignKind::Rechtschaffner, 20, 20), {}, {}};
  c.goals.goals = {maximize("Y1", 0.0, 200.0)};
  c.goals.constraints = {{"Y2", -INFINITY, 50.0}};
  for (std::size_t j = 0; j < 20; ++j) c.sigma[numbered("Y", j + 1)] = 0.2;
  return c;
}

const Case& cached(int which) {
  static const Case cases[] = {exampleCase(), fourCase(), twentyCase()};
  return cases[which];
}

void BM_Optimum(benchmark::State& state) {
  const Case& c = cached(static_cast<int>(state.range(0)));
  SearchOptions options;
  options.threads = static_cast<unsigned>(state.range(1));
  double overall = 0.0;
  for (auto _ : state) {
    const Optimum o = optimize(c.fit, c.goals, options);
    overall = o.candidates.front().overall;
  }
  state.SetLabel(c.name + " D=" + std::to_string(overall));
}
BENCHMARK(BM_Optimum)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"study", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(1.0);

// The hardware bound (bound_chains.h): sixteen AVX-512 chains per core of a
// multiply then an add (no fused multiply-add, like the plan object's
// evaluator), and of fused multiply-adds, which do the same work with one
// instruction per step: the machine's true peak for a product and a sum,
// which the global stage's kernels use.
constexpr int kChains = bench::chainsFor<bench::Lanes8>();

// Runs `steps` chain steps on each of `cores` cores; returns the results produced.
double chainsOn(unsigned cores, long steps, double (*chains)(long)) {
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < cores; ++t) workers.emplace_back([steps, chains] { chains(steps); });
  const double results = chains(steps);
  for (std::thread& w : workers) w.join();
  return results * cores;
}

double processCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return 1e9 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec);
}

double wallNs() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

// The global stage of optimize() on `threads` threads (0 = every core): all
// 65536 LPtau points, evaluated, scored and the best kept. Its arithmetic
// per point is the models' products and sums, 2 (terms - 1) per slot, and
// the mapping of each free coordinate (a product and a sum). The stage and
// the chains on as many cores run in turns, so all see the same machine.
// Counters: wall ns per point of the stage; the bound per point at the
// multiply-then-add rate and its ratio; the same at the fused rate; the
// stage's CPU ns per point summed over its threads.
void BM_GlobalStage(benchmark::State& state) {
  const Case& c = cached(static_cast<int>(state.range(0)));
  const unsigned threads = static_cast<unsigned>(state.range(1));
  const unsigned cores = threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
  const optimum::Problem p = optimum::compileProblem(c.fit, c.goals);
  const std::vector<double> coef = optimum::slotCoefficients(p, c.fit);
  const optimum::PackedModels packed = optimum::packModels(p.factors, p.slotCount(), coef.data());
  const double perPoint = 2.0 * double(p.slotCount()) * double(quadratic::termCount(p.factors) - 1) +
                          2.0 * double(p.freeFactors.size());
  constexpr unsigned kPoints = optimum::kSequencePoints;
  // At least 65536 steps per core (about a millisecond), so that starting
  // the threads does not count against the bound.
  const long boundSteps = std::max(65536L, static_cast<long>(perPoint * kPoints / (2.0 * kChains * 8) / cores));
  double stageNs = 0.0, stageCpuNs = 0.0, points = 0.0;
  double boundNs = 0.0, boundResults = 0.0, fusedNs = 0.0, fusedResults = 0.0;
  for (auto _ : state) {
    const double c0 = processCpuNs();
    const double t0 = wallNs();
    const optimum::SampleResult r = optimum::sampleRegion(p, packed, kPoints, 256, threads);
    benchmark::DoNotOptimize(r.best.data());
    const double t1 = wallNs();
    stageCpuNs += processCpuNs() - c0;
    boundResults += chainsOn(cores, boundSteps, bench::chainsAvx512);
    const double t2 = wallNs();
    fusedResults += chainsOn(cores, boundSteps, bench::fusedAvx512);
    const double t3 = wallNs();
    stageNs += t1 - t0;
    boundNs += t2 - t1;
    fusedNs += t3 - t2;
    points += kPoints;
  }
  const double pointNs = stageNs / points;
  const double boundPointNs = boundNs / boundResults * perPoint;
  const double fusedPointNs = fusedNs / fusedResults * perPoint;
  state.counters["point_ns"] = pointNs;
  state.counters["bound_ns"] = boundPointNs;
  state.counters["ratio"] = pointNs / boundPointNs;
  state.counters["fused_bound_ns"] = fusedPointNs;
  state.counters["fused_ratio"] = pointNs / fusedPointNs;
  state.counters["results_per_ns"] = boundResults / boundNs;
  state.counters["point_cpu_ns"] = stageCpuNs / points;  // CPU time of all threads
  state.SetLabel(c.name);
}
BENCHMARK(BM_GlobalStage)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"study", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

void BM_Robustness(benchmark::State& state) {
  const Case& c = cached(static_cast<int>(state.range(0)));
  const Optimum nominal = optimize(c.fit, c.goals);
  RobustnessOptions options;
  options.replicates = static_cast<unsigned>(state.range(1));
  options.sigma = c.sigma;
  unsigned failed = 0;
  for (auto _ : state) {
    const Robustness r = robustness(c.fit, c.goals, nominal, options);
    failed = r.failedReplicates;
  }
  state.SetLabel(c.name + " failed=" + std::to_string(failed));
}
BENCHMARK(BM_Robustness)
    ->Args({0, 10000})
    ->Args({2, 1000})
    ->ArgNames({"study", "replicates"})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);

nlohmann::json matrixJson(const Matrix& m) {
  nlohmann::json rows = nlohmann::json::array();
  for (std::size_t r = 0; r < m.rows(); ++r) rows.push_back(std::vector<double>(m.row(r), m.row(r) + m.cols()));
  return rows;
}

// What the peer needs: the coded models, goals, region and our results.
void exportCases(const char* path) {
  nlohmann::json out = nlohmann::json::array();
  for (int which = 0; which < 3; ++which) {
    const Case& c = cached(which);
    nlohmann::json j;
    j["name"] = c.name;
    j["factors"] = c.fit.factorCount();
    std::vector<std::string> responses;
    for (const Response& r : c.fit.responses) responses.push_back(r.name);
    j["responses"] = responses;
    nlohmann::json models = nlohmann::json::array();
    for (const Model& m : c.fit.models) models.push_back(m.coded);
    j["coded"] = models;
    nlohmann::json goals = nlohmann::json::array();
    for (const Goal& g : c.goals.goals)
      goals.push_back({{"response", g.response},
                       {"kind", g.kind == Goal::Maximize ? "max" : "min"},
                       {"low", g.low},
                       {"high", g.high}});
    j["goals"] = goals;
    nlohmann::json constraints = nlohmann::json::array();
    for (const Constraint& k : c.goals.constraints) constraints.push_back({{"response", k.response}, {"high", k.high}});
    j["constraints"] = constraints;
    j["solver"] = matrixJson(c.fit.models.at(0).solver);
    j["observations"] = matrixJson(c.fit.observations);
    std::vector<double> sigma;
    for (const Response& r : c.fit.responses) {
      const auto it = c.sigma.find(r.name);
      sigma.push_back(it == c.sigma.end() ? std::nan("") : it->second);
    }
    j["sigma"] = sigma;
    const Optimum o = optimize(c.fit, c.goals);
    j["ours"] = {{"coded", o.candidates.front().coded}, {"overall", o.candidates.front().overall}};
    out.push_back(j);
  }
  std::ofstream(path) << out.dump(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--export") == 0) {
    exportCases(argv[2]);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
