// Studies that hold any design: the registry's runs through a study, the
// refusals of a recipe, optimal designs with constraints, runs added to a
// study (also for the optimum of goals) and the file round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "refused.h"
#include "same_bits.h"
#include "study/not_a_number.h"
#include "study/scratch_folder.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

std::vector<Factor> factors(std::size_t n) {
  std::vector<Factor> out;
  for (std::size_t i = 0; i < n; ++i)
    out.push_back({factorLetter(i), 0.1 + 0.1 * static_cast<double>(i), 0.7 + 0.3 * static_cast<double>(i), ""});
  return out;
}

Study study(DesignKind kind, std::size_t n, DesignRecipe recipe, std::uint64_t seed = 3) {
  PlanOptions options;
  options.seed = seed;
  options.design = std::move(recipe);
  return Study(kind, factors(n), {{"Y", ""}}, options);
}

DesignRecipe withOptions(DesignOptions options) {
  DesignRecipe recipe;
  recipe.options = options;
  return recipe;
}

// A CCD of 3 factors in 3 blocks (8 cube runs in 2 blocks, 6 axial, 6 centre
// runs: Montgomery, Table 11.5's design); a Box-Behnken design's centre runs
// beyond its own one become the plan's extra centre runs.
TEST(HeldDesigns, TheStudyHoldsTheRegistrysRuns) {
  const Study ccd = study(DesignKind::CentralComposite, 3,
                          withOptions({.alpha = Alpha{AlphaKind::Orthogonal}, .centerRuns = 6, .blocks = 3}));
  const DesignRuns runs = generateDesign("ccd", 3, {.alpha = Alpha{AlphaKind::Orthogonal}, .centerRuns = 6, .blocks = 3});
  ASSERT_EQ(ccd.plan().runCount(), 20u);
  for (std::size_t r = 0; r < 20; ++r) {
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(ccd.plan().coded(r, i), runs.coded(r, i)));
    EXPECT_EQ(ccd.plan().blocks[r], runs.blocks[r]) << "run " << r + 1;
    EXPECT_EQ(ccd.plan().origins[r], runs.origins[r]) << "run " << r + 1;
  }
  EXPECT_EQ(study(DesignKind::BoxBehnken, 3, withOptions({.centerRuns = 3})).plan().extraCenterRuns, 3);
}

// What no listing shows: an optimal design's own checks, and a generator's
// refusal passed on with the option's name.
TEST(HeldDesigns, RecipeRefusalsNameTheOption) {
  DesignRecipe optimalTooFew;
  optimalTooFew.runs = 5;  // the quadratic in 2 factors has 6 terms
  DesignRecipe optimalCloud;
  optimalCloud.runs = 8;
  optimalCloud.criterion = Criterion::Optimum;
  DesignRecipe badModel;
  badModel.runs = 8;
  badModel.model = "A Z";
  const std::tuple<DesignKind, DesignRecipe, const char*> cases[] = {
      {DesignKind::Optimal, optimalTooFew, "runs"},
      {DesignKind::Optimal, optimalCloud, "criterion"},
      {DesignKind::Optimal, badModel, "model"},
      {DesignKind::CentralComposite, withOptions({.fraction = 3}), "fraction"},
      {DesignKind::Factorial, withOptions({.centerRuns = 101}), "center-runs"},
  };
  for (const auto& [kind, recipe, field] : cases)
    EXPECT_EQ(testing::refused<InvalidArgument>([&] { study(kind, 2, recipe); }).field, field);
  // Six runs are enough for the quadratic in two factors.
  optimalTooFew.runs = 6;
  EXPECT_EQ(study(DesignKind::Optimal, 2, optimalTooFew).plan().runCount(), 6u);
}

