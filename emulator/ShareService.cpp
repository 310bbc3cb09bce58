// The file service's functions that publish a file: share links, and the viewer and thumbnail
// links a browser opens. Each is utilRequest.cgi?func=NAME&sid=S&...; like the tree functions
// they take any live sid, resolve every path inside --root (FileTree.h), and decode every
// query and form value once.
//
// Share links. A link is a URL that downloads one file to anyone who opens it with any HTTP
// client, on the port and scheme it was made for:
//     http(s)://HOST:PORT/shared/ID            ID: 32 lower-case hexadecimal digits
//     http(s)://HOST:PORT/shared/ID?access_code=CODE   for a link with an access code
// Opening it answers 200 with the file's bytes (application/octet-stream, as an attachment
// named like the file), 403 for a missing or wrong access code, 404 for an unknown, deleted
// or never confirmed link and for a file that is gone, 410 for a link past its expiry.
//
//   POST get_share_link, a form: download_type (create_download_link or email_download_link),
//       valid_duration (forever, or specific_time with datetime), file_total=1, access_code,
//       access_enabled (true: the link asks for access_code, which must not be empty),
//       hostname (the host the client reached the device by; the link's host), ssl (true:
//       an https link on the TLS port), file_name (the file's device path; a bare name is
//       taken inside path), path (its folder), network_type (internet or local): allocates a
//       link for the file and answers
//       {"status":1,"expire_time":E,"link_url":U,"filename":F}, E "0" for a link that never
//       expires, else "YYYY-MM-DDThh:mm:ss" in local time, F the file's device path. The reply
//       is read by a scanner that takes the first occurrence of each key and stops a value at
//       "," or "}": the keys come in this order, and E and U carry no space, "," or "}".
//   POST share_file, the same form and link_url=U, expire_time=E: confirms the link, which
//       works from then on. The form must name the same file, access code and expiry as the
//       one that allocated it. {"status":1,"success":"true"}.
//   GET get_share_list dir (ASC or DESC), sort=filename, start, limit (all without it):
//       {"status":1,"total":T,"max_share_file":M,"datas":[{"ssid","filename","download_link",
//       "expire_time","creator"},...]}: the confirmed links sorted by filename (ties in the
//       order they were made), T their count, datas the page from start.
//   POST delete_share file_total=1, download_link (a link's URL), filename (its file's device
//       path): the link stops working. {"status":1,"success":"true"}.
// datetime: "YYYY-MM-DD hh:mm:ss", "YYYY-MM-DD hh:mm" or "YYYY-MM-DD" (the end of that day),
// local time; "/" may stand for "-" and "T" for the space.
//
// Refusals: {"status":S,"success":"false"}, with the statuses of FileTree.h: 3 no live
// session; 4 no such file (missing, a folder, not permitted), and for share_file and
// delete_share no such link for that file; 5 a path or name the device does not take, a host
// name that cannot stand in a URL, an expiry that is unreadable or already past, an access
// code asked for but empty, an https link while the device serves no HTTPS, and a share_file
// whose access code or expiry differ from the allocation's; 9 the device holds
// ShareLinkTable::kMaxActive links already. A valid_duration other than forever and
// specific_time, or another malformed field, gets 400.
//
//   GET utilRequest.cgi/NAME?func=get_viewer&sid=S&source_path=P&source_file=F: the file's
//       bytes, streamed, with a Content-Type by its extension; NAME is only what a browser
//       saves the file as. Replies are sandboxed (Content-Security-Policy), so that a page
//       shown from the device runs no script.
//   GET get_thumb path, name, size (1 to 1024): a PNG of the image file scaled to fit in
//       size x size pixels, made with libgd (png, jpeg, gif, bmp, webp, tiff).
// Both are opened by browsers and answer HTTP errors: 403 no live session, 404 no such file
// (missing, a folder, not permitted), 400 a path or name the device does not take or a
// malformed query, and for get_thumb 415 for a file that is not an image it can read.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/FileTree.h"
#include "emulator/Replies.h"
#include "emulator/Router.h"
#include "emulator/Thumbnail.h"
#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPath = "/cgi-bin/filemanager/utilRequest.cgi";
constexpr const char* kLinkPath = "/shared";
constexpr const char* kAccessCode = "access_code";
constexpr const char* kNeverExpires = "0";
// The device holds as many links as it may.
constexpr long long kTooManyLinks = 9;
constexpr std::size_t kLinkIdLength = 32;
constexpr unsigned long long kMaxThumbnail = 1024;

