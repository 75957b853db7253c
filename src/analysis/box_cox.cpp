// The Box-Cox transform: lambda by profile likelihood, and a model fitted
// on the transformed response with predictions mapped back.
#include <boost/math/distributions/chi_squared.hpp>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "analysis/model_matrix.h"
#include "study/not_a_number.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

constexpr double kSearchLow = -3.0;
constexpr double kSearchHigh = 3.0;
constexpr double kGridStep = 0.05;

void checkPositive(const ModelData& data) {
  for (std::size_t r = 0; r < data.response.size(); ++r)
    if (!(data.response[r] > 0.0)) {
      char value[32];
      std::snprintf(value, sizeof value, "%.6g", data.response[r]);
      throw InvalidArgument("run " + std::to_string(r + 1) + ": the response " + value +
                            " is not positive; a power transform needs every response > 0 (shift the response "
                            "first if its zero is arbitrary)");
    }
}

// The profile log-likelihood of lambda, up to a constant.
class Profile {
 public:
  Profile(const ModelData& data, const ModelTerms& terms)
      : x_(analysis::modelMatrix(data, terms, analysis::blockLevels(data.blocks))),
        qr_(x_),
        y_(analysis::responseVector(data)),
        logSum_(y_.array().log().sum()) {}

  double operator()(double lambda) const {
    const PowerTransform transform{lambda};
    Eigen::VectorXd w = y_.unaryExpr([&](double v) { return transform.apply(v); });
    w.array() -= w(0);
    const double rss = (w - x_ * qr_.solve(w)).squaredNorm();
    const auto n = static_cast<double>(y_.size());
    return -0.5 * n * std::log(rss / n) + (lambda - 1.0) * logSum_;
  }

 private:
  Eigen::MatrixXd x_;
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr_;
  Eigen::VectorXd y_;
  double logSum_ = 0.0;
};

// Golden-section search for the maximum on [a, b].
double maximize(const Profile& profile, double a, double b) {
  const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
  double c = b - ratio * (b - a), d = a + ratio * (b - a);
  double fc = profile(c), fd = profile(d);
  while (b - a > 1e-10) {
    if (fc > fd) {
      b = d;
      d = c;
      fd = fc;
      c = b - ratio * (b - a);
      fc = profile(c);
    } else {
      a = c;
      c = d;
      fc = fd;
      d = a + ratio * (b - a);
      fd = profile(d);
    }
  }
  return (a + b) / 2.0;
}

// The point between `inside` (profile above the cut) and `outside` where the profile crosses the cut.
double crossing(const Profile& profile, double cut, double inside, double outside) {
  for (int k = 0; k < 200 && std::fabs(outside - inside) > 1e-12; ++k) {
    const double mid = (inside + outside) / 2.0;
    (profile(mid) >= cut ? inside : outside) = mid;
  }
  return (inside + outside) / 2.0;
}

struct Convention {
  double lambda;
  const char* name;
};

constexpr std::array<Convention, 6> kConventions{{{1.0, "none"},
                                                  {0.0, "log"},
                                                  {0.5, "square root"},
                                                  {-0.5, "inverse square root"},
                                                  {-1.0, "inverse"},
                                                  {2.0, "square"}}};

void recommend(BoxCox& out) {
  // No transform when the interval allows it; else the conventional power nearest the optimum.
  const Convention* best = nullptr;
  for (const Convention& c : kConventions) {
    if (c.lambda < out.lower || c.lambda > out.upper) continue;
    if (c.lambda == 1.0) {
      best = &c;
      break;
    }
    if (!best || std::fabs(c.lambda - out.lambda) < std::fabs(best->lambda - out.lambda)) best = &c;
  }
  if (best) {
    out.recommended = best->lambda;
    out.recommendation = best->name;
    return;
  }
  out.recommended = out.lambda;
  char text[48];
  std::snprintf(text, sizeof text, "power %.3g", out.lambda);
  out.recommendation = text;
}

}  // namespace

double PowerTransform::apply(double y) const noexcept {
  if (!(y > 0.0)) return kNaN;
  if (lambda == 0.0) return std::log(y);
  return std::expm1(lambda * std::log(y)) / lambda;
}

double PowerTransform::invert(double w) const noexcept {
  if (lambda == 0.0) return std::exp(w);
  const double base = lambda * w;
  if (!(base > -1.0)) return kNaN;
  return std::exp(std::log1p(base) / lambda);
}

BoxCox boxCox(const ModelData& data, const ModelTerms& terms) {
  const ModelFit fit = fitModel(data, terms);  // refuses bad data and models
  checkPositive(data);
  if (fit.residualDf == 0) throw StateError("Box-Cox needs residual degrees of freedom: " + fit.notEstimable);
  const Profile profile(data, terms);

  BoxCox out;
  const int points = static_cast<int>(std::lround((kSearchHigh - kSearchLow) / kGridStep));
  std::size_t best = 0;
  for (int k = 0; k <= points; ++k) {
    const double lambda = kSearchLow + kGridStep * k;
    out.gridLambda.push_back(lambda);
    out.gridLogLikelihood.push_back(profile(lambda));
    if (out.gridLogLikelihood.back() > out.gridLogLikelihood[best]) best = out.gridLambda.size() - 1;
  }
  const double a = out.gridLambda[best == 0 ? 0 : best - 1];
  const double b = out.gridLambda[std::min(best + 1, out.gridLambda.size() - 1)];
  out.lambda = maximize(profile, a, b);

  const double chi2 = boost::math::quantile(boost::math::chi_squared_distribution<>(1.0), 0.95);
  out.logLikelihood = profile(out.lambda);
  out.cut = out.logLikelihood - chi2 / 2.0;
  const double cut = out.cut;
  out.lower = kSearchLow;
  for (std::size_t k = best; k-- > 0;)
    if (out.gridLogLikelihood[k] < cut) {
      out.lower = crossing(profile, cut, out.gridLambda[k + 1], out.gridLambda[k]);
      break;
    }
  out.upper = kSearchHigh;
  for (std::size_t k = best + 1; k < out.gridLambda.size(); ++k)
    if (out.gridLogLikelihood[k] < cut) {
      out.upper = crossing(profile, cut, out.gridLambda[k - 1], out.gridLambda[k]);
      break;
    }
  recommend(out);
  return out;
}

ModelData transformResponse(const ModelData& data, const PowerTransform& transform) {
  analysis::checkData(data);
  checkPositive(data);
  ModelData out = data;
  for (double& y : out.response) y = transform.apply(y);
  return out;
}

TransformedFit fitTransformed(const ModelData& data, const ModelTerms& terms, double lambda, double confidence) {
  if (!std::isfinite(lambda))
    throw InvalidArgument("the transform's power " + std::to_string(lambda) + " is not a finite number");
  const PowerTransform transform{lambda};
  return {transform, fitModel(transformResponse(data, transform), terms, confidence)};
}

std::vector<Prediction> predictOriginal(const TransformedFit& fit, const Matrix& codedPoints, double confidence) {
  std::vector<Prediction> out = predictModel(fit.fit, codedPoints, confidence);
  for (Prediction& p : out) {
    p.value = fit.transform.invert(p.value);
    p.confidenceLow = fit.transform.invert(p.confidenceLow);
    p.confidenceHigh = fit.transform.invert(p.confidenceHigh);
    p.predictionLow = fit.transform.invert(p.predictionLow);
    p.predictionHigh = fit.transform.invert(p.predictionHigh);
  }
  return out;
}

}  // namespace tavrin
