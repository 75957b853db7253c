// The designs a study holds: a recipe checked against its kind, the runs it
// makes, and the text forms of criteria and linear constraints.
#include "study/held_design.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <utility>

#include "study/internal.h"
#include "study/text.h"
#include "tavrin/model_terms.h"
#include "tavrin/optimal_design.h"

namespace tavrin {
namespace {

constexpr int kMaxCenterRuns = 100;

bool isPlanObjectKind(DesignKind kind) { return kind == DesignKind::BoxBehnken || kind == DesignKind::Rechtschaffner; }

std::vector<std::string> factorNames(const std::vector<Factor>& factors) {
  std::vector<std::string> names;
  names.reserve(factors.size());
  for (const Factor& f : factors) names.push_back(f.name);
  return names;
}

bool isSet(const DesignOptions& o, DesignOption option) {
  switch (option) {
    case DesignOption::Alpha: return o.alpha.has_value();
    case DesignOption::Inscribed: return o.inscribed.has_value();
    case DesignOption::CenterRuns: return o.centerRuns.has_value();
    case DesignOption::AxialCenterRuns: return o.axialCenterRuns.has_value();
    case DesignOption::Blocks: return o.blocks.has_value();
    case DesignOption::Fraction: return o.fraction.has_value();
    case DesignOption::Levels: return o.levels.has_value();
  }
  return false;
}

constexpr DesignOption kOptions[] = {DesignOption::Alpha,  DesignOption::Inscribed, DesignOption::CenterRuns,
                                     DesignOption::AxialCenterRuns, DesignOption::Blocks, DesignOption::Fraction,
                                     DesignOption::Levels};

// Refuses the first option set that the kind does not take, naming it.
void refuseOptions(const DesignRecipe& recipe, std::string_view design, const std::vector<DesignOption>& takes) {
  for (const DesignOption option : kOptions) {
    if (!isSet(recipe.options, option) || std::find(takes.begin(), takes.end(), option) != takes.end()) continue;
    const std::string name(designOptionName(option));
    throw InvalidArgument("a " + std::string(design) + " design takes no option \"" + name + "\"", name);
  }
}

void refuseOptimalMembers(const DesignRecipe& recipe, std::string_view design) {
  const auto refuse = [design](const char* option) {
    throw InvalidArgument("a " + std::string(design) + " design takes no option \"" + option +
                              "\": only an optimal design is built for a model, a number of runs and constraints",
                          option);
  };
  if (!recipe.model.empty()) refuse("model");
  if (recipe.runs != 0) refuse("runs");
  if (recipe.criterion) refuse("criterion");
  if (!recipe.constraints.empty()) refuse("constraint");
}

// The recipe as a registry generator takes it; Box-Behnken and
// Rechtschaffner centre runs move to the plan's extra centre runs.
HeldRuns registryRuns(DesignKind kind, const std::vector<Factor>& factors, const PlanOptions& options) {
  const std::string_view design = designKindName(kind);
  const DesignGenerator& generator = findGenerator(design);
  DesignRecipe recipe = options.design;
  refuseOptimalMembers(recipe, design);
  refuseOptions(recipe, design, generator.options);
  HeldRuns held;
  held.extraCenterRuns = options.extraCenterRuns;
  const char* centerField = recipe.options.centerRuns ? "center-runs" : "extraCenterRuns";
  if (isPlanObjectKind(kind) && recipe.options.centerRuns) {
    if (options.extraCenterRuns != 0)
      throw InvalidArgument("centre runs are given twice: as extra centre runs and as the design's centre runs",
                            "center-runs");
    held.extraCenterRuns = *recipe.options.centerRuns;
    recipe.options.centerRuns.reset();
  } else if (!isPlanObjectKind(kind) && options.extraCenterRuns != 0) {
    throw InvalidArgument("a " + std::string(design) +
                              " design places its centre runs itself: give them as its centre runs, not as extra ones",
                          "extraCenterRuns");
  }
  if (held.extraCenterRuns < 0 || held.extraCenterRuns > kMaxCenterRuns)
    throw InvalidArgument("extra centre runs: " + std::to_string(held.extraCenterRuns) + " is outside the allowed 0.." +
                              std::to_string(kMaxCenterRuns),
                          centerField);
  try {
    held.runs = generateDesign(design, factors.size(), recipe.options);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(e.what(), e.field().empty() ? "design" : e.field());
  }
  held.recipe = std::move(recipe);
  return held;
}

// The centre runs an optimal design's recipe asks for after its own runs.
int optimalCenterRuns(const DesignRecipe& recipe) {
  const int count = recipe.options.centerRuns.value_or(0);
  if (count < 0 || count > kMaxCenterRuns)
    throw InvalidArgument("centre runs: " + std::to_string(count) + " is outside the allowed 0.." +
                              std::to_string(kMaxCenterRuns),
                          "center-runs");
  return count;
}

void checkOptimalRecipe(const std::vector<Factor>& factors, const PlanOptions& options, const ModelTerms& model) {
  const DesignRecipe& recipe = options.design;
  refuseOptions(recipe, "optimal", {DesignOption::CenterRuns});
  if (options.extraCenterRuns != 0)
    throw InvalidArgument("an optimal design places its centre runs itself: give them as its centre runs",
                          "extraCenterRuns");
  optimalCenterRuns(recipe);
  const Criterion criterion = recipe.criterion.value_or(Criterion::D);
  if (criterion != Criterion::D && criterion != Criterion::I)
    throw InvalidArgument("an optimal design is built by the d or i criterion, not " +
                              std::string(criterionName(criterion)),
                          "criterion");
  if (recipe.runs < model.size())
    throw InvalidArgument(std::to_string(recipe.runs) + " runs cannot estimate the model's " +
                              std::to_string(model.size()) + " terms: give at least " + std::to_string(model.size()),
                          "runs");
  for (std::size_t c = 0; c < recipe.constraints.size(); ++c)
    if (recipe.constraints[c].a.size() != factors.size())
      throw InvalidArgument("constraint " + std::to_string(c + 1) + " has " +
                                std::to_string(recipe.constraints[c].a.size()) + " coefficients for " +
                                std::to_string(factors.size()) + " factors",
                            "constraint");
}

ExchangeOptions exchangeOptions(const std::vector<Factor>& factors, const DesignRecipe& recipe, Criterion criterion,
                                std::uint64_t seed) {
  ExchangeOptions o;
  o.criterion = criterion;
  o.factors = factors;
  o.constraints = recipe.constraints;
  o.seed = seed;
  return o;
}

HeldRuns optimalRuns(const std::vector<Factor>& factors, const PlanOptions& options, std::uint64_t seed) {
  const ModelTerms model = recipeModel(DesignKind::Optimal, options.design, factors);
  checkOptimalRecipe(factors, options, model);
  OptimalOptions exchange;
  static_cast<ExchangeOptions&>(exchange) =
      exchangeOptions(factors, options.design, options.design.criterion.value_or(Criterion::D), seed);
  exchange.runs = options.design.runs;
  OptimalDesign made;
  try {
    made = optimalDesign(model, exchange);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(e.what(), e.field().empty() ? "design" : e.field());
  }
  HeldRuns held;
  held.recipe = options.design;
  held.naturalFirst = true;
  const int centers = optimalCenterRuns(options.design);
  const Matrix& coded = made.coded;
  held.runs.coded = Matrix(coded.rows() + static_cast<std::size_t>(centers), factors.size(), 0.0);
  std::copy(coded.data(), coded.data() + coded.rows() * coded.cols(), held.runs.coded.data());
  held.runs.blocks.assign(held.runs.coded.rows(), 1);
  held.runs.origins.assign(coded.rows(), RunOrigin::Cube);
  held.runs.origins.resize(held.runs.coded.rows(), RunOrigin::Center);
  return held;
}

// ---------------------------------------------------------- constraint text

class ConstraintParser {
 public:
  ConstraintParser(std::string_view text, const std::vector<std::string>& names)
      : text_(text), names_(names), a_(names.size(), 0.0) {}

