// The subcommands of `tavrin`, one function each over its options. Each
// writes its result to `out` (text, or JSON when asked) and throws on
// failure: UsageError for a malformed option value, tavrin::Error from the
// layer otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "model_commands.h"
#include "report.h"
#include "tavrin/optimum.h"

namespace tavrin::cli {

struct NewOptions {
  std::string study;
  std::string design = "box-behnken";
  std::vector<std::string> factors;
  std::vector<std::string> responses;
  std::optional<std::string> seed;  // text: the layer parses it
  std::optional<int> centerRuns;
  std::optional<int> axialCenterRuns;
  // The design's options, as text where the layer parses them.
  std::optional<std::string> alpha;
  bool inscribed = false;
  std::optional<int> blocks;
  std::optional<int> levels;
  std::optional<int> fraction;
  std::optional<std::size_t> runs;
  std::string model;
  std::string criterion;
  std::vector<std::string> constraints;
  std::string data;   // a CSV of existing runs instead of a generated plan
  std::string block;  // the data's block column, if any
  bool force = false;
  bool json = false;
};

struct SheetOptions {
  std::string study;
  std::string output;  // CSV file, "-" for standard output; empty for the table
  bool force = false;
  bool json = false;
};

struct EnterOptions {
  std::string study;
  std::string csv;
  bool actual = false;  // record the file's settings as the runs' actual settings
  bool json = false;
};

struct FitOptions {
  std::string study;
  std::vector<std::string> responses;  // empty for every response
  double confidence = 0.95;
  std::vector<std::string> sigma;  // "R=s"
  bool diagnostics = false;
  ModelOptions model;
  bool json = false;
};

struct OptimizeOptions {
  std::string study;
  std::vector<std::string> maximize;
  std::vector<std::string> minimize;
  std::vector<std::string> target;
  std::vector<std::string> within;
  std::vector<std::string> region;
  std::vector<std::string> importance;
  std::vector<std::string> shape;
  SearchOptions search;
  bool robust = false;
  std::vector<std::string> sigma;
  unsigned replicates = RobustnessOptions{}.replicates;
  std::string seed = std::to_string(RobustnessOptions{}.seed);  // text: the layer parses it
  bool json = false;
};

// The report takes the goals of optimize (optional) and writes HTML, or a
// PDF printed by headless Chromium.
struct ReportOptions {
  std::string output;
  std::string title = report::ReportRequest{}.title;
  bool pdf = false;
  bool force = false;
  OptimizeOptions optimum;  // the study, the goals, the search and the robustness
};

struct PredictOptions {
  std::string study;
  std::vector<std::string> at;
  std::string csv;
  std::string output;  // CSV of the predictions
  double confidence = 0.95;
  std::vector<std::string> sigma;
  bool force = false;
  bool json = false;
};

// Runs chosen by a criterion (the cloud and optimum criteria from goals),
// or with `fold` the axial block of a central composite design.
struct AugmentCommandOptions {
  std::string study;
  std::optional<std::size_t> runs;
  std::string criterion = "d";
  std::string model;
  std::optional<std::string> seed;
  std::vector<std::string> maximize;
  std::vector<std::string> minimize;
  std::vector<std::string> target;
  std::vector<std::string> within;
  unsigned replicates = AugmentRequest{}.replicates;
  unsigned threads = 0;
  bool fold = false;
  std::optional<std::string> alpha;
  std::optional<int> centerRuns;
  bool json = false;
};

struct EvaluateOptions {
  std::string study;
  std::string model;
  bool json = false;
};

struct ExchangeOptions {
  std::string from;
  std::string to;
  bool force = false;
  bool json = false;
};

void runNew(const NewOptions& options, std::ostream& out);
void runSheet(const SheetOptions& options, std::ostream& out);
void runEnter(const EnterOptions& options, std::ostream& out);
void runFit(const FitOptions& options, std::ostream& out);
void runOptimize(const OptimizeOptions& options, std::ostream& out);
void runPredict(const PredictOptions& options, std::ostream& out);
void runReport(const ReportOptions& options, std::ostream& out);
void runAugment(const AugmentCommandOptions& options, std::ostream& out);
void runEvaluate(const EvaluateOptions& options, std::ostream& out);
void runExport(const ExchangeOptions& options, std::ostream& out);
void runImport(const ExchangeOptions& options, std::ostream& out);

}  // namespace tavrin::cli
