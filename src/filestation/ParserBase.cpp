#include "filestation/ParserBase.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <locale>
#include <memory>
#include <sstream>
#include <system_error>

#include "platform/Text.h"

namespace vesk {
namespace {

// A reply is handed over as a C string would be: it ends at its first NUL byte.
std::string_view UpToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

template <typename Int>
Int LeadingDecimalOf(std::string_view text) {
  std::size_t i = 0;
  // The C library's white space: space, \t, \n, \v, \f, \r.
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number, whose range is the larger one.
  constexpr Int kMin = std::numeric_limits<Int>::min();
  Int value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const Int digit = text[i] - '0';
    if (value < (kMin + digit) / 10) {
      saturated = true;
      break;
    }
    value = value * 10 - digit;
  }
  if (saturated) return negative ? kMin : std::numeric_limits<Int>::max();
  if (negative) return value;
  return value == kMin ? std::numeric_limits<Int>::max() : -value;
}

// Real numbers are read as jsoncpp's asInt / asInt64 would (truncated towards zero) when the
// result fits; these bounds are exact in double and exclude NaN.
bool RealFitsInt64(double d) { return d >= -9223372036854775808.0 && d < 9223372036854775808.0; }

}  // namespace

int LeadingDecimal(std::string_view text) { return LeadingDecimalOf<int>(text); }
std::int64_t LeadingDecimal64(std::string_view text) {
  return LeadingDecimalOf<std::int64_t>(text);
}

// ---------------------------------------------------------------------------------------------
// JSON

namespace {

// jsoncpp's default nesting limit: a value deeper than this fails the parse.
constexpr int kMaxJsonDepth = 1000;

// jsoncpp's default grammar: comments and trailing commas, anything after the root ignored.
// Strings are decoded in place in the document's own copy of the text. Numbers are handed over
// as their text and converted by ReadNumber: RapidJSON's own full-precision conversion
// misbehaves on a zero with a large exponent ("0e300"), and its fast one rounds differently
// from jsoncpp.
constexpr unsigned kJsonFlags = rapidjson::kParseInsituFlag | rapidjson::kParseCommentsFlag |
                                rapidjson::kParseTrailingCommasFlag |
                                rapidjson::kParseStopWhenDoneFlag |
                                rapidjson::kParseNumbersAsStringsFlag;

// Hands a number to the sink with the value jsoncpp's reader gives it: an integer when the text
// has no fraction or exponent and fits 64 bits (signed when negative), else the correctly
// rounded double. false for a number beyond a double's range, which jsoncpp refuses. The text
// is one RapidJSON has checked against JSON's number grammar.
template <typename Sink>
bool ReadNumber(std::string_view text, Sink& sink) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  if (text.find_first_of(".eE") == std::string_view::npos) {
    if (text.front() == '-') {
      std::int64_t value = 0;
      const auto [at, error] = std::from_chars(begin, end, value);
      if (error == std::errc() && at == end) return sink.Int64(value);
    } else {
      std::uint64_t value = 0;
      const auto [at, error] = std::from_chars(begin, end, value);
      if (error == std::errc() && at == end) return sink.Uint64(value);
    }
  }
  double value = 0;
  const auto [at, error] = std::from_chars(begin, end, value);
  if (error == std::errc() && at == end) return sink.Double(value);
  // Out of range, which is rare: read as jsoncpp reads it, with a stream in the classic locale,
  // which gives zero or a subnormal for a tiny number and fails on a huge one.
  std::istringstream stream{std::string(text)};
  stream.imbue(std::locale::classic());
  double read = 0;
  return stream >> read && sink.Double(read);
}

