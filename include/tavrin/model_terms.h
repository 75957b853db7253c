// A model as a subset of the full quadratic's terms (quadratic.h): the
// terms a fit estimates, a design is built for or a reduction keeps. The
// intercept is always in. A dropped term is a zero coefficient in the full
// layout, so evaluation, gradients and the optimum keep one code path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/api.h"
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

// The model a user names: "linear", "interaction", "quadratic", or a term
// list such as "A B C A:B A^2 B^2" (terms separated by spaces or '+'; a name
// with spaces or ':' in backquotes, `my factor`; B:A is A:B; "1" is the
// intercept, which is always in). InvalidArgument for an empty text, a
// removed intercept ("-1", "0"), a term repeated, or a term of another form;
// UnknownName for a term naming no factor. Hierarchy is not enforced here:
// see missingParents.
TAVRIN_LAYER_API ModelTerms parseModelTerms(std::string_view text, const std::vector<std::string>& factorNames);

// The index (quadratic.h layout) of one term label as parseModelTerms reads it.
TAVRIN_LAYER_API std::size_t parseTerm(std::string_view label, const std::vector<std::string>& factorNames);

// The term list that parseModelTerms reads back to `model`, without the intercept.
TAVRIN_LAYER_API std::string formatModelTerms(const ModelTerms& model, const std::vector<std::string>& factorNames);

// The parents that `model` lacks: A for A^2, A and B for A:B (increasing
// indices). Empty when the model is hierarchical.
TAVRIN_LAYER_API std::vector<std::size_t> missingParents(const ModelTerms& model);

// A warning naming each term whose parents are missing and which they are,
// e.g. "A:C lacks C; B^2 lacks B"; empty when the model is hierarchical.
TAVRIN_LAYER_API std::string hierarchyWarning(const ModelTerms& model, const std::vector<std::string>& factorNames);

// The settings of a backward elimination (model_building.h: reduceModel).
struct ReductionOptions {
  enum Criterion { PValue, Aicc };
  Criterion criterion = PValue;
  // A term is removed while its partial-test p exceeds this, in (0, 1).
  double pToRemove = 0.10;
  // Term labels never removed (their parents are then kept too) and terms
  // removed before the elimination starts.
  std::vector<std::string> forceIn;
  std::vector<std::string> forceOut;
};

}  // namespace tavrin
