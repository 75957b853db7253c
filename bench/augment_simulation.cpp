// How much augmentation for the optimum sharpens the optimum, against D-
// and I-optimal augmentation of the same size, on simulated processes.
//
// For each process and seed: the runs of a 3-factor Box-Behnken plan get
// the true response plus normal noise; the fit's optimum and its
// robustness (the relocated optima of 300 noise replicates, sigma known)
// give the cloud; then M runs are added by each criterion (D and I for the
// full quadratic, Cloud and Optimum over that cloud), measured with the
// same noise draws, and the fit, optimum and robustness are redone. Reported per
// criterion: the spread of the relocated optima (root mean square distance
// from their mean, coded units) and the distance of the optimum found from
// the true one, as means over the seeds, with how often each criterion
// gives the smallest spread.
//
// usage: augment_simulation [SEEDS=30] [ADDED=6]
#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tavrin/optimal_design.h"
#include "tavrin/optimum.h"

namespace {

using namespace tavrin;

// A quadratic in coded units, in the layout of quadratic.h for 3 factors.
struct Process {
  const char* name;
  std::array<double, 10> coef;
  double sigma;
};

// Interior maximum, maximum near a face, and a flat ridge-like surface.
const Process kProcesses[] = {
    {"interior", {82.0, 3.1, -1.7, 2.2, -4.3, -3.6, -2.9, 1.2, -0.8, 0.5}, 1.5},
    {"near a face", {76.0, 6.4, 1.3, -0.9, -3.1, -2.4, -2.2, 0.7, 1.1, -0.6}, 1.5},
    {"flat", {64.0, 1.3, 0.9, -0.4, -1.2, -0.9, -1.6, 0.8, 0.3, -0.2}, 0.9},
};

const std::vector<Factor> kFactors = {{"Temp", 150.0, 210.0, ""}, {"Time", 10.0, 50.0, ""}, {"Conc", 0.1, 0.7, ""}};

double truth(const Process& p, const double* c) {
  double row[10];
  modelRow(ModelTerms::quadratic(3), c, row);
  double y = 0.0;
  for (std::size_t k = 0; k < 10; ++k) y += p.coef[k] * row[k];
  return y;
}

// The true optimum on the cube, coded: the best of a fine grid refined by
// coordinate steps, which is plenty for distances of about 0.01 and more.
std::array<double, 3> trueOptimum(const Process& p) {
  std::array<double, 3> best{};
  double bestY = -INFINITY;
  for (int a = 0; a <= 40; ++a)
    for (int b = 0; b <= 40; ++b)
      for (int c = 0; c <= 40; ++c) {
        const std::array<double, 3> x = {-1 + a / 20.0, -1 + b / 20.0, -1 + c / 20.0};
        const double y = truth(p, x.data());
        if (y > bestY) bestY = y, best = x;
      }
  for (double step = 0.025; step > 1e-7; step /= 2)
    for (bool moved = true; moved;) {
      moved = false;
      for (std::size_t i = 0; i < 3; ++i)
        for (const double s : {-step, step}) {
          std::array<double, 3> x = best;
          x[i] = std::clamp(x[i] + s, -1.0, 1.0);
          const double y = truth(p, x.data());
          if (y > bestY) bestY = y, best = x, moved = true;
        }
    }
  return best;
}

Fit fitRuns(const Matrix& coded, const Matrix& y) {
  Plan plan;
  plan.factors = kFactors;
  plan.coded = coded;
  plan.natural = Matrix(coded.rows(), 3);
  for (std::size_t r = 0; r < coded.rows(); ++r)
    for (std::size_t i = 0; i < 3; ++i) plan.natural(r, i) = toNatural(kFactors[i], coded(r, i));
  return fitModels(plan, {{"Y", ""}}, y);
}

struct Outcome {
  double spread = NAN;  // RMS distance of the relocated optima from their mean, coded
  double error = NAN;   // distance of the optimum found from the true one, coded
  Matrix cloud;         // relocated optima, natural units
};

Outcome assess(const Process& p, const Matrix& coded, const Matrix& y, std::uint64_t seed) {
  const Fit fit = fitRuns(coded, y);
  Goals goals;
  goals.goals.push_back({"Y", Goal::Maximize, p.coef[0] - 30.0, p.coef[0] + 30.0});
  SearchOptions search;
  search.points = 4096;
  const Optimum nominal = optimize(fit, goals, search);
  RobustnessOptions options;
  options.sigma = {{"Y", p.sigma}};
  options.replicates = 300;
  options.seed = seed;
  const Robustness r = robustness(fit, goals, nominal, options);
  Outcome out;
  out.cloud = r.optima;
  std::vector<std::array<double, 3>> points;
  for (std::size_t k = 0; k < r.optima.rows(); ++k) {
    if (std::isnan(r.optima(k, 0))) continue;
    std::array<double, 3> c{};
    for (std::size_t i = 0; i < 3; ++i) c[i] = toCoded(kFactors[i], r.optima(k, i));
    points.push_back(c);
  }
  std::array<double, 3> mean{};
  for (const auto& c : points)
    for (std::size_t i = 0; i < 3; ++i) mean[i] += c[i] / static_cast<double>(points.size());
  double sum = 0.0;
  for (const auto& c : points)
    for (std::size_t i = 0; i < 3; ++i) sum += (c[i] - mean[i]) * (c[i] - mean[i]);
  out.spread = std::sqrt(sum / static_cast<double>(points.size()));
  const std::array<double, 3> best = trueOptimum(p);
  double e = 0.0;
  for (std::size_t i = 0; i < 3; ++i) e += std::pow(nominal.candidates[0].coded[i] - best[i], 2);
  out.error = std::sqrt(e);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int seeds = argc > 1 ? std::atoi(argv[1]) : 30;
  const std::size_t added = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 6;
  const Matrix start = makePlan(DesignKind::BoxBehnken, kFactors, {1, 0}).coded;
  const ModelTerms model = ModelTerms::quadratic(3);
  constexpr std::size_t kCriteria = 4;
  const char* names[kCriteria] = {"D", "I", "Cloud", "Optimum"};
  const Criterion criteria[kCriteria] = {Criterion::D, Criterion::I, Criterion::Cloud, Criterion::Optimum};
  std::printf("%zu-run Box-Behnken plan in 3 factors plus %zu runs, %d seeds, 300 replicates each\n", start.rows(),
              added, seeds);
  std::printf("%-12s %-9s %12s %12s %10s\n", "process", "added by", "spread", "error", "smallest");
  for (const Process& p : kProcesses) {
    double before = 0.0;
    double beforeError = 0.0;
    std::array<double, kCriteria> spread{};
    std::array<double, kCriteria> error{};
    std::array<int, kCriteria> wins{};
    for (int s = 0; s < seeds; ++s) {
      std::mt19937_64 rng(static_cast<std::uint64_t>(s) + 1);
      std::normal_distribution<double> noise(0.0, p.sigma);
      Matrix y(start.rows(), 1);
      for (std::size_t r = 0; r < start.rows(); ++r) y(r, 0) = truth(p, start.row(r)) + noise(rng);
      std::vector<double> newNoise(added);
      for (double& v : newNoise) v = noise(rng);
      const Outcome first = assess(p, start, y, static_cast<std::uint64_t>(s) + 101);
      before += first.spread / seeds;
      beforeError += first.error / seeds;
      std::array<double, kCriteria> spreads{};
      for (std::size_t c = 0; c < kCriteria; ++c) {
        AugmentOptions a;
        a.factors = kFactors;
        a.criterion = criteria[c];
        a.runs = added;
        a.starts = 10;
        if (criteria[c] == Criterion::Cloud || criteria[c] == Criterion::Optimum) a.cloud = first.cloud;
        const OptimalDesign d = augmentDesign(start, model, a);
        Matrix yAll(d.coded.rows(), 1);
        for (std::size_t r = 0; r < d.coded.rows(); ++r)
          yAll(r, 0) = r < start.rows() ? y(r, 0) : truth(p, d.coded.row(r)) + newNoise[r - start.rows()];
        const Outcome after = assess(p, d.coded, yAll, static_cast<std::uint64_t>(s) + 101);
        spreads[c] = after.spread;
        spread[c] += after.spread / seeds;
        error[c] += after.error / seeds;
      }
      ++wins[static_cast<std::size_t>(std::min_element(spreads.begin(), spreads.end()) - spreads.begin())];
    }
    std::printf("%-12s %-9s %12.4f %12.4f %10s\n", p.name, "(none)", before, beforeError, "");
    for (std::size_t c = 0; c < kCriteria; ++c)
      std::printf("%-12s %-9s %12.4f %12.4f %6d/%d\n", p.name, names[c], spread[c], error[c], wins[c], seeds);
  }
  return 0;
}
