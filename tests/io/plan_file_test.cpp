#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "io/number_format.h"
#include "tavrin/tavrin.h"

namespace {
namespace fs = std::filesystem;
using Coded = std::vector<int>;

// Two-variable Box-Behnken study with y = 60 + 5x1 + 8x2 - 3x1^2 - 2x2^2 + 1.5x1x2 at the coded levels.
const std::string kExample =
    "1\t//Tavrin File Version\n//\n2\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)\n//\n"
    "2\t//Design Variables Count\n1\t//Objectives Count\n9\t//Experiments Count\n//\n"
    "//Design Variables (Name, Minimum Value, Maximum Value)\nSpeed\t0\t10\t\nFeed\t100\t200\t\n"
    "//\n//Objectives\nYield\t\n//\n//Experimental Data\n//Yield\t,Speed,Feed\n69.5\t10\t200\n56.5\t0\t200\n"
    "50.5\t10\t100\n43.5\t0\t100\n62\t10\t150\n52\t0\t150\n66\t5\t200\n50\t5\t100\n60\t5\t150\n"
    "//\n//Quadratic polynomial coefficients\n//Objective: Yield\n"
    "60\t// B[0,0]\n5\t// B[0,1]\n8\t// B[0,2]\n-3\t// B[1,0]\n-2\t// B[2,0]\n1.5\t// B[1,1]\n";
const std::string kVars = "var Speed 0 10\nvar Feed 100 200\n", kValues = " 69.5 56.5 50.5 43.5 62 52 66 50 60";
const std::string kLoaded = "type 2 plan 1 model 1 runs 9\n" + kVars + "objective Yield:" + kValues + " -> 60\n";
enum { Ok, Open, Eof, BadVar, BadObj, NoPlan };
const wchar_t* const kMessages[] = {
    L"No Errors", L"Tavrin Error. Load(). Can not open file to load.", L"Tavrin Error. Load(). Can not load from file.",
    L"Tavrin Error. Load(). Design Variable Name is not valid.", L"Tavrin Error. Load(). Objective Name is not valid.",
    L"Tavrin Error. Load(). Can not compute plan.", L"Tavrin Error. Load(). Can not compute model."};

struct Scratch {  // a fresh directory, removed with its contents
  fs::path dir = fs::temp_directory_path() / ("tavrin-io-" + std::to_string(std::random_device{}()));
  Scratch() { while (!fs::create_directory(dir)) dir += "x"; }
  ~Scratch() { std::error_code ignored; fs::remove_all(dir, ignored); }
  std::string file(const char* name) const { return (dir / name).string(); }
};
void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string readFile(const std::string& path) {
  std::ostringstream text;
  return (text << std::ifstream(path, std::ios::binary).rdbuf(), text.str());
}

// `text` with the first (or every) occurrence of `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to, bool all = false) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  for (; at != std::string::npos; at = all ? text.find(from, at + to.size()) : std::string::npos)
    text.replace(at, from.size(), to);
  return text;
}

