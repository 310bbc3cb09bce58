// vesk find: items by name at any depth below a device folder, as the device's search finds
// them.
#include "CommandSupport.h"
#include "DeviceTree.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct FindOptions {
  std::string folder, keyword;
  int limit = 1000;
};

int RunFind(const Globals& globals, const FindOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const std::string folder = DevicePath(options.folder);
  // The device searches below a share root; "/" searches each of them.
  std::vector<std::string> folders;
  if (folder == "/") {
    for (const Row& share : ListFolder(*session, folder)) folders.push_back("/" + share.name);
  } else {
    folders.push_back(folder);
  }
  Json::Value all(Json::arrayValue);
  for (const std::string& searched : folders) {
    std::vector<CVeskHttpFileEntry> hits;
    session->Run(Op::Search, searched, [&] {
      return session->Files().SearchFile(Wide(searched).c_str(), Wide(options.keyword).c_str(),
                                         options.limit, CancelFlag(), &hits);
    });
    for (const auto& hit : hits) {
      const std::string name = Utf8(hit.GetFileName());
      if (globals.json) {
        Json::Value value = ItemJson(name, hit.IsDir() != 0, hit.GetFileSize());
        value["searched"] = searched;
        all.append(value);
      } else {
        PrintLine(Shown(name, hit.IsDir() != 0));
      }
    }
  }
  if (globals.json) PrintJson(all);
  return kOk;
}

}  // namespace

void RegisterFind(Registry& registry) {
  CLI::App* command =
      registry.Add("find", "Find items by name at any depth below a folder",
                   "The device reports the names it finds, not the folder each one is in.");
  FindOptions& options = registry.On(command, &RunFind);
  command->add_option("folder", options.folder, "Device folder to search")->required();
  command->add_option("keyword", options.keyword, "Text the names hold (ASCII case ignored)")
      ->required();
  command->add_option("--limit", options.limit, "At most this many hits")
      ->check(CLI::PositiveNumber);
}

}  // namespace vesk::cli
