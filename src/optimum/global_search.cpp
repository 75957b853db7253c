#include "optimum/global_search.h"

#include <algorithm>
#include <cmath>

#include "optimize/lptau.h"
#include "optimum/parallel.h"

namespace tavrin::optimum {
namespace {

static_assert(kSequencePoints == 1u << kLptauBits, "the sequence repeats after 2^bits points");

// The sequence's integer coordinates of point `index` (dimension d at acc[d], 1-based).
void sequenceAt(std::uint32_t index, std::size_t dims, std::uint32_t* acc) {
  std::fill(acc, acc + kLptauDimensions + 1, 0u);
  for (std::uint32_t bits = index; bits != 0; bits &= bits - 1) {
    const int b = __builtin_ctz(bits);
    for (std::size_t d = 1; d <= dims; ++d) acc[d] ^= lptauShifted.entry[d][b];
  }
}

// Moves the coordinates of point `index` to those of point index + 1: the
// bits that change between the two numbers toggle their direction numbers.
void sequenceNext(std::uint32_t index, std::size_t dims, std::uint32_t* acc) {
  for (std::uint32_t bits = (index ^ (index + 1)) & (kSequencePoints - 1); bits != 0; bits &= bits - 1) {
    const int b = __builtin_ctz(bits);
    for (std::size_t d = 1; d <= dims; ++d) acc[d] ^= lptauShifted.entry[d][b];
  }
}

double coordinate(const Problem& p, std::size_t factor, std::uint32_t value) {
  return p.lower[factor] + (p.upper[factor] - p.lower[factor]) * (value / double(kSequencePoints));
}

// Keeps the `keep` best points seen, the worst of them at the front.
class BestPoints {
 public:
  explicit BestPoints(std::size_t keep) : keep_(keep) { heap_.reserve(keep); }
  void offer(const SamplePoint& s) {
    if (heap_.size() < keep_) {
      heap_.push_back(s);
      std::push_heap(heap_.begin(), heap_.end(), better);
      return;
    }
    if (!better(s, heap_.front())) return;
    std::pop_heap(heap_.begin(), heap_.end(), better);
    heap_.back() = s;
    std::push_heap(heap_.begin(), heap_.end(), better);
  }
  std::vector<SamplePoint>& points() { return heap_; }

 private:
  std::size_t keep_;
  std::vector<SamplePoint> heap_;
};

struct RangeResult {
  std::vector<SamplePoint> best;
  unsigned admissible = 0;
};

RangeResult sampleRange(const Problem& p, const PackedModels& models, std::uint32_t begin, std::uint32_t end,
                        std::size_t keep) {
  const std::size_t n = p.factors;
  const std::size_t dims = p.freeFactors.size();
  const std::size_t slots = p.slotCount();
  std::vector<LaneColumn> x(n);
  std::vector<LaneColumn> values(slots);
  for (std::size_t i = 0; i < n; ++i) std::fill(std::begin(x[i].lane), std::end(x[i].lane), p.lower[i]);
  std::vector<double> point(slots);
  std::uint32_t acc[kLptauDimensions + 1];
  sequenceAt(begin, dims, acc);
  BestPoints best(keep);
  RangeResult result;
  for (std::uint32_t first = begin; first < end; first += kLanes) {
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(kLanes, end - first));
    // Lanes past the end repeat the last point, so every lane is valid.
    for (std::uint32_t l = 0; l < kLanes; ++l) {
      if (l > 0 && l < count) sequenceNext(first + l - 1, dims, acc);
      for (std::size_t d = 0; d < dims; ++d) {
        const std::size_t f = p.freeFactors[d];
        x[f].lane[l] = coordinate(p, f, acc[d + 1]);
      }
    }
    if (first + count < end) sequenceNext(first + count - 1, dims, acc);
    evaluateBlock(models, x.data(), values.data());
    for (std::uint32_t l = 0; l < count; ++l) {
      for (std::size_t s = 0; s < slots; ++s) point[s] = values[s].lane[l];
      const double v = violation(p, point.data());
      SamplePoint sample{first + l, v <= kFeasibilityTolerance, 0.0};
      sample.key = sample.admissible ? rankKey(p, point.data()) : -v;
      result.admissible += sample.admissible ? 1u : 0u;
      best.offer(sample);
    }
  }
  result.best = std::move(best.points());
  return result;
}

}  // namespace

void samplePoint(const Problem& problem, std::uint32_t index, double* coded) {
  std::uint32_t acc[kLptauDimensions + 1];
  const std::size_t dims = problem.freeFactors.size();
  sequenceAt(index, dims, acc);
  for (std::size_t i = 0; i < problem.factors; ++i) coded[i] = problem.lower[i];
  for (std::size_t d = 0; d < dims; ++d) {
    const std::size_t f = problem.freeFactors[d];
    coded[f] = coordinate(problem, f, acc[d + 1]);
  }
}

SampleResult sampleRegion(const Problem& problem, const PackedModels& models, unsigned points, std::size_t keep,
                          unsigned threads) {
  threads = resolveThreads(threads, points / (4 * kLanes));
  std::vector<RangeResult> parts(threads);
  runThreads(threads, [&](unsigned t) {
    const auto [begin, end] = threadRange(t, threads, points);
    parts[t] = sampleRange(problem, models, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end), keep);
  });
  SampleResult result;
  for (RangeResult& part : parts) {
    result.admissible += part.admissible;
    result.best.insert(result.best.end(), part.best.begin(), part.best.end());
  }
  std::sort(result.best.begin(), result.best.end(), better);
  if (result.best.size() > keep) result.best.resize(keep);
  return result;
}

std::vector<std::vector<double>> spreadStarts(const Problem& problem, const std::vector<SamplePoint>& best,
                                              std::size_t count) {
  std::vector<std::vector<double>> points(best.size(), std::vector<double>(problem.factors));
  for (std::size_t k = 0; k < best.size(); ++k) samplePoint(problem, best[k].index, points[k].data());
  std::vector<bool> taken(best.size(), false);
  std::vector<std::vector<double>> starts;
  const auto farFromStarts = [&](const std::vector<double>& x, double separation) {
    for (const std::vector<double>& s : starts) {
      double d2 = 0.0;
      for (std::size_t i = 0; i < x.size(); ++i) d2 += (x[i] - s[i]) * (x[i] - s[i]);
      if (d2 < separation * separation) return false;
    }
    return true;
  };
  for (const double separation : kStartSeparations) {
    for (std::size_t k = 0; k < best.size() && starts.size() < count; ++k) {
      if (taken[k] || !farFromStarts(points[k], separation)) continue;
      starts.push_back(points[k]);
      taken[k] = true;
    }
  }
  return starts;
}

}  // namespace tavrin::optimum
