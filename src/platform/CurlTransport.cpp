// The HTTP transport on libcurl.
//
// One engine thread drives every exchange of the process through a single curl multi handle,
// so that successive exchanges with the same scheme, host and port reuse its keep-alive
// connections. The thread waits on curl in short slices while exchanges run, and between the
// slices asks every exchange whether it must stop and whether it has been idle too long: a
// cancel takes effect within one slice even while the device is silent.
//
// An exchange started from the engine thread itself (a progress callback that makes a
// request of its own) runs on a private engine, since the shared one is busy calling back.
//
// An exchange that its caller would only wait for runs on the caller's thread instead (Run):
// each such thread keeps a multi handle of its own, with its own connections, and one easy
// handle and header list that it reuses, so that a loop of synchronous operations costs what
// a plain libcurl loop costs, without a thread switch.
#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/HttpTransport.h"

namespace vesk::platform {
namespace {

using Clock = std::chrono::steady_clock;

// How long the engine waits on curl before it looks at cancel flags and time-outs again.
constexpr auto kSlice = std::chrono::milliseconds(20);
// How long an idle engine sleeps when nothing wakes it.
constexpr auto kIdleWait = std::chrono::seconds(30);
constexpr long kMaxRedirects = 10;

thread_local bool t_onEngineThread = false;

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
};

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

bool StartsWithNoCase(std::string_view text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool HasHeader(const std::vector<std::string>& headers, const char* name) {
  const std::string prefix = std::string(name) + ":";
  return std::any_of(headers.begin(), headers.end(),
                     [&](const std::string& h) { return StartsWithNoCase(h, prefix.c_str()); });
}

class CurlEngine;

// The state of one exchange, shared by the engine and the caller's handle.
struct CurlExchange {
  CurlEngine* engine = nullptr;
  CURL* easy = nullptr;  // ownedEasy's, or the easy handle of the thread that runs it
  std::unique_ptr<CURL, EasyDeleter> ownedEasy;
  std::unique_ptr<curl_slist, SlistDeleter> ownedHeaderList;
  std::string url;
  std::string userAgent;
  std::string redirectProtocols;
  std::string caFile;
  std::string certificatePin;  // SHA-256 of the server's certificate; empty: not pinned
  bool verifyCertificate = false;

  // Guards handler calls against detaching: held while the handler runs.
  std::recursive_mutex callbackMutex;
  ExchangeHandler* handler = nullptr;  // null once detached or completed

  // Engine thread only.
  bool hasBody = false;
  const char* wholeBody = nullptr;  // a body curl sends from memory, with the request's head
  std::uint64_t bodyLength = 0;
  std::uint64_t bodySent = 0;
  bool connected = false;
  bool bodyDone = false;
  Clock::time_point lastActivity = Clock::now();
  int sendTimeoutMs = 0;
  int receiveTimeoutMs = 0;
  bool aborted = false;
  ExchangeEnd abortEnd = ExchangeEnd::Failed;
  std::string headBlock;
  long headStatus = 0;
  bool headHasLocation = false;
  bool headPending = false;  // a complete head not yet handed to the handler
  int redirectsSeen = 0;

  void Abort(ExchangeEnd end) {
    if (!aborted) {
      aborted = true;
      abortEnd = end;
    }
  }

  // Runs f(handler) unless the handler is gone; false when it is.
  template <typename F>
  bool WithHandler(F&& f) {
    std::lock_guard lock(callbackMutex);
    if (!handler) return false;
    f(*handler);
    return true;
  }

  bool StopRequested() {
    bool stop = true;
    WithHandler([&](ExchangeHandler& h) { stop = h.ShouldStop(); });
    return stop;
  }

  void DeliverHead() {
    if (!headPending) return;
    headPending = false;
    WithHandler([&](ExchangeHandler& h) { h.OnHeaders(static_cast<int>(headStatus), headBlock); });
  }
};

// A redirect that curl declines to follow (to a scheme it may not use, such as from https
// down to http, or one beyond the limit) fails the transfer, but the redirect itself arrived
// whole before curl tried to follow it: it is the reply, as with any redirect not followed.
bool RedirectNotFollowed(const CurlExchange& ex, CURLcode result) {
  return (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_TOO_MANY_REDIRECTS) &&
         ex.headStatus >= 300 && ex.headStatus < 400 && ex.headHasLocation;
}

// How curl's end of a transfer reads for the handler.
ExchangeEnd EndOf(const CurlExchange& ex, CURLcode result) {
  if (ex.aborted) return ex.abortEnd;
  if (result != CURLE_OK && !RedirectNotFollowed(ex, result)) return ExchangeEnd::Failed;
  return ExchangeEnd::Completed;
}

// Whether a running exchange must end now: aborted by a callback, stopped by its handler (or
// detached), or silent for longer than its inactivity limit.
std::optional<ExchangeEnd> Check(CurlExchange& ex, Clock::time_point now) {
  if (ex.aborted) return ex.abortEnd;
  if (ex.StopRequested()) return ExchangeEnd::Stopped;
  if (ex.connected) {
    const int limit = ex.bodyDone ? ex.receiveTimeoutMs : ex.sendTimeoutMs;
    if (limit > 0 && now - ex.lastActivity > std::chrono::milliseconds(limit))
      return ExchangeEnd::Failed;
  }
  return std::nullopt;
}

class CurlEngine {
 public:
  CurlEngine() : multi_(curl_multi_init()) {
    if (multi_) thread_ = std::thread([this] { Loop(); });
  }

  ~CurlEngine() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    if (multi_) curl_multi_wakeup(multi_.get());
    if (thread_.joinable()) thread_.join();
  }

  bool Usable() const { return multi_ != nullptr; }

  void Submit(std::shared_ptr<CurlExchange> exchange) {
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(std::move(exchange));
    }
    curl_multi_wakeup(multi_.get());
  }

