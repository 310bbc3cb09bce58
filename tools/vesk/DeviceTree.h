// What the commands on the device's file tree share: listing a folder, an item's status
// details as JSON, going through several paths, and following a copy or move job.
#ifndef VESK_TOOLS_DEVICE_TREE_H
#define VESK_TOOLS_DEVICE_TREE_H

#include <json/json.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "Connection.h"
#include "VeskHttp.h"

namespace vesk::cli {

// One item of a listing, with its status details when asked for (ls -l).
struct Row {
  std::string folder, name;
  bool isFolder = false;
  long long size = 0;
  std::optional<CVeskHttpFileStatus> status;
};

// The items of a device folder, page by page until the end; "/" lists the share roots. A
// file, rather than a folder, lists as itself.
std::vector<Row> ListFolder(Session& session, const std::string& path);

// A name as a short listing shows it: folders end with "/".
std::string Shown(const std::string& name, bool isFolder);

// Adds the details of an item's status that ls -l and stat show alike.
void AddStatusJson(Json::Value& value, const CVeskHttpFileStatus& status);

// Runs show for each of several device paths, each failure reported on its own (Items). With
// --json, what show appends to `all` goes out as one array at the end; otherwise show prints,
// after a blank line unless `first` (no path before it was shown).
int ForEachPath(
    const Globals& globals, const std::vector<std::string>& paths,
    const std::function<void(const std::string& path, bool first, Json::Value& all)>& show);

// Whether the device path is a folder that items can be copied or moved into.
bool IsFolder(Session& session, const std::string& path);

// Copies or moves source into folder, following the device's job with a progress line.
void RunJob(Session& session, Op op, const std::string& source, const std::string& folder,
            bool force);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_DEVICE_TREE_H
