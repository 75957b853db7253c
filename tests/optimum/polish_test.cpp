// The SLSQP polish on its own, without the refinement that follows it in
// the search: from a start on the wrong side of an active response limit it
// must end on the limit, at the constrained optimum.
#include <gtest/gtest.h>

#include <cmath>

#include "optimum/fixtures.h"
#include "optimum/polish.h"
#include "optimum/problem.h"

namespace tavrin::optimum {
namespace {

TEST(Polish, EndsOnTheActiveResponseLimitFromEitherSide) {
  // Y1 peaks at A = 0.3 (coded); Y2 = A, so a limit on Y2 that excludes
  // the peak holds A on it.
  const Fit fit = testing::exactFit(DesignKind::BoxBehnken, testing::threeFactors(),
                                    {[](const double* x) {
                                       const double a = x[0] - 0.3, b = x[1] + 0.2, c = x[2] - 0.1;
                                       return 5.0 - a * a - 2.0 * b * b - 0.5 * c * c;
                                     },
                                     [](const double* x) { return x[0]; }});
  struct Case {
    double low, high;
    std::vector<double> start;
    double a;  // coded A of the constrained optimum
  };
  const Case cases[] = {{0.6, INFINITY, {0.3, -0.2, 0.1}, 0.6},
                        {0.6, INFINITY, {0.9, 0.7, -0.4}, 0.6},
                        {0.45, 0.9, {-0.7, 0.1, 0.3}, 0.45},
                        {-INFINITY, 0.1, {0.3, -0.2, 0.1}, 0.1},
                        {-INFINITY, 0.1, {-0.8, 0.6, 0.9}, 0.1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.low << ".." << c.high << " from A = " << c.start[0]);
    Goals goals;
    goals.goals = {testing::goal("Y1", Goal::Maximize, -10.0, 10.0)};
    goals.constraints = {{"Y2", c.low, c.high}};
    const Problem p = compileProblem(fit, goals);
    const std::vector<double> coef = slotCoefficients(p, fit);
    const std::vector<double> x = polish(p, coef.data(), c.start);
    EXPECT_GE(x[0], c.low - 1e-9);
    EXPECT_LE(x[0], c.high + 1e-9);
    EXPECT_NEAR(x[0], c.a, 1e-7);
    EXPECT_NEAR(x[1], -0.2, 1e-6);
    EXPECT_NEAR(x[2], 0.1, 1e-6);
  }
}

}  // namespace
}  // namespace tavrin::optimum
