// A byte string as a script of calls to CTavrin: an operation byte (modulo 25, the cases of step()), two name
// bytes, a selector byte and three number bytes per step. A shadow of the flags, the registries and the experiment
// count gives the code that each call must answer, and after each call the flags, the registry counts and the plan
// type must match it. As the flags of a later stage are false while those of an earlier one are, setters that clear
// flags once their plan check has passed clear them outright here.
#pragma once

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include "load_harness.h"  // Scratch, narrow

namespace fuzz {

// The checks of a call, in this order: a best-result slot of at most 5 (else 11), the plan (1), the models (2),
// the optimization (3), an experiment number of at most the count (11), then the names or the position (5).
enum Need : unsigned { Slot = 1, Plan = 2, Model = 4, Optimized = 8, Experiment = 16, Var = 32, Obj = 64, VarAt = 128, ObjAt = 256 };

class ApiRun {
 public:
  ApiRun(const std::uint8_t* data, std::size_t size, const std::string& file) : at_(data), end_(data + size), file_(file) {}

  std::string run() {  // the first mismatch, or an empty text
    std::remove(file_.c_str());
    for (int count = 0; count < 400 && at_ < end_ && first_.empty(); ++count) {
      const unsigned op = byte() % 25;
      step(op);
      if (s_->planIsComputed() != plan_ || s_->modelIsComputed() != model_ || s_->modelIsOptimized() != optimized_ ||
          registered(true) != vars_.size() || registered(false) != objectives_.size() || type() != type_) {
        fail("flags, counts or plan type after operation " + std::to_string(op) + " in step " + std::to_string(count));
      }
    }
    return first_;
  }

 private:
  std::uint8_t byte() { return at_ < end_ ? *at_++ : 0; }  // an exhausted script reads zeros
  void fail(const std::string& what) { first_ = first_.empty() ? what : first_; }
  unsigned registered(bool vars) const { unsigned n = 0; vars ? s_->planGetDesignVarCount(n) : s_->planGetObjectiveCount(n); return n; }
  int type() const { CTavrin::PlanType t{}; s_->planGetType(t); return t; }

  // `r` must carry the code of the first failing check of `needs`, else `otherwise` (or `orElse`), and the message
  // "No Errors" or an error text of the operation. Returns the code.
  unsigned check(const char* op, unsigned needs, const Result& r, unsigned otherwise = 0, unsigned orElse = UINT_MAX) {
    const auto lacks = [](const std::vector<std::wstring>& names, const std::wstring& n) { return std::count(names.begin(), names.end(), n) == 0; };
    const auto outside = [this](const std::vector<std::wstring>& names) { return pos_ < 0 || pos_ >= static_cast<int>(names.size()); };
    const bool unknown = (needs & Var && lacks(vars_, v_)) || (needs & Obj && lacks(objectives_, o_)) ||
                         (needs & VarAt && outside(vars_)) || (needs & ObjAt && outside(objectives_));
    const unsigned want = needs & Slot && k_ > CTavrin::BestResultCount ? 11 : needs & Plan && !plan_ ? 1 : needs & Model && !model_ ? 2
                          : needs & Optimized && !optimized_ ? 3 : needs & Experiment && k_ > runs_ ? 11 : unknown ? 5 : otherwise;
    const std::string message = narrow(r.message);
    if ((r.code == 0 ? message != "No Errors" : message.rfind("Tavrin ", 0) != 0 || message.find(op + std::string("(). ")) == std::string::npos) ||
        (r.code != want && r.code != orElse)) {
      fail(op + std::string(" answered ") + std::to_string(r.code) + " \"" + message + "\", not " + std::to_string(want));
    }
    return r.code;
  }

