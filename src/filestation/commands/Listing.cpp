// Share roots and folder listings.
#include "filestation/CommandRoutines.h"
#include "filestation/Commands.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/CommandSupport.h"
#include "filestation/commands/FileTreeReplies.h"

namespace vesk {

void RunGetShareRoots(FSRequest& r) {
  std::wstring sid, node, computer;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"sharefolderpath"), node) ||
      !r.Encode(r.Str(L"computername"), computer))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=get_tree&sid=" + sid +
                       L"&is_iso=0&node=" + node + L"&tovo_user=1&tovo_computer=" + computer}))
    return;
  CGetFolderInfoJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  if (reply.status != 0) {
    r.SetResult(DeviceStatusResult(reply.status));
    return;
  }
  for (const PathInfoEntry& entry : reply.entries)
    r.Out().fileEntries.emplace_back(1, 0, L"", entry.name.c_str());
}

void RunGetList(FSRequest& r) {
  std::wstring sid, path, dir, sort;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"folderpath"), path) ||
      !r.Encode(r.Str(L"SortDir"), dir) || !r.Encode(r.Str(L"SortField"), sort))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=get_list&sid=" + sid +
                       L"&is_iso=0&list_mode=all&path=" + path + L"&dir=" + dir + L"&limit=" +
                       std::to_wstring(r.Int(L"limit")) + L"&sort=" + sort + L"&start=" +
                       std::to_wstring(r.Int(L"startIndex")),
               .headers = RequestHeaders::NoCache}))
    return;
  CGetPathInfoJson reply;
  reply.pattern = r.Str(L"pathName");
  reply.pathType = static_cast<int>(r.Int(L"PathType", kPathKindFiles | kPathKindFolders));
  reply.pathInfoFlags = static_cast<int>(r.Int(L"PathInfoFlags"));
  // A listing's entries carry names and sizes only, a listing with status everything.
  const bool statuses = r.Command() == FS_CMD_GET_STATUS_LIST;
  reply.keepTexts = statuses;
  if (!ReadListing(r, reply)) return;
  if (statuses) {
    StoreFileStatuses(r, reply);
  } else {
    StoreFileEntries(r, reply);
  }
}

}  // namespace vesk
