// The hardware bound of the block kernels: independent chains held in
// registers, one lane, two, four and eight lanes at a time, of a multiply
// then an add (the plan object's evaluation, no fused multiply-add), of
// additions alone, and of fused multiply-adds (the global stage's
// evaluation). Some processors add and multiply on the same ports (then the
// mixed chains bound the plan object's work), others on separate ones (then
// the additions do). With 16 vector registers, 14 chains and the two
// constants fill them all (a 15th chain would live on the stack and run at
// the speed of its store and reload); with 32 there are 16 chains.
#pragma once

#include <time.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "model/evaluate_block.h"

namespace bench {

inline constexpr double kFactor = 0.999999, kOffset = 1e-7;

template <class T>
__attribute__((always_inline)) inline void keep(T& value) {
  asm volatile("" : "+x"(value));
}

template <class T>
constexpr int chainsFor() {
  return sizeof(T) == 64 ? 16 : 14;
}

// Runs `steps` steps of every chain; each returns its results (products
// and sums).
template <class T>
__attribute__((always_inline)) inline double runChains(long steps) {
  constexpr int kChains = chainsFor<T>();
  T a[kChains];
  for (int l = 0; l < kChains; ++l) a[l] = T{} + (1.0 + l);
  for (long k = 0; k < steps; ++k) {
#pragma GCC unroll 16
    for (int l = 0; l < kChains; ++l) a[l] = a[l] * kFactor + kOffset;
  }
  for (T& value : a) keep(value);
  return 2.0 * kChains * static_cast<double>(steps) * (sizeof(T) / sizeof(double));
}

template <class T>
__attribute__((always_inline)) inline double runSums(long steps) {
  constexpr int kChains = chainsFor<T>();
  T a[kChains];
  for (int l = 0; l < kChains; ++l) a[l] = T{} + (1.0 + l);
  for (long k = 0; k < steps; ++k) {
#pragma GCC unroll 16
    for (int l = 0; l < kChains; ++l) a[l] = a[l] + kOffset;
  }
  for (T& value : a) keep(value);
  return kChains * static_cast<double>(steps) * (sizeof(T) / sizeof(double));
}

using Lanes2 = double __attribute__((vector_size(16)));
using Lanes4 = double __attribute__((vector_size(32)));
using Lanes8 = double __attribute__((vector_size(64)));

__attribute__((noinline, optimize("no-tree-vectorize"))) inline double chainsScalar(long steps) {
  return runChains<double>(steps);
}
__attribute__((noinline, optimize("no-tree-vectorize"))) inline double sumsScalar(long steps) {
  return runSums<double>(steps);
}

// Two lanes: the vector width of the plan object's baseline path (SSE2 on x86-64).
__attribute__((noinline)) inline double chainsTwoLanes(long steps) { return runChains<Lanes2>(steps); }
__attribute__((noinline)) inline double sumsTwoLanes(long steps) { return runSums<Lanes2>(steps); }

#if defined(__x86_64__)
__attribute__((noinline, target("avx2"))) inline double chainsAvx2(long steps) { return runChains<Lanes4>(steps); }
__attribute__((noinline, target("avx2"))) inline double sumsAvx2(long steps) { return runSums<Lanes4>(steps); }
__attribute__((noinline, target("avx512f"))) inline double chainsAvx512(long steps) { return runChains<Lanes8>(steps); }
__attribute__((noinline, target("avx512f"))) inline double sumsAvx512(long steps) { return runSums<Lanes8>(steps); }

// Fused chains, one function per width: the fused multiply-add needs its
// instruction set in the function that runs it.
#define TAVRIN_FUSED_CHAINS(T, kChains, set1, fma)                                     \
  T a[kChains];                                                                        \
  for (int l = 0; l < kChains; ++l) a[l] = set1(1.0 + l);                              \
  const T factor = set1(kFactor), offset = set1(kOffset);                              \
  for (long k = 0; k < steps; ++k) {                                                   \
    _Pragma("GCC unroll 16") for (int l = 0; l < kChains; ++l) a[l] = fma(a[l], factor, offset); \
  }                                                                                    \
  for (T& value : a) keep(value);                                                      \
  return 2.0 * kChains * static_cast<double>(steps) * (sizeof(T) / sizeof(double))

// The scalar chains use the processor's fused instruction, as the portable
// kernel's std::fma does at run time.
__attribute__((noinline, target("fma"), optimize("no-tree-vectorize"))) inline double fusedScalar(long steps) {
  TAVRIN_FUSED_CHAINS(double, 14, double, __builtin_fma);
}
__attribute__((noinline, target("avx2,fma"))) inline double fusedAvx2(long steps) {
  TAVRIN_FUSED_CHAINS(__m256d, 14, _mm256_set1_pd, _mm256_fmadd_pd);
}
__attribute__((noinline, target("avx512f"))) inline double fusedAvx512(long steps) {
  TAVRIN_FUSED_CHAINS(__m512d, 16, _mm512_set1_pd, _mm512_fmadd_pd);
}
#undef TAVRIN_FUSED_CHAINS
#endif

using Chains = double (*)(long);

// CPU time of the calling thread in ns: time taken by other processes on a
// shared machine does not count.
inline double threadNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return 1e9 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec);
}

}  // namespace bench
