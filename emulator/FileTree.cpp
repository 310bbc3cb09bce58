#include "emulator/FileTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <system_error>
#include <utility>

#include "emulator/Wire.h"

namespace vesk::emulator {

namespace fs = std::filesystem;

namespace {

// Symlinks followed while resolving one path before it counts as a loop (as the kernel's
// ELOOP).
constexpr int kMaxLinks = 40;
constexpr std::size_t kMaxName = NAME_MAX;

// A file descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

[[noreturn]] void ThrowErrno() { throw Refusal(StatusForErrno(errno)); }

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const std::size_t slash = text.find('/');
    if (slash != 0) parts.emplace_back(text.substr(0, slash));
    if (slash == std::string_view::npos) break;
    text.remove_prefix(slash + 1);
  }
  return parts;
}

// The components of a device path; refuses what could step aside (see FileTree.h).
std::vector<std::string> Components(std::string_view devicePath) {
  if (devicePath.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos) {
    throw Refusal(kNotAllowed);
  }
  std::vector<std::string> parts = Split(devicePath);
  for (const std::string& part : parts) {
    if (part == "." || part == ".." || part.size() > kMaxName) throw Refusal(kNotAllowed);
  }
  return parts;
}

std::string ReadLink(const fs::path& path) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t size = readlink(path.c_str(), buffer.data(), buffer.size());
    if (size < 0) ThrowErrno();
    if (static_cast<std::size_t>(size) < buffer.size()) return std::string(buffer.data(), size);
    buffer.resize(buffer.size() * 2);
  }
}

// True when path is base or lies under it (both real paths).
bool Within(const fs::path& path, const fs::path& base) {
  const fs::path relative = path.lexically_relative(base);
  return !relative.empty() && *relative.begin() != "..";
}

void RemoveAll(const fs::path& path) {
  std::error_code code;
  fs::remove_all(path, code);  // does not follow symlinks
  if (code) throw Refusal(StatusForErrno(code.value()));
}

// rename(2) that never replaces an existing target; -1 with errno on failure.
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without RENAME_NOREPLACE: check, then rename.
  struct stat existing;
  if (lstat(to.c_str(), &existing) == 0) {
    errno = EEXIST;
    return -1;
  }
  return rename(from.c_str(), to.c_str());
}

void SetTimes(const fs::path& path, const struct stat& info) {
  const timespec times[2] = {info.st_atim, info.st_mtim};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Units a copy of path plans: one per item, one per byte of file data.
std::uint64_t PlanUnits(const fs::path& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return 1;
  if (S_ISREG(info.st_mode)) return 1 + static_cast<std::uint64_t>(info.st_size);
  std::uint64_t units = 1;
  if (S_ISDIR(info.st_mode)) {
    std::error_code code;
    for (fs::directory_iterator it(path, code), end; !code && it != end; it.increment(code)) {
      units += PlanUnits(it->path());
    }
  }
  return units;
}

void Count(Progress& progress, std::uint64_t units) {
  if (!progress.Done(units)) throw WorkStopped();
}

// Makes way for a copy at target: nothing there, or (with overwrite) a folder to merge into
// when keepFolder. True when an existing folder is kept.
bool ClearTarget(const fs::path& target, bool overwrite, bool keepFolder) {
  struct stat existing;
  if (lstat(target.c_str(), &existing) != 0) return false;
  if (!overwrite) throw Refusal(kExists);
  if (keepFolder && S_ISDIR(existing.st_mode)) return true;
  RemoveAll(target);
  return false;
}

bool AllZero(const char* data, std::size_t size) {
  return std::all_of(data, data + size, [](char c) { return c == 0; });
}

void CopyFileData(const fs::path& source, const fs::path& target, const struct stat& info,
                  Progress& progress) {
  const Fd in(open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.Get() < 0) ThrowErrno();
  const Fd out(open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.Get() < 0) ThrowErrno();
  std::vector<char> buffer(std::max<std::size_t>(1, progress.PieceSize()));
  off_t length = 0;
  for (;;) {
    const ssize_t size = read(in.Get(), buffer.data(), buffer.size());
    if (size < 0 && errno == EINTR) continue;
    if (size < 0) ThrowErrno();
    if (size == 0) break;
    if (AllZero(buffer.data(), size)) {
      // A piece of zeros becomes a hole, so that sparse files stay sparse.
      if (lseek(out.Get(), size, SEEK_CUR) < 0) ThrowErrno();
    } else {
      for (ssize_t written = 0; written < size;) {
        const ssize_t step = write(out.Get(), buffer.data() + written, size - written);
        if (step < 0 && errno == EINTR) continue;
        if (step < 0) ThrowErrno();
        written += step;
      }
    }
    length += size;
    Count(progress, static_cast<std::uint64_t>(size));
  }
  if (ftruncate(out.Get(), length) != 0) ThrowErrno();
  fchmod(out.Get(), info.st_mode & 07777);
  const timespec times[2] = {info.st_atim, info.st_mtim};
  futimens(out.Get(), times);
}

void CopyNode(const fs::path& source, const fs::path& target, bool overwrite, Progress& progress) {
  struct stat info;
  if (lstat(source.c_str(), &info) != 0) ThrowErrno();
  progress.Working(source.filename().string());
  if (S_ISDIR(info.st_mode)) {
    if (!ClearTarget(target, overwrite, true) && mkdir(target.c_str(), 0700) != 0) ThrowErrno();
    Count(progress, 1);
    std::vector<fs::path> children;
    std::error_code code;
    for (fs::directory_iterator it(source, code), end; !code && it != end; it.increment(code)) {
      children.push_back(it->path());
    }
    if (code) throw Refusal(StatusForErrno(code.value()));
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
      CopyNode(child, target / child.filename(), overwrite, progress);
    }
    chmod(target.c_str(), info.st_mode & 07777);
    SetTimes(target, info);
    return;
  }
  if (S_ISLNK(info.st_mode)) {
    ClearTarget(target, overwrite, false);
    if (symlink(ReadLink(source).c_str(), target.c_str()) != 0) ThrowErrno();
  } else if (S_ISREG(info.st_mode)) {
    ClearTarget(target, overwrite, false);
    CopyFileData(source, target, info, progress);
  }
  // Other kinds (pipes, sockets, devices) are not part of the device's tree: not copied.
  Count(progress, 1);
}

}  // namespace

