// One build of a response's model: terms, transform, reduction, ANOVA and
// diagnostics, in the order a practitioner takes them.
#include <array>
#include <cmath>
#include <string>
#include <string_view>

#include "study/text.h"
#include "tavrin/error.h"
#include "tavrin/model_building.h"

namespace tavrin {
namespace {

struct NamedPower {
  std::string_view name;
  double lambda;
};
constexpr std::array<NamedPower, 4> kPowers{{{"none", 1.0}, {"sqrt", 0.5}, {"log", 0.0}, {"inverse", -1.0}}};

}  // namespace

double namedPower(std::string_view name) {
  for (const NamedPower& p : kPowers)
    if (p.name == name) return p.lambda;
  throw InvalidArgument("transform " + text::quoted(name) +
                        " is not known: use none, log, sqrt, inverse or boxcox (the power chosen from the data)");
}

ModelBuild buildModel(const ModelData& data, const ModelRequest& request) {
  ModelBuild out;
  out.start = parseModelTerms(request.model, data.factorNames);
  double lambda = 1.0;
  if (request.transform == "boxcox") {
    out.boxCox = boxCox(data, out.start);
    lambda = out.boxCox->recommended;
  } else {
    lambda = namedPower(request.transform);
  }
  ModelData working = data;
  // "none", or Box-Cox recommending no transform: the response as measured.
  if (request.transform != "none" && lambda != 1.0) {
    out.transform = PowerTransform{lambda};
    working = transformResponse(data, *out.transform);
  }
  if (request.reduce) {
    out.reduction = reduceModel(working, out.start, request.reduction);
    out.fit = fitModel(working, out.reduction->fit.terms, request.confidence);
  } else {
    out.fit = fitModel(working, out.start, request.confidence);
  }
  out.anova = anova(working, out.fit);
  out.diagnostics = diagnose(working, out.fit, request.outlierAlpha);
  return out;
}

ModelChoice modelChoice(const ModelRequest& request, const ModelBuild& build) {
  ModelChoice choice;
  choice.model = request.model;
  choice.transform = request.transform;
  choice.reduce = request.reduce;
  choice.reduction = request.reduction;
  const ModelTerms& terms = build.fit.terms;
  if (!(terms == ModelTerms::quadratic(terms.factors))) choice.terms = formatModelTerms(terms, build.fit.factorNames);
  if (build.transform) choice.power = build.transform->lambda;
  return choice;
}

ModelBuild savedModel(const Study& study, std::string_view response, double confidence, double outlierAlpha) {
  const ModelChoice& choice = study.modelChoice(response);
  const ModelData data = modelData(study, response);
  ModelBuild out;
  out.start = parseModelTerms(choice.terms, data.factorNames);
  ModelData working = data;
  if (!std::isnan(choice.power)) {
    out.transform = PowerTransform{choice.power};
    working = transformResponse(data, *out.transform);
  }
  out.fit = fitModel(working, out.start, confidence);
  out.anova = anova(working, out.fit);
  out.diagnostics = diagnose(working, out.fit, outlierAlpha);
  return out;
}

ModelBuild pathModel(const Study& study, std::string_view response, const std::string& model, double confidence) {
  if (model.empty()) return savedModel(study, response, confidence);
  ModelRequest request;
  request.model = model;
  request.confidence = confidence;
  return buildModel(modelData(study, response), request);
}

ModelBuild chooseModel(Study& study, std::string_view response, const ModelRequest& request) {
  ModelBuild build = buildModel(modelData(study, response), request);
  study.setModelChoice(response, modelChoice(request, build));
  return build;
}

}  // namespace tavrin
