// Replays the seed corpora and every input a fuzz target has ever flagged
// through the same checks the targets make, in the ordinary test build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api_harness.h"
#include "load_harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(TAVRIN_FUZZ_DIR) / kind / target;
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string bytesOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::uint8_t* data(const std::string& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

TEST(FuzzCorpus, LoadInputsPassTheLoadChecks) {
  const std::vector<fs::path> files = inputsOf("load");
  ASSERT_GE(files.size(), 3u);
  for (const fs::path& file : files) {
    const std::string bytes = bytesOf(file);
    EXPECT_EQ(fuzz::runLoadInput(data(bytes), bytes.size()), "") << file;
  }
}

TEST(FuzzCorpus, ApiScriptsPassTheShadowChecks) {
  const std::vector<fs::path> files = inputsOf("api");
  ASSERT_GE(files.size(), 3u);
  for (const fs::path& file : files) {
    const std::string bytes = bytesOf(file);
    EXPECT_EQ(fuzz::runApiInput(data(bytes), bytes.size()), "") << file;
  }
}

// The seed plan files are valid studies of both plan types.
TEST(FuzzCorpus, SeedPlanFilesLoad) {
  for (const char* name : {"box_behnken_2x1.plan", "box_behnken_3x2.plan", "rechtschaffner_4x1.plan"}) {
    const fs::path file = fs::path(TAVRIN_FUZZ_DIR) / "corpus" / "load" / name;
    CTavrin study(CTavrin::RechschafnerPlan);
    unsigned version = 99;
    EXPECT_EQ(study.Load(file.c_str(), version).code, 0u) << name;
    EXPECT_TRUE(study.modelIsComputed()) << name;
  }
}

}  // namespace
