// vesk touch: sets the modification time of device items.
#include <climits>
#include <cstdio>
#include <ctime>

#include "CommandSupport.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct TouchOptions {
  std::vector<std::string> paths;
  std::string time;  // seconds since 1970, or "YYYY-MM-DD[ HH:MM[:SS]]" local time; empty: now
};

// The time `touch -t` names: seconds since 1970, or a local date and time.
int ParseTime(const std::string& text) {
  if (text.empty()) {
    const std::time_t now = std::time(nullptr);
    if (now > INT_MAX) throw Failure(kFailed, "the time now is beyond what the device takes");
    return static_cast<int>(now);
  }
  long long seconds = -1;
  if (text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 12) {
    seconds = std::stoll(text);
  } else {
    std::tm parts{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = ' ', end = '\0';
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &year, &month, &day,
                              &separator, &hour, &minute, &second, &end);
    if (!(n == 3 || n == 6 || n == 7) || (n > 3 && separator != ' ' && separator != 'T')) {
      throw Failure(kUsage,
                    "--time " + text + ": give seconds since 1970 or \"YYYY-MM-DD[ HH:MM[:SS]]\"");
    }
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    seconds = static_cast<long long>(std::mktime(&parts));
  }
  if (seconds < 1 || seconds > INT_MAX) {
    throw Failure(kUsage, "--time " + text + ": the device takes times from 1970 to 2038");
  }
  return static_cast<int>(seconds);
}

int RunTouch(const Globals& globals, const TouchOptions& options) {
  const int time = ParseTime(options.time);
  auto session = Connect(globals, Session::kFiles);
  Items items;
  for (const std::string& given : options.paths) {
    items.Run([&] {
      const std::string path = DevicePath(given);
      CVeskHttpFileStatus status;
      session->Run(Op::SetTime, path, [&] {
        return session->Files().SetFileModifyTime(Wide(path).c_str(), time, CancelFlag(), &status);
      });
      if (*status.GetFileName() == L'\0') throw Failure(kFailed, path + ": no such file or folder");
    });
  }
  return items.Status();
}

}  // namespace

void RegisterTouch(Registry& registry) {
  CLI::App* command = registry.Add("touch", "Set the modification time of items");
  TouchOptions& options = registry.On(command, &RunTouch);
  command->add_option("-t,--time", options.time,
                      "Seconds since 1970, or \"YYYY-MM-DD[ HH:MM[:SS]]\"\nin local time "
                      "(default: now)");
  command->add_option("paths", options.paths, "Device paths")->required();
}

}  // namespace vesk::cli
