// The file service's archive functions: compress items into a zip or 7z archive and extract an
// archive, both as background jobs whose progress can be followed and which can be cancelled,
// and list an archive's entries (Archive.h tells how archives are read and written). Each is
// utilRequest.cgi?func=NAME&sid=S&...; compress and extract carry their fields in an
// application/x-www-form-urlencoded body, where lists of names are the field repeated, one
// name a field. Every query and form value is percent-decoded once. Paths are resolved inside
// the root as FileTree.h tells.
//
// Requests and replies (JSON):
//   POST compress: compress_name, type (zip or 7z), level (normal, large or fast), pwd,
//       encryipt (AES256 or ZipCrypto), path, total, mode (1 to 4), compress_file (total of
//       them): {"status":1,"success":"true","pid":P}. The items compress_file of the folder
//       path (folders with all they hold) go into the archive path/compress_name, which gets
//       the type's extension (".zip", ".7z") when its name does not end with it. With pwd, a
//       zip archive is encrypted by encryipt; 7z archives cannot be encrypted here and a
//       password for one is refused. mode: 1 a new archive replaces an existing one; 2 an
//       existing archive is refused (2); 3 the items are added to an existing archive (which
//       is read with pwd), replacing entries of the same path; 4 as 3, but an item replaces
//       an entry only when it is newer. Modes 3 and 4 make a new archive when there is none.
//   GET get_extract_list: extract_file (the archive), start, limit, sort=filename, dir (ASC
//       or DESC), code_page: {"total":T,"datas":[{"filename","isfolder","filesize",
//       "compress_size","mt"},...]}: the page of the archive's entries sorted by their paths
//       (as get_list sorts names), folders implied by entry paths included. code_page names
//       the character set of zip entry names not marked as UTF-8 (UTF-8 by default).
//   POST extract: extract_file, dest_path, pwd, mode (extract_all or extract_part), overwrite
//       (0 or 1), path_mode (full or none), code_page, part_total, part_file (part_total of
//       them, entry paths as get_extract_list gives them; a folder takes all it holds):
//       {"status":1,"success":"true","pid":P}. path_mode full keeps the archive's folders;
//       none puts every file and link straight into dest_path (of entries that end up with
//       the same name, the last one in the archive stays). overwrite=0 refuses (2) an
//       extraction that would replace any existing file; overwrite=1 replaces files and
//       merges into existing folders; a folder is never replaced by a file.
//   GET get_compress_status, get_extract_status pid: {"status":6,"percent":P,"filename":F}
//       while the job runs, {"status":1,"percent":100,"filename":F} once it is done, and
//       {"status":0,"percent":P,"error":S} when it failed ({"status":0,"percent":P,
//       "cancelled":1} when it was cancelled): a reader follows the job while the status is
//       6 and stops at 0. Ended jobs stay known until some 256 newer ones have started.
//   GET cancel_compress, cancel_extract pid: {"status":1} once the job has stopped and
//       removed what it wrote (it is waited for up to 30 s); a job that has already ended stays
//       as it ended.
// ENTRY sizes are numbers up to 2^31-1 and decimal strings beyond, which readers that take
// numbers as 32-bit integers read in full; "mt" is "YYYY/MM/DD hh:mm:ss", UTC.
//
// Refusals, with the statuses of FileTree.h:
//   2 the archive exists (compress mode 2, or a folder of its name); an extraction that would
//     replace an existing file without overwrite, or put a file where a folder is;
//   3 the sid names no live session;
//   4 a missing folder, archive or item, an empty compress_file list, a part_file that names
//     no entry, an unknown pid (status queries and cancels), or a job that failed on the
//     file system;
//   5 a name or path the device does not take (as for the file-tree functions), a type,
//     level, encryipt, mode, path_mode or code_page it does not know, a password for a 7z
//     archive; a file that is not an archive or cannot be read, a wrong or missing password,
//     an entry whose name is absolute or holds ".." or "\" (selected for extraction).
// Each reply carries them as its reader takes them: compress, extract, get_extract_list,
// cancel_*: {"status":S}; get_*_status: {"status":0,"error":S}.
// Malformed requests (a missing field, a bad number, total or part_total not the number of
// names, overwrite not 0 or 1, sort not filename, dir not ASC or DESC) get 400; a job started
// while 16 run gets 503.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "emulator/Archive.h"
#include "emulator/FileTree.h"
#include "emulator/Replies.h"
#include "emulator/Router.h"
#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

