// The global stage's block kernel against the operations it promises, one
// point at a time: each lane's coordinates are samplePoint's, and each model
// value is c0 + sum_i x_i * ((lin_i + sq_i * x_i) + sum_{j>i} c_ij * x_j)
// with every product and sum one fused multiply-add, in that order. Bit for
// bit on every instruction set, for factor counts that leave every
// remainder of the rows taken side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <vector>

#include "model/evaluate_block.h"
#include "optimum/global_search.h"
#include "optimum/sample_kernel.h"
#include "tavrin/quadratic.h"

namespace tavrin::optimum {
namespace {

// A region of `n` factors with ends not exact in binary; factor 1 is fixed
// when `fixed` (then the sequence's dimensions skip it).
Problem region(std::size_t n, std::size_t models, bool fixed) {
  Problem p;
  p.factors = n;
  for (std::size_t f = 0; f < n; ++f) {
    p.lower.push_back(-0.9 + 0.03 * double(f));
    p.upper.push_back(fixed && f == 1 ? p.lower.back() : 0.7 + 0.01 * double(f));
    if (p.upper[f] > p.lower[f]) p.freeFactors.push_back(f);
  }
  p.lowerNatural = p.lower;
  p.upperNatural = p.upper;
  for (std::size_t m = 0; m < models; ++m) {
    p.responses.push_back(m);
    p.scale.push_back(1.0);
  }
  return p;
}

// Coefficients of `models` models in the layout of quadratic.h, of mixed
// signs and magnitudes, none exact in binary.
std::vector<double> drawnCoefficients(std::size_t n, std::size_t models) {
  const std::size_t terms = quadratic::termCount(n);
  std::vector<double> coef(terms * models);
  for (std::size_t k = 0; k < coef.size(); ++k) coef[k] = std::sin(1.3 * double(k) + 0.1) * (k % 3 == 0 ? 7.1 : 0.37);
  return coef;
}

// The promised value, term by term from the layout of quadratic.h.
double promisedValue(const double* coef, std::size_t n, const std::vector<double>& x) {
  double y = coef[0];
  for (std::size_t i = 0; i < n; ++i) {
    double row = std::fma(coef[quadratic::squareIndex(n, i)], x[i], coef[quadratic::linearIndex(i)]);
    for (std::size_t j = i + 1; j < n; ++j) row = std::fma(coef[quadratic::productIndex(n, i, j)], x[j], row);
    y = std::fma(row, x[i], y);
  }
  return y;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

struct KernelCase {
  std::size_t factors;
  std::size_t models;
  bool fixed;
};

TEST(SampleKernel, EveryLaneIsItsPointEvaluatedInThePromisedOrderOnEveryPath) {
  const KernelCase cases[] = {{1, 1, false}, {2, 2, false}, {3, 1, true},  {4, 3, false}, {5, 2, true},
                              {6, 1, false}, {7, 2, false}, {8, 1, true}, {11, 2, false}, {20, 3, false}};
  // A first point that is not a multiple of the block, and a partial block.
  constexpr std::uint32_t kFirst = 4096 + 3 * kLanes;
  constexpr unsigned kCount = kLanes - 5;
  for (const KernelCase& c : cases) {
    const Problem p = region(c.factors, c.models, c.fixed);
    const std::vector<double> coef = drawnCoefficients(c.factors, c.models);
    const PackedModels packed = packModels(c.factors, c.models, coef.data());
    const SampleSetup setup = prepareSample(p, packed);
    for (const BlockPath path : {BlockPath::Baseline, BlockPath::Avx2, BlockPath::Avx512}) {
      if (!useBlockPath(path)) continue;
      SCOPED_TRACE(::testing::Message() << c.factors << " factors, " << c.models << " models, path " << int(path));
      SampleBlock block;
      initBlock(setup, block);
      std::uint32_t acc[kLptauDimensions + 1];
      sequenceAt(kFirst, p.freeFactors.size(), acc);
      std::copy(acc + 1, acc + 1 + p.freeFactors.size(), block.base);
      std::fill(std::begin(block.threshold), std::end(block.threshold), -INFINITY);
      scoreSampleBlock(setup, block, kCount);
      std::vector<double> x(c.factors);
      for (unsigned l = 0; l < kCount; ++l) {
        samplePoint(p, kFirst + l, x.data());
        for (std::size_t f = 0; f < c.factors; ++f) ASSERT_EQ(bits(block.x[f].lane[l]), bits(x[f])) << "lane " << l;
        for (std::size_t m = 0; m < c.models; ++m)
          ASSERT_EQ(bits(block.values[m].lane[l]), bits(promisedValue(coef.data() + m * quadratic::termCount(c.factors), c.factors, x)))
              << "lane " << l << ", model " << m;
      }
    }
  }
  useBlockPath(BlockPath::Best);
}

}  // namespace
}  // namespace tavrin::optimum
