#include "optimum/problem.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "analysis/inference.h"
#include "study/text.h"
#include "tavrin/error.h"
#include "tavrin/model_building.h"

namespace tavrin::optimum {
namespace {

std::string goalText(const Goal& goal) { return "goal of response " + text::quoted(goal.response); }

std::string number(double value) { return text::formatDouble(value); }

bool finite(double value) noexcept { return std::isfinite(value); }

// Where the desirability of a goal stands: ratio r (clamped above at 1),
// its derivative in the prediction and the exponent in force.
struct Ratio {
  double r;
  double slope;
  double exponent;
};

Ratio ratio(const Goal& g, double y) noexcept {
  switch (g.kind) {
    case Goal::Maximize:
      if (y >= g.high && !g.unbounded) return {1.0, 0.0, g.shape};
      return {(y - g.low) / (g.high - g.low), 1.0 / (g.high - g.low), g.shape};
    case Goal::Minimize:
      if (y <= g.low && !g.unbounded) return {1.0, 0.0, g.shape};
      return {(g.high - y) / (g.high - g.low), -1.0 / (g.high - g.low), g.shape};
    case Goal::Target:
      if (y <= g.target) return {(y - g.low) / (g.target - g.low), 1.0 / (g.target - g.low), g.shape};
      return {(g.high - y) / (g.high - g.target), -1.0 / (g.high - g.target), g.shapeHigh};
    case Goal::Within: return {(y >= g.low && y <= g.high) ? 1.0 : 0.0, 0.0, 1.0};
    case Goal::WeightedSum: break;
  }
  return {0.0, 0.0, 1.0};
}

double power(double r, double exponent) noexcept {
  if (r <= 0.0) return 0.0;
  return exponent == 1.0 ? r : std::pow(r, exponent);
}

// Whether every exponent of a Maximize or Minimize goal's key is 1, so its
// factor in the key is the ratio itself.
bool linearIn(const Goal& g) noexcept {
  return (g.kind == Goal::Maximize || g.kind == Goal::Minimize) && g.shape * g.importance == 1.0;
}

// keys[l] *= power(ratio, 1) of a goal that is linearIn, lane by lane with
// the goal's kind decided once, so the loop vectorises; the same operations
// as ratio() and power().
void multiplyByRatios(const Goal& g, const double* y, std::size_t count, double* keys) noexcept {
  const double low = g.low;
  const double high = g.high;
  const double span = high - low;
  const double cap = ratioCap(g);
  // Past `high` (`low` for Minimize) the rounded ratio is at least 1 and
  // below it at most 1, as rounding is monotonic, so min(ratio, 1) is
  // ratio()'s clamp; min and max keep the loop free of branches.
  if (g.kind == Goal::Maximize)
    for (std::size_t l = 0; l < count; ++l) {
      const double r = std::min((y[l] - low) / span, cap);
      keys[l] *= std::max(0.0, r);
    }
  else
    for (std::size_t l = 0; l < count; ++l) {
      const double r = std::min((high - y[l]) / span, cap);
      keys[l] *= std::max(0.0, r);
    }
}

// Spread of a response's observations on its model's scale, the unit in
// which its intervals are compared.
double spread(const Fit& fit, std::size_t response) {
  const Eigen::VectorXd y = analysis::modelledObservations(fit, response);
  double lo = INFINITY;
  double hi = -INFINITY;
  for (const double v : y) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  const double range = hi - lo;
  return (finite(range) && range > 0.0) ? range : 1.0;
}

std::size_t factorIndex(const Fit& fit, const std::string& name) {
  for (std::size_t i = 0; i < fit.factors.size(); ++i)
    if (fit.factors[i].name == name) return i;
  std::string names;
  for (const Factor& f : fit.factors) names += (names.empty() ? "" : ", ") + text::quoted(f.name);
  throw UnknownName("search region: unknown factor " + text::quoted(name) + "; the factors are " + names,
                    "region." + name);
}

void validateConstraint(const Constraint& c, const std::string& path) {
  const std::string what = "constraint on response " + text::quoted(c.response);
  if (std::isnan(c.low) || std::isnan(c.high))
    throw InvalidArgument(what + ": low and high must be numbers (not NaN)",
                          path + (std::isnan(c.low) ? ".low" : ".high"));
  if (!finite(c.low) && !finite(c.high)) throw InvalidArgument(what + ": needs a finite low or a finite high", path);
  if (c.low > c.high)
    throw InvalidArgument(what + ": low (" + number(c.low) + ") must not exceed high (" + number(c.high) + ")",
                          path + ".high");
}

// The natural setting of a coded end of the runs' span; the factor's own
// low and high exactly where the span reaches -1 or +1.
double spanEnd(const Factor& f, double coded) {
  if (coded == -1.0) return f.low;
  if (coded == 1.0) return f.high;
  return toNatural(f, coded);
}

void compileRegion(const Fit& fit, const Goals& goals, Problem& p) {
  for (std::size_t i = 0; i < fit.factors.size(); ++i) {
    const auto [low, high] = i < fit.span.size() ? fit.span[i] : std::pair{-1.0, 1.0};
    p.lower.push_back(low);
    p.upper.push_back(high);
    p.lowerNatural.push_back(spanEnd(fit.factors[i], low));
    p.upperNatural.push_back(spanEnd(fit.factors[i], high));
  }
  for (const auto& [name, range] : goals.region) {
    const std::size_t i = factorIndex(fit, name);
    const Factor& f = fit.factors[i];
    const std::string what = "search region of factor " + text::quoted(name);
    const std::string path = "region." + name;
    const auto [lo, hi] = range;
    if (!finite(lo) || !finite(hi)) throw InvalidArgument(what + ": both ends must be finite", path);
    if (lo > hi)
      throw InvalidArgument(what + ": low (" + number(lo) + ") must not exceed high (" + number(hi) + ")", path);
    const double spanLow = p.lowerNatural[i], spanHigh = p.upperNatural[i];
    if (lo < spanLow || hi > spanHigh)
      throw InvalidArgument(what + ": [" + number(lo) + ", " + number(hi) + "] must lie within the range the runs span [" +
                                number(spanLow) + ", " + number(spanHigh) + "], where the models were fitted",
                            path);
    const double codedLow = p.lower[i], codedHigh = p.upper[i];
    p.lower[i] = std::clamp(toCoded(f, lo), codedLow, codedHigh);
    p.upper[i] = std::clamp(toCoded(f, hi), codedLow, codedHigh);
    if (lo == hi) p.upper[i] = p.lower[i];
    p.lowerNatural[i] = lo;
    p.upperNatural[i] = hi;
  }
  for (std::size_t i = 0; i < p.factors; ++i)
    if (p.lower[i] < p.upper[i]) p.freeFactors.push_back(i);
}

// The response index of a name, an UnknownName carrying `path` else.
std::size_t responseOf(const Fit& fit, const std::string& name, const std::string& path) {
  try {
    return fit.responseIndex(name);
  } catch (const UnknownName& e) {
    throw UnknownName(e.what(), path);
  }
}

// The first of the fields whose value is not finite, else `fallback`.
std::string firstNotFinite(const std::string& path, std::initializer_list<std::pair<const char*, double>> fields,
                           const char* fallback) {
  for (const auto& [name, value] : fields)
    if (!finite(value)) return path + "." + name;
  return path + "." + fallback;
}

constexpr std::array<std::pair<Goal::Kind, std::string_view>, 5> kGoalKindNames = {{{Goal::Maximize, "maximize"},
                                                                                     {Goal::Minimize, "minimize"},
                                                                                     {Goal::Target, "target"},
                                                                                     {Goal::Within, "within"},
                                                                                     {Goal::WeightedSum, "weightedSum"}}};

std::string kindNames() {
  std::string names;
  for (const auto& [kind, name] : kGoalKindNames) names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

// The kind's name folded as parseGoalKind compares it.
std::string folded(std::string_view name) {
  std::string key;
  for (const char c : name)
    if (c != '-' && c != '_' && c != ' ') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

// A slot value mapped back to the response's units with its first and
// second derivative in the value.
struct Chain {
  double value;
  double first;
  double second;
};

Chain chain(const Problem& problem, std::size_t slot, double v) noexcept {
  const double lambda = problem.power[slot];
  if (lambda != lambda) return {v, 1.0, 0.0};
  const double y = originalValue(problem, slot, v);
  if (!(y > 0.0) || std::isinf(y)) return {y, 0.0, 0.0};
  // y = (1 + lambda v)^(1 / lambda): y' = y^(1 - lambda), y'' = (1 - lambda) y^(1 - 2 lambda).
  return {y, std::pow(y, 1.0 - lambda), (1.0 - lambda) * std::pow(y, 1.0 - 2.0 * lambda)};
}

}  // namespace

double originalValue(const Problem& problem, std::size_t slot, double value) noexcept {
  const double lambda = problem.power[slot];
  if (lambda != lambda) return value;
  const double y = PowerTransform{lambda}.invert(value);
  if (!std::isnan(y) || std::isnan(value)) return y;
  return lambda > 0.0 ? 0.0 : INFINITY;
}

double modelledValue(const Problem& problem, std::size_t slot, double value) noexcept {
  const double lambda = problem.power[slot];
  if (lambda != lambda) return value;
  if (!(value > 0.0)) return -INFINITY;
  return PowerTransform{lambda}.apply(value);  // of +infinity: the supremum of the modelled values
}

bool transformedGoals(const Problem& problem) noexcept {
  return std::any_of(problem.goals.begin(), problem.goals.end(),
                     [&problem](const GoalTerm& t) { return problem.power[t.slot] == problem.power[t.slot]; });
}

void validateGoal(const Goal& g, const std::string& path) {
  const std::string what = goalText(g);
  const auto positive = [&](double value, const char* field) {
    if (!finite(value) || value <= 0.0)
      throw InvalidArgument(what + ": " + field + " must be finite and > 0 (got " + number(value) + ")",
                            path + "." + field);
  };
  if (g.unbounded && g.kind != Goal::Maximize && g.kind != Goal::Minimize)
    throw InvalidArgument(what + ": only Maximize and Minimize goals can be unbounded", path + ".unbounded");
  switch (g.kind) {
    case Goal::Maximize:
    case Goal::Minimize:
      if (!finite(g.low) || !finite(g.high) || !(g.low < g.high))
        throw InvalidArgument(what + ": " + (g.kind == Goal::Maximize ? "Maximize" : "Minimize") +
                                  " needs finite low < high (got low = " + number(g.low) +
                                  ", high = " + number(g.high) + ")",
                              firstNotFinite(path, {{"low", g.low}, {"high", g.high}}, "high"));
      positive(g.shape, "shape");
      positive(g.importance, "importance");
      return;
    case Goal::Target:
      if (!finite(g.low) || !finite(g.target) || !finite(g.high) || !(g.low < g.target) || !(g.target < g.high))
        throw InvalidArgument(what + ": Target needs finite low < target < high (got low = " + number(g.low) +
                                  ", target = " + number(g.target) + ", high = " + number(g.high) + ")",
                              firstNotFinite(path, {{"target", g.target}, {"low", g.low}, {"high", g.high}},
                                             g.low < g.target ? "high" : "low"));
      positive(g.shape, "shape");
      positive(g.shapeHigh, "shapeHigh");
      positive(g.importance, "importance");
      return;
    case Goal::Within:
      if (std::isnan(g.low) || std::isnan(g.high) || !(g.low < g.high) || (!finite(g.low) && !finite(g.high)))
        throw InvalidArgument(what + ": Within needs low < high with at least one of them finite (got low = " +
                                  number(g.low) + ", high = " + number(g.high) + ")",
                              path + (std::isnan(g.low) ? ".low" : ".high"));
      positive(g.importance, "importance");
      return;
    case Goal::WeightedSum:
      if (!finite(g.weight))
        throw InvalidArgument(what + ": weight must be finite (got " + number(g.weight) + ")", path + ".weight");
      return;
  }
  throw InvalidArgument(what + ": unknown goal kind; the kinds are " + kindNames(), path + ".kind");
}

Problem compileProblem(const Fit& fit, const Goals& goals) {
  Problem p;
  p.factors = fit.factorCount();
  if (goals.goals.empty())
    throw InvalidArgument("no goal: give at least one response a goal (Maximize, Minimize, Target, Within or WeightedSum)",
                          "goals");
  const auto slotOf = [&p](std::size_t response) {
    const auto it = std::find(p.responses.begin(), p.responses.end(), response);
    if (it != p.responses.end()) return static_cast<std::size_t>(it - p.responses.begin());
    p.responses.push_back(response);
    return p.responses.size() - 1;
  };
  std::vector<bool> hasGoal(fit.responses.size(), false);
  bool desirabilityKinds = false;
  for (std::size_t k = 0; k < goals.goals.size(); ++k) {
    const Goal& g = goals.goals[k];
    const std::string path = "goals[" + std::to_string(k) + "]";
    const std::size_t j = responseOf(fit, g.response, path + ".response");
    validateGoal(g, path);
    if (hasGoal[j])
      throw InvalidArgument("response " + text::quoted(g.response) + " has more than one goal; give it at most one",
                            path + ".response");
    hasGoal[j] = true;
    const bool sum = g.kind == Goal::WeightedSum;
    p.weightedSum = p.weightedSum || sum;
    desirabilityKinds = desirabilityKinds || !sum;
    if (p.weightedSum && desirabilityKinds)
      throw InvalidArgument(goalText(g) +
                                ": WeightedSum goals cannot be mixed with desirability goals (Maximize, Minimize, "
                                "Target, Within); use constraints for the other responses",
                            path + ".kind");
    const std::size_t slot = slotOf(j);
    p.goals.push_back({slot, g});
    if (!sum) p.importanceSum += g.importance;
    if (g.kind == Goal::Within) p.intervals.push_back({slot, g.low, g.high, false, g.low, g.high});
  }
  for (std::size_t k = 0; k < goals.constraints.size(); ++k) {
    const Constraint& c = goals.constraints[k];
    const std::string path = "constraints[" + std::to_string(k) + "]";
    const std::size_t j = responseOf(fit, c.response, path + ".response");
    validateConstraint(c, path);
    p.intervals.push_back({slotOf(j), c.low, c.high, true, c.low, c.high});
  }
  compileRegion(fit, goals, p);
  for (const std::size_t j : p.responses) {
    p.scale.push_back(spread(fit, j));
    p.power.push_back(fit.models[j].power);
  }
  for (ResponseInterval& i : p.intervals) {
    i.low = modelledValue(p, i.slot, i.givenLow);
    i.high = modelledValue(p, i.slot, i.givenHigh);
  }
  return p;
}

std::vector<double> slotCoefficients(const Problem& problem, const Fit& fit) {
  const std::size_t terms = quadratic::termCount(problem.factors);
  std::vector<double> coef;
  coef.reserve(terms * problem.slotCount());
  for (const std::size_t j : problem.responses) {
    const std::vector<double>& c = fit.models[j].coded;
    if (c.size() != terms)
      throw InvalidArgument("fit: the model of response " + text::quoted(fit.responses[j].name) + " has " +
                            std::to_string(c.size()) + " coefficients; " + std::to_string(terms) + " expected");
    coef.insert(coef.end(), c.begin(), c.end());
  }
  return coef;
}

double violation(const Problem& problem, const double* values) noexcept {
  double total = 0.0;
  for (const ResponseInterval& c : problem.intervals) {
    if (!c.hard) continue;
    const double y = values[c.slot];
    const double excess = y > c.high ? y - c.high : (y < c.low ? c.low - y : 0.0);
    total += excess / problem.scale[c.slot];
  }
  return total;
}

double rankKey(const Problem& problem, const double* values) noexcept {
  if (problem.weightedSum) return overall(problem, values);
  double key = 1.0;
  for (const GoalTerm& t : problem.goals) {
    const Ratio q = ratio(t.goal, originalValue(problem, t.slot, values[t.slot]));
    key *= power(q.r, q.exponent * t.goal.importance);
    if (key == 0.0) return 0.0;
  }
  return key;
}

void scoreBlock(const Problem& problem, const LaneColumn* values, std::size_t count, double* keys,
                double* violations) noexcept {
  std::fill(violations, violations + count, 0.0);
  for (const ResponseInterval& c : problem.intervals) {
    if (!c.hard) continue;
    const double* y = values[c.slot].lane;
    const double scale = problem.scale[c.slot];
    // At most one of the two excesses is positive (low <= high), so their
    // sum is the excess exactly; max keeps the loop free of branches.
    for (std::size_t l = 0; l < count; ++l)
      violations[l] += (std::max(y[l] - c.high, 0.0) + std::max(c.low - y[l], 0.0)) / scale;
  }
  if (problem.weightedSum) {
    std::fill(keys, keys + count, 0.0);
    for (const GoalTerm& t : problem.goals)
      for (std::size_t l = 0; l < count; ++l)
        keys[l] += t.goal.weight * originalValue(problem, t.slot, values[t.slot].lane[l]);
    return;
  }
  std::fill(keys, keys + count, 1.0);
  for (const GoalTerm& t : problem.goals) {
    const double* y = values[t.slot].lane;
    LaneColumn original;
    if (problem.power[t.slot] == problem.power[t.slot]) {
      for (std::size_t l = 0; l < count; ++l) original.lane[l] = originalValue(problem, t.slot, y[l]);
      y = original.lane;
    }
    if (linearIn(t.goal)) {
      multiplyByRatios(t.goal, y, count, keys);
      continue;
    }
    for (std::size_t l = 0; l < count; ++l) {
      const Ratio q = ratio(t.goal, y[l]);
      keys[l] *= power(q.r, q.exponent * t.goal.importance);
    }
  }
}

double overall(const Problem& problem, const double* values) noexcept {
  if (problem.weightedSum) {
    double sum = 0.0;
    for (const GoalTerm& t : problem.goals) sum += t.goal.weight * originalValue(problem, t.slot, values[t.slot]);
    return sum;
  }
  double logSum = 0.0;
  for (const GoalTerm& t : problem.goals) {
    const Ratio q = ratio(t.goal, originalValue(problem, t.slot, values[t.slot]));
    if (q.r <= 0.0) return 0.0;
    logSum += t.goal.importance * q.exponent * std::log(q.r);
  }
  return std::exp(logSum / problem.importanceSum);
}

double surrogate(const Problem& problem, const double* values, double floor, double* derivative,
                 double* curvature) noexcept {
  std::fill(derivative, derivative + problem.slotCount(), 0.0);
  if (curvature != nullptr) std::fill(curvature, curvature + problem.slotCount(), 0.0);
  double value = 0.0;
  for (const GoalTerm& t : problem.goals) {
    const Chain y = chain(problem, t.slot, values[t.slot]);
    if (problem.weightedSum) {
      value += t.goal.weight * y.value;
      derivative[t.slot] += t.goal.weight * y.first;
      if (curvature != nullptr) curvature[t.slot] += t.goal.weight * y.second;
      continue;
    }
    if (t.goal.kind == Goal::Within) continue;
    const Ratio q = ratio(t.goal, y.value);
    const double w = t.goal.importance * q.exponent / problem.importanceSum;
    // Derivatives in the response's units, then by the chain rule in the
    // slot value: d/dv = y' d/dy, d2/dv2 = y'^2 d2/dy2 + y'' d/dy.
    if (q.r >= floor) {
      value += w * std::log(q.r);
      const double first = w * q.slope / q.r;
      derivative[t.slot] += y.first * first;
      if (curvature != nullptr) curvature[t.slot] += y.first * y.first * (-w * q.slope * q.slope / (q.r * q.r)) + y.second * first;
    } else {
      value += w * (std::log(floor) + (q.r - floor) / floor);
      const double first = w * q.slope / floor;
      derivative[t.slot] += y.first * first;
      if (curvature != nullptr) curvature[t.slot] += y.second * first;
    }
  }
  return value;
}

double smallestRatio(const Problem& problem, const double* values) noexcept {
  double smallest = 1.0;
  for (const GoalTerm& t : problem.goals) {
    if (t.goal.kind == Goal::Within || t.goal.kind == Goal::WeightedSum) continue;
    smallest = std::min(smallest, ratio(t.goal, originalValue(problem, t.slot, values[t.slot])).r);
  }
  return smallest;
}

}  // namespace tavrin::optimum

namespace tavrin {

std::string_view goalKindName(Goal::Kind kind) {
  for (const auto& [k, name] : optimum::kGoalKindNames)
    if (k == kind) return name;
  throw InvalidArgument("unknown goal kind " + std::to_string(static_cast<int>(kind)) + "; the kinds are " +
                        optimum::kindNames());
}

Goal::Kind parseGoalKind(std::string_view name) {
  for (const auto& [kind, known] : optimum::kGoalKindNames)
    if (optimum::folded(name) == optimum::folded(known)) return kind;
  throw InvalidArgument("unknown goal kind " + text::quoted(name) + "; the kinds are " + optimum::kindNames());
}

double desirability(const Goal& goal, double predicted) {
  optimum::validateGoal(goal, "goal");
  if (goal.kind == Goal::WeightedSum)
    throw InvalidArgument("goal of response " + text::quoted(goal.response) +
                          ": WeightedSum goals have no desirability; they add weight * prediction");
  if (std::isnan(predicted)) return std::numeric_limits<double>::quiet_NaN();
  const optimum::Ratio q = optimum::ratio(goal, predicted);
  return optimum::power(q.r, q.exponent);
}

}  // namespace tavrin
