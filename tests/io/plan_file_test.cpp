#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "io/number_format.h"
#include "tavrin/tavrin.h"

namespace {
namespace fs = std::filesystem;
using Coded = std::vector<int>;

// Two-variable Box-Behnken study, y = 60 + 5x1 + 8x2 - 3x1^2 - 2x2^2 + 1.5x1x2 at the coded levels.
const std::string kExample =
    "1\t//Tavrin File Version\n//\n2\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)\n//\n"
    "2\t//Design Variables Count\n1\t//Objectives Count\n9\t//Experiments Count\n//\n"
    "//Design Variables (Name, Minimum Value, Maximum Value)\nSpeed\t0\t10\t\nFeed\t100\t200\t\n"
    "//\n//Objectives\nYield\t\n//\n//Experimental Data\n//Yield\t,Speed,Feed\n69.5\t10\t200\n56.5\t0\t200\n"
    "50.5\t10\t100\n43.5\t0\t100\n62\t10\t150\n52\t0\t150\n66\t5\t200\n50\t5\t100\n60\t5\t150\n"
    "//\n//Quadratic polynomial coefficients\n//Objective: Yield\n"
    "60\t// B[0,0]\n5\t// B[0,1]\n8\t// B[0,2]\n-3\t// B[1,0]\n-2\t// B[2,0]\n1.5\t// B[1,1]\n";
// The loaded example as describe() gives it.
const std::string kVars = "var Speed 0 10\nvar Feed 100 200\n";
const std::string kValues = " 69.5 56.5 50.5 43.5 62 52 66 50 60";
const std::string kLoaded =
    "type 2 plan 1 model 1 runs 9\n" + kVars + "objective Yield:" + kValues + " -> 60\n";
enum { Ok, Open, Eof, BadVar, BadObj, NoPlan };
const wchar_t* const kMessages[] = {L"No Errors", L"Tavrin Error. Load(). Can not open file to load.",
    L"Tavrin Error. Load(). Can not load from file.",
    L"Tavrin Error. Load(). Design Variable Name is not valid.",
    L"Tavrin Error. Load(). Objective Name is not valid.", L"Tavrin Error. Load(). Can not compute plan.",
    L"Tavrin Error. Load(). Can not compute model."};

struct Scratch {  // a fresh directory, removed with its contents
  fs::path dir = fs::temp_directory_path() / ("tavrin-io-" + std::to_string(std::random_device{}()));
  Scratch() { while (!fs::create_directory(dir)) dir += "x"; }
  ~Scratch() { std::error_code ignored; fs::remove_all(dir, ignored); }
  std::string at(const char* name) const { return (dir / name).string(); }
} const kScratch;

std::string with(std::string text, const std::string& from, const std::string& to) {  // every `from` replaced
  EXPECT_NE(text.find(from), std::string::npos) << from;
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct Var { std::wstring name; double lo, hi; };
// Declares the study, computes the plan, enters f(objective, coded levels of the run) and fits the model.
void build(CTavrin& s, const std::vector<Var>& vars, const std::vector<std::wstring>& objectives,
           double (*f)(int, const Coded&)) {
  for (const Var& v : vars) s.planAddDesignVar(v.name.c_str(), v.lo, v.hi);
  for (const auto& o : objectives) s.planAddObjective(o.c_str());
  unsigned runs = 0;
  ASSERT_EQ(s.planCompute().code + s.planGetExperimentCount(runs).code, 0u);
  for (std::size_t j = 0; j < objectives.size(); ++j)
    for (unsigned k = 1; k <= runs; ++k) {
      Coded x;
      double z = 0;
      for (const Var& v : vars)
        s.planGetDesignVarValue(v.name.c_str(), objectives[j].c_str(), k, z),
            x.push_back(static_cast<int>(std::lround((2 * z - v.lo - v.hi) / (v.hi - v.lo))));
      ASSERT_EQ(s.planSetObjectiveValue(objectives[j].c_str(), k, f(static_cast<int>(j), x)).code, 0u);
    }
  ASSERT_EQ(s.modelCompute().code, 0u);
}
void buildExample(CTavrin& s, const std::wstring& feed = L"Feed", const std::wstring& yield = L"Yield") {
  build(s, {{L"Speed", 0, 10}, {feed, 100, 200}}, {yield}, [](int, const Coded& x) {
    return 60 + 5 * x[0] + 8 * x[1] - 3 * x[0] * x[0] - 2 * x[1] * x[1] + 1.5 * x[0] * x[1];
  });
}

std::string narrow(const wchar_t* w) { return std::string(w, w + std::wcslen(w)); }  // ASCII only
// Type, flags, variables, objectives with their values and predictions, as one text (ASCII names only).
std::string describe(CTavrin& s, bool predictions = true) {
  CTavrin::PlanType type{};
  unsigned n = 0, m = 0, runs = 0;
  s.planGetType(type), s.planGetDesignVarCount(n), s.planGetObjectiveCount(m), s.planGetExperimentCount(runs);
  std::ostringstream out;
  out << std::setprecision(9) << "type " << type << " plan " << s.planIsComputed() << " model "
      << s.modelIsComputed() << " runs " << runs;
  const wchar_t* w = nullptr;
  double a = 0, b = 0;
  for (int i = 0; i < static_cast<int>(n); ++i)
    s.planGetDesignVar(i, w, a, b), out << "\nvar " << narrow(w) << ' ' << a << ' ' << b;
  for (int j = 0; j < static_cast<int>(m); ++j) {
    s.planGetObjective(j, w), out << "\nobjective " << narrow(w) << ':';
    for (unsigned k = 1; k <= runs; ++k) s.planGetObjectiveValue(w, k, a), out << ' ' << a;
    if (predictions && s.modelGetObjectiveValue(w, a).code == 0) out << " -> " << a;
  }
  return out.str() + '\n';
}

// Loads `text`: every load gives 0 or 21 with a Load message, and a model exactly on 0.
Result load(CTavrin& s, const std::string& text, unsigned* version = nullptr) {
  unsigned ignored = 0;
  std::ofstream(kScratch.at("plan.txt"), std::ios::binary) << text;
  const Result r = s.Load(kScratch.at("plan.txt").c_str(), version ? *version : ignored);
  const auto known = std::ranges::find_if(kMessages, [&r](auto m) { return std::wcscmp(m, r.message) == 0; });
  EXPECT_NE(known, std::end(kMessages)) << text.substr(0, 300);
  EXPECT_EQ(r.code, known == std::begin(kMessages) ? 0u : 21u);
  EXPECT_EQ(s.modelIsComputed(), r.code == 0);
  return r;
}
std::string saved(CTavrin& s, unsigned version = 1) {
  EXPECT_EQ(s.Save(kScratch.at("saved.txt").c_str(), version).code, 0u);
  std::ostringstream text;
  return text << std::ifstream(kScratch.at("saved.txt"), std::ios::binary).rdbuf(), text.str();
}
std::string general(double v) { std::string out = "x"; return tavrin::appendGeneral(out, v), out; }
std::string printfG(double v) { char out[64]; return std::snprintf(out, sizeof out, "x%g", v), out; }

}  // namespace

// appendGeneral appends what "%g" prints: worked examples, random bit patterns, decimals near rounding edges.
TEST(NumberFormat, GeneralNotationAsPrintf) {
  const struct { double value; const char* text; } cases[] = {{10, "10"}, {0.5, "0.5"}, {1.0 / 3, "0.333333"},
      {0.0000123, "1.23e-05"}, {1234567, "1.23457e+06"}, {-0.1234567, "-0.123457"}, {999999, "999999"},
      {999999.5, "1e+06"}, {0.0001, "0.0001"}, {0.00009999996, "0.0001"}, {0.00009999949, "9.99995e-05"},
      {0, "0"}, {-0.0, "-0"}, {1.5e300, "1.5e+300"}, {5e-324, "4.94066e-324"}, {HUGE_VAL, "inf"},
      {-HUGE_VAL, "-inf"}, {NAN, "nan"}};
  for (const auto& c : cases) EXPECT_EQ(general(c.value), std::string("x") + c.text);
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 100000; ++i) {
    const auto bits = random();
    const double decimal = (bits & 1 ? -1.0 : 1.0) * static_cast<double>(random() % 20000000) / 1e6 *
                           std::pow(10.0, static_cast<int>(random() % 24) - 12);
    for (double v : {std::bit_cast<double>(bits), decimal, double{static_cast<float>(decimal)}})
      ASSERT_EQ(general(v), printfG(v)) << bits;
  }
}

