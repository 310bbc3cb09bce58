// vesk settings: the device's web-server settings, read through the system service.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"
#include "Text.h"

namespace vesk::cli {

namespace {

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

}  // namespace

void RegisterSettings(Registry& registry) {
  registry.On(registry.Add("settings", "Show the device's web-server settings"), RunSettings);
}

}  // namespace vesk::cli
