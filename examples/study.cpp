// A whole study on a simulated process.
#include <cstdio>

#include "tavrin/tavrin.h"

int main() {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  study.planAddDesignVar(L"Speed", 0, 10);
  study.planAddDesignVar(L"Feed", 100, 200);
  study.planAddObjective(L"Yield");
  Result r = study.planCompute();
  std::printf("planCompute: %u\n", r.code);
  return r.code == 0 ? 0 : 1;
}
