// Strict decoding of what the emulated device receives.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/Wire.h"

namespace vesk::emulator {
namespace {

TEST(WireTest, DecodesBase64Strictly) {
  const struct {
    std::string text;
    std::optional<std::string> bytes;
  } cases[] = {
      {"", ""},
      {"YWRtaW4=", "admin"},
      {"w6Q+P37Dtg==", "\xc3\xa4>?~\xc3\xb6"},
      {"Pj4+Pz8/fn4=", ">>>???~~"},
      {"YWRt\naW4=\n", "admin"},       // line feeds anywhere
      {"w6Q P37Dtg==", std::nullopt},  // "+" that arrived as a space
      {"YWRt\r\naW4=", std::nullopt},  // only line feeds are skipped
      {"YWRtaW4", std::nullopt},       // not a multiple of four
      {"YW=taW4=", std::nullopt},      // padding in the middle
      {"YWRtaW4=YQ==", std::nullopt},  // data after padding
      {"Y===", std::nullopt},
      {"YWRtaW5=", std::nullopt},  // padding bits not zero
      {"YWRt-W4_", std::nullopt},  // URL-safe alphabet
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
}

TEST(WireTest, ParsesFieldsStrictly) {
  const FieldSet fields = FieldSet::Parse("a=1+2%2B3&&b=&c&d=%e2%9C%93&twice=1&twice=2");
  EXPECT_EQ(fields.Require("a"), "1 2+3");
  EXPECT_EQ(fields.Require("b"), "");
  EXPECT_EQ(fields.Require("c"), "");
  EXPECT_EQ(fields.Require("d"), "\xe2\x9c\x93");
  EXPECT_EQ(fields.Find("missing"), nullptr);
  EXPECT_THROW(fields.Require("missing"), BadRequest);
  EXPECT_THROW(fields.Find("twice"), BadRequest);

  // A list of names: the field repeated, each value encoded on its own, and a trailing "&".
  const FieldSet list = FieldSet::Parse("total=3&name=a%20b&name=c%26d&x=&name=%23%25&");
  EXPECT_EQ(list.All("name"), (std::vector<std::string>{"a b", "c&d", "#%"}));
  EXPECT_EQ(list.All("absent"), std::vector<std::string>{});
  EXPECT_EQ(list.Require("total"), "3");

  for (const char* malformed : {"a=%", "a=%4", "a=%zz", "%g0=1", "a=100%"}) {
    EXPECT_THROW(FieldSet::Parse(malformed), BadRequest) << malformed;
  }
}

TEST(WireTest, ParsesDecimalsWithinTheirRange) {
  EXPECT_EQ(ParseDecimal("0", 4), 0u);
  EXPECT_EQ(ParseDecimal("32767", 32767), 32767u);
  for (const char* bad : {"", "5", "-1", "+1", " 1", "1 ", "0x1", "99999999999999999999999"}) {
    EXPECT_EQ(ParseDecimal(bad, 4), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace vesk::emulator
