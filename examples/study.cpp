// A whole study with Tavrin, step by step, on a simulated chemical process.
//
// Two design variables, reaction Temperature (150..210 degC) and reaction
// Time (10..50 min), and two objectives, Yield (%) and Impurity (%). We want
// the highest Yield while keeping Impurity at or below 1.5 %.
//
//   1. declare the variables and objectives and compute a Box-Behnken plan;
//   2. "run" every experiment of the plan and enter the measured values;
//   3. fit one quadratic model per objective and look at its predictions;
//   4. search the models for the best admissible points;
//   5. save the study to a plan file, load it back and compare.
//
// Every operation returns a Result; the program exits with 0 only if every
// step returned code 0 and the reloaded model agrees with the original one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "tavrin/tavrin.h"

#include "simulated_process.h"

namespace {

bool allOk = true;

// Reports a failed step with its code and message; returns true on success.
bool step(const Result& r, const char* what) {
  if (r.code != 0) {
    std::printf("  ! %s failed: code %u: %ls\n", what, r.code, r.message);
    allOk = false;
  }
  return r.code == 0;
}

using example::noise;
using example::trueImpurity;
using example::trueYield;

// The six points at which the models are compared: centre and the corners.
struct Point { double temp, time; };
constexpr Point kProbes[] = {{180, 30}, {150, 10}, {210, 10}, {150, 50}, {210, 50}, {195, 40}};

// Predicts Yield and Impurity at p: move the current point, refit, read.
bool predict(CTavrin& study, Point p, double& yield, double& impurity) {
  return step(study.modelSetDesignVarValue(L"Temperature", p.temp), "modelSetDesignVarValue") &&
         step(study.modelSetDesignVarValue(L"Time", p.time), "modelSetDesignVarValue") &&
         step(study.modelCompute(), "modelCompute") &&
         step(study.modelGetObjectiveValue(L"Yield", yield), "modelGetObjectiveValue") &&
         step(study.modelGetObjectiveValue(L"Impurity", impurity), "modelGetObjectiveValue");
}

// Prints the coefficient section of a saved plan file: per objective, the
// constant, linear, square and product terms of its model in coded units.
void printCoefficients(const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (!file) return;
  char line[300];
  bool inSection = false;
  while (std::fgets(line, sizeof line, file)) {
    if (!inSection) {
      inSection = std::strstr(line, "//Quadratic polynomial coefficients") == line;
      if (inSection) std::printf("\nFitted coefficients (coded units), as saved:\n");
      continue;
    }
    std::printf("  %s", line);
  }
  std::fclose(file);
}

}  // namespace

