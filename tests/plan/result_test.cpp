#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "tavrin/tavrin.h"

TEST(Result, DefaultIsSuccess) {
  Result r;
  EXPECT_EQ(r.code, 0u);
  EXPECT_STREQ(r.message, L"No Errors");
}
