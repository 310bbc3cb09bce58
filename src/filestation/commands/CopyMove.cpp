// Copy and move: the device runs them as jobs whose status the routine polls.
#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/CommandSupport.h"
#include "filestation/commands/FileTreeReplies.h"
#include "platform/Text.h"

namespace vesk {
namespace {

// The form both jobs start with.
bool StartJob(FSRequest& r, const wchar_t* function) {
  std::string file, source, dest;
  if (!r.Encode(r.Str(L"sourcefilename"), file) || !r.Encode(r.Str(L"sourcepath"), source) ||
      !r.Encode(r.Str(L"destpath"), dest))
    return false;
  return PostForm(r, function,
                  "source_file=" + file + "&source_total=1&source_path=" + source +
                      "&dest_path=" + dest + "&mode=" + std::to_string(r.Int(L"mode")));
}

// Follows the job named by the request's pid until it is done, fails or is cancelled,
// reporting its percentage to the caller.
void PollJob(FSRequest& r, const wchar_t* statusFunction) {
  if ((!r.ProgressCallback() && !r.NotifyCallback()) || r.Result() != VESK_HTTP_SUCCESS ||
      r.Out().pid.empty())
    return;
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return;
  const std::wstring query = L"filemanager/utilRequest.cgi?func=" + std::wstring(statusFunction) +
                             L"&sid=" + sid + L"&pid=" +
                             std::to_wstring(LeadingDecimal64(ToUtf8(r.Out().pid)));
  const JobState state = FollowJob(r, [&](JobState& job) {
    if (r.Call({.path = query})) {
      CGetMoveStatusJson reply;
      if (reply.Parse(r.ReplyText()) != 1) {
        r.SetResult(VESK_HTTP_SERVER_FAILED);
      } else {
        job.lastStatus = reply.status;
        if (reply.status == 0) {
          r.SetResult(VESK_HTTP_SERVER_FAILED);
        } else {
          job.percent = reply.percent;
          r.SetResult(VESK_HTTP_SUCCESS);
        }
      }
    }
    if (job.percent < 100) r.ReportJobProgress(job.percent);
  });
  if (state.percent == 100) r.ReportJobProgress(100);
}

}  // namespace

void RunCopy(FSRequest& r) {
  if (!StartJob(r, L"copy")) return;
  JobStartReply reply;
  if (ParseJobStartReply(r.ReplyText(), reply) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  switch (reply.status) {
    case 1:
      r.Out().pid = std::to_wstring(reply.jobId);
      break;
    case 2:
      r.SetResult(VESK_HTTP_DEVICE_STATUS_2);
      return;
    case 4:
      r.SetResult(VESK_HTTP_DEVICE_STATUS_4);
      return;
    default:
      r.SetResult(VESK_HTTP_SERVER_FAILED);
      return;
  }
  PollJob(r, L"get_copy_status");
}

void RunMove(FSRequest& r) {
  if (!StartJob(r, L"move")) return;
  CWebFileManGetResultJson reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.status == 0) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  r.Out().pid = reply.pid;
  PollJob(r, L"get_move_status");
}

}  // namespace vesk
