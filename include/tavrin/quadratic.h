// The full quadratic model in n factors, and the one place that knows the
// order of its coefficients:
//
//   [0]                 constant
//   [1 .. n]            linear      x_i
//   [n+1 .. 2n]         square      x_i^2
//   [2n+1 ..]           product     x_i * x_j for i < j, in the order
//                                   (0,1), (0,2), ..., (0,n-1), (1,2), ...
//
// Factors are numbered from 0 here. Every writer, fit, evaluation and
// gradient of the study layer goes through these functions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavrin::quadratic {

constexpr std::size_t termCount(std::size_t n) noexcept { return 1 + 2 * n + n * (n - 1) / 2; }
constexpr std::size_t linearIndex(std::size_t i) noexcept { return 1 + i; }
constexpr std::size_t squareIndex(std::size_t n, std::size_t i) noexcept { return 1 + n + i; }
// Index of x_i * x_j for i < j < n.
constexpr std::size_t productIndex(std::size_t n, std::size_t i, std::size_t j) noexcept {
  return 1 + 2 * n + i * (2 * n - i - 1) / 2 + (j - i - 1);
}

static_assert(termCount(1) == 3 && termCount(2) == 6 && termCount(20) == 231);
static_assert(productIndex(3, 0, 1) == 7 && productIndex(3, 0, 2) == 8 && productIndex(3, 1, 2) == 9);
static_assert(productIndex(20, 18, 19) == termCount(20) - 1);

// The kind of a term and the factors it involves.
struct Term {
  enum Kind { Constant, Linear, Square, Product } kind;
  std::size_t first;   // factor of a linear, square or product term
  std::size_t second;  // second factor of a product term
};

inline Term term(std::size_t n, std::size_t index) noexcept {
  if (index == 0) return {Term::Constant, 0, 0};
  if (index <= n) return {Term::Linear, index - 1, 0};
  if (index <= 2 * n) return {Term::Square, index - 1 - n, 0};
  std::size_t k = index - 1 - 2 * n;
  std::size_t i = 0;
  while (k >= n - 1 - i) {
    k -= n - 1 - i;
    ++i;
  }
  return {Term::Product, i, i + 1 + k};
}

// The term's label from the factor names: "(Intercept)", "A", "A^2", "A:B".
inline std::string termLabel(const std::vector<std::string>& factorNames, std::size_t index) {
  const Term t = term(factorNames.size(), index);
  switch (t.kind) {
    case Term::Constant: return "(Intercept)";
    case Term::Linear: return factorNames[t.first];
    case Term::Square: return factorNames[t.first] + "^2";
    case Term::Product: return factorNames[t.first] + ":" + factorNames[t.second];
  }
  return {};
}

// The model-matrix row at x[0..n): row[k] is term k's value.
inline void terms(std::size_t n, const double* x, double* row) noexcept {
  row[0] = 1.0;
  for (std::size_t i = 0; i < n; ++i) {
    row[linearIndex(i)] = x[i];
    row[squareIndex(n, i)] = x[i] * x[i];
  }
  std::size_t k = 1 + 2 * n;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) row[k++] = x[i] * x[j];
}

// The model's value at x.
inline double evaluate(std::size_t n, const double* coef, const double* x) noexcept {
  double value = coef[0];
  for (std::size_t i = 0; i < n; ++i) value += (coef[linearIndex(i)] + coef[squareIndex(n, i)] * x[i]) * x[i];
  std::size_t k = 1 + 2 * n;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) value += coef[k++] * x[i] * x[j];
  return value;
}

// The model's gradient at x, to grad[0..n).
inline void gradient(std::size_t n, const double* coef, const double* x, double* grad) noexcept {
  for (std::size_t i = 0; i < n; ++i) grad[i] = coef[linearIndex(i)] + 2.0 * coef[squareIndex(n, i)] * x[i];
  std::size_t k = 1 + 2 * n;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j, ++k) {
      grad[i] += coef[k] * x[j];
      grad[j] += coef[k] * x[i];
    }
}

}  // namespace tavrin::quadratic
