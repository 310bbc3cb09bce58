#include "emulator/Archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <system_error>
#include <utility>

#include "emulator/Wire.h"
#include "httpd/HttpServer.h"

namespace vesk::emulator {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxName = NAME_MAX;
constexpr std::size_t kReadBlock = 64 * 1024;

[[noreturn]] void ThrowErrno() { throw Refusal(StatusForErrno(errno)); }

void Count(Progress& progress, std::uint64_t units) {
  if (!progress.Done(units)) throw WorkStopped();
}

using Fd = httpd::FileDescriptor;

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t step = write(fd, data, size);
    if (step < 0 && errno == EINTR) continue;
    if (step < 0) ThrowErrno();
    data += step;
    size -= static_cast<std::size_t>(step);
  }
}

// libarchive converts entry names through the calling thread's locale; while this lives, the
// thread's locale is C.UTF-8, so that names are UTF-8 in and out whatever the process's
// locale is.
class Utf8Names {
 public:
  Utf8Names() : previous_(uselocale(Locale())) {}
  ~Utf8Names() { uselocale(previous_); }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  static locale_t Locale() {
    static const locale_t locale = [] {
      const locale_t made = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
      return made ? made : LC_GLOBAL_LOCALE;
    }();
    return locale;
  }

  locale_t previous_;
};

// --- Entry names ----------------------------------------------------------------------------

using Parts = std::vector<std::string>;

std::string Join(const Parts& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "/") + part;
  return text;
}

// The components of an entry name (see Archive.h); nullopt when it is unsafe, empty for the
// archive's top.
std::optional<Parts> Components(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  Parts parts;
  while (!name.empty()) {
    const std::size_t slash = name.find('/');
    const std::string_view part = name.substr(0, slash);
    if (part == ".." || part.size() > kMaxName) return std::nullopt;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    name.remove_prefix(slash + 1);
  }
  return parts;
}

enum class Kind { Folder, File, Link, Other };

// What an entry's header tells.
struct Header {
  std::string name;            // as listed: the joined components, or the raw name if unsafe
  std::optional<Parts> parts;  // nullopt: unsafe
  Kind kind = Kind::Other;
  std::uint64_t size = 0;
  long long mtime = 0;
  unsigned perm = 0;
  std::string link;  // a link's target
  bool encrypted = false;
};

Header Describe(archive_entry* entry) {
  Header header;
  const char* name = archive_entry_pathname_utf8(entry);
  if (!name) name = archive_entry_pathname(entry);
  const std::string raw = name ? name : "";
  header.parts = Components(raw);
  if (header.parts) {
    header.name = Join(*header.parts);
  } else {
    header.name = raw.substr(0, raw.find_last_not_of('/') + 1);
  }
  if (archive_entry_hardlink(entry)) {
    header.kind = Kind::Other;
  } else {
    switch (archive_entry_filetype(entry)) {
      case AE_IFDIR:
        header.kind = Kind::Folder;
        break;
      case AE_IFREG:
        header.kind = Kind::File;
        break;
      case AE_IFLNK:
        header.kind = Kind::Link;
        break;
      default:
        header.kind = Kind::Other;
    }
  }
  if (header.kind != Kind::Folder && archive_entry_size_is_set(entry)) {
    header.size = static_cast<std::uint64_t>(std::max<la_int64_t>(0, archive_entry_size(entry)));
  }
  if (archive_entry_mtime_is_set(entry)) header.mtime = archive_entry_mtime(entry);
  header.perm = archive_entry_perm(entry);
  if (header.kind == Kind::Link) {
    const char* target = archive_entry_symlink_utf8(entry);
    if (!target) target = archive_entry_symlink(entry);
    header.link = target ? target : "";
  }
  header.encrypted = archive_entry_is_data_encrypted(entry) > 0;
  return header;
}

// --- Reading --------------------------------------------------------------------------------