  void Wake() { curl_multi_wakeup(multi_.get()); }

 private:
  void Loop() {
    t_onEngineThread = true;
    curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, maxConnects_);
    while (true) {
      bool stopping;
      {
        std::lock_guard lock(mutex_);
        stopping = stopping_;
        for (auto& exchange : pending_) {
          CURL* easy = exchange->easy;
          if (curl_multi_add_handle(multi_.get(), easy) == CURLM_OK) {
            exchange->lastActivity = Clock::now();
            active_.emplace(easy, std::move(exchange));
          } else {
            finished_.push_back({std::move(exchange), ExchangeEnd::Failed});
          }
        }
        pending_.clear();
      }
      // The idle-connection cache keeps up with the most exchanges that ran at once, so that a
      // caller's concurrency never closes connections between its batches.
      if (static_cast<long>(active_.size()) > maxConnects_) {
        maxConnects_ = static_cast<long>(active_.size());
        curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, maxConnects_);
      }
      if (stopping) {
        for (auto& [easy, exchange] : active_)
          finished_.push_back({exchange, ExchangeEnd::Stopped});
        active_.clear();
        Finish();
        break;
      }

      int running = 0;
      curl_multi_perform(multi_.get(), &running);
      CollectDone();
      Inspect();
      Finish();