long long StatusForErrno(int error) {
  switch (error) {
    case EEXIST:
    case ENOTEMPTY:
      return kExists;
    case ENAMETOOLONG:
      return kNotAllowed;
    default:
      return kMissing;  // ENOENT, ENOTDIR, EACCES, EPERM, EROFS, ELOOP, I/O failures
  }
}

void CheckName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxName ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    throw Refusal(kNotAllowed);
  }
}

FileTree::FileTree(const std::string& root) {
  if (root.empty()) return;
  std::error_code code;
  fs::path real = fs::canonical(root, code);
  if (!code && fs::is_directory(real, code) && !code) root_ = std::move(real);
}

fs::path FileTree::Walk(fs::path current, std::vector<std::string> parts) const {
  if (root_.empty()) throw Refusal(kMissing);
  std::deque<std::string> pending(parts.begin(), parts.end());
  int links = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.front());
    pending.pop_front();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // current is a real folder, so its parent is what ".." means; at the root it leads out.
      if (current == root_) throw Refusal(kNotAllowed);
      current = current.parent_path();
      continue;
    }
    fs::path next = current / part;
    struct stat info;
    if (lstat(next.c_str(), &info) != 0) ThrowErrno();
    if (S_ISLNK(info.st_mode)) {
      if (++links > kMaxLinks) throw Refusal(kMissing);
      const std::string text = ReadLink(next);
      std::vector<std::string> target;
      if (!text.empty() && text.front() == '/') {
        // An absolute target is followed only when it names a place under the root, which
        // is real, so the rest resolves from there.
        const fs::path relative = fs::path(text).lexically_normal().lexically_relative(root_);
        if (relative.empty() || *relative.begin() == "..") throw Refusal(kNotAllowed);
        for (const fs::path& element : relative) target.push_back(element.string());
        current = root_;
      } else {
        target = Split(text);
      }
      pending.insert(pending.begin(), target.begin(), target.end());
      continue;
    }
    if (!pending.empty() && !S_ISDIR(info.st_mode)) throw Refusal(kMissing);
    current = std::move(next);
  }
  return current;
}

fs::path FileTree::Folder(std::string_view devicePath, Top top) const {
  const fs::path real = Walk(root_, Components(devicePath));
  struct stat info;
  if (lstat(real.c_str(), &info) != 0) ThrowErrno();
  if (!S_ISDIR(info.st_mode)) throw Refusal(kMissing);
  if (IsTop(real) && top == Top::Refuse) throw Refusal(kMissing);
  return real;
}

bool FileTree::Describe(const fs::path& folder, const std::string& name, TreeItem* item,
                        long long* refusal) const {
  struct stat info;
  if (lstat((folder / name).c_str(), &info) != 0) {
    *refusal = StatusForErrno(errno);
    return false;
  }
  return Describe(folder, name, info, item, refusal);
}

bool FileTree::Describe(const fs::path& folder, const std::string& name, struct stat info,
                        TreeItem* item, long long* refusal) const {
  item->name = name;
  item->path = folder / name;
  item->target = item->path;
  item->link = S_ISLNK(info.st_mode);
  if (item->link) {
    try {
      item->target = Walk(folder, {name});
    } catch (const Refusal& refused) {
      *refusal = refused.Status();
      return false;
    }
    if (lstat(item->target.c_str(), &info) != 0) {
      *refusal = StatusForErrno(errno);
      return false;
    }
  }
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
    *refusal = kMissing;
    return false;
  }
  item->info = info;
  return true;
}

