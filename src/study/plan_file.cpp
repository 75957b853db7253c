// Exchange with the plan object's plan file (CTavrin::Save / Load).
//
// The plan file holds names in the current C locale's multibyte encoding,
// one whitespace-free word each, lines of at most 299 bytes, numbers at 6
// significant digits and results in single precision. Export checks each of
// these before writing, writes through CTavrin::Save to a temporary file,
// reads that back with CTavrin::Load and compares, and only then renames.
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <optional>
#include <string>

#include "study/file_write.h"
#include "study/internal.h"
#include "study/text.h"
#include "tavrin/study.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

// Longest physical line the plan object reads back.
constexpr std::size_t kMaxPlanFileLine = 299;
constexpr std::size_t kMaxPlanFileObjectives = 20;

std::string messageOf(const Result& result) {
  const std::optional<std::string> text = text::wideToUtf8(result.message);
  return "code " + std::to_string(result.code) + (text ? ": " + *text : std::string());
}

// `value` as the plan file writes it: C's "%g", 6 significant digits.
std::string sixDigits(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  return std::string(buffer, result.ptr);
}

// The double that a number's text reads back as, whatever the locale.
double readsBackAs(const std::string& text) {
  double value = std::numeric_limits<double>::quiet_NaN();
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The name's bytes in the current C locale, as CTavrin::Save writes them;
// nothing when the locale cannot carry the name both ways.
std::optional<std::string> localeBytes(const std::wstring& wide) {
  std::mbstate_t state{};
  const wchar_t* source = wide.c_str();
  const std::size_t length = std::wcsrtombs(nullptr, &source, 0, &state);
  if (length == static_cast<std::size_t>(-1)) return std::nullopt;
  std::string narrow(length, '\0');
  state = {};
  source = wide.c_str();
  std::wcsrtombs(narrow.data(), &source, length + 1, &state);
  std::wstring back(narrow.size() + 1, L'\0');
  state = {};
  const char* from = narrow.c_str();
  const std::size_t count = std::mbsrtowcs(back.data(), &from, back.size(), &state);
  if (count == static_cast<std::size_t>(-1) || back.substr(0, count) != wide) return std::nullopt;
  return narrow;
}

std::string currentLocale() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  return name ? name : "unknown";
}

struct PlanFileName {
  std::wstring wide;
  std::string bytes;
};

PlanFileName planFileName(const std::string& item, const std::string& name) {
  const std::optional<std::wstring> wide = text::utf8ToWide(name);
  if (!wide) throw InvalidArgument(item + " " + text::quoted(name) + " is not valid UTF-8");
  const std::optional<std::string> bytes = localeBytes(*wide);
  if (!bytes)
    throw InvalidArgument("the plan file cannot carry " + item + " " + text::quoted(name) +
                          ": the current C locale (\"" + currentLocale() +
                          "\") has no encoding for it; the plan file holds names in that locale's encoding");
  for (const char c : *bytes)
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
      throw InvalidArgument("the plan file cannot carry " + item + " " + text::quoted(name) +
                            ": it holds a blank; the plan file holds names as single words");
  return {*wide, *bytes};
}

