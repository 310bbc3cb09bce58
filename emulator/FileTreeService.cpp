// The file service's tree functions: browse, read, search and change the tree under --root
// (FileTree.h tells how paths are resolved inside it), and copy and move items as background
// jobs. Each is utilRequest.cgi?func=NAME&sid=S&...; the POST ones carry their fields in an
// application/x-www-form-urlencoded body. Every query and form value is percent-decoded once.
// Any live sid is taken: a file session, or the system session a login through the system
// works with.
//
// Requests and replies (JSON):
//   GET get_tree node=share_root: [{"id":"/Public","text":"Public","iconCls":"folder"},...],
//       the share roots; node=PATH: the folders in PATH, alike.
//   GET get_list path, start, limit, dir (ASC or DESC), sort=filename, list_mode=all:
//       {"total":T,"datas":[ENTRY,...]}, T the folder's entry count and datas the page of
//       entries from start, at most limit of them (all without limit).
//   GET stat path, file_name, file_total=1: {"total":1,"datas":[ENTRY]}; with settime=1 and
//       mtime=N (seconds since 1970, at least 1) the item's modification time is set first.
//   GET search source_path, keyword, start, limit, dir, sort: as get_list, over the items at
//       any depth under source_path whose names hold keyword (ASCII letters without case).
//   GET createdir dest_path, dest_folder; POST delete path, file_name, file_total=1 (a file or
//       a whole folder); POST rename path, source_name, dest_name: {"status":1,"success":"true"}.
//   POST copy and move: source_path, source_file, source_total=1, dest_path, mode:
//       {"status":1,"success":"true","pid":P}; the job runs on (a throttled move copies and
//       removes instead of renaming, see EmulatorOptions::jobBytesPerSecond).
//   GET get_copy_status, get_move_status pid: {"status":1,"filename":F,"percent":P}, F the
//       item being worked on, P rising to 100, which it reaches when the job is done.
// ENTRY: {"filename","isfolder" (0 or 1),"filesize" (bytes, a 64-bit integer; 0 for a folder),
// "epochmt" (the modification time in seconds since 1970, at least 1, since a reader skips
// entries whose time is 0),"mt" ("YYYY/MM/DD hh:mm:ss", UTC),"privilege" (the permission
// digits: 755 for rwxr-xr-x),"owner","group" (names, or the numeric id without one),
// "iscommpressed" (1 for an archive by its extension)}. Entries are sorted by filename: ASCII
// letters without case, ties by their bytes; DESC reverses that.
//
// mode: 0 refuses an existing target; 1 overwrites it (files are replaced, folders merged).
//
// Refusals, with the statuses of FileTree.h:
//   2 the target exists (createdir, rename, and copy and move with mode 0);
//   3 the sid names no live session;
//   4 no such item or folder, or no permission: a file-system refusal, or a change at the top
//     of the tree (share roots are not created, deleted, renamed or moved, and nothing is
//     copied or moved to the top);
//   5 a name or path the device does not take: an empty name, one that is "." or "..", or
//     holds "/", "\" or NUL; a path with a "." or ".." component, "\" or NUL; a path or a
//     symlink that leads out of the root;
//   6 a copy or move whose target is the source, lies inside it or holds it.
// Each reply carries them as its reader takes them:
//   get_tree, get_list, stat, search: {"status":S};
//   createdir, delete, rename, copy: {"status":S,"success":X}, X "true" for 2 and 4, outcomes
//     of a request the device took, and "false" for a request it did not take;
//   move, get_copy_status, get_move_status: {"status":0,"error":S} (move adds
//     "success":"false"), since their readers take any status but 0 as going on. A job that
//     failed answers {"status":0,"filename":F,"percent":P,"error":S}; an unknown pid, or the
//     pid of the other kind of job, 4.
// Malformed requests (a missing field, a bad number, mode not 0 or 1, dir not ASC or DESC, sort
// not filename, a total other than 1) get 400; a job started while 16 run gets 503.
#include <grp.h>
#include <pwd.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/FileTree.h"
#include "emulator/Replies.h"
#include "emulator/Router.h"
#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

