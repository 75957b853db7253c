// robustness(): perturb the observations, refit every replicate with one
// product through the least-squares map, relocate each optimum and
// summarise the spread.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "analysis/inference.h"
#include "optimum/global_search.h"
#include "optimum/normal_stream.h"
#include "optimum/parallel.h"
#include "optimum/polish.h"
#include "optimum/problem.h"
#include "optimum/search_steps.h"
#include "optimum/statistics.h"
#include "study/text.h"
#include "tavrin/error.h"

namespace tavrin {
namespace optimum {
namespace {

using ColumnMatrix = Eigen::MatrixXd;
using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr unsigned kMaxReplicates = 1000000;

void validateOptions(const Fit& fit, const Optimum& nominal, const RobustnessOptions& o) {
  if (o.replicates < 1 || o.replicates > kMaxReplicates)
    throw InvalidArgument("robustness replicates: " + std::to_string(o.replicates) + " is outside 1..1000000",
                          "robustness.replicates");
  for (const double q : o.percentiles)
    if (!(q >= 0.0 && q <= 100.0))
      throw InvalidArgument("robustness percentiles: " + text::formatDouble(q) + " is outside 0..100",
                            "robustness.percentiles");
  if (o.relocationPoints > kSequencePoints)
    throw InvalidArgument("robustness relocationPoints: " + std::to_string(o.relocationPoints) +
                              " is outside 0..65536; the LPtau sequence has 65536 distinct points",
                          "robustness.relocationPoints");
  if (o.relocationStarts > o.relocationPoints)
    throw InvalidArgument("robustness relocationStarts: " + std::to_string(o.relocationStarts) +
                              " exceeds relocationPoints (" + std::to_string(o.relocationPoints) + ")",
                          "robustness.relocationStarts");
  for (const auto& [name, sigma] : o.sigma) {
    const std::string path = "robustness.sigma." + name;
    try {
      fit.responseIndex(name);
    } catch (const UnknownName& e) {
      throw UnknownName(e.what(), path);
    }
    if (!std::isfinite(sigma) || sigma < 0.0)
      throw InvalidArgument("robustness sigma of response " + text::quoted(name) + ": must be finite and >= 0 (got " +
                                text::formatDouble(sigma) + ")",
                            path);
  }
  if (nominal.candidates.empty())
    throw InvalidArgument("robustness: the nominal optimum has no candidate; run optimize() first");
  if (nominal.candidates.front().coded.size() != fit.factorCount())
    throw InvalidArgument("robustness: the nominal optimum has " +
                          std::to_string(nominal.candidates.front().coded.size()) + " coordinates; the fit has " +
                          std::to_string(fit.factorCount()) + " factors");
  const bool mapsMatch = std::all_of(fit.models.begin(), fit.models.end(), [&fit](const Model& m) {
    return m.solver.rows() == fit.termCount() && m.solver.cols() == fit.runCount() &&
           m.residuals.size() == fit.runCount();
  });
  if (!mapsMatch || fit.observations.rows() != fit.runCount() || fit.observations.cols() != fit.responses.size())
    throw InvalidArgument("robustness: the fit's least-squares maps or observations do not match its runs and terms");
}

// RMSE of a response's residuals; StateError when the plan leaves none.
double residualSigma(const Fit& fit, std::size_t j) {
  const int df = fit.models[j].residualDf;
  if (df <= 0)
    throw StateError("robustness: response " + text::quoted(fit.responses[j].name) +
                     " has no residual degrees of freedom (" + std::to_string(fit.runCount()) + " runs, " +
                     std::to_string(fit.runCount() - static_cast<std::size_t>(std::max(df, 0))) +
                     " columns); its sigma must be supplied",
                     "sigma." + fit.responses[j].name);
  return analysis::rootMeanSquare(analysis::residuals(fit, j), df);
}

// Replicates whose noise is drawn as one item of work; seeding a
// replicate's engine costs microseconds, so a million replicates take
// seconds, and the caller's progress callback runs between items.
constexpr std::size_t kDrawReplicates = 1024;

// Observations on each model's scale plus noise: column k * R + j holds
// response j of replicate k.
template <class Progress>
ColumnMatrix perturbedObservations(const Fit& fit, const std::vector<double>& sigma, const RobustnessOptions& o,
                                   unsigned threads, Progress onCaller) {
  const std::size_t runs = fit.runCount();
  const std::size_t responses = fit.responses.size();
  ColumnMatrix modelled(runs, responses);
  for (std::size_t j = 0; j < responses; ++j) modelled.col(static_cast<Eigen::Index>(j)) = analysis::modelledObservations(fit, j);
  ColumnMatrix y(runs, responses * o.replicates);
  const std::size_t items = (o.replicates + kDrawReplicates - 1) / kDrawReplicates;
  forEachItem(threads, items, [&](std::size_t item, unsigned) {
    const std::size_t end = std::min<std::size_t>(o.replicates, (item + 1) * kDrawReplicates);
    for (std::size_t k = item * kDrawReplicates; k < end; ++k) {
      NormalStream noise(o.seed, k);
      for (std::size_t j = 0; j < responses; ++j) {
        double* column = y.col(static_cast<Eigen::Index>(k * responses + j)).data();
        for (std::size_t r = 0; r < runs; ++r) column[r] = modelled(static_cast<Eigen::Index>(r), static_cast<Eigen::Index>(j)) + sigma[j] * noise.next();
      }
    }
  }, onCaller);
  return y;
}

// The coefficients of every replicate: each response through its own
// least-squares map, one matrix product per response.
ColumnMatrix refit(const Fit& fit, const ColumnMatrix& y) {
  const std::size_t responses = fit.responses.size();
  const auto replicates = static_cast<Eigen::Index>(responses == 0 ? 0 : y.cols() / static_cast<Eigen::Index>(responses));
  ColumnMatrix out(static_cast<Eigen::Index>(fit.termCount()), y.cols());
  for (std::size_t j = 0; j < responses; ++j) {
    const Matrix& s = fit.models[j].solver;
    const Eigen::Map<const RowMatrix> solver(s.data(), static_cast<Eigen::Index>(s.rows()), static_cast<Eigen::Index>(s.cols()));
    // Response j's columns j, j + R, j + 2R, ... as matrices of their own.
    const auto first = static_cast<Eigen::Index>(j);
    const Eigen::OuterStride<> stride(y.rows() * static_cast<Eigen::Index>(responses));
    const Eigen::OuterStride<> outStride(out.rows() * static_cast<Eigen::Index>(responses));
    const Eigen::Map<const ColumnMatrix, 0, Eigen::OuterStride<>> in(y.col(first).data(), y.rows(), replicates, stride);
    Eigen::Map<ColumnMatrix, 0, Eigen::OuterStride<>> coefficients(out.col(first).data(), out.rows(), replicates,
                                                                  outStride);
    coefficients.noalias() = solver * in;
  }
  return out;
}

struct Replicate {
  std::vector<double> predictions;  // every response at the nominal optimum
  std::vector<char> constraintMet;  // per hard interval
  bool located = false;
  std::vector<double> optimum;  // natural units
};

class Relocation {
 public:
  Relocation(const Problem& p, const Fit& fit, const ColumnMatrix& coefficients, const std::vector<double>& nominal,
             const RobustnessOptions& o)
      : p_(p), fit_(fit), coefficients_(coefficients), nominal_(nominal), options_(o) {}

