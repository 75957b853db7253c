// Replays the seed corpora and every input a fuzz target has flagged through the
// harnesses of the targets, in the ordinary test build.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "api_harness.h"
#include "load_harness.h"

namespace {

const std::filesystem::path kDir = TAVRIN_FUZZ_DIR;

void replay(const char* target, std::string (*run)(const std::uint8_t*, std::size_t)) {
  int inputs = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(kDir / kind / target)) {
      const std::string bytes{std::istreambuf_iterator<char>(std::ifstream(entry.path(), std::ios::binary).rdbuf()), {}};
      EXPECT_EQ(run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "") << entry.path();
      ++inputs;
    }
  }
  EXPECT_GE(inputs, 4) << target;
}

TEST(FuzzCorpus, LoadInputsPassTheLoadChecks) { replay("load", fuzz::runLoadInput); }
TEST(FuzzCorpus, ApiScriptsPassTheShadowChecks) { replay("api", fuzz::runApiInput); }

TEST(FuzzCorpus, SeedPlanFilesLoad) {  // valid studies of both plan types
  for (const char* name : {"box_behnken_2x1.plan", "box_behnken_3x2.plan", "rechtschaffner_4x1.plan"}) {
    unsigned version = 99;
    EXPECT_EQ(CTavrin(CTavrin::RechschafnerPlan).Load((kDir / "corpus" / "load" / name).c_str(), version).code, 0u) << name;
  }
}

}  // namespace
