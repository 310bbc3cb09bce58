// Bases of the reply parsers, the reading rules they share, the common status reply and the
// job-start reply.
//
// A reply parser is a small value type: construct it, call Parse with the reply as UTF-8, then
// read its public result fields. Parse returns 1 when the text was well-formed (whether the
// expected members were there shows in the fields, which otherwise keep their initial values)
// and -1 when it was not, or when a member the parser reads had a type its rule rejects; after
// -1 every result field holds its initial value again. No exception leaves Parse.
//
// The reply ends at its first NUL byte, if it has one, as a C string would.
//
// Writing a JSON parser: derive from ZJsonParserBase, give the result fields their initial
// values as member initialisers, implement Reset (usually `*this = Type();`) and ReadMembers,
// reading each member with the Read...Member helpers (or, for the many objects of a listing,
// finding the members in one pass and reading them with the Read... forms) and returning false
// as soon as one of them does. Writing an XML parser: the same with ZXmlParserBase, ReadElements
// and the Read... functions.
#pragma once

#include <tinyxml2.h>

#include "filestation/Json.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

// The C library's decimal conversion (atoi / atoll): leading white space, an optional sign,
// then as many decimal digits as follow; 0 when there are none. A value beyond the result's
// range saturates at its smallest or largest value.
int LeadingDecimal(std::string_view text);
std::int64_t LeadingDecimal64(std::string_view text);

// A JSON value of a parsed reply (RapidJSON's tree). Its strings may hold NUL bytes: read them
// with GetString and GetStringLength.
using JsonValue = rapidjson::Value;

class ZJsonParserBase {
 public:
  virtual ~ZJsonParserBase() = default;

  // Resets the fields, parses the text (see ParseJson) and, when the root is an object, reads
  // its members with ReadMembers. A root that is not an object gives 1 with the fields at their
  // initial values, or -1 when the parser requires an object root.
  virtual int Parse(std::string_view utf8);

  // Lenient integer read for replies whose members come as numbers or as text: 0 when the
  // member is absent (or the value is not an object); a number's integer value (a real number
  // truncated towards zero), saturated to the int32 range; LeadingDecimal of a string; 0 for
  // any other type (null, boolean, array, object). Never throws.
  static int GetIntMember(const JsonValue& object, const char* name);

  // A parsed reply: its tree, and the text its strings point into.
  class JsonDocument {
   public:
    JsonDocument() = default;
    // The tree points into the text: the two stay together, where they are.
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;
    const JsonValue& Root() const { return document_; }

   private:
    friend class ZJsonParserBase;
    std::string text_;
    rapidjson::Document document_;
  };

  // Parses the text (up to its first NUL) as jsoncpp's reader with its default settings reads
  // it: comments and trailing commas allowed, a leading byte-order mark skipped, anything after
  // the root value ignored, nesting limited to 1000 levels, text that is not valid UTF-8 kept
  // as it is, control characters allowed raw in strings, and of members of the same name the
  // last. false on a syntax error or deeper nesting; the document is then empty.
  static bool ParseJson(std::string_view utf8, JsonDocument& document);

  // A reply read in one pass, value by value, for replies too large to hold whole as a tree.
  // The events come in document order; a string value's bytes live only during its call.
  // Returning false from an event fails the read.
  class JsonEvents {
   public:
    virtual ~JsonEvents() = default;
    // The text is read again from its start: forget every event received so far.
    virtual void Restart() = 0;
    // A null, boolean, number or string: an array element, a member's value or the root.
    virtual bool Value(const JsonValue& value) = 0;
    // The name of the object member whose value comes next.
    virtual bool Key(std::string_view name) = 0;
    virtual bool StartObject() = 0;
    virtual bool StartArray() = 0;
    // The end of the innermost open object or array.
    virtual bool End() = 0;
  };

  // Reads the text with the rules of ParseJson, handing each value to the events as it is
  // read, without copying the text or building a tree. false on a syntax error or deeper
  // nesting (after which the events may have seen part of the text).
  static bool ReadJsonEvents(std::string_view utf8, JsonEvents& events);

 protected:
  ZJsonParserBase() = default;
  ZJsonParserBase(const ZJsonParserBase&) = default;
  ZJsonParserBase& operator=(const ZJsonParserBase&) = default;

  // Sets every result field to its initial value.
  virtual void Reset() = 0;
  // Reads the members of an object root; false when the reply is to count as not parsed.
  virtual bool ReadMembers(const JsonValue& root) = 0;
  // true for replies whose root must be an object: any other root then counts as not parsed
  // instead of leaving the fields at their initial values.
  virtual bool ObjectRootRequired() const { return false; }

  // The member when `object` is an object that has it with a value other than null (of several
  // members of that name, the last); else null. Every Read...Member below uses a member only
  // under this condition: otherwise it leaves its output untouched and returns true. Each
  // returns false, also leaving the output untouched, only when the member is there with a
  // value its rule cannot convert. The Read... forms without "Member" apply the same rule to a
  // member already found (null: absent), for parsers that read an object's members in one pass.
  static const JsonValue* FindMember(const JsonValue& object, const char* name);
  static const JsonValue* Present(const JsonValue* member) {
    return member != nullptr && !member->IsNull() ? member : nullptr;
  }