namespace fs = std::filesystem;

// The last second of the year 9999: times up to it have a four-digit year.
constexpr unsigned long long kMaxTime = 253402300799ULL;
constexpr unsigned long long kMaxIndex = INT_MAX;

// How a reply carries a refusal (see the top of this file).
enum class Shape { Listing, Change, MoveStart, JobStatus };

httpd::Response Refused(Shape shape, long long status) {
  switch (shape) {
    case Shape::Listing:
      return JsonReply(JsonObject().Add("status", status));
    case Shape::Change:
      return JsonReply(
          JsonObject()
              .Add("status", status)
              .Add("success", status == kExists || status == kMissing ? "true" : "false"));
    case Shape::MoveStart:
      return JsonReply(
          JsonObject().Add("status", 0LL).Add("success", "false").Add("error", status));
    case Shape::JobStatus:
      break;
  }
  return JsonReply(JsonObject().Add("status", 0LL).Add("error", status));
}

httpd::Response Changed() {
  return JsonReply(JsonObject().Add("status", kDone).Add("success", "true"));
}

// --- Request fields -------------------------------------------------------------------------

// Which part of a sorted listing a request asks for.
struct Page {
  std::size_t start = 0;
  std::optional<std::size_t> limit;  // none: all the rest
  bool descending = false;
};

Page ReadPage(const FieldSet& fields) {
  Page page;
  if (fields.Find("start")) page.start = Number(fields, "start", kMaxIndex);
  if (fields.Find("limit")) page.limit = Number(fields, "limit", kMaxIndex);
  if (const std::string* dir = fields.Find("dir")) {
    const std::string order = AsciiLower(*dir);
    if (order != "asc" && order != "desc") throw BadRequest("dir is not ASC or DESC");
    page.descending = order == "desc";
  }
  Expect(fields, "sort", "filename");
  return page;
}

// --- Entries --------------------------------------------------------------------------------

// The items in name order: ASCII letters without case, ties broken by the bytes so that the
// order is total; descending reverses it. Each name is folded once, into one text shared by
// all, and the sort moves small keys instead of the items.
std::vector<const TreeItem*> SortByName(const std::vector<TreeItem>& items, bool descending) {
  std::size_t bytes = 0;
  for (const TreeItem& item : items) bytes += item.name.size();
  std::string names;
  names.reserve(bytes);
  for (const TreeItem& item : items) names += item.name;
  const std::string folded = AsciiLower(names);

  struct Key {
    std::string_view folded;
    const TreeItem* item;
  };
  std::vector<Key> keys;
  keys.reserve(items.size());
  std::size_t offset = 0;
  for (const TreeItem& item : items) {
    keys.push_back({std::string_view(folded).substr(offset, item.name.size()), &item});
    offset += item.name.size();
  }
  const auto before = [](const Key& a, const Key& b) {
    const int order = a.folded.compare(b.folded);
    return order != 0 ? order < 0 : a.item->name < b.item->name;
  };
  std::sort(keys.begin(), keys.end(), [descending, &before](const Key& a, const Key& b) {
    return descending ? before(b, a) : before(a, b);
  });

  std::vector<const TreeItem*> sorted;
  sorted.reserve(keys.size());
  for (const Key& key : keys) sorted.push_back(key.item);
  return sorted;
}

// The name of a user or group id by the reentrant lookup, with a buffer that grows as the
// lookup asks; the id in decimal when it has no name.
template <typename Entry, typename Id, typename Lookup>
std::string IdName(Id id, Lookup lookup, char* Entry::*name) {
  constexpr std::size_t kMaxBuffer = 1 << 20;
  std::vector<char> buffer(1024);
  for (;;) {
    Entry entry{};
    Entry* found = nullptr;
    const int error = lookup(id, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kMaxBuffer) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error == 0 && found && found->*name) return found->*name;
    return std::to_string(id);
  }
}

