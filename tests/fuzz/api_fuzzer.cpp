// libFuzzer target: a byte string as a script of calls to the CTavrin
// interface, every answer checked against a shadow of the study.
#include <cstdio>
#include <cstdlib>

#include "api_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string finding = fuzz::runApiInput(data, size);
  if (!finding.empty()) {
    std::fprintf(stderr, "api_fuzzer: %s\n", finding.c_str());
    std::abort();
  }
  return 0;
}
