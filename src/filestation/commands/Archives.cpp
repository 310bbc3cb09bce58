// Compress and extract, which the device runs as jobs that the routines can follow and cancel,
// and the listing of an archive's entries.
#include <string>

#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/ArchiveReplies.h"
#include "filestation/commands/CommandSupport.h"
#include "platform/Text.h"

namespace vesk {
namespace {

// The device functions of one kind of archive job.
struct ArchiveJob {
  const wchar_t* start;   // starts the job (a form POST)
  const wchar_t* status;  // reports its state
  const wchar_t* cancel;  // stops it
};

constexpr ArchiveJob kCompressJob{L"compress", L"get_compress_status", L"cancel_compress"};
constexpr ArchiveJob kExtractJob{L"extract", L"get_extract_status", L"cancel_extract"};

// The device statuses of a job's state: done, or still working.
constexpr int kJobDone = 1;
constexpr int kJobRunning = 6;

std::wstring UtilRequest(const wchar_t* function, const std::wstring& sid) {
  return L"filemanager/utilRequest.cgi?func=" + std::wstring(function) + L"&sid=" + sid;
}

// A name list as the station prepared it: its fields already percent-encoded name by name, so
// that they go out as they stand.
std::string NameList(FSRequest& r, const wchar_t* key) { return ToUtf8(r.Str(key)); }

// The low 32 bits of an integer parameter, as decimal text.
std::string IntField(FSRequest& r, const wchar_t* key) {
  return std::to_string(static_cast<int>(r.Int(key)));
}

// Posts the form that starts a job and reads the device's answer. true when the device took
// the job and named it (its id is then the request's pid); otherwise the result is set.
bool StartJob(FSRequest& r, const ArchiveJob& job, std::string body) {
  if (!PostForm(r, job.start, std::move(body))) return false;
  JobStartReply reply;
  if (ParseJobStartReply(r.ReplyText(), reply) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return false;
  }
  if (reply.status != 1) {
    r.SetResult(JobRefusalResult(reply.status));
    return false;
  }
  r.Out().pid = std::to_wstring(reply.jobId);
  return true;
}

// Asks the device to stop a job. The exchange goes out although the cancel flag is set; its
// outcome is the result until the cancel overrides it.
void CancelJob(FSRequest& r, const std::wstring& path) {
  if (!r.Call({.path = path, .ignoreCancel = true})) return;
  CWebFileManGetResultJson reply;
  r.SetResult(reply.Parse(r.ReplyText()) == 1 && reply.status == 1 ? VESK_HTTP_SUCCESS
                                                                   : VESK_HTTP_SERVER_FAILED);
}

// Follows a started job when the caller watches its progress: polls its state until it is
// done, fails or is cancelled, and when the caller cancelled, stops the job on the device too.
void FollowArchiveJob(FSRequest& r, const ArchiveJob& job, const std::wstring& sid) {
  if (!r.ProgressCallback() && !r.NotifyCallback()) return;
  const std::wstring pid = L"&pid=" + std::to_wstring(LeadingDecimal(ToUtf8(r.Out().pid)));
  const std::wstring statusQuery = UtilRequest(job.status, sid) + pid;
  const JobState state = FollowJob(r, [&](JobState& s) {
    if (r.Call({.path = statusQuery})) {
      CWebFileManGetResultJson reply;
      if (reply.Parse(r.ReplyText()) != 1) {
        r.SetResult(VESK_HTTP_SERVER_FAILED);
      } else {
        s.lastStatus = reply.status;
        if (reply.status == kJobDone) {
          s.percent = 100;
          r.SetResult(VESK_HTTP_SUCCESS);
        } else if (reply.status == kJobRunning) {
          s.percent = 0;
          r.SetResult(VESK_HTTP_IN_PROGRESS);
        } else {
          r.SetResult(VESK_HTTP_SERVER_FAILED);
        }
      }
    }
    if (r.Result() == VESK_HTTP_IN_PROGRESS && s.percent < 100) r.ReportJobProgress(s.percent);
  });
  // Polling stopped by a flag other than cancel leaves a job that is still running: it was
  // started, which is a success (in-progress is never a final result).
  if (r.Result() == VESK_HTTP_IN_PROGRESS) r.SetResult(VESK_HTTP_SUCCESS);
  if (r.Cancelled()) CancelJob(r, UtilRequest(job.cancel, sid) + pid);
  if (state.percent == 100) r.ReportJobProgress(100);
}

}  // namespace

void RunCompress(FSRequest& r) {
  std::wstring sid;
  std::string name, format, level, password, encryption, folder, updateMode;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"compressName"), name) ||
      !r.Encode(r.Str(L"compressFormat"), format) || !r.Encode(r.Str(L"compressLevel"), level) ||
      !r.Encode(r.Str(L"password"), password) || !r.Encode(r.Str(L"compressEncrypt"), encryption) ||
      !r.Encode(r.Str(L"compressFilePath"), folder) ||
      !r.Encode(r.Str(L"compressUpdateMode"), updateMode))
    return;
  std::string body = "compress_name=" + name + "&type=" + format + "&level=" + level +
                     "&pwd=" + password + "&encryipt=" + encryption + "&path=" + folder +
                     "&total=" + IntField(r, L"totalFileNum") + "&mode=" + updateMode + "&" +
                     NameList(r, L"compressFileNameList");
  if (StartJob(r, kCompressJob, std::move(body))) FollowArchiveJob(r, kCompressJob, sid);
}

