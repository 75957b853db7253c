// A model as a subset of the full quadratic's terms (quadratic.h): the
// terms a fit estimates, a design is built for or a reduction keeps. The
// intercept is always in. A dropped term is a zero coefficient in the full
// layout, so evaluation, gradients and the optimum keep one code path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "tavrin/quadratic.h"

namespace tavrin {

struct ModelTerms {
  std::size_t factors = 0;
  // Indices into the layout of quadratic.h, increasing, starting with 0.
  std::vector<std::size_t> indices;

  std::size_t size() const noexcept { return indices.size(); }
  bool contains(std::size_t index) const noexcept {
    return std::binary_search(indices.begin(), indices.end(), index);
  }

  // Intercept and the n linear terms.
  static ModelTerms linear(std::size_t n) { return upTo(n, 1 + n); }
  // Linear terms and every two-factor interaction.
  static ModelTerms interaction(std::size_t n) {
    ModelTerms m = linear(n);
    for (std::size_t k = 1 + 2 * n; k < quadratic::termCount(n); ++k) m.indices.push_back(k);
    return m;
  }
  // The full quadratic.
  static ModelTerms quadratic(std::size_t n) { return upTo(n, quadratic::termCount(n)); }

  friend bool operator==(const ModelTerms&, const ModelTerms&) = default;

 private:
  static ModelTerms upTo(std::size_t n, std::size_t end) {
    ModelTerms m{n, {}};
    m.indices.reserve(end);
    for (std::size_t k = 0; k < end; ++k) m.indices.push_back(k);
    return m;
  }
};

// The model-matrix row of `model` at coded point x[0..factors): row[c] is
// the value of term model.indices[c].
inline void modelRow(const ModelTerms& model, const double* x, double* row) noexcept {
  const std::size_t n = model.factors;
  for (std::size_t c = 0; c < model.indices.size(); ++c) {
    const quadratic::Term t = quadratic::term(n, model.indices[c]);
    switch (t.kind) {
      case quadratic::Term::Constant: row[c] = 1.0; break;
      case quadratic::Term::Linear: row[c] = x[t.first]; break;
      case quadratic::Term::Square: row[c] = x[t.first] * x[t.first]; break;
      case quadratic::Term::Product: row[c] = x[t.first] * x[t.second]; break;
    }
  }
}

}  // namespace tavrin
