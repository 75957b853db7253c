// Goals as the layer completes them, the field each refusal names, and the
// one table of goal-kind spellings.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>

#include "optimum/fixtures.h"
#include "tavrin/error.h"
#include "tavrin/optimum.h"

namespace tavrin {
namespace {

using testing::goal;

// Y1 = A coded (-1..1), Y2 = B coded squared (0..1), Y3 flat at 0.3.
Fit goalsFit() {
  return testing::exactFit(DesignKind::BoxBehnken, testing::threeFactors(),
                           {[](const double* x) { return x[0]; }, [](const double* x) { return x[1] * x[1]; },
                            [](const double*) { return 0.3; }});
}

TEST(CompleteGoals, OpenBoundsBecomeTheSpanOfThePredictions) {
  const Fit fit = goalsFit();
  struct Case {
    const char* what;
    Goal goal;
    std::map<std::string, std::pair<double, double>, std::less<>> region;
    double low, high;
    bool unbounded;
  };
  const Case cases[] = {
      {"maximize, both open", goal("Y1", Goal::Maximize, NAN, NAN), {}, -1.0, 1.0, true},
      {"maximize, high open", goal("Y1", Goal::Maximize, -0.3, NAN), {}, -0.3, 1.0, true},
      {"maximize, low open", goal("Y1", Goal::Maximize, NAN, 0.7), {}, -1.0, 0.7, false},
      {"minimize, low open", goal("Y2", Goal::Minimize, NAN, 0.8), {}, 0.0, 0.8, true},
      {"minimize, high open", goal("Y2", Goal::Minimize, 0.1, NAN), {}, 0.1, 1.0, false},
      {"target, both open", goal("Y1", Goal::Target, NAN, NAN, 0.25), {}, -1.0, 1.0, false},
      {"given bounds stay", goal("Y1", Goal::Maximize, 0.2, 0.9), {}, 0.2, 0.9, false},
      // A in 0.1..0.4 is coded -1..0.
      {"within the region", goal("Y1", Goal::Maximize, NAN, NAN), {{"A", {0.1, 0.4}}}, -1.0, 0.0, true},
  };
  for (const Case& c : cases) {
    Goals goals;
    goals.goals = {c.goal};
    goals.region = c.region;
    const Goals done = completeGoals(fit, goals);
    const Goal& g = done.goals.at(0);
    EXPECT_NEAR(g.low, c.low, 1e-9) << c.what;
    EXPECT_NEAR(g.high, c.high, 1e-9) << c.what;
    EXPECT_EQ(g.unbounded, c.unbounded) << c.what;
    // optimize() completes them alike: the optimum of an unbounded goal
    // is the top of the response.
    if (c.goal.kind == Goal::Maximize && c.unbounded) {
      EXPECT_NEAR(optimize(fit, goals).candidates.at(0).predictions.at(0).value, c.high, 1e-9) << c.what;
    }
  }
}

// The field each refusal is about, as data.
TEST(CompleteGoals, RefusalsCarryTheFieldTheyAreAbout) {
  const Fit fit = goalsFit();
  const Goal good = goal("Y1", Goal::Maximize, -0.3, 0.6);
  struct Case {
    const char* what;
    std::function<void(Goals&, SearchOptions&)> change;
    const char* field;
    const char* part;
    const char* type = "InvalidArgument";
  };
  const Case cases[] = {
      {"flat response", [](auto& g, auto&) { g.goals.push_back(goal("Y3", Goal::Maximize, NAN, NAN)); }, "goals[1]",
       "same everywhere"},
      {"bound never reached", [](auto& g, auto&) { g.goals[0] = goal("Y1", Goal::Maximize, 5.1, NAN); },
       "goals[0].low", "never pass the given bound 5.1"},
      {"bound never reached, minimize", [](auto& g, auto&) { g.goals[0] = goal("Y1", Goal::Minimize, NAN, -3.3); },
       "goals[0].high", "never pass"},
      {"unknown response", [](auto& g, auto&) { g.goals[0].response = "Y9"; }, "goals[0].response", "\"Y9\"",
       "UnknownName"},
      {"bad shape", [](auto& g, auto&) { g.goals[0].shape = 0.0; }, "goals[0].shape", "shape must be finite and > 0"},
      {"target without target", [](auto& g, auto&) { g.goals[0] = goal("Y1", Goal::Target, -0.5, 0.5); },
       "goals[0].target", "Target needs"},
      {"target out of reach", [](auto& g, auto&) { g.goals[0] = goal("Y1", Goal::Target, NAN, NAN, 1.7); },
       "goals[0].target", "never reach the target 1.7"},
      {"reversed constraint", [](auto& g, auto&) { g.constraints = {{"Y2", 0.7, 0.2}}; }, "constraints[0].high",
       "must not exceed high"},
      {"constraint on nothing", [](auto& g, auto&) { g.constraints = {{"Y7", 0.1, 0.2}}; }, "constraints[0].response",
       "\"Y7\"", "UnknownName"},
      {"region below", [](auto& g, auto&) { g.region["A"] = {0.05, 0.3}; }, "region.A",
       "within the range the runs span"},
      {"region above", [](auto& g, auto&) { g.region["A"] = {0.3, 0.75}; }, "region.A",
       "within the range the runs span"},
      {"region of nothing", [](auto& g, auto&) { g.region["Z"] = {0.05, 0.3}; }, "region.Z", "unknown factor",
       "UnknownName"},
      {"two goals", [](auto& g, auto&) { g.goals.push_back(goal("Y1", Goal::Minimize, 0.1, 0.9)); },
       "goals[1].response", "more than one goal"},
      {"mixed kinds", [](auto& g, auto&) { g.goals.push_back(goal("Y2", Goal::WeightedSum, NAN, NAN)); },
       "goals[1].kind", "cannot be mixed"},
      {"constraints nobody meets", [](auto& g, auto&) { g.constraints = {{"Y2", -INFINITY, -0.5}}; }, "",
       "no point of the search region meets the constraints", "StateError"},
      {"too many points", [](auto&, auto& o) { o.points = 65537; }, "search.points", "65536"},
      {"no goal", [](auto& g, auto&) { g.goals.clear(); }, "goals", "no goal"},
  };
  for (const Case& c : cases) {
    Goals goals;
    goals.goals = {good};
    SearchOptions options;
    c.change(goals, options);
    try {
      optimize(fit, goals, options);
      ADD_FAILURE() << "accepted: " << c.what;
    } catch (const Error& e) {
      const char* type = dynamic_cast<const UnknownName*>(&e) ? "UnknownName"
                         : dynamic_cast<const StateError*>(&e) ? "StateError" : "InvalidArgument";
      EXPECT_STREQ(type, c.type) << c.what;
      EXPECT_EQ(e.field(), c.field) << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.part), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

TEST(GoalKinds, OneTableOfNamesForEveryFrontEnd) {
  const std::pair<const char*, Goal::Kind> spellings[] = {
      {"maximize", Goal::Maximize},        {"Minimize", Goal::Minimize},       {"TARGET", Goal::Target},
      {"within", Goal::Within},            {"weightedSum", Goal::WeightedSum}, {"weighted-sum", Goal::WeightedSum},
      {"weighted_sum", Goal::WeightedSum}, {"Weighted Sum", Goal::WeightedSum}};
  for (const auto& [text, kind] : spellings) {
    EXPECT_EQ(parseGoalKind(text), kind) << text;
    EXPECT_EQ(parseGoalKind(goalKindName(kind)), kind) << text;
  }
  EXPECT_EQ(goalKindName(Goal::WeightedSum), "weightedSum");
  for (const char* bad : {"", "max", "maximise", "sum", "maximize!"}) {
    try {
      parseGoalKind(bad);
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find("maximize, minimize, target, within, weightedSum"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace tavrin