  void step(unsigned op) {
    static const wchar_t* const names[] = {L"a", L"b", L"c", L"d", L"y", L"z", L"", L"a b"};
    static const double numbers[] = {0, 1, -1, 0.5, 2.75, 10, -7.5, 100, 1e300, -1e300, DBL_MAX, INFINITY, -INFINITY, NAN, 4.9e-324, 1e-301};
    v_ = names[byte() % 8], o_ = names[byte() % 8];
    const unsigned sel = byte();
    const double x = numbers[byte() % 16], y = numbers[byte() % 16], z = numbers[byte() % 16];
    // The selector: an experiment number or a slot (252 to 255: the count - 1, + 0, + 1, the largest number),
    // a registry position + 2, the plan type or the file version modulo 4, or the start of a search.
    const unsigned choices[] = {runs_ - 1, runs_, runs_ + 1, UINT_MAX};
    k_ = sel < 252 ? sel : choices[sel - 252], pos_ = static_cast<int>(sel) - 2;
    CTavrin& s = *s_;
    const wchar_t *v = v_.c_str(), *o = o_.c_str(), *found = nullptr;
    double a = 0, b = 0, c = 0;
    unsigned count = 0;
    switch (op) {
      case 0: check("planSetType", 0, s.planSetType(static_cast<CTavrin::PlanType>(sel % 4))), type_ = sel % 4, plan_ = model_ = optimized_ = false; break;
      case 1:
      case 2:  // at most 24 names each
        if (!plan_ && (op == 1 ? vars_ : objectives_).size() >= 24) break;
        if (check(op == 1 ? "planAddDesignVar" : "planAddObjective", 0,
                  op == 1 ? s.planAddDesignVar(v, x, y) : s.planAddObjective(o), plan_ ? 11 + op : 0) == 0) {
          (op == 1 ? vars_ : objectives_).push_back(op == 1 ? v_ : o_), plan_ = model_ = optimized_ = false;
        }
        break;
      case 3: check("planGetDesignVar", Var, s.planGetDesignVar(v, a, b)), check("planGetDesignVar", VarAt, s.planGetDesignVar(pos_, found, a, b)); break;
      case 4: check("planGetObjective", Obj, s.planGetObjective(o)), check("planGetObjective", ObjAt, s.planGetObjective(pos_, found)); break;
      case 5: {  // 6 and 7 leave everything as it was
        static const unsigned boxBehnken[] = {0, 3, 9, 13, 25, 41, 49, 57, 0, 121, 161, 177, 193, 0, 0, 0, 385};
        const std::size_t n = vars_.size(), m = objectives_.size();
        const unsigned runs = type_ == CTavrin::BoxBehnkenPlan ? (n <= 16 ? boxBehnken[n] : 0) : n >= 4 && n <= 20 ? (n + 1) * (n + 2) / 2 : 0;
        if (check("planCompute", 0, s.planCompute(), runs == 0 ? 6 : m == 0 || m > 20 ? 7 : 0) == 0)
          plan_ = true, model_ = optimized_ = false, runs_ = runs;
        break;
      }
      case 6:
        if (check("planGetExperimentCount", Plan, s.planGetExperimentCount(count)) == 0 && count != runs_) fail("experiment count");
        break;
      case 7: check("planGetDesignVarValue", Plan | Experiment | Var | Obj, s.planGetDesignVarValue(v, o, k_, a), k_ == 0 ? 5 : 0); break;
      case 8: check("planGetObjectiveValue", Plan | Experiment | Obj, s.planGetObjectiveValue(o, k_, a)); break;
      case 9:  // clears the models once the experiment number has passed, even for an objective not found
        check("planSetObjectiveValue", Plan | Experiment | Obj, s.planSetObjectiveValue(o, k_, x));
        if (k_ <= runs_) model_ = optimized_ = false;
        break;
      case 10:
        if (check("modelCompute", Plan, s.modelCompute()) == 0) model_ = true;
        break;
      case 11: check("modelSetDesignVarValue", Plan | Var, s.modelSetDesignVarValue(v, x)), model_ = optimized_ = false; break;
      case 12: check("modelGetObjectiveValue", Plan | Model | Obj, s.modelGetObjectiveValue(o, a)); break;
      case 13: check("modelSetObjectiveLimits", Plan | Model | Obj, s.modelSetObjectiveLimits(o, x, y, z)), optimized_ = false; break;
      case 14: check("modelGetObjectiveLimits", Plan | Model | Obj, s.modelGetObjectiveLimits(o, a, b, c)); break;
      case 15: check("modelSetDesignVarLimits", Plan | Model | Var, s.modelSetDesignVarLimits(v, x, y)), optimized_ = false; break;
      case 16: check("modelGetDesignVarLimits", Plan | Model | Var, s.modelGetDesignVarLimits(v, a, b)); break;
      case 17: {  // one more byte: up to 254 points forwards, or from 240 on backwards; an empty range finds nothing
        static const unsigned starts[] = {0u, 1u, 7u, 100u, 65530u, 65536u, UINT_MAX - 100u, UINT_MAX - 5u};
        const unsigned span = byte(), first = starts[sel % 8], length = span % 128 * 2;
        const unsigned last = span >= 240 ? (first > length ? first - length : 0u) : first + length;
        const unsigned code = check("modelOptimize", Plan | Model, s.modelOptimize(first, last), 4, first < last ? 0 : 4);
        if (plan_ && model_) optimized_ = code == 0;
        break;
      }
      case 18: check("modelGetObjectiveBestResult", Slot | Plan | Model | Optimized | Obj, s.modelGetObjectiveBestResult(o, k_, a)); break;
      case 19: check("modelGetDesignVarBestResult", Slot | Plan | Model | Optimized | Var, s.modelGetDesignVarBestResult(v, k_, a)); break;
      case 20: {  // version 3 stands for the largest number; from 128 on, a path in a directory that does not exist
        const unsigned version = sel % 4 == 3 ? UINT_MAX : sel % 4;
        check("Save", Plan | Model, s.Save(sel < 128 ? file_.c_str() : "/nonexistent-tavrin-dir/study.plan", version),
              version > CTavrin::FILE_CURRENT_VERSION || sel >= 128 ? 20 : 0);
        break;
      }
      case 21: load(check("Load", 0, s.Load(file_.c_str(), count), 0, 21)); break;
      default: {  // copy construction, assignment over the copy's own tables, then the source goes away
        auto copy = std::make_unique<CTavrin>(s);
        *copy = s, s_ = std::move(copy);
      }
    }
  }

