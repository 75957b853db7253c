// Derringer-Suich desirability at hand-picked points, against the published
// formulas evaluated by hand (the literals below), and its refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "tavrin/error.h"
#include "tavrin/optimum.h"

namespace tavrin {
namespace {

Goal goal(Goal::Kind kind, double low, double high, double shape = 1.0, double target = NAN, double shapeHigh = 1.0,
          bool unbounded = false) {
  return {"Yield", kind, low, high, target, shape, shapeHigh, 1.0, 1.0, unbounded};
}

Goal unbounded(Goal::Kind kind, double low, double high) { return goal(kind, low, high, 1.0, NAN, 1.0, true); }

TEST(Desirability, FollowsTheDerringerSuichFormulas) {
  struct Case {
    const char* what;
    Goal goal;
    double y;
    double expected;
  };
  const Case cases[] = {
      // Maximize over [0.1, 0.7]: ((y - 0.1) / 0.6)^s.
      {"maximize below low", goal(Goal::Maximize, 0.1, 0.7), 0.05, 0.0},
      {"maximize linear", goal(Goal::Maximize, 0.1, 0.7), 0.3, 1.0 / 3.0},
      {"maximize shape 2", goal(Goal::Maximize, 0.1, 0.7, 2.0), 0.4, 0.25},
      {"maximize above high", goal(Goal::Maximize, 0.1, 0.7, 3.0), 0.9, 1.0},
      // Unbounded: the ratio goes on past high (low for Minimize).
      {"unbounded maximize above high", unbounded(Goal::Maximize, 0.1, 0.7), 1.0, 1.5},
      {"unbounded minimize below low", unbounded(Goal::Minimize, 0.1, 0.7), -0.2, 1.5},
      {"unbounded maximize below low", unbounded(Goal::Maximize, 0.1, 0.7), 0.05, 0.0},
      // Minimize over [1e7, 1e7 + 3]: ((1e7 + 3 - y) / 3)^s.
      {"minimize below low", goal(Goal::Minimize, 1e7, 1e7 + 3), 1e7 - 1, 1.0},
      {"minimize shape 3", goal(Goal::Minimize, 1e7, 1e7 + 3, 3.0), 1e7 + 1.5, 0.125},
      {"minimize above high", goal(Goal::Minimize, 1e7, 1e7 + 3), 1e7 + 3.5, 0.0},
      // Target 0.3 in [0.1, 0.7]: ((y - 0.1) / 0.2)^s below, ((0.7 - y) / 0.4)^t above.
      {"target below", goal(Goal::Target, 0.1, 0.7, 0.5, 0.3, 3.0), 0.2, std::sqrt(0.5)},
      {"target at target", goal(Goal::Target, 0.1, 0.7, 0.5, 0.3, 3.0), 0.3, 1.0},
      {"target above", goal(Goal::Target, 0.1, 0.7, 0.5, 0.3, 3.0), 0.5, 0.125},
      {"target outside", goal(Goal::Target, 0.1, 0.7, 0.5, 0.3, 3.0), 0.75, 0.0},
      {"target below low", goal(Goal::Target, 0.1, 0.7, 0.5, 0.3, 3.0), -0.1, 0.0},
      // Within [-0.3, 0.2].
      {"within at the end", goal(Goal::Within, -0.3, 0.2), 0.2, 1.0},
      {"within outside", goal(Goal::Within, -0.3, 0.2), 0.21, 0.0},
      {"within one-sided", goal(Goal::Within, -INFINITY, 0.2), -1e9, 1.0},
  };
  for (const Case& c : cases) EXPECT_NEAR(desirability(c.goal, c.y), c.expected, 1e-14) << c.what;
}

TEST(Desirability, RefusesGoalsThatMakeNoDesirability) {
  const struct {
    Goal goal;
    const char* part;
  } cases[] = {
      {goal(Goal::Maximize, 0.7, 0.1), "goal of response \"Yield\": Maximize needs finite low < high"},
      {goal(Goal::Minimize, 0.1, INFINITY), "Minimize needs finite low < high"},
      {goal(Goal::Target, 0.1, 0.7, 1.0, 0.7), "Target needs finite low < target < high"},
      {goal(Goal::Target, 0.1, 0.7, 1.0, 0.3, -1.0), "shapeHigh must be finite and > 0"},
      {goal(Goal::Maximize, 0.1, 0.7, NAN), "shape must be finite and > 0"},
      {goal(Goal::Within, -INFINITY, INFINITY), "Within needs low < high with at least one of them finite"},
      {{"Yield", Goal::Maximize, 0.1, 0.7, NAN, 1.0, 1.0, 0.0}, "importance must be finite and > 0"},
      {goal(Goal::WeightedSum, NAN, NAN), "WeightedSum goals have no desirability"},
      {goal(Goal::Target, 0.1, 0.7, 1.0, 0.3, 1.0, true), "only Maximize and Minimize goals can be unbounded"},
  };
  for (const auto& c : cases) {
    try {
      desirability(c.goal, 0.4);
      ADD_FAILURE() << "accepted: " << c.part;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(c.part), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tavrin
