#include <gtest/gtest.h>

#include <json/reader.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "filestation/LoginReply.h"
#include "filestation/ParserBase.h"

namespace vesk {
namespace {

using namespace std::string_literals;

// Text nested `depth` levels deep: [[[...]]] or {"a":{"a":...}}.
std::string NestedArrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
std::string NestedObjects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "{\"a\":";
  text += "1";
  text += std::string(depth, '}');
  return text;
}

// ---------------------------------------------------------------------------------------------
// The C library's decimal conversion

TEST(LeadingDecimal, ReadsLeadingDigitsAndSaturates) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"", 0},
      {"12", 12},
      {"  +12x", 12},
      {"-5", -5},
      {"\t\n\v\f\r 7", 7},
      {"x1", 0},
      {"- 1", 0},
      {"1 2", 1},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999", INT_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(LeadingDecimal(c.text), c.value) << '"' << c.text << '"';

  EXPECT_EQ(LeadingDecimal64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(LeadingDecimal64("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(LeadingDecimal64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(LeadingDecimal64("-9223372036854775809"), INT64_MIN);
  EXPECT_EQ(LeadingDecimal64("4294967296 bytes"), 4294967296LL);
}

// ---------------------------------------------------------------------------------------------
// GetIntMember

// GetIntMember's rule written for a jsoncpp tree, the reference the parsers' tree is held to.
int JsoncppIntMember(const Json::Value& object, const char* name) {
  // find() accepts only objects (and null): anything else would throw.
  if (!object.isObject()) return 0;
  const Json::Value* member = object.find(name, name + std::strlen(name));
  if (member == nullptr) return 0;
  constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  switch (member->type()) {
    case Json::intValue: {
      const Json::Int64 v = member->asInt64();
      return v < kMin ? kMin : v > kMax ? kMax : static_cast<int>(v);
    }
    case Json::uintValue: {
      const Json::UInt64 v = member->asUInt64();
      return v > static_cast<Json::UInt64>(kMax) ? kMax : static_cast<int>(v);
    }
    case Json::realValue: {
      const double d = member->asDouble();
      if (std::isnan(d)) return 0;
      if (d > -2147483649.0 && d < 2147483648.0) return static_cast<int>(d);
      return d < 0 ? kMin : kMax;
    }
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      member->getString(&begin, &end);
      return begin == nullptr ? 0 : LeadingDecimal(std::string_view(begin, end - begin));
    }
    default:
      return 0;
  }
}

// The same rule on the parsers' tree and on a jsoncpp tree.
TEST(GetIntMember, ConvertsNumbersAndStringsAndGivesZeroOtherwise) {
  Json::Value root;
  std::string errors;
  const std::string text =
      R"({"int":42,"neg":-7,"big":99999999999,"bigneg":-99999999999,"huge":18446744073709551615,)"
      R"("real":3.9,"negreal":-3.9,"hugereal":1e300,"str":"42abc","negstr":" -8","nodigits":"x",)"
      R"("empty":"","t":true,"f":false,"null":null,"arr":[5],"obj":{"a":5},)"
      // Numbers at the edges of a double: a zero with a large exponent, one below the range
      // (zero), and an integer below int64's range.
      R"("zeroexp":0e300,"zerofracexp":0.0e300,"tiny":7e-400,)"
      R"("belowint64":-99999999999999999999,"exact":2.99999999999999999999})";
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errors)) << errors;
  ZJsonParserBase::JsonDocument document;
  ASSERT_TRUE(ZJsonParserBase::ParseJson(text, document));

  struct Case {
    const char* name;
    int value;
  } cases[] = {
      {"absent", 0},
      {"int", 42},
      {"neg", -7},
      {"big", INT_MAX},
      {"bigneg", INT_MIN},
      {"huge", INT_MAX},
      {"real", 3},
      {"negreal", -3},
      {"hugereal", INT_MAX},
      {"str", 42},
      {"negstr", -8},
      {"nodigits", 0},
      {"empty", 0},
      {"t", 0},
      {"f", 0},
      {"null", 0},
      {"arr", 0},
      {"obj", 0},
      {"zeroexp", 0},
      {"zerofracexp", 0},
      {"tiny", 0},
      {"belowint64", INT_MIN},
      {"exact", 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsoncppIntMember(root, c.name), c.value) << c.name;
    EXPECT_EQ(ZJsonParserBase::GetIntMember(document.Root(), c.name), c.value) << c.name;
  }
  // A value that is not an object has no members; looking one up must not throw.
  for (const Json::Value& notObject : {root["arr"], root["str"], root["int"], Json::Value()}) {
    EXPECT_EQ(JsoncppIntMember(notObject, "int"), 0);
  }
  for (const char* notObject : {"arr", "str", "int"}) {
    EXPECT_EQ(ZJsonParserBase::GetIntMember(document.Root()[notObject], "int"), 0);
  }
  // A number beyond a double's range fails the parse, as in jsoncpp.
  for (const char* beyond : {R"({"a":9.9e308})", R"({"a":-9.9e308})", R"([1e400])"}) {
    ZJsonParserBase::JsonDocument refused;
    EXPECT_FALSE(ZJsonParserBase::ParseJson(beyond, refused)) << beyond;
    EXPECT_FALSE(reader->parse(beyond, beyond + std::strlen(beyond), &root, &errors)) << beyond;
  }
}

