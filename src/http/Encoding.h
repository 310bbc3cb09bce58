// Encodings of the device's forms and queries: percent-encoding and base64.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text conversions every form value goes through before it is encoded.
#include "platform/Text.h"

namespace vesk {

// Percent-encodes, in place, every character a query value or a form field must not carry
// raw: "%", space, !"#$&'()*+,/:;<=>?@[\]^`{|}~ and the control characters (below 0x20, and
// 0x7F), each as "%" and two upper-case hexadecimal digits. Letters, digits, "-", ".", "_"
// and every code unit above 0x7F stay as they are (non-ASCII text reaches the wire as UTF-8).
// The cancel flag, when given, is read as the work goes on: when it is set the encoding stops
// and the function returns false, leaving the text partly encoded; such a value must not be
// sent.
bool UrlEncode(std::wstring& text, const int* cancelFlag = nullptr);

// Standard base64 (RFC 4648 alphabet, "=" padding) with a line feed after every 76 output
// characters, as the device's login forms expect.
std::string Base64Encode(const void* data, std::size_t size);
inline std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(bytes.data(), bytes.size());
}

}  // namespace vesk
