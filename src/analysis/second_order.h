// The second-order part of a quadratic in coded units, y = b0 + x'b + x'Bx
// with B symmetric (squares on the diagonal, half the products off it),
// shared by the canonical analyses and the ridge paths.
#pragma once

#include <Eigen/Dense>
#include <vector>

#include "tavrin/matrix.h"

namespace tavrin::analysis {

Eigen::MatrixXd secondOrderPart(std::size_t n, const std::vector<double>& coef);
Eigen::VectorXd firstOrderPart(std::size_t n, const std::vector<double>& coef);

// Each eigenvector's sign is arbitrary; the largest component is made
// positive so results do not depend on the solver's choice.
Matrix orientedEigenvectors(const Eigen::MatrixXd& vectors);

}  // namespace tavrin::analysis
