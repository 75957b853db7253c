// tavrin._plan: the Python binding of CTavrin (re-exported as tavrin.CTavrin).
//
// Every operation keeps its C++ name. Output arguments become return values
// (a tuple where there are several); an operation without outputs returns
// None. A non-zero Result code raises tavrin.TavrinError, whose `code` and
// `message` are the Result's. Names are str both ways; a NUL in a name or a
// path raises ValueError instead of cutting the text short.
//
// The computing calls (modelCompute, modelOptimize, Save, Load) release the
// GIL. A per-object flag lets one call at a time into an object: a second
// thread that calls while it is busy gets tavrin.StateError, never a
// half-updated object. modelOptimize searches on a copy and asks for Ctrl-C
// between blocks of points (main thread only, where Python delivers
// signals); an interrupted search leaves the object as it was.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tavrin/interruptible.h"
#include "tavrin/tavrin.h"

namespace py = pybind11;

namespace {

using Name = std::wstring;
using PlanType = CTavrin::PlanType;

// Load writes `version` as soon as it has read it; a failure before that
// leaves this value in place.
constexpr unsigned kVersionUnread = std::numeric_limits<unsigned>::max();

// How often a running search looks for Ctrl-C: well inside the 100 ms a
// user tolerates, and rare enough that taking the GIL costs nothing.
constexpr std::chrono::milliseconds kSignalPoll{5};

// The bound object: the study and the flag that admits one call at a time.
struct Plan {
  explicit Plan(PlanType type) : study(type) {}
  Plan(const Plan& other) : study(other.study) {}
  CTavrin study;
  mutable std::atomic<bool> busy{false};
};

// Carries a failed Result to the exception translator.
struct Failure {
  unsigned code;
  std::wstring message;
  std::optional<unsigned> version;
};

PyObject* g_tavrin_error = nullptr;  // tavrin.TavrinError, owned by the module
PyObject* g_state_error = nullptr;   // tavrin.StateError

void check(const Result& r, std::optional<unsigned> version = std::nullopt) {
  if (r.code != 0) throw Failure{r.code, r.message, version};
}

// Holds an object's flag for the length of one call.
class Exclusive {
 public:
  explicit Exclusive(const Plan& plan) : busy_(plan.busy) {
    if (busy_.exchange(true)) {
      PyErr_SetString(g_state_error,
                      "this CTavrin object is in use by another thread; one call at a time per object");
      throw py::error_already_set();
    }
  }
  ~Exclusive() { busy_.store(false); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

 private:
  std::atomic<bool>& busy_;
};

// The C string of a name; a NUL inside it would cut the name short.
const wchar_t* c_name(const Name& name) {
  if (name.find(L'\0') != Name::npos) throw py::value_error("embedded null character in name");
  return name.c_str();
}

// Experiment numbers, slots and point numbers are unsigned in C++; refuse
// what would wrap instead of passing it on.
unsigned to_unsigned(long long value, const char* what) {
  if (value < 0 || value > static_cast<long long>(std::numeric_limits<unsigned>::max())) {
    PyErr_Format(PyExc_OverflowError, "%s must be between 0 and %u, got %lld", what,
                 std::numeric_limits<unsigned>::max(), value);
    throw py::error_already_set();
  }
  return static_cast<unsigned>(value);
}

// str, bytes or path-like, encoded as the file system expects; a NUL
// raises ValueError as open() does.
std::string to_path(const py::object& path) {
  std::string encoded = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  if (encoded.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
  return encoded;
}

// Values 1 and 2 come back as PlanType, any other stored value as int.
py::object plan_type_object(PlanType type) {
  if (type == CTavrin::RechschafnerPlan || type == CTavrin::BoxBehnkenPlan) return py::cast(type);
  return py::int_(static_cast<int>(type));
}

unsigned experiment_count(const CTavrin& s) {
  unsigned n = 0;
  check(s.planGetExperimentCount(n));
  return n;
}

// One row per experiment: the natural value of every design variable, in
// registry order, as seen by `objective`.
std::vector<std::vector<double>> experiment_table(CTavrin& s, const Name& objective) {
  const unsigned runs = experiment_count(s);
  unsigned vars = 0;
  check(s.planGetDesignVarCount(vars));
  std::vector<Name> names;
  for (unsigned i = 0; i < vars; ++i) {
    const wchar_t* name = nullptr;
    double lo = 0, hi = 0;
    check(s.planGetDesignVar(static_cast<int>(i), name, lo, hi));
    names.emplace_back(name);
  }
  std::vector<std::vector<double>> rows(runs, std::vector<double>(vars));
  for (unsigned r = 0; r < runs; ++r) {
    for (unsigned i = 0; i < vars; ++i) {
      check(s.planGetDesignVarValue(names[i].c_str(), c_name(objective), r + 1, rows[r][i]));
    }
  }
  return rows;
}

void set_objective_values(CTavrin& s, const Name& objective, const std::vector<double>& values) {
  const wchar_t* name = c_name(objective);
  const unsigned runs = experiment_count(s);
  if (values.size() != runs) {
    throw py::value_error("expected " + std::to_string(runs) + " values, one per experiment, got " +
                          std::to_string(values.size()));
  }
  for (unsigned r = 0; r < runs; ++r) check(s.planSetObjectiveValue(name, r + 1, values[r]));
}

// ------------------------------------------------------------ interruption

thread_local std::chrono::steady_clock::time_point t_next_signal_poll;

// The search's interrupt hook: every kSignalPoll, take the GIL and let
// Python run its signal handlers. A raised exception (KeyboardInterrupt)
// stays set on this thread and stops the search.
bool signal_pending() {
  const auto now = std::chrono::steady_clock::now();
  if (now < t_next_signal_poll) return false;
  t_next_signal_poll = now + kSignalPoll;
  py::gil_scoped_acquire gil;
  return PyErr_CheckSignals() != 0;
}

bool on_main_thread() {
  py::module_ threading = py::module_::import("threading");
  return threading.attr("current_thread")().is(threading.attr("main_thread")());
}

// Runs modelOptimize on a copy, without the GIL, and commits the copy when
// the search ends; on Ctrl-C raises KeyboardInterrupt and changes nothing.
void model_optimize(Plan& plan, unsigned first, unsigned last) {
  Exclusive exclusive(plan);
  const bool interruptible = on_main_thread();
  CTavrin work(plan.study);
  Result result;
  bool interrupted = false;
  {
    py::gil_scoped_release nogil;
    if (interruptible) {
      t_next_signal_poll = std::chrono::steady_clock::now() + kSignalPoll;
      interrupted = !tavrin::modelOptimizeInterruptible(work, first, last, &signal_pending, result);
    } else {
      result = work.modelOptimize(first, last);
    }
  }
  if (interrupted) throw py::error_already_set();
  plan.study = work;
  check(result);
}

// Runs a call of the study without the GIL, one thread at a time.
template <typename Call>
Result without_gil(Plan& plan, Call call) {
  Exclusive exclusive(plan);
  py::gil_scoped_release nogil;
  return call(plan.study);
}

}  // namespace

PYBIND11_MODULE(_plan, m) {
  m.doc() = "The plan object CTavrin: exact plans, fits and LPtau search, with C++ names.";

  py::module_ errors = py::module_::import("tavrin._errors");
  g_tavrin_error = py::object(errors.attr("TavrinError")).release().ptr();  // lives as long as the process
  g_state_error = py::object(errors.attr("StateError")).release().ptr();

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Failure& f) {
      py::object version = f.version ? py::object(py::int_(*f.version)) : py::object(py::none());
      py::object err = py::reinterpret_borrow<py::object>(g_tavrin_error)(f.code, f.message, version);
      PyErr_SetObject(g_tavrin_error, err.ptr());
    }
  });

  const unsigned file_version = CTavrin::FILE_CURRENT_VERSION;
  const unsigned best_count = CTavrin::BestResultCount;
  m.attr("FILE_CURRENT_VERSION") = file_version;
  m.attr("BestResultCount") = best_count;
  m.attr("__version__") = TAVRIN_VERSION;

  py::class_<Plan> cls(m, "CTavrin",
                       "One study of the plan object: plan, measured values, fitted models and best points.\n\n"
                       "Operations keep their C++ names; a non-zero Result raises TavrinError. One call at a\n"
                       "time per object: a call from a second thread while one runs raises StateError.");

  py::enum_<PlanType>(cls, "PlanType", py::arithmetic(), "The kind of plan: Rechtschaffner or Box-Behnken.")
      .value("RechschafnerPlan", CTavrin::RechschafnerPlan)
      .value("BoxBehnkenPlan", CTavrin::BoxBehnkenPlan)
      .export_values();
  m.attr("PlanType") = cls.attr("PlanType");
  cls.attr("FILE_CURRENT_VERSION") = file_version;
  cls.attr("BestResultCount") = best_count;

  // Plan types are stored unvalidated, so plain ints are accepted as well.
  cls.def(py::init<PlanType>(), py::arg("type"), "An empty study of the given plan type.")
      .def(py::init([](int type) { return new Plan(static_cast<PlanType>(type)); }), py::arg("type"),
           "An empty study of a plan type given as int (any value other than 2 builds a Rechtschaffner plan).")
      .def("__copy__",
           [](const Plan& p) {
             Exclusive exclusive(p);
             return Plan(p);
           },
           "An independent copy of the whole study.")
      .def("__deepcopy__",
           [](const Plan& p, py::dict) {
             Exclusive exclusive(p);
             return Plan(p);
           },
           py::arg("memo"), "An independent copy of the whole study.")
      .def("assign",
           [](Plan& p, const Plan& other) {
             if (&p == &other) return;
             Exclusive mine(p);
             Exclusive theirs(other);
             p.study = other.study;
           },
           py::arg("other"), "Makes this study an independent copy of `other`.")

      .def("planIsComputed", [](const Plan& p) { Exclusive e(p); return p.study.planIsComputed(); },
           "Whether planCompute has built the plan since the last change.")
      .def("modelIsComputed", [](const Plan& p) { Exclusive e(p); return p.study.modelIsComputed(); },
           "Whether modelCompute has fitted the models since the last change.")
      .def("modelIsOptimized", [](const Plan& p) { Exclusive e(p); return p.study.modelIsOptimized(); },
           "Whether modelOptimize has found best points since the last change.")

      .def("planSetType", [](Plan& p, PlanType type) { Exclusive e(p); check(p.study.planSetType(type)); },
           py::arg("type"), "Stores the plan type and clears the computed flags.")
      .def("planSetType",
           [](Plan& p, int type) {
             Exclusive e(p);
             check(p.study.planSetType(static_cast<PlanType>(type)));
           },
           py::arg("type"), "Stores a plan type given as int and clears the computed flags.")
      .def("planGetType",
           [](const Plan& p) {
             Exclusive e(p);
             PlanType type{};
             check(p.study.planGetType(type));
             return plan_type_object(type);
           },
           "The stored plan type (PlanType, or int for any other stored value).")

      .def("planAddDesignVar",
           [](Plan& p, const Name& name, double min, double max) {
             Exclusive e(p);
             check(p.study.planAddDesignVar(c_name(name), min, max));
           },
           py::arg("name"), py::arg("min"), py::arg("max"),
           "Appends a design variable with its natural range. Raises TavrinError once the plan is computed,\n"
           "ValueError for a NUL in the name.")
      .def("planAddObjective",
           [](Plan& p, const Name& name) {
             Exclusive e(p);
             check(p.study.planAddObjective(c_name(name)));
           },
           py::arg("name"), "Appends an objective. Raises TavrinError once the plan is computed.")
      .def("planGetDesignVarCount",
           [](const Plan& p) {
             Exclusive e(p);
             unsigned n = 0;
             check(p.study.planGetDesignVarCount(n));
             return n;
           },
           "Number of design variables.")
      .def("planGetObjectiveCount",
           [](const Plan& p) {
             Exclusive e(p);
             unsigned n = 0;
             check(p.study.planGetObjectiveCount(n));
             return n;
           },
           "Number of objectives.")
      .def("planGetDesignVar",
           [](Plan& p, int index) {
             Exclusive e(p);
             const wchar_t* name = nullptr;
             double min = 0, max = 0;
             check(p.study.planGetDesignVar(index, name, min, max));
             return std::make_tuple(Name(name), min, max);
           },
           py::arg("index"), "(name, min, max) of the design variable at 0-based `index`.")
      .def("planGetDesignVar",
           [](Plan& p, const Name& name) {
             Exclusive e(p);
             double min = 0, max = 0;
             check(p.study.planGetDesignVar(c_name(name), min, max));
             return std::make_tuple(min, max);
           },
           py::arg("name"), "(min, max) of the design variable named `name`; TavrinError (code 5) if unknown.")
      .def("planGetObjective",
           [](Plan& p, int index) {
             Exclusive e(p);
             const wchar_t* name = nullptr;
             check(p.study.planGetObjective(index, name));
             return Name(name);
           },
           py::arg("index"), "Name of the objective at 0-based `index`.")
      .def("planGetObjective",
           [](Plan& p, const Name& name) {
             Exclusive e(p);
             check(p.study.planGetObjective(c_name(name)));
           },
           py::arg("name"), "Returns None if the objective exists, else raises TavrinError (code 5).")

      .def("planCompute", [](Plan& p) { Exclusive e(p); check(p.study.planCompute()); },
           "Builds the plan and the experiment table; discards measured values, models and best points.")
      .def("planGetExperimentCount",
           [](const Plan& p) {
             Exclusive e(p);
             return experiment_count(p.study);
           },
           "Number of experiments of the computed plan; TavrinError (code 1) before planCompute.")
      .def("planGetDesignVarValue",
           [](Plan& p, const Name& var, const Name& obj, long long experiment) {
             Exclusive e(p);
             double v = 0;
             check(p.study.planGetDesignVarValue(c_name(var), c_name(obj), to_unsigned(experiment, "experiment"), v));
             return v;
           },
           py::arg("designVar"), py::arg("objective"), py::arg("experiment"),
           "Natural value of a design variable in experiment 1..N as seen by `objective`.")
      .def("planGetObjectiveValue",
           [](Plan& p, const Name& obj, long long experiment) {
             Exclusive e(p);
             double v = 0;
             check(p.study.planGetObjectiveValue(c_name(obj), to_unsigned(experiment, "experiment"), v));
             return v;
           },
           py::arg("objective"), py::arg("experiment"),
           "Measured value of `objective` in experiment 1..N (single precision).")
      .def("planSetObjectiveValue",
           [](Plan& p, const Name& obj, long long experiment, double value) {
             Exclusive e(p);
             check(p.study.planSetObjectiveValue(c_name(obj), to_unsigned(experiment, "experiment"), value));
           },
           py::arg("objective"), py::arg("experiment"), py::arg("value"),
           "Enters the measured value of `objective` in experiment 1..N.")

      .def("modelCompute",
           [](Plan& p) { check(without_gil(p, [](CTavrin& s) { return s.modelCompute(); })); },
           "Fits one quadratic model per objective and evaluates it at the current point (releases the GIL).")
      .def("modelSetDesignVarValue",
           [](Plan& p, const Name& var, double value) {
             Exclusive e(p);
             check(p.study.modelSetDesignVarValue(c_name(var), value));
           },
           py::arg("designVar"), py::arg("value"),
           "Moves the current point; the next modelCompute evaluates the models there.")
      .def("modelGetObjectiveValue",
           [](Plan& p, const Name& obj) {
             Exclusive e(p);
             double v = 0;
             check(p.study.modelGetObjectiveValue(c_name(obj), v));
             return v;
           },
           py::arg("objective"), "Prediction of `objective` at the current point.")
      .def("modelSetObjectiveLimits",
           [](Plan& p, const Name& obj, double weight, double low, double high) {
             Exclusive e(p);
             check(p.study.modelSetObjectiveLimits(c_name(obj), weight, low, high));
           },
           py::arg("objective"), py::arg("weight"), py::arg("low"), py::arg("high"),
           "Weight of `objective` in the search score; weight 0 makes it a constraint to [low, high].")
      .def("modelGetObjectiveLimits",
           [](Plan& p, const Name& obj) {
             Exclusive e(p);
             double weight = 0, low = 0, high = 0;
             check(p.study.modelGetObjectiveLimits(c_name(obj), weight, low, high));
             return std::make_tuple(weight, low, high);
           },
           py::arg("objective"), "(weight, low, high) of the objective.")
      .def("modelSetDesignVarLimits",
           [](Plan& p, const Name& var, double low, double high) {
             Exclusive e(p);
             check(p.study.modelSetDesignVarLimits(c_name(var), low, high));
           },
           py::arg("designVar"), py::arg("low"), py::arg("high"), "Search range of a design variable.")
      .def("modelGetDesignVarLimits",
           [](Plan& p, const Name& var) {
             Exclusive e(p);
             double low = 0, high = 0;
             check(p.study.modelGetDesignVarLimits(c_name(var), low, high));
             return std::make_tuple(low, high);
           },
           py::arg("designVar"), "(low, high) search range of the design variable.")
      .def("modelOptimize",
           [](Plan& p, long long first, long long last) {
             model_optimize(p, to_unsigned(first, "first"), to_unsigned(last, "last"));
           },
           py::arg("first"), py::arg("last"),
           "Tries LPtau points first..last-1 and keeps the best five (releases the GIL).\n"
           "TavrinError (code 4) if no point is admissible. Ctrl-C on the main thread stops the search\n"
           "within milliseconds with KeyboardInterrupt and leaves the study unchanged.")
      .def("modelGetObjectiveBestResult",
           [](Plan& p, const Name& obj, long long slot) {
             Exclusive e(p);
             double v = 0;
             check(p.study.modelGetObjectiveBestResult(c_name(obj), to_unsigned(slot, "slot"), v));
             return v;
           },
           py::arg("objective"), py::arg("slot"), "Prediction of `objective` at best point `slot` (1 = best .. 5).")
      .def("modelGetDesignVarBestResult",
           [](Plan& p, const Name& var, long long slot) {
             Exclusive e(p);
             double v = 0;
             check(p.study.modelGetDesignVarBestResult(c_name(var), to_unsigned(slot, "slot"), v));
             return v;
           },
           py::arg("designVar"), py::arg("slot"), "Value of a design variable at best point `slot` (1 = best .. 5).")

      .def("Save",
           [](Plan& p, const py::object& path, long long version) {
             const std::string file = to_path(path);
             const unsigned v = to_unsigned(version, "version");
             check(without_gil(p, [&](CTavrin& s) { return s.Save(file.c_str(), v); }));
           },
           py::arg("path"), py::arg("version") = file_version,
           "Writes the study as a plan file (str, bytes or path-like; releases the GIL).\n"
           "ValueError for a NUL in the path, TavrinError when the file cannot be written.")
      .def("Load",
           [](Plan& p, const py::object& path) {
             const std::string file = to_path(path);
             unsigned version = kVersionUnread;
             const Result r = without_gil(p, [&](CTavrin& s) { return s.Load(file.c_str(), version); });
             check(r, version == kVersionUnread ? std::nullopt : std::optional<unsigned>(version));
             return version;
           },
           py::arg("path"),
           "Replays a plan file onto this study and returns the file's version (releases the GIL). On\n"
           "failure the raised TavrinError carries the version in `version` if it had been read (None\n"
           "otherwise; a file whose version reads as 4294967295 cannot be told from an unread one).\n"
           "ValueError for a NUL in the path.")

      .def("experiment_table",
           [](Plan& p, const Name& objective) {
             Exclusive e(p);
             return experiment_table(p.study, objective);
           },
           py::arg("objective"),
           "One row per experiment: the natural values of every design variable, in registry order.")
      .def("set_objective_values",
           [](Plan& p, const Name& objective, const std::vector<double>& values) {
             Exclusive e(p);
             set_objective_values(p.study, objective, values);
           },
           py::arg("objective"), py::arg("values"),
           "Enters the measured values of `objective` for experiments 1..N; len(values) must be N.");
}