  Replicate run(std::size_t k) const {
    const std::size_t responses = fit_.responses.size();
    const std::size_t n = p_.factors;
    const std::size_t terms = quadratic::termCount(n);
    Replicate r;
    for (std::size_t j = 0; j < responses; ++j)
      r.predictions.push_back(quadratic::evaluate(n, column(k, j), nominal_.data()));
    for (const ResponseInterval& i : p_.intervals) {
      if (!i.hard) continue;
      const double y = r.predictions[p_.responses[i.slot]];
      r.constraintMet.push_back(y >= i.low && y <= i.high ? 1 : 0);
    }
    std::vector<double> coef;
    coef.reserve(terms * p_.slotCount());
    for (const std::size_t j : p_.responses) coef.insert(coef.end(), column(k, j), column(k, j) + terms);

    Located best = polishVerified(p_, coef.data(), nominal_);
    if (options_.relocationStarts > 0) {
      const PackedModels packed = packModels(n, p_.slotCount(), coef.data());
      const std::size_t keep = std::min<std::size_t>(options_.relocationPoints, 64);
      const SampleResult sample = sampleRegion(p_, packed, options_.relocationPoints, keep, 1);
      for (const std::vector<double>& start : spreadStarts(p_, sample.best, options_.relocationStarts)) {
        Located l = polishVerified(p_, coef.data(), start);
        if (better(l, best)) best = std::move(l);
      }
    }
    r.located = best.admissible;
    if (r.located) r.optimum = naturalSettings(p_, fit_, best.coded);
    return r;
  }

