// The optimisation problem of a fit and its goals, validated once: the
// search region in coded units, the responses that take part ("slots"),
// the goals and the response intervals. Every stage (global search,
// polish, robustness) works on this value and on the coded coefficients
// of the slots, laid out slot after slot in the order of quadratic.h.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "optimum/packed_models.h"
#include "tavrin/optimum.h"

namespace tavrin::optimum {

struct GoalTerm {
  std::size_t slot = 0;
  Goal goal;
};

// An interval on a slot's prediction. Hard intervals (the constraints)
// decide admissibility; soft ones (Within goals) only guide the polish,
// since their desirability already is 0 outside.
// Its ends are on the slot's model scale (a transformed response's
// modelled value); `givenLow` and `givenHigh` are the ends as given, in
// the response's units.
struct ResponseInterval {
  std::size_t slot = 0;
  double low = 0.0;
  double high = 0.0;
  bool hard = true;
  double givenLow = 0.0;
  double givenHigh = 0.0;
};

struct Problem {
  std::size_t factors = 0;
  std::vector<double> lower;  // coded region per factor
  std::vector<double> upper;
  std::vector<double> lowerNatural;  // the same region as given, natural units
  std::vector<double> upperNatural;
  std::vector<std::size_t> freeFactors;  // factors with lower < upper
  std::vector<std::size_t> responses;    // fit response index of each slot
  std::vector<double> scale;             // per slot: spread of its modelled observations, > 0
  // Per slot: the Box-Cox power its model is on (NaN: the response as
  // measured). Goals score the value mapped back to the response's units.
  std::vector<double> power;
  std::vector<GoalTerm> goals;
  std::vector<ResponseInterval> intervals;
  bool weightedSum = false;
  double importanceSum = 0.0;

  std::size_t slotCount() const noexcept { return responses.size(); }
};

// Admissibility tolerance of a hard interval, relative to the slot's scale.
inline constexpr double kFeasibilityTolerance = 1e-9;

// Validates the goals against the fit (InvalidArgument / UnknownName, see
// optimum.h) and builds the problem.
Problem compileProblem(const Fit& fit, const Goals& goals);

// Throws InvalidArgument naming the response, with the field's path under
// `path` ("goals[2]"), when a goal's numbers do not make a desirability (or
// a weighted-sum) goal.
void validateGoal(const Goal& goal, const std::string& path);

// The ceiling of a Maximize or Minimize goal's ratio: 1, or none (infinity)
// for an unbounded goal.
inline double ratioCap(const Goal& g) noexcept { return g.unbounded ? std::numeric_limits<double>::infinity() : 1.0; }

// A slot value mapped back to the response's units: the limit 0 (power >
// 0) or infinity (power < 0) where the value has no preimage.
double originalValue(const Problem& problem, std::size_t slot, double value) noexcept;
// A value in the response's units on the slot's model scale: -infinity
// for one that is not positive, which a transformed response never reaches.
double modelledValue(const Problem& problem, std::size_t slot, double value) noexcept;
// Whether any slot with a goal is transformed.
bool transformedGoals(const Problem& problem) noexcept;

// The coded coefficients of the slots, from the fit's models.
std::vector<double> slotCoefficients(const Problem& problem, const Fit& fit);

// Total violation of the hard intervals, each relative to its slot's scale.
double violation(const Problem& problem, const double* values) noexcept;
inline bool admissible(const Problem& problem, const double* values) noexcept {
  return violation(problem, values) <= kFeasibilityTolerance;
}

// A key that orders points as the overall desirability (or the weighted
// sum) does, cheaper to compute: prod d_i^w_i without the final root.
double rankKey(const Problem& problem, const double* values) noexcept;

// rankKey and violation of the first `count` lanes of a block of slot values.
void scoreBlock(const Problem& problem, const LaneColumn* values, std::size_t count, double* keys,
                double* violations) noexcept;

// The overall desirability (weighted geometric mean), or the weighted sum.
double overall(const Problem& problem, const double* values) noexcept;

// The surrogate the polish maximises and its derivative per slot. For the
// desirability kinds it is sum_i w_i * log d_i / sum w_i with log r
// continued linearly below `floor`, so a point of zero desirability still
// has a slope towards the admissible goals; where every ratio is above
// the floor it equals log of the overall desirability.
// `curvature` (may be null) receives the second derivative per slot.
double surrogate(const Problem& problem, const double* values, double floor, double* derivative,
                 double* curvature = nullptr) noexcept;

// Smallest desirability ratio of the goals at a point (1 when none bites).
double smallestRatio(const Problem& problem, const double* values) noexcept;

// Euclidean distance between two coded points of the same length.
inline double codedDistance(const std::vector<double>& a, const std::vector<double>& b) noexcept {
  double d2 = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) d2 += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(d2);
}

}  // namespace tavrin::optimum
