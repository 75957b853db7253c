// Runs added for the optimum of goals: the cloud is the relocated optima
// that robustness gives with the augmentation's seed, and what the goals
// cannot serve is refused without a change.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "study/refused.h"
#include "tavrin/optimum.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

Study measured() {
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

  Study fromGoals = measured();
  fromGoals.augment(request, goals);

  Study fromCloud = measured();
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
    Study study = measured();
    const std::string before = study.toJson();
    EXPECT_EQ(testing::refused<InvalidArgument>([&] { study.augment(c.request, goals); }).field, c.field);
    EXPECT_EQ(study.toJson(), before);
  }
  // Without every result there is no fit to take the optimum from.
  Study missing = measured();
  missing.setResult(3, "Y", std::nan(""));
  EXPECT_THROW(missing.augment({.runs = 2, .criterion = Criterion::Optimum, .seed = 1}, goals), StateError);
}

}  // namespace
}  // namespace tavrin
