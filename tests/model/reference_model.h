// Straightforward reference versions of the two estimators and of the model
// evaluation, written coefficient by coefficient in the order the rules are
// stated (the library walks the runs once and updates every coefficient per
// run). Tests compare the library against these bit for bit.
#pragma once

#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

#include "tavrin/detail/workspace.h"

namespace reference {

// Coefficients B[r,c] of one objective, stored as a full (n+1) x (n+1)
// square; only B[0,0], B[0,i], B[i,0] and B[i,d] with i + d <= n are used.
struct Coefs {
  int n;
  std::vector<float> v;
  explicit Coefs(int vars) : n(vars), v(static_cast<std::size_t>((vars + 1) * (vars + 1)), 0.0f) {}
  float& at(int r, int c) { return v[static_cast<std::size_t>(r * (n + 1) + c)]; }
  float at(int r, int c) const { return v[static_cast<std::size_t>(r * (n + 1) + c)]; }
};

// Every (r, c) position of the layout, in the order constant, linear,
// square, products.
inline std::vector<std::pair<int, int>> positions(int n) {
  std::vector<std::pair<int, int>> out{{0, 0}};
  for (int i = 1; i <= n; ++i) out.push_back({0, i});
  for (int i = 1; i <= n; ++i) out.push_back({i, 0});
  for (int i = 1; i < n; ++i)
    for (int k = i + 1; k <= n; ++k) out.push_back({i, k - i});
  return out;
}

inline std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }
inline std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// ---------------------------------------------------------------- Rechtschaffner

// K1..K12 for n = 4 (first row) to 20, as stored decimals.
inline constexpr double kRechtschaffnerWeights[17][12] = {
    {0.055555555556, 0.08333333333, 0.027777777778, 0.1388888889, -0.083333333333, 0.1666666667, 0.027777777778, 0.05555555555, -0.11111111111, 0.05555555555, 0.33333333333, 0.6666666667},
    {0.0625, 0.0625, 0, 0.0625, 0.0625, 0.0625, 0, 0, -0.0625, 0.125, 0.25, 0.75},
    {0.07, 0.05, -0.02, 0.03666666666, 0.11666666666, 0.03333333333, -0.0033333333333, -0.01333333333, -0.046666666666, 0.1533333333, 0.2, 0.8},
    {0.076388888888, 0.04166666666, -0.034722222222, 0.02430555555, 0.14583333333, 0.02083333333, -0.0034722222222, -0.01736111111, -0.038194444444, 0.1701388888, 0.16666666666, 0.8333333333},
    {0.081632653061, 0.03571428571, -0.045918367347, 0.01734693877, 0.16428571429, 0.01428571428, -0.0030612244898, -0.01836734693, -0.032653061224, 0.1816326531, 0.14285714286, 0.8571428571},
    {0.085937499999, 0.03125, -0.0546875, 0.01302083333, 0.17708333333, 0.01041666667, -0.0026041666666, -0.01822916666, -0.028645833333, 0.1901041666, 0.125, 0.875},
    {0.089506172839, 0.02777777777, -0.061728395062, 0.01014109347, 0.1865079365, 0.007936507936, -0.0022045855379, -0.0176366843, -0.025573192239, 0.1966490299, 0.11111111111, 0.8888888888},
    {0.092499999999, 0.025, -0.067499999999, 0.008124999999, 0.19374999999, 0.00625, -0.001875, -0.016875, -0.023125, 0.201875, 0.1, 0.9},
    {0.095041322314, 0.02272727272, -0.072314049587, 0.00665748393, 0.19949494949, 0.00505050505, -0.0016069788797, -0.01606978879, -0.021120293847, 0.2061524334, 0.090909090909, 0.909090909},
    {0.097222222222, 0.02083333333, -0.076388888888, 0.005555555555, 0.20416666666, 0.004166666667, -0.0013888888888, -0.01527777777, -0.019444444444, 0.2097222222, 0.083333333333, 0.9166666667},
    {0.099112426036, 0.01923076923, -0.079881656804, 0.00470683163, 0.20804195804, 0.003496503496, -0.0012103281334, -0.0145239376, -0.018020441097, 0.2127487897, 0.076923076923, 0.923076923},
    {0.10076530612, 0.01785714286, -0.082908163265, 0.004039115646, 0.21130952381, 0.002976190476, -0.00106292517, -0.01381802721, -0.016794217687, 0.2153486394, 0.071428571428, 0.9285714285},
    {0.10222222222, 0.01666666667, -0.085555555555, 0.003504273504, 0.2141025641, 0.002564102564, -0.00094017094017, -0.01316239316, -0.015726495726, 0.2176068376, 0.066666666666, 0.9333333333},
    {0.103515625, 0.015625, -0.087890625, 0.003069196429, 0.21651785714, 0.002232142857, -0.00083705357142, -0.01255580357, -0.014787946428, 0.2195870535, 0.0625, 0.9375},
    {0.10467128028, 0.01470588235, -0.089965397924, 0.002710495963, 0.21862745098, 0.001960784313, -0.00074971164936, -0.01199538639, -0.013956170703, 0.2213379469, 0.058823529412, 0.9411764706},
    {0.10570987654, 0.01388888888, -0.091820987654, 0.002411265432, 0.22048611111, 0.001736111111, -0.00067515432101, -0.01147762346, -0.013213734568, 0.2228973765, 0.055555555555, 0.9444444444},
    {0.10664819944, 0.01315789473, -0.093490304709, 0.002159035359, 0.22213622291, 0.001547987616, -0.00061104774319, -0.01099885938, -0.012546846993, 0.2242952583, 0.052631578947, 0.947368421},
};

