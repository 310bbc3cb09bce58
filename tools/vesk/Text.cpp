#include "Text.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <string>

#include "Messages.h"

namespace vesk::cli {

namespace {

// One conversion descriptor per call: iconv keeps shift state in it, and calls may come from
// several threads.
struct Converter {
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t cd;
};

// Converts input to output. An input unit that has no conversion (`skip` bytes long) becomes
// `replacement`; without a replacement the conversion fails.
template <typename Out>
bool Convert(const char* to, const char* from, const char* input, std::size_t inputBytes,
             std::size_t skip, Out* output, const typename Out::value_type* replacement) {
  Converter converter(to, from);
  if (converter.cd == reinterpret_cast<iconv_t>(-1)) return false;
  using Unit = typename Out::value_type;
  // Room for every input byte to become a unit of four bytes; grown if ever too small.
  std::string buffer(inputBytes * 4 + 16, '\0');
  char* in = const_cast<char*>(input);
  std::size_t inLeft = inputBytes;
  std::size_t used = 0;
  while (true) {
    char* out = buffer.data() + used;
    std::size_t outLeft = buffer.size() - used;
    const std::size_t done = iconv(converter.cd, inLeft ? &in : nullptr, &inLeft, &out, &outLeft);
    used = buffer.size() - outLeft;
    if (done != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) {
      buffer.resize(buffer.size() * 2);
    } else if ((errno == EILSEQ || errno == EINVAL) && replacement) {
      const std::size_t step = std::min(skip, inLeft);
      in += step;
      inLeft -= step;
      const std::string_view bytes(reinterpret_cast<const char*>(replacement),
                                   std::char_traits<Unit>::length(replacement) * sizeof(Unit));
      if (buffer.size() - used < bytes.size()) buffer.resize(buffer.size() * 2 + bytes.size());
      buffer.replace(used, bytes.size(), bytes);
      used += bytes.size();
      if (inLeft == 0) break;
    } else {
      return false;
    }
  }
  output->assign(reinterpret_cast<const Unit*>(buffer.data()), used / sizeof(Unit));
  return true;
}

}  // namespace

std::optional<std::wstring> WideFromUtf8(std::string_view utf8) {
  std::wstring wide;
  if (!Convert("WCHAR_T", "UTF-8", utf8.data(), utf8.size(), 0, &wide, nullptr)) {
    return std::nullopt;
  }
  return wide;
}

std::wstring Wide(std::string_view utf8) {
  auto wide = WideFromUtf8(utf8);
  if (!wide) throw Failure(kUsage, "a name or path given is not valid UTF-8");
  return *wide;
}

std::string Utf8(std::wstring_view wide) {
  std::string utf8;
  static const char kReplacement[] = "\xEF\xBF\xBD";
  if (!Convert("UTF-8", "WCHAR_T", reinterpret_cast<const char*>(wide.data()),
               wide.size() * sizeof(wchar_t), sizeof(wchar_t), &utf8, kReplacement)) {
    return std::string();
  }
  return utf8;
}

}  // namespace vesk::cli
