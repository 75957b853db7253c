#include "model/evaluate_block.h"

#include <atomic>
#include <cstring>

// The vector helpers below are always inlined, so the ABI of passing
// vectors by value, which GCC warns about, never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tavrin {
namespace {

// W lanes in one vector register.
template <int W>
struct VectorOf;
template <>
struct VectorOf<2> {
  using type = double __attribute__((vector_size(sizeof(double) * 2), may_alias));
};
template <>
struct VectorOf<4> {
  using type = double __attribute__((vector_size(sizeof(double) * 4), may_alias));
};
template <>
struct VectorOf<8> {
  using type = double __attribute__((vector_size(sizeof(double) * 8), may_alias));
};
template <int W>
using Lanes = typename VectorOf<W>::type;

template <int W>
__attribute__((always_inline)) inline const Lanes<W>& lanesAt(const BlockColumn& column, int first) {
  return *reinterpret_cast<const Lanes<W>*>(column.lane + first);
}

template <int W>
__attribute__((always_inline)) inline Lanes<W>& lanesAt(BlockColumn& column, int first) {
  return *reinterpret_cast<Lanes<W>*>(column.lane + first);
}

// The lanes at `first`, read once into a register: the compiler would
// otherwise fold the load into each product that uses the value, two loads
// where one does (loads into vector registers, not the arithmetic, then
// limit the rate). A volatile read cannot be repeated.
template <int W>
__attribute__((always_inline)) inline Lanes<W> loadOnce(const BlockColumn& column, int first) {
  return *reinterpret_cast<const volatile Lanes<W>*>(column.lane + first);
}

// The body shared by every instruction-set variant; each lane performs the
// scalar sequence of transformInverse and evaluateQuadratic. The block is
// taken in chunks of G vectors of W lanes, so every sum runs as G
// independent chains (2G with two rows at a time), enough to keep both
// arithmetic ports busy without reordering any lane's operations. Scalars
// enter the operations directly (scalar op vector), which the compiler turns
// into broadcasts; vectors assembled lane by lane cost more.
template <int W, int G, bool SumInValues>
__attribute__((always_inline)) inline void evaluateLanes(const PreparedModels& models, const BlockColumn* natural,
                                                         BlockColumn* coded, BlockColumn* values) {
  static_assert(kBlockLanes % (W * G) == 0);
  const int n = models.varCount;
  // Codes variable i in the lanes of one chunk. The quotients take the
  // divider long after the other operations; interleaved with the first
  // model they overlap its products and sums.
  auto code = [&](int i, int chunk) __attribute__((always_inline)) {
    const double lo = models.levelLow[i];
    const double hi = models.levelHigh[i];
    const double range = hi - lo;
    for (int g = 0; g < G; ++g) {
      const Lanes<W> point = lanesAt<W>(natural[i], chunk + g * W);
      lanesAt<W>(coded[i], chunk + g * W) = (point + point - hi - lo) / range;
    }
  };
  if (models.objCount == 0) {
    for (int chunk = 0; chunk < kBlockLanes; chunk += W * G) {
      for (int i = n; i >= 1; --i) code(i, chunk);
    }
    return;
  }
  // Model by model, and within a model chunk by chunk: the coefficients of
  // one model and the coded block stay in the first-level cache, which the
  // coefficients of all models together would nearly fill.
  const BlockColumn* x = coded;
  const double* model = models.coefficients.data();
  for (int j = 1; j <= models.objCount; ++j, model += models.coefficientsPerModel) {
    for (int chunk = 0; chunk < kBlockLanes; chunk += W * G) {
      if (j == 1 && n >= 1) code(n, chunk);
      // The coefficients in the order they are consumed (prepareModels).
      const double* c = model;
      // The sum of the model in progress: in registers, or (SumInValues) in
      // values[j], where it takes only two additions per pair of rows and
      // leaves the registers to hold each coded value for both rows'
      // products (on AVX2, loads rather than arithmetic limit the rate).
      Lanes<W> held[G];
      auto y = [&](int g) __attribute__((always_inline)) -> Lanes<W>& {
        if constexpr (SumInValues) return lanesAt<W>(values[j], chunk + g * W);
        return held[g];
      };
      for (int g = 0; g < G; ++g) {
        const Lanes<W> xn = lanesAt<W>(x[n], chunk + g * W);
        y(g) = c[0] + (c[1] + c[2] * xn) * xn;
      }
      c += 3;
      // With an odd count of rows below n, row n - 1 (one product in its
      // sum) goes alone, so that every longer row has a partner.
      int i = n - 1;
      if (i % 2 == 1) {
        if (j == 1) code(i, chunk);
        for (int g = 0; g < G; ++g) {
          const Lanes<W> xn = lanesAt<W>(x[n], chunk + g * W);
          const Lanes<W> xi = lanesAt<W>(x[i], chunk + g * W);
          const Lanes<W> s = 0.0 + c[0] * xn;
          y(g) = y(g) + ((c[1] * xi + c[2]) + s) * xi;
        }
        c += 3;
        --i;
      }
      // Rows i and i - 1 side by side: their sums take x[n..i+1] in the
      // same order, so each coded value loaded serves both, and one loop
      // carries twice the independent chains. Row i still enters y first.
      for (; i >= 2; i -= 2) {
        if (j == 1) code(i, chunk), code(i - 1, chunk);
        Lanes<W> s[G], t[G];
        for (int g = 0; g < G; ++g) {
          const Lanes<W> xk = lanesAt<W>(x[n], chunk + g * W);
          s[g] = 0.0 + c[0] * xk;
          t[g] = 0.0 + c[1] * xk;
        }
        c += 2;
        for (const BlockColumn* xk = x + n - 1; xk != x + i; --xk, c += 2) {
          for (int g = 0; g < G; ++g) {
            const Lanes<W> v = loadOnce<W>(*xk, chunk + g * W);
            s[g] = s[g] + c[0] * v;
            t[g] = t[g] + c[1] * v;
          }
        }
        for (int g = 0; g < G; ++g) {
          const Lanes<W> xi = lanesAt<W>(x[i], chunk + g * W);
          const Lanes<W> xh = lanesAt<W>(x[i - 1], chunk + g * W);
          t[g] = t[g] + c[0] * xi;
          const Lanes<W> sum = y(g) + ((c[1] * xi + c[2]) + s[g]) * xi;
          y(g) = sum + ((c[3] * xh + c[4]) + t[g]) * xh;
        }
        c += 5;
      }
      if constexpr (!SumInValues) {
        for (int g = 0; g < G; ++g) lanesAt<W>(values[j], chunk + g * W) = held[g];
      }
    }
  }
}

// Two-lane vectors: SSE2 on any x86-64, the native unit or scalar code
// elsewhere.
void evaluateBaseline(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded,
                      BlockColumn* values) {
  evaluateLanes<2, 4, false>(models, natural, coded, values);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void evaluateAvx2(const PreparedModels& models, const BlockColumn* natural,
                                                  BlockColumn* coded, BlockColumn* values) {
  evaluateLanes<4, 4, true>(models, natural, coded, values);
}

// Twice the lanes per instruction at the same instruction rate.
__attribute__((target("avx512f"))) void evaluateAvx512(const PreparedModels& models, const BlockColumn* natural,
                                                       BlockColumn* coded, BlockColumn* values) {
  evaluateLanes<8, 8, false>(models, natural, coded, values);
}
#endif

bool offered(BlockPath path) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (path == BlockPath::Avx512) return __builtin_cpu_supports("avx512f") != 0;
  if (path == BlockPath::Avx2) return __builtin_cpu_supports("avx2") != 0;
#endif
  return path == BlockPath::Baseline;
}

// The widest path the processor offers.
BlockPath widestPath() {
  for (BlockPath path : {BlockPath::Avx512, BlockPath::Avx2}) {
    if (offered(path)) return path;
  }
  return BlockPath::Baseline;
}

std::atomic<BlockPath> chosenPath{widestPath()};

// Appends the coefficients of one model in the order evaluateLanes consumes
// them: the terms of x[n]; row n - 1 alone when the rows below n are odd in
// number (its factor of x[n], its square and linear term); then per pair of
// rows i, i - 1 down to rows 2 and 1 the factors of x[k], k = n..i+1, of row
// i and row i - 1 side by side, row i - 1's factor of x[i], and each row's
// square and linear term.
void appendModel(float* const* b, int n, std::vector<double>& out) {
  out.push_back(b[0][0]);
  out.push_back(b[0][n]);
  out.push_back(b[n][0]);
  int i = n - 1;
  if (i % 2 == 1) {
    out.push_back(b[i][1]);
    out.push_back(b[i][0]);
    out.push_back(b[0][i]);
    --i;
  }
  for (; i >= 2; i -= 2) {
    for (int k = n; k >= i + 1; --k) {
      out.push_back(b[i][k - i]);
      out.push_back(b[i - 1][k - i + 1]);
    }
    out.push_back(b[i - 1][1]);
    out.push_back(b[i][0]);
    out.push_back(b[0][i]);
    out.push_back(b[i - 1][0]);
    out.push_back(b[0][i - 1]);
  }
}

}  // namespace

