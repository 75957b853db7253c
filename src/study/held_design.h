// The runs of the design a study holds, made from its kind and recipe.
#pragma once

#include <cstdint>
#include <vector>

#include "tavrin/optimal_design.h"
#include "tavrin/study.h"

namespace tavrin {

// The runs of the design proper, the plan's extra centre runs (Box-Behnken
// and Rechtschaffner only) and the recipe as recorded (their centre runs
// moved to the extra ones).
struct HeldRuns {
  DesignRuns runs;
  int extraCenterRuns = 0;
  DesignRecipe recipe;
  // The natural settings toNatural gives are the runs' own and the coded
  // ones are read back from them, as for runs a study file holds (optimal
  // designs, added runs): settings found by search, not levels of a table.
  bool naturalFirst = false;
};

// Makes the runs, refusing what the kind does not take (InvalidArgument
// whose field names the option). An optimal design is drawn with `seed`.
HeldRuns heldRuns(DesignKind kind, const std::vector<Factor>& factors, const PlanOptions& options, std::uint64_t seed);
// The same checks without making an optimal design's runs.
void checkHeldRecipe(DesignKind kind, const std::vector<Factor>& factors, const PlanOptions& options);

// The model the recipe names: an optimal design's, else the full quadratic.
ModelTerms recipeModel(DesignKind kind, const DesignRecipe& recipe, const std::vector<Factor>& factors);

// The natural settings of coded ones, run by run.
Matrix naturalOf(const std::vector<Factor>& factors, const Matrix& coded);
// Appends runs at natural settings (coded ones read back from them) with
// their block and origin; actual = planned.
void appendRuns(Plan& plan, const Matrix& natural, int block, RunOrigin origin);

// The fold of the plan's runs, at their planned coded settings and blocks
// (foldDesign, factors named).
FoldedRuns foldRuns(const Plan& plan, const FoldOptions& options);
// Appends runs at coded settings (natural ones made from them, as the
// registry's designs are) with their blocks and origins; actual = planned.
void appendCodedRuns(Plan& plan, const DesignRuns& runs);

// A plan whose runs are the given natural settings (an optimal design read
// from its file): the recipe is checked, not made again.
Plan planOfRuns(DesignKind kind, std::vector<Factor> factors, const PlanOptions& options, const Matrix& natural);

// The runs augmentDesign adds to the plan's runs (at their actual
// settings) for the request, with the optimal design's constraints.
OptimalDesign augmentRuns(const Plan& plan, const ModelTerms& model, const AugmentRequest& request, std::uint64_t seed);

}  // namespace tavrin