// Owner and group names, each looked up once per reply.
class IdNames {
 public:
  const std::string& User(uid_t uid) {
    auto [it, added] = users_.try_emplace(uid);
    if (added) it->second = IdName<passwd>(uid, &getpwuid_r, &passwd::pw_name);
    return it->second;
  }
  const std::string& Group(gid_t gid) {
    auto [it, added] = groups_.try_emplace(gid);
    if (added) it->second = IdName<group>(gid, &getgrgid_r, &group::gr_name);
    return it->second;
  }

 private:
  std::map<uid_t, std::string> users_;
  std::map<gid_t, std::string> groups_;
};

std::string TimeText(time_t seconds) {
  tm parts{};
  char text[32] = "";
  if (gmtime_r(&seconds, &parts)) strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
  return text;
}

// An archive by its extension, whatever the case of its letters.
bool IsArchive(std::string_view name) {
  static constexpr std::string_view kExtensions[] = {".zip", ".7z",  ".rar", ".tar", ".gz",
                                                     ".tgz", ".bz2", ".xz",  ".tbz2"};
  return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&](std::string_view ext) {
    if (name.size() <= ext.size()) return false;
    const std::string_view tail = name.substr(name.size() - ext.size());
    return std::equal(tail.begin(), tail.end(), ext.begin(), [](char c, char lower) {
      return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == lower;
    });
  });
}

// Writes ENTRY objects. Owner and group names are looked up once per reply, and a time is
// formatted once for a run of entries that share it (the files of a folder often do).
class EntryWriter {
 public:
  void Write(JsonWriter& out, const TreeItem& item) {
    const struct stat& info = item.info;
    const unsigned mode = info.st_mode;
    const long long privilege = ((mode >> 6) & 7) * 100 + ((mode >> 3) & 7) * 10 + (mode & 7);
    out.OpenObject()
        .Add("filename", item.name)
        .Add("isfolder", item.Folder() ? 1LL : 0LL)
        .Add("filesize", item.Folder() ? 0LL : static_cast<long long>(info.st_size))
        .Add("group", names_.Group(info.st_gid))
        .Add("owner", names_.User(info.st_uid))
        .Add("iscommpressed", !item.Folder() && IsArchive(item.name) ? 1LL : 0LL)
        .Add("privilege", privilege)
        .Add("mt", Time(info.st_mtime))
        .Add("epochmt", std::max<long long>(1, info.st_mtime))
        .Close();
  }

 private:
  const std::string& Time(time_t seconds) {
    if (!time_ || *time_ != seconds) {
      time_ = seconds;
      timeText_ = TimeText(seconds);
    }
    return timeText_;
  }

  IdNames names_;
  std::optional<time_t> time_;
  std::string timeText_;
};

// The room a page of entries takes, about: the names and the members around each.
std::size_t PageBytes(const std::vector<const TreeItem*>& sorted, std::size_t begin,
                      std::size_t end) {
  constexpr std::size_t kEntryBytes = 192;  // an entry's members but its name, and some slack
  std::size_t bytes = 64;
  for (std::size_t i = begin; i < end; ++i) bytes += kEntryBytes + sorted[i]->name.size();
  return bytes;
}

// {"total":T,"datas":[ENTRY,...]}: the page of the sorted items, written straight into the
// reply's text.
httpd::Response Listing(const std::vector<TreeItem>& items, const Page& page) {
  const std::vector<const TreeItem*> sorted = SortByName(items, page.descending);
  const std::size_t begin = std::min(page.start, sorted.size());
  const std::size_t end = std::min(sorted.size(), begin + page.limit.value_or(sorted.size()));
  JsonWriter reply;
  reply.Reserve(PageBytes(sorted, begin, end));
  reply.OpenObject().Add("total", static_cast<long long>(sorted.size())).OpenArray("datas");
  EntryWriter entries;
  for (std::size_t i = begin; i < end; ++i) entries.Write(reply, *sorted[i]);
  return JsonReply(reply);
}

