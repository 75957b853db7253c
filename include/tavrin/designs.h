// Design generators of the study layer, from one registry. Everything is
// in coded units: a factor's low and high are -1 and +1.
// Free functions over plain values; a refused call throws InvalidArgument
// (error.h) whose message names the offending option or value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/api.h"
#include "tavrin/matrix.h"

namespace tavrin {

// Where a run comes from. Cube: a point of the design proper (the
// factorial cube, a Box-Behnken or Rechtschaffner point); Axial: a star
// point of a central composite design; Center: a centre run; Augmented:
// added to an existing design; Imported: read from existing data.
enum class RunOrigin { Cube, Axial, Center, Augmented, Imported };
TAVRIN_LAYER_API std::string_view runOriginName(RunOrigin origin) noexcept;

// A generated design: one row of coded levels per run, in standard order.
struct DesignRuns {
  Matrix coded;                    // runs x factors
  std::vector<int> blocks;         // block of each run, numbered from 1
  std::vector<RunOrigin> origins;  // origin of each run

  std::size_t runCount() const noexcept { return coded.rows(); }
};

// The axial distance of a central composite design.
enum class AlphaKind {
  Rotatable,   // F^(1/4) for F cube runs
  Orthogonal,  // blocked: blocks orthogonal to the model; unblocked: centred square columns orthogonal
  Spherical,   // sqrt(k)
  Face,        // 1: axial runs on the faces of the cube
  Value        // the given value
};
struct Alpha {
  AlphaKind kind = AlphaKind::Rotatable;
  double value = 0.0;  // used by AlphaKind::Value only
};
// "rotatable", "orthogonal", "spherical", "face" or a positive number.
TAVRIN_LAYER_API Alpha parseAlpha(std::string_view text);

// Options of the generators; an unset option takes the generator's default
// (docs/designs.md lists them). Setting an option the generator does not
// take is refused.
struct DesignOptions {
  std::optional<Alpha> alpha{};           // ccd (default rotatable)
  std::optional<bool> inscribed{};        // ccd: scale so the axial runs are at +-1 (default off)
  // Centre runs added to the design's own, all blocks together. Box-Behnken
  // (which has one of its own), Rechtschaffner and factorials: default 0.
  // ccd: default uniform precision unblocked, Box and Hunter's counts blocked.
  // Spread over blocks: every cube block the same share, the rest to the
  // axial block of a ccd (or to the first blocks of a factorial).
  std::optional<int> centerRuns{};
  std::optional<int> axialCenterRuns{};   // blocked ccd: centre runs of the axial block
  std::optional<int> blocks{};            // number of blocks, the axial block of a ccd included (default 1)
  std::optional<int> fraction{};          // p of a 2^(k-p) cube (ccd default: smallest fraction of resolution V)
  std::optional<int> levels{};            // factorial: 2 or 3 (default 2)
};

enum class DesignOption { Alpha, Inscribed, CenterRuns, AxialCenterRuns, Blocks, Fraction, Levels };
TAVRIN_LAYER_API std::string_view designOptionName(DesignOption option) noexcept;

// One entry of the registry: everything the layer knows about a generator.
struct DesignGenerator {
  std::string_view name;                // "ccd"
  std::string_view summary;             // one line for listings
  std::vector<int> factorCounts;        // supported numbers of factors, increasing
  std::vector<DesignOption> options;    // the options it takes
  DesignRuns (*build)(std::size_t factors, const DesignOptions& options);

  bool supports(std::size_t factors) const noexcept;
  bool takes(DesignOption option) const noexcept;
};

// Every generator, in a fixed order.
TAVRIN_LAYER_API const std::vector<DesignGenerator>& designGenerators();
// The generator of that name (case-insensitive, '-', '_' and ' ' ignored);
// an unknown name is refused with the list of names.
TAVRIN_LAYER_API const DesignGenerator& findGenerator(std::string_view name);
// The runs of generator `name` for `factors` factors: refuses an
// unsupported factor count, an option the generator does not take, and
// option values that do not exist (the message names which).
TAVRIN_LAYER_API DesignRuns generateDesign(std::string_view name, std::size_t factors,
                                           const DesignOptions& options = {});

// Folding a two-level factorial into a central composite design: the
// factorial's runs stay as they are and a new block of 2k axial runs at
// +-alpha and centre runs completes the design for the full quadratic.
struct FoldOptions {
  // Default orthogonal: the axial block orthogonal to the factorial's
  // blocks, alpha^2 = F (2k + c) / (2 n) for F corner runs, n runs kept and
  // c centre runs added. Rotatable: F^(1/4) over the combined design.
  std::optional<Alpha> alpha{};
  // Centre runs of the axial block, 0..100. Default: the count whose
  // orthogonal-blocking alpha lies nearest the rotatable one (fewest on a
  // tie), which gives Box and Hunter's counts.
  std::optional<int> centerRuns{};
};
struct FoldedRuns {
  DesignRuns runs;     // the 2k axial runs (factor by factor, - then +), then the centre runs, all in one block
  double alpha = 0.0;  // as placed, coded units
  int centerRuns = 0;  // as placed
};
// The runs that fold `coded` (runs x factors, coded units; `blocks` per
// run, from 1) into a central composite design, in block max(blocks) + 1.
// `names` name the factors in messages (empty: A, B, ...). InvalidArgument
// (field "fold", or "alpha" / "center-runs" for the option) naming why
// when a run is neither a corner of the cube nor the centre (within 1e-9:
// axial runs, a three-level design, data off the +-1 cube), when the
// corners do not estimate every main effect and two-factor interaction
// apart (not a full factorial or a fraction of resolution 5 or more), and,
// for orthogonal alpha, when the factorial's own blocks are not orthogonal
// to the model, so that no alpha could block orthogonally.
TAVRIN_LAYER_API FoldedRuns foldDesign(const Matrix& coded, const std::vector<int>& blocks, const FoldOptions& options = {},
                                       const std::vector<std::string>& names = {});

// A tabulated two-level fraction 2^(k-p): generators such as "E=ABCD"
// (factors lettered A.. without I) and its resolution. Sources in
// docs/designs.md.
struct TwoLevelFraction {
  int factors = 0;
  int p = 0;
  std::vector<std::string> generators;
  int resolution = 0;
};
TAVRIN_LAYER_API const std::vector<TwoLevelFraction>& twoLevelFractions();
// The factor letter used in generators and term labels: A..H, J, K, ...
TAVRIN_LAYER_API std::string factorLetter(std::size_t factor);

}  // namespace tavrin
