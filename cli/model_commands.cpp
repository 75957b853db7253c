#include "model_commands.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "json_io.h"
#include "tavrin/model_building.h"
#include "tavrin/study_file.h"
#include "tavrin/verdict.h"
#include "text.h"

namespace tavrin::cli {
namespace {

using json::Json;
using json::number;

ModelRequest requestOf(const ModelOptions& o, double confidence) {
  ModelRequest request;
  if (!o.model.empty()) request.model = o.model;
  if (!o.transform.empty()) request.transform = o.transform;
  request.reduce = o.reduce;
  request.reduction.criterion = o.aicc ? ReductionOptions::Aicc : ReductionOptions::PValue;
  if (o.alpha) request.reduction.pToRemove = *o.alpha;
  request.reduction.forceIn = o.forceIn;
  request.reduction.forceOut = o.forceOut;
  request.confidence = confidence;
  return request;
}

// ------------------------------------------------------------------- JSON

Json rowJson(const AnovaRow& r) {
  return {{"source", r.source}, {"df", r.df},         {"ss", number(r.ss)},
          {"ms", number(r.ms)}, {"f", number(r.f)}, {"p", number(r.p)}};
}

Json rowsJson(const std::vector<AnovaRow>& rows) {
  Json out = Json::array();
  for (const AnovaRow& r : rows) out.push_back(rowJson(r));
  return out;
}

}  // namespace

Json buildJson(const std::string& response, const ModelBuild& b, const ModelRequest& request) {
  const ModelFit& f = b.fit;
  Json out = {{"response", response},
              {"startModel", formatModelTerms(b.start, f.factorNames)},
              {"model", formatModelTerms(f.terms, f.factorNames)},
              {"hierarchy", f.hierarchy},
              {"runs", f.runs},
              {"residualDf", f.residualDf},
              {"notEstimable", f.notEstimable},
              {"transformPower", b.transform ? number(b.transform->lambda) : Json(nullptr)}};
  if (b.boxCox)
    out["boxCox"] = {{"lambda", number(b.boxCox->lambda)}, {"lower", number(b.boxCox->lower)},
                     {"upper", number(b.boxCox->upper)}, {"recommended", number(b.boxCox->recommended)},
                     {"recommendation", b.boxCox->recommendation}};
  if (b.reduction) {
    Json steps = Json::array();
    for (const ReductionStep& s : b.reduction->steps)
      steps.push_back({{"removed", s.term}, {"forced", s.forced}, {"p", number(s.p)},
                       {"deltaAicc", number(s.deltaAicc)}, {"remaining", formatModelTerms(s.remaining, f.factorNames)}});
    out["reduction"] = steps;
  }
  out["statistics"] = {{"sigma", number(f.sigma)}, {"rSquared", number(f.rSquared)},
                       {"adjustedRSquared", number(f.adjustedRSquared)}, {"aicc", number(f.aicc)}};
  Json estimates = Json::array();
  for (const TermEstimate& t : f.estimates) {
    Json e = json::toJson(t.estimate);
    e["term"] = t.term;
    e["block"] = t.block;
    estimates.push_back(std::move(e));
  }
  out["coefficients"] = estimates;
  const Anova& a = b.anova;
  out["anova"] = {{"sequential", rowsJson(a.sequential)}, {"partial", rowsJson(a.partial)},
                  {"model", rowJson(a.model)},           {"residual", rowJson(a.residual)},
                  {"lackOfFit", rowJson(a.lackOfFit)},   {"pureError", rowJson(a.pureError)},
                  {"lackOfFitReason", a.lackOfFitReason}, {"total", rowJson(a.total)}};
  Json runs = Json::array();
  for (const RunDiagnostic& r : b.diagnostics.runs)
    runs.push_back({{"run", r.row + 1}, {"order", r.order}, {"residual", number(r.residual)},
                    {"leverage", number(r.leverage)}, {"externallyStudentized", number(r.externallyStudentized)},
                    {"dffits", number(r.dffits)}, {"cooksDistance", number(r.cooksDistance)},
                    {"bonferroniP", number(r.bonferroniP)}, {"outlier", r.outlier},
                    {"normalScore", number(r.normalScore)}});
  out["diagnostics"] = {{"alpha", b.diagnostics.alpha}, {"durbinWatson", number(b.diagnostics.durbinWatson)},
                        {"runs", runs}};
  out["verdict"] = json::toJson(buildVerdict(b, request));
  return out;
}

namespace {

// ------------------------------------------------------------------- text

std::vector<std::string> anovaCells(const AnovaRow& r) {
  return {r.source, std::to_string(r.df), formatNumber(r.ss), formatNumber(r.ms), formatNumber(r.f),
          formatNumber(r.p, 3)};
}

void printTransform(std::ostream& out, const ModelBuild& b) {
  if (b.boxCox)
    out << "  Box-Cox: lambda " << formatNumber(b.boxCox->lambda, 3) << ", 95% interval "
        << formatNumber(b.boxCox->lower, 3) << " .. " << formatNumber(b.boxCox->upper, 3) << "; recommended "
        << b.boxCox->recommendation << "\n";
  if (b.transform)
    out << "  Fitted to (y^lambda - 1) / lambda with lambda " << formatNumber(b.transform->lambda, 3)
        << " (log y for 0); estimates and ANOVA are on that scale\n";
}

void printReduction(std::ostream& out, const ModelBuild& b, const ModelOptions& o) {
  if (!b.reduction) return;
  const std::string rule = o.aicc ? "while AICc falls"
                                  : "while p > " + formatNumber(o.alpha.value_or(ReductionOptions{}.pToRemove), 3);
  out << "\nBackward elimination " << rule << ", keeping hierarchy\n";
  if (b.reduction->steps.empty()) {
    out << "  No term removed\n";
    return;
  }
  Table table({"Step", "Removed", "p", "AICc change", "Remaining"}, {false, true, false, false, true});
  int k = 0;
  for (const ReductionStep& s : b.reduction->steps)
    table.add({std::to_string(++k), s.term + (s.forced ? " (forced)" : ""), formatNumber(s.p, 3),
               formatNumber(s.deltaAicc, 4), formatModelTerms(s.remaining, b.fit.factorNames)});
  table.print(out);
}

void printCoefficients(std::ostream& out, const ModelFit& f) {
  out << "\nCoefficients (coded units" << (f.blockLevels.empty() ? "" : "; blocks as deviations from the average block") << ")\n";
  Table table({"Term", "Estimate", "Std. error", "t", "p"}, {true});
  for (const TermEstimate& t : f.estimates)
    table.add({t.term, formatNumber(t.estimate.value), formatNumber(t.estimate.stdError),
               formatNumber(t.estimate.t, 4), formatNumber(t.estimate.p, 3)});
  table.print(out);
  out << "  RMSE " << formatNumber(f.sigma) << ", R-squared " << formatNumber(f.rSquared, 4) << ", adjusted "
      << formatNumber(f.adjustedRSquared, 4) << ", AICc " << formatNumber(f.aicc) << "\n";
}

void printAnova(std::ostream& out, const Anova& a, bool partial) {
  out << (partial ? "\nAnalysis of variance (partial sums of squares, each term given all others)\n"
                  : "\nAnalysis of variance (sequential sums of squares, each group after those above)\n");
  Table table({"Source", "df", "Sum of sq.", "Mean sq.", "F", "p"}, {true});
  for (const AnovaRow& r : partial ? a.partial : a.sequential) table.add(anovaCells(r));
  table.add(anovaCells(a.model));
  table.add(anovaCells(a.residual));
  if (a.lackOfFitReason.empty()) {
    table.add(anovaCells(a.lackOfFit));
    table.add(anovaCells(a.pureError));
  }
  table.add(anovaCells(a.total));
  table.print(out);
  if (!a.lackOfFitReason.empty()) out << "  Lack of fit: " << a.lackOfFitReason << "\n";
}

void printOutliers(std::ostream& out, const Diagnostics& d) {
  std::vector<std::string> flagged;
  for (const RunDiagnostic& r : d.runs)
    if (r.outlier)
      flagged.push_back("run " + std::to_string(r.row + 1) + " (externally studentised residual " +
                        formatNumber(r.externallyStudentized, 4) + ", Bonferroni p " + formatNumber(r.bonferroniP, 3) +
                        ", Cook's distance " + formatNumber(r.cooksDistance, 3) + ")");
  out << "\nOutliers (Bonferroni-adjusted test at " << formatNumber(d.alpha, 3) << "): ";
  if (flagged.empty()) out << "none\n";
  for (std::size_t k = 0; k < flagged.size(); ++k) out << (k == 0 ? "" : "; ") << flagged[k];
  if (!flagged.empty()) out << "\n";
  out << "Durbin-Watson statistic of the residuals in run order: " << formatNumber(d.durbinWatson, 4) << "\n";
}

void printVerdict(std::ostream& out, const Verdict& v) {
  out << "\n" << (v.warning ? "Warning" : "Verdict") << ":\n";
  for (const std::string& finding : v.findings) out << "  - " << finding << "\n";
}

void printBuild(std::ostream& out, const std::string& response, const ModelBuild& b, const ModelOptions& o,
                const ModelRequest& request) {
  const ModelFit& f = b.fit;
  out << response << ": model " << formatModelTerms(f.terms, f.factorNames) << "; " << f.runs << " runs, "
      << f.residualDf << " residual degrees of freedom\n";
  if (!f.hierarchy.empty()) out << "  Not hierarchical: " << f.hierarchy << "\n";
  if (!f.notEstimable.empty()) out << "  Not estimable: " << f.notEstimable << "\n";
  printTransform(out, b);
  printReduction(out, b, o);
  printCoefficients(out, f);
  printAnova(out, b.anova, o.anova == "partial");
  printOutliers(out, b.diagnostics);
  printVerdict(out, buildVerdict(b, request));
}

}  // namespace

void runModelFit(const std::string& studyFile, const std::vector<std::string>& responses, const ModelOptions& o,
                 double confidence, bool json, std::ostream& out) {
  if (!o.anova.empty() && o.anova != "sequential" && o.anova != "partial")
    throw UsageError("--anova \"" + o.anova + "\": use sequential or partial");
  if (o.save && responses.empty())
    throw UsageError("--save keeps the model of the responses named by --response; name at least one");
  // Held from reading to saving when the choice is kept.
  std::optional<StudyFileLock> lock;
  if (o.save) lock.emplace(studyFile);
  Study study = Study::load(studyFile);
  std::vector<std::string> names = responses;
  if (names.empty())
    for (const Response& r : study.responses()) names.push_back(r.name);
  const ModelRequest request = requestOf(o, confidence);
  std::vector<ModelBuild> builds;
  builds.reserve(names.size());
  for (const std::string& name : names)
    builds.push_back(o.save ? chooseModel(study, name, request) : buildModel(modelData(study, name), request));
  if (o.save) study.save(studyFile);
  Json all = Json::array();
  for (std::size_t k = 0; k < names.size(); ++k) {
    const ModelBuild& build = builds[k];
    if (json) {
      all.push_back(buildJson(names[k], build, request));
      continue;
    }
    if (k > 0) out << "\n";
    printBuild(out, names[k], build, o, request);
  }
  if (json) json::printJson(out, {{"responses", std::move(all)}, {"saved", o.save}});
  if (!json && o.save)
    out << "\nSaved in " << studyFile << " as the chosen model of " << names.size()
        << (names.size() == 1 ? " response" : " responses") << "; optimize and predict now use it\n";
}

std::string modelsUsed(const Study& study) {
  std::string text;
  for (const Response& r : study.responses()) {
    const ModelChoice& c = study.modelChoice(r.name);
    text += (text.empty() ? "" : "; ") + r.name + ": " + c.terms;
    if (!std::isnan(c.power)) text += " (" + c.transform + ", power " + formatNumber(c.power, 4) + ")";
  }
  return text;
}

void runPath(const PathOptions& o, std::ostream& out) {
  const Study study = Study::load(o.study);
  const ModelBuild build = pathModel(study, o.response, o.model, o.confidence);
  const ModelFit& fit = build.fit;
  const std::vector<Factor>& factors = study.factors();
  std::vector<PathPoint> path;
  if (o.ridge) {
    path = ridgeAnalysis(build, o.radius, o.steps, !o.minimize, o.confidence);
    for (PathPoint& p : path)
      for (std::size_t i = 0; i < factors.size(); ++i) p.natural.push_back(toNatural(factors[i], p.coded[i]));
  } else {
    if (o.step.empty()) throw UsageError("--steepest needs --step Factor=change, the factor's change per step");
    const auto [name, change] = parseAssignment(o.step, "--step");
    path = steepestAscent(build, factors, study.factorIndex(name), change, o.steps, !o.minimize, o.confidence);
  }
  if (o.json) {
    Json points = Json::array();
    for (const PathPoint& p : path) {
      Json settings = Json::object();
      for (std::size_t i = 0; i < factors.size(); ++i) settings[factors[i].name] = number(p.natural[i]);
      points.push_back({{"radius", number(p.radius)}, {"settings", settings}, {"insideRegion", p.insideRegion},
                        {"prediction", json::toJson(p.prediction)}});
    }
    json::printJson(out, {{"response", o.response},
                          {"path", o.ridge ? "ridge" : "steepest"},
                          {"direction", o.minimize ? "minimize" : "maximize"},
                          {"model", formatModelTerms(fit.terms, fit.factorNames)},
                          {"transformPower", build.transform ? number(build.transform->lambda) : Json(nullptr)},
                          {"points", points}});
    return;
  }
  out << (o.ridge ? "Ridge analysis" : o.minimize ? "Steepest descent" : "Steepest ascent") << " of " << o.response
      << (o.ridge ? (o.minimize ? " (lowest prediction at each radius)" : " (highest prediction at each radius)") : "")
      << ", model " << formatModelTerms(fit.terms, fit.factorNames) << "\n";
  if (build.transform)
    out << "Fitted on the transformed scale (power " << formatNumber(build.transform->lambda, 4)
        << "); predictions in the response's units, standard errors on the transformed scale\n";
  std::vector<std::string> headings{"Radius"};
  for (const Factor& f : factors) headings.push_back(label(f));
  for (const char* h : {"Predicted", "Std. error", "Region"}) headings.emplace_back(h);
  std::vector<bool> left(headings.size(), false);
  left.back() = true;
  Table table(headings, left);
  for (const PathPoint& p : path) {
    std::vector<std::string> cells{formatNumber(p.radius, 4)};
    for (std::size_t i = 0; i < factors.size(); ++i) cells.push_back(formatNumber(p.natural[i], digitsOf(factors[i])));
    cells.push_back(formatNumber(p.prediction.value));
    cells.push_back(formatNumber(p.prediction.stdError));
    cells.emplace_back(p.insideRegion ? "inside" : "outside");
    table.add(std::move(cells));
  }
  table.print(out);
}

}  // namespace tavrin::cli
