// Least-squares fit of a chosen model with block effects, and its
// predictions at the average block.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <string_view>

#include "analysis/inference.h"
#include "analysis/model_matrix.h"
#include "study/not_a_number.h"
#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin {
namespace analysis {

void checkData(const ModelData& data) {
  const std::size_t runs = data.coded.rows();
  if (data.coded.cols() != data.factorNames.size())
    throw InvalidArgument("the coded settings have " + std::to_string(data.coded.cols()) + " columns for " +
                          std::to_string(data.factorNames.size()) + " factor names");
  if (data.response.size() != runs)
    throw InvalidArgument("there are " + std::to_string(data.response.size()) + " responses for " +
                          std::to_string(runs) + " runs of coded settings");
  for (std::size_t r = 0; r < runs; ++r) {
    if (!std::isfinite(data.response[r]))
      throw InvalidArgument("run " + std::to_string(r + 1) + ": the response is not a finite number");
    for (std::size_t i = 0; i < data.coded.cols(); ++i)
      if (!std::isfinite(data.coded(r, i)))
        throw InvalidArgument("run " + std::to_string(r + 1) + ", factor " + text::quoted(data.factorNames[i]) +
                              ": the coded setting is not a finite number");
  }
  if (!data.blocks.empty() && data.blocks.size() != runs)
    throw InvalidArgument("there are " + std::to_string(data.blocks.size()) + " block labels for " +
                          std::to_string(runs) + " runs; give one per run or none");
  if (!data.blocks.empty() && blockLevels(data.blocks).size() < 2)
    throw InvalidArgument("every run is in block " + std::to_string(data.blocks.front()) +
                          ": blocks need two or more labels; leave the blocks empty for one");
  if (!data.runOrder.empty() && data.runOrder.size() != runs)
    throw InvalidArgument("there are " + std::to_string(data.runOrder.size()) + " run positions for " +
                          std::to_string(runs) + " runs; give one per run or none");
  std::set<int> seen;
  for (std::size_t r = 0; r < data.runOrder.size(); ++r)
    if (!seen.insert(data.runOrder[r]).second)
      throw InvalidArgument("run " + std::to_string(r + 1) + ": run position " + std::to_string(data.runOrder[r]) +
                            " is given twice; positions are distinct");
}

void checkTerms(const ModelTerms& terms, std::size_t factors) {
  if (terms.factors != factors)
    throw InvalidArgument("the model is for " + std::to_string(terms.factors) + " factors; the data have " +
                          std::to_string(factors));
  if (terms.indices.empty() || terms.indices.front() != 0)
    throw InvalidArgument("the model has no intercept: every model keeps it");
  for (std::size_t c = 1; c < terms.indices.size(); ++c)
    if (terms.indices[c] <= terms.indices[c - 1] || terms.indices[c] >= quadratic::termCount(factors))
      throw InvalidArgument("the model's term indices are not increasing within the quadratic's " +
                            std::to_string(quadratic::termCount(factors)) + " terms");
}

std::vector<int> blockLevels(const std::vector<int>& blocks) {
  std::vector<int> levels(blocks);
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  return levels;
}

namespace {

void fillBlocks(const ModelData& data, const std::vector<int>& levels, Eigen::MatrixXd& x, Eigen::Index first) {
  if (levels.empty()) return;
  for (Eigen::Index r = 0; r < x.rows(); ++r) {
    const int label = data.blocks[static_cast<std::size_t>(r)];
    for (std::size_t l = 0; l + 1 < levels.size(); ++l) {
      const double value = label == levels[l] ? 1.0 : label == levels.back() ? -1.0 : 0.0;
      x(r, first + static_cast<Eigen::Index>(l)) = value;
    }
  }
}

Eigen::Index blockColumns(const std::vector<int>& levels) {
  return levels.empty() ? 0 : static_cast<Eigen::Index>(levels.size()) - 1;
}

}  // namespace

Eigen::MatrixXd modelMatrix(const ModelData& data, const ModelTerms& terms, const std::vector<int>& levels) {
  const auto runs = static_cast<Eigen::Index>(data.coded.rows());
  const auto p = static_cast<Eigen::Index>(terms.size());
  Eigen::MatrixXd x(runs, p + blockColumns(levels));
  std::vector<double> row(terms.size());
  for (Eigen::Index r = 0; r < runs; ++r) {
    modelRow(terms, data.coded.row(static_cast<std::size_t>(r)), row.data());
    for (Eigen::Index c = 0; c < p; ++c) x(r, c) = row[static_cast<std::size_t>(c)];
  }
  fillBlocks(data, levels, x, p);
  return x;
}

Eigen::MatrixXd blockMatrix(const ModelData& data, const std::vector<int>& levels) {
  Eigen::MatrixXd x(static_cast<Eigen::Index>(data.coded.rows()), 1 + blockColumns(levels));
  x.col(0).setOnes();
  fillBlocks(data, levels, x, 1);
  return x;
}

Eigen::VectorXd responseVector(const ModelData& data) {
  return Eigen::Map<const Eigen::VectorXd>(data.response.data(), static_cast<Eigen::Index>(data.response.size()));
}

ResidualFit residualFit(const Eigen::MatrixXd& x, const Eigen::VectorXd& y) {
  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(x);
  // Every caller's columns hold the constant, so a common offset changes
  // nothing but the rounding.
  Eigen::VectorXd shifted = y;
  if (shifted.size() > 0) shifted.array() -= y(0);
  const Eigen::VectorXd r = shifted - x * qr.solve(shifted);
  return {r.squaredNorm(), qr.rank()};
}

}  // namespace analysis