struct Var { std::wstring name; double lo, hi; };
// Declares the study, computes the plan, enters f(objective, coded levels of the run) and fits the model.
void build(CTavrin& s, const std::vector<Var>& vars, const std::vector<std::wstring>& objectives,
           const std::function<double(int, const Coded&)>& f) {
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
void buildExample(CTavrin& s, const std::wstring& second = L"Feed", const std::wstring& objective = L"Yield") {
  build(s, {{L"Speed", 0, 10}, {second, 100, 200}}, {objective}, [](int, const Coded& x) {
    const double a = x[0], b = x[1];
    return 60 + 5 * a + 8 * b - 3 * a * a - 2 * b * b + 1.5 * a * b;
  });
}

// Type, flags, variables, objectives with their values and predictions, as one text (ASCII names only).
std::string describe(CTavrin& s, bool predictions = true) {
  std::ostringstream out;
  out.precision(9);
  CTavrin::PlanType type{};
  unsigned n = 0, m = 0, runs = 0;
  s.planGetType(type), s.planGetDesignVarCount(n), s.planGetObjectiveCount(m), s.planGetExperimentCount(runs);
  out << "type " << type << " plan " << s.planIsComputed() << " model " << s.modelIsComputed() << " runs " << runs;
  const wchar_t* name = nullptr;
  double a = 0, b = 0;
  auto narrow = [&] { return std::string(name, name + std::wcslen(name)); };
  for (int i = 0; i < static_cast<int>(n); ++i)
    s.planGetDesignVar(i, name, a, b), out << "\nvar " << narrow() << ' ' << a << ' ' << b;
  for (int j = 0; j < static_cast<int>(m); ++j) {
    s.planGetObjective(j, name);
    out << "\nobjective " << narrow() << ':';
    for (unsigned k = 1; k <= runs; ++k) s.planGetObjectiveValue(name, k, a), out << ' ' << a;
    if (predictions && s.modelGetObjectiveValue(name, a).code == 0) out << " -> " << a;
  }
  return out.str() + '\n';
}

// Loads `text` and checks what every load gives: code 0 or 21 with a Load message, a model exactly on code 0.
Result load(CTavrin& s, const std::string& text, unsigned* version = nullptr) {
  Scratch d;
  unsigned ignored = 0;
  writeFile(d.file("plan.txt"), text);
  const Result r = s.Load(d.file("plan.txt").c_str(), version ? *version : ignored);
  int i = 0;
  while (i < 7 && std::wcscmp(kMessages[i], r.message) != 0) ++i;
  EXPECT_LT(i, 7) << text.substr(0, 300);
  EXPECT_EQ(r.code, i == 0 ? 0u : 21u);
  EXPECT_EQ(s.modelIsComputed(), r.code == 0);
  return r;
}
std::string saved(CTavrin& s, unsigned version = 1) {
  Scratch d;
  EXPECT_EQ(s.Save(d.file("s.txt").c_str(), version).code, 0u);
  return readFile(d.file("s.txt"));
}
std::wstring result(const Result& r) { return std::to_wstring(r.code) + L' ' + r.message; }
std::string general(double v) { std::string out = "x"; tavrin::appendGeneral(out, v); return out; }
std::string printfG(double v) { char buffer[64]; std::snprintf(buffer, sizeof buffer, "x%g", v); return buffer; }

}  // namespace

TEST(NumberFormat, GeneralNotationAsPrintf) {
  const struct { double value; const char* text; } cases[] = {
      {10, "10"}, {0.5, "0.5"}, {1.0 / 3, "0.333333"}, {0.0000123, "1.23e-05"}, {1234567, "1.23457e+06"},
      {-0.1234567, "-0.123457"}, {999999, "999999"}, {999999.5, "1e+06"}, {0.0001, "0.0001"},
      {0.00009999996, "0.0001"}, {0.00009999949, "9.99995e-05"}, {0, "0"}, {-0.0, "-0"}, {1.5e300, "1.5e+300"},
      {5e-324, "4.94066e-324"}, {HUGE_VAL, "inf"}, {-HUGE_VAL, "-inf"}, {NAN, "nan"}};
  for (const auto& c : cases) EXPECT_EQ(general(c.value), std::string("x") + c.text);  // appended to "x"
  std::mt19937_64 random(20240611);  // random bit patterns and decimals near rounding boundaries
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random();
    const double decimal = (bits & 1 ? -1.0 : 1.0) * static_cast<double>(random() % 20000000) / 1e6 *
                           std::pow(10.0, static_cast<int>(random() % 24) - 12);
    for (double v : {std::bit_cast<double>(bits), decimal, static_cast<double>(static_cast<float>(decimal))})
      ASSERT_EQ(general(v), printfG(v)) << bits;
  }
}