// Hands the reader's events to a sink (a document, or the events of a one-pass reader),
// converting numbers with ReadNumber and failing the parse at a value nested deeper than
// jsoncpp allows.
template <typename Sink>
class DepthLimit {
 public:
  explicit DepthLimit(Sink& sink) : sink_(sink) {}
  bool Null() { return Value() && sink_.Null(); }
  bool Bool(bool b) { return Value() && sink_.Bool(b); }
  bool Int(int i) { return Value() && sink_.Int64(i); }
  bool Uint(unsigned u) { return Value() && sink_.Uint64(u); }
  bool Int64(std::int64_t i) { return Value() && sink_.Int64(i); }
  bool Uint64(std::uint64_t u) { return Value() && sink_.Uint64(u); }
  bool Double(double d) { return Value() && sink_.Double(d); }
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    return Value() && length > 0 && ReadNumber(std::string_view(text, length), sink_);
  }
  bool String(const char* text, rapidjson::SizeType length, bool copy) {
    return Value() && sink_.String(text, length, copy);
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy) {
    return sink_.Key(text, length, copy);
  }
  bool StartObject() { return Value() && ++open_ && sink_.StartObject(); }
  bool EndObject(rapidjson::SizeType members) {
    --open_;
    return sink_.EndObject(members);
  }
  bool StartArray() { return Value() && ++open_ && sink_.StartArray(); }
  bool EndArray(rapidjson::SizeType elements) {
    --open_;
    return sink_.EndArray(elements);
  }

 private:
  // A value inside `open_` containers sits at depth open_ + 1 (the root at 1).
  bool Value() const { return open_ < kMaxJsonDepth; }

  Sink& sink_;
  int open_ = 0;
};

// Parses text (NUL-terminated, modified in place) into document; false on any error, with the
// offset and code of the error.
bool ParseInPlace(char* text, rapidjson::Document& document, rapidjson::ParseResult& result) {
  const auto generate = [&](rapidjson::Document& d) {
    rapidjson::InsituStringStream stream(text);
    rapidjson::Reader reader;
    DepthLimit<rapidjson::Document> limit(d);
    result = reader.Parse<kJsonFlags>(stream, limit);
    return !result.IsError();
  };
  document.Populate(generate);
  return !result.IsError();
}

// The reader's events as ZJsonParserBase::JsonEvents, scalars as values of the tree's type.
class EventsSink {
 public:
  explicit EventsSink(ZJsonParserBase::JsonEvents& events) : events_(events) {}
  bool Null() { return events_.Value(JsonValue()); }
  bool Bool(bool b) { return events_.Value(JsonValue(b)); }
  bool Int64(std::int64_t i) { return events_.Value(JsonValue(i)); }
  bool Uint64(std::uint64_t u) { return events_.Value(JsonValue(u)); }
  bool Double(double d) { return events_.Value(JsonValue(d)); }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    return events_.Value(JsonValue(rapidjson::StringRef(text, length)));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    return events_.Key(std::string_view(text, length));
  }
  bool StartObject() { return events_.StartObject(); }
  bool EndObject(rapidjson::SizeType) { return events_.End(); }
  bool StartArray() { return events_.StartArray(); }
  bool EndArray(rapidjson::SizeType) { return events_.End(); }

 private:
  ZJsonParserBase::JsonEvents& events_;
};

// Reads text (which need not end in a NUL) into the events, with the grammar of ParseInPlace
// but the strings decoded into the reader's own buffer: the text is not changed or copied.
bool ReadEvents(std::string_view text, ZJsonParserBase::JsonEvents& events,
                rapidjson::ParseResult& result) {
  constexpr unsigned kFlags = kJsonFlags & ~rapidjson::kParseInsituFlag;
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  EventsSink sink(events);
  DepthLimit<EventsSink> limit(sink);
  result = reader.Parse<kFlags>(stream, limit);
  return !result.IsError();
}

// The text with every control character inside a string written as a \u escape, the way
// jsoncpp reads raw ones; the rest (comments included) as it stands.
std::string EscapeControlsInStrings(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 16);
  enum { Outside, InString, InLineComment, InBlockComment } state = Outside;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (state) {
      case Outside:
        if (c == '"') state = InString;
        if (c == '/' && next == '/') state = InLineComment;
        if (c == '/' && next == '*') {
          state = InBlockComment;
          out += "/*";
          ++i;
          continue;
        }
        break;
      case InString:
        if (c == '\\' && i + 1 < text.size()) {
          out += c;
          out += text[++i];
          continue;
        }
        if (c == '"') state = Outside;
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
          continue;
        }
        break;
      case InLineComment:
        if (c == '\n' || c == '\r') state = Outside;
        break;
      case InBlockComment:
        if (c == '*' && next == '/') {
          state = Outside;
          out += "*/";
          ++i;
          continue;
        }
        break;
    }
    out += c;
  }
  return out;
}

}  // namespace