TreeItem FileTree::Item(const fs::path& folder, std::string_view name) const {
  CheckName(name);
  TreeItem item;
  long long refusal = kMissing;
  if (!Describe(folder, std::string(name), &item, &refusal)) throw Refusal(refusal);
  if (IsTop(folder) && !item.Folder()) throw Refusal(kMissing);
  return item;
}

std::vector<TreeItem> FileTree::List(const fs::path& folder) const {
  // Each entry's status is read relative to the open folder, which spares the kernel a walk
  // of the folder's whole path for every entry of a large folder.
  const std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) ThrowErrno();
  std::vector<TreeItem> items;
  std::string name;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) ThrowErrno();
      break;
    }
    name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    TreeItem item;
    long long refusal = 0;
    if (fstatat(dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        Describe(folder, name, info, &item, &refusal)) {
      items.push_back(std::move(item));
    }
  }
  return items;
}

std::vector<TreeItem> FileTree::Shares() const {
  std::vector<TreeItem> shares;
  if (root_.empty()) return shares;
  for (TreeItem& item : List(root_)) {
    if (item.Folder()) shares.push_back(std::move(item));
  }
  return shares;
}

std::vector<TreeItem> FileTree::Search(const fs::path& folder, std::string_view keyword) const {
  const std::string folded = AsciiLower(keyword);
  std::vector<TreeItem> hits;
  std::vector<fs::path> folders{folder};
  while (!folders.empty()) {
    const fs::path current = std::move(folders.back());
    folders.pop_back();
    std::vector<TreeItem> items;
    try {
      items = List(current);
    } catch (const Refusal&) {
      continue;  // a folder that cannot be read has no hits
    }
    for (TreeItem& item : items) {
      if (item.Folder() && !item.link) folders.push_back(item.path);
      if (AsciiLower(item.name).find(folded) != std::string::npos) hits.push_back(std::move(item));
    }
  }
  return hits;
}

void FileTree::SetModifyTime(TreeItem& item, long long seconds) const {
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  if (utimensat(AT_FDCWD, item.target.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) ThrowErrno();
  if (lstat(item.target.c_str(), &item.info) != 0) ThrowErrno();
}

void FileTree::CreateFolder(const fs::path& folder, std::string_view name) const {
  CheckName(name);
  if (mkdir((folder / name).c_str(), 0777) != 0) ThrowErrno();
}

void FileTree::Remove(const TreeItem& item) const { RemoveAll(item.path); }

void FileTree::Rename(const TreeItem& item, std::string_view newName) const {
  CheckName(newName);
  if (RenameNoReplace(item.path, item.path.parent_path() / newName) != 0) ThrowErrno();
}

fs::path FileTree::TargetOf(const TreeItem& item, const fs::path& destination,
                            bool overwrite) const {
  const fs::path target = destination / item.name;
  // A folder copied into itself would never end; one merged into a folder that holds it
  // would copy over its own source.
  if (item.Folder() && !item.link && Within(destination, item.path)) throw Refusal(kInsideSource);
  if (target == item.path) throw Refusal(overwrite ? kInsideSource : kExists);
  struct stat existing;
  if (lstat(target.c_str(), &existing) == 0) {
    if (!overwrite) throw Refusal(kExists);
    if (Within(item.path, target)) throw Refusal(kInsideSource);
  }
  return target;
}

void FileTree::Copy(const TreeItem& item, const fs::path& target, bool overwrite,
                    Progress& progress) {
  progress.Plan(PlanUnits(item.path));
  CopyNode(item.path, target, overwrite, progress);
}

void FileTree::Move(const TreeItem& item, const fs::path& target, bool overwrite,
                    bool renameAllowed, Progress& progress) {
  if (renameAllowed) {
    progress.Working(item.name);
    struct stat existing;
    const bool exists = lstat(target.c_str(), &existing) == 0;
    // Folders onto folders merge, which a rename cannot do.
    const bool merge = exists && S_ISDIR(existing.st_mode) && item.Folder() && !item.link;
    if (!merge) {
      if (exists) ClearTarget(target, overwrite, false);
      if (RenameNoReplace(item.path, target) == 0) {
        progress.Plan(1);
        Count(progress, 1);
        return;
      }
      if (errno != EXDEV) ThrowErrno();
    }
  }
  Copy(item, target, overwrite, progress);
  RemoveAll(item.path);
}

void FileTree::PlaceFile(const fs::path& from, const fs::path& target, bool overwrite) {
  struct stat existing;
  if (lstat(target.c_str(), &existing) == 0 && (S_ISDIR(existing.st_mode) || !overwrite)) {
    throw Refusal(kExists);
  }
  const int placed =
      overwrite ? rename(from.c_str(), target.c_str()) : RenameNoReplace(from, target);
  if (placed != 0) ThrowErrno();
}

}  // namespace vesk::emulator