namespace {

std::string columnLabel(const ModelFit& fit, std::size_t c) {
  if (c < fit.terms.size()) return quadratic::termLabel(fit.factorNames, fit.terms.indices[c]);
  return "Block " + std::to_string(fit.blockLevels[c - fit.terms.size()]);
}

void checkConfidence(double confidence) {
  if (!(confidence > 0.0 && confidence < 1.0))
    throw InvalidArgument("confidence level " + std::to_string(confidence) +
                          " is not allowed: it must lie strictly between 0 and 1 (e.g. 0.95)");
}

// (X'X)^-1 through R of X P = Q R: P R^-1 R^-T P'.
Eigen::MatrixXd inverseGram(const Eigen::ColPivHouseholderQR<Eigen::MatrixXd>& qr) {
  const Eigen::Index p = qr.cols();
  const Eigen::MatrixXd r = qr.matrixR().topLeftCorner(p, p).triangularView<Eigen::Upper>();
  const Eigen::MatrixXd rInverse =
      r.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(p, p));
  const Eigen::MatrixXd permuted = qr.colsPermutation() * rInverse;
  Eigen::MatrixXd c = permuted * permuted.transpose();
  return (c + c.transpose()) * 0.5;
}

void fillStatistics(ModelFit& out, const ModelData& data, const Eigen::VectorXd& y) {
  const double n = out.runs;
  out.totalSS = (y.array() - y.mean()).square().sum();
  out.sigma = out.residualDf > 0 ? std::sqrt(out.residualSS / out.residualDf) : kNaN;
  // The blocks explain nothing: R-squared is of the variation within them.
  const analysis::ResidualFit withinBlocks = analysis::residualFit(analysis::blockMatrix(data, out.blockLevels), y);
  const double withinDf = n - static_cast<double>(withinBlocks.rank);
  out.rSquared = out.totalSS > 0.0 ? 1.0 - out.residualSS / withinBlocks.ss : kNaN;
  out.adjustedRSquared = out.totalSS > 0.0 && out.residualDf > 0
                             ? 1.0 - (out.residualSS / out.residualDf) / (withinBlocks.ss / withinDf)
                             : kNaN;
  out.logLikelihood =
      out.residualSS > 0.0 ? -0.5 * n * (std::log(2.0 * std::numbers::pi * out.residualSS / n) + 1.0) : kNaN;
  const double k = static_cast<double>(out.unscaledCovariance.rows()) + 1.0;
  out.aicc = n - k - 1.0 > 0.0 ? -2.0 * out.logLikelihood + 2.0 * k + 2.0 * k * (k + 1.0) / (n - k - 1.0) : kNaN;
  if (out.residualDf == 0)
    out.notEstimable = "saturated: " + std::to_string(out.runs) + " runs for " + std::to_string(out.runs) +
                       " model columns leave no residual degree of freedom";
}

void fillEstimates(ModelFit& out, const Eigen::VectorXd& b, const Eigen::MatrixXd& cov, double confidence) {
  const analysis::ErrorScale scale = analysis::errorScale(out.residualSS, out.residualDf, std::nullopt);
  const auto se = [&](double variance) { return scale.sigma * std::sqrt(variance); };
  for (Eigen::Index c = 0; c < b.size(); ++c) {
    const auto k = static_cast<std::size_t>(c);
    out.estimates.push_back({columnLabel(out, k), k >= out.terms.size(),
                             analysis::estimate(b(c), se(cov(c, c)), scale, confidence)});
  }
  if (out.blockLevels.empty()) return;
  // The last block's effect is minus the sum of the others.
  const auto p = static_cast<Eigen::Index>(out.terms.size());
  const Eigen::Index m = b.size() - p;
  const double value = -b.tail(m).sum();
  const double variance = cov.bottomRightCorner(m, m).sum();
  out.estimates.push_back({"Block " + std::to_string(out.blockLevels.back()), true,
                           analysis::estimate(value, se(variance), scale, confidence)});
}

}  // namespace

ModelData modelData(const Study& study, std::string_view response) {
  const std::size_t column = study.responseIndex(response);
  const Plan& plan = study.plan();
  ModelData out;
  for (const Factor& f : plan.factors) out.factorNames.push_back(f.name);
  // The settings the runs were made at, and their blocks when there are two or more.
  out.coded = plan.actualCoded();
  if (std::any_of(plan.blocks.begin(), plan.blocks.end(), [&plan](int b) { return b != plan.blocks.front(); }))
    out.blocks = plan.blocks;
  std::string missing;
  for (std::size_t r = 0; r < plan.runCount(); ++r) {
    const double y = study.results()(r, column);
    if (std::isnan(y)) missing += (missing.empty() ? "" : ", ") + std::to_string(r + 1);
    out.response.push_back(y);
    out.runOrder.push_back(plan.orderOf(static_cast<int>(r) + 1));
  }
  if (!missing.empty())
    throw StateError("response " + text::quoted(response) + " has no result for run " + missing +
                     "; enter every result before fitting");
  return out;
}

