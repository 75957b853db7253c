// Pure error from runs at identical settings, and the lack of fit beyond it.
#pragma once

#include <Eigen/Dense>

#include "tavrin/analysis.h"
#include "tavrin/study.h"

namespace tavrin::analysis {

// Groups the runs by their coded settings (the linear columns of the model
// matrix); pure error is the spread about each group's mean, lack of fit the
// rest of the residual. Unavailable, with the reason, when no setting is
// repeated, when no df is left for lack of fit, or when replicates agree
// exactly.
LackOfFit lackOfFit(const Fit& fit, std::size_t response, const Eigen::VectorXd& observed, double residualSS);

}  // namespace tavrin::analysis
