// vesk addr: the device's names and addresses as it reports them.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"
#include "Text.h"

namespace vesk::cli {

namespace {

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

}  // namespace

void RegisterAddresses(Registry& registry) {
  registry.On(registry.Add("addr", "Show the device's names and addresses"), RunAddresses);
}

}  // namespace vesk::cli
