// vesk share create, ls and rm: the device's share links, which let anyone with the link
// fetch a file without logging in.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

constexpr int kMostLinks = 10000;  // share links asked for at a time

struct ShareCreateOptions {
  std::string path;
  std::string expires = "0";  // passed to the device as it stands; "0": never
  std::string accessCode;
  bool secureLink = false;
};

struct ShareListOptions {
  int limit = 1000;
};

struct ShareRemoveOptions {
  std::vector<std::string> links;  // URLs, or files as the device lists them
};

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

int RunShareList(const Globals& globals, const ShareListOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const auto links = Links(*session, options.limit);
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

int RunShareRemove(const Globals& globals, const ShareRemoveOptions& options) {
  auto session = Connect(globals, Session::kFiles);
  const auto links = Links(*session, kMostLinks);
  Items items;
  for (const std::string& which : options.links) {
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

}  // namespace

void RegisterShare(Registry& registry) {
  CLI::App* share = registry.Add("share", "Create, list and delete share links");
  share->require_subcommand(1);

  CLI::App* create = registry.Add(*share, "create", "Create a share link to a file");
  ShareCreateOptions& created = registry.On(create, &RunShareCreate);
  create->add_option(
      "--expires", created.expires,
      "When the link expires, as the device takes it\n(e.g. \"2027-01-31 18:00\"); 0: never");
  create->add_option("--access-code", created.accessCode, "Code the link asks for (default: none)");
  create->add_flag("--secure-link", created.secureLink, "Make an https:// link");
  create->add_option("path", created.path, "Device file")->required();

  CLI::App* list = registry.Add(*share, "ls", "List the share links");
  ShareListOptions& listed = registry.On(list, &RunShareList);
  list->add_option("--limit", listed.limit, "At most this many links")->check(CLI::PositiveNumber);

  CLI::App* remove = registry.Add(*share, "rm", "Delete share links");
  ShareRemoveOptions& removed = registry.On(remove, &RunShareRemove);
  remove->add_option("links", removed.links, "Link URLs, or files as 'share ls' shows")->required();
}

}  // namespace vesk::cli
