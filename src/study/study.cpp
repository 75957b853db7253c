// tavrin::Study: the definition, the plan and the results.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"

namespace tavrin {

namespace {

// The plan of a definition that passed every rule.
Plan validatedPlan(DesignKind kind, std::vector<Factor> factors, const std::vector<Response>& responses,
                   const PlanOptions& options) {
  validateDefinition(kind, factors, responses);
  return makePlan(kind, std::move(factors), options);
}

}  // namespace

Study::Study(DesignKind kind, std::vector<Factor> factors, std::vector<Response> responses, const PlanOptions& options)
    : plan_(validatedPlan(kind, std::move(factors), responses, options)),
      responses_(std::move(responses)),
      results_(plan_.runCount(), responses_.size(), std::numeric_limits<double>::quiet_NaN()) {}

std::size_t Study::factorIndex(std::string_view name) const {
  for (std::size_t i = 0; i < factors().size(); ++i)
    if (factors()[i].name == name) return i;
  std::string known;
  for (const Factor& f : factors()) known += (known.empty() ? "" : ", ") + text::quoted(f.name);
  throw UnknownName("no factor is named " + text::quoted(name) + "; the factors are " + known);
}

std::size_t Study::responseIndex(std::string_view name) const {
  for (std::size_t j = 0; j < responses_.size(); ++j)
    if (responses_[j].name == name) return j;
  std::string known;
  for (const Response& r : responses_) known += (known.empty() ? "" : ", ") + text::quoted(r.name);
  throw UnknownName("no response is named " + text::quoted(name) + "; the responses are " + known);
}

namespace {

std::size_t runRow(const Plan& plan, int runId) {
  if (runId < 1 || static_cast<std::size_t>(runId) > plan.runCount())
    throw UnknownName("run " + std::to_string(runId) + " is not in the plan; run ids are 1.." +
                      std::to_string(plan.runCount()));
  return static_cast<std::size_t>(runId - 1);
}

}  // namespace

void Study::setResult(int runId, std::string_view response, double value) {
  const std::size_t row = runRow(plan_, runId);
  const std::size_t col = responseIndex(response);
  if (std::isinf(value))
    throw InvalidArgument("run " + std::to_string(runId) + ", response " + text::quoted(response) +
                          ": the value is infinite; a result is a finite number, or NaN to clear it");
  results_(row, col) = value;
}

double Study::result(int runId, std::string_view response) const {
  return results_(runRow(plan_, runId), responseIndex(response));
}

std::vector<MissingResult> Study::missing() const {
  std::vector<MissingResult> out;
  for (std::size_t r = 0; r < results_.rows(); ++r)
    for (std::size_t j = 0; j < results_.cols(); ++j)
      if (std::isnan(results_(r, j))) out.push_back({static_cast<int>(r) + 1, responses_[j].name});
  return out;
}

Fit Study::fit() const { return fitModels(plan_, responses_, results_, choices_); }

namespace {

// Equal bits, or both missing: -0.0 and 0.0 are different inputs.
bool sameValue(double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
  return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
}

bool sameValues(const Matrix& a, const Matrix& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) return false;
  for (std::size_t k = 0; k < a.rows() * a.cols(); ++k)
    if (!sameValue(a.data()[k], b.data()[k])) return false;
  return true;
}

bool sameFactors(const std::vector<Factor>& a, const std::vector<Factor>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].unit != b[i].unit) return false;
    if (!sameValue(a[i].low, b[i].low) || !sameValue(a[i].high, b[i].high)) return false;
  }
  return true;
}

bool sameResponses(const std::vector<Response>& a, const std::vector<Response>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t j = 0; j < a.size(); ++j)
    if (a[j].name != b[j].name || a[j].unit != b[j].unit) return false;
  return true;
}

}  // namespace

// Whether every response has the same chosen model (none set is the full quadratic for each).
bool sameChoices(const Study& a, const Study& b) {
  if (a.responses().size() != b.responses().size()) return false;
  for (const Response& r : a.responses())
    if (!(a.modelChoice(r.name) == b.modelChoice(r.name))) return false;
  return true;
}

bool operator==(const Study& a, const Study& b) {
  const Plan& p = a.plan_;
  const Plan& q = b.plan_;
  return p.kind == q.kind && sameFactors(p.factors, q.factors) && p.seed == q.seed &&
         p.extraCenterRuns == q.extraCenterRuns && sameValues(p.coded, q.coded) && sameValues(p.natural, q.natural) &&
         sameValues(p.actual, q.actual) && p.blocks == q.blocks && p.origins == q.origins &&
         p.executionOrder == q.executionOrder && sameResponses(a.responses_, b.responses_) &&
         sameValues(a.results_, b.results_) && sameChoices(a, b);
}

}  // namespace tavrin
