// Share links: create (allocate, then activate), list and delete.
#include <array>
#include <cstdint>
#include <string>

#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"
#include "filestation/commands/CommandSupport.h"
#include "filestation/commands/ShareLinkReplies.h"

namespace vesk {
namespace {

// The words the device takes for the link's settings, by the request's numbers (from 1).
constexpr std::array<const char*, 2> kDownloadTypes = {"email_download_link",
                                                       "create_download_link"};
constexpr std::array<const char*, 3> kValidDurations = {"forever", "specific_time",
                                                        "period_of_time"};
constexpr std::array<const char*, 2> kNetworkTypes = {"internet", "local"};
constexpr long long kSpecificTime = 2;  // valid duration: until a date

// The word of a number, or null for one outside the table.
template <std::size_t N>
const char* Word(const std::array<const char*, N>& words, long long number) {
  return number >= 1 && number <= static_cast<long long>(N) ? words[number - 1] : nullptr;
}

}  // namespace

void RunCreateShareLink(FSRequest& r) {
  const long long duration = r.Int(L"validdurationtype");
  const char* downloadType = Word(kDownloadTypes, r.Int(L"downloadtype"));
  const char* validDuration = Word(kValidDurations, duration);
  const char* networkType = Word(kNetworkTypes, r.Int(L"networktype"));
  if (!downloadType || !validDuration || !networkType) {
    r.SetResult(VESK_HTTP_INVALID_REQUEST);
    return;
  }
  std::string dateTime, password, host, fileName, folder;
  if (!r.Encode(r.Str(L"datetime"), dateTime) || !r.Encode(r.Str(L"passwrod"), password) ||
      !r.Encode(r.Str(L"hostname"), host) || !r.Encode(r.Str(L"filename"), fileName) ||
      !r.Encode(r.Str(L"filepath"), folder))
    return;
  const bool untilDate = duration == kSpecificTime;
  // Both steps send the same form; the second adds the link and its expiry.
  const std::string form =
      "download_type=" + std::string(downloadType) + "&valid_duration=" + validDuration +
      (untilDate ? "&datetime=" + dateTime : std::string()) +
      "&file_total=1&access_code=" + password +
      "&access_enabled=" + (r.Str(L"passwrod").empty() ? "false" : "true") + "&hostname=" + host +
      "&ssl=" + (r.Int(L"useSSL") != 0 ? "true" : "false") + "&file_name=" + fileName +
      "&path=" + folder + "&network_type=" + networkType;

  // First step: the device allocates the link. A refusal, or an answer without a link, ends
  // the creation there: there is nothing to activate.
  if (!PostForm(r, L"get_share_link", form)) return;
  CWebFileManGetLinkXml allocated;
  allocated.Parse(r.ReplyText());
  if (allocated.status != 1 || allocated.link.empty()) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  r.Out().linkText = allocated.link;
  // A creation cancelled now leaves the link unactivated.
  if (r.Cancelled()) return;

  // Second step: the device activates the link, with the expiry it reported.
  std::string link, expiry = "0";
  if (!r.Encode(allocated.link, link) || (untilDate && !r.Encode(allocated.expiry, expiry))) return;
  if (!PostForm(r, L"share_file", form + "&link_url=" + link + "&expire_time=" + expiry)) return;
  CWebFileManCreateLinkXml activated;
  activated.Parse(r.ReplyText());
  if (activated.status != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  CVeskHttpShareLink& created = r.Out().shareLink;
  created.SetURL(allocated.link.c_str());
  created.SetExpireTime(allocated.expiry.c_str());
  created.SetFileName(r.Str(L"filename").c_str());
}

void RunGetShareList(FSRequest& r) {
  std::wstring sid, direction, field;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"SortDir"), direction) ||
      !r.Encode(r.Str(L"SortField"), field))
    return;
  // The counts travel as 32-bit numbers.
  const auto limit = static_cast<std::int32_t>(r.Int(L"limit"));
  const auto start = static_cast<std::int32_t>(r.Int(L"startIndex"));
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=get_share_list&sid=" + sid + L"&dir=" +
                       direction + L"&limit=" + std::to_wstring(limit) + L"&sort=" + field +
                       L"&start=" + std::to_wstring(start) + L"&tovo_user=1"}))
    return;
  CShareLinkListJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  // The reply's status and maximum count are not used: a list that parses is the answer.
  r.Out().totalCount = reply.total;
  for (const ShareListEntry& entry : reply.entries) {
    CVeskHttpShareLink link;
    link.SetFileName(entry.fileName.c_str());
    link.SetExpireTime(entry.expiry.c_str());
    link.SetURL(entry.downloadLink.c_str());
    r.Out().shareLinks.push_back(std::move(link));
  }
}

void RunDeleteShare(FSRequest& r) {
  std::string link, fileName;
  if (!r.Encode(r.Str(L"sharelink"), link) || !r.Encode(r.Str(L"filename"), fileName)) return;
  if (!PostForm(r, L"delete_share", "file_total=1&download_link=" + link + "&filename=" + fileName))
    return;
  CWebFileManCreateLinkXml reply;
  reply.Parse(r.ReplyText());
  if (reply.status != 1) r.SetResult(VESK_HTTP_SERVER_FAILED);
}

}  // namespace vesk
