// What a call that must refuse threw: its message and field, or `accepted`
// when it did not throw E. A check on the message or field then fails for an
// accepted call too, so one line checks both.
#pragma once

#include <string>

#include "tavrin/error.h"

namespace tavrin::testing {

struct Refusal {
  std::string what = "accepted";
  std::string field;
  bool accepted = true;
  bool mentions(const std::string& needle) const { return !accepted && what.find(needle) != std::string::npos; }
};

template <class E = Error, class F>
Refusal refused(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return {e.what(), e.field(), false};
  }
  return {};
}

}  // namespace tavrin::testing