TEST(PlanFile, SaveExampleRefusalsAndLabels) {
  Scratch d;
  CTavrin empty(CTavrin::BoxBehnkenPlan), planOnly(CTavrin::BoxBehnkenPlan), done(CTavrin::BoxBehnkenPlan);
  planOnly.planAddDesignVar(L"A", 0, 1), planOnly.planAddObjective(L"Y"), planOnly.planCompute();
  buildExample(done);
  EXPECT_EQ(saved(done), kExample);
  std::string version0 = kExample;
  version0[0] = '0';
  EXPECT_EQ(saved(done, 0), version0);
  CTavrin stale(done);  // a value entered after modelCompute leaves no model
  stale.planSetObjectiveValue(L"Yield", 1, 1.0);
  const std::string missing = d.file("missing"), kept = d.file("kept"), inNoDir = d.file("no/dir");
  static const char both[] = "";  // the path of a missing and of an existing file
  const struct { CTavrin* s; unsigned version; const char* path; const wchar_t* result; } cases[] = {
      {&empty, 2, both, L"1 Tavrin Error. Save(). Plan is not computed."},
      {&planOnly, 1, both, L"2 Tavrin Error. Save(). Model is not computed."},
      {&stale, 1, both, L"2 Tavrin Error. Save(). Model is not computed."},
      {&done, 2, both, L"20 Tavrin Error. Save(). File version is wrong."},
      {&done, 1, nullptr, L"20 Tavrin Error. Save(). Can not open file to save."},
      {&done, 1, d.dir.c_str(), L"20 Tavrin Error. Save(). Can not open file to save."},
      {&done, 1, inNoDir.c_str(), L"20 Tavrin Error. Save(). Can not open file to save."}};
  for (const auto& c : cases) {
    writeFile(kept, std::string(5000, 'x'));
    for (const char* p : {c.path, missing.c_str(), kept.c_str()})
      if ((p == c.path) != (c.path == both)) { EXPECT_EQ(result(c.s->Save(p, c.version)), c.result); }
    EXPECT_FALSE(fs::exists(missing) || fs::exists(inNoDir));
    EXPECT_EQ(readFile(kept), std::string(5000, 'x'));
  }
  ASSERT_EQ(done.Save(kept.c_str(), 1).code, 0u);
  EXPECT_EQ(readFile(kept), kExample);  // the existing file is truncated
  // Coefficient labels for n = 1 and 3; distinct coefficients make a label naming the wrong term show.
  const struct { std::vector<Var> vars; double (*f)(int, const Coded&); std::string block; } blocks[] = {
      {{{L"A", -1, 1}}, [](int, const Coded& x) { return 10 + 2.0 * x[0] - 3.0 * x[0] * x[0]; },
       "10\t// B[0,0]\n2\t// B[0,1]\n-3\t// B[1,0]\n"},
      {{{L"A", -1, 1}, {L"B", -1, 1}, {L"C", -1, 1}},
       [](int, const Coded& x) { const double a = x[0], b = x[1], c = x[2];
         return 10 + a + 2 * b + 3 * c - a * a - 2 * b * b - 3 * c * c + .5 * a * b + .25 * a * c - .75 * b * c; },
       "10\t// B[0,0]\n1\t// B[0,1]\n2\t// B[0,2]\n3\t// B[0,3]\n-1\t// B[1,0]\n-2\t// B[2,0]\n-3\t// B[3,0]\n"
       "0.5\t// B[1,1]\n0.25\t// B[1,2]\n-0.75\t// B[2,1]\n"}};
  for (const auto& c : blocks) {
    CTavrin s(CTavrin::BoxBehnkenPlan);
    build(s, c.vars, {L"Y"}, c.f);
    const std::string text = saved(s), block = "\n//Quadratic polynomial coefficients\n//Objective: Y\n" + c.block;
    EXPECT_TRUE(text.ends_with(block)) << text;
  }
}

// Names are written in the locale's encoding; one without a narrow form of at most 299 bytes gets its fallback.
TEST(PlanFile, SaveNamesInTheCurrentLocale) {
  CTavrin s(CTavrin::BoxBehnkenPlan), back(CTavrin::BoxBehnkenPlan);
  buildExample(s, L"Gr\u00f6\u00dfe", L"D\u00e9bit");
  EXPECT_EQ(saved(s), with(with(kExample, "Feed", "DesignVar2", true), "Yield", "Objective1", true));
  if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string text = saved(s);
  EXPECT_EQ(text, with(with(kExample, "Feed", "Gr\xc3\xb6\xc3\x9f" "e", true), "Yield", "D\xc3\xa9" "bit", true));
  EXPECT_EQ(load(back, text).code + back.planGetObjective(L"D\u00e9bit").code, 0u);
  const struct { std::size_t a, e, tail; bool written; } cases[] = {{299, 0, 0, true}, {300, 0, 0, false},
      {297, 1, 0, true}, {298, 1, 0, false}, {299, 1, 0, false}, {0, 149, 1, true}, {0, 150, 0, false}};
  for (const auto& c : cases) {
    std::string bytes(c.a, 'a');
    for (std::size_t i = 0; i < c.e; ++i) bytes += "\xc3\xa9";
    CTavrin t(CTavrin::BoxBehnkenPlan);
    buildExample(t, L"Feed", std::wstring(c.a, L'a') + std::wstring(c.e, L'\u00e9') + std::wstring(c.tail, L'a'));
    EXPECT_EQ(saved(t), with(kExample, "Yield", c.written ? bytes + std::string(c.tail, 'a') : "Objective1", true));
  }
  std::setlocale(LC_ALL, "C");
}

