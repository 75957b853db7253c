// What a call that must refuse threw: its message and field, or `accepted`
// when it did not throw E. A check on the message or field then fails for an
// accepted call too, so one line checks both.
#pragma once

#include <gtest/gtest.h>

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

// Runs a call that must refuse: it throws E with `needle` in its message.
template <class E, class F>
void expectRefusal(F&& call, const std::string& needle) {
  const Refusal refusal = refused<E>(call);
  EXPECT_TRUE(refusal.mentions(needle)) << refusal.what << "; expected " << needle;
}

}  // namespace tavrin::testing
