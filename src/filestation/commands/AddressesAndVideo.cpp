// The device's addresses, and its video transcoding queue.
#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"
#include "filestation/ParserBase.h"
#include "filestation/commands/AddressReplies.h"
#include "filestation/commands/CommandSupport.h"

namespace vesk {
namespace {

// Queues or drops a video's transcoding. The device starts a job and the routine leaves it to
// run: its id is kept, but nothing follows it.
// The query is the function, the sid, then the words before the folder and before the name.
void RunVideoCommand(FSRequest& r, const wchar_t* folderKey, const wchar_t* nameKey,
                     const wchar_t* function, const wchar_t* beforeFolder,
                     const wchar_t* beforeName) {
  std::wstring sid, folder, name;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(folderKey), folder) ||
      !r.Encode(r.Str(nameKey), name))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=" + std::wstring(function) + L"&sid=" +
                       sid + beforeFolder + folder + beforeName + name,
               .headers = RequestHeaders::NoCache}))
    return;
  JobStartReply reply;
  if (ParseJobStartReply(r.ReplyText(), reply) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  if (reply.status == 1)
    r.Out().pid = std::to_wstring(reply.jobId);
  else
    r.SetResult(JobRefusalResult(reply.status));
}

}  // namespace

void RunGetDomainIPList(FSRequest& r) {
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=get_domain_ip_list&sid=" + sid})) return;
  CGetDomainIPListJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  r.Out().nasInfo = CVeskHttpNASInfo(reply.cloudHostName.c_str(), reply.externalIP.c_str(),
                                     reply.localIP.c_str(), reply.hostIP.c_str());
}

void RunVideoQueue(FSRequest& r) {
  RunVideoCommand(r, L"VideoTranscodeFilePath", L"VideoTranscodeFileName", L"video_ml_queue",
                  L"&op=3&subop=0&path=", L"&total=1&filename=");
}

void RunDeleteTranscode(FSRequest& r) {
  RunVideoCommand(r, L"DeleteVideoTranscodeFilePath", L"DeleteVideoTranscodeFileName",
                  L"delete_transcode", L"&op=5&path=", L"&file_total=1&mode=2&file_name=");
}

}  // namespace vesk
