// vesk stat: the status of device files or folders.
#include "CommandSupport.h"
#include "DeviceTree.h"
#include "Output.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

Json::Value StatusJson(const std::string& path, const CVeskHttpFileStatus& status) {
  Json::Value value =
      ItemJson(Utf8(status.GetFileName()), status.IsDir() != 0, status.GetFileSize());
  value["path"] = path;
  AddStatusJson(value, status);
  return value;
}

int RunStat(const Globals& globals, const std::vector<std::string>& paths) {
  auto session = Connect(globals, Session::kFiles);
  return ForEachPath(globals, paths, [&](const std::string& path, bool first, Json::Value& all) {
    const auto status = StatusOf(*session, path);
    if (!status) throw Failure(kFailed, path + ": no such file or folder");
    const Json::Value value = StatusJson(path, *status);
    if (globals.json) {
      all.append(value);
      return;
    }
    if (!first) PrintLine("");
    Table table;
    table.Add({"path:", path});
    table.Add({"type:", value["type"].asString()});
    table.Add({"size:", std::to_string(status->GetFileSize()) + " (" +
                            HumanBytes(status->GetFileSize()) + ")"});
    table.Add({"modified:", value["modified"].asString()});
    table.Add({"permission:", value["permission"].asString()});
    table.Add({"owner:", value["owner"].asString()});
    table.Add({"group:", value["group"].asString()});
    table.Add({"compressed:", status->IsCommpressed() ? "yes" : "no"});
    table.Print();
  });
}

}  // namespace

void RegisterStat(Registry& registry) {
  CLI::App* command = registry.Add("stat", "Show the status of files or folders");
  std::vector<std::string>& paths = registry.On(command, &RunStat);
  command->add_option("paths", paths, "Device paths")->required();
}

}  // namespace vesk::cli
