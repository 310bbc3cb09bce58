// vesk url viewer and url thumb: links to the device's viewer or to files' thumbnails. The
// links carry the session's id, so the session stays open when vesk ends.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

namespace {

struct UrlOptions {
  std::string kind;  // "viewer" or "thumb"
  std::vector<std::string> paths;
};

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

}  // namespace

void RegisterUrl(Registry& registry) {
  CLI::App* url =
      registry.Add("url", "Print links to the device's viewer or thumbnails",
                   "The links carry a session of their own, which stays open when vesk ends.");
  url->require_subcommand(1);
  for (const char* kind : {"viewer", "thumb"}) {
    CLI::App* command = registry.Add(
        *url, kind,
        std::string(kind) == "viewer" ? "Link to view files" : "Link to files' thumbnails");
    UrlOptions& options = registry.On(command, &RunUrl);
    options.kind = kind;
    command->add_option("paths", options.paths, "Device files")->required();
  }
}

}  // namespace vesk::cli