  LinearConstraint parse() {
    side(1.0);
    skipBlanks();
    int sign = 0;
    if (text_.substr(pos_, 2) == "<=") sign = 1;
    if (text_.substr(pos_, 2) == ">=") sign = -1;
    if (sign == 0) fail("needs \"<=\" or \">=\" between its two sides");
    pos_ += 2;
    side(-1.0);
    skipBlanks();
    if (pos_ != text_.size()) fail("has \"" + std::string(text_.substr(pos_)) + "\" left over");
    LinearConstraint out{a_, -constant_};
    for (double& v : out.a) v *= sign;
    out.b *= sign;
    if (std::all_of(out.a.begin(), out.a.end(), [](double v) { return v == 0.0; }))
      fail("has no factor left once its sides are taken together");
    return out;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw InvalidArgument("constraint " + text::quoted(text_) + " " + what, "constraint");
  }

  void skipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  bool at(char c) {
    skipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  // One side, its terms moved to the left with `sideSign`.
  void side(double sideSign) {
    double sign = 1.0;
    if (at('-')) sign = -1.0;
    else at('+');
    for (;;) {
      term(sideSign * sign);
      if (at('+')) sign = 1.0;
      else if (at('-')) sign = -1.0;
      else return;
    }
  }

  void term(double sign) {
    skipBlanks();
    double coefficient = 1.0;
    const bool hasNumber = number(coefficient);
    if (hasNumber) at('*');
    skipBlanks();
    if (pos_ < text_.size() && (text_[pos_] == '`' || isNameChar(text_[pos_]))) {
      a_[factor()] += sign * coefficient;
      return;
    }
    if (!hasNumber) fail("needs a number or a factor name at position " + std::to_string(pos_ + 1));
    constant_ += sign * coefficient;
  }

  bool number(double& value) {
    if (pos_ >= text_.size() || !(std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.'))
      return false;
    std::size_t end = pos_;
    while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '.' ||
                                  ((text_[end] == '+' || text_[end] == '-') && (text_[end - 1] == 'e' || text_[end - 1] == 'E'))))
      ++end;
    // A number is digits, a point and an exponent; letters after it start a name ("2A").
    std::size_t stop = end;
    std::optional<double> parsed;
    for (; stop > pos_; --stop)
      if ((parsed = text::parseDouble(text_.substr(pos_, stop - pos_))) && std::isfinite(*parsed)) break;
    if (stop == pos_) fail("has a malformed number at position " + std::to_string(pos_ + 1));
    value = *parsed;
    pos_ = stop;
    return true;
  }

  static bool isNameChar(char c) {
    return !std::isspace(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '*' && c != '<' && c != '>' &&
           c != '=' && c != '`';
  }

  std::size_t factor() {
    std::string name;
    if (text_[pos_] == '`') {
      const std::size_t close = text_.find('`', pos_ + 1);
      if (close == std::string_view::npos) fail("has a backquote that is not closed");
      name = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
    } else {
      const std::size_t start = pos_;
      while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
      name = std::string(text_.substr(start, pos_ - start));
    }
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (names_[i] == name) return i;
    std::string known;
    for (const std::string& n : names_) known += (known.empty() ? "" : ", ") + text::quoted(n);
    fail("names " + text::quoted(name) + ", which is no factor; the factors are " + known);
  }

  std::string_view text_;
  const std::vector<std::string>& names_;
  std::vector<double> a_;
  double constant_ = 0.0;
  std::size_t pos_ = 0;
};

bool plainName(const std::string& name) {
  return !name.empty() && !std::isdigit(static_cast<unsigned char>(name.front())) && name.front() != '.' &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return !std::isspace(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '*' && c != '<' &&
                  c != '>' && c != '=' && c != '`';
         });
}

}  // namespace

std::string_view criterionName(Criterion criterion) noexcept {
  switch (criterion) {
    case Criterion::D: return "d";
    case Criterion::I: return "i";
    case Criterion::Cloud: return "cloud";
    case Criterion::Optimum: return "optimum";
  }
  return "";
}

Criterion parseCriterion(std::string_view text) {
  std::string lower;
  for (const char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Criterion c : {Criterion::D, Criterion::I, Criterion::Cloud, Criterion::Optimum})
    if (criterionName(c) == lower) return c;
  throw InvalidArgument("criterion " + text::quoted(text) + ": the criteria are d, i, cloud and optimum", "criterion");
}

LinearConstraint parseConstraint(std::string_view text, const std::vector<std::string>& factorNames) {
  return ConstraintParser(text, factorNames).parse();
}

std::string formatConstraint(const LinearConstraint& constraint, const std::vector<std::string>& factorNames) {
  std::string out;
  for (std::size_t i = 0; i < constraint.a.size() && i < factorNames.size(); ++i) {
    const double a = constraint.a[i];
    if (a == 0.0) continue;
    out += out.empty() ? (a < 0 ? "-" : "") : (a < 0 ? " - " : " + ");
    out += text::formatDouble(std::fabs(a)) + "*";
    out += plainName(factorNames[i]) ? factorNames[i] : "`" + factorNames[i] + "`";
  }
  return out + " <= " + text::formatDouble(constraint.b);
}

ModelTerms recipeModel(DesignKind kind, const DesignRecipe& recipe, const std::vector<Factor>& factors) {
  const std::size_t n = factors.size();
  // A two-level factorial is the first-order stage: a full one estimates
  // every interaction, a fraction is for the main effects.
  if (kind == DesignKind::Factorial && recipe.options.levels.value_or(2) == 2)
    return recipe.options.fraction.value_or(0) > 0 ? ModelTerms::linear(n) : ModelTerms::interaction(n);
  if (kind != DesignKind::Optimal || recipe.model.empty()) return ModelTerms::quadratic(n);
  try {
    return parseModelTerms(recipe.model, factorNames(factors));
  } catch (const Error& e) {
    throw InvalidArgument(e.what(), "model");
  }
}

HeldRuns heldRuns(DesignKind kind, const std::vector<Factor>& factors, const PlanOptions& options, std::uint64_t seed) {
  if (kind == DesignKind::Optimal) return optimalRuns(factors, options, seed);
  return registryRuns(kind, factors, options);
}

void checkHeldRecipe(DesignKind kind, const std::vector<Factor>& factors, const PlanOptions& options) {
  if (kind == DesignKind::Optimal) return checkOptimalRecipe(factors, options, recipeModel(kind, options.design, factors));
  registryRuns(kind, factors, options);
}

Matrix naturalOf(const std::vector<Factor>& factors, const Matrix& coded) {
  Matrix out(coded.rows(), coded.cols());
  for (std::size_t r = 0; r < coded.rows(); ++r)
    for (std::size_t i = 0; i < coded.cols(); ++i) out(r, i) = toNatural(factors[i], coded(r, i));
  return out;
}

void appendRuns(Plan& plan, const Matrix& natural, int block, RunOrigin origin) {
  const std::size_t old = plan.runCount();
  const std::size_t n = plan.factorCount();
  Matrix coded(old + natural.rows(), n);
  Matrix planned(old + natural.rows(), n);
  Matrix actual(old + natural.rows(), n);
  for (std::size_t r = 0; r < coded.rows(); ++r)
    for (std::size_t i = 0; i < n; ++i) {
      const bool kept = r < old;
      planned(r, i) = kept ? plan.natural(r, i) : natural(r - old, i);
      coded(r, i) = kept ? plan.coded(r, i) : toCoded(plan.factors[i], planned(r, i));
      actual(r, i) = kept ? plan.actual(r, i) : planned(r, i);
    }
  plan.coded = std::move(coded);
  plan.natural = std::move(planned);
  plan.actual = std::move(actual);
  plan.blocks.resize(plan.runCount(), block);
  plan.origins.resize(plan.runCount(), origin);
}

FoldedRuns foldRuns(const Plan& plan, const FoldOptions& options) {
  return foldDesign(plan.coded, plan.blocks, options, factorNames(plan.factors));
}

void appendCodedRuns(Plan& plan, const DesignRuns& runs) {
  const std::size_t old = plan.runCount();
  const std::size_t n = plan.factorCount();
  const auto grown = [&](const Matrix& kept, bool natural) {
    Matrix out(old + runs.runCount(), n);
    std::copy(kept.data(), kept.data() + old * n, out.data());
    for (std::size_t r = 0; r < runs.runCount(); ++r)
      for (std::size_t i = 0; i < n; ++i)
        out(old + r, i) = natural ? toNatural(plan.factors[i], runs.coded(r, i)) : runs.coded(r, i);
    return out;
  };
  Matrix natural = grown(plan.natural, true);
  Matrix actual = grown(plan.actual, true);
  plan.coded = grown(plan.coded, false);
  plan.natural = std::move(natural);
  plan.actual = std::move(actual);
  plan.blocks.insert(plan.blocks.end(), runs.blocks.begin(), runs.blocks.end());
  plan.origins.insert(plan.origins.end(), runs.origins.begin(), runs.origins.end());
}

Plan planOfRuns(DesignKind kind, std::vector<Factor> factors, const PlanOptions& options, const Matrix& natural) {
  validateFactors(kind, factors);
  checkHeldRecipe(kind, factors, options);
  Plan plan;
  plan.kind = kind;
  plan.seed = options.seed.value_or(0);
  plan.design = options.design;
  plan.coded = Matrix(0, factors.size());
  plan.natural = plan.coded;
  plan.actual = plan.coded;
  plan.factors = std::move(factors);
  appendRuns(plan, natural, 1, RunOrigin::Cube);
  plan.executionOrder = executionOrder(plan.runCount(), plan.seed);
  return plan;
}

OptimalDesign augmentRuns(const Plan& plan, const ModelTerms& model, const AugmentRequest& request,
                          std::uint64_t seed) {
  AugmentOptions options;
  static_cast<ExchangeOptions&>(options) = exchangeOptions(plan.factors, plan.design, request.criterion, seed);
  options.runs = request.runs;
  options.cloud = request.cloud;
  return augmentDesign(plan.actualCoded(), model, options);
}

}  // namespace tavrin
