// Replays the seed corpora and every input a fuzz target has flagged through the targets' harnesses.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "harness.h"

namespace {

const std::filesystem::path kDir = TAVRIN_FUZZ_DIR;

void replay(const char* target, std::string (*run)(const std::uint8_t*, std::size_t)) {
  int inputs = 0;
  for (const char* kind : {"corpus", "regressions"})
    for (const auto& entry : std::filesystem::directory_iterator(kDir / kind / target)) {
      const std::string bytes{std::istreambuf_iterator<char>(std::ifstream(entry.path()).rdbuf()), {}};
      EXPECT_EQ(run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "") << entry.path();
      ++inputs;
    }
  EXPECT_GE(inputs, 4) << target;
}

TEST(FuzzCorpus, LoadInputsPassTheLoadChecks) { replay("load", fuzz::runLoadInput); }
TEST(FuzzCorpus, ApiScriptsPassTheShadowChecks) { replay("api", fuzz::runApiInput); }

}  // namespace
