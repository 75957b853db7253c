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

// The body shared by every instruction-set variant; each lane performs the
// scalar sequence of transformInverse and evaluateQuadratic. The block is
// taken in chunks of G vectors of W lanes: G independent chains per sum,
// and the chains of successive i are independent as well, which keeps both
// arithmetic ports busy without reordering any lane's operations.
// Scalars enter every operation directly (scalar op vector), which the
// compiler turns into broadcasts; lanes assembled one by one cost more.
template <int W, int G>
__attribute__((always_inline)) inline void evaluateLanes(const PreparedModels& models, const BlockColumn* natural,
                                                         BlockColumn* coded, BlockColumn* values) {
  static_assert(kBlockLanes % (W * G) == 0);
  const int n = models.varCount;
  // Highest variable first: the first model needs x[n] before the others.
  for (int i = n; i >= 1; --i) {
    const double lo = models.levelLow[i];
    const double hi = models.levelHigh[i];
    const double range = hi - lo;
    for (int l = 0; l < kBlockLanes; l += W) {
      const Lanes<W> point = lanesAt<W>(natural[i], l);
      lanesAt<W>(coded[i], l) = (point + point - hi - lo) / range;
    }
  }
  const BlockColumn* x = coded;
  for (int chunk = 0; chunk < kBlockLanes; chunk += W * G) {
    const double* c = models.coefficients.data();
    for (int j = 1; j <= models.objCount; ++j) {
      Lanes<W> y[G];
      for (int g = 0; g < G; ++g) {
        const Lanes<W> xn = lanesAt<W>(x[n], chunk + g * W);
        y[g] = c[0] + (c[1] + c[2] * xn) * xn;
      }
      c += 3;
      for (int i = n - 1; i >= 1; --i) {
        Lanes<W> s[G];
        for (int g = 0; g < G; ++g) s[g] = 0.0 + c[0] * lanesAt<W>(x[n], chunk + g * W);
        ++c;
        for (int k = n - 1; k >= i + 1; --k, ++c) {
          for (int g = 0; g < G; ++g) s[g] = s[g] + c[0] * lanesAt<W>(x[k], chunk + g * W);
        }
        for (int g = 0; g < G; ++g) {
          const Lanes<W> xi = lanesAt<W>(x[i], chunk + g * W);
          y[g] = y[g] + ((c[0] * xi + c[1]) + s[g]) * xi;
        }
        c += 2;
      }
      for (int g = 0; g < G; ++g) lanesAt<W>(values[j], chunk + g * W) = y[g];
    }
  }
}

using BlockEvaluator = void (*)(const PreparedModels&, const BlockColumn*, BlockColumn*, BlockColumn*);

// Two-lane vectors: SSE2 on any x86-64, the native unit or scalar code
// elsewhere.
void evaluateBaseline(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded,
                      BlockColumn* values) {
  evaluateLanes<2, 4>(models, natural, coded, values);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void evaluateAvx2(const PreparedModels& models, const BlockColumn* natural,
                                                  BlockColumn* coded, BlockColumn* values) {
  evaluateLanes<4, 4>(models, natural, coded, values);
}

// Twice the lanes per instruction at the same instruction rate.
__attribute__((target("avx512f"))) void evaluateAvx512(const PreparedModels& models, const BlockColumn* natural,
                                                       BlockColumn* coded, BlockColumn* values) {
  evaluateLanes<8, 4>(models, natural, coded, values);
}
#endif

BlockEvaluator evaluatorFor(BlockPath path) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (path == BlockPath::Avx512 && __builtin_cpu_supports("avx512f")) return evaluateAvx512;
  if (path == BlockPath::Avx2 && __builtin_cpu_supports("avx2")) return evaluateAvx2;
#endif
  return path == BlockPath::Baseline ? evaluateBaseline : nullptr;
}

// The widest path the processor offers.
BlockEvaluator bestEvaluator() {
  for (BlockPath path : {BlockPath::Avx512, BlockPath::Avx2}) {
    if (BlockEvaluator e = evaluatorFor(path)) return e;
  }
  return evaluateBaseline;
}

std::atomic<BlockEvaluator> chosenEvaluator{bestEvaluator()};

}  // namespace

bool useBlockPath(BlockPath path) {
  const BlockEvaluator e = path == BlockPath::Best ? bestEvaluator() : evaluatorFor(path);
  if (e == nullptr) return false;
  chosenEvaluator.store(e, std::memory_order_relaxed);
  return true;
}

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
  for (int j = 1; j <= m; ++j) {
    float* const* b = ws.coefTable[static_cast<std::size_t>(j)];
    std::vector<double>& out = models.coefficients;
    out.push_back(b[0][0]);
    out.push_back(b[0][n]);
    out.push_back(b[n][0]);
    for (int i = n - 1; i >= 1; --i) {
      for (int k = n; k >= i + 1; --k) out.push_back(b[i][k - i]);
      out.push_back(b[i][0]);
      out.push_back(b[0][i]);
    }
  }
  return true;
}

void evaluateBlock(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded, BlockColumn* values) {
  chosenEvaluator.load(std::memory_order_relaxed)(models, natural, coded, values);
}

}  // namespace tavrin
