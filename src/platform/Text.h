// Conversions between the caller's wide text, the device's UTF-8 and the system's narrow code
// page. Every layer above converts text through these.
//
// Wide text is UTF-16 where wchar_t has 16 bits and UTF-32 where it has 32; both widths are
// handled. Invalid input never fails a conversion: it becomes U+FFFD. They are the library's
// common vocabulary for text, so they stay in namespace vesk rather than vesk::platform.
#pragma once

#include <string>
#include <string_view>

namespace vesk {

// Wide text to UTF-8. An unpaired surrogate or a value outside Unicode becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);
// UTF-8 to wide text. Every invalid sequence becomes one U+FFFD.
std::wstring FromUtf8(std::string_view text);
// Wide text to the system's default narrow code page: the ANSI code page on Windows (where
// an unmappable character becomes the code page's replacement), UTF-8 elsewhere. Defined by
// CodePage.cpp and CodePageWindows.cpp.
std::string ToSystemCodePage(std::wstring_view text);

}  // namespace vesk