int main() {
  // --- 1. Declare the study and compute the plan --------------------------
  CTavrin study(CTavrin::BoxBehnkenPlan);
  step(study.planAddDesignVar(L"Temperature", 150, 210), "planAddDesignVar");
  step(study.planAddDesignVar(L"Time", 10, 50), "planAddDesignVar");
  step(study.planAddObjective(L"Yield"), "planAddObjective");
  step(study.planAddObjective(L"Impurity"), "planAddObjective");
  if (!step(study.planCompute(), "planCompute")) return 1;

  unsigned int runs = 0;
  if (!step(study.planGetExperimentCount(runs), "planGetExperimentCount")) return 1;

  // --- 2. Run the experiments and enter the results -----------------------
  // The plan gives each experiment in natural units; every objective sees the
  // same settings, so reading them through "Yield" is enough here.
  std::printf("Box-Behnken plan, %u experiments\n\n", runs);
  std::printf("  Run  Temperature   Time     Yield  Impurity\n");
  for (unsigned int k = 1; k <= runs; ++k) {
    double temp = 0, time = 0;
    step(study.planGetDesignVarValue(L"Temperature", L"Yield", k, temp), "planGetDesignVarValue");
    step(study.planGetDesignVarValue(L"Time", L"Yield", k, time), "planGetDesignVarValue");
    const double yield = trueYield(temp, time) + 0.3 * noise();
    const double impurity = trueImpurity(temp, time) + 0.02 * noise();
    step(study.planSetObjectiveValue(L"Yield", k, yield), "planSetObjectiveValue");
    step(study.planSetObjectiveValue(L"Impurity", k, impurity), "planSetObjectiveValue");
    std::printf("  %3u  %11.1f  %5.1f  %8.3f  %8.4f\n", k, temp, time, yield, impurity);
  }

  // --- 3. Fit the models and compare them with the process ----------------
  if (!step(study.modelCompute(), "modelCompute")) return 1;
  std::printf("\nModel predictions against the noise-free process\n\n");
  std::printf("  Temperature   Time   Yield (model / true)   Impurity (model / true)\n");
  double before[std::size(kProbes)][2] = {};
  for (std::size_t i = 0; i < std::size(kProbes); ++i) {
    const Point p = kProbes[i];
    if (!predict(study, p, before[i][0], before[i][1])) return 1;
    std::printf("  %11.1f  %5.1f   %8.3f / %8.3f      %8.4f / %8.4f\n", p.temp, p.time, before[i][0],
                trueYield(p.temp, p.time), before[i][1], trueImpurity(p.temp, p.time));
  }

  // --- 4. Search for the best points ---------------------------------------
  // Yield has weight 1: it is maximised (its limits are not used). Impurity
  // has weight 0: it is a constraint, and points predicted outside 0..1.5
  // are rejected. The search covers the whole declared range.
  step(study.modelSetObjectiveLimits(L"Yield", 1.0, -1e9, 1e9), "modelSetObjectiveLimits");
  step(study.modelSetObjectiveLimits(L"Impurity", 0.0, 0.0, 1.5), "modelSetObjectiveLimits");
  step(study.modelSetDesignVarLimits(L"Temperature", 150, 210), "modelSetDesignVarLimits");
  step(study.modelSetDesignVarLimits(L"Time", 10, 50), "modelSetDesignVarLimits");
  if (!step(study.modelOptimize(0, 1024), "modelOptimize")) return 1;

  std::printf("\nBest points of 1024 LPtau trials (Impurity <= 1.5)\n\n");
  std::printf("  Slot  Temperature    Time     Yield  Impurity\n");
  for (unsigned int slot = 1; slot <= CTavrin::BestResultCount; ++slot) {
    double temp = 0, time = 0, yield = 0, impurity = 0;
    step(study.modelGetDesignVarBestResult(L"Temperature", slot, temp), "modelGetDesignVarBestResult");
    step(study.modelGetDesignVarBestResult(L"Time", slot, time), "modelGetDesignVarBestResult");
    step(study.modelGetObjectiveBestResult(L"Yield", slot, yield), "modelGetObjectiveBestResult");
    step(study.modelGetObjectiveBestResult(L"Impurity", slot, impurity), "modelGetObjectiveBestResult");
    std::printf("  %4u  %11.2f  %6.2f  %8.3f  %8.4f\n", slot, temp, time, yield, impurity);
  }

  // --- 5. Save, load into a new object and compare -------------------------
  // The file keeps the plan, the measured values and the coefficients; the
  // loaded study refits its models from the measured values as written, to
  // 6 significant digits, so its predictions agree to about that precision.
  if (!step(study.Save("study.tvr", CTavrin::FILE_CURRENT_VERSION), "Save")) return 1;
  std::printf("\nSaved the study to study.tvr\n");
  printCoefficients("study.tvr");

  CTavrin reloaded(CTavrin::RechschafnerPlan);  // Load sets the plan type from the file
  unsigned int version = 0;
  if (!step(reloaded.Load("study.tvr", version), "Load")) return 1;
  std::printf("Loaded study.tvr (file version %u)\n\n", version);
  std::printf("  %11s  %5s  %14s %10s %8s  %14s %10s %8s\n", "Temperature", "Time", "Yield saved", "loaded",
              "rel.diff", "Impurity saved", "loaded", "rel.diff");
  double worst = 0;
  for (std::size_t i = 0; i < std::size(kProbes); ++i) {
    const Point p = kProbes[i];
    double after[2] = {};
    if (!predict(reloaded, p, after[0], after[1])) return 1;
    double rel[2];
    for (int j = 0; j < 2; ++j) {
      rel[j] = std::fabs(after[j] - before[i][j]) / std::max(std::fabs(before[i][j]), 1.0);
      worst = std::max(worst, rel[j]);
    }
    std::printf("  %11.1f  %5.1f  %14.6g %10.6g %8.1e  %14.6g %10.6g %8.1e\n", p.temp, p.time, before[i][0],
                after[0], rel[0], before[i][1], after[1], rel[1]);
  }
  const bool same = worst < 1e-5;
  std::printf("\nLargest relative difference %.2e: %s\n", worst,
              same ? "the reloaded model agrees to 6 significant digits" : "MISMATCH");

  std::printf("%s\n", allOk && same ? "Study completed." : "Study FAILED.");
  return allOk && same ? 0 : 1;
}
