#include "JsonDifferential.h"

#include <json/reader.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "filestation/ParserBase.h"

namespace vesk::fuzz {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string Describe(const Json::Value& v) {
  std::string text = v.toStyledString();
  if (text.size() > 80) text = text.substr(0, 80) + "...";
  return text;
}

// "" when the jsoncpp tree and the library's tree hold the same values of the same kinds.
std::string Compare(const Json::Value& j, const JsonValue& r, const std::string& where) {
  const auto differ = [&](const char* what) {
    return where + ": " + what + " (jsoncpp " + Describe(j) + ")";
  };
  switch (j.type()) {
    case Json::nullValue:
      return r.IsNull() ? "" : differ("null");
    case Json::booleanValue:
      return r.IsBool() && r.GetBool() == j.asBool() ? "" : differ("boolean");
    case Json::intValue:
      return r.IsInt64() && r.GetInt64() == j.asInt64() ? "" : differ("integer");
    case Json::uintValue:
      return !r.IsInt64() && r.IsUint64() && r.GetUint64() == j.asUInt64() ? ""
                                                                           : differ("unsigned");
    case Json::realValue: {
      if (!r.IsDouble()) return differ("real number kind");
      const double a = j.asDouble(), b = r.GetDouble();
      return a == b || (std::isnan(a) && std::isnan(b)) ? "" : differ("real number value");
    }
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      j.getString(&begin, &end);
      const std::string_view a(begin, static_cast<std::size_t>(end - begin));
      return r.IsString() && std::string_view(r.GetString(), r.GetStringLength()) == a
                 ? ""
                 : differ("string");
    }
    case Json::arrayValue: {
      if (!r.IsArray() || r.Size() != j.size()) return differ("array");
      for (Json::ArrayIndex i = 0; i < j.size(); ++i) {
        std::string d = Compare(j[i], r[i], where + "[" + std::to_string(i) + "]");
        if (!d.empty()) return d;
      }
      return "";
    }
    case Json::objectValue: {
      if (!r.IsObject()) return differ("object");
      // Of members of one name the last counts in both.
      std::map<std::string, const JsonValue*> last;
      for (auto m = r.MemberBegin(); m != r.MemberEnd(); ++m)
        last[std::string(m->name.GetString(), m->name.GetStringLength())] = &m->value;
      if (last.size() != j.size()) return differ("object members");
      for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string name = it.name();
        const auto found = last.find(name);
        if (found == last.end()) return differ(("member " + name).c_str());
        std::string d = Compare(*it, *found->second, where + "." + name);
        if (!d.empty()) return d;
      }
      return "";
    }
  }
  return differ("kind");
}

}  // namespace

namespace {

// Whether the number whose integer digits are text[begin, digitsEnd) has more than 308 of them
// or a positive exponent above 308: RapidJSON refuses such a number, jsoncpp reads it when its
// value is in a double's range (0e400, 0.001e309). (Out of range, both refuse it; the rule is
// kept simple.)
bool HugeNumber(std::string_view text, std::size_t begin, std::size_t digitsEnd) {
  if (digitsEnd - begin > 308) return true;
  std::size_t k = digitsEnd;
  if (k < text.size() && text[k] == '.') {
    ++k;
    while (k < text.size() && IsDigit(text[k])) ++k;
  }
  if (k >= text.size() || (text[k] != 'e' && text[k] != 'E')) return false;
  ++k;
  if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
    if (text[k] == '-') return false;
    ++k;
  }
  long exponent = 0;
  for (; k < text.size() && IsDigit(text[k]) && exponent <= 308; ++k)
    exponent = exponent * 10 + (text[k] - '0');
  return exponent > 308;
}

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether the comment at text[start] follows a value and is followed by something other than a
// comma, a closing brace or another comment: jsoncpp takes any token after a comment in an
// object for the comma (so that '{"a":1 /*c*/ {"b":2}' reads as {"a":1,"b":2}), RapidJSON
// refuses it.
// The first character after the comment at text[start] that is not white space, '\0' when
// there is none (or the comment does not end).
char FirstAfterComment(std::string_view text, std::size_t start) {
  std::size_t after;
  if (text[start + 1] == '/') {
    after = text.find_first_of("\r\n", start + 2);
  } else {
    after = text.find("*/", start + 2);
    if (after != std::string_view::npos) after += 2;
  }
  if (after == std::string_view::npos) return '\0';
  while (after < text.size() && IsJsonSpace(text[after])) ++after;
  return after < text.size() ? text[after] : '\0';
}

