#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "model/reference_model.h"
#include "study_helpers.h"

namespace {

using reference::bits;
using study::defaultRange;
using study::objName;
using study::varName;

struct PlanCase {
  CTavrin::PlanType type;
  int n;
};

std::vector<PlanCase> everyPlan() {
  std::vector<PlanCase> cases;
  for (int n : {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 16}) cases.push_back({CTavrin::BoxBehnkenPlan, n});
  for (int n = 4; n <= 20; ++n) cases.push_back({CTavrin::RechschafnerPlan, n});
  return cases;
}

// A quadratic in coded units with integer coefficients in [-5, 5].
reference::Coefs randomQuadratic(int n, std::mt19937& rng) {
  std::uniform_int_distribution<int> d(-5, 5);
  reference::Coefs q(n);
  for (const auto& [r, c] : reference::positions(n)) q.at(r, c) = static_cast<float>(d(rng));
  return q;
}

double quadraticAt(const reference::Coefs& q, const std::vector<double>& x) {  // x[0..n-1]
  double y = q.at(0, 0);
  for (int i = 1; i <= q.n; ++i) {
    const double xi = x[static_cast<std::size_t>(i - 1)];
    y += q.at(0, i) * xi + q.at(i, 0) * xi * xi;
    for (int k = i + 1; k <= q.n; ++k) y += q.at(i, k - i) * xi * x[static_cast<std::size_t>(k - 1)];
  }
  return y;
}

std::vector<double> codedRun(CTavrin& s, int n, unsigned r) {
  std::vector<double> x;
  for (int i = 1; i <= n; ++i) x.push_back(study::coded(study::naturalAt(s, i, r), defaultRange(i)));
  return x;
}

// Observations j of every run from `value(coded run)`.
template <class F>
void enterObservations(CTavrin& s, int n, int j, F value) {
  const unsigned N = study::runCount(s);
  for (unsigned r = 1; r <= N; ++r) {
    EXPECT_EQ(s.planSetObjectiveValue(objName(j).c_str(), r, value(codedRun(s, n, r))).code, 0u);
  }
}

std::vector<double> randomNaturalPoint(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> p;
  for (int i = 1; i <= n; ++i) p.push_back(defaultRange(i).lo + u(rng) * (defaultRange(i).hi - defaultRange(i).lo));
  return p;
}

std::vector<double> codedPoint(const std::vector<double>& natural) {
  std::vector<double> x;
  for (std::size_t i = 0; i < natural.size(); ++i) x.push_back(study::coded(natural[i], defaultRange(static_cast<int>(i) + 1)));
  return x;
}

TEST(ModelCompute, RefusesWithoutPlan) {
  CTavrin s(CTavrin::BoxBehnkenPlan);
  s.planAddDesignVar(L"x1", 0, 1);
  s.planAddObjective(L"y1");
  const Result r = s.modelCompute();
  EXPECT_EQ(r.code, 1u);
  EXPECT_EQ(std::wstring(r.message), study::errorText(L"modelCompute", L"Plan is not computed."));
  EXPECT_FALSE(s.planIsComputed());
  EXPECT_FALSE(s.modelIsComputed());
}

// Observations of a quadratic at the runs give the quadratic back: checked
// through predictions at natural points inside the declared ranges.
TEST(ModelCompute, RecoversQuadraticForEveryPlan) {
  std::mt19937 rng(2024);
  for (const auto& [type, n] : everyPlan()) {
    auto s = study::computedStudy(type, n, 2);
    const auto q1 = randomQuadratic(n, rng), q2 = randomQuadratic(n, rng);
    enterObservations(*s, n, 1, [&](const std::vector<double>& x) { return quadraticAt(q1, x); });
    enterObservations(*s, n, 2, [&](const std::vector<double>& x) { return quadraticAt(q2, x); });
    // Single-precision observations and coefficients: allow a few float
    // roundings on the size of the observations.
    const double tol = 2e-6 * (n + 1) * (n + 2);
    for (int trial = 0; trial < 4; ++trial) {
      const auto p = randomNaturalPoint(n, rng);
      EXPECT_NEAR(study::predictAt(*s, p, 1), quadraticAt(q1, codedPoint(p)), tol) << "type " << type << " n=" << n;
      double v = 0;
      ASSERT_EQ(s->modelGetObjectiveValue(objName(2).c_str(), v).code, 0u);
      EXPECT_NEAR(v, quadraticAt(q2, codedPoint(p)), tol) << "type " << type << " n=" << n;
    }
  }
}

// The prediction at a natural point is the nested evaluation of the fitted
// coefficients at the coded point, to the bit; a plan type other than 1 or
// 2 is fitted like a Rechtschaffner plan.
TEST(ModelCompute, PredictionsBitExactEndToEnd) {
  const PlanCase cases[] = {{CTavrin::BoxBehnkenPlan, 1},   {CTavrin::BoxBehnkenPlan, 2},
                            {CTavrin::BoxBehnkenPlan, 5},   {CTavrin::BoxBehnkenPlan, 10},
                            {CTavrin::RechschafnerPlan, 4}, {CTavrin::RechschafnerPlan, 9},
                            {static_cast<CTavrin::PlanType>(7), 6}};
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(-30.0, 30.0);
  for (const auto& [type, n] : cases) {
    auto s = study::computedStudy(type, n, 1);
    const unsigned N = study::runCount(*s);
    std::vector<float> y(N + 1);
    std::vector<std::vector<int>> levels(N + 1, std::vector<int>(static_cast<std::size_t>(n) + 1));
    for (unsigned r = 1; r <= N; ++r) {
      const double v = u(rng);
      y[r] = static_cast<float>(v);
      ASSERT_EQ(s->planSetObjectiveValue(L"y1", r, v).code, 0u);
      const auto x = codedRun(*s, n, r);
      for (int i = 1; i <= n; ++i) levels[r][static_cast<std::size_t>(i)] = static_cast<int>(std::lround(x[static_cast<std::size_t>(i - 1)]));
    }
    auto level = [&](int r, int i) { return levels[static_cast<std::size_t>(r)][static_cast<std::size_t>(i)]; };
    const auto fit = type == CTavrin::BoxBehnkenPlan ? reference::boxBehnken(n, static_cast<int>(N), level, y.data())
                                                     : reference::rechtschaffner(n, y.data());
    for (int trial = 0; trial < 5; ++trial) {
      auto p = randomNaturalPoint(n, rng);
      if (trial == 0) p[0] = 1e3;  // outside the declared range
      auto x = codedPoint(p);
      x.insert(x.begin(), 0.0);
      EXPECT_EQ(bits(study::predictAt(*s, p, 1)), bits(reference::evaluate(fit, x.data()))) << "type " << type << " n=" << n;
    }
  }
}

// B[0,0] is the centre observation, and planCompute leaves the current
// point at the centre run, so the first prediction is that observation.
// Ranges [i, 3i] code their midpoint to exactly 0.
TEST(ModelCompute, BoxBehnkenCentrePredictionIsCentreObservation) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1e4, 1e4);
  for (int n : {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 16}) {
    auto s = study::computedStudy(CTavrin::BoxBehnkenPlan, n, 2, [](int i) { return study::Range{1.0 * i, 3.0 * i}; });
    const unsigned N = study::runCount(*s);
    for (int j = 1; j <= 2; ++j)
      for (unsigned r = 1; r <= N; ++r) ASSERT_EQ(s->planSetObjectiveValue(objName(j).c_str(), r, u(rng)).code, 0u);
    ASSERT_EQ(s->modelCompute().code, 0u);
    for (int j = 1; j <= 2; ++j) {
      double centre = 0, predicted = 0;
      ASSERT_EQ(s->planGetObjectiveValue(objName(j).c_str(), N, centre).code, 0u);
      ASSERT_EQ(s->modelGetObjectiveValue(objName(j).c_str(), predicted).code, 0u);
      EXPECT_EQ(bits(predicted), bits(centre)) << "n=" << n;
    }
  }
}

