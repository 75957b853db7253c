#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <random>

#include "design/plans.h"
#include "design/tables.h"
#include "model/estimators.h"
#include "model/evaluate.h"
#include "tavrin/tavrin.h"

namespace {

using Coefs = std::vector<std::vector<float>>;  // B[r][c] of one objective, (n+1) x (n+1)

// Positions (r, c), r + c <= n: B[0][0] constant, B[0][i] linear, B[i][0] square, B[i][d] x_i x_(i+d).
std::vector<std::pair<int, int>> positions(int n) {
  std::vector<std::pair<int, int>> out;
  for (int r = 0; r <= n; ++r)
    for (int c = 0; r + c <= n; ++c) out.push_back({r, c});
  return out;
}

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// Objective 1 uniform in [-1, 1], 2 in [-50, 150], 3 magnitudes 2^-20..2^21 of either sign.
tavrin::Table<float> randomObservations(int N, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto obs = tavrin::allocTable<float>(4, N + 1);
  for (int r = 1; r <= N; ++r) {
    obs[1][r] = static_cast<float>(u(rng));
    obs[2][r] = static_cast<float>(50 + 100 * u(rng));
    const double mantissa = u(rng) + (u(rng) < 0 ? -2 : 2);
    obs[3][r] = static_cast<float>(std::ldexp(mantissa, static_cast<int>(rng() % 41) - 20));
  }
  return obs;
}

// K1..K12 for n = 4 (first row) to 20, as stored decimals.
constexpr double kRechtschaffnerWeights[17][12] = {
    {0.055555555556, 0.08333333333, 0.027777777778, 0.1388888889, -0.083333333333, 0.1666666667,
     0.027777777778, 0.05555555555, -0.11111111111, 0.05555555555, 0.33333333333, 0.6666666667},
    {0.0625, 0.0625, 0, 0.0625, 0.0625, 0.0625, 0, 0, -0.0625, 0.125, 0.25, 0.75},
    {0.07, 0.05, -0.02, 0.03666666666, 0.11666666666, 0.03333333333,
     -0.0033333333333, -0.01333333333, -0.046666666666, 0.1533333333, 0.2, 0.8},
    {0.076388888888, 0.04166666666, -0.034722222222, 0.02430555555, 0.14583333333, 0.02083333333,
     -0.0034722222222, -0.01736111111, -0.038194444444, 0.1701388888, 0.16666666666, 0.8333333333},
    {0.081632653061, 0.03571428571, -0.045918367347, 0.01734693877, 0.16428571429, 0.01428571428,
     -0.0030612244898, -0.01836734693, -0.032653061224, 0.1816326531, 0.14285714286, 0.8571428571},
    {0.085937499999, 0.03125, -0.0546875, 0.01302083333, 0.17708333333, 0.01041666667,
     -0.0026041666666, -0.01822916666, -0.028645833333, 0.1901041666, 0.125, 0.875},
    {0.089506172839, 0.02777777777, -0.061728395062, 0.01014109347, 0.1865079365, 0.007936507936,
     -0.0022045855379, -0.0176366843, -0.025573192239, 0.1966490299, 0.11111111111, 0.8888888888},
    {0.092499999999, 0.025, -0.067499999999, 0.008124999999, 0.19374999999, 0.00625,
     -0.001875, -0.016875, -0.023125, 0.201875, 0.1, 0.9},
    {0.095041322314, 0.02272727272, -0.072314049587, 0.00665748393, 0.19949494949, 0.00505050505,
     -0.0016069788797, -0.01606978879, -0.021120293847, 0.2061524334, 0.090909090909, 0.909090909},
    {0.097222222222, 0.02083333333, -0.076388888888, 0.005555555555, 0.20416666666, 0.004166666667,
     -0.0013888888888, -0.01527777777, -0.019444444444, 0.2097222222, 0.083333333333, 0.9166666667},
    {0.099112426036, 0.01923076923, -0.079881656804, 0.00470683163, 0.20804195804, 0.003496503496,
     -0.0012103281334, -0.0145239376, -0.018020441097, 0.2127487897, 0.076923076923, 0.923076923},
    {0.10076530612, 0.01785714286, -0.082908163265, 0.004039115646, 0.21130952381, 0.002976190476,
     -0.00106292517, -0.01381802721, -0.016794217687, 0.2153486394, 0.071428571428, 0.9285714285},
    {0.10222222222, 0.01666666667, -0.085555555555, 0.003504273504, 0.2141025641, 0.002564102564,
     -0.00094017094017, -0.01316239316, -0.015726495726, 0.2176068376, 0.066666666666, 0.9333333333},
    {0.103515625, 0.015625, -0.087890625, 0.003069196429, 0.21651785714, 0.002232142857,
     -0.00083705357142, -0.01255580357, -0.014787946428, 0.2195870535, 0.0625, 0.9375},
    {0.10467128028, 0.01470588235, -0.089965397924, 0.002710495963, 0.21862745098, 0.001960784313,
     -0.00074971164936, -0.01199538639, -0.013956170703, 0.2213379469, 0.058823529412, 0.9411764706},
    {0.10570987654, 0.01388888888, -0.091820987654, 0.002411265432, 0.22048611111, 0.001736111111,
     -0.00067515432101, -0.01147762346, -0.013213734568, 0.2228973765, 0.055555555555, 0.9444444444},
    {0.10664819944, 0.01315789473, -0.093490304709, 0.002159035359, 0.22213622291, 0.001547987616,
     -0.00061104774319, -0.01099885938, -0.012546846993, 0.2242952583, 0.052631578947, 0.947368421},
};

// Signed k with which a run (kind 0 run 1, 1 run 1+a, 2 pair run (a,b), 3 axial run a) enters B[r][c].
int rechtschaffnerRule(int r, int c, int kind, int a, int b) {
  const int shared = (a == r || a == r + c) + (kind == 2 && (b == r || b == r + c));
  if (r == 0 && c == 0) return std::array{1, -4, 7, 11}[kind];
  if (r == 0) return std::array{-2, a != c ? 2 : -5, a == c || b == c ? 2 : -6, 0}[kind];
  if (c == 0) return std::array{3, a != r ? 8 : 10, a == r || b == r ? 9 : 4, a != r ? -11 : 12}[kind];
  return std::array{2, shared ? -2 : 6, shared == 2 ? 5 : shared ? -2 : 6, 0}[kind];
}

// y[1..N] in plan order (run 1, runs 1+j, pair runs by p < q, axial runs); weights rounded to float first.
Coefs rechtschaffner(int n, const float* y) {
  std::vector<std::array<int, 3>> runs{{0, 0, 0}};
  for (int j = 1; j <= n; ++j) runs.push_back({1, j, 0});
  for (int p = 1; p < n; ++p)
    for (int q = p + 1; q <= n; ++q) runs.push_back({2, p, q});
  for (int j = 1; j <= n; ++j) runs.push_back({3, j, 0});
  Coefs b(n + 1, std::vector<float>(n + 1, -0.0f));  // -0 + K*y is K*y: the first update is an assignment
  for (const auto& [r, c] : positions(n))
    for (std::size_t u = 0; u < runs.size(); ++u)
      if (const int k = rechtschaffnerRule(r, c, runs[u][0], runs[u][1], runs[u][2])) {
        const double K = static_cast<float>(kRechtschaffnerWeights[n - 4][std::abs(k) - 1]);
        b[r][c] = static_cast<float>(b[r][c] + (k > 0 ? K : -K) * y[u + 1]);
      }
  return b;
}

struct BoxBehnkenWeights { double A, Q, E, F, C, D, H, G; };

BoxBehnkenWeights boxBehnkenWeights(int n) {
  // Derived from Q0, E0 and k in this order: F = E0 / k, E = E0 - F, Q = Q0 - F, C = F.
  auto derived = [](double A, double Q0, double E0, double k, double D, double H, double G) {
    return BoxBehnkenWeights{A, Q0 - E0 / k, E0 - E0 / k, E0 / k, E0 / k, D, H, G};
  };
  switch (n) {
    case 3: return {1.0 / 8, 1.0 / 4, 0, 0, -1.0 / 16, 2, 1.0 / 4, 0};
    case 4: return {1.0 / 12, 1.0 / 8, 0, 0, -1.0 / 48, 2, 1.0 / 4, 0};
    case 5: return {1.0 / 16, 1.0 / 12, 0, 0, -1.0 / 96, 2, 1.0 / 4, 0};
    case 6: return derived(1.0 / 24, 17.0 / 216, -5.0 / 108, 10, 3, 1.0 / 16, 1.0 / 8);
    case 7: return {1.0 / 24, 1.0 / 16, 0, 0, -1.0 / 144, 3, 1.0 / 8, 0};
    case 9: return derived(1.0 / 40, 1.0 / 30, -1.0 / 120, 6, 3, 1.0 / 16, 1.0 / 8);
    case 10: return {1.0 / 64, 17.0 / 512, 1.0 / 512, -7.0 / 512, 0, 4, 1.0 / 16, 1.0 / 32};
    case 11: return {1.0 / 80, 1.0 / 48, 0, 0, -1.0 / 600, 5, 1.0 / 32, 0};
    case 12: return derived(1.0 / 64, 23.0 / 1024, -9.0 / 1024, 9, 4, 1.0 / 32, 1.0 / 16);
    default: return derived(1.0 / 96, 41.0 / 3072, -7.0 / 3072, 7, 4, 1.0 / 32, 1.0 / 16);  // n = 16
  }
}

// Partners of variable i in the order they are added: E-set (for n = 10 the first six), then F-set.
std::vector<int> boxBehnkenPartners(int n, int i) {
  static const std::vector<int> p10[11] = {{},
      {2, 3, 4, 5, 6, 7, 8, 9, 10}, {1, 3, 4, 5, 8, 9, 6, 7, 10}, {1, 2, 4, 6, 8, 10, 5, 7, 9},
      {1, 2, 3, 7, 9, 10, 5, 6, 8}, {1, 2, 6, 7, 8, 9, 3, 4, 10}, {1, 3, 5, 7, 8, 10, 2, 4, 9},
      {1, 4, 5, 6, 9, 10, 2, 3, 8}, {2, 3, 5, 6, 9, 10, 1, 4, 7}, {2, 4, 5, 7, 8, 10, 1, 3, 6},
      {3, 4, 6, 7, 8, 9, 1, 2, 5}};
  using V = std::vector<int>;
  switch (n) {
    case 6: return {i <= 3 ? i + 3 : i - 3};
    case 9: return i <= 3 ? V{i + 3, i + 6} : i <= 6 ? V{i - 3, i + 3} : V{i - 3, i - 6};
    case 10: return p10[i];
    case 12: return {i <= 6 ? i + 6 : i - 6};
    case 16: return i <= 4 ? V{i + 4, i + 8, i + 12} : i <= 8 ? V{i - 4, i + 4, i + 8}
                  : i <= 12 ? V{i - 4, i + 4, i - 8} : V{i - 4, i - 8, i - 12};
    default: return {};
  }
}

// G pairs: for n = 10 those with j in the F-set of i, for n = 6, 9, 12, 16 those with j not a partner of i.
bool pairUsesG(int n, int i, int j) {
  const std::vector<int> p = boxBehnkenPartners(n, i);
  const auto at = std::find(p.begin(), p.end(), j);
  return n == 10 ? at - p.begin() >= 6 : !p.empty() && at == p.end();
}

Coefs boxBehnken(int n, int N, const tavrin::Table<std::int32_t>& plan, const float* y) {
  auto f = [](double v) { return static_cast<float>(v); };
  auto Y = [&](int r) { return static_cast<double>(y[r]); };
  Coefs b(n + 1, std::vector<float>(n + 1, 0.0f));
  b[0][0] = y[N];
  if (n == 1) {
    b[1][0] = f(f((Y(1) + Y(2)) - 2 * Y(3)) / 2.0);
    b[0][1] = f((Y(2) - Y(3)) - b[1][0]);
  } else if (n == 2) {  // runs (+,+), (-,+), (+,-), (-,-), (+,0), (-,0), (0,+), (0,-), (0,0)
    b[0][1] = f((Y(1) - Y(2) + Y(3) - Y(4) + Y(5) - Y(6)) / 6);
    b[0][2] = f((Y(1) + Y(2) - Y(3) - Y(4) + Y(7) - Y(8)) / 6);
    b[2][0] = f(f(Y(1) + Y(2) + Y(3) + Y(4) - (Y(5) + Y(6)) * 2 + (Y(7) + Y(8)) * 3 - Y(9) * 6) / 10.0);
    b[1][0] = f(f(Y(1) + Y(2) + Y(3) + Y(4) + Y(7) + Y(8) - (b[2][0] + Y(9)) * 6) / 4.0);
    b[1][1] = f((Y(1) - Y(2) - Y(3) + Y(4)) / 4);
  }
  if (n <= 2) return b;
  const BoxBehnkenWeights w = boxBehnkenWeights(n);
  auto sum = [&](int i, int j) {  // over the runs in order: x_ri * x_rj * y_r, or x_ri * y_r for j = 0
    double s = 0.0;
    for (int r = 1; r <= N; ++r) s += 1.0 * (j ? plan[r][i] * plan[r][j] : plan[r][i]) * y[r];
    return s;
  };
  std::vector<double> S(n + 1);
  double total = 0.0;
  for (int i = 1; i <= n; ++i) total += S[i] = sum(i, i);
  const double common = w.C * total - Y(N) / w.D;
  for (int i = 1; i <= n; ++i) {
    const std::vector<int> partners = boxBehnkenPartners(n, i);
    double e = 0.0, fs = 0.0;
    for (std::size_t k = 0; k < partners.size(); ++k) (k < 6 ? e : fs) += S[partners[k]];
    const double own = w.Q * S[i], P = n == 10 ? w.E * e + w.F * fs : w.E * e;
    b[i][0] = partners.empty() ? f(own + common) : f((own + P) + common);
  }
  for (int i = 1; i < n; ++i)
    for (int j = i + 1; j <= n; ++j) b[i][j - i] = f((pairUsesG(n, i, j) ? w.G : w.H) * sum(i, j));
  for (int i = 1; i <= n; ++i) b[0][i] = f(f(sum(i, 0)) * w.A);  // L_i rounded before the product
  return b;
}

// x[1..n] coded point; nested order, every coefficient widened to double.
double evaluate(const Coefs& b, const double* x) {
  const int n = static_cast<int>(b.size()) - 1;
  auto B = [&](int r, int c) { return static_cast<double>(b[r][c]); };
  double y = B(0, 0) + (B(0, n) + B(n, 0) * x[n]) * x[n];
  for (int i = n - 1; i >= 1; --i) {
    double s = 0;
    for (int k = n; k >= i + 1; --k) s = s + B(i, k - i) * x[k];
    y = y + ((B(i, 0) * x[i] + B(0, i)) + s) * x[i];
  }
  return y;
}

std::wstring varName(int i) { return L"x" + std::to_wstring(i); }
// Declared range of x_i, not symmetric about zero and not dyadic, so coding does real work.
double low(int i) { return 0.3 * i - 1.1; }
double high(int i) { return 0.3 * i + 2.6; }
double coded(int i, double v) { return (2 * v - high(i) - low(i)) / (high(i) - low(i)); }

std::unique_ptr<CTavrin> computedStudy(CTavrin::PlanType type, int n, int m) {
  auto s = std::make_unique<CTavrin>(type);
  unsigned failed = 0;
  for (int i = 1; i <= n; ++i) failed += s->planAddDesignVar(varName(i).c_str(), low(i), high(i)).code;
  for (int j = 1; j <= m; ++j) failed += s->planAddObjective((L"y" + std::to_wstring(j)).c_str()).code;
  EXPECT_EQ(failed + s->planCompute().code, 0u);
  return s;
}
const std::pair<int, int> kBoxBehnken[] = {{1, 3},   {2, 9},    {3, 13},   {4, 25},   {5, 41},  {6, 49},
                                          {7, 57}, {9, 121}, {10, 161}, {11, 177}, {12, 193}, {16, 385}};

// Both estimators for every supported n bit for bit, and evaluateQuadratic at a coded point in [-2, 2].
TEST(Estimators, BitExactAgainstLiteralReferences) {
  std::string bad;
  std::mt19937 rng(7);
  auto compare = [&](const char* fit, int n, const tavrin::TriangularTable<float>& coef,
                     const tavrin::Table<float>& obs, auto ref) {
    for (int j = 1; j <= 3; ++j) {
      const Coefs b = ref(obs[j]);
      for (const auto& [r, c] : positions(n))
        if (bits(coef[j][r][c]) != bits(b[r][c]))
          bad += fit + std::to_string(n) + " y" + std::to_string(j) + " B" + std::to_string(r) + "," +
                 std::to_string(c) + " ";
    }
    tavrin::NumericWorkspace ws;
    for (int i = 1; i <= n; ++i) ws.pointCoded[i] = static_cast<double>(rng() % 4001) / 1000 - 2;
    std::tie(ws.varCount, ws.coefTable) = std::pair(n, coef);
    tavrin::evaluateQuadratic(3, ws);
    if (ws.objValue[3] != evaluate(ref(obs[3]), ws.pointCoded)) bad += "evaluate n=" + std::to_string(n);
  };
  for (int n = 4; n <= 20; ++n) {
    const int N = (n + 1) * (n + 2) / 2;
    const auto obs = randomObservations(N, 100 + n);
    const auto coef = tavrin::fitRechtschaffner(n, N, 3, tavrin::buildRechtschaffnerPlan(n), obs);
    compare("R n=", n, coef, obs, [&](const float* y) { return rechtschaffner(n, y); });
  }
  for (const auto& [n, N] : kBoxBehnken) {
    const auto obs = randomObservations(N, 300 + n);
    const auto plan = tavrin::buildBoxBehnkenPlan(n);
    const auto coef = tavrin::fitBoxBehnken(n, N, 3, plan, obs);
    compare("BB n=", n, coef, obs, [&](const float* y) { return boxBehnken(n, N, plan, y); });
  }
  EXPECT_EQ(bad, "");
}

// Residuals orthogonal to every regressor; for n = 2 only to those of B01, B02, B11, and B00 = y_9.
TEST(BoxBehnkenFit, LeastSquaresExceptTheSquaresOfTwoVariables) {
  for (const auto& [n, N] : kBoxBehnken) {
    const auto obs = randomObservations(N, 500 + n);
    const auto plan = tavrin::buildBoxBehnkenPlan(n);
    const auto coef = tavrin::fitBoxBehnken(n, N, 3, plan, obs);
    const auto pos = positions(n);
    auto regressor = [&](int run, int r, int c) {
      return 1.0 * (r == 0 ? (c == 0 ? 1 : plan[run][c]) : plan[run][r] * plan[run][r + c]);
    };
    for (int j = 1; j <= 3; ++j) {
      std::string orthogonal;
      for (const auto& [pr, pc] : pos) {
        double dot = 0, scale = 0;
        for (int run = 1; run <= N; ++run) {
          double resid = obs[j][run];
          for (const auto& [r, c] : pos) resid -= coef[j][r][c] * regressor(run, r, c);
          dot += regressor(run, pr, pc) * resid;
          scale = std::max(scale, std::fabs(1.0 * obs[j][run]));
        }
        orthogonal += std::fabs(dot) <= 4e-6 * N * scale ? '1' : '0';
      }
      const bool centre = n != 2 || (orthogonal != "111111" && bits(coef[j][0][0]) == bits(obs[j][9]));
      if (n == 2) orthogonal = {orthogonal[1], orthogonal[2], orthogonal[4]};
      EXPECT_TRUE(centre && orthogonal == std::string(orthogonal.size(), '1')) << n << " " << orthogonal;
    }
  }
}

// Every plan: a quadratic y1 comes back, constant y2 stays, unset y3 predicts 0, a refit repeats the bits.
TEST(ModelCompute, RecoversQuadraticsThroughThePublicInterface) {
  std::mt19937 rng(2024);
  std::vector<std::pair<CTavrin::PlanType, int>> plans;
  for (const auto& [n, N] : kBoxBehnken) plans.push_back({CTavrin::BoxBehnkenPlan, n});
  for (int n = 4; n <= 20; ++n) plans.push_back({CTavrin::RechschafnerPlan, n});
  for (const auto& [type, n] : plans) {
    auto s = computedStudy(type, n, 3);
    Coefs q(n + 1, std::vector<float>(n + 1));
    for (const auto& [r, c] : positions(n)) q[r][c] = static_cast<float>(static_cast<int>(rng() % 11) - 5);
    unsigned N = 0, failed = s->planGetExperimentCount(N).code;
    double x[21], v[4], again = 0;
    for (unsigned r = 1; r <= N; ++r) {
      for (int i = 1; i <= n; ++i) {
        failed += s->planGetDesignVarValue(varName(i).c_str(), L"y1", r, x[i]).code;
        x[i] = coded(i, x[i]);
      }
      failed += s->planSetObjectiveValue(L"y1", r, evaluate(q, x)).code;
      failed += s->planSetObjectiveValue(L"y2", r, -3.5).code;
    }
    for (int i = 1; i <= n; ++i) {
      failed += s->modelSetDesignVarValue(varName(i).c_str(), low(i) + 0.17 * i).code;
      x[i] = coded(i, low(i) + 0.17 * i);
    }
    for (double* y1 : {&v[1], &again})
      failed += s->modelCompute().code, failed += s->modelGetObjectiveValue(L"y1", *y1).code;
    failed += s->modelGetObjectiveValue(L"y2", v[2]).code + s->modelGetObjectiveValue(L"y3", v[3]).code;
    ASSERT_EQ(failed, 0u);
    EXPECT_NEAR(v[1], evaluate(q, x), 2e-6 * (n + 1) * (n + 2)) << "type " << type << " n=" << n;
    EXPECT_TRUE(std::fabs(v[2] + 3.5) < 1e-4 && v[3] == 0.0 && again == v[1]) << v[2] << " " << v[3];
  }
}

// Observations are held as floats: 0.1 at the centre run 13, the current point, predicts float(0.1) there.
TEST(ModelCompute, ObservationsAreSinglePrecision) {
  auto s = computedStudy(CTavrin::BoxBehnkenPlan, 3, 1);
  double v = 0;
  unsigned failed = s->planSetObjectiveValue(L"y1", 13, 0.1).code;
  failed += s->modelCompute().code;
  EXPECT_EQ(failed + s->modelGetObjectiveValue(L"y1", v).code, 0u);
  EXPECT_EQ(v, static_cast<double>(0.1f));
}

}  // namespace
