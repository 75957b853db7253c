// One run of the plan-file reader on arbitrary bytes, checked against what
// Load may answer. Returns the first mismatch, or an empty text.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "tavrin/tavrin.h"

namespace fuzz {

inline constexpr const wchar_t* kLoadOpen = L"Tavrin Error. Load(). Can not open file to load.";
inline constexpr const wchar_t* kLoadRead = L"Tavrin Error. Load(). Can not load from file.";
inline constexpr const wchar_t* kLoadVarName = L"Tavrin Error. Load(). Design Variable Name is not valid.";
inline constexpr const wchar_t* kLoadObjName = L"Tavrin Error. Load(). Objective Name is not valid.";
inline constexpr const wchar_t* kLoadPlan = L"Tavrin Error. Load(). Can not compute plan.";
inline constexpr const wchar_t* kLoadModel = L"Tavrin Error. Load(). Can not compute model.";

inline bool isLoadFailureText(const wchar_t* text) {
  for (const wchar_t* known : {kLoadOpen, kLoadRead, kLoadVarName, kLoadObjName, kLoadPlan, kLoadModel}) {
    if (std::wcscmp(text, known) == 0) return true;
  }
  return false;
}

inline bool hasLineLongerThan(const std::string& bytes, std::size_t limit) {
  std::size_t start = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    if (end - start > limit) return true;
    start = end + 1;
  }
  return false;
}

struct Counts {
  unsigned vars = 0;
  unsigned objectives = 0;
};

inline Counts countsOf(CTavrin& study) {
  Counts c;
  study.planGetDesignVarCount(c.vars);
  study.planGetObjectiveCount(c.objectives);
  return c;
}

// The first byte chooses the object: even loads into one that already holds
// a design variable and an objective, odd (and empty input) into a new one.
inline std::string runLoadInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFile input, saved, resaved;
  Findings findings;
  input.write(data, size);

  const bool populated = size > 0 && (data[0] & 1) == 0;
  CTavrin study(CTavrin::BoxBehnkenPlan);
  if (populated) {
    study.planAddDesignVar(L"p", -1.0, 1.0);
    study.planAddObjective(L"q");
  }
  const Counts before = countsOf(study);
  const unsigned kUntouched = 0xDEADBEEFu;
  unsigned version = kUntouched;
  const Result r = study.Load(input.path(), version);

  if (r.code == 0) {
    if (std::wcscmp(r.message, L"No Errors") != 0) findings.report("code 0 with message %s", narrow(r.message).c_str());
    if (!study.planIsComputed() || !study.modelIsComputed() || study.modelIsOptimized()) {
      findings.report("code 0 but flags %d%d%d", study.planIsComputed(), study.modelIsComputed(),
                      study.modelIsOptimized());
    }
  } else if (r.code != 21 || !isLoadFailureText(r.message)) {
    findings.report("unexpected result %u %s", r.code, narrow(r.message).c_str());
  } else if (std::wcscmp(r.message, kLoadPlan) == 0) {
    if (study.planIsComputed() || study.modelIsComputed() || study.modelIsOptimized()) {
      findings.report("plan failure left flags set");
    }
    CTavrin::PlanType type = CTavrin::RechschafnerPlan;
    study.planGetType(type);
    if (type != CTavrin::RechschafnerPlan && type != CTavrin::BoxBehnkenPlan) findings.report("plan type %d", type);
  } else if (std::wcscmp(r.message, kLoadModel) == 0) {
    findings.report("modelCompute cannot fail after planCompute succeeded");
  } else if (!study.planIsComputed()) {
    // Failed before the registries were touched: nothing may have changed.
    const Counts after = countsOf(study);
    CTavrin::PlanType type = CTavrin::RechschafnerPlan;
    study.planGetType(type);
    if (after.vars != before.vars || after.objectives != before.objectives || type != CTavrin::BoxBehnkenPlan ||
        study.modelIsComputed() || study.modelIsOptimized()) {
      findings.report("early failure changed the study");
    }
  } else if (study.modelIsComputed() || study.modelIsOptimized()) {
    findings.report("failure after planCompute left the model computed");
  }
  if (r.code == 21 && std::wcscmp(r.message, kLoadOpen) != 0 && std::wcscmp(r.message, kLoadRead) != 0 &&
      version == kUntouched) {
    findings.report("version not written although the header was read");
  }
  if (findings.any() || r.code != 0) return findings.first();

  // A name read up to a null character can come out empty, and an empty
  // name does not survive a plan file: no round trip to compare then.
  bool emptyName = false;
  for (int i = 0; i < static_cast<int>(countsOf(study).vars); ++i) {
    const wchar_t* name = nullptr;
    double lo = 0, hi = 0;
    study.planGetDesignVar(i, name, lo, hi);
    emptyName = emptyName || *name == L'\0';
  }
  for (int j = 0; j < static_cast<int>(countsOf(study).objectives); ++j) {
    const wchar_t* name = nullptr;
    study.planGetObjective(j, name);
    emptyName = emptyName || *name == L'\0';
  }

  // A loaded study can be saved, and the saved file reloads to a study that
  // saves the same bytes once the values have passed through the file once.
  if (const Result s = study.Save(saved.path(), 1); s.code != 0) {
    findings.report("Save after Load: %u %s", s.code, narrow(s.message).c_str());
    return findings.first();
  }
  if (emptyName) return findings.first();
  const std::string first = saved.read();
  CTavrin again(CTavrin::RechschafnerPlan);
  unsigned againVersion = 0;
  const Result a = again.Load(saved.path(), againVersion);
  if (a.code != 0) {
    // Only names too long for a plan-file line may keep a saved study out.
    if (std::wcscmp(a.message, kLoadRead) != 0 || !hasLineLongerThan(first, 299)) {
      findings.report("reload of a saved study: %u %s", a.code, narrow(a.message).c_str());
    }
    return findings.first();
  }
  const Counts loaded = countsOf(study), reloaded = countsOf(again);
  if (againVersion != 1 || loaded.vars != reloaded.vars || loaded.objectives != reloaded.objectives) {
    findings.report("reload changed version or counts");
  }
  again.Save(saved.path(), 1);
  const std::string second = saved.read();
  CTavrin third(CTavrin::RechschafnerPlan);
  if (const Result t = third.Load(saved.path(), againVersion); t.code != 0) {
    findings.report("second reload: %u %s", t.code, narrow(t.message).c_str());
    return findings.first();
  }
  third.Save(resaved.path(), 1);
  if (resaved.read() != second) findings.report("save, load, save is not stable");
  return findings.first();
}

}  // namespace fuzz