TEST(ModelCompute, ZeroAndConstantObservations) {
  std::mt19937 rng(8);
  for (const auto& [type, n] : everyPlan()) {
    auto s = study::computedStudy(type, n, 2);
    enterObservations(*s, n, 2, [](const std::vector<double>&) { return -3.5; });
    for (int trial = 0; trial < 2; ++trial) {
      const auto p = randomNaturalPoint(n, rng);
      EXPECT_EQ(study::predictAt(*s, p, 1), 0.0) << "objective left at zero, n=" << n;
      double v = 0;
      s->modelGetObjectiveValue(objName(2).c_str(), v);
      EXPECT_NEAR(v, -3.5, 1e-4) << "type " << type << " n=" << n;
    }
  }
}

TEST(ModelCompute, RefitIsIdempotentAndFollowsThePoint) {
  for (const auto& [type, n] : {PlanCase{CTavrin::BoxBehnkenPlan, 3}, PlanCase{CTavrin::RechschafnerPlan, 5}}) {
    auto s = study::computedStudy(type, n, 1);
    enterObservations(*s, n, 1, [](const std::vector<double>& x) { return 1.3 * x[0] - 0.7 * x[1] * x[2] + 0.1; });
    std::mt19937 rng(1);
    const auto p = randomNaturalPoint(n, rng), other = randomNaturalPoint(n, rng);
    const double first = study::predictAt(*s, p, 1);
    ASSERT_EQ(s->modelCompute().code, 0u);
    double again = 0;
    ASSERT_EQ(s->modelGetObjectiveValue(L"y1", again).code, 0u);
    EXPECT_EQ(bits(again), bits(first));
    const double moved = study::predictAt(*s, other, 1);
    EXPECT_NE(moved, first);
    EXPECT_NEAR(moved, 1.3 * codedPoint(other)[0] - 0.7 * codedPoint(other)[1] * codedPoint(other)[2] + 0.1, 1e-5);
    EXPECT_EQ(bits(study::predictAt(*s, p, 1)), bits(first)) << "same coefficients after refitting";
  }
}

