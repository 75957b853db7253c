// Views over two factors with the others held: a response's surface, the
// sweet-spot overlay of every limit, the interaction plot and the cloud of
// relocated optima.
#include <cmath>

#include "optimum/problem.h"
#include "study/text.h"
#include "tavrin/error.h"
#include "tavrin/views.h"
#include "views/grid.h"

namespace tavrin::views {

namespace {

// compileProblem asks for a goal; admissibility looks only at the hard
// constraints, so limits without goals borrow a Within goal from the first.
Goals limitsOnly(const std::vector<Constraint>& constraints) {
  Goals goals;
  goals.constraints = constraints;
  const Constraint& c = constraints.front();
  Goal g;
  g.response = c.response;
  g.kind = Goal::Within;
  g.low = c.low;
  g.high = c.high;
  goals.goals.push_back(g);
  return goals;
}

std::vector<Limit> limitsOf(const Fit& fit, const std::vector<Constraint>& constraints, const Grid& grid,
                            const Matrix& predicted) {
  std::vector<Limit> limits;
  for (const Constraint& c : constraints) {
    const std::size_t r = fit.responseIndex(c.response);
    if (std::isfinite(c.low)) limits.push_back({r, c.low, true, detail::gridOf(grid, predicted, r)});
    if (std::isfinite(c.high)) limits.push_back({r, c.high, false, detail::gridOf(grid, predicted, r)});
  }
  return limits;
}

}  // namespace

Slice slice(const Fit& fit, std::size_t response, std::size_t xFactor, std::size_t yFactor,
            const std::vector<double>& held, std::size_t steps) {
  detail::checkPair(fit, xFactor, yFactor, "response surface");
  detail::checkResponse(fit, response);
  Slice out;
  out.grid = detail::makeGrid(fit, xFactor, yFactor, held, steps);
  out.response = response;
  out.value = detail::gridOf(out.grid, predict(fit, detail::gridPoints(out.grid)), response);
  out.runs = detail::designPoints(fit, out.grid);
  for (std::size_t r = 0; r < fit.runCount(); ++r) out.runs.observed.push_back(fit.observations(r, response));
  return out;
}

Overlay overlay(const Fit& fit, const std::vector<Constraint>& constraints, std::size_t xFactor, std::size_t yFactor,
                const std::vector<double>& held, const Optimum* optimum, std::size_t steps) {
  detail::checkPair(fit, xFactor, yFactor, "sweet-spot overlay");
  if (constraints.empty())
    throw InvalidArgument("cannot draw the sweet-spot overlay: no response has a limit; give at least one constraint",
                          "constraints");
  const optimum::Problem problem = optimum::compileProblem(fit, limitsOnly(constraints));
  Overlay out;
  out.grid = detail::makeGrid(fit, xFactor, yFactor, held, steps);
  const Matrix predicted = predict(fit, detail::gridPoints(out.grid));
  out.limits = limitsOf(fit, constraints, out.grid, predicted);
  std::vector<double> slots(problem.slotCount());
  std::size_t inside = 0;
  for (std::size_t k = 0; k < predicted.rows(); ++k) {
    for (std::size_t s = 0; s < slots.size(); ++s) slots[s] = predicted(k, problem.responses[s]);
    const bool ok = optimum::admissible(problem, slots.data());
    out.feasible.push_back(ok ? 1 : 0);
    inside += ok ? 1 : 0;
  }
  out.feasibleFraction = static_cast<double>(inside) / static_cast<double>(predicted.rows());
  if (optimum != nullptr && !optimum->candidates.empty()) out.optimum = optimum->candidates.front().natural;
  out.runs = detail::designPoints(fit, out.grid);
  return out;
}

Interaction interaction(const Fit& fit, std::size_t response, std::size_t factor, std::size_t by,
                        const std::vector<double>& held, std::size_t steps) {
  detail::checkPair(fit, factor, by, "interaction plot");
  detail::checkResponse(fit, response);
  detail::checkSteps(steps);
  detail::checkSetting(fit, held, "held");
  Interaction out;
  out.response = response;
  out.factor = factor;
  out.by = by;
  out.x = detail::along(fit, factor, steps);
  out.byLow = detail::spanLow(fit, by);
  out.byHigh = detail::spanHigh(fit, by);
  std::vector<double> setting = held;
  setting[by] = out.byLow;
  const Matrix low = predict(fit, detail::sweep(setting, factor, out.x));
  setting[by] = out.byHigh;
  const Matrix high = predict(fit, detail::sweep(setting, factor, out.x));
  for (std::size_t k = 0; k < out.x.size(); ++k) {
    out.atLow.push_back(low(k, response));
    out.atHigh.push_back(high(k, response));
  }
  return out;
}

RobustnessCloud robustnessCloud(const Fit& fit, const Robustness& result, std::size_t xFactor, std::size_t yFactor) {
  detail::checkPair(fit, xFactor, yFactor, "robustness cloud");
  if (result.optima.cols() != fit.factorCount() || result.nominal.size() != fit.factorCount())
    throw InvalidArgument("the robustness result is of a study with " + std::to_string(result.optima.cols()) +
                              " factors; this fit has " + std::to_string(fit.factorCount()),
                          "robustness");
  if (result.percentiles.empty())
    throw InvalidArgument("the robustness result has no percentiles to bound the cloud", "robustness.percentiles");
  RobustnessCloud out;
  out.xFactor = xFactor;
  out.yFactor = yFactor;
  for (std::size_t k = 0; k < result.optima.rows(); ++k) {
    // A replicate without an admissible point has no optimum (NaN row).
    if (std::isnan(result.optima(k, xFactor))) continue;
    out.x.push_back(result.optima(k, xFactor));
    out.y.push_back(result.optima(k, yFactor));
  }
  if (out.x.empty())
    throw StateError("cannot draw the robustness cloud: no replicate found an admissible optimum", "robustness");
  out.nominalX = result.nominal[xFactor];
  out.nominalY = result.nominal[yFactor];
  const std::size_t last = result.percentiles.size() - 1;
  out.lowPercentile = result.percentiles.front();
  out.highPercentile = result.percentiles[last];
  out.boxLowX = result.settingPercentiles(xFactor, 0);
  out.boxHighX = result.settingPercentiles(xFactor, last);
  out.boxLowY = result.settingPercentiles(yFactor, 0);
  out.boxHighY = result.settingPercentiles(yFactor, last);
  return out;
}

}  // namespace tavrin::views
