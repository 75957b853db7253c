// Properties of generated designs, computed from their runs alone.
#pragma once

#include <Eigen/Dense>
#include <algorithm>
#include <vector>

#include "tavrin/matrix.h"
#include "tavrin/model_terms.h"

namespace tavrin::testing {

inline Eigen::MatrixXd modelMatrix(const Matrix& coded, const ModelTerms& model) {
  Eigen::MatrixXd x(coded.rows(), model.size());
  std::vector<double> row(model.size());
  for (std::size_t r = 0; r < coded.rows(); ++r) {
    modelRow(model, coded.row(r), row.data());
    for (std::size_t c = 0; c < row.size(); ++c) x(static_cast<Eigen::Index>(r), static_cast<Eigen::Index>(c)) = row[c];
  }
  return x;
}

// Largest |covariance| between a centred block indicator and a centred
// column of `model`: 0 when the design blocks orthogonally to the model.
inline double blockModelCovariance(const Matrix& coded, const std::vector<int>& blocks, const ModelTerms& model) {
  const Eigen::MatrixXd x = modelMatrix(coded, model);
  const Eigen::MatrixXd centred = x.rightCols(x.cols() - 1).rowwise() - x.rightCols(x.cols() - 1).colwise().mean();
  double worst = 0.0;
  for (int b = 1; b <= *std::max_element(blocks.begin(), blocks.end()); ++b) {
    Eigen::VectorXd z(x.rows());
    for (Eigen::Index r = 0; r < x.rows(); ++r) z(r) = blocks[static_cast<std::size_t>(r)] == b ? 1.0 : 0.0;
    z.array() -= z.mean();
    worst = std::max(worst, (centred.transpose() * z).cwiseAbs().maxCoeff());
  }
  return worst;
}

}  // namespace tavrin::testing
