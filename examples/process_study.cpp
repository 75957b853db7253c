// A whole study through the study layer, on the simulated chemical process
// of simulated_process.h: reaction Temperature (150..210 °C) and Time (10..50 min),
// responses Yield (%) and Impurity (%).
//
//   1. define the study and plan it (Box-Behnken, 3 extra centre runs, fixed seed);
//   2. write the run sheet a lab would work from;
//   3. "run" the experiments: fill a results sheet in execution order;
//   4. read the results back by run id;
//   5. fit one quadratic model per response and print its coefficients;
//   6. predict at a few points;
//   7. save the study file, load it back and check that it is the same;
//   8. print the fit report and canonical analysis of each response.
//
// Each step is a function taking the study; later steps (analysis, search
// for an optimum) append to main() the same way. Exits with 1 on any failure.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tavrin/analysis.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"

#include "simulated_process.h"

namespace {

using tavrin::Study;

const char* const kRunSheet = "process_run_sheet.csv";
const char* const kResultsSheet = "process_results.csv";
const char* const kStudyFile = "process_study.json";

using example::noise;
using example::trueImpurity;
using example::trueYield;

Study defineStudy() {
  std::printf("1. Plan\n");
  Study study(tavrin::DesignKind::BoxBehnken,
              {{"Temperature", 150.0, 210.0, "°C"}, {"Time", 10.0, 50.0, "min"}},
              {{"Yield", "%"}, {"Impurity", "%"}}, {.seed = 20240611, .extraCenterRuns = 3});
  const tavrin::Plan& plan = study.plan();
  std::printf("   %s plan, %zu runs (%zu + %d extra centre runs), seed %llu\n\n",
              std::string(tavrin::designKindName(plan.kind)).c_str(), plan.runCount(), plan.baseRunCount(),
              plan.extraCenterRuns, static_cast<unsigned long long>(plan.seed));
  return study;
}

void writeRunSheet(const Study& study) {
  std::printf("2. Run sheet (%s), in execution order\n\n", kRunSheet);
  std::ofstream(kRunSheet, std::ios::binary) << study.runSheet();
  std::printf("   %5s  %5s  %12s  %8s\n", "order", "run", "Temperature", "Time");
  const tavrin::Plan& plan = study.plan();
  for (std::size_t k = 0; k < plan.runCount(); ++k) {
    const int id = plan.executionOrder[k];
    const double* x = plan.natural.row(static_cast<std::size_t>(id - 1));
    std::printf("   %5zu  %5d  %12.1f  %8.1f\n", k + 1, id, x[0], x[1]);
  }
  std::printf("\n");
}

// The lab works down the sheet and writes what it measured next to the
// settings it ran; its columns come in another order. The settings are
// checked against each run's, to the digits the lab wrote.
void runExperiments(const Study& study) {
  std::printf("3. Experiments run; results written to %s\n\n", kResultsSheet);
  std::ofstream out(kResultsSheet, std::ios::binary);
  out << "Impurity [%],Yield [%],run_id,Temperature [°C],Time [min]\r\n";
  const tavrin::Plan& plan = study.plan();
  for (const int id : plan.executionOrder) {
    const double* x = plan.natural.row(static_cast<std::size_t>(id - 1));
    const double yield = trueYield(x[0], x[1]) + 0.3 * noise();
    const double impurity = trueImpurity(x[0], x[1]) + 0.02 * noise();
    char line[128];
    std::snprintf(line, sizeof line, "%.2f,%.2f,%d,%.1f,%.1f\r\n", impurity, yield, id, x[0], x[1]);
    out << line;
  }
}

void readResults(Study& study) {
  std::printf("4. Results read back by run id: ");
  study.readResultsFile(kResultsSheet);
  std::printf("%zu missing\n\n", study.missing().size());
}

void printModel(const tavrin::Fit& fit, std::size_t j) {
  std::vector<std::string> names;
  for (const tavrin::Factor& f : fit.factors) names.push_back(f.name);
  std::printf("   %s\n   %-24s %14s %14s\n", fit.responses[j].name.c_str(), "term", "coded", "natural");
  for (std::size_t k = 0; k < fit.termCount(); ++k)
    std::printf("   %-24s %14.6g %14.6g\n", tavrin::quadratic::termLabel(names, k).c_str(), fit.models[j].coded[k],
                fit.models[j].natural[k]);
  std::printf("\n");
}

tavrin::Fit fitModels(const Study& study) {
  std::printf("5. Fitted coefficients, coded units (-1..+1) and natural units (°C, min)\n\n");
  const tavrin::Fit fit = study.fit();
  for (std::size_t j = 0; j < fit.responses.size(); ++j) printModel(fit, j);
  return fit;
}

bool predictAtProbes(const tavrin::Fit& fit) {
  std::printf("6. Predictions against the noise-free process\n\n");
  const tavrin::Matrix points = {{180, 30}, {150, 10}, {210, 50}, {195, 40}, {192, 38}};
  const tavrin::Matrix predicted = tavrin::predict(fit, points);
  std::printf("   %12s %8s   %16s   %16s\n", "Temperature", "Time", "Yield (true)", "Impurity (true)");
  bool close = true;
  for (std::size_t p = 0; p < points.rows(); ++p) {
    const double y = trueYield(points(p, 0), points(p, 1));
    const double z = trueImpurity(points(p, 0), points(p, 1));
    std::printf("   %12.1f %8.1f   %7.2f (%6.2f)   %7.3f (%6.3f)\n", points(p, 0), points(p, 1), predicted(p, 0), y,
                predicted(p, 1), z);
    close = close && std::abs(predicted(p, 0) - y) < 1.0 && std::abs(predicted(p, 1) - z) < 0.1;
  }
  std::printf("\n");
  return close;
}

bool saveAndLoad(const Study& study) {
  std::printf("7. Study saved to %s and loaded back: ", kStudyFile);
  study.save(kStudyFile);
  const bool same = Study::load(kStudyFile) == study;
  std::printf("%s\n", same ? "identical" : "DIFFERENT");
  return same;
}

// The process has its best Yield at 192 °C and 38 min, inside the region:
// the analysis should find a maximum there.
bool printAnalysis(const tavrin::Fit& fit) {
  std::printf("\n8. Analysis of each model\n");
  bool found = false;
  for (std::size_t j = 0; j < fit.responses.size(); ++j) {
    const tavrin::FitReport report = tavrin::analyze(fit, j);
    const tavrin::Canonical canonical = tavrin::canonicalAnalysis(fit, j);
    std::printf("\n%s", tavrin::formatReport(report, canonical).c_str());
    if (fit.responses[j].name == "Yield")
      found = canonical.kind == tavrin::Canonical::Maximum && canonical.insideRegion &&
              std::abs(canonical.stationaryNatural[0] - 192.0) < 5.0 &&
              std::abs(canonical.stationaryNatural[1] - 38.0) < 5.0;
  }
  return found;
}

// The best settings of the true process under the same constraint, by a
// fine grid, to check the optimum found from the noisy experiments.
void trueConstrainedOptimum(double& temp, double& time) {
  double best = -1e300;
  for (int i = 0; i <= 600; ++i)
    for (int k = 0; k <= 400; ++k) {
      const double t = 150.0 + 0.1 * i, m = 10.0 + 0.1 * k;
      if (trueImpurity(t, m) <= 1.5 && trueYield(t, m) > best) {
        best = trueYield(t, m);
        temp = t;
        time = m;
      }
    }
}

bool printOptimum(const tavrin::Fit& fit) {
  std::printf("\n9. Optimum: highest Yield with Impurity <= 1.5 %%\n\n");
  tavrin::Goal yield;
  yield.response = "Yield";
  yield.kind = tavrin::Goal::Maximize;
  yield.low = 80.0;
  yield.high = 100.0;
  tavrin::Goals goals;
  goals.goals = {yield};
  goals.constraints = {{"Impurity", -INFINITY, 1.5}};
  const tavrin::Optimum optimum = tavrin::optimize(fit, goals);
  const tavrin::Candidate& best = optimum.candidates.front();
  std::printf("   %u LPtau points searched (%u meet the constraint), best points polished by SLSQP\n",
              optimum.pointsSearched, optimum.admissiblePoints);
  std::printf("   Temperature %.2f °C, Time %.2f min\n", best.natural[0], best.natural[1]);
  for (std::size_t j = 0; j < fit.responses.size(); ++j) {
    const tavrin::Prediction& p = best.predictions[j];
    std::printf("   %-9s %8.3f   95%% confidence %8.3f .. %8.3f   prediction %8.3f .. %8.3f\n",
                fit.responses[j].name.c_str(), p.value, p.confidenceLow, p.confidenceHigh, p.predictionLow,
                p.predictionHigh);
  }
  std::printf("   desirability %.4f; active:", best.overall);
  for (const std::string& a : best.activeConstraints) std::printf(" %s;", a.c_str());
  double trueTemp = 0.0, trueTime = 0.0;
  trueConstrainedOptimum(trueTemp, trueTime);
  std::printf("\n   the true process's constrained optimum: %.1f °C, %.1f min\n", trueTemp, trueTime);

  tavrin::RobustnessOptions options;
  options.replicates = 10000;
  options.seed = 20240611;
  const tavrin::Robustness r = tavrin::robustness(fit, goals, optimum, options);
  std::printf("\n   Robustness: %u replicates of the results with normal noise, sigma from the residuals\n",
              r.replicates);
  std::printf("   (Yield %.3f, Impurity %.4f), each refitted and its optimum located again\n", r.sigma[0], r.sigma[1]);
  std::printf("   %-12s %9s %9s %9s %9s %9s\n", "percentile", "5", "25", "50", "75", "95");
  for (std::size_t i = 0; i < fit.factors.size(); ++i) {
    std::printf("   %-12s", fit.factors[i].name.c_str());
    for (std::size_t q = 0; q < r.percentiles.size(); ++q) std::printf(" %9.2f", r.settingPercentiles(i, q));
    std::printf("\n");
  }
  std::printf("   At the nominal optimum:\n");
  for (std::size_t j = 0; j < fit.responses.size(); ++j) {
    std::printf("   %-12s", fit.responses[j].name.c_str());
    for (std::size_t q = 0; q < r.percentiles.size(); ++q) std::printf(" %9.3f", r.predictionPercentiles(j, q));
    std::printf("   mean %.3f, sd %.3f\n", r.predictionMean[j], r.predictionStdDev[j]);
  }
  std::printf("   Impurity <= 1.5 holds there in %.1f %% of the replicates (%u replicates found no admissible point)\n",
              100.0 * r.constraintProbability[0], r.failedReplicates);
  return best.predictions[1].value <= 1.5 + 1e-9 && std::abs(best.natural[0] - trueTemp) < 5.0 &&
         std::abs(best.natural[1] - trueTime) < 5.0;
}

}  // namespace

int main() {
  try {
    Study study = defineStudy();
    writeRunSheet(study);
    runExperiments(study);
    readResults(study);
    const tavrin::Fit fit = fitModels(study);
    const bool predictionsClose = predictAtProbes(fit);
    const bool reloaded = saveAndLoad(study);
    const bool maximumFound = printAnalysis(fit);
    const bool optimumFound = printOptimum(fit);
    if (!optimumFound) std::printf("   ! the optimum is not near the true process's constrained optimum\n");
    if (!predictionsClose) std::printf("   ! a prediction is far from the process\n");
    if (!maximumFound) std::printf("   ! the analysis did not find the maximum of Yield near 192 °C, 38 min\n");
    return predictionsClose && reloaded && maximumFound && optimumFound ? 0 : 1;
  } catch (const std::exception& e) {
    std::printf("\n   ! %s\n", e.what());
    return 1;
  }
}
