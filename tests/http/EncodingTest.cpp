#include "http/Encoding.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vesk