// ---------------------------------------------------------------------------------------------
// The member helpers later parsers build on

// A parser that reads member "v" as text.
class TextProbe : public ZJsonParserBase {
 public:
  std::string text;
  bool ok = false;

 protected:
  void Reset() override { *this = TextProbe(); }
  bool ReadMembers(const JsonValue& root) override {
    ok = ReadUtf8Member(root, "v", text);
    return true;
  }
};

// A real number read as text is written as jsoncpp writes it (17 significant digits, ".0" when
// the digits show neither a point nor an exponent), which callers have always seen.
TEST(JsonMemberHelpers, RealNumbersAsTextAsJsoncppWritesThem) {
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  for (const char* number : {"0.5", "-0.0", "3.0", "0.1", "1.5e-7", "1e300", "2.5e20", "1e21",
                             "5e-324", "-1.7976931348623157e308", "123456789012345678901234567890",
                             "18446744073709551616", "-9223372036854775809", "100.25"}) {
    SCOPED_TRACE(number);
    const std::string text = std::string(R"({"v":)") + number + "}";
    Json::Value root;
    std::string errors;
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errors)) << errors;
    ASSERT_TRUE(root["v"].isDouble());
    TextProbe probe;
    ASSERT_EQ(probe.Parse(text), 1);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.text, root["v"].asString());
  }
}

// A parser that reads member "v" with every helper, to compare their rules side by side.
class HelperProbe : public ZJsonParserBase {
 public:
  struct Read {
    bool ok;
    long long value;
  };
  Read int32{}, int64{}, lenient32{}, lenient64{};

 protected:
  void Reset() override { int32 = int64 = lenient32 = lenient64 = {false, 99}; }
  bool ReadMembers(const JsonValue& root) override {
    int i = 99, li = 99;
    std::int64_t w = 99, lw = 99;
    int32 = {ReadIntMember(root, "v", i), i};
    int64 = {ReadInt64Member(root, "v", w), w};
    lenient32 = {ReadLenientIntMember(root, "v", li), li};
    lenient64 = {ReadLenientInt64Member(root, "v", lw), lw};
    return true;
  }
};

