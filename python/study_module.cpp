// tavrin._study: the study layer for Python. A thin binding over plain
// values (tuples, dicts, numpy arrays); tavrin/study.py builds the Python
// classes on it. The layer's exceptions become the tavrin._errors classes.
// optimize and robustness run without the GIL: they read a Fit, which no
// call changes once made. Ctrl-C stops a robustness study within about
// 50 ms; an optimize call takes milliseconds.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/detail/recipe_json.h"
#include "tavrin/model_building.h"
#include "tavrin/optimum.h"
#include "tavrin/quadratic.h"
#include "tavrin/study.h"
#include "tavrin/verdict.h"
#include "arrays.h"
#include "report.h"

namespace py = pybind11;
using namespace tavrin;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A progress callback that lets Python run its signal handlers every 50 ms
// or so: an exception they raise (KeyboardInterrupt on Ctrl-C) leaves the
// call as error_already_set, and the layer stops its threads' work.
constexpr auto kSignalPoll = std::chrono::milliseconds(50);

std::function<void(unsigned, unsigned)> signal_check() {
  auto next = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now() + kSignalPoll);
  return [next](unsigned, unsigned) {
    const auto now = std::chrono::steady_clock::now();
    if (now < *next) return;
    *next = now + kSignalPoll;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  };
}
using FactorTuple = std::tuple<std::string, double, double, std::string>;
using ResponseTuple = std::tuple<std::string, std::string>;
using SigmaMap = std::map<std::string, double, std::less<>>;

struct ErrorTypes {
  py::object error, invalid, unknown, state, file, missing_file, parse;
};
ErrorTypes* g_errors = nullptr;  // lives as long as the process

// Raises `instance` of `type` with the layer's field path as `field`.
void raise(const py::object& type, const py::object& instance, const Error& error) {
  instance.attr("field") = error.field();
  PyErr_SetObject(type.ptr(), instance.ptr());
}

void translate(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const ParseError& e) {
    raise(g_errors->parse, g_errors->parse(e.what(), e.source(), e.line(), e.column()), e);
  } catch (const FileError& e) {
    const py::object& type = e.notFound() ? g_errors->missing_file : g_errors->file;
    raise(type, type(e.what(), e.path()), e);
  } catch (const UnknownName& e) {
    raise(g_errors->unknown, g_errors->unknown(e.what()), e);
  } catch (const InvalidArgument& e) {
    raise(g_errors->invalid, g_errors->invalid(e.what()), e);
  } catch (const StateError& e) {
    raise(g_errors->state, g_errors->state(e.what()), e);
  } catch (const Error& e) {
    raise(g_errors->error, g_errors->error(e.what()), e);
  }
}

// A path as the file system takes it; a NUL would cut it short.
std::string to_path(const py::object& path) {
  std::string encoded = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  if (encoded.find('\0') != std::string::npos) throw InvalidArgument("embedded null byte in path");
  return encoded;
}

Matrix to_matrix(const Array& a, const char* what) {
  if (a.ndim() != 2) throw InvalidArgument(std::string(what) + " must be a 2-D array, got " + std::to_string(a.ndim()) + "-D");
  Matrix m(static_cast<std::size_t>(a.shape(0)), static_cast<std::size_t>(a.shape(1)));
  std::copy(a.data(), a.data() + a.size(), m.data());
  return m;
}

using python::to_array;

std::vector<Factor> to_factors(const std::vector<FactorTuple>& tuples) {
  std::vector<Factor> factors;
  for (const auto& [name, low, high, unit] : tuples) factors.push_back({name, low, high, unit});
  return factors;
}

std::vector<FactorTuple> from_factors(const std::vector<Factor>& factors) {
  std::vector<FactorTuple> out;
  for (const Factor& f : factors) out.emplace_back(f.name, f.low, f.high, f.unit);
  return out;
}

std::vector<ResponseTuple> from_responses(const std::vector<Response>& responses) {
  std::vector<ResponseTuple> out;
  for (const Response& r : responses) out.emplace_back(r.name, r.unit);
  return out;
}

PlanOptions plan_options(std::optional<std::uint64_t> seed, int extra_center_runs) {
  PlanOptions options;
  options.seed = seed;
  options.extraCenterRuns = extra_center_runs;
  return options;
}

AnalysisOptions analysis_options(double confidence, const SigmaMap& sigma) {
  AnalysisOptions options;
  options.confidence = confidence;
  options.knownSigma = sigma;
  return options;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string describe(const py::handle& value) {
  return py::str(py::type::of(value).attr("__name__")).cast<std::string>() + " " +
         py::repr(value).cast<std::string>();
}

// A number argument (int, float, numpy scalar); None gives `none`. A
// string, a bool or anything else is InvalidArgument naming the field,
// not pybind11's TypeError listing signatures.
double number_arg(const py::handle& value, const std::string& field, double none = kNaN) {
  if (value.is_none()) return none;
  const bool numeric = PyNumber_Check(value.ptr()) != 0 && !py::isinstance<py::bool_>(value) &&
                       !py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value);
  if (!numeric) throw InvalidArgument(field + " must be a number, got " + describe(value), field);
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    throw InvalidArgument(field + " must be a number within the range of a double, got " + describe(value), field);
  }
  return v;
}

// A whole number in 0..2^32-1.
unsigned count_arg(const py::handle& value, const std::string& field) {
  const bool integral = py::isinstance<py::int_>(value) && !py::isinstance<py::bool_>(value);
  if (integral) {
    const py::int_ n = py::reinterpret_borrow<py::int_>(value);
    if (n >= py::int_(0) && n <= py::int_(std::numeric_limits<unsigned>::max())) return n.cast<unsigned>();
  }
  throw InvalidArgument(field + " must be a whole number in 0.." + std::to_string(std::numeric_limits<unsigned>::max()) +
                            ", got " + describe(value),
                        field);
}

// A seed as the layer reads it: the int's decimal text through parseSeed.
std::uint64_t seed_arg(const py::handle& value) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw InvalidArgument("the seed must be a whole number in 0..2**64-1, got " + describe(value), "seed");
  return parseSeed(py::str(value).cast<std::string>());
}

std::optional<std::uint64_t> optional_seed(const py::handle& value) {
  if (value.is_none()) return std::nullopt;
  return seed_arg(value);
}

std::string text_arg(const py::handle& value, const std::string& field) {
  if (!py::isinstance<py::str>(value)) throw InvalidArgument(field + " must be a str, got " + describe(value), field);
  return value.cast<std::string>();
}

// A goal kind: a GoalKind, or its name as the layer spells it.
Goal::Kind kind_arg(const py::handle& kind) {
  if (py::isinstance<Goal::Kind>(kind)) return kind.cast<Goal::Kind>();
  if (!py::isinstance<py::str>(kind))
    throw InvalidArgument("kind must be a GoalKind or its name, got " + describe(kind), "kind");
  try {
    return parseGoalKind(kind.cast<std::string>());
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(e.what(), "kind");
  }
}