// The example byte for byte in versions 1 and 0. Refusals leave no file created or changed; so does a write
// that fails (full device, file size limit), which leaves the old file, its mode and no temporary file.
TEST(PlanFile, SaveExampleRefusalsAndFailedWrites) {
  CTavrin empty(CTavrin::BoxBehnkenPlan), planOnly(CTavrin::BoxBehnkenPlan), done(CTavrin::BoxBehnkenPlan);
  planOnly.planAddDesignVar(L"A", 0, 1), planOnly.planAddObjective(L"Y"), planOnly.planCompute();
  buildExample(done);
  EXPECT_EQ(saved(done), kExample);
  EXPECT_EQ(saved(done, 0), "0" + kExample.substr(1));
  const fs::path dir = kScratch.dir / "save";
  fs::create_directory(dir);
  const std::string missing = dir / "missing", kept = dir / "kept", noDir = dir / "a/b";
  std::ofstream(kept) << "old";
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(kept, mode);
  const auto result = [](const Result& r) { return std::to_wstring(r.code) + L' ' + r.message; };
  const std::wstring cannot = L"20 Tavrin Error. Save(). Can not open file to save.";
  for (const std::string& path : {missing, kept}) {
    EXPECT_EQ(result(empty.Save(path.c_str(), 1)), L"1 Tavrin Error. Save(). Plan is not computed.");
    EXPECT_EQ(result(planOnly.Save(path.c_str(), 1)), L"2 Tavrin Error. Save(). Model is not computed.");
    EXPECT_EQ(result(done.Save(path.c_str(), 2)), L"20 Tavrin Error. Save(). File version is wrong.");
  }
  EXPECT_EQ(result(done.Save(noDir.c_str(), 1)), cannot);
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(result(done.Save("/dev/full", 1)), cannot);
  }
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{100, limit.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &small);
  const Result failed = done.Save(kept.c_str(), 1);
  setrlimit(RLIMIT_FSIZE, &limit), std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(result(failed), cannot);
  std::ostringstream old;
  EXPECT_EQ((old << std::ifstream(kept).rdbuf(), old.str()), "old");
  EXPECT_FALSE(fs::exists(missing) || fs::exists(noDir));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  ASSERT_EQ(done.Save(kept.c_str(), 1).code, 0u);
  EXPECT_EQ(fs::file_size(kept), kExample.size());
  EXPECT_EQ(fs::status(kept).permissions(), mode);
}

