#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <functional>
#include <sstream>
#include <system_error>

#include "arguments.h"
#include "csv.h"
#include "json_io.h"
#include "pdf.h"
#include "report.h"
#include "tavrin/study_file.h"
#include "text.h"

namespace tavrin::cli {
namespace {

using json::Json;

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// Files the user may have edited by hand are replaced only when asked.
void refuseOverwrite(const std::string& path, bool force) {
  std::error_code error;
  if (!force && std::filesystem::exists(path, error))
    throw FileError(path, inQuotes(path) + " already exists; add --force to replace it");
}

void writeTextFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file << text;
  if (file) file.close();
  if (!file) throw FileError(path, "cannot write " + inQuotes(path) + ": " + std::strerror(errno));
}

std::ifstream openInput(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (file) return file;
  const bool notFound = errno == ENOENT;
  FileError error(path, "cannot read " + inQuotes(path) + ": " + std::strerror(errno));
  if (notFound) error.markNotFound();
  throw error;
}

std::map<std::string, double, std::less<>> sigmaByResponse(const std::vector<std::string>& values) {
  std::map<std::string, double, std::less<>> sigma;
  for (const std::string& value : values) {
    auto [name, s] = parseAssignment(value, "--sigma");
    if (!sigma.emplace(name, s).second) throw UsageError("--sigma gives \"" + name + "\" twice");
  }
  return sigma;
}

// The seed of --seed, as the layer reads it; a refused one is a usage error.
std::uint64_t seedOf(const std::string& text) {
  try {
    return parseSeed(text);
  } catch (const InvalidArgument& e) {
    throw UsageError(std::string("--seed: ") + e.what());
  }
}

// The goal of a response named by --importance or --shape.
Goal& goalOf(Goals& goals, const std::string& response, const char* option) {
  for (Goal& goal : goals.goals)
    if (goal.response == response) return goal;
  throw UsageError(std::string(option) + " names " + inQuotes(response) +
                   ", which has no goal; give it --maximize, --minimize or --target first");
}

Goals goalsOf(const OptimizeOptions& o, const Study& study) {
  Goals goals;
  goals.goals = parseGoals(o.maximize, o.minimize, o.target);
  if (goals.goals.empty()) throw UsageError("no goal: give --maximize, --minimize or --target");
  goals.constraints = parseConstraints(o.within);
  for (const std::string& r : o.region) {
    NamedInterval interval = parseInterval(r, "--region");
    // A one-sided region keeps the factor's declared bound on the other side.
    const Factor& factor = study.factors()[study.factorIndex(interval.name)];
    if (std::isinf(interval.low)) interval.low = factor.low;
    if (std::isinf(interval.high)) interval.high = factor.high;
    if (!goals.region.emplace(interval.name, std::pair{interval.low, interval.high}).second)
      throw UsageError("--region gives " + inQuotes(interval.name) + " twice");
  }
  for (const std::string& i : o.importance) {
    const auto [name, value] = parseAssignment(i, "--importance");
    goalOf(goals, name, "--importance").importance = value;
  }
  for (const std::string& s : o.shape) {
    const auto [name, value] = parseAssignment(s, "--shape");
    Goal& goal = goalOf(goals, name, "--shape");
    goal.shape = goal.shapeHigh = value;
  }
  return goals;
}

// Progress of a long run, on stderr when it is a terminal: "robustness:
// 120/1000 replicates", erased once the run ends. The layer calls it on
// the calling thread.
class Progress {
 public:
  std::function<void(unsigned, unsigned)> callback() {
    if (!isatty(STDERR_FILENO)) return {};
    return [this](unsigned done, unsigned total) {
      std::fprintf(stderr, "\rrobustness: %u/%u replicates", done, total);
      std::fflush(stderr);
      shown_ = true;
    };
  }
  ~Progress() {
    if (shown_) std::fputs("\r\033[K", stderr);
  }

