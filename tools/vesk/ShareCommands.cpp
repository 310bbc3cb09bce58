// Share links (share create, ls, rm) and the links to the device's viewer and thumbnails
// (url).
#include "Commands.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

constexpr int kMostLinks = 10000;  // share links asked for at a time

Json::Value LinkJson(const CVeskHttpShareLink& link) {
  Json::Value value(Json::objectValue);
  value["file"] = Utf8(link.GetFileName());
  value["url"] = Utf8(link.GetURL());
  value["expires"] = Utf8(link.GetExpireTime());
  return value;
}

std::vector<CVeskHttpShareLink> Links(Session& session, int limit) {
  std::vector<CVeskHttpShareLink> links;
  session.Run(Op::ShareList, std::string(),
              [&] { return session.Files().GetShareLinkList(limit, CancelFlag(), &links); });
  return links;
}

}  // namespace

int RunShareCreate(const Globals& globals, const ShareCreateOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const std::string path = DevicePath(options.path);
  const auto status = StatusOf(*session, path);
  if (!status) throw Failure(kFailed, path + ": no such file or folder");
  // The expiry goes to the device as the user wrote it; "0" asks for a link that never expires.
  CVeskHttpShareLinkInfo info(Wide(path).c_str(), Wide(options.accessCode).c_str(),
                              Wide(options.expires.empty() ? "0" : options.expires).c_str(),
                              options.secureLink ? 1 : 0);
  CVeskHttpShareLink link;
  session->Run(Op::ShareCreate, path,
               [&] { return session->Files().CreateShareLink(info, CancelFlag(), &link); });
  if (*link.GetURL() == L'\0') throw Failure(kFailed, path + ": the device gave no link");
  if (globals.json) {
    PrintJson(LinkJson(link));
  } else {
    PrintLine(Utf8(link.GetURL()));
  }
  return kOk;
}

int RunShareList(const Globals& globals, int limit) {
  auto session = Connect(globals, Session::kFiles);
  const auto links = Links(*session, limit);
  if (globals.json) {
    Json::Value all(Json::arrayValue);
    for (const auto& link : links) all.append(LinkJson(link));
    PrintJson(all);
    return kOk;
  }
  Table table;
  for (const auto& link : links) {
    const std::string expires = Utf8(link.GetExpireTime());
    table.Add({Utf8(link.GetFileName()), expires.empty() || expires == "0" ? "never" : expires,
               Utf8(link.GetURL())});
  }
  table.Print();
  return kOk;
}

int RunShareRemove(const Globals& globals, const std::vector<std::string>& given) {
  auto session = Connect(globals, Session::kFiles);
  const auto links = Links(*session, kMostLinks);
  Items items;
  for (const std::string& which : given) {
    items.Run([&] {
      // A link is named by its URL, or by its file as the device lists it.
      bool found = false;
      for (const auto& link : links) {
        const std::string url = Utf8(link.GetURL()), file = Utf8(link.GetFileName());
        if (which != url && which != file && DevicePath(which) != file) continue;
        found = true;
        session->Run(Op::ShareDelete, url,
                     [&] { return session->Files().DeleteShareLink(link, CancelFlag()); });
      }
      if (!found) throw Failure(kFailed, which + ": no such share link");
    });
  }
  return items.Status();
}

int RunUrl(const Globals& globals, const UrlOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  Json::Value all(Json::arrayValue);
  for (const std::string& given : options.paths) {
    const std::string path = DevicePath(given);
    std::wstring url;
    session->Run(Op::Link, path, [&] {
      return options.kind == "thumb" ? session->Files().GetThumbnailURL(Wide(path).c_str(), &url)
                                     : session->Files().GetViewerURL(Wide(path).c_str(), &url);
    });
    if (globals.json) {
      Json::Value value(Json::objectValue);
      value["path"] = path;
      value["url"] = Utf8(url);
      all.append(value);
    } else {
      PrintLine(Utf8(url));
    }
  }
  if (globals.json) PrintJson(all);
  // The links carry this session's id: it stays open for them when vesk ends.
  session->Keep();
  return kOk;
}

}  // namespace vesk::cli
