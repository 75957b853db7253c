// The design generators against published tables and design properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "designs/design_checks.h"
#include "tavrin/designs.h"
#include "tavrin/error.h"
#include "tavrin/model_terms.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

std::size_t countOrigin(const DesignRuns& d, RunOrigin origin) {
  return static_cast<std::size_t>(std::count(d.origins.begin(), d.origins.end(), origin));
}

double largestAxial(const DesignRuns& d) {
  double alpha = 0.0;
  for (std::size_t r = 0; r < d.runCount(); ++r)
    if (d.origins[r] == RunOrigin::Axial)
      for (std::size_t i = 0; i < d.coded.cols(); ++i) alpha = std::max(alpha, std::fabs(d.coded(r, i)));
  return alpha;
}

double blockModelCovariance(const DesignRuns& d) {
  return testing::blockModelCovariance(d.coded, d.blocks, ModelTerms::quadratic(d.coded.cols()));
}

TEST(CentralComposite, RunsAndRotatableAlphaMatchThePublishedTable) {
  // Myers and Montgomery, Response Surface Methodology, the table of
  // rotatable CCDs with uniform precision: cube runs F, centre runs n0
  // and alpha = F^(1/4).
  const struct {
    std::size_t k;
    int fraction;
    std::size_t cube, centers;
    double alpha;
  } table[] = {{2, 0, 4, 5, 1.414}, {3, 0, 8, 6, 1.682},  {4, 0, 16, 7, 2.000}, {5, 0, 32, 10, 2.378},
               {5, 1, 16, 6, 2.000}, {6, 0, 64, 15, 2.828}, {6, 1, 32, 9, 2.378}, {7, 1, 64, 14, 2.828}};
  for (const auto& t : table) {
    const DesignRuns d = generateDesign("ccd", t.k, {.fraction = t.fraction});
    EXPECT_EQ(countOrigin(d, RunOrigin::Cube), t.cube) << t.k;
    EXPECT_EQ(countOrigin(d, RunOrigin::Axial), 2 * t.k) << t.k;
    EXPECT_EQ(countOrigin(d, RunOrigin::Center), t.centers) << t.k;
    EXPECT_NEAR(largestAxial(d), t.alpha, 5e-4) << t.k;
    for (std::size_t r = 0; r < d.runCount(); ++r) {
      const double* x = d.coded.row(r);
      const auto nonzero = std::count_if(x, x + t.k, [](double v) { return v != 0.0; });
      const bool corner = std::all_of(x, x + t.k, [](double v) { return std::fabs(v) == 1.0; });
      const RunOrigin o = d.origins[r];
      EXPECT_TRUE(o == RunOrigin::Cube ? corner : nonzero == (o == RunOrigin::Axial ? 1 : 0)) << t.k << " run " << r;
    }
  }
}

TEST(CentralComposite, DefaultCubeAboveFourFactorsIsTheResolutionFiveFraction) {
  // Cube sizes of the standard CCDs: 2^(5-1), 2^(6-1), 2^(7-1), 2^(8-2),
  // 2^(9-2), 2^(10-3).
  const std::size_t cubes[] = {16, 32, 64, 64, 128, 128};
  for (std::size_t k = 5; k <= 10; ++k) {
    const DesignRuns d = generateDesign("ccd", k);
    EXPECT_EQ(countOrigin(d, RunOrigin::Cube), cubes[k - 5]) << k;
    EXPECT_NEAR(largestAxial(d), std::pow(static_cast<double>(cubes[k - 5]), 0.25), 1e-15) << k;
  }
}

TEST(CentralComposite, AlphaKindsAndInscribedScaling) {
  EXPECT_EQ(largestAxial(generateDesign("ccd", 3, {.alpha = parseAlpha("face")})), 1.0);
  EXPECT_NEAR(largestAxial(generateDesign("ccd", 3, {.alpha = parseAlpha("spherical")})), 1.7320508075688772, 1e-15);
  EXPECT_EQ(largestAxial(generateDesign("ccd", 3, {.alpha = parseAlpha("1.3")})), 1.3);
  // Orthogonal unblocked: published values for one centre run, k = 2: 1.000,
  // k = 3: 1.215 (Myers and Montgomery, the orthogonal CCD table).
  EXPECT_NEAR(largestAxial(generateDesign("ccd", 2, {.alpha = parseAlpha("orthogonal"), .centerRuns = 1})), 1.0, 1e-12);
  EXPECT_NEAR(largestAxial(generateDesign("ccd", 3, {.alpha = parseAlpha("orthogonal"), .centerRuns = 1})), 1.215,
              5e-4);

  const DesignRuns inscribed = generateDesign("ccd", 4, {.inscribed = true});
  EXPECT_NEAR(largestAxial(inscribed), 1.0, 1e-15);
  for (std::size_t r = 0; r < inscribed.runCount(); ++r)
    EXPECT_TRUE(inscribed.origins[r] != RunOrigin::Cube || std::fabs(inscribed.coded(r, 0)) == 0.5) << r;
}

