// libFuzzer target, built twice by tools/fuzz.sh with TAVRIN_FUZZ_RUN naming the harness: fuzz::runLoadInput
// (arbitrary bytes as a plan file) or fuzz::runApiInput (a script of calls checked against a shadow of the study).
#include <cstdio>

#include "api_harness.h"
#include "load_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string finding = TAVRIN_FUZZ_RUN(data, size);
  if (!finding.empty()) std::fprintf(stderr, "%s\n", finding.c_str()), std::abort();
  return 0;
}
