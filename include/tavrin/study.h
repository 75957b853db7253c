// The study layer: plan an experiment, enter what was measured, fit one
// full quadratic model per response. Above the exact plan object
// (tavrin.h), in double precision, with validation at the boundary.
//
// Data flows one way, as plain values:
//   makePlan(kind, factors, options) -> Plan
//   Plan + results (runs x responses, NaN = missing) -> fitModels -> Fit
// tavrin::Study holds the inputs and the results and hands out those values.
//
// Every refused call throws a tavrin::Error (error.h) naming the offending
// item, and changes nothing.
#pragma once

#include <cstdint>
#include <limits>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavrin/api.h"
#include "tavrin/error.h"
#include "tavrin/matrix.h"
#include "tavrin/model_terms.h"
#include "tavrin/quadratic.h"
#include "tavrin/design_evaluation.h"
#include "tavrin/design_recipe.h"
#include "tavrin/designs.h"

namespace tavrin {

// ---------------------------------------------------------------- definition

// Imported: the runs are rows of existing data (Study::fromData), not a
// generated plan. Optimal: an optimal design for a model (optimal_design.h).
// The others are entries of the generator registry (designs.h).
enum class DesignKind { BoxBehnken, Rechtschaffner, CentralComposite, Factorial, Optimal, Imported };

// "box-behnken", "rechtschaffner", "ccd", "factorial", "optimal" or "imported".
TAVRIN_LAYER_API std::string_view designKindName(DesignKind kind) noexcept;
// Reads the names above (case-insensitive, "_" or " " for "-"); InvalidArgument otherwise.
TAVRIN_LAYER_API DesignKind parseDesignKind(std::string_view text);
// The factor counts a design kind supports: the registry's for its generators; optimal designs and imported data 1-20.
TAVRIN_LAYER_API const std::vector<int>& supportedFactorCounts(DesignKind kind);

// A kind a study's plan can be generated as, for listings: the registry's
// generators, then optimal designs. `options` are named as the recipe's
// refusals name their field ("alpha", "center-runs", "runs", "constraint").
struct DesignKindInfo {
  DesignKind kind;
  std::string_view name;
  std::string_view summary;
  std::vector<int> factorCounts;
  std::vector<std::string> options;
};
TAVRIN_LAYER_API std::vector<DesignKindInfo> generatedDesignKinds();

// The candidates `name` is probably a misspelling of, closest first: equal
// ignoring case and a trailing " [unit]", or within an edit distance of a
// third of the shorter name. Every "did you mean" of every front end uses it.
TAVRIN_LAYER_API std::vector<std::string> similarNames(std::string_view name, const std::vector<std::string>& candidates);

// A label and the unit that follows it: in brackets at the end ("Activity
// [U/mL]", "Temp=25:45[°C]"), or after a blank that follows a number
// ("45 °C"). Both parts trimmed of blanks; the unit empty when there is none.
struct LabelAndUnit {
  std::string label;
  std::string unit;
};
TAVRIN_LAYER_API LabelAndUnit splitUnit(std::string_view text);

// Longest name or unit, in bytes of UTF-8, that every file the layer
// writes can carry.
inline constexpr std::size_t kMaxNameBytes = 64;

// A factor: the coded levels -1 and +1 stand for `low` and `high`.
struct Factor {
  std::string name;
  double low = 0.0;
  double high = 0.0;
  std::string unit;  // optional
};

struct Response {
  std::string name;
  std::string unit;  // optional
};

// Throws InvalidArgument naming the item when a name is empty, not valid
// UTF-8, longer than kMaxNameBytes, holds a control character (tab and
// newline included), a comma or "//", or has a leading or trailing blank;
// when names repeat among the factors or among the responses; when a range
// is not finite or low >= high; when a unit breaks the name rules (an
// empty unit is allowed); when the kind does not support the factor count
// (the message lists the supported counts); or when there is no response.
TAVRIN_LAYER_API void validateDefinition(DesignKind kind, const std::vector<Factor>& factors, const std::vector<Response>& responses);

// --------------------------------------------------------------------- plan

struct PlanOptions {
  // Seed of the execution order; none draws one from std::random_device.
  // The seed used is recorded in the plan.
  std::optional<std::uint64_t> seed;
  // Extra centre runs added after the plan's own runs (ids N+1..N+c).
  int extraCenterRuns = 0;
  // How the design is made; its optimal design is drawn with the seed above.
  DesignRecipe design{};
};

// The runs table, in standard order: run id r (1..N) is row r-1 of every
// member. Planned settings: coded levels -1, 0, +1 and natural settings
// ((low + high) + (high - low) * c) / 2, bit-identical to what the plan
// object gives. Actual settings are where each run was made: the planned
// ones unless others were recorded; the fit uses them.
struct TAVRIN_LAYER_API Plan {
  DesignKind kind = DesignKind::BoxBehnken;
  std::vector<Factor> factors;
  std::uint64_t seed = 0;
  int extraCenterRuns = 0;
  Matrix coded;    // runs x factors, planned
  Matrix natural;  // runs x factors, planned
  Matrix actual;   // runs x factors, natural units
  std::vector<int> blocks;         // per run, from 1
  std::vector<RunOrigin> origins;  // per run
  // executionOrder[k] is the id of the run executed (k+1)-th.
  std::vector<int> executionOrder;
  DesignRecipe design;                       // how the runs of the design proper were made
  std::vector<Augmentation> augmentations;   // runs added since, in order, after those

