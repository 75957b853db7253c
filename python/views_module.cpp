// The plot data of tavrin/views.h for Python: each view as a dict of
// numpy arrays and plain values, drawn by tavrin.plot.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "arrays.h"
#include "tavrin/views.h"

namespace py = pybind11;
using namespace tavrin;

namespace {

using python::to_array;

py::dict grid(const views::Grid& g) {
  py::dict d;
  d["x_factor"] = g.xFactor;
  d["y_factor"] = g.yFactor;
  d["x"] = to_array(g.x);
  d["y"] = to_array(g.y);
  d["held"] = to_array(g.held);
  return d;
}

py::dict runs(const views::DesignPoints& p) {
  py::dict d;
  d["run_ids"] = p.runIds;
  d["x"] = to_array(p.x);
  d["y"] = to_array(p.y);
  d["observed"] = to_array(p.observed);
  return d;
}

py::dict profiler(const Fit& fit, const std::vector<double>& setting, const std::vector<Goal>& goals,
                  const std::vector<Constraint>& constraints, std::size_t steps, double confidence) {
  AnalysisOptions analysis;
  analysis.confidence = confidence;
  const views::Profiler p = views::profiler(fit, setting, Goals{goals, constraints, {}}, steps, analysis);
  py::list traces;
  for (const views::ProfilerTrace& t : p.traces) {
    py::dict d;
    d["factor"] = t.factor;
    d["response"] = t.response;
    d["x"] = to_array(t.x);
    d["value"] = to_array(t.value);
    d["lower"] = to_array(t.lower);
    d["upper"] = to_array(t.upper);
    traces.append(d);
  }
  py::list desirability;
  for (const views::DesirabilityTrace& t : p.desirability) {
    py::dict d;
    d["factor"] = t.factor;
    d["x"] = to_array(t.x);
    d["overall"] = to_array(t.overall);
    desirability.append(d);
  }
  std::vector<double> at;
  for (const Prediction& q : p.atSetting) at.push_back(q.value);
  py::dict d;
  d["setting"] = to_array(p.setting);
  d["at_setting"] = to_array(at);
  d["confidence"] = p.confidence;
  d["band_note"] = p.bandNote;
  d["traces"] = traces;
  d["desirability"] = desirability;
  d["overall_at_setting"] = p.overallAtSetting;
  return d;
}

py::dict slice(const Fit& fit, std::size_t response, std::size_t x, std::size_t y, const std::vector<double>& held,
               std::size_t steps) {
  const views::Slice s = views::slice(fit, response, x, y, held, steps);
  py::dict d = grid(s.grid);
  d["response"] = s.response;
  d["value"] = to_array(s.value);
  d["runs"] = runs(s.runs);
  return d;
}

py::dict overlay(const Fit& fit, const std::vector<Constraint>& constraints, std::size_t x, std::size_t y,
                 const std::vector<double>& held, const Optimum* optimum, std::size_t steps) {
  const views::Overlay o = views::overlay(fit, constraints, x, y, held, optimum, steps);
  py::list limits;
  for (const views::Limit& l : o.limits) {
    py::dict d;
    d["response"] = l.response;
    d["level"] = l.level;
    d["lower"] = l.lower;
    d["value"] = to_array(l.value);
    limits.append(d);
  }
  py::array_t<bool> feasible({static_cast<py::ssize_t>(o.grid.y.size()), static_cast<py::ssize_t>(o.grid.x.size())});
  for (std::size_t k = 0; k < o.feasible.size(); ++k) feasible.mutable_data()[k] = o.feasible[k] != 0;
  py::dict d = grid(o.grid);
  d["limits"] = limits;
  d["feasible"] = feasible;
  d["feasible_fraction"] = o.feasibleFraction;
  d["optimum"] = to_array(o.optimum);
  d["runs"] = runs(o.runs);
  return d;
}

py::dict interaction(const Fit& fit, std::size_t response, std::size_t factor, std::size_t by,
                     const std::vector<double>& held, std::size_t steps) {
  const views::Interaction in = views::interaction(fit, response, factor, by, held, steps);
  py::dict d;
  d["response"] = in.response;
  d["factor"] = in.factor;
  d["by"] = in.by;
  d["x"] = to_array(in.x);
  d["by_low"] = in.byLow;
  d["by_high"] = in.byHigh;
  d["at_low"] = to_array(in.atLow);
  d["at_high"] = to_array(in.atHigh);
  return d;
}

py::dict residuals(const Study& study, const std::string& response) {
  const views::Residuals r = views::residuals(study, response);
  std::vector<int> ids, order;
  std::vector<double> observed, fitted, residual, studentized, normal, leverage, cooks;
  std::vector<bool> outlier;
  Matrix settings(r.runs.size(), r.factors.size());
  for (std::size_t k = 0; k < r.runs.size(); ++k) {
    const views::ResidualPoint& p = r.runs[k];
    ids.push_back(p.runId);
    order.push_back(p.order);
    observed.push_back(p.observed);
    fitted.push_back(p.fitted);
    residual.push_back(p.residual);
    studentized.push_back(p.externallyStudentized);
    normal.push_back(p.normalScore);
    leverage.push_back(p.leverage);
    cooks.push_back(p.cooksDistance);
    outlier.push_back(p.outlier);
    std::copy(p.settings.begin(), p.settings.end(), settings.row(k));
  }
  py::dict d;
  d["response"] = r.response;
  d["unit"] = r.unit;
  d["alpha"] = r.alpha;
  d["run_ids"] = ids;
  d["order"] = order;
  d["observed"] = to_array(observed);
  d["fitted"] = to_array(fitted);
  d["residual"] = to_array(residual);
  d["externally_studentized"] = to_array(studentized);
  d["normal_score"] = to_array(normal);
  d["leverage"] = to_array(leverage);
  d["cooks_distance"] = to_array(cooks);
  d["outlier"] = outlier;
  d["settings"] = to_array(settings);
  return d;
}

py::dict boxCoxView(const Study& study, const std::string& response, const std::string& model) {
  const views::BoxCoxProfile b = views::boxCoxProfile(study, response, model);
  py::dict d;
  d["response"] = b.response;
  d["unit"] = b.unit;
  d["model"] = b.model;
  d["lambda"] = to_array(b.lambda);
  d["log_likelihood"] = to_array(b.logLikelihood);
  d["best"] = b.best;
  d["best_log_likelihood"] = b.bestLogLikelihood;
  d["interval"] = py::make_tuple(b.lower, b.upper);
  d["cut"] = b.cut;
  d["recommended"] = b.recommended;
  d["recommendation"] = b.recommendation;
  return d;
}

py::dict predictionVariance(const Study& study, std::size_t samples, std::uint64_t seed) {
  EvaluationOptions options;
  options.samples = samples;
  options.seed = seed;
  const views::PredictionVariance v = views::predictionVariance(study.plan(), options);
  py::dict d;
  d["fractions"] = to_array(v.fractions);
  d["spv"] = to_array(v.spv);
  d["max_spv"] = v.maxSpv;
  d["mean_spv"] = v.meanSpv;
  d["terms"] = v.terms;
  d["correlations"] = to_array(v.correlations);
  return d;
}

py::dict robustnessCloud(const Fit& fit, const Robustness& result, std::size_t x, std::size_t y) {
  const views::RobustnessCloud c = views::robustnessCloud(fit, result, x, y);
  py::dict d;
  d["x_factor"] = c.xFactor;
  d["y_factor"] = c.yFactor;
  d["x"] = to_array(c.x);
  d["y"] = to_array(c.y);
  d["nominal"] = py::make_tuple(c.nominalX, c.nominalY);
  d["box"] = py::make_tuple(c.boxLowX, c.boxHighX, c.boxLowY, c.boxHighY);
  d["percentiles"] = py::make_tuple(c.lowPercentile, c.highPercentile);
  return d;
}

}  // namespace