TEST(JsonMemberHelpers, IntegerRulesByTypeAndRange) {
  constexpr long long kUntouched = 99;
  struct Case {
    const char* value;
    HelperProbe::Read int32, int64, lenient32, lenient64;
  } cases[] = {
      {"7", {true, 7}, {true, 7}, {true, 7}, {true, 7}},
      {"-7.9", {true, -7}, {true, -7}, {true, -7}, {true, -7}},
      {"true", {true, 1}, {true, 1}, {true, 1}, {true, 1}},
      {"null", {true, kUntouched}, {true, kUntouched}, {true, kUntouched}, {true, kUntouched}},
      {"4294967296",
       {false, kUntouched},
       {true, 4294967296LL},
       {false, kUntouched},
       {true, 4294967296LL}},
      {"9223372036854775807",
       {false, kUntouched},
       {true, INT64_MAX},
       {false, kUntouched},
       {true, INT64_MAX}},
      {"9223372036854775808",
       {false, kUntouched},
       {false, kUntouched},
       {false, kUntouched},
       {false, kUntouched}},
      {"1e19", {false, kUntouched}, {false, kUntouched}, {false, kUntouched}, {false, kUntouched}},
      {"\"12abc\"", {false, kUntouched}, {false, kUntouched}, {true, 12}, {true, 12}},
      {"\"4294967296\"",
       {false, kUntouched},
       {false, kUntouched},
       {true, INT_MAX},
       {true, 4294967296LL}},
      {"\" -3\"", {false, kUntouched}, {false, kUntouched}, {true, -3}, {true, -3}},
      // Text that holds no number is not read as 0.
      {"\"x\"", {false, kUntouched}, {false, kUntouched}, {false, kUntouched}, {false, kUntouched}},
      {"\"\"", {false, kUntouched}, {false, kUntouched}, {false, kUntouched}, {false, kUntouched}},
      {"[1]", {false, kUntouched}, {false, kUntouched}, {false, kUntouched}, {false, kUntouched}},
      {"{}", {false, kUntouched}, {false, kUntouched}, {false, kUntouched}, {false, kUntouched}},
  };
  const auto expect = [](const HelperProbe::Read& got, const HelperProbe::Read& want,
                         const char* helper) {
    EXPECT_EQ(got.ok, want.ok) << helper;
    EXPECT_EQ(got.value, want.value) << helper;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    HelperProbe probe;
    ASSERT_EQ(probe.Parse(std::string(R"({"v":)") + c.value + "}"), 1);
    expect(probe.int32, c.int32, "ReadIntMember");
    expect(probe.int64, c.int64, "ReadInt64Member");
    expect(probe.lenient32, c.lenient32, "ReadLenientIntMember");
    expect(probe.lenient64, c.lenient64, "ReadLenientInt64Member");
  }
}

// ---------------------------------------------------------------------------------------------
// CWebFileManGetResultJson

struct StatusCase {
  std::string text;
  int parsed, status, success;
  std::wstring pid;
};

void ExpectStatusReply(const StatusCase& c) {
  CWebFileManGetResultJson reply;
  int parsed = 0;
  EXPECT_NO_THROW(parsed = reply.Parse(c.text));
  EXPECT_EQ(parsed, c.parsed);
  EXPECT_EQ(reply.status, c.status);
  EXPECT_EQ(reply.success, c.success);
  EXPECT_EQ(reply.pid, c.pid);
}

