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
#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
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

bool StartsWithNoCase(const std::string& text, const char* prefix) {
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

// The request target as it goes on the wire: bytes that may not travel raw are
// percent-encoded; "%" stays, so values the caller encoded arrive as they were.
std::string EncodeTarget(const std::string& target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (target.empty() || target[0] != '/') out.push_back('/');
  for (const char ch : target) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '#') {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

class CurlEngine;

// The state of one exchange, shared by the engine and the caller's handle.
struct CurlExchange {
  CurlEngine* engine = nullptr;
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::unique_ptr<curl_slist, SlistDeleter> headerList;
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
    curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 32L);
    while (true) {
      bool stopping;
      {
        std::lock_guard lock(mutex_);
        stopping = stopping_;
        for (auto& exchange : pending_) {
          CURL* easy = exchange->easy.get();
          if (curl_multi_add_handle(multi_.get(), easy) == CURLM_OK) {
            exchange->lastActivity = Clock::now();
            active_.emplace(easy, std::move(exchange));
          } else {
            finished_.push_back({std::move(exchange), ExchangeEnd::Failed});
          }
        }
        pending_.clear();
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
      ExchangeEnd end = ExchangeEnd::Completed;
      if (exchange->aborted) {
        end = exchange->abortEnd;
      } else if (msg->data.result != CURLE_OK &&
                 !RedirectNotFollowed(*exchange, msg->data.result)) {
        end = ExchangeEnd::Failed;
      }
      finished_.push_back({std::move(exchange), end});
    }
  }

  // Cancel flags, detached handles and inactivity limits of the running exchanges.
  void Inspect() {
    const auto now = Clock::now();
    for (auto it = active_.begin(); it != active_.end();) {
      CurlExchange& exchange = *it->second;
      std::optional<ExchangeEnd> end;
      if (exchange.aborted) {
        end = exchange.abortEnd;
      } else if (exchange.StopRequested()) {
        end = ExchangeEnd::Stopped;
      } else if (exchange.connected) {
        const int limit = exchange.bodyDone ? exchange.receiveTimeoutMs : exchange.sendTimeoutMs;
        if (limit > 0 && now - exchange.lastActivity > std::chrono::milliseconds(limit))
          end = ExchangeEnd::Failed;
      }
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
      curl_multi_remove_handle(multi_.get(), exchange->easy.get());
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
  if (curl_easy_getinfo(ex.easy.get(), CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
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
  if (!ex.hasBody || ex.bodyLength == 0) ex.bodyDone = true;
  return CURL_PREREQFUNC_OK;
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* userdata) {
  auto& ex = *static_cast<CurlExchange*>(userdata);
  const size_t length = size * count;
  if (ex.aborted) return 0;
  ex.lastActivity = Clock::now();
  const std::string line(data, length);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new head: an interim reply or a redirect may come before the final one.
    ex.headBlock = line;
    ex.headHasLocation = false;
    ex.headPending = false;
    const auto space = line.find(' ');
    ex.headStatus =
        space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
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
    {
      // Waits for a handler call in progress on the engine thread.
      std::lock_guard lock(exchange_->callbackMutex);
      exchange_->handler = nullptr;
    }
    exchange_->engine->Wake();
    // A private engine ends with its only exchange; its destructor joins its thread.
  }

 private:
  std::shared_ptr<CurlExchange> exchange_;
  std::shared_ptr<CurlEngine> privateEngine_;
};

class CurlTransport final : public HttpTransport {
 public:
  std::unique_ptr<Exchange> Start(const TransportRequest& request,
                                  ExchangeHandler& handler) override {
    static CurlGlobal global;
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
    if (!Configure(*exchange, request)) return nullptr;
    engine->Submit(exchange);
    return std::make_unique<CurlExchangeHandle>(std::move(exchange), std::move(privateEngine));
  }

 private:
  static CurlEngine& Shared() {
    static CurlEngine engine;
    return engine;
  }

  static bool Configure(CurlExchange& ex, const TransportRequest& request) {
    ex.easy.reset(curl_easy_init());
    CURL* easy = ex.easy.get();
    if (!easy) return false;

    ex.url = std::string(request.secure ? "https://" : "http://") + request.host + ":" +
             std::to_string(request.port) + EncodeTarget(request.target);
    ex.userAgent = request.userAgent;
    ex.hasBody = request.bodyLength.has_value();
    ex.bodyLength = request.bodyLength.value_or(0);
    ex.sendTimeoutMs = request.timeouts.sendMs;
    ex.receiveTimeoutMs = request.timeouts.receiveMs;
    // Never from https down to http.
    ex.redirectProtocols = request.secure ? "https" : "http,https";
    if (request.secure) {
      ex.verifyCertificate = request.verifyCertificate;
      ex.caFile = request.caFile;
      ex.certificatePin = request.certificatePin;
    }

    curl_slist* list = nullptr;
    auto append = [&list](const std::string& line) {
      if (curl_slist* grown = curl_slist_append(list, line.c_str())) {
        list = grown;
        return true;
      }
      return false;
    };
    bool ok = true;
    for (const std::string& header : request.headers) {
      // curl reads "Name:" as "remove this header" and "Name;" as "send it empty".
      const auto colon = header.find(':');
      const bool empty = colon != std::string::npos &&
                         header.find_first_not_of(" \t", colon + 1) == std::string::npos;
      ok = ok && append(empty ? header.substr(0, colon) + ";" : header);
    }
    // Only what the caller asked for: none of curl's own defaults.
    if (!HasHeader(request.headers, "Accept")) ok = ok && append("Accept:");
    if (!HasHeader(request.headers, "Expect")) ok = ok && append("Expect:");
    if (ex.hasBody && !HasHeader(request.headers, "Content-Type"))
      ok = ok && append("Content-Type:");
    ex.headerList.reset(list);
    if (!ok) return false;

    long connectMs = LONG_MAX / 2;
    if (request.timeouts.connectMs > 0)
      connectMs = static_cast<long>(request.timeouts.connectMs) +
                  std::max(0L, static_cast<long>(request.timeouts.resolveMs));

    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
      if (rc == CURLE_OK) rc = curl_easy_setopt(easy, option, value);
    };
    set(CURLOPT_URL, ex.url.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_HTTPHEADER, ex.headerList.get());
    if (!ex.userAgent.empty()) set(CURLOPT_USERAGENT, ex.userAgent.c_str());
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_REDIR_PROTOCOLS_STR, ex.redirectProtocols.c_str());
    set(CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    set(CURLOPT_TCP_KEEPALIVE, 1L);
    set(CURLOPT_BUFFERSIZE, 65536L);
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
      set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&ex));
      // A resumed session would skip the handshake's check.
      set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    if (request.method == "POST") {
      set(CURLOPT_POST, 1L);
      set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ex.bodyLength));
      set(CURLOPT_READFUNCTION, &ReadCallback);
      set(CURLOPT_READDATA, static_cast<void*>(&ex));
      set(CURLOPT_SEEKFUNCTION, &SeekCallback);
      set(CURLOPT_SEEKDATA, static_cast<void*>(&ex));
    } else {
      set(CURLOPT_HTTPGET, 1L);
      ex.hasBody = false;
    }
    set(CURLOPT_PREREQFUNCTION, &PrereqCallback);
    set(CURLOPT_PREREQDATA, static_cast<void*>(&ex));
    set(CURLOPT_HEADERFUNCTION, &HeaderCallback);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&ex));
    set(CURLOPT_WRITEFUNCTION, &WriteCallback);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&ex));
    return rc == CURLE_OK;
  }
};

}  // namespace

HttpTransport& DefaultTransport() {
  static CurlTransport transport;
  return transport;
}

bool OnTransportThread() { return t_onEngineThread; }

}  // namespace vesk::platform
