// optimize(): the global stage over the LPtau sequence, SLSQP polish of
// the best distinct points, and the k best distinct optima with their
// predictions, desirabilities and active constraints.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>

#include "analysis/predictions.h"
#include "optimize/lptau.h"
#include "optimum/global_search.h"
#include "optimum/parallel.h"
#include "optimum/polish.h"
#include "optimum/problem.h"
#include "optimum/search_steps.h"
#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin {
namespace optimum {
namespace {

// A prediction this close to an interval's end (relative to the response's
// spread), or a coordinate this close to the region's end (coded), is active.
constexpr double kActiveResponse = 1e-6;
constexpr double kActiveFactor = 1e-9;

// The starts are polished in rounds of this many, in their order; the
// polish stops after a round that finds no optimum farther than the
// distinct tolerance from those found before. A fixed round size keeps the
// result independent of the thread count.
constexpr std::size_t kStartsPerRound = 4;

void validateOptions(const SearchOptions& o) {
  if (o.points < 1 || o.points > kSequencePoints)
    throw InvalidArgument("search points: " + std::to_string(o.points) +
                              " is outside 1..65536; the LPtau sequence has 65536 distinct points and more would "
                              "repeat them",
                          "search.points");
  if (o.starts < 1 || o.starts > o.points)
    throw InvalidArgument("search starts: " + std::to_string(o.starts) +
                              " must be between 1 and the points searched (" + std::to_string(o.points) + ")",
                          "search.starts");
  if (o.best < 1)
    throw InvalidArgument("search best: the number of optima returned must be at least 1", "search.best");
  if (!std::isfinite(o.distinctTolerance) || o.distinctTolerance < 0.0)
    throw InvalidArgument("search distinctTolerance: must be finite and >= 0 (got " +
                              text::formatDouble(o.distinctTolerance) + ")",
                          "search.distinctTolerance");
}

bool completes(const Goal& g) {
  return (g.kind == Goal::Maximize || g.kind == Goal::Minimize || g.kind == Goal::Target) &&
         (std::isnan(g.low) || std::isnan(g.high));
}

// The lowest and highest prediction of a response over the region of
// `goals`, by the search of the optimum with a weighted sum of -1 and +1.
std::pair<double, double> predictionRange(const Fit& fit, const Goals& goals, const std::string& response,
                                          std::size_t index, SearchOptions options) {
  Goals extreme;
  extreme.region = goals.region;
  Goal& goal = extreme.goals.emplace_back();
  goal.response = response;
  goal.kind = Goal::WeightedSum;
  options.best = 1;
  goal.weight = -1.0;
  const double low = tavrin::optimize(fit, extreme, options).candidates.at(0).predictions.at(index).value;
  goal.weight = 1.0;
  const double high = tavrin::optimize(fit, extreme, options).candidates.at(0).predictions.at(index).value;
  return {low, high};
}

// The admissible points, best first, each farther than `tolerance` from
// every better one.
std::vector<Located> distinctBest(std::vector<Located> located, std::size_t count, double tolerance) {
  std::stable_sort(located.begin(), located.end(), [](const Located& a, const Located& b) { return better(a, b); });
  std::vector<Located> chosen;
  for (Located& l : located) {
    if (!l.admissible || chosen.size() == count) break;
    const bool distinct = std::all_of(chosen.begin(), chosen.end(),
                                      [&](const Located& c) { return codedDistance(c.coded, l.coded) > tolerance; });
    if (distinct) chosen.push_back(std::move(l));
  }
  return chosen;
}

std::vector<std::string> activeConstraints(const Problem& p, const Fit& fit, const Candidate& c) {
  std::vector<std::string> active;
  for (const ResponseInterval& i : p.intervals) {
    const std::size_t j = p.responses[i.slot];
    const double y = modelledValue(p, i.slot, c.predictions[j].value);
    const double near = kActiveResponse * p.scale[i.slot];
    const std::string suffix = i.hard ? "" : " (goal)";
    if (std::isfinite(i.high) && std::abs(y - i.high) <= near)
      active.push_back(fit.responses[j].name + " <= " + text::formatDouble(i.givenHigh) + suffix);
    if (std::isfinite(i.low) && std::abs(y - i.low) <= near)
      active.push_back(fit.responses[j].name + " >= " + text::formatDouble(i.givenLow) + suffix);
  }
  for (const std::size_t f : p.freeFactors) {
    const std::string& name = fit.factors[f].name;
    if (std::abs(c.coded[f] - p.lower[f]) <= kActiveFactor)
      active.push_back(name + " = " + text::formatDouble(p.lowerNatural[f]) + " (lower bound)");
    if (std::abs(c.coded[f] - p.upper[f]) <= kActiveFactor)
      active.push_back(name + " = " + text::formatDouble(p.upperNatural[f]) + " (upper bound)");
  }
  return active;
}

}  // namespace

std::vector<double> naturalSettings(const Problem& p, const Fit& fit, const std::vector<double>& coded) {
  std::vector<double> natural(coded.size());
  for (std::size_t i = 0; i < coded.size(); ++i) {
    // The region's own ends stay exactly as given.
    if (coded[i] == p.lower[i])
      natural[i] = p.lowerNatural[i];
    else if (coded[i] == p.upper[i])
      natural[i] = p.upperNatural[i];
    else
      natural[i] = toNatural(fit.factors[i], coded[i]);
  }
  return natural;
}

void validateFit(const Fit& fit) {
  const std::size_t n = fit.factorCount();
  if (n == 0 || n > static_cast<std::size_t>(kLptauDimensions))
    throw InvalidArgument("fit: " + std::to_string(n) + " factors; the optimum handles 1 to " +
                          std::to_string(kLptauDimensions));
  if (fit.models.size() != fit.responses.size())
    throw InvalidArgument("fit: " + std::to_string(fit.models.size()) + " models for " +
                          std::to_string(fit.responses.size()) + " responses");
}

std::vector<Located> searchOptima(const Problem& p, const std::vector<double>& coef, const SearchOptions& options,
                                  unsigned& admissiblePoints) {
  const PackedModels packed = packModels(p.factors, p.slotCount(), coef.data());
  const std::size_t keep = std::min<std::size_t>(options.points, std::max<std::size_t>(kKeptSamplePoints, 16 * options.starts));
  const SampleResult sample = sampleRegion(p, packed, options.points, keep, options.threads);
  admissiblePoints = sample.admissible;
  const std::vector<std::vector<double>> starts = spreadStarts(p, sample.best, options.starts);
  std::vector<Located> located;
  for (std::size_t first = 0; first < starts.size(); first += kStartsPerRound) {
    const std::size_t count = std::min(kStartsPerRound, starts.size() - first);
    std::vector<Located> round(count);
    forEachItem(resolveThreads(options.threads, count), count,
                [&](std::size_t k, unsigned) { round[k] = polishVerified(p, coef.data(), starts[first + k]); },
                [](std::size_t) {});
    const bool foundBefore = std::any_of(located.begin(), located.end(), [](const Located& l) { return l.admissible; });
    const bool newOptimum = std::any_of(round.begin(), round.end(), [&](const Located& r) {
      return r.admissible && std::none_of(located.begin(), located.end(), [&](const Located& l) {
               return l.admissible && codedDistance(l.coded, r.coded) <= options.distinctTolerance;
             });
    });
    std::move(round.begin(), round.end(), std::back_inserter(located));
    if (foundBefore && !newOptimum) break;
  }
  return distinctBest(std::move(located), options.best, options.distinctTolerance);
}

}  // namespace optimum

