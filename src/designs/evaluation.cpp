// Design evaluation: efficiencies, prediction variance over the region,
// variance inflation, correlations and power, from X'X of the model.
#include <Eigen/Dense>
#include <algorithm>
#include <boost/math/distributions/non_central_t.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "study/not_a_number.h"
#include "tavrin/design_evaluation.h"
#include "tavrin/designs.h"
#include "tavrin/error.h"

namespace tavrin {
namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using Eigen::VectorXd;

constexpr std::size_t kMaxGridFactors = 7;    // 3^7 grid points
constexpr std::size_t kMaxVertexFactors = 12;  // 2^12 vertices or diagonals
constexpr std::size_t kMaxSamples = 10'000'000;
// Relative size below which a column counts as a combination of the others.
constexpr double kDependence = 1e-10;

Index idx(std::size_t i) { return static_cast<Index>(i); }

std::string termName(const ModelTerms& model, std::size_t column) {
  std::vector<std::string> letters;
  for (std::size_t i = 0; i < model.factors; ++i) letters.push_back(factorLetter(i));
  return quadratic::termLabel(letters, model.indices[column]);
}

void checkModel(const Matrix& coded, const ModelTerms& model) {
  if (model.factors != coded.cols())
    throw InvalidArgument("model: it has " + std::to_string(model.factors) + " factors, the design " +
                          std::to_string(coded.cols()));
  const std::size_t all = quadratic::termCount(model.factors);
  if (model.indices.empty() || model.indices.front() != 0 || model.indices.back() >= all ||
      !std::is_sorted(model.indices.begin(), model.indices.end()) ||
      std::adjacent_find(model.indices.begin(), model.indices.end()) != model.indices.end())
    throw InvalidArgument("model: term indices must increase from the intercept (0) and stay below " +
                          std::to_string(all));
  for (std::size_t r = 0; r < coded.rows(); ++r)
    for (std::size_t i = 0; i < coded.cols(); ++i)
      if (!std::isfinite(coded(r, i)))
        throw InvalidArgument("run " + std::to_string(r + 1) + ", factor " + factorLetter(i) + ": the setting " +
                              std::to_string(coded(r, i)) + " is not a finite number");
  if (coded.rows() < model.size())
    throw InvalidArgument("the design has " + std::to_string(coded.rows()) + " runs, fewer than the " +
                          std::to_string(model.size()) + " terms of the model");
}

void checkOptions(const EvaluationOptions& o) {
  if (o.samples < 2 || o.samples > kMaxSamples)
    throw InvalidArgument("samples: " + std::to_string(o.samples) + " is outside 2.." + std::to_string(kMaxSamples));
  if (o.quantiles < 2 || o.quantiles > o.samples)
    throw InvalidArgument("quantiles: " + std::to_string(o.quantiles) + " is outside 2.." + std::to_string(o.samples));
  if (!std::isfinite(o.coefficient))
    throw InvalidArgument("coefficient: " + std::to_string(o.coefficient) + " is not a finite number");
  if (!std::isfinite(o.sigma) || o.sigma <= 0.0)
    throw InvalidArgument("sigma: " + std::to_string(o.sigma) + " must be a positive finite number");
  if (!(o.significance > 0.0 && o.significance < 1.0))
    throw InvalidArgument("significance: " + std::to_string(o.significance) + " must lie strictly between 0 and 1");
}

MatrixXd modelMatrix(const Matrix& coded, const ModelTerms& model) {
  MatrixXd x(idx(coded.rows()), idx(model.size()));
  std::vector<double> row(model.size());
  for (std::size_t r = 0; r < coded.rows(); ++r) {
    modelRow(model, coded.row(r), row.data());
    for (std::size_t c = 0; c < row.size(); ++c) x(idx(r), idx(c)) = row[c];
  }
  return x;
}

// Refuses a design whose model columns are linearly dependent, naming every
// term whose column is a combination of the others.
void checkEstimable(const MatrixXd& x, const ModelTerms& model) {
  Eigen::ColPivHouseholderQR<MatrixXd> qr(x);
  qr.setThreshold(kDependence);
  if (qr.rank() == x.cols()) return;
  std::string names;
  for (Index j = 0; j < x.cols(); ++j) {
    MatrixXd others(x.rows(), x.cols() - 1);
    others << x.leftCols(j), x.rightCols(x.cols() - j - 1);
    const VectorXd fit = others * others.colPivHouseholderQr().solve(x.col(j));
    if ((x.col(j) - fit).norm() > kDependence * std::max(1.0, x.col(j).norm())) continue;
    names += (names.empty() ? "" : ", ") + termName(model, static_cast<std::size_t>(j));
  }
  throw InvalidArgument("the design cannot estimate every term of the model: the columns of " + names +
                        " are linearly dependent");
}

// Exponents of the monomial that model column c stands for.
std::vector<int> exponents(const ModelTerms& model, std::size_t column) {
  std::vector<int> e(model.factors, 0);
  const quadratic::Term t = quadratic::term(model.factors, model.indices[column]);
  switch (t.kind) {
    case quadratic::Term::Constant: break;
    case quadratic::Term::Linear: e[t.first] = 1; break;
    case quadratic::Term::Square: e[t.first] = 2; break;
    case quadratic::Term::Product: e[t.first] = e[t.second] = 1; break;
  }
  return e;
}

// Mean of x^a over the region. Cube: the product of 1/(a_i + 1) for even
// a_i. Ball of radius R in k dimensions: R^|a| Gamma(k/2 + 1) /
// Gamma((k + |a|)/2 + 1) times the product of Gamma((a_i + 1)/2) / Gamma(1/2).
double regionMoment(const std::vector<int>& a, Region region) {
  for (const int ai : a)
    if (ai % 2 != 0) return 0.0;
  if (region == Region::Cube) {
    double m = 1.0;
    for (const int ai : a) m /= ai + 1;
    return m;
  }
  const double k = static_cast<double>(a.size());
  double degree = 0.0;
  double logMoment = std::lgamma(k / 2.0 + 1.0);
  for (const int ai : a) {
    degree += ai;
    logMoment += std::lgamma((ai + 1) / 2.0) - std::lgamma(0.5);
  }
  logMoment += degree / 2.0 * std::log(k) - std::lgamma((k + degree) / 2.0 + 1.0);
  return std::exp(logMoment);
}

MatrixXd regionMoments(const ModelTerms& model, Region region) {
  const std::size_t p = model.size();
  std::vector<std::vector<int>> e;
  for (std::size_t c = 0; c < p; ++c) e.push_back(exponents(model, c));
  MatrixXd moments(idx(p), idx(p));
  std::vector<int> sum(model.factors);
  for (std::size_t a = 0; a < p; ++a)
    for (std::size_t b = 0; b < p; ++b) {
      for (std::size_t i = 0; i < model.factors; ++i) sum[i] = e[a][i] + e[b][i];
      moments(idx(a), idx(b)) = regionMoment(sum, region);
    }
  return moments;
}

// A uniform double in [0, 1) from the top 53 bits of the generator's output.
double uniform(std::mt19937_64& engine) { return static_cast<double>(engine() >> 11) * 0x1p-53; }

// Points drawn uniformly in the region: the cube directly; the ball as a
// Gaussian direction (Box-Muller) at radius R u^(1/k).
Matrix samplePoints(std::size_t k, const EvaluationOptions& o) {
  std::mt19937_64 engine(o.seed);
  Matrix points(o.samples, k);
  const double radius = std::sqrt(static_cast<double>(k));
  for (std::size_t s = 0; s < o.samples; ++s) {
    double* x = points.row(s);
    if (o.region == Region::Cube) {
      for (std::size_t i = 0; i < k; ++i) x[i] = 2.0 * uniform(engine) - 1.0;
      continue;
    }
    double norm = 0.0;
    for (std::size_t i = 0; i < k; ++i) {
      const double u = 1.0 - uniform(engine);  // (0, 1]
      x[i] = std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * uniform(engine));
      norm += x[i] * x[i];
    }
    const double scale = norm > 0.0 ? radius * std::pow(uniform(engine), 1.0 / static_cast<double>(k)) / std::sqrt(norm)
                                    : 0.0;
    for (std::size_t i = 0; i < k; ++i) x[i] *= scale;
  }
  return points;
}