TEST(CWebFileManGetResultJson, ReadsStatusSuccessAndPid) {
  const StatusCase cases[] = {
      {R"({})", 1, -1, 0, L""},
      {R"([{"status":1}])", 1, -1, 0, L""},  // not an object: no member is read
      {R"("text")", 1, -1, 0, L""},
      {R"({"status":1,"success":"true"})", 1, 1, 1, L""},
      {R"({"status":1,"success":"TRUE"})", 1, 1, 0, L""},
      {R"({"status":1,"success":"1"})", 1, 1, 0, L""},
      {R"({"status":1,"success":true})", 1, 1, 1, L""},  // the boolean's text is "true"
      {R"({"status":2,"success":"false","pid":"abc"})", 1, 2, 0, L"abc"},
      {R"({"status":4,"pid":12345})", 1, 4, 0, L"12345"},
      {R"({"pid":12345678901234567890})", 1, -1, 0, L"12345678901234567890"},
      {R"({"pid":true})", 1, -1, 0, L"true"},
      {R"({"pid":"\u6587\u4ef6"})", 1, -1, 0, L"\x6587\x4ef6"},
      {"{\"pid\":\"\xc3\xa9\"}", 1, -1, 0, L"\xe9"},  // UTF-8 converted, not read as bytes
      {R"({"status":null,"success":null,"pid":null})", 1, -1, 0, L""},
      {R"({"status":2147483647})", 1, INT_MAX, 0, L""},
      {R"({"status":-2147483648})", 1, INT_MIN, 0, L""},
      {R"({"status":1.9})", 1, 1, 0, L""},
      {R"({"status":true})", 1, 1, 0, L""},
      {R"({"status":1,"UID":[1,{"a":2}]})", 1, 1, 0, L""},  // UID is looked at by no one
      {"\xEF\xBB\xBF{\"status\":1}", 1, 1, 0, L""},         // a leading byte order mark
      {"{\"status\":1}\0garbage"s, 1, 1, 0, L""},           // the text ends at its NUL
      {"\0{\"status\":1}"s, -1, -1, 0, L""},
      {"", -1, -1, 0, L""},
      {"not json", -1, -1, 0, L""},
      {R"({"status":1)", -1, -1, 0, L""},
      {R"({'status':1})", -1, -1, 0, L""},
      {"<authPassed>1</authPassed>", -1, -1, 0, L""},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.text);
    ExpectStatusReply(c);
  }
}

TEST(CWebFileManGetResultJson, MemberOfUnconvertibleTypeCountsAsNotParsed) {
  // Every field keeps its initial value even when other members were read before.
  const char* texts[] = {
      R"({"status":[1]})",
      R"({"status":{"a":1}})",
      R"({"status":"busy"})",
      R"({"status":4294967296})",
      R"({"status":-2147483649})",
      R"({"status":1e300})",
      R"({"status":1e400})",  // read as infinity
      R"({"status":18446744073709551615})",
      R"({"status":1,"success":["true"]})",
      R"({"status":1,"success":{}})",
      R"({"status":1,"success":"true","pid":{"a":1}})",
      R"({"status":1,"success":"true","pid":[]})",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    ExpectStatusReply({text, -1, -1, 0, L""});
  }
}

TEST(CWebFileManGetResultJson, EachParseStartsFromTheInitialValues) {
  CWebFileManGetResultJson reply;
  ASSERT_EQ(reply.Parse(R"({"status":1,"success":"true","pid":"p"})"), 1);
  ASSERT_EQ(reply.Parse(R"({})"), 1);
  EXPECT_EQ(reply.status, -1);
  EXPECT_EQ(reply.success, 0);
  EXPECT_EQ(reply.pid, L"");

  ASSERT_EQ(reply.Parse(R"({"status":1,"success":"true","pid":"p"})"), 1);
  ASSERT_EQ(reply.Parse("{"), -1);
  EXPECT_EQ(reply.status, -1);
  EXPECT_EQ(reply.success, 0);
  EXPECT_EQ(reply.pid, L"");

  // Through the base, as a command routine holding any parser would call it.
  ZJsonParserBase& base = reply;
  EXPECT_EQ(base.Parse(R"({"status":3})"), 1);
  EXPECT_EQ(reply.status, 3);
}

TEST(JsonParsers, DeepNestingIsRejectedWithoutCrashing) {
  for (const std::string& text : {NestedArrays(100000), NestedObjects(100000),
                                  R"({"status":1,"x":)" + NestedArrays(100000) + "}"}) {
    CWebFileManGetResultJson reply;
    EXPECT_EQ(reply.Parse(text), -1);
    EXPECT_EQ(reply.status, -1);
    JobStartReply job;
    EXPECT_EQ(ParseJobStartReply(text, job), -1);
  }
  // Moderate nesting, as a listing might have, still parses.
  CWebFileManGetResultJson reply;
  EXPECT_EQ(reply.Parse(R"({"status":1,"x":)" + NestedObjects(500) + "}"), 1);
  EXPECT_EQ(reply.status, 1);
}

