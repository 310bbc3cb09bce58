// The test control routes: the emulator's test hooks over HTTP, for a test program that runs
// the emulator as a process of its own (see EmulatorOptions::testControl and kControlPath).
#include <chrono>
#include <climits>
#include <string>
#include <utility>

#include "emulator/Replies.h"
#include "emulator/Router.h"

namespace vesk::emulator {

namespace {

// A control route: loopback clients alone, since a hook changes what every client sees.
Route ControlRoute(const char* name, const char* method, Endpoint endpoint) {
  return {std::string(kControlPath) + "/" + name, "", "", method,
          [endpoint = std::move(endpoint)](const Call& call) {
            if (!call.request.loopbackPeer) {
              return ErrorReply(403, "the test control routes serve loopback clients alone");
            }
            return endpoint(call);
          }};
}

}  // namespace

std::vector<Route> ControlRoutes() {
  std::vector<Route> routes;
  routes.push_back(ControlRoute("sessions", "GET", [](const Call& call) {
    return PlainTextReply(std::to_string(call.device.sessions.Count()));
  }));
  routes.push_back(ControlRoute("tls-connections", "GET", [](const Call& call) {
    const httpd::Server* secure = call.device.secureServer;
    return PlainTextReply(std::to_string(secure ? secure->ConnectionCount() : 0));
  }));
  routes.push_back(ControlRoute("web-file-manager", "GET", [](const Call& call) {
    return PlainTextReply(call.device.webFileManager ? "1" : "0");
  }));
  routes.push_back(ControlRoute("wait-job", "POST", [](const Call& call) {
    const FieldSet form = call.Form();
    const auto pid = static_cast<long long>(Number(form, "pid", LLONG_MAX));
    const auto percent = static_cast<int>(Number(form, "percent", 100));
    const std::chrono::milliseconds timeout(
        Number(form, "timeout", static_cast<unsigned long long>(kControlWaitLimit.count())));
    return PlainTextReply(call.device.jobs.WaitFor(pid, percent, timeout) ? "1" : "0");
  }));
  routes.push_back(ControlRoute("transfer-faults", "POST", [](const Call& call) {
    const FieldSet form = call.Form();
    TransferFaults faults;
    if (form.Find("bytes_per_second"))
      faults.bytesPerSecond = Number(form, "bytes_per_second", ~0ULL);
    if (form.Find("drop_after_bytes")) {
      faults.dropAfterBytes = static_cast<long long>(Number(form, "drop_after_bytes", LLONG_MAX));
    }
    if (form.Find("drop_count")) {
      faults.dropCount = static_cast<int>(Number(form, "drop_count", INT_MAX));
    }
    call.device.transfers.SetFaults(faults);
    return PlainTextReply("ok");
  }));
  routes.push_back(ControlRoute("clock", "POST", [](const Call& call) {
    const FieldSet form = call.Form();
    call.device.fixedClock = form.Find("time")
                                 ? static_cast<long long>(Number(form, "time", LLONG_MAX))
                                 : DeviceState::kClockNotFixed;
    return PlainTextReply("ok");
  }));
  return routes;
}

}  // namespace vesk::emulator
