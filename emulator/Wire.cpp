#include "emulator/Wire.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <random>

#include "httpd/HttpServer.h"

namespace vesk::emulator {

namespace {

// The 6-bit value of a base64 character, -1 for anything outside the alphabet.
int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> DecodeComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = httpd::HexDigitValue(text[i + 1]);
      const int low = httpd::HexDigitValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(c == '+' ? ' ' : c);
    }
  }
  return out;
}

FieldSet FieldSet::Parse(std::string_view text) {
  FieldSet set;
  for (const auto& [rawName, rawValue] : httpd::SplitUrlEncoded(text)) {
    std::optional<std::string> name = DecodeComponent(rawName);
    std::optional<std::string> value = DecodeComponent(rawValue);
    if (!name || !value) throw BadRequest("malformed percent-encoding");
    set.fields_.emplace_back(std::move(*name), std::move(*value));
  }
  return set;
}

const std::string* FieldSet::Find(std::string_view name) const {
  const std::string* found = nullptr;
  for (const auto& [fieldName, value] : fields_) {
    if (fieldName != name) continue;
    if (found) throw BadRequest("field given more than once: " + std::string(name));
    found = &value;
  }
  return found;
}

const std::string& FieldSet::Require(std::string_view name) const {
  const std::string* value = Find(name);
  if (!value) throw BadRequest("missing field: " + std::string(name));
  return *value;
}

std::vector<std::string> FieldSet::All(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [fieldName, value] : fields_) {
    if (fieldName == name) values.push_back(value);
  }
  return values;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::array<int, 4> quad{};
  std::size_t filled = 0;   // characters in quad
  std::size_t padding = 0;  // "=" seen; only line feeds may follow the quad that has them
  for (const char c : text) {
    if (c == '\n') continue;
    if (padding > 0 && filled == 0) return std::nullopt;  // data after the padded quad
    if (c == '=') {
      // Padding fills the last one or two places of a quad.
      if (filled < 2) return std::nullopt;
      ++padding;
      quad[filled++] = 0;
    } else {
      const int value = Base64Value(c);
      if (value < 0 || padding > 0) return std::nullopt;
      quad[filled++] = value;
    }
    if (filled < 4) continue;
    const std::uint32_t bits =
        (static_cast<std::uint32_t>(quad[0]) << 18) | (static_cast<std::uint32_t>(quad[1]) << 12) |
        (static_cast<std::uint32_t>(quad[2]) << 6) | static_cast<std::uint32_t>(quad[3]);
    // Bits that padding stands for must be zero, so that each text has one decoding only.
    if ((padding == 1 && (bits & 0xFF) != 0) || (padding == 2 && (bits & 0xFFFF) != 0)) {
      return std::nullopt;
    }
    out.push_back(static_cast<char>((bits >> 16) & 0xFF));
    if (padding < 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
    if (padding < 1) out.push_back(static_cast<char>(bits & 0xFF));
    filled = 0;
  }
  if (filled != 0) return std::nullopt;
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::optional<unsigned long long> ParseDecimal(std::string_view text, unsigned long long max) {
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

std::string NewHexId(std::size_t length) {
  std::random_device random;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  while (id.size() < length) {
    for (unsigned bits = random(), i = 0; i < 8; ++i, bits >>= 4) id += kHex[bits & 15];
  }
  return id;
}

bool IsHexId(std::string_view id, std::size_t length) {
  return id.size() == length && std::all_of(id.begin(), id.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string XmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\t':
      case '\n':
      case '\r':
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

unsigned long long Number(const FieldSet& fields, std::string_view name, unsigned long long max) {
  const auto value = ParseDecimal(fields.Require(name), max);
  if (!value) throw BadRequest(std::string(name) + " is not a number up to " + std::to_string(max));
  return *value;
}

void Expect(const FieldSet& fields, std::string_view name, std::string_view value) {
  const std::string* given = fields.Find(name);
  if (given && *given != value) {
    throw BadRequest(std::string(name) + " is not " + std::string(value));
  }
}

}  // namespace vesk::emulator
