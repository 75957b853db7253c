// A small study through the installed package: Box-Behnken plan in two
// variables, measured values that follow a known quadratic, fit, predict,
// optimise, save and load. Exits with 1 at the first wrong answer.
#include <cmath>
#include <cstdio>

#include <tavrin/tavrin.h>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (!ok) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

bool ok(const Result& r, const char* what) {
  if (r.code != 0) std::printf("FAILED: %s: code %u: %ls\n", what, r.code, r.message);
  if (r.code != 0) ++failures;
  return r.code == 0;
}

// y = 60 + 5 x1 + 8 x2 - 3 x1^2 - 2 x2^2 + 1.5 x1 x2 in coded units, with
// Speed 0..10 and Feed 100..200 coded to -1..+1.
double truth(double speed, double feed) {
  const double x1 = (speed - 5.0) / 5.0;
  const double x2 = (feed - 150.0) / 50.0;
  return 60 + 5 * x1 + 8 * x2 - 3 * x1 * x1 - 2 * x2 * x2 + 1.5 * x1 * x2;
}

}  // namespace

int main() {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  ok(study.planAddDesignVar(L"Speed", 0, 10), "planAddDesignVar Speed");
  ok(study.planAddDesignVar(L"Feed", 100, 200), "planAddDesignVar Feed");
  ok(study.planAddObjective(L"Yield"), "planAddObjective");
  if (!ok(study.planCompute(), "planCompute")) return 1;

  unsigned int count = 0;
  ok(study.planGetExperimentCount(count), "planGetExperimentCount");
  check(count == 9, "a two-variable Box-Behnken plan has 9 experiments");

  for (unsigned int k = 1; k <= count; ++k) {
    double speed = -1, feed = -1;
    ok(study.planGetDesignVarValue(L"Speed", L"Yield", k, speed), "planGetDesignVarValue Speed");
    ok(study.planGetDesignVarValue(L"Feed", L"Yield", k, feed), "planGetDesignVarValue Feed");
    check(speed == 0 || speed == 5 || speed == 10, "Speed sits on a plan level");
    check(feed == 100 || feed == 150 || feed == 200, "Feed sits on a plan level");
    ok(study.planSetObjectiveValue(L"Yield", k, truth(speed, feed)), "planSetObjectiveValue");
  }
  if (!ok(study.modelCompute(), "modelCompute")) return 1;

  // The data follow a quadratic exactly, so the model reproduces it off the plan points.
  ok(study.modelSetDesignVarValue(L"Speed", 7.5), "modelSetDesignVarValue Speed");
  ok(study.modelSetDesignVarValue(L"Feed", 125), "modelSetDesignVarValue Feed");
  ok(study.modelCompute(), "modelCompute at a new point");
  double predicted = 0;
  ok(study.modelGetObjectiveValue(L"Yield", predicted), "modelGetObjectiveValue");
  std::printf("prediction at (7.5, 125): %.6f, expected %.6f\n", predicted, truth(7.5, 125));
  check(std::fabs(predicted - truth(7.5, 125)) < 1e-4, "prediction matches the quadratic");

  // Maximise Yield over the whole range: the best point is near (10, 200).
  ok(study.modelSetObjectiveLimits(L"Yield", 1, -1e9, 1e9), "modelSetObjectiveLimits");
  ok(study.modelSetDesignVarLimits(L"Speed", 0, 10), "modelSetDesignVarLimits Speed");
  ok(study.modelSetDesignVarLimits(L"Feed", 100, 200), "modelSetDesignVarLimits Feed");
  if (!ok(study.modelOptimize(0, 1024), "modelOptimize")) return 1;
  double best = 0, bestSpeed = 0, bestFeed = 0;
  ok(study.modelGetObjectiveBestResult(L"Yield", 1, best), "modelGetObjectiveBestResult");
  ok(study.modelGetDesignVarBestResult(L"Speed", 1, bestSpeed), "modelGetDesignVarBestResult Speed");
  ok(study.modelGetDesignVarBestResult(L"Feed", 1, bestFeed), "modelGetDesignVarBestResult Feed");
  std::printf("best: Yield %.4f at Speed %.4f, Feed %.4f\n", best, bestSpeed, bestFeed);
  check(best > 68.5 && best <= 69.5 + 1e-4, "best Yield is close to the maximum 69.5");
  check(std::fabs(best - truth(bestSpeed, bestFeed)) < 1e-4, "best Yield belongs to the best point");

  // Save and load back through the exported file operations.
  ok(study.Save("consumer_study.tvr", CTavrin::FILE_CURRENT_VERSION), "Save");
  CTavrin reloaded(CTavrin::RechschafnerPlan);
  unsigned int version = 99;
  if (!ok(reloaded.Load("consumer_study.tvr", version), "Load")) return 1;
  check(version == 1, "the file has version 1");
  CTavrin::PlanType type = CTavrin::RechschafnerPlan;
  ok(reloaded.planGetType(type), "planGetType");
  check(type == CTavrin::BoxBehnkenPlan, "the reloaded plan is Box-Behnken");
  ok(reloaded.modelSetDesignVarValue(L"Speed", 7.5), "reloaded modelSetDesignVarValue Speed");
  ok(reloaded.modelSetDesignVarValue(L"Feed", 125), "reloaded modelSetDesignVarValue Feed");
  ok(reloaded.modelCompute(), "reloaded modelCompute");
  double again = 0;
  ok(reloaded.modelGetObjectiveValue(L"Yield", again), "reloaded modelGetObjectiveValue");
  check(std::fabs(again - predicted) < 1e-4, "the reloaded model predicts the same value");

  std::printf(failures == 0 ? "consumer: all checks passed\n" : "consumer: %d failure(s)\n", failures);
  return failures == 0 ? 0 : 1;
}