// y[1..N] are the observations of one objective in plan order.
inline Coefs rechtschaffner(int n, const float* y) {
  const double* row = kRechtschaffnerWeights[n - 4];
  auto K = [&](int k) { return static_cast<float>(row[k - 1]); };  // weight rounded first
  // c = K*y; c += K*y; c -= K*y, each stored in single precision.
  auto set = [](float k, float obs) { return static_cast<float>(static_cast<double>(k) * static_cast<double>(obs)); };
  auto add = [](float c, float k, float obs) {
    return static_cast<float>(static_cast<double>(c) + static_cast<double>(k) * static_cast<double>(obs));
  };
  auto sub = [](float c, float k, float obs) {
    return static_cast<float>(static_cast<double>(c) - static_cast<double>(k) * static_cast<double>(obs));
  };
  std::vector<std::pair<int, int>> pairs;
  for (int p = 1; p < n; ++p)
    for (int q = p + 1; q <= n; ++q) pairs.push_back({p, q});
  const int pairCount = static_cast<int>(pairs.size());
  auto yB = [&](int j) { return y[1 + j]; };
  auto yP = [&](int u) { return y[n + 2 + u]; };  // u-th pair run, from 0
  auto yD = [&](int j) { return y[n + 1 + n * (n - 1) / 2 + j]; };

  Coefs b(n);
  float c = set(K(1), y[1]);
  for (int j = 1; j <= n; ++j) c = sub(c, K(4), yB(j));
  for (int u = 0; u < pairCount; ++u) c = add(c, K(7), yP(u));
  for (int j = 1; j <= n; ++j) c = add(c, K(11), yD(j));
  b.at(0, 0) = c;

  for (int i = 1; i <= n; ++i) {
    float a = set(static_cast<float>(-row[1]), y[1]);
    float s = set(K(3), y[1]);
    for (int j = 1; j <= n; ++j) {
      if (j != i) {
        a = add(a, K(2), yB(j));
        s = add(s, K(8), yB(j));
      } else {
        a = sub(a, K(5), yB(i));
        s = add(s, K(10), yB(i));
      }
    }
    for (int u = 0; u < pairCount; ++u) {
      if (i == pairs[u].first || i == pairs[u].second) {
        a = add(a, K(2), yP(u));
        s = add(s, K(9), yP(u));
      } else {
        a = sub(a, K(6), yP(u));
        s = add(s, K(4), yP(u));
      }
    }
    for (int j = 1; j <= n; ++j) s = j != i ? sub(s, K(11), yD(j)) : add(s, K(12), yD(i));
    b.at(0, i) = a;
    b.at(i, 0) = s;
  }

  for (const auto& [p, q] : pairs) {
    float t = set(K(2), y[1]);
    for (int j = 1; j <= n; ++j) t = (j != p && j != q) ? add(t, K(6), yB(j)) : sub(t, K(2), yB(j));
    for (int u = 0; u < pairCount; ++u) {
      const auto [uu, vv] = pairs[u];
      const int shared = (uu == p || uu == q) + (vv == p || vv == q);
      if (uu == p && vv == q) t = add(t, K(5), yP(u));
      else if (shared == 0) t = add(t, K(6), yP(u));
      else t = sub(t, K(2), yP(u));
    }
    b.at(p, q - p) = t;
  }
  return b;
}

