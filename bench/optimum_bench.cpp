// Timings of the optimum and its robustness on three studies:
//   example: the process study of examples/process_study.cpp (Box-Behnken,
//            2 factors, 3 extra centre runs): maximise Yield, Impurity <= 1.5;
//   four:    Box-Behnken, 4 factors, 3 responses: maximise Y1, minimise Y2,
//            Y3 <= 60;
//   twenty:  Rechtschaffner, 20 factors, 20 responses (231 runs, saturated):
//            maximise Y1, Y2 <= 50.
// `optimum_bench --export FILE` writes the fitted models, goals and this
// library's optima as JSON for bench/peer_optimum.py, then exits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tavrin/optimum.h"

namespace {

using namespace tavrin;

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

// Smooth responses with fixed pseudo-random coefficients: mostly concave,
// with interactions, over coded settings.
double smoothResponse(std::size_t j, const double* x, std::size_t n) {
  double y = 50.0;
  for (std::size_t i = 0; i < n; ++i) {
    y += 3.0 * std::sin(0.37 * double(j + 1) + 0.11 * double(i + 1)) * x[i];
    y -= (1.0 + 0.5 * std::cos(0.2 * double((i + 1) * (j + 1)))) * x[i] * x[i];
    for (std::size_t k = i + 1; k < n; ++k) y += 0.15 * std::sin(double(i + 2 * k + j)) * x[i] * x[k];
  }
  return y;
}

Fit smoothFit(DesignKind kind, std::size_t n, std::size_t responses) {
  std::vector<Factor> factors;
  for (std::size_t i = 0; i < n; ++i)
    factors.push_back({"x" + std::to_string(i + 1), double(i + 1), 2.0 * double(i + 1) + 10.0, ""});
  PlanOptions options;
  options.seed = 1;
  const Plan plan = makePlan(kind, factors, options);
  std::vector<Response> names;
  for (std::size_t j = 0; j < responses; ++j) names.push_back({"Y" + std::to_string(j + 1), ""});
  Matrix results(plan.runCount(), responses);
  for (std::size_t r = 0; r < plan.runCount(); ++r)
    for (std::size_t j = 0; j < responses; ++j)
      results(r, j) = smoothResponse(j, plan.coded.row(r), n) + 0.2 * std::sin(0.7 * double(r) + double(j));
  return fitModels(plan, names, results);
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
  for (std::size_t j = 0; j < 20; ++j) c.sigma["Y" + std::to_string(j + 1)] = 0.2;
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
    j["solver"] = matrixJson(c.fit.solver);
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
