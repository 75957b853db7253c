// Summaries of a sample: percentiles by linear interpolation between order
// statistics (numpy's default), mean and sample standard deviation.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace tavrin::optimum {

// Percentile q (0..100) of an ascending sample; NaN for an empty one.
inline double percentileOfSorted(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double position = static_cast<double>(sorted.size() - 1) * q / 100.0;
  const std::size_t below = static_cast<std::size_t>(std::floor(position));
  const std::size_t above = std::min(below + 1, sorted.size() - 1);
  const double fraction = position - static_cast<double>(below);
  return sorted[below] + (sorted[above] - sorted[below]) * fraction;
}

inline double mean(const std::vector<double>& x) {
  if (x.empty()) return std::numeric_limits<double>::quiet_NaN();
  return std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
}

// With n - 1 in the denominator; 0 for a single value.
inline double standardDeviation(const std::vector<double>& x, double average) {
  if (x.size() < 2) return x.empty() ? std::numeric_limits<double>::quiet_NaN() : 0.0;
  double ss = 0.0;
  for (const double v : x) ss += (v - average) * (v - average);
  return std::sqrt(ss / static_cast<double>(x.size() - 1));
}

}  // namespace tavrin::optimum