      const auto wait = active_.empty() ? kIdleWait : kSlice;
      curl_multi_poll(multi_.get(), nullptr, 0,
                      static_cast<int>(std::chrono::milliseconds(wait).count()), nullptr);
    }
  }

  // Exchanges curl has finished with.
  void CollectDone() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      auto it = active_.find(msg->easy_handle);
      if (it == active_.end()) continue;
      auto exchange = it->second;
      active_.erase(it);
      const ExchangeEnd end = EndOf(*exchange, msg->data.result);
      finished_.push_back({std::move(exchange), end});
    }
  }

  // Cancel flags, detached handles and inactivity limits of the running exchanges.
  void Inspect() {
    const auto now = Clock::now();
    for (auto it = active_.begin(); it != active_.end();) {
      const std::optional<ExchangeEnd> end = Check(*it->second, now);
      if (end) {
        finished_.push_back({it->second, *end});
        it = active_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Takes finished exchanges off curl, then tells their handlers.
  void Finish() {
    for (auto& [exchange, end] : finished_) {
      curl_multi_remove_handle(multi_.get(), exchange->easy);
      if (end == ExchangeEnd::Completed) exchange->DeliverHead();
      std::lock_guard lock(exchange->callbackMutex);
      if (ExchangeHandler* handler = std::exchange(exchange->handler, nullptr))
        handler->OnComplete(end);
    }
    finished_.clear();
  }

  struct Done {
    std::shared_ptr<CurlExchange> exchange;
    ExchangeEnd end;
  };

  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::mutex mutex_;
  bool stopping_ = false;
  std::vector<std::shared_ptr<CurlExchange>> pending_;  // guarded by mutex_
  std::map<CURL*, std::shared_ptr<CurlExchange>> active_;
  std::vector<Done> finished_;
  long maxConnects_ = 32;
  std::thread thread_;
};

// ---- the certificate pin ----
//
// A new connection checks the pin in its TLS handshake, so that a server with another
// certificate never sees a request byte. curl knows nothing of the pin: it may hand an
// exchange a connection made without it (or, on a resumed session, skip the handshake's
// check), so the certificate of the connection an exchange is about to use is checked again
// before the exchange's first byte.

// What a pinned connection's handshake checks; owned by the connection's SSL_CTX.
struct PinCheck {
  std::string pin;
  bool verifyCertificate = false;
};

void FreePinCheck(void*, void* check, CRYPTO_EX_DATA*, int, long, void*) {
  delete static_cast<PinCheck*>(check);
}

int PinCheckIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, &FreePinCheck);
  return index;
}

bool MatchesPin(X509* certificate, const std::string& pin) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  return certificate && X509_digest(certificate, EVP_sha256(), digest, &length) == 1 &&
         length == pin.size() && CRYPTO_memcmp(digest, pin.data(), length) == 0;
}

// The handshake's verification: the server's own certificate (depth 0) must match the pin;
// the rest of the chain decides only when certificates are verified.
int VerifyPinned(int preverified, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  const auto* check =
      ssl ? static_cast<const PinCheck*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), PinCheckIndex()))
          : nullptr;
  if (!check) return 0;
  if (X509_STORE_CTX_get_error_depth(store) == 0 &&
      !MatchesPin(X509_STORE_CTX_get_current_cert(store), check->pin)) {
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
  }
  return check->verifyCertificate ? preverified : 1;
}

// curl's hook into a new connection's TLS context; userdata is the CurlExchange.
CURLcode SetUpPinnedContext(CURL*, void* sslContext, void* userdata) {
  const auto& ex = *static_cast<const CurlExchange*>(userdata);
  auto* context = static_cast<SSL_CTX*>(sslContext);
  try {
    auto check = std::make_unique<PinCheck>(PinCheck{ex.certificatePin, ex.verifyCertificate});
    if (PinCheckIndex() < 0 || SSL_CTX_set_ex_data(context, PinCheckIndex(), check.get()) != 1)
      return CURLE_SSL_CERTPROBLEM;
    check.release();  // the context frees it
  } catch (...) {
    return CURLE_OUT_OF_MEMORY;
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &VerifyPinned);
  return CURLE_OK;
}