int ZJsonParserBase::Parse(std::string_view utf8) {
  Reset();
  try {
    JsonDocument document;
    if (!ParseJson(utf8, document)) return -1;
    const JsonValue& root = document.Root();
    if (root.IsObject() ? ReadMembers(root) : !ObjectRootRequired()) return 1;
  } catch (const std::exception&) {
    // The helpers do not throw on any member type; what is left is running out of memory,
    // which counts as not parsed like every other failure.
  }
  Reset();
  return -1;
}

namespace {

// RapidJSON takes no control character raw inside a string; jsoncpp does, and so do the
// parsers: text that failed on one is read again with those characters escaped.
bool FailedOnRawControl(std::string_view text, const rapidjson::ParseResult& result) {
  const std::size_t at = result.Offset();
  return result.Code() == rapidjson::kParseErrorStringEscapeInvalid && at < text.size() &&
         static_cast<unsigned char>(text[at]) < 0x20;
}

// The reply as the parsers read it: up to its first NUL, without a leading byte-order mark
// (which jsoncpp skips).
std::string_view ReplyJson(std::string_view utf8) {
  std::string_view text = UpToNul(utf8);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text;
}

}  // namespace

bool ZJsonParserBase::ParseJson(std::string_view utf8, JsonDocument& document) {
  try {
    const std::string_view text = ReplyJson(utf8);
    document.text_.assign(text);
    rapidjson::ParseResult result;
    if (!ParseInPlace(document.text_.data(), document.document_, result)) {
      // The failed parse has changed the copy in place, so the escapes are made from the
      // original.
      if (!FailedOnRawControl(text, result)) return false;
      document.text_ = EscapeControlsInStrings(text);
      document.document_.SetNull();
      if (!ParseInPlace(document.text_.data(), document.document_, result)) return false;
    }
    return true;
  } catch (const std::exception&) {
    // Running out of memory: not parsed.
    return false;
  }
}

bool ZJsonParserBase::ReadJsonEvents(std::string_view utf8, JsonEvents& events) {
  try {
    const std::string_view text = ReplyJson(utf8);
    rapidjson::ParseResult result;
    if (ReadEvents(text, events, result)) return true;
    if (!FailedOnRawControl(text, result)) return false;
    events.Restart();
    return ReadEvents(EscapeControlsInStrings(text), events, result);
  } catch (const std::exception&) {
    return false;
  }
}

const JsonValue* ZJsonParserBase::FindMember(const JsonValue& object, const char* name) {
  if (!object.IsObject() || name == nullptr) return nullptr;
  const std::size_t length = std::strlen(name);
  const JsonValue* found = nullptr;
  // Of several members of one name the last counts, as in jsoncpp's tree.
  for (auto m = object.MemberBegin(); m != object.MemberEnd(); ++m) {
    if (m->name.GetStringLength() == length && std::memcmp(m->name.GetString(), name, length) == 0)
      found = &m->value;
  }
  return Present(found);
}

namespace {

// A number's integer value as jsoncpp's asInt / asInt64 give it: the tree's int64 (or uint64
// beyond it) or a real number truncated towards zero; saturated to Int's range.
template <typename Int>
Int SaturatedNumber(const JsonValue& v) {
  constexpr Int kMin = std::numeric_limits<Int>::min(), kMax = std::numeric_limits<Int>::max();
  if (v.IsInt64()) {
    const std::int64_t i = v.GetInt64();
    return i < kMin ? kMin : i > kMax ? kMax : static_cast<Int>(i);
  }
  if (v.IsUint64()) return kMax;  // beyond int64
  const double d = v.GetDouble();
  if (std::isnan(d)) return 0;
  if (d <= static_cast<double>(kMin)) return kMin;
  if (d >= static_cast<double>(kMax)) return kMax;
  return static_cast<Int>(d);
}

}  // namespace

int ZJsonParserBase::GetIntMember(const JsonValue& object, const char* name) {
  const JsonValue* member = FindMember(object, name);
  if (member == nullptr) return 0;
  if (member->IsNumber()) return SaturatedNumber<int>(*member);
  if (member->IsString()) return LeadingDecimal(StringOf(*member));
  return 0;
}

