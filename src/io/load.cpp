#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/plan_file_reader.h"
#include "plan/messages.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr std::size_t kWideNameSize = 300;

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// The name in wide characters, converted from the current C locale's
// multibyte encoding; nothing if it has no wide form.
std::optional<std::wstring> widen(const std::string& narrow) {
  wchar_t wide[kWideNameSize];
  std::mbstate_t state{};
  const char* source = narrow.c_str();
  const std::size_t length = std::mbsrtowcs(wide, &source, kWideNameSize, &state);
  if (length == static_cast<std::size_t>(-1) || length >= kWideNameSize) return std::nullopt;
  return std::wstring(wide, length);
}

}  // namespace
}  // namespace tavrin

Result CTavrin::Load(char const* path, unsigned int& version) {
  using tavrin::Failure;
  const tavrin::Op op = tavrin::Op::Load;
  const Result unreadable = tavrin::failure(op, Failure::CannotOpenToLoad);
  const Result truncated = tavrin::failure(op, Failure::CannotLoad);

  std::unique_ptr<std::FILE, tavrin::FileCloser> file(path ? std::fopen(path, "r") : nullptr);
  if (!file) return unreadable;
  tavrin::ContentLineReader reader(file.get());

  int header[5] = {};  // version, plan type, n, m, N
  for (int h = 0; h < 5; ++h) {
    std::optional<std::string_view> line = reader.next();
    if (!line) return truncated;
    std::optional<int> parsed = tavrin::parseInt(*line);
    if (!parsed) return unreadable;
    header[h] = *parsed;
    if (h == 0) version = static_cast<unsigned int>(*parsed);
  }
  const int planType = header[1];
  const int designVarCount = header[2];
  const int objectiveCount = header[3];
  const int experimentCount = header[4];

  std::vector<tavrin::DesignVarRecord> designVars;
  for (int i = 0; i < designVarCount; ++i) {
    std::optional<std::string_view> line = reader.next();
    if (!line) return truncated;
    std::optional<std::string> name = tavrin::parseWord(*line);
    std::optional<double> min = name ? tavrin::parseReal(*line) : std::nullopt;
    std::optional<double> max = min ? tavrin::parseReal(*line) : std::nullopt;
    if (!max) return unreadable;
    std::optional<std::wstring> wide = tavrin::widen(*name);
    if (!wide) return tavrin::failure(op, Failure::DesignVarName);
    designVars.push_back({std::move(*wide), 0, *min, *max});
  }

  std::vector<tavrin::ObjectiveRecord> objectives;
  for (int j = 0; j < objectiveCount; ++j) {
    std::optional<std::string_view> line = reader.next();
    if (!line) return truncated;
    std::optional<std::string> name = tavrin::parseWord(*line);
    if (!name) return unreadable;
    std::optional<std::wstring> wide = tavrin::widen(*name);
    if (!wide) return tavrin::failure(op, Failure::ObjectiveName);
    objectives.push_back({std::move(*wide), 0});
  }

  planSetType(planType == RechschafnerPlan ? RechschafnerPlan : BoxBehnkenPlan);
  for (const tavrin::DesignVarRecord& record : designVars) {
    planAddDesignVar(record.name.c_str(), record.minValue, record.maxValue);
  }
  designVars.clear();
  for (const tavrin::ObjectiveRecord& record : objectives) planAddObjective(record.name.c_str());
  objectives.clear();

  if (planCompute().code != 0) return tavrin::failure(op, Failure::CannotComputePlan);

  for (int j = 0; j < objectiveCount; ++j) {
    const wchar_t* objective = nullptr;
    planGetObjective(j, objective);
    for (int k = 1; k <= experimentCount; ++k) {
      std::optional<std::string_view> line = reader.next();
      if (!line) return truncated;
      std::optional<double> value = tavrin::parseReal(*line);
      if (!value) return unreadable;
      planSetObjectiveValue(objective, static_cast<unsigned int>(k), *value);
    }
  }

  if (modelCompute().code != 0) return tavrin::failure(op, Failure::CannotComputeModel);
  return Result();
}
