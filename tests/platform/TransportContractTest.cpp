// The HTTP transport's contract, checked the same way on every engine compiled into the build:
// the bytes each request puts on the wire, the reply as the handler sees it, connection reuse,
// how exchanges fail and stop, and what destroying an exchange's handle guarantees. Each case
// runs both through Run (the caller's thread) and through Start (the engine's threads).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "httpd/Certificate.h"
#include "platform/HttpTransport.h"
#include "support/ScriptedServer.h"

namespace vesk::platform {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using test::ScriptedServer;
using Clock = std::chrono::steady_clock;

// ---- the engines under test ----

struct Backend {
  const char* name;
  HttpTransport& (*transport)();
};

// Every engine of this build. Each platform build has exactly one today, behind
// DefaultTransport().
std::vector<Backend> Backends() {
#ifdef _WIN32
  return {{"winhttp", &DefaultTransport}};
#else
  return {{"libcurl", &DefaultTransport}};
#endif
}

enum class Mode { Run, Start };

struct Param {
  Backend backend;
  Mode mode;
};

std::vector<Param> Params() {
  std::vector<Param> params;
  for (const Backend& backend : Backends())
    for (const Mode mode : {Mode::Run, Mode::Start}) params.push_back({backend, mode});
  return params;
}

// How test names show the parameters.
void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }
void PrintTo(const Param& param, std::ostream* out) {
  *out << param.backend.name << (param.mode == Mode::Run ? " Run" : " Start");
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
  return std::string(info.param.backend.name) + (info.param.mode == Mode::Run ? "_Run" : "_Start");
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

// ---- a handler that records everything ----

// Serves a request body and records every call. Flags a call that comes after OnComplete, a
// second OnComplete, and any call once the test has marked the handler detached.
class Recorder final : public ExchangeHandler {
 public:
  explicit Recorder(std::string body = {}) : body_(std::move(body)) {}

  // Knobs, set before the exchange starts.
  long long failReadAt = -1;                // ReadBody fails once this many bytes went out
  long long endBodyAt = -1;                 // ReadBody reports the end once this many went out
  std::size_t refuseReplyAfter = SIZE_MAX;  // OnBodyData refuses once this many arrived
  std::size_t stopAfterReply = SIZE_MAX;    // ShouldStop says stop once this many arrived
  std::atomic<bool> stop{false};            // ShouldStop's answer
  std::atomic<bool> detached{false};        // set by the test once the handle is gone

  long long ReadBody(char* buffer, std::size_t max) override {
    Guard guard(*this);
    ++readCalls_;
    const std::size_t at = bodySent_;
    if (failReadAt >= 0 && at >= static_cast<std::size_t>(failReadAt)) return -1;
    std::size_t end = body_.size();
    if (endBodyAt >= 0) end = std::min(end, static_cast<std::size_t>(endBodyAt));
    const std::size_t n = std::min(max, end - std::min(end, at));
    std::copy_n(body_.data() + at, n, buffer);
    bodySent_ += n;
    return static_cast<long long>(n);
  }
  bool RewindBody() override {
    Guard guard(*this);
    bodySent_ = 0;
    return true;
  }
  void OnHeaders(int status, const std::string& rawHeaders) override {
    Guard guard(*this);
    ++headCalls_;
    status_ = status;
    head_ = rawHeaders;
    received_.clear();
    pieces_.clear();
  }
  bool OnBodyData(const char* data, std::size_t size) override {
    Guard guard(*this);
    received_.append(data, size);
    pieces_.push_back(size);
    if (received_.size() >= stopAfterReply) stop = true;
    {
      std::lock_guard lock(mutex_);
      ++bodyCalls_;
      changed_.notify_all();
    }
    return received_.size() <= refuseReplyAfter;
  }
  bool ShouldStop() override {
    Guard guard(*this);
    return stop.load();
  }
  void OnComplete(ExchangeEnd end) override {
    Guard guard(*this);
    std::lock_guard lock(mutex_);
    if (end_) misuse_ = true;  // a second end
    end_ = end;
    ++completions_;
    changed_.notify_all();
  }

  bool WaitForEnd(std::chrono::milliseconds limit = 60s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return end_.has_value(); });
  }
  bool WaitForReplyBytes(std::chrono::milliseconds limit = 30s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return bodyCalls_ > 0 || end_.has_value(); });
  }

  std::optional<ExchangeEnd> End() {
    std::lock_guard lock(mutex_);
    return end_;
  }
  int Completions() {
    std::lock_guard lock(mutex_);
    return completions_;
  }
  bool Misused() { return misuse_.load(); }
  bool InCall() { return inCall_.load() != 0; }
  int Status() const { return status_; }
  int HeadCalls() const { return headCalls_; }
  const std::string& Head() const { return head_; }
  const std::string& Received() const { return received_; }
  const std::vector<std::size_t>& Pieces() const { return pieces_; }
  int ReadCalls() const { return readCalls_; }
  // The thread of every call so far, and whether it called itself a transport thread.
  std::vector<std::pair<std::thread::id, bool>> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  // Marks a handler call: calls overlapping, after the end, or after detaching are misuse.
  struct Guard {
    explicit Guard(Recorder& r) : r_(r) {
      if (r_.inCall_.fetch_add(1) != 0 || r_.detached.load()) r_.misuse_ = true;
      std::lock_guard lock(r_.mutex_);
      if (r_.end_) r_.misuse_ = true;
      r_.threads_.push_back({std::this_thread::get_id(), OnTransportThread()});
    }
    ~Guard() { r_.inCall_.fetch_sub(1); }
    Recorder& r_;
  };

  const std::string body_;
  std::size_t bodySent_ = 0;
  int readCalls_ = 0;
  int headCalls_ = 0;
  int status_ = 0;
  std::string head_;
  std::string received_;
  std::vector<std::size_t> pieces_;

  std::atomic<int> inCall_{0};
  std::atomic<bool> misuse_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<ExchangeEnd> end_;                         // guarded by mutex_
  int completions_ = 0;                                    // guarded by mutex_
  int bodyCalls_ = 0;                                      // guarded by mutex_
  std::vector<std::pair<std::thread::id, bool>> threads_;  // guarded by mutex_
};