namespace fs = std::filesystem;

constexpr unsigned long long kMaxIndex = INT_MAX;
constexpr long long kRunning = 6;
constexpr long long kMaxNumber = INT_MAX;  // larger sizes are sent as decimal strings
// How long a cancel waits for its job to stop and clean up.
constexpr std::chrono::seconds kCancelWait(30);

// How a reply carries a refusal (see the top of this file).
enum class Shape { Plain, JobStatus };

httpd::Response Refused(Shape shape, long long status) {
  if (shape == Shape::JobStatus) {
    return JsonReply(JsonObject().Add("status", 0LL).Add("error", status));
  }
  return JsonReply(JsonObject().Add("status", status));
}

httpd::Response Started(long long pid) {
  if (pid == 0) throw HttpError(503, "too many jobs running");
  return JsonReply(JsonObject().Add("status", kDone).Add("success", "true").Add("pid", pid));
}

std::string TimeText(long long seconds) {
  const time_t time = static_cast<time_t>(seconds);
  tm parts{};
  char text[32] = "";
  if (gmtime_r(&time, &parts)) strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
  return text;
}

JsonObject& AddSize(JsonObject& object, std::string_view name, std::uint64_t size) {
  if (size <= static_cast<std::uint64_t>(kMaxNumber)) {
    return object.Add(name, static_cast<long long>(size));
  }
  return object.Add(name, std::to_string(size));
}

// ASCII letters without case, ties broken by the bytes, as listings sort names.
bool NameBefore(const std::string& a, const std::string& b) {
  const std::string foldedA = AsciiLower(a), foldedB = AsciiLower(b);
  return foldedA != foldedB ? foldedA < foldedB : a < b;
}

// The value of one of a few words (ASCII letters without case); Refusal(kNotAllowed) for any
// other, the empty one included.
template <typename T>
T Word(const std::string& given, std::initializer_list<std::pair<const char*, T>> words) {
  const std::string folded = AsciiLower(given);
  for (const auto& [word, value] : words) {
    if (folded == AsciiLower(word)) return value;
  }
  throw Refusal(kNotAllowed);
}

std::string ValueOf(const FieldSet& fields, std::string_view name) {
  const std::string* value = fields.Find(name);
  return value ? *value : std::string();
}

// The names of a repeated field, which must come as many times as the count field says.
std::vector<std::string> Names(const FieldSet& form, std::string_view field,
                               std::string_view countField) {
  std::vector<std::string> names = form.All(field);
  if (Number(form, countField, kMaxIndex) != names.size()) {
    throw BadRequest(std::string(countField) + " is not the number of " + std::string(field));
  }
  return names;
}

// The file an archive path names, resolved inside the root.
TreeItem ArchiveItem(const FileTree& tree, const std::string& devicePath) {
  const std::size_t slash = devicePath.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : devicePath.substr(0, slash);
  const std::string name = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  TreeItem item = tree.Item(tree.Folder(folder, Top::Refuse), name);
  if (item.Folder()) throw Refusal(kNotAllowed);  // not an archive
  return item;
}

// --- Endpoints ------------------------------------------------------------------------------

