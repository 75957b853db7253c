// The inner loop of the global stage: a block of kLanes consecutive LPtau
// points mapped onto the region, every slot's model evaluated there, the
// points scored, and the lanes that might enter the kept points picked out
// in a bit mask, so the exact (scalar) ranking only sees those.
//
// The models are evaluated with fused multiply-adds on every instruction
// set (std::fma where the processor has none), so a lane's value depends
// neither on its block nor on the processor. The values only rank the
// sample points; the polish and the predictions evaluate the models anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "optimize/lptau.h"
#include "optimum/packed_models.h"
#include "optimum/problem.h"

namespace tavrin::optimum {

static_assert(kLanes == 64, "a block's lanes fill one 64-bit mask");

// A goal's factor in the key, where it is the clamped ratio itself (every
// exponent 1) or an indicator, so a block computes it lane-parallel.
struct LaneGoal {
  std::size_t slot = 0;
  Goal::Kind kind = Goal::Maximize;
  double low = 0.0;
  double high = 0.0;
  double target = 0.0;
  double inverseSpan = 0.0;      // 1 / (high - low), or 1 / (target - low) for Target
  double inverseSpanHigh = 0.0;  // 1 / (high - target) for Target
  double weight = 0.0;           // WeightedSum
  double cap = 1.0;              // the ratio's ceiling (ratioCap) for Maximize and Minimize
};

struct LaneInterval {
  std::size_t slot = 0;
  double low = 0.0;
  double high = 0.0;
  double inverseScale = 0.0;
};

// What a block reads, prepared once per search from the problem.
struct SampleSetup {
  const Problem* problem = nullptr;
  const PackedModels* models = nullptr;
  std::vector<std::size_t> freeFactors;
  std::vector<double> low;   // per free dimension: the region's lower end
  std::vector<double> span;  // and its width
  std::vector<LaneInterval> intervals;
  std::vector<LaneGoal> goals;
  bool weightedSum = false;
  bool laneKeys = false;  // every goal has a LaneGoal; else keys come from scoreBlock
};

SampleSetup prepareSample(const Problem& problem, const PackedModels& models);

// A thread's scratch for one block. The caller sets `base` (the sequence's
// coordinates of the block's first point, per free dimension) and
// `threshold` (per lane: a point whose rank does not exceed it cannot enter
// the kept points; -inf lets every point through).
struct alignas(64) SampleBlock {
  std::uint32_t base[kLptauDimensions] = {};
  alignas(64) double threshold[kLanes] = {};
  // Out: per lane the key of its SamplePoint (rankKey when admissible,
  // minus the violation otherwise), and bit masks over the first `count`
  // lanes of the admissible points and of those whose rank exceeds their
  // threshold.
  alignas(64) double key[kLanes] = {};
  std::uint64_t admissible = 0;
  std::uint64_t candidates = 0;
  std::vector<LaneColumn> x;       // per factor (fixed factors hold their value)
  std::vector<LaneColumn> values;  // per slot
  alignas(64) double violation[kLanes] = {};
};

void initBlock(const SampleSetup& setup, SampleBlock& block);

// The rank a threshold compares: the key, except that for the weighted sum
// (whose keys have no lower bound) an inadmissible point ranks -inf and
// so only meets thresholds of -inf.
inline double sampleRank(const SampleSetup& setup, bool admissible, double key) noexcept {
  return admissible || !setup.weightedSum ? key : -__builtin_inf();
}

// Maps, evaluates and scores the points first..first+count-1 of a block
// (count <= kLanes; `first` only through `base`), on the instruction set of
// the plan object's active block path (useBlockPath switches both).
void scoreSampleBlock(const SampleSetup& setup, SampleBlock& block, unsigned count);

// The sequence's integer coordinates of point `index` in its first `dims`
// dimensions (dimension d at acc[d], 1-based; the rest 0).
inline void sequenceAt(std::uint32_t index, std::size_t dims, std::uint32_t* acc) {
  for (int d = 0; d <= kLptauDimensions; ++d) acc[d] = 0;
  for (std::uint32_t bits = index; bits != 0; bits &= bits - 1) {
    const int b = __builtin_ctz(bits);
    for (std::size_t d = 1; d <= dims; ++d) acc[d] ^= lptauShifted.entry[d][b];
  }
}

// The lane offsets in the layout the kernels read: per dimension and lane,
// the bits of the double 1 + offset / 2^16, to be XORed with base << 36.
struct alignas(64) LaneBits {
  std::uint64_t dimension[kLptauDimensions][kLanes];
};
const LaneBits& laneBits();

inline constexpr int kMantissaShift = 52 - kLptauBits;

}  // namespace tavrin::optimum
