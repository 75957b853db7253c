// Least-squares fits of the full quadratic model, in coded units, and
// their expansion into natural units.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

using EigenMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

Matrix toMatrix(const EigenMatrix& m) {
  Matrix out(static_cast<std::size_t>(m.rows()), static_cast<std::size_t>(m.cols()));
  Eigen::Map<EigenMatrix>(out.data(), m.rows(), m.cols()) = m;
  return out;
}

Matrix modelMatrix(const Matrix& coded) {
  const std::size_t n = coded.cols();
  Matrix design(coded.rows(), quadratic::termCount(n));
  for (std::size_t r = 0; r < coded.rows(); ++r) quadratic::terms(n, coded.row(r), design.row(r));
  return design;
}

// Throws when a result is missing or infinite; missing ones are listed per response.
void checkResults(const std::vector<Response>& responses, const Matrix& results) {
  std::string missing;
  for (std::size_t j = 0; j < results.cols(); ++j) {
    std::vector<int> ids;
    for (std::size_t r = 0; r < results.rows(); ++r) {
      const double v = results(r, j);
      if (std::isnan(v)) ids.push_back(static_cast<int>(r) + 1);
      if (std::isinf(v))
        throw InvalidArgument("response " + text::quoted(responses[j].name) + ", run " + std::to_string(r + 1) +
                              ": the result is infinite; results are finite numbers, or NaN for missing");
    }
    if (ids.empty()) continue;
    missing += (missing.empty() ? "" : "; ") + text::quoted(responses[j].name) + " has no result for " + runList(ids);
  }
  if (!missing.empty()) throw StateError("cannot fit with missing results: " + missing);
}

// The coded polynomial with c_i = (x_i - m_i) / h_i expanded in x.
std::vector<double> naturalCoefficients(const std::vector<Factor>& factors, const std::vector<double>& b) {
  const std::size_t n = factors.size();
  std::vector<double> m(n), h(n);
  for (std::size_t i = 0; i < n; ++i) {
    m[i] = (factors[i].low + factors[i].high) / 2;
    h[i] = (factors[i].high - factors[i].low) / 2;
  }
  std::vector<double> a(b.size(), 0.0);
  a[0] = b[0];
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t li = quadratic::linearIndex(i);
    const std::size_t si = quadratic::squareIndex(n, i);
    // b_i c_i = (b_i / h_i) x_i - b_i m_i / h_i
    a[li] += b[li] / h[i];
    a[0] -= b[li] * m[i] / h[i];
    // b_ii c_i^2 = (b_ii / h_i^2)(x_i^2 - 2 m_i x_i + m_i^2)
    const double q = b[si] / (h[i] * h[i]);
    a[si] += q;
    a[li] -= 2 * q * m[i];
    a[0] += q * m[i] * m[i];
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      // b_ij c_i c_j = (b_ij / h_i h_j)(x_i x_j - m_j x_i - m_i x_j + m_i m_j)
      const std::size_t pij = quadratic::productIndex(n, i, j);
      const double q = b[pij] / (h[i] * h[j]);
      a[pij] += q;
      a[quadratic::linearIndex(i)] -= q * m[j];
      a[quadratic::linearIndex(j)] -= q * m[i];
      a[0] += q * m[i] * m[j];
    }
  return a;
}

}  // namespace

std::string runList(const std::vector<int>& ids) {
  std::string out = ids.size() == 1 ? "run " : "runs ";
  for (std::size_t k = 0; k < ids.size(); ++k) {
    if (k > 0) out += k + 1 == ids.size() ? " and " : ", ";
    out += std::to_string(ids[k]);
  }
  return out;
}

std::size_t Fit::responseIndex(std::string_view name) const {
  for (std::size_t j = 0; j < responses.size(); ++j)
    if (responses[j].name == name) return j;
  std::string known;
  for (const Response& r : responses) known += (known.empty() ? "" : ", ") + text::quoted(r.name);
  throw UnknownName("no response is named " + text::quoted(name) + "; the responses are " + known);
}

