#include "designs/optimal_problem.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "optimize/lptau.h"
#include "optimum/parallel.h"
#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin::designs {
namespace {

static_assert(kMaxOptimalFactors <= static_cast<std::size_t>(kLptauDimensions));

std::string factorLabel(const ExchangeOptions& options, std::size_t i) {
  if (!options.factors.empty()) return text::quoted(options.factors[i].name);
  return "x" + std::to_string(i + 1);
}

std::string constraintText(const ExchangeOptions& options, std::size_t c) {
  const LinearConstraint& con = options.constraints[c];
  std::string out;
  for (std::size_t i = 0; i < con.a.size(); ++i) {
    if (con.a[i] == 0.0) continue;
    if (!out.empty()) out += " + ";
    out += text::formatDouble(con.a[i]) + "*" + factorLabel(options, i);
  }
  return "constraint " + std::to_string(c + 1) + " (" + out + " <= " + text::formatDouble(con.b) + ")";
}

void validateModel(const ModelTerms& model) {
  const std::size_t n = model.factors;
  if (n == 0) throw InvalidArgument("the model has no factors");
  if (n > kMaxOptimalFactors)
    throw InvalidArgument("the model has " + std::to_string(n) + " factors; optimal designs take at most " +
                          std::to_string(kMaxOptimalFactors));
  if (model.indices.empty() || model.indices[0] != 0)
    throw InvalidArgument("the model's terms must start with the intercept, index 0");
  for (std::size_t c = 1; c < model.indices.size(); ++c) {
    if (model.indices[c] <= model.indices[c - 1] || model.indices[c] >= quadratic::termCount(n))
      throw InvalidArgument("model term index " + std::to_string(model.indices[c]) +
                            " is out of order or beyond the " + std::to_string(quadratic::termCount(n)) +
                            " terms of the full quadratic in " + std::to_string(n) + " factors");
  }
}

bool hasSquares(const ModelTerms& model) {
  return std::any_of(model.indices.begin(), model.indices.end(), [&](std::size_t index) {
    return quadratic::term(model.factors, index).kind == quadratic::Term::Square;
  });
}

// Center and half-width of each factor's range, so natural = center + half * coded.
void ranges(const ExchangeOptions& options, std::size_t n, std::vector<double>& center, std::vector<double>& half) {
  center.assign(n, 0.0);
  half.assign(n, 1.0);
  if (options.factors.empty()) return;
  for (std::size_t i = 0; i < n; ++i) {
    center[i] = (options.factors[i].low + options.factors[i].high) / 2;
    half[i] = (options.factors[i].high - options.factors[i].low) / 2;
  }
}

void validateConstraint(const ExchangeOptions& options, std::size_t n, std::size_t c) {
  const LinearConstraint& con = options.constraints[c];
  const std::string name = "constraint " + std::to_string(c + 1);
  if (con.a.size() != n)
    throw InvalidArgument(name + " has " + std::to_string(con.a.size()) + " coefficients; the model has " +
                          std::to_string(n) + " factors");
  if (!std::isfinite(con.b) || !std::all_of(con.a.begin(), con.a.end(), [](double v) { return std::isfinite(v); }))
    throw InvalidArgument(name + " has a coefficient or bound that is not finite");
  if (std::all_of(con.a.begin(), con.a.end(), [](double v) { return v == 0.0; }))
    throw InvalidArgument(name + " names no factor: every coefficient is 0");
  std::vector<double> center;
  std::vector<double> half;
  ranges(options, n, center, half);
  double smallest = 0.0;  // of a . x over the box
  for (std::size_t i = 0; i < n; ++i) smallest += con.a[i] * center[i] - std::abs(con.a[i] * half[i]);
  if (smallest > con.b + 1e-12 * std::abs(con.b))
    throw InvalidArgument(constraintText(options, c) + " excludes the whole factor box: its least value there is " +
                          text::formatDouble(smallest));
}

void validateFactors(const ExchangeOptions& options, std::size_t n) {
  if (options.factors.empty()) return;
  if (options.factors.size() != n)
    throw InvalidArgument(std::to_string(options.factors.size()) + " factors are given for a model in " +
                          std::to_string(n) + " factors");
  for (const Factor& f : options.factors)
    if (!std::isfinite(f.low) || !std::isfinite(f.high) || !(f.low < f.high))
      throw InvalidArgument("factor " + text::quoted(f.name) + ": low must be below high, both finite");
}

// The coded points of the LPtau sequence (points 1..kSamplePoints) that meet
// the constraints, at most kSampleKept of them.
Matrix feasibleSample(const ExchangeProblem& problem) {
  const std::size_t n = problem.factors();
  std::vector<double> t(n + 1);
  std::vector<double> kept;
  for (unsigned i = 1; i <= kSamplePoints && kept.size() < kSampleKept * n; ++i) {
    lptauPoint(i, static_cast<int>(n), t.data());
    for (std::size_t d = 0; d < n; ++d) t[d] = 2 * t[d + 1] - 1;
    if (problem.feasible(t.data())) kept.insert(kept.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(n));
  }
  Matrix sample(kept.size() / n, n);
  std::copy(kept.begin(), kept.end(), sample.data());
  return sample;
}

// Exponent of factor i in term `index`.
int exponent(std::size_t n, std::size_t index, std::size_t i) {
  const quadratic::Term t = quadratic::term(n, index);
  switch (t.kind) {
    case quadratic::Term::Constant: return 0;
    case quadratic::Term::Linear: return t.first == i ? 1 : 0;
    case quadratic::Term::Square: return t.first == i ? 2 : 0;
    case quadratic::Term::Product: return (t.first == i || t.second == i) ? 1 : 0;
  }
  return 0;
}

// The derivative of term t by factor i at coded point x.
double termDerivative(const quadratic::Term& t, std::size_t i, const double* x) {
  switch (t.kind) {
    case quadratic::Term::Constant: return 0.0;
    case quadratic::Term::Linear: return t.first == i ? 1.0 : 0.0;
    case quadratic::Term::Square: return t.first == i ? 2.0 * x[i] : 0.0;
    case quadratic::Term::Product:
      if (t.first == i) return x[t.second];
      return t.second == i ? x[t.first] : 0.0;
  }
  return 0.0;
}

// w += v v'.
void addOuter(const std::vector<double>& v, Matrix& w) {
  for (std::size_t a = 0; a < v.size(); ++a)
    for (std::size_t b = 0; b < v.size(); ++b) w(a, b) += v[a] * v[b];
}

Matrix scaled(Matrix w, std::size_t count) {
  for (std::size_t k = 0; k < w.rows() * w.cols(); ++k) w.data()[k] /= static_cast<double>(count);
  return w;
}

}  // namespace

