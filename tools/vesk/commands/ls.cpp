// vesk ls: lists device folders, page by page until the end; and vesk shares, the share
// roots, which are the listing of "/".
#include "CommandSupport.h"
#include "DeviceTree.h"
#include "Output.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct ListOptions {
  std::vector<std::string> paths;
  bool longFormat = false, human = false;
};

Json::Value RowJson(const Row& row) {
  Json::Value value = ItemJson(row.name, row.isFolder, row.size);
  value["path"] = row.folder.empty() ? "/" : row.folder;
  if (row.status) AddStatusJson(value, *row.status);
  return value;
}

std::string SizeText(long long size, bool human) {
  return human ? HumanBytes(size) : std::to_string(size);
}

void PrintRows(const std::vector<Row>& rows, const ListOptions& options) {
  if (!options.longFormat) {
    for (const Row& row : rows) PrintLine(Shown(row.name, row.isFolder));
    return;
  }
  Table table({4});
  for (const Row& row : rows) {
    const auto& s = row.status;
    const auto text = [&](const wchar_t* value) {
      const std::string utf8 = s ? Utf8(value) : std::string();
      return utf8.empty() ? std::string("?") : utf8;
    };
    table.Add({row.isFolder ? "d" : "-", text(s ? s->GetFolderPermission() : L""),
               text(s ? s->GetOwner() : L""), text(s ? s->GetGroup() : L""),
               row.isFolder ? "-" : SizeText(row.size, options.human), text(s ? s->GetMT() : L""),
               row.name});
  }
  table.Print();
}

int RunList(const Globals& globals, const ListOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const std::vector<std::string> paths =
      options.paths.empty() ? std::vector<std::string>{"/"} : options.paths;
  return ForEachPath(globals, paths, [&](const std::string& path, bool first, Json::Value& all) {
    std::vector<Row> rows = ListFolder(*session, path);
    if (options.longFormat) {
      for (Row& row : rows) {
        if (!row.status) row.status = StatusOf(*session, Join(row.folder, row.name));
      }
    }
    if (globals.json) {
      for (const Row& row : rows) all.append(RowJson(row));
      return;
    }
    if (paths.size() > 1) {
      if (!first) PrintLine("");
      PrintLine(path + ":");
    }
    PrintRows(rows, options);
  });
}

}  // namespace

void RegisterShares(Registry& registry) {
  registry.On(registry.Add("shares", "List the share roots (like 'ls /')"),
              [](const Globals& globals) {
                ListOptions options;
                options.paths = {"/"};
                return RunList(globals, options);
              });
}

void RegisterList(Registry& registry) {
  CLI::App* command = registry.Add("ls", "List folders, page by page until the end");
  ListOptions& options = registry.On(command, &RunList);
  command->add_flag("-l,--long", options.longFormat,
                    "Show type, permission, owner, group, size and\nmodification time");
  command->add_flag("-h,--human-readable", options.human, "Show sizes as KiB, MiB, GiB");
  command->add_option("paths", options.paths, "Device folders (default: /, the share roots)");
}

}  // namespace vesk::cli