// ---------------------------------------------------------------------------------------------
// ParseJobStartReply

TEST(ParseJobStartReply, ReadsPidStatusAndSuccess) {
  struct Case {
    std::string text;
    int parsed, jobId, status, success;
  } cases[] = {
      {R"({"status":1,"success":"true","pid":42})", 1, 42, 1, 1},
      {R"({"status":1,"success":true,"pid":42.8})", 1, 42, 1, 1},
      {R"({"status":"3"})", 1, 0, 3, 0},
      {R"({"status":"12abc"})", 1, 0, 12, 0},
      {R"({"status":" -7"})", 1, 0, -7, 0},
      {R"({"status":"abc"})", 1, 0, 0, 0},
      {R"({"status":""})", 1, 0, 0, 0},
      {R"({"status":"99999999999"})", 1, 0, INT_MAX, 0},
      {R"({"status":2.7})", 1, 0, 2, 0},
      {R"({"status":true})", 1, 0, -1, 0},  // neither a number nor a string: left at -1
      {R"({"status":[1]})", 1, 0, -1, 0},
      {R"({"status":{"a":1}})", 1, 0, -1, 0},
      {R"({"status":null,"pid":null,"success":null})", 1, 0, -1, 0},
      {R"({"success":"True"})", 1, 0, -1, 0},
      {R"({})", 1, 0, -1, 0},
      {R"([{"status":1,"pid":42}])", 1, 0, -1, 0},
      {R"({"pid":"42"})", -1, 0, -1, 0},  // an integer field given as text
      {R"({"pid":[42]})", -1, 0, -1, 0},
      {R"({"status":1,"pid":99999999999})", -1, 0, -1, 0},
      {R"({"status":99999999999})", -1, 0, -1, 0},
      {R"({"status":1,"success":["true"]})", -1, 0, -1, 0},
      {"not json", -1, 0, -1, 0},
      {"", -1, 0, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JobStartReply out{7, 7, 7};  // every field is set whatever the outcome
    int parsed = 0;
    EXPECT_NO_THROW(parsed = ParseJobStartReply(c.text, out));
    EXPECT_EQ(parsed, c.parsed);
    EXPECT_EQ(out.jobId, c.jobId);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.success, c.success);
  }
}

// ---------------------------------------------------------------------------------------------
// CWebFileManLogin

TEST(CWebFileManLogin, ReadsStatusAndSid) {
  const std::string longSid(300, 's');
  struct Case {
    std::string text;
    int parsed, status;
    std::wstring sid;
  } cases[] = {
      {R"({"status":1,"sid":"abc123"})", 1, 1, L"abc123"},
      {R"({"status":1})", 1, 1, L""},              // status 1 without a sid: empty sid
      {R"({"sid":"fetched"})", 1, 0, L"fetched"},  // no status: stays 0
      {R"({"status":3,"sid":"x"})", 1, 3, L"x"},
      {R"({"status":1,"sid":")" + longSid + R"("})", 1, 1,
       std::wstring(longSid.begin(), longSid.end())},  // whole, beyond 259 characters
      {R"({"status":1,"sid":12})", 1, 1, L"12"},
      {R"({"status":null,"sid":null})", 1, 0, L""},
      {R"([])", 1, 0, L""},
      {R"({"status":1,"sid":{"a":1}})", -1, 0, L""},
      {R"({"status":1,"sid":["x"]})", -1, 0, L""},
      {R"({"status":[1],"sid":"x"})", -1, 0, L""},
      {R"({"status":"1","sid":"x"})", 1, 1, L"x"},  // a device may write it as text
      {R"({"status":"ok","sid":"x"})", -1, 0, L""},
      {R"({"status":4294967297,"sid":"x"})", -1, 0, L""},
      {"<html>error</html>", -1, 0, L""},
      {"", -1, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CWebFileManLogin reply;
    reply.sid = L"stale";  // Parse resets the fields first
    reply.status = 9;
    int parsed = 0;
    EXPECT_NO_THROW(parsed = reply.Parse(c.text));
    EXPECT_EQ(parsed, c.parsed);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.sid, c.sid);
  }
}

