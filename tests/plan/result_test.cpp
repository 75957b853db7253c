#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "tavrin/tavrin.h"

namespace {

// A text of `length` characters cycling through the alphabet, so that a
// truncation at the wrong place shows in the last kept character.
std::wstring alphabetText(std::size_t length) {
  std::wstring text;
  for (std::size_t k = 0; k < length; ++k) text += static_cast<wchar_t>(L'a' + k % 26);
  return text;
}

}  // namespace

TEST(Result, DefaultIsSuccess) {
  Result r;
  EXPECT_EQ(r.code, 0u);
  EXPECT_STREQ(r.message, L"No Errors");
}

TEST(Result, ConstructorKeepsAtMost298Characters) {
  for (std::size_t length : {0u, 1u, 297u, 298u, 299u, 300u, 400u}) {
    const std::wstring text = alphabetText(length);
    const Result r(9, text.c_str());
    EXPECT_EQ(r.code, 9u);
    EXPECT_EQ(std::wstring(r.message), text.substr(0, 298)) << length;
    EXPECT_EQ(r.message[299], L'\0');
  }
}

TEST(Result, NullTextIsEmpty) {
  const Result r(3, nullptr);
  EXPECT_EQ(r.code, 3u);
  EXPECT_STREQ(r.message, L"");
}

TEST(Result, AssignmentCopiesCodeAndTextByTheSameRule) {
  const std::wstring text = alphabetText(400);
  Result source(21, text.c_str());
  source.message[299] = L'Z';  // an unterminated buffer must not leak into the copy
  Result target(4, L"a longer former message than the new one");
  Result& returned = (target = source);
  EXPECT_EQ(&returned, &target);
  EXPECT_EQ(target.code, 21u);
  EXPECT_EQ(std::wstring(target.message), text.substr(0, 298));
  EXPECT_EQ(target.message[299], L'\0');

  Result shorter(1, L"ab");
  target = shorter;
  EXPECT_STREQ(target.message, L"ab");  // nothing of the former text remains
  target = target;
  EXPECT_STREQ(target.message, L"ab");
}

TEST(Result, OwnsItsText) {
  wchar_t buffer[] = L"changing";
  const Result r(5, buffer);
  buffer[0] = L'X';
  Result copy = r;
  copy.message[0] = L'Y';
  EXPECT_STREQ(r.message, L"changing");
  EXPECT_STREQ(copy.message, L"Yhanging");
}