  std::size_t runCount() const noexcept { return coded.rows(); }
  std::size_t factorCount() const noexcept { return factors.size(); }
  // Runs of the plan proper, without the extra centre runs.
  std::size_t baseRunCount() const noexcept { return runCount() - static_cast<std::size_t>(extraCenterRuns); }
  // Position 1..N of run `id` in the execution order.
  int orderOf(int id) const;
  // The actual settings in coded units; a run made as planned keeps its
  // planned coded levels exactly.
  Matrix actualCoded() const;
  // Whether run row `row` has actual settings other than the planned ones.
  bool deviates(std::size_t row) const;
};

// Builds the plan; the execution order is a Fisher-Yates shuffle driven by
// std::mt19937_64 (whose output the C++ standard fixes), so one seed gives
// one order on every machine. Throws as validateDefinition does (with no
// responses needed), for extraCenterRuns outside 0..100 or given to a kind
// other than Box-Behnken and Rechtschaffner, and for a recipe the kind
// refuses (InvalidArgument whose field names the option).
TAVRIN_LAYER_API Plan makePlan(DesignKind kind, std::vector<Factor> factors, const PlanOptions& options = {});

// A seed from its decimal text, digits only, 0..2^64-1. InvalidArgument
// (field "seed") for anything else: a sign, a fraction, blanks, or a number
// past 2^64-1 is refused, never wrapped or clamped.
TAVRIN_LAYER_API std::uint64_t parseSeed(std::string_view text);

// The execution order for `runs` runs and a seed, as makePlan draws it.
TAVRIN_LAYER_API std::vector<int> executionOrder(std::size_t runs, std::uint64_t seed);

// Coded <-> natural units of one factor.
TAVRIN_LAYER_API double toCoded(const Factor& f, double natural) noexcept;
TAVRIN_LAYER_API double toNatural(const Factor& f, double coded) noexcept;

// How far the runs reach along each factor: the lowest and highest actual
// setting, natural and coded. Runs may lie outside the coding (-1..+1), as
// a central composite's axial runs do, or inside it.
struct FactorSpan {
  std::string name;
  double lowCoded = 0.0;
  double highCoded = 0.0;
  double low = 0.0;
  double high = 0.0;
};
TAVRIN_LAYER_API std::vector<FactorSpan> spans(const Plan& plan);

// ---------------------------------------------------------------------- fit

// The fitted model of one response, in the layout of quadratic.h, with
// zeros for the terms it leaves out; every prediction is at the average
// block. A transformed response is modelled as w = PowerTransform(power)
// of the measured y: coefficients, residuals and the least-squares map are
// on that scale, and predictions are mapped back to y.
struct Model {
  std::vector<double> coded;    // coefficients in coded units
  std::vector<double> natural;  // the same polynomial expanded in natural units
  std::vector<std::size_t> terms;  // the estimated terms (quadratic.h indices, increasing, from 0)
  double power = std::numeric_limits<double>::quiet_NaN();  // Box-Cox power; NaN: y as measured
  // The least-squares map: coded = solver * (modelled response), terms x
  // runs in the full layout (rows of the terms left out are 0).
  Matrix solver;
  std::vector<double> leverages;  // per run, of the model's columns (block effects included)
  std::vector<double> residuals;  // per run, modelled response minus fitted
  int residualDf = 0;             // runs minus columns (terms and block effects)

