// File status and search.
#include "filestation/CommandRoutines.h"
#include "filestation/Commands.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/CommandSupport.h"

namespace vesk {

void RunStat(FSRequest& r) {
  std::wstring sid, path, name;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"folderpath"), path) ||
      !r.Encode(r.Str(L"filename"), name))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=stat&sid=" + sid + L"&path=" + path +
                       L"&file_total=1&file_name=" + name}))
    return;
  ReadStatReply(r);
}

void RunSearch(FSRequest& r) {
  std::wstring sid, keyword, path, dir, sort, computer;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"keyword"), keyword) ||
      !r.Encode(r.Str(L"folderpath"), path) || !r.Encode(r.Str(L"SortDir"), dir) ||
      !r.Encode(r.Str(L"SortField"), sort) || !r.Encode(r.Str(L"computername"), computer))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=search&sid=" + sid + L"&keyword=" +
                       keyword + L"&source_path=" + path + L"&dir=" + dir + L"&limit=" +
                       std::to_wstring(r.Int(L"limit")) + L"&sort=" + sort + L"&start=" +
                       std::to_wstring(r.Int(L"startIndex")) + L"&tovo_user=1&tovo_computer=" +
                       computer}))
    return;
  CGetPathInfoJson reply;
  reply.pattern = r.Str(L"pathName");
  reply.pathInfoFlags = static_cast<int>(r.Int(L"PathInfoFlags"));
  // A search's entries carry names and sizes only, a search with status everything.
  const bool statuses = r.Command() == FS_CMD_SEARCH_STATUS;
  reply.keepTexts = statuses;
  if (!ReadListing(r, reply)) return;
  if (statuses) {
    StoreFileStatuses(r, reply);
  } else {
    StoreFileEntries(r, reply);
  }
}

}  // namespace vesk
