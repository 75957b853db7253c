// Runs added to a study, and the evaluation of the design it holds.
#include <algorithm>
#include <limits>
#include <random>
#include <string>

#include "study/held_design.h"
#include "tavrin/optimal_design.h"
#include "tavrin/optimum.h"

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

std::uint64_t seedOf(const std::optional<std::uint64_t>& seed) {
  return seed ? *seed : (std::uint64_t{std::random_device{}()} << 32 | std::random_device{}());
}

bool folded(const Plan& plan) {
  return std::any_of(plan.augmentations.begin(), plan.augmentations.end(),
                     [](const Augmentation& a) { return a.fold.has_value(); });
}

}  // namespace

ModelTerms Study::designModel() const {
  if (folded(plan_)) return ModelTerms::quadratic(plan_.factorCount());
  return recipeModel(plan_.kind, plan_.design, plan_.factors);
}

DesignEvaluation Study::evaluate(std::string_view model, const EvaluationOptions& options) const {
  return evaluateDesign(plan_.actualCoded(), modelOf(*this, model), options);
}

// Everything below only adds; the study is replaced once it is complete.
void Study::addRuns(Plan plan, const Augmentation& record) {
  const std::size_t old = plan_.runCount();
  for (const int id : executionOrder(record.runs, record.seed)) plan.executionOrder.push_back(static_cast<int>(old) + id);
  plan.augmentations.push_back(record);
  Matrix results(plan.runCount(), responses_.size(), std::numeric_limits<double>::quiet_NaN());
  std::copy(results_.data(), results_.data() + results_.rows() * results_.cols(), results.data());
  plan_ = std::move(plan);
  results_ = std::move(results);
}

void Study::augment(const AugmentRequest& request) {
  const ModelTerms model = modelOf(*this, request.model);
  const std::uint64_t seed = seedOf(request.seed);
  const OptimalDesign made = augmentRuns(plan_, model, request, seed);

  const std::size_t old = plan_.runCount();
  const std::size_t added = made.coded.rows() - old;
  Matrix coded(added, plan_.factorCount());
  std::copy(made.coded.row(old), made.coded.row(old) + added * plan_.factorCount(), coded.data());
  Plan plan = plan_;
  const int block = *std::max_element(plan.blocks.begin(), plan.blocks.end()) + 1;
  appendRuns(plan, naturalOf(plan.factors, coded), block, RunOrigin::Augmented);
  addRuns(std::move(plan), {added, request.criterion, request.model, seed, block});
}

void Study::augment(const AugmentRequest& request, const Goals& goals) {
  if (request.criterion != Criterion::Cloud && request.criterion != Criterion::Optimum)
    throw InvalidArgument("goals make the cloud of the cloud and optimum criteria; the " +
                              std::string(criterionName(request.criterion)) + " criterion takes none",
                          "criterion");
  if (request.cloud.rows() > 0) throw InvalidArgument("give goals or cloud points, not both", "cloud");
  const Fit current = fit();
  SearchOptions search;
  search.threads = request.threads;
  const Optimum nominal = optimize(current, goals, search);
  RobustnessOptions spread;
  spread.seed = seedOf(request.seed);
  spread.replicates = request.replicates;
  spread.threads = request.threads;
  AugmentRequest withCloud = request;
  withCloud.seed = spread.seed;
  withCloud.cloud = robustness(current, goals, nominal, spread).optima;
  augment(withCloud);
}

void Study::fold(const FoldRequest& request) {
  const auto axial = std::find(plan_.origins.begin(), plan_.origins.end(), RunOrigin::Axial);
  if (axial != plan_.origins.end())
    throw InvalidArgument("run " + std::to_string(axial - plan_.origins.begin() + 1) +
                              " is an axial run: the design is a central composite design already, and only a "
                              "two-level factorial folds into one",
                          "fold");
  const FoldedRuns made = foldRuns(plan_, request.options);
  Plan plan = plan_;
  appendCodedRuns(plan, made.runs);
  Augmentation record;
  record.runs = made.runs.runCount();
  record.seed = seedOf(request.seed);
  record.block = made.runs.blocks.front();
  record.fold = FoldOptions{request.options.alpha.value_or(Alpha{AlphaKind::Orthogonal, 0.0}), made.centerRuns};
  addRuns(std::move(plan), record);
}

}  // namespace tavrin
