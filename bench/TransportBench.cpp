// What connection reuse saves: the same small exchange, once on a kept-alive connection and
// once on a fresh connection each time (the baseline, measured in the same run), over HTTP
// and HTTPS.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "http/WinHttpClient.h"
#include "httpd/Certificate.h"
#include "httpd/HttpServer.h"

namespace {

// The end of one exchange, signalled from the transport's side.
class Done {
 public:
  static void Signal(void* self, vesk::WinHttpClient*) {
    auto* done = static_cast<Done*>(self);
    std::lock_guard lock(done->mutex_);
    done->done_ = true;
    done->cv_.notify_one();
  }
  // Waits for the signal and resets it.
  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return done_; });
    done_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

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

void Exchange(benchmark::State& state, bool tls, bool closeEachTime) {
  Device device(tls, closeEachTime);
  Done done;
  for (auto _ : state) {
    vesk::WinHttpClient client(device.Url(), nullptr, false);
    client.Send(L"GET", &done, &Done::Signal);
    done.Wait();
    benchmark::DoNotOptimize(client.GetResponseText());
  }
  state.counters["connections"] = static_cast<double>(device.Connections());
}

void BM_HttpReused(benchmark::State& state) { Exchange(state, false, false); }
void BM_HttpFreshConnection(benchmark::State& state) { Exchange(state, false, true); }
void BM_HttpsReused(benchmark::State& state) { Exchange(state, true, false); }
void BM_HttpsFreshConnection(benchmark::State& state) { Exchange(state, true, true); }

BENCHMARK(BM_HttpReused)->UseRealTime();
BENCHMARK(BM_HttpFreshConnection)->UseRealTime();
BENCHMARK(BM_HttpsReused)->UseRealTime();
BENCHMARK(BM_HttpsFreshConnection)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