// ---------------------------------------------------------------------------------------------
// XML reading functions

class XmlReading : public ::testing::Test {
 protected:
  // Parses `<r>inner</r>` and returns its root element.
  const tinyxml2::XMLElement* Root(const std::string& inner) {
    const std::string text = "<r>" + inner + "</r>";
    EXPECT_EQ(doc_.Parse(text.c_str()), tinyxml2::XML_SUCCESS) << text;
    return doc_.FirstChildElement();
  }

 private:
  tinyxml2::XMLDocument doc_;
};

TEST_F(XmlReading, ReadBoolAcceptsUpperCaseTrueAndOne) {
  struct Case {
    const char* inner;
    int result, value;
  } cases[] = {
      {"<v>TRUE</v>", 1, 1},
      {"<v>1</v>", 1, 1},
      {"<v><![CDATA[TRUE]]></v>", 1, 1},
      {"<v>true</v>", 1, 0},
      {"<v>True</v>", 1, 0},
      {"<v>0</v>", 1, 0},
      {"<v>yes</v>", 1, 0},
      {"<v> 1</v>", 1, 0},
      {"<v>11</v>", 1, 0},
      {"<v>1</v><v>0</v>", 1, 1},  // the first element of the name
      {"", -1, 7},
      {"<v/>", -1, 7},
      {"<v></v>", -1, 7},
      {"<v><x>1</x></v>", -1, 7},  // first child is an element, not text
      {"<v><!--c-->1</v>", -1, 7},
      {"<x><v>1</v></x>", -1, 7},  // only direct children count
      {"<V>1</V>", -1, 7},         // names are case-sensitive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inner);
    int value = 7;
    EXPECT_EQ(ZXmlParserBase::ReadBool("v", value, Root(c.inner)), c.result);
    EXPECT_EQ(value, c.value);
  }
  int value = 7;
  EXPECT_EQ(ZXmlParserBase::ReadBool("v", value, nullptr), -1);
  EXPECT_EQ(value, 7);
}

TEST_F(XmlReading, ReadTextConvertsFromUtf8AndKeepsTheWholeText) {
  const std::string longText(1000, 'n');
  struct Case {
    std::string inner;
    int result;
    std::wstring value;
  } cases[] = {
      {"<authPassed>1</authPassed>", 1, L"1"},
      {"<authPassed><![CDATA[1]]></authPassed>", 1, L"1"},
      {"<authPassed> a &amp; b </authPassed>", 1, L" a & b "},
      {"<authPassed>\xe6\x96\x87\xe4\xbb\xb6</authPassed>", 1, L"\x6587\x4ef6"},
      {"<authPassed>" + longText + "</authPassed>", 1, std::wstring(1000, L'n')},
      {"", -1, L"untouched"},
      {"<authSid>1</authSid>", -1, L"untouched"},
      {"<authPassed/>", -1, L"untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inner);
    std::wstring value = L"untouched";
    EXPECT_EQ(ZXmlParserBase::ReadText("authPassed", value, Root(c.inner)), c.result);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(XmlReading, ReadIntUsesLeadingDigits) {
  struct Case {
    const char* inner;
    int result, value;
  } cases[] = {
      {"<port>8080</port>", 1, 8080},
      {"<port>12ab</port>", 1, 12},
      {"<port>ab</port>", 1, 0},
      {"<port> -3</port>", 1, -3},
      {"<port>99999999999</port>", 1, INT_MAX},
      {"", -1, 7},
      {"<port/>", -1, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inner);
    int value = 7;
    EXPECT_EQ(ZXmlParserBase::ReadInt(value, Root(c.inner), "port"), c.result);
    EXPECT_EQ(value, c.value);
  }
}

}  // namespace
}  // namespace vesk
