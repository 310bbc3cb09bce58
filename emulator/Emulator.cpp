#include "emulator/Emulator.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/Router.h"
#include "httpd/Certificate.h"
#include "httpd/HttpServer.h"

namespace vesk::emulator {

namespace {

std::vector<Route> AllRoutes() {
  std::vector<Route> routes = FileServiceRoutes();
  for (Route& route : FileTreeRoutes()) routes.push_back(std::move(route));
  for (Route& route : SystemServiceRoutes()) routes.push_back(std::move(route));
  for (Route& route : TransferRoutes()) routes.push_back(std::move(route));
  for (Route& route : ShareRoutes()) routes.push_back(std::move(route));
  for (Route& route : ArchiveRoutes()) routes.push_back(std::move(route));
  for (Route& route : DeviceInfoRoutes()) routes.push_back(std::move(route));
  return routes;
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return false;
  *text = content.str();
  return true;
}

}  // namespace

struct Emulator::Impl {
  explicit Impl(EmulatorOptions options)
      : device(std::move(options)),
        router(device, AllRoutes()),
        control(device, device.options.testControl ? ControlRoutes() : std::vector<Route>()) {}

  // The router for a request: the control routes take the paths under kControlPath on the
  // plain port when they are on; every other request goes to the device's routes.
  const Router& RouterFor(const httpd::Request& request, bool plainPort) const {
    if (!plainPort || !device.options.testControl) return router;
    const std::string path = request.Path();
    const std::string_view prefix = kControlPath;
    const bool underControl =
        path.size() > prefix.size() && path.starts_with(prefix) && path[prefix.size()] == '/';
    return underControl ? control : router;
  }

  // The PEM pair for HTTPS: read from the given files or generated.
  bool LoadCertificate(httpd::CertificatePair* pair, std::string* error) const {
    const EmulatorOptions& options = device.options;
    if (options.certFile.empty() && options.keyFile.empty()) {
      try {
        *pair = httpd::MakeSelfSignedCertificate("localhost", -1, 365);
      } catch (const std::exception& e) {
        *error = e.what();
        return false;
      }
      return true;
    }
    if (options.certFile.empty() || options.keyFile.empty()) {
      *error = "a certificate file needs a key file and the other way round";
      return false;
    }
    if (!ReadFile(options.certFile, &pair->certPem)) {
      *error = "cannot read the certificate file " + options.certFile;
      return false;
    }
    if (!ReadFile(options.keyFile, &pair->keyPem)) {
      *error = "cannot read the key file " + options.keyFile;
      return false;
    }
    return true;
  }

  std::unique_ptr<httpd::Server> MakeServer(unsigned short port,
                                            const httpd::CertificatePair* cert) {
    httpd::ServerOptions options;
    options.bindAddress = device.options.bindAddress;
    options.port = port;
    options.replyDelay = device.options.latency;
    if (cert) {
      options.tlsCertPem = cert->certPem;
      options.tlsKeyPem = cert->keyPem;
    }
    httpd::Handlers handlers;
    const bool plainPort = cert == nullptr;
    handlers.onRequest = [this, plainPort](httpd::Request& request) {
      return RouterFor(request, plainPort).Handle(request);
    };
    handlers.bodyConsumer = [this, plainPort](const httpd::Request& head) {
      return RouterFor(head, plainPort).BodyConsumerFor(head);
    };
    return std::make_unique<httpd::Server>(std::move(options), std::move(handlers));
  }

  // Called with lifecycle held.
  void StopLocked() {
    // Throttled transfers end their waits first, so that the servers' threads can be joined.
    device.transfers.Close();
    if (plain) plain->Stop();
    device.secureServer = nullptr;
    if (secure) secure->Stop();
    plain.reset();
    secure.reset();
    device.jobs.Close();
    device.plainPort = 0;
    device.tlsPort = 0;
    device.sessions.Clear();
  }

  DeviceState device;
  const Router router;
  const Router control;  // the test control routes; none unless testControl
  std::mutex lifecycle;  // guards plain and secure; serialises Start and Stop
  std::unique_ptr<httpd::Server> plain;
  std::unique_ptr<httpd::Server> secure;
};

Emulator::Emulator(EmulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Emulator::~Emulator() { Stop(); }

bool Emulator::Start(std::string* error) {
  std::string message;
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  if (impl_->plain) return fail("the emulator is already running");
  const EmulatorOptions& options = impl_->device.options;
  if (!options.root.empty()) {
    std::error_code code;
    if (!std::filesystem::is_directory(options.root, code)) {
      return fail("the root is not a folder: " + options.root);
    }
  }
  httpd::CertificatePair cert;
  if (options.tls && !impl_->LoadCertificate(&cert, &message)) return fail(message);

  impl_->device.jobs.Open();
  impl_->device.transfers.Open();
  impl_->plain = impl_->MakeServer(options.port, nullptr);
  if (!impl_->plain->Start(&message)) {
    impl_->StopLocked();
    return fail("HTTP: " + message);
  }
  impl_->device.plainPort = impl_->plain->Port();
  if (options.tls) {
    impl_->secure = impl_->MakeServer(options.tlsPort, &cert);
    if (!impl_->secure->Start(&message)) {
      impl_->StopLocked();
      return fail("HTTPS: " + message);
    }
    impl_->device.tlsPort = impl_->secure->Port();
    impl_->device.secureServer = impl_->secure.get();
  }
  return true;
}

void Emulator::Stop() {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  impl_->StopLocked();
}

unsigned short Emulator::Port() const { return impl_->device.plainPort; }

unsigned short Emulator::TlsPort() const { return impl_->device.tlsPort; }

bool Emulator::WebFileManagerEnabled() const { return impl_->device.webFileManager; }

std::size_t Emulator::SessionCount() const { return impl_->device.sessions.Count(); }

unsigned long long Emulator::TlsConnectionCount() const {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  return impl_->secure ? impl_->secure->ConnectionCount() : 0;
}

void Emulator::SetTransferFaults(const TransferFaults& faults) {
  impl_->device.transfers.SetFaults(faults);
}

bool Emulator::WaitForJob(long long pid, int percent, std::chrono::milliseconds timeout) const {
  return impl_->device.jobs.WaitFor(pid, percent, timeout);
}

void Emulator::SetClock(std::optional<std::time_t> now) {
  impl_->device.fixedClock = now ? static_cast<long long>(*now) : DeviceState::kClockNotFixed;
}

}  // namespace vesk::emulator
