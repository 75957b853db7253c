// Python binding of CTavrin.
//
// Every operation keeps its C++ name. Output arguments become return values
// (a tuple where there are several); an operation without outputs returns
// None. A non-zero Result code raises tavrin.TavrinError, whose `code` and
// `message` are the Result's. Names are str both ways.
//
// The GIL is held throughout: one CTavrin object must be used by one thread
// at a time, and a Python object may be reachable from several threads.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tavrin/tavrin.h"

namespace py = pybind11;

namespace {

using Name = std::wstring;
using PlanType = CTavrin::PlanType;

// Load writes `version` as soon as it has read it; a failure before that
// leaves this value in place.
constexpr unsigned kVersionUnread = std::numeric_limits<unsigned>::max();

// Carries a failed Result to the exception translator.
struct Failure {
  unsigned code;
  std::wstring message;
  std::optional<unsigned> version;
};

PyObject* g_error_type = nullptr;  // tavrin.TavrinError, owned by the module

void check(const Result& r, std::optional<unsigned> version = std::nullopt) {
  if (r.code != 0) throw Failure{r.code, r.message, version};
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

std::string to_path(const py::object& path) {
  return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
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
      check(s.planGetDesignVarValue(names[i].c_str(), objective.c_str(), r + 1, rows[r][i]));
    }
  }
  return rows;
}

void set_objective_values(CTavrin& s, const Name& objective, const std::vector<double>& values) {
  const unsigned runs = experiment_count(s);
  if (values.size() != runs) {
    throw py::value_error("expected " + std::to_string(runs) + " values, one per experiment, got " +
                          std::to_string(values.size()));
  }
  for (unsigned r = 0; r < runs; ++r) check(s.planSetObjectiveValue(objective.c_str(), r + 1, values[r]));
}

const char* const kErrorSource = R"(
class TavrinError(Exception):
    """A Tavrin operation failed: `code` and `message` are those of its Result.

    `version` is the file version that Load had read before it failed, or None.
    """

    def __init__(self, code, message, version=None):
        super().__init__(code, message)
        self.code = code
        self.message = message
        self.version = version

    def __str__(self):
        return self.message
)";

}  // namespace

