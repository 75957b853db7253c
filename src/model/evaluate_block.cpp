#include "model/evaluate_block.h"

#include <atomic>
#include <cstring>

// The vector helpers below are always inlined, so the ABI of passing
// vectors by value, which GCC warns about, never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tavrin {
namespace {

// Four lanes in one vector register; a block is kGroups such vectors,
// independent chains of operations the processor can overlap.
constexpr int kVectorLanes = 4;
constexpr int kGroups = kBlockLanes / kVectorLanes;
static_assert(kBlockLanes % kVectorLanes == 0, "a block is a whole number of vectors");
static_assert(alignof(BlockColumn) >= sizeof(double) * kVectorLanes, "a group of lanes is one aligned vector");
using Lanes = double __attribute__((vector_size(sizeof(double) * kVectorLanes), may_alias));

__attribute__((always_inline)) inline const Lanes& group(const BlockColumn& column, int g) {
  return *reinterpret_cast<const Lanes*>(column.lane + g * kVectorLanes);
}

__attribute__((always_inline)) inline Lanes& group(BlockColumn& column, int g) {
  return *reinterpret_cast<Lanes*>(column.lane + g * kVectorLanes);
}

// Every lane equal to `value`, sign of zero included.
__attribute__((always_inline)) inline Lanes splat(double value) { return Lanes{value, value, value, value}; }

// The body shared by every instruction-set variant; each lane performs the
// scalar sequence of transformInverse and evaluateQuadratic.
__attribute__((always_inline)) inline void evaluateLanes(const PreparedModels& models, const BlockColumn* natural,
                                                         BlockColumn* coded, BlockColumn* values) {
  const int n = models.varCount;
  for (int i = 1; i <= n; ++i) {
    const double lo = models.levelLow[i];
    const double hi = models.levelHigh[i];
    for (int g = 0; g < kGroups; ++g) {
      const Lanes point = group(natural[i], g);
      group(coded[i], g) = (point + point - hi - lo) / (hi - lo);
    }
  }
  const BlockColumn* x = coded;
  const double* c = models.coefficients.data();
  for (int j = 1; j <= models.objCount; ++j) {
    Lanes y[kGroups];
    for (int g = 0; g < kGroups; ++g) {
      const Lanes xn = group(x[n], g);
      y[g] = splat(c[0]);
      y[g] = y[g] + (c[1] + c[2] * xn) * xn;
    }
    c += 3;
    for (int i = n - 1; i >= 1; --i) {
      Lanes s[kGroups];
      for (int g = 0; g < kGroups; ++g) s[g] = splat(0.0);
      for (int k = n; k >= i + 1; --k, ++c) {
        for (int g = 0; g < kGroups; ++g) s[g] = s[g] + *c * group(x[k], g);
      }
      for (int g = 0; g < kGroups; ++g) {
        const Lanes xi = group(x[i], g);
        y[g] = y[g] + ((c[0] * xi + c[1]) + s[g]) * xi;
      }
      c += 2;
    }
    for (int g = 0; g < kGroups; ++g) group(values[j], g) = y[g];
  }
}

void evaluateBaseline(const PreparedModels& models, const BlockColumn* natural, BlockColumn* coded,
                      BlockColumn* values) {
  evaluateLanes(models, natural, coded, values);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void evaluateAvx2(const PreparedModels& models, const BlockColumn* natural,
                                                  BlockColumn* coded, BlockColumn* values) {
  evaluateLanes(models, natural, coded, values);
}
#endif

using BlockEvaluator = void (*)(const PreparedModels&, const BlockColumn*, BlockColumn*, BlockColumn*);

// The best variant the processor offers.
BlockEvaluator chooseEvaluator() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return evaluateAvx2;
#endif
  return evaluateBaseline;
}

std::atomic<BlockEvaluator>& evaluatorInUse() {
  static std::atomic<BlockEvaluator> evaluator{chooseEvaluator()};
  return evaluator;
}

}  // namespace

void setBlockVariant(BlockVariant variant) {
  evaluatorInUse().store(variant == BlockVariant::Baseline ? evaluateBaseline : chooseEvaluator(),
                         std::memory_order_relaxed);
}

bool blockUsesBaseline() { return evaluatorInUse().load(std::memory_order_relaxed) == evaluateBaseline; }

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
  evaluatorInUse().load(std::memory_order_relaxed)(models, natural, coded, values);
}

}  // namespace tavrin
