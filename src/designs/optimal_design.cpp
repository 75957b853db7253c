#include "designs/optimal_problem.h"
#include "tavrin/error.h"

namespace tavrin {

OptimalDesign optimalDesign(const ModelTerms& model, const OptimalOptions& options) {
  designs::validateOptions(model, options);
  if (options.criterion == Criterion::Cloud || options.criterion == Criterion::Optimum)
    throw InvalidArgument("the Cloud and Optimum criteria need an existing design and a cloud: use augmentDesign");
  if (options.runs < model.size())
    throw InvalidArgument(std::to_string(options.runs) + " runs cannot estimate the model's " +
                          std::to_string(model.size()) + " terms");
  const designs::ExchangeProblem problem =
      designs::makeProblem(model, options, Matrix(0, model.factors), options.runs, Matrix());
  return designs::bestOfStarts(problem, options);
}

}  // namespace tavrin
