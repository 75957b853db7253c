// Folding a two-level factorial into a central composite design: orthogonal
// blocking, published axial distances, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "designs/design_checks.h"
#include "tavrin/designs.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

// The factorial's runs followed by the fold's.
DesignRuns combined(const DesignRuns& kept, const FoldedRuns& fold) {
  const std::size_t k = kept.coded.cols(), n = kept.runCount();
  DesignRuns all{Matrix(n + fold.runs.runCount(), k), kept.blocks, {}};
  std::copy(kept.coded.data(), kept.coded.data() + n * k, all.coded.data());
  std::copy(fold.runs.coded.data(), fold.runs.coded.data() + fold.runs.runCount() * k, all.coded.row(n));
  all.blocks.insert(all.blocks.end(), fold.runs.blocks.begin(), fold.runs.blocks.end());
  return all;
}

TEST(Fold, OrthogonalAlphaBlocksOrthogonallyWhereRotatableDoesNot) {
  for (const DesignOptions& options : {DesignOptions{.centerRuns = 3}, DesignOptions{.centerRuns = 4, .blocks = 2}}) {
    const DesignRuns factorial = generateDesign("factorial", 3, options);
    const auto covariance = [&](const FoldOptions& fold) {
      const DesignRuns all = combined(factorial, foldDesign(factorial.coded, factorial.blocks, fold));
      return testing::blockModelCovariance(all.coded, all.blocks, ModelTerms::quadratic(3));
    };
    for (const int centers : {0, 1, 4}) {
      EXPECT_LT(covariance({.centerRuns = centers}), 1e-12) << centers;
      EXPECT_GT(covariance({.alpha = Alpha{AlphaKind::Rotatable}, .centerRuns = centers}), 0.1) << centers;
    }
  }
}

TEST(Fold, AxialDistancesAndCentreRunsAreThePublishedOnes) {
  const struct {
    std::size_t k;
    DesignOptions factorial;
    FoldOptions fold;
    double alpha;
    int centers;
  } cases[] = {
      {3, {}, {.alpha = Alpha{AlphaKind::Rotatable}}, 1.6817928305074290, 0},  // 8^(1/4)
      // 16^(1/4); one axial centre run makes orthogonal blocking rotatable: 16 (8 + 1) / (2 * 18) = 2^2.
      {4, {.centerRuns = 2}, {.alpha = Alpha{AlphaKind::Rotatable}}, 2.0, 1},
      {5, {.fraction = 1}, {.alpha = Alpha{AlphaKind::Spherical}}, 2.2360679774997897, 0},
      // Box and Hunter: 3 factors in two cube blocks of 2 centre runs, 2 in the axial block, alpha 1.633.
      {3, {.centerRuns = 4, .blocks = 2}, {}, 1.6329931618554521, 2},
      // 4 factors in two cube blocks with 2 centre runs each: 2 axial centre runs, alpha 2.
      {4, {.centerRuns = 4, .blocks = 2}, {}, 2.0, 2},
      // 2 factors, 3 centre runs: 3 in the axial block, alpha sqrt(2).
      {2, {.centerRuns = 3}, {}, 1.4142135623730951, 3},
  };
  for (const auto& c : cases) {
    const DesignRuns factorial = generateDesign("factorial", c.k, c.factorial);
    const FoldedRuns fold = foldDesign(factorial.coded, factorial.blocks, c.fold);
    EXPECT_NEAR(fold.alpha, c.alpha, 1e-15) << c.k;
    EXPECT_EQ(fold.centerRuns, c.centers) << c.k;
    EXPECT_EQ(fold.runs.runCount(), 2 * c.k + static_cast<std::size_t>(c.centers));
  }
}

TEST(Fold, RefusesWhatIsNotATwoLevelFactorialNamingWhy) {
  const DesignRuns cube = generateDesign("factorial", 3, {.centerRuns = 3, .blocks = 2});
  Matrix offCube = generateDesign("factorial", 2).coded;
  offCube(2, 1) = 0.35;
  const struct {
    const char* name;
    DesignRuns runs;
    FoldOptions options;
    const char* field;
    const char* says;
  } cases[] = {
      {"a composite", generateDesign("ccd", 3), {}, "fold", "run 9 (coded -1.68179, 0, 0) is neither a corner"},
      {"three levels", generateDesign("factorial", 2, {.levels = 3}), {}, "fold", "neither a corner of the cube"},
      {"data off the cube", {offCube, {1, 1, 1, 1}, {}}, {}, "fold", "run 3 (coded -1, 0.35)"},
      {"resolution III", generateDesign("factorial", 3, {.fraction = 1}), {}, "fold", "A and B:C apart"},
      {"unequal centre runs per block", cube, {}, "alpha", "not orthogonal to the square terms"},
      {"too many centre runs", cube, {.alpha = Alpha{AlphaKind::Face}, .centerRuns = 101}, "center-runs", "0..100"},
      {"a negative alpha", cube, {.alpha = Alpha{AlphaKind::Value, -1.2}}, "alpha", "positive"},
  };
  for (const auto& c : cases) {
    try {
      foldDesign(c.runs.coded, c.runs.blocks, c.options);
      ADD_FAILURE() << c.name << " was folded";
    } catch (const InvalidArgument& e) {
      EXPECT_EQ(e.field(), c.field) << c.name;
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.name << ": " << e.what();
    }
  }
  // Unequal blocks refuse only orthogonal blocking.
  EXPECT_NO_THROW(foldDesign(cube.coded, cube.blocks, {.alpha = Alpha{AlphaKind::Rotatable}}));
}

}  // namespace
}  // namespace tavrin
