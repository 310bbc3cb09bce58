// vesk mv: renames items, moves them into a folder, or both, on the device.
#include "CommandSupport.h"
#include "DeviceTree.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct MoveOptions {
  std::vector<std::string> paths;  // sources, then the destination
  bool force = false;
};

// Refuses a change that would need the device to replace an item without -f.
void CheckTarget(Session& session, const std::string& target, bool force) {
  if (!force && StatusOf(session, target)) {
    throw Failure(kFailed, target + ": already exists (-f replaces it)");
  }
}

int RunMove(const Globals& globals, const MoveOptions& options) {
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

}  // namespace

void RegisterMove(Registry& registry) {
  CLI::App* command = registry.Add("mv", "Rename or move items",
                                   "  vesk mv /P/a /P/b       renames a to b\n"
                                   "  vesk mv /P/a /P/b /Q    moves a and b into the folder /Q\n"
                                   "  vesk mv /P/a /Q/c       moves a into /Q and names it c");
  MoveOptions& options = registry.On(command, &RunMove);
  command->add_flag("-f,--force", options.force, "Replace items of the same name in the folder");
  command->add_option("paths", options.paths, "Items, then the new path or the folder")->required();
}

}  // namespace vesk::cli
