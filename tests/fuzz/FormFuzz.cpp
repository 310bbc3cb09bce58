// The form harness: the emulator's strict decoding of query strings and form bodies, checked
// against the lenient decoder of the HTTP layer and against its own re-encoding, with the
// base64 and decimal readers and the JSON escaping of request text.
#include <json/reader.h>

#include <climits>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "EmulatorFuzz.h"
#include "emulator/Wire.h"
#include "httpd/HttpServer.h"

namespace vesk::fuzz {
namespace {

using emulator::BadRequest;
using emulator::FieldSet;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// What strict decoding takes: every "%" begins an escape of two hexadecimal digits.
bool EscapesWellFormed(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && (i + 2 >= text.size() || !IsHex(text[i + 1]) || !IsHex(text[i + 2]))) {
      return false;
    }
  }
  return true;
}

// The fields of a well-formed text, split here and decoded by the HTTP layer's lenient
// decoder, which agrees with the strict one wherever the escapes are well formed.
httpd::Fields ExpectedFields(std::string_view text) {
  httpd::Fields fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(start, end - start);
    if (!piece.empty()) {
      const std::size_t eq = piece.find('=');
      const std::string_view value =
          eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
      fields.emplace_back(httpd::PercentDecode(piece.substr(0, eq), true),
                          httpd::PercentDecode(value, true));
    }
    start = end + 1;
  }
  return fields;
}

// What FieldSet answers for every name of expected, and for one that is absent.
std::string CompareFields(const FieldSet& set, const httpd::Fields& expected) {
  std::map<std::string, std::vector<std::string>> byName;
  for (const auto& [name, value] : expected) byName[name].push_back(value);
  std::string absent = "#absent";
  while (byName.count(absent) != 0) absent += '#';
  if (set.Find(absent) != nullptr || !set.All(absent).empty()) return "an absent field was found";
  try {
    set.Require(absent);
    return "Require took an absent field";
  } catch (const BadRequest&) {
  }
  for (const auto& [name, values] : byName) {
    if (set.All(name) != values) return "All differs from the fields sent";
    try {
      const std::string* found = set.Find(name);
      if (values.size() > 1) return "Find took a field given more than once";
      if (found == nullptr || *found != values.front()) return "Find differs from the field sent";
      if (set.Require(name) != values.front()) return "Require differs from the field sent";
    } catch (const BadRequest&) {
      if (values.size() == 1) return "Find refused a field given once";
    }
  }
  return "";
}

// A cheap hash of the input, to vary the encoding styles without more input bytes.
std::uint64_t Hash(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return hash;
}

// Percent-encodes text in a style chosen by the bits of style: hexadecimal case, "+" or "%20"
// for a space, and whether characters that need no escape get one anyway.
std::string Encode(std::string_view text, std::uint64_t style) {
  const char* hex = style & 1 ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain && !(style & 4)) {
      out += c;
    } else if (c == ' ' && (style & 2)) {
      out += '+';
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0xF];
    }
  }
  return out;
}

// The fields encoded again: empty values sometimes without "=" (unless the name is empty too,
// which would leave an empty piece), empty pieces sometimes between.
std::string EncodeFields(const httpd::Fields& fields, std::uint64_t style) {
  std::string out = style & 8 ? "&" : "";
  for (const auto& [name, value] : fields) {
    out += Encode(name, style);
    if (name.empty() || !value.empty() || !(style & 16)) out += "=" + Encode(value, style);
    out += style & 32 ? "&&" : "&";
    style = style >> 1 | style << 63;  // a different style for the next field
  }
  return out;
}