// An observation is held in single precision before the fit: 0.1 enters as
// the float nearest 0.1, and the centre prediction returns exactly that.
TEST(ModelCompute, ObservationsAreRoundedToSinglePrecision) {
  auto s = study::computedStudy(CTavrin::BoxBehnkenPlan, 3, 1);
  const unsigned N = study::runCount(*s);
  ASSERT_EQ(s->planSetObjectiveValue(L"y1", N, 0.1).code, 0u);
  ASSERT_EQ(s->planSetObjectiveValue(L"y1", N - 1, 1.0 + std::ldexp(1.0, -30)).code, 0u);
  ASSERT_EQ(s->modelCompute().code, 0u);
  double v = 0;
  ASSERT_EQ(s->modelGetObjectiveValue(L"y1", v).code, 0u);
  EXPECT_EQ(v, static_cast<double>(0.1f));
  EXPECT_NE(v, 0.1);
  ASSERT_EQ(s->planGetObjectiveValue(L"y1", N - 1, v).code, 0u);
  EXPECT_EQ(v, 1.0);
}

TEST(ModelCompute, KeepsOptimizedFlag) {
  auto s = study::computedStudy(CTavrin::BoxBehnkenPlan, 1, 1);
  ASSERT_EQ(s->modelCompute().code, 0u);
  ASSERT_EQ(s->modelOptimize(0, 1).code, 0u);  // zero model: the origin is admissible
  ASSERT_TRUE(s->modelIsOptimized());
  EXPECT_EQ(s->modelCompute().code, 0u);
  EXPECT_TRUE(s->modelIsComputed());
  EXPECT_TRUE(s->modelIsOptimized());
}

}  // namespace
