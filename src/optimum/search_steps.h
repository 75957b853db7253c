// The steps of optimize() that robustness() reuses.
#pragma once

#include <vector>

#include "optimum/polish.h"
#include "optimum/problem.h"

namespace tavrin::optimum {

// Sample points kept from the global stage for choosing the starts.
inline constexpr std::size_t kKeptSamplePoints = 256;

// InvalidArgument when the fit cannot be searched (factor count, shapes).
void validateFit(const Fit& fit);

// Natural settings of a coded point; the region's ends map to the values given.
std::vector<double> naturalSettings(const Problem& problem, const Fit& fit, const std::vector<double>& coded);

// Global stage, polish of the spread best points and the distinct best
// admissible optima, best first (empty when none is admissible).
std::vector<Located> searchOptima(const Problem& problem, const std::vector<double>& coef,
                                  const SearchOptions& options, unsigned& admissiblePoints);

}  // namespace tavrin::optimum