httpd::Response CompressStart(const Call& call, const FileTree& tree) {
  const FieldSet form = call.Form();
  const std::string& path = form.Require("path");
  std::string archiveName = form.Require("compress_name");
  const std::vector<std::string> names = Names(form, "compress_file", "total");
  CompressJob job;
  job.format = Word<ArchiveFormat>(form.Require("type"),
                                   {{"zip", ArchiveFormat::Zip}, {"7z", ArchiveFormat::SevenZip}});
  job.level = Word<ArchiveLevel>(form.Require("level"), {{"normal", ArchiveLevel::Normal},
                                                         {"large", ArchiveLevel::Large},
                                                         {"fast", ArchiveLevel::Fast}});
  job.mode = Word<UpdateMode>(form.Require("mode"), {{"1", UpdateMode::Replace},
                                                     {"2", UpdateMode::Create},
                                                     {"3", UpdateMode::Add},
                                                     {"4", UpdateMode::Update}});
  job.password = ValueOf(form, "pwd");
  const std::string encryption = ValueOf(form, "encryipt");
  const ZipEncryption method =
      encryption.empty() && job.password.empty()
          ? ZipEncryption::None
          : Word<ZipEncryption>(encryption, {{"AES256", ZipEncryption::Aes256},
                                             {"ZipCrypto", ZipEncryption::ZipCrypto}});
  if (!job.password.empty()) {
    // A password the archive would not be encrypted with is refused, not dropped.
    if (job.format != ArchiveFormat::Zip) throw Refusal(kNotAllowed);
    job.encryption = method;
  }
  CheckName(archiveName);
  const std::string extension = job.format == ArchiveFormat::Zip ? ".zip" : ".7z";
  if (!AsciiLower(archiveName).ends_with(extension)) archiveName += extension;
  CheckName(archiveName);
  job.archiveName = archiveName;

  job.folder = tree.Folder(path, Top::Refuse);
  std::set<std::string> seen;
  for (const std::string& name : names) {
    if (seen.insert(name).second) job.items.push_back(tree.Item(job.folder, name));
  }
  if (job.items.empty()) throw Refusal(kMissing);

  struct stat existing;
  if (lstat((job.folder / archiveName).c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode) || job.mode == UpdateMode::Create) throw Refusal(kExists);
    if (job.mode == UpdateMode::Add || job.mode == UpdateMode::Update) {
      const TreeItem archive = tree.Item(job.folder, archiveName);
      if (archive.Folder()) throw Refusal(kExists);
      job.existing = archive.target;
      ListArchive({archive.target, {}, {}});  // refuses a file that is not an archive now
    }
  }
  return Started(call.device.jobs.Start(JobKind::Compress, archiveName,
                                        [job](Progress& progress) { Compress(job, progress); }));
}

httpd::Response ExtractList(const Call& call, const FileTree& tree) {
  const FieldSet& query = call.query;
  const std::size_t start = query.Find("start") ? Number(query, "start", kMaxIndex) : 0;
  const std::size_t limit = query.Find("limit") ? Number(query, "limit", kMaxIndex) : kMaxIndex;
  bool descending = false;
  if (const std::string* dir = query.Find("dir")) {
    const std::string order = AsciiLower(*dir);
    if (order != "asc" && order != "desc") throw BadRequest("dir is not ASC or DESC");
    descending = order == "desc";
  }
  Expect(query, "sort", "filename");
  const TreeItem archive = ArchiveItem(tree, query.Require("extract_file"));
  std::vector<ArchiveEntryInfo> entries =
      ListArchive({archive.target, {}, ValueOf(query, "code_page")});
  std::sort(entries.begin(), entries.end(),
            [descending](const ArchiveEntryInfo& a, const ArchiveEntryInfo& b) {
              return descending ? NameBefore(b.name, a.name) : NameBefore(a.name, b.name);
            });
  const std::size_t begin = std::min(start, entries.size());
  const std::size_t end = begin + std::min(limit, entries.size() - begin);
  JsonArray datas;
  for (std::size_t i = begin; i < end; ++i) {
    const ArchiveEntryInfo& entry = entries[i];
    JsonObject object;
    object.Add("filename", entry.name).Add("isfolder", entry.folder ? 1LL : 0LL);
    AddSize(object, "filesize", entry.size);
    AddSize(object, "compress_size", entry.packedSize);
    datas.Add(object.Add("mt", TimeText(entry.mtime)));
  }
  return JsonReply(
      JsonObject().Add("total", static_cast<long long>(entries.size())).Add("datas", datas));
}