// ---------------------------------------------------------------- Box-Behnken

struct BoxBehnkenWeights {
  double A, Q, E, F, C, D, H, G;
};

inline BoxBehnkenWeights boxBehnkenWeights(int n) {
  // n = 6, 9, 12, 16: F = E0 / k, E = E0 - F, Q = Q0 - F, C = F.
  auto derived = [](double A, double Q0, double E0, double k, double D, double H, double G) {
    const double F = E0 / k;
    const double E = E0 - F;
    const double Q = Q0 - F;
    return BoxBehnkenWeights{A, Q, E, F, F, D, H, G};
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
    case 16: return derived(1.0 / 96, 41.0 / 3072, -7.0 / 3072, 7, 4, 1.0 / 32, 1.0 / 16);
    default: return {};
  }
}

// Partners of variable i whose square sums enter its square term with E
// (first) and, for n = 10, with F (second).
inline std::pair<std::vector<int>, std::vector<int>> boxBehnkenPartners(int n, int i) {
  static const std::vector<int> e10[11] = {{},
                                           {2, 3, 4, 5, 6, 7},
                                           {1, 3, 4, 5, 8, 9},
                                           {1, 2, 4, 6, 8, 10},
                                           {1, 2, 3, 7, 9, 10},
                                           {1, 2, 6, 7, 8, 9},
                                           {1, 3, 5, 7, 8, 10},
                                           {1, 4, 5, 6, 9, 10},
                                           {2, 3, 5, 6, 9, 10},
                                           {2, 4, 5, 7, 8, 10},
                                           {3, 4, 6, 7, 8, 9}};
  static const std::vector<int> f10[11] = {{},        {8, 9, 10}, {6, 7, 10}, {5, 7, 9}, {5, 6, 8}, {3, 4, 10},
                                           {2, 4, 9}, {2, 3, 8},  {1, 4, 7},  {1, 3, 6}, {1, 2, 5}};
  switch (n) {
    case 6: return {{i <= 3 ? i + 3 : i - 3}, {}};
    case 9:
      if (i <= 3) return {{i + 3, i + 6}, {}};
      if (i <= 6) return {{i - 3, i + 3}, {}};
      return {{i - 3, i - 6}, {}};
    case 10: return {e10[i], f10[i]};
    case 12: return {{i <= 6 ? i + 6 : i - 6}, {}};
    case 16:
      if (i <= 4) return {{i + 4, i + 8, i + 12}, {}};
      if (i <= 8) return {{i - 4, i + 4, i + 8}, {}};
      if (i <= 12) return {{i - 4, i + 4, i - 8}, {}};
      return {{i - 4, i - 8, i - 12}, {}};
    default: return {};
  }
}

inline bool pairUsesG(int n, int i, int j) {
  const int d = j - i;
  switch (n) {
    case 6: return d != 3;
    case 9: return d != 3 && d != 6;
    case 12: return d != 6;
    case 16: return d != 4 && d != 8 && d != 12;
    case 10: {
      static const int g[15][2] = {{1, 8}, {1, 9}, {1, 10}, {2, 6}, {2, 7}, {2, 10}, {3, 5}, {3, 7},
                                   {3, 9}, {4, 5}, {4, 6},  {4, 8}, {5, 10}, {6, 9}, {7, 8}};
      for (const auto& pr : g)
        if (pr[0] == i && pr[1] == j) return true;
      return false;
    }
    default: return false;
  }
}

