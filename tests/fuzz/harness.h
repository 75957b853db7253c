// The fuzz targets' harnesses, used by fuzzer.cpp and the replay test; each returns the first mismatch or "".
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cwchar>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tavrin/tavrin.h"

namespace fuzz {

struct Scratch {  // a file of its own in the temporary directory
  std::string path = "/tmp/tavrin-fuzz-XXXXXX";
  Scratch() { close(mkstemp(path.data())); }
  ~Scratch() { unlink(path.c_str()); }
};
inline std::string narrow(const wchar_t* text) { return std::string(text, text + std::wcslen(text)); }

// Bytes as a plan file, loaded into an empty study or (even first byte) a non-empty one: 0 with the plan and
// models computed, not optimized, and Save working, or 21 with a Load message and no models.
inline std::string runLoadInput(const std::uint8_t* data, std::size_t size) {
  static Scratch input, saved;
  std::ofstream(input.path, std::ios::binary) << std::string_view(reinterpret_cast<const char*>(data), size);
  CTavrin study(CTavrin::BoxBehnkenPlan);
  if (size > 0 && data[0] % 2 == 0) study.planAddDesignVar(L"p", -1.0, 1.0), study.planAddObjective(L"q");
  unsigned version = 0;
  const Result r = study.Load(input.path.c_str(), version);
  const std::string message = narrow(r.message), code = std::to_string(r.code);
  bool known = r.code == 0 && message == "No Errors";
  for (const char* reason : {"Can not open file to load.", "Can not load from file.", "Can not compute plan.",
                             "Can not compute model.", "Design Variable Name is not valid.",
                             "Objective Name is not valid."})
    known = known || (r.code == 21 && message == "Tavrin Error. Load(). " + std::string(reason));
  if (!known) return "Load answered " + code + " " + message;
  if (study.modelIsOptimized() || study.modelIsComputed() != !r.code || !(r.code || study.planIsComputed()))
    return "flags after Load answered " + code;
  const Result s = r.code == 0 ? study.Save(saved.path.c_str(), CTavrin::FILE_CURRENT_VERSION) : Result();
  return s.code == 0 ? "" : "Save after Load answered " + std::to_string(s.code) + " " + narrow(s.message);
}

// The checks of a call, in this order: a best-result slot of at most 5 (else 11), the plan (1), the models
// (2), the optimization (3), an experiment number of at most the count (11), the names or the position (5).
enum Need { Slot = 1, Plan = 2, Model = 4, Best = 8, Run = 16, Var = 32, Obj = 64, VarAt = 128, ObjAt = 256 };
#define FUZZ_CALL(needs, method, ...) check(#method, needs, s.method(__VA_ARGS__))

// A byte string as a script of calls, 7 bytes a step: an operation (modulo 25, the cases of step()), two
// names, a selector and three numbers. A shadow of the flags, registries and experiment count gives the code
// each call must answer; after each call the flags, registry counts and plan type must match it.
struct ApiRun {
  const std::uint8_t *at, *end;
  std::unique_ptr<CTavrin> s_ = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  bool plan_ = false, model_ = false, optimized_ = false;
  int type_ = CTavrin::BoxBehnkenPlan, pos_ = 0;
  unsigned runs_ = 0, k_ = 0;
  std::wstring v_, o_;
  std::vector<std::wstring> vars_, objectives_;
  std::string first_;  // the first mismatch; later ones are usually its consequences

  static inline Scratch file;  // the file of Save and Load, removed before each script

  ApiRun(const std::uint8_t* data, std::size_t size) : at(data), end(data + size) {}
  auto state() const {  // the flags, the registry counts and the plan type of the study
    unsigned n = 0, m = 0;
    CTavrin::PlanType t{};
    s_->planGetDesignVarCount(n), s_->planGetObjectiveCount(m), s_->planGetType(t);
    return std::tuple(s_->planIsComputed(), s_->modelIsComputed(), s_->modelIsOptimized(), std::size_t{n},
                      std::size_t{m}, static_cast<int>(t));
  }

  std::string run() {
    std::remove(file.path.c_str());
    for (int count = 0; count < 400 && at < end && first_.empty(); ++count) {
      const unsigned op = byte() % 25;
      step(op);
      if (state() != std::tuple(plan_, model_, optimized_, vars_.size(), objectives_.size(), type_))
        fail("state after operation " + std::to_string(op) + " in step " + std::to_string(count));
    }
    return first_;
  }
  std::uint8_t byte() { return at < end ? *at++ : 0; }  // an exhausted script reads zeros
  void fail(const std::string& what) { first_ = first_.empty() ? what : first_; }

