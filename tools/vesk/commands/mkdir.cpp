// vesk mkdir: creates device folders, with -p their missing parents too.
#include "CommandSupport.h"
#include "DeviceTree.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct MakeFolderOptions {
  std::vector<std::string> paths;
  bool parents = false;
};

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

}  // namespace

void RegisterMakeFolder(Registry& registry) {
  CLI::App* command = registry.Add("mkdir", "Create folders");
  MakeFolderOptions& options = registry.On(command, &RunMakeFolder);
  command->add_flag("-p,--parents", options.parents,
                    "Create missing parent folders too; an existing\nfolder is fine");
  command->add_option("paths", options.paths, "Device folders to create")->required();
}

}  // namespace vesk::cli
