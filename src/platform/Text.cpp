#include "platform/Text.h"

namespace vesk {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (kWideIsUtf16) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(c));
}

// Decodes one UTF-8 sequence at text[i]; advances i past it, or past the longest prefix of a
// valid sequence when it is broken (which then yields U+FFFD).
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  int length;
  char32_t c;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int k = 1; k < length; ++k) {
    if (i >= text.size()) return kReplacement;
    const unsigned char b = byte(i);
    const unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) return kReplacement;
    c = (c << 6) | (b & 0x3F);
    ++i;
  }
  return c;
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  // Most text is ASCII: runs of it are copied straight, a byte a character.
  std::size_t ascii = 0;
  while (ascii < text.size() && static_cast<char32_t>(text[ascii]) < 0x80) ++ascii;
  out.resize(ascii);
  for (std::size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(text[i]);
  if (ascii == text.size()) return out;
  out.reserve(text.size() + text.size() / 2);
  for (std::size_t i = ascii; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if constexpr (kWideIsUtf16) {
      c &= 0xFFFF;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        const char32_t next = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
        if (next >= 0xDC00 && next <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
          ++i;
        }
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  std::size_t ascii = 0;
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  out.resize(ascii);
  for (std::size_t i = 0; i < ascii; ++i) out[i] = static_cast<wchar_t>(text[i]);
  if (ascii == text.size()) return out;
  out.reserve(text.size());
  for (std::size_t i = ascii; i < text.size();) AppendWide(out, DecodeUtf8(text, i));
  return out;
}

}  // namespace vesk