TransportRequest Get(const ScriptedServer& server, std::string target = "/") {
  TransportRequest request;
  request.method = "GET";
  request.host = "127.0.0.1";
  request.port = server.Port();
  request.target = std::move(target);
  return request;
}

TransportRequest Post(const ScriptedServer& server, std::uint64_t length,
                      std::string target = "/") {
  TransportRequest request = Get(server, std::move(target));
  request.method = "POST";
  request.bodyLength = length;
  return request;
}

class TransportContract : public ::testing::TestWithParam<Param> {
 protected:
  HttpTransport& Transport() { return GetParam().backend.transport(); }

  // Carries one exchange to its end in the mode under test; the handler has then had its
  // OnComplete. Run makes every handler call on the caller's own thread, which is no transport
  // thread; Start makes them on transport threads.
  void Carry(const TransportRequest& request, Recorder& recorder) {
    const bool run = GetParam().mode == Mode::Run;
    if (run) {
      ASSERT_TRUE(Transport().Run(request, recorder));
      ASSERT_TRUE(recorder.End().has_value()) << "Run returned before the exchange ended";
    } else {
      std::unique_ptr<Exchange> exchange = Transport().Start(request, recorder);
      ASSERT_NE(exchange, nullptr);
      ASSERT_TRUE(recorder.WaitForEnd());
    }
    EXPECT_EQ(recorder.Completions(), 1);
    EXPECT_FALSE(recorder.Misused());
    for (const auto& [thread, onTransport] : recorder.Threads()) {
      if (run) {
        EXPECT_EQ(thread, std::this_thread::get_id());
      }
      EXPECT_EQ(onTransport, !run);
    }
  }
};

// ---- requests on the wire ----