 private:
  bool shown_ = false;
};

Matrix pointsOf(const PredictOptions& o, const Study& study) {
  const auto& factors = study.factors();
  std::vector<std::vector<double>> rows;
  for (const std::string& at : o.at) {
    std::vector<double> row(factors.size(), std::numeric_limits<double>::quiet_NaN());
    for (const auto& [name, value] : parsePoint(at)) {
      const std::size_t f = study.factorIndex(name);
      if (!std::isnan(row[f])) throw UsageError("point " + inQuotes(at) + " gives " + inQuotes(name) + " twice");
      row[f] = value;
    }
    for (std::size_t f = 0; f < factors.size(); ++f)
      if (std::isnan(row[f]))
        throw UsageError("point " + inQuotes(at) + " gives no value for factor " + inQuotes(factors[f].name));
    rows.push_back(std::move(row));
  }
  if (!o.csv.empty()) {
    std::ifstream file = openInput(o.csv);
    const Matrix read = readPoints(file, o.csv, factors);
    for (std::size_t p = 0; p < read.rows(); ++p) rows.emplace_back(read.row(p), read.row(p) + read.cols());
  }
  if (rows.empty()) throw UsageError("no point: give --at or --csv");
  Matrix points(rows.size(), factors.size());
  for (std::size_t p = 0; p < rows.size(); ++p)
    for (std::size_t f = 0; f < factors.size(); ++f) points(p, f) = rows[p][f];
  return points;
}

// The shortest text that reads back to the same double: "171.3" as the
// user typed it, not 171.30000000000001.
std::string fullPrecision(double value) {
  std::array<char, 32> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return error == std::errc() ? std::string(buffer.data(), end) : std::string();
}

// Predictions as CSV: the factors, then per response the value, its
// standard error and both intervals, in full precision.
std::string predictionsCsv(const Fit& fit, const Matrix& points, const std::vector<std::vector<Prediction>>& predictions) {
  std::ostringstream csv;
  std::vector<std::string> headings;
  for (const Factor& f : fit.factors) headings.push_back(f.name);
  for (const Response& r : fit.responses)
    for (const char* suffix : {"", " std. error", " CI low", " CI high", " PI low", " PI high"})
      headings.push_back(r.name + suffix);
  for (std::size_t k = 0; k < headings.size(); ++k) csv << (k ? "," : "") << headings[k];
  csv << "\r\n";
  for (std::size_t p = 0; p < points.rows(); ++p) {
    for (std::size_t f = 0; f < points.cols(); ++f) csv << (f ? "," : "") << fullPrecision(points(p, f));
    for (const auto& byPoint : predictions) {
      const Prediction& y = byPoint[p];
      for (double v : {y.value, y.stdError, y.confidenceLow, y.confidenceHigh, y.predictionLow, y.predictionHigh})
        csv << "," << (std::isfinite(v) ? fullPrecision(v) : "");
    }
    csv << "\r\n";
  }
  return csv.str();
}

}  // namespace