// An archive open for reading. Every failure to read it is a Refusal(kNotAllowed): the file
// is not an archive, is damaged, or the password is wrong.
class Reader {
 public:
  explicit Reader(const ArchiveSource& source)
      : owner_(archive_read_new()), archive_(owner_.get()) {
    if (!archive_) throw std::bad_alloc();
    // Compressed tar archives, with the decompressors built into libarchive (never an external
    // program).
    archive_read_support_filter_bzip2(archive_);
    archive_read_support_filter_gzip(archive_);
    archive_read_support_filter_xz(archive_);
    archive_read_support_format_7zip(archive_);
    archive_read_support_format_rar(archive_);
    archive_read_support_format_rar5(archive_);
    archive_read_support_format_tar(archive_);
    archive_read_support_format_zip(archive_);
    const std::string codePage = AsciiLower(source.codePage);
    if (!codePage.empty() && codePage != "utf-8" && codePage != "utf8" &&
        archive_read_set_format_option(archive_, "zip", "hdrcharset", source.codePage.c_str()) !=
            ARCHIVE_OK) {
      Fail();
    }
    if (!source.password.empty() &&
        archive_read_add_passphrase(archive_, source.password.c_str()) != ARCHIVE_OK) {
      Fail();
    }
    if (archive_read_open_filename(archive_, source.file.c_str(), kReadBlock) != ARCHIVE_OK) {
      Fail();
    }
  }

  // The next entry's header; false at the end.
  bool Next(Header* header) {
    archive_entry* entry = nullptr;
    const int result = archive_read_next_header(archive_, &entry);
    if (result == ARCHIVE_EOF) return false;
    if (result < ARCHIVE_WARN) Fail();
    *header = Describe(entry);
    return true;
  }

  // Up to size bytes of the current entry's data; 0 at its end.
  std::size_t Read(char* buffer, std::size_t size) {
    const la_ssize_t read = archive_read_data(archive_, buffer, size);
    if (read < 0) Fail();
    return static_cast<std::size_t>(read);
  }

 private:
  [[noreturn]] void Fail() { throw Refusal(kNotAllowed); }

  struct Free {
    void operator()(archive* reader) const { archive_read_free(reader); }
  };
  std::unique_ptr<archive, Free> owner_;  // also when the constructor throws
  archive* const archive_;
};

std::vector<Header> ReadHeaders(const ArchiveSource& source) {
  Reader reader(source);
  std::vector<Header> headers;
  Header header;
  while (reader.Next(&header)) {
    if (!header.parts || !header.parts->empty()) headers.push_back(std::move(header));
  }
  return headers;
}

// --- Writing --------------------------------------------------------------------------------

// A file made in a folder under a hidden temporary name, removed when it goes unless Place
// gave it its name.
class TempFile {
 public:
  explicit TempFile(const fs::path& folder)
      : path_((folder / ".vesk-compress-XXXXXX").string()), fd_(mkostemp(path_.data(), O_CLOEXEC)) {
    if (fd_.Get() < 0) {
      path_.clear();
      ThrowErrno();
    }
  }
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int Descriptor() const { return fd_.Get(); }

  void Place(const fs::path& target, bool overwrite) {
    if (fchmod(fd_.Get(), 0644) != 0) ThrowErrno();
    FileTree::PlaceFile(path_, target, overwrite);
    path_.clear();
  }

 private:
  std::string path_;
  Fd fd_;
};

// The compression level of a format's writer for a level word (see ArchiveLevel).
int LevelOf(ArchiveFormat format, ArchiveLevel level) {
  switch (level) {
    case ArchiveLevel::Fast:
      return 1;
    case ArchiveLevel::Large:
      return format == ArchiveFormat::Zip ? 9 : 7;
    case ArchiveLevel::Normal:
      break;
  }
  return format == ArchiveFormat::Zip ? 6 : 5;
}

// An archive being written to a file descriptor.
class Writer {
 public:
  Writer(int fd, const CompressJob& job) : owner_(archive_write_new()), archive_(owner_.get()) {
    if (!archive_) throw std::bad_alloc();
    const int level = LevelOf(job.format, job.level);
    const std::string module = job.format == ArchiveFormat::Zip ? "zip" : "7zip";
    Check(job.format == ArchiveFormat::Zip ? archive_write_set_format_zip(archive_)
                                           : archive_write_set_format_7zip(archive_));
    Check(archive_write_set_format_option(archive_, module.c_str(), "compression-level",
                                          std::to_string(level).c_str()));
    if (job.encryption != ZipEncryption::None) {
      Check(archive_write_set_format_option(
          archive_, "zip", "encryption",
          job.encryption == ZipEncryption::Aes256 ? "aes256" : "zipcrypt"));
      Check(archive_write_set_passphrase(archive_, job.password.c_str()));
    }
    Check(archive_write_open_fd(archive_, fd));
  }

