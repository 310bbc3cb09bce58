// The system's narrow code page on Windows: the ANSI code page.
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <climits>

#include "platform/Text.h"

namespace vesk {

std::string ToSystemCodePage(std::wstring_view text) {
  std::string out;
  // WideCharToMultiByte counts in int: longer text goes in pieces, cut between surrogates of a
  // pair never.
  constexpr std::size_t kPiece = INT_MAX / 4;
  while (!text.empty()) {
    std::size_t count = std::min(text.size(), kPiece);
    if (count < text.size() && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
    const int units = static_cast<int>(count);
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return out;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(size));
    const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), units, out.data() + start, size,
                                            nullptr, nullptr);
    out.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
    text.remove_prefix(count);
  }
  return out;
}

}  // namespace vesk
