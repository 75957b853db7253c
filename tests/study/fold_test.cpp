// A study's two-level factorial folded into a central composite design:
// everything kept, the axial block added, the file rebuilding it bit for
// bit, and refusals that change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "refused.h"
#include "same_bits.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

const std::vector<Factor> kFactors = {{"Temp", 0.1, 0.7, ""}, {"Time", 12.5, 31.3, "min"}, {"pH", 3.3, 7.9, ""}};

Study designed(DesignKind kind, DesignOptions options) {
  PlanOptions plan;
  plan.seed = 5;
  plan.design.options = options;
  return Study(kind, kFactors, {{"Y", ""}}, plan);
}

TEST(StudyFold, KeepsEveryRunAndResultAndAddsTheAxialBlock) {
  Study study = designed(DesignKind::Factorial, {.centerRuns = 4, .blocks = 2});
  for (int id = 1; id <= 12; ++id) study.setResult(id, "Y", 0.1 * id + 1e7);
  const Study before = study;
  study.fold({.seed = 9});

  const Plan& p = study.plan();
  const Plan& q = before.plan();
  ASSERT_EQ(p.runCount(), 20u);
  for (std::size_t r = 0; r < 12; ++r) {
    EXPECT_EQ(p.blocks[r], q.blocks[r]);
    EXPECT_EQ(p.origins[r], q.origins[r]);
    EXPECT_TRUE(sameBits(study.results()(r, 0), before.results()(r, 0)));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(p.natural(r, i), q.natural(r, i)));
  }
  EXPECT_TRUE(std::equal(q.executionOrder.begin(), q.executionOrder.end(), p.executionOrder.begin()));
  std::vector<int> added(p.executionOrder.begin() + 12, p.executionOrder.end());
  std::sort(added.begin(), added.end());
  EXPECT_EQ(added, (std::vector<int>{13, 14, 15, 16, 17, 18, 19, 20}));
  for (std::size_t r = 12; r < 20; ++r) {
    EXPECT_EQ(p.blocks[r], 3);
    EXPECT_EQ(p.origins[r], r < 18 ? RunOrigin::Axial : RunOrigin::Center);
    EXPECT_TRUE(std::isnan(study.results()(r, 0)));
  }
  // Box and Hunter's axial distance for this blocking, 1.633, in Time's own units.
  EXPECT_NEAR(p.natural(14, 1), 21.9 - 9.4 * 1.6329931618554521, 1e-12);
  EXPECT_EQ(study.designModel().size(), 10u);  // the full quadratic from now on

  const Study reloaded = Study::fromJson(study.toJson());
  EXPECT_TRUE(reloaded == study);
  EXPECT_EQ(reloaded.toJson(), study.toJson());
  EXPECT_NE(study.toJson().find("\"fold\": {\n        \"alpha\": \"orthogonal\",\n        \"centerRuns\": 2"),
            std::string::npos);
}

TEST(StudyFold, TheFileRebuildsTheFoldAndRefusesOneThatDisagrees) {
  Study study = designed(DesignKind::Factorial, {.centerRuns = 3});
  study.fold({.options = {.alpha = Alpha{AlphaKind::Rotatable}, .centerRuns = 2}, .seed = 4});
  const std::string text = study.toJson();
  const auto replaced = [&text](const std::string& from, const std::string& to) {
    std::string out = text;
    out.replace(out.find(from), from.size(), to);
    return out;
  };
  // Another alpha makes other runs than the table holds; other centre runs another count.
  EXPECT_THROW(Study::fromJson(replaced("\"alpha\": \"rotatable\"", "\"alpha\": \"spherical\"")), ParseError);
  EXPECT_THROW(Study::fromJson(replaced("\"centerRuns\": 2", "\"centerRuns\": 3")), ParseError);
  // A version 4 file knows no fold.
  EXPECT_THROW(Study::fromJson(replaced("\"version\": 5", "\"version\": 4")), ParseError);
}

TEST(StudyFold, DataOnTheCubeFoldAndReload) {
  Matrix settings(9, 3);
  for (std::size_t r = 0; r < 8; ++r)
    for (std::size_t i = 0; i < 3; ++i) {
      const bool high = ((r >> i) & 1u) != 0;
      settings(r, i) = high ? kFactors[i].high : kFactors[i].low;
    }
  for (std::size_t i = 0; i < 3; ++i) settings(8, i) = (kFactors[i].low + kFactors[i].high) / 2;
  Matrix results(9, 1);
  for (std::size_t r = 0; r < 9; ++r) results(r, 0) = 3.3 + 0.7 * static_cast<double>(r);
  Study study = Study::fromData(kFactors, {{"Y", ""}}, settings, results);
  study.fold({.options = {.alpha = Alpha{AlphaKind::Face}}, .seed = 2});
  EXPECT_EQ(study.plan().runCount(), 9u + 6u + study.plan().augmentations.front().fold->centerRuns.value());
  const Study reloaded = Study::fromJson(study.toJson());
  EXPECT_TRUE(reloaded == study);
}

TEST(StudyFold, RefusalsChangeNothing) {
  Study foldedOnce = designed(DesignKind::Factorial, {});
  foldedOnce.fold({.seed = 1});
  Matrix settings(4, 3, 0.0);
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t i = 0; i < 3; ++i) settings(r, i) = kFactors[i].low + 0.1 * static_cast<double>(r + i);
  const struct {
    const char* name;
    Study study;
    const char* says;
  } cases[] = {
      {"a composite", designed(DesignKind::CentralComposite, {}), "run 9 is an axial run"},
      {"folded already", foldedOnce, "run 9 is an axial run"},
      {"data off the cube", Study::fromData(kFactors, {{"Y", ""}}, settings, Matrix(4, 1, 1.0)), "run 1"},
  };
  for (const auto& c : cases) {
    Study study = c.study;
    const std::string before = study.toJson();
    const testing::Refusal r = testing::refused<InvalidArgument>([&] { study.fold({.seed = 3}); });
    EXPECT_TRUE(r.mentions(c.says)) << c.name << ": " << r.what;
    EXPECT_EQ(study.toJson(), before) << c.name;
  }
}

}  // namespace
}  // namespace tavrin