PYBIND11_MODULE(tavrin, m) {
  m.doc() = "Design of experiments and quadratic response surfaces";

  py::dict scope;
  scope["__name__"] = "tavrin";
  py::exec(kErrorSource, scope);
  py::object error_type = scope["TavrinError"];
  m.attr("TavrinError") = error_type;
  g_error_type = error_type.inc_ref().ptr();  // lives as long as the process

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Failure& f) {
      py::object version = f.version ? py::object(py::int_(*f.version)) : py::object(py::none());
      py::object err = py::reinterpret_borrow<py::object>(g_error_type)(f.code, f.message, version);
      PyErr_SetObject(g_error_type, err.ptr());
    }
  });

  const unsigned file_version = CTavrin::FILE_CURRENT_VERSION;
  const unsigned best_count = CTavrin::BestResultCount;
  m.attr("FILE_CURRENT_VERSION") = file_version;
  m.attr("BestResultCount") = best_count;

  py::class_<CTavrin> cls(m, "CTavrin", "One study: plan, measured values, fitted models and best points.");

  py::enum_<PlanType>(cls, "PlanType", py::arithmetic())
      .value("RechschafnerPlan", CTavrin::RechschafnerPlan)
      .value("BoxBehnkenPlan", CTavrin::BoxBehnkenPlan)
      .export_values();
  m.attr("PlanType") = cls.attr("PlanType");
  cls.attr("FILE_CURRENT_VERSION") = file_version;
  cls.attr("BestResultCount") = best_count;

  // Plan types are stored unvalidated, so plain ints are accepted as well.
  cls.def(py::init<PlanType>(), py::arg("type"))
      .def(py::init([](int type) { return new CTavrin(static_cast<PlanType>(type)); }), py::arg("type"))
      .def("__copy__", [](const CTavrin& s) { return CTavrin(s); })
      .def("__deepcopy__", [](const CTavrin& s, py::dict) { return CTavrin(s); }, py::arg("memo"))
      .def("assign", [](CTavrin& s, const CTavrin& other) { s = other; }, py::arg("other"),
           "Makes this study an independent copy of `other`.")

      .def("planIsComputed", &CTavrin::planIsComputed)
      .def("modelIsComputed", &CTavrin::modelIsComputed)
      .def("modelIsOptimized", &CTavrin::modelIsOptimized)

      .def("planSetType", [](CTavrin& s, PlanType type) { check(s.planSetType(type)); }, py::arg("type"))
      .def("planSetType", [](CTavrin& s, int type) { check(s.planSetType(static_cast<PlanType>(type))); },
           py::arg("type"))
      .def("planGetType", [](const CTavrin& s) {
        PlanType type{};
        check(s.planGetType(type));
        return plan_type_object(type);
      })

      .def("planAddDesignVar",
           [](CTavrin& s, const Name& name, double min, double max) { check(s.planAddDesignVar(name.c_str(), min, max)); },
           py::arg("name"), py::arg("min"), py::arg("max"))
      .def("planAddObjective", [](CTavrin& s, const Name& name) { check(s.planAddObjective(name.c_str())); },
           py::arg("name"))
      .def("planGetDesignVarCount", [](const CTavrin& s) {
        unsigned n = 0;
        check(s.planGetDesignVarCount(n));
        return n;
      })
      .def("planGetObjectiveCount", [](const CTavrin& s) {
        unsigned n = 0;
        check(s.planGetObjectiveCount(n));
        return n;
      })
      .def("planGetDesignVar",
           [](CTavrin& s, int index) {
             const wchar_t* name = nullptr;
             double min = 0, max = 0;
             check(s.planGetDesignVar(index, name, min, max));
             return std::make_tuple(Name(name), min, max);
           },
           py::arg("index"), "(name, min, max) of the design variable at 0-based `index`.")
      .def("planGetDesignVar",
           [](CTavrin& s, const Name& name) {
             double min = 0, max = 0;
             check(s.planGetDesignVar(name.c_str(), min, max));
             return std::make_tuple(min, max);
           },
           py::arg("name"), "(min, max) of the design variable named `name`.")
      .def("planGetObjective",
           [](CTavrin& s, int index) {
             const wchar_t* name = nullptr;
             check(s.planGetObjective(index, name));
             return Name(name);
           },
           py::arg("index"), "Name of the objective at 0-based `index`.")
      .def("planGetObjective", [](CTavrin& s, const Name& name) { check(s.planGetObjective(name.c_str())); },
           py::arg("name"), "Returns None if the objective exists, else raises TavrinError (code 5).")

      .def("planCompute", [](CTavrin& s) { check(s.planCompute()); })
      .def("planGetExperimentCount", &experiment_count)
      .def("planGetDesignVarValue",
           [](CTavrin& s, const Name& var, const Name& obj, long long experiment) {
             double v = 0;
             check(s.planGetDesignVarValue(var.c_str(), obj.c_str(), to_unsigned(experiment, "experiment"), v));
             return v;
           },
           py::arg("designVar"), py::arg("objective"), py::arg("experiment"))
      .def("planGetObjectiveValue",
           [](CTavrin& s, const Name& obj, long long experiment) {
             double v = 0;
             check(s.planGetObjectiveValue(obj.c_str(), to_unsigned(experiment, "experiment"), v));
             return v;
           },
           py::arg("objective"), py::arg("experiment"))
      .def("planSetObjectiveValue",
           [](CTavrin& s, const Name& obj, long long experiment, double value) {
             check(s.planSetObjectiveValue(obj.c_str(), to_unsigned(experiment, "experiment"), value));
           },
           py::arg("objective"), py::arg("experiment"), py::arg("value"))

      .def("modelCompute", [](CTavrin& s) { check(s.modelCompute()); })
      .def("modelSetDesignVarValue",
           [](CTavrin& s, const Name& var, double value) { check(s.modelSetDesignVarValue(var.c_str(), value)); },
           py::arg("designVar"), py::arg("value"))
      .def("modelGetObjectiveValue",
           [](CTavrin& s, const Name& obj) {
             double v = 0;
             check(s.modelGetObjectiveValue(obj.c_str(), v));
             return v;
           },
           py::arg("objective"))
      .def("modelSetObjectiveLimits",
           [](CTavrin& s, const Name& obj, double weight, double low, double high) {
             check(s.modelSetObjectiveLimits(obj.c_str(), weight, low, high));
           },
           py::arg("objective"), py::arg("weight"), py::arg("low"), py::arg("high"))
      .def("modelGetObjectiveLimits",
           [](CTavrin& s, const Name& obj) {
             double weight = 0, low = 0, high = 0;
             check(s.modelGetObjectiveLimits(obj.c_str(), weight, low, high));
             return std::make_tuple(weight, low, high);
           },
           py::arg("objective"), "(weight, low, high) of the objective.")
      .def("modelSetDesignVarLimits",
           [](CTavrin& s, const Name& var, double low, double high) {
             check(s.modelSetDesignVarLimits(var.c_str(), low, high));
           },
           py::arg("designVar"), py::arg("low"), py::arg("high"))
      .def("modelGetDesignVarLimits",
           [](CTavrin& s, const Name& var) {
             double low = 0, high = 0;
             check(s.modelGetDesignVarLimits(var.c_str(), low, high));
             return std::make_tuple(low, high);
           },
           py::arg("designVar"), "(low, high) search range of the design variable.")
      .def("modelOptimize",
           [](CTavrin& s, long long first, long long last) {
             check(s.modelOptimize(to_unsigned(first, "first"), to_unsigned(last, "last")));
           },
           py::arg("first"), py::arg("last"))
      .def("modelGetObjectiveBestResult",
           [](CTavrin& s, const Name& obj, long long slot) {
             double v = 0;
             check(s.modelGetObjectiveBestResult(obj.c_str(), to_unsigned(slot, "slot"), v));
             return v;
           },
           py::arg("objective"), py::arg("slot"))
      .def("modelGetDesignVarBestResult",
           [](CTavrin& s, const Name& var, long long slot) {
             double v = 0;
             check(s.modelGetDesignVarBestResult(var.c_str(), to_unsigned(slot, "slot"), v));
             return v;
           },
           py::arg("designVar"), py::arg("slot"))

      .def("Save",
           [](CTavrin& s, const py::object& path, long long version) {
             check(s.Save(to_path(path).c_str(), to_unsigned(version, "version")));
           },
           py::arg("path"), py::arg("version") = file_version, "Writes the study as a plan file (str or path-like).")
      .def("Load",
           [](CTavrin& s, const py::object& path) {
             unsigned version = kVersionUnread;
             const Result r = s.Load(to_path(path).c_str(), version);
             check(r, version == kVersionUnread ? std::nullopt : std::optional<unsigned>(version));
             return version;
           },
           py::arg("path"),
           "Replays a plan file onto this study and returns the file's version. On failure the raised\n"
           "TavrinError carries the version in `version` if it had been read (None otherwise; a file\n"
           "whose version reads as 4294967295 cannot be told from an unread one).")

      .def("experiment_table", &experiment_table, py::arg("objective"),
           "One row per experiment: the natural values of every design variable, in registry order.")
      .def("set_objective_values", &set_objective_values, py::arg("objective"), py::arg("values"),
           "Enters the measured values of `objective` for experiments 1..N; len(values) must be N.");
}
