// Predictions with intervals of every response at the same points. The
// variance ratio x'(X'X)^-1 x depends on the point alone, so it is computed
// once per point for all responses; the results are predictWithIntervals'.
#pragma once

#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/study.h"

namespace tavrin::analysis {

// result[j][k]: response j at row k of `points` (natural units). Throws as
// predictWithIntervals does.
std::vector<std::vector<Prediction>> predictEveryResponse(const Fit& fit, const Matrix& points,
                                                          const AnalysisOptions& options = {});

}  // namespace tavrin::analysis
