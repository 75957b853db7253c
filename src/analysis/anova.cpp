// Analysis of variance of a fitted model: sequential sums of squares by
// group, partial sums of squares per term, and the split of the residual
// into lack of fit and pure error.
#include <boost/math/distributions/fisher_f.hpp>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/inference.h"
#include "analysis/lack_of_fit.h"
#include "analysis/model_matrix.h"
#include "study/not_a_number.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

// A row tested against the residual mean square; no test without df on either side.
AnovaRow tested(std::string source, int df, double ss, const ModelFit& fit) {
  AnovaRow row{std::move(source), df, ss, df > 0 ? ss / df : kNaN, kNaN, kNaN};
  if (df <= 0 || fit.residualDf <= 0 || !(fit.residualSS > 0.0)) return row;
  row.f = row.ms / (fit.residualSS / fit.residualDf);
  row.p = boost::math::cdf(boost::math::complement(
      boost::math::fisher_f_distribution<>(static_cast<double>(df), static_cast<double>(fit.residualDf)), row.f));
  return row;
}

ModelTerms upToKind(const ModelTerms& terms, quadratic::Term::Kind last) {
  // Group order: linear, product (interaction), square, as the sequential table adds them.
  const auto rank = [](quadratic::Term::Kind kind) {
    switch (kind) {
      case quadratic::Term::Constant: return 0;
      case quadratic::Term::Linear: return 1;
      case quadratic::Term::Product: return 2;
      case quadratic::Term::Square: return 3;
    }
    return 3;
  };
  ModelTerms out{terms.factors, {}};
  for (const std::size_t index : terms.indices)
    if (rank(quadratic::term(terms.factors, index).kind) <= rank(last)) out.indices.push_back(index);
  return out;
}

std::vector<AnovaRow> sequentialRows(const ModelData& data, const ModelFit& fit, const Eigen::VectorXd& y) {
  std::vector<AnovaRow> rows;
  analysis::ResidualFit previous = analysis::residualFit(Eigen::MatrixXd::Ones(y.size(), 1), y);
  if (!fit.blockLevels.empty()) {
    const analysis::ResidualFit next = analysis::residualFit(analysis::blockMatrix(data, fit.blockLevels), y);
    rows.push_back(tested("Blocks", static_cast<int>(next.rank - previous.rank), previous.ss - next.ss, fit));
    previous = next;
  }
  const std::pair<const char*, quadratic::Term::Kind> groups[] = {{"Linear", quadratic::Term::Linear},
                                                                  {"Interaction", quadratic::Term::Product},
                                                                  {"Square", quadratic::Term::Square}};
  for (const auto& [name, kind] : groups) {
    const ModelTerms sub = upToKind(fit.terms, kind);
    const analysis::ResidualFit next = analysis::residualFit(analysis::modelMatrix(data, sub, fit.blockLevels), y);
    if (next.rank == previous.rank) continue;
    rows.push_back(tested(name, static_cast<int>(next.rank - previous.rank), previous.ss - next.ss, fit));
    previous = next;
  }
  return rows;
}

std::vector<AnovaRow> partialRows(const ModelData& data, const ModelFit& fit, const Eigen::VectorXd& y) {
  std::vector<AnovaRow> rows;
  if (!fit.blockLevels.empty()) {
    const Eigen::MatrixXd x = analysis::modelMatrix(data, fit.terms, {});
    const int df = static_cast<int>(fit.blockLevels.size()) - 1;
    rows.push_back(tested("Blocks", df, analysis::residualFit(x, y).ss - fit.residualSS, fit));
  }
  for (std::size_t c = 1; c < fit.terms.size(); ++c) {
    // SS of dropping one column = b^2 / [(X'X)^-1]_cc, which is t^2 times the residual mean square.
    const double b = fit.estimates[c].estimate.value;
    const double ss = b * b / fit.unscaledCovariance(c, c);
    rows.push_back(tested(fit.estimates[c].term, 1, ss, fit));
  }
  return rows;
}

// Pure error: the residual of one mean per distinct setting plus the block effects.
void splitResidual(const ModelData& data, const ModelFit& fit, const Eigen::VectorXd& y, Anova& out) {
  const LackOfFit split = analysis::lackOfFit(analysis::pureError(data.coded, data.blocks, y), fit.residualSS,
                                              fit.residualDf);
  const auto meanSquare = [](double ss, int df) { return df > 0 ? ss / df : kNaN; };
  out.pureError = {"Pure error", split.pureErrorDf, split.pureErrorSS,
                   meanSquare(split.pureErrorSS, split.pureErrorDf), kNaN, kNaN};
  out.lackOfFit = {"Lack of fit", split.lackOfFitDf, split.lackOfFitSS,
                   meanSquare(split.lackOfFitSS, split.lackOfFitDf), split.f, split.p};
  out.lackOfFitReason = split.reason;
}

}  // namespace

Anova anova(const ModelData& data, const ModelFit& fit) {
  analysis::checkData(data);
  if (data.coded.rows() != static_cast<std::size_t>(fit.runs) || data.factorNames != fit.factorNames ||
      analysis::blockLevels(data.blocks) != fit.blockLevels)
    throw InvalidArgument("the data are not those of the fit: runs, factor names or blocks differ");
  const Eigen::VectorXd y = analysis::responseVector(data);
  Anova out;
  out.sequential = sequentialRows(data, fit, y);
  out.partial = partialRows(data, fit, y);
  const analysis::ResidualFit blocksOnly = analysis::residualFit(analysis::blockMatrix(data, fit.blockLevels), y);
  out.model = tested("Model", static_cast<int>(fit.terms.size()) - 1, blocksOnly.ss - fit.residualSS, fit);
  out.residual = {"Residual", fit.residualDf, fit.residualSS, fit.residualDf > 0 ? fit.sigma * fit.sigma : kNaN,
                  kNaN, kNaN};
  out.total = {"Total", fit.runs - 1, fit.totalSS, kNaN, kNaN, kNaN};
  splitResidual(data, fit, y, out);
  return out;
}

}  // namespace tavrin