  bool transformed() const noexcept { return power == power; }
};

// Least-squares fits of every response on one plan. Everything the analysis
// and the optimum need is here, so they take a Fit and nothing else.
struct TAVRIN_LAYER_API Fit {
  std::vector<Factor> factors;
  std::vector<Response> responses;
  std::vector<int> runIds;  // row r of the matrices below is run runIds[r]
  Matrix design;            // model matrix in coded units: runs x terms
  Matrix observations;      // runs x responses, as measured
  std::vector<Model> models;      // per response
  // Per run, its block when the runs are in two or more blocks, else empty.
  // Every model then carries the blocks as sum-coded fixed effects; its
  // coefficients leave them out, so predictions are at the average block.
  std::vector<int> blocks;
  // Per factor, coded: the lowest and highest actual setting of the runs,
  // the box the optimum searches unless told otherwise.
  std::vector<std::pair<double, double>> span;

  std::size_t factorCount() const noexcept { return factors.size(); }
  std::size_t termCount() const noexcept { return quadratic::termCount(factors.size()); }
  std::size_t runCount() const noexcept { return runIds.size(); }
  // Index of a response by name; UnknownName lists the responses.
  std::size_t responseIndex(std::string_view name) const;
};

// The model chosen for one response, as the study file keeps it: what was
// asked (model, transform, reduction) and what it gave (the fitted terms
// and power), which the fit uses as they are until the model is chosen again.
struct ModelChoice {
  std::string model = "quadratic";  // linear, interaction, quadratic or a term list (parseModelTerms)
  std::string transform = "none";   // none, log, sqrt, inverse or boxcox
  bool reduce = false;
  ReductionOptions reduction;
  std::string terms = "quadratic";  // the result: the terms fitted, as parseModelTerms reads them
  double power = std::numeric_limits<double>::quiet_NaN();  // the result: Box-Cox power, NaN for none

  // The full quadratic of the measured response, as asked.
  bool isDefault() const;
  friend TAVRIN_LAYER_API bool operator==(const ModelChoice& a, const ModelChoice& b);
};

// InvalidArgument or UnknownName with the field's path under `path` (e.g.
// "models.Yield.terms") for a model or terms naming no factor or malformed,
// a transform or reduction setting that is not one, a forced term that is
// not one, or a power that is not finite or not that of the transform.
TAVRIN_LAYER_API void validateModelChoice(const ModelChoice& choice, const std::vector<Factor>& factors,
                                          const std::string& path);

// Fits every response by least squares (column-pivoted QR, double
// precision) on the runs' actual settings: the full quadratic, or, where
// `choices` (empty, or one per response) holds another, that choice's
// terms and its transform; either with the runs' blocks, when there are two
// or more, as sum-coded fixed effects (see Fit::blocks). This is
// the one place a choice becomes a fitted model. Throws StateError naming
// every missing (run, response) when a result is NaN, InvalidArgument for
// an infinite result, a non-positive result of a transformed response, or
// shapes that do not match the plan, and as validateModelChoice.
TAVRIN_LAYER_API Fit fitModels(const Plan& plan, const std::vector<Response>& responses, const Matrix& results,
                               const std::vector<ModelChoice>& choices = {});

// Predictions at many points: `points` is points x factors in natural
// units; the result is points x responses, a transformed response's in its
// own units. InvalidArgument on a shape mismatch.
TAVRIN_LAYER_API Matrix predict(const Fit& fit, const Matrix& points);

// --------------------------------------------------------------------- study

// What readResults and enterResults do with columns of factor settings.
// Check: each setting must match the run's actual setting (the planned one
// unless recorded), allowing for printed rounding: half a unit in the last
// digit the value is written with, plus 1e-9 relative; a mismatch is
// refused naming the run, the factor and both values.
// RecordActual: the settings are recorded as the runs' actual settings; a
// value that matches the planned setting so keeps the planned value.
// An empty setting cell is not checked and changes nothing in either mode.
enum class SettingsColumns { Check, RecordActual };

// Runs to add to a study (Study::augment). An empty model is the design's
// own (Study::designModel); no seed draws
// one, which is recorded. Cloud and Optimum take `cloud`, points x factors
// in natural units (Robustness::optima).
struct AugmentRequest {
  std::size_t runs = 0;
  Criterion criterion = Criterion::D;
  std::string model{};
  std::optional<std::uint64_t> seed{};
  Matrix cloud{};
  // With goals (Study::augment(request, goals)): the replicates of the
  // robustness that makes the cloud, and the threads of its search.
  unsigned replicates = 1000;
  unsigned threads = 0;
};

// A fold of a two-level factorial into a central composite design
// (Study::fold, foldDesign in designs.h); no seed draws one, which is recorded.
struct FoldRequest {
  FoldOptions options{};
  std::optional<std::uint64_t> seed{};
};

struct Goals;  // optimum.h

struct MissingResult {
  int runId;
  std::string response;
};

// A study: its definition, its plan and what has been measured. Changing
// the results keeps the definition and the plan; fit() is recomputed from
// the current results each time it is called.
class TAVRIN_LAYER_API Study {
 public:
  Study(DesignKind kind, std::vector<Factor> factors, std::vector<Response> responses,
        const PlanOptions& options = {});