namespace {

// How far the runs of imported data reach, per factor, against its coding.
void printSpans(std::ostream& out, const Study& study, const std::vector<bool>& codedByData) {
  const std::vector<FactorSpan> reach = spans(study.plan());
  for (std::size_t i = 0; i < reach.size(); ++i) {
    const Factor& f = study.factors()[i];
    const FactorSpan& s = reach[i];
    out << "  " << label(f) << ": coded -1..+1 = " << formatNumber(f.low) << ".." << formatNumber(f.high);
    if (codedByData[i]) {
      out << " (no coding given: the data's minimum and maximum)\n";
      continue;
    }
    out << "; the runs reach " << formatNumber(s.low) << ".." << formatNumber(s.high) << " (coded "
        << formatNumber(s.lowCoded, 4) << ".." << formatNumber(s.highCoded, 4) << ")";
    const double beyond = std::max(-1.0 - s.lowCoded, s.highCoded - 1.0);
    if (beyond > 0) out << ", up to " << formatNumber(beyond, 4) << " coded units outside the coding";
    out << "\n";
  }
  out << "\n";
}

Json spansJson(const Study& study, const std::vector<bool>& codedByData) {
  Json list = Json::array();
  const std::vector<FactorSpan> reach = spans(study.plan());
  for (std::size_t i = 0; i < reach.size(); ++i)
    list.push_back({{"factor", reach[i].name},
                    {"codedByData", codedByData[i]},
                    {"low", study.factors()[i].low},
                    {"high", study.factors()[i].high},
                    {"runsLow", reach[i].low},
                    {"runsHigh", reach[i].high},
                    {"runsLowCoded", reach[i].lowCoded},
                    {"runsHighCoded", reach[i].highCoded}});
  return list;
}

// The design's options as given; the layer checks them against the design.
DesignRecipe recipeOf(const NewOptions& o, const std::vector<Factor>& factors) {
  DesignRecipe recipe;
  DesignOptions& options = recipe.options;
  if (o.alpha) options.alpha = parseAlpha(*o.alpha);
  if (o.inscribed) options.inscribed = true;
  options.centerRuns = o.centerRuns;
  options.axialCenterRuns = o.axialCenterRuns;
  options.blocks = o.blocks;
  options.levels = o.levels;
  options.fraction = o.fraction;
  recipe.model = o.model;
  recipe.runs = o.runs.value_or(0);
  if (!o.criterion.empty()) recipe.criterion = parseCriterion(o.criterion);
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  for (const std::string& c : o.constraints) recipe.constraints.push_back(parseConstraint(c, names));
  return recipe;
}

void runNewFromData(const NewOptions& o, std::ostream& out) {
  if (o.design != NewOptions{}.design || o.seed || o.centerRuns || o.axialCenterRuns || o.alpha || o.inscribed || o.blocks || o.levels ||
      o.fraction || o.runs || !o.model.empty() || !o.criterion.empty() || !o.constraints.empty())
    throw UsageError("--data makes a study of existing runs: --design, --seed and the design's options do not apply");
  std::vector<Factor> factors;
  std::vector<bool> codedByData;
  for (const std::string& f : o.factors) {
    factors.push_back(parseDataFactor(f));
    codedByData.push_back(std::isnan(factors.back().low));
  }
  std::vector<Response> responses;
  for (const std::string& r : o.responses) responses.push_back(parseResponse(r));
  refuseOverwrite(o.study, o.force);
  std::vector<std::string> ignored;
  const Study study = Study::fromDataFile(o.data, std::move(factors), std::move(responses), o.block, &ignored);
  study.save(o.study);
  if (o.json) {
    Json json = json::studyJson(study);
    json["factorSpans"] = spansJson(study, codedByData);
    json["ignoredColumns"] = ignored;
    return json::printJson(out, json);
  }
  out << "Created " << o.study << " from " << o.data << ": " << study.plan().runCount() << " runs of existing data\n";
  if (!ignored.empty()) {
    std::string list;
    for (const std::string& c : ignored) list += (list.empty() ? "" : ", ") + inQuotes(c);
    out << "Columns left out (neither a factor, a response nor the block column): " << list << "\n";
  }
  out << "\n";
  printSpans(out, study, codedByData);
  printStudy(out, study);
}

}  // namespace

void runNew(const NewOptions& o, std::ostream& out) {
  if (!o.data.empty()) return runNewFromData(o, out);
  DesignKind kind{};
  try {
    kind = parseDesignKind(o.design);
  } catch (const InvalidArgument& e) {
    throw UsageError(e.what());
  }
  std::vector<Factor> factors;
  for (const std::string& f : o.factors) factors.push_back(parseFactor(f));
  std::vector<Response> responses;
  for (const std::string& r : o.responses) responses.push_back(parseResponse(r));
  PlanOptions plan;
  if (o.seed) plan.seed = seedOf(*o.seed);
  plan.design = recipeOf(o, factors);
  refuseOverwrite(o.study, o.force);
  const Study study(kind, std::move(factors), std::move(responses), plan);
  study.save(o.study);
  if (o.json) return json::printJson(out, json::studyJson(study));
  out << "Created " << o.study << ": ";
  printStudy(out, study);
}

void runSheet(const SheetOptions& o, std::ostream& out) {
  if (o.json && o.output == "-") throw UsageError("--json and -o - would both write to standard output");
  const Study study = Study::load(o.study);
  if (o.output == "-") return study.writeRunSheet(out);
  if (!o.output.empty()) {
    refuseOverwrite(o.output, o.force);
    writeTextFile(o.output, study.runSheet());
    if (!o.json) {
      out << "Wrote the run sheet of " << study.plan().runCount() << " runs, in execution order, to " << o.output << "\n";
      return;
    }
  }
  if (o.json) return json::printJson(out, json::studyJson(study));
  printStudy(out, study);
}

