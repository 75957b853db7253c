// Load against damaged files: every outcome is a Load result, never a crash,
// a hang or a leak (run under the sanitizers as well).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "io/plan_file_fixtures.h"
#include "tavrin/tavrin.h"

using namespace tavrin_test;

namespace {

// Each text goes to a new file, removed after the load: rewriting one file in
// place makes some file systems flush it to disk on every close.
Result loadFile(CTavrin& study, const std::string& path, const std::string& text) {
  static int serial = 0;
  const std::string file = path + "." + std::to_string(serial++);
  writeFile(file, text);
  unsigned version = 0;
  const Result r = study.Load(file.c_str(), version);
  std::filesystem::remove(file);
  return r;
}

void expectConsistent(CTavrin& study, const Result& r, const std::string& what) {
  EXPECT_TRUE(r.code == 0 || r.code == 21) << what;
  EXPECT_TRUE(isLoadMessage(r.message)) << what;
  EXPECT_EQ(r.code == 0, std::wstring(r.message) == L"No Errors") << what;
  // Success leaves a fitted model; every failure leaves none.
  EXPECT_EQ(study.modelIsComputed(), r.code == 0) << what;
}

}  // namespace

// A prefix loads only if it holds at least the first character of the last
// value line; every shorter prefix fails.
TEST(LoadRobustness, ExampleCutAtEveryByte) {
  ScratchDir dir;
  const std::string path = dir.file("cut.txt");
  const std::size_t lastValue = kExampleFile.find("60\t5\t150\n");
  const std::string reference = [&] {
    CTavrin study(CTavrin::BoxBehnkenPlan);
    loadFile(study, path, kExampleFile);
    return describe(study);
  }();
  for (std::size_t length = 0; length <= kExampleFile.size(); ++length) {
    CTavrin study(CTavrin::BoxBehnkenPlan);
    const Result r = loadFile(study, path, kExampleFile.substr(0, length));
    const std::string what = "length " + std::to_string(length);
    expectConsistent(study, r, what);
    EXPECT_EQ(r.code == 0, length > lastValue) << what;
    if (length >= lastValue + 2) {
      EXPECT_EQ(describe(study), reference) << what;
    }
  }
}

// Deterministic random damage: flipped bytes, inserted digits, tabs, line
// ends, carriage returns and comment markers, deleted stretches, and huge
// or negative counts in place of numbers.
TEST(LoadRobustness, RandomMutationsOfTheExample) {
  ScratchDir dir;
  const std::string path = dir.file("mutated.txt");
  std::mt19937 random(7741);
  auto below = [&random](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  const char* const insertions[] = {"0",
                                    "7",
                                    "9",
                                    "\t",
                                    "\n",
                                    "\r",
                                    "//",
                                    " ",
                                    "-",
                                    "e",
                                    "2000000000",
                                    "-2000000000",
                                    "99999999999999999999",
                                    "1e999",
                                    "nan",
                                    "\xc3",
                                    "\xff"};
  int successes = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::string text = kExampleFile;
    const std::size_t edits = 1 + below(3);
    for (std::size_t e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = below(text.size());
      switch (below(4)) {
        case 0:
          text[at] = static_cast<char>(text[at] ^ static_cast<char>(1 + below(255)));
          break;
        case 1:
          text.insert(at, insertions[below(std::size(insertions))]);
          break;
        case 2:
          text.erase(at, 1 + below(12));
          break;
        default: {
          // Replace the number that starts at a line beginning with a huge count.
          const std::size_t line = text.rfind('\n', at);
          const std::size_t start = line == std::string::npos ? 0 : line + 1;
          text.insert(start, below(2) ? "2000000000" : "-2000000000");
          break;
        }
      }
    }
    CTavrin study(CTavrin::BoxBehnkenPlan);
    const Result r = loadFile(study, path, text);
    expectConsistent(study, r, "trial " + std::to_string(trial));
    successes += r.code == 0;
  }
  // Many edits fall into comments or trailing fields and do no harm.
  EXPECT_GT(successes, 20);
}

TEST(LoadRobustness, HugeCountsAndGarbage) {
  ScratchDir dir;
  const std::string path = dir.file("damaged.txt");
  auto withHeader = [](int line, const std::string& value) {
    std::string text = kExampleFile;
    std::size_t at = 0;
    for (int i = 1; i < line; ++i) at = text.find('\n', at) + 1;
    text.replace(at, 1, value);
    return text;
  };
  std::string garbage(4096, '\0');
  std::mt19937 random(99);
  for (char& c : garbage) c = static_cast<char>(random());
  const struct {
    std::string text;
    const wchar_t* message;
  } cases[] = {
      // n = 2000000000: "Yield" is read as a third design variable and has no bounds.
      {withHeader(5, "2000000000"), L"Tavrin Error. Load(). Can not open file to load."},
      {withHeader(5, "2000000000") + std::string(20000, '\n'), L"Tavrin Error. Load(). Can not open file to load."},
      // m = 2000000000: every later content line is taken as an objective name.
      {withHeader(6, "2000000000"), L"Tavrin Error. Load(). Can not load from file."},
      {withHeader(7, "2000000000"), L"Tavrin Error. Load(). Can not load from file."},  // plan computed first
      {withHeader(7, "-2000000000"), L"No Errors"},                                     // no value lines read
      {withHeader(5, "-2000000000"), L"Tavrin Error. Load(). Can not compute plan."},
      {withHeader(6, "0"), L"Tavrin Error. Load(). Can not compute plan."},
      {garbage, nullptr},
      {std::string(10 << 20, '7'), L"Tavrin Error. Load(). Can not load from file."},
  };
  for (const auto& c : cases) {
    CTavrin study(CTavrin::BoxBehnkenPlan);
    const Result r = loadFile(study, path, c.text);
    if (c.message) {
      EXPECT_STREQ(r.message, c.message) << c.text.substr(0, 200);
    }
    expectConsistent(study, r, c.text.substr(0, 200));
  }
}