  // `r` must carry the code of the first failing check of `needs`, else `otherwise` (or `orElse`), and the
  // message "No Errors" or an error text of `op`. Returns the code.
  unsigned check(const char* op, int needs, const Result& r, unsigned otherwise = 0, unsigned orElse = 99) {
    const auto at = static_cast<std::size_t>(pos_);  // a negative position wraps to a large one
    const bool unknown = (needs & Var && !std::ranges::count(vars_, v_)) ||
                         (needs & Obj && !std::ranges::count(objectives_, o_)) ||
                         (needs & VarAt && at >= vars_.size()) || (needs & ObjAt && at >= objectives_.size());
    const unsigned want = needs & Slot && k_ > CTavrin::BestResultCount ? 11
                          : needs & Plan && !plan_ ? 1 : needs & Model && !model_ ? 2
                          : needs & Best && !optimized_ ? 3 : needs & Run && k_ > runs_ ? 11
                          : unknown ? 5 : otherwise;
    const std::string message = narrow(r.message), prefix = op + std::string("(). ");
    const bool known = r.code ? message.starts_with("Tavrin ") && message.find(prefix) != std::string::npos
                              : message == "No Errors";
    if (!known || (r.code != want && r.code != orElse))
      fail(prefix + std::to_string(r.code) + " \"" + message + "\", not " + std::to_string(want));
    return r.code;
  }

