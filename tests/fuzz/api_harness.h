// Drives the public interface of CTavrin with a byte string as a script and
// checks every answer against a shadow of the study: the three flags, the
// registries, the experiment count, the measured values and the limits.
// Returns the first mismatch, or an empty text.
#pragma once

#include <array>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tavrin/tavrin.h"

namespace fuzz {

// Reads the script; an exhausted script yields zeros.
class Script {
 public:
  Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
  double raw() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

inline constexpr const wchar_t* kNames[] = {L"", L"a", L"b", L"c", L"a,b", L"b,c", L"y", L"a b"};

// A name that Load gives back unchanged: one word, no comment marker.
inline bool loadable(const std::wstring& name) { return !name.empty() && name.find(L' ') == std::wstring::npos; }

inline bool sameValue(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline int boxBehnkenRuns(std::size_t n) {
  switch (n) {
    case 1: return 3;
    case 2: return 9;
    case 3: return 13;
    case 4: return 25;
    case 5: return 41;
    case 6: return 49;
    case 7: return 57;
    case 9: return 121;
    case 10: return 161;
    case 11: return 177;
    case 12: return 193;
    case 16: return 385;
    default: return 0;
  }
}

struct DesignVar {
  std::wstring name;
  double min;
  double max;
};

struct Shadow {
  int type = CTavrin::BoxBehnkenPlan;
  bool plan = false, model = false, optimized = false;
  std::vector<DesignVar> vars;
  std::vector<std::wstring> objectives;
  // Meaningful while `plan` is set.
  unsigned runs = 0;
  bool valuesKnown = false;  // false after a Load that could not be predicted
  std::vector<std::vector<float>> measured;           // [objective][experiment 0..runs]
  std::vector<std::array<double, 3>> objectiveLimits;  // weight, low, high
  std::vector<std::array<double, 2>> searchLimits;     // low, high

  int firstVar(const std::wstring& name) const {
    for (std::size_t i = 0; i < vars.size(); ++i) {
      if (vars[i].name == name) return static_cast<int>(i);
    }
    return -1;
  }
  int firstObjective(const std::wstring& name) const {
    for (std::size_t j = 0; j < objectives.size(); ++j) {
      if (objectives[j] == name) return static_cast<int>(j);
    }
    return -1;
  }
  bool uniqueVar(const std::wstring& name) const {
    int count = 0;
    for (const DesignVar& v : vars) count += v.name == name;
    return count == 1;
  }
  bool uniqueObjective(const std::wstring& name) const {
    int count = 0;
    for (const std::wstring& o : objectives) count += o == name;
    return count == 1;
  }
  bool pairExists(const std::wstring& key) const {
    for (const std::wstring& o : objectives) {
      for (const DesignVar& v : vars) {
        if (v.name + L"," + o == key) return true;
      }
    }
    return false;
  }
  // The code planCompute answers for the registries as they stand.
  unsigned computeCode() const {
    const std::size_t n = vars.size(), m = objectives.size();
    if (type == CTavrin::BoxBehnkenPlan ? boxBehnkenRuns(n) == 0 : (n < 4 || n > 20)) return 6;
    if (m == 0 || m > 20) return 7;
    return 0;
  }
  void planComputed() {
    plan = true;
    model = optimized = false;
    const std::size_t n = vars.size(), m = objectives.size();
    runs = type == CTavrin::BoxBehnkenPlan ? static_cast<unsigned>(boxBehnkenRuns(n))
                                            : static_cast<unsigned>((n + 1) * (n + 2) / 2);
    valuesKnown = true;
    measured.assign(m, std::vector<float>(runs + 1, 0.0f));
    objectiveLimits.assign(m, {0.0, 0.0, 0.0});
    searchLimits.assign(n, {0.0, 0.0});
  }
};

struct SavedStudy {
  int type;
  unsigned version;
  std::vector<DesignVar> vars;
  std::vector<std::wstring> objectives;
};

class ApiRun {
 public:
  ApiRun(const std::uint8_t* data, std::size_t size, const ScratchFile& file)
      : script_(data, size), file_(file), study_(std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan)) {
    file_.remove();
  }

  std::string run() {
    for (int step = 0; step < 400 && !script_.done() && !findings_.any(); ++step) {
      this->step();
      checkFlags();
    }
    return findings_.first();
  }

 private:
  // ---- arguments -------------------------------------------------------
  std::wstring name() { return kNames[script_.byte() % 8]; }
  double number() {
    static const double table[] = {0.0,     1.0,      -1.0,    0.5,      2.75,     10.0,     -7.5,
                                   100.0,   1e300,    -1e300,  DBL_MAX,  INFINITY, -INFINITY, NAN,
                                   4.9e-324, 1e-301};
    const std::uint8_t b = script_.byte();
    return b < 240 ? table[b % 16] : script_.raw();
  }
  unsigned experiment() {
    const unsigned n = shadow_.runs;
    const unsigned choices[] = {0u, 1u, 2u, n - 1, n, n + 1, UINT_MAX, script_.byte()};
    return choices[script_.byte() % 8];
  }
  unsigned slot() {
    const std::uint8_t b = script_.byte();
    return b < 250 ? b % 8u : UINT_MAX - (b - 250u);
  }
  int position(std::size_t size) {
    const int s = static_cast<int>(size);
    const int choices[] = {-1, 0, 1, 2, s - 1, s, INT_MIN, INT_MAX};
    return choices[script_.byte() % 8];
  }

  // ---- checks ----------------------------------------------------------
  static std::wstring reason(unsigned code) {
    switch (code) {
      case 1: return L"Plan is not computed.";
      case 2: return L"Model is not computed.";
      case 3: return L"Model is not optimized.";
      case 4: return L"Can not find optimal results";
      case 5: return L"Variable is not found.";
      case 6: return L"MapDesignVars size error.";
      case 7: return L"MapObjectives size error.";
      case 11: return L"Index too large.";
      default: return L"?";
    }
  }

  bool expect(const char* what, const Result& r, unsigned code, const std::wstring& message) {
    if (r.code == code && message == r.message) return true;
    findings_.report("%s: got %u \"%s\", expected %u \"%s\"", what, r.code, narrow(r.message).c_str(), code,
                     narrow(message.c_str()).c_str());
    return false;
  }
  // The usual "Tavrin Error. op(). reason" text for a failure of `op`.
  bool expect(const char* op, const Result& r, unsigned code) {
    const std::wstring wideOp(op, op + std::strlen(op));
    return expect(op, r, code, code == 0 ? L"No Errors" : L"Tavrin Error. " + wideOp + L"(). " + reason(code));
  }
  void expectSame(const char* what, double got, double want) {
    if (!sameValue(got, want)) findings_.report("%s: got %.17g, expected %.17g", what, got, want);
  }
  void checkFlags() {
    if (study_->planIsComputed() != shadow_.plan || study_->modelIsComputed() != shadow_.model ||
        study_->modelIsOptimized() != shadow_.optimized) {
      findings_.report("flags %d%d%d, expected %d%d%d", study_->planIsComputed(), study_->modelIsComputed(),
                       study_->modelIsOptimized(), shadow_.plan, shadow_.model, shadow_.optimized);
    }
  }
  // Code of the plan and model checks every model query makes first.
  unsigned stageCode(bool needOptimized = false) const {
    if (!shadow_.plan) return 1;
    if (!shadow_.model) return 2;
    if (needOptimized && !shadow_.optimized) return 3;
    return 0;
  }

  // ---- one operation ---------------------------------------------------
  void step() {
    CTavrin& s = *study_;
    Shadow& sh = shadow_;
    const int op = script_.byte() % 26;
#ifdef TAVRIN_FUZZ_TRACE
    std::fprintf(stderr, "op %2d  flags %d%d%d  vars %zu  objectives %zu\n", op, shadow_.plan, shadow_.model,
                 shadow_.optimized, shadow_.vars.size(), shadow_.objectives.size());
#endif
    switch (op) {
      case 0: {
        static const int types[] = {1, 2, 0, 3};
        const int type = types[script_.byte() % 4];
        expect("planSetType", s.planSetType(static_cast<CTavrin::PlanType>(type)), 0);
        sh.type = type;
        sh.plan = sh.model = sh.optimized = false;
        CTavrin::PlanType got = CTavrin::RechschafnerPlan;
        expect("planGetType", s.planGetType(got), 0);
        if (static_cast<int>(got) != type) findings_.report("planGetType %d, expected %d", got, type);
        break;
      }
      case 1: {
        const std::wstring n = name();
        const double lo = number(), hi = number();
        if (sh.plan) {
          expect("planAddDesignVar", s.planAddDesignVar(n.c_str(), lo, hi), 12,
                 L"Tavrin error. planAddDesignVar(). Can not Add variable. Plan has been computed.");
        } else if (sh.vars.size() < 24 && expect("planAddDesignVar", s.planAddDesignVar(n.c_str(), lo, hi), 0)) {
          sh.vars.push_back({n, lo, hi});
          sh.model = sh.optimized = false;
        }
        break;
      }
      case 2: {
        const std::wstring n = name();
        if (sh.plan) {
          expect("planAddObjective", s.planAddObjective(n.c_str()), 13,
                 L"Tavrin error. planAddObjective(). Can not Add objective. Plan has been computed.");
        } else if (sh.objectives.size() < 24 && expect("planAddObjective", s.planAddObjective(n.c_str()), 0)) {
          sh.objectives.push_back(n);
          sh.model = sh.optimized = false;
        }
        break;
      }
      case 3: {
        unsigned vars = 0, objectives = 0;
        expect("planGetDesignVarCount", s.planGetDesignVarCount(vars), 0);
        expect("planGetObjectiveCount", s.planGetObjectiveCount(objectives), 0);
        if (vars != sh.vars.size() || objectives != sh.objectives.size()) findings_.report("registry counts");
        break;
      }
      case 4: {
        const int at = position(sh.vars.size());
        const wchar_t* n = nullptr;
        double lo = 0, hi = 0;
        const bool valid = at >= 0 && static_cast<std::size_t>(at) < sh.vars.size();
        if (valid) {
          if (expect("planGetDesignVar", s.planGetDesignVar(at, n, lo, hi), 0)) {
            const DesignVar& v = sh.vars[static_cast<std::size_t>(at)];
            if (v.name != n) findings_.report("planGetDesignVar(%d) name", at);
            expectSame("planGetDesignVar min", lo, v.min);
            expectSame("planGetDesignVar max", hi, v.max);
          }
        } else {
          expect("planGetDesignVar", s.planGetDesignVar(at, n, lo, hi), 5,
                 L"Tavrin error. planGetDesignVar(). Variable is not found.");
        }
        break;
      }
      case 5: {
        const std::wstring n = name();
        double lo = 0, hi = 0;
        const int found = sh.firstVar(n);
        if (found < 0) {
          expect("planGetDesignVar", s.planGetDesignVar(n.c_str(), lo, hi), 5,
                 L"Tavrin error. planGetDesignVar(). Variable is not found.");
        } else if (expect("planGetDesignVar", s.planGetDesignVar(n.c_str(), lo, hi), 0)) {
          expectSame("planGetDesignVar min", lo, sh.vars[static_cast<std::size_t>(found)].min);
          expectSame("planGetDesignVar max", hi, sh.vars[static_cast<std::size_t>(found)].max);
        }
        break;
      }
      case 6: {
        const int at = position(sh.objectives.size());
        const wchar_t* n = nullptr;
        if (at >= 0 && static_cast<std::size_t>(at) < sh.objectives.size()) {
          if (expect("planGetObjective", s.planGetObjective(at, n), 0) &&
              sh.objectives[static_cast<std::size_t>(at)] != n) {
            findings_.report("planGetObjective(%d) name", at);
          }
        } else {
          expect("planGetObjective", s.planGetObjective(at, n), 5,
                 L"Tavrin error. planGetObjective(). Variable is not found.");
        }
        const std::wstring byName = name();
        expect("planGetObjective", s.planGetObjective(byName.c_str()), sh.firstObjective(byName) < 0 ? 5 : 0);
        break;
      }
      case 7: {
        const unsigned code = sh.computeCode();
        if (expect("planCompute", s.planCompute(), code) && code == 0) {
          sh.planComputed();
          unsigned runs = 0;
          expect("planGetExperimentCount", s.planGetExperimentCount(runs), 0);
          if (runs != sh.runs) findings_.report("experiment count %u, expected %u", runs, sh.runs);
        }
        break;
      }
      case 8: {
        unsigned runs = 0;
        if (expect("planGetExperimentCount", s.planGetExperimentCount(runs), sh.plan ? 0 : 1) && sh.plan &&
            runs != sh.runs) {
          findings_.report("experiment count %u, expected %u", runs, sh.runs);
        }
        break;
      }
      case 9: {
        const std::wstring v = name(), o = name();
        const unsigned k = experiment();
        double value = 0;
        unsigned code = 0;
        if (!sh.plan) code = 1;
        else if (k > sh.runs) code = 11;
        else if (k == 0 || !sh.pairExists(v + L"," + o)) code = 5;
        if (expect("planGetDesignVarValue", s.planGetDesignVarValue(v.c_str(), o.c_str(), k, value), code) &&
            code == 0) {
          // Every natural value lies in the declared range of the variable.
          // Only for unique names: the values of namesakes all go to the
          // first record with their key.
          const int i = sh.firstVar(v);
          if (i >= 0 && sh.uniqueVar(v) && sh.uniqueObjective(o) && v.find(L',') == std::wstring::npos &&
              o.find(L',') == std::wstring::npos) {
            const DesignVar& d = sh.vars[static_cast<std::size_t>(i)];
            if (std::fabs(d.min) < 1e300 && std::fabs(d.max) < 1e300) {
              const double tol = 1e-12 * (std::fabs(d.min) + std::fabs(d.max) + 1.0);
              if (!(value >= std::fmin(d.min, d.max) - tol && value <= std::fmax(d.min, d.max) + tol)) {
                findings_.report("natural value %.17g outside [%g, %g]", value, d.min, d.max);
              }
            }
          }
        }
        break;
      }
      case 10: {
        const std::wstring o = name();
        const unsigned k = experiment();
        double value = 0;
        const int j = sh.firstObjective(o);
        const unsigned code = !sh.plan ? 1 : k > sh.runs ? 11 : j < 0 ? 5 : 0;
        if (expect("planGetObjectiveValue", s.planGetObjectiveValue(o.c_str(), k, value), code) && code == 0 &&
            sh.valuesKnown) {
          expectSame("planGetObjectiveValue", value, sh.measured[static_cast<std::size_t>(j)][k]);
        }
        break;
      }
      case 11: {
        const std::wstring o = name();
        const unsigned k = experiment();
        const double value = number();
        const int j = sh.firstObjective(o);
        const unsigned code = !sh.plan ? 1 : k > sh.runs ? 11 : j < 0 ? 5 : 0;
        expect("planSetObjectiveValue", s.planSetObjectiveValue(o.c_str(), k, value), code);
        if (code != 1 && code != 11) sh.model = sh.optimized = false;
        if (code == 0) sh.measured[static_cast<std::size_t>(j)][k] = static_cast<float>(value);
        break;
      }
      case 12:
        if (expect("modelCompute", s.modelCompute(), sh.plan ? 0 : 1) && sh.plan) sh.model = true;
        break;
      case 13: {
        const std::wstring v = name();
        const unsigned code = !sh.plan ? 1 : sh.firstVar(v) < 0 ? 5 : 0;
        expect("modelSetDesignVarValue", s.modelSetDesignVarValue(v.c_str(), number()), code);
        if (sh.plan) sh.model = sh.optimized = false;
        break;
      }
      case 14: {
        const std::wstring o = name();
        double value = 0;
        unsigned code = stageCode();
        if (code == 0 && sh.firstObjective(o) < 0) code = 5;
        expect("modelGetObjectiveValue", s.modelGetObjectiveValue(o.c_str(), value), code);
        break;
      }
      case 15: {
        const std::wstring o = name();
        const double w = number(), lo = number(), hi = number();
        unsigned code = stageCode();
        const int j = sh.firstObjective(o);
        if (code == 0 && j < 0) code = 5;
        expect("modelSetObjectiveLimits", s.modelSetObjectiveLimits(o.c_str(), w, lo, hi), code);
        if (sh.plan && sh.model) sh.optimized = false;
        if (code == 0) sh.objectiveLimits[static_cast<std::size_t>(j)] = {w, lo, hi};
        break;
      }
      case 16: {
        const std::wstring o = name();
        double w = 0, lo = 0, hi = 0;
        unsigned code = stageCode();
        const int j = sh.firstObjective(o);
        if (code == 0 && j < 0) code = 5;
        if (expect("modelGetObjectiveLimits", s.modelGetObjectiveLimits(o.c_str(), w, lo, hi), code) && code == 0 &&
            sh.valuesKnown) {
          const std::array<double, 3>& want = sh.objectiveLimits[static_cast<std::size_t>(j)];
          expectSame("objective weight", w, want[0]);
          expectSame("objective low", lo, want[1]);
          expectSame("objective high", hi, want[2]);
        }
        break;
      }
      case 17: {
        const std::wstring v = name();
        const double lo = number(), hi = number();
        unsigned code = stageCode();
        const int i = sh.firstVar(v);
        if (code == 0 && i < 0) code = 5;
        expect("modelSetDesignVarLimits", s.modelSetDesignVarLimits(v.c_str(), lo, hi), code);
        if (sh.plan && sh.model) sh.optimized = false;
        if (code == 0) sh.searchLimits[static_cast<std::size_t>(i)] = {lo, hi};
        break;
      }
      case 18: {
        const std::wstring v = name();
        double lo = 0, hi = 0;
        unsigned code = stageCode();
        const int i = sh.firstVar(v);
        if (code == 0 && i < 0) code = 5;
        if (expect("modelGetDesignVarLimits", s.modelGetDesignVarLimits(v.c_str(), lo, hi), code) && code == 0 &&
            sh.valuesKnown) {
          expectSame("search low", lo, sh.searchLimits[static_cast<std::size_t>(i)][0]);
          expectSame("search high", hi, sh.searchLimits[static_cast<std::size_t>(i)][1]);
        }
        break;
      }
      case 19:
        optimize();
        break;
      case 20:
      case 21: {
        const bool objective = script_.byte() & 1;
        const std::wstring n = name();
        const unsigned k = slot();
        double value = -1;
        unsigned code = k > CTavrin::BestResultCount ? 11 : stageCode(true);
        if (code == 0 && (objective ? sh.firstObjective(n) : sh.firstVar(n)) < 0) code = 5;
        const Result r = objective ? s.modelGetObjectiveBestResult(n.c_str(), k, value)
                                   : s.modelGetDesignVarBestResult(n.c_str(), k, value);
        if (expect(objective ? "modelGetObjectiveBestResult" : "modelGetDesignVarBestResult", r, code) && code == 0 &&
            k == 0) {
          expectSame("best result slot 0", value, 0.0);
        }
        break;
      }
      case 22:
        save();
        break;
      case 23:
        load();
        break;
      case 24: {
        // Copy construction, then the source goes away.
        auto copy = std::make_unique<CTavrin>(*study_);
        study_ = std::move(copy);
        break;
      }
      case 25: {
        // Assignment over a study that holds tables of its own.
        auto other = std::make_unique<CTavrin>(CTavrin::RechschafnerPlan);
        for (const wchar_t* n : {L"p", L"q", L"r", L"s"}) other->planAddDesignVar(n, 0.0, 1.0);
        other->planAddObjective(L"t");
        other->planCompute();
        other->modelCompute();
        *other = *study_;
        study_ = std::move(other);
        break;
      }
    }
  }

  void optimize() {
    static const unsigned starts[] = {0u, 1u, 7u, 100u, 65530u, 65536u, UINT_MAX - 100u, UINT_MAX - 5u};
    const unsigned first = starts[script_.byte() % 8];
    const unsigned length = script_.u16() % 301u;
    const bool backwards = script_.byte() % 8 == 0;
    // Never more than 300 points: a backward range stops at 0, a forward one
    // may wrap past the largest number and so come out empty.
    const unsigned last = backwards ? (first >= length ? first - length : 0u) : first + length;
    Shadow& sh = shadow_;
    const Result r = study_->modelOptimize(first, last);
    const unsigned stage = stageCode();
    if (stage != 0) {
      expect("modelOptimize", r, stage);
      return;
    }
    if (first >= last) {
      expect("modelOptimize", r, 4);
    } else if (r.code != 0) {
      expect("modelOptimize", r, 4);
    } else {
      expect("modelOptimize", r, 0);
    }
    sh.optimized = r.code == 0;
    if (r.code != 0 || !sh.valuesKnown) return;
    // The best point satisfies every constraint objective (weight zero).
    for (std::size_t j = 0; j < sh.objectives.size(); ++j) {
      if (sh.firstObjective(sh.objectives[j]) != static_cast<int>(j)) continue;
      const std::array<double, 3>& lim = sh.objectiveLimits[j];
      if (std::fabs(lim[0]) >= 1e-300) continue;
      double value = 0;
      if (!expect("modelGetObjectiveBestResult", study_->modelGetObjectiveBestResult(sh.objectives[j].c_str(), 1, value),
                  0)) {
        return;
      }
      if (lim[1] > value || lim[2] < value) {
        findings_.report("best point violates constraint %zu: %g not in [%g, %g]", j, value, lim[1], lim[2]);
      }
    }
  }

  void save() {
    static const unsigned versions[] = {0u, 1u, 2u, UINT_MAX};
    const unsigned version = versions[script_.byte() % 4];
    const bool badPath = script_.byte() % 8 == 0;
    const char* path = badPath ? "/nonexistent-tavrin-dir/study.plan" : file_.path();
    const Result r = study_->Save(path, version);
    const unsigned stage = stageCode();
    if (stage != 0) {
      std::wstring m = stage == 1 ? L"Tavrin Error. Save(). Plan is not computed." : L"Tavrin Error. Save(). Model is not computed.";
      expect("Save", r, stage, m);
    } else if (version > CTavrin::FILE_CURRENT_VERSION) {
      expect("Save", r, 20, L"Tavrin Error. Save(). File version is wrong.");
    } else if (badPath) {
      expect("Save", r, 20, L"Tavrin Error. Save(). Can not open file to save.");
    } else if (expect("Save", r, 0)) {
      saved_ = SavedStudy{shadow_.type, version, shadow_.vars, shadow_.objectives};
    }
  }

  void load() {
    Shadow& sh = shadow_;
    const unsigned kUntouched = 0xDEADBEEFu;
    unsigned version = kUntouched;
    const Result r = study_->Load(file_.path(), version);
    if (!saved_) {
      expect("Load", r, 21, L"Tavrin Error. Load(). Can not open file to load.");
      if (version != kUntouched) findings_.report("Load wrote the version of a missing file");
      return;
    }
    if (version != saved_->version) findings_.report("Load version %u, expected %u", version, saved_->version);
    bool predictable = true;
    for (const DesignVar& v : saved_->vars) predictable = predictable && loadable(v.name);
    for (const std::wstring& o : saved_->objectives) predictable = predictable && loadable(o);
    if (predictable) {
      sh.type = saved_->type == CTavrin::RechschafnerPlan ? CTavrin::RechschafnerPlan : CTavrin::BoxBehnkenPlan;
      sh.plan = sh.model = sh.optimized = false;
      const std::size_t firstNew = sh.vars.size();
      sh.vars.insert(sh.vars.end(), saved_->vars.begin(), saved_->vars.end());
      sh.objectives.insert(sh.objectives.end(), saved_->objectives.begin(), saved_->objectives.end());
      // Bounds come back as the file holds them, to 6 significant digits.
      for (std::size_t i = firstNew; i < sh.vars.size(); ++i) {
        const wchar_t* n = nullptr;
        study_->planGetDesignVar(static_cast<int>(i), n, sh.vars[i].min, sh.vars[i].max);
      }
      if (sh.computeCode() != 0) {
        expect("Load", r, 21, L"Tavrin Error. Load(). Can not compute plan.");
        return;
      }
      if (!expect("Load", r, 0)) return;
      sh.planComputed();
      sh.model = true;
      resyncMeasured();
      return;
    }
    // Empty names or names with blanks: the file may parse in many ways.
    if (r.code != 0 && r.code != 21) findings_.report("Load code %u", r.code);
    resyncRegistries();
    sh.plan = study_->planIsComputed();
    sh.model = study_->modelIsComputed();
    sh.optimized = study_->modelIsOptimized();
    if (r.code == 0 && (!sh.plan || !sh.model || sh.optimized)) findings_.report("Load code 0 with flags");
    if (sh.plan) {
      unsigned runs = 0;
      study_->planGetExperimentCount(runs);
      sh.runs = runs;
    }
    // Keep the shadow tables in shape for the registries; their contents are
    // not known until the next planCompute.
    sh.measured.assign(sh.objectives.size(), std::vector<float>(sh.runs + 1, 0.0f));
    sh.objectiveLimits.assign(sh.objectives.size(), {0.0, 0.0, 0.0});
    sh.searchLimits.assign(sh.vars.size(), {0.0, 0.0});
    sh.valuesKnown = false;
  }

  void resyncRegistries() {
    Shadow& sh = shadow_;
    unsigned vars = 0, objectives = 0;
    study_->planGetDesignVarCount(vars);
    study_->planGetObjectiveCount(objectives);
    sh.vars.resize(vars);
    sh.objectives.resize(objectives);
    for (unsigned i = 0; i < vars; ++i) {
      const wchar_t* n = nullptr;
      study_->planGetDesignVar(static_cast<int>(i), n, sh.vars[i].min, sh.vars[i].max);
      sh.vars[i].name = n;
    }
    for (unsigned j = 0; j < objectives; ++j) {
      const wchar_t* n = nullptr;
      study_->planGetObjective(static_cast<int>(j), n);
      sh.objectives[j] = n;
    }
    CTavrin::PlanType type = CTavrin::RechschafnerPlan;
    study_->planGetType(type);
    sh.type = type;
  }

  void resyncMeasured() {
    Shadow& sh = shadow_;
    for (std::size_t j = 0; j < sh.objectives.size(); ++j) {
      for (unsigned k = 0; k <= sh.runs; ++k) {
        double value = 0;
        study_->planGetObjectiveValue(sh.objectives[j].c_str(), k, value);
        sh.measured[j][k] = static_cast<float>(value);
      }
    }
  }

  Script script_;
  const ScratchFile& file_;
  std::unique_ptr<CTavrin> study_;
  Shadow shadow_;
  std::optional<SavedStudy> saved_;
  Findings findings_;
};

inline std::string runApiInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFile file;
  return ApiRun(data, size, file).run();
}

}  // namespace fuzz
