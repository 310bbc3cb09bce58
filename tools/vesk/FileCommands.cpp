// Browsing and changing the device's file tree: shares, ls, stat, find, mkdir, mv, cp, rm and
// touch.
#include <climits>
#include <cstdio>
#include <ctime>
#include <functional>

#include "Commands.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

constexpr int kPage = 500;  // entries asked for at a time

// One item of a listing, with its status details when asked for (ls -l).
struct Row {
  std::string folder, name;
  bool isFolder = false;
  long long size = 0;
  std::optional<CVeskHttpFileStatus> status;
};

// The details of an item's status that ls -l and stat show alike.
void AddStatusJson(Json::Value& value, const CVeskHttpFileStatus& status) {
  value["modified"] = Utf8(status.GetMT());
  value["permission"] = Utf8(status.GetFolderPermission());
  value["owner"] = Utf8(status.GetOwner());
  value["group"] = Utf8(status.GetGroup());
  value["compressed"] = status.IsCommpressed() != 0;
}

Json::Value RowJson(const Row& row) {
  Json::Value value = ItemJson(row.name, row.isFolder, row.size);
  value["path"] = row.folder.empty() ? "/" : row.folder;
  if (row.status) AddStatusJson(value, *row.status);
  return value;
}

std::string SizeText(long long size, bool human) {
  return human ? HumanBytes(size) : std::to_string(size);
}

// A name as a short listing shows it: folders end with "/".
std::string Shown(const std::string& name, bool isFolder) { return isFolder ? name + "/" : name; }

void PrintRows(const std::vector<Row>& rows, const ListOptions& options) {
  if (!options.longFormat) {
    for (const Row& row : rows) PrintLine(Shown(row.name, row.isFolder));
    return;
  }
  Table table({4});
  for (const Row& row : rows) {
    const auto& s = row.status;
    const auto text = [&](const wchar_t* value) {
      const std::string utf8 = s ? Utf8(value) : std::string();
      return utf8.empty() ? std::string("?") : utf8;
    };
    table.Add({row.isFolder ? "d" : "-", text(s ? s->GetFolderPermission() : L""),
               text(s ? s->GetOwner() : L""), text(s ? s->GetGroup() : L""),
               row.isFolder ? "-" : SizeText(row.size, options.human), text(s ? s->GetMT() : L""),
               row.name});
  }
  table.Print();
}

std::vector<Row> ListFolder(Session& session, const std::string& path) {
  std::vector<Row> rows;
  std::vector<CVeskHttpFileEntry> entries;
  if (path == "/") {
    session.Run(Op::List, path,
                [&] { return session.Files().GetShareFolderList(CancelFlag(), &entries); });
  } else {
    const std::wstring folder = Wide(path);
    int count = 0;
    auto started = Session::Clock::now();
    const int result = session.Files().GetFileListCount(folder.c_str(), CancelFlag(), &count);
    if (result == VESK_HTTP_DEVICE_STATUS_4) {
      // Not a folder: perhaps a file, which ls shows on its own.
      const auto status = StatusOf(session, path);
      if (!status || status->IsDir()) throw ResultFailure(result, Op::List, path);
      Row row{Parent(path), Name(path), false, status->GetFileSize(), status};
      return {row};
    }
    if (result != VESK_HTTP_SUCCESS) throw session.Fail(result, Op::List, path, started);
    // The count fixes the pages: a page can come back short when the device leaves out an
    // entry it cannot describe.
    for (int start = 0; start < count; start += kPage) {
      session.Run(Op::List, path, [&] {
        return session.Files().GetFileList(folder.c_str(), start, kPage, CancelFlag(), &entries);
      });
    }
  }
  for (const auto& entry : entries) {
    rows.push_back(Row{path == "/" ? std::string() : path, Utf8(entry.GetFileName()),
                       entry.IsDir() != 0, entry.GetFileSize(), std::nullopt});
  }
  return rows;
}

Json::Value StatusJson(const std::string& path, const CVeskHttpFileStatus& status) {
  Json::Value value =
      ItemJson(Utf8(status.GetFileName()), status.IsDir() != 0, status.GetFileSize());
  value["path"] = path;
  AddStatusJson(value, status);
  return value;
}

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

// Refuses a change that would need the device to replace an item without -f.
void CheckTarget(Session& session, const std::string& target, bool force) {
  if (!force && StatusOf(session, target)) {
    throw Failure(kFailed, target + ": already exists (-f replaces it)");
  }
}

