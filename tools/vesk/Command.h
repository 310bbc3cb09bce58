// How a vesk subcommand joins the command line. Each subcommand's source holds its options,
// its flags and help text, and the function that runs it, and adds them all through one
// Register function given a Registry (commands/All.h lists those functions in order).
#ifndef VESK_TOOLS_COMMAND_H
#define VESK_TOOLS_COMMAND_H

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>

#include "Connection.h"

namespace vesk::cli {

// The global options, which every subcommand sees.
struct Globals {
  ConnectionOptions connection;
  bool json = false;
};

// Collects the subcommands while the command line is set up, and runs the one that was given
// once it has been read. A run returns the exit status, or throws a Failure that ends the
// command.
class Registry {
 public:
  using Run = std::function<int(const Globals&)>;

  explicit Registry(CLI::App& top) : top_(top) {}
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Adds a subcommand of vesk, or of a group of subcommands (share, url, transcode), whose
  // help flag is --help only, leaving -h to the command. Its notes go below its options,
  // followed by where the connection options are described.
  CLI::App* Add(const std::string& name, const std::string& description,
                const std::string& notes = std::string());
  CLI::App* Add(CLI::App& group, const std::string& name, const std::string& description,
                const std::string& notes = std::string());

  // Makes run what happens when command is the one given.
  void On(CLI::App* command, Run run);

  // The same for a run that takes an options record: the record lives as long as the command
  // line, for the command's flags to fill, and run gets it as they left it.
  template <typename Options>
  Options& On(CLI::App* command, int (*run)(const Globals&, const Options&)) {
    auto options = std::make_shared<Options>();
    On(command, [options, run](const Globals& globals) { return run(globals, *options); });
    return *options;
  }

  // Runs the subcommand the command line gave; kUsage when it gave none.
  int RunChosen(const Globals& globals) const;

 private:
  CLI::App& top_;
  Run chosen_;
};

// A subcommand's source defines one of these: it adds the subcommand (or the group of them
// that form one command) to the registry.
using Registration = void (*)(Registry&);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_COMMAND_H
