// Analysis of variance of a fitted model: sequential sums of squares by
// group, partial sums of squares per term, and the split of the residual
// into lack of fit and pure error.
#include <boost/math/distributions/fisher_f.hpp>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "analysis/inference.h"
#include "analysis/model_matrix.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
  std::map<std::vector<double>, Eigen::Index> cells;
  const std::size_t n = data.coded.cols();
  std::vector<Eigen::Index> cellOf(data.coded.rows());
  for (std::size_t r = 0; r < data.coded.rows(); ++r) {
    const std::vector<double> setting(data.coded.row(r), data.coded.row(r) + n);
    cellOf[r] = cells.emplace(setting, static_cast<Eigen::Index>(cells.size())).first->second;
  }
  const Eigen::MatrixXd blocks = analysis::blockMatrix(data, fit.blockLevels);
  Eigen::MatrixXd x = Eigen::MatrixXd::Zero(y.size(), static_cast<Eigen::Index>(cells.size()) + blocks.cols() - 1);
  for (Eigen::Index r = 0; r < y.size(); ++r) x(r, cellOf[static_cast<std::size_t>(r)]) = 1.0;
  x.rightCols(blocks.cols() - 1) = blocks.rightCols(blocks.cols() - 1);
  const analysis::ResidualFit pure = analysis::residualFit(x, y);

  const int pureDf = static_cast<int>(y.size() - pure.rank);
  const int lackDf = fit.residualDf - pureDf;
  out.pureError = {"Pure error", pureDf, pure.ss, pureDf > 0 ? pure.ss / pureDf : kNaN, kNaN, kNaN};
  // Rounding can leave a tiny negative difference when the model passes through every cell mean.
  const double lackSS = std::max(0.0, fit.residualSS - pure.ss);
  out.lackOfFit = {"Lack of fit", lackDf, lackSS, lackDf > 0 ? lackSS / lackDf : kNaN, kNaN, kNaN};
  if (pureDf == 0) {
    out.lackOfFitReason = "no setting is repeated, so there is no pure error to test the lack of fit against";
    return;
  }
  if (lackDf <= 0) {
    out.lackOfFitReason = "as many distinct settings (" + std::to_string(cells.size()) +
                          ") as model terms: no degree of freedom is left for lack of fit";
    return;
  }
  if (pure.ss == 0.0) {
    out.lackOfFitReason = "the repeated runs agree exactly (pure error 0), so the lack-of-fit F is not defined";
    return;
  }
  out.lackOfFit.f = out.lackOfFit.ms / out.pureError.ms;
  out.lackOfFit.p = boost::math::cdf(boost::math::complement(
      boost::math::fisher_f_distribution<>(static_cast<double>(lackDf), static_cast<double>(pureDf)),
      out.lackOfFit.f));
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
