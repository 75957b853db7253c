#include <vector>

#include "design/tables.h"
#include "model/estimators.h"

namespace tavrin {
namespace {

// Weights of the n >= 3 estimator: A linear, Q own square sum, E and F
// partner square sums, C total square sum, D divisor of the centre
// observation, H and G interaction weights.
struct Weights {
  double A = 0, Q = 0, E = 0, F = 0, C = 0, D = 1, H = 0, G = 0;
};

// For n = 6, 9, 12 and 16 the partner weights derive from E0, Q0 and a
// divisor k, in this order.
Weights derived(double A, double Q0, double E0, double k, double D, double H, double G) {
  Weights w;
  w.A = A;
  w.F = E0 / k;
  w.E = E0 - w.F;
  w.Q = Q0 - w.F;
  w.C = w.F;
  w.D = D;
  w.H = H;
  w.G = G;
  return w;
}

Weights weightsFor(int n) {
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

// Partners of variable i for n = 10: the E-set, then the F-set.
constexpr int kPartnersE10[11][6] = {
    {},
    {2, 3, 4, 5, 6, 7}, {1, 3, 4, 5, 8, 9}, {1, 2, 4, 6, 8, 10}, {1, 2, 3, 7, 9, 10}, {1, 2, 6, 7, 8, 9},
    {1, 3, 5, 7, 8, 10}, {1, 4, 5, 6, 9, 10}, {2, 3, 5, 6, 9, 10}, {2, 4, 5, 7, 8, 10}, {3, 4, 6, 7, 8, 9},
};
constexpr int kPartnersF10[11][3] = {
    {}, {8, 9, 10}, {6, 7, 10}, {5, 7, 9}, {5, 6, 8}, {3, 4, 10}, {2, 4, 9}, {2, 3, 8}, {1, 4, 7}, {1, 3, 6}, {1, 2, 5},
};
// The pairs (i, j) that n = 10 weights with G.
constexpr int kGPairs10[15][2] = {{1, 8}, {1, 9}, {1, 10}, {2, 6}, {2, 7}, {2, 10}, {3, 5}, {3, 7},
                                  {3, 9}, {4, 5}, {4, 6},  {4, 8}, {5, 10}, {6, 9}, {7, 8}};

// Partners of variable i for n = 6, 9, 12, 16, in the order they are added.
std::vector<int> partnersE(int n, int i) {
  switch (n) {
    case 6: return {i <= 3 ? i + 3 : i - 3};
    case 9:
      if (i <= 3) return {i + 3, i + 6};
      if (i <= 6) return {i - 3, i + 3};
      return {i - 3, i - 6};
    case 12: return {i <= 6 ? i + 6 : i - 6};
    case 16:
      if (i <= 4) return {i + 4, i + 8, i + 12};
      if (i <= 8) return {i - 4, i + 4, i + 8};
      if (i <= 12) return {i - 4, i + 4, i - 8};
      return {i - 4, i - 8, i - 12};
    case 10: return {std::begin(kPartnersE10[i]), std::end(kPartnersE10[i])};
    default: return {};
  }
}

std::vector<int> partnersF(int n, int i) {
  if (n == 10) return {std::begin(kPartnersF10[i]), std::end(kPartnersF10[i])};
  return {};
}

bool hasPartners(int n) { return n == 6 || n == 9 || n == 10 || n == 12 || n == 16; }

// Whether the pair (i, j), i < j, is weighted with G rather than H.
bool weightedWithG(int n, int i, int j) {
  const int d = j - i;
  switch (n) {
    case 6: return d != 3;
    case 9: return d != 3 && d != 6;
    case 12: return d != 6;
    case 16: return d != 4 && d != 8 && d != 12;
    case 10:
      for (const auto& pair : kGPairs10) {
        if (pair[0] == i && pair[1] == j) return true;
      }
      return false;
    default: return false;
  }
}

void fitOneVariable(const float* y, float* const* b) {
  const double y1 = y[1], y2 = y[2], y3 = y[3];
  b[1][0] = toSingle(static_cast<double>(toSingle((y1 + y2) - 2 * y3)) / 2);
  b[0][1] = toSingle((y2 - y3) - static_cast<double>(b[1][0]));
}

void fitTwoVariables(const float* y, float* const* b) {
  const double y1 = y[1], y2 = y[2], y3 = y[3], y4 = y[4], y5 = y[5], y6 = y[6], y7 = y[7], y8 = y[8], y9 = y[9];
  b[0][1] = toSingle((y1 - y2 + y3 - y4 + y5 - y6) / 6);
  b[0][2] = toSingle((y1 + y2 - y3 - y4 + y7 - y8) / 6);
  b[2][0] = toSingle(static_cast<double>(toSingle(y1 + y2 + y3 + y4 - (y5 + y6) * 2 + (y7 + y8) * 3 - y9 * 6)) / 10);
  const double b20 = b[2][0];
  b[1][0] = toSingle(static_cast<double>(toSingle(y1 + y2 + y3 + y4 + y7 + y8 - (b20 + y9) * 6)) / 4);
  b[1][1] = toSingle((y1 - y2 - y3 + y4) / 4);
}

// The sums S_i, S_ik and L_i of every objective, m values per sum. Each sum
// starts at 0 and takes in the runs in order r = 1..N; walking the runs once
// and feeding every sum keeps that order while the level products serve all
// objectives at once.
struct RunSums {
  std::vector<double> square;  // S_i at [i * m + j - 1]
  std::vector<double> linear;  // L_i at [i * m + j - 1]
  std::vector<double> pair;    // S_ik at [t * m + j - 1], pairs i < k in order
};

RunSums sumOverRuns(int n, int runCount, int m, const Table<std::int32_t>& planMatrix, const Table<float>& obsTable) {
  const auto width = static_cast<std::size_t>(m);
  RunSums sums;
  sums.square.assign((static_cast<std::size_t>(n) + 1) * width, 0.0);
  sums.linear.assign((static_cast<std::size_t>(n) + 1) * width, 0.0);
  sums.pair.assign(static_cast<std::size_t>(n * (n - 1) / 2) * width, 0.0);
  std::vector<double> y(width);
  for (int r = 1; r <= runCount; ++r) {
    for (std::size_t j = 0; j < width; ++j) y[j] = static_cast<double>(obsTable[j + 1][r]);
    const std::int32_t* x = planMatrix[static_cast<std::size_t>(r)];
    for (int i = 1; i <= n; ++i) {
      const double square = static_cast<double>(x[i] * x[i]);
      const double level = static_cast<double>(x[i]);
      double* squareSums = &sums.square[static_cast<std::size_t>(i) * width];
      double* linearSums = &sums.linear[static_cast<std::size_t>(i) * width];
      for (std::size_t j = 0; j < width; ++j) squareSums[j] += square * y[j];
      for (std::size_t j = 0; j < width; ++j) linearSums[j] += level * y[j];
    }
    double* pairSums = sums.pair.data();
    for (int i = 1; i < n; ++i) {
      for (int k = i + 1; k <= n; ++k, pairSums += width) {
        const double product = static_cast<double>(x[i] * x[k]);
        for (std::size_t j = 0; j < width; ++j) pairSums[j] += product * y[j];
      }
    }
  }
  return sums;
}

}  // namespace

TriangularTable<float> fitBoxBehnken(int n, int runCount, int m, const Table<std::int32_t>& planMatrix,
                                     const Table<float>& obsTable) {
  TriangularTable<float> coef =
      allocTriangularTable<float>(static_cast<std::size_t>(m) + 1, static_cast<std::size_t>(n) + 1);
  const int N = runCount;
  if (n <= 2) {
    for (int j = 1; j <= m; ++j) {
      const float* y = obsTable[static_cast<std::size_t>(j)];
      float* const* b = coef[static_cast<std::size_t>(j)];
      b[0][0] = y[N];
      if (n == 1) {
        fitOneVariable(y, b);
      } else {
        fitTwoVariables(y, b);
      }
    }
    return coef;
  }

  const Weights w = weightsFor(n);
  const RunSums sums = sumOverRuns(n, N, m, planMatrix, obsTable);
  const auto width = static_cast<std::size_t>(m);
  std::vector<double> squareSums(static_cast<std::size_t>(n) + 1);  // S_i of one objective
  for (int j = 1; j <= m; ++j) {
    const std::size_t column = static_cast<std::size_t>(j) - 1;
    const float* y = obsTable[static_cast<std::size_t>(j)];
    float* const* b = coef[static_cast<std::size_t>(j)];
    b[0][0] = y[N];

    double total = 0.0;
    for (int i = 1; i <= n; ++i) {
      squareSums[static_cast<std::size_t>(i)] = sums.square[static_cast<std::size_t>(i) * width + column];
      total += squareSums[static_cast<std::size_t>(i)];
    }
    const double common = w.C * total - static_cast<double>(y[N]) / w.D;

    for (int i = 1; i <= n; ++i) {
      const double own = w.Q * squareSums[static_cast<std::size_t>(i)];
      if (!hasPartners(n)) {
        b[i][0] = toSingle(own + common);
        continue;
      }
      double sumE = 0.0;
      for (int p : partnersE(n, i)) sumE += squareSums[static_cast<std::size_t>(p)];
      double partners = w.E * sumE;
      if (n == 10) {
        double sumF = 0.0;
        for (int p : partnersF(n, i)) sumF += squareSums[static_cast<std::size_t>(p)];
        partners = partners + w.F * sumF;
      }
      b[i][0] = toSingle((own + partners) + common);
    }

    std::size_t t = 0;
    for (int i = 1; i < n; ++i) {
      for (int k = i + 1; k <= n; ++k, ++t) {
        const double pairSum = sums.pair[t * width + column];  // S_ik
        b[i][k - i] = toSingle((weightedWithG(n, i, k) ? w.G : w.H) * pairSum);
      }
    }

    for (int i = 1; i <= n; ++i) {
      const double linearSum = sums.linear[static_cast<std::size_t>(i) * width + column];  // L_i
      b[0][i] = toSingle(static_cast<double>(toSingle(linearSum)) * w.A);
    }
  }
  return coef;
}

}  // namespace tavrin
