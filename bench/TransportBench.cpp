// What connection reuse saves: the same small exchange on a connection kept from one exchange to
// the next (the library's way), against a fresh connection for each (the baseline: the test
// server closes the connection after every reply), over HTTP and HTTPS. Each exchange is run as
// a synchronous operation runs it, on the calling thread. Rounds alternate between the two, the
// medians are compared (exchanges a second) and each scenario prints
// "RATIO <name> <reused/fresh>", with the connections each side opened.
//
//   transport_bench [--rounds N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Compare.h"
#include "http/WinHttpClient.h"
#include "httpd/Certificate.h"
#include "httpd/HttpServer.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "transport_bench: %s\n", message.c_str());
  std::exit(1);
}

class Device {
 public:
  Device(bool tls, bool closeEachTime) {
    vesk::httpd::ServerOptions options;
    if (tls) {
      const auto cert = vesk::httpd::MakeSelfSignedCertificate("127.0.0.1", -1, 30);
      options.tlsCertPem = cert.certPem;
      options.tlsKeyPem = cert.keyPem;
    }
    vesk::httpd::Handlers handlers;
    handlers.onRequest = [closeEachTime](vesk::httpd::Request&) {
      vesk::httpd::Response response;
      response.headers = {{"Content-Type", "application/json; charset=\"UTF-8\""}};
      if (closeEachTime) response.headers.emplace_back("Connection", "close");
      response.body = R"({"status":1,"success":"true"})";
      return response;
    };
    server_ = std::make_unique<vesk::httpd::Server>(options, handlers);
    server_->Start(nullptr);
    url_ = std::wstring(tls ? L"https" : L"http") + L"://127.0.0.1:" +
           std::to_wstring(server_->Port()) + L"/cgi-bin/x.cgi?func=stat";
  }
  const std::wstring& Url() const { return url_; }
  unsigned long long Connections() const { return server_->ConnectionCount(); }

 private:
  std::unique_ptr<vesk::httpd::Server> server_;
  std::wstring url_;
};

// Exchanges a second over `count` exchanges with the device.
double Exchanges(const Device& device, int count) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    vesk::WinHttpClient client(device.Url(), nullptr, false);
    client.SetRunOnCallerThread(true);
    if (!client.Send(L"GET", nullptr, nullptr) || !client.IsReplyComplete() ||
        client.GetStatus() != 200 || client.GetResponseUtf8().empty())
      Die("an exchange failed");
  }
  return count / std::chrono::duration<double>(Clock::now() - start).count();
}

void Scenario(const char* name, bool tls, int rounds, int count) {
  const Device reused(tls, false), fresh(tls, true);
  vesk::bench::Compare(
      name, "exch/s", rounds, [&] { return Exchanges(reused, count); },
      [&] { return Exchanges(fresh, count); });
  std::printf("%-12s connections opened for %d exchanges: reused %llu, fresh %llu\n", name,
              rounds * count, reused.Connections(), fresh.Connections());
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  for (int i = 1; i < argc; i += 2) {
    if (std::string(argv[i]) != "--rounds" || i + 1 >= argc)
      Die("usage: transport_bench [--rounds N]");
    rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  std::printf("transport_bench: a kept connection against a fresh one each time, %d rounds\n",
              rounds);
  Scenario("reuse-http", false, rounds, 1000);
  Scenario("reuse-https", true, rounds, 200);
  return 0;
}