void RunExtract(FSRequest& r) {
  std::wstring sid;
  std::string archive, dest, password, mode, pathMode;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"ExtractedFile"), archive) ||
      !r.Encode(r.Str(L"destPath"), dest) || !r.Encode(r.Str(L"password"), password) ||
      !r.Encode(r.Str(L"extractMode"), mode) || !r.Encode(r.Str(L"extractPathMode"), pathMode))
    return;
  std::string body = "extract_file=" + archive + "&dest_path=" + dest + "&pwd=" + password +
                     "&mode=" + mode + "&overwrite=" + IntField(r, L"overWrite") +
                     "&path_mode=" + pathMode +
                     "&code_page=UTF-8&part_total=" + IntField(r, L"partTotalFileNum") + "&" +
                     NameList(r, L"extractFileNameList");
  if (StartJob(r, kExtractJob, std::move(body))) FollowArchiveJob(r, kExtractJob, sid);
}

void RunGetExtractList(FSRequest& r) {
  std::wstring sid, archive, sort, dir;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"ExtractedFile"), archive) ||
      !r.Encode(r.Str(L"Sort"), sort) || !r.Encode(r.Str(L"SortDir"), dir))
    return;
  if (!r.Call({.path = UtilRequest(L"get_extract_list", sid) + L"&path=/&extract_file=" + archive +
                       L"&code_page=UTF-8&start=" +
                       std::to_wstring(static_cast<int>(r.Int(L"startIndex"))) + L"&limit=" +
                       std::to_wstring(static_cast<int>(r.Int(L"limit"))) + L"&sort=" + sort +
                       L"&dir=" + dir}))
    return;
  CGetListExtractedFileInfoJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  r.Out().extraCount = reply.total;
  switch (reply.status) {
    case 0:
      for (const ExtractListEntry& e : reply.entries)
        r.Out().extractEntries.emplace_back(e.isFolder ? 1 : 0, e.size, e.compressedSize,
                                            e.modifyTimeText.c_str(), e.name.c_str());
      break;
    case 4:
      r.SetResult(VESK_HTTP_DEVICE_STATUS_4);
      break;
    case 5:
      r.SetResult(VESK_HTTP_DEVICE_STATUS_5);
      break;
    default:
      r.SetResult(VESK_HTTP_SERVER_FAILED);
      break;
  }
}

}  // namespace vesk
