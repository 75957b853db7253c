#include "plan/registry.h"

#include "plan/messages.h"

namespace tavrin {
namespace {

template <class Record>
const Record* findByName(const std::vector<Record>& registry, const wchar_t* name) {
  const std::wstring_view wanted = nameOf(name);
  for (const Record& record : registry) {
    if (record.name == wanted) return &record;
  }
  return nullptr;
}

}  // namespace

const DesignVarRecord* findDesignVar(const std::vector<DesignVarRecord>& registry, const wchar_t* name) {
  return findByName(registry, name);
}

const ObjectiveRecord* findObjective(const std::vector<ObjectiveRecord>& registry, const wchar_t* name) {
  return findByName(registry, name);
}

}  // namespace tavrin

using tavrin::Failure;
using tavrin::Op;

Result CTavrin::planAddDesignVar(wchar_t const* name, double min, double max) {
  if (PlanComputed) return tavrin::failure(Op::planAddDesignVar, Failure::AddAfterPlan);
  PlanComputed = ModelComputed = ModelOptimized = false;
  MapDesignVars.push_back({std::wstring(tavrin::nameOf(name)), 0, min, max});
  return Result();
}

Result CTavrin::planAddObjective(wchar_t const* name) {
  if (PlanComputed) return tavrin::failure(Op::planAddObjective, Failure::AddAfterPlan);
  PlanComputed = ModelComputed = ModelOptimized = false;
  MapObjectives.push_back({std::wstring(tavrin::nameOf(name)), 0});
  return Result();
}

Result CTavrin::planGetDesignVarCount(unsigned int& count) const {
  count = static_cast<unsigned int>(MapDesignVars.size());
  return Result();
}

Result CTavrin::planGetObjectiveCount(unsigned int& count) const {
  count = static_cast<unsigned int>(MapObjectives.size());
  return Result();
}

Result CTavrin::planGetDesignVar(int index, wchar_t const*& name, double& min, double& max) {
  if (index < 0 || static_cast<std::size_t>(index) >= MapDesignVars.size()) {
    return tavrin::failure(Op::planGetDesignVar, Failure::NotFound);
  }
  const tavrin::DesignVarRecord& record = MapDesignVars[static_cast<std::size_t>(index)];
  name = record.name.c_str();
  min = record.minValue;
  max = record.maxValue;
  return Result();
}

Result CTavrin::planGetDesignVar(wchar_t const* name, double& min, double& max) {
  const tavrin::DesignVarRecord* record = tavrin::findDesignVar(MapDesignVars, name);
  if (!record) return tavrin::failure(Op::planGetDesignVar, Failure::NotFound);
  min = record->minValue;
  max = record->maxValue;
  return Result();
}

Result CTavrin::planGetObjective(int index, wchar_t const*& name) {
  if (index < 0 || static_cast<std::size_t>(index) >= MapObjectives.size()) {
    return tavrin::failure(Op::planGetObjectiveByIndex, Failure::NotFound);
  }
  name = MapObjectives[static_cast<std::size_t>(index)].name.c_str();
  return Result();
}

Result CTavrin::planGetObjective(wchar_t const* name) {
  if (!tavrin::findObjective(MapObjectives, name)) {
    return tavrin::failure(Op::planGetObjectiveByName, Failure::NotFound);
  }
  return Result();
}