Goals completeGoals(const Fit& fit, Goals goals, const SearchOptions& options) {
  using namespace optimum;
  for (std::size_t k = 0; k < goals.goals.size(); ++k) {
    Goal& g = goals.goals[k];
    if (!completes(g)) continue;
    const std::string path = "goals[" + std::to_string(k) + "]";
    std::size_t index = 0;
    try {
      index = fit.responseIndex(g.response);
    } catch (const UnknownName& e) {
      throw UnknownName(e.what(), path + ".response");
    }
    const auto [low, high] = predictionRange(fit, goals, g.response, index, options);
    const bool openLow = std::isnan(g.low);
    const bool openHigh = std::isnan(g.high);
    if (openLow) g.low = low;
    if (openHigh) g.high = high;
    if (g.kind == Goal::Maximize && openHigh) g.unbounded = true;
    if (g.kind == Goal::Minimize && openLow) g.unbounded = true;
    const std::string what = "goal of response " + text::quoted(g.response) + ": its predictions over the region span " +
                             text::formatDouble(low) + ".." + text::formatDouble(high);
    if (g.kind == Goal::Target) {
      // A bound filled in here cannot be at fault: the target is.
      if (!std::isfinite(g.target) || (g.low < g.target && g.target < g.high)) continue;
      throw InvalidArgument(what + " and never reach the target " + text::formatDouble(g.target) +
                                "; give a target inside the span",
                            path + ".target");
    }
    if (g.low < g.high) continue;
    if (openLow && openHigh)
      throw InvalidArgument(what + ", so it is the same everywhere; give its goal bounds or drop it", path);
    throw InvalidArgument(what + " and never pass the given bound " + text::formatDouble(openLow ? g.high : g.low) +
                              "; move that bound inside the span",
                          path + (openLow ? ".high" : ".low"));
  }
  return goals;
}

Optimum optimize(const Fit& fit, const Goals& open, const SearchOptions& options) {
  using namespace optimum;
  validateOptions(options);
  validateFit(fit);
  const Goals goals = completeGoals(fit, open, options);
  const Problem p = compileProblem(fit, goals);
  const std::vector<double> coef = slotCoefficients(p, fit);
  Optimum result;
  result.pointsSearched = options.points;
  const std::vector<Located> optima = searchOptima(p, coef, options, result.admissiblePoints);
  if (optima.empty())
    throw StateError("optimum: no point of the search region meets the constraints (" +
                     std::to_string(options.points) + " points searched and the best " +
                     std::to_string(options.starts) + " polished); widen the constraints or the region");

  const std::size_t n = fit.factorCount();
  Matrix points(optima.size(), n);
  for (const Located& l : optima) {
    Candidate c;
    c.coded = l.coded;
    c.natural = naturalSettings(p, fit, l.coded);
    std::copy(c.natural.begin(), c.natural.end(), points.row(result.candidates.size()));
    result.candidates.push_back(std::move(c));
  }
  const std::vector<std::vector<Prediction>> predictions = analysis::predictEveryResponse(fit, points, options.analysis);
  for (const std::vector<Prediction>& response : predictions)
    for (std::size_t k = 0; k < optima.size(); ++k) result.candidates[k].predictions.push_back(response[k]);
  for (Candidate& c : result.candidates) {
    c.desirability.assign(fit.responses.size(), std::numeric_limits<double>::quiet_NaN());
    std::vector<double> values(p.slotCount());
    for (std::size_t s = 0; s < p.slotCount(); ++s) values[s] = modelledValue(p, s, c.predictions[p.responses[s]].value);
    for (const GoalTerm& t : p.goals)
      if (!p.weightedSum)
        c.desirability[p.responses[t.slot]] = desirability(t.goal, c.predictions[p.responses[t.slot]].value);
    c.overall = overall(p, values.data());
    c.activeConstraints = activeConstraints(p, fit, c);
  }
  return result;
}

}  // namespace tavrin