// 19 variables of 14 characters and one of 293 give a long heading; objective names of 295 to 299 bytes, some of
// two-byte characters, reach and pass the 299 characters of a line. Every line Save writes is one Load reads,
// cut comments end on a character boundary, and every name that fits its line comes back.
TEST(PlanFile, SaveWritesOnlyLinesLoadReads) {
  if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
  std::vector<Var> vars;
  for (int i = 1; i <= 19; ++i) vars.push_back({L"Temperature_" + std::to_wstring(i + 10), 0.1 * i, 0.7 * i});
  vars.push_back({std::wstring(293, L'T'), 2, 14});  // "\t2\t14\t" makes its line 299 characters
  const std::vector<std::wstring> objectives = {std::wstring(295, L'a'), std::wstring(298, L'b'),
      std::wstring(299, L'c'), std::wstring(149, L'\u00e9'), std::wstring(149, L'\u00e9') + L"d"};
  CTavrin s(CTavrin::RechschafnerPlan), back(CTavrin::RechschafnerPlan);
  build(s, vars, objectives, [](int j, const Coded& x) { return j + 0.1 * x[0]; });
  const std::string text = saved(s);
  std::istringstream lines(text);
  std::string bad;
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 299 || std::mbstowcs(nullptr, line.c_str(), 0) == static_cast<std::size_t>(-1))
      bad += line.substr(0, 20) + "... ";
  EXPECT_EQ(bad, "");
  ASSERT_EQ(load(back, text).code, 0u);
  const wchar_t* name = nullptr;
  std::wstring names;
  double lo = 0, hi = 0;
  back.planGetDesignVar(19, name, lo, hi), names += std::wstring(name).substr(0, 12) + L' ';
  for (int j = 0; j < 5; ++j) back.planGetObjective(j, name), names += std::wstring(name).substr(0, 12) + L' ';
  EXPECT_EQ(names, L"TTTTTTTTTTTT aaaaaaaaaaaa bbbbbbbbbbbb Objective3 \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"
                   L"\u00e9\u00e9\u00e9\u00e9 Objective5 ");
  std::setlocale(LC_ALL, "C");
}