httpd::Response ExtractStart(const Call& call, const FileTree& tree) {
  const FieldSet form = call.Form();
  const std::string& archivePath = form.Require("extract_file");
  const std::string& destPath = form.Require("dest_path");
  const std::string& overwrite = form.Require("overwrite");
  if (overwrite != "0" && overwrite != "1") throw BadRequest("overwrite is not 0 or 1");
  std::vector<std::string> parts = Names(form, "part_file", "part_total");
  const bool all =
      Word<bool>(form.Require("mode"), {{"extract_all", true}, {"extract_part", false}});
  ExtractJob job;
  job.overwrite = overwrite == "1";
  job.flatten = Word<bool>(form.Require("path_mode"), {{"none", true}, {"full", false}});
  const TreeItem archive = ArchiveItem(tree, archivePath);
  job.source = {archive.target, ValueOf(form, "pwd"), ValueOf(form, "code_page")};
  job.destination = tree.Folder(destPath, Top::Refuse);
  if (!all) {
    for (std::string& part : parts) part.erase(part.find_last_not_of('/') + 1);
    if (parts.empty()) throw Refusal(kMissing);
    job.parts = std::move(parts);
  }
  CheckExtract(job);
  return Started(call.device.jobs.Start(JobKind::Extract, archive.name,
                                        [job](Progress& progress) { Extract(job, progress); }));
}

httpd::Response JobStatus(const Call& call, JobKind kind) {
  const auto pid = static_cast<long long>(Number(call.query, "pid", LLONG_MAX));
  const std::optional<JobSnapshot> job = call.device.jobs.Find(kind, pid);
  if (!job) throw Refusal(kMissing);
  JsonObject reply;
  const bool failed = !job->running && (job->error || job->cancelled);
  reply.Add("status", job->running ? kRunning
                      : failed     ? 0LL
                                   : kDone)
      .Add("percent", static_cast<long long>(job->percent))
      .Add("filename", job->filename);
  if (job->cancelled) {
    reply.Add("cancelled", 1LL);
  } else if (failed) {
    reply.Add("error", job->error);
  }
  return JsonReply(reply);
}

httpd::Response Cancel(const Call& call, JobKind kind) {
  const auto pid = static_cast<long long>(Number(call.query, "pid", LLONG_MAX));
  if (!call.device.jobs.Cancel(kind, pid)) throw Refusal(kMissing);
  call.device.jobs.WaitFor(pid, 100, kCancelWait);
  return JsonReply(JsonObject().Add("status", kDone));
}

// The route of one function, whose refusals become the reply of the function's shape.
Route ArchiveRoute(const char* func, const char* method, Shape shape, TreeEndpoint endpoint) {
  return FileTreeRoute(func, method, endpoint,
                       [shape](long long status) { return Refused(shape, status); });
}

}  // namespace

std::vector<Route> ArchiveRoutes() {
  return {
      ArchiveRoute("compress", "POST", Shape::Plain, &CompressStart),
      ArchiveRoute(
          "get_compress_status", "GET", Shape::JobStatus,
          [](const Call& call, const FileTree&) { return JobStatus(call, JobKind::Compress); }),
      ArchiveRoute(
          "cancel_compress", "GET", Shape::Plain,
          [](const Call& call, const FileTree&) { return Cancel(call, JobKind::Compress); }),
      ArchiveRoute("get_extract_list", "GET", Shape::Plain, &ExtractList),
      ArchiveRoute("extract", "POST", Shape::Plain, &ExtractStart),
      ArchiveRoute(
          "get_extract_status", "GET", Shape::JobStatus,
          [](const Call& call, const FileTree&) { return JobStatus(call, JobKind::Extract); }),
      ArchiveRoute(
          "cancel_extract", "GET", Shape::Plain,
          [](const Call& call, const FileTree&) { return Cancel(call, JobKind::Extract); }),
  };
}

}  // namespace vesk::emulator