// x(r, i) is the coded level of variable i in run r; y[1..N] observations.
template <class Level>
Coefs boxBehnken(int n, int N, Level x, const float* y) {
  auto f = [](double v) { return static_cast<float>(v); };
  auto Y = [&](int r) { return static_cast<double>(y[r]); };
  Coefs b(n);
  b.at(0, 0) = y[N];
  if (n == 1) {
    b.at(1, 0) = f(static_cast<double>(f((Y(1) + Y(2)) - 2 * Y(3))) / 2);
    b.at(0, 1) = f((Y(2) - Y(3)) - static_cast<double>(b.at(1, 0)));
    return b;
  }
  if (n == 2) {
    b.at(0, 1) = f((Y(1) - Y(2) + Y(3) - Y(4) + Y(5) - Y(6)) / 6);
    b.at(0, 2) = f((Y(1) + Y(2) - Y(3) - Y(4) + Y(7) - Y(8)) / 6);
    b.at(2, 0) = f(static_cast<double>(f(Y(1) + Y(2) + Y(3) + Y(4) - (Y(5) + Y(6)) * 2 + (Y(7) + Y(8)) * 3 - Y(9) * 6)) / 10);
    b.at(1, 0) = f(static_cast<double>(f(Y(1) + Y(2) + Y(3) + Y(4) + Y(7) + Y(8) -
                                         (static_cast<double>(b.at(2, 0)) + Y(9)) * 6)) / 4);
    b.at(1, 1) = f((Y(1) - Y(2) - Y(3) + Y(4)) / 4);
    return b;
  }
  const BoxBehnkenWeights w = boxBehnkenWeights(n);
  std::vector<double> Si(static_cast<std::size_t>(n) + 1, 0.0);
  double S = 0.0;
  for (int i = 1; i <= n; ++i) {
    double sum = 0.0;
    for (int r = 1; r <= N; ++r) sum += static_cast<double>(x(r, i) * x(r, i)) * Y(r);
    Si[static_cast<std::size_t>(i)] = sum;
    S += sum;
  }
  const double common = w.C * S - Y(N) / w.D;
  for (int i = 1; i <= n; ++i) {
    const auto [eSet, fSet] = boxBehnkenPartners(n, i);
    const double own = w.Q * Si[static_cast<std::size_t>(i)];
    if (eSet.empty()) {
      b.at(i, 0) = f(own + common);
      continue;
    }
    double sumE = 0.0;
    for (int p : eSet) sumE += Si[static_cast<std::size_t>(p)];
    double P = w.E * sumE;
    if (!fSet.empty()) {
      double sumF = 0.0;
      for (int p : fSet) sumF += Si[static_cast<std::size_t>(p)];
      P = P + w.F * sumF;
    }
    b.at(i, 0) = f((own + P) + common);
  }
  for (int i = 1; i < n; ++i) {
    for (int j = i + 1; j <= n; ++j) {
      double Sij = 0.0;
      for (int r = 1; r <= N; ++r) Sij += static_cast<double>(x(r, i) * x(r, j)) * Y(r);
      b.at(i, j - i) = f((pairUsesG(n, i, j) ? w.G : w.H) * Sij);
    }
  }
  for (int i = 1; i <= n; ++i) {
    double L = 0.0;
    for (int r = 1; r <= N; ++r) L += static_cast<double>(x(r, i)) * Y(r);
    b.at(0, i) = f(static_cast<double>(f(L)) * w.A);
  }
  return b;
}

// ---------------------------------------------------------------- evaluation

// x[1..n] coded point; every coefficient widened to double.
inline double evaluate(const Coefs& b, const double* x) {
  const int n = b.n;
  auto B = [&](int r, int c) { return static_cast<double>(b.at(r, c)); };
  double y = B(0, 0);
  y = y + (B(0, n) + B(n, 0) * x[n]) * x[n];
  for (int i = n - 1; i >= 1; --i) {
    double s = 0;
    for (int k = n; k >= i + 1; --k) s = s + B(i, k - i) * x[k];
    y = y + ((B(i, 0) * x[i] + B(0, i)) + s) * x[i];
  }
  return y;
}

}  // namespace reference
