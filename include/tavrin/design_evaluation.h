// The evaluation of a design for a model before a single run is made: the
// alphabetic efficiencies, the prediction variance over the region, the
// variance inflation and correlation of the terms and the power of the
// coefficient tests. Coded units throughout; a free function over values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tavrin/api.h"
#include "tavrin/matrix.h"
#include "tavrin/model_terms.h"

namespace tavrin {

// The region a design is judged over: the cube [-1, 1]^k or the ball of
// radius sqrt(k) (through the cube's corners).
enum class Region { Cube, Sphere };

struct EvaluationOptions {
  Region region = Region::Cube;
  std::size_t samples = 10000;   // points drawn uniformly in the region (>= 2)
  std::size_t quantiles = 101;   // fraction-of-design-space quantiles (>= 2)
  std::uint64_t seed = 1;        // one seed, one set of points
  double coefficient = 1.0;      // size of a coefficient to detect, coded units
  double sigma = 1.0;            // standard deviation of a measurement (> 0)
  double significance = 0.05;    // level of the two-sided t test, in (0, 1)
};

// SPV(x) = N f(x)' (X'X)^-1 f(x), the scaled prediction variance. Per-term
// vectors follow model.indices; values that do not exist for the intercept
// (VIF, correlations) are NaN there.
struct DesignEvaluation {
  std::size_t runs = 0;
  std::size_t terms = 0;
  std::size_t residualDf = 0;
  double dEfficiency = 0.0;       // 100 |X'X|^(1/p) / N
  double aEfficiency = 0.0;       // 100 p / trace(N (X'X)^-1)
  double gEfficiency = 0.0;       // 100 p / max SPV (over the points named below)
  double iCriterion = 0.0;        // mean SPV over the region, from the region's exact moments
  double conditionNumber = 0.0;   // largest / smallest eigenvalue of X'X
  std::vector<double> coefficientVariance;  // diag (X'X)^-1: Var(b_j) / sigma^2
  std::vector<double> vif;        // 1 / (1 - R_j^2) of term j on the other terms
  Matrix correlations;            // correlation of the model columns, terms x terms
  std::vector<double> power;      // P(reject b_j = 0 | b_j = coefficient); NaN when residualDf == 0
  std::vector<double> fdsFractions;  // 0 .. 1, `quantiles` values
  std::vector<double> fdsSpv;        // SPV quantile of the sampled points at each fraction
};

// Evaluates the design `coded` (runs x model.factors) for `model`. Refuses
// (InvalidArgument) a model of another factor count, non-finite settings
// (naming run and factor), fewer runs than terms, a design that cannot
// estimate every term (naming the dependent terms) and options out of range.
// The maximum SPV for G is taken over the sampled points, the runs inside
// the region and, for the cube, its 3^k grid (k <= 7) or vertices
// (k <= 12); for the ball, its centre, axis, edge-direction and (k <= 12)
// diagonal points on the surface. Block effects are not part of the model.
TAVRIN_LAYER_API DesignEvaluation evaluateDesign(const Matrix& coded, const ModelTerms& model,
                                                 const EvaluationOptions& options = {});

}  // namespace tavrin