// Copies or moves source into folder, following the device's job with a progress line.
void RunJob(Session& session, Op op, const std::string& source, const std::string& folder,
            bool force) {
  Progress progress(Progress::Kind::Percent,
                    std::string(op == Op::Copy ? "copy " : "move ") + Name(source));
  const std::wstring from = Wide(source), to = Wide(folder);
  const int mode = force ? 1 : 0;
  const auto started = Session::Clock::now();
  // With a progress callback the call waits for the job to end; without one it would return
  // as soon as the device took the job.
  const int result = op == Op::Copy
                         ? session.Files().CopyFile(from.c_str(), to.c_str(), mode, CancelFlag(),
                                                    &progress, &Progress::Report)
                         : session.Files().MoveFile(from.c_str(), to.c_str(), mode, CancelFlag(),
                                                    &progress, &Progress::Report);
  progress.Finish();
  if (result == VESK_HTTP_CANCELLED) {
    throw Failure(kInterrupted, std::string("interrupted: the device may still finish the ") +
                                    (op == Op::Copy ? "copy" : "move") + " of " + source);
  }
  if (result != VESK_HTTP_SUCCESS) throw session.Fail(result, op, source, started);
}

// Runs show for each of several device paths, each failure reported on its own (Items). With
// --json, what show appends to `all` goes out as one array at the end; otherwise show prints,
// after a blank line unless `first` (no path before it was shown).
int ForEachPath(
    const Globals& globals, const std::vector<std::string>& paths,
    const std::function<void(const std::string& path, bool first, Json::Value& all)>& show) {
  Items items;
  Json::Value all(Json::arrayValue);
  bool first = true;
  for (const std::string& given : paths) {
    items.Run([&] {
      show(DevicePath(given), first, all);
      first = false;
    });
  }
  if (globals.json) PrintJson(all);
  return items.Status();
}

// The destination folder of cp and mv, when it is one.
bool IsFolder(Session& session, const std::string& path) {
  if (path == "/") return false;  // nothing is copied or moved to the top
  const auto status = StatusOf(session, path);
  return status && status->IsDir();
}

}  // namespace

int RunShares(const Globals& globals) {
  ListOptions options;
  options.paths = {"/"};
  return RunList(globals, options);
}

int RunList(const Globals& globals, const ListOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const std::vector<std::string> paths =
      options.paths.empty() ? std::vector<std::string>{"/"} : options.paths;
  return ForEachPath(globals, paths, [&](const std::string& path, bool first, Json::Value& all) {
    std::vector<Row> rows = ListFolder(*session, path);
    if (options.longFormat) {
      for (Row& row : rows) {
        if (!row.status) row.status = StatusOf(*session, Join(row.folder, row.name));
      }
    }
    if (globals.json) {
      for (const Row& row : rows) all.append(RowJson(row));
      return;
    }
    if (paths.size() > 1) {
      if (!first) PrintLine("");
      PrintLine(path + ":");
    }
    PrintRows(rows, options);
  });
}

int RunStat(const Globals& globals, const std::vector<std::string>& paths) {
  auto session = Connect(globals, Session::kFiles);
  return ForEachPath(globals, paths, [&](const std::string& path, bool first, Json::Value& all) {
    const auto status = StatusOf(*session, path);
    if (!status) throw Failure(kFailed, path + ": no such file or folder");
    const Json::Value value = StatusJson(path, *status);
    if (globals.json) {
      all.append(value);
      return;
    }
    if (!first) PrintLine("");
    Table table;
    table.Add({"path:", path});
    table.Add({"type:", value["type"].asString()});
    table.Add({"size:", std::to_string(status->GetFileSize()) + " (" +
                            HumanBytes(status->GetFileSize()) + ")"});
    table.Add({"modified:", value["modified"].asString()});
    table.Add({"permission:", value["permission"].asString()});
    table.Add({"owner:", value["owner"].asString()});
    table.Add({"group:", value["group"].asString()});
    table.Add({"compressed:", status->IsCommpressed() ? "yes" : "no"});
    table.Print();
  });
}

int RunFind(const Globals& globals, const FindOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const std::string folder = DevicePath(options.folder);
  // The device searches below a share root; "/" searches each of them.
  std::vector<std::string> folders;
  if (folder == "/") {
    for (const Row& share : ListFolder(*session, folder)) folders.push_back("/" + share.name);
  } else {
    folders.push_back(folder);
  }
  Json::Value all(Json::arrayValue);
  for (const std::string& searched : folders) {
    std::vector<CVeskHttpFileEntry> hits;
    session->Run(Op::Search, searched, [&] {
      return session->Files().SearchFile(Wide(searched).c_str(), Wide(options.keyword).c_str(),
                                         options.limit, CancelFlag(), &hits);
    });
    for (const auto& hit : hits) {
      const std::string name = Utf8(hit.GetFileName());
      if (globals.json) {
        Json::Value value = ItemJson(name, hit.IsDir() != 0, hit.GetFileSize());
        value["searched"] = searched;
        all.append(value);
      } else {
        PrintLine(Shown(name, hit.IsDir() != 0));
      }
    }
  }
  if (globals.json) PrintJson(all);
  return kOk;
}

