#include "goals.h"

#include <cmath>
#include <utility>

namespace tavrin::cli {
namespace {

// The lowest and highest prediction of a response over the search region.
std::pair<double, double> predictionRange(const Fit& fit, const Goals& goals, const std::string& response,
                                          const SearchOptions& search) {
  Goals extreme;
  extreme.region = goals.region;
  extreme.goals.push_back({});
  Goal& goal = extreme.goals.back();
  goal.response = response;
  goal.kind = Goal::WeightedSum;
  SearchOptions options = search;
  options.best = 1;
  const std::size_t r = fit.responseIndex(response);
  goal.weight = -1.0;
  const double low = optimize(fit, extreme, options).candidates.at(0).predictions.at(r).value;
  goal.weight = 1.0;
  const double high = optimize(fit, extreme, options).candidates.at(0).predictions.at(r).value;
  return {low, high};
}

}  // namespace

void completeOpenBounds(const Fit& fit, Goals& goals, const SearchOptions& search) {
  for (Goal& goal : goals.goals) {
    if (goal.kind != Goal::Maximize && goal.kind != Goal::Minimize && goal.kind != Goal::Target) continue;
    if (!std::isnan(goal.low) && !std::isnan(goal.high)) continue;
    const auto [low, high] = predictionRange(fit, goals, goal.response, search);
    if (std::isnan(goal.low)) goal.low = low;
    if (std::isnan(goal.high)) goal.high = high;
  }
}

}  // namespace tavrin::cli
