// Least-squares fits of each response's model (the full quadratic unless
// another is chosen), with the runs' blocks as sum-coded fixed effects, in
// coded units, and their expansion into natural units.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>

#include "analysis/model_matrix.h"
#include "study/internal.h"
#include "study/text.h"
#include "tavrin/model_building.h"
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

namespace {

// The least-squares map of the full quadratic (and the block effects when
// the runs are in blocks), shared by every response that keeps it:
// the model matrix x, the map full = solver * y and the leverages.
struct QuadraticMap {
  Eigen::MatrixXd x;
  Eigen::MatrixXd solver;
  std::vector<double> leverages;
};

// The plan's coded actual settings and, when there are two or more, its blocks.
ModelData settingsData(const Plan& plan) {
  ModelData data;
  for (const Factor& f : plan.factors) data.factorNames.push_back(f.name);
  data.coded = plan.actualCoded();
  if (std::any_of(plan.blocks.begin(), plan.blocks.end(), [&plan](int b) { return b != plan.blocks.front(); }))
    data.blocks = plan.blocks;
  return data;
}

QuadraticMap quadraticMap(const ModelData& data) {
  QuadraticMap out;
  out.x = analysis::modelMatrix(data, ModelTerms::quadratic(data.factorNames.size()),
                                analysis::blockLevels(data.blocks));
  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(out.x);
  if (qr.rank() < out.x.cols())
    throw StateError("the plan's model matrix has rank " + std::to_string(qr.rank()) + " < " +
                     std::to_string(out.x.cols()) + " columns (terms" + (data.blocks.empty() ? "" : " and block effects") +
                     "): the quadratic model cannot be fitted on it");
  const auto runs = out.x.rows();
  out.solver = qr.solve(Eigen::MatrixXd::Identity(runs, runs));
  out.leverages.resize(static_cast<std::size_t>(runs));
  for (Eigen::Index r = 0; r < runs; ++r) out.leverages[static_cast<std::size_t>(r)] = out.x.row(r).dot(out.solver.col(r));
  return out;
}

Model quadraticModel(const Fit& fit, const QuadraticMap& map, std::size_t j) {
  const auto runs = map.x.rows();
  const auto terms = static_cast<Eigen::Index>(fit.termCount());
  // The fit is shift-equivariant: removing a common offset first keeps
  // an offset of 1e7 from swamping the other coefficients' digits.
  Eigen::VectorXd y(runs);
  for (Eigen::Index r = 0; r < runs; ++r) y(r) = fit.observations(static_cast<std::size_t>(r), j);
  const double offset = y(0);
  y.array() -= offset;
  const Eigen::VectorXd b = map.solver * y;
  const Eigen::VectorXd residuals = y - map.x * b;
  Model model;
  // The terms only: the block effects sum to zero, so this is the average block.
  model.coded.assign(b.data(), b.data() + terms);
  model.coded[0] += offset;
  model.natural = naturalCoefficients(fit.factors, model.coded);
  for (std::size_t k = 0; k < fit.termCount(); ++k) model.terms.push_back(k);
  model.solver = toMatrix(map.solver.topRows(terms));
  model.leverages = map.leverages;
  model.residuals.assign(residuals.data(), residuals.data() + residuals.size());
  model.residualDf = static_cast<int>(runs - map.x.cols());
  return model;
}

// The model a choice names, fitted by fitModel (blocks as fixed effects)
// to the response on the choice's scale, in the Fit's full layout.
Model chosenModel(const ModelData& settings, const Fit& fit, std::size_t j, const ModelChoice& choice) {
  ModelData data = settings;
  for (std::size_t r = 0; r < fit.runCount(); ++r) data.response.push_back(fit.observations(r, j));
  if (choice.power == choice.power) {
    try {
      data = transformResponse(data, PowerTransform{choice.power});
    } catch (const InvalidArgument& e) {
      throw InvalidArgument("response " + text::quoted(fit.responses[j].name) + ": " + e.what(),
                            "models." + fit.responses[j].name + ".transform");
    }
  }
  const ModelTerms terms = parseModelTerms(choice.terms, data.factorNames);
  const ModelFit mf = fitModel(data, terms);
  const Eigen::MatrixXd x = analysis::modelMatrix(data, terms, mf.blockLevels);
  const Eigen::MatrixXd solver = x.colPivHouseholderQr().solve(Eigen::MatrixXd::Identity(x.rows(), x.rows()));
  Model model;
  model.coded = mf.coefficients;
  model.natural = naturalCoefficients(fit.factors, model.coded);
  model.terms = terms.indices;
  model.power = choice.power;
  model.solver = Matrix(fit.termCount(), fit.runCount(), 0.0);
  for (std::size_t c = 0; c < terms.size(); ++c)
    for (std::size_t r = 0; r < fit.runCount(); ++r)
      model.solver(terms.indices[c], r) = solver(static_cast<Eigen::Index>(c), static_cast<Eigen::Index>(r));
  model.leverages = mf.leverages;
  model.residuals = mf.residuals;
  model.residualDf = mf.residualDf;
  return model;
}

}  // namespace

Fit fitModels(const Plan& plan, const std::vector<Response>& responses, const Matrix& results,
              const std::vector<ModelChoice>& choices) {
  validateResponses(responses);
  if (plan.coded.cols() != plan.factorCount() || plan.natural.rows() != plan.runCount() ||
      plan.actual.rows() != plan.runCount() || plan.actual.cols() != plan.factorCount())
    throw InvalidArgument("the plan is inconsistent: its matrices do not match its factors");
  if (results.rows() != plan.runCount() || results.cols() != responses.size())
    throw InvalidArgument("results are " + std::to_string(results.rows()) + " x " + std::to_string(results.cols()) +
                          "; the plan needs " + std::to_string(plan.runCount()) + " runs x " +
                          std::to_string(responses.size()) + " responses");
  if (!choices.empty() && choices.size() != responses.size())
    throw InvalidArgument("model choices: " + std::to_string(choices.size()) + " for " +
                          std::to_string(responses.size()) + " responses");
  for (std::size_t j = 0; j < choices.size(); ++j)
    validateModelChoice(choices[j], plan.factors, "models." + responses[j].name);
  checkResults(responses, results);

  const ModelData settings = settingsData(plan);
  Fit fit;
  fit.factors = plan.factors;
  fit.responses = responses;
  fit.blocks = settings.blocks;
  const Matrix& coded = settings.coded;
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

  // The full quadratic's map only when a response keeps it: a chosen
  // smaller model fits designs the full quadratic cannot.
  std::optional<QuadraticMap> quadratic;
  for (std::size_t j = 0; j < responses.size(); ++j) {
    if (!choices.empty() && !choices[j].isDefault()) {
      fit.models.push_back(chosenModel(settings, fit, j, choices[j]));
      continue;
    }
    if (!quadratic) quadratic = quadraticMap(settings);
    fit.models.push_back(quadraticModel(fit, *quadratic, j));
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
    for (std::size_t j = 0; j < fit.models.size(); ++j) {
      const Model& model = fit.models[j];
      const double value = quadratic::evaluate(n, model.coded.data(), coded.data());
      out(p, j) = model.transformed() ? PowerTransform{model.power}.invert(value) : value;
    }
  }
  return out;
}

}  // namespace tavrin
