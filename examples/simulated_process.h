// The "real" chemical process of both examples, unknown to the experimenter:
// smooth in reaction Temperature (degC) and Time (min), with a fixed
// measurement-noise sequence so every run of an example prints the same.
#pragma once

#include <cstdint>

namespace example {

inline double trueYield(double temp, double time) {
  const double dT = temp - 192.0, dt = time - 38.0;
  return 88.0 - 0.012 * dT * dT - 0.015 * dt * dt - 0.0008 * dT * dt;
}

inline double trueImpurity(double temp, double time) {
  const double dT = temp - 150.0, dt = time - 10.0;
  return 0.4 + 0.0004 * dT * dT + 0.012 * dt + 0.00015 * dT * dt;
}

// A fixed pseudo-random sequence in [-1, 1].
inline double noise() {
  static std::uint32_t state = 12345u;
  state = state * 1664525u + 1013904223u;
  return (state >> 8) / double(1u << 23) - 1.0;
}

}  // namespace example
