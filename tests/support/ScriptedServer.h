// A scripted HTTP(S) server for the transport tests: it answers each request with the next
// scripted reply and records every request byte for byte. Replies can play a slow device
// (delays before the headers or before the body), a broken one (a body cut short of its
// announced length) or a vanishing one (no reply at all).
#ifndef VESK_TEST_SCRIPTED_SERVER_H
#define VESK_TEST_SCRIPTED_SERVER_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "httpd/Certificate.h"
#include "httpd/HttpServer.h"

namespace vesk::test {

// Whether this build's test servers serve HTTPS. The Windows build's libmicrohttpd has no TLS
// engine and there is no OpenSSL there to make certificates: its HTTPS tests are skipped.
#ifdef _WIN32
inline constexpr bool kTestServersHaveHttps = false;
#else
inline constexpr bool kTestServersHaveHttps = true;
#endif

// Skips the running test where the test servers serve no HTTPS.
#define VESK_SKIP_WITHOUT_TEST_HTTPS()                                                  \
  do {                                                                                  \
    if (!::vesk::test::kTestServersHaveHttps)                                           \
      GTEST_SKIP() << "no HTTPS test server in this build (libmicrohttpd without TLS)"; \
  } while (false)

struct ScriptedReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // sent as given
  std::string body;
  std::chrono::milliseconds delayBeforeHeaders{0};  // the device thinks before answering
  std::chrono::milliseconds delayBeforeBody{0};     // headers go out, then the body after this
  // Content-Length to announce; -1: the body's length. Larger than the body: the connection
  // breaks after the body. Smaller: only that many bytes of the body are sent.
  long long declaredLength = -1;
  bool dropConnection = false;  // close without any reply
};

class ScriptedServer {
 public:
  enum class Scheme { Http, Https };

  // Starts at once on 127.0.0.1 and an ephemeral port. For HTTPS an empty cert is replaced by
  // a freshly generated self-signed one. A server that cannot start fails the test.
  explicit ScriptedServer(Scheme scheme = Scheme::Http, httpd::CertificatePair cert = {});
  // Stops promptly, even while a reply is in a long delay: the delay ends and the connection
  // is closed.
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Replies are used in order, one per request.
  void Enqueue(ScriptedReply reply);
  // Used when the queue is empty; initially a 200 with an empty body.
  void SetDefaultReply(ScriptedReply reply);

  // Every request received so far, in arrival order. A request is recorded as soon as its body
  // has arrived, before its reply's delays.
  std::vector<httpd::Request> Requests() const;
  // True once count requests have arrived; false when the timeout passes first.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  unsigned long long ConnectionCount() const;
  unsigned short Port() const;
  const httpd::CertificatePair& Certificate() const { return cert_; }  // empty for HTTP
  std::string BaseUrl() const;  // "http://127.0.0.1:<port>" or "https://..."
  std::wstring WideUrl(const std::string& pathAndQuery) const;  // BaseUrl() + pathAndQuery

 private:
  httpd::Response Answer(httpd::Request& request);

  const Scheme scheme_;
  httpd::CertificatePair cert_;

  mutable std::mutex mutex_;  // guards the members below
  mutable std::condition_variable requestArrived_;
  std::deque<ScriptedReply> queue_;
  ScriptedReply defaultReply_;
  std::vector<httpd::Request> requests_;

  std::unique_ptr<httpd::Server> server_;
};

}  // namespace vesk::test

#endif  // VESK_TEST_SCRIPTED_SERVER_H
