// The global stage: every point of the LPtau sequence (up to its 65536
// distinct points) mapped onto the search region, evaluated in blocks on
// all threads, and the best of them kept in a fixed total order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "optimum/packed_models.h"
#include "optimum/problem.h"

namespace tavrin::optimum {

inline constexpr unsigned kSequencePoints = 65536;

struct SamplePoint {
  std::uint32_t index = 0;  // LPtau point number
  bool admissible = false;
  double key = 0.0;  // rankKey when admissible, else minus the violation
};

// Admissible before inadmissible, then the higher key, then the lower
// index: a total order, so the best points do not depend on how the
// sequence was split among threads.
inline bool better(const SamplePoint& a, const SamplePoint& b) noexcept {
  if (a.admissible != b.admissible) return a.admissible;
  if (a.key != b.key) return a.key > b.key;
  return a.index < b.index;
}

struct SampleResult {
  // The best `keep` points and the best point of each cell of the region
  // (see global_search.cpp), best first.
  std::vector<SamplePoint> best;
  unsigned admissible = 0;
};

// The coded point of LPtau number `index` in the region: the free factors
// take the sequence's dimensions in order, fixed factors their value.
void samplePoint(const Problem& problem, std::uint32_t index, double* coded);

// Evaluates points 0..points-1 (points <= 65536) and keeps the best.
SampleResult sampleRegion(const Problem& problem, const PackedModels& models, unsigned points, std::size_t keep,
                          unsigned threads);

// Up to `count` starting points for the polish from `best` (best first),
// spread apart so that they reach into different basins rather than all
// polishing the same peak: a pass over `best` in order takes each point at
// least kStartSeparations[0] (coded, Euclidean) from those taken, further
// passes relax the distance, and the last takes the rest in order.
inline constexpr double kStartSeparations[] = {0.5, 0.2, 0.0};

std::vector<std::vector<double>> spreadStarts(const Problem& problem, const std::vector<SamplePoint>& best,
                                              std::size_t count);

}  // namespace tavrin::optimum
