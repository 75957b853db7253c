#include "optimum/global_search.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>

#include "optimize/lptau.h"
#include "optimum/parallel.h"
#include "optimum/sample_kernel.h"

namespace tavrin::optimum {
namespace {

static_assert(kSequencePoints == 1u << kLptauBits, "the sequence repeats after 2^bits points");

// As the kernels map it: one rounding, and the region's lower end exactly.
double coordinate(const Problem& p, std::size_t factor, std::uint32_t value) {
  return std::fma(value / double(kSequencePoints), p.upper[factor] - p.lower[factor], p.lower[factor]);
}

// Keeps the `keep` best points seen. Points that beat the worst kept so far
// collect in a buffer, pruned to the best `keep` whenever it doubles, so
// each offer costs a comparison and, amortised, a constant.
class BestPoints {
 public:
  explicit BestPoints(std::size_t keep) : keep_(keep) { buffer_.reserve(2 * keep); }

  void offer(const SamplePoint& s) {
    if (pruned_ && !better(s, worstKept_)) return;
    buffer_.push_back(s);
    if (buffer_.size() == 2 * keep_) prune();
  }

  // The worst point kept once the buffer has been pruned; until then
  // every point is taken.
  bool pruned() const noexcept { return pruned_; }
  const SamplePoint& worstKept() const noexcept { return worstKept_; }

  std::vector<SamplePoint>& points() {
    if (buffer_.size() > keep_) prune();
    return buffer_;
  }

 private:
  void prune() {
    const auto order = [](const SamplePoint& a, const SamplePoint& b) { return better(a, b); };
    std::nth_element(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(keep_ - 1), buffer_.end(), order);
    buffer_.resize(keep_);
    worstKept_ = buffer_.back();
    pruned_ = true;
  }

  std::size_t keep_;
  std::vector<SamplePoint> buffer_;
  SamplePoint worstKept_;
  bool pruned_ = false;
};

// The region splits into 2^k cells by the halves of its first k free
// dimensions; the best point of each cell keeps every part of the region
// represented among the starts, so a lower peak far from the best one is
// still polished.
constexpr std::size_t kCellDimensions = 8;

std::size_t cellDimensions(const Problem& p) { return std::min(kCellDimensions, p.freeFactors.size()); }

struct RangeResult {
  std::vector<SamplePoint> best;
  std::vector<SamplePoint> cellBest;
  std::vector<bool> cellSeen;
  unsigned admissible = 0;
};

// Points are handed out in chunks of whole blocks to whichever thread is
// free, so a thread that finds no free core holds up only the chunk it has.
constexpr std::uint32_t kChunkPoints = 16 * kLanes;
static_assert(kChunkPoints % kLanes == 0 && kSequencePoints % kChunkPoints == 0, "chunks are whole blocks");

// A thread's ranking of the points it evaluates. Within a thread points come
// in increasing index, so a point that only ties the worst kept (or its
// cell's best) ranks below it: a lane whose rank does not exceed its
// threshold cannot change anything, and only the others are ranked exactly.
class ThreadRanking {
 public:
  ThreadRanking(const SampleSetup& setup, std::size_t keep, std::size_t cellDims)
      : setup_(setup), best_(keep), cellDims_(cellDims) {
    result_.cellBest.resize(std::size_t{1} << cellDims);
    result_.cellSeen.assign(result_.cellBest.size(), false);
    cellRank_.assign(result_.cellBest.size(), -__builtin_inf());
    const LaneBits& bits = laneBits();
    for (std::size_t l = 0; l < kLanes; ++l) laneCell_[l] = cellOf(bits, l);
  }

  // Sets each lane's threshold for a block whose first point has the
  // sequence coordinates `base`.
  void thresholds(SampleBlock& block) {
    const double keep = best_.pruned() ? rank(best_.worstKept()) : -__builtin_inf();
    blockCell_ = 0;
    for (std::size_t d = 0; d < cellDims_; ++d) blockCell_ |= ((block.base[d] >> (kLptauBits - 1)) & 1u) << d;
    for (std::size_t l = 0; l < kLanes; ++l) block.threshold[l] = std::min(keep, cellRank_[blockCell_ ^ laneCell_[l]]);
  }

