// Text encodings used between the caller's wide text and the device's UTF-8 interface.
//
// Wide text is UTF-16 where wchar_t has 16 bits and UTF-32 where it has 32; both widths are
// handled. Invalid input never fails a conversion: it becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Wide text to UTF-8. An unpaired surrogate or a value outside Unicode becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);
// UTF-8 to wide text. Every invalid sequence becomes one U+FFFD.
std::wstring FromUtf8(std::string_view text);
// Wide text to the system's default narrow code page: the ANSI code page on Windows (where
// an unmappable character becomes the code page's replacement), UTF-8 elsewhere.
std::string ToSystemCodePage(std::wstring_view text);

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