// What jsoncpp makes of the comment at text[start] differently from RapidJSON, "" when
// nothing; `last` is the last character outside strings and comments before it ('"' for a
// string, '\0' for none). jsoncpp takes any token after a comment that follows a value in an
// object for the comma ('{"a":1 /*c*/ {"b":2}' reads as {"a":1,"b":2}), refuses a comment
// right after "[" in an empty array, and refuses a comment between a trailing comma and the
// closing bracket; RapidJSON does the opposite each time. (Some of the flagged forms read
// alike, as a comment before "]" after a value; the rules are kept simple.)
std::string CommentDifference(std::string_view text, std::size_t start, char last) {
  const char first = FirstAfterComment(text, start);
  if (first == '\0') return "";
  if (last == '[') return "a comment right after \"[\"";
  if (last == ',') {
    return first == ']' || first == '}' ? "a comment between a trailing comma and a bracket" : "";
  }
  if (last == '\0' || last == '{' || last == ':') return "";
  return first != ',' && first != '}' && first != '/' ? "a comment where a comma belongs" : "";
}

}  // namespace

std::string DocumentedJsonDifference(std::string_view text) {
  enum { Outside, InString, InLineComment, InBlockComment } state = Outside;
  bool lastWasHigh = false;  // the previous escape was a high surrogate
  char lastToken = '\0';     // the last character outside strings and comments
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (state) {
      case Outside:
        if (c == '"') {
          state = InString;
          lastWasHigh = false;
        } else if (c == '/' && (next == '/' || next == '*')) {
          std::string comment = CommentDifference(text, i, lastToken);
          if (!comment.empty()) return comment;
          state = next == '/' ? InLineComment : InBlockComment;
          if (next == '*') ++i;
        } else if (c == '/') {
          return "a \"/\" that begins no comment";
        } else if ((c == '+' || (c == '-' && !IsDigit(next))) &&
                   !(i > 0 && (text[i - 1] == 'e' || text[i - 1] == 'E'))) {
          return "a number with a \"+\" sign or a bare \"-\"";
        } else if (IsDigit(c) && (i == 0 || !IsDigit(text[i - 1]))) {
          // The start of a number: a leading zero before digits, or a "." without digits.
          std::size_t k = i;
          while (k < text.size() && IsDigit(text[k])) ++k;
          if (text[i] == '0' && k - i > 1 &&
              !(i > 0 && (text[i - 1] == '.' || text[i - 1] == 'e' || text[i - 1] == 'E')))
            return "a number with a leading zero";
          if (k < text.size() && text[k] == '.' && (k + 1 >= text.size() || !IsDigit(text[k + 1])))
            return "a number ending in \".\"";
          if (HugeNumber(text, i, k)) return "a number beyond a double's range";
          i = k - 1;
          lastToken = '0';
        } else if (!IsJsonSpace(c)) {
          lastToken = c;
        }
        break;
      case InString:
        if (c == '\\' && next == 'u' && i + 5 < text.size() && IsHex(text[i + 2]) &&
            IsHex(text[i + 3]) && IsHex(text[i + 4]) && IsHex(text[i + 5])) {
          const unsigned unit = std::stoul(std::string(text.substr(i + 2, 4)), nullptr, 16);
          const bool high = unit >= 0xD800 && unit <= 0xDBFF;
          const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
          if ((lastWasHigh && !low) || (!lastWasHigh && low))
            return "a \\u escape of an unpaired surrogate";
          lastWasHigh = high && !lastWasHigh;
          i += 5;
          break;
        }
        if (lastWasHigh) return "a \\u escape of an unpaired surrogate";
        if (c == '\\') {
          ++i;
        } else if (c == '"') {
          state = Outside;
          lastToken = '"';
        }
        break;
      case InLineComment:
        if (c == '\r' && next != '\n') return "a // comment ended by a lone carriage return";
        if (c == '\n' || c == '\r') state = Outside;
        break;
      case InBlockComment:
        if (c == '*' && next == '/') {
          state = Outside;
          ++i;
        }
        break;
    }
  }
  return "";
}

std::string JsonDifference(std::string_view input) {
  // Both read the text up to its first NUL, as the parsers are handed it.
  const std::string text(input.substr(0, input.find('\0')));
  Json::Value expected;
  bool jsoncppParsed = false;
  try {
    Json::String errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    jsoncppParsed = reader->parse(text.data(), text.data() + text.size(), &expected, &errors);
  } catch (const Json::Exception&) {
    // Nesting beyond the limit.
  }
  ZJsonParserBase::JsonDocument document;
  const bool parsed = ZJsonParserBase::ParseJson(text, document);
  std::string difference;
  if (jsoncppParsed != parsed) {
    difference = jsoncppParsed ? "jsoncpp reads it, the library refuses it"
                               : "the library reads it, jsoncpp refuses it";
  } else if (parsed) {
    difference = Compare(expected, document.Root(), "root");
  }
  return difference;
}

std::string CheckJsonDifferential(std::string_view input) {
  std::string difference = JsonDifference(input);
  if (difference.empty()) return "";
  const std::string text(input.substr(0, input.find('\0')));
  return DocumentedJsonDifference(text).empty() ? difference : "";
}

}  // namespace vesk::fuzz