Fit fitModels(const Plan& plan, const std::vector<Response>& responses, const Matrix& results) {
  validateResponses(responses);
  if (plan.coded.cols() != plan.factorCount() || plan.natural.rows() != plan.runCount() ||
      plan.actual.rows() != plan.runCount() || plan.actual.cols() != plan.factorCount())
    throw InvalidArgument("the plan is inconsistent: its matrices do not match its factors");
  if (results.rows() != plan.runCount() || results.cols() != responses.size())
    throw InvalidArgument("results are " + std::to_string(results.rows()) + " x " + std::to_string(results.cols()) +
                          "; the plan needs " + std::to_string(plan.runCount()) + " runs x " +
                          std::to_string(responses.size()) + " responses");
  checkResults(responses, results);

  Fit fit;
  fit.factors = plan.factors;
  fit.responses = responses;
  const Matrix coded = plan.actualCoded();
  fit.design = modelMatrix(coded);
  for (std::size_t i = 0; i < plan.factorCount(); ++i) {
    std::pair<double, double> span{coded(0, i), coded(0, i)};
    for (std::size_t r = 1; r < coded.rows(); ++r) {
      span.first = std::min(span.first, coded(r, i));
      span.second = std::max(span.second, coded(r, i));
    }
    fit.span.push_back(span);
  }
  fit.observations = results;
  fit.runIds.resize(plan.runCount());
  for (std::size_t r = 0; r < plan.runCount(); ++r) fit.runIds[r] = static_cast<int>(r) + 1;

  const auto runs = static_cast<Eigen::Index>(fit.design.rows());
  const auto terms = static_cast<Eigen::Index>(fit.design.cols());
  const Eigen::Map<const EigenMatrix> x(fit.design.data(), runs, terms);
  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(x);
  if (qr.rank() < terms)
    throw StateError("the plan's model matrix has rank " + std::to_string(qr.rank()) + " < " +
                     std::to_string(terms) + " terms: the quadratic model cannot be fitted on it");
  const EigenMatrix solver = qr.solve(Eigen::MatrixXd::Identity(runs, runs));
  fit.solver = toMatrix(solver);
  fit.leverages.resize(static_cast<std::size_t>(runs));
  for (Eigen::Index r = 0; r < runs; ++r) fit.leverages[static_cast<std::size_t>(r)] = x.row(r).dot(solver.col(r));

  for (std::size_t j = 0; j < responses.size(); ++j) {
    // The fit is shift-equivariant: removing a common offset first keeps
    // an offset of 1e7 from swamping the other coefficients' digits.
    Eigen::VectorXd y(runs);
    for (Eigen::Index r = 0; r < runs; ++r) y(r) = results(static_cast<std::size_t>(r), j);
    const double offset = y(0);
    y.array() -= offset;
    const Eigen::VectorXd b = solver * y;
    Model model;
    model.coded.assign(b.data(), b.data() + b.size());
    model.coded[0] += offset;
    model.natural = naturalCoefficients(fit.factors, model.coded);
    fit.models.push_back(std::move(model));
  }
  return fit;
}

Matrix predict(const Fit& fit, const Matrix& points) {
  const std::size_t n = fit.factorCount();
  if (points.cols() != n)
    throw InvalidArgument("points have " + std::to_string(points.cols()) + " columns; the study has " +
                          std::to_string(n) + " factors");
  Matrix out(points.rows(), fit.models.size());
  std::vector<double> coded(n);
  for (std::size_t p = 0; p < points.rows(); ++p) {
    for (std::size_t i = 0; i < n; ++i) coded[i] = toCoded(fit.factors[i], points(p, i));
    for (std::size_t j = 0; j < fit.models.size(); ++j)
      out(p, j) = quadratic::evaluate(n, fit.models[j].coded.data(), coded.data());
  }
  return out;
}

}  // namespace tavrin
