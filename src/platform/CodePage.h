// The system's default narrow code page, for text that the platform reads as narrow text.
#pragma once

#include <string>
#include <string_view>

namespace vesk::platform {

// Wide text in the system's default narrow code page: the ANSI code page on Windows (a
// character it cannot hold becomes its default replacement character), UTF-8 elsewhere (as
// ToUtf8 converts).
std::string ToSystemNarrow(std::wstring_view text);

}  // namespace vesk::platform
