// Run diagnostics of a fitted model: deleted residuals, influence, the
// outlier test and the positions of a normal probability plot.
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "analysis/model_matrix.h"
#include "study/not_a_number.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

// A run whose leverage is this close to 1 is fitted exactly: it has no
// deleted residual.
constexpr double kExactLeverage = 1e-10;

// Externally studentised residual, DFFITS and Bonferroni p of one run.
void deletedResidual(const ModelFit& fit, RunDiagnostic& d) {
  d.externallyStudentized = d.dffits = d.bonferroniP = d.cooksDistance = kNaN;
  const double rest = 1.0 - d.leverage;
  if (fit.residualDf <= 0 || rest < kExactLeverage) return;
  const double columns = static_cast<double>(fit.unscaledCovariance.rows());
  d.cooksDistance = d.residual * d.residual * d.leverage / (columns * fit.sigma * fit.sigma * rest * rest);
  const int df = fit.residualDf - 1;
  if (df <= 0) return;
  const double deleted = (fit.residualSS - d.residual * d.residual / rest) / df;
  if (!(deleted > 0.0)) return;
  d.externallyStudentized = d.residual / std::sqrt(deleted * rest);
  d.dffits = d.externallyStudentized * std::sqrt(d.leverage / rest);
  const double tail = boost::math::cdf(boost::math::complement(
      boost::math::students_t_distribution<>(static_cast<double>(df)), std::fabs(d.externallyStudentized)));
  d.bonferroniP = std::min(1.0, 2.0 * tail * fit.runs);
}

}  // namespace

Diagnostics diagnose(const ModelData& data, const ModelFit& fit, double alpha) {
  analysis::checkData(data);
  if (!(alpha > 0.0 && alpha < 1.0))
    throw InvalidArgument("outlier test level " + std::to_string(alpha) +
                          " is not allowed: it must lie strictly between 0 and 1 (e.g. 0.05)");
  const auto runs = static_cast<std::size_t>(fit.runs);
  if (data.coded.rows() != runs) throw InvalidArgument("the data are not those of the fit: the run counts differ");

  Diagnostics out;
  out.alpha = alpha;
  std::vector<RunDiagnostic> rows(runs);
  for (std::size_t r = 0; r < runs; ++r) {
    RunDiagnostic& d = rows[r];
    d.row = r;
    d.order = data.runOrder.empty() ? static_cast<int>(r) + 1 : data.runOrder[r];
    d.residual = fit.residuals[r];
    d.leverage = fit.leverages[r];
    deletedResidual(fit, d);
    d.outlier = d.bonferroniP < alpha;
  }
  // Normal scores by rank of the residual (ties broken by row).
  std::vector<std::size_t> byResidual(runs);
  std::iota(byResidual.begin(), byResidual.end(), std::size_t{0});
  std::stable_sort(byResidual.begin(), byResidual.end(),
                   [&](std::size_t a, std::size_t b) { return rows[a].residual < rows[b].residual; });
  const boost::math::normal_distribution<> normal;
  for (std::size_t k = 0; k < runs; ++k)
    rows[byResidual[k]].normalScore =
        boost::math::quantile(normal, (static_cast<double>(k + 1) - 0.375) / (static_cast<double>(runs) + 0.25));

  std::stable_sort(rows.begin(), rows.end(), [](const RunDiagnostic& a, const RunDiagnostic& b) {
    return a.order < b.order;
  });
  double steps = 0.0, squares = 0.0;
  for (std::size_t k = 0; k < runs; ++k) {
    squares += rows[k].residual * rows[k].residual;
    if (k > 0) steps += (rows[k].residual - rows[k - 1].residual) * (rows[k].residual - rows[k - 1].residual);
  }
  out.durbinWatson = squares > 0.0 ? steps / squares : kNaN;
  out.runs = std::move(rows);
  return out;
}

}  // namespace tavrin