// Every sign pattern of `levels` over k factors (levels.size()^k points).
void addGrid(std::size_t k, const std::vector<double>& levels, std::vector<std::vector<double>>& points) {
  std::size_t count = 1;
  for (std::size_t i = 0; i < k; ++i) count *= levels.size();
  for (std::size_t n = 0; n < count; ++n) {
    std::vector<double> x(k);
    std::size_t rest = n;
    for (std::size_t i = 0; i < k; ++i, rest /= levels.size()) x[i] = levels[rest % levels.size()];
    points.push_back(std::move(x));
  }
}

// The region's special points where the SPV of a low-order model peaks.
std::vector<std::vector<double>> landmarkPoints(std::size_t k, Region region) {
  std::vector<std::vector<double>> points;
  if (region == Region::Cube) {
    if (k <= kMaxGridFactors) addGrid(k, {-1.0, 0.0, 1.0}, points);
    else if (k <= kMaxVertexFactors) addGrid(k, {-1.0, 1.0}, points);
    points.emplace_back(k, 0.0);
    return points;
  }
  const double radius = std::sqrt(static_cast<double>(k));
  points.emplace_back(k, 0.0);
  for (std::size_t i = 0; i < k; ++i)
    for (const double s : {-1.0, 1.0}) {
      points.emplace_back(k, 0.0);
      points.back()[i] = s * radius;
      for (std::size_t j = i + 1; j < k; ++j)
        for (const double t : {-1.0, 1.0}) {
          points.emplace_back(k, 0.0);
          points.back()[i] = s * radius / std::numbers::sqrt2;
          points.back()[j] = t * radius / std::numbers::sqrt2;
        }
    }
  if (k <= kMaxVertexFactors) addGrid(k, {-1.0, 1.0}, points);  // the cube's corners lie on the sphere
  return points;
}