TEST(CentralComposite, BlockedDesignsOfBoxAndHunterBlockOrthogonally) {
  // Montgomery, Design and Analysis of Experiments, the table of rotatable
  // CCDs that block orthogonally: blocks (axial included), runs, alpha.
  const struct {
    std::size_t k;
    int fraction, blocks;
    std::size_t runs;
    double alpha;
  } table[] = {{2, 0, 2, 14, 1.414}, {3, 0, 3, 20, 1.633}, {4, 0, 3, 30, 2.000}, {5, 0, 5, 54, 2.366},
               {5, 1, 2, 33, 2.000}, {6, 1, 3, 54, 2.366}, {7, 1, 9, 90, 2.828}};
  for (const auto& t : table) {
    const DesignRuns d =
        generateDesign("ccd", t.k, {.alpha = parseAlpha("orthogonal"), .blocks = t.blocks, .fraction = t.fraction});
    EXPECT_EQ(d.runCount(), t.runs) << t.k;
    EXPECT_NEAR(largestAxial(d), t.alpha, 5e-4) << t.k;
    EXPECT_EQ(*std::max_element(d.blocks.begin(), d.blocks.end()), t.blocks);
    EXPECT_LT(blockModelCovariance(d), 1e-12) << t.k;
    for (std::size_t r = 0; r < d.runCount(); ++r)
      EXPECT_TRUE(d.origins[r] != RunOrigin::Axial || d.blocks[r] == t.blocks) << t.k << " run " << r;
  }
  // Other centre counts: the orthogonal alpha moves with them, and every
  // centre run given is placed (two per cube block, the rest axial).
  const DesignRuns seven = generateDesign("ccd", 3, {.alpha = parseAlpha("orthogonal"), .centerRuns = 7, .blocks = 3});
  EXPECT_EQ(seven.runCount(), 21u);
  EXPECT_LT(blockModelCovariance(seven), 1e-12);
  EXPECT_LT(blockModelCovariance(generateDesign("ccd", 6, {.alpha = parseAlpha("orthogonal"), .blocks = 5, .fraction = 0})),
            1e-12);
  // The rotatable alpha of 1.682 does not block orthogonally with those counts.
  EXPECT_GT(blockModelCovariance(generateDesign("ccd", 3, {.blocks = 3})), 0.1);
}

// Length of the shortest word of the defining relation, found from the
// runs: the fewest columns whose product is the same on every run.
int shortestWord(const Matrix& runs) {
  const std::size_t k = runs.cols();
  for (int length = 1; length <= static_cast<int>(k); ++length) {
    std::vector<bool> pick(k, false);
    std::fill(pick.begin(), pick.begin() + length, true);
    do {
      std::set<double> products;
      for (std::size_t r = 0; r < runs.rows(); ++r) {
        double product = 1.0;
        for (std::size_t i = 0; i < k; ++i)
          if (pick[i]) product *= runs(r, i);
        products.insert(product);
      }
      if (products.size() == 1) return length;
    } while (std::prev_permutation(pick.begin(), pick.end()));
  }
  return 0;
}

TEST(TwoLevelFractions, TheRunsHaveTheStatedResolution) {
  for (const TwoLevelFraction& f : twoLevelFractions()) {
    const std::size_t k = static_cast<std::size_t>(f.factors);
    const DesignRuns d = generateDesign("factorial", k, {.fraction = f.p});
    ASSERT_EQ(d.runCount(), std::size_t{1} << (f.factors - f.p));
    EXPECT_EQ(shortestWord(d.coded), f.resolution) << f.factors << "-" << f.p;
    std::set<std::vector<double>> distinct;
    for (std::size_t r = 0; r < d.runCount(); ++r) distinct.insert({d.coded.row(r), d.coded.row(r) + k});
    EXPECT_EQ(distinct.size(), d.runCount());
  }
}

TEST(TwoLevelFractions, HalfFractionOfFiveFactorsIsEEqualsABCD) {
  const DesignRuns d = generateDesign("factorial", 5, {.centerRuns = 3, .fraction = 1});
  ASSERT_EQ(d.runCount(), 19u);
  for (std::size_t r = 0; r < 16; ++r)
    EXPECT_EQ(d.coded(r, 4), d.coded(r, 0) * d.coded(r, 1) * d.coded(r, 2) * d.coded(r, 3));
  EXPECT_EQ(countOrigin(d, RunOrigin::Center), 3u);
  EXPECT_EQ(factorLetter(8), "J");
}

TEST(Factorial, BlocksConfoundOnlyHighOrderInteractions) {
  // 2^5 in 4 blocks and 2^(7-1) in 8 blocks: the block indicators are
  // orthogonal to every main effect and two-factor interaction.
  const struct {
    std::size_t k;
    int fraction, blocks;
  } cases[] = {{5, 0, 4}, {7, 1, 8}, {3, 0, 2}};
  for (const auto& c : cases) {
    const DesignRuns d = generateDesign("factorial", c.k, {.blocks = c.blocks, .fraction = c.fraction});
    EXPECT_LT(testing::blockModelCovariance(d.coded, d.blocks, ModelTerms::interaction(c.k)), 1e-12) << c.k;
    for (int b = 1; b <= c.blocks; ++b)
      EXPECT_EQ(std::count(d.blocks.begin(), d.blocks.end(), b), std::ptrdiff_t(d.runCount()) / c.blocks) << c.k;
  }
  // 2^3 in two blocks: the block is the sign of ABC.
  const DesignRuns d = generateDesign("factorial", 3, {.blocks = 2});
  for (std::size_t r = 1; r < d.runCount(); ++r) {
    const double abc0 = d.coded(0, 0) * d.coded(0, 1) * d.coded(0, 2);
    const double abc = d.coded(r, 0) * d.coded(r, 1) * d.coded(r, 2);
    EXPECT_EQ(d.blocks[r] == d.blocks[0], abc == abc0);
  }
}