Goal make_goal(const py::handle& response, const py::handle& kind, const py::handle& low, const py::handle& high,
               const py::handle& target, const py::handle& shape, const py::handle& shape_high,
               const py::handle& importance, const py::handle& weight, bool unbounded) {
  Goal g;
  g.response = text_arg(response, "response");
  g.kind = kind_arg(kind);
  g.low = number_arg(low, "low");
  g.high = number_arg(high, "high");
  g.target = number_arg(target, "target");
  g.shape = number_arg(shape, "shape", 1.0);
  g.shapeHigh = number_arg(shape_high, "shape_high", 1.0);
  g.importance = number_arg(importance, "importance", 1.0);
  g.weight = number_arg(weight, "weight", 1.0);
  g.unbounded = unbounded;
  return g;
}

// Goal.maximize and Goal.minimize: one bound pair and a shape.
template <Goal::Kind kind>
Goal one_sided_goal(const py::object& response, const py::object& low, const py::object& high, const py::object& shape,
                    const py::object& importance) {
  return make_goal(response, py::cast(kind), low, high, py::none(), shape, py::float_(1.0), importance,
                   py::float_(1.0), false);
}

// Equal fields, NaN (an open bound) equal to NaN.
bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool same_goal(const Goal& a, const Goal& b) {
  return a.response == b.response && a.kind == b.kind && same(a.low, b.low) && same(a.high, b.high) &&
         same(a.target, b.target) && same(a.shape, b.shape) && same(a.shapeHigh, b.shapeHigh) &&
         same(a.importance, b.importance) && same(a.weight, b.weight) && a.unbounded == b.unbounded;
}

// The shortest text that reads back to v, as Python writes it; None for NaN.
std::string number_text(double v) {
  if (std::isnan(v)) return "None";
  return py::repr(py::float_(v)).cast<std::string>();
}

std::string goal_repr(const Goal& g) {
  std::string text = "Goal(" + py::repr(py::str(g.response)).cast<std::string>() + ", '" +
                     std::string(goalKindName(g.kind)) + "'";
  const auto add = [&text](const char* name, double v) { text += std::string(", ") + name + "=" + number_text(v); };
  if (g.kind != Goal::WeightedSum) {
    add("low", g.low);
    add("high", g.high);
  }
  if (g.kind == Goal::Target) add("target", g.target);
  if (g.shape != 1.0) add("shape", g.shape);
  if (g.shapeHigh != 1.0) add("shape_high", g.shapeHigh);
  if (g.importance != 1.0) add("importance", g.importance);
  if (g.kind == Goal::WeightedSum) add("weight", g.weight);
  if (g.unbounded) text += ", unbounded=True";
  return text + ")";
}

using Region = std::map<std::string, std::pair<double, double>>;

Goals to_goals(const std::vector<Goal>& goals, const std::vector<Constraint>& constraints, const Region& region) {
  Goals out;
  out.goals = goals;
  out.constraints = constraints;
  for (const auto& [name, range] : region) out.region.emplace(name, range);
  return out;
}

// A double property that takes only numbers (None as `none`).
template <typename T>
void number_property(py::class_<T>& c, const char* name, double T::*member, double none, const char* doc) {
  c.def_property(
      name, [member](const T& t) { return t.*member; },
      [member, name, none](T& t, const py::object& v) { t.*member = number_arg(v, name, none); }, doc);
}

void bind_goals(py::module_& m) {
  py::enum_<Goal::Kind> kinds(m, "GoalKind", "How a goal scores a response; str() gives the name the layer spells.");
  // Replaces pybind11's own "GoalKind.MAXIMIZE" (a def would only add an overload after it).
  kinds.attr("__str__") = py::cpp_function([](Goal::Kind k) { return std::string(goalKindName(k)); },
                                           py::name("__str__"), py::is_method(kinds));
  kinds.value("MAXIMIZE", Goal::Maximize)
      .value("MINIMIZE", Goal::Minimize)
      .value("TARGET", Goal::Target)
      .value("WITHIN", Goal::Within)
      .value("WEIGHTED_SUM", Goal::WeightedSum)
      .def_static("parse", [](const py::object& name) { return kind_arg(name); }, py::arg("name"),
                  "The kind of a name, ignoring case, '-', '_' and blanks; InvalidArgument listing the names else.");

  const py::none none;
  py::class_<Goal> goal(m, "Goal", "One response's goal for the optimum (the layer's Goal).");
  goal.def(py::init(&make_goal), py::arg("response"), py::arg("kind") = "maximize", py::arg("low") = none,
           py::arg("high") = none, py::arg("target") = none, py::kw_only(), py::arg("shape") = 1.0,
           py::arg("shape_high") = 1.0, py::arg("importance") = 1.0, py::arg("weight") = 1.0,
           py::arg("unbounded") = false)
      .def_property(
          "response", [](const Goal& g) { return g.response; },
          [](Goal& g, const py::object& v) { g.response = text_arg(v, "response"); })
      .def_property(
          "kind", [](const Goal& g) { return g.kind; }, [](Goal& g, const py::object& v) { g.kind = kind_arg(v); })
      .def_readwrite("unbounded", &Goal::unbounded)
      .def("__eq__", [](const Goal& a, const py::object& b) { return py::isinstance<Goal>(b) && same_goal(a, b.cast<Goal>()); })
      .def("__repr__", &goal_repr)
      .def_static("maximize", one_sided_goal<Goal::Maximize>, py::arg("response"), py::arg("low") = none,
                  py::arg("high") = none, py::kw_only(), py::arg("shape") = 1.0, py::arg("importance") = 1.0,
                  "Desirability 0 at low rising to 1 at high; None: the predictions' span.")
      .def_static("minimize", one_sided_goal<Goal::Minimize>, py::arg("response"), py::arg("low") = none,
                  py::arg("high") = none, py::kw_only(), py::arg("shape") = 1.0, py::arg("importance") = 1.0,
                  "Desirability 1 at low falling to 0 at high; None: the predictions' span.")
      .def_static(
          "target_value",
          [](const py::object& response, const py::object& target, const py::object& low, const py::object& high,
             const py::object& shape, const py::object& shape_high, const py::object& importance) {
            return make_goal(response, py::cast(Goal::Target), low, high, target, shape, shape_high, importance,
                             py::float_(1.0), false);
          },
          py::arg("response"), py::arg("target"), py::arg("low") = none, py::arg("high") = none, py::kw_only(),
          py::arg("shape") = 1.0, py::arg("shape_high") = 1.0, py::arg("importance") = 1.0,
          "Desirability 1 at target, 0 outside [low, high]; None: the predictions' span.")
      .def_static(
          "within",
          [](const py::object& response, const py::object& low, const py::object& high, const py::object& importance) {
            return make_goal(response, py::cast(Goal::Within), low, high, py::none(), py::float_(1.0),
                             py::float_(1.0), importance, py::float_(1.0), false);
          },
          py::arg("response"), py::arg("low") = -kInf, py::arg("high") = kInf, py::kw_only(),
          py::arg("importance") = 1.0, "Desirability 1 inside [low, high], 0 outside.")
      .def_static(
          "weighted_sum",
          [](const py::object& response, const py::object& weight) {
            return make_goal(response, py::cast(Goal::WeightedSum), py::none(), py::none(), py::none(),
                             py::float_(1.0), py::float_(1.0), py::float_(1.0), weight, false);
          },
          py::arg("response"), py::arg("weight") = 1.0, "Adds weight * prediction (not mixed with the others).");
  number_property(goal, "low", &Goal::low, kNaN, "Lower bound; None (NaN) is open.");
  number_property(goal, "high", &Goal::high, kNaN, "Upper bound; None (NaN) is open.");
  number_property(goal, "target", &Goal::target, kNaN, "Target (target goals).");
  number_property(goal, "shape", &Goal::shape, 1.0, "Exponent (below the target for target goals).");
  number_property(goal, "shape_high", &Goal::shapeHigh, 1.0, "Exponent above the target.");
  number_property(goal, "importance", &Goal::importance, 1.0, "Weight in the geometric mean.");
  number_property(goal, "weight", &Goal::weight, 1.0, "Weight of a weighted-sum goal.");

  py::class_<Constraint> constraint(m, "Constraint", "A hard interval on a response's prediction.");
  constraint
      .def(py::init([](const py::object& response, const py::object& low, const py::object& high) {
             return Constraint{text_arg(response, "response"), number_arg(low, "low", -kInf),
                               number_arg(high, "high", kInf)};
           }),
           py::arg("response"), py::arg("low") = none, py::arg("high") = none)
      .def_property(
          "response", [](const Constraint& c) { return c.response; },
          [](Constraint& c, const py::object& v) { c.response = text_arg(v, "response"); })
      .def("__eq__",
           [](const Constraint& a, const py::object& b) {
             if (!py::isinstance<Constraint>(b)) return false;
             const auto c = b.cast<Constraint>();
             return a.response == c.response && a.low == c.low && a.high == c.high;
           })
      .def("__repr__", [](const Constraint& c) {
        return "Constraint(" + py::repr(py::str(c.response)).cast<std::string>() + ", low=" +
               (std::isinf(c.low) ? "None" : number_text(c.low)) + ", high=" +
               (std::isinf(c.high) ? "None" : number_text(c.high)) + ")";
      });
  number_property(constraint, "low", &Constraint::low, -kInf, "Lower limit; None is -inf.");
  number_property(constraint, "high", &Constraint::high, kInf, "Upper limit; None is +inf.");

  py::class_<SearchOptions> search(m, "SearchOptions", "How the optimum is searched (the layer's SearchOptions).");
  search.def(py::init([](const py::object& points, const py::object& starts, const py::object& best,
                         const py::object& tolerance, const py::object& threads) {
               SearchOptions o;
               o.points = count_arg(points, "search.points");
               o.starts = count_arg(starts, "search.starts");
               o.best = count_arg(best, "search.best");
               o.distinctTolerance = number_arg(tolerance, "search.distinct_tolerance");
               o.threads = count_arg(threads, "search.threads");
               return o;
             }),
             py::kw_only(), py::arg("points") = SearchOptions{}.points, py::arg("starts") = SearchOptions{}.starts,
             py::arg("best") = SearchOptions{}.best, py::arg("distinct_tolerance") = SearchOptions{}.distinctTolerance,
             py::arg("threads") = SearchOptions{}.threads);
  const auto count_property = [&search](const char* name, unsigned SearchOptions::*member) {
    search.def_property(
        name, [member](const SearchOptions& o) { return o.*member; },
        [member, name](SearchOptions& o, const py::object& v) { o.*member = count_arg(v, std::string("search.") + name); });
  };
  count_property("points", &SearchOptions::points);
  count_property("starts", &SearchOptions::starts);
  count_property("best", &SearchOptions::best);
  count_property("threads", &SearchOptions::threads);
  number_property(search, "distinct_tolerance", &SearchOptions::distinctTolerance, kNaN,
                  "Coded distance below which optima are the same.");
}

