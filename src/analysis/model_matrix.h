// Internal routines of model building: checks of the data, the model
// matrix (terms, then sum-to-zero block effects) and plain least squares.
#pragma once

#include <Eigen/Dense>
#include <string>
#include <vector>

#include "tavrin/model_building.h"

namespace tavrin::analysis {

// InvalidArgument for shapes that do not match, values that are not
// finite, a single block or run positions that repeat.
void checkData(const ModelData& data);
// InvalidArgument for a model without the intercept, of another factor
// count, or with indices out of order or range.
void checkTerms(const ModelTerms& terms, std::size_t factors);

// The distinct block labels, increasing; empty without blocks.
std::vector<int> blockLevels(const std::vector<int>& blocks);

// Columns: the terms, then the effects of every block level but the last
// (1 in its own block, -1 in the last, 0 elsewhere).
Eigen::MatrixXd modelMatrix(const ModelData& data, const ModelTerms& terms, const std::vector<int>& levels);
// Intercept and block columns only.
Eigen::MatrixXd blockMatrix(const ModelData& data, const std::vector<int>& levels);

Eigen::VectorXd responseVector(const ModelData& data);

// The residual sum of squares of y on the columns of x and the rank of x
// (column-pivoted QR).
struct ResidualFit {
  double ss = 0.0;
  Eigen::Index rank = 0;
};
ResidualFit residualFit(const Eigen::MatrixXd& x, const Eigen::VectorXd& y);

}  // namespace tavrin::analysis
