#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/plan_file_fixtures.h"
#include "tavrin/tavrin.h"

using namespace tavrin_test;

namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string saved(CTavrin& study, const ScratchDir& dir, unsigned version = 1) {
  const std::string path = dir.file("study.txt");
  const Result r = study.Save(path.c_str(), version);
  EXPECT_EQ(r.code, 0u) << r.message;
  return readFile(path);
}

// The lines of section 2 (design variables) and 3 (objectives) of a file.
std::vector<std::string> nameLines(const std::string& text) {
  std::vector<std::string> lines = splitLines(text), out;
  for (std::size_t i = 9; i < lines.size() && lines[i] != "//Experimental Data"; ++i) {
    if (lines[i].rfind("//", 0) != 0) out.push_back(lines[i]);
  }
  return out;
}

}  // namespace

TEST(Save, ExampleStudyMatchesTheReferenceFile) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  buildExampleStudy(study);
  EXPECT_EQ(saved(study, dir), kExampleFile);
}

TEST(Save, VersionZeroChangesOnlyTheFirstLine) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  buildExampleStudy(study);
  EXPECT_EQ(saved(study, dir, 0), "0" + kExampleFile.substr(1));
}

TEST(Save, RefusalsLeaveTheFileSystemAlone) {
  ScratchDir dir;
  CTavrin planOnly(CTavrin::BoxBehnkenPlan);
  planOnly.planAddDesignVar(L"A", 0, 1);
  planOnly.planAddObjective(L"Y");
  ASSERT_EQ(planOnly.planCompute().code, 0u);
  CTavrin empty(CTavrin::BoxBehnkenPlan);
  CTavrin complete(CTavrin::BoxBehnkenPlan);
  buildExampleStudy(complete);
  // Entering a value after modelCompute makes the model stale again.
  CTavrin stale(complete);
  ASSERT_EQ(stale.planSetObjectiveValue(L"Yield", 1, 1.0).code, 0u);

  struct Case {
    CTavrin* study;
    unsigned version;
    unsigned code;
    const wchar_t* message;
  } cases[] = {
      {&empty, 1, 1, L"Tavrin Error. Save(). Plan is not computed."},
      {&planOnly, 1, 2, L"Tavrin Error. Save(). Model is not computed."},
      {&stale, 1, 2, L"Tavrin Error. Save(). Model is not computed."},
      {&complete, 2, 20, L"Tavrin Error. Save(). File version is wrong."},
      {&complete, 4000000000u, 20, L"Tavrin Error. Save(). File version is wrong."},
      {&empty, 2, 1, L"Tavrin Error. Save(). Plan is not computed."},
  };
  for (const Case& c : cases) {
    const std::string missing = dir.file("missing.txt");
    const std::string existing = dir.file("existing.txt");
    writeFile(existing, "keep me\n");
    Result r = c.study->Save(missing.c_str(), c.version);
    EXPECT_EQ(r.code, c.code);
    EXPECT_STREQ(r.message, c.message);
    EXPECT_FALSE(std::filesystem::exists(missing));
    r = c.study->Save(existing.c_str(), c.version);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(readFile(existing), "keep me\n");
  }
}

TEST(Save, UnopenablePathsGiveCode20) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  buildExampleStudy(study);
  const std::string directory = dir.path().string();
  const std::string inMissingDir = dir.file("no-such-dir/study.txt");
  for (const char* path : {static_cast<const char*>(nullptr), directory.c_str(), inMissingDir.c_str()}) {
    const Result r = study.Save(path, 1);
    EXPECT_EQ(r.code, 20u);
    EXPECT_STREQ(r.message, L"Tavrin Error. Save(). Can not open file to save.");
  }
  EXPECT_FALSE(std::filesystem::exists(inMissingDir));
}

TEST(Save, ExistingFileIsTruncated) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  buildExampleStudy(study);
  const std::string path = dir.file("study.txt");
  writeFile(path, std::string(5000, 'x'));
  ASSERT_EQ(study.Save(path.c_str(), 1).code, 0u);
  EXPECT_EQ(readFile(path), kExampleFile);
}

