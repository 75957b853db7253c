// Pure error from runs at identical settings, and the lack of fit beyond it.
#pragma once

#include <Eigen/Dense>
#include <string>
#include <vector>

#include "tavrin/analysis.h"
#include "tavrin/matrix.h"
#include "tavrin/study.h"

namespace tavrin::analysis {

// The residual of the cell-means model: one mean per distinct setting (a
// row of `settings`) plus sum-coded effects of `blocks` (empty: none). Its
// df is runs minus the rank of that model, which is less than cells plus
// blocks when a block holds only whole groups of repeated settings.
struct PureError {
  double ss = 0.0;
  int df = 0;
  std::size_t cells = 0;  // distinct settings
};
PureError pureError(const Matrix& settings, const std::vector<int>& blocks, const Eigen::VectorXd& y);

// Lack of fit from a model's residual (residualSS on residualDf) and the
// pure error: available only with pure error df, lack-of-fit df and pure
// error sum of squares all above 0, else the reason why not.
LackOfFit lackOfFit(const PureError& pure, double residualSS, int residualDf);

// The settings of a Fit's runs (coded, from the linear columns of its design).
Matrix settingsOf(const Fit& fit);

}  // namespace tavrin::analysis
