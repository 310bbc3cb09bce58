// Strict decoding of what the emulated device receives (query strings, form bodies, base64
// passwords, numbers), escaping of what it sends (JSON strings, XML text), and the random
// identifiers it hands out.
//
// The device checks its input instead of guessing: a malformed escape, a field given twice or
// a number out of range is a BadRequest, which the router answers with a 400.
#ifndef VESK_EMULATOR_WIRE_H
#define VESK_EMULATOR_WIRE_H

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vesk::emulator {

// A request the device answers with an HTTP error status instead of a reply document; the
// message, sent as the reply body, says why.
class HttpError : public std::runtime_error {
 public:
  HttpError(int status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

// A request the device cannot take as sent (a 400).
class BadRequest : public HttpError {
 public:
  explicit BadRequest(const std::string& message) : HttpError(400, message) {}
};

// Decodes one query or form component: "%XX" escapes (either case) and "+" as a space.
// nullopt when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> DecodeComponent(std::string_view text);

// The fields of a query string or an application/x-www-form-urlencoded body, decoded
// strictly. Empty pieces ("a=1&&b=2") are skipped; a piece without "=" has an empty value.
class FieldSet {
 public:
  FieldSet() = default;
  // Throws BadRequest when a name or value holds a malformed escape.
  static FieldSet Parse(std::string_view text);

  // The value of a field given once; nullptr when it is absent. Throws BadRequest when it is
  // given more than once: the device cannot tell which one was meant.
  const std::string* Find(std::string_view name) const;
  // As Find, and a missing field is a BadRequest too.
  const std::string& Require(std::string_view name) const;
  // Every value of a field that a request may repeat (a list of names), in the order sent;
  // empty when it is absent.
  std::vector<std::string> All(std::string_view name) const;

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// A field given once as a plain decimal number not above max; a missing or malformed one is a
// BadRequest.
unsigned long long Number(const FieldSet& fields, std::string_view name, unsigned long long max);
// A field the library always sends with one fixed value: when present, any other value is a
// BadRequest.
void Expect(const FieldSet& fields, std::string_view name, std::string_view value);

// Standard base64 (RFC 4648 alphabet, "=" padding). Line feeds are skipped wherever they
// stand; every other byte outside the alphabet (a space, a carriage return, "-", "_"), a
// length that is not a multiple of four, padding anywhere but at the end, or padding bits that
// are not zero make it fail with nullopt.
std::optional<std::string> DecodeBase64(std::string_view text);

// text with ASCII capital letters made small; other bytes (UTF-8 included) stay as they are.
std::string AsciiLower(std::string_view text);

// A plain unsigned decimal number (digits only: no sign, spaces or prefix) not above max.
std::optional<unsigned long long> ParseDecimal(std::string_view text, unsigned long long max);

// A fresh identifier (of a share link, of a chunked upload): length lowercase hexadecimal
// digits from the system's random source.
std::string NewHexId(std::size_t length);
// True when id is one: exactly length lowercase hexadecimal digits.
bool IsHexId(std::string_view id, std::size_t length);

// text as a JSON string literal, quotes included; control characters as \u00XX.
std::string JsonString(std::string_view text);
// text with &, <, >, " and ' escaped, for XML element text and attribute values. Control
// characters XML 1.0 cannot carry become U+FFFD.
std::string XmlText(std::string_view text);

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_WIRE_H
