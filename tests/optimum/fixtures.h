// Fits for the optimum's tests: plans of the study layer whose results are
// given functions of the coded settings, plus optional fixed deviations.
#pragma once

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin::testing {

using CodedFunction = std::function<double(const double* coded)>;

// Fits `responses` (one function each) on a plan of `kind` over `factors`,
// the results being f(coded settings of the run) + deviation(run, response).
inline Fit exactFit(DesignKind kind, const std::vector<Factor>& factors, const std::vector<CodedFunction>& functions,
                    int extraCenterRuns = 0,
                    const std::function<double(std::size_t, std::size_t)>& deviation = nullptr) {
  PlanOptions options;
  options.seed = 7;
  options.extraCenterRuns = extraCenterRuns;
  const Plan plan = makePlan(kind, factors, options);
  std::vector<Response> responses;
  for (std::size_t j = 0; j < functions.size(); ++j) responses.push_back({"Y" + std::to_string(j + 1), ""});
  Matrix results(plan.runCount(), functions.size());
  for (std::size_t r = 0; r < plan.runCount(); ++r)
    for (std::size_t j = 0; j < functions.size(); ++j)
      results(r, j) = functions[j](plan.coded.row(r)) + (deviation ? deviation(r, j) : 0.0);
  return fitModels(plan, responses, results);
}

// A goal on `response`; the fields not given keep their defaults.
inline Goal goal(const std::string& response, Goal::Kind kind, double low, double high,
                 double target = std::numeric_limits<double>::quiet_NaN()) {
  return {.response = response, .kind = kind, .low = low, .high = high, .target = target};
}

// Three factors whose ranges are not exact in binary.
inline std::vector<Factor> threeFactors() {
  return {{"A", 0.1, 0.7, ""}, {"B", 1e7, 1e7 + 3.3, ""}, {"C", -2.5, 4.1, ""}};
}

}  // namespace tavrin::testing
