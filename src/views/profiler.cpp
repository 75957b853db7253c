// The prediction profiler: each response along each factor with its
// confidence band, the other factors held, and the overall desirability.
#include <cmath>

#include "optimum/problem.h"
#include "study/not_a_number.h"
#include "tavrin/error.h"
#include "tavrin/views.h"
#include "views/grid.h"

namespace tavrin::views {

namespace {

bool hasDesirabilityGoal(const Goals& goals) {
  for (const Goal& g : goals.goals)
    if (g.kind != Goal::WeightedSum) return true;
  return false;
}

// The overall desirability at each point, from the problem's own rule.
std::vector<double> overallAt(const Fit& fit, const optimum::Problem& problem, const Matrix& points) {
  const Matrix predicted = predict(fit, points);
  std::vector<double> out(points.rows());
  std::vector<double> slots(problem.slotCount());
  for (std::size_t k = 0; k < points.rows(); ++k) {
    for (std::size_t s = 0; s < slots.size(); ++s) slots[s] = predicted(k, problem.responses[s]);
    out[k] = optimum::overall(problem, slots.data());
  }
  return out;
}

ProfilerTrace trace(const Fit& fit, std::size_t factor, std::size_t response, const std::vector<double>& setting,
                    std::size_t steps, const AnalysisOptions& options) {
  ProfilerTrace t;
  t.factor = factor;
  t.response = response;
  t.x = detail::along(fit, factor, steps);
  for (const Prediction& p : predictWithIntervals(fit, response, detail::sweep(setting, factor, t.x), options)) {
    t.value.push_back(p.value);
    t.lower.push_back(p.confidenceLow);
    t.upper.push_back(p.confidenceHigh);
  }
  return t;
}

void addDesirability(const Fit& fit, const Goals& goals, std::size_t steps, Profiler& out) {
  if (!hasDesirabilityGoal(goals)) return;
  const optimum::Problem problem = optimum::compileProblem(fit, completeGoals(fit, goals));
  const Matrix here = detail::sweep(out.setting, 0, {out.setting[0]});
  out.overallAtSetting = overallAt(fit, problem, here).front();
  for (std::size_t f = 0; f < fit.factorCount(); ++f) {
    DesirabilityTrace d;
    d.factor = f;
    d.x = detail::along(fit, f, steps);
    d.overall = overallAt(fit, problem, detail::sweep(out.setting, f, d.x));
    out.desirability.push_back(std::move(d));
  }
}

}  // namespace

std::vector<double> centreSetting(const Fit& fit) {
  std::vector<double> centre;
  for (std::size_t f = 0; f < fit.factorCount(); ++f)
    centre.push_back(0.5 * (detail::spanLow(fit, f) + detail::spanHigh(fit, f)));
  return centre;
}

Profiler profiler(const Fit& fit, const std::vector<double>& setting, const Goals& goals, std::size_t steps,
                  const AnalysisOptions& options) {
  detail::checkSteps(steps);
  detail::checkSetting(fit, setting, "setting");
  Profiler out;
  for (const Factor& f : fit.factors) {
    out.factors.push_back(f.name);
    out.units.push_back(f.unit);
  }
  for (const Response& r : fit.responses) {
    out.responses.push_back(r.name);
    out.responseUnits.push_back(r.unit);
  }
  out.setting = setting;
  out.confidence = options.confidence;
  const Matrix here = detail::sweep(setting, 0, {setting[0]});
  for (std::size_t r = 0; r < fit.responses.size(); ++r) {
    out.atSetting.push_back(predictWithIntervals(fit, r, here, options).front());
    if (std::isnan(out.atSetting.back().stdError) && out.bandNote.empty())
      out.bandNote = analyze(fit, r, options).notEstimable;
  }
  for (std::size_t f = 0; f < fit.factorCount(); ++f)
    for (std::size_t r = 0; r < fit.responses.size(); ++r) out.traces.push_back(trace(fit, f, r, setting, steps, options));
  out.overallAtSetting = kNaN;
  addDesirability(fit, goals, steps, out);
  return out;
}

}  // namespace tavrin::views