py::dict estimate_columns(const std::vector<CoefficientRow>& rows, bool natural) {
  std::vector<double> value, se, t, p, lower, upper;
  for (const CoefficientRow& row : rows) {
    const Estimate& e = natural ? row.natural : row.coded;
    value.push_back(e.value);
    se.push_back(e.stdError);
    t.push_back(e.t);
    p.push_back(e.p);
    lower.push_back(e.lower);
    upper.push_back(e.upper);
  }
  py::dict d;
  d["estimate"] = to_array(value);
  d["std_error"] = to_array(se);
  d["t"] = to_array(t);
  d["p"] = to_array(p);
  d["lower"] = to_array(lower);
  d["upper"] = to_array(upper);
  return d;
}

py::dict diagnostic_columns(const std::vector<RunDiagnostics>& rows) {
  std::vector<int> run;
  std::vector<double> observed, fitted, residual, leverage, studentized, cooks;
  for (const RunDiagnostics& r : rows) {
    run.push_back(r.runId);
    observed.push_back(r.observed);
    fitted.push_back(r.fitted);
    residual.push_back(r.residual);
    leverage.push_back(r.leverage);
    studentized.push_back(r.studentized);
    cooks.push_back(r.cooksDistance);
  }
  py::dict d;
  d["run"] = py::array_t<int>(run.size(), run.data());
  d["observed"] = to_array(observed);
  d["fitted"] = to_array(fitted);
  d["residual"] = to_array(residual);
  d["leverage"] = to_array(leverage);
  d["studentized"] = to_array(studentized);
  d["cooks_distance"] = to_array(cooks);
  return d;
}

py::dict prediction_columns(const std::vector<Prediction>& rows) {
  std::vector<double> value, se, cl, ch, pl, ph;
  for (const Prediction& p : rows) {
    value.push_back(p.value);
    se.push_back(p.stdError);
    cl.push_back(p.confidenceLow);
    ch.push_back(p.confidenceHigh);
    pl.push_back(p.predictionLow);
    ph.push_back(p.predictionHigh);
  }
  py::dict d;
  d["predicted"] = to_array(value);
  d["std_error"] = to_array(se);
  d["confidence_low"] = to_array(cl);
  d["confidence_high"] = to_array(ch);
  d["prediction_low"] = to_array(pl);
  d["prediction_high"] = to_array(ph);
  return d;
}

py::dict candidate_dict(const Candidate& c) {
  py::dict d;
  d["natural"] = to_array(c.natural);
  d["coded"] = to_array(c.coded);
  d["predictions"] = prediction_columns(c.predictions);
  d["desirability"] = to_array(c.desirability);
  d["overall"] = c.overall;
  d["active_constraints"] = c.activeConstraints;
  return d;
}

std::vector<std::string> term_labels(const Fit& fit) {
  std::vector<std::string> names;
  for (const Factor& f : fit.factors) names.push_back(f.name);
  std::vector<std::string> labels;
  for (std::size_t k = 0; k < fit.termCount(); ++k) labels.push_back(quadratic::termLabel(names, k));
  return labels;
}

py::array_t<double> coefficient_matrix(const Fit& fit, bool natural) {
  Matrix m(fit.models.size(), fit.termCount());
  for (std::size_t j = 0; j < fit.models.size(); ++j) {
    const std::vector<double>& c = natural ? fit.models[j].natural : fit.models[j].coded;
    std::copy(c.begin(), c.end(), m.row(j));
  }
  return to_array(m);
}