// --- Endpoints ------------------------------------------------------------------------------

httpd::Response GetTree(const Call& call, const FileTree& tree) {
  const std::string& node = call.query.Require("node");
  std::vector<TreeItem> folders;
  std::string parent;  // the node's path, for the ids of its folders
  if (node == "share_root") {
    folders = tree.Shares();
  } else {
    for (TreeItem& item : tree.List(tree.Folder(node, Top::Refuse))) {
      if (item.Folder()) folders.push_back(std::move(item));
    }
    parent = node.substr(0, node.find_last_not_of('/') + 1);
    if (!parent.empty() && parent.front() != '/') parent.insert(parent.begin(), '/');
  }
  JsonArray nodes;
  for (const TreeItem* folder : SortByName(folders, false)) {
    nodes.Add(JsonObject()
                  .Add("id", parent + "/" + folder->name)
                  .Add("text", folder->name)
                  .Add("iconCls", "folder"));
  }
  return JsonReply(nodes);
}

httpd::Response GetList(const Call& call, const FileTree& tree) {
  const std::string& path = call.query.Require("path");
  Expect(call.query, "list_mode", "all");
  const Page page = ReadPage(call.query);
  return Listing(tree.List(tree.Folder(path, Top::Refuse)), page);
}

httpd::Response Stat(const Call& call, const FileTree& tree) {
  const std::string& path = call.query.Require("path");
  const std::string& name = call.query.Require("file_name");
  Expect(call.query, "file_total", "1");
  std::optional<long long> mtime;
  if (call.query.Find("settime")) {
    Expect(call.query, "settime", "1");
    mtime = static_cast<long long>(Number(call.query, "mtime", kMaxTime));
    if (*mtime == 0) throw BadRequest("mtime is 0");
  }
  TreeItem item = tree.Item(tree.Folder(path, Top::Allow), name);
  if (mtime) tree.SetModifyTime(item, *mtime);
  JsonWriter reply;
  reply.OpenObject().Add("total", 1LL).OpenArray("datas");
  EntryWriter().Write(reply, item);
  return JsonReply(reply);
}

httpd::Response Search(const Call& call, const FileTree& tree) {
  const std::string& keyword = call.query.Require("keyword");
  const std::string& path = call.query.Require("source_path");
  const Page page = ReadPage(call.query);
  return Listing(tree.Search(tree.Folder(path, Top::Refuse), keyword), page);
}

httpd::Response CreateDir(const Call& call, const FileTree& tree) {
  const std::string& name = call.query.Require("dest_folder");
  const std::string& path = call.query.Require("dest_path");
  CheckName(name);
  tree.CreateFolder(tree.Folder(path, Top::Refuse), name);
  return Changed();
}

httpd::Response Delete(const Call& call, const FileTree& tree) {
  const FieldSet form = call.Form();
  const std::string& name = form.Require("file_name");
  const std::string& path = form.Require("path");
  Expect(form, "file_total", "1");
  tree.Remove(tree.Item(tree.Folder(path, Top::Refuse), name));
  return Changed();
}

httpd::Response Rename(const Call& call, const FileTree& tree) {
  const FieldSet form = call.Form();
  const std::string& path = form.Require("path");
  const std::string& name = form.Require("source_name");
  const std::string& newName = form.Require("dest_name");
  CheckName(newName);
  tree.Rename(tree.Item(tree.Folder(path, Top::Refuse), name), newName);
  return Changed();
}

// What a copy or a move is to do, checked before its job starts.
struct Transfer {
  TreeItem item;
  fs::path target;
  bool overwrite = false;
};