  // Success leaves the plan and the models computed and not optimized; a failure changes no flag or leaves the
  // models not computed. The registries, the plan type and the experiment count are read back from the study.
  void load(unsigned code) {
    if (code == 0) plan_ = model_ = true, optimized_ = false;
    if (code != 0 && (s_->planIsComputed() != plan_ || s_->modelIsComputed() != model_ || s_->modelIsOptimized() != optimized_)) {
      plan_ = s_->planIsComputed(), model_ = optimized_ = false;
    }
    const wchar_t* n = nullptr;
    double lo = 0, hi = 0;
    vars_.clear(), objectives_.clear(), type_ = type(), s_->planGetExperimentCount(runs_);
    for (int i = 0; i < static_cast<int>(registered(true)); ++i) vars_.push_back(s_->planGetDesignVar(i, n, lo, hi).code == 0 ? n : L"?");
    for (int j = 0; j < static_cast<int>(registered(false)); ++j) objectives_.push_back(s_->planGetObjective(j, n).code == 0 ? n : L"?");
  }

  const std::uint8_t *at_, *end_;
  const std::string& file_;
  std::unique_ptr<CTavrin> s_ = std::make_unique<CTavrin>(CTavrin::BoxBehnkenPlan);
  bool plan_ = false, model_ = false, optimized_ = false;
  int type_ = CTavrin::BoxBehnkenPlan, pos_ = 0;
  unsigned runs_ = 0, k_ = 0;
  std::wstring v_, o_;
  std::vector<std::wstring> vars_, objectives_;
  std::string first_;  // the first mismatch; later ones are usually its consequences
};

inline std::string runApiInput(const std::uint8_t* data, std::size_t size) {
  static Scratch file;
  return ApiRun(data, size, file.path).run();
}

}  // namespace fuzz