std::time_t Now(const DeviceState& device) { return device.Now(); }

httpd::Response Refused(long long status) {
  return JsonReply(JsonObject().Add("status", status).Add("success", "false"));
}

// --- Texts ------------------------------------------------------------------------------------

std::string Digits(int value, std::size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

// "YYYY-MM-DDThh:mm:ss" in local time: no space, "," or "}" for the reply scanner.
std::string ExpiryText(std::time_t when) {
  tm parts{};
  if (!localtime_r(&when, &parts)) return std::to_string(when);
  return Digits(parts.tm_year + 1900, 4) + '-' + Digits(parts.tm_mon + 1, 2) + '-' +
         Digits(parts.tm_mday, 2) + 'T' + Digits(parts.tm_hour, 2) + ':' + Digits(parts.tm_min, 2) +
         ':' + Digits(parts.tm_sec, 2);
}

// The number the count digits at text[at] write; -1 when any of them is not a digit.
int DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// A date-time as the device takes it (see the top of this file), in local time.
std::optional<std::time_t> ParseDateTime(std::string_view text) {
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
  const char separator = text[4];
  if ((separator != '-' && separator != '/') || text[7] != separator) return std::nullopt;
  const int year = DigitsAt(text, 0, 4), month = DigitsAt(text, 5, 2), day = DigitsAt(text, 8, 2);
  int hour = 23, minute = 59, second = 59;  // a date alone lasts to the end of the day
  if (text.size() > 10) {
    if ((text[10] != ' ' && text[10] != 'T') || text[13] != ':') return std::nullopt;
    hour = DigitsAt(text, 11, 2);
    minute = DigitsAt(text, 14, 2);
    second = 0;
    if (text.size() == 19) {
      if (text[16] != ':') return std::nullopt;
      second = DigitsAt(text, 17, 2);
    }
  }
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }
  tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  const std::time_t when = mktime(&parts);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return when;
}

// The host of a link's URL: a name or an IPv4 address as given, an IPv6 address in brackets.
// nullopt for anything else, so that the URL stays whole in the reply scanner's hands (no
// space, "," or "}") and names the host it was asked for.
std::optional<std::string> UrlHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty() || host.size() > 253) return std::nullopt;
  if (host.find(':') != std::string_view::npos) {
    in6_addr address{};
    const std::string text(host);
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1) return std::nullopt;
    return '[' + text + ']';
  }
  const bool plain = std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  });
  if (!plain) return std::nullopt;
  return std::string(host);
}

// A device path with empty components dropped: "Public//a" and "/Public/a/" are "/Public/a".
std::string NormalPath(std::string_view path) {
  std::string normal;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) {
      normal += '/';
      normal += part;
    }
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return normal.empty() ? "/" : normal;
}

// The link id a link's URL names, whatever host it was reached by; empty when it names none.
std::string LinkIdOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = url.substr(scheme + 3);
  const std::size_t path = rest.find('/');
  if (path == std::string_view::npos) return {};
  rest = rest.substr(path);
  rest = rest.substr(0, rest.find_first_of("?#"));
  const std::string prefix = std::string(kLinkPath) + '/';
  if (!rest.starts_with(prefix)) return {};
  const std::string_view id = rest.substr(prefix.size());
  return IsHexId(id, kLinkIdLength) ? std::string(id) : std::string();
}

