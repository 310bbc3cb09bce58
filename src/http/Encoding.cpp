#include "http/Encoding.h"

#include <cstdint>

#include "http/CancelFlag.h"

namespace vesk {
namespace {

bool NeedsPercent(wchar_t c) {
  // Compared as an unsigned code unit: where wchar_t is signed, a unit beyond Unicode reads as
  // negative, and it is no control character (its low byte could be "/"); like every unit above
  // 0x7F it stays, and becomes U+FFFD on its way to UTF-8.
  const auto unit = static_cast<std::uint32_t>(c);
  if (unit < 0x20 || unit == 0x7F) return true;
  if (unit > 0x7E) return false;
  constexpr std::wstring_view kEncoded = L"% !\"#$&'()*+,/:;<>=?@[\\]^`{|}~";
  return kEncoded.find(c) != std::wstring_view::npos;
}

}  // namespace

bool UrlEncode(std::wstring& text, const int* cancelFlag) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::wstring out;
  out.reserve(text.size() + text.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Values are short; a look at the flag every few hundred characters keeps a cancel prompt
    // without costing anything measurable.
    if (i % 256 == 0 && cancelFlag && LoadFlag(cancelFlag) != 0) {
      text = out + text.substr(i);
      return false;
    }
    const wchar_t c = text[i];
    if (NeedsPercent(c)) {
      out.push_back(L'%');
      out.push_back(static_cast<wchar_t>(kHex[(c >> 4) & 0xF]));
      out.push_back(static_cast<wchar_t>(kHex[c & 0xF]));
    } else {
      out.push_back(c);
    }
  }
  text = std::move(out);
  return !(cancelFlag && LoadFlag(cancelFlag) != 0);
}

std::string Base64Encode(const void* data, std::size_t size) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t kLine = 76;
  const auto* in = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((size + 2) / 3 * 4 + size / 57 + 1);
  std::size_t lineLength = 0;
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out.push_back(kAlphabet[(v >> 18) & 0x3F]);
    out.push_back(kAlphabet[(v >> 12) & 0x3F]);
    out.push_back(kAlphabet[(v >> 6) & 0x3F]);
    out.push_back(kAlphabet[v & 0x3F]);
    lineLength += 4;
    if (lineLength == kLine) {
      out.push_back('\n');
      lineLength = 0;
    }
  }
  if (size - i == 1) {
    const unsigned v = in[i] << 16;
    out.push_back(kAlphabet[(v >> 18) & 0x3F]);
    out.push_back(kAlphabet[(v >> 12) & 0x3F]);
    out.append("==");
  } else if (size - i == 2) {
    const unsigned v = (in[i] << 16) | (in[i + 1] << 8);
    out.push_back(kAlphabet[(v >> 18) & 0x3F]);
    out.push_back(kAlphabet[(v >> 12) & 0x3F]);
    out.push_back(kAlphabet[(v >> 6) & 0x3F]);
    out.push_back('=');
  }
  return out;
}

}  // namespace vesk