bool ExchangeProblem::feasible(const double* z) const noexcept {
  for (std::size_t c = 0; c < constraintB.size(); ++c) {
    double value = 0.0;
    double scale = std::abs(constraintB[c]);
    for (std::size_t i = 0; i < factors(); ++i) {
      value += constraintA(c, i) * z[i];
      scale += std::abs(constraintA(c, i));
    }
    if (value > constraintB[c] + 1e-10 * scale) return false;
  }
  return true;
}

void validateOptions(const ModelTerms& model, const ExchangeOptions& options) {
  validateModel(model);
  validateFactors(options, model.factors);
  if (options.starts == 0) throw InvalidArgument("starts must be at least 1");
  if (options.levels < 2) throw InvalidArgument("levels must be at least 2");
  if (options.levels < 3 && hasSquares(model))
    throw InvalidArgument("a model with squared terms needs at least 3 levels per coordinate; levels is " +
                          std::to_string(options.levels));
  for (std::size_t c = 0; c < options.constraints.size(); ++c) validateConstraint(options, model.factors, c);
}

ExchangeProblem makeProblem(const ModelTerms& model, const ExchangeOptions& options, Matrix fixed,
                            std::size_t newRuns, const Matrix& cloudCoded) {
  const std::size_t n = model.factors;
  ExchangeProblem problem;
  problem.model = model;
  problem.criterion = options.criterion;
  problem.fixed = std::move(fixed);
  problem.newRuns = newRuns;
  problem.refine = options.refine;
  for (unsigned k = 0; k < options.levels; ++k)
    problem.levels.push_back(-1.0 + 2.0 * static_cast<double>(k) / static_cast<double>(options.levels - 1));

  std::vector<double> center;
  std::vector<double> half;
  ranges(options, n, center, half);
  problem.constraintA = Matrix(options.constraints.size(), n);
  for (std::size_t c = 0; c < options.constraints.size(); ++c) {
    double b = options.constraints[c].b;
    for (std::size_t i = 0; i < n; ++i) {
      problem.constraintA(c, i) = options.constraints[c].a[i] * half[i];
      b -= options.constraints[c].a[i] * center[i];
    }
    problem.constraintB.push_back(b);
  }
  if (!options.constraints.empty()) {
    problem.feasibleSample = feasibleSample(problem);
    if (problem.feasibleSample.rows() == 0)
      throw InvalidArgument("the constraints together leave no region to place runs in: none of " +
                            std::to_string(kSamplePoints) +
                            " quasi-random points of the factor box meets them all (the region is empty or too thin)");
  }

  switch (options.criterion) {
    case Criterion::D: break;
    case Criterion::I:
      problem.moments = options.constraints.empty() ? cubeMoments(model) : pointMoments(model, problem.feasibleSample);
      break;
    case Criterion::Cloud: problem.moments = pointMoments(model, cloudCoded); break;
    case Criterion::Optimum: problem.moments = gradientMoments(model, cloudCoded); break;
  }
  return problem;
}

