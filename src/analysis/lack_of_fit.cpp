#include "analysis/lack_of_fit.h"

#include <boost/math/distributions/fisher_f.hpp>
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "analysis/inference.h"
#include "analysis/model_matrix.h"
#include "study/not_a_number.h"
#include "tavrin/quadratic.h"

namespace tavrin::analysis {

PureError pureError(const Matrix& settings, const std::vector<int>& blocks, const Eigen::VectorXd& y) {
  std::map<std::vector<double>, Eigen::Index> cells;
  std::vector<Eigen::Index> cellOf(settings.rows());
  for (std::size_t r = 0; r < settings.rows(); ++r) {
    std::vector<double> setting(settings.row(r), settings.row(r) + settings.cols());
    cellOf[r] = cells.emplace(std::move(setting), static_cast<Eigen::Index>(cells.size())).first->second;
  }
  const std::vector<int> levels = blockLevels(blocks);
  const auto blockColumns = static_cast<Eigen::Index>(levels.empty() ? 0 : levels.size() - 1);
  const auto cellCount = static_cast<Eigen::Index>(cells.size());
  Eigen::MatrixXd x = Eigen::MatrixXd::Zero(y.size(), cellCount + blockColumns);
  for (Eigen::Index r = 0; r < y.size(); ++r) {
    x(r, cellOf[static_cast<std::size_t>(r)]) = 1.0;
    if (blockColumns == 0) continue;
    const int label = blocks[static_cast<std::size_t>(r)];
    for (Eigen::Index l = 0; l < blockColumns; ++l)
      x(r, cellCount + l) = label == levels[static_cast<std::size_t>(l)] ? 1.0 : label == levels.back() ? -1.0 : 0.0;
  }
  const Eigen::Index rank = Eigen::ColPivHouseholderQR<Eigen::MatrixXd>(x).rank();
  // The residual through the deviations from the cell means (Frisch-Waugh):
  // the block columns less their cell means explain what they can of them.
  // Replicates that agree leave deviations of exactly 0, and so pure error 0.
  Eigen::VectorXd count = Eigen::VectorXd::Zero(cellCount);
  for (const Eigen::Index c : cellOf) count(c) += 1.0;
  const auto withinCells = [&](Eigen::Ref<Eigen::VectorXd> v) {
    Eigen::VectorXd mean = Eigen::VectorXd::Zero(cellCount);
    for (Eigen::Index r = 0; r < v.size(); ++r) mean(cellOf[static_cast<std::size_t>(r)]) += v(r);
    mean = mean.cwiseQuotient(count);
    for (Eigen::Index r = 0; r < v.size(); ++r) v(r) -= mean(cellOf[static_cast<std::size_t>(r)]);
  };
  Eigen::VectorXd deviation = y;
  withinCells(deviation);
  Eigen::MatrixXd blocksWithin = x.rightCols(blockColumns);
  for (Eigen::Index l = 0; l < blockColumns; ++l) withinCells(blocksWithin.col(l));
  if (blockColumns > 0) deviation -= blocksWithin * blocksWithin.colPivHouseholderQr().solve(deviation);
  return {deviation.squaredNorm(), static_cast<int>(y.size() - rank), cells.size()};
}

LackOfFit lackOfFit(const PureError& pure, double residualSS, int residualDf) {
  LackOfFit out;
  out.f = kNaN;
  out.p = kNaN;
  out.pureErrorSS = pure.ss;
  out.pureErrorDf = pure.df;
  out.lackOfFitDf = residualDf - pure.df;
  // Rounding can leave a tiny negative difference when the model passes
  // through every group mean.
  out.lackOfFitSS = std::max(0.0, residualSS - pure.ss);
  if (out.pureErrorDf == 0) {
    out.reason = "no setting is repeated, so there is no pure error to test the lack of fit against";
    return out;
  }
  if (out.lackOfFitDf <= 0) {
    out.reason = "the model leaves no degree of freedom beyond the pure error of the " + std::to_string(pure.cells) +
                 " distinct settings: none is left for lack of fit";
    return out;
  }
  if (out.pureErrorSS == 0.0) {
    out.reason = "the replicated runs agree exactly (pure error 0), so the lack-of-fit F is not defined";
    return out;
  }
  out.available = true;
  out.f = (out.lackOfFitSS / out.lackOfFitDf) / (out.pureErrorSS / out.pureErrorDf);
  out.p = upperTail(boost::math::fisher_f_distribution<>(out.lackOfFitDf, out.pureErrorDf), out.f);
  return out;
}

Matrix settingsOf(const Fit& fit) {
  Matrix out(fit.runCount(), fit.factorCount());
  for (std::size_t r = 0; r < fit.runCount(); ++r)
    for (std::size_t i = 0; i < fit.factorCount(); ++i) out(r, i) = fit.design(r, quadratic::linearIndex(i));
  return out;
}

}  // namespace tavrin::analysis
