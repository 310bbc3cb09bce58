// The path harness: device paths and item names resolved by the file tree, against a small
// tree whose symlinks lead inside, outside, nowhere and in circles. What the tree accepts is
// checked against the kernel's own resolution (realpath): every accepted folder or item lies
// inside the root and is what the kernel reaches, whatever would leave the root is refused, and
// nothing outside the root (or, after a refusal, inside it) changes.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "EmulatorFuzz.h"
#include "emulator/FileTree.h"
#include "emulator/Wire.h"

namespace vesk::fuzz {
namespace {

namespace fs = std::filesystem;
using emulator::FileTree;
using emulator::Refusal;
using emulator::Top;
using emulator::TreeItem;

// Every entry under base: its kind, a file's size, a link's target, and for what lies outside
// the root its modification time too (a folder's time inside the root changes with the
// folders the harness makes and removes again).
using Snapshot = std::map<std::string, std::string>;

// The tree, made once per process in a temporary folder and removed at exit:
//   root/top.txt  root/Public/{a.txt, sub/deep.txt}  root/Backup/{b.txt, fifo}
//   outside/{secret.txt, dir/inner.txt}
// with symlinks of every kind in root (see Make).
class Fixture {
 public:
  static Fixture& Get() {
    static Fixture fixture;
    return fixture;
  }
  ~Fixture() {
    std::error_code code;
    if (!base_.empty()) fs::remove_all(base_, code);
  }

  const std::string& Error() const { return error_; }
  const fs::path& Root() const { return root_; }
  const FileTree& Tree() const { return *tree_; }
  const Snapshot& Initial() const { return initial_; }

  Snapshot Take() const {
    Snapshot snapshot;
    std::error_code code;
    for (fs::recursive_directory_iterator it(base_, code), end; !code && it != end;
         it.increment(code)) {
      struct stat info;
      if (lstat(it->path().c_str(), &info) != 0) continue;
      const std::string relative = it->path().lexically_relative(base_).string();
      std::string& entry = snapshot[relative];
      entry = std::to_string(info.st_mode);
      if (S_ISREG(info.st_mode)) entry += " " + std::to_string(info.st_size);
      if (S_ISLNK(info.st_mode)) entry += " -> " + fs::read_symlink(it->path(), code).string();
      if (relative.rfind("outside", 0) == 0) {
        entry +=
            " " + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
      }
    }
    if (code) snapshot["(error)"] = code.message();
    return snapshot;
  }

 private:
  Fixture() {
    try {
      Make();
    } catch (const std::exception& e) {
      error_ = std::string("the fixture cannot be made: ") + e.what();
    }
  }