py::dict anova_row(const AnovaRow& r) {
  py::dict d;
  d["source"] = r.source;
  d["df"] = r.df;
  d["ss"] = r.ss;
  d["ms"] = r.ms;
  d["f"] = r.f;
  d["p"] = r.p;
  return d;
}

py::list anova_rows(const std::vector<AnovaRow>& rows) {
  py::list out;
  for (const AnovaRow& r : rows) out.append(anova_row(r));
  return out;
}

// A ridge or steepest path as columns: radius, settings (points x factors,
// coded and natural), the prediction with its intervals, and the model.
py::dict path_dict(const std::vector<Factor>& factors, const ModelBuild& build, const std::vector<PathPoint>& path) {
  Matrix coded(path.size(), factors.size());
  Matrix natural(path.size(), factors.size());
  std::vector<double> radius, value, se, ciLow, ciHigh, piLow, piHigh;
  std::vector<bool> inside;
  for (std::size_t k = 0; k < path.size(); ++k) {
    const PathPoint& p = path[k];
    for (std::size_t i = 0; i < factors.size(); ++i) {
      coded(k, i) = p.coded[i];
      natural(k, i) = toNatural(factors[i], p.coded[i]);
    }
    radius.push_back(p.radius);
    value.push_back(p.prediction.value);
    se.push_back(p.prediction.stdError);
    ciLow.push_back(p.prediction.confidenceLow);
    ciHigh.push_back(p.prediction.confidenceHigh);
    piLow.push_back(p.prediction.predictionLow);
    piHigh.push_back(p.prediction.predictionHigh);
    inside.push_back(p.insideRegion);
  }
  py::dict d;
  d["model"] = formatModelTerms(build.fit.terms, build.fit.factorNames);
  d["transform_power"] = build.transform ? py::object(py::float_(build.transform->lambda)) : py::object(py::none());
  d["radius"] = to_array(radius);
  d["coded"] = to_array(coded);
  d["natural"] = to_array(natural);
  d["predicted"] = to_array(value);
  d["std_error"] = to_array(se);
  d["confidence_low"] = to_array(ciLow);
  d["confidence_high"] = to_array(ciHigh);
  d["prediction_low"] = to_array(piLow);
  d["prediction_high"] = to_array(piHigh);
  d["inside_region"] = inside;
  return d;
}

// One build of a response's model as plain values (dicts, lists, floats).
py::dict model_build_dict(const ModelBuild& b, const ModelRequest& request) {
  const ModelFit& f = b.fit;
  py::dict d;
  d["start_model"] = formatModelTerms(b.start, f.factorNames);
  d["model"] = formatModelTerms(f.terms, f.factorNames);
  d["hierarchy"] = f.hierarchy;
  d["runs"] = f.runs;
  d["residual_df"] = f.residualDf;
  d["not_estimable"] = f.notEstimable;
  d["transform_power"] = b.transform ? py::object(py::float_(b.transform->lambda)) : py::object(py::none());
  d["box_cox"] = py::none();
  if (b.boxCox) {
    py::dict bc;
    bc["lambda"] = b.boxCox->lambda;
    bc["lower"] = b.boxCox->lower;
    bc["upper"] = b.boxCox->upper;
    bc["recommended"] = b.boxCox->recommended;
    bc["recommendation"] = b.boxCox->recommendation;
    d["box_cox"] = bc;
  }
  d["reduction"] = py::none();
  if (b.reduction) {
    py::list steps;
    for (const ReductionStep& s : b.reduction->steps) {
      py::dict step;
      step["removed"] = s.term;
      step["forced"] = s.forced;
      step["p"] = s.p;
      step["delta_aicc"] = s.deltaAicc;
      step["remaining"] = formatModelTerms(s.remaining, f.factorNames);
      steps.append(step);
    }
    d["reduction"] = steps;
  }
  py::list estimates;
  for (const TermEstimate& t : f.estimates) {
    py::dict e;
    e["term"] = t.term;
    e["block"] = t.block;
    e["value"] = t.estimate.value;
    e["std_error"] = t.estimate.stdError;
    e["t"] = t.estimate.t;
    e["p"] = t.estimate.p;
    e["lower"] = t.estimate.lower;
    e["upper"] = t.estimate.upper;
    estimates.append(e);
  }
  d["coefficients"] = estimates;
  d["quadratic_coefficients"] = f.coefficients;
  d["sigma"] = f.sigma;
  d["r_squared"] = f.rSquared;
  d["adjusted_r_squared"] = f.adjustedRSquared;
  d["aicc"] = f.aicc;
  py::dict a;
  a["sequential"] = anova_rows(b.anova.sequential);
  a["partial"] = anova_rows(b.anova.partial);
  a["model"] = anova_row(b.anova.model);
  a["residual"] = anova_row(b.anova.residual);
  a["lack_of_fit"] = anova_row(b.anova.lackOfFit);
  a["pure_error"] = anova_row(b.anova.pureError);
  a["lack_of_fit_reason"] = b.anova.lackOfFitReason;
  a["total"] = anova_row(b.anova.total);
  d["anova"] = a;
  py::list runs;
  for (const RunDiagnostic& r : b.diagnostics.runs) {
    py::dict run;
    run["run"] = r.row + 1;
    run["order"] = r.order;
    run["residual"] = r.residual;
    run["leverage"] = r.leverage;
    run["externally_studentized"] = r.externallyStudentized;
    run["dffits"] = r.dffits;
    run["cooks_distance"] = r.cooksDistance;
    run["bonferroni_p"] = r.bonferroniP;
    run["outlier"] = r.outlier;
    run["normal_score"] = r.normalScore;
    runs.append(run);
  }
  py::dict diagnostics;
  diagnostics["alpha"] = b.diagnostics.alpha;
  diagnostics["durbin_watson"] = b.diagnostics.durbinWatson;
  diagnostics["runs"] = runs;
  d["diagnostics"] = diagnostics;
  const Verdict v = buildVerdict(b, request);
  py::dict verdict;
  verdict["warning"] = v.warning;
  verdict["text"] = v.text;
  verdict["findings"] = v.findings;
  d["verdict"] = verdict;
  return d;
}

