// The system's narrow code page outside Windows is UTF-8.
#include "platform/Text.h"

namespace vesk {

std::string ToSystemCodePage(std::wstring_view text) { return ToUtf8(text); }

}  // namespace vesk
