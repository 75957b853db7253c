// The SLSQP polish alone: it ends on an active response limit from either
// side, and its surrogate has the derivatives it reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "optimum/fixtures.h"
#include "optimum/polish.h"
#include "optimum/problem.h"

namespace tavrin::optimum {
namespace {

// Y1 peaks at 5 at the coded point (0.3, -0.2, 0.1); Y2 = A.
Problem peakProblem(double low, double high, const std::vector<Constraint>& constraints, std::vector<double>& coef) {
  const Fit fit = testing::exactFit(DesignKind::BoxBehnken, testing::threeFactors(),
                                    {[](const double* x) {
                                       const double a = x[0] - 0.3, b = x[1] + 0.2, c = x[2] - 0.1;
                                       return 5.0 - a * a - 2.0 * b * b - 0.5 * c * c;
                                     },
                                     [](const double* x) { return x[0]; }});
  Goals goals;
  goals.goals = {testing::goal("Y1", Goal::Maximize, low, high)};
  goals.constraints = constraints;
  Problem p = compileProblem(fit, goals);
  coef = slotCoefficients(p, fit);
  return p;
}

TEST(Polish, EndsOnTheActiveResponseLimitFromEitherSide) {
  // A limit on Y2 = A that excludes the peak holds A on it.
  const struct {
    double low, high;
    std::vector<double> start;
    double a;  // coded A of the constrained optimum
  } cases[] = {{0.6, INFINITY, {0.3, -0.2, 0.1}, 0.6},
               {0.6, INFINITY, {0.9, 0.7, -0.4}, 0.6},
               {0.45, 0.9, {-0.7, 0.1, 0.3}, 0.45},
               {-INFINITY, 0.1, {0.3, -0.2, 0.1}, 0.1},
               {-INFINITY, 0.1, {-0.8, 0.6, 0.9}, 0.1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.low << ".." << c.high << " from A = " << c.start[0]);
    std::vector<double> coef;
    const Problem p = peakProblem(-10.0, 10.0, {{"Y2", c.low, c.high}}, coef);
    const std::vector<double> x = polish(p, coef.data(), c.start);
    EXPECT_NEAR(x[0], c.a, 1e-7);
    EXPECT_NEAR(x[1], -0.2, 1e-6);
    EXPECT_NEAR(x[2], 0.1, 1e-6);
  }
}

// Its derivative and curvature per slot are those of its values (central
// differences), below the floor (where log r continues linearly) as above.
TEST(Polish, SurrogateDerivativesMatchItsValues) {
  std::vector<double> coef;
  const Problem p = peakProblem(4.5, 5.3, {}, coef);
  constexpr double kFloor = 1e-3;
  const auto value = [&](double y) {
    double derivative = 0.0;
    return surrogate(p, &y, kFloor, &derivative);
  };
  // Ratios -0.7, 0.0004 (below the floor), 0.3 and 0.9.
  for (const double y : {3.94, 4.50032, 4.74, 5.22}) {
    SCOPED_TRACE(y);
    double derivative = 0.0, curvature = 0.0;
    surrogate(p, &y, kFloor, &derivative, &curvature);
    EXPECT_NEAR((value(y + 1e-5) - value(y - 1e-5)) / 2e-5, derivative, 1e-6 * std::abs(derivative));
    const double second = (value(y + 1e-4) - 2 * value(y) + value(y - 1e-4)) / 1e-8;
    EXPECT_NEAR(second, curvature, 1e-3 * std::max(1.0, std::abs(curvature)));
  }
}

}  // namespace
}  // namespace tavrin::optimum
