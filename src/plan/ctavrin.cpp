#include <algorithm>
#include <cstddef>
#include <utility>

#include "design/tables.h"
#include "tavrin/tavrin.h"

namespace {

static_assert(Result::kMessageSize == 300, "a message holds 298 characters, a null and a null at 299");
static_assert(tavrin::kBestSlots == CTavrin::BestResultCount + 1, "best slots 1..BestResultCount, slot 0 unused");

// Copies at most 298 characters; every element after them is null, so a
// Result carries no indeterminate values when it is copied to the host.
void copyMessage(wchar_t (&message)[Result::kMessageSize], const wchar_t* text) {
  std::size_t length = 0;
  if (text) {
    while (length < Result::kMessageSize - 2 && text[length] != L'\0') {
      message[length] = text[length];
      ++length;
    }
  }
  std::fill(message + length, message + Result::kMessageSize, L'\0');
}

}  // namespace

Result::Result(unsigned int code, const wchar_t* text) : code(code) { copyMessage(message, text); }

Result& Result::operator=(const Result& other) {
  if (this != &other) {
    code = other.code;
    copyMessage(message, other.message);
  }
  return *this;
}

// The class constants are data of the library: callers may take their
// address or bind them to references.
const unsigned int CTavrin::FILE_CURRENT_VERSION;
const unsigned int CTavrin::BestResultCount;

CTavrin::CTavrin(PlanType type)
    : PlanComputed(false), ModelComputed(false), ModelOptimized(false), CurrentPlanType(type) {}

CTavrin::CTavrin(CTavrin const& other) = default;

// Copies into a new object first and takes its members over only when the
// copy is complete: running out of memory leaves the target as it was.
CTavrin& CTavrin::operator=(CTavrin const& other) {
  if (this == &other) return *this;
  CTavrin copy(other);
  Workspace = std::move(copy.Workspace);
  PlanComputed = copy.PlanComputed;
  ModelComputed = copy.ModelComputed;
  ModelOptimized = copy.ModelOptimized;
  MapDesignVars.swap(copy.MapDesignVars);
  MapObjectives.swap(copy.MapObjectives);
  std::swap(MapDesignVarValues, copy.MapDesignVarValues);
  CurrentPlanType = copy.CurrentPlanType;
  return *this;
}

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
