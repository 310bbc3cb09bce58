// The device itself: its addresses, video transcoding, and, through the system service, its
// web-server settings and the web file manager switch.
#include "Commands.h"
#include "Interrupt.h"
#include "Output.h"
#include "Paths.h"
#include "Text.h"

namespace vesk::cli {

int RunAddresses(const Globals& globals) {
  auto session = Connect(globals, Session::kFiles);
  CVeskHttpNASInfo info;
  session->Run(Op::Address, std::string(),
               [&] { return session->Files().GetDomainIPList(CancelFlag(), &info); });
  Json::Value value(Json::objectValue);
  value["cloudName"] = Utf8(info.GetFarlinkNasName());
  value["externalAddress"] = Utf8(info.GetNasExternalIP());
  value["localAddress"] = Utf8(info.GetNasLocalIP());
  value["hostAddress"] = Utf8(info.GetNasHostIP());
  if (globals.json) {
    PrintJson(value);
    return kOk;
  }
  Table table;
  table.Add({"cloud name:", value["cloudName"].asString()});
  table.Add({"external address:", value["externalAddress"].asString()});
  table.Add({"local address:", value["localAddress"].asString()});
  table.Add({"host address:", value["hostAddress"].asString()});
  table.Print();
  return kOk;
}

int RunTranscode(const Globals& globals, const std::string& action,
                 const std::vector<std::string>& paths) {
  auto session = Connect(globals, Session::kFiles);
  const bool add = action == "add";
  Items items;
  for (const std::string& given : paths) {
    items.Run([&] {
      const std::string path = DevicePath(given);
      if (!StatusOf(*session, path)) throw Failure(kFailed, path + ": no such file or folder");
      session->Run(add ? Op::TranscodeAdd : Op::TranscodeDelete, path, [&] {
        return add ? session->Files().AddVideoTranscode(Wide(path).c_str(), CancelFlag())
                   : session->Files().DeleteVideoTranscode(Wide(path).c_str(), CancelFlag());
      });
    });
  }
  return items.Status();
}

int RunSettings(const Globals& globals) {
  auto session = Connect(globals, Session::kSystem);
  CVeskHttpSystemSettingInfo settings;
  session->Run(Op::Settings, std::string(),
               [&] { return session->System().GetSystemSetting(CancelFlag(), &settings); });
  Json::Value value(Json::objectValue);
  value["serverName"] = Utf8(settings.GetServerName());
  value["port"] = settings.GetSYSPort();
  value["ssl"] = settings.IsSSL() != 0;
  value["sslPort"] = settings.GetSYSSSLPort();
  value["sslForced"] = settings.IsSSLForce() != 0;
  if (globals.json) {
    PrintJson(value);
    return kOk;
  }
  Table table;
  table.Add({"server name:", value["serverName"].asString()});
  table.Add({"port:", std::to_string(settings.GetSYSPort())});
  table.Add({"SSL:", settings.IsSSL() ? "on" : "off"});
  table.Add({"SSL port:", std::to_string(settings.GetSYSSSLPort())});
  table.Add({"SSL forced:", settings.IsSSLForce() ? "yes" : "no"});
  table.Print();
  return kOk;
}

int RunWebFileManager(const Globals& globals) {
  auto session = Connect(globals, Session::kSystem);
  session->Run(Op::WebFileManager, std::string(),
               [&] { return session->System().EnableWebFileManager(CancelFlag()); });
  PrintLine("the web file manager is on");
  return kOk;
}

}  // namespace vesk::cli
