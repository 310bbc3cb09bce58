// vesk rm: deletes device files, and with -r folders with everything in them.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct RemoveOptions {
  std::vector<std::string> paths;
  bool recursive = false;
};

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

}  // namespace

void RegisterRemove(Registry& registry) {
  CLI::App* command = registry.Add("rm", "Delete files (and, with -r, folders)");
  RemoveOptions& options = registry.On(command, &RunRemove);
  command->add_flag("-r,--recursive", options.recursive,
                    "Delete folders too, with everything in them");
  command->add_option("paths", options.paths, "Device paths")->required();
}

}  // namespace vesk::cli