Matrix cubeMoments(const ModelTerms& model) {
  const std::size_t n = model.factors;
  const std::size_t p = model.size();
  Matrix w(p, p);
  for (std::size_t a = 0; a < p; ++a)
    for (std::size_t b = 0; b < p; ++b) {
      // E[x^e] for uniform x on [-1, 1]: 0 for odd e, 1 / (e + 1) for even e.
      double value = 1.0;
      for (std::size_t i = 0; i < n && value != 0.0; ++i) {
        const int e = exponent(n, model.indices[a], i) + exponent(n, model.indices[b], i);
        value *= (e % 2 != 0) ? 0.0 : 1.0 / (e + 1);
      }
      w(a, b) = value;
    }
  return w;
}

Matrix pointMoments(const ModelTerms& model, const Matrix& points) {
  const std::size_t p = model.size();
  Matrix w(p, p);
  std::vector<double> row(p);
  for (std::size_t r = 0; r < points.rows(); ++r) {
    modelRow(model, points.row(r), row.data());
    addOuter(row, w);
  }
  return scaled(std::move(w), points.rows());
}

Matrix gradientMoments(const ModelTerms& model, const Matrix& points) {
  const std::size_t n = model.factors;
  Matrix w(model.size(), model.size());
  std::vector<double> derivative(model.size());
  for (std::size_t r = 0; r < points.rows(); ++r)
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t c = 0; c < model.size(); ++c)
        derivative[c] = termDerivative(quadratic::term(n, model.indices[c]), i, points.row(r));
      addOuter(derivative, w);
    }
  return scaled(std::move(w), points.rows());
}

OptimalDesign bestOfStarts(const ExchangeProblem& problem, const ExchangeOptions& options) {
  std::vector<StartResult> results(options.starts);
  optimum::forEachItem(
      optimum::resolveThreads(options.threads, options.starts), options.starts,
      [&](std::size_t k, unsigned) { results[k] = exchangeStart(problem, options.seed, static_cast<unsigned>(k)); },
      [](std::size_t) {});

  const bool maximise = problem.criterion == Criterion::D;
  OptimalDesign best;
  const StartResult* winner = nullptr;
  for (std::size_t k = 0; k < results.size(); ++k) {
    const StartResult& r = results[k];
    if (!r.fullRank) {
      ++best.failedStarts;
      continue;
    }
    const bool better = winner == nullptr || (maximise ? r.logDet > winner->logDet
                                                       : r.averageVariance < winner->averageVariance);
    if (!better) continue;
    winner = &r;
    best.bestStart = static_cast<unsigned>(k);
  }
  if (winner == nullptr)
    throw StateError("no start found a design that estimates every model term: the candidate levels and the "
                     "constraints leave too few distinct points for the model");

  const std::size_t n = problem.factors();
  best.coded = winner->coded;
  best.natural = winner->coded;
  if (!options.factors.empty())
    for (std::size_t r = 0; r < best.natural.rows(); ++r)
      for (std::size_t i = 0; i < n; ++i) best.natural(r, i) = toNatural(options.factors[i], best.coded(r, i));
  best.logDet = winner->logDet;
  const auto p = static_cast<double>(problem.terms());
  best.dEfficiency = 100.0 * std::exp(winner->logDet / p) / static_cast<double>(problem.runs());
  best.averageVariance = maximise ? std::numeric_limits<double>::quiet_NaN() : winner->averageVariance;
  return best;
}

}  // namespace tavrin::designs