 private:
  const double* column(std::size_t k, std::size_t j) const {
    return coefficients_.col(static_cast<Eigen::Index>(k * fit_.responses.size() + j)).data();
  }

  const Problem& p_;
  const Fit& fit_;
  const ColumnMatrix& coefficients_;
  const std::vector<double>& nominal_;
  const RobustnessOptions& options_;
};

void summarise(const Problem& p, const Fit& fit, const std::vector<Replicate>& replicates, Robustness& out) {
  const std::size_t n = fit.factorCount();
  const std::size_t responses = fit.responses.size();
  const std::size_t q = out.percentiles.size();
  out.optima = Matrix(replicates.size(), n, std::numeric_limits<double>::quiet_NaN());
  out.settingPercentiles = Matrix(n, q);
  out.predictionPercentiles = Matrix(responses, q);
  for (std::size_t k = 0; k < replicates.size(); ++k) {
    if (!replicates[k].located) {
      ++out.failedReplicates;
      continue;
    }
    std::copy(replicates[k].optimum.begin(), replicates[k].optimum.end(), out.optima.row(k));
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<double> settings;
    for (const Replicate& r : replicates)
      if (r.located) settings.push_back(r.optimum[i]);
    std::sort(settings.begin(), settings.end());
    for (std::size_t c = 0; c < q; ++c) out.settingPercentiles(i, c) = percentileOfSorted(settings, out.percentiles[c]);
  }
  for (std::size_t j = 0; j < responses; ++j) {
    std::vector<double> values;
    values.reserve(replicates.size());
    // In the response's units; a transformed model's values mapped back.
    for (const Replicate& r : replicates) values.push_back(analysis::toOriginal(fit.models[j], r.predictions[j]));
    out.predictionMean.push_back(mean(values));
    out.predictionStdDev.push_back(standardDeviation(values, out.predictionMean.back()));
    std::sort(values.begin(), values.end());
    for (std::size_t c = 0; c < q; ++c) out.predictionPercentiles(j, c) = percentileOfSorted(values, out.percentiles[c]);
  }
  std::size_t hard = 0;
  for (const ResponseInterval& i : p.intervals) hard += i.hard ? 1 : 0;
  for (std::size_t c = 0; c < hard; ++c) {
    std::size_t met = 0;
    for (const Replicate& r : replicates) met += static_cast<std::size_t>(r.constraintMet[c]);
    out.constraintProbability.push_back(static_cast<double>(met) / static_cast<double>(replicates.size()));
  }
}

}  // namespace
}  // namespace optimum

Robustness robustness(const Fit& fit, const Goals& goals, const Optimum& nominal, const RobustnessOptions& options) {
  using namespace optimum;
  validateFit(fit);
  validateOptions(fit, nominal, options);
  SearchOptions search;
  search.threads = options.threads;
  const Problem p = compileProblem(fit, completeGoals(fit, goals, search));

  Robustness out;
  out.replicates = options.replicates;
  out.percentiles = options.percentiles;
  out.nominal = nominal.candidates.front().natural;
  for (std::size_t j = 0; j < fit.responses.size(); ++j) {
    const auto supplied = options.sigma.find(fit.responses[j].name);
    const bool given = supplied != options.sigma.end();
    out.sigma.push_back(given ? supplied->second : residualSigma(fit, j));
    out.sigmaSource.push_back(given ? "supplied" : "residuals");
  }

  const unsigned threads = resolveThreads(options.threads, options.replicates);
  const auto report = [&](std::size_t done) {
    if (options.progress) options.progress(static_cast<unsigned>(done), options.replicates);
  };
  const ColumnMatrix y = perturbedObservations(fit, out.sigma, options, threads, [&](std::size_t) { report(0); });
  const ColumnMatrix coefficients = refit(fit, y);

  const Relocation relocation(p, fit, coefficients, nominal.candidates.front().coded, options);
  std::vector<Replicate> replicates(options.replicates);
  forEachItem(threads, replicates.size(), [&](std::size_t k, unsigned) { replicates[k] = relocation.run(k); }, report);
  report(options.replicates);
  summarise(p, fit, replicates, out);
  return out;
}

}  // namespace tavrin