// Coefficient labels for n = 3; distinct coefficients make a label naming the wrong term show.
TEST(PlanFile, SaveCoefficientLabels) {
  CTavrin s(CTavrin::BoxBehnkenPlan);
  build(s, {{L"A", -1, 1}, {L"B", -1, 1}, {L"C", -1, 1}}, {L"Y"}, [](int, const Coded& x) {
    const double a = x[0], b = x[1], c = x[2];
    return 10 + a + 2 * b + 3 * c - a * a - 2 * b * b - 3 * c * c + a * b / 2 + a * c / 4 - b * c * .75;
  });
  EXPECT_TRUE(saved(s).ends_with("\n//Quadratic polynomial coefficients\n//Objective: Y\n10\t// B[0,0]\n1\t// B[0,1]\n"
                                 "2\t// B[0,2]\n3\t// B[0,3]\n-1\t// B[1,0]\n-2\t// B[2,0]\n-3\t// B[3,0]\n"
                                 "0.5\t// B[1,1]\n0.25\t// B[1,2]\n-0.75\t// B[2,1]\n"));
}

// Names are written in the locale's encoding; one without a narrow form of < 300 bytes gets its fallback.
TEST(PlanFile, SaveNamesInTheCurrentLocale) {
  CTavrin s(CTavrin::BoxBehnkenPlan), back(CTavrin::BoxBehnkenPlan);
  buildExample(s, L"Gr\u00f6\u00dfe", L"D\u00e9bit");
  EXPECT_EQ(saved(s), with(with(kExample, "Feed", "DesignVar2"), "Yield", "Objective1"));
  if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_EQ(saved(s), with(with(kExample, "Feed", "Gr\xc3\xb6\xc3\x9f" "e"), "Yield", "D\xc3\xa9" "bit"));
  EXPECT_EQ(load(back, saved(s)).code + back.planGetObjective(L"D\u00e9bit").code, 0u);
  CTavrin longest(CTavrin::BoxBehnkenPlan), tooLong(CTavrin::BoxBehnkenPlan);
  buildExample(longest, L"Feed", std::wstring(299, L'a'));
  buildExample(tooLong, L"Feed", std::wstring(299, L'a') + L"\u00e9");
  // A 299-byte name does not fit its objective line: the fallback goes there, the comments are cut.
  const std::string a299(299, 'a');
  EXPECT_EQ(saved(longest), with(with(with(kExample, "Yield\t\n", "Objective1\t\n"), "//Yield\t,Speed,Feed",
                                      "//" + a299.substr(2)), "//Objective: Yield", "//Objective: " + a299.substr(13)));
  EXPECT_EQ(saved(tooLong), with(kExample, "Yield", "Objective1"));
  std::setlocale(LC_ALL, "C");
}

