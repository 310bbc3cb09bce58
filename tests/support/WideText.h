// Names as the tests write them on disk (UTF-8) turned into the wide text the public API takes.
#pragma once

#include <cstddef>
#include <string>

namespace vesk::test {

// UTF-8 to wide text, one code point per wchar_t (these tests run where it has 32 bits).
inline std::wstring Wide(const std::string& utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(static_cast<wchar_t>(c));
    i += length;
  }
  return out;
}

}  // namespace vesk::test
