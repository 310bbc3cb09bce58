// vesk's subcommands: their options, as the command line fills them, and the functions that
// run them. Each function returns the exit status, or throws a Failure that ends the command.
#ifndef VESK_TOOLS_COMMANDS_H
#define VESK_TOOLS_COMMANDS_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Connection.h"
#include "VeskHttp.h"

namespace vesk::cli {

struct Globals {
  ConnectionOptions connection;
  bool json = false;
};

// --- Shared by the commands -------------------------------------------------------------------

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

// --- File tree (FileCommands.cpp) --------------------------------------------------------------

struct ListOptions {
  std::vector<std::string> paths;
  bool longFormat = false, human = false;
};
int RunShares(const Globals& globals);
int RunList(const Globals& globals, const ListOptions& options);
int RunStat(const Globals& globals, const std::vector<std::string>& paths);

struct FindOptions {
  std::string folder, keyword;
  int limit = 1000;
};
int RunFind(const Globals& globals, const FindOptions& options);

struct MakeFolderOptions {
  std::vector<std::string> paths;
  bool parents = false;
};
int RunMakeFolder(const Globals& globals, const MakeFolderOptions& options);

struct CopyMoveOptions {
  std::vector<std::string> paths;  // sources, then the destination
  bool force = false;
};
int RunMove(const Globals& globals, const CopyMoveOptions& options);
int RunCopy(const Globals& globals, const CopyMoveOptions& options);

struct RemoveOptions {
  std::vector<std::string> paths;
  bool recursive = false;
};
int RunRemove(const Globals& globals, const RemoveOptions& options);

struct TouchOptions {
  std::vector<std::string> paths;
  std::string time;  // seconds since 1970, or "YYYY-MM-DD[ HH:MM[:SS]]" local time; empty: now
};
int RunTouch(const Globals& globals, const TouchOptions& options);

// --- Transfers (TransferCommands.cpp) ---------------------------------------------------------

struct PutOptions {
  std::vector<std::string> paths;  // local files, then the device folder
  bool chunked = false;
  std::string tempFolder;  // for --chunked; empty: the destination folder
};
int RunPut(const Globals& globals, const PutOptions& options);

struct GetOptions {
  std::vector<std::string> paths;  // device files, then optionally a local file or folder
  bool resume = false;
};
int RunGet(const Globals& globals, const GetOptions& options);

// --- Share links and links (ShareCommands.cpp) ------------------------------------------------

struct ShareCreateOptions {
  std::string path;
  std::string expires = "0";  // passed to the device as it stands; "0": never
  std::string accessCode;
  bool secureLink = false;
};
int RunShareCreate(const Globals& globals, const ShareCreateOptions& options);
int RunShareList(const Globals& globals, int limit);
int RunShareRemove(const Globals& globals, const std::vector<std::string>& links);

struct UrlOptions {
  std::string kind;  // "viewer" or "thumb"
  std::vector<std::string> paths;
};
int RunUrl(const Globals& globals, const UrlOptions& options);

// --- Archives (ArchiveCommands.cpp) -----------------------------------------------------------

struct ZipOptions {
  std::vector<std::string> paths;  // the archive, then the items
  std::string format;              // "zip" or "7z"; empty: by the archive's extension
  std::string level = "normal";
  std::string encryption;  // "" (none), "aes256" or "zipcrypto"
  bool force = false;      // replace an archive of that name
};
int RunZip(const Globals& globals, const ZipOptions& options);

struct UnzipOptions {
  std::string archive;
  std::string destination;  // empty: the archive's folder
  bool list = false, flat = false, overwrite = false;
  std::vector<std::string> only;
};
int RunUnzip(const Globals& globals, const UnzipOptions& options);

// --- The device (DeviceCommands.cpp) ----------------------------------------------------------

int RunAddresses(const Globals& globals);
int RunTranscode(const Globals& globals, const std::string& action,
                 const std::vector<std::string>& paths);
int RunSettings(const Globals& globals);
int RunWebFileManager(const Globals& globals);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_COMMANDS_H
