#include "analysis/lack_of_fit.h"

#include <boost/math/distributions/fisher_f.hpp>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "analysis/inference.h"
#include "tavrin/quadratic.h"

namespace tavrin::analysis {

LackOfFit lackOfFit(const Fit& fit, std::size_t response, const Eigen::VectorXd& observed, double residualSS) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = fit.factorCount();
  std::map<std::vector<double>, std::vector<Eigen::Index>> groups;
  for (std::size_t r = 0; r < fit.runCount(); ++r) {
    std::vector<double> setting(n);
    for (std::size_t i = 0; i < n; ++i) setting[i] = fit.design(r, quadratic::linearIndex(i));
    groups[setting].push_back(static_cast<Eigen::Index>(r));
  }

  LackOfFit out;
  out.f = kNaN;
  out.p = kNaN;
  for (const auto& [setting, runs] : groups) {
    double mean = 0.0;
    for (Eigen::Index r : runs) mean += observed(r);
    mean /= static_cast<double>(runs.size());
    for (Eigen::Index r : runs) out.pureErrorSS += (observed(r) - mean) * (observed(r) - mean);
    out.pureErrorDf += static_cast<int>(runs.size()) - 1;
  }
  out.lackOfFitDf = fit.models[response].residualDf - out.pureErrorDf;
  // Rounding can leave a tiny negative difference when the model passes
  // through every group mean.
  out.lackOfFitSS = std::max(0.0, residualSS - out.pureErrorSS);

  if (out.pureErrorDf == 0) {
    out.reason = "no setting is repeated, so there is no pure error to test the lack of fit against";
    return out;
  }
  if (out.lackOfFitDf == 0) {
    out.reason = "as many distinct settings (" + std::to_string(groups.size()) + ") as terms (" +
                 std::to_string(fit.runCount() - static_cast<std::size_t>(fit.models[response].residualDf)) + "): no degree of freedom is left for lack of fit";
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

}  // namespace tavrin::analysis