  DesignKind kind() const noexcept { return plan_.kind; }
  const std::vector<Factor>& factors() const noexcept { return plan_.factors; }
  const std::vector<Response>& responses() const noexcept { return responses_; }
  const Plan& plan() const noexcept { return plan_; }
  // runs (standard order, run id r in row r-1) x responses; NaN = missing.
  const Matrix& results() const noexcept { return results_; }

  std::size_t factorIndex(std::string_view name) const;    // UnknownName otherwise
  std::size_t responseIndex(std::string_view name) const;  // UnknownName otherwise

  // Enters (or overwrites) one result; NaN clears it. UnknownName for an
  // unknown run id or response, InvalidArgument for an infinite value.
  void setResult(int runId, std::string_view response, double value);
  double result(int runId, std::string_view response) const;
  // Every missing (run, response), runs in standard order.
  std::vector<MissingResult> missing() const;

  // Fits every response with its chosen model; StateError names the missing runs.
  Fit fit() const;

  // Adds request.runs runs chosen by coordinate exchange (optimal_design.h)
  // for the model, given the runs there are (at their actual settings);
  // every run, result and setting stays. The new runs have ids after the
  // last, origin Augmented, a block of their own (one more than the
  // highest), missing results, and come after every run in the execution
  // order (shuffled among themselves with the seed). An optimal design's
  // constraints hold for them. Throws as augmentDesign does; nothing
  // changes then.
  void augment(const AugmentRequest& request);
  // The same for the Cloud and Optimum criteria, with the cloud made from
  // goals (optimum.h): the fit's optimum for them, completed as optimize()
  // completes them, and its robustness (request.replicates replicates,
  // sigma from the residuals, the request's seed, which is recorded) give
  // the relocated optima. Throws InvalidArgument (field "criterion") for
  // another criterion, (field "cloud") when a cloud is given too, and as
  // fit(), optimize() and robustness() do; nothing changes then.
  void augment(const AugmentRequest& request, const Goals& goals);
  // Folds a two-level factorial, with or without centre runs, into a
  // central composite design (foldDesign on the runs' planned coded
  // settings and blocks): every run and result stays; the axial runs and
  // centre runs follow them as a block of their own (one more than the
  // highest), with origins Axial and Center and missing results, after
  // every run in the execution order (shuffled among themselves with the
  // seed). Afterwards the design's model is the full quadratic. Throws
  // InvalidArgument (field "fold") naming the first axial run of a study
  // that has one, and as foldDesign does, naming factors by name; nothing
  // changes then.
  void fold(const FoldRequest& request = {});

  // The design evaluation (design_evaluation.h) of the runs' actual
  // settings for `model` (empty: the design's own, as augment takes it).
  DesignEvaluation evaluate(std::string_view model = {}, const EvaluationOptions& options = {}) const;
  // The model an empty model text stands for in augment and evaluate: an
  // optimal design's own; a two-level factorial's main effects and
  // interactions (main effects only for a fraction) until it is folded;
  // else the full quadratic.
  ModelTerms designModel() const;

  // The model chosen for a response (the full quadratic unless set), and
  // setting it: refused as validateModelChoice refuses, naming the field
  // under "models.<response>"; UnknownName for the response.
  const ModelChoice& modelChoice(std::string_view response) const;
  void setModelChoice(std::string_view response, ModelChoice choice);

