#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "design/plan_kinds.h"
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

// What Load reads before it touches the plan object.
struct FileDefinition {
  int planType = 0;
  int objectiveCount = 0;
  int experimentCount = 0;
  std::vector<DesignVarRecord> designVars;
  std::vector<ObjectiveRecord> objectives;
};

// Reads the header, the design variables and the objectives. Returns code 0
// or the failure to report; `version` is written as soon as it is read.
Result readDefinition(ContentLineReader& reader, unsigned int& version, FileDefinition& out) {
  const Result unreadable = failure(Op::Load, Failure::CannotOpenToLoad);
  const Result truncated = failure(Op::Load, Failure::CannotLoad);

  int header[5] = {};  // version, plan type, n, m, N
  for (int h = 0; h < 5; ++h) {
    std::optional<std::string_view> line = reader.next();
    if (!line) return truncated;
    std::optional<int> parsed = parseInt(*line);
    if (!parsed) return unreadable;
    header[h] = *parsed;
    if (h == 0) version = static_cast<unsigned int>(*parsed);
  }
  out.planType = header[1];
  const int designVarCount = header[2];
  out.objectiveCount = header[3];
  out.experimentCount = header[4];

  for (int i = 0; i < designVarCount; ++i) {
    std::optional<std::string_view> line = reader.next();
    if (!line) return truncated;
    std::optional<std::string> name = parseWord(*line);
    std::optional<double> min = name ? parseReal(*line) : std::nullopt;
    std::optional<double> max = min ? parseReal(*line) : std::nullopt;
    if (!max) return unreadable;
    std::optional<std::wstring> wide = widen(*name);
    if (!wide) return failure(Op::Load, Failure::DesignVarName);
    out.designVars.push_back({std::move(*wide), 0, *min, *max});
  }

  for (int j = 0; j < out.objectiveCount; ++j) {
    std::optional<std::string_view> line = reader.next();
    if (!line) return truncated;
    std::optional<std::string> name = parseWord(*line);
    if (!name) return unreadable;
    std::optional<std::wstring> wide = widen(*name);
    if (!wide) return failure(Op::Load, Failure::ObjectiveName);
    out.objectives.push_back({std::move(*wide), 0});
  }
  return Result();
}

}  // namespace
}  // namespace tavrin

// Memory that runs out while the file is read or the registries grow makes
// Load fail with "Can not load from file." and leaves the object as it was;
// memory that runs out in planCompute makes it fail with "Can not compute
// plan."; the numeric tables of modelCompute end the process as everywhere.
Result CTavrin::Load(char const* path, unsigned int& version) {
  using tavrin::Failure;
  const tavrin::Op op = tavrin::Op::Load;

  std::unique_ptr<std::FILE, tavrin::FileCloser> file(path ? std::fopen(path, "r") : nullptr);
  if (!file) return tavrin::failure(op, Failure::CannotOpenToLoad);
  std::optional<tavrin::ContentLineReader> reader;

  tavrin::FileDefinition definition;
  std::vector<tavrin::DesignVarRecord> designVars;
  std::vector<tavrin::ObjectiveRecord> objectives;
  try {
    reader.emplace(file.get());
    Result read = tavrin::readDefinition(*reader, version, definition);
    if (read.code != 0) return read;
    // The registries as planAddDesignVar and planAddObjective would leave
    // them, built aside so that running out of memory changes nothing.
    designVars.reserve(MapDesignVars.size() + definition.designVars.size());
    designVars = MapDesignVars;
    designVars.insert(designVars.end(), std::make_move_iterator(definition.designVars.begin()),
                      std::make_move_iterator(definition.designVars.end()));
    objectives.reserve(MapObjectives.size() + definition.objectives.size());
    objectives = MapObjectives;
    objectives.insert(objectives.end(), std::make_move_iterator(definition.objectives.begin()),
                      std::make_move_iterator(definition.objectives.end()));
  } catch (const std::bad_alloc&) {
    return tavrin::failure(op, Failure::CannotLoad);
  }
  definition.designVars.clear();
  definition.objectives.clear();

  // Replays planSetType, planAddDesignVar and planAddObjective; none of them
  // can fail here, and the registries are committed without allocating.
  planSetType(tavrin::planKindOfFileType(definition.planType).type);
  MapDesignVars.swap(designVars);
  MapObjectives.swap(objectives);
  designVars.clear();
  objectives.clear();

  if (planCompute().code != 0) return tavrin::failure(op, Failure::CannotComputePlan);

  for (int j = 0; j < definition.objectiveCount; ++j) {
    const wchar_t* objective = nullptr;
    planGetObjective(j, objective);
    // The experiment number counts from 1 in a wider type, so a count of
    // INT_MAX ends the loop instead of overflowing it.
    for (long long k = 1; k <= definition.experimentCount; ++k) {
      std::optional<std::string_view> line = reader->next();
      if (!line) return tavrin::failure(op, Failure::CannotLoad);
      std::optional<double> value = tavrin::parseReal(*line);
      if (!value) return tavrin::failure(op, Failure::CannotOpenToLoad);
      planSetObjectiveValue(objective, static_cast<unsigned int>(k), *value);
    }
  }

  if (modelCompute().code != 0) return tavrin::failure(op, Failure::CannotComputeModel);
  return Result();
}