void bind_study(py::module_& m) {
  py::class_<Study>(m, "Study", "The C++ study; use tavrin.Study.")
      .def(py::init([](const std::string& kind, const std::vector<FactorTuple>& factors,
                       const std::vector<ResponseTuple>& responses, const py::object& seed, int extra_center_runs) {
             std::vector<Response> rs;
             for (const auto& [name, unit] : responses) rs.push_back({name, unit});
             return Study(parseDesignKind(kind), to_factors(factors), std::move(rs),
                          plan_options(optional_seed(seed), extra_center_runs));
           }),
           py::arg("kind"), py::arg("factors"), py::arg("responses"), py::arg("seed"), py::arg("extra_center_runs"))
      .def_property_readonly("kind", [](const Study& s) { return std::string(designKindName(s.kind())); })
      .def_property_readonly("factors", [](const Study& s) { return from_factors(s.factors()); })
      .def_property_readonly("responses", [](const Study& s) { return from_responses(s.responses()); })
      .def_property_readonly("seed", [](const Study& s) { return s.plan().seed; })
      .def_property_readonly("extra_center_runs", [](const Study& s) { return s.plan().extraCenterRuns; })
      .def_property_readonly("coded", [](const Study& s) { return to_array(s.plan().coded); })
      .def_property_readonly("natural", [](const Study& s) { return to_array(s.plan().natural); })
      .def_property_readonly("actual", [](const Study& s) { return to_array(s.plan().actual); })
      .def_property_readonly("blocks", [](const Study& s) { return s.plan().blocks; })
      .def_property_readonly("origins",
                             [](const Study& s) {
                               std::vector<std::string> out;
                               for (const RunOrigin o : s.plan().origins) out.emplace_back(runOriginName(o));
                               return out;
                             })
      .def("factor_spans",
           [](const Study& s) {
             py::list out;
             for (const FactorSpan& f : spans(s.plan()))
               out.append(py::make_tuple(f.name, f.low, f.high, f.lowCoded, f.highCoded));
             return out;
           })
      .def("enter_results",
           [](Study& s, const std::vector<std::string>& columns, const Array& values, bool actual) {
             s.enterResults(columns, to_matrix(values, "values"),
                            actual ? SettingsColumns::RecordActual : SettingsColumns::Check);
           },
           py::arg("columns"), py::arg("values"), py::arg("actual"))
      .def_static("from_table",
                  [](const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                     const std::vector<FactorTuple>& factors, const std::vector<std::pair<std::string, std::string>>& responses,
                     const std::string& block) {
                    std::vector<Response> rs;
                    for (const auto& [name, unit] : responses) rs.push_back({name, unit});
                    std::vector<std::string> ignored;
                    Study study = Study::fromTable(header, rows, to_factors(factors), std::move(rs), block, &ignored);
                    return py::make_tuple(std::move(study), ignored);
                  },
                  py::arg("header"), py::arg("rows"), py::arg("factors"), py::arg("responses"), py::arg("block"))
      .def_property_readonly("execution_order", [](const Study& s) { return s.plan().executionOrder; })
      .def_property_readonly("results", [](const Study& s) { return to_array(s.results()); })
      .def("factor_index", &Study::factorIndex, py::arg("name"))
      .def("response_index", &Study::responseIndex, py::arg("name"))
      .def("set_result",
           [](Study& s, int run, const std::string& response, const py::object& value) {
             s.setResult(run, response, number_arg(value, "value"));
           },
           py::arg("run"), py::arg("response"), py::arg("value"))
      .def("result", &Study::result, py::arg("run"), py::arg("response"))
      // All or nothing: the values go into a copy, which replaces the study
      // only when every one was taken.
      .def("set_results",
           [](Study& s, const std::vector<int>& runs, const std::vector<std::string>& responses, const Array& values) {
             const Matrix v = to_matrix(values, "values");
             if (v.rows() != runs.size() || v.cols() != responses.size()) {
               throw InvalidArgument("values must be runs x responses (" + std::to_string(runs.size()) + " x " +
                                     std::to_string(responses.size()) + ")");
             }
             Study updated = s;
             for (std::size_t r = 0; r < runs.size(); ++r)
               for (std::size_t c = 0; c < responses.size(); ++c) updated.setResult(runs[r], responses[c], v(r, c));
             s = std::move(updated);
           },
           py::arg("runs"), py::arg("responses"), py::arg("values"))
      // (run, response, value) cells, all or nothing as above; only the
      // cells given change.
      .def("set_result_cells",
           [](Study& s, const std::vector<std::tuple<int, std::string, double>>& cells) {
             Study updated = s;
             for (const auto& [run, response, value] : cells) updated.setResult(run, response, value);
             s = std::move(updated);
           },
           py::arg("cells"))
      .def("missing",
           [](const Study& s) {
             std::vector<std::pair<int, std::string>> out;
             for (const MissingResult& m : s.missing()) out.emplace_back(m.runId, m.response);
             return out;
           })
      .def("fit", &Study::fit)
      .def("verdict",
           [](const Study& s, const std::string& response, double confidence, const SigmaMap& sigma) {
             const Fit fit = s.fit();
             const Verdict v = modelVerdict(s, fit, fit.responseIndex(response), analysis_options(confidence, sigma));
             return std::make_tuple(v.warning, v.text, v.findings);
           },
           py::arg("response"), py::arg("confidence"), py::arg("sigma"))
      .def("report_html",
           [](const Study& s, const std::optional<std::vector<Goal>>& goals, const std::vector<Constraint>& constraints,
              const Region& region, const SearchOptions& options, const SigmaMap& sigma, const py::object& replicates,
              const py::object& seed, const std::string& title) {
             report::ReportRequest request;
             request.title = title;
             if (goals) request.goals = to_goals(*goals, constraints, region);
             request.search = options;
             request.robustness.sigma = sigma;
             request.robustness.replicates = count_arg(replicates, "robustness.replicates");
             request.robustness.seed = seed_arg(seed);
             request.robustness.threads = options.threads;
             py::gil_scoped_release nogil;
             return report::html(s, request);
           },
           py::arg("goals"), py::arg("constraints"), py::arg("region"), py::arg("options"), py::arg("sigma"),
           py::arg("replicates"), py::arg("seed"), py::arg("title"))
      .def("build_model",
           [](Study& s, const std::string& response, const std::string& model, const std::string& transform,
              bool reduce, double p_to_remove, bool aicc, const std::vector<std::string>& force_in,
              const std::vector<std::string>& force_out, double confidence, double outlier_alpha, bool keep) {
             ModelRequest request;
             request.model = model;
             request.transform = transform;
             request.reduce = reduce;
             request.reduction.criterion = aicc ? ReductionOptions::Aicc : ReductionOptions::PValue;
             request.reduction.pToRemove = p_to_remove;
             request.reduction.forceIn = force_in;
             request.reduction.forceOut = force_out;
             request.confidence = confidence;
             request.outlierAlpha = outlier_alpha;
             return model_build_dict(
                 keep ? chooseModel(s, response, request) : buildModel(modelData(s, response), request), request);
           },
           py::arg("response"), py::arg("model"), py::arg("transform"), py::arg("reduce"), py::arg("p_to_remove"),
           py::arg("aicc"), py::arg("force_in"), py::arg("force_out"), py::arg("confidence"),
           py::arg("outlier_alpha"), py::arg("keep") = false)
      .def("path",
           [](const Study& s, const std::string& response, const std::string& model, bool ridge, bool maximize,
              double radius, const std::string& factor, double step, int steps, double confidence) {
             const ModelBuild build = pathModel(s, response, model, confidence);
             const std::vector<PathPoint> path =
                 ridge ? ridgeAnalysis(build, radius, steps, maximize, confidence)
                       : steepestAscent(build, s.factors(), s.factorIndex(factor), step, steps, maximize, confidence);
             return path_dict(s.factors(), build, path);
           },
           py::arg("response"), py::arg("model"), py::arg("ridge"), py::arg("maximize"), py::arg("radius"),
           py::arg("factor"), py::arg("step"), py::arg("steps"), py::arg("confidence"))
      .def("model_choice",
           [](const Study& s, const std::string& response) {
             const ModelChoice& c = s.modelChoice(response);
             py::list forceIn, forceOut;
             for (const std::string& t : c.reduction.forceIn) forceIn.append(t);
             for (const std::string& t : c.reduction.forceOut) forceOut.append(t);
             py::dict d;
             d["model"] = c.model;
             d["transform"] = c.transform;
             d["reduce"] = c.reduce;
             d["aicc"] = c.reduction.criterion == ReductionOptions::Aicc;
             d["p_to_remove"] = c.reduction.pToRemove;
             d["force_in"] = forceIn;
             d["force_out"] = forceOut;
             d["terms"] = c.terms;
             d["power"] = std::isnan(c.power) ? py::object(py::none()) : py::object(py::float_(c.power));
             return d;
           },
           py::arg("response"))
      .def("run_sheet", &Study::runSheet)
      .def("read_results",
           [](Study& s, const std::string& text, const std::string& source, bool actual) {
             std::istringstream in(text);
             s.readResults(in, source, actual ? SettingsColumns::RecordActual : SettingsColumns::Check);
           },
           py::arg("text"), py::arg("source"), py::arg("actual") = false)
      .def("read_results_file",
           [](Study& s, const py::object& path, bool actual) {
             s.readResultsFile(to_path(path), actual ? SettingsColumns::RecordActual : SettingsColumns::Check);
           },
           py::arg("path"), py::arg("actual") = false)
      .def("to_json", &Study::toJson)
      .def_static("from_json", [](const std::string& text, const std::string& source) { return Study::fromJson(text, source); },
                  py::arg("text"), py::arg("source"))
      .def("save", [](const Study& s, const py::object& path) { s.save(to_path(path)); }, py::arg("path"))
      .def_static("load", [](const py::object& path) { return Study::load(to_path(path)); }, py::arg("path"))
      .def("export_plan_file", [](const Study& s, const py::object& path) { s.exportPlanFile(to_path(path)); },
           py::arg("path"))
      .def_static("import_plan_file",
                  [](const py::object& path, const py::object& seed, int extra_center_runs) {
                    return Study::importPlanFile(to_path(path), plan_options(optional_seed(seed), extra_center_runs));
                  },
                  py::arg("path"), py::arg("seed"), py::arg("extra_center_runs"))
      .def("copy", [](const Study& s) { return Study(s); });
}