// The certificate of the connection the exchange is about to use, against its pin.
bool ConnectionMatchesPin(const CurlExchange& ex) {
  curl_tlssessioninfo* info = nullptr;
  if (curl_easy_getinfo(ex.easy, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
      info->backend != CURLSSLBACKEND_OPENSSL || !info->internals)
    return false;
  return MatchesPin(SSL_get0_peer_certificate(static_cast<SSL*>(info->internals)),
                    ex.certificatePin);
}

// ---- curl callbacks; userdata is the CurlExchange ----

size_t ReadCallback(char* buffer, size_t size, size_t count, void* userdata) {
  auto& ex = *static_cast<CurlExchange*>(userdata);
  if (ex.aborted) return CURL_READFUNC_ABORT;
  std::size_t max = size * count;
  if (ex.hasBody)
    max = static_cast<std::size_t>(std::min<std::uint64_t>(max, ex.bodyLength - ex.bodySent));
  if (max == 0) {
    ex.bodyDone = true;
    return 0;
  }
  long long n = -1;
  bool stop = false;
  if (!ex.WithHandler([&](ExchangeHandler& h) {
        stop = h.ShouldStop();
        if (!stop) n = h.ReadBody(buffer, max);
      }) ||
      stop) {
    ex.Abort(ExchangeEnd::Stopped);
    return CURL_READFUNC_ABORT;
  }
  // A body that fails or ends before its announced length is never sent short.
  if (n <= 0 || static_cast<std::size_t>(n) > max) {
    ex.Abort(ExchangeEnd::Failed);
    return CURL_READFUNC_ABORT;
  }
  ex.bodySent += static_cast<std::uint64_t>(n);
  ex.lastActivity = Clock::now();
  if (ex.bodySent == ex.bodyLength) ex.bodyDone = true;
  return static_cast<size_t>(n);
}

int SeekCallback(void* userdata, curl_off_t offset, int origin) {
  auto& ex = *static_cast<CurlExchange*>(userdata);
  if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  bool ok = false;
  ex.WithHandler([&](ExchangeHandler& h) { ok = h.RewindBody(); });
  if (!ok) return CURL_SEEKFUNC_FAIL;
  ex.bodySent = 0;
  ex.bodyDone = !ex.hasBody;
  return CURL_SEEKFUNC_OK;
}

int PrereqCallback(void* userdata, char*, char*, int, int) {
  auto& ex = *static_cast<CurlExchange*>(userdata);
  if (!ex.certificatePin.empty() && !ConnectionMatchesPin(ex)) {
    ex.Abort(ExchangeEnd::Failed);
    return CURL_PREREQFUNC_ABORT;
  }
  ex.connected = true;
  ex.lastActivity = Clock::now();
  if (!ex.hasBody || ex.bodyLength == 0 || ex.wholeBody) ex.bodyDone = true;
  return CURL_PREREQFUNC_OK;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* userdata) {
  auto& ex = *static_cast<CurlExchange*>(userdata);
  const size_t length = size * count;
  if (ex.aborted) return 0;
  ex.lastActivity = Clock::now();
  const std::string_view line(data, length);
  if (line.substr(0, 5) == "HTTP/") {
    // A new head: an interim reply or a redirect may come before the final one.
    ex.headBlock = line;
    ex.headHasLocation = false;
    ex.headPending = false;
    // The status: the digits after the first space (curl has checked the line's form).
    long status = 0;
    const auto space = line.find(' ');
    for (std::size_t i = space == std::string_view::npos ? line.size() : space + 1;
         i < line.size() && line[i] >= '0' && line[i] <= '9' && status < 100000; ++i)
      status = status * 10 + (line[i] - '0');
    ex.headStatus = status;
    return length;
  }
  if (line == "\r\n" || line == "\n") {
    ex.headBlock += line;
    if (ex.headStatus >= 100 && ex.headStatus < 200) return length;  // interim reply
    ex.headPending = true;
    const bool redirect = ex.headStatus == 301 || ex.headStatus == 302 || ex.headStatus == 303 ||
                          ex.headStatus == 307 || ex.headStatus == 308;
    if (redirect && ex.headHasLocation && ex.redirectsSeen < kMaxRedirects) {
      ++ex.redirectsSeen;  // curl follows it; the next head replaces this one
      return length;
    }
    ex.DeliverHead();
    return length;
  }
  if (StartsWithNoCase(line, "location:")) ex.headHasLocation = true;
  ex.headBlock += line;
  return length;
}

size_t WriteCallback(char* data, size_t size, size_t count, void* userdata) {
  auto& ex = *static_cast<CurlExchange*>(userdata);
  const size_t length = size * count;
  if (ex.aborted) return 0;
  ex.lastActivity = Clock::now();
  ex.DeliverHead();
  bool accepted = false, stop = false;
  if (!ex.WithHandler([&](ExchangeHandler& h) {
        stop = h.ShouldStop();
        if (!stop) accepted = h.OnBodyData(data, length);
      }) ||
      stop) {
    ex.Abort(ExchangeEnd::Stopped);
    return 0;
  }
  if (!accepted) {
    ex.Abort(ExchangeEnd::Failed);
    return 0;
  }
  return length;
}

class CurlExchangeHandle final : public Exchange {
 public:
  CurlExchangeHandle(std::shared_ptr<CurlExchange> exchange, std::shared_ptr<CurlEngine> engine)
      : exchange_(std::move(exchange)), privateEngine_(std::move(engine)) {}

  ~CurlExchangeHandle() override {
    bool running;
    {
      // Waits for a handler call in progress on the engine thread.
      std::lock_guard lock(exchange_->callbackMutex);
      running = exchange_->handler != nullptr;
      exchange_->handler = nullptr;
    }
    // A running exchange is taken off curl at once; one that has completed needs nothing more.
    if (running) exchange_->engine->Wake();
    // A private engine ends with its only exchange; its destructor joins its thread.
  }

 private:
  std::shared_ptr<CurlExchange> exchange_;
  std::shared_ptr<CurlEngine> privateEngine_;
};

// What a thread that runs exchanges itself keeps between them.
struct CallerThreadCurl {
  std::unique_ptr<CURLM, MultiDeleter> multi{curl_multi_init()};
  std::unique_ptr<CURL, EasyDeleter> easy{curl_easy_init()};
  std::vector<std::string> headerLines;  // those of headerList
  std::unique_ptr<curl_slist, SlistDeleter> headerList;
  std::string shape;  // what the easy handle's lasting options were set from; empty: unknown
  bool busy = false;  // an exchange runs: a nested one (from a progress callback) goes elsewhere

  // Replaces the easy handle with a fresh one. The connections stay: they belong to the multi
  // handle. Without a handle (curl could not make one) the thread's exchanges go to the engine.
  void Renew() {
    easy.reset(curl_easy_init());
    shape.clear();
  }
};

CallerThreadCurl* ThisThreadCurl() {
  thread_local std::unique_ptr<CallerThreadCurl> curl;
  if (!curl) {
    curl = std::make_unique<CallerThreadCurl>();
    if (!curl->multi || !curl->easy) {
      curl.reset();
      return nullptr;
    }
  }
  return curl.get();
}

class CurlTransport final : public HttpTransport {
 public:
  bool Run(const TransportRequest& request, ExchangeHandler& handler) override {
    CallerThreadCurl* own = t_onEngineThread ? nullptr : ThisThreadCurl();
    if (!own || own->busy || !own->easy) return HttpTransport::Run(request, handler);

    CurlExchange ex;
    ex.handler = &handler;
    if (!Configure(ex, request, own)) {
      own->Renew();
      return false;
    }
    CURLM* multi = own->multi.get();
    if (curl_multi_add_handle(multi, ex.easy) != CURLM_OK) {
      own->Renew();
      return false;
    }
    own->busy = true;
    ex.lastActivity = Clock::now();
    std::optional<ExchangeEnd> end;
    bool clean = false;  // curl ended the transfer without an error
    while (!end) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == ex.easy) {
          end = EndOf(ex, msg->data.result);
          clean = msg->data.result == CURLE_OK;
        }
      }
      if (!end) end = Check(ex, Clock::now());
      if (!end) curl_multi_poll(multi, nullptr, 0, static_cast<int>(kSlice.count()), nullptr);
    }
    curl_multi_remove_handle(multi, ex.easy);
    own->busy = false;
    // A transfer that curl ended in an error, or that was taken off it half-way, may leave state
    // in the handle that curl_easy_reset does not clear (after a redirect it refused to follow,
    // curl keeps the receive buffer and refuses the next receive size): the thread's next
    // exchange gets a fresh handle.
    if (!clean) own->Renew();
    if (*end == ExchangeEnd::Completed) ex.DeliverHead();
    ex.handler = nullptr;
    handler.OnComplete(*end);
    return true;
  }

  std::unique_ptr<Exchange> Start(const TransportRequest& request,
                                  ExchangeHandler& handler) override {
    std::shared_ptr<CurlEngine> privateEngine;
    CurlEngine* engine = &Shared();
    if (t_onEngineThread) {
      privateEngine = std::make_shared<CurlEngine>();
      engine = privateEngine.get();
    }
    if (!engine->Usable()) return nullptr;

    auto exchange = std::make_shared<CurlExchange>();
    exchange->engine = engine;
    exchange->handler = &handler;
    if (!Configure(*exchange, request, nullptr)) return nullptr;
    engine->Submit(exchange);
    return std::make_unique<CurlExchangeHandle>(std::move(exchange), std::move(privateEngine));
  }

 private:
  // libcurl is set up before the first exchange and cleaned up after everything made after the
  // transport (the worker pool among them) has gone.
  CurlGlobal global_;

  static CurlEngine& Shared() {
    static CurlEngine engine;
    return engine;
  }

  // Sets an exchange up on a fresh easy handle, or on the reused one of `own` (reset first).
  static bool Configure(CurlExchange& ex, const TransportRequest& request, CallerThreadCurl* own) {
    if (own) {
      ex.easy = own->easy.get();
    } else {
      ex.ownedEasy.reset(curl_easy_init());
      ex.easy = ex.ownedEasy.get();
    }
    CURL* easy = ex.easy;
    if (!easy) return false;

    ex.url = std::string(request.secure ? "https://" : "http://") + request.host + ":" +
             std::to_string(request.port) + WireTarget(request.target);
    ex.userAgent = request.userAgent;
    // Only a POST carries a body.
    ex.hasBody = request.bodyLength.has_value() && request.method == "POST";
    ex.bodyLength = request.bodyLength.value_or(0);
    // A body in memory goes out in the same write as the head: a device that reads the head
    // first then has the body at once, not a round trip later.
    if (ex.hasBody && request.wholeBody) {
      if (request.wholeBody->size() != ex.bodyLength) return false;
      ex.wholeBody = request.wholeBody->data();
    }
    ex.sendTimeoutMs = request.timeouts.sendMs;
    ex.receiveTimeoutMs = request.timeouts.receiveMs;
    // Never from https down to http.
    ex.redirectProtocols = request.secure ? "https" : "http,https";
    if (request.secure) {
      ex.verifyCertificate = request.verifyCertificate;
      ex.caFile = request.caFile;
      ex.certificatePin = request.certificatePin;
    }

    std::vector<std::string> lines;
    lines.reserve(request.headers.size() + 3);
    for (const std::string& header : request.headers) {
      // curl reads "Name:" as "remove this header" and "Name;" as "send it empty".
      const auto colon = header.find(':');
      const bool empty = colon != std::string::npos &&
                         header.find_first_not_of(" \t", colon + 1) == std::string::npos;
      lines.push_back(empty ? header.substr(0, colon) + ";" : header);
    }
    // Only what the caller asked for: none of curl's own defaults.
    if (!HasHeader(request.headers, "Accept")) lines.emplace_back("Accept:");
    if (!HasHeader(request.headers, "Expect")) lines.emplace_back("Expect:");
    if (ex.hasBody && !HasHeader(request.headers, "Content-Type"))
      lines.emplace_back("Content-Type:");
    // A thread's exchanges mostly send the same lines: its list is made again only when they
    // change.
    curl_slist* headerList = nullptr;
    bool listKept = false;
    if (own && own->headerList && own->headerLines == lines) {
      headerList = own->headerList.get();
      listKept = true;
    } else {
      std::unique_ptr<curl_slist, SlistDeleter> list;
      for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (!grown) return false;
        list.release();
        list.reset(grown);
      }
      headerList = list.get();
      if (own) {
        own->headerList = std::move(list);
        own->headerLines = std::move(lines);
      } else {
        ex.ownedHeaderList = std::move(list);
      }
    }

    long connectMs = LONG_MAX / 2;
    if (request.timeouts.connectMs > 0)
      connectMs = static_cast<long>(request.timeouts.connectMs) +
                  std::max(0L, static_cast<long>(request.timeouts.resolveMs));

    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
      if (rc == CURLE_OK) rc = curl_easy_setopt(easy, option, value);
    };

    // A thread's handle keeps the options of its last exchange: when this one's are the same,
    // only what belongs to the exchange itself is set again.
    std::string shape;
    if (own) {
      shape.reserve(128 + ex.userAgent.size() + ex.caFile.size());
      shape.append(request.method).append(1, request.secure ? 's' : 'p');
      shape.append(1, ex.verifyCertificate ? 'v' : '-').append(1, ex.hasBody ? 'b' : '-');
      shape.append(std::to_string(connectMs)).append(1, '/');
      shape.append(std::to_string(request.receiveBufferBytes)).append(1, '/');
      shape.append(ex.userAgent).append(1, '\0').append(ex.caFile).append(1, '\0');
      shape.append(ex.certificatePin);
      if (listKept && own->shape == shape) {
        SetPerExchange(ex, set);
        return rc == CURLE_OK;
      }
      own->shape.clear();
      curl_easy_reset(easy);
    }
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_HTTPHEADER, headerList);
    if (!ex.userAgent.empty()) set(CURLOPT_USERAGENT, ex.userAgent.c_str());
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_REDIR_PROTOCOLS_STR, ex.redirectProtocols.c_str());
    set(CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    set(CURLOPT_TCP_KEEPALIVE, 1L);
    set(CURLOPT_BUFFERSIZE,
        request.receiveBufferBytes > 0 ? static_cast<long>(request.receiveBufferBytes) : 65536L);
    if (request.secure && !ex.verifyCertificate) {
      set(CURLOPT_SSL_VERIFYPEER, 0L);
      set(CURLOPT_SSL_VERIFYHOST, 0L);
    } else if (request.secure && !ex.caFile.empty()) {
      // These authorities only, read afresh for each new connection. curl keeps connections
      // made under another file (or the system's store) apart.
      set(CURLOPT_CAINFO, ex.caFile.c_str());
      set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
      set(CURLOPT_CA_CACHE_TIMEOUT, 0L);
    }
    if (!ex.certificatePin.empty()) {
      set(CURLOPT_SSL_CTX_FUNCTION, &SetUpPinnedContext);
      // A resumed session would skip the handshake's check.
      set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    if (request.method == "POST") {
      set(CURLOPT_POST, 1L);
      set(CURLOPT_READFUNCTION, &ReadCallback);
      set(CURLOPT_SEEKFUNCTION, &SeekCallback);
    } else {
      set(CURLOPT_HTTPGET, 1L);
    }
    set(CURLOPT_PREREQFUNCTION, &PrereqCallback);
    set(CURLOPT_HEADERFUNCTION, &HeaderCallback);
    set(CURLOPT_WRITEFUNCTION, &WriteCallback);
    SetPerExchange(ex, set);
    if (own && rc == CURLE_OK) own->shape = std::move(shape);
    return rc == CURLE_OK;
  }

  // The options that belong to one exchange: its URL, its body's length and the state its
  // callbacks are handed.
  template <typename Set>
  static void SetPerExchange(CurlExchange& ex, Set& set) {
    void* const self = &ex;
    set(CURLOPT_URL, ex.url.c_str());
    if (ex.hasBody) {
      set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ex.bodyLength));
      // Null: the read callback gives the body.
      set(CURLOPT_POSTFIELDS, ex.wholeBody);
    }
    if (!ex.certificatePin.empty()) set(CURLOPT_SSL_CTX_DATA, self);
    set(CURLOPT_READDATA, self);
    set(CURLOPT_SEEKDATA, self);
    set(CURLOPT_PREREQDATA, self);
    set(CURLOPT_HEADERDATA, self);
    set(CURLOPT_WRITEDATA, self);
  }
};

}  // namespace

HttpTransport& DefaultTransport() {
  static CurlTransport transport;
  return transport;
}

bool OnTransportThread() { return t_onEngineThread; }

}  // namespace vesk::platform
