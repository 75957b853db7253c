#include "views/grid.h"

#include <cmath>

#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin::views::detail {

namespace {
constexpr std::size_t kMinSteps = 2;
constexpr std::size_t kMaxSteps = 401;
}  // namespace

void checkSteps(std::size_t steps) {
  if (steps < kMinSteps || steps > kMaxSteps)
    throw InvalidArgument("steps must be between 2 and 401, got " + std::to_string(steps), "steps");
}

void checkSetting(const Fit& fit, const std::vector<double>& setting, const std::string& what) {
  if (setting.size() != fit.factorCount())
    throw InvalidArgument(what + " needs one value per factor (" + std::to_string(fit.factorCount()) + "), got " +
                              std::to_string(setting.size()),
                          what);
  for (std::size_t i = 0; i < setting.size(); ++i)
    if (!std::isfinite(setting[i]))
      throw InvalidArgument(what + ": the value of factor " + text::quoted(fit.factors[i].name) + " is not finite",
                            what + "." + fit.factors[i].name);
}

void checkFactor(const Fit& fit, std::size_t factor) {
  if (factor >= fit.factorCount())
    throw InvalidArgument("factor index " + std::to_string(factor) + " is out of range: the study has " +
                              std::to_string(fit.factorCount()) + " factors",
                          "factor");
}

void checkResponse(const Fit& fit, std::size_t response) {
  if (response >= fit.responses.size())
    throw InvalidArgument("response index " + std::to_string(response) + " is out of range: the study has " +
                              std::to_string(fit.responses.size()) + " responses",
                          "response");
}

void checkPair(const Fit& fit, std::size_t xFactor, std::size_t yFactor, const std::string& plot) {
  if (fit.factorCount() < 2)
    throw InvalidArgument("cannot draw the " + plot + ": it needs two factors and the study has one (" +
                              text::quoted(fit.factors.front().name) + "); use the profiler",
                          "factors");
  checkFactor(fit, xFactor);
  checkFactor(fit, yFactor);
  if (xFactor == yFactor)
    throw InvalidArgument("cannot draw the " + plot + ": x and y are both " + text::quoted(fit.factors[xFactor].name) +
                              "; choose two different factors",
                          "y");
}

namespace {
// A coded end of -1 or +1 is the declared low or high as the user gave it.
double naturalEnd(const Factor& f, double coded) {
  if (coded == -1.0) return f.low;
  if (coded == 1.0) return f.high;
  return toNatural(f, coded);
}
}  // namespace

double spanLow(const Fit& fit, std::size_t factor) { return naturalEnd(fit.factors[factor], fit.span[factor].first); }
double spanHigh(const Fit& fit, std::size_t factor) { return naturalEnd(fit.factors[factor], fit.span[factor].second); }

std::vector<double> along(const Fit& fit, std::size_t factor, std::size_t steps) {
  const double low = spanLow(fit, factor);
  const double high = spanHigh(fit, factor);
  std::vector<double> x(steps);
  const double last = static_cast<double>(steps - 1);
  // Both ends exactly, and points between from the nearer end.
  for (std::size_t k = 0; k < steps; ++k) {
    const double t = static_cast<double>(k) / last;
    x[k] = t <= 0.5 ? low + (high - low) * t : high - (high - low) * (1.0 - t);
  }
  return x;
}

Matrix sweep(const std::vector<double>& held, std::size_t factor, const std::vector<double>& values) {
  Matrix points(values.size(), held.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    std::copy(held.begin(), held.end(), points.row(k));
    points(k, factor) = values[k];
  }
  return points;
}

Matrix gridPoints(const Grid& grid) {
  Matrix points(grid.x.size() * grid.y.size(), grid.held.size());
  for (std::size_t i = 0; i < grid.y.size(); ++i)
    for (std::size_t j = 0; j < grid.x.size(); ++j) {
      const std::size_t row = i * grid.x.size() + j;
      std::copy(grid.held.begin(), grid.held.end(), points.row(row));
      points(row, grid.xFactor) = grid.x[j];
      points(row, grid.yFactor) = grid.y[i];
    }
  return points;
}

Grid makeGrid(const Fit& fit, std::size_t xFactor, std::size_t yFactor, const std::vector<double>& held,
              std::size_t steps) {
  checkSteps(steps);
  checkSetting(fit, held, "held");
  return {xFactor, yFactor, along(fit, xFactor, steps), along(fit, yFactor, steps), held};
}

Matrix gridOf(const Grid& grid, const Matrix& predictions, std::size_t response) {
  Matrix out(grid.y.size(), grid.x.size());
  for (std::size_t i = 0; i < grid.y.size(); ++i)
    for (std::size_t j = 0; j < grid.x.size(); ++j) out(i, j) = predictions(i * grid.x.size() + j, response);
  return out;
}

DesignPoints designPoints(const Fit& fit, const Grid& grid) {
  DesignPoints runs;
  const Factor& fx = fit.factors[grid.xFactor];
  const Factor& fy = fit.factors[grid.yFactor];
  for (std::size_t r = 0; r < fit.runCount(); ++r) {
    runs.runIds.push_back(fit.runIds[r]);
    // The fit's model matrix holds the coded actual settings in its linear columns.
    runs.x.push_back(toNatural(fx, fit.design(r, quadratic::linearIndex(grid.xFactor))));
    runs.y.push_back(toNatural(fy, fit.design(r, quadratic::linearIndex(grid.yFactor))));
  }
  return runs;
}

}  // namespace tavrin::views::detail
