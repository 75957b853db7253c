// A tiny study through the installed library (built with the CMake package and
// with tavrin.pc): fit a known quadratic, check it off the plan points, after a
// save and load, and an error across the library boundary. Exits 1 on failure.
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>

#include <tavrin/tavrin.h>

#define CHECK(condition)                                           \
  do {                                                             \
    if (!(condition)) {                                            \
      std::printf("FAILED (line %d): %s\n", __LINE__, #condition); \
      return 1;                                                    \
    }                                                              \
  } while (0)

static bool ok(const Result& r) {
  if (r.code != 0) std::printf("code %u: %ls\n", r.code, r.message);
  return r.code == 0;
}

// 60 + 5a + 8b - 3a^2 - 2b^2 + 1.5ab with a = (speed - 5) / 5 and b = (feed - 150) / 50.
static double truth(double speed, double feed) {
  const double a = (speed - 5) / 5, b = (feed - 150) / 50;
  return 60 + 5 * a + 8 * b - 3 * a * a - 2 * b * b + 1.5 * a * b;
}

int main(int, char** argv) {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  unsigned int count = 0, version = 0;
  CHECK(ok(study.planAddDesignVar(L"Speed", 0, 10)) && ok(study.planAddDesignVar(L"Feed", 100, 200)));
  CHECK(ok(study.planAddObjective(L"Yield")) && ok(study.planCompute()) && ok(study.planGetExperimentCount(count)));
  CHECK(count == 9);
  for (unsigned int k = 1; k <= count; ++k) {
    double speed = -1, feed = -1;
    CHECK(ok(study.planGetDesignVarValue(L"Speed", L"Yield", k, speed)) &&
          ok(study.planGetDesignVarValue(L"Feed", L"Yield", k, feed)));
    CHECK(ok(study.planSetObjectiveValue(L"Yield", k, truth(speed, feed))));
  }
  const std::string file = std::string(argv[0]) + ".plan";
  CHECK(ok(study.modelCompute()) && ok(study.Save(file.c_str(), CTavrin::FILE_CURRENT_VERSION)));
  const Result late = study.planAddObjective(L"Purity");
  CHECK(late.code == 13 && std::wcscmp(late.message, L"Tavrin error. planAddObjective(). Can not Add objective. "
                                                     L"Plan has been computed.") == 0);
  CTavrin reloaded(CTavrin::RechschafnerPlan);
  CHECK(ok(reloaded.Load(file.c_str(), version)) && version == 1);
  for (CTavrin* s : {&study, &reloaded}) {  // the fit reproduces the quadratic off the plan points
    double y = 0;
    CHECK(ok(s->modelSetDesignVarValue(L"Speed", 7.5)) && ok(s->modelSetDesignVarValue(L"Feed", 125)));
    CHECK(ok(s->modelCompute()) && ok(s->modelGetObjectiveValue(L"Yield", y)));
    CHECK(std::fabs(y - truth(7.5, 125)) < 1e-4);
  }
  std::printf("consumer: ok\n");
  return 0;
}