Transfer ReadTransfer(const Call& call, const FileTree& tree, Top sourceTop) {
  const FieldSet form = call.Form();
  const std::string& name = form.Require("source_file");
  const std::string& sourcePath = form.Require("source_path");
  const std::string& destPath = form.Require("dest_path");
  const std::string& mode = form.Require("mode");
  Expect(form, "source_total", "1");
  if (mode != "0" && mode != "1") throw BadRequest("mode is not 0 or 1");
  Transfer transfer;
  transfer.overwrite = mode == "1";
  transfer.item = tree.Item(tree.Folder(sourcePath, sourceTop), name);
  transfer.target =
      tree.TargetOf(transfer.item, tree.Folder(destPath, Top::Refuse), transfer.overwrite);
  return transfer;
}

httpd::Response Started(long long pid) {
  if (pid == 0) throw HttpError(503, "too many jobs running");
  return JsonReply(JsonObject().Add("status", kDone).Add("success", "true").Add("pid", pid));
}

httpd::Response CopyStart(const Call& call, const FileTree& tree) {
  // A share root may be copied, not moved.
  Transfer transfer = ReadTransfer(call, tree, Top::Allow);
  const std::string name = transfer.item.name;
  return Started(call.device.jobs.Start(JobKind::Copy, name, [transfer](Progress& progress) {
    FileTree::Copy(transfer.item, transfer.target, transfer.overwrite, progress);
  }));
}

httpd::Response MoveStart(const Call& call, const FileTree& tree) {
  Transfer transfer = ReadTransfer(call, tree, Top::Refuse);
  const std::string name = transfer.item.name;
  // A throttled device copies and removes, so that a move's progress can be followed too.
  const bool renameAllowed = !call.device.jobs.Throttled();
  return Started(
      call.device.jobs.Start(JobKind::Move, name, [transfer, renameAllowed](Progress& progress) {
        FileTree::Move(transfer.item, transfer.target, transfer.overwrite, renameAllowed, progress);
      }));
}

httpd::Response JobStatus(const Call& call, JobKind kind) {
  const auto pid = static_cast<long long>(Number(call.query, "pid", LLONG_MAX));
  const std::optional<JobSnapshot> job = call.device.jobs.Find(kind, pid);
  if (!job) throw Refusal(kMissing);
  JsonObject reply;
  reply.Add("status", job->error ? 0LL : kDone)
      .Add("filename", job->filename)
      .Add("percent", static_cast<long long>(job->percent));
  if (job->error) reply.Add("error", job->error);
  return JsonReply(reply);
}

httpd::Response CopyStatus(const Call& call, const FileTree&) {
  return JobStatus(call, JobKind::Copy);
}

httpd::Response MoveStatus(const Call& call, const FileTree&) {
  return JobStatus(call, JobKind::Move);
}

// The route of one function, whose refusals become the reply of the function's shape.
Route TreeRoute(const char* func, const char* method, Shape shape, TreeEndpoint endpoint) {
  return FileTreeRoute(func, method, endpoint,
                       [shape](long long status) { return Refused(shape, status); });
}

}  // namespace

std::vector<Route> FileTreeRoutes() {
  return {
      TreeRoute("get_tree", "GET", Shape::Listing, &GetTree),
      TreeRoute("get_list", "GET", Shape::Listing, &GetList),
      TreeRoute("stat", "GET", Shape::Listing, &Stat),
      TreeRoute("search", "GET", Shape::Listing, &Search),
      TreeRoute("createdir", "GET", Shape::Change, &CreateDir),
      TreeRoute("delete", "POST", Shape::Change, &Delete),
      TreeRoute("rename", "POST", Shape::Change, &Rename),
      TreeRoute("copy", "POST", Shape::Change, &CopyStart),
      TreeRoute("move", "POST", Shape::MoveStart, &MoveStart),
      TreeRoute("get_copy_status", "GET", Shape::JobStatus, &CopyStatus),
      TreeRoute("get_move_status", "GET", Shape::JobStatus, &MoveStatus),
  };
}

}  // namespace vesk::emulator
