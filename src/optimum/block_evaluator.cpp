#include "optimum/block_evaluator.h"

#include "tavrin/quadratic.h"

// The vector helpers are always inlined, so the ABI of passing vectors by
// value, which GCC warns about, never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tavrin::optimum {
namespace {

// Eight lanes per vector; a block is kGroups independent vectors, so the
// processor overlaps kGroups chains of additions.
constexpr std::size_t kVectorLanes = 8;
constexpr std::size_t kGroups = kLanes / kVectorLanes;
static_assert(kLanes % kVectorLanes == 0);
using Lanes = double __attribute__((vector_size(sizeof(double) * kVectorLanes), may_alias));

__attribute__((always_inline)) inline const Lanes& group(const LaneColumn& column, std::size_t g) {
  return *reinterpret_cast<const Lanes*>(column.lane + g * kVectorLanes);
}

__attribute__((always_inline)) inline Lanes& group(LaneColumn& column, std::size_t g) {
  return *reinterpret_cast<Lanes*>(column.lane + g * kVectorLanes);
}

__attribute__((always_inline)) inline Lanes splat(double v) { return Lanes{v, v, v, v, v, v, v, v}; }

__attribute__((always_inline)) inline void evaluateLanes(const PackedModels& models, const LaneColumn* x,
                                                         LaneColumn* values) {
  const std::size_t n = models.factors;
  const double* c = models.coefficients.data();
  for (std::size_t m = 0; m < models.models; ++m) {
    Lanes y[kGroups];
    for (std::size_t g = 0; g < kGroups; ++g) y[g] = splat(c[0]);
    ++c;
    for (std::size_t i = 0; i < n; ++i) {
      Lanes s[kGroups];
      for (std::size_t g = 0; g < kGroups; ++g) s[g] = c[0] + c[1] * group(x[i], g);
      c += 2;
      for (std::size_t j = i + 1; j < n; ++j, ++c)
        for (std::size_t g = 0; g < kGroups; ++g) s[g] = s[g] + *c * group(x[j], g);
      for (std::size_t g = 0; g < kGroups; ++g) y[g] = y[g] + s[g] * group(x[i], g);
    }
    for (std::size_t g = 0; g < kGroups; ++g) group(values[m], g) = y[g];
  }
}

void evaluateBaseline(const PackedModels& models, const LaneColumn* x, LaneColumn* values) {
  evaluateLanes(models, x, values);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void evaluateAvx2(const PackedModels& models, const LaneColumn* x,
                                                  LaneColumn* values) {
  evaluateLanes(models, x, values);
}

__attribute__((target("avx512f"))) void evaluateAvx512(const PackedModels& models, const LaneColumn* x,
                                                       LaneColumn* values) {
  evaluateLanes(models, x, values);
}
#endif

using Evaluator = void (*)(const PackedModels&, const LaneColumn*, LaneColumn*);

// Chosen once per process from what the processor offers.
Evaluator chooseEvaluator() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return evaluateAvx512;
  if (__builtin_cpu_supports("avx2")) return evaluateAvx2;
#endif
  return evaluateBaseline;
}

}  // namespace

PackedModels packModels(std::size_t factors, std::size_t models, const double* coef) {
  const std::size_t terms = quadratic::termCount(factors);
  PackedModels packed{factors, models, {}};
  packed.coefficients.reserve(terms * models);
  for (std::size_t m = 0; m < models; ++m, coef += terms) {
    packed.coefficients.push_back(coef[0]);
    for (std::size_t i = 0; i < factors; ++i) {
      packed.coefficients.push_back(coef[quadratic::linearIndex(i)]);
      packed.coefficients.push_back(coef[quadratic::squareIndex(factors, i)]);
      for (std::size_t j = i + 1; j < factors; ++j)
        packed.coefficients.push_back(coef[quadratic::productIndex(factors, i, j)]);
    }
  }
  return packed;
}

void evaluateBlock(const PackedModels& models, const LaneColumn* x, LaneColumn* values) {
  static const Evaluator evaluator = chooseEvaluator();
  evaluator(models, x, values);
}

}  // namespace tavrin::optimum