// Refuses, naming the item, whatever the plan file would not give back as the study holds it.
void checkExportable(const Study& study) {
  const Plan& plan = study.plan();
  if (plan.kind == DesignKind::Imported)
    throw InvalidArgument("the plan file carries a plan of its own kinds only, and this study's runs are imported data");
  if (plan.kind != DesignKind::BoxBehnken && plan.kind != DesignKind::Rechtschaffner)
    throw InvalidArgument("the plan file carries Box-Behnken and Rechtschaffner plans only, and this study holds a " +
                          std::string(designKindName(plan.kind)) + " design");
  if (!plan.augmentations.empty())
    throw InvalidArgument("the plan file holds the plan proper only, and runs were added to this study (" +
                          std::to_string(plan.augmentations.size()) + " time" +
                          (plan.augmentations.size() == 1 ? "" : "s") + ") since it was made");
  for (std::size_t r = 0; r < plan.runCount(); ++r)
    if (plan.deviates(r))
      throw InvalidArgument("the plan file holds planned settings only, and run " + std::to_string(r + 1) +
                            " has actual settings recorded");
  if (plan.extraCenterRuns > 0)
    throw InvalidArgument("the plan file cannot carry the " +
                          text::counted(static_cast<std::size_t>(plan.extraCenterRuns), "extra centre run",
                                        "extra centre runs") +
                          "; it holds the plan proper only");
  if (study.responses().size() > kMaxPlanFileObjectives)
    throw InvalidArgument("the plan file holds at most " + std::to_string(kMaxPlanFileObjectives) +
                          " responses; the study has " + std::to_string(study.responses().size()));
  const std::vector<MissingResult> missing = study.missing();
  if (!missing.empty())
    throw InvalidArgument("the plan file has no missing values, and " +
                          text::counted(missing.size(), "result is", "results are") +
                          " missing (the first: run " + std::to_string(missing.front().runId) +
                          ", response " + text::quoted(missing.front().response) + ")");

  std::string heading;  // the experimental-data heading, the longest line of the file
  for (const Factor& f : plan.factors) {
    const std::string item = "factor " + text::quoted(f.name);
    const PlanFileName name = planFileName("factor", f.name);
    for (const double bound : {f.low, f.high})
      if (readsBackAs(sixDigits(bound)) != bound)
        throw InvalidArgument("the plan file cannot carry the range of " + item + ": " + text::formatDouble(bound) +
                              " needs more than the file's 6 significant digits");
    const std::size_t line = name.bytes.size() + 3 + sixDigits(f.low).size() + sixDigits(f.high).size();
    if (line > kMaxPlanFileLine)
      throw InvalidArgument("the plan file cannot carry " + item + ": its line would be " + std::to_string(line) +
                            " bytes, more than " + std::to_string(kMaxPlanFileLine));
    heading += "," + name.bytes;
  }
  for (std::size_t j = 0; j < study.responses().size(); ++j) {
    const Response& r = study.responses()[j];
    const PlanFileName name = planFileName("response", r.name);
    const std::size_t line = 2 + name.bytes.size() + 1 + heading.size();
    if (line > kMaxPlanFileLine)
      throw InvalidArgument("the plan file cannot carry response " + text::quoted(r.name) +
                            " with these factor names: its heading line would be " + std::to_string(line) +
                            " bytes, more than " + std::to_string(kMaxPlanFileLine) + "; shorten the names");
    for (std::size_t row = 0; row < study.results().rows(); ++row) {
      const double v = study.results()(row, j);
      const float single = static_cast<float>(v);
      if (std::isinf(single) || (single == 0.0f && v != 0.0))
        throw InvalidArgument("the plan file cannot carry run " + std::to_string(row + 1) + ", response " +
                              text::quoted(r.name) + ": " + text::formatDouble(v) +
                              " is outside single precision's range, which the file holds results in");
    }
  }
}

CTavrin::PlanType planType(DesignKind kind) {
  return kind == DesignKind::BoxBehnken ? CTavrin::BoxBehnkenPlan : CTavrin::RechschafnerPlan;
}

// A plan object holding the study, its model computed so that Save runs.
CTavrin toPlanObject(const Study& study, std::vector<std::wstring>& factorNames,
                     std::vector<std::wstring>& responseNames) {
  CTavrin object(planType(study.kind()));
  for (const Factor& f : study.factors()) {
    factorNames.push_back(*text::utf8ToWide(f.name));
    object.planAddDesignVar(factorNames.back().c_str(), f.low, f.high);
  }
  for (const Response& r : study.responses()) {
    responseNames.push_back(*text::utf8ToWide(r.name));
    object.planAddObjective(responseNames.back().c_str());
  }
  if (const Result r = object.planCompute(); r.code != 0)
    throw InvalidArgument("the plan object refuses the plan: " + messageOf(r));
  for (std::size_t j = 0; j < responseNames.size(); ++j)
    for (std::size_t row = 0; row < study.results().rows(); ++row)
      object.planSetObjectiveValue(responseNames[j].c_str(), static_cast<unsigned int>(row + 1),
                                   study.results()(row, j));
  if (const Result r = object.modelCompute(); r.code != 0)
    throw InvalidArgument("the plan object cannot fit the results: " + messageOf(r));
  return object;
}

