// Residual diagnostics of one response's model and the design's scaled
// prediction variance, laid out for plotting.
#include <string>

#include "study/text.h"
#include "tavrin/error.h"
#include "tavrin/views.h"

namespace tavrin::views {

Residuals residuals(const Study& study, std::string_view response, double outlierAlpha) {
  const std::string what = "cannot draw the residuals of " + text::quoted(response) + ": ";
  ModelBuild build;
  try {
    build = savedModel(study, response, 0.95, outlierAlpha);
  } catch (const StateError& e) {
    throw StateError(what + e.what(), e.field());
  }
  if (build.fit.residualDf <= 0)
    throw StateError(what + "the model is saturated (" + std::to_string(build.fit.runs) + " runs for as many "
                         "columns), so every residual is zero; add runs or drop terms",
                     "model");
  Residuals out;
  out.response = std::string(response);
  out.unit = study.responses()[study.responseIndex(response)].unit;
  for (const Factor& f : study.factors()) out.factors.push_back(f.name);
  out.alpha = build.diagnostics.alpha;
  const Matrix& actual = study.plan().actual;
  for (const RunDiagnostic& d : build.diagnostics.runs) {
    ResidualPoint p;
    p.runId = static_cast<int>(d.row) + 1;
    p.order = d.order;
    p.fitted = build.fit.fitted[d.row];
    p.residual = d.residual;
    // On the scale the model was fitted on (transformed when asked).
    p.observed = p.fitted + p.residual;
    p.externallyStudentized = d.externallyStudentized;
    p.normalScore = d.normalScore;
    p.leverage = d.leverage;
    p.cooksDistance = d.cooksDistance;
    p.outlier = d.outlier;
    p.settings.assign(actual.row(d.row), actual.row(d.row) + actual.cols());
    out.runs.push_back(std::move(p));
  }
  return out;
}

PredictionVariance predictionVariance(const Plan& plan, const EvaluationOptions& options) {
  const ModelTerms model = ModelTerms::quadratic(plan.factorCount());
  DesignEvaluation e;
  try {
    e = evaluateDesign(plan.actualCoded(), model, options);
  } catch (const InvalidArgument& err) {
    throw InvalidArgument(std::string("cannot draw the prediction variance: ") + err.what(), err.field());
  }
  PredictionVariance out;
  out.fractions = e.fdsFractions;
  out.spv = e.fdsSpv;
  out.maxSpv = e.fdsSpv.empty() ? 0.0 : e.fdsSpv.back();
  out.meanSpv = e.iCriterion;
  std::vector<std::string> names;
  for (const Factor& f : plan.factors) names.push_back(f.name);
  for (const std::size_t k : model.indices) out.terms.push_back(quadratic::termLabel(names, k));
  out.correlations = e.correlations;
  return out;
}

}  // namespace tavrin::views
