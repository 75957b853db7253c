#include <cstddef>

#include "design/tables.h"
#include "tavrin/tavrin.h"

namespace {

// Copies at most 298 characters and a null; element 299 is always null.
// The elements after the terminator are not read and are left as they are.
void copyMessage(wchar_t (&message)[Result::kMessageSize], const wchar_t* text) {
  std::size_t length = 0;
  if (text) {
    while (length < Result::kMessageSize - 2 && text[length] != L'\0') {
      message[length] = text[length];
      ++length;
    }
  }
  message[length] = L'\0';
  message[Result::kMessageSize - 1] = L'\0';
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
