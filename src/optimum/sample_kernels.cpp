// The global stage's kernel for each instruction set, and the choice among
// them. Every function of a variant carries its target attribute, so the
// vector code of one never reaches a processor that lacks it.
#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>

#include "model/evaluate_block.h"
#include "optimum/sample_kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The vector helpers are always inlined, so the ABI of passing vectors by
// value, which GCC warns about, never comes into play.
#pragma GCC diagnostic ignored "-Wpsabi"
// GCC 12's AVX-512 min and max pass _mm512_undefined_pd() as the unused
// source of their masked builtins, which it then reports as uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace tavrin::optimum {
namespace {

// One lane per vector; std::fma rounds once, as the fused instructions do.
namespace portable {
#define KERNEL_INLINE __attribute__((always_inline)) inline
#define KERNEL_ENTRY
using V = double;
using Mask = bool;
constexpr std::size_t kWidth = 1;
constexpr std::size_t kGroups = 8;
constexpr std::size_t kRows = 2;
KERNEL_INLINE V load(const double* p) { return *p; }
KERNEL_INLINE V loadShared(const double* p) { return *p; }
KERNEL_INLINE void store(double* p, V v) { *p = v; }
KERNEL_INLINE V splat(double v) { return v; }
KERNEL_INLINE V add(V a, V b) { return a + b; }
KERNEL_INLINE V sub(V a, V b) { return a - b; }
KERNEL_INLINE V mul(V a, V b) { return a * b; }
KERNEL_INLINE V fmadd(V a, V b, V c) { return std::fma(a, b, c); }
KERNEL_INLINE V vmin(V a, V b) { return b < a ? b : a; }
KERNEL_INLINE V vmax(V a, V b) { return b > a ? b : a; }
KERNEL_INLINE Mask greater(V a, V b) { return a > b; }
KERNEL_INLINE Mask greaterEqual(V a, V b) { return a >= b; }
KERNEL_INLINE Mask lessEqual(V a, V b) { return a <= b; }
KERNEL_INLINE Mask equal(V a, V b) { return a == b; }
KERNEL_INLINE Mask either(Mask a, Mask b) { return a || b; }
KERNEL_INLINE Mask both(Mask a, Mask b) { return a && b; }
KERNEL_INLINE V blend(Mask m, V ifTrue, V ifFalse) { return m ? ifTrue : ifFalse; }
KERNEL_INLINE std::uint64_t maskBits(Mask m) { return m ? 1u : 0u; }
KERNEL_INLINE V unitFromBits(const std::uint64_t* bits, std::uint64_t base) {
  return std::bit_cast<double>(*bits ^ base);
}
#include "optimum/sample_kernel.inc"
#undef KERNEL_INLINE
#undef KERNEL_ENTRY
}  // namespace portable

#if defined(__x86_64__)
namespace avx2 {
#define KERNEL_INLINE __attribute__((always_inline, target("avx2,fma"))) inline
#define KERNEL_ENTRY __attribute__((target("avx2,fma")))
using V = __m256d;
using Mask = __m256d;
constexpr std::size_t kWidth = 4;
// 16 registers: three rows of 4 chains, the coordinate and the three
// rows' coefficients; the model's value waits in memory.
constexpr std::size_t kGroups = 4;
constexpr std::size_t kRows = 3;
KERNEL_INLINE V load(const double* p) { return _mm256_load_pd(p); }
// The empty asm keeps the value in a register: folded into each of its
// uses as a memory operand, one load would become one per use.
KERNEL_INLINE V loadShared(const double* p) {
  V v = _mm256_load_pd(p);
  asm("" : "+x"(v));
  return v;
}
KERNEL_INLINE void store(double* p, V v) { _mm256_store_pd(p, v); }
KERNEL_INLINE V splat(double v) { return _mm256_set1_pd(v); }
KERNEL_INLINE V add(V a, V b) { return _mm256_add_pd(a, b); }
KERNEL_INLINE V sub(V a, V b) { return _mm256_sub_pd(a, b); }
KERNEL_INLINE V mul(V a, V b) { return _mm256_mul_pd(a, b); }
KERNEL_INLINE V fmadd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
KERNEL_INLINE V vmin(V a, V b) { return _mm256_min_pd(a, b); }
KERNEL_INLINE V vmax(V a, V b) { return _mm256_max_pd(a, b); }
KERNEL_INLINE Mask greater(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
KERNEL_INLINE Mask greaterEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
KERNEL_INLINE Mask lessEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
KERNEL_INLINE Mask equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
KERNEL_INLINE Mask either(Mask a, Mask b) { return _mm256_or_pd(a, b); }
KERNEL_INLINE Mask both(Mask a, Mask b) { return _mm256_and_pd(a, b); }
KERNEL_INLINE V blend(Mask m, V ifTrue, V ifFalse) { return _mm256_blendv_pd(ifFalse, ifTrue, m); }
KERNEL_INLINE std::uint64_t maskBits(Mask m) { return static_cast<std::uint64_t>(_mm256_movemask_pd(m)); }
KERNEL_INLINE V unitFromBits(const std::uint64_t* bits, std::uint64_t base) {
  const __m256i lanes = _mm256_load_si256(reinterpret_cast<const __m256i*>(bits));
  return _mm256_castsi256_pd(_mm256_xor_si256(lanes, _mm256_set1_epi64x(static_cast<long long>(base))));
}
#include "optimum/sample_kernel.inc"
#undef KERNEL_INLINE
#undef KERNEL_ENTRY
}  // namespace avx2

namespace avx512 {
#define KERNEL_INLINE __attribute__((always_inline, target("avx512f"))) inline
#define KERNEL_ENTRY __attribute__((target("avx512f")))
using V = __m512d;
using Mask = __mmask8;
constexpr std::size_t kWidth = 8;
constexpr std::size_t kGroups = 8;  // 32 registers: two rows of 8 chains, the coordinate and the coefficients
constexpr std::size_t kRows = 2;
KERNEL_INLINE V load(const double* p) { return _mm512_load_pd(p); }
KERNEL_INLINE V loadShared(const double* p) {
  V v = _mm512_load_pd(p);
  asm("" : "+v"(v));
  return v;
}
KERNEL_INLINE void store(double* p, V v) { _mm512_store_pd(p, v); }
KERNEL_INLINE V splat(double v) { return _mm512_set1_pd(v); }
KERNEL_INLINE V add(V a, V b) { return _mm512_add_pd(a, b); }
KERNEL_INLINE V sub(V a, V b) { return _mm512_sub_pd(a, b); }
KERNEL_INLINE V mul(V a, V b) { return _mm512_mul_pd(a, b); }
KERNEL_INLINE V fmadd(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
KERNEL_INLINE V vmin(V a, V b) { return _mm512_min_pd(a, b); }
KERNEL_INLINE V vmax(V a, V b) { return _mm512_max_pd(a, b); }
KERNEL_INLINE Mask greater(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
KERNEL_INLINE Mask greaterEqual(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
KERNEL_INLINE Mask lessEqual(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
KERNEL_INLINE Mask equal(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
KERNEL_INLINE Mask either(Mask a, Mask b) { return static_cast<Mask>(a | b); }
KERNEL_INLINE Mask both(Mask a, Mask b) { return static_cast<Mask>(a & b); }
KERNEL_INLINE V blend(Mask m, V ifTrue, V ifFalse) { return _mm512_mask_blend_pd(m, ifFalse, ifTrue); }
KERNEL_INLINE std::uint64_t maskBits(Mask m) { return m; }
KERNEL_INLINE V unitFromBits(const std::uint64_t* bits, std::uint64_t base) {
  const __m512i lanes = _mm512_load_si512(bits);
  return _mm512_castsi512_pd(_mm512_xor_si512(lanes, _mm512_set1_epi64(static_cast<long long>(base))));
}
#include "optimum/sample_kernel.inc"
#undef KERNEL_INLINE
#undef KERNEL_ENTRY
}  // namespace avx512
#endif

using Kernel = void (*)(const SampleSetup&, SampleBlock&, unsigned);

// The kernel of the plan object's active block path, so that one switch
// (useBlockPath) moves every block kernel of the process. The AVX2 kernel
// needs fused multiply-adds as well, which every AVX2 processor in use has.
Kernel activeKernel() {
#if defined(__x86_64__)
  switch (activeBlockPath()) {
    case BlockPath::Avx512: return avx512::scoreSampleBlockHere;
    case BlockPath::Avx2:
      __builtin_cpu_init();
      if (__builtin_cpu_supports("fma")) return avx2::scoreSampleBlockHere;
      break;
    case BlockPath::Best:
    case BlockPath::Baseline: break;
  }
#endif
  return portable::scoreSampleBlockHere;
}

// The sequence's coordinates of lanes 0..kLanes-1, bits of 1 + v / 2^16.
LaneBits makeLaneBits() {
  LaneBits t{};
  const std::uint64_t one = std::bit_cast<std::uint64_t>(1.0);
  std::uint32_t acc[kLptauDimensions + 1];
  for (std::uint32_t l = 0; l < kLanes; ++l) {
    sequenceAt(l, kLptauDimensions, acc);
    for (int d = 0; d < kLptauDimensions; ++d) t.dimension[d][l] = one | (std::uint64_t{acc[d + 1]} << kMantissaShift);
  }
  return t;
}

}  // namespace

static_assert(kMantissaShift >= 0, "a coordinate's bits fit the mantissa");

const LaneBits& laneBits() {
  static const LaneBits table = makeLaneBits();
  return table;
}

SampleSetup prepareSample(const Problem& problem, const PackedModels& models) {
  SampleSetup s;
  s.problem = &problem;
  s.models = &models;
  s.freeFactors = problem.freeFactors;
  for (const std::size_t f : problem.freeFactors) {
    s.low.push_back(problem.lower[f]);
    s.span.push_back(problem.upper[f] - problem.lower[f]);
  }
  for (const ResponseInterval& c : problem.intervals)
    if (c.hard) s.intervals.push_back({c.slot, c.low, c.high, 1.0 / problem.scale[c.slot]});
  s.weightedSum = problem.weightedSum;
  // The lane keys score the slot values as they are: not those of a
  // transformed response, which are scored back in its units.
  s.laneKeys = !transformedGoals(problem);
  for (const GoalTerm& t : problem.goals) {
    const Goal& g = t.goal;
    LaneGoal lane{t.slot, g.kind, g.low, g.high, g.target, 0.0, 0.0, g.weight};
    switch (g.kind) {
      case Goal::Maximize:
      case Goal::Minimize:
        s.laneKeys = s.laneKeys && g.shape * g.importance == 1.0;
        lane.inverseSpan = 1.0 / (g.high - g.low);
        lane.cap = ratioCap(g);
        break;
      case Goal::Target:
        s.laneKeys = s.laneKeys && g.shape * g.importance == 1.0 && g.shapeHigh * g.importance == 1.0;
        lane.inverseSpan = 1.0 / (g.target - g.low);
        lane.inverseSpanHigh = 1.0 / (g.high - g.target);
        break;
      case Goal::Within:
      case Goal::WeightedSum: break;
    }
    s.goals.push_back(lane);
  }
  return s;
}

void initBlock(const SampleSetup& setup, SampleBlock& block) {
  const Problem& p = *setup.problem;
  block.x.assign(p.factors, LaneColumn{});
  for (std::size_t f = 0; f < p.factors; ++f)
    std::fill(std::begin(block.x[f].lane), std::end(block.x[f].lane), p.lower[f]);
  block.values.assign(p.slotCount(), LaneColumn{});
}

void scoreSampleBlock(const SampleSetup& setup, SampleBlock& block, unsigned count) {
  activeKernel()(setup, block, count);
}

}  // namespace tavrin::optimum