  void take(const SampleBlock& block, std::uint32_t first) {
    result_.admissible += static_cast<unsigned>(std::popcount(block.admissible));
    for (std::uint64_t lanes = block.candidates; lanes != 0; lanes &= lanes - 1) {
      const int l = std::countr_zero(lanes);
      const bool admissible = ((block.admissible >> l) & 1u) != 0;
      const SamplePoint sample{first + static_cast<std::uint32_t>(l), admissible, block.key[l]};
      best_.offer(sample);
      const std::uint32_t cell = blockCell_ ^ laneCell_[l];
      if (!result_.cellSeen[cell] || better(sample, result_.cellBest[cell])) {
        result_.cellBest[cell] = sample;
        result_.cellSeen[cell] = true;
        cellRank_[cell] = rank(sample);
      }
    }
  }

  RangeResult finish() {
    result_.best = std::move(best_.points());
    return std::move(result_);
  }

 private:
  double rank(const SamplePoint& s) const noexcept { return sampleRank(setup_, s.admissible, s.key); }

  // The cell of a lane's offset: the cell of point first + l is the first
  // point's XOR it, as the top bits of the coordinates are.
  std::uint32_t cellOf(const LaneBits& bits, std::size_t lane) const {
    std::uint32_t cell = 0;
    for (std::size_t d = 0; d < cellDims_; ++d)
      cell |= static_cast<std::uint32_t>((bits.dimension[d][lane] >> (kMantissaShift + kLptauBits - 1)) & 1u) << d;
    return cell;
  }

  const SampleSetup& setup_;
  BestPoints best_;
  std::size_t cellDims_;
  RangeResult result_;
  std::vector<double> cellRank_;  // rank of each cell's best, -inf while unseen
  std::uint32_t laneCell_[kLanes] = {};
  std::uint32_t blockCell_ = 0;
};

// The coordinates of the next block's first point from those of `first`:
// adding kLanes flips the bits of `first ^ (first + kLanes)`.
void advanceBase(std::uint32_t first, std::size_t dims, std::uint32_t* base) {
  for (std::uint32_t bits = first ^ (first + kLanes); bits != 0; bits &= bits - 1) {
    const int b = __builtin_ctz(bits);
    if (b >= kLptauBits) break;
    for (std::size_t d = 0; d < dims; ++d) base[d] ^= lptauShifted.entry[d + 1][b];
  }
}

// Evaluates the chunks it takes from `next` until the points run out.
RangeResult sampleChunks(const SampleSetup& setup, std::uint32_t points, std::size_t keep,
                         std::atomic<std::uint32_t>& next) {
  const Problem& p = *setup.problem;
  const std::size_t dims = p.freeFactors.size();
  SampleBlock block;
  initBlock(setup, block);
  ThreadRanking ranking(setup, keep, cellDimensions(p));
  std::uint32_t acc[kLptauDimensions + 1];
  for (std::uint32_t begin = next.fetch_add(kChunkPoints); begin < points; begin = next.fetch_add(kChunkPoints)) {
    const std::uint32_t end = std::min(points, begin + kChunkPoints);
    sequenceAt(begin, dims, acc);
    std::copy(acc + 1, acc + 1 + dims, block.base);
    for (std::uint32_t first = begin; first < end; first += kLanes) {
      if (first != begin) advanceBase(first - kLanes, dims, block.base);
      ranking.thresholds(block);
      scoreSampleBlock(setup, block, std::min<std::uint32_t>(kLanes, end - first));
      ranking.take(block, first);
    }
  }
  return ranking.finish();
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
  std::atomic<std::uint32_t> next{0};
  const SampleSetup setup = prepareSample(problem, models);
  runThreads(threads, [&](unsigned t) { parts[t] = sampleChunks(setup, points, keep, next); });
  SampleResult result;
  std::vector<SamplePoint> cells(parts.front().cellBest.size());
  std::vector<bool> seen(cells.size(), false);
  for (RangeResult& part : parts) {
    result.admissible += part.admissible;
    result.best.insert(result.best.end(), part.best.begin(), part.best.end());
    for (std::size_t c = 0; c < cells.size(); ++c)
      if (part.cellSeen[c] && (!seen[c] || better(part.cellBest[c], cells[c]))) {
        cells[c] = part.cellBest[c];
        seen[c] = true;
      }
  }
  const auto order = [](const SamplePoint& a, const SamplePoint& b) { return better(a, b); };
  std::sort(result.best.begin(), result.best.end(), order);
  if (result.best.size() > keep) result.best.resize(keep);
  // A cell's best joins unless it is kept already: marked by index rather
  // than compared with each kept point.
  std::vector<bool> kept(points, false);
  for (const SamplePoint& s : result.best) kept[s.index] = true;
  for (std::size_t c = 0; c < cells.size(); ++c)
    if (seen[c] && !kept[cells[c].index]) result.best.push_back(cells[c]);
  std::sort(result.best.begin(), result.best.end(), order);
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
