// The plan: coded levels from the plan object's generators, natural
// settings by the plan object's own transform, and a seeded run order.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include "study/held_design.h"
#include "study/internal.h"
#include "study/text.h"
#include "tavrin/designs.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// A uniform integer in [0, range) from the generator: draws that fall in
// the short last block of 2^64 are rejected, so every value is equally
// likely and the result depends only on the generator's fixed output.
std::uint64_t boundedDraw(std::mt19937_64& engine, std::uint64_t range) {
  static_assert(std::mt19937_64::min() == 0 && std::mt19937_64::max() == std::numeric_limits<std::uint64_t>::max());
  const std::uint64_t threshold = (0 - range) % range;  // 2^64 mod range
  for (;;) {
    const std::uint64_t x = engine();
    if (x >= threshold) return x % range;
  }
}


}  // namespace

int Plan::orderOf(int id) const {
  for (std::size_t k = 0; k < executionOrder.size(); ++k)
    if (executionOrder[k] == id) return static_cast<int>(k) + 1;
  throw UnknownName("run " + std::to_string(id) + " is not in the plan; run ids are 1.." +
                    std::to_string(runCount()));
}

bool Plan::deviates(std::size_t row) const {
  for (std::size_t i = 0; i < factorCount(); ++i)
    if (std::bit_cast<std::uint64_t>(actual(row, i)) != std::bit_cast<std::uint64_t>(natural(row, i))) return true;
  return false;
}

Matrix Plan::actualCoded() const {
  Matrix out = coded;
  for (std::size_t r = 0; r < runCount(); ++r) {
    if (!deviates(r)) continue;
    for (std::size_t i = 0; i < factorCount(); ++i) out(r, i) = toCoded(factors[i], actual(r, i));
  }
  return out;
}

RunOrigin parseRunOrigin(std::string_view text) {
  for (const RunOrigin o : {RunOrigin::Cube, RunOrigin::Axial, RunOrigin::Center, RunOrigin::Augmented,
                            RunOrigin::Imported})
    if (runOriginName(o) == text) return o;
  throw InvalidArgument("unknown run origin \"" + std::string(text) +
                        "\": the origins are cube, axial, center, augmented and imported");
}

std::vector<int> executionOrder(std::size_t runs, std::uint64_t seed) {
  std::vector<int> order(runs);
  for (std::size_t k = 0; k < runs; ++k) order[k] = static_cast<int>(k) + 1;
  std::mt19937_64 engine(seed);
  for (std::size_t k = runs; k > 1; --k) {
    const auto j = static_cast<std::size_t>(boundedDraw(engine, k));
    std::swap(order[k - 1], order[j]);
  }
  return order;
}

double toCoded(const Factor& f, double natural) noexcept {
  return (natural + natural - f.high - f.low) / (f.high - f.low);
}

double toNatural(const Factor& f, double coded) noexcept {
  // The plan object's transform, term for term, so settings match it bit for bit.
  return ((f.low + f.high) + (f.high - f.low) * coded) / 2;
}

std::uint64_t parseSeed(std::string_view text) {
  std::uint64_t seed = 0;
  const char* end = text.data() + text.size();
  const bool digits = !text.empty() && text.front() >= '0' && text.front() <= '9';
  const auto [stop, error] = std::from_chars(text.data(), end, seed);
  if (digits && error == std::errc() && stop == end) return seed;
  throw InvalidArgument("the seed " + text::quoted(text) + " is not a whole number in 0.." +
                            std::to_string(std::numeric_limits<std::uint64_t>::max()),
                        "seed");
}

Plan makePlan(DesignKind kind, std::vector<Factor> factors, const PlanOptions& options) {
  if (kind == DesignKind::Imported)
    throw InvalidArgument("imported runs are not generated: make the study from the data table (Study::fromData)");
  validateFactors(kind, factors);
  Plan plan;
  plan.kind = kind;
  plan.seed = options.seed ? *options.seed : (std::uint64_t{std::random_device{}()} << 32 | std::random_device{}());
  const std::size_t n = factors.size();
  // The design proper from its recipe, then the extra centre runs.
  HeldRuns held = heldRuns(kind, factors, options, plan.seed);
  plan.extraCenterRuns = held.extraCenterRuns;
  plan.design = std::move(held.recipe);
  const DesignRuns& design = held.runs;
  const Matrix& base = design.coded;
  const std::size_t runs = base.rows() + static_cast<std::size_t>(plan.extraCenterRuns);
  plan.coded = Matrix(runs, n, 0.0);
  std::copy(base.data(), base.data() + base.rows() * n, plan.coded.data());
  plan.natural = Matrix(runs, n);
  for (std::size_t r = 0; r < runs; ++r)
    for (std::size_t i = 0; i < n; ++i) {
      plan.natural(r, i) = toNatural(factors[i], plan.coded(r, i));
      if (held.naturalFirst) plan.coded(r, i) = toCoded(factors[i], plan.natural(r, i));
    }
  plan.actual = plan.natural;
  plan.blocks = design.blocks;
  plan.blocks.resize(runs, 1);
  plan.origins = design.origins;
  plan.origins.resize(runs, RunOrigin::Center);
  plan.factors = std::move(factors);
  plan.executionOrder = executionOrder(runs, plan.seed);
  return plan;
}

}  // namespace tavrin
