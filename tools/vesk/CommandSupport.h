// What the subcommands share once they run: connecting, reading an item's status, and going
// on past the failure of one item of several.
#ifndef VESK_TOOLS_COMMAND_SUPPORT_H
#define VESK_TOOLS_COMMAND_SUPPORT_H

#include <memory>
#include <optional>
#include <string>

#include "Command.h"
#include "Connection.h"
#include "VeskHttp.h"

namespace vesk::cli {

// Reads the password and logs in to the services (a mask of Session::Service). Ctrl-C
// cancels through the flag from here on.
std::unique_ptr<Session> Connect(const Globals& globals, int services);

// The status of a device item, or nothing when there is no such item.
std::optional<CVeskHttpFileStatus> StatusOf(Session& session, const std::string& path);

// Runs item for one item of a command that takes several: a failure is printed and
// remembered (the first one's exit status is the command's), and the command goes on with the
// next item, unless the failure ends the whole command (no connection, no login, Ctrl-C).
class Items {
 public:
  template <typename Item>
  void Run(Item&& item) {
    try {
      item();
    } catch (const Failure& failure) {
      Remember(failure);
    }
  }
  int Status() const { return status_; }

 private:
  void Remember(const Failure& failure);
  int status_ = 0;
};

}  // namespace vesk::cli

#endif  // VESK_TOOLS_COMMAND_SUPPORT_H
