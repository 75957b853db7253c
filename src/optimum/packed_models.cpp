#include "optimum/packed_models.h"

#include "tavrin/quadratic.h"

namespace tavrin::optimum {

PackedModels packModels(std::size_t factors, std::size_t models, const double* coef) {
  const std::size_t terms = quadratic::termCount(factors);
  PackedModels packed{factors, models, {}};
  packed.coefficients.reserve(terms * models);
  for (std::size_t m = 0; m < models; ++m, coef += terms) {
    packed.coefficients.push_back(coef[0]);
    for (std::size_t i = 0; i < factors; ++i) {
      packed.coefficients.push_back(coef[quadratic::linearIndex(i)]);
      packed.coefficients.push_back(coef[quadratic::squareIndex(factors, i)]);
      for (std::size_t j = i + 1; j < factors; ++j)
        packed.coefficients.push_back(coef[quadratic::productIndex(factors, i, j)]);
    }
  }
  return packed;
}

}  // namespace tavrin::optimum
