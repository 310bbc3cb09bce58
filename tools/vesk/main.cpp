// vesk: the command line of a network storage device. Parses the command line and runs one
// subcommand.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>

#include "Commands.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Text.h"
#include "VeskHttp.h"

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

// Adds a subcommand whose help flag is --help only, leaving -h to the command; notes go
// below its options.
CLI::App* Subcommand(CLI::App& parent, const std::string& name, const std::string& description,
                     const std::string& notes = std::string()) {
  CLI::App* command = parent.add_subcommand(name, description);
  command->set_help_flag("--help", "Print this help and exit");
  command->footer((notes.empty() ? std::string() : notes + "\n\n") +
                  "The connection options, device paths and exit statuses: vesk --help");
  return command;
}

}  // namespace

int main(int argc, char** argv) {
  InstallInterruptHandler();

  CLI::App app(kDescription, "vesk");
  app.footer(kFooter);
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", "vesk 1.0.0");
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

  std::function<int()> action;
  const auto on = [&](CLI::App* command, std::function<int()> run) {
    command->callback([&action, run] { action = run; });
  };

  // The file tree.
  on(Subcommand(app, "shares", "List the share roots (like 'ls /')"),
     [&] { return RunShares(globals); });

  ListOptions list;
  CLI::App* ls = Subcommand(app, "ls", "List folders, page by page until the end");
  ls->add_flag("-l,--long", list.longFormat,
               "Show type, permission, owner, group, size and\nmodification time");
  ls->add_flag("-h,--human-readable", list.human, "Show sizes as KiB, MiB, GiB");
  ls->add_option("paths", list.paths, "Device folders (default: /, the share roots)");
  on(ls, [&] { return RunList(globals, list); });

  std::vector<std::string> statPaths;
  CLI::App* stat = Subcommand(app, "stat", "Show the status of files or folders");
  stat->add_option("paths", statPaths, "Device paths")->required();
  on(stat, [&] { return RunStat(globals, statPaths); });

  FindOptions find;
  CLI::App* findCommand =
      Subcommand(app, "find", "Find items by name at any depth below a folder",
                 "The device reports the names it finds, not the folder each one is in.");
  findCommand->add_option("folder", find.folder, "Device folder to search")->required();
  findCommand->add_option("keyword", find.keyword, "Text the names hold (ASCII case ignored)")
      ->required();
  findCommand->add_option("--limit", find.limit, "At most this many hits")
      ->check(CLI::PositiveNumber);
  on(findCommand, [&] { return RunFind(globals, find); });

  MakeFolderOptions mkdir;
  CLI::App* mkdirCommand = Subcommand(app, "mkdir", "Create folders");
  mkdirCommand->add_flag("-p,--parents", mkdir.parents,
                         "Create missing parent folders too; an existing\nfolder is fine");
  mkdirCommand->add_option("paths", mkdir.paths, "Device folders to create")->required();
  on(mkdirCommand, [&] { return RunMakeFolder(globals, mkdir); });

  CopyMoveOptions mv;
  CLI::App* mvCommand = Subcommand(app, "mv", "Rename or move items",
                                   "  vesk mv /P/a /P/b       renames a to b\n"
                                   "  vesk mv /P/a /P/b /Q    moves a and b into the folder /Q\n"
                                   "  vesk mv /P/a /Q/c       moves a into /Q and names it c");
  mvCommand->add_flag("-f,--force", mv.force, "Replace items of the same name in the folder");
  mvCommand->add_option("paths", mv.paths, "Items, then the new path or the folder")->required();
  on(mvCommand, [&] { return RunMove(globals, mv); });

  CopyMoveOptions cp;
  CLI::App* cpCommand = Subcommand(app, "cp", "Copy items into a folder on the device");
  cpCommand->add_flag("-f,--force", cp.force, "Replace items of the same name in the folder");
  cpCommand->add_option("paths", cp.paths, "Items, then the folder")->required();
  on(cpCommand, [&] { return RunCopy(globals, cp); });

  RemoveOptions rm;
  CLI::App* rmCommand = Subcommand(app, "rm", "Delete files (and, with -r, folders)");
  rmCommand->add_flag("-r,--recursive", rm.recursive,
                      "Delete folders too, with everything in them");
  rmCommand->add_option("paths", rm.paths, "Device paths")->required();
  on(rmCommand, [&] { return RunRemove(globals, rm); });

  TouchOptions touch;
  CLI::App* touchCommand = Subcommand(app, "touch", "Set the modification time of items");
  touchCommand->add_option("-t,--time", touch.time,
                           "Seconds since 1970, or \"YYYY-MM-DD[ HH:MM[:SS]]\"\nin local time "
                           "(default: now)");
  touchCommand->add_option("paths", touch.paths, "Device paths")->required();
  on(touchCommand, [&] { return RunTouch(globals, touch); });

  // Transfers.
  PutOptions put;
  CLI::App* putCommand = Subcommand(
      app, "put", "Upload local files into a device folder",
      "A file of the same name in the folder is replaced. With --chunked, an upload that is\n"
      "cut off or interrupted goes on where the device stopped when the same command runs\n"
      "again (vesk keeps its id under $XDG_CACHE_HOME/vesk, or ~/.cache/vesk).");
  putCommand->add_flag("--chunked", put.chunked, "Upload in a resumable chunked upload");
  putCommand->add_option("--temp-folder", put.tempFolder,
                         "Device folder for unfinished chunked uploads\n(default: the "
                         "destination folder)");
  putCommand->add_option("paths", put.paths, "Local files, then the device folder")->required();
  on(putCommand, [&] { return RunPut(globals, put); });

  GetOptions get;
  CLI::App* getCommand = Subcommand(
      app, "get", "Download files",
      "  vesk get /P/a.bin               into ./a.bin\n"
      "  vesk get /P/a.bin b.bin         into b.bin\n"
      "  vesk get /P/a /P/b ~/Downloads  into a local folder\n"
      "A local file of the same name is replaced, unless --resume goes on from its size\n"
      "(for a download that was cut off or interrupted).");
  getCommand->add_flag("--resume", get.resume,
                       "Go on from the local file's size instead of starting over");
  getCommand->add_option("paths", get.paths, "Device files, then where to put them")->required();
  on(getCommand, [&] { return RunGet(globals, get); });

  // Share links and links.
  CLI::App* share = Subcommand(app, "share", "Create, list and delete share links");
  share->require_subcommand(1);
  ShareCreateOptions shareCreate;
  CLI::App* shareCreateCommand = Subcommand(*share, "create", "Create a share link to a file");
  shareCreateCommand->add_option(
      "--expires", shareCreate.expires,
      "When the link expires, as the device takes it\n(e.g. \"2027-01-31 18:00\"); 0: never");
  shareCreateCommand->add_option("--access-code", shareCreate.accessCode,
                                 "Code the link asks for (default: none)");
  shareCreateCommand->add_flag("--secure-link", shareCreate.secureLink, "Make an https:// link");
  shareCreateCommand->add_option("path", shareCreate.path, "Device file")->required();
  on(shareCreateCommand, [&] { return RunShareCreate(globals, shareCreate); });
  int shareLimit = 1000;
  CLI::App* shareList = Subcommand(*share, "ls", "List the share links");
  shareList->add_option("--limit", shareLimit, "At most this many links")
      ->check(CLI::PositiveNumber);
  on(shareList, [&] { return RunShareList(globals, shareLimit); });
  std::vector<std::string> shareRemove;
  CLI::App* shareRemoveCommand = Subcommand(*share, "rm", "Delete share links");
  shareRemoveCommand->add_option("links", shareRemove, "Link URLs, or files as 'share ls' shows")
      ->required();
  on(shareRemoveCommand, [&] { return RunShareRemove(globals, shareRemove); });

  UrlOptions url;
  CLI::App* urlCommand =
      Subcommand(app, "url", "Print links to the device's viewer or thumbnails",
                 "The links carry a session of their own, which stays open when vesk ends.");
  urlCommand->require_subcommand(1);
  for (const char* kind : {"viewer", "thumb"}) {
    CLI::App* command = Subcommand(
        *urlCommand, kind,
        std::string(kind) == "viewer" ? "Link to view files" : "Link to files' thumbnails");
    command->add_option("paths", url.paths, "Device files")->required();
    on(command, [&, kind] {
      url.kind = kind;
      return RunUrl(globals, url);
    });
  }

  // Archives.
  ZipOptions zip;
  CLI::App* zipCommand = Subcommand(app, "zip", "Compress items into an archive on the device",
                                    "  vesk zip /P/photos.zip /P/a.jpg /P/album\n"
                                    "The items are in one folder, and the archive is made there.");
  zipCommand->add_option("--format", zip.format, "zip or 7z (default: by the archive's name)")
      ->check(CLI::IsMember({"zip", "7z"}));
  zipCommand->add_option("--level", zip.level, "normal, large or fast")
      ->check(CLI::IsMember({"normal", "large", "fast"}));
  zipCommand
      ->add_option(
          "--encrypt", zip.encryption,
          "aes256 or zipcrypto, with the password from\nVESK_ARCHIVE_PASSWORD or asked for")
      ->check(CLI::IsMember({"aes256", "zipcrypto"}));
  zipCommand->add_flag("-f,--force", zip.force, "Replace an archive of that name");
  zipCommand->add_option("paths", zip.paths, "The archive, then the items")->required();
  on(zipCommand, [&] { return RunZip(globals, zip); });

  UnzipOptions unzip;
  CLI::App* unzipCommand =
      Subcommand(app, "unzip", "List or extract an archive on the device",
                 "An archive's password, if it has one, comes from VESK_ARCHIVE_PASSWORD.");
  unzipCommand->add_flag("-l,--list", unzip.list, "List the archive's entries");
  unzipCommand->add_flag("-f,--force", unzip.overwrite, "Replace items that exist");
  unzipCommand->add_flag("--flat", unzip.flat, "Drop the archive's folders");
  unzipCommand->add_option("--only", unzip.only, "Extract only these entries");
  unzipCommand->add_option("archive", unzip.archive, "Device archive")->required();
  unzipCommand->add_option("destination", unzip.destination,
                           "Device folder (default: the archive's folder)");
  on(unzipCommand, [&] { return RunUnzip(globals, unzip); });

  // The device.
  on(Subcommand(app, "addr", "Show the device's names and addresses"),
     [&] { return RunAddresses(globals); });

  CLI::App* transcode = Subcommand(app, "transcode", "Queue or remove video transcoding");
  transcode->require_subcommand(1);
  std::vector<std::string> transcodePaths;
  for (const char* which : {"add", "rm"}) {
    CLI::App* command =
        Subcommand(*transcode, which,
                   std::string(which) == "add" ? "Queue videos for transcoding"
                                               : "Remove videos' transcoded copies");
    command->add_option("paths", transcodePaths, "Device video files")->required();
    on(command, [&, which] { return RunTranscode(globals, which, transcodePaths); });
  }

  on(Subcommand(app, "settings", "Show the device's web-server settings"),
     [&] { return RunSettings(globals); });

  std::string webState;
  CLI::App* webFm = Subcommand(app, "web-fm", "Switch the device's web file manager on");
  webFm->add_option("state", webState, "on")->required()->check(CLI::IsMember({"on"}));
  on(webFm, [&] { return RunWebFileManager(globals); });

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& success) {
    return app.exit(success);
  } catch (const CLI::ParseError& error) {
    PrintError(error.what());
    std::fputs("Run 'vesk --help', or 'vesk COMMAND --help', for usage.\n", stderr);
    return kUsage;
  }

  try {
    return action ? action() : kUsage;
  } catch (const Failure& failure) {
    PrintError(failure.Message());
    return failure.Status();
  } catch (const std::exception& error) {
    PrintError(error.what());
    return kFailed;
  }
}
