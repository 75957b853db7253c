#include <cmath>
#include <string>

#include "designs/optimal_problem.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

bool usesCloud(Criterion criterion) { return criterion == Criterion::Cloud || criterion == Criterion::Optimum; }

bool allNaN(const Matrix& m, std::size_t r) {
  for (std::size_t i = 0; i < m.cols(); ++i)
    if (!std::isnan(m(r, i))) return false;
  return true;
}

// Throws naming the first setting of `m` that is not finite.
void requireFinite(const Matrix& m, const std::string& what) {
  for (std::size_t r = 0; r < m.rows(); ++r)
    for (std::size_t i = 0; i < m.cols(); ++i)
      if (!std::isfinite(m(r, i)))
        throw InvalidArgument(what + " " + std::to_string(r + 1) + ", factor " + std::to_string(i + 1) +
                              ": the setting is not finite");
}

// The cloud's rows that are not entirely NaN, in coded units.
Matrix codedCloud(const Matrix& cloud, const AugmentOptions& options) {
  std::vector<std::size_t> rows;
  for (std::size_t r = 0; r < cloud.rows(); ++r)
    if (!allNaN(cloud, r)) rows.push_back(r);
  Matrix coded(rows.size(), cloud.cols());
  for (std::size_t k = 0; k < rows.size(); ++k)
    for (std::size_t i = 0; i < cloud.cols(); ++i) {
      const double x = cloud(rows[k], i);
      if (!std::isfinite(x))
        throw InvalidArgument("cloud point " + std::to_string(rows[k] + 1) + ", factor " + std::to_string(i + 1) +
                              ": the setting is not finite");
      coded(k, i) = options.factors.empty() ? x : toCoded(options.factors[i], x);
    }
  return coded;
}

void validateAugment(const Matrix& existing, const ModelTerms& model, const AugmentOptions& options) {
  designs::validateOptions(model, options);
  if (existing.cols() != model.factors)
    throw InvalidArgument("the existing design has " + std::to_string(existing.cols()) +
                          " columns; the model has " + std::to_string(model.factors) + " factors");
  requireFinite(existing, "existing run");
  if (options.runs == 0) throw InvalidArgument("runs to add must be at least 1");
  const std::size_t total = existing.rows() + options.runs;
  if (total < model.size())
    throw InvalidArgument(std::to_string(total) + " runs in all (" + std::to_string(existing.rows()) + " kept, " +
                          std::to_string(options.runs) + " added) cannot estimate the model's " +
                          std::to_string(model.size()) + " terms");
  const bool cloudCriterion = usesCloud(options.criterion);
  if (!cloudCriterion && options.cloud.rows() > 0)
    throw InvalidArgument("cloud points are given but the criterion is neither Cloud nor Optimum");
  if (cloudCriterion && options.cloud.rows() == 0)
    throw InvalidArgument("the Cloud and Optimum criteria need cloud points; none is given");
  if (cloudCriterion && options.cloud.cols() != model.factors)
    throw InvalidArgument("the cloud has " + std::to_string(options.cloud.cols()) + " columns; the model has " +
                          std::to_string(model.factors) + " factors");
}

}  // namespace

OptimalDesign augmentDesign(const Matrix& existingCoded, const ModelTerms& model, const AugmentOptions& options) {
  validateAugment(existingCoded, model, options);
  Matrix cloud;
  if (usesCloud(options.criterion)) {
    cloud = codedCloud(options.cloud, options);
    if (cloud.rows() == 0) throw InvalidArgument("every cloud point given is NaN");
  }
  const designs::ExchangeProblem problem = designs::makeProblem(model, options, existingCoded, options.runs, cloud);
  return designs::bestOfStarts(problem, options);
}

}  // namespace tavrin