  void Entry(const std::string& name, Kind kind, std::uint64_t size, long long mtime, unsigned perm,
             const std::string& link) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        &archive_entry_free);
    if (!entry) throw std::bad_alloc();
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_mtime(entry.get(), mtime, 0);
    archive_entry_set_perm(entry.get(), perm & 07777);
    switch (kind) {
      case Kind::Folder:
        archive_entry_set_filetype(entry.get(), AE_IFDIR);
        break;
      case Kind::Link:
        archive_entry_set_filetype(entry.get(), AE_IFLNK);
        archive_entry_set_symlink_utf8(entry.get(), link.c_str());
        break;
      default:
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
    }
    Check(archive_write_header(archive_, entry.get()));
  }

  void Data(const char* data, std::size_t size) {
    while (size > 0) {
      const la_ssize_t written = archive_write_data(archive_, data, size);
      if (written <= 0) Fail();
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }

  void Close() { Check(archive_write_close(archive_)); }

 private:
  void Check(int result) {
    if (result < ARCHIVE_WARN) Fail();
  }
  [[noreturn]] void Fail() {
    const int error = archive_errno(archive_);
    throw Refusal(error > 0 ? StatusForErrno(error) : kMissing);
  }

  // An archive given up before Close is closed here all the same, for libarchive 3.6 frees
  // all it holds only through a close (zip ends at once; 7z first fills the rest of the file
  // being written with zeros). Its file is removed afterwards.
  struct Free {
    void operator()(archive* writer) const { archive_write_free(writer); }
  };
  std::unique_ptr<archive, Free> owner_;  // also when the constructor throws
  archive* const archive_;
};

// An item of the tree to archive, as found on disk.
struct Source {
  fs::path path;
  std::string name;  // its entry name
  struct stat info {};
};

// path (not followed when a link) and, for a folder, all it holds, sorted by name.
void Collect(const fs::path& path, const std::string& name, std::vector<Source>& sources) {
  Source source{path, name, {}};
  if (lstat(path.c_str(), &source.info) != 0) ThrowErrno();
  const mode_t type = source.info.st_mode & S_IFMT;
  if (type != S_IFDIR && type != S_IFREG && type != S_IFLNK) return;
  sources.push_back(source);
  if (type != S_IFDIR) return;
  std::vector<std::string> children;
  std::error_code code;
  for (fs::directory_iterator it(path, code), end; !code && it != end; it.increment(code)) {
    children.push_back(it->path().filename().string());
  }
  if (code) throw Refusal(StatusForErrno(code.value()));
  std::sort(children.begin(), children.end());
  for (const std::string& child : children) Collect(path / child, name + "/" + child, sources);
}

Kind KindOf(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return Kind::Folder;
  if (S_ISLNK(info.st_mode)) return Kind::Link;
  return Kind::File;
}

std::string ReadLink(const fs::path& path) {
  std::error_code code;
  fs::path target = fs::read_symlink(path, code);
  if (code) throw Refusal(StatusForErrno(code.value()));
  return target.string();
}

// Writes a file's data, no more and no less than the size its entry announced (a file that
// shrank meanwhile is padded with zeros).
void AddFileData(Writer& writer, const Source& source, std::vector<char>& buffer,
                 Progress& progress) {
  const Fd in(open(source.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.Get() < 0) ThrowErrno();
  std::uint64_t left = static_cast<std::uint64_t>(source.info.st_size);
  bool ended = false;
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    ssize_t size = 0;
    if (!ended) {
      size = read(in.Get(), buffer.data(), want);
      if (size < 0 && errno == EINTR) continue;
      if (size < 0) ThrowErrno();
      ended = size == 0;
    }
    if (ended) {
      std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want), '\0');
      size = static_cast<ssize_t>(want);
    }
    writer.Data(buffer.data(), static_cast<std::size_t>(size));
    left -= static_cast<std::uint64_t>(size);
    Count(progress, static_cast<std::uint64_t>(size));
  }
}

