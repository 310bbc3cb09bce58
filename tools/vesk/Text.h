// Conversions between the UTF-8 of the command line, the terminal and local file names, and
// the wide text the library takes and gives. They do not depend on the locale: vesk behaves
// the same under LANG=C.
#ifndef VESK_TOOLS_TEXT_H
#define VESK_TOOLS_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace vesk::cli {

// The wide form of UTF-8 text, or nothing when the text is not valid UTF-8.
std::optional<std::wstring> WideFromUtf8(std::string_view utf8);

// The wide form of text given by the user; a UsageError when it is not valid UTF-8.
std::wstring Wide(std::string_view utf8);

// The UTF-8 form of wide text; a character that has none becomes U+FFFD.
std::string Utf8(std::wstring_view wide);
inline std::string Utf8(const wchar_t* wide) { return Utf8(std::wstring_view(wide ? wide : L"")); }

}  // namespace vesk::cli

#endif  // VESK_TOOLS_TEXT_H
