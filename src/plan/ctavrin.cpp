#include <algorithm>
#include <cwchar>

#include "design/tables.h"
#include "tavrin/tavrin.h"

Result::Result(unsigned int code, const wchar_t* text) : code(code), message{} {
  if (text) std::wcsncpy(message, text, kMessageSize - 2);
}

Result& Result::operator=(const Result& other) {
  if (this != &other) {
    code = other.code;
    std::fill(std::begin(message), std::end(message), L'\0');
    std::wcsncpy(message, other.message, kMessageSize - 2);
  }
  return *this;
}

CTavrin::CTavrin(PlanType type)
    : PlanComputed(false), ModelComputed(false), ModelOptimized(false), CurrentPlanType(type) {}

CTavrin::CTavrin(CTavrin const& other) = default;

CTavrin& CTavrin::operator=(CTavrin const& other) = default;

CTavrin::~CTavrin() {
  tavrin::freeTable(Workspace.planMatrix);
  tavrin::freeModelTables(Workspace);
}

bool CTavrin::planIsComputed() const { return PlanComputed; }
bool CTavrin::modelIsComputed() const { return ModelComputed; }
bool CTavrin::modelIsOptimized() const { return ModelOptimized; }

Result CTavrin::planSetType(PlanType const& type) {
  PlanComputed = ModelComputed = ModelOptimized = false;
  CurrentPlanType = type;
  return Result();
}

Result CTavrin::planGetType(PlanType& type) const {
  type = CurrentPlanType;
  return Result();
}
