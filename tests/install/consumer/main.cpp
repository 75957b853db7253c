// A tiny plan through the installed library (built with the CMake package and
// with tavrin.pc): a computed plan, and an error with its message across the
// library boundary. Exits 1 on failure.
#include <cstdio>
#include <cwchar>

#include <tavrin/tavrin.h>

int main() {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  unsigned int count = 0;
  const bool planned = study.planAddDesignVar(L"Speed", 0.1, 0.7).code == 0 &&
                       study.planAddDesignVar(L"Feed", 100, 200).code == 0 &&
                       study.planAddObjective(L"Yield").code == 0 && study.planCompute().code == 0 &&
                       study.planGetExperimentCount(count).code == 0 && count == 9;
  const Result late = study.planAddObjective(L"Purity");
  const bool passed = planned && late.code == 13 && std::wcsstr(late.message, L"Plan has been computed.") != nullptr;
  std::printf("consumer: %s\n", passed ? "ok" : "FAILED");
  return passed ? 0 : 1;
}
