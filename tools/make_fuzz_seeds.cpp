// Writes the seed plan files of the load fuzzer with the library's own Save:
//   make_fuzz_seeds <directory>
// Box-Behnken with 2 variables and 1 objective, Box-Behnken with 3 variables
// and 2 objectives, Rechtschaffner with 4 variables and 1 objective.
#include <cmath>
#include <cstdio>
#include <string>

#include "tavrin/tavrin.h"

namespace {

bool writeSeed(const std::string& path, CTavrin::PlanType type, int n, int m, unsigned version) {
  CTavrin study(type);
  const wchar_t* vars[] = {L"Speed", L"Feed", L"Depth", L"Angle"};
  const wchar_t* objectives[] = {L"Yield", L"Cost"};
  for (int i = 0; i < n; ++i) study.planAddDesignVar(vars[i], 10.0 * i, 10.0 * i + 5.5);
  for (int j = 0; j < m; ++j) study.planAddObjective(objectives[j]);
  if (study.planCompute().code != 0) return false;
  unsigned runs = 0;
  study.planGetExperimentCount(runs);
  for (int j = 0; j < m; ++j) {
    for (unsigned k = 1; k <= runs; ++k) study.planSetObjectiveValue(objectives[j], k, 50.0 + 3.0 * std::sin(k + j));
  }
  return study.modelCompute().code == 0 && study.Save(path.c_str(), version).code == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok = writeSeed(dir + "/box_behnken_2x1.plan", CTavrin::BoxBehnkenPlan, 2, 1, 1) &&
                  writeSeed(dir + "/box_behnken_3x2.plan", CTavrin::BoxBehnkenPlan, 3, 2, 0) &&
                  writeSeed(dir + "/rechtschaffner_4x1.plan", CTavrin::RechschafnerPlan, 4, 1, 1);
  return ok ? 0 : 1;
}