void bind_views(py::module_& m) {
  m.def("views_centre", &views::centreSetting, py::arg("fit"));
  m.def("views_profiler", &profiler, py::arg("fit"), py::arg("setting"), py::arg("goals"), py::arg("constraints"),
        py::arg("steps"), py::arg("confidence"));
  m.def("views_slice", &slice, py::arg("fit"), py::arg("response"), py::arg("x"), py::arg("y"), py::arg("held"),
        py::arg("steps"));
  m.def("views_overlay", &overlay, py::arg("fit"), py::arg("constraints"), py::arg("x"), py::arg("y"), py::arg("held"),
        py::arg("optimum"), py::arg("steps"));
  m.def("views_interaction", &interaction, py::arg("fit"), py::arg("response"), py::arg("factor"), py::arg("by"),
        py::arg("held"), py::arg("steps"));
  m.def("views_residuals", &residuals, py::arg("study"), py::arg("response"));
  m.def("views_box_cox", &boxCoxView, py::arg("study"), py::arg("response"), py::arg("model"));
  m.def("views_prediction_variance", &predictionVariance, py::arg("study"), py::arg("samples"), py::arg("seed"));
  m.def("views_robustness_cloud", &robustnessCloud, py::arg("fit"), py::arg("robustness"), py::arg("x"), py::arg("y"));
}
