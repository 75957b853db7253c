// Runs added to a study, and the evaluation of the design it holds.
#include <algorithm>
#include <limits>
#include <random>

#include "study/held_design.h"
#include "tavrin/optimal_design.h"

namespace tavrin {
namespace {

std::vector<std::string> namesOf(const std::vector<Factor>& factors) {
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  return names;
}

ModelTerms modelOf(const Study& study, std::string_view text) {
  if (text.empty()) return study.designModel();
  try {
    return parseModelTerms(text, namesOf(study.factors()));
  } catch (const Error& e) {
    throw InvalidArgument(e.what(), "model");
  }
}

}  // namespace

ModelTerms Study::designModel() const { return recipeModel(plan_.kind, plan_.design, plan_.factors); }

DesignEvaluation Study::evaluate(std::string_view model, const EvaluationOptions& options) const {
  return evaluateDesign(plan_.actualCoded(), modelOf(*this, model), options);
}

void Study::augment(const AugmentRequest& request) {
  const ModelTerms model = modelOf(*this, request.model);
  const std::uint64_t seed =
      request.seed ? *request.seed : (std::uint64_t{std::random_device{}()} << 32 | std::random_device{}());
  const OptimalDesign made = augmentRuns(plan_, model, request, seed);

  // Everything below only adds; the study is replaced once it is complete.
  const std::size_t old = plan_.runCount();
  const std::size_t added = made.coded.rows() - old;
  Matrix coded(added, plan_.factorCount());
  std::copy(made.coded.row(old), made.coded.row(old) + added * plan_.factorCount(), coded.data());
  Plan plan = plan_;
  const int block = *std::max_element(plan.blocks.begin(), plan.blocks.end()) + 1;
  appendRuns(plan, naturalOf(plan.factors, coded), block, RunOrigin::Augmented);
  for (const int id : executionOrder(added, seed)) plan.executionOrder.push_back(static_cast<int>(old) + id);
  plan.augmentations.push_back({added, request.criterion, request.model, seed, block});

  Matrix results(old + added, responses_.size(), std::numeric_limits<double>::quiet_NaN());
  std::copy(results_.data(), results_.data() + results_.rows() * results_.cols(), results.data());
  plan_ = std::move(plan);
  results_ = std::move(results);
}

}  // namespace tavrin