void bind_fit(py::module_& m) {
  py::class_<Fit>(m, "Fit", "The C++ fit; use tavrin.Fit.")
      .def_property_readonly("factors", [](const Fit& f) { return from_factors(f.factors); })
      .def_property_readonly("responses", [](const Fit& f) { return from_responses(f.responses); })
      .def_property_readonly("run_ids", [](const Fit& f) { return f.runIds; })
      .def_property_readonly("design", [](const Fit& f) { return to_array(f.design); })
      .def_property_readonly("observations", [](const Fit& f) { return to_array(f.observations); })
      .def_property_readonly("leverages",
                             [](const Fit& f) {
                               // runs x responses: each response's model has its own.
                               Matrix m(f.runCount(), f.models.size());
                               for (std::size_t j = 0; j < f.models.size(); ++j)
                                 for (std::size_t r = 0; r < f.runCount(); ++r) m(r, j) = f.models[j].leverages[r];
                               return to_array(m);
                             })
      .def_property_readonly("residual_df",
                             [](const Fit& f) { return static_cast<int>(f.runCount()) - static_cast<int>(f.termCount()); })
      .def_property_readonly("term_labels", &term_labels)
      .def("coefficients", &coefficient_matrix, py::arg("natural"))
      .def("predict", [](const Fit& f, const Array& points) { return to_array(predict(f, to_matrix(points, "X"))); },
           py::arg("points"))
      .def("extrapolated_points", [](const Fit& f, const Array& points) { return extrapolatedPoints(f, to_matrix(points, "X")); },
           py::arg("points"), "Zero-based rows of points beyond the span the runs cover, where the model extrapolates.")
      .def("predict_with_intervals",
           [](const Fit& f, std::size_t response, const Array& points, double confidence, const SigmaMap& sigma) {
             return prediction_columns(
                 predictWithIntervals(f, response, to_matrix(points, "X"), analysis_options(confidence, sigma)));
           },
           py::arg("response"), py::arg("points"), py::arg("confidence"), py::arg("sigma"))
      .def("analyze",
           [](const Fit& f, std::size_t response, double confidence, const SigmaMap& sigma) {
             return analyze(f, response, analysis_options(confidence, sigma));
           },
           py::arg("response"), py::arg("confidence"), py::arg("sigma"))
      .def("canonical", &canonicalAnalysis, py::arg("response"), py::arg("ridge_tolerance"))
      .def("complete_goals",
           [](const Fit& f, const std::vector<Goal>& goals, const Region& region, const SearchOptions& options) {
             const Goals g = to_goals(goals, {}, region);
             py::gil_scoped_release nogil;
             return completeGoals(f, g, options).goals;
           },
           py::arg("goals"), py::arg("region"), py::arg("options"))
      .def("optimize",
           [](const Fit& f, const std::vector<Goal>& goals, const std::vector<Constraint>& constraints,
              const Region& region, SearchOptions options, double confidence, const SigmaMap& sigma) {
             const Goals g = to_goals(goals, constraints, region);
             options.analysis = analysis_options(confidence, sigma);
             py::gil_scoped_release nogil;
             return optimize(f, g, options);
           },
           py::arg("goals"), py::arg("constraints"), py::arg("region"), py::arg("options"), py::arg("confidence"),
           py::arg("sigma"))
      .def("robustness",
           [](const Fit& f, const std::vector<Goal>& goals, const std::vector<Constraint>& constraints,
              const Region& region, const Optimum& nominal, const SigmaMap& sigma, const py::object& replicates,
              const py::object& seed, const py::object& threads, const std::vector<double>& percentiles) {
             const Goals g = to_goals(goals, constraints, region);
             RobustnessOptions options;
             options.sigma = sigma;
             options.replicates = count_arg(replicates, "robustness.replicates");
             options.seed = seed_arg(seed);
             options.threads = count_arg(threads, "robustness.threads");
             options.percentiles = percentiles;
             options.progress = signal_check();
             py::gil_scoped_release nogil;
             return robustness(f, g, nominal, options);
           },
           py::arg("goals"), py::arg("constraints"), py::arg("region"), py::arg("nominal"), py::arg("sigma"),
           py::arg("replicates"), py::arg("seed"), py::arg("threads"), py::arg("percentiles"));
}