std::string CheckFieldSet(std::string_view text) {
  const bool wellFormed = EscapesWellFormed(text);
  FieldSet set;
  try {
    set = FieldSet::Parse(text);
  } catch (const BadRequest&) {
    return wellFormed ? "a well-formed text was refused" : "";
  }
  if (!wellFormed) return "a malformed escape was taken";

  const httpd::Fields expected = ExpectedFields(text);
  if (httpd::ParseUrlEncoded(text) != expected) return "the HTTP layer split the fields otherwise";
  std::string failure = CompareFields(set, expected);
  if (!failure.empty()) return failure;

  // Encoded again in any style, the fields decode to the same ones.
  const std::uint64_t hash = Hash(text);
  for (const std::uint64_t style : {std::uint64_t{0}, ~std::uint64_t{0}, hash}) {
    const std::string encoded = EncodeFields(expected, style);
    FieldSet again;
    try {
      again = FieldSet::Parse(encoded);
    } catch (const BadRequest&) {
      return "the fields encoded again were refused: " + encoded;
    }
    failure = CompareFields(again, expected);
    if (!failure.empty()) return "encoded again: " + failure;
  }
  return "";
}

std::string CheckComponent(std::string_view text) {
  const std::optional<std::string> decoded = emulator::DecodeComponent(text);
  if (decoded.has_value() != EscapesWellFormed(text)) return "DecodeComponent misjudged escapes";
  if (decoded && *decoded != httpd::PercentDecode(text, true))
    return "DecodeComponent differs from the HTTP layer";
  if (decoded && emulator::DecodeComponent(Encode(*decoded, Hash(text))) != decoded)
    return "a component encoded again decodes otherwise";
  return "";
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t bits = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) bits |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) bits |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[bits >> 18 & 63];
    out += kAlphabet[bits >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[bits >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[bits & 63] : '=';
  }
  return out;
}

// Each text has at most one decoding and each byte string one encoding: decoding then encoding
// gives the text without its line feeds, and encoding then decoding (line feeds anywhere) gives
// the bytes.
std::string CheckBase64(std::string_view text) {
  if (const std::optional<std::string> decoded = emulator::DecodeBase64(text)) {
    std::string stripped;
    for (const char c : text) {
      if (c != '\n') stripped += c;
    }
    if (Base64(*decoded) != stripped) return "base64 decoded to bytes of another encoding";
  }
  const std::string encoded = Base64(text);
  if (emulator::DecodeBase64(encoded) != std::string(text)) return "base64 lost bytes";
  const std::size_t every = Hash(text) % 8 + 1;
  std::string wrapped;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (i % every == 0) wrapped += '\n';
    wrapped += encoded[i];
  }
  if (emulator::DecodeBase64(wrapped + "\n") != std::string(text))
    return "base64 with line feeds lost bytes";
  return "";
}

// A decimal number is digits only and, leading zeros aside, not longer or larger than max.
std::string CheckDecimal(std::string_view text) {
  for (const unsigned long long max :
       {0ull, 9ull, 10ull, 65535ull, 4294967295ull, 9223372036854775807ull, ULLONG_MAX}) {
    bool digits = !text.empty();
    for (const char c : text) digits = digits && c >= '0' && c <= '9';
    std::string_view significant = text;
    while (significant.size() > 1 && significant.front() == '0') significant.remove_prefix(1);
    const std::string limit = std::to_string(max);
    const bool fits =
        digits && (significant.size() < limit.size() ||
                   (significant.size() == limit.size() && significant <= std::string_view(limit)));
    const std::optional<unsigned long long> value = emulator::ParseDecimal(text, max);
    if (value.has_value() != fits) return "ParseDecimal misjudged " + std::to_string(max);
    if (value && std::to_string(*value) != significant) return "ParseDecimal misread";
  }
  return "";
}

// Request text echoed in a JSON reply reads back as the same bytes, inside one string.
std::string CheckJsonString(std::string_view text) {
  const std::string document = "[" + emulator::JsonString(text) + "]";
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  Json::String errors;
  if (!reader->parse(document.data(), document.data() + document.size(), &root, &errors)) {
    return "JsonString made invalid JSON: " + errors;
  }
  if (root.size() != 1 || !root[0].isString() || root[0].asString() != text)
    return "JsonString does not read back as the text";
  return "";
}

}  // namespace

std::string CheckForms(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    for (std::string (*check)(std::string_view) :
         {CheckFieldSet, CheckComponent, CheckBase64, CheckDecimal, CheckJsonString}) {
      std::string failure = check(text);
      if (!failure.empty()) return failure;
    }
  } catch (const std::exception& e) {
    return std::string("exception escaped: ") + e.what();
  }
  return "";
}

}  // namespace vesk::fuzz