void runEnter(const EnterOptions& o, std::ostream& out) {
  // Held from reading to saving: another writer waits instead of losing an update.
  const StudyFileLock lock(o.study);
  Study study = Study::load(o.study);
  const Matrix before = study.results();
  const Matrix actualBefore = study.plan().actual;
  study.readResultsFile(o.csv, o.actual ? SettingsColumns::RecordActual : SettingsColumns::Check);
  study.save(o.study);

  Json actual = Json::array();
  Table actualChanges({"Run", "Factor", "Planned", "Was", "Now"}, {false, true});
  const Plan& plan = study.plan();
  for (std::size_t row = 0; row < plan.runCount(); ++row)
    for (std::size_t i = 0; i < plan.factorCount(); ++i) {
      const double was = actualBefore(row, i);
      const double now = plan.actual(row, i);
      if (was == now) continue;
      actual.push_back({{"run", row + 1}, {"factor", plan.factors[i].name}, {"planned", plan.natural(row, i)},
                        {"was", was}, {"value", now}});
      actualChanges.add({std::to_string(row + 1), plan.factors[i].name, formatNumber(plan.natural(row, i)),
                         formatNumber(was), formatNumber(now)});
    }

  Json entered = Json::array();
  Json changed = Json::array();
  Json cleared = Json::array();
  Table changes({"Run", "Response", "Was", "Now"}, {false, true});
  const Matrix& after = study.results();
  for (std::size_t row = 0; row < after.rows(); ++row) {
    for (std::size_t r = 0; r < after.cols(); ++r) {
      const double was = before(row, r);
      const double now = after(row, r);
      if (was == now || (std::isnan(was) && std::isnan(now))) continue;
      const int run = static_cast<int>(row) + 1;
      const std::string& name = study.responses()[r].name;
      if (std::isnan(was))
        entered.push_back({{"run", run}, {"response", name}, {"value", now}});
      else if (std::isnan(now))
        cleared.push_back({{"run", run}, {"response", name}, {"was", was}});
      else
        changed.push_back({{"run", run}, {"response", name}, {"was", was}, {"value", now}});
      if (!std::isnan(was)) changes.add({std::to_string(run), name, formatNumber(was), std::isnan(now) ? "" : formatNumber(now)});
    }
  }
  Json missing = Json::array();
  for (const MissingResult& m : study.missing()) missing.push_back({{"run", m.runId}, {"response", m.response}});
  if (o.json)
    return json::printJson(out, {{"entered", entered},
                                 {"changed", changed},
                                 {"cleared", cleared},
                                 {"actualSettings", actual},
                                 {"missing", missing}});

  out << "Read " << o.csv << " into " << o.study << ": " << entered.size() << " results entered, " << changed.size()
      << " changed, " << cleared.size() << " cleared\n";
  if (!changed.empty() || !cleared.empty()) {
    out << "\n";
    changes.print(out);
  }
  if (!actual.empty()) {
    out << "\nActual settings recorded (the fit uses them):\n";
    actualChanges.print(out);
  }
  if (missing.empty()) {
    out << "Every result is entered.\n";
    return;
  }
  std::string list;
  for (const MissingResult& m : study.missing()) list += (list.empty() ? "" : ", ") + m.response + " of run " + std::to_string(m.runId);
  out << missing.size() << (missing.size() == 1 ? " result missing: " : " results missing: ") << list << "\n";
}

void runFit(const FitOptions& o, std::ostream& out) {
  if (o.model.asked()) {
    if (!o.sigma.empty() || o.diagnostics)
      throw UsageError("--sigma and --runs belong to the full quadratic report; leave them out with --model, "
                       "--reduce, --transform or --anova");
    return runModelFit(o.study, o.responses, o.model, o.confidence, o.json, out);
  }
  const Study study = Study::load(o.study);
  const Fit fit = study.fit();
  AnalysisOptions analysis;
  analysis.confidence = o.confidence;
  analysis.knownSigma = sigmaByResponse(o.sigma);
  std::vector<std::size_t> indices;
  for (const std::string& name : o.responses) indices.push_back(fit.responseIndex(name));
  if (indices.empty())
    for (std::size_t r = 0; r < fit.responses.size(); ++r) indices.push_back(r);

  if (o.json) return json::printJson(out, json::analysesJson(study, fit, indices, analysis));
  for (std::size_t k = 0; k < indices.size(); ++k) {
    if (k > 0) out << "\n";
    printAnalysis(out, analyze(fit, indices[k], analysis), canonicalAnalysis(fit, indices[k]), fit.factors,
                  modelVerdict(study, fit, indices[k], analysis), o.diagnostics);
  }
}

