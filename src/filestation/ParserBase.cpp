#include "filestation/ParserBase.h"

#include <json/reader.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>

#include "http/Encoding.h"

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
bool RealFitsInt32(double d) { return d > -2147483649.0 && d < 2147483648.0; }
bool RealFitsInt64(double d) { return d >= -9223372036854775808.0 && d < 9223372036854775808.0; }

}  // namespace

int LeadingDecimal(std::string_view text) { return LeadingDecimalOf<int>(text); }
std::int64_t LeadingDecimal64(std::string_view text) {
  return LeadingDecimalOf<std::int64_t>(text);
}

// ---------------------------------------------------------------------------------------------
// JSON

int ZJsonParserBase::Parse(std::string_view utf8) {
  Reset();
  try {
    Json::Value root;
    if (!ParseJson(utf8, root)) return -1;
    if (root.isObject() ? ReadMembers(root) : !ObjectRootRequired()) return 1;
  } catch (const std::exception&) {
    // The helpers do not throw on any member type; what is left is running out of memory,
    // which counts as not parsed like every other failure.
  }
  Reset();
  return -1;
}

bool ZJsonParserBase::ParseJson(std::string_view utf8, Json::Value& root) {
  try {
    // jsoncpp reads from a NUL-terminated copy, so that no part of it looks past the text.
    const std::string text(UpToNul(utf8));
    if (text.empty()) return false;
    const Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    Json::String errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors)) return false;
    root.swap(parsed);
    return true;
  } catch (const std::exception&) {
    // jsoncpp throws when the nesting limit is exceeded.
    return false;
  }
}

const Json::Value* ZJsonParserBase::FindMember(const Json::Value& object, const char* name) {
  // find() accepts only objects (and null): anything else would throw.
  if (!object.isObject() || name == nullptr) return nullptr;
  const Json::Value* member = object.find(name, name + std::strlen(name));
  return member != nullptr && !member->isNull() ? member : nullptr;
}

int ZJsonParserBase::GetIntMember(const Json::Value& object, const char* name) {
  const Json::Value* member = FindMember(object, name);
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
      if (std::isnan(d)) return 0;  // jsoncpp's reader never makes NaN; a built value may
      if (RealFitsInt32(d)) return static_cast<int>(d);
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

bool ZJsonParserBase::ReadIntMember(const Json::Value& object, const char* name, int& out) {
  if (FindMember(object, name) == nullptr) return true;
  std::int64_t wide = 0;
  if (!ReadInt64Member(object, name, wide) || wide < std::numeric_limits<int>::min() ||
      wide > std::numeric_limits<int>::max()) {
    return false;
  }
  out = static_cast<int>(wide);
  return true;
}

bool ZJsonParserBase::ReadInt64Member(const Json::Value& object, const char* name,
                                      std::int64_t& out) {
  const Json::Value* member = FindMember(object, name);
  if (member == nullptr) return true;
  switch (member->type()) {
    case Json::intValue:
      out = member->asInt64();
      return true;
    case Json::uintValue:
      if (!member->isInt64()) return false;
      out = member->asInt64();
      return true;
    case Json::realValue: {
      const double d = member->asDouble();
      if (!RealFitsInt64(d)) return false;
      out = static_cast<std::int64_t>(d);
      return true;
    }
    case Json::booleanValue:
      out = member->asBool() ? 1 : 0;
      return true;
    default:
      return false;
  }
}

namespace {

// A member's text read as a decimal number: its leading digits. false when no digit leads
// (after white space and a sign): text that holds no number is not taken for 0, which many
// replies would read as success.
template <typename Int, typename Convert>
bool ReadDecimalText(const Json::Value& member, Int& out, Convert convert) {
  const std::string text = member.asString();
  const auto first = text.find_first_not_of(" \t\n\v\f\r");
  std::size_t digit = first == std::string::npos ? text.size() : first;
  if (digit < text.size() && (text[digit] == '+' || text[digit] == '-')) ++digit;
  if (digit >= text.size() || text[digit] < '0' || text[digit] > '9') return false;
  out = convert(text);
  return true;
}

}  // namespace

bool ZJsonParserBase::ReadLenientIntMember(const Json::Value& object, const char* name, int& out) {
  const Json::Value* member = FindMember(object, name);
  if (member == nullptr || !member->isString()) return ReadIntMember(object, name, out);
  return ReadDecimalText(*member, out, [](std::string_view t) { return LeadingDecimal(t); });
}

bool ZJsonParserBase::ReadLenientInt64Member(const Json::Value& object, const char* name,
                                             std::int64_t& out) {
  const Json::Value* member = FindMember(object, name);
  if (member == nullptr || !member->isString()) return ReadInt64Member(object, name, out);
  return ReadDecimalText(*member, out, [](std::string_view t) { return LeadingDecimal64(t); });
}

bool ZJsonParserBase::ReadUtf8Member(const Json::Value& object, const char* name,
                                     std::string& out) {
  const Json::Value* member = FindMember(object, name);
  if (member == nullptr) return true;
  if (member->isArray() || member->isObject()) return false;
  out = member->asString();
  return true;
}

bool ZJsonParserBase::ReadTextMember(const Json::Value& object, const char* name,
                                     std::wstring& out) {
  std::string text;
  if (FindMember(object, name) == nullptr) return true;
  if (!ReadUtf8Member(object, name, text)) return false;
  out = FromUtf8(text);
  return true;
}

bool ZJsonParserBase::ReadFlagMember(const Json::Value& object, const char* name, int& out,
                                     bool oneIsTrue) {
  std::string text;
  if (FindMember(object, name) == nullptr) return true;
  if (!ReadUtf8Member(object, name, text)) return false;
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

bool CWebFileManGetResultJson::ReadMembers(const Json::Value& root) {
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

  bool ReadMembers(const Json::Value& root) override {
    if (const Json::Value* status = FindMember(root, "status")) {
      if (status->isString()) {
        reply.status = GetIntMember(root, "status");
      } else if (status->isNumeric() && !ReadIntMember(root, "status", reply.status)) {
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