// Copies the entries named kept of the archive being added to.
void CopyKept(const CompressJob& job, const std::set<std::string>& kept, Writer& writer,
              std::vector<char>& buffer, Progress& progress) {
  Reader reader({*job.existing, job.password, {}});
  Header header;
  while (reader.Next(&header)) {
    if (!kept.count(header.name) || header.kind == Kind::Other) continue;
    if (header.parts && header.parts->empty()) continue;
    progress.Working(header.name);
    writer.Entry(header.name, header.kind, header.size, header.mtime, header.perm, header.link);
    if (header.kind == Kind::File) {
      for (std::size_t size; (size = reader.Read(buffer.data(), buffer.size())) > 0;) {
        writer.Data(buffer.data(), size);
        Count(progress, size);
      }
    }
    Count(progress, 1);
  }
}

// --- Extracting -----------------------------------------------------------------------------

// Which entries an extraction takes.
class Selection {
 public:
  explicit Selection(const std::vector<std::string>& parts) : parts_(parts), used_(parts.size()) {}

  bool Selects(const std::string& name) {
    if (parts_.empty()) return true;
    bool selected = false;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
      const std::string& part = parts_[i];
      if (name == part ||
          (name.size() > part.size() && name.starts_with(part) && name[part.size()] == '/')) {
        used_[i] = true;
        selected = true;
      }
    }
    return selected;
  }
  bool AllUsed() const {
    return std::all_of(used_.begin(), used_.end(), [](bool u) { return u; });
  }

 private:
  std::vector<std::string> parts_;
  std::vector<bool> used_;
};

// Where an entry goes, relative to the destination; empty when it makes nothing there (a
// folder when extraction flattens).
Parts PlaceOf(const Header& header, bool flatten) {
  if (!flatten) return *header.parts;
  if (header.kind == Kind::Folder) return {};
  return {header.parts->back()};
}

// True when a link made at place with this target leads, by its text alone, to a place inside
// the destination.
bool LinkStaysInside(const Parts& place, const std::string& target) {
  if (target.empty() || target.front() == '/' || target.find('\\') != std::string::npos) {
    return false;
  }
  std::size_t depth = place.size() - 1;  // folders between the destination and the link
  std::string_view rest = target;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == "..") {
      if (depth == 0) return false;
      --depth;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return true;
}

// Refuses (kExists) an entry whose place in destination is taken (see CheckExtract).
void CheckPlace(const fs::path& destination, const Parts& place, Kind kind, bool overwrite) {
  fs::path path = destination;
  for (std::size_t i = 0; i < place.size(); ++i) {
    path /= place[i];
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;  // nothing there, nor under it
    const bool wantsFolder = i + 1 < place.size() || kind == Kind::Folder;
    if (S_ISDIR(info.st_mode)) {
      if (wantsFolder) continue;
      throw Refusal(kExists);  // a folder is never replaced
    }
    if (!overwrite) throw Refusal(kExists);
    return;  // replaced, with all that would have gone under it
  }
}

