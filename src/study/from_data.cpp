// A study whose runs are rows of existing data rather than a generated plan.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// Fills the coding of factors given without one from the data's minimum
// and maximum; refuses a half-given coding or a setting that is not finite.
void codeFactors(std::vector<Factor>& factors, const Matrix& settings) {
  for (std::size_t i = 0; i < factors.size(); ++i) {
    Factor& f = factors[i];
    const std::string item = "factor " + std::to_string(i + 1) + " " + text::quoted(f.name);
    for (std::size_t r = 0; r < settings.rows(); ++r)
      if (!std::isfinite(settings(r, i)))
        throw InvalidArgument(item + ", row " + std::to_string(r + 1) + ": the setting " +
                              (std::isnan(settings(r, i)) ? std::string("is missing") : "is infinite") +
                              "; every run needs a finite setting of every factor");
    if (std::isnan(f.low) != std::isnan(f.high))
      throw InvalidArgument(item + ": give both ends of the coding (low:high) or neither");
    if (!std::isnan(f.low)) continue;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (std::size_t r = 0; r < settings.rows(); ++r) {
      low = std::min(low, settings(r, i));
      high = std::max(high, settings(r, i));
    }
    if (!(low < high))
      throw InvalidArgument(item + ": every row has the setting " + text::formatDouble(low) +
                            ", so the data give it no range to code; a factor must vary");
    f.low = low;
    f.high = high;
  }
}

}  // namespace

std::vector<FactorSpan> spans(const Plan& plan) {
  const Matrix coded = plan.actualCoded();
  std::vector<FactorSpan> out;
  for (std::size_t i = 0; i < plan.factorCount(); ++i) {
    FactorSpan s{plan.factors[i].name, std::numeric_limits<double>::infinity(),
                 -std::numeric_limits<double>::infinity(), 0, 0};
    for (std::size_t r = 0; r < plan.runCount(); ++r) {
      s.lowCoded = std::min(s.lowCoded, coded(r, i));
      s.highCoded = std::max(s.highCoded, coded(r, i));
    }
    s.low = plan.runCount() == 0 ? plan.factors[i].low : toNatural(plan.factors[i], s.lowCoded);
    s.high = plan.runCount() == 0 ? plan.factors[i].high : toNatural(plan.factors[i], s.highCoded);
    out.push_back(s);
  }
  return out;
}

Study Study::fromData(std::vector<Factor> factors, std::vector<Response> responses, const Matrix& settings,
                      const Matrix& results, std::vector<int> blocks) {
  const std::size_t runs = settings.rows();
  if (runs == 0) throw InvalidArgument("the data have no rows; a study needs runs");
  if (settings.cols() != factors.size())
    throw InvalidArgument("the settings have " + std::to_string(settings.cols()) + " columns for " +
                          std::to_string(factors.size()) + " factors");
  if (results.rows() != runs || results.cols() != responses.size())
    throw InvalidArgument("the results are " + std::to_string(results.rows()) + " x " + std::to_string(results.cols()) +
                          "; the data need " + std::to_string(runs) + " rows x " + std::to_string(responses.size()) +
                          " responses");
  if (blocks.empty()) blocks.assign(runs, 1);
  if (blocks.size() != runs)
    throw InvalidArgument("there are " + std::to_string(blocks.size()) + " blocks for " + std::to_string(runs) + " rows");
  for (std::size_t r = 0; r < runs; ++r)
    if (blocks[r] < 1)
      throw InvalidArgument("row " + std::to_string(r + 1) + ": block " + std::to_string(blocks[r]) +
                            " is not a block number (1, 2, ...)");
  for (std::size_t k = 0; k < runs * results.cols(); ++k)
    if (std::isinf(results.data()[k]))
      throw InvalidArgument("row " + std::to_string(k / results.cols() + 1) + ", response " +
                            text::quoted(responses[k % results.cols()].name) +
                            ": the result is infinite; a result is a finite number, or NaN for missing");
  codeFactors(factors, settings);
  validateDefinition(DesignKind::Imported, factors, responses);

  Study study;
  Plan& plan = study.plan_;
  plan.kind = DesignKind::Imported;
  plan.natural = settings;
  plan.actual = settings;
  plan.coded = Matrix(runs, factors.size());
  for (std::size_t r = 0; r < runs; ++r)
    for (std::size_t i = 0; i < factors.size(); ++i) plan.coded(r, i) = toCoded(factors[i], settings(r, i));
  plan.blocks = std::move(blocks);
  plan.origins.assign(runs, RunOrigin::Imported);
  plan.executionOrder.resize(runs);
  for (std::size_t r = 0; r < runs; ++r) plan.executionOrder[r] = static_cast<int>(r) + 1;
  plan.factors = std::move(factors);
  study.responses_ = std::move(responses);
  study.results_ = results;
  return study;
}

}  // namespace tavrin
