// vesk cp: copies items into a folder on the device, following the device's job.
#include "CommandSupport.h"
#include "DeviceTree.h"
#include "Paths.h"

namespace vesk::cli {

namespace {

struct CopyOptions {
  std::vector<std::string> paths;  // sources, then the folder
  bool force = false;
};

int RunCopy(const Globals& globals, const CopyOptions& options) {
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

}  // namespace

void RegisterCopy(Registry& registry) {
  CLI::App* command = registry.Add("cp", "Copy items into a folder on the device");
  CopyOptions& options = registry.On(command, &RunCopy);
  command->add_flag("-f,--force", options.force, "Replace items of the same name in the folder");
  command->add_option("paths", options.paths, "Items, then the folder")->required();
}

}  // namespace vesk::cli
