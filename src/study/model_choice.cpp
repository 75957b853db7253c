// The model chosen per response: its checks and its place in a Study.
#include <cmath>
#include <string>
#include <utility>

#include "study/text.h"
#include "tavrin/model_building.h"
#include "tavrin/study.h"

namespace tavrin {
namespace {

// Runs `check`; an Error it throws is thrown again carrying `field`, so a
// front end marks the field without reading the message.
template <class Check>
void atField(const std::string& field, Check check) {
  try {
    check();
  } catch (const UnknownName& e) {
    throw UnknownName(field + ": " + e.what(), field);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(field + ": " + e.what(), field);
  }
}

bool sameNumber(double a, double b) noexcept { return (std::isnan(a) && std::isnan(b)) || a == b; }

void validateForced(const std::vector<std::string>& labels, const std::vector<std::string>& names,
                    const std::string& path) {
  for (std::size_t k = 0; k < labels.size(); ++k)
    atField(path + "[" + std::to_string(k) + "]", [&] { parseTerm(labels[k], names); });
}

void validatePower(const ModelChoice& choice, const std::string& path) {
  const std::string field = path + ".power";
  if (choice.transform == "boxcox") {
    if (std::isinf(choice.power))
      throw InvalidArgument(field + ": the Box-Cox power must be finite, or null for none", field);
    return;
  }
  const double named = namedPower(choice.transform);
  const double expected = named == 1.0 ? std::nan("") : named;
  if (!sameNumber(choice.power, expected))
    throw InvalidArgument(field + ": " + text::formatDouble(choice.power) + " is not the power of transform " +
                              text::quoted(choice.transform),
                          field);
}

}  // namespace

bool ModelChoice::isDefault() const { return *this == ModelChoice{}; }

bool operator==(const ModelChoice& a, const ModelChoice& b) {
  const ReductionOptions& p = a.reduction;
  const ReductionOptions& q = b.reduction;
  return a.model == b.model && a.transform == b.transform && a.reduce == b.reduce && p.criterion == q.criterion &&
         p.pToRemove == q.pToRemove && p.forceIn == q.forceIn && p.forceOut == q.forceOut && a.terms == b.terms &&
         sameNumber(a.power, b.power);
}

void validateModelChoice(const ModelChoice& choice, const std::vector<Factor>& factors, const std::string& path) {
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  atField(path + ".model", [&] { parseModelTerms(choice.model, names); });
  atField(path + ".transform", [&] {
    if (choice.transform != "boxcox") namedPower(choice.transform);
  });
  const ReductionOptions& r = choice.reduction;
  if (!(r.pToRemove > 0.0 && r.pToRemove < 1.0))
    throw InvalidArgument(path + ".reduction.pToRemove: " + text::formatDouble(r.pToRemove) +
                              " must lie strictly between 0 and 1",
                          path + ".reduction.pToRemove");
  validateForced(r.forceIn, names, path + ".reduction.forceIn");
  validateForced(r.forceOut, names, path + ".reduction.forceOut");
  atField(path + ".terms", [&] { parseModelTerms(choice.terms, names); });
  validatePower(choice, path);
}

const ModelChoice& Study::modelChoice(std::string_view response) const {
  static const ModelChoice kQuadratic;
  const std::size_t j = responseIndex(response);
  return choices_.empty() ? kQuadratic : choices_[j];
}

void Study::setModelChoice(std::string_view response, ModelChoice choice) {
  const std::size_t j = responseIndex(response);
  validateModelChoice(choice, factors(), "models." + std::string(response));
  if (choices_.empty()) choices_.resize(responses_.size());
  choices_[j] = std::move(choice);
}

}  // namespace tavrin
