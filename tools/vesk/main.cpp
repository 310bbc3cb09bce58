// vesk: the command line of a network storage device. Sets up the global options and every
// subcommand (commands/All.h), reads the command line and runs the subcommand it gives.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Suggest.h"
#include "Text.h"
#include "VeskHttp.h"
#include "commands/All.h"

namespace {

using namespace vesk::cli;

constexpr const char* kDescription =
    "vesk: work with a network storage device over its web administration API: browse and\n"
    "change its files, move files up and down, share links, archives, and its settings.\n";

constexpr const char* kFooter = R"(Connection:
  The device is --host (or VESK_HOST), the user --user (or VESK_USER). The password is
  the first line of --password-file FILE, else VESK_PASSWORD, else asked for on the
  terminal; it is never taken from the command line. --port and --tls-port may also be
  set as VESK_PORT and VESK_TLS_PORT.

Device paths begin with a share root: /Public/photos/a.jpg ("/" is the list of share
roots). Run 'vesk COMMAND --help' for a command's own options.

Exit status:
  0    success
  1    the device refused or failed an operation, or an item does not exist
  2    the command line is wrong, or no password can be had
  3    login refused (wrong user or password), or the session ended
  4    the device cannot be reached, the connection broke off, or it did not answer in time
  5    a local file cannot be read or written
  130  interrupted (Ctrl-C); the running operation is cancelled and the session closed

Examples:
  export VESK_HOST=192.168.1.20 VESK_USER=admin
  vesk ls -l -h /Public
  vesk put holiday.mp4 notes.txt /Public/inbox
  vesk get --resume /Public/big.iso ~/Downloads
  vesk share create --expires "2027-01-31 18:00" /Public/report.pdf)";

// The word given where a command belongs, when it names none: the first argument left over
// at the top when no subcommand was found. Options, known or not, are not taken for one.
std::optional<std::string> UnknownCommand(const CLI::App& app) {
  if (!app.get_subcommands().empty()) return std::nullopt;
  for (const std::string& argument : app.remaining()) {
    if (!argument.starts_with("-")) return argument;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  InstallInterruptHandler();

  CLI::App app(kDescription, "vesk");
  app.footer(kFooter);
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", "vesk " VESK_HTTP_VERSION_STRING);
  app.require_subcommand(1);
  app.fallthrough();

  Globals globals;
  ConnectionOptions& c = globals.connection;
  app.add_option("--host", c.host, "The device's host name or address")->envname("VESK_HOST");
  app.add_option("--port", c.port, "The device's HTTP port")
      ->envname("VESK_PORT")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535));
  app.add_flag("--tls", c.tls,
               "Use HTTPS (the device's certificate is not checked\nunless --pin or --ca-file)");
  app.add_option("--tls-port", c.tlsPort, "The device's HTTPS port")
      ->envname("VESK_TLS_PORT")
      ->capture_default_str()
      ->check(CLI::Range(1, 65535));
  app.add_option("--pin", c.pin,
                 "With --tls: accept only the certificate with this SHA-256\nfingerprint "
                 "(64 hexadecimal digits, colons optional)")
      ->check(CLI::Validator(
          [](std::string& pin) {
            CVeskHttpServer reader;  // the library reads fingerprints
            return reader.SetCertificatePin(Wide(pin).c_str())
                       ? std::string()
                       : "not a SHA-256 fingerprint: " + pin;
          },
          "FINGERPRINT"));
  app.add_option("--ca-file", c.caFile,
                 "With --tls: verify the certificate against the\nauthorities in this PEM file")
      ->check(CLI::ExistingFile);
  app.add_option("--user", c.user, "The user to log in as")->envname("VESK_USER");
  app.add_option("--password-file", c.passwordFile,
                 "Read the password from this file's first line");
  app.add_option("--computer-name", c.computerName, "The name this computer gives the device");
  app.add_option("--timeout", c.timeoutSeconds,
                 "Seconds to wait for a connection or an answer\n(default: 60 to connect, 30 for "
                 "an answer)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--via-system", c.viaSystem,
               "Log in to the system service first and to the\nfile service through it");
  app.add_flag("--json", globals.json,
               "Print listings, statuses, links, addresses and\nsettings as JSON");

  Registry registry(app);
  for (const Registration add : kAllCommands) add(registry);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& success) {
    return app.exit(success);
  } catch (const CLI::ParseError& error) {
    if (const auto word = UnknownCommand(app)) {
      std::vector<std::string> names;
      for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
      PrintError(NotACommand(*word, names));
      return kUsage;
    }
    PrintError(error.what());
    std::fputs("Run 'vesk --help', or 'vesk COMMAND --help', for usage.\n", stderr);
    return kUsage;
  }

  try {
    return registry.RunChosen(globals);
  } catch (const Failure& failure) {
    PrintError(failure.Message());
    return failure.Status();
  } catch (const std::exception& error) {
    PrintError(error.what());
    return kFailed;
  }
}