  // The run sheet as CSV (RFC 4180, UTF-8, header row): run id, run order,
  // the natural settings and one column per response, rows in execution
  // order; missing results are empty cells.
  void writeRunSheet(std::ostream& out) const;
  std::string runSheet() const;
  // Reads results by run id from CSV text. Columns are "run_id", and any
  // of "run_order" (ignored), the factors and the responses, by name or as
  // the run sheet heads them ("Name [unit]"), in any order; a column that
  // names none of them is refused with the names it may have meant, and a
  // column without a header must be empty. An empty response cell is
  // missing (and clears the result); absent columns leave results as they
  // are; settings columns are treated as `settings` says; rows with every
  // cell empty are skipped. ParseError with `source`, line and column on
  // bad input; nothing changes then.
  void readResults(std::istream& in, const std::string& source, SettingsColumns settings = SettingsColumns::Check);
  void readResultsFile(const std::string& path, SettingsColumns settings = SettingsColumns::Check);
  // The same from values: `columns` names the columns of `values` (rows x
  // columns, NaN for an empty cell), one of them "run_id". InvalidArgument
  // naming the row on bad input; nothing changes then.
  void enterResults(const std::vector<std::string>& columns, const Matrix& values,
                    SettingsColumns settings = SettingsColumns::Check);

  // The study file (JSON with a format version): everything above, results
  // in full double precision and missing values included.
  std::string toJson() const;
  static Study fromJson(std::string_view text, const std::string& source = "study");
  void save(const std::string& path) const;
  static Study load(const std::string& path);

  // The plan file of the plan object (CTavrin Save/Load), for exchange.
  // That file holds no units, no run order and 6 significant digits.
  // Export refuses, with InvalidArgument saying what, whatever would make
  // the file say something else than the study: missing results, extra
  // centre runs, names it cannot carry, results outside single precision's
  // range, ranges that need more than 6 significant digits. Names go
  // through the current C locale's encoding, as CTavrin writes them.
  // Import takes the kind, the factors and the results (every result the
  // file holds, as its 6-digit text reads); `options` give the seed and
  // any extra centre runs, which start missing.
  void exportPlanFile(const std::string& path) const;
  static Study importPlanFile(const std::string& path, const PlanOptions& options = {});

  // A study of existing data: row r of `settings` (natural units, one
  // column per factor) and of `results` (one column per response, NaN =
  // missing) is run r+1; rows may repeat settings. A factor's low and high
  // give its coding and runs may lie outside it; a factor whose low and
  // high are both NaN is coded by the data's minimum and maximum. `blocks`
  // numbers each row's block from 1 (empty: one block). The kind is
  // Imported, the run order the rows' order, every origin Imported.
  // InvalidArgument naming the row or factor for a missing or infinite
  // setting, an infinite result, a factor that never varies, shapes that
  // do not match, or a definition validateDefinition refuses.
  static Study fromData(std::vector<Factor> factors, std::vector<Response> responses, const Matrix& settings,
                        const Matrix& results, std::vector<int> blocks = {});

  // The same from a table of text cells, as a CSV file holds them: a
  // column per factor and per response, found by name or as "Name [unit]";
  // an empty response cell is missing; `blockColumn`, when not empty, names
  // a column of block numbers 1, 2, ... Other columns are left out and
  // listed in `ignoredColumns`; rows with every cell empty are skipped.
  // InvalidArgument naming the row and column (ParseError with line and
  // column from a CSV source) for a missing column or a bad cell.
  static Study fromTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                         std::vector<Factor> factors, std::vector<Response> responses, const std::string& blockColumn = {},
                         std::vector<std::string>* ignoredColumns = nullptr);
  static Study fromDataCsv(std::istream& in, const std::string& source, std::vector<Factor> factors,
                           std::vector<Response> responses, const std::string& blockColumn = {},
                           std::vector<std::string>* ignoredColumns = nullptr);
  static Study fromDataFile(const std::string& path, std::vector<Factor> factors, std::vector<Response> responses,
                            const std::string& blockColumn = {}, std::vector<std::string>* ignoredColumns = nullptr);

  // Same definition, plan, seed, run order and results, bit for bit (a
  // missing result equals a missing result).
  friend TAVRIN_LAYER_API bool operator==(const Study& a, const Study& b);

 private:
  Study() = default;
  // Takes `plan`, the study's plan with the runs of `record` appended, and
  // records them: their execution order, the record, missing results.
  void addRuns(Plan plan, const Augmentation& record);

  Plan plan_;
  std::vector<Response> responses_;
  Matrix results_;
  std::vector<ModelChoice> choices_;  // empty, or one per response
};

}  // namespace tavrin
