// Shared helpers of the plan-file tests: scratch directories, file access,
// studies built from a known polynomial, and a textual dump of a study.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tavrin/tavrin.h"

namespace tavrin_test {

// The two-variable Box-Behnken study (Speed 0..10, Feed 100..200, Yield)
// with y = 60 + 5x1 + 8x2 - 3x1^2 - 2x2^2 + 1.5x1x2 at the coded levels.
inline const std::string kExampleFile =
    "1\t//Tavrin File Version\n"
    "//\n"
    "2\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)\n"
    "//\n"
    "2\t//Design Variables Count\n"
    "1\t//Objectives Count\n"
    "9\t//Experiments Count\n"
    "//\n"
    "//Design Variables (Name, Minimum Value, Maximum Value)\n"
    "Speed\t0\t10\t\n"
    "Feed\t100\t200\t\n"
    "//\n"
    "//Objectives\n"
    "Yield\t\n"
    "//\n"
    "//Experimental Data\n"
    "//Yield\t,Speed,Feed\n"
    "69.5\t10\t200\n"
    "56.5\t0\t200\n"
    "50.5\t10\t100\n"
    "43.5\t0\t100\n"
    "62\t10\t150\n"
    "52\t0\t150\n"
    "66\t5\t200\n"
    "50\t5\t100\n"
    "60\t5\t150\n"
    "//\n"
    "//Quadratic polynomial coefficients\n"
    "//Objective: Yield\n"
    "60\t// B[0,0]\n"
    "5\t// B[0,1]\n"
    "8\t// B[0,2]\n"
    "-3\t// B[1,0]\n"
    "-2\t// B[2,0]\n"
    "1.5\t// B[1,1]\n";

inline const double kExampleYield[9] = {69.5, 56.5, 50.5, 43.5, 62, 52, 66, 50, 60};

// A directory of its own for one test, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::ostringstream name;
    name << "tavrin-io-" << (info ? info->name() : "none") << '-' << std::random_device{}() << '-' << counter++;
    std::string safe = name.str();
    for (char& c : safe) {
      if (c == '/' || c == '\\') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / safe;
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

struct VarDef {
  std::wstring name;
  double min;
  double max;
};

// Objective value of objective j (0-based) at the coded levels of a run.
using Response = std::function<double(int j, const std::vector<int>& coded)>;

// Declares the study, computes the plan, enters response(j, levels) for
// every run (levels decoded from the natural values) and fits the model.
inline void buildStudy(CTavrin& study, const std::vector<VarDef>& vars, const std::vector<std::wstring>& objectives,
                       const Response& response) {
  for (const VarDef& v : vars) ASSERT_EQ(study.planAddDesignVar(v.name.c_str(), v.min, v.max).code, 0u);
  for (const std::wstring& o : objectives) ASSERT_EQ(study.planAddObjective(o.c_str()).code, 0u);
  ASSERT_EQ(study.planCompute().code, 0u);
  unsigned runs = 0;
  study.planGetExperimentCount(runs);
  for (std::size_t j = 0; j < objectives.size(); ++j) {
    for (unsigned k = 1; k <= runs; ++k) {
      std::vector<int> coded;
      for (const VarDef& v : vars) {
        double natural = 0;
        ASSERT_EQ(study.planGetDesignVarValue(v.name.c_str(), objectives[j].c_str(), k, natural).code, 0u);
        coded.push_back(static_cast<int>(std::lround((natural - (v.min + v.max) / 2) / ((v.max - v.min) / 2))));
      }
      ASSERT_EQ(study.planSetObjectiveValue(objectives[j].c_str(), k, response(static_cast<int>(j), coded)).code, 0u);
    }
  }
  ASSERT_EQ(study.modelCompute().code, 0u);
}

inline double exampleResponse(int, const std::vector<int>& x) {
  return 60 + 5 * x[0] + 8 * x[1] - 3 * x[0] * x[0] - 2 * x[1] * x[1] + 1.5 * x[0] * x[1];
}

inline void buildExampleStudy(CTavrin& study) {
  buildStudy(study, {{L"Speed", 0, 10}, {L"Feed", 100, 200}}, {L"Yield"}, exampleResponse);
}

inline std::string narrowForDump(const std::wstring& wide) {
  std::string out;
  for (wchar_t c : wide) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      out += "\\u" + std::to_string(static_cast<unsigned long>(c)) + ";";
    }
  }
  return out;
}

// Everything a caller can observe of a study's definition, plan, values and
// model, as text, so that two studies compare with one EXPECT_EQ.
inline std::string describe(CTavrin& study) {
  std::ostringstream out;
  out.precision(17);
  CTavrin::PlanType type{};
  study.planGetType(type);
  out << "type " << static_cast<int>(type) << " plan " << study.planIsComputed() << " model " << study.modelIsComputed()
      << '\n';
  unsigned n = 0, m = 0, runs = 0;
  study.planGetDesignVarCount(n);
  study.planGetObjectiveCount(m);
  std::vector<std::wstring> objectives;
  for (unsigned i = 0; i < n; ++i) {
    const wchar_t* name = nullptr;
    double lo = 0, hi = 0;
    study.planGetDesignVar(static_cast<int>(i), name, lo, hi);
    out << "var " << narrowForDump(name) << ' ' << lo << ' ' << hi << '\n';
  }
  for (unsigned j = 0; j < m; ++j) {
    const wchar_t* name = nullptr;
    study.planGetObjective(static_cast<int>(j), name);
    objectives.emplace_back(name);
    out << "objective " << narrowForDump(name) << '\n';
  }
  if (study.planGetExperimentCount(runs).code == 0) {
    out << "runs " << runs << '\n';
    for (const std::wstring& o : objectives) {
      out << narrowForDump(o) << ':';
      for (unsigned k = 1; k <= runs; ++k) {
        double v = 0;
        study.planGetObjectiveValue(o.c_str(), k, v);
        out << ' ' << v;
      }
      out << '\n';
    }
  }
  if (study.modelIsComputed()) {
    for (const std::wstring& o : objectives) {
      double v = 0;
      study.modelGetObjectiveValue(o.c_str(), v);
      out << "prediction " << narrowForDump(o) << ' ' << v << '\n';
    }
  }
  return out.str();
}

// Sets the C locale for the scope (all categories) and restores "C" after.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
  ~LocaleScope() { std::setlocale(LC_ALL, "C"); }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

inline bool isLoadMessage(const wchar_t* message) {
  static const wchar_t* const known[] = {
      L"No Errors",
      L"Tavrin Error. Load(). Can not open file to load.",
      L"Tavrin Error. Load(). Can not load from file.",
      L"Tavrin Error. Load(). Design Variable Name is not valid.",
      L"Tavrin Error. Load(). Objective Name is not valid.",
      L"Tavrin Error. Load(). Can not compute plan.",
      L"Tavrin Error. Load(). Can not compute model.",
  };
  for (const wchar_t* text : known) {
    if (std::wstring(text) == message) return true;
  }
  return false;
}

}  // namespace tavrin_test
