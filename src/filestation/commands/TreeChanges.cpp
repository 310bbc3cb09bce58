// Create folder, delete, rename and set modification time.
#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/CommandSupport.h"

namespace vesk {
namespace {

// The result of a change the device answers with a status reply. A reply that does not say
// "success" "true" failed; status 4 is refused; status 2 too, unless the command treats it
// as done (a delete of what is already gone).
int ChangeResult(const std::string& reply, bool status2Refused) {
  CWebFileManGetResultJson result;
  if (result.Parse(reply) != 1 || result.success == 0) return VESK_HTTP_SERVER_FAILED;
  if (result.status == 2 && status2Refused) return VESK_HTTP_DEVICE_STATUS_2;
  if (result.status == 4) return VESK_HTTP_DEVICE_STATUS_4;
  return VESK_HTTP_SUCCESS;
}

}  // namespace

void RunCreateFolder(FSRequest& r) {
  std::wstring sid, name, parent, computer;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"createfoldername"), name) ||
      !r.Encode(r.Str(L"parentfolderpath"), parent) || !r.Encode(r.Str(L"computername"), computer))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=createdir&sid=" + sid + L"&dest_folder=" +
                       name + L"&dest_path=" + parent + L"&tovo_user=1&tovo_computer=" + computer}))
    return;
  r.SetResult(ChangeResult(r.ReplyText(), true));
}

void RunDelete(FSRequest& r) {
  std::string name, path;
  if (!r.Encode(r.Str(L"deletename"), name) || !r.Encode(r.Str(L"deletepath"), path)) return;
  if (!PostForm(r, L"delete", "file_name=" + name + "&file_total=1&path=" + path)) return;
  r.SetResult(ChangeResult(r.ReplyText(), false));
}

void RunRename(FSRequest& r) {
  std::string path, source, dest;
  if (!r.Encode(r.Str(L"folderpath"), path) || !r.Encode(r.Str(L"filename"), source) ||
      !r.Encode(r.Str(L"newfilename"), dest))
    return;
  if (!PostForm(r, L"rename", "path=" + path + "&source_name=" + source + "&dest_name=" + dest))
    return;
  r.SetResult(ChangeResult(r.ReplyText(), true));
}

void RunSetModifyTime(FSRequest& r) {
  std::wstring sid, path, name;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"folderpath"), path) ||
      !r.Encode(r.Str(L"filename"), name))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=stat&sid=" + sid + L"&settime=1&mtime=" +
                       std::to_wstring(r.Int(L"modifyTime")) + L"&path=" + path +
                       L"&file_total=1&file_name=" + name}))
    return;
  ReadStatReply(r);
}

}  // namespace vesk
