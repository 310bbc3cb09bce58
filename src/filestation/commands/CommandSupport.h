// What the file-service command families share: reading listing replies, the device-status
// tables, the filling of status records and the pace of following a device job.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

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
// The reply's text is no longer needed by then and goes first; each entry's name goes as its
// record is made, so that a long listing is not held twice over.
inline void StoreFileEntries(FSRequest& request, CGetPathInfoJson& reply) {
  request.DiscardReply();
  request.Out().totalCount = reply.total;
  const std::wstring& folder = request.Str(L"folderpath");
  std::vector<CVeskHttpFileEntry>& records = request.Out().fileEntries;
  records.reserve(records.size() + reply.entries.size());
  for (PathInfoEntry& entry : reply.entries) {
    const std::wstring name = std::move(entry.name);
    records.emplace_back(entry.isFolder ? 1 : 0, entry.size, folder.c_str(), name.c_str());
  }
}

// The status records of a listing reply (stat, set time, and the listings and searches with
// status): the count, then one record per entry, each in the folder the request names, with
// every field the entry carries. As with StoreFileEntries, the reply's text goes first and each
// entry's texts as its record is made.
inline void StoreFileStatuses(FSRequest& request, CGetPathInfoJson& reply) {
  request.DiscardReply();
  request.Out().totalCount = reply.total;
  const std::wstring& folder = request.Str(L"folderpath");
  std::vector<CVeskHttpFileStatus>& records = request.Out().fileStatuses;
  records.reserve(records.size() + reply.entries.size());
  for (PathInfoEntry& e : reply.entries) {
    const PathInfoTexts& t = e.Texts();
    CVeskHttpFileStatus& record = records.emplace_back(
        e.isFolder ? 1 : 0, e.isCompressed ? 1 : 0, e.size, t.permissionText.c_str(),
        folder.c_str(), e.name.c_str(), t.group.c_str(), t.owner.c_str(), t.modifyTimeText.c_str());
    record.SetModifyTime64(t.modifyTime);
    e = PathInfoEntry();  // the record holds it all now
  }
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

// A form POST to a utilRequest function, with the request's sid in the query; false with the
// result set when it failed.
inline bool PostForm(FSRequest& r, const wchar_t* function, std::string body) {
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return false;
  return r.Call(
      {.path = L"filemanager/utilRequest.cgi?func=" + std::wstring(function) + L"&sid=" + sid,
       .post = true,
       .headers = RequestHeaders::Form,
       .body = std::move(body)});
}

// The result of a job-start reply whose status is not 1, the device having started nothing:
// the statuses with codes of their own, and a failure for any other, so that a refusal is never
// taken for success.
inline int JobRefusalResult(int status) {
  switch (status) {
    case 2:
      return VESK_HTTP_DEVICE_STATUS_2;
    case 4:
      return VESK_HTTP_DEVICE_STATUS_4;
    case 5:
      return VESK_HTTP_DEVICE_STATUS_5;
    default:
      return VESK_HTTP_SERVER_FAILED;
  }
}

// Whether the device takes a modification time: from 1 second after 1970 began to the end of the
// year 9999. Others are refused before anything is sent, never cut to fit.
inline constexpr long long kLatestModifyTime = 253402300799LL;
inline bool DeviceTakesTime(long long seconds) {
  return seconds >= 1 && seconds <= kLatestModifyTime;
}

// ---- following a device job ----

// The state of a device job as its status queries have read it.
struct JobState {
  int percent = 0;     // the job's percentage so far
  int lastStatus = 0;  // the device status of the last query that was read; 0 before any
};

// The first status query follows the start at once; later ones are spaced by a pause that
// starts here and doubles up to the maximum.
inline constexpr std::chrono::milliseconds kFirstPollInterval{100};
inline constexpr std::chrono::milliseconds kMaxPollInterval{1000};
// A job whose status cannot be read this many times in a row is given up with the last
// failure's result: the device is gone or no longer knows the job.
inline constexpr int kMaxFailedQueries = 5;

// Follows a device job. `query(state)` makes one status query: it sets the request's result
// (0 or VESK_HTTP_IN_PROGRESS when the status was read and the job is fine, another code when
// the query failed), updates the state and reports progress. Polling ends when the cancel flag
// is set (also during a pause, at once), when the job reached 100 percent, when the last status
// read is 0 or below (so a failure of the very first query ends it), or after
// kMaxFailedQueries failed queries in a row.
template <typename Query>
JobState FollowJob(FSRequest& request, Query&& query) {
  JobState state;
  int failures = 0;
  std::chrono::milliseconds interval{0};
  // A pause of zero only looks at the flag: a job cancelled already is not queried.
  while (request.Pause(interval)) {
    interval = std::clamp(interval * 2, kFirstPollInterval, kMaxPollInterval);
    query(state);
    const int result = request.Result();
    failures = result == VESK_HTTP_SUCCESS || result == VESK_HTTP_IN_PROGRESS ? 0 : failures + 1;
    if (request.FlagSet() || state.percent >= 100 || state.lastStatus <= 0 ||
        failures >= kMaxFailedQueries)
      break;
  }
  return state;
}

}  // namespace vesk