void bind_results(py::module_& m) {
  py::class_<FitReport>(m, "FitReport")
      .def_readonly("response", &FitReport::response)
      .def_readonly("unit", &FitReport::unit)
      .def_readonly("confidence", &FitReport::confidence)
      .def_readonly("runs", &FitReport::runs)
      .def_readonly("terms", &FitReport::terms)
      .def_readonly("residual_df", &FitReport::residualDf)
      .def_readonly("sigma_known", &FitReport::sigmaKnown)
      .def_readonly("sigma", &FitReport::sigma)
      .def_readonly("not_estimable", &FitReport::notEstimable)
      .def_readonly("r_squared", &FitReport::rSquared)
      .def_readonly("adjusted_r_squared", &FitReport::adjustedRSquared)
      .def_readonly("rmse", &FitReport::rmse)
      .def_readonly("press", &FitReport::press)
      .def_readonly("predicted_r_squared", &FitReport::predictedRSquared)
      .def_readonly("f_statistic", &FitReport::fStatistic)
      .def_readonly("f_df_model", &FitReport::fDfModel)
      .def_readonly("f_p_value", &FitReport::fPValue)
      .def_readonly("residual_ss", &FitReport::residualSS)
      .def_readonly("total_ss", &FitReport::totalSS)
      .def_readonly("blocks_df", &FitReport::blocksDf)
      .def_readonly("blocks_ss", &FitReport::blocksSS)
      .def_property_readonly("terms_labels",
                             [](const FitReport& r) {
                               std::vector<std::string> out;
                               for (const CoefficientRow& row : r.coefficients) out.push_back(row.term);
                               return out;
                             })
      .def("coefficient_columns", [](const FitReport& r, bool natural) { return estimate_columns(r.coefficients, natural); },
           py::arg("natural"))
      .def_property_readonly("diagnostic_columns", [](const FitReport& r) { return diagnostic_columns(r.diagnostics); })
      .def_property_readonly("lack_of_fit", [](const FitReport& r) {
        const LackOfFit& l = r.lackOfFit;
        py::dict d;
        d["available"] = l.available;
        d["reason"] = l.reason;
        d["pure_error_df"] = l.pureErrorDf;
        d["lack_of_fit_df"] = l.lackOfFitDf;
        d["pure_error_ss"] = l.pureErrorSS;
        d["lack_of_fit_ss"] = l.lackOfFitSS;
        d["f"] = l.f;
        d["p"] = l.p;
        return d;
      });

  py::class_<Canonical>(m, "Canonical")
      .def_readonly("response", &Canonical::response)
      .def_readonly("factors", &Canonical::factors)
      .def_property_readonly("kind", [](const Canonical& c) { return std::string(canonicalKindName(c.kind)); })
      .def_readonly("ridge_tolerance", &Canonical::ridgeTolerance)
      .def_readonly("has_stationary_point", &Canonical::hasStationaryPoint)
      .def_property_readonly("stationary_coded", [](const Canonical& c) { return to_array(c.stationaryCoded); })
      .def_property_readonly("stationary_natural", [](const Canonical& c) { return to_array(c.stationaryNatural); })
      .def_readonly("predicted_at_stationary", &Canonical::predictedAtStationary)
      .def_readonly("power", &Canonical::power)
      .def_property_readonly("eigenvalues", [](const Canonical& c) { return to_array(c.eigenvalues); })
      .def_property_readonly("eigenvectors", [](const Canonical& c) { return to_array(c.eigenvectors); })
      .def_readonly("inside_region", &Canonical::insideRegion)
      .def_readonly("distance_from_center", &Canonical::distanceFromCenter);

  m.def("format_report", &formatReport, py::arg("report"), py::arg("canonical"));
  m.def("statistic_meanings", [] {
    std::vector<std::tuple<std::string, std::string, std::string>> out;
    for (const Meaning& meaning : statisticMeanings())
      out.emplace_back(std::string(meaning.key), std::string(meaning.name), std::string(meaning.text));
    return out;
  });

  py::class_<Optimum>(m, "Optimum")
      .def_readonly("points_searched", &Optimum::pointsSearched)
      .def_readonly("admissible_points", &Optimum::admissiblePoints)
      .def_property_readonly("candidates", [](const Optimum& o) {
        py::list out;
        for (const Candidate& c : o.candidates) out.append(candidate_dict(c));
        return out;
      });

  py::class_<Robustness>(m, "Robustness")
      .def_readonly("sigma", &Robustness::sigma)
      .def_readonly("sigma_source", &Robustness::sigmaSource)
      .def_property_readonly("nominal", [](const Robustness& r) { return to_array(r.nominal); })
      .def_readonly("percentiles", &Robustness::percentiles)
      .def_property_readonly("setting_percentiles", [](const Robustness& r) { return to_array(r.settingPercentiles); })
      .def_property_readonly("prediction_percentiles",
                             [](const Robustness& r) { return to_array(r.predictionPercentiles); })
      .def_property_readonly("prediction_mean", [](const Robustness& r) { return to_array(r.predictionMean); })
      .def_property_readonly("prediction_std", [](const Robustness& r) { return to_array(r.predictionStdDev); })
      .def_property_readonly("constraint_probability",
                             [](const Robustness& r) { return to_array(r.constraintProbability); })
      .def_property_readonly("optima", [](const Robustness& r) { return to_array(r.optima); })
      .def_readonly("replicates", &Robustness::replicates)
      .def_readonly("failed_replicates", &Robustness::failedReplicates);
}

}  // namespace

// The plot data (views_module.cpp).
void bind_views(py::module_& m);

// ------------------------------------------------------------ held designs

// An alpha as a name or a number; the layer checks the number.
std::optional<Alpha> alpha_of(const py::object& alpha) {
  if (py::isinstance<py::str>(alpha)) return parseAlpha(alpha.cast<std::string>());
  if (alpha.is_none()) return std::nullopt;
  return Alpha{AlphaKind::Value, number_arg(alpha, "alpha")};
}

DesignRecipe recipe_of(const std::vector<Factor>& factors, const py::object& alpha, std::optional<bool> inscribed,
                       std::optional<int> center_runs, std::optional<int> blocks, std::optional<int> fraction,
                       std::optional<int> levels, const std::string& model, std::size_t runs,
                       const std::optional<std::string>& criterion, const std::vector<std::string>& constraints) {
  DesignRecipe recipe;
  DesignOptions& o = recipe.options;
  o.alpha = alpha_of(alpha);
  if (o.alpha && o.alpha->kind == AlphaKind::Value && !(o.alpha->value > 0 && std::isfinite(o.alpha->value)))
    throw InvalidArgument("alpha must be a positive number or a name", "alpha");
  o.inscribed = inscribed;
  o.centerRuns = center_runs;
  o.blocks = blocks;
  o.fraction = fraction;
  o.levels = levels;
  recipe.model = model;
  recipe.runs = runs;
  if (criterion) recipe.criterion = parseCriterion(*criterion);
  std::vector<std::string> names;
  for (const Factor& f : factors) names.push_back(f.name);
  for (const std::string& c : constraints) recipe.constraints.push_back(parseConstraint(c, names));
  return recipe;
}

