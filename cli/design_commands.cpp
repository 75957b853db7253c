// `tavrin augment` and `tavrin evaluate`: runs added to a study's design,
// and the design's evaluation for a model.
#include <cmath>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "json_io.h"
#include "tavrin/study_file.h"
#include "text.h"

namespace tavrin::cli {
namespace {

using json::Json;

std::vector<std::string> namesOf(const std::vector<Factor>& factors) {
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  return names;
}

ModelTerms modelOf(const Study& study, const std::string& text) {
  return text.empty() ? study.designModel() : parseModelTerms(text, namesOf(study.factors()));
}

std::string percent(double value) { return formatNumber(value, 4) + "%"; }

void printEvaluation(std::ostream& out, const DesignEvaluation& e, const ModelTerms& model,
                     const std::vector<Factor>& factors) {
  const std::vector<std::string> names = namesOf(factors);
  out << "Design evaluation for the model " << formatModelTerms(model, names) << ": " << e.runs << " runs, "
      << e.terms << " terms, " << e.residualDf << " residual df\n";
  out << "  D-efficiency " << percent(e.dEfficiency) << ", A-efficiency " << percent(e.aEfficiency)
      << ", G-efficiency " << percent(e.gEfficiency) << "\n";
  out << "  Average scaled prediction variance over the cube (I) " << formatNumber(e.iCriterion, 4)
      << ", condition number " << formatNumber(e.conditionNumber, 4) << "\n\n";
  Table table({"Term", "Var(b)/sigma^2", "VIF", "Power"}, {true});
  for (std::size_t c = 0; c < model.size(); ++c)
    table.add({quadratic::termLabel(names, model.indices[c]), formatNumber(e.coefficientVariance[c], 4),
               std::isnan(e.vif[c]) ? "" : formatNumber(e.vif[c], 4),
               std::isnan(e.power[c]) ? "" : formatNumber(e.power[c], 3)});
  table.print(out);
  out << "  Power: of a two-sided t test at 5% to detect a coefficient of 1 coded unit with sigma 1.\n\n";
  out << "Scaled prediction variance over the design space (fraction: SPV)\n ";
  const std::size_t last = e.fdsFractions.size() - 1;
  for (std::size_t q = 0; q <= 4; ++q) {
    const std::size_t k = q * last / 4;
    out << "  " << formatNumber(e.fdsFractions[k], 2) << ": " << formatNumber(e.fdsSpv[k], 4);
  }
  out << "\n";
}

// Runs by a criterion; goals (for cloud and optimum) go to the layer, which completes and checks them.
void augmentByCriterion(Study& study, const AugmentCommandOptions& o) {
  if (!o.runs) throw UsageError("augment needs --runs N, or --fold");
  AugmentRequest request;
  request.runs = *o.runs;
  request.criterion = parseCriterion(o.criterion);
  request.model = o.model;
  request.replicates = o.replicates;
  request.threads = o.threads;
  if (o.seed) request.seed = parseSeed(*o.seed);
  Goals goals;
  goals.goals = parseGoals(o.maximize, o.minimize, o.target);
  goals.constraints = parseConstraints(o.within);
  if (goals.goals.empty() && goals.constraints.empty()) return study.augment(request);
  study.augment(request, goals);
}

void foldStudy(Study& study, const AugmentCommandOptions& o) {
  FoldRequest request;
  if (o.alpha) request.options.alpha = parseAlpha(*o.alpha);
  request.options.centerRuns = o.centerRuns;
  if (o.seed) request.seed = parseSeed(*o.seed);
  study.fold(request);
}

// The first run a fold adds is the axial run at -alpha on the first factor.
std::string addedText(const Study& study, const Augmentation& added, std::size_t first) {
  if (added.fold)
    return "folded into a central composite design, alpha " + formatNumber(-study.plan().coded(first, 0), 6) + ", " +
           std::to_string(*added.fold->centerRuns) + " centre runs, seed " + std::to_string(added.seed);
  return "criterion " + std::string(criterionName(added.criterion)) + ", model " +
         formatModelTerms(modelOf(study, added.model), namesOf(study.factors())) + ", seed " + std::to_string(added.seed);
}

}  // namespace

void runAugment(const AugmentCommandOptions& o, std::ostream& out) {
  // Held from reading to saving: another writer waits instead of losing an update.
  const StudyFileLock lock(o.study);
  Study study = Study::load(o.study);
  const std::size_t before = study.plan().runCount();
  if (o.fold) foldStudy(study, o);
  else augmentByCriterion(study, o);
  study.save(o.study);
  if (o.json) return json::printJson(out, json::studyJson(study));
  const Augmentation& added = study.plan().augmentations.back();
  out << "Added runs " << before + 1 << ".." << study.plan().runCount() << " to " << o.study << " in block "
      << added.block << " (" << addedText(study, added, before) << ")\n\n";
  printStudy(out, study);
}

void runEvaluate(const EvaluateOptions& o, std::ostream& out) {
  const Study study = Study::load(o.study);
  const ModelTerms model = modelOf(study, o.model);
  const DesignEvaluation evaluation = study.evaluate(o.model);
  if (o.json) return json::printJson(out, json::evaluationJson(evaluation, model, study.factors()));
  printEvaluation(out, evaluation, model, study.factors());
}

}  // namespace tavrin::cli