// One table of file texts: message, version written (12345: untouched) and the state left behind.
TEST(PlanFile, LoadEdgeCases) {
  const std::string none = "type 1 plan 0 model 0 runs 0\n", planned = "type 2 plan 1 model 0 runs 9\n" + kVars,
                    zeros = "objective Yield: 0 0 0 0 0 0 0 0 0", line299 = "//" + std::string(297, 'x'),
                    name298(298, 'n'), T = "\t//Tavrin", P = "\t//Plan", D = "\t//Design", O = "\t//Obj", N = "\t//Exp";
  const auto ex = [](const std::string& from, const std::string& to) { return with(kExample, from, to); };
  const struct { std::string text; int message; unsigned version; std::string state; } cases[] = {
      {kExample, Ok, 1, kLoaded}, {with(kExample, "\n", "\r\n", true), Ok, 1, kLoaded},
      {with(kExample, "\n", "\n \t\n//note\n\r\n\t ", true), Ok, 1, kLoaded},  // blank and comment lines
      {with(kExample, "\n", " // comment\n", true), Ok, 1, kLoaded}, {ex("2" + D, "2 //5\n//"), Ok, 1, kLoaded},
      {ex("1" + T, "7 and more"), Ok, 7, kLoaded}, {ex("1" + T, "v1"), Open, 12345, none}, {"", Eof, 12345, none},
      {line299 + "\n" + kExample, Ok, 1, kLoaded}, {line299 + "x\n" + kExample, Eof, 12345, none},
      {ex("2" + P, "0" + P), Ok, 1, kLoaded}, {ex("2" + P, "3" + P), Ok, 1, kLoaded},
      {ex("2" + P, "1" + P), NoPlan, 1, none + kVars + "objective Yield:\n"},  // too few for Rechtschaffner
      {ex("Speed\t", "Feed rate\t"), Open, 1, none}, {ex("Speed\t", "Sp//eed\t"), Open, 1, none},
      {ex("Yield\t\n", "Mass flow\n"), Ok, 1, with(kLoaded, "Yield", "Mass")},
      {ex("Yield\t\n", "Yi//eld\n"), Ok, 1, with(kLoaded, "Yield", "Yi")},
      {ex("Yield\t\n", name298 + "\t\n"), Ok, 1, with(kLoaded, "Yield", name298)},
      {ex("Yield\t\n", name298 + "\t\t\n"), Eof, 1, none},
      {ex("Feed\t", "Gr\xc3\xb6\xc3\x9f" "e\t"), BadVar, 1, none},  // no wide form in the "C" locale
      {ex("Yield\t\n", "D\xc3\xa9" "bit\n"), BadObj, 1, none},
      {ex("56.5\t0\t200", "56.5"), Ok, 1, kLoaded},  // only the first number of a value line is read
      {kExample.substr(0, kExample.find("//\n//Quadratic")), Ok, 1, kLoaded},
      {kExample.substr(0, kExample.find("//\n//Experimental")), Eof, 1, planned + zeros + "\n"},
      {ex("//Experimental Data", std::string(10 << 20, '#')), Eof, 1, planned + zeros + "\n"},
      {ex("43.5\t0", "x43.5\t0"), Open, 1, planned + "objective Yield: 69.5 56.5 50.5 0 0 0 0 0 0\n"},
      {ex("9" + N, "12" + N), Ok, 1, kLoaded},  // values 10..12 come from coefficient lines, refused
      {ex("9" + N, "2000000000" + N), Eof, 1, planned + "objective Yield:" + kValues + "\n"},
      {ex("9" + N, "-2000000000" + N), Ok, 1, with(planned, "model 0", "model 1") + zeros + " -> 0\n"},
      {ex("2" + D, "2000000000" + D), Open, 1, none},  // "Yield" read as a third variable
      {ex("2" + D, "-2000000000" + D), NoPlan, 1, "type 2 plan 0 model 0 runs 0\nobjective Speed:\n"},
      {ex("1" + O, "0" + O), NoPlan, 1, "type 2 plan 0 model 0 runs 0\n" + kVars},
      {ex("1" + O, "2000000000" + O), Eof, 1, none}};
  for (const auto& c : cases) {
    CTavrin s(CTavrin::RechschafnerPlan);
    unsigned version = 12345;
    EXPECT_STREQ(load(s, c.text, &version).message, kMessages[c.message]) << c.text.substr(0, 300);
    EXPECT_EQ(std::to_string(version) + ' ' + describe(s), std::to_string(c.version) + ' ' + c.state);
  }
  // Loaded variables and objectives follow those already held; the value block goes to the first objective.
  CTavrin s(CTavrin::RechschafnerPlan);
  s.planAddDesignVar(L"Pre", -1, 1), s.planAddObjective(L"First");
  unsigned runs = 0;
  ASSERT_EQ(load(s, kExample).code + s.planGetExperimentCount(runs).code, 0u);
  std::string first = kValues, yield;
  for (unsigned k = 1; k <= runs; ++k) first += k > 9 ? " 0" : "", yield += " 0";
  EXPECT_EQ(describe(s, false), "type 2 plan 1 model 1 runs " + std::to_string(runs) + "\nvar Pre -1 1\n" + kVars +
                                    "objective First:" + first + "\nobjective Yield:" + yield + "\n");
}