TEST_P(TransportContract, PutsTheRequestOnTheWireAsGiven) {
  struct Case {
    const char* name;
    std::function<void(TransportRequest&)> shape;
    std::string body;  // sent through ReadBody
    std::string method, target, userAgent;
    std::vector<std::string> headers;  // name: value, as the server saw them, in order
  } cases[] = {
      {"a GET with headers in the caller's order, and no agent",
       [](TransportRequest& r) {
         r.target = "/cgi-bin/x.cgi?a=1&b=%41";
         r.headers = {"Pragma: no-cache", "X-Zeta: last letter", "Cache-Control: no-cache",
                      "X-Alpha: 1"};
       },
       "",
       "GET",
       "/cgi-bin/x.cgi?a=1&b=%41",
       "",
       {"Pragma: no-cache", "X-Zeta: last letter", "Cache-Control: no-cache", "X-Alpha: 1"}},
      {"the agent when one is given",
       [](TransportRequest& r) { r.userAgent = "Agent 1.0 (test)"; },
       "",
       "GET",
       "/",
       "Agent 1.0 (test)",
       {}},
      {"bytes that may not travel raw are encoded, percent signs stay",
       [](TransportRequest& r) { r.target = "/p?name=a%26b c\xE4\xB8\xAD#x\x01y"; },
       "",
       "GET",
       "/p?name=a%26b%20c%E4%B8%AD%23x%01y",
       "",
       {}},
      {"a target without its leading slash gets one",
       [](TransportRequest& r) { r.target = "cgi-bin/y.cgi?q=1"; },
       "",
       "GET",
       "/cgi-bin/y.cgi?q=1",
       "",
       {}},
      {"a POST body, with only the caller's content type",
       [](TransportRequest& r) {
         r.method = "POST";
         r.bodyLength = 21;
         r.headers = {"Content-Type: application/x-www-form-urlencoded"};
       },
       "user=admin&pwd=a%0Ab=",
       "POST",
       "/",
       "",
       {"Content-Type: application/x-www-form-urlencoded"}},
      {"an empty POST body",
       [](TransportRequest& r) {
         r.method = "POST";
         r.bodyLength = 0;
       },
       "",
       "POST",
       "/",
       "",
       {}},
      {"a POST body given whole, never asked of ReadBody",
       [](TransportRequest& r) {
         static const std::string whole = "isfolder=0&source_file=a%20b";
         r.method = "POST";
         r.bodyLength = whole.size();
         r.wholeBody = whole;
         r.headers = {"Content-Type: application/x-www-form-urlencoded"};
       },
       "isfolder=0&source_file=a%20b",
       "POST",
       "/",
       "",
       {"Content-Type: application/x-www-form-urlencoded"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    TransportRequest request = Get(server);
    c.shape(request);
    Recorder recorder(request.wholeBody ? "" : c.body);
    Carry(request, recorder);
    EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
    if (request.wholeBody) {
      EXPECT_EQ(recorder.ReadCalls(), 0);
    }

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, c.method);
    EXPECT_EQ(r.target, c.target);
    EXPECT_EQ(r.body, c.body);
    // Besides the caller's headers only what HTTP/1.1 itself needs goes out.
    std::vector<std::string> others;
    for (const auto& [name, value] : r.headers) {
      const auto is = [&](const char* n) {
        return std::equal(name.begin(), name.end(), n, n + std::char_traits<char>::length(n),
                          [](char a, char b) { return std::tolower(a) == std::tolower(b); });
      };
      if (is("Host")) {
        EXPECT_EQ(value, "127.0.0.1:" + std::to_string(server.Port()));
      } else if (is("Content-Length")) {
        EXPECT_EQ(c.method, "POST");
        EXPECT_EQ(value, std::to_string(c.body.size()));
      } else if (is("Connection")) {
        EXPECT_EQ(value, "Keep-Alive");
      } else if (is("User-Agent")) {
        EXPECT_EQ(value, c.userAgent);
      } else {
        others.push_back(name + ": " + value);
      }
    }
    EXPECT_EQ(others, c.headers);
    EXPECT_EQ(r.Header("User-Agent") != nullptr, !c.userAgent.empty());
    EXPECT_EQ(r.Header("Content-Length") != nullptr, c.method == "POST");
  }
}

// ---- the reply ----

TEST_P(TransportContract, HandsOverTheFinalReplyWithItsRawHead) {
  ScriptedServer target;
  target.SetDefaultReply({.status = 201, .headers = {{"X-Reply", "yes"}}, .body = "landed"});
  ScriptedServer server;
  server.Enqueue({.status = 302, .headers = {{"Location", target.BaseUrl() + "/there"}}});
  for (const bool redirected : {false, true}) {
    SCOPED_TRACE(redirected ? "after a redirect" : "direct");
    Recorder recorder;
    Carry(Get(redirected ? server : target), recorder);
    EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
    EXPECT_EQ(recorder.Status(), 201);
    EXPECT_EQ(recorder.HeadCalls(), 1);
    const std::string& head = recorder.Head();
    EXPECT_EQ(head.rfind("HTTP/1.1 201", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nX-Reply: yes\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("Location:"), std::string::npos) << head;  // no head of the redirect
    ASSERT_GE(head.size(), 4u);
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    EXPECT_EQ(recorder.Received(), "landed");
  }
  EXPECT_EQ(target.Requests().back().target, "/there");
}

// A redirected POST goes on as a GET without its body after 301, 302 and 303, and as the same
// POST with its body again, from its first byte, after 307 and 308.
TEST_P(TransportContract, RedirectedPostsGoOnByTheRedirectsRules) {
  ScriptedServer target;
  target.SetDefaultReply({.body = "landed"});
  const std::string body = "a=1&b=2";
  const struct {
    int status;
    const char* method;
    std::string body;
  } cases[] = {{301, "GET", ""},
               {302, "GET", ""},
               {303, "GET", ""},
               {307, "POST", body},
               {308, "POST", body}};
  for (const auto& c : cases) {
    for (const bool whole : {false, true}) {
      SCOPED_TRACE(std::to_string(c.status) + (whole ? ", the body given whole" : ""));
      ScriptedServer server;
      server.Enqueue({.status = c.status, .headers = {{"Location", target.BaseUrl() + "/there"}}});
      TransportRequest request = Post(server, body.size());
      if (whole) request.wholeBody = body;
      Recorder recorder(whole ? "" : body);
      Carry(request, recorder);
      EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
      EXPECT_EQ(recorder.Status(), 200);
      EXPECT_EQ(recorder.Received(), "landed");
      ASSERT_EQ(server.Requests().size(), 1u);
      EXPECT_EQ(server.Requests()[0].body, body);
      const auto landed = target.Requests().back();
      EXPECT_EQ(landed.target, "/there");
      EXPECT_EQ(landed.method, c.method);
      EXPECT_EQ(landed.body, c.body);
    }
  }
}

TEST_P(TransportContract, SuccessiveExchangesReuseOneConnection) {
  ScriptedServer server;
  server.SetDefaultReply({.body = "{\"status\":1}"});
  for (int i = 0; i < 3; ++i) {
    Recorder recorder(i == 1 ? "a=1" : "");
    Carry(i == 1 ? Post(server, 3) : Get(server), recorder);
    EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
    EXPECT_EQ(recorder.Received(), "{\"status\":1}");
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) EXPECT_EQ(r.connection, requests[0].connection);
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

// A connection serves the next exchange only after one that took its whole reply: an exchange
// its handler ends before the reply has ended, by refusing data or by asking to stop, closes it,
// so that the rest of that reply never reaches another exchange.
TEST_P(TransportContract, AConnectionOutlivesOnlyAnExchangeThatTookItsWholeReply) {
  const std::string reply = Pattern(4 * 1024 * 1024);
  const struct {
    const char* name;
    std::function<void(Recorder&)> shape;
    ExchangeEnd end;
    bool kept;
  } cases[] = {
      {"the whole reply taken, piece by piece", [](Recorder&) {}, ExchangeEnd::Completed, true},
      {"data refused mid-reply", [](Recorder& r) { r.refuseReplyAfter = 0; }, ExchangeEnd::Failed,
       false},
      {"a stop asked for mid-reply", [](Recorder& r) { r.stopAfterReply = 1; },
       ExchangeEnd::Stopped, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.Enqueue({.body = reply});
    server.SetDefaultReply({.body = "next"});
    TransportRequest request = Get(server);
    request.receiveBufferBytes = 64 * 1024;
    Recorder recorder;
    c.shape(recorder);
    Carry(request, recorder);
    EXPECT_EQ(recorder.End(), c.end);
    EXPECT_EQ(recorder.Received().size() == reply.size(), c.kept);

    Recorder next;
    Carry(Get(server), next);
    EXPECT_EQ(next.End(), ExchangeEnd::Completed);
    EXPECT_EQ(next.Received(), "next");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].connection == requests[0].connection, c.kept);
    EXPECT_EQ(server.ConnectionCount(), c.kept ? 1u : 2u);
  }
}

// ---- streamed bodies ----

TEST_P(TransportContract, StreamsTheRequestBodyFromReadBody) {
  ScriptedServer server;
  const std::string body = Pattern(700 * 1000 + 17);
  Recorder recorder(body);
  Carry(Post(server, body.size()), recorder);
  EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
  EXPECT_GT(recorder.ReadCalls(), 1);  // taken in pieces, never whole
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body.size(), body.size());
  EXPECT_TRUE(requests[0].body == body);
  EXPECT_EQ(*requests[0].Header("Content-Length"), std::to_string(body.size()));
}

TEST_P(TransportContract, DeliversTheReplyInPiecesNoLargerThanTheReceiveSize) {
  ScriptedServer server;
  const std::string reply = Pattern(3 * 1024 * 1024 + 5);
  server.Enqueue({.body = reply});
  Recorder recorder;
  TransportRequest request = Get(server);
  request.receiveBufferBytes = 16 * 1024;
  Carry(request, recorder);
  EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
  EXPECT_TRUE(recorder.Received() == reply);
  EXPECT_GT(recorder.Pieces().size(), 1u);
  EXPECT_LE(*std::max_element(recorder.Pieces().begin(), recorder.Pieces().end()),
            request.receiveBufferBytes);
}

// ---- failures ----

TEST_P(TransportContract, ExchangesThatBreakEndAsFailedOnce) {
  unsigned short closedPort;
  {
    ScriptedServer gone;
    closedPort = gone.Port();
  }
  const std::string bigReply = Pattern(2 * 1024 * 1024);
  struct Case {
    const char* name;
    ScriptedReply reply;
    std::function<void(TransportRequest&, Recorder&)> shape;
    bool headers;  // whether a status arrives before the failure
  } cases[] = {
      {"the handler refuses reply data",
       {.body = bigReply},
       [](TransportRequest&, Recorder& r) { r.refuseReplyAfter = 0; },
       true},
      {"the body cannot be read",
       {},
       [](TransportRequest& q, Recorder& r) {
         q.method = "POST";
         q.bodyLength = 100000;
         r.failReadAt = 20000;
       },
       false},
      {"the body ends before its announced length",
       {},
       [](TransportRequest& q, Recorder& r) {
         q.method = "POST";
         q.bodyLength = 100000;
         r.endBodyAt = 30000;
       },
       false},
      {"a reply cut short after a 200",
       {.body = "{\"status\":1", .declaredLength = 500},
       [](TransportRequest&, Recorder&) {},
       true},
      {"the connection dropped without a reply",
       {.dropConnection = true},
       [](TransportRequest&, Recorder&) {},
       false},
      {"no reply within the receive time-out",
       {.delayBeforeHeaders = 30s},
       [](TransportRequest& q, Recorder&) {
         q.timeouts = {300, 300, 300, 300};
       },
       false},
      {"the port is closed",
       {},
       [&](TransportRequest& q, Recorder&) { q.port = closedPort; },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.Enqueue(c.reply);
    TransportRequest request = Get(server);
    Recorder recorder(Pattern(100000));
    c.shape(request, recorder);
    const auto start = Clock::now();
    Carry(request, recorder);
    EXPECT_EQ(recorder.End(), ExchangeEnd::Failed);
    EXPECT_LT(Clock::now() - start, 20s);
    if (c.headers) {
      EXPECT_EQ(recorder.Status(), 200);
    } else {
      EXPECT_EQ(recorder.HeadCalls(), 0);
    }
  }
}

// The SHA-256 digest of a PEM certificate, as a request takes a pin.
std::string PinOf(const std::string& certPem) {
  const std::string hex = httpd::Sha256Fingerprint(certPem);
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 3)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// After an exchange that ended in an error, the next ones on the same thread (and engine), to a
// server that now answers normally, complete: one of another shape (a header line of its own,
// so that every option is set anew) and the first request again.
void ExpectTheNextExchangesComplete(const std::function<void(TransportRequest&, Recorder&)>& carry,
                                    const ScriptedServer& server, TransportRequest request) {
  for (const bool sameShape : {false, true}) {
    SCOPED_TRACE(sameShape ? "the same request" : "a request of another shape");
    TransportRequest next = request;
    if (!sameShape) next.headers.push_back("X-Next: 1");
    Recorder recorder;
    carry(next, recorder);
    EXPECT_EQ(recorder.End(), ExchangeEnd::Completed);
    EXPECT_EQ(recorder.Status(), 200);
    EXPECT_EQ(recorder.Received(), "fine");
    EXPECT_EQ(server.Requests().back().Header("X-Next") != nullptr, !sameShape);
  }
}

// An exchange that ends in an error leaves the thread fit for the next ones.
TEST_P(TransportContract, ExchangesAfterAFailedOneComplete) {
  const struct {
    const char* name;
    ScriptedReply failing;
  } cases[] = {{"no reply within the receive time-out", {.delayBeforeHeaders = 30s}},
               {"the connection reset without a reply", {.dropConnection = true}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.Enqueue(c.failing);
    server.SetDefaultReply({.body = "fine"});
    TransportRequest request = Get(server);
    request.timeouts = {300, 300, 300, 300};
    Recorder failed;
    Carry(request, failed);
    EXPECT_EQ(failed.End(), ExchangeEnd::Failed);
    ExpectTheNextExchangesComplete([&](auto& q, auto& r) { Carry(q, r); }, server, request);
    EXPECT_EQ(server.Requests().size(), 3u);
  }
}

// The same over HTTPS, after a redirect down to http that is refused (the redirect is the reply)
// and after a pin that the server's certificate does not match (no request byte goes out; the
// next requests, pin included, go to the server it names).
TEST_P(TransportContract, ExchangesAfterAFailedSecureOneComplete) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  const auto carry = [&](TransportRequest& q, Recorder& r) { Carry(q, r); };
  ScriptedServer plain;
  {
    SCOPED_TRACE("a redirect from https down to http, refused");
    ScriptedServer server(ScriptedServer::Scheme::Https);
    server.Enqueue({.status = 302,
                    .headers = {{"Location", plain.BaseUrl() + "/down"}},
                    .body = "<html>moved</html>"});
    server.SetDefaultReply({.body = "fine"});
    TransportRequest request = Get(server);
    request.secure = true;
    Recorder refused;
    Carry(request, refused);
    EXPECT_EQ(refused.End(), ExchangeEnd::Completed);
    EXPECT_EQ(refused.Status(), 302);
    ExpectTheNextExchangesComplete(carry, server, request);
    EXPECT_EQ(server.Requests().size(), 3u);
    EXPECT_TRUE(plain.Requests().empty());
  }
  {
    SCOPED_TRACE("a pin mismatch");
    ScriptedServer pinned(ScriptedServer::Scheme::Https), other(ScriptedServer::Scheme::Https);
    pinned.SetDefaultReply({.body = "fine"});
    TransportRequest request = Get(other);
    request.secure = true;
    request.certificatePin = PinOf(pinned.Certificate().certPem);
    Recorder refused;
    Carry(request, refused);
    EXPECT_EQ(refused.End(), ExchangeEnd::Failed);
    EXPECT_EQ(refused.HeadCalls(), 0);
    EXPECT_TRUE(other.Requests().empty());
    request.port = pinned.Port();
    ExpectTheNextExchangesComplete(carry, pinned, request);
  }
}

// ---- stopping ----

TEST_P(TransportContract, ShouldStopEndsAWaitForASilentServer) {
  for (const ScriptedReply& reply : {ScriptedReply{.delayBeforeHeaders = 30s},
                                     ScriptedReply{.body = "late", .delayBeforeBody = 30s}}) {
    ScriptedServer server;
    server.Enqueue(reply);
    Recorder recorder;
    Clock::time_point stoppedAt;
    std::thread stopper([&] {
      ASSERT_TRUE(server.WaitForRequests(1, 20s));
      stoppedAt = Clock::now();
      recorder.stop = true;
    });
    Carry(Get(server), recorder);
    stopper.join();
    EXPECT_EQ(recorder.End(), ExchangeEnd::Stopped);
    // The engines look every few tens of milliseconds; a loaded machine gets a wide margin.
    EXPECT_LT(Clock::now() - stoppedAt, 5s);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, TransportContract, ::testing::ValuesIn(Params()), ParamName);

// ---- the exchange's handle ----

class TransportHandle : public ::testing::TestWithParam<Backend> {};

// Destroying the handle at any moment detaches the handler: when the destructor returns no
// call runs or will run, and the exchange has completed at most once.
TEST_P(TransportHandle, DestroyingItDetachesTheHandlerAtAnyMoment) {
  HttpTransport& transport = GetParam().transport();
  enum class Moment { AtOnce, WhileWaitingForTheReply, WhileTheReplyArrives, AfterTheEnd };
  const struct {
    const char* name;
    Moment moment;
  } cases[] = {{"at once", Moment::AtOnce},
               {"while waiting for the reply", Moment::WhileWaitingForTheReply},
               {"while the reply arrives", Moment::WhileTheReplyArrives},
               {"after the end", Moment::AfterTheEnd}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    if (c.moment == Moment::WhileWaitingForTheReply) {
      server.Enqueue({.delayBeforeHeaders = 30s});
    } else {
      server.Enqueue({.body = Pattern(32 * 1024 * 1024)});
    }
    Recorder recorder;
    std::unique_ptr<Exchange> exchange = transport.Start(Get(server), recorder);
    ASSERT_NE(exchange, nullptr);
    switch (c.moment) {
      case Moment::AtOnce:
        break;
      case Moment::WhileWaitingForTheReply:
        ASSERT_TRUE(server.WaitForRequests(1, 20s));
        break;
      case Moment::WhileTheReplyArrives:
        ASSERT_TRUE(recorder.WaitForReplyBytes());
        break;
      case Moment::AfterTheEnd:
        ASSERT_TRUE(recorder.WaitForEnd());
        break;
    }

    const auto start = Clock::now();
    exchange.reset();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(recorder.InCall());
    recorder.detached = true;
    EXPECT_LE(recorder.Completions(), 1);
    if (c.moment == Moment::AfterTheEnd) {
      EXPECT_EQ(recorder.Completions(), 1);
    }

    // Another exchange through the same engine gives a late call the chance to show.
    Recorder next;
    std::unique_ptr<Exchange> after = transport.Start(Get(server), next);
    ASSERT_NE(after, nullptr);
    ASSERT_TRUE(next.WaitForEnd());
    EXPECT_FALSE(recorder.Misused());
  }
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Engines, TransportHandle, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace vesk::platform
