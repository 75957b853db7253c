// A tiny study through the installed library (built with the CMake package and
// with tavrin.pc): fit a known quadratic, check it off the plan points after a
// save and load, and an error across the library boundary. Exits 1 on failure.
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>

#include <tavrin/tavrin.h>

static bool ok(const Result& r) {
  if (r.code != 0) std::printf("code %u: %ls\n", r.code, r.message);
  return r.code == 0;
}

// 60 + 5a + 8b - 3a^2 - 2b^2 + 1.5ab with a = (speed - 5) / 5 and b = (feed - 150) / 50.
static double truth(double speed, double feed) {
  const double a = (speed - 5) / 5, b = (feed - 150) / 50;
  return 60 + 5 * a + 8 * b - 3 * a * a - 2 * b * b + 1.5 * a * b;
}

static bool run(const std::string& file) {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  unsigned int count = 0, version = 0;
  if (!ok(study.planAddDesignVar(L"Speed", 0, 10)) || !ok(study.planAddDesignVar(L"Feed", 100, 200)) ||
      !ok(study.planAddObjective(L"Yield")) || !ok(study.planCompute()) || !ok(study.planGetExperimentCount(count)))
    return false;
  for (unsigned int k = 1; k <= count; ++k) {
    double speed = -1, feed = -1;
    if (!ok(study.planGetDesignVarValue(L"Speed", L"Yield", k, speed)) ||
        !ok(study.planGetDesignVarValue(L"Feed", L"Yield", k, feed)) ||
        !ok(study.planSetObjectiveValue(L"Yield", k, truth(speed, feed))))
      return false;
  }
  if (!ok(study.modelCompute()) || !ok(study.Save(file.c_str(), CTavrin::FILE_CURRENT_VERSION))) return false;
  const Result late = study.planAddObjective(L"Purity");
  if (late.code != 13 || std::wcsstr(late.message, L"Plan has been computed.") == nullptr) return false;
  CTavrin reloaded(CTavrin::RechschafnerPlan);
  double y = 0;
  return count == 9 && ok(reloaded.Load(file.c_str(), version)) && version == 1 &&
         ok(reloaded.modelSetDesignVarValue(L"Speed", 7.5)) && ok(reloaded.modelSetDesignVarValue(L"Feed", 125)) &&
         ok(reloaded.modelCompute()) && ok(reloaded.modelGetObjectiveValue(L"Yield", y)) &&
         std::fabs(y - truth(7.5, 125)) < 1e-4;
}

int main(int, char** argv) {
  const bool passed = run(std::string(argv[0]) + ".plan");
  std::printf("consumer: %s\n", passed ? "ok" : "FAILED");
  return passed ? 0 : 1;
}