bool insideRegion(const double* x, std::size_t k, Region region) {
  constexpr double kSlack = 1e-12;
  double norm = 0.0;
  for (std::size_t i = 0; i < k; ++i) {
    if (region == Region::Cube && std::fabs(x[i]) > 1.0 + kSlack) return false;
    norm += x[i] * x[i];
  }
  return region == Region::Cube || norm <= static_cast<double>(k) * (1.0 + kSlack);
}

struct SpvScale {
  const ModelTerms& model;
  const MatrixXd& inverse;
  double runs;
  double operator()(const double* x) const {
    VectorXd f(inverse.rows());
    modelRow(model, x, f.data());
    return runs * f.dot(inverse * f);
  }
};

// Quantiles of sorted values by linear interpolation between order statistics.
double quantile(const std::vector<double>& sorted, double fraction) {
  const double position = fraction * static_cast<double>(sorted.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(position));
  if (below + 1 >= sorted.size()) return sorted.back();
  const double weight = position - static_cast<double>(below);
  return sorted[below] + weight * (sorted[below + 1] - sorted[below]);
}

// Power of the two-sided t test of one coefficient with noncentrality delta.
double testPower(double delta, std::size_t df, double significance) {
  const auto dof = static_cast<double>(df);
  const double critical = boost::math::quantile(boost::math::students_t(dof), 1.0 - significance / 2.0);
  const boost::math::non_central_t shifted(dof, delta);
  return boost::math::cdf(boost::math::complement(shifted, critical)) + boost::math::cdf(shifted, -critical);
}