int RunMakeFolder(const Globals& globals, const MakeFolderOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  Items items;
  for (const std::string& given : options.paths) {
    items.Run([&] {
      const std::string path = DevicePath(given);
      if (path == "/") throw Failure(kFailed, "/: already exists");
      const auto create = [&](const std::string& folder, bool existingIsFine) {
        const auto started = Session::Clock::now();
        const int result = session->Files().CreateFolder(Wide(Parent(folder)).c_str(),
                                                         Wide(Name(folder)).c_str(), CancelFlag());
        if (result == VESK_HTTP_DEVICE_STATUS_2 && existingIsFine) return;
        if (result != VESK_HTTP_SUCCESS) {
          throw session->Fail(result, Op::CreateFolder, folder, started);
        }
      };
      if (!options.parents) {
        create(path, false);
        return;
      }
      // Every folder below the share root that is not there yet; the device does not create
      // share roots.
      std::size_t slash = path.find('/', 1);
      if (slash == std::string::npos && !IsFolder(*session, path)) {
        throw Failure(kFailed, path + ": no such share root");
      }
      while (slash != std::string::npos) {
        slash = path.find('/', slash + 1);
        create(path.substr(0, slash == std::string::npos ? path.size() : slash), true);
      }
    });
  }
  return items.Status();
}

int RunMove(const Globals& globals, const CopyMoveOptions& options) {
  if (options.paths.size() < 2) throw Failure(kUsage, "mv: give one or more items, then where to");
  auto session = Connect(globals, Session::kFiles);
  const std::string destination = DevicePath(options.paths.back());
  const bool intoFolder = IsFolder(*session, destination);
  const std::size_t count = options.paths.size() - 1;
  if (!intoFolder && count > 1) throw Failure(kFailed, destination + ": no such folder");
  Items items;
  for (std::size_t i = 0; i < count; ++i) {
    items.Run([&] {
      const std::string source = DevicePath(options.paths[i]);
      if (Parent(source).empty())
        throw Failure(kFailed, source + ": share roots stay where they are");
      if (!StatusOf(*session, source)) throw Failure(kFailed, source + ": no such file or folder");
      const std::string folder = intoFolder ? destination : Parent(destination);
      const std::string name = intoFolder ? Name(source) : Name(destination);
      if (folder.empty()) throw Failure(kFailed, destination + ": nothing moves to the top");
      const std::string target = Join(folder, name);
      if (target == source) throw Failure(kFailed, source + ": is already there");
      if (folder == Parent(source)) {
        // Within its folder a move is a rename; the device renames onto nothing that exists.
        if (StatusOf(*session, target)) throw Failure(kFailed, target + ": already exists");
        session->Run(Op::Rename, target, [&] {
          return session->Files().RenameFile(Wide(source).c_str(), Wide(name).c_str(),
                                             CancelFlag());
        });
        return;
      }
      const std::string moved = Join(folder, Name(source));
      if (name != Name(source)) {
        // Moved under its own name first, then renamed there.
        if (StatusOf(*session, moved)) {
          throw Failure(kFailed, moved + ": already exists, so " + source +
                                     " cannot be moved and renamed in one go");
        }
        if (StatusOf(*session, target)) throw Failure(kFailed, target + ": already exists");
      } else {
        CheckTarget(*session, target, options.force);
      }
      RunJob(*session, Op::Move, source, folder, options.force);
      if (name != Name(source)) {
        session->Run(Op::Rename, target, [&] {
          return session->Files().RenameFile(Wide(moved).c_str(), Wide(name).c_str(), CancelFlag());
        });
      }
    });
  }
  return items.Status();
}

int RunCopy(const Globals& globals, const CopyMoveOptions& options) {
  if (options.paths.size() < 2) throw Failure(kUsage, "cp: give one or more items, then a folder");
  auto session = Connect(globals, Session::kFiles);
  const std::string folder = DevicePath(options.paths.back());
  if (!IsFolder(*session, folder)) throw Failure(kFailed, folder + ": no such folder");
  Items items;
  for (std::size_t i = 0; i + 1 < options.paths.size(); ++i) {
    items.Run([&] {
      const std::string source = DevicePath(options.paths[i]);
      if (!StatusOf(*session, source)) throw Failure(kFailed, source + ": no such file or folder");
      RunJob(*session, Op::Copy, source, folder, options.force);
    });
  }
  return items.Status();
}

int RunRemove(const Globals& globals, const RemoveOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  Items items;
  for (const std::string& given : options.paths) {
    items.Run([&] {
      const std::string path = DevicePath(given);
      const auto status = path == "/" ? std::nullopt : StatusOf(*session, path);
      if (!status) throw Failure(kFailed, path + ": no such file or folder");
      if (status->IsDir() && !options.recursive) {
        throw Failure(kFailed, path + ": is a folder (-r deletes it with everything in it)");
      }
      session->Run(Op::Delete, path,
                   [&] { return session->Files().DeleteFile(Wide(path).c_str(), CancelFlag()); });
    });
  }
  return items.Status();
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

}  // namespace vesk::cli
