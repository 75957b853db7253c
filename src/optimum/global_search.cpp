#include "optimum/global_search.h"

#include <algorithm>
#include <atomic>
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

double coordinate(const Problem& p, std::size_t factor, std::uint32_t value) {
  return p.lower[factor] + (p.upper[factor] - p.lower[factor]) * (value / double(kSequencePoints));
}

// The coordinates of point i are the XOR of the direction numbers of i's
// set bits, so within a block of kLanes points starting at a multiple of
// kLanes, lane l's coordinates are the block's first point's XOR those of l.
static_assert((kLanes & (kLanes - 1)) == 0 && kLanes <= kSequencePoints, "blocks align with the sequence's bits");

struct alignas(64) IntegerColumn {
  std::int32_t lane[kLanes];
};

// Per dimension (0-based), the coordinates of points 0..kLanes-1.
struct LaneOffsets {
  IntegerColumn dimension[kLptauDimensions];
};

LaneOffsets laneOffsets() {
  LaneOffsets t{};
  std::uint32_t acc[kLptauDimensions + 1];
  for (std::uint32_t l = 0; l < kLanes; ++l) {
    sequenceAt(l, kLptauDimensions, acc);
    for (int d = 0; d < kLptauDimensions; ++d) t.dimension[d].lane[l] = static_cast<std::int32_t>(acc[d + 1]);
  }
  return t;
}

const LaneOffsets& offsets() {
  static const LaneOffsets table = laneOffsets();
  return table;
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
constexpr std::uint32_t kChunkPoints = 32 * kLanes;
static_assert(kChunkPoints % kLanes == 0, "chunks start at a multiple of kLanes");

// Evaluates the chunks it takes from `next` until the points run out.
RangeResult sampleChunks(const Problem& p, const PackedModels& models, std::uint32_t points, std::size_t keep,
                         std::atomic<std::uint32_t>& next) {
  const std::size_t n = p.factors;
  const std::size_t dims = p.freeFactors.size();
  const std::size_t slots = p.slotCount();
  std::vector<LaneColumn> x(n);
  std::vector<LaneColumn> values(slots);
  for (std::size_t i = 0; i < n; ++i) std::fill(std::begin(x[i].lane), std::end(x[i].lane), p.lower[i]);
  double keys[kLanes];
  double violations[kLanes];
  std::uint32_t base[kLptauDimensions + 1];
  const LaneOffsets& lanes = offsets();
  IntegerColumn columns[kLptauDimensions];
  BestPoints best(keep);
  RangeResult result;
  const std::size_t cellDims = cellDimensions(p);
  result.cellBest.resize(std::size_t{1} << cellDims);
  result.cellSeen.assign(result.cellBest.size(), false);
  std::uint32_t cell[kLanes];
  for (std::uint32_t begin = next.fetch_add(kChunkPoints); begin < points; begin = next.fetch_add(kChunkPoints)) {
    const std::uint32_t end = std::min(points, begin + kChunkPoints);
    for (std::uint32_t first = begin; first < end; first += kLanes) {
      const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(kLanes, end - first));
      sequenceAt(first, dims, base);
      for (std::size_t d = 0; d < dims; ++d) {
        const std::int32_t b = static_cast<std::int32_t>(base[d + 1]);
        for (std::uint32_t l = 0; l < kLanes; ++l) columns[d].lane[l] = b ^ lanes.dimension[d].lane[l];
        // Lanes past the end repeat the last point, so every lane is valid.
        for (std::uint32_t l = count; l < kLanes; ++l) columns[d].lane[l] = columns[d].lane[count - 1];
      }
      for (std::size_t d = 0; d < dims; ++d) {
        const std::size_t f = p.freeFactors[d];
        const double low = p.lower[f];
        const double span = p.upper[f] - p.lower[f];
        for (std::uint32_t l = 0; l < kLanes; ++l)
          x[f].lane[l] = low + span * (columns[d].lane[l] / double(kSequencePoints));
      }
      std::fill(std::begin(cell), std::end(cell), 0u);
      for (std::size_t d = 0; d < cellDims; ++d)
        for (std::uint32_t l = 0; l < kLanes; ++l) cell[l] |= ((columns[d].lane[l] >> (kLptauBits - 1)) & 1u) << d;
      evaluateBlock(models, x.data(), values.data());
      scoreBlock(p, values.data(), count, keys, violations);
      for (std::uint32_t l = 0; l < count; ++l) {
        const bool admissible = violations[l] <= kFeasibilityTolerance;
        result.admissible += admissible ? 1u : 0u;
        const SamplePoint sample{first + l, admissible, admissible ? keys[l] : -violations[l]};
        best.offer(sample);
        if (!result.cellSeen[cell[l]] || better(sample, result.cellBest[cell[l]])) {
          result.cellBest[cell[l]] = sample;
          result.cellSeen[cell[l]] = true;
        }
      }
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
  std::atomic<std::uint32_t> next{0};
  runThreads(threads, [&](unsigned t) { parts[t] = sampleChunks(problem, models, points, keep, next); });
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
  for (std::size_t c = 0; c < cells.size(); ++c) {
    const auto same = [&](const SamplePoint& s) { return s.index == cells[c].index; };
    if (seen[c] && std::none_of(result.best.begin(), result.best.end(), same)) result.best.push_back(cells[c]);
  }
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