void fillCorrelations(const MatrixXd& x, DesignEvaluation& e) {
  const Index p = x.cols();
  e.correlations = Matrix(e.terms, e.terms, kNaN);
  e.vif.assign(e.terms, kNaN);
  if (p < 2) return;
  MatrixXd centred = x.rightCols(p - 1).rowwise() - x.rightCols(p - 1).colwise().mean();
  const VectorXd scale = centred.colwise().norm().cwiseInverse();
  centred = centred * scale.asDiagonal();
  const MatrixXd correlation = centred.transpose() * centred;
  const MatrixXd inverse = correlation.ldlt().solve(MatrixXd::Identity(p - 1, p - 1));
  for (Index a = 1; a < p; ++a) {
    e.vif[static_cast<std::size_t>(a)] = inverse(a - 1, a - 1);
    for (Index b = 1; b < p; ++b)
      e.correlations(static_cast<std::size_t>(a), static_cast<std::size_t>(b)) = correlation(a - 1, b - 1);
  }
}

}  // namespace

DesignEvaluation evaluateDesign(const Matrix& coded, const ModelTerms& model, const EvaluationOptions& options) {
  checkModel(coded, model);
  checkOptions(options);
  const MatrixXd x = modelMatrix(coded, model);
  checkEstimable(x, model);

  DesignEvaluation e;
  e.runs = coded.rows();
  e.terms = model.size();
  e.residualDf = e.runs - e.terms;
  const auto n = static_cast<double>(e.runs);
  const auto p = static_cast<double>(e.terms);
  const MatrixXd information = x.transpose() * x;
  const Eigen::LLT<MatrixXd> llt(information);
  const MatrixXd inverse = llt.solve(MatrixXd::Identity(idx(e.terms), idx(e.terms)));
  const double logDet = 2.0 * llt.matrixLLT().diagonal().array().log().sum();
  e.dEfficiency = 100.0 * std::exp(logDet / p) / n;
  e.aEfficiency = 100.0 * p / (n * inverse.trace());
  const VectorXd eigen = Eigen::SelfAdjointEigenSolver<MatrixXd>(information, Eigen::EigenvaluesOnly).eigenvalues();
  e.conditionNumber = eigen.maxCoeff() / eigen.minCoeff();
  e.iCriterion = n * (inverse * regionMoments(model, options.region)).trace();
  e.coefficientVariance.resize(e.terms);
  for (std::size_t j = 0; j < e.terms; ++j) e.coefficientVariance[j] = inverse(idx(j), idx(j));
  fillCorrelations(x, e);

  e.power.assign(e.terms, kNaN);
  if (e.residualDf > 0)
    for (std::size_t j = 0; j < e.terms; ++j)
      e.power[j] =
          testPower(options.coefficient / (options.sigma * std::sqrt(e.coefficientVariance[j])), e.residualDf,
                    options.significance);

  const SpvScale spv{model, inverse, n};
  const std::size_t k = model.factors;
  const Matrix samples = samplePoints(k, options);
  std::vector<double> values(samples.rows());
  for (std::size_t s = 0; s < samples.rows(); ++s) values[s] = spv(samples.row(s));
  std::sort(values.begin(), values.end());
  double largest = values.back();
  for (const std::vector<double>& point : landmarkPoints(k, options.region)) largest = std::max(largest, spv(point.data()));
  for (std::size_t r = 0; r < coded.rows(); ++r)
    if (insideRegion(coded.row(r), k, options.region)) largest = std::max(largest, spv(coded.row(r)));
  e.gEfficiency = 100.0 * p / largest;
  for (std::size_t q = 0; q < options.quantiles; ++q) {
    const double fraction = static_cast<double>(q) / static_cast<double>(options.quantiles - 1);
    e.fdsFractions.push_back(fraction);
    e.fdsSpv.push_back(quantile(values, fraction));
  }
  return e;
}

}  // namespace tavrin
