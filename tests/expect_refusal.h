// Runs a call that must refuse: it throws E with `needle` in its message.
#pragma once

#include <gtest/gtest.h>

#include <string>

template <class E, class F>
void expectRefusal(F call, const char* needle) {
  try {
    call();
    ADD_FAILURE() << "accepted; expected " << needle;
  } catch (const E& e) {
    EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
  }
}