// The listing of generated kinds says what the recipe checks accept: each
// option listed is taken (set alone to a value that exists), each other one
// refused with its name as the field.
TEST(HeldDesigns, TheListedOptionsAreTheOnesTaken) {
  const auto set = [](DesignRecipe& r, const std::string& option) {
    if (option == "alpha") r.options.alpha = Alpha{AlphaKind::Face};
    if (option == "inscribed") r.options.inscribed = false;
    if (option == "center-runs") r.options.centerRuns = 2;
    if (option == "axial-center-runs") r.options.axialCenterRuns = 1;
    if (option == "blocks") r.options.blocks = 1;
    if (option == "fraction") r.options.fraction = 0;
    if (option == "levels") r.options.levels = 2;
    if (option == "model") r.model = "A B C A:B";
    if (option == "runs") r.runs = 16;
    if (option == "criterion") r.criterion = Criterion::I;
    if (option == "constraint") r.constraints = {parseConstraint("A + 0.3*B <= 1.45", {"A", "B", "C", "D"})};
  };
  const std::vector<std::string> every = {"alpha", "inscribed", "center-runs", "axial-center-runs", "blocks", "fraction",
                                          "levels", "model", "runs", "criterion", "constraint"};
  const std::vector<DesignKindInfo> kinds = generatedDesignKinds();
  ASSERT_EQ(kinds.size(), 5U);
  for (const DesignKindInfo& k : kinds) {
    EXPECT_EQ(parseDesignKind(k.name), k.kind);
    EXPECT_EQ(k.factorCounts, supportedFactorCounts(k.kind)) << k.name;
    for (const std::string& option : every) {
      // Four factors, which every kind supports; an optimal design needs its
      // runs (the quadratic has 15 terms); an axial block needs blocks.
      DesignRecipe recipe;
      if (k.kind == DesignKind::Optimal) recipe.runs = 16;
      if (option == "axial-center-runs" && k.kind == DesignKind::CentralComposite) recipe.options.blocks = 3;
      set(recipe, option);
      const bool listed = std::find(k.options.begin(), k.options.end(), option) != k.options.end();
      const testing::Refusal r = testing::refused<InvalidArgument>([&] { study(k.kind, 4, recipe); });
      EXPECT_EQ(r.accepted, listed) << k.name << ", " << option << ": " << r.what;
      EXPECT_TRUE(r.accepted || r.field == option) << k.name << ": " << r.what;
    }
  }
}

DesignRecipe constrainedOptimal() {
  DesignRecipe recipe;
  recipe.runs = 9;
  recipe.criterion = Criterion::I;
  // A + B <= 1.1 on natural settings A in 0.1..0.7, B in 0.2..1.0.
  recipe.constraints = {parseConstraint("A + B <= 1.1", {"A", "B"})};
  recipe.options.centerRuns = 1;
  return recipe;
}

TEST(HeldDesigns, OptimalDesignsKeepTheirConstraintsAndSeed) {
  const Study a = study(DesignKind::Optimal, 2, constrainedOptimal(), 17);
  const Plan& plan = a.plan();
  ASSERT_EQ(plan.runCount(), 10u);
  EXPECT_EQ(plan.origins.back(), RunOrigin::Center);
  for (std::size_t r = 0; r < plan.runCount(); ++r) EXPECT_LE(plan.natural(r, 0) + plan.natural(r, 1), 1.1 + 1e-12) << r;
  EXPECT_TRUE(a == study(DesignKind::Optimal, 2, constrainedOptimal(), 17));
}