  // Integer: an integer or a real number (truncated towards zero) that fits int32, or a boolean
  // as 0 / 1. A string, array or object, or a number outside the range: false.
  static bool ReadInt(const JsonValue* member, int& out);
  static bool ReadIntMember(const JsonValue& object, const char* name, int& out) {
    return ReadInt(FindMember(object, name), out);
  }
  // The same for a 64-bit field: any number that fits int64.
  static bool ReadInt64(const JsonValue* member, std::int64_t& out);
  static bool ReadInt64Member(const JsonValue& object, const char* name, std::int64_t& out) {
    return ReadInt64(FindMember(object, name), out);
  }
  // Integers the device writes as a number or as decimal text: a number as ReadIntMember /
  // ReadInt64Member read it, a string by LeadingDecimal / LeadingDecimal64 when a digit leads
  // it (after white space and a sign). A string without one, an array or an object: false.
  static bool ReadLenientInt(const JsonValue* member, int& out);
  static bool ReadLenientIntMember(const JsonValue& object, const char* name, int& out) {
    return ReadLenientInt(FindMember(object, name), out);
  }
  static bool ReadLenientInt64(const JsonValue* member, std::int64_t& out);
  static bool ReadLenientInt64Member(const JsonValue& object, const char* name, std::int64_t& out) {
    return ReadLenientInt64(FindMember(object, name), out);
  }
  // Text: a string as it stands, a number as its decimal text (a real number as jsoncpp writes
  // it), a boolean as "true" / "false". An array or object: false.
  static bool ReadUtf8(const JsonValue* member, std::string& out);
  static bool ReadUtf8Member(const JsonValue& object, const char* name, std::string& out) {
    return ReadUtf8(FindMember(object, name), out);
  }
  // ReadUtf8Member's text converted to wide text (FromUtf8).
  static bool ReadText(const JsonValue* member, std::wstring& out);
  static bool ReadTextMember(const JsonValue& object, const char* name, std::wstring& out) {
    return ReadText(FindMember(object, name), out);
  }
  // Flag: out = 1 when the member's text (as ReadUtf8Member reads it) is exactly "true", or
  // also "1" when oneIsTrue; else out = 0. So the boolean true and the string "true" both give
  // 1, "TRUE" gives 0. An array or object: false.
  static bool ReadFlag(const JsonValue* member, int& out, bool oneIsTrue = false);
  static bool ReadFlagMember(const JsonValue& object, const char* name, int& out,
                             bool oneIsTrue = false) {
    return ReadFlag(FindMember(object, name), out, oneIsTrue);
  }
  // The bytes of a string value (which must be one).
  static std::string_view StringOf(const JsonValue& value) {
    return std::string_view(value.GetString(), value.GetStringLength());
  }
};

class ZXmlParserBase {
 public:
  virtual ~ZXmlParserBase() = default;

  // Resets the fields, parses the text with tinyxml2 (which limits element nesting to 100
  // levels: deeper text is not parsed) and hands the document's first child element to
  // ReadElements (null when the document holds no element).
  virtual int Parse(std::string_view utf8);

  // The reading functions. Each looks for the first child element of `parent` named `name`
  // and takes its first child node, which must be text (a CDATA section counts as text); it
  // returns 1 and writes the output when there is one, and -1 leaving the output untouched
  // when there is none (also for a null parent, an empty element, or an element whose first
  // child is another element or a comment). The text is used as it stands, white space
  // included.
  //
  // out = 1 when the text is exactly "TRUE" or "1", else 0 (so "true" gives 0).
  static int ReadBool(const char* name, int& out, const tinyxml2::XMLElement* parent);
  // The text converted from UTF-8, whole.
  static int ReadText(const char* name, std::wstring& out, const tinyxml2::XMLElement* parent);
  // LeadingDecimal of the text ("12ab" gives 12, "ab" gives 0).
  static int ReadInt(int& out, const tinyxml2::XMLElement* parent, const char* name);
  // The text as UTF-8 bytes, for exact comparisons.
  static int ReadUtf8(const char* name, std::string& out, const tinyxml2::XMLElement* parent);

 protected:
  ZXmlParserBase() = default;
  ZXmlParserBase(const ZXmlParserBase&) = default;
  ZXmlParserBase& operator=(const ZXmlParserBase&) = default;

  // Sets every result field to its initial value.
  virtual void Reset() = 0;
  // Reads the values below the root element (null when there is none); false when the reply
  // is to count as not parsed.
  virtual bool ReadElements(const tinyxml2::XMLElement* root) = 0;

  // Parses the text (up to its first NUL) into doc; root becomes the document's first child
  // element, or null. false when the text is not well-formed XML.
  static bool ParseXml(std::string_view utf8, tinyxml2::XMLDocument& doc,
                       const tinyxml2::XMLElement*& root);
  // The child element of `parent` at a position counted among child elements only, from 0 in
  // document order; null when parent is null or has fewer child elements.
  static const tinyxml2::XMLElement* ChildElementAt(const tinyxml2::XMLElement* parent, int index);
};

// The common status reply of the file service.
class CWebFileManGetResultJson : public ZJsonParserBase {
 public:
  int status = -1;   // "status", a number or decimal text (ReadLenientIntMember)
  int success = 0;   // 1 when "success" reads exactly "true" (ReadFlagMember)
  std::wstring pid;  // "pid" as text (ReadTextMember)

 protected:
  void Reset() override;
  bool ReadMembers(const JsonValue& root) override;
};

// The reply of a command that starts a device job.
struct JobStartReply {
  int jobId = 0;    // "pid" as an integer (the rules of ReadIntMember)
  int status = -1;  // "status": a number as an integer, a string by LeadingDecimal
  int success = 0;  // 1 when "success" reads exactly "true"
};

// Parses a job-start reply into out, which is reset first; 1 or -1 as a parser's Parse (after
// -1 out holds its initial values). A "status" of another type (boolean, array, object) is not
// an error: status stays -1. A number "status" or "pid" outside int32 is.
int ParseJobStartReply(std::string_view utf8, JobStartReply& out);

}  // namespace vesk
