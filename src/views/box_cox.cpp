// The Box-Cox profile of one response, laid out for plotting: the numbers
// are boxCox()'s, with the reason prefixed when it cannot be drawn.
#include <string>
#include <utility>

#include "study/text.h"
#include "tavrin/error.h"
#include "tavrin/views.h"

namespace tavrin::views {

BoxCoxProfile boxCoxProfile(const Study& study, std::string_view response, std::string_view model) {
  const std::string what = "cannot draw the Box-Cox profile of " + text::quoted(response) + ": ";
  const std::string terms = model.empty() ? study.modelChoice(response).model : std::string(model);
  BoxCox box;
  try {
    const ModelData data = modelData(study, response);
    box = boxCox(data, parseModelTerms(terms, data.factorNames));
  } catch (const StateError& e) {
    throw StateError(what + e.what(), e.field());
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(what + e.what(), e.field());
  }
  BoxCoxProfile out;
  out.response = std::string(response);
  out.unit = study.responses()[study.responseIndex(response)].unit;
  out.model = terms;
  out.lambda = std::move(box.gridLambda);
  out.logLikelihood = std::move(box.gridLogLikelihood);
  out.best = box.lambda;
  out.bestLogLikelihood = box.logLikelihood;
  out.lower = box.lower;
  out.upper = box.upper;
  out.cut = box.cut;
  out.recommended = box.recommended;
  out.recommendation = std::move(box.recommendation);
  return out;
}

}  // namespace tavrin::views
