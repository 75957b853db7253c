// libFuzzer target: arbitrary bytes as a plan file for CTavrin::Load.
#include <cstdio>
#include <cstdlib>

#include "load_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string finding = fuzz::runLoadInput(data, size);
  if (!finding.empty()) {
    std::fprintf(stderr, "load_fuzzer: %s\n", finding.c_str());
    std::abort();
  }
  return 0;
}
