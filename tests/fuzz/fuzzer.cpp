// libFuzzer target, built by tools/fuzz.sh once per harness, with TAVRIN_FUZZ_RUN naming it.
#include <cstdio>
#include <cstdlib>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string finding = TAVRIN_FUZZ_RUN(data, size);
  if (!finding.empty()) std::fprintf(stderr, "%s\n", finding.c_str()), std::abort();
  return 0;
}