// Largest studies: header, names, rounded bounds and values survive, and a loaded study saves to a stable file.
TEST(PlanFile, RoundTripOfTheLargestStudies) {
  for (const auto& [type, n] : {std::pair{CTavrin::RechschafnerPlan, 20}, std::pair{CTavrin::BoxBehnkenPlan, 16}}) {
    std::vector<Var> vars;
    std::vector<std::wstring> objectives;
    for (int i = 1; i <= 20; ++i) {
      if (i <= n) vars.push_back({L"V" + std::to_wstring(i), -1.2345678 * i, 1000.0 * i / 7 + 0.1234567});
      objectives.push_back(L"Obj" + std::to_wstring(i));
    }
    CTavrin original(type), loaded(CTavrin::BoxBehnkenPlan), reloaded(CTavrin::BoxBehnkenPlan);
    build(original, vars, objectives, [](int j, const Coded& x) {
      double y = 1.2345678 * (j + 1), i = 0;
      for (int v : x) y += v * (0.3141592 * ++i - 0.0271828 * v);
      return y * std::pow(10.0, j % 9 - 4);
    });
    const std::string first = saved(original), until = "//Experimental";
    ASSERT_EQ(load(loaded, first).code, 0u);
    const std::string second = saved(loaded);
    ASSERT_EQ(load(reloaded, second).code, 0u);
    EXPECT_EQ(saved(reloaded), second);
    EXPECT_EQ(second.substr(0, second.find(until)), first.substr(0, first.find(until)));
    EXPECT_EQ(describe(loaded), describe(reloaded));
  }
}

// Damaged files: every load gives a Load result and a model exactly on success (checked in load()).
TEST(PlanFile, LoadRobustness) {
  const std::size_t lastValue = kExample.find("60\t5\t150\n");
  for (std::size_t length = 0; length <= kExample.size(); ++length) {
    CTavrin s(CTavrin::BoxBehnkenPlan);
    EXPECT_EQ(load(s, kExample.substr(0, length)).code == 0, length > lastValue) << length;
    EXPECT_TRUE(length < lastValue + 2 || describe(s) == kLoaded) << length;
  }
  std::mt19937 random(7741);
  auto below = [&random](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  const char* const inserts[] = {"0", "\t", "\n", "\r", "//", " ", "-", "e", "-2000000000", "9999999999999", "\xc3"};
  int successes = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::string t = kExample;
    for (std::size_t edit = below(3); edit < 3 && !t.empty(); ++edit) {
      const std::size_t at = below(t.size()), kind = below(3);
      if (kind == 0) t[at] = static_cast<char>(t[at] ^ static_cast<char>(1 + below(255)));
      if (kind == 1) t.insert(at, inserts[below(std::size(inserts))]);
      if (kind == 2) t.erase(at, 1 + below(12));
    }
    CTavrin s(CTavrin::BoxBehnkenPlan);
    successes += load(s, t).code == 0;
  }
  EXPECT_GT(successes, 20);  // many edits fall into comments or unread fields
}