void runOptimize(const OptimizeOptions& o, std::ostream& out) {
  const Study study = Study::load(o.study);
  Goals goals = goalsOf(o, study);
  RobustnessOptions robust;
  robust.sigma = sigmaByResponse(o.sigma);
  robust.seed = seedOf(o.seed);
  const Fit fit = study.fit();
  goals = completeGoals(fit, goals, o.search);
  const Optimum optimum = optimize(fit, goals, o.search);
  Json result = {{"models", json::modelsUsedJson(study)}, {"goals", json::toJson(goals)},
                 {"optimum", json::optimumJson(fit, optimum)}};
  if (!o.json) {
    out << "Models: " << modelsUsed(study) << "\n";
    printOptimum(out, fit, goals, optimum);
  }
  if (!o.robust) {
    if (o.json) json::printJson(out, result);
    return;
  }
  robust.replicates = o.replicates;
  robust.threads = o.search.threads;
  Progress progress;
  robust.progress = progress.callback();
  const Robustness robustness = tavrin::robustness(fit, goals, optimum, robust);
  if (!o.json) return printRobustness(out, fit, goals, robustness, robust.seed);
  result["robustness"] = json::robustnessJson(fit, goals, robustness);
  result["robustness"]["seed"] = robust.seed;
  json::printJson(out, result);
}

void runReport(const ReportOptions& o, std::ostream& out) {
  if (o.output.empty()) throw UsageError("report needs -o FILE, the HTML (or with --pdf the PDF) to write");
  refuseOverwrite(o.output, o.force);
  const OptimizeOptions& g = o.optimum;
  const Study study = Study::load(g.study);
  report::ReportRequest request;
  request.title = o.title;
  const bool goalsGiven = !g.maximize.empty() || !g.minimize.empty() || !g.target.empty() || !g.within.empty() ||
                          !g.region.empty() || !g.importance.empty() || !g.shape.empty();
  if (goalsGiven) request.goals = goalsOf(g, study);
  request.search = g.search;
  request.robustness.sigma = sigmaByResponse(g.sigma);
  request.robustness.seed = seedOf(g.seed);
  request.robustness.replicates = g.replicates;
  request.robustness.threads = g.search.threads;
  const std::string page = report::html(study, request);
  if (!o.pdf) {
    writeTextFile(o.output, page);
    out << "Wrote the report of " << g.study << " to " << o.output << "\n";
    return;
  }
  printToPdf(page, o.output);
  out << "Wrote the report of " << g.study << " as PDF to " << o.output << "\n";
}

void runPredict(const PredictOptions& o, std::ostream& out) {
  if (!o.output.empty()) refuseOverwrite(o.output, o.force);
  const Study study = Study::load(o.study);
  const Matrix points = pointsOf(o, study);
  const Fit fit = study.fit();
  AnalysisOptions analysis;
  analysis.confidence = o.confidence;
  analysis.knownSigma = sigmaByResponse(o.sigma);
  std::vector<std::vector<Prediction>> predictions;
  for (std::size_t r = 0; r < fit.responses.size(); ++r)
    predictions.push_back(predictWithIntervals(fit, r, points, analysis));
  if (!o.output.empty()) writeTextFile(o.output, predictionsCsv(fit, points, predictions));
  if (o.json) {
    Json result = json::predictionsJson(fit, points, predictions, o.confidence);
    result["models"] = json::modelsUsedJson(study);
    return json::printJson(out, result);
  }
  out << "Models: " << modelsUsed(study) << "\n";
  printPredictions(out, fit, points, predictions, o.confidence);
  if (!o.output.empty()) out << "\nWrote the predictions to " << o.output << "\n";
}

void runExport(const ExchangeOptions& o, std::ostream& out) {
  refuseOverwrite(o.to, o.force);
  const Study study = Study::load(o.from);
  study.exportPlanFile(o.to);
  if (o.json) return json::printJson(out, {{"study", o.from}, {"planFile", o.to}});
  out << "Exported " << o.from << " to the plan file " << o.to << "\n";
}

void runImport(const ExchangeOptions& o, std::ostream& out) {
  refuseOverwrite(o.to, o.force);
  const Study study = Study::importPlanFile(o.from);
  study.save(o.to);
  if (o.json) return json::printJson(out, json::studyJson(study));
  out << "Imported the plan file " << o.from << " into " << o.to << ": ";
  printStudy(out, study);
}

}  // namespace tavrin::cli