ModelFit fitModel(const ModelData& data, const ModelTerms& terms, double confidence) {
  analysis::checkData(data);
  analysis::checkTerms(terms, data.factorNames.size());
  checkConfidence(confidence);

  ModelFit out;
  out.factorNames = data.factorNames;
  out.terms = terms;
  out.blockLevels = analysis::blockLevels(data.blocks);
  const Eigen::MatrixXd x = analysis::modelMatrix(data, terms, out.blockLevels);
  out.runs = static_cast<int>(x.rows());
  out.residualDf = out.runs - static_cast<int>(x.cols());
  if (out.residualDf < 0)
    throw InvalidArgument("the model has " + std::to_string(x.cols()) + " columns (terms and block effects) for " +
                          std::to_string(out.runs) + " runs: at least as many runs as columns are needed");

  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(x);
  if (qr.rank() < x.cols()) {
    const auto dependent = static_cast<std::size_t>(qr.colsPermutation().indices()(qr.rank()));
    throw StateError("the settings cannot separate " + text::quoted(columnLabel(out, dependent)) +
                     " from the other terms: the model matrix has rank " + std::to_string(qr.rank()) + " < " +
                     std::to_string(x.cols()) + " columns; drop that term or add runs");
  }
  const Eigen::VectorXd y = analysis::responseVector(data);
  const double offset = y(0);
  const Eigen::VectorXd shifted = y.array() - offset;
  Eigen::VectorXd b = qr.solve(shifted);
  const Eigen::VectorXd residual = shifted - x * b;
  b(0) += offset;

  const Eigen::MatrixXd cov = inverseGram(qr);
  out.unscaledCovariance = Matrix(static_cast<std::size_t>(cov.rows()), static_cast<std::size_t>(cov.cols()));
  Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
      out.unscaledCovariance.data(), cov.rows(), cov.cols()) = cov;
  const Eigen::VectorXd leverage = (x * cov).cwiseProduct(x).rowwise().sum();
  for (Eigen::Index r = 0; r < x.rows(); ++r) {
    out.residuals.push_back(residual(r));
    out.fitted.push_back(y(r) - residual(r));
    out.leverages.push_back(leverage(r));
  }
  out.residualSS = residual.squaredNorm();
  out.coefficients.assign(quadratic::termCount(terms.factors), 0.0);
  for (std::size_t c = 0; c < terms.size(); ++c) out.coefficients[terms.indices[c]] = b(static_cast<Eigen::Index>(c));
  fillStatistics(out, data, y);
  fillEstimates(out, b, cov, confidence);
  out.hierarchy = hierarchyWarning(terms, data.factorNames);
  return out;
}

std::vector<Prediction> predictModel(const ModelFit& fit, const Matrix& codedPoints, double confidence) {
  checkConfidence(confidence);
  const std::size_t n = fit.terms.factors;
  if (codedPoints.cols() != n)
    throw InvalidArgument("points have " + std::to_string(codedPoints.cols()) + " columns; the model has " +
                          std::to_string(n) + " factors");
  const analysis::ErrorScale scale = analysis::errorScale(fit.residualSS, fit.residualDf, std::nullopt);
  const double q = analysis::criticalValue(scale, confidence);
  const auto cov = analysis::view(fit.unscaledCovariance);
  const auto p = static_cast<Eigen::Index>(fit.terms.size());
  std::vector<Prediction> out;
  Eigen::VectorXd row = Eigen::VectorXd::Zero(cov.rows());  // block columns stay 0: the average block
  for (std::size_t k = 0; k < codedPoints.rows(); ++k) {
    const double* x = codedPoints.row(k);
    for (std::size_t i = 0; i < n; ++i)
      if (!std::isfinite(x[i]))
        throw InvalidArgument("point " + std::to_string(k + 1) + ", factor " + text::quoted(fit.factorNames[i]) +
                              ": the coded value is not a finite number");
    modelRow(fit.terms, x, row.data());
    Prediction pr;
    pr.value = quadratic::evaluate(n, fit.coefficients.data(), x);
    pr.stdError = scale.sigma * std::sqrt(row.head(p).dot(cov.topLeftCorner(p, p) * row.head(p)));
    const double newObservation = std::sqrt(scale.sigma * scale.sigma + pr.stdError * pr.stdError);
    pr.confidenceLow = pr.value - q * pr.stdError;
    pr.confidenceHigh = pr.value + q * pr.stdError;
    pr.predictionLow = pr.value - q * newObservation;
    pr.predictionHigh = pr.value + q * newObservation;
    out.push_back(pr);
  }
  return out;
}

}  // namespace tavrin
