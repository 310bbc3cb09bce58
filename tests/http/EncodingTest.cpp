#include "http/Encoding.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

namespace vesk {
namespace {

TEST(UrlEncode, EncodesReservedAndControlCharactersOnly) {
  struct Case {
    std::wstring in, out;
  } cases[] = {
      {L"a b&c/d%e", L"a%20b%26c%2Fd%25e"},
      {L"100%", L"100%25"},
      {L"%%", L"%25%25"},
      {L"%25", L"%2525"},  // an already encoded text is encoded again, not passed through
      {L"Name-1_2.txt", L"Name-1_2.txt"},
      {L"~", L"%7E"},
      {L"!\"#$&'()*+,/:;<=>?@[\\]^`{|}",
       L"%21%22%23%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3C%3D"
       L"%3E%3F%40%5B%5C%5D%5E%60%7B%7C%7D"},
      {L"line\nfeed\ttab\x7f", L"line%0Afeed%09tab%7F"},
      {L"\x6587\x4ef6 a+b.txt", L"\x6587\x4ef6%20a%2Bb.txt"},  // non-ASCII passes through
      {L"", L""},
  };
  for (const Case& c : cases) {
    std::wstring text = c.in;
    EXPECT_TRUE(UrlEncode(text));
    EXPECT_EQ(text, c.out);
  }
}

TEST(UrlEncode, StopsWhenCancelled) {
  int flag = 1;
  std::wstring text = L"a b";
  EXPECT_FALSE(UrlEncode(text, &flag));
  flag = 0;
  text = L"a b";
  EXPECT_TRUE(UrlEncode(text, &flag));
  EXPECT_EQ(text, L"a%20b");
}

TEST(Base64Encode, StandardAlphabetWithLineFeedEvery76Characters) {
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("\xfb\xff"), "+/8=");

  const std::string line57(57, 'x');
  const std::string out57 = Base64Encode(line57);
  ASSERT_EQ(out57.size(), 77u);
  EXPECT_EQ(out57.back(), '\n');
  EXPECT_EQ(out57.find('\n'), 76u);

  const std::string out58 = Base64Encode(std::string(58, 'x'));
  ASSERT_EQ(out58.size(), 81u);
  EXPECT_EQ(out58.substr(76, 1), "\n");
  EXPECT_EQ(out58.substr(77), "eA==");

  const std::string out114 = Base64Encode(std::string(114, 'x'));
  EXPECT_EQ(out114.size(), 154u);
  EXPECT_EQ(out114[76], '\n');
  EXPECT_EQ(out114[153], '\n');
}

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