py::dict recipe_dict(const Study& s) {
  const DesignRecipe& r = s.plan().design;
  std::vector<std::string> names;
  for (const Factor& f : s.factors()) names.push_back(f.name);
  py::dict d;
  const DesignOptions& o = r.options;
  if (o.alpha && o.alpha->kind == AlphaKind::Value) d["alpha"] = o.alpha->value;
  else if (o.alpha) d["alpha"] = std::string(detail::alphaName(o.alpha->kind));
  if (o.inscribed) d["inscribed"] = *o.inscribed;
  if (o.centerRuns) d["center_runs"] = *o.centerRuns;
  if (o.blocks) d["blocks"] = *o.blocks;
  if (o.fraction) d["fraction"] = *o.fraction;
  if (o.levels) d["levels"] = *o.levels;
  if (!r.model.empty()) d["model"] = r.model;
  if (r.runs != 0) d["runs"] = r.runs;
  if (r.criterion) d["criterion"] = std::string(criterionName(*r.criterion));
  py::list constraints;
  for (const LinearConstraint& c : r.constraints) constraints.append(formatConstraint(c, names));
  if (!r.constraints.empty()) d["constraints"] = constraints;
  py::list added;
  for (const Augmentation& a : s.plan().augmentations) {
    py::dict item;
    item["runs"] = a.runs;
    if (a.fold) {
      const Alpha& alpha = *a.fold->alpha;
      item["fold"] = true;
      item["alpha"] = alpha.kind == AlphaKind::Value ? py::object(py::float_(alpha.value))
                                                      : py::object(py::str(detail::alphaName(alpha.kind)));
      item["center_runs"] = *a.fold->centerRuns;
    } else {
      item["criterion"] = std::string(criterionName(a.criterion));
      item["model"] = a.model;
    }
    item["seed"] = a.seed;
    item["block"] = a.block;
    added.append(item);
  }
  d["augmentations"] = added;
  return d;
}

py::dict evaluation_dict(const Study& s, const std::string& model) {
  const DesignEvaluation e = s.evaluate(model);
  std::vector<std::string> names;
  for (const Factor& f : s.factors()) names.push_back(f.name);
  const ModelTerms terms = model.empty() ? s.designModel() : parseModelTerms(model, names);
  std::vector<std::string> labels;
  for (const std::size_t index : terms.indices) labels.push_back(quadratic::termLabel(names, index));
  py::dict d;
  d["model"] = formatModelTerms(terms, names);
  d["terms"] = labels;
  d["runs"] = e.runs;
  d["residual_df"] = e.residualDf;
  d["d_efficiency"] = e.dEfficiency;
  d["a_efficiency"] = e.aEfficiency;
  d["g_efficiency"] = e.gEfficiency;
  d["i_criterion"] = e.iCriterion;
  d["condition_number"] = e.conditionNumber;
  d["coefficient_variance"] = to_array(e.coefficientVariance);
  d["vif"] = to_array(e.vif);
  d["power"] = to_array(e.power);
  d["correlations"] = to_array(e.correlations);
  d["fds_fractions"] = to_array(e.fdsFractions);
  d["fds_spv"] = to_array(e.fdsSpv);
  return d;
}

void bind_designs(py::module_& m) {
  m.def("design_study",
        [](const std::string& kind, const std::vector<FactorTuple>& factors, const std::vector<ResponseTuple>& responses,
           const py::object& seed, const py::object& alpha, std::optional<bool> inscribed, std::optional<int> center_runs,
           std::optional<int> blocks, std::optional<int> fraction, std::optional<int> levels, const std::string& model,
           std::size_t runs, const std::optional<std::string>& criterion, const std::vector<std::string>& constraints) {
          std::vector<Factor> fs = to_factors(factors);
          std::vector<Response> rs;
          for (const auto& [name, unit] : responses) rs.push_back({name, unit});
          PlanOptions options = plan_options(optional_seed(seed), 0);
          options.design = recipe_of(fs, alpha, inscribed, center_runs, blocks, fraction, levels, model, runs, criterion,
                                     constraints);
          return Study(parseDesignKind(kind), std::move(fs), std::move(rs), options);
        },
        py::arg("kind"), py::arg("factors"), py::arg("responses"), py::arg("seed"), py::arg("alpha"),
        py::arg("inscribed"), py::arg("center_runs"), py::arg("blocks"), py::arg("fraction"), py::arg("levels"),
        py::arg("model"), py::arg("runs"), py::arg("criterion"), py::arg("constraints"));
  m.def("augment",
        [](Study& s, std::size_t runs, const std::string& criterion, const std::string& model, const py::object& seed,
           const py::object& cloud) {
          AugmentRequest request;
          request.runs = runs;
          request.criterion = parseCriterion(criterion);
          request.model = model;
          request.seed = optional_seed(seed);
          if (!cloud.is_none()) request.cloud = to_matrix(cloud.cast<Array>(), "cloud");
          s.augment(request);
        },
        py::arg("study"), py::arg("runs"), py::arg("criterion"), py::arg("model"), py::arg("seed"), py::arg("cloud"));
  m.def("augment_for_goals",
        [](Study& s, std::size_t runs, const std::string& criterion, const std::string& model, const py::object& seed,
           const std::vector<Goal>& goals, const std::vector<Constraint>& constraints,
           const std::map<std::string, std::pair<double, double>>& region,
           unsigned replicates, unsigned threads) {
          AugmentRequest request;
          request.runs = runs;
          request.criterion = parseCriterion(criterion);
          request.model = model;
          request.seed = optional_seed(seed);
          request.replicates = replicates;
          request.threads = threads;
          const Goals g = to_goals(goals, constraints, region);
          py::gil_scoped_release nogil;
          s.augment(request, g);
        },
        py::arg("study"), py::arg("runs"), py::arg("criterion"), py::arg("model"), py::arg("seed"), py::arg("goals"),
        py::arg("constraints"), py::arg("region"), py::arg("replicates"), py::arg("threads"));
  m.def("fold",
        [](Study& s, const py::object& alpha, std::optional<int> center_runs, const py::object& seed) {
          FoldRequest request;
          request.options.alpha = alpha_of(alpha);
          request.options.centerRuns = center_runs;
          request.seed = optional_seed(seed);
          s.fold(request);
        },
        py::arg("study"), py::arg("alpha"), py::arg("center_runs"), py::arg("seed"));
  m.def("evaluate", &evaluation_dict, py::arg("study"), py::arg("model"));
  m.def("recipe", &recipe_dict, py::arg("study"));
}

PYBIND11_MODULE(_study, m) {
  m.doc() = "The study layer: plan, fit, analysis and optimum (wrapped by tavrin.Study).";
  py::module_ errors = py::module_::import("tavrin._errors");
  g_errors = new ErrorTypes{errors.attr("Error"),      errors.attr("InvalidArgument"),  errors.attr("UnknownName"),
                            errors.attr("StateError"), errors.attr("FileError"),        errors.attr("MissingFileError"),
                            errors.attr("ParseError")};
  py::register_exception_translator(&translate);

  m.def("design_kind_name", [](const std::string& text) { return std::string(designKindName(parseDesignKind(text))); },
        py::arg("text"));
  m.def("supported_factor_counts",
        [](const std::string& kind) { return supportedFactorCounts(parseDesignKind(kind)); }, py::arg("kind"));
  m.attr("MAX_NAME_BYTES") = kMaxNameBytes;
  bind_designs(m);
  bind_goals(m);
  bind_study(m);
  bind_fit(m);
  bind_results(m);
  bind_views(m);
}
