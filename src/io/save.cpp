#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "io/number_format.h"
#include "plan/registry.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr std::size_t kNameBufferSize = 300;

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Appends the name in the current C locale's multibyte encoding, or the
// fallback (`fallback` and the 1-based position) when it has no such form
// or does not fit the 300-byte buffer with its null. The conversion stops
// early (leaving `source` non-null) when the next character would not fit,
// so a name can need 300 bytes or more yet convert fewer.
void appendName(std::string& out, const wchar_t* name, const char* fallback, int position) {
  char narrow[kNameBufferSize];
  std::mbstate_t state{};
  const wchar_t* source = name;
  const std::size_t length = std::wcsrtombs(narrow, &source, kNameBufferSize, &state);
  if (length == static_cast<std::size_t>(-1) || length >= kNameBufferSize || source != nullptr) {
    out += fallback;
    appendInteger(out, position);
    return;
  }
  out.append(narrow, length);
}

// Formats the values of one experiment-table column. A design variable
// takes only a few distinct values (its levels), so the text of the last
// few is kept and reused; the bytes are those appendGeneral writes.
class ColumnFormatter {
 public:
  void append(std::string& out, double value) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t e = 0; e < used_; ++e) {
      if (entries_[e].bits == bits) {
        out += entries_[e].text;
        return;
      }
    }
    const std::size_t start = out.size();
    appendGeneral(out, value);
    if (used_ < entries_.size()) entries_[used_++] = {bits, out.substr(start)};
  }

 private:
  struct Entry {
    std::uint64_t bits = 0;
    std::string text;
  };
  std::array<Entry, 4> entries_;
  std::size_t used_ = 0;
};

void appendCountLine(std::string& out, unsigned int value, const char* label) {
  appendInteger(out, value);
  out += "\t//";
  out += label;
  out += '\n';
}

}  // namespace
}  // namespace tavrin

Result CTavrin::Save(char const* path, unsigned int version) {
  using tavrin::appendGeneral;
  using tavrin::appendInteger;
  using tavrin::appendName;
  const tavrin::Op op = tavrin::Op::Save;
  Result stage = tavrin::requireStage(op, tavrin::Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  if (version > FILE_CURRENT_VERSION) return tavrin::failure(op, tavrin::Failure::FileVersion);
  std::unique_ptr<std::FILE, tavrin::FileCloser> file(path ? std::fopen(path, "w") : nullptr);
  if (!file) return tavrin::failure(op, tavrin::Failure::CannotOpenToSave);

  unsigned int n = 0, m = 0, runs = 0;
  planGetDesignVarCount(n);
  planGetObjectiveCount(m);
  planGetExperimentCount(runs);

  std::string out;
  out.reserve(4096 + static_cast<std::size_t>(m) * runs * (n + 1) * 12);
  tavrin::appendCountLine(out, version, "Tavrin File Version");
  out += "//\n";
  appendInteger(out, static_cast<long long>(CurrentPlanType));
  out += "\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)\n";
  out += "//\n";
  tavrin::appendCountLine(out, n, "Design Variables Count");
  tavrin::appendCountLine(out, m, "Objectives Count");
  tavrin::appendCountLine(out, runs, "Experiments Count");
  out += "//\n//Design Variables (Name, Minimum Value, Maximum Value)\n";

  const wchar_t* name = nullptr;
  double min = 0.0, max = 0.0;
  for (unsigned int i = 0; i < n; ++i) {
    planGetDesignVar(static_cast<int>(i), name, min, max);
    appendName(out, name, "DesignVar", static_cast<int>(i) + 1);
    out += '\t';
    appendGeneral(out, min);
    out += '\t';
    appendGeneral(out, max);
    out += "\t\n";
  }

  out += "//\n//Objectives\n";
  for (unsigned int j = 0; j < m; ++j) {
    planGetObjective(static_cast<int>(j), name);
    appendName(out, name, "Objective", static_cast<int>(j) + 1);
    out += "\t\n";
  }

  out += "//\n//Experimental Data\n";
  std::vector<const tavrin::DesignVarValuesRecord*> columns;
  std::vector<tavrin::ColumnFormatter> formatters;
  for (unsigned int j = 0; j < m; ++j) {
    const wchar_t* objective = nullptr;
    planGetObjective(static_cast<int>(j), objective);
    out += "//";
    appendName(out, objective, "Objective", static_cast<int>(j) + 1);
    out += '\t';
    // Each column's values are looked up once, by name, so repeated names
    // read the first match as the experiment getters do.
    columns.clear();
    formatters.assign(n, tavrin::ColumnFormatter());
    for (unsigned int i = 0; i < n; ++i) {
      planGetDesignVar(static_cast<int>(i), name, min, max);
      out += ',';
      appendName(out, name, "DesignVar", static_cast<int>(i) + 1);
      columns.push_back(MapDesignVarValues.find(name, objective));
    }
    out += '\n';
    const tavrin::ObjectiveRecord* objectiveRecord = tavrin::findObjective(MapObjectives, objective);
    const float* measured = Workspace.obsTable[static_cast<std::size_t>(objectiveRecord->index)];
    for (unsigned int k = 1; k <= runs; ++k) {
      appendGeneral(out, static_cast<double>(measured[k]));
      for (std::size_t i = 0; i < n; ++i) {
        const tavrin::DesignVarValuesRecord* column = columns[i];
        out += '\t';
        formatters[i].append(out, column && k <= column->values.size() ? column->values[k - 1] : 0.0);
      }
      out += '\n';
    }
  }

  out += "//\n//Quadratic polynomial coefficients\n";
  for (unsigned int j = 0; j < m; ++j) {
    planGetObjective(static_cast<int>(j), name);
    out += "//Objective: ";
    appendName(out, name, "Objective", static_cast<int>(j) + 1);
    out += '\n';
    float* const* b = Workspace.coefTable[j + 1];
    auto appendCoefficient = [&out, b](unsigned int r, unsigned int c) {
      appendGeneral(out, static_cast<double>(b[r][c]));
      out += "\t// B[";
      appendInteger(out, r);
      out += ',';
      appendInteger(out, c);
      out += "]\n";
    };
    appendCoefficient(0, 0);
    for (unsigned int i = 1; i <= n; ++i) appendCoefficient(0, i);
    for (unsigned int i = 1; i <= n; ++i) appendCoefficient(i, 0);
    for (unsigned int i = 1; i < n; ++i) {
      for (unsigned int c = 1; c <= n - i; ++c) appendCoefficient(i, c);
    }
  }

  // Write errors after a successful open go unreported, as for any text stream.
  std::fwrite(out.data(), 1, out.size(), file.get());
  return Result();
}
