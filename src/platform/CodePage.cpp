#include "platform/CodePage.h"

#include "http/Encoding.h"

namespace vesk::platform {

std::string ToSystemNarrow(std::wstring_view text) { return ToUtf8(text); }

}  // namespace vesk::platform