bool useBlockPath(BlockPath path) {
  if (path == BlockPath::Best) path = widestPath();
  if (!offered(path)) return false;
  chosenPath.store(path, std::memory_order_relaxed);
  return true;
}

BlockPath activeBlockPath() { return chosenPath.load(std::memory_order_relaxed); }

bool prepareModels(const NumericWorkspace& ws, PreparedModels& models) {
  const int n = ws.varCount;
  const int m = ws.objCount;
  for (int j = 2; j <= m; ++j) {
    if (std::memcmp(&ws.levelLow[j][1], &ws.levelLow[1][1], sizeof(double) * static_cast<std::size_t>(n)) != 0 ||
        std::memcmp(&ws.levelHigh[j][1], &ws.levelHigh[1][1], sizeof(double) * static_cast<std::size_t>(n)) != 0) {
      return false;
    }
  }
  models.varCount = n;
  models.objCount = m;
  models.coefficientsPerModel = static_cast<std::size_t>(n + 1) * static_cast<std::size_t>(n + 2) / 2;
  models.coefficients.clear();
  models.coefficients.reserve(models.coefficientsPerModel * static_cast<std::size_t>(m));
  for (int i = 1; i <= n; ++i) {
    models.levelLow[i] = ws.levelLow[1][i];
    models.levelHigh[i] = ws.levelHigh[1][i];
  }
  for (int j = 1; j <= m; ++j) appendModel(ws.coefTable[static_cast<std::size_t>(j)], n, models.coefficients);
  return true;
}

void evaluateBlock(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded, BlockColumn* values) {
#if defined(__x86_64__)
  switch (activeBlockPath()) {
    case BlockPath::Avx512:
      return evaluateAvx512(models, natural, coded, values);
    case BlockPath::Avx2:
      return evaluateAvx2(models, natural, coded, values);
    default:
      break;
  }
#endif
  evaluateBaseline(models, natural, coded, values);
}

}  // namespace tavrin