// True when `copy` (read back from the file) holds what `original` does.
bool samePlanObject(CTavrin& original, CTavrin& copy, const std::vector<std::wstring>& factorNames,
                    const std::vector<std::wstring>& responseNames) {
  unsigned int n = 0, m = 0, runs = 0, runsCopy = 0;
  copy.planGetDesignVarCount(n);
  copy.planGetObjectiveCount(m);
  copy.planGetExperimentCount(runsCopy);
  original.planGetExperimentCount(runs);
  if (n != factorNames.size() || m != responseNames.size() || runs != runsCopy) return false;
  for (unsigned int i = 0; i < n; ++i) {
    const wchar_t* name = nullptr;
    double low = 0, high = 0, lowCopy = 0, highCopy = 0;
    original.planGetDesignVar(static_cast<int>(i), name, low, high);
    if (copy.planGetDesignVar(static_cast<int>(i), name, lowCopy, highCopy).code != 0) return false;
    if (factorNames[i] != name || low != lowCopy || high != highCopy) return false;
  }
  for (unsigned int j = 0; j < m; ++j) {
    const wchar_t* name = nullptr;
    if (copy.planGetObjective(static_cast<int>(j), name).code != 0 || responseNames[j] != name) return false;
  }
  return true;
}

// The double whose shortest text is that of the single-precision value:
// the plan file's 6-digit text comes back as written, not as float noise.
double fromSingle(double stored) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(stored));
  double value = 0.0;
  std::from_chars(buffer, result.ptr, value);
  return value;
}

}  // namespace

void Study::exportPlanFile(const std::string& path) const {
  checkExportable(*this);
  std::vector<std::wstring> factorNames, responseNames;
  CTavrin object = toPlanObject(*this, factorNames, responseNames);
  // The plan object writes the file itself, so it writes into the private
  // folder of a replaceFile; the copy read back must equal the study.
  replaceFile(path, [&](const std::string& temporary) {
    if (const Result r = object.Save(temporary.c_str(), CTavrin::FILE_CURRENT_VERSION); r.code != 0)
      throw FileError(path, "cannot write the plan file " + text::quoted(path) + ": " + messageOf(r));
    CTavrin copy(planType(kind()));
    unsigned int version = 0;
    const Result loaded = copy.Load(temporary.c_str(), version);
    if (loaded.code != 0 || !samePlanObject(object, copy, factorNames, responseNames))
      throw InvalidArgument("the plan file written for this study does not read back as the study" +
                            (loaded.code != 0 ? " (" + messageOf(loaded) + ")" : std::string()) +
                            "; nothing was written");
  });
}

Study Study::importPlanFile(const std::string& path, const PlanOptions& options) {
  if (std::FILE* probe = std::fopen(path.c_str(), "r")) {
    std::fclose(probe);
  } else {
    FileError error(path, "cannot open the plan file " + text::quoted(path) + ": " + std::strerror(errno));
    if (errno == ENOENT) error.markNotFound();
    throw error;
  }
  CTavrin object(CTavrin::BoxBehnkenPlan);
  unsigned int version = 0;
  if (const Result r = object.Load(path.c_str(), version); r.code != 0)
    throw ParseError(path, 0, 0, "the plan object cannot read this plan file: " + messageOf(r));

  CTavrin::PlanType type = CTavrin::BoxBehnkenPlan;
  object.planGetType(type);
  const DesignKind kind = type == CTavrin::BoxBehnkenPlan ? DesignKind::BoxBehnken : DesignKind::Rechtschaffner;
  unsigned int n = 0, m = 0;
  object.planGetDesignVarCount(n);
  object.planGetObjectiveCount(m);
  const auto utf8 = [&path](const wchar_t* name) {
    const std::optional<std::string> text = text::wideToUtf8(name);
    if (!text) throw ParseError(path, 0, 0, "a name in the plan file is not Unicode text");
    return *text;
  };
  std::vector<Factor> factors;
  for (unsigned int i = 0; i < n; ++i) {
    const wchar_t* name = nullptr;
    double low = 0.0, high = 0.0;
    object.planGetDesignVar(static_cast<int>(i), name, low, high);
    factors.push_back({utf8(name), low, high, ""});
  }
  std::vector<Response> responses;
  std::vector<std::wstring> objectiveNames;
  for (unsigned int j = 0; j < m; ++j) {
    const wchar_t* name = nullptr;
    object.planGetObjective(static_cast<int>(j), name);
    objectiveNames.emplace_back(name);
    responses.push_back({utf8(name), ""});
  }
  Study study;
  try {
    study = Study(kind, std::move(factors), std::move(responses), options);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument("the plan file " + text::quoted(path) + " does not define a valid study: " + e.what());
  }
  for (std::size_t j = 0; j < objectiveNames.size(); ++j)
    for (std::size_t row = 0; row < study.plan_.baseRunCount(); ++row) {
      double value = 0.0;
      object.planGetObjectiveValue(objectiveNames[j].c_str(), static_cast<unsigned int>(row + 1), value);
      study.results_(row, j) = fromSingle(value);
    }
  return study;
}

}  // namespace tavrin
