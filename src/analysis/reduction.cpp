// Backward elimination that keeps the model hierarchical.
#include <algorithm>
#include <cstdio>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/model_matrix.h"
#include "study/not_a_number.h"
#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

ModelTerms without(const ModelTerms& model, std::size_t index) {
  ModelTerms out = model;
  out.indices.erase(std::find(out.indices.begin(), out.indices.end(), index));
  return out;
}

// True when a term of `model` other than `index` contains it (A in A:B or A^2).
bool isParentInModel(const ModelTerms& model, std::size_t index) {
  const std::vector<std::size_t> lacking = missingParents(without(model, index));
  return std::binary_search(lacking.begin(), lacking.end(), index);
}

std::vector<std::size_t> parseLabels(const std::vector<std::string>& labels, const ModelTerms& start,
                                     const std::vector<std::string>& names, const char* what) {
  std::vector<std::size_t> out;
  for (const std::string& label : labels) {
    const std::size_t index = parseTerm(label, names);
    if (index == 0)
      throw InvalidArgument(std::string(what) + " " + text::quoted(label) +
                            ": the intercept is always kept and cannot be forced");
    if (!start.contains(index))
      throw InvalidArgument(std::string(what) + " " + text::quoted(label) + ": the term is not in the model " +
                            text::quoted(formatModelTerms(start, names)));
    if (std::find(out.begin(), out.end(), index) != out.end())
      throw InvalidArgument(std::string(what) + " " + text::quoted(label) + ": the term is listed twice");
    out.push_back(index);
  }
  return out;
}

// The forced-in terms and every parent they need.
std::vector<std::size_t> protectedTerms(const std::vector<std::size_t>& forceIn, std::size_t n) {
  ModelTerms closure{n, {0}};
  for (const std::size_t index : forceIn) closure.indices.push_back(index);
  std::sort(closure.indices.begin(), closure.indices.end());
  for (const std::size_t parent : missingParents(closure)) closure.indices.push_back(parent);
  std::sort(closure.indices.begin(), closure.indices.end());
  return closure.indices;
}

double termP(const ModelFit& fit, std::size_t index) {
  const auto at = std::find(fit.terms.indices.begin(), fit.terms.indices.end(), index);
  return fit.estimates[static_cast<std::size_t>(at - fit.terms.indices.begin())].estimate.p;
}

std::string label(const ModelFit& fit, std::size_t index) { return quadratic::termLabel(fit.factorNames, index); }

std::string formatNumber(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", x);
  return text;
}

void refuseEmpty(const ModelFit& fit, std::size_t index, const std::string& why) {
  throw StateError("removing " + text::quoted(label(fit, index)) + ", the last term (" + why +
                   "), would leave the intercept alone: the data support no term of the model; keep it with "
                   "forceIn or review the model");
}

// Refuses forced removals that break hierarchy or leave the intercept alone.
void checkForceOut(const ModelData& data, const ModelTerms& start, const std::vector<std::size_t>& forceOut) {
  ModelTerms after = start;
  for (const std::size_t index : forceOut) after = without(after, index);
  if (after.size() == 1)
    throw InvalidArgument("forceOut removes every term of the model; the intercept alone is no model to reduce");
  const std::vector<std::size_t> lacking = missingParents(after);
  for (const std::size_t index : forceOut)
    if (std::binary_search(lacking.begin(), lacking.end(), index))
      throw InvalidArgument("forceOut " + text::quoted(quadratic::termLabel(data.factorNames, index)) +
                            ": a kept term contains it (" + hierarchyWarning(after, data.factorNames) +
                            "); force that term out too");
}

std::optional<std::size_t> largestP(const ModelFit& fit, const std::vector<std::size_t>& candidates) {
  std::optional<std::size_t> best;
  for (const std::size_t index : candidates) {
    const double p = termP(fit, index);
    if (std::isnan(p))
      throw StateError("term " + text::quoted(label(fit, index)) +
                       " has no p value: the model leaves no residual degree of freedom to test its terms");
    if (!best || p > termP(fit, *best)) best = index;
  }
  return best;
}

struct Step {
  std::size_t term = 0;
  double p = kNaN;
  double deltaAicc = kNaN;
  ModelFit next;
};