// Each coefficient of the polynomial is distinct, so a line whose label and
// value disagree shows up: the label names the term the value belongs to.
TEST(Save, CoefficientBlocksFollowLabelOrder) {
  struct Case {
    std::vector<VarDef> vars;
    Response response;
    std::vector<std::string> expected;  // coefficient lines of the block
  } cases[] = {
      {{{L"A", -1, 1}},
       [](int, const std::vector<int>& x) { return 10 + 2 * x[0] - 3 * x[0] * x[0]; },
       {"10\t// B[0,0]", "2\t// B[0,1]", "-3\t// B[1,0]"}},
      {{{L"A", -1, 1}, {L"B", -1, 1}, {L"C", -1, 1}},
       [](int, const std::vector<int>& x) {
         return 10 + 1 * x[0] + 2 * x[1] + 3 * x[2] - 1 * x[0] * x[0] - 2 * x[1] * x[1] - 3 * x[2] * x[2] +
                0.5 * x[0] * x[1] + 0.25 * x[0] * x[2] - 0.75 * x[1] * x[2];
       },
       {"10\t// B[0,0]", "1\t// B[0,1]", "2\t// B[0,2]", "3\t// B[0,3]", "-1\t// B[1,0]", "-2\t// B[2,0]",
        "-3\t// B[3,0]", "0.5\t// B[1,1]", "0.25\t// B[1,2]", "-0.75\t// B[2,1]"}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    CTavrin study(CTavrin::BoxBehnkenPlan);
    buildStudy(study, c.vars, {L"Y"}, c.response);
    const std::vector<std::string> lines = splitLines(saved(study, dir));
    ASSERT_GE(lines.size(), c.expected.size() + 1);
    EXPECT_EQ(lines[lines.size() - c.expected.size() - 1], "//Objective: Y");
    const std::vector<std::string> block(lines.end() - static_cast<std::ptrdiff_t>(c.expected.size()), lines.end());
    EXPECT_EQ(block, c.expected);
  }
}

TEST(Save, NamesWithBlanksAndRoundedBounds) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  buildStudy(study, {{L"Feed rate", 0.1234567, 1234567}, {L"B", -2.5, 1e-7}}, {L"Mass flow"},
             [](int, const std::vector<int>&) { return 1.0; });
  const std::string text = saved(study, dir);
  EXPECT_EQ(nameLines(text),
            (std::vector<std::string>{"Feed rate\t0.123457\t1.23457e+06\t", "B\t-2.5\t1e-07\t", "Mass flow\t"}));
  EXPECT_NE(text.find("\n//Mass flow\t,Feed rate,B\n"), std::string::npos);
  EXPECT_NE(text.find("\n//Objective: Mass flow\n"), std::string::npos);
}

TEST(Save, ValuesNeverEnteredAreWrittenAsZero) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  study.planAddDesignVar(L"A", 0, 1);
  study.planAddObjective(L"Y");
  study.planCompute();
  ASSERT_EQ(study.modelCompute().code, 0u);
  const std::vector<std::string> lines = splitLines(saved(study, dir));
  // One variable: 3 runs, A = 0, 1, 0.5 in some order; every value 0.
  ASSERT_EQ(lines[15], "//Y\t,A");
  const std::vector<std::string> runs(lines.begin() + 16, lines.begin() + 19);
  for (const std::string& run : runs) EXPECT_EQ(run.substr(0, 2), "0\t") << run;
}

TEST(Save, NamesWithoutNarrowFormUseFallbacks) {
  ScratchDir dir;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  buildStudy(study, {{L"Speed", 0, 10}, {L"Gr\u00f6\u00dfe", 100, 200}}, {L"Yield", L"D\u00e9bit"}, exampleResponse);

  // In the "C" locale only ASCII converts; every line gets its own fallback.
  const std::string plain = saved(study, dir);
  EXPECT_EQ(nameLines(plain),
            (std::vector<std::string>{"Speed\t0\t10\t", "DesignVar2\t100\t200\t", "Yield\t", "Objective2\t"}));
  EXPECT_NE(plain.find("\n//Yield\t,Speed,DesignVar2\n"), std::string::npos);
  EXPECT_NE(plain.find("\n//Objective2\t,Speed,DesignVar2\n"), std::string::npos);
  EXPECT_NE(plain.find("\n//Objective: Objective2\n"), std::string::npos);

  LocaleScope utf8("C.UTF-8");
  if (!utf8.ok()) GTEST_SKIP() << "C.UTF-8 locale not available";
  const std::string encoded = saved(study, dir);
  EXPECT_EQ(nameLines(encoded), (std::vector<std::string>{"Speed\t0\t10\t",
                                                          "Gr\xc3\xb6\xc3\x9f"
                                                          "e\t100\t200\t",
                                                          "Yield\t",
                                                          "D\xc3\xa9"
                                                          "bit\t"}));
  EXPECT_EQ(encoded.find("Objective2"), std::string::npos);
  EXPECT_EQ(encoded.find("DesignVar2"), std::string::npos);
}

// A narrow form must fit the 300-byte conversion buffer with its null;
// anything longer is written as the fallback name, never cut short.
TEST(Save, NamesOfThreeHundredBytesOrMoreUseFallbacks) {
  LocaleScope utf8("C.UTF-8");
  if (!utf8.ok()) GTEST_SKIP() << "C.UTF-8 locale not available";
  const std::wstring e(1, L'\u00e9');  // two bytes in UTF-8
  struct Case {
    std::wstring name;
    bool written;
  } cases[] = {
      {std::wstring(299, L'a'), true},       {std::wstring(300, L'a'), false},
      {std::wstring(297, L'a') + e, true},   {std::wstring(298, L'a') + e, false},
      {std::wstring(299, L'a') + e, false},  {std::wstring(149, L'\u00e9') + L"a", true},
      {std::wstring(150, L'\u00e9'), false}, {std::wstring(148, L'\u00e9') + L"aaaa", false},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    CTavrin study(CTavrin::BoxBehnkenPlan);
    buildStudy(study, {{L"A", 0, 1}}, {c.name}, [](int, const std::vector<int>&) { return 1.0; });
    const std::vector<std::string> names = nameLines(saved(study, dir));
    ASSERT_EQ(names.size(), 2u);
    if (c.written) {
      EXPECT_NE(names[1], "Objective1\t") << c.name.size();
      EXPECT_EQ(names[1].size(), 300u) << c.name.size();  // 299 bytes and the tab
    } else {
      EXPECT_EQ(names[1], "Objective1\t") << c.name.size();
    }
  }
}
