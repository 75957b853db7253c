#include <vector>

#include "design/tables.h"
#include "model/estimators.h"

namespace tavrin {
namespace {

// Twelve weights per design-variable count, n = 4 (first row) to 20. These
// stored decimals are the weights used, not the fractions they approximate.
constexpr double kWeights[17][12] = {
    {0.055555555556, 0.08333333333, 0.027777777778, 0.1388888889, -0.083333333333, 0.1666666667, 0.027777777778,
     0.05555555555, -0.11111111111, 0.05555555555, 0.33333333333, 0.6666666667},
    {0.0625, 0.0625, 0, 0.0625, 0.0625, 0.0625, 0, 0, -0.0625, 0.125, 0.25, 0.75},
    {0.07, 0.05, -0.02, 0.03666666666, 0.11666666666, 0.03333333333, -0.0033333333333, -0.01333333333,
     -0.046666666666, 0.1533333333, 0.2, 0.8},
    {0.076388888888, 0.04166666666, -0.034722222222, 0.02430555555, 0.14583333333, 0.02083333333,
     -0.0034722222222, -0.01736111111, -0.038194444444, 0.1701388888, 0.16666666666, 0.8333333333},
    {0.081632653061, 0.03571428571, -0.045918367347, 0.01734693877, 0.16428571429, 0.01428571428,
     -0.0030612244898, -0.01836734693, -0.032653061224, 0.1816326531, 0.14285714286, 0.8571428571},
    {0.085937499999, 0.03125, -0.0546875, 0.01302083333, 0.17708333333, 0.01041666667, -0.0026041666666,
     -0.01822916666, -0.028645833333, 0.1901041666, 0.125, 0.875},
    {0.089506172839, 0.02777777777, -0.061728395062, 0.01014109347, 0.1865079365, 0.007936507936,
     -0.0022045855379, -0.0176366843, -0.025573192239, 0.1966490299, 0.11111111111, 0.8888888888},
    {0.092499999999, 0.025, -0.067499999999, 0.008124999999, 0.19374999999, 0.00625, -0.001875, -0.016875,
     -0.023125, 0.201875, 0.1, 0.9},
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
    {0.103515625, 0.015625, -0.087890625, 0.003069196429, 0.21651785714, 0.002232142857, -0.00083705357142,
     -0.01255580357, -0.014787946428, 0.2195870535, 0.0625, 0.9375},
    {0.10467128028, 0.01470588235, -0.089965397924, 0.002710495963, 0.21862745098, 0.001960784313,
     -0.00074971164936, -0.01199538639, -0.013956170703, 0.2213379469, 0.058823529412, 0.9411764706},
    {0.10570987654, 0.01388888888, -0.091820987654, 0.002411265432, 0.22048611111, 0.001736111111,
     -0.00067515432101, -0.01147762346, -0.013213734568, 0.2228973765, 0.055555555555, 0.9444444444},
    {0.10664819944, 0.01315789473, -0.093490304709, 0.002159035359, 0.22213622291, 0.001547987616,
     -0.00061104774319, -0.01099885938, -0.012546846993, 0.2242952583, 0.052631578947, 0.947368421},
};

// Every coefficient is a single-precision accumulator. The fit keeps one
// row of accumulators per coefficient, one per objective, and feeds them
// run by run in plan order, so each accumulator takes in its runs in the
// order the estimator defines while a weight serves all objectives at once.
using Row = float*;

// acc[j] = K * y[j]: the product, rounded to single precision.
void assignRow(Row acc, float k, const float* y, int m) {
  for (int j = 0; j < m; ++j) acc[j] = toSingle(static_cast<double>(k) * static_cast<double>(y[j]));
}

// acc[j] += K * y[j], with K already negated for a subtraction (c - K*y
// equals c + (-K)*y exactly): formed in double, stored in single precision.
void accumulateRow(Row acc, float k, const float* y, int m) {
  for (int j = 0; j < m; ++j) {
    acc[j] = toSingle(static_cast<double>(acc[j]) + static_cast<double>(k) * static_cast<double>(y[j]));
  }
}

struct Pair {
  int p;
  int q;
};

// How a pair run enters the interaction term of a pair.
float interactionWeight(Pair term, Pair run, float k2, float k5, float k6) {
  if (term.p == run.p && term.q == run.q) return k5;
  const bool shareP = term.p == run.p || term.p == run.q;
  const bool shareQ = term.q == run.p || term.q == run.q;
  return shareP || shareQ ? -k2 : k6;
}

}  // namespace

TriangularTable<float> fitRechtschaffner(int n, int /*runCount*/, int m, const Table<std::int32_t>& /*planMatrix*/,
                                         const Table<float>& obsTable) {
  TriangularTable<float> coef =
      allocTriangularTable<float>(static_cast<std::size_t>(m) + 1, static_cast<std::size_t>(n) + 1);

  float w[12];  // K1..K12 as w[0]..w[11], each rounded to single precision
  for (int k = 0; k < 12; ++k) w[k] = toSingle(kWeights[n - 4][k]);
  const float K1 = w[0], K2 = w[1], K3 = w[2], K4 = w[3], K5 = w[4], K6 = w[5];
  const float K7 = w[6], K8 = w[7], K9 = w[8], K10 = w[9], K11 = w[10], K12 = w[11];

  std::vector<Pair> pairs;  // pair runs and interaction terms share this order
  for (int p = 1; p < n; ++p) {
    for (int q = p + 1; q <= n; ++q) pairs.push_back({p, q});
  }
  const int pairCount = static_cast<int>(pairs.size());
  const int firstPairRun = n + 2;
  const int firstAxialRun = firstPairRun + pairCount;

  // Rows of m accumulators: the constant, then linear i, square i and
  // interaction t at fixed offsets.
  const auto rows = static_cast<std::size_t>(1 + 2 * n + pairCount);
  std::vector<float> accumulators(rows * static_cast<std::size_t>(m));
  auto row = [&](std::size_t r) { return &accumulators[r * static_cast<std::size_t>(m)]; };
  const Row constant = row(0);
  auto linear = [&](int i) { return row(static_cast<std::size_t>(i)); };
  auto square = [&](int i) { return row(static_cast<std::size_t>(n + i)); };
  auto interaction = [&](int t) { return row(static_cast<std::size_t>(1 + 2 * n + t)); };

  // Observations of one run, one per objective.
  std::vector<float> observations(static_cast<std::size_t>(m));
  auto runValues = [&](int r) {
    for (int j = 0; j < m; ++j) observations[static_cast<std::size_t>(j)] = obsTable[static_cast<std::size_t>(j) + 1][r];
    return observations.data();
  };

  // Run 1: every variable at -1.
  const float* y = runValues(1);
  assignRow(constant, K1, y, m);
  for (int i = 1; i <= n; ++i) {
    assignRow(linear(i), -K2, y, m);
    assignRow(square(i), K3, y, m);
  }
  for (int t = 0; t < pairCount; ++t) assignRow(interaction(t), K2, y, m);

  // Runs 1 + b: variable b at -1, the others at +1.
  for (int b = 1; b <= n; ++b) {
    y = runValues(1 + b);
    accumulateRow(constant, -K4, y, m);
    for (int i = 1; i <= n; ++i) {
      accumulateRow(linear(i), i != b ? K2 : -K5, y, m);
      accumulateRow(square(i), i != b ? K8 : K10, y, m);
    }
    for (int t = 0; t < pairCount; ++t) {
      const Pair term = pairs[static_cast<std::size_t>(t)];
      accumulateRow(interaction(t), term.p == b || term.q == b ? -K2 : K6, y, m);
    }
  }

  // Pair runs: variables p and q at +1, the others at -1.
  for (int u = 0; u < pairCount; ++u) {
    const Pair run = pairs[static_cast<std::size_t>(u)];
    y = runValues(firstPairRun + u);
    accumulateRow(constant, K7, y, m);
    for (int i = 1; i <= n; ++i) {
      const bool inRun = i == run.p || i == run.q;
      accumulateRow(linear(i), inRun ? K2 : -K6, y, m);
      accumulateRow(square(i), inRun ? K9 : K4, y, m);
    }
    for (int t = 0; t < pairCount; ++t) {
      accumulateRow(interaction(t), interactionWeight(pairs[static_cast<std::size_t>(t)], run, K2, K5, K6), y, m);
    }
  }

  // Axial runs: variable d at +1, the others at 0; they enter the constant
  // and the square terms only.
  for (int d = 1; d <= n; ++d) {
    y = runValues(firstAxialRun + d - 1);
    accumulateRow(constant, K11, y, m);
    for (int i = 1; i <= n; ++i) accumulateRow(square(i), i != d ? -K11 : K12, y, m);
  }

  for (int j = 1; j <= m; ++j) {
    const auto at = static_cast<std::size_t>(j - 1);
    float* const* layer = coef[static_cast<std::size_t>(j)];
    layer[0][0] = constant[at];
    for (int i = 1; i <= n; ++i) {
      layer[0][i] = linear(i)[at];
      layer[i][0] = square(i)[at];
    }
    for (int t = 0; t < pairCount; ++t) {
      const Pair term = pairs[static_cast<std::size_t>(t)];
      layer[term.p][term.q - term.p] = interaction(t)[at];
    }
  }
  return coef;
}

}  // namespace tavrin
