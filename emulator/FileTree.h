// The device's file tree: the real folder given by --root, as the file services see and change
// it.
//
// Device paths are "/"-separated and start at the top of the tree, whose folders are the share
// roots: "/Public/photos". Whatever a request names stays inside the root:
//  - a path holding a "." or ".." component, a backslash or a NUL byte is refused (kNotAllowed);
//    empty components ("//", a trailing "/") are skipped, and a leading "/" is optional;
//  - paths are resolved one component at a time from the root, following symlinks the way the
//    kernel does, but a step that would leave the root (a ".." at the root, a link target
//    outside it) is refused (kNotAllowed) before anything outside is looked at;
//  - a name a request gives on its own (a new folder, a rename target, the item in a folder) is
//    refused when it is empty, ".", "..", longer than 255 bytes, or holds "/", "\" or NUL;
//  - the top itself is not a folder of the file services: it is read only through get_tree and
//    as the place of the share roots, and nothing is created, removed or renamed there
//    (kMissing, the device's "no permission").
// An item that is a symlink stands for what it points to when that lies inside the root, and is
// refused otherwise (kNotAllowed when it leads outside, kMissing when it leads nowhere); listings
// and searches leave such items out. Reads (stat, list, search) report the link's target;
// delete, rename and move act on the link itself, and copies recreate links as links.
#ifndef VESK_EMULATOR_FILE_TREE_H
#define VESK_EMULATOR_FILE_TREE_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::emulator {

// The statuses the file-tree services refuse with (FileTreeService.cpp shows how each reply
// carries them).
enum TreeStatus : long long {
  kDone = 1,          // done, or accepted
  kExists = 2,        // the target exists
  kNoSession = 3,     // the sid names no live session
  kMissing = 4,       // no such item, or no permission to use it
  kNotAllowed = 5,    // a name or path the device does not take, or one leading out of the root
  kInsideSource = 6,  // a copy or move whose target is the source, lies inside it or holds it
};

// A request the device refuses with one of the statuses above.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(long long status)
      : std::runtime_error("refused with status " + std::to_string(status)), status_(status) {}
  long long Status() const { return status_; }

 private:
  long long status_;
};

// The status for a failed file-system call's errno.
long long StatusForErrno(int error);

// A name as a request gives it on its own; throws Refusal(kNotAllowed) unless it is one.
void CheckName(std::string_view name);

// An item of the tree: an entry of a folder, resolved.
struct TreeItem {
  std::filesystem::path path;    // the entry itself (its folder resolved, its name as given)
  std::filesystem::path target;  // what it stands for: path, or a symlink's target
  std::string name;
  struct stat info {};  // of target
  bool link = false;    // the entry is a symlink
  bool Folder() const { return S_ISDIR(info.st_mode); }
};

// What a copy or a move tells while it works, and how it learns that it is to stop.
class Progress {
 public:
  virtual ~Progress() = default;
  // Adds to the amount of work planned: one unit per item and one per byte of data.
  virtual void Plan(std::uint64_t units) = 0;
  // Names the item being worked on.
  virtual void Working(const std::string& name) = 0;
  // Counts units of work done. False when the work is to stop at once.
  virtual bool Done(std::uint64_t units) = 0;
  // The largest piece of a file to copy between two calls of Done.
  virtual std::size_t PieceSize() const = 0;
};

// Thrown by copies and moves when Progress::Done says to stop.
class WorkStopped : public std::runtime_error {
 public:
  WorkStopped() : std::runtime_error("stopped") {}
};

enum class Top { Refuse, Allow };

class FileTree {
 public:
  // root: the --root folder; empty or unusable: a tree without share roots.
  explicit FileTree(const std::string& root);

  // The share roots, unsorted.
  std::vector<TreeItem> Shares() const;
  // The real folder a device path names. The top itself only with Top::Allow: requests that
  // change the tree or list a folder take their folders with Top::Refuse.
  std::filesystem::path Folder(std::string_view devicePath, Top top) const;
  // The entry name of the real folder folder. At the top, only share roots are items.
  TreeItem Item(const std::filesystem::path& folder, std::string_view name) const;

  // The items of a folder, unsorted.
  std::vector<TreeItem> List(const std::filesystem::path& folder) const;
  // The items under folder, at any depth, whose names hold keyword (ASCII letters compared
  // without case). Links to folders are reported, not entered.
  std::vector<TreeItem> Search(const std::filesystem::path& folder, std::string_view keyword) const;

  // Sets an item's modification time (seconds since 1970) and reads its status again.
  void SetModifyTime(TreeItem& item, long long seconds) const;
  void CreateFolder(const std::filesystem::path& folder, std::string_view name) const;
  void Remove(const TreeItem& item) const;
  void Rename(const TreeItem& item, std::string_view newName) const;

  // The checks of a copy or move of item into the real folder destination (not the top), in
  // this order: a target inside a source folder (kInsideSource); an existing target: kExists
  // without overwrite, kInsideSource when it is the source itself or holds it. Returns the
  // target.
  std::filesystem::path TargetOf(const TreeItem& item, const std::filesystem::path& destination,
                                 bool overwrite) const;
  // Copies item to target: folders recursively, files piece by piece (holes stay holes), links
  // as links. With overwrite, existing files are replaced and existing folders merged.
  // Throws Refusal on a file-system failure and WorkStopped when progress says to stop.
  static void Copy(const TreeItem& item, const std::filesystem::path& target, bool overwrite,
                   Progress& progress);
  // Moves item to target: a rename when allowed and possible, else a copy and a removal.
  static void Move(const TreeItem& item, const std::filesystem::path& target, bool overwrite,
                   bool renameAllowed, Progress& progress);
  // Renames the finished file from (an upload's data, in the target's file system) to target.
  // A target that is a folder is refused (kExists), and so is any existing one without
  // overwrite; with overwrite an existing file or link is replaced in one step.
  static void PlaceFile(const std::filesystem::path& from, const std::filesystem::path& target,
                        bool overwrite);

 private:
  bool IsTop(const std::filesystem::path& folder) const { return folder == root_; }
  // Walks parts from the real folder start as the kernel resolves a path, never leaving the
  // root: the real path reached. Throws Refusal.
  std::filesystem::path Walk(std::filesystem::path start, std::vector<std::string> parts) const;
  // Resolves an entry of a folder; false (and no refusal) for entries listings leave out.
  bool Describe(const std::filesystem::path& folder, const std::string& name, TreeItem* item,
                long long* refusal) const;
  // The same for an entry whose own status (as lstat gives it) has been read already.
  bool Describe(const std::filesystem::path& folder, const std::string& name, struct stat info,
                TreeItem* item, long long* refusal) const;

  std::filesystem::path root_;  // canonical; empty without a tree
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_FILE_TREE_H