TEST(HeldDesigns, ConstraintText) {
  const std::vector<std::string> names{"A", "B", "flow rate"};
  struct Case {
    const char* text;
    std::vector<double> a;
    double b;
  };
  const Case cases[] = {
      {"2*A+B<=3", {2, 1, 0}, 3},
      {"A >= B - 0.1", {-1, 1, 0}, 0.1},
      {"-0.5 A + 3 <= 1e-1 * `flow rate`", {-0.5, 0, -0.1}, -3},
  };
  for (const Case& c : cases) {
    const LinearConstraint parsed = parseConstraint(c.text, names);
    ASSERT_EQ(parsed.a.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(parsed.a[i], c.a[i]) << c.text;
    EXPECT_DOUBLE_EQ(parsed.b, c.b) << c.text;
    const LinearConstraint again = parseConstraint(formatConstraint(parsed, names), names);
    EXPECT_EQ(again.a, parsed.a);
    EXPECT_EQ(again.b, parsed.b);
  }
  for (const char* bad : {"A + Q <= 1", "A <= A + 1", "A + B"})
    EXPECT_EQ(testing::refused<InvalidArgument>([&] { parseConstraint(bad, names); }).field, "constraint") << bad;
}

// A blocked CCD with results that do not cancel, some actual settings recorded.
Study measuredComposite() {
  Study s = study(DesignKind::CentralComposite, 3,
                  withOptions({.alpha = Alpha{AlphaKind::Rotatable}, .centerRuns = 4, .blocks = 2}));
  for (int id = 1; id <= static_cast<int>(s.plan().runCount()); ++id) s.setResult(id, "Y", 0.1 * id + 0.37 / id);
  s.setResult(3, "Y", kNaN);
  s.enterResults({"run_id", "A"}, Matrix{{5, 0.31}}, SettingsColumns::RecordActual);
  return s;
}

TEST(HeldDesigns, AugmentKeepsEveryRunAndResult) {
  const Study before = measuredComposite();
  Study after = before;
  after.augment({.runs = 4, .criterion = Criterion::D, .model = "", .seed = 9, .cloud = {}});
  const Plan& p = before.plan();
  const Plan& q = after.plan();
  ASSERT_EQ(q.runCount(), p.runCount() + 4);
  for (std::size_t r = 0; r < p.runCount(); ++r) {
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(sameBits(q.coded(r, i), p.coded(r, i)) && sameBits(q.actual(r, i), p.actual(r, i)));
    }
    EXPECT_TRUE(sameBits(after.results()(r, 0), before.results()(r, 0))) << r;
    EXPECT_EQ(q.blocks[r], p.blocks[r]);
    EXPECT_EQ(q.origins[r], p.origins[r]);
  }
  for (std::size_t r = p.runCount(); r < q.runCount(); ++r) {
    EXPECT_EQ(q.origins[r], RunOrigin::Augmented);
    EXPECT_EQ(q.blocks[r], 3);  // after the cube and the axial block
    EXPECT_TRUE(std::isnan(after.results()(r, 0)));
  }
  // The kept runs keep their places in the execution order.
  EXPECT_TRUE(std::equal(p.executionOrder.begin(), p.executionOrder.end(), q.executionOrder.begin()));
  ASSERT_EQ(q.augmentations.size(), 1u);
  EXPECT_EQ(q.augmentations[0].seed, 9u);
}

TEST(HeldDesigns, RefusedAugmentChangesNothing) {
  const Study before = measuredComposite();
  Study after = before;
  const std::pair<AugmentRequest, const char*> cases[] = {
      {{.runs = 0, .criterion = Criterion::D, .model = "", .seed = 1, .cloud = {}}, "runs"},
      {{.runs = 2, .criterion = Criterion::I, .model = "A Q", .seed = 1, .cloud = {}}, "model"},
      {{.runs = 2, .criterion = Criterion::Optimum, .model = "", .seed = 1, .cloud = {}}, "cloud"},
  };
  for (const auto& [request, what] : cases) {
    EXPECT_THROW(after.augment(request), Error) << what;
    EXPECT_TRUE(after == before) << what;
  }
}

TEST(HeldDesigns, StudyFileKeepsRecipeAndAddedRuns) {
  const testing::ScratchFolder folder;
  Study ccd = measuredComposite();
  ccd.augment({.runs = 3, .criterion = Criterion::I, .model = "A B C A:B", .seed = 4, .cloud = {}});
  Study optimal = study(DesignKind::Optimal, 2, constrainedOptimal(), 5);
  optimal.augment({.runs = 2, .criterion = Criterion::D, .model = "", .seed = 6, .cloud = {}});
  for (const Study* s : {&ccd, &optimal}) {
    const std::string path = folder / "held.json";
    s->save(path);
    const Study loaded = Study::load(path);
    EXPECT_TRUE(loaded == *s) << designKindName(s->kind());
    EXPECT_EQ(loaded.toJson(), s->toJson());  // the recipe and the added runs too
  }
}