  void step(unsigned op) {
    static const wchar_t* const names[] = {L"a", L"b", L"c", L"d", L"y", L"z", L"", L"a b"};
    static const double numbers[] = {0, 1, -1, 0.5, 2.75, 10, -7.5, 100, 1e300, -1e300, DBL_MAX, INFINITY,
                                     -INFINITY, NAN, 4.9e-324, 1e-301};
    v_ = names[byte() % 8], o_ = names[byte() % 8];
    const unsigned sel = byte();
    const double x = numbers[byte() % 16], y = numbers[byte() % 16], z = numbers[byte() % 16];
    // The selector: an experiment number or a slot (252 to 255: the count - 1, + 0, + 1, the largest number),
    // a registry position + 2, the plan type or the file version modulo 4, or the start of a search.
    const unsigned choices[] = {runs_ - 1, runs_, runs_ + 1, UINT_MAX};
    k_ = sel < 252 ? sel : choices[sel - 252], pos_ = static_cast<int>(sel) - 2;
    CTavrin& s = *s_;
    const wchar_t *v = v_.c_str(), *o = o_.c_str(), *w = nullptr;
    double a = 0, b = 0, c = 0;
    unsigned count = 0;
    switch (op) {
      case 0:
        FUZZ_CALL(0, planSetType, static_cast<CTavrin::PlanType>(sel % 4));
        type_ = sel % 4, plan_ = model_ = optimized_ = false;
        break;
      case 1:
      case 2: {  // at most 24 names each; refused with 12 or 13 once the plan is computed
        std::vector<std::wstring>& names = op == 1 ? vars_ : objectives_;
        if (!plan_ && names.size() >= 24) break;
        const Result r = op == 1 ? s.planAddDesignVar(v, x, y) : s.planAddObjective(o);
        if (check(op == 1 ? "planAddDesignVar" : "planAddObjective", 0, r, plan_ ? 11 + op : 0) == 0)
          names.push_back(op == 1 ? v_ : o_), plan_ = model_ = optimized_ = false;
        break;
      }
      case 3: FUZZ_CALL(Var, planGetDesignVar, v, a, b), FUZZ_CALL(VarAt, planGetDesignVar, pos_, w, a, b);
        break;
      case 4: FUZZ_CALL(Obj, planGetObjective, o), FUZZ_CALL(ObjAt, planGetObjective, pos_, w); break;
      case 5: {  // 6 and 7 leave everything as it was
        static const unsigned bb[] = {0, 3, 9, 13, 25, 41, 49, 57, 0, 121, 161, 177, 193, 0, 0, 0, 385};
        const std::size_t n = vars_.size(), m = objectives_.size();
        const unsigned runs = type_ == CTavrin::BoxBehnkenPlan ? (n <= 16 ? bb[n] : 0)
                              : n >= 4 && n <= 20 ? (n + 1) * (n + 2) / 2 : 0;
        if (check("planCompute", 0, s.planCompute(), runs == 0 ? 6 : m == 0 || m > 20 ? 7 : 0) == 0)
          plan_ = true, model_ = optimized_ = false, runs_ = runs;
        break;
      }
      case 6:
        if (FUZZ_CALL(Plan, planGetExperimentCount, count) == 0 && count != runs_) fail("experiment count");
        break;
      case 7:  // an experiment number 0 is refused with 5 once the other checks have passed
        check("planGetDesignVarValue", Plan | Run | Var | Obj, s.planGetDesignVarValue(v, o, k_, a),
              k_ ? 0 : 5);
        break;
      case 8: FUZZ_CALL(Plan | Run | Obj, planGetObjectiveValue, o, k_, a); break;
      case 9:  // clears the models once the experiment number has passed, even for an objective not found
        FUZZ_CALL(Plan | Run | Obj, planSetObjectiveValue, o, k_, x);
        if (k_ <= runs_) model_ = optimized_ = false;
        break;
      case 10: model_ = FUZZ_CALL(Plan, modelCompute) == 0 || model_; break;
      case 11: FUZZ_CALL(Plan | Var, modelSetDesignVarValue, v, x), model_ = optimized_ = false; break;
      case 12: FUZZ_CALL(Plan | Model | Obj, modelGetObjectiveValue, o, a); break;
      case 13: FUZZ_CALL(Plan | Model | Obj, modelSetObjectiveLimits, o, x, y, z), optimized_ = false; break;
      case 14: FUZZ_CALL(Plan | Model | Obj, modelGetObjectiveLimits, o, a, b, c); break;
      case 15: FUZZ_CALL(Plan | Model | Var, modelSetDesignVarLimits, v, x, y), optimized_ = false; break;
      case 16: FUZZ_CALL(Plan | Model | Var, modelGetDesignVarLimits, v, a, b); break;
      case 17: {  // one more byte: up to 254 points forward, or from 240 on backward; empty ranges find none
        static const unsigned starts[] = {0u, 1u, 7u, 100u, 65530u, 65536u, UINT_MAX - 100u, UINT_MAX - 5u};
        const unsigned span = byte(), first = starts[sel % 8], length = span % 128 * 2;
        const unsigned last = span >= 240 ? (first > length ? first - length : 0u) : first + length;
        const Result r = s.modelOptimize(first, last);
        check("modelOptimize", Plan | Model, r, 4, first < last ? 0 : 4);
        optimized_ = plan_ && model_ ? r.code == 0 : optimized_;
        break;
      }
      case 18: FUZZ_CALL(Slot | Plan | Model | Best | Obj, modelGetObjectiveBestResult, o, k_, a); break;
      case 19: FUZZ_CALL(Slot | Plan | Model | Best | Var, modelGetDesignVarBestResult, v, k_, a); break;
      case 20: {  // version 3 stands for the largest number; from 128 on, a path in a missing directory
        const unsigned version = sel % 4 == 3 ? UINT_MAX : sel % 4;
        const char* path = sel < 128 ? file.path.c_str() : "/nonexistent-tavrin-dir/study.plan";
        const bool refused = version > CTavrin::FILE_CURRENT_VERSION || sel >= 128;
        check("Save", Plan | Model, s.Save(path, version), refused ? 20 : 0);
        break;
      }
      case 21: load(check("Load", 0, s.Load(file.path.c_str(), count), 0, 21)); break;
      default:  // copy construction, assignment over the copy's own tables, then the source goes away
        auto copy = std::make_unique<CTavrin>(s);
        *copy = s, s_ = std::move(copy);
    }
  }

  // Success leaves the plan and models computed, not optimized; a failure changes no flag or leaves no
  // models. The registries, the plan type and the experiment count are read back from the study.
  void load(unsigned code) {
    const auto [plan, model, optimized, n, m, type] = state();
    if (code == 0) plan_ = model_ = true, optimized_ = false;
    if (code != 0 && std::tuple(plan, model, optimized) != std::tuple(plan_, model_, optimized_))
      plan_ = plan, model_ = optimized_ = false;
    const wchar_t* got = nullptr;
    double lo = 0, hi = 0;
    vars_.clear(), objectives_.clear(), type_ = type, s_->planGetExperimentCount(runs_);
    for (int i = 0; i < static_cast<int>(n); ++i)
      vars_.push_back(s_->planGetDesignVar(i, got, lo, hi).code ? L"?" : got);
    for (int j = 0; j < static_cast<int>(m); ++j)
      objectives_.push_back(s_->planGetObjective(j, got).code ? L"?" : got);
  }
};
#undef FUZZ_CALL

inline std::string runApiInput(const std::uint8_t* in, std::size_t size) { return ApiRun(in, size).run(); }

}  // namespace fuzz
