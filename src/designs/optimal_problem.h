// The coordinate-exchange problem, validated once: the model, the runs kept
// as they are, the constraints in coded units, the candidate levels and the
// moments matrix of the criterion. optimalDesign and augmentDesign build it,
// each start of the exchange reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tavrin/optimal_design.h"

namespace tavrin::designs {

// The LPtau sequence, whose points make the feasible sample, has 20 dimensions.
inline constexpr std::size_t kMaxOptimalFactors = 20;
// Quasi-random points tried for the feasible sample, and most kept.
inline constexpr unsigned kSamplePoints = 65535;
inline constexpr std::size_t kSampleKept = 8192;

struct ExchangeProblem {
  ModelTerms model;
  Criterion criterion = Criterion::D;
  Matrix fixed;               // kept runs, coded: rows x factors
  std::size_t newRuns = 0;    // runs the exchange chooses
  Matrix constraintA;         // coded: constraints x factors
  std::vector<double> constraintB;
  std::vector<double> levels;  // candidate levels of a coordinate, increasing
  bool refine = true;
  Matrix moments;         // terms x terms: W of the I, Cloud and Optimum criteria; empty for D
  Matrix feasibleSample;  // coded points that meet the constraints (when there are any)

  std::size_t factors() const noexcept { return model.factors; }
  std::size_t terms() const noexcept { return model.size(); }
  std::size_t runs() const noexcept { return fixed.rows() + newRuns; }
  // True when coded point z meets every constraint (within rounding).
  bool feasible(const double* z) const noexcept;
};

// One start's design: every run (the kept ones first) and its criterion.
struct StartResult {
  bool fullRank = false;
  Matrix coded;
  double logDet = 0.0;
  double averageVariance = 0.0;  // trace((X'X)^-1 W); 0 for D
};

// Throws InvalidArgument naming what is wrong with the model or the
// options, constraints included.
void validateOptions(const ModelTerms& model, const ExchangeOptions& options);

// The problem for `newRuns` runs added to `fixed`; `cloudCoded` gives the
// moments of Cloud and Optimum. Expects validated options.
ExchangeProblem makeProblem(const ModelTerms& model, const ExchangeOptions& options, Matrix fixed,
                            std::size_t newRuns, const Matrix& cloudCoded);

// The moments E[f f'] of the model's terms f under the uniform law on the
// cube [-1, 1]^factors, exactly.
Matrix cubeMoments(const ModelTerms& model);
// The mean of f f' over the rows of `points` (coded).
Matrix pointMoments(const ModelTerms& model, const Matrix& points);
// The mean over the rows of `points` (coded) of sum_i g_i g_i', g_i the
// derivative of f by factor i: trace(A W) is then the mean of trace
// Cov(grad y-hat) / sigma^2.
Matrix gradientMoments(const ModelTerms& model, const Matrix& points);

// One start of the coordinate exchange, seeded from (seed, start).
StartResult exchangeStart(const ExchangeProblem& problem, std::uint64_t seed, unsigned start);

// Runs the starts on the worker threads and returns the best design.
OptimalDesign bestOfStarts(const ExchangeProblem& problem, const ExchangeOptions& options);

}  // namespace tavrin::designs