// The candidate of largest p, when it exceeds the threshold.
std::optional<Step> stepByP(const ModelData& data, const ModelFit& fit, const std::vector<std::size_t>& candidates,
                            double pToRemove) {
  const std::size_t chosen = *largestP(fit, candidates);
  const double p = termP(fit, chosen);
  if (!(p > pToRemove)) return std::nullopt;
  if (fit.terms.size() == 2) refuseEmpty(fit, chosen, "p = " + formatNumber(p) + " > " + formatNumber(pToRemove));
  ModelFit next = fitModel(data, without(fit.terms, chosen));
  const double delta = next.aicc - fit.aicc;
  return Step{chosen, p, delta, std::move(next)};
}

// The candidate whose removal lowers AICc most, when one does.
std::optional<Step> stepByAicc(const ModelData& data, const ModelFit& fit,
                               const std::vector<std::size_t>& candidates) {
  if (std::isnan(fit.aicc))
    throw StateError("AICc is not defined for " + std::to_string(fit.runs) + " runs and " +
                     std::to_string(fit.unscaledCovariance.rows()) +
                     " model columns: it needs more runs than columns + 2; reduce by p instead");
  std::optional<Step> best;
  for (const std::size_t index : candidates) {
    ModelFit trial = fitModel(data, without(fit.terms, index));
    if (!best || trial.aicc < best->next.aicc) best = Step{index, termP(fit, index), kNaN, std::move(trial)};
  }
  best->deltaAicc = best->next.aicc - fit.aicc;
  if (!(best->deltaAicc < 0.0)) return std::nullopt;
  if (fit.terms.size() == 2) refuseEmpty(fit, best->term, "AICc change " + formatNumber(best->deltaAicc));
  return best;
}

// Terms that may go: not the intercept, not protected, not contained in a kept term.
std::vector<std::size_t> candidatesOf(const ModelTerms& model, const std::vector<std::size_t>& keep) {
  std::vector<std::size_t> out;
  for (const std::size_t index : model.indices)
    if (index != 0 && !std::binary_search(keep.begin(), keep.end(), index) && !isParentInModel(model, index))
      out.push_back(index);
  return out;
}

}  // namespace

Reduction reduceModel(const ModelData& data, const ModelTerms& start, const ReductionOptions& options) {
  analysis::checkData(data);
  analysis::checkTerms(start, data.factorNames.size());
  if (!(options.pToRemove > 0.0 && options.pToRemove < 1.0))
    throw InvalidArgument("p to remove " + std::to_string(options.pToRemove) +
                          " is not allowed: it must lie strictly between 0 and 1 (e.g. 0.10)");
  const std::vector<std::size_t> forceIn = parseLabels(options.forceIn, start, data.factorNames, "forceIn");
  const std::vector<std::size_t> forceOut = parseLabels(options.forceOut, start, data.factorNames, "forceOut");
  for (const std::size_t index : forceIn)
    if (std::find(forceOut.begin(), forceOut.end(), index) != forceOut.end())
      throw InvalidArgument("term " + text::quoted(quadratic::termLabel(data.factorNames, index)) +
                            " is forced both in and out");
  const std::vector<std::size_t> keep = protectedTerms(forceIn, start.factors);

  checkForceOut(data, start, forceOut);

  Reduction out;
  ModelTerms model = start;
  ModelFit fit = fitModel(data, model);
  // Forced removals first, each reported with its p and AICc change.
  for (const std::size_t index : forceOut) {
    ModelFit next = fitModel(data, without(model, index));
    out.steps.push_back({label(fit, index), true, termP(fit, index), next.aicc - fit.aicc, next.terms});
    model = next.terms;
    fit = std::move(next);
  }
  for (;;) {
    const std::vector<std::size_t> candidates = candidatesOf(model, keep);
    if (candidates.empty()) break;
    std::optional<Step> step = options.criterion == ReductionOptions::PValue
                                   ? stepByP(data, fit, candidates, options.pToRemove)
                                   : stepByAicc(data, fit, candidates);
    if (!step) break;
    model = step->next.terms;
    out.steps.push_back({label(fit, step->term), false, step->p, step->deltaAicc, model});
    fit = std::move(step->next);
  }
  out.fit = std::move(fit);
  return out;
}

}  // namespace tavrin