// One table of file texts: message, version read (12345: untouched) and the state left behind.
TEST(PlanFile, LoadEdgeCases) {
  const std::string none = "type 1 plan 0 model 0 runs 0\n", line299 = "//" + std::string(297, 'x'),
                    planned = "type 2 plan 1 model 0 runs 9\n" + kVars + "objective Yield:";
  const auto ex = [](const std::string& from, const std::string& to) { return with(kExample, from, to); };
  const std::string T = "\t//Tavrin", P = "\t//Plan", D = "\t//Design", O = "\t//Obj", N = "\t//Exp";
  const struct { std::string text; int message; unsigned version; std::string state; } cases[] = {
      {kExample, Ok, 1, kLoaded}, {with(kExample, "\n", "\r\n"), Ok, 1, kLoaded},
      {with(kExample, "\n", "\n \t\n//note\n\r\n\t "), Ok, 1, kLoaded},
      {with(kExample, "\n", " // comment\n"), Ok, 1, kLoaded}, {"", Eof, 12345, none},
      {kExample.substr(0, kExample.find("\n//\n//Quadratic")), Ok, 1, kLoaded},
      {ex("1" + T, "v1"), Open, 12345, none}, {line299 + "x\n" + kExample, Eof, 12345, none},
      {line299 + "\n" + kExample, Ok, 1, kLoaded}, {ex("2" + P, "0" + P), Ok, 1, kLoaded},
      {ex("2" + P, "3" + P), Ok, 1, kLoaded}, {ex("9" + N, "12" + N), Ok, 1, kLoaded},
      {ex("2" + P, "1" + P), NoPlan, 1, none + kVars + "objective Yield:\n"},
      {ex("Speed\t", "Feed rate\t"), Open, 1, none}, {ex("Speed\t", "Sp\xff" "eed\t"), BadVar, 1, none},
      {ex("Yield\t\n", "Yi\xff" "eld\n"), BadObj, 1, none}, {ex("2" + D, "2000000000" + D), Open, 1, none},
      {ex("Yield\t\n", "Mass flow\n"), Ok, 1, with(kLoaded, "Yield", "Mass")},
      {ex("Yield\t\n", "Yi//eld\n"), Ok, 1, with(kLoaded, "Yield", "Yi")},
      {kExample.substr(0, kExample.find("//\n//Experimental")), Eof, 1, planned + " 0 0 0 0 0 0 0 0 0\n"},
      {ex("//Experimental Data", std::string(10 << 20, '#')), Eof, 1, planned + " 0 0 0 0 0 0 0 0 0\n"},
      {ex("9" + N, "2000000000" + N), Eof, 1, planned + kValues + "\n"},
      {ex("9" + N, "2147483647" + N), Eof, 1, planned + kValues + "\n"},
      {ex("1" + O, "2000000000" + O), Eof, 1, none}};
  for (const auto& c : cases) {
    CTavrin s(CTavrin::RechschafnerPlan);
    unsigned version = 12345;
    EXPECT_STREQ(load(s, c.text, &version).message, kMessages[c.message]) << c.text.substr(0, 300);
    EXPECT_EQ(std::to_string(version) + ' ' + describe(s), std::to_string(c.version) + ' ' + c.state);
  }
}

// Loaded variables and objectives follow those already held; the value block goes to the first objective.
TEST(PlanFile, LoadIntoANonEmptyStudy) {
  CTavrin s(CTavrin::RechschafnerPlan);
  s.planAddDesignVar(L"Pre", -1, 1), s.planAddObjective(L"First");
  ASSERT_EQ(load(s, kExample).code, 0u);
  EXPECT_EQ(describe(s, false), "type 2 plan 1 model 1 runs 13\nvar Pre -1 1\n" + kVars + "objective First:" +
                                    kValues + " 0 0 0 0\nobjective Yield: 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
}