bool ZJsonParserBase::ReadInt(const JsonValue* member, int& out) {
  if (Present(member) == nullptr) return true;
  std::int64_t wide = 0;
  if (!ReadInt64(member, wide) || wide < std::numeric_limits<int>::min() ||
      wide > std::numeric_limits<int>::max()) {
    return false;
  }
  out = static_cast<int>(wide);
  return true;
}

bool ZJsonParserBase::ReadInt64(const JsonValue* member, std::int64_t& out) {
  if (Present(member) == nullptr) return true;
  if (member->IsBool()) {
    out = member->GetBool() ? 1 : 0;
    return true;
  }
  if (!member->IsNumber()) return false;
  if (member->IsInt64()) {
    out = member->GetInt64();
    return true;
  }
  if (member->IsUint64()) return false;  // beyond int64
  const double d = member->GetDouble();
  if (!RealFitsInt64(d)) return false;
  out = static_cast<std::int64_t>(d);
  return true;
}

namespace {

// A real number as text the way jsoncpp writes one, which callers have always seen: 17
// significant digits as printf's "%.17g" gives them in the C locale, with ".0" added when that
// shows neither a point nor an exponent; the words jsoncpp writes for what is not finite.
std::string RealText(double d) {
  if (std::isnan(d)) return "null";
  if (std::isinf(d)) return d < 0 ? "-1e+9999" : "1e+9999";
  std::string out(32, '\0');
  for (;;) {
    const std::to_chars_result end =
        std::to_chars(out.data(), out.data() + out.size(), d, std::chars_format::general, 17);
    if (end.ec == std::errc()) {
      out.resize(static_cast<std::size_t>(end.ptr - out.data()));
      break;
    }
    out.resize(out.size() * 2);
  }
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

// A member's text read as a decimal number: its leading digits. false when no digit leads
// (after white space and a sign): text that holds no number is not taken for 0, which many
// replies would read as success.
template <typename Int, typename Convert>
bool ReadDecimalText(std::string_view text, Int& out, Convert convert) {
  const auto first = text.find_first_not_of(" \t\n\v\f\r");
  std::size_t digit = first == std::string_view::npos ? text.size() : first;
  if (digit < text.size() && (text[digit] == '+' || text[digit] == '-')) ++digit;
  if (digit >= text.size() || text[digit] < '0' || text[digit] > '9') return false;
  out = convert(text);
  return true;
}

}  // namespace

bool ZJsonParserBase::ReadLenientInt(const JsonValue* member, int& out) {
  if (Present(member) == nullptr || !member->IsString()) return ReadInt(member, out);
  return ReadDecimalText(StringOf(*member), out,
                         [](std::string_view t) { return LeadingDecimal(t); });
}

bool ZJsonParserBase::ReadLenientInt64(const JsonValue* member, std::int64_t& out) {
  if (Present(member) == nullptr || !member->IsString()) return ReadInt64(member, out);
  return ReadDecimalText(StringOf(*member), out,
                         [](std::string_view t) { return LeadingDecimal64(t); });
}

bool ZJsonParserBase::ReadUtf8(const JsonValue* member, std::string& out) {
  if (Present(member) == nullptr) return true;
  if (member->IsString()) {
    out.assign(member->GetString(), member->GetStringLength());
  } else if (member->IsBool()) {
    out = member->GetBool() ? "true" : "false";
  } else if (member->IsInt64()) {
    out = std::to_string(member->GetInt64());
  } else if (member->IsUint64()) {
    out = std::to_string(member->GetUint64());
  } else if (member->IsNumber()) {
    out = RealText(member->GetDouble());
  } else {
    return false;  // an array or object
  }
  return true;
}

bool ZJsonParserBase::ReadText(const JsonValue* member, std::wstring& out) {
  if (Present(member) == nullptr) return true;
  if (member->IsString()) {
    out = FromUtf8(StringOf(*member));
    return true;
  }
  std::string text;
  if (!ReadUtf8(member, text)) return false;
  out = FromUtf8(text);
  return true;
}

bool ZJsonParserBase::ReadFlag(const JsonValue* member, int& out, bool oneIsTrue) {
  if (Present(member) == nullptr) return true;
  if (member->IsString()) {
    const std::string_view text = StringOf(*member);
    out = text == "true" || (oneIsTrue && text == "1") ? 1 : 0;
    return true;
  }
  std::string text;
  if (!ReadUtf8(member, text)) return false;
  out = text == "true" || (oneIsTrue && text == "1") ? 1 : 0;
  return true;
}

// ---------------------------------------------------------------------------------------------
// XML

int ZXmlParserBase::Parse(std::string_view utf8) {
  Reset();
  try {
    tinyxml2::XMLDocument doc;
    const tinyxml2::XMLElement* root = nullptr;
    if (!ParseXml(utf8, doc, root)) return -1;
    if (ReadElements(root)) return 1;
  } catch (const std::exception&) {
    // Only running out of memory can throw here; it counts as not parsed.
  }
  Reset();
  return -1;
}

bool ZXmlParserBase::ParseXml(std::string_view utf8, tinyxml2::XMLDocument& doc,
                              const tinyxml2::XMLElement*& root) {
  const std::string_view text = UpToNul(utf8);
  // tinyxml2 copies the text; a length of 0 reads as an empty document, which is an error.
  if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) return false;
  root = doc.FirstChildElement();
  return true;
}

