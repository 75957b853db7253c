// How a study's runs are made: a registry generator with its options, or
// an optimal design for a model, and the runs added to it later. Plain
// values; a study records them, so its design can be described and made
// again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/api.h"
#include "tavrin/designs.h"

namespace tavrin {

// D: maximise log det(X'X). I: minimise the average prediction variance
// over the region, trace((X'X)^-1 W), W the moments of the model's terms
// (exact for uniform on the cube; from a fixed quasi-random sample of the
// feasible region under constraints). Over given points (the relocated
// optima of robustness, AugmentOptions::cloud): Cloud minimises the average
// prediction variance there; Optimum the average of trace Cov(grad y-hat),
// the variance of the fitted gradient, whose noise is what moves a fitted
// optimum (x* moves by -H^-1 times the gradient's error); in the
// simulations of docs/optimal-designs.md it shrank the spread of the
// relocated optima more than Cloud, D or I did.
enum class Criterion { D, I, Cloud, Optimum };

// "d", "i", "cloud", "optimum".
TAVRIN_LAYER_API std::string_view criterionName(Criterion criterion) noexcept;
// The names above, case-insensitive; InvalidArgument (field "criterion") otherwise.
TAVRIN_LAYER_API Criterion parseCriterion(std::string_view text);

// a . x <= b on natural settings, one coefficient per factor; at least one
// coefficient is non-zero.
struct LinearConstraint {
  std::vector<double> a;
  double b = 0.0;
};

// A constraint as text: a sum of terms "c*Name", "c Name", "Name" or a
// number, on each side of "<=" or ">=" (e.g. "2*A + B <= 3", "A >= B - 1");
// a name with blanks or signs in backquotes. InvalidArgument (field
// "constraint") naming the text for a malformed one, an unknown factor, or
// one whose factor coefficients all cancel.
TAVRIN_LAYER_API LinearConstraint parseConstraint(std::string_view text, const std::vector<std::string>& factorNames);
// "2*A + B <= 3": what parseConstraint reads back to the same values.
TAVRIN_LAYER_API std::string formatConstraint(const LinearConstraint& constraint,
                                              const std::vector<std::string>& factorNames);

// What a design kind is made from. A registry generator takes `options`
// (designs.h; centre runs of Box-Behnken and Rechtschaffner are the plan's
// extra centre runs); an optimal design takes the rest and
// options.centerRuns (centre runs added after its own runs). Setting what
// the kind does not take is refused, naming it.
struct DesignRecipe {
  DesignOptions options{};
  std::string model{};         // linear, interaction, quadratic (the default) or a term list
  std::size_t runs = 0;        // of the optimal design proper, >= the model's terms
  std::optional<Criterion> criterion{};  // D (the default) or I
  std::vector<LinearConstraint> constraints{};
};

// Runs added to a study after it was made, in block `block`, their order
// shuffled with the `seed`: chosen for `model` by `criterion`
// (Study::augment), or, with `fold` set, the axial block of a fold
// (Study::fold), whose alpha and centre runs it records as placed, so the
// runs are made again from the runs before them (criterion and model unused).
struct Augmentation {
  std::size_t runs = 0;
  Criterion criterion = Criterion::D;
  std::string model;
  std::uint64_t seed = 0;
  int block = 1;
  std::optional<FoldOptions> fold{};
};

}  // namespace tavrin