// A 2^2 factorial is D-optimal for the linear model: 100% D-efficiency
// (an orthogonal design at the corners of the cube).
TEST(HeldDesigns, EvaluateUsesTheDesignsModel) {
  const Study square = study(DesignKind::Factorial, 2, {});
  EXPECT_NEAR(square.evaluate("linear").dEfficiency, 100.0, 1e-9);
  DesignRecipe recipe;
  recipe.model = "A B A:B";
  recipe.runs = 6;
  const Study optimal = study(DesignKind::Optimal, 2, recipe);
  EXPECT_EQ(optimal.evaluate().terms, 4u);
  EXPECT_EQ(square.designModel().size(), 4u);  // a two-level factorial's: main effects and interactions
}

// Runs added for the optimum of goals: the cloud is the relocated optima
// that robustness gives with the augmentation's seed.
Study measuredForGoals() {
  PlanOptions plan;
  plan.seed = 2;
  Study study(DesignKind::CentralComposite, {{"A", 0.1, 0.7, ""}, {"B", 12.5, 31.3, ""}}, {{"Y", ""}}, plan);
  for (std::size_t r = 0; r < study.plan().runCount(); ++r) {
    const double a = study.plan().coded(r, 0) - 0.4;
    const double b = study.plan().coded(r, 1) - 0.1;
    study.setResult(static_cast<int>(r) + 1, "Y", 50.3 - 2.9 * a * a - 1.7 * b * b + 0.13 * std::sin(3.7 * r));
  }
  return study;
}

TEST(AugmentForGoals, TheCloudIsTheRobustnessOfTheOptimumWithTheSeed) {
  Goals goals;
  goals.goals.push_back({.response = "Y", .kind = Goal::Maximize});
  AugmentRequest request{.runs = 3, .criterion = Criterion::Optimum, .seed = 7, .replicates = 30};

  Study fromGoals = measuredForGoals();
  fromGoals.augment(request, goals);

  Study fromCloud = measuredForGoals();
  const Fit fit = fromCloud.fit();
  const Optimum nominal = optimize(fit, goals);
  RobustnessOptions spread;
  spread.replicates = 30;
  spread.seed = 7;
  request.cloud = robustness(fit, goals, nominal, spread).optima;
  fromCloud.augment(request);

  EXPECT_TRUE(fromGoals == fromCloud);
  EXPECT_EQ(fromGoals.plan().augmentations.back().seed, 7u);
}

TEST(AugmentForGoals, RefusesWhatGoalsCannotServeAndChangesNothing) {
  Goals goals;
  goals.goals.push_back({.response = "Y", .kind = Goal::Maximize});
  Matrix cloud(1, 2, 0.4);
  const struct {
    AugmentRequest request;
    const char* field;
  } cases[] = {
      {{.runs = 2, .criterion = Criterion::D, .seed = 1}, "criterion"},
      {{.runs = 2, .criterion = Criterion::Cloud, .seed = 1, .cloud = cloud}, "cloud"},
  };
  for (const auto& c : cases) {
    Study study = measuredForGoals();
    const std::string before = study.toJson();
    EXPECT_EQ(testing::refused<InvalidArgument>([&] { study.augment(c.request, goals); }).field, c.field);
    EXPECT_EQ(study.toJson(), before);
  }
  // Without every result there is no fit to take the optimum from.
  Study missing = measuredForGoals();
  missing.setResult(3, "Y", std::nan(""));
  EXPECT_THROW(missing.augment({.runs = 2, .criterion = Criterion::Optimum, .seed = 1}, goals), StateError);
}

}  // namespace
}  // namespace tavrin
