// The layer's benchmark studies: fits of smooth quadratic responses with
// fixed pseudo-random coefficients on a plan of n factors, factor i ranging
// over [i, 2i + 10] as in the plan object's workloads.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "tavrin/study.h"

namespace bench {

// "Y3" and the like, appended rather than concatenated: GCC 12 warns
// falsely (-Wrestrict) on a literal + std::to_string.
inline std::string numbered(const char* prefix, std::size_t number) {
  std::string name(prefix);
  name += std::to_string(number);
  return name;
}

// Smooth responses with fixed pseudo-random coefficients: mostly concave,
// with interactions, over coded settings.
inline double smoothResponse(std::size_t j, const double* x, std::size_t n) {
  double y = 50.0;
  for (std::size_t i = 0; i < n; ++i) {
    y += 3.0 * std::sin(0.37 * double(j + 1) + 0.11 * double(i + 1)) * x[i];
    y -= (1.0 + 0.5 * std::cos(0.2 * double((i + 1) * (j + 1)))) * x[i] * x[i];
    for (std::size_t k = i + 1; k < n; ++k) y += 0.15 * std::sin(double(i + 2 * k + j)) * x[i] * x[k];
  }
  return y;
}

inline tavrin::Fit smoothFit(tavrin::DesignKind kind, std::size_t n, std::size_t responses) {
  std::vector<tavrin::Factor> factors;
  for (std::size_t i = 0; i < n; ++i)
    factors.push_back({numbered("x", i + 1), double(i + 1), 2.0 * double(i + 1) + 10.0, ""});
  tavrin::PlanOptions options;
  options.seed = 1;
  const tavrin::Plan plan = makePlan(kind, factors, options);
  std::vector<tavrin::Response> names;
  for (std::size_t j = 0; j < responses; ++j) names.push_back({numbered("Y", j + 1), ""});
  tavrin::Matrix results(plan.runCount(), responses);
  for (std::size_t r = 0; r < plan.runCount(); ++r)
    for (std::size_t j = 0; j < responses; ++j)
      results(r, j) = smoothResponse(j, plan.coded.row(r), n) + 0.2 * std::sin(0.7 * double(r) + double(j));
  return tavrin::fitModels(plan, names, results);
}

}  // namespace bench