const tinyxml2::XMLElement* ZXmlParserBase::ChildElementAt(const tinyxml2::XMLElement* parent,
                                                           int index) {
  if (parent == nullptr || index < 0) return nullptr;
  const tinyxml2::XMLElement* child = parent->FirstChildElement();
  for (; child != nullptr && index > 0; --index) child = child->NextSiblingElement();
  return child;
}

namespace {

// The text of the first child node of parent's first child element called name, when that
// node is text; else null.
const char* ChildText(const char* name, const tinyxml2::XMLElement* parent) {
  if (parent == nullptr || name == nullptr) return nullptr;
  const tinyxml2::XMLElement* element = parent->FirstChildElement(name);
  if (element == nullptr) return nullptr;
  const tinyxml2::XMLNode* first = element->FirstChild();
  if (first == nullptr || first->ToText() == nullptr) return nullptr;
  return first->Value();
}

}  // namespace

int ZXmlParserBase::ReadBool(const char* name, int& out, const tinyxml2::XMLElement* parent) {
  const char* text = ChildText(name, parent);
  if (text == nullptr) return -1;
  out = std::strcmp(text, "TRUE") == 0 || std::strcmp(text, "1") == 0 ? 1 : 0;
  return 1;
}

int ZXmlParserBase::ReadText(const char* name, std::wstring& out,
                             const tinyxml2::XMLElement* parent) {
  const char* text = ChildText(name, parent);
  if (text == nullptr) return -1;
  out = FromUtf8(text);
  return 1;
}

int ZXmlParserBase::ReadInt(int& out, const tinyxml2::XMLElement* parent, const char* name) {
  const char* text = ChildText(name, parent);
  if (text == nullptr) return -1;
  out = LeadingDecimal(text);
  return 1;
}

int ZXmlParserBase::ReadUtf8(const char* name, std::string& out,
                             const tinyxml2::XMLElement* parent) {
  const char* text = ChildText(name, parent);
  if (text == nullptr) return -1;
  out = text;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Status and job-start replies

void CWebFileManGetResultJson::Reset() { *this = CWebFileManGetResultJson(); }

bool CWebFileManGetResultJson::ReadMembers(const JsonValue& root) {
  // The reply may also carry "UID", which no command uses.
  return ReadLenientIntMember(root, "status", status) && ReadFlagMember(root, "success", success) &&
         ReadTextMember(root, "pid", pid);
}

namespace {

class JobStartParser : public ZJsonParserBase {
 public:
  JobStartReply reply;

 protected:
  void Reset() override { reply = JobStartReply(); }

  bool ReadMembers(const JsonValue& root) override {
    if (const JsonValue* status = FindMember(root, "status")) {
      if (status->IsString()) {
        reply.status = GetIntMember(root, "status");
      } else if (status->IsNumber() && !ReadInt(status, reply.status)) {
        return false;
      }
      // Any other type leaves the status at -1.
    }
    return ReadFlagMember(root, "success", reply.success) &&
           ReadIntMember(root, "pid", reply.jobId);
  }
};

}  // namespace

int ParseJobStartReply(std::string_view utf8, JobStartReply& out) {
  JobStartParser parser;
  const int parsed = parser.Parse(utf8);
  out = parser.reply;
  return parsed;
}

}  // namespace vesk
