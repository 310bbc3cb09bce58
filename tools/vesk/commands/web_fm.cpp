// vesk web-fm on: switches the device's web file manager on, through the system service.
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Output.h"

namespace vesk::cli {

namespace {

struct WebFileManagerOptions {
  std::string state;  // "on", the one state the device can be switched to
};

int RunWebFileManager(const Globals& globals, const WebFileManagerOptions&) {
  auto session = Connect(globals, Session::kSystem);
  session->Run(Op::WebFileManager, std::string(),
               [&] { return session->System().EnableWebFileManager(CancelFlag()); });
  PrintLine("the web file manager is on");
  return kOk;
}

}  // namespace

void RegisterWebFileManager(Registry& registry) {
  CLI::App* command = registry.Add("web-fm", "Switch the device's web file manager on");
  WebFileManagerOptions& options = registry.On(command, &RunWebFileManager);
  command->add_option("state", options.state, "on")->required()->check(CLI::IsMember({"on"}));
}

}  // namespace vesk::cli
