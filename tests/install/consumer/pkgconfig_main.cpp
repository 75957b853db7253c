// Built with the flags of tavrin.pc only: the header is found and the
// library links and runs.
#include <cstdio>
#include <cwchar>

#include <tavrin/tavrin.h>

int main() {
  CTavrin study(CTavrin::BoxBehnkenPlan);
  study.planAddDesignVar(L"Speed", 0, 10);
  study.planAddDesignVar(L"Feed", 100, 200);
  study.planAddObjective(L"Yield");
  Result r = study.planCompute();
  unsigned int count = 0;
  Result c = study.planGetExperimentCount(count);
  if (r.code != 0 || c.code != 0 || count != 9) {
    std::printf("FAILED: planCompute %u (%ls), %u experiments\n", r.code, r.message, count);
    return 1;
  }
  // A failure carries its code and message across the library boundary.
  Result late = study.planAddObjective(L"Purity");
  const wchar_t* expected =
      L"Tavrin error. planAddObjective(). Can not Add objective. Plan has been computed.";
  if (late.code != 13 || std::wcscmp(late.message, expected) != 0) {
    std::printf("FAILED: planAddObjective after planCompute gave %u (%ls)\n", late.code, late.message);
    return 1;
  }
  std::printf("pkg-config consumer: ok\n");
  return 0;
}