TEST(PlanObjectDesigns, LevelsAreThePlanObjectsBitForBit) {
  // Box-Behnken run counts with the single centre run: 13, 25, 41 for 3-5
  // factors (Box and Behnken, 1960); Rechtschaffner (k+1)(k+2)/2.
  const struct {
    const char* name;
    CTavrin::PlanType type;
    std::size_t k, runs;
  } cases[] = {{"box-behnken", CTavrin::BoxBehnkenPlan, 3, 13}, {"box-behnken", CTavrin::BoxBehnkenPlan, 5, 41},
               {"box-behnken", CTavrin::BoxBehnkenPlan, 10, 0}, {"rechtschaffner", CTavrin::RechschafnerPlan, 4, 15},
               {"rechtschaffner", CTavrin::RechschafnerPlan, 9, 55}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << " " << c.k);
    const DesignRuns d = generateDesign(c.name, c.k, {.centerRuns = 2});
    CTavrin object(c.type);
    std::vector<std::wstring> names;
    for (std::size_t i = 0; i < c.k; ++i) {
      names.push_back(L"X" + std::to_wstring(i));
      ASSERT_EQ(object.planAddDesignVar(names.back().c_str(), -1.0, 1.0).code, 0u);
    }
    ASSERT_EQ(object.planAddObjective(L"Y").code, 0u);
    ASSERT_EQ(object.planCompute().code, 0u);
    unsigned int runs = 0;
    object.planGetExperimentCount(runs);
    EXPECT_TRUE(c.runs == 0 || runs == c.runs) << runs;
    ASSERT_EQ(d.runCount(), runs + 2u);
    for (unsigned int r = 1; r <= runs; ++r)
      for (std::size_t i = 0; i < c.k; ++i) {
        double value = 0.0;
        ASSERT_EQ(object.planGetDesignVarValue(names[i].c_str(), L"Y", r, value).code, 0u);
        EXPECT_EQ(d.coded(r - 1, i), value) << "run " << r;
      }
    EXPECT_TRUE(std::all_of(d.coded.row(runs + 1), d.coded.row(runs + 2), [](double x) { return x == 0.0; }));
  }
}

TEST(Registry, RefusalsNameWhatIsWrong) {
  const struct {
    const char* name;
    std::size_t k;
    DesignOptions options;
    const char* says;
  } cases[] = {
      {"steepest", 3, {}, "unknown design \"steepest\""},
      {"ccd", 11, {}, "not 11"},
      {"box-behnken", 3, {.alpha = Alpha{}}, "no option \"alpha\""},
      {"ccd", 3, {.alpha = Alpha{AlphaKind::Value, -0.4}}, "alpha"},
      {"ccd", 5, {.fraction = 2}, "resolution 3"},
      {"ccd", 6, {.fraction = 2}, "resolution 4"},
      {"factorial", 4, {.fraction = 2}, "no tabulated 2^(4-2)"},
      {"ccd", 3, {.blocks = 4}, "blocks of a ccd: 4"},
      {"ccd", 2, {.blocks = 3}, "cannot be split into 2 blocks"},
      {"ccd", 3, {.alpha = Alpha{AlphaKind::Value, 0.8}, .inscribed = true}, "inscribed"},
      {"ccd", 3, {.axialCenterRuns = 2}, "no axial block"},
      {"ccd", 3, {.centerRuns = 7, .axialCenterRuns = 2, .blocks = 3}, "do not split equally"},
      {"ccd", 3, {.centerRuns = 101}, "101"},
      {"factorial", 3, {.levels = 4}, "levels of a factorial: 4"},
      {"factorial", 3, {.fraction = 1, .levels = 3}, "fraction"},
      {"factorial", 8, {.levels = 3}, "levels 3"},
      {"factorial", 2, {.blocks = 8}, "8 blocks for 4 cube runs"},
  };
  for (const auto& c : cases) {
    try {
      generateDesign(c.name, c.k, c.options);
      ADD_FAILURE() << c.says;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
  for (const char* text : {"nan", "inf", "0", "-1.5", "steep", "1.5x", ""})
    EXPECT_THROW(parseAlpha(text), InvalidArgument) << text;
  EXPECT_EQ(parseAlpha("Face_Centered").kind, AlphaKind::Face);
  EXPECT_EQ(findGenerator("Box Behnken").name, "box-behnken");
}

}  // namespace
}  // namespace tavrin