// The hidden folder an extraction writes into, removed with what is left in it when it goes.
// Entries are made through descriptors opened one component at a time without following
// links, so nothing is written anywhere but inside it.
class Staging {
 public:
  explicit Staging(const fs::path& destination)
      : path_((destination / ".vesk-extract-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) {
      path_.clear();
      ThrowErrno();
    }
    top_ = Fd(open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (top_.Get() < 0) ThrowErrno();
  }
  ~Staging() {
    std::error_code code;
    if (!path_.empty()) fs::remove_all(path_, code);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  fs::path Path() const { return path_; }

  // The folder the first count parts name, made as needed. An entry whose path goes through a
  // file or a link of the archive is refused.
  Fd Folder(const Parts& parts, std::size_t count) {
    Fd current(dup(top_.Get()));
    if (current.Get() < 0) ThrowErrno();
    for (std::size_t i = 0; i < count; ++i) {
      if (mkdirat(current.Get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST) ThrowErrno();
      Fd next(
          openat(current.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.Get() < 0) {
        if (errno == ENOTDIR || errno == ELOOP) throw Refusal(kNotAllowed);
        ThrowErrno();
      }
      current = std::move(next);
    }
    return current;
  }

  // Made where nothing of that name is: what an earlier entry of the same name made goes.
  void Clear(int folder, const std::string& name) {
    struct stat info;
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (unlinkat(folder, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0) {
      throw Refusal(kNotAllowed);  // a folder of the archive that holds entries
    }
  }

 private:
  std::string path_;
  Fd top_;
};

// Moves what the staging folder holds at from into place at to (see Extract).
void Place(const fs::path& from, const fs::path& to, bool overwrite) {
  struct stat staged, existing;
  if (lstat(from.c_str(), &staged) != 0) ThrowErrno();
  const bool exists = lstat(to.c_str(), &existing) == 0;
  if (exists && S_ISDIR(staged.st_mode) && S_ISDIR(existing.st_mode)) {
    std::vector<fs::path> children;
    std::error_code code;
    for (fs::directory_iterator it(from, code), end; !code && it != end; it.increment(code)) {
      children.push_back(it->path());
    }
    if (code) throw Refusal(StatusForErrno(code.value()));
    for (const fs::path& child : children) Place(child, to / child.filename(), overwrite);
    return;
  }
  if (exists && overwrite && S_ISDIR(staged.st_mode) && !S_ISDIR(existing.st_mode) &&
      unlink(to.c_str()) != 0) {
    ThrowErrno();
  }
  FileTree::PlaceFile(from, to, overwrite);
}

}  // namespace

std::vector<ArchiveEntryInfo> ListArchive(const ArchiveSource& source) {
  const Utf8Names utf8;
  const std::vector<Header> headers = ReadHeaders(source);
  std::vector<ArchiveEntryInfo> entries;
  std::set<std::string> folders;
  std::uint64_t total = 0;
  for (const Header& header : headers) {
    ArchiveEntryInfo entry;
    entry.name = header.name;
    entry.folder = header.kind == Kind::Folder;
    entry.size = header.size;
    entry.mtime = header.mtime;
    if (entry.folder) folders.insert(entry.name);
    total += entry.size;
    entries.push_back(std::move(entry));
  }
  for (const Header& header : headers) {
    if (!header.parts) continue;
    Parts parent;
    for (std::size_t i = 0; i + 1 < header.parts->size(); ++i) {
      parent.push_back((*header.parts)[i]);
      const std::string name = Join(parent);
      if (!folders.insert(name).second) continue;
      ArchiveEntryInfo folder;
      folder.name = name;
      folder.folder = true;
      folder.mtime = header.mtime;
      entries.push_back(std::move(folder));
    }
  }
  struct stat info;
  if (total > 0 && stat(source.file.c_str(), &info) == 0) {
    const long double bytes = static_cast<long double>(info.st_size);
    for (ArchiveEntryInfo& entry : entries) {
      entry.packedSize =
          static_cast<std::uint64_t>(static_cast<long double>(entry.size) * bytes / total);
    }
  }
  return entries;
}

void Compress(const CompressJob& job, Progress& progress) {
  const Utf8Names utf8;
  std::vector<Source> sources;
  for (const TreeItem& item : job.items) Collect(item.path, item.name, sources);

  // The entries of the archive added to that stay, and the sources they keep out.
  std::set<std::string> kept;
  std::set<std::string> keptOut;
  std::uint64_t units = 0;
  if (job.existing) {
    std::map<std::string, const Source*> byName;
    for (const Source& source : sources) byName.emplace(source.name, &source);
    for (const Header& header : ReadHeaders({*job.existing, job.password, {}})) {
      const auto replacing = byName.find(header.name);
      const bool replaced =
          replacing != byName.end() &&
          (job.mode == UpdateMode::Add || replacing->second->info.st_mtime > header.mtime);
      if (replaced || header.kind == Kind::Other) continue;
      if (replacing != byName.end()) keptOut.insert(header.name);
      kept.insert(header.name);
      units += 1 + header.size;
    }
  }
  for (const Source& source : sources) {
    if (keptOut.count(source.name)) continue;
    units +=
        1 + (S_ISREG(source.info.st_mode) ? static_cast<std::uint64_t>(source.info.st_size) : 0);
  }
  progress.Plan(units);

  TempFile temp(job.folder);
  std::vector<char> buffer(std::max<std::size_t>(1, progress.PieceSize()));
  {
    Writer writer(temp.Descriptor(), job);
    if (job.existing) CopyKept(job, kept, writer, buffer, progress);
    for (const Source& source : sources) {
      if (keptOut.count(source.name)) continue;
      progress.Working(source.name);
      const Kind kind = KindOf(source.info);
      writer.Entry(source.name, kind, static_cast<std::uint64_t>(source.info.st_size),
                   source.info.st_mtime, source.info.st_mode,
                   kind == Kind::Link ? ReadLink(source.path) : std::string());
      if (kind == Kind::File) AddFileData(writer, source, buffer, progress);
      Count(progress, 1);
    }
    writer.Close();
  }
  // A stop that came with the last piece ends the job before the archive is placed.
  Count(progress, 0);
  temp.Place(job.folder / job.archiveName, job.mode != UpdateMode::Create);
}

void CheckExtract(ExtractJob& job) {
  const Utf8Names utf8;
  Reader reader(job.source);
  Selection selection(job.parts);
  std::vector<char> buffer(1);
  bool passwordTried = false;
  job.units = 0;
  Header header;
  while (reader.Next(&header)) {
    if (header.parts && header.parts->empty()) continue;
    if (!selection.Selects(header.name)) continue;
    if (!header.parts) throw Refusal(kNotAllowed);
    job.units += 1 + (header.kind == Kind::File ? header.size : 0);
    if (header.kind == Kind::Other) continue;
    if (header.kind == Kind::Link && !LinkStaysInside(PlaceOf(header, job.flatten), header.link)) {
      continue;
    }
    CheckPlace(job.destination, PlaceOf(header, job.flatten), header.kind, job.overwrite);
    if (header.kind == Kind::File && header.encrypted && !passwordTried) {
      reader.Read(buffer.data(), buffer.size());
      passwordTried = true;
    }
  }
  if (!selection.AllUsed()) throw Refusal(kMissing);
}

void Extract(const ExtractJob& job, Progress& progress) {
  const Utf8Names utf8;
  progress.Plan(job.units);
  Staging staging(job.destination);
  Reader reader(job.source);
  Selection selection(job.parts);
  std::vector<char> buffer(std::max<std::size_t>(1, progress.PieceSize()));
  Header header;
  while (reader.Next(&header)) {
    if (header.parts && header.parts->empty()) continue;
    if (!selection.Selects(header.name)) continue;
    if (!header.parts) throw Refusal(kNotAllowed);
    const Parts place = PlaceOf(header, job.flatten);
    if (!place.empty()) progress.Working(place.back());
    if (place.empty() || header.kind == Kind::Other) {
      // nothing made
    } else if (header.kind == Kind::Folder) {
      // Kept open to its owner, so that the entries it holds can be made in it.
      fchmod(staging.Folder(place, place.size()).Get(), (header.perm & 0777) | 0700);
    } else {
      const Fd folder = staging.Folder(place, place.size() - 1);
      const std::string& name = place.back();
      staging.Clear(folder.Get(), name);
      if (header.kind == Kind::Link) {
        if (LinkStaysInside(place, header.link) &&
            symlinkat(header.link.c_str(), folder.Get(), name.c_str()) != 0) {
          ThrowErrno();
        }
      } else {
        const Fd out(openat(folder.Get(), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.Get() < 0) ThrowErrno();
        for (std::size_t size; (size = reader.Read(buffer.data(), buffer.size())) > 0;) {
          WriteAll(out.Get(), buffer.data(), size);
          Count(progress, size);
        }
        fchmod(out.Get(), (header.perm & 0777) | 0600);
        if (header.mtime != 0) {
          const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(header.mtime), 0}};
          futimens(out.Get(), times);
        }
      }
    }
    Count(progress, 1);
  }
  // A stop that came with the last piece ends the job before anything is placed.
  Count(progress, 0);
  std::vector<fs::path> made;
  std::error_code code;
  for (fs::directory_iterator it(staging.Path(), code), end; !code && it != end;
       it.increment(code)) {
    made.push_back(it->path());
  }
  if (code) throw Refusal(StatusForErrno(code.value()));
  for (const fs::path& item : made) Place(item, job.destination / item.filename(), job.overwrite);
}

}  // namespace vesk::emulator
