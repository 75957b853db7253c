#include "analysis/second_order.h"

#include "tavrin/quadratic.h"

namespace tavrin::analysis {

Eigen::MatrixXd secondOrderPart(std::size_t n, const std::vector<double>& coef) {
  const auto size = static_cast<Eigen::Index>(n);
  Eigen::MatrixXd b(size, size);
  for (std::size_t i = 0; i < n; ++i) {
    const auto ii = static_cast<Eigen::Index>(i);
    b(ii, ii) = coef[quadratic::squareIndex(n, i)];
    for (std::size_t j = i + 1; j < n; ++j) {
      const auto jj = static_cast<Eigen::Index>(j);
      b(ii, jj) = b(jj, ii) = coef[quadratic::productIndex(n, i, j)] / 2.0;
    }
  }
  return b;
}

Eigen::VectorXd firstOrderPart(std::size_t n, const std::vector<double>& coef) {
  Eigen::VectorXd b(static_cast<Eigen::Index>(n));
  for (std::size_t i = 0; i < n; ++i) b(static_cast<Eigen::Index>(i)) = coef[quadratic::linearIndex(i)];
  return b;
}

Matrix orientedEigenvectors(const Eigen::MatrixXd& vectors) {
  const auto n = static_cast<std::size_t>(vectors.rows());
  Matrix out(n, n);
  for (Eigen::Index k = 0; k < vectors.cols(); ++k) {
    Eigen::Index largest = 0;
    vectors.col(k).cwiseAbs().maxCoeff(&largest);
    const double sign = vectors(largest, k) < 0.0 ? -1.0 : 1.0;
    for (Eigen::Index i = 0; i < vectors.rows(); ++i)
      out(static_cast<std::size_t>(i), static_cast<std::size_t>(k)) = sign * vectors(i, k);
  }
  return out;
}

}  // namespace tavrin::analysis
