// Reading and writing a model's term list, and its hierarchy.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "study/text.h"
#include "tavrin/error.h"
#include "tavrin/model_terms.h"

namespace tavrin {
namespace {

constexpr std::string_view kForms =
    "a term is a factor name (A), a square (A^2) or a two-factor product (A:B); "
    "write a name with spaces, ':' or '^' in backquotes, e.g. `my factor`";

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '+' || c == ','; }

// Splits the text into term labels at separators outside backquotes.
std::vector<std::string> splitTerms(std::string_view text) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false;
  for (const char c : text) {
    if (c == '`') quoted = !quoted;
    if (!quoted && isSeparator(c)) {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
      continue;
    }
    current += c;
  }
  if (quoted) throw InvalidArgument("model " + text::quoted(text) + ": a backquote is not closed");
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

std::optional<std::size_t> factorIndex(std::string_view name, const std::vector<std::string>& names) {
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) return std::nullopt;
  return static_cast<std::size_t>(it - names.begin());
}

// A factor named by `part`: a plain name or one in backquotes.
std::size_t namedFactor(std::string_view part, std::string_view label, const std::vector<std::string>& names) {
  if (part.size() >= 2 && part.front() == '`' && part.back() == '`') part = part.substr(1, part.size() - 2);
  if (const auto i = factorIndex(part, names)) return *i;
  std::string known;
  for (const std::string& n : names) known += (known.empty() ? "" : ", ") + text::quoted(n);
  throw UnknownName("term " + text::quoted(label) + ": no factor is named " + text::quoted(part) +
                    "; the factors are " + known);
}

// Splits a label at ':' outside backquotes.
std::vector<std::string_view> productParts(std::string_view label) {
  std::vector<std::string_view> parts;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t k = 0; k < label.size(); ++k) {
    if (label[k] == '`') quoted = !quoted;
    if (!quoted && label[k] == ':') {
      parts.push_back(label.substr(start, k - start));
      start = k + 1;
    }
  }
  parts.push_back(label.substr(start));
  return parts;
}

std::string display(const std::vector<std::string>& names, std::size_t i) {
  const std::string& name = names[i];
  const bool plain = name.find_first_of(" \t:^+,`") == std::string::npos;
  return plain ? name : "`" + name + "`";
}

}  // namespace

std::size_t parseTerm(std::string_view label, const std::vector<std::string>& names) {
  const std::size_t n = names.size();
  if (label == "1") return 0;
  // A whole label that is a factor's name wins over reading ':' or '^' in it.
  if (const auto i = factorIndex(label, names)) return quadratic::linearIndex(*i);
  if (label.empty()) throw InvalidArgument(std::string("an empty term; ") + std::string(kForms));
  if (label.size() > 2 && label.substr(label.size() - 2) == "^2") {
    const std::size_t i = namedFactor(label.substr(0, label.size() - 2), label, names);
    return quadratic::squareIndex(n, i);
  }
  const std::vector<std::string_view> parts = productParts(label);
  if (parts.size() == 1) {
    if (label.find('^') != std::string_view::npos && label.front() != '`')
      throw InvalidArgument("term " + text::quoted(label) + " is not allowed: only squares (^2) are; " +
                            std::string(kForms));
    return quadratic::linearIndex(namedFactor(label, label, names));
  }
  if (parts.size() != 2)
    throw InvalidArgument("term " + text::quoted(label) + " has " + std::to_string(parts.size()) +
                          " factors: the model has products of two; " + std::string(kForms));
  const std::size_t i = namedFactor(parts[0], label, names);
  const std::size_t j = namedFactor(parts[1], label, names);
  if (i == j)
    throw InvalidArgument("term " + text::quoted(label) + " multiplies a factor by itself: write " +
                          display(names, i) + "^2");
  return quadratic::productIndex(n, std::min(i, j), std::max(i, j));
}

ModelTerms parseModelTerms(std::string_view text, const std::vector<std::string>& names) {
  const std::size_t n = names.size();
  if (text == "linear") return ModelTerms::linear(n);
  if (text == "interaction") return ModelTerms::interaction(n);
  if (text == "quadratic") return ModelTerms::quadratic(n);
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
    throw InvalidArgument(
        "the model is empty: name one of linear, interaction, quadratic, or list its terms, e.g. \"A B A:B A^2\"");
  const std::vector<std::string> labels = splitTerms(text);
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const bool dropsIntercept = labels[k] == "-1" || labels[k] == "0" || (labels[k] == "-" && k + 1 < labels.size() &&
                                                                         labels[k + 1] == "1");
    if (dropsIntercept)
      throw InvalidArgument("model " + text::quoted(text) + " removes the intercept (" + text::quoted(labels[k]) +
                            "): every model keeps it; remove that item");
  }
  ModelTerms model{n, {0}};
  for (const std::string& label : labels) {
    const std::size_t index = parseTerm(label, names);
    if (index == 0) continue;
    if (model.contains(index))
      throw InvalidArgument("model " + text::quoted(text) + ": term " + text::quoted(label) + " appears twice");
    model.indices.insert(std::upper_bound(model.indices.begin(), model.indices.end(), index), index);
  }
  return model;
}

std::string formatModelTerms(const ModelTerms& model, const std::vector<std::string>& names) {
  std::string out;
  for (const std::size_t index : model.indices) {
    const quadratic::Term t = quadratic::term(model.factors, index);
    std::string label;
    switch (t.kind) {
      case quadratic::Term::Constant: continue;
      case quadratic::Term::Linear: label = display(names, t.first); break;
      case quadratic::Term::Square: label = display(names, t.first) + "^2"; break;
      case quadratic::Term::Product: label = display(names, t.first) + ":" + display(names, t.second); break;
    }
    out += (out.empty() ? "" : " ") + label;
  }
  return out;
}

namespace {

std::vector<std::size_t> parentsOf(std::size_t n, std::size_t index) {
  const quadratic::Term t = quadratic::term(n, index);
  switch (t.kind) {
    case quadratic::Term::Constant: return {};
    case quadratic::Term::Linear: return {0};
    case quadratic::Term::Square: return {0, quadratic::linearIndex(t.first)};
    case quadratic::Term::Product: return {0, quadratic::linearIndex(t.first), quadratic::linearIndex(t.second)};
  }
  return {};
}

}  // namespace

std::vector<std::size_t> missingParents(const ModelTerms& model) {
  std::vector<std::size_t> out;
  for (const std::size_t index : model.indices)
    for (const std::size_t parent : parentsOf(model.factors, index))
      if (!model.contains(parent)) out.push_back(parent);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::string hierarchyWarning(const ModelTerms& model, const std::vector<std::string>& names) {
  std::string out;
  for (const std::size_t index : model.indices) {
    std::string lacking;
    for (const std::size_t parent : parentsOf(model.factors, index))
      if (!model.contains(parent)) lacking += (lacking.empty() ? "" : " and ") + quadratic::termLabel(names, parent);
    if (!lacking.empty()) out += (out.empty() ? "" : "; ") + quadratic::termLabel(names, index) + " lacks " + lacking;
  }
  return out;
}

}  // namespace tavrin
