// Optimal designs for a chosen model, and augmentation of an existing
// design, by coordinate exchange over the factor box in coded units.
//
// A start draws its runs at random (random levels of the candidate grid,
// or points of a quasi-random sample of the feasible region when the grid
// point drawn breaks a constraint) until the model matrix has full rank;
// then each coordinate of each run in turn moves to the candidate level
// that improves the criterion most, until a pass over the whole design
// improves nothing; with `refine`, passes that also look between levels
// follow until one gains less than 1e-4 in all (in log det, or relative
// average variance). A move is scored in O(1) from polynomials in the
// coordinate's value built with (X'X)^-1, and made by two rank-one
// (Sherman-Morrison) updates; (X'X)^-1 is refactorised once per pass.
// Start k draws from std::mt19937_64 seeded with std::seed_seq{seed low
// and high 32 bits, k}; the best start wins, ties to the lowest index, so
// the result does not depend on the thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tavrin/api.h"
#include "tavrin/matrix.h"
#include "tavrin/design_recipe.h"
#include "tavrin/model_terms.h"
#include "tavrin/study.h"

namespace tavrin {

// Criterion and LinearConstraint: design_recipe.h.

// What optimalDesign and augmentDesign share.
struct ExchangeOptions {
  Criterion criterion = Criterion::D;
  // The factors' ranges map natural to coded units (coded -1 and +1 are
  // low and high). Empty: natural settings are the coded ones.
  std::vector<Factor> factors;
  std::vector<LinearConstraint> constraints;
  // Candidate values of a coordinate: `levels` equally spaced levels over
  // [-1, 1] (>= 2, >= 3 for a model with squares) and the ends of the
  // coordinate's feasible interval under the constraints.
  unsigned levels = 21;
  // Once the grid is exhausted, also look between levels: a golden-section
  // search within one grid step of the best level.
  bool refine = true;
  unsigned starts = 20;  // >= 1
  std::uint64_t seed = 1;
  unsigned threads = 0;  // 0 = every core; the result does not depend on it
};

struct OptimalOptions : ExchangeOptions {
  std::size_t runs = 0;  // >= the model's term count
};

// Runs to add to a design whose runs are kept as they are (they may lie
// outside the box or break the constraints). Cloud and Optimum need
// `cloud`: points x factors in natural units (Robustness::optima passes as
// it is); rows entirely NaN (failed replicates) are skipped.
struct AugmentOptions : ExchangeOptions {
  std::size_t runs = 0;  // runs to add, >= 1
  Matrix cloud;
};

struct OptimalDesign {
  Matrix coded;    // runs x factors; for augmentation the kept runs first
  Matrix natural;  // the same runs in natural units
  double logDet = 0.0;  // log det(X'X), X the model matrix of every run
  // 100 * det(X'X)^(1/p) / N: p terms, N runs; 100 for an orthogonal
  // design at the corners of the cube.
  double dEfficiency = 0.0;
  // trace((X'X)^-1 W), W the criterion's, for I, Cloud and Optimum (in
  // units of sigma^2); NaN for D.
  double averageVariance = 0.0;
  unsigned bestStart = 0;     // index of the start that gave the design
  unsigned failedStarts = 0;  // starts that found no full-rank design
};

// The optimal design of options.runs runs for `model`. Throws
// InvalidArgument naming what is wrong: a malformed model, fewer runs than
// terms, a bad option, a constraint of the wrong length, non-finite, with
// every coefficient zero, or that excludes the whole box; and when no
// point of a quasi-random sample of 65,535 box points meets the
// constraints together. StateError when no start reaches full rank (too
// few distinct feasible points for the model). Cloud and Optimum are refused.
TAVRIN_LAYER_API OptimalDesign optimalDesign(const ModelTerms& model, const OptimalOptions& options);

// `existingCoded` (runs x factors, coded) plus options.runs new runs,
// chosen for `model` (the existing design's or a larger one) by the
// criterion. Throws as optimalDesign, and InvalidArgument for an existing
// setting or cloud point that is NaN or infinite (naming run and factor),
// a shape that does not match the model's factors, fewer runs in all than
// terms, or an empty cloud for Cloud and Optimum.
TAVRIN_LAYER_API OptimalDesign augmentDesign(const Matrix& existingCoded, const ModelTerms& model,
                                             const AugmentOptions& options);

}  // namespace tavrin