  void Make() {
    std::string pattern = (fs::temp_directory_path() / "vesk-path-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = fs::canonical(pattern);
    root_ = base_ / "root";
    const fs::path outside = base_ / "outside";
    for (const fs::path& folder : {root_ / "Public" / "sub", root_ / "Backup", outside / "dir"}) {
      fs::create_directories(folder);
    }
    for (const fs::path& file :
         {root_ / "top.txt", root_ / "Public" / "a.txt", root_ / "Public" / "sub" / "deep.txt",
          root_ / "Backup" / "b.txt", outside / "secret.txt", outside / "dir" / "inner.txt"}) {
      if (FILE* f = fopen(file.c_str(), "w")) {
        fputs("data", f);
        fclose(f);
      }
    }
    if (mkfifo((root_ / "Backup" / "fifo").c_str(), 0600) != 0)
      throw std::runtime_error("mkfifo failed");
    const struct {
      const char* at;
      std::string target;
    } links[] = {
        {"Away", "../outside"},
        {"Public/escape", outside.string()},
        {"Public/up", "../../outside"},
        {"Public/escfile", (outside / "secret.txt").string()},
        {"Public/absdotdot", (root_ / "Public" / ".." / ".." / "outside").string()},
        {"Public/inward", "../Backup"},
        {"Public/absin", (root_ / "Backup").string()},
        {"Public/absfile", (root_ / "Public" / "a.txt").string()},
        {"Public/loop", "loop"},
        {"Public/dangling", "nothere"},
        {"Public/toroot", ".."},
        {"Public/filelink", "a.txt"},
        {"Public/dotlink", "."},
        {"Public/sub/parent", ".."},
        {"Public/sub/trick", "../sub/../../Backup"},
        {"Backup/chain", "../Public/inward"},
        {"Backup/rootlink", "/"},
        {"Backup/absroot", root_.string()},
        {"Backup/abstrail", (root_ / "Public").string() + "/"},
        {"Backup/intofile", "../Public/a.txt/x"},
    };
    for (const auto& link : links) fs::create_symlink(link.target, root_ / link.at);
    tree_ = std::make_unique<FileTree>(root_.string());
    initial_ = Take();
  }

  fs::path base_, root_;
  std::unique_ptr<FileTree> tree_;
  Snapshot initial_;
  std::string error_;
};

// True when path is base or lies under it (both real paths).
bool Within(const fs::path& path, const fs::path& base) {
  const fs::path relative = path.lexically_relative(base);
  return !relative.empty() && *relative.begin() != "..";
}

// The kernel's resolution of path, or nothing.
std::optional<fs::path> RealPath(const fs::path& path) {
  const std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
  if (!real) return std::nullopt;
  return fs::path(real.get());
}

// A path the tree resolves at all: no backslash or NUL, and no ".", ".." or overlong component.
bool CleanPath(std::string_view path) {
  if (path.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "." || part == ".." || part.size() > NAME_MAX) return false;
    start = end + 1;
  }
  return true;
}

bool GoodName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= NAME_MAX &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool IsFolder(const fs::path& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string CheckFolder(const Fixture& fixture, const std::string& path, Top top,
                        std::optional<fs::path>* resolved) {
  const fs::path& root = fixture.Root();
  const bool clean = CleanPath(path);
  std::optional<fs::path> real;
  if (clean) real = RealPath(root.string() + "/" + path);
  const bool inside = real && Within(*real, root) && IsFolder(*real);
  const bool expected = inside && (top == Top::Allow || *real != root);
  try {
    const fs::path folder = fixture.Tree().Folder(path, top);
    if (!expected) return "a folder accepted that the kernel finds elsewhere or nowhere";
    if (folder != *real) return "a folder resolved otherwise than by the kernel";
    *resolved = folder;
  } catch (const Refusal& refusal) {
    if (expected)
      return "a folder inside the root refused with " + std::to_string(refusal.Status());
    const bool outside = real && !Within(*real, root);
    if ((!clean || outside) && refusal.Status() != emulator::kNotAllowed)
      return "a path not allowed refused with " + std::to_string(refusal.Status());
  }
  return "";
}

std::string CheckItem(const Fixture& fixture, const fs::path& folder, const std::string& name) {
  const fs::path& root = fixture.Root();
  const fs::path path = folder / name;
  std::optional<fs::path> target;
  bool link = false;
  struct stat info;
  if (GoodName(name) && lstat(path.c_str(), &info) == 0) {
    link = S_ISLNK(info.st_mode);
    target = link ? RealPath(path) : std::optional<fs::path>(path);
    if (target && (!Within(*target, root) || stat(target->c_str(), &info) != 0 ||
                   !(S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && folder != root)))) {
      target.reset();
    }
  }
  try {
    const TreeItem item = fixture.Tree().Item(folder, name);
    if (!target) return "an item accepted that the kernel finds elsewhere or nowhere";
    if (item.path != path || item.name != name || item.link != link)
      return "an item named otherwise than asked";
    if (item.target != *target) return "an item resolved otherwise than by the kernel";
    if (item.info.st_ino != info.st_ino || item.info.st_mode != info.st_mode)
      return "an item's status is not its target's";
  } catch (const Refusal& refusal) {
    if (target) return "an item inside the root refused with " + std::to_string(refusal.Status());
    if (!GoodName(name) && refusal.Status() != emulator::kNotAllowed)
      return "a name not allowed refused with " + std::to_string(refusal.Status());
  }
  return "";
}

std::string CheckListing(const Fixture& fixture, const fs::path& folder) {
  for (const TreeItem& item : fixture.Tree().List(folder)) {
    if (item.path.parent_path() != folder) return "a listed item outside its folder";
    if (!Within(item.target, fixture.Root()) || RealPath(item.target) != item.target)
      return "a listed item that leads outside the root: " + item.path.string();
  }
  return "";
}

// A new folder is made where the name says inside the folder, or refused with nothing made.
std::string CheckCreate(const Fixture& fixture, const fs::path& folder, const std::string& name) {
  const fs::path path = folder / name;
  struct stat info;
  const bool existed = GoodName(name) && lstat(path.c_str(), &info) == 0;
  try {
    fixture.Tree().CreateFolder(folder, name);
    if (!GoodName(name)) return "a folder made under a name not allowed";
    if (existed) return "a folder made over an existing entry";
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
      return "the new folder is not where its name says";
    rmdir(path.c_str());
  } catch (const Refusal& refusal) {
    if (GoodName(name) && !existed)
      return "a new folder refused with " + std::to_string(refusal.Status());
    if (existed && refusal.Status() != emulator::kExists)
      return "an existing entry refused with " + std::to_string(refusal.Status());
  }
  return "";
}

}  // namespace

std::string CheckPaths(const std::uint8_t* data, std::size_t size) {
  const Fixture& fixture = Fixture::Get();
  if (!fixture.Error().empty()) return fixture.Error();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  // Both arrive percent-encoded in a request; a malformed escape never reaches the tree.
  const std::optional<std::string> path = emulator::DecodeComponent(input.substr(0, newline));
  if (!path) return "";
  std::optional<std::string> name;
  if (newline != std::string_view::npos)
    name = emulator::DecodeComponent(input.substr(newline + 1));

  std::string failure;
  try {
    std::optional<fs::path> anyFolder, changeable;
    failure = CheckFolder(fixture, *path, Top::Allow, &anyFolder);
    if (failure.empty()) failure = CheckFolder(fixture, *path, Top::Refuse, &changeable);
    if (failure.empty() && anyFolder) failure = CheckListing(fixture, *anyFolder);
    if (failure.empty() && anyFolder && name) failure = CheckItem(fixture, *anyFolder, *name);
    if (failure.empty() && changeable && name) {
      failure = CheckCreate(fixture, *changeable, *name);
      // Resolving, reading and listing change nothing by their nature; after a folder was made
      // (and removed again) or refused, the whole tree must be as it was.
      if (failure.empty() && fixture.Take() != fixture.Initial())
        failure = "the tree changed: an entry was made, removed or changed";
    }
  } catch (const std::exception& e) {
    failure = std::string("exception escaped: ") + e.what();
  }
  return failure;
}

}  // namespace vesk::fuzz
