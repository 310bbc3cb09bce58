#include "platform/Text.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

namespace vesk {
namespace {

TEST(Utf8, RoundTripsEveryPlane) {
  const std::wstring text = L"ascii \x00e9\x4e2d\x6587 \U0001F600 end";
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8, "ascii \xc3\xa9\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80 end");
  EXPECT_EQ(FromUtf8(utf8), text);
#ifdef _WIN32
  // The ANSI code page: ASCII stays as it is; a character it cannot hold (no ANSI code page has
  // the emoji) becomes the code page's default character, unless the code page is UTF-8.
  EXPECT_EQ(ToSystemCodePage(L"S-1-5-21-7"), "S-1-5-21-7");
  const std::string narrow = ToSystemCodePage(text);
  if (GetACP() == CP_UTF8) {
    EXPECT_EQ(narrow, utf8);
  } else {
    EXPECT_EQ(narrow.rfind("ascii ", 0), 0u) << narrow;
    EXPECT_EQ(narrow.substr(narrow.size() - 4), " end") << narrow;
    EXPECT_NE(narrow.find('?'), std::string::npos) << narrow;
  }
#else
  EXPECT_EQ(ToSystemCodePage(text), utf8);
#endif
  EXPECT_EQ(ToUtf8(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));  // whole, zeros included
}

TEST(Utf8, InvalidInputBecomesReplacementCharacter) {
  struct Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {"a\xff"
       "b",
       L"a\xfffd"
       L"b"},
      {"\xc0\xaf", L"\xfffd\xfffd"},            // overlong
      {"\xed\xa0\x80", L"\xfffd\xfffd\xfffd"},  // encoded surrogate
      {"\xe4\xb8", L"\xfffd"},                  // cut short at the end
      {"\xe4\xb8"
       "x",
       L"\xfffd"
       L"x"},                                             // cut short before a letter
      {"\xf4\x90\x80\x80", L"\xfffd\xfffd\xfffd\xfffd"},  // above U+10FFFF
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.in), c.out) << c.in;

  std::wstring lone;
  lone.push_back(static_cast<wchar_t>(0xD800));  // an unpaired surrogate in either width
  EXPECT_EQ(ToUtf8(lone), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace vesk
