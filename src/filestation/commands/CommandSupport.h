// What the file-service command families share: reading listing replies, the device-status
// tables and the filling of status records.
#pragma once

#include <string>

#include "VeskHttp.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/FileTreeReplies.h"

namespace vesk {

// A listing's non-zero device status: 4 has a code of its own, anything else fails.
inline int DeviceStatusResult(int status) {
  return status == 4 ? VESK_HTTP_DEVICE_STATUS_4 : VESK_HTTP_SERVER_FAILED;
}

// Parses a listing reply; false with the result set when it is unusable or reports failure.
inline bool ReadListing(FSRequest& request, CGetPathInfoJson& reply) {
  if (reply.Parse(request.ReplyText()) != 1) {
    request.SetResult(VESK_HTTP_SERVER_FAILED);
    return false;
  }
  if (reply.status != 0) {
    request.SetResult(DeviceStatusResult(reply.status));
    return false;
  }
  return true;
}

// The entries of a listing or a search, each in the folder the request names: the device's
// entries carry no folder of their own.
inline void StoreFileEntries(FSRequest& request, const CGetPathInfoJson& reply) {
  request.Out().totalCount = reply.total;
  const std::wstring& folder = request.Str(L"folderpath");
  for (const PathInfoEntry& entry : reply.entries)
    request.Out().fileEntries.emplace_back(entry.isFolder ? 1 : 0, entry.size, folder.c_str(),
                                           entry.name.c_str());
}

// The status replies of stat and set time: the count, then one record per entry.
inline void StoreFileStatuses(FSRequest& request, const CGetPathInfoJson& reply) {
  request.Out().totalCount = reply.total;
  const std::wstring& folder = request.Str(L"folderpath");
  for (const PathInfoEntry& e : reply.entries)
    request.Out().fileStatuses.emplace_back(
        e.isFolder ? 1 : 0, e.isCompressed ? 1 : 0, e.size, e.permissionText.c_str(),
        folder.c_str(), e.name.c_str(), e.group.c_str(), e.owner.c_str(), e.modifyTimeText.c_str());
}

// A stat request for one item (also with settime): its listing reply read with the item's
// name as the pattern.
inline bool ReadStatReply(FSRequest& request) {
  CGetPathInfoJson reply;
  reply.pattern = request.Str(L"filename");
  reply.pathInfoFlags = static_cast<int>(request.Int(L"PathInfoFlags"));
  if (!ReadListing(request, reply)) return false;
  StoreFileStatuses(request, reply);
  return true;
}

}  // namespace vesk