// Compares without stopping at the first difference, so that a guess learns nothing from the
// time an answer takes.
bool SameSecret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
  }
  return difference == 0;
}

// --- Files --------------------------------------------------------------------------------

// An open regular file of the tree.
struct OpenFile {
  httpd::FileDescriptor fd;
  unsigned long long size = 0;
  std::string name;
};

// Opens the file name in the device folder folder. Throws Refusal: kMissing for a folder or
// anything but a regular file.
OpenFile OpenTreeFile(const FileTree& tree, std::string_view folder, std::string_view name) {
  const TreeItem item = tree.Item(tree.Folder(folder, Top::Refuse), name);
  if (item.Folder()) throw Refusal(kMissing);
  OpenFile file;
  // item.target has every link resolved: a link put in its place since is not followed.
  file.fd = httpd::FileDescriptor(
      open(item.target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!file.fd.Valid() || fstat(file.fd.Get(), &info) != 0) throw Refusal(StatusForErrno(errno));
  if (!S_ISREG(info.st_mode)) throw Refusal(kMissing);
  file.size = static_cast<unsigned long long>(info.st_size);
  file.name = item.name;
  return file;
}

// The folder and the name of a device path.
std::pair<std::string, std::string> SplitPath(std::string_view devicePath) {
  const std::size_t slash = devicePath.rfind('/');
  if (slash == std::string_view::npos) return {"", std::string(devicePath)};
  return {std::string(devicePath.substr(0, slash)), std::string(devicePath.substr(slash + 1))};
}

// The HTTP error a browser gets for a refusal (as downloads answer).
HttpError BrowserError(long long refusal) {
  switch (refusal) {
    case kNoSession:
      return HttpError(403, "no live session");
    case kNotAllowed:
      return HttpError(400, "a path the device does not take");
    default:
      return HttpError(404, "no such file");
  }
}

// Runs open, turning refusals into the HTTP errors browsers get.
template <typename Open>
OpenFile OpenForBrowser(const Call& call, Open open) {
  if (!call.device.sessions.Find(call.query.Require("sid"))) throw BrowserError(kNoSession);
  try {
    const FileTree tree(call.device.options.root);
    return open(tree);
  } catch (const Refusal& refusal) {
    throw BrowserError(refusal.Status());
  } catch (const fs::filesystem_error&) {
    throw BrowserError(kMissing);
  }
}

httpd::Response FileReply(OpenFile file, const std::string& contentType) {
  httpd::Response response;
  response.headers.emplace_back("Content-Type", contentType);
  response.headers.emplace_back("Cache-Control", "no-store");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  if (file.size == 0) return response;
  response.file = std::move(file.fd);
  response.fileSize = file.size;
  return response;
}

// "attachment" with the name in plain ASCII and, whole, in UTF-8 (RFC 6266).
std::string Attachment(const std::string& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string ascii, encoded;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    ascii += byte < 0x20 || byte > 0x7E || c == '"' || c == '\\' ? '_' : c;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

// The Content-Type of a file by its extension; application/octet-stream for the others.
std::string ContentTypeOf(std::string_view name) {
  static constexpr std::pair<const char*, const char*> kTypes[] = {
      {".txt", "text/plain; charset=utf-8"},
      {".log", "text/plain; charset=utf-8"},
      {".csv", "text/csv"},
      {".htm", "text/html"},
      {".html", "text/html"},
      {".css", "text/css"},
      {".js", "text/javascript"},
      {".json", "application/json"},
      {".xml", "application/xml"},
      {".pdf", "application/pdf"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".bmp", "image/bmp"},
      {".webp", "image/webp"},
      {".svg", "image/svg+xml"},
      {".ico", "image/vnd.microsoft.icon"},
      {".tif", "image/tiff"},
      {".tiff", "image/tiff"},
      {".mp3", "audio/mpeg"},
      {".wav", "audio/wav"},
      {".ogg", "audio/ogg"},
      {".flac", "audio/flac"},
      {".m4a", "audio/mp4"},
      {".mp4", "video/mp4"},
      {".m4v", "video/mp4"},
      {".mov", "video/quicktime"},
      {".mkv", "video/x-matroska"},
      {".avi", "video/x-msvideo"},
      {".webm", "video/webm"},
      {".mpg", "video/mpeg"},
      {".mpeg", "video/mpeg"},
      {".zip", "application/zip"},
      {".gz", "application/gzip"},
      {".tar", "application/x-tar"},
      {".7z", "application/x-7z-compressed"},
  };
  const std::string folded = AsciiLower(name);
  for (const auto& [extension, type] : kTypes) {
    const std::string_view ending = extension;
    if (folded.size() > ending.size() && folded.ends_with(ending)) return type;
  }
  return "application/octet-stream";
}

// --- Share links ------------------------------------------------------------------------------

// What a get_share_link or share_file form asks for, checked.
struct LinkRequest {
  std::string devicePath;
  std::string accessCode;
  std::optional<std::time_t> expiry;
  std::string expiryText;
  std::string urlBase;  // scheme, host and port
};

bool Word(const FieldSet& form, std::string_view name, std::string_view yes, std::string_view no) {
  const std::string value = AsciiLower(form.Require(name));
  if (value != yes && value != no) {
    throw BadRequest(std::string(name) + " is not " + std::string(yes) + " or " + std::string(no));
  }
  return value == yes;
}

// Reads the form; the file must exist. With future, an expiry that has passed is refused.
LinkRequest ReadLinkForm(const Call& call, const FieldSet& form, const FileTree& tree,
                         bool future) {
  Expect(form, "file_total", "1");
  if (const std::string* type = form.Find("download_type")) {
    if (*type != "create_download_link" && *type != "email_download_link") {
      throw BadRequest("download_type is not create_download_link or email_download_link");
    }
  }
  if (const std::string* network = form.Find("network_type")) {
    if (*network != "internet" && *network != "local") {
      throw BadRequest("network_type is not internet or local");
    }
  }
  const bool forever = Word(form, "valid_duration", "forever", "specific_time");
  const std::string* code = form.Find("access_code");
  // Without access_enabled, a code given is a code asked for.
  const bool codeAsked = form.Find("access_enabled") ? Word(form, "access_enabled", "true", "false")
                                                     : code && !code->empty();
  const bool ssl = Word(form, "ssl", "true", "false");
  const std::string& hostname = form.Require("hostname");
  const std::string& fileName = form.Require("file_name");
  const std::string& path = form.Require("path");

  LinkRequest link;
  if (forever) {
    link.expiryText = kNeverExpires;
  } else {
    link.expiry = ParseDateTime(form.Require("datetime"));
    if (!link.expiry || (future && *link.expiry <= Now(call.device))) throw Refusal(kNotAllowed);
    link.expiryText = ExpiryText(*link.expiry);
  }
  if (codeAsked) {
    if (!code || code->empty()) throw Refusal(kNotAllowed);
    link.accessCode = *code;
  }
  const std::optional<std::string> host = UrlHost(hostname);
  if (!host) throw Refusal(kNotAllowed);
  const unsigned short port = ssl ? call.device.tlsPort.load() : call.device.plainPort.load();
  if (port == 0) throw Refusal(kNotAllowed);  // no HTTPS served
  link.urlBase = (ssl ? "https://" : "http://") + *host + ':' + std::to_string(port);

  // file_name is the file's device path; a bare name lies in path.
  auto [folder, name] = fileName.find('/') != std::string::npos
                            ? SplitPath(fileName)
                            : std::pair<std::string, std::string>(path, fileName);
  OpenTreeFile(tree, folder, name);
  link.devicePath = NormalPath(folder + '/' + name);
  return link;
}

httpd::Response GetShareLink(const Call& call, const FileTree& tree) {
  const LinkRequest request = ReadLinkForm(call, call.Form(), tree, true);
  ShareLink link;
  link.devicePath = request.devicePath;
  link.accessCode = request.accessCode;
  link.expiry = request.expiry;
  link.expiryText = request.expiryText;
  link.creator = call.device.options.user;
  for (;;) {
    link.id = NewHexId(kLinkIdLength);
    link.url = request.urlBase + kLinkPath + '/' + link.id;
    if (call.device.shareLinks.Allocate(link)) break;
    if (!call.device.shareLinks.Find(link.id)) throw Refusal(kTooManyLinks);
    // else that id is taken: draw again
  }
  // The order matters to the reply's scanner (see the top of this file).
  return JsonReply(JsonObject()
                       .Add("status", kDone)
                       .Add("expire_time", link.expiryText)
                       .Add("link_url", link.url)
                       .Add("filename", link.devicePath));
}

httpd::Response ShareFile(const Call& call, const FileTree& tree) {
  const FieldSet form = call.Form();
  const LinkRequest request = ReadLinkForm(call, form, tree, false);
  const std::string& url = form.Require("link_url");
  const std::optional<ShareLink> link = call.device.shareLinks.Find(LinkIdOf(url));
  if (!link || link->url != url || link->devicePath != request.devicePath) {
    throw Refusal(kMissing);
  }
  const std::string* expireTime = form.Find("expire_time");
  if (link->accessCode != request.accessCode || link->expiry != request.expiry ||
      (expireTime && *expireTime != link->expiryText)) {
    throw Refusal(kNotAllowed);
  }
  if (!call.device.shareLinks.Activate(link->id)) {
    throw Refusal(call.device.shareLinks.Find(link->id) ? kTooManyLinks : kMissing);
  }
  return JsonReply(JsonObject().Add("status", kDone).Add("success", "true"));
}

httpd::Response GetShareList(const Call& call, const FileTree&) {
  const FieldSet& query = call.query;
  Expect(query, "sort", "filename");
  bool descending = false;
  if (const std::string* dir = query.Find("dir")) {
    const std::string order = AsciiLower(*dir);
    if (order != "asc" && order != "desc") throw BadRequest("dir is not ASC or DESC");
    descending = order == "desc";
  }
  const std::size_t start = query.Find("start") ? Number(query, "start", INT_MAX) : 0;
  std::vector<ShareLink> links = call.device.shareLinks.Active();
  const std::size_t limit = query.Find("limit") ? Number(query, "limit", INT_MAX) : links.size();
  std::stable_sort(links.begin(), links.end(),
                   [descending](const ShareLink& a, const ShareLink& b) {
                     return descending ? b.devicePath < a.devicePath : a.devicePath < b.devicePath;
                   });
  JsonArray datas;
  const std::size_t begin = std::min(start, links.size());
  const std::size_t end = begin + std::min(limit, links.size() - begin);
  for (std::size_t i = begin; i < end; ++i) {
    const ShareLink& link = links[i];
    datas.Add(JsonObject()
                  .Add("ssid", link.id)
                  .Add("filename", link.devicePath)
                  .Add("download_link", link.url)
                  .Add("expire_time", link.expiryText)
                  .Add("creator", link.creator));
  }
  return JsonReply(JsonObject()
                       .Add("status", kDone)
                       .Add("total", static_cast<long long>(links.size()))
                       .Add("max_share_file", static_cast<long long>(ShareLinkTable::kMaxActive))
                       .Add("datas", datas));
}

httpd::Response DeleteShare(const Call& call, const FileTree&) {
  const FieldSet form = call.Form();
  Expect(form, "file_total", "1");
  const std::string id = LinkIdOf(form.Require("download_link"));
  const std::string& fileName = form.Require("filename");
  const std::optional<ShareLink> link = call.device.shareLinks.Find(id);
  if (!link || link->devicePath != NormalPath(fileName) || !call.device.shareLinks.Remove(id)) {
    throw Refusal(kMissing);
  }
  return JsonReply(JsonObject().Add("status", kDone).Add("success", "true"));
}

// Opening a link: no session, the access code in the query.
httpd::Response OpenLink(const Call& call) {
  const std::string path = call.request.Path();
  const std::string id = path.substr(std::min(path.size(), std::string_view(kLinkPath).size() + 1));
  const std::optional<ShareLink> link =
      IsHexId(id, kLinkIdLength) ? call.device.shareLinks.Find(id) : std::nullopt;
  if (!link || !link->active) throw HttpError(404, "no such link");
  if (!link->accessCode.empty()) {
    const std::string* code = call.query.Find(kAccessCode);
    if (!code || !SameSecret(*code, link->accessCode)) {
      throw HttpError(403, "this link needs its access code as ?access_code=CODE");
    }
  }
  if (link->expiry && Now(call.device) >= *link->expiry)
    throw HttpError(410, "the link has expired");
  OpenFile file;
  try {
    const FileTree tree(call.device.options.root);
    const auto [folder, name] = SplitPath(link->devicePath);
    file = OpenTreeFile(tree, folder, name);
  } catch (const Refusal&) {
    throw HttpError(404, "the shared file is gone");
  } catch (const fs::filesystem_error&) {
    throw HttpError(404, "the shared file is gone");
  }
  const std::string disposition = Attachment(file.name);
  httpd::Response response = FileReply(std::move(file), "application/octet-stream");
  response.headers.emplace_back("Content-Disposition", disposition);
  return response;
}

// --- Viewer and thumbnail -------------------------------------------------------------------

httpd::Response Viewer(const Call& call) {
  OpenFile file = OpenForBrowser(call, [&](const FileTree& tree) {
    return OpenTreeFile(tree, call.query.Require("source_path"), call.query.Require("source_file"));
  });
  const std::string type = ContentTypeOf(file.name);
  httpd::Response response = FileReply(std::move(file), type);
  // A page shown from the device's origin must not act in it.
  response.headers.emplace_back("Content-Security-Policy", "sandbox");
  return response;
}

httpd::Response Thumbnail(const Call& call) {
  const OpenFile file = OpenForBrowser(call, [&](const FileTree& tree) {
    return OpenTreeFile(tree, call.query.Require("path"), call.query.Require("name"));
  });
  const unsigned long long size = Number(call.query, "size", kMaxThumbnail);
  if (size == 0) throw BadRequest("size is 0");
  if (!IsImageName(file.name)) throw HttpError(415, "not an image: no thumbnail");
  std::optional<std::string> png = MakeThumbnail(file.fd.Get(), file.name, static_cast<int>(size));
  if (!png) throw HttpError(415, "the image cannot be read: no thumbnail");
  httpd::Response response;
  response.headers.emplace_back("Content-Type", "image/png");
  response.headers.emplace_back("Cache-Control", "no-store");
  response.body = std::move(*png);
  return response;
}

// The route of a share-link function, whose refusals become {"status":S,"success":"false"}.
Route LinkRoute(const char* func, const char* method, TreeEndpoint endpoint) {
  return FileTreeRoute(func, method, endpoint, &Refused);
}

}  // namespace

std::vector<Route> ShareRoutes() {
  return {
      LinkRoute("get_share_link", "POST", &GetShareLink),
      LinkRoute("share_file", "POST", &ShareFile),
      LinkRoute("get_share_list", "GET", &GetShareList),
      LinkRoute("delete_share", "POST", &DeleteShare),
      {kLinkPath, "", "", "GET", &OpenLink, {}, true},
      {kPath, "func", "get_viewer", "GET", &Viewer, {}, true},
      {kPath, "func", "get_thumb", "GET", &Thumbnail},
  };
}

}  // namespace vesk::emulator
