#include "Command.h"

#include "Messages.h"

namespace vesk::cli {

CLI::App* Registry::Add(const std::string& name, const std::string& description,
                        const std::string& notes) {
  return Add(top_, name, description, notes);
}

CLI::App* Registry::Add(CLI::App& group, const std::string& name, const std::string& description,
                        const std::string& notes) {
  CLI::App* command = group.add_subcommand(name, description);
  command->set_help_flag("--help", "Print this help and exit");
  command->footer((notes.empty() ? std::string() : notes + "\n\n") +
                  "The connection options, device paths and exit statuses: vesk --help");
  return command;
}

void Registry::On(CLI::App* command, Run run) {
  // CLI11 calls a subcommand's callback once the whole command line is read, and only for a
  // subcommand that was given.
  command->callback([this, run = std::move(run)] { chosen_ = run; });
}

int Registry::RunChosen(const Globals& globals) const {
  return chosen_ ? chosen_(globals) : kUsage;
}

}  // namespace vesk::cli
