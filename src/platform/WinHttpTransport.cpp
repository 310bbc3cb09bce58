// The HTTP transport on WinHTTP, in its asynchronous mode.
//
// One WinHTTP session serves the whole process, so that successive exchanges with the same
// scheme, host and port reuse its pooled keep-alive connections. Each exchange is one request
// handle whose status callback drives it: request sent → body written piece by piece →
// response received → head queried → body read piece by piece → end of body. The callback runs
// on WinHTTP's threads, one notification at a time per request, and every handler call is made
// under the exchange's callback lock, so a call from the watcher (below) never overlaps one
// from WinHTTP.
//
// Redirects are followed here rather than inside WinHTTP, by the same rules as WinHTTP's
// default policy, so that a redirect that is not followed arrives as the reply, and a body
// written piece by piece goes out again whole (or not at all) on the next request.
//
// Run carries every handler call over to the calling thread, which waits for them and, in
// short slices, asks the handler whether to stop.
//
// WinHTTP reports nothing while the server is silent, so a watcher thread asks every running
// exchange's handler whether it must stop, in short slices of a timed wait; a stop closes the
// request handle, which ends any wait on the network.
//
// An exchange ends exactly once: the first end decided (completed, failed or stopped) is the
// one the handler hears, and its request handle is closed right after. WinHTTP may still call
// back until it reports the handle closing; the exchange's state lives until then, and
// destroying the exchange's handle detaches the handler and waits a bounded time for it.
#include <winsock2.h>
#include <ws2tcpip.h>
// The socket headers before windows.h, which the headers below need.
#include <wincrypt.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/HttpTransport.h"
#include "platform/ServerCertificate.h"
#include "platform/WinHttpDefinitions.h"

namespace vesk::platform {
namespace {

// How often the watcher asks running exchanges whether they must stop.
constexpr auto kSlice = std::chrono::milliseconds(20);
// The largest body piece handed to one write, and the default size of one read.
constexpr std::size_t kWritePiece = 64 * 1024;
constexpr std::size_t kDefaultReadSize = 64 * 1024;
// The longest a handle's destructor waits for WinHTTP to report the request closed.
constexpr auto kClosingWait = std::chrono::seconds(1);
// How often one exchange sends its request again when WinHTTP asks for it (a redirect or a
// fresh connection after the body was written).
constexpr int kMaxResends = 10;
// The most redirects one exchange follows in a row.
constexpr int kMaxRedirects = 10;

// Depth of transport calls on this thread: a WinHTTP callback or the watcher.
thread_local int t_transportDepth = 0;
// The exchange whose callback this thread is running, if any.
thread_local const void* t_currentExchange = nullptr;

struct TransportScope {
  explicit TransportScope(const void* exchange) : previous_(t_currentExchange) {
    ++t_transportDepth;
    t_currentExchange = exchange;
  }
  ~TransportScope() {
    --t_transportDepth;
    t_currentExchange = previous_;
  }
  TransportScope(const TransportScope&) = delete;
  TransportScope& operator=(const TransportScope&) = delete;

 private:
  const void* previous_;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// UTF-8 to UTF-16; nullopt for bytes that are no UTF-8.
std::optional<std::wstring> Widen(std::string_view text) {
  if (text.empty()) return std::wstring();
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(text.size());
  const int needed =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), needed);
  return out;
}

// Header bytes as WinHTTP's wide text: each byte one character, which WinHTTP narrows back to
// the same byte on the wire.
std::wstring WidenBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (const char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

// WinHTTP's wide head text back to bytes: characters below 256 as the bytes they came from,
// anything else as UTF-8.
std::string NarrowHead(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c < 0x100) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    std::size_t n = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) n = 2;
    char buffer[8];
    const int written = WideCharToMultiByte(CP_UTF8, 0, text.data() + i, static_cast<int>(n),
                                            buffer, sizeof buffer, nullptr, nullptr);
    if (written > 0) out.append(buffer, static_cast<std::size_t>(written));
    i += n - 1;
  }
  return out;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "[::1]" || host == "::1" || host.rfind("127.", 0) == 0;
}

struct InternetHandleDeleter {
  void operator()(void* handle) const { WinHttpCloseHandle(static_cast<HINTERNET>(handle)); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleDeleter>;

struct CertContextDeleter {
  void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
struct GlobalStringDeleter {
  void operator()(wchar_t* text) const { GlobalFree(text); }
};
using GlobalString = std::unique_ptr<wchar_t, GlobalStringDeleter>;

// ---- the proxy ----

// Applies the current user's proxy settings to a request: the automatic configuration (by
// detection and by the configured script) first, else the named proxy list with its bypass
// list. false when there is nothing to apply or it cannot be applied.
bool ApplyUserProxy(HINTERNET request, const std::wstring& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return false;
  const GlobalString autoConfigUrl(ie.lpszAutoConfigUrl), proxy(ie.lpszProxy),
      bypass(ie.lpszProxyBypass);
  if (ie.fAutoDetect || autoConfigUrl) {
    // The script is resolved on a session of its own, without asynchronous notification.
    const InternetHandle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    if (autoConfigUrl) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = autoConfigUrl.get();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (session && WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
      const GlobalString resolvedProxy(info.lpszProxy), resolvedBypass(info.lpszProxyBypass);
      return WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info) != FALSE;
    }
  }
  if (!proxy) return false;
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info.lpszProxy = proxy.get();
  info.lpszProxyBypass = bypass.get();
  return WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info) != FALSE;
}

// ---- one exchange ----

void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD length);

struct WinExchange {
  // Set before the exchange starts, then read only.
  HINTERNET session = nullptr;
  TransportRequest base;  // the caller's request
  std::size_t readSize = kDefaultReadSize;

  // Where the current request goes: the caller's, or where a redirect sent it. Guarded by
  // callbackMutex once the exchange runs.
  HINTERNET request = nullptr;  // used under callbackMutex while requestOpen
  std::string method;
  bool secure = false;
  std::string hostName;  // UTF-8, as in the request
  unsigned short port = 0;
  std::string target;  // encoded
  std::wstring host;
  std::wstring url;  // for the proxy's automatic configuration
  bool loopback = false;
  bool hasBody = false;
  std::uint64_t bodyLength = 0;
  bool verifyCertificate = false;
  std::string caFile;
  std::string certificatePin;
  int redirects = 0;
  bool discardBody = false;  // the reply is a redirect not followed
  // Every connection handle the exchange opened; closed once its last request handle is.
  std::vector<HINTERNET> connects;

  // WinHTTP's reference: the state lives until the request handle reports its closing.
  std::shared_ptr<WinExchange> self;

  // Held while the handler runs and while the request handle is used.
  std::recursive_mutex callbackMutex;
  ExchangeHandler* handler = nullptr;  // null once completed or detached
  bool requestOpen = false;
  std::atomic<bool> ended{false};
  // Guarded by callbackMutex.
  std::uint64_t bodySent = 0;
  bool connected = false;
  bool proxyTried = false;
  int resends = 0;
  std::optional<std::uint64_t> contentLength;  // the reply's announced length, if it counts
  std::uint64_t received = 0;
  std::vector<char> writeBuffer;
  std::vector<char> readBuffer;

  // Guards closed and openRequests.
  std::mutex closeMutex;
  std::condition_variable closedCondition;
  int openRequests = 0;  // request handles whose closing WinHTTP has not reported yet
  bool closed = false;   // WinHTTP has reported the last request handle closing

  // Sets the current request's destination: the caller's, or a redirect's.
  void Aim(std::string newMethod, bool newSecure, std::string newHost, unsigned short newPort,
           const std::string& newTarget) {
    method = std::move(newMethod);
    secure = newSecure;
    hostName = std::move(newHost);
    port = newPort;
    target = WireTarget(newTarget);
    loopback = IsLoopback(hostName);
    url = WidenBytes(std::string(secure ? "https://" : "http://") + hostName + ":" +
                     std::to_string(port) + target);
    hasBody = method == "POST" && base.bodyLength.has_value();
    bodyLength = hasBody ? *base.bodyLength : 0;
    verifyCertificate = secure && base.verifyCertificate;
    caFile = secure ? base.caFile : std::string();
    certificatePin = secure ? base.certificatePin : std::string();
  }

  // Opens a request handle for the current destination and makes it the current one, with
  // this state as its context. Called with callbackMutex held, or before the exchange runs.
  bool Open() {
    const std::optional<std::wstring> wideHost = Widen(hostName);
    if (!wideHost || wideHost->empty()) return false;
    host = *wideHost;
    HINTERNET connect = WinHttpConnect(session, host.c_str(), port, 0);
    if (!connect) return false;
    const std::wstring verb = WidenBytes(method);
    const std::wstring object = WidenBytes(target);
    HINTERNET opened =
        WinHttpOpenRequest(connect, verb.c_str(), object.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                           (secure ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_ESCAPE_DISABLE |
                               WINHTTP_FLAG_ESCAPE_DISABLE_QUERY);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
    if (!opened || !Configure(opened) ||
        !WinHttpSetOption(opened, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
      // No status callback yet: nothing is reported for these handles.
      if (opened) WinHttpCloseHandle(opened);
      WinHttpCloseHandle(connect);
      return false;
    }
    connects.push_back(connect);
    {
      std::lock_guard lock(closeMutex);
      ++openRequests;
    }
    if (WinHttpSetStatusCallback(opened, &StatusCallback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      {
        std::lock_guard lock(closeMutex);
        --openRequests;
      }
      WinHttpCloseHandle(opened);
      connects.pop_back();
      WinHttpCloseHandle(connect);
      return false;
    }
    request = opened;
    requestOpen = true;
    return true;
  }

  // Time-outs, certificate checks, redirects and the request's header lines.
  bool Configure(HINTERNET handle) const {
    const TransportTimeouts& t = base.timeouts;
    // 0 is no limit, for WinHTTP as for the caller.
    if (!WinHttpSetTimeouts(handle, std::max(0, t.resolveMs), std::max(0, t.connectMs),
                            std::max(0, t.sendMs), std::max(0, t.receiveMs)))
      return false;
    // The wait for the reply's head is a receive like any other.
    DWORD responseTimeout = t.receiveMs > 0 ? static_cast<DWORD>(t.receiveMs) : INFINITE;
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof responseTimeout);
    // Redirects are followed here, so that one not followed is the reply (see Redirect).
    DWORD features = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features))
      return false;

    if (secure && (!verifyCertificate || !caFile.empty())) {
      // Not verified, or verified here against the caller's authorities instead of the
      // system's store.
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
      if (!WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags))
        return false;
    }

    // Only the caller's lines, in the caller's order, with the agent first when there is one.
    std::string lines;
    if (!base.userAgent.empty()) lines += "User-Agent: " + base.userAgent + "\r\n";
    for (const std::string& header : base.headers) lines += header + "\r\n";
    // WinHTTP's total length is 32 bits: a longer body announces its length here.
    if (hasBody && bodyLength > 0xFFFFFFFFull)
      lines += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    if (!lines.empty()) {
      const std::wstring text = WidenBytes(lines);
      if (!WinHttpAddRequestHeaders(handle, text.c_str(), static_cast<DWORD>(text.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD))
        return false;
    }
    return true;
  }

  // Follows a redirect the way the platform's default policy does: http and https only, never
  // from https down to http, at most kMaxRedirects in a row; a POST answered with 301, 302 or
  // 303 goes on as a GET without a body, one answered with 307 or 308 is sent again whole.
  // false when the redirect is not followed: it is then the reply, without the body that
  // came with it (as with every engine that follows redirects itself).
  bool Redirect(int status, const std::string& head) {
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirect) return false;
    std::optional<std::string> location = HeaderValue(head, "location");
    if (!location || location->empty()) return false;
    discardBody = true;
    if (redirects >= kMaxRedirects) return false;
    std::string where = location->substr(0, location->find('#'));
    bool toSecure = secure;
    std::string toHost = hostName;
    unsigned short toPort = port;
    std::string toTarget;
    const auto authority = [&](std::size_t from) {
      const std::size_t end = where.find_first_of("/?", from);
      const std::string hostPort = where.substr(from, end == std::string::npos ? end : end - from);
      toTarget = end == std::string::npos ? "/" : where.substr(end);
      const std::size_t close = hostPort.rfind(']');
      const std::size_t colon = hostPort.rfind(':');
      toPort = toSecure ? 443 : 80;
      if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
        const std::string digits = hostPort.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
          return false;
        const unsigned long number = std::stoul(digits);
        if (number == 0 || number > 65535) return false;
        toPort = static_cast<unsigned short>(number);
        toHost = hostPort.substr(0, colon);
      } else {
        toHost = hostPort;
      }
      return !toHost.empty();
    };
    if (StartsWithNoCase(where, "http://") || StartsWithNoCase(where, "https://")) {
      toSecure = StartsWithNoCase(where, "https://");
      if (!authority(toSecure ? 8 : 7)) return false;
    } else if (where.rfind("//", 0) == 0) {
      if (!authority(2)) return false;
    } else if (!where.empty() && where[0] == '/') {
      toTarget = where;
    } else {
      const std::size_t colon = where.find(':');
      if (colon != std::string::npos && colon < where.find_first_of("/?")) return false;
      const std::string path = target.substr(0, target.find('?'));
      toTarget = path.substr(0, path.rfind('/') + 1) + where;
    }
    if (secure && !toSecure) return false;

    std::string toMethod = method;
    if (method == "POST" && (status == 301 || status == 302 || status == 303)) toMethod = "GET";
    if (status == 303) toMethod = "GET";
    ++redirects;
    HINTERNET previous = request;
    Aim(std::move(toMethod), toSecure, std::move(toHost), toPort, toTarget);
    // The new request opens before the old one closes, so that the state outlives both.
    if ((hasBody && !handler->RewindBody()) || !Open()) {
      Finish(ExchangeEnd::Failed);
      return true;
    }
    WinHttpCloseHandle(previous);
    connected = false;
    if (!Send()) Finish(ExchangeEnd::Failed);
    return true;
  }

  // The value of a head's first header of that name (given in lower case), trimmed.
  static std::optional<std::string> HeaderValue(const std::string& head, std::string_view name) {
    std::size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
      at += 2;
      const std::string_view line(head.data() + at, head.size() - at);
      if (line.size() > name.size() && StartsWithNoCase(line, name) && line[name.size()] == ':') {
        std::string_view value = line.substr(name.size() + 1, line.find("\r\n") - name.size() - 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
          value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
          value.remove_suffix(1);
        return std::string(value);
      }
    }
    return std::nullopt;
  }

  // Ends the exchange once: the handler hears the end, then the request handle is closed.
  // Called with callbackMutex held.
  void Finish(ExchangeEnd end) {
    if (ended.exchange(true)) return;
    if (ExchangeHandler* h = std::exchange(handler, nullptr)) h->OnComplete(end);
    CloseRequest();
  }

  // Called with callbackMutex held.
  void CloseRequest() {
    if (!requestOpen) return;
    requestOpen = false;
    WinHttpCloseHandle(request);
  }

  // Asks the handler whether to stop and stops. Called with callbackMutex held.
  bool StopRequested() {
    if (ended) return true;
    if (!handler || handler->ShouldStop()) {
      Finish(ExchangeEnd::Stopped);
      return true;
    }
    return false;
  }

  // The watcher's look at a running exchange; skipped while a callback runs, which asks itself.
  // From the thread of Run, which is no transport thread, the same.
  void Poll(bool fromWatcher = true) {
    std::unique_lock lock(callbackMutex, std::try_to_lock);
    if (!lock.owns_lock() || ended) return;
    std::optional<TransportScope> scope;
    if (fromWatcher) scope.emplace(this);
    StopRequested();
  }

  bool Send() {
    const DWORD total = hasBody && bodyLength <= 0xFFFFFFFFull
                            ? static_cast<DWORD>(bodyLength)
                            : WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
    // A body in memory goes out with the request itself, in the same write as the head. Not
    // where the certificate is checked: WinHTTP may be under way with the request when the
    // check refuses the connection, and the body (a password, say) must not have gone with it.
    void* optional = WINHTTP_NO_REQUEST_DATA;
    DWORD optionalLength = 0;
    const bool checked = secure && (!certificatePin.empty() || verifyCertificate);
    if (hasBody && base.wholeBody && bodyLength <= 0xFFFFFFFFull && !checked) {
      optional = const_cast<char*>(base.wholeBody->data());
      optionalLength = static_cast<DWORD>(bodyLength);
    }
    bodySent = optionalLength;
    return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, optional, optionalLength,
                              total, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
  }

  // The next body piece, or the reply once the body is all out.
  void SendBodyOrReceive() {
    if (!hasBody || bodySent >= bodyLength) {
      if (!WinHttpReceiveResponse(request, nullptr)) Finish(ExchangeEnd::Failed);
      return;
    }
    const std::size_t max =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWritePiece, bodyLength - bodySent));
    if (writeBuffer.size() < max) writeBuffer.resize(kWritePiece);
    const long long n = handler->ReadBody(writeBuffer.data(), max);
    // A body that fails or ends before its announced length is never sent short.
    if (n <= 0 || static_cast<std::size_t>(n) > max) {
      Finish(ExchangeEnd::Failed);
      return;
    }
    if (!WinHttpWriteData(request, writeBuffer.data(), static_cast<DWORD>(n), nullptr))
      Finish(ExchangeEnd::Failed);
  }

  void ReadNext() {
    if (readBuffer.size() < readSize) readBuffer.resize(readSize);
    if (!WinHttpReadData(request, readBuffer.data(), static_cast<DWORD>(readSize), nullptr))
      Finish(ExchangeEnd::Failed);
  }

  // The certificate of the connection the request is about to go out on: its pin and, when
  // verifying, its chain (to the caller's authorities, or to the system's). A mismatch ends the
  // exchange before any request byte.
  bool CertificateAccepted() {
    if (!secure || (certificatePin.empty() && !verifyCertificate)) return true;
    PCCERT_CONTEXT raw = nullptr;
    DWORD size = sizeof raw;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) || !raw)
      return false;
    const std::unique_ptr<const CERT_CONTEXT, CertContextDeleter> certificate(raw);
    return ServerCertificateAccepted(*certificate, certificatePin, verifyCertificate, caFile, host);
  }

  void OnHeadersAvailable() {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      Finish(ExchangeEnd::Failed);
      return;
    }
    std::string head;
    size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0) {
      std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
      if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                              text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        text.resize(size / sizeof(wchar_t));
        head = NarrowHead(text);
      }
    }
    // Status line and header lines, each CR LF ended, and the empty line that ends the head.
    while (head.size() >= 2 && head.compare(head.size() - 2, 2, "\r\n") == 0)
      head.resize(head.size() - 2);
    head += "\r\n\r\n";
    discardBody = false;
    if (Redirect(static_cast<int>(status), head)) return;

    // A reply that announces its length must bring all of it; one cut short has failed.
    contentLength.reset();
    received = 0;
    const bool bodiless = status < 200 || status == 204 || status == 304;
    const std::optional<std::string> coding = HeaderValue(head, "transfer-encoding");
    const bool chunked = coding && coding->find("chunked") != std::string::npos;
    if (!bodiless && !chunked) {
      wchar_t text[32] = {};
      size = sizeof text;
      if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                              text, &size, WINHTTP_NO_HEADER_INDEX)) {
        std::uint64_t value = 0;
        bool digits = size > 0;
        for (const wchar_t* p = text; *p; ++p) {
          if (*p < L'0' || *p > L'9' || value > (UINT64_MAX - 9) / 10) {
            digits = false;
            break;
          }
          value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
        }
        if (digits) contentLength = value;
      }
    }
    handler->OnHeaders(static_cast<int>(status), head);
    if (StopRequested()) return;
    ReadNext();
  }

  void OnReadComplete(DWORD length) {
    if (length == 0) {
      const bool whole = !contentLength || received == *contentLength;
      Finish(whole ? ExchangeEnd::Completed : ExchangeEnd::Failed);
      return;
    }
    received += length;
    if (!discardBody && !handler->OnBodyData(readBuffer.data(), length)) {
      Finish(ExchangeEnd::Failed);
      return;
    }
    if (StopRequested()) return;
    ReadNext();
  }

  void OnRequestError(const WINHTTP_ASYNC_RESULT& result) {
    // WinHTTP must send the request again: a redirect it follows, or a fresh connection, after
    // the body went out through writes. The body starts again from its first byte.
    if (result.dwError == ERROR_WINHTTP_RESEND_REQUEST && resends < kMaxResends) {
      ++resends;
      if (!hasBody || handler->RewindBody()) {
        if (Send()) return;
      }
      Finish(ExchangeEnd::Failed);
      return;
    }
    // No connection to the server directly: the current user's proxy, if there is one.
    const bool unreachable = result.dwError == ERROR_WINHTTP_CANNOT_CONNECT ||
                             result.dwError == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
                             result.dwError == ERROR_WINHTTP_TIMEOUT;
    if (result.dwResult == API_SEND_REQUEST && unreachable && !connected && !loopback &&
        !proxyTried) {
      proxyTried = true;
      if (ApplyUserProxy(request, url) && (!hasBody || handler->RewindBody()) && Send()) return;
    }
    Finish(ExchangeEnd::Failed);
  }

  // One notification from WinHTTP.
  void OnStatus(HINTERNET handle, DWORD status, void* info, DWORD length) {
    std::lock_guard lock(callbackMutex);
    // Late reports of a request a redirect replaced are of no interest.
    if (ended || !requestOpen || handle != request) return;
    TransportScope scope(this);
    if (StopRequested()) return;
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
        connected = true;
        if (!CertificateAccepted()) Finish(ExchangeEnd::Failed);
        break;
      case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
        connected = true;
        break;
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        SendBodyOrReceive();
        break;
      case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
        bodySent += info ? *static_cast<const DWORD*>(info) : 0;
        SendBodyOrReceive();
        break;
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        OnHeadersAvailable();
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        OnReadComplete(length);
        break;
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        if (info) {
          OnRequestError(*static_cast<const WINHTTP_ASYNC_RESULT*>(info));
        } else {
          Finish(ExchangeEnd::Failed);
        }
        break;
      default:  // progress of the connection, redirects, and the like
        break;
    }
  }

  // WinHTTP's last notification for the request.
  void OnClosing() {
    std::shared_ptr<WinExchange> last;
    {
      std::lock_guard lock(closeMutex);
      if (--openRequests > 0) return;
      closed = true;
      last = std::move(self);
      closedCondition.notify_all();
    }
    // No request is left, and none opens any more: the exchange has ended.
    for (HINTERNET connect : connects) WinHttpCloseHandle(connect);
    connects.clear();
    // `last` may be the final reference: the state goes when this returns.
  }
};

void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD length) {
  auto* exchange = reinterpret_cast<WinExchange*>(context);
  if (!exchange) return;
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    exchange->OnClosing();
    return;
  }
  exchange->OnStatus(handle, status, info, length);
}

// ---- the watcher ----

// Asks every running exchange, in short slices, whether it must stop.
class Watcher {
 public:
  Watcher() : thread_([this] { Loop(); }) {}
  ~Watcher() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  void Add(const std::shared_ptr<WinExchange>& exchange) {
    {
      std::lock_guard lock(mutex_);
      running_.push_back(exchange);
    }
    wake_.notify_all();
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (running_.empty()) {
        wake_.wait(lock, [&] { return stopping_ || !running_.empty(); });
        continue;
      }
      wake_.wait_for(lock, kSlice, [&] { return stopping_; });
      if (stopping_) break;
      std::vector<std::weak_ptr<WinExchange>> batch = running_;
      lock.unlock();
      for (const auto& weak : batch)
        if (const auto exchange = weak.lock()) exchange->Poll();
      lock.lock();
      std::erase_if(running_, [](const std::weak_ptr<WinExchange>& weak) {
        const auto exchange = weak.lock();
        return !exchange || exchange->ended;
      });
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::vector<std::weak_ptr<WinExchange>> running_;  // guarded by mutex_
  std::thread thread_;
};

class WinHttpExchangeHandle final : public Exchange {
 public:
  explicit WinHttpExchangeHandle(std::shared_ptr<WinExchange> exchange)
      : exchange_(std::move(exchange)) {}

  ~WinHttpExchangeHandle() override {
    {
      // Waits for a handler call in progress, then detaches the handler.
      std::lock_guard lock(exchange_->callbackMutex);
      exchange_->handler = nullptr;
      exchange_->ended = true;
      exchange_->CloseRequest();
    }
    // Closing the handle cancels what WinHTTP has pending, and it reports the closing once its
    // threads are done with the request. The handler is detached already and the state lives
    // until that report whatever happens here, so the wait is bounded: a WinHTTP that lets a
    // pending receive run on after the close (Wine's does, until the server answers or the
    // receive time-out) must not hold up a cancel. From inside this exchange's own callback
    // the closing cannot come before the callback returns, so there is nothing to wait for.
    if (t_currentExchange == exchange_.get()) return;
    std::unique_lock lock(exchange_->closeMutex);
    exchange_->closedCondition.wait_for(lock, kClosingWait, [&] { return exchange_->closed; });
  }

 private:
  std::shared_ptr<WinExchange> exchange_;
};

// Carries an exchange's handler calls over to the thread that runs the exchange (Run): the
// WinHTTP thread hands each call over and waits until that thread has made it. Calls made on
// that thread itself go straight to the handler.
class Relay final : public ExchangeHandler {
 public:
  explicit Relay(ExchangeHandler& handler)
      : handler_(handler), owner_(std::this_thread::get_id()) {}

  long long ReadBody(char* buffer, std::size_t max) override {
    long long n = -1;
    Call([&] { n = handler_.ReadBody(buffer, max); });
    return n;
  }
  bool RewindBody() override {
    bool ok = false;
    Call([&] { ok = handler_.RewindBody(); });
    return ok;
  }
  void OnHeaders(int status, const std::string& rawHeaders) override {
    Call([&] { handler_.OnHeaders(status, rawHeaders); });
  }
  bool OnBodyData(const char* data, std::size_t size) override {
    bool accepted = false;
    Call([&] { accepted = handler_.OnBodyData(data, size); });
    return accepted;
  }
  bool ShouldStop() override {
    bool stop = true;
    Call([&] { stop = handler_.ShouldStop(); });
    return stop;
  }
  void OnComplete(ExchangeEnd end) override {
    Call([&] {
      handler_.OnComplete(end);
      std::lock_guard lock(mutex_);
      completed_ = true;
    });
  }

  // Makes the handed-over calls on this thread until the exchange has completed; between them,
  // in short slices, runs poll.
  template <typename Poll>
  void Serve(Poll&& poll) {
    std::unique_lock lock(mutex_);
    while (!completed_) {
      if (pending_) {
        PendingCall* call = std::exchange(pending_, nullptr);
        lock.unlock();
        call->run();
        lock.lock();
        call->done = true;
        changed_.notify_all();
        continue;
      }
      if (changed_.wait_for(lock, kSlice, [&] { return completed_ || pending_ != nullptr; }))
        continue;
      lock.unlock();
      poll();
      lock.lock();
    }
  }

 private:
  struct PendingCall {
    std::function<void()> run;
    bool done = false;
  };

  template <typename F>
  void Call(F&& f) {
    if (std::this_thread::get_id() == owner_) {
      f();
      return;
    }
    PendingCall call{std::function<void()>(std::ref(f))};
    std::unique_lock lock(mutex_);
    // The exchange makes one call at a time; the wait only covers a call on its way out.
    changed_.wait(lock, [&] { return pending_ == nullptr; });
    pending_ = &call;
    changed_.notify_all();
    changed_.wait(lock, [&] { return call.done; });
  }

  ExchangeHandler& handler_;
  const std::thread::id owner_;
  std::mutex mutex_;  // guards the members below
  std::condition_variable changed_;
  PendingCall* pending_ = nullptr;
  bool completed_ = false;
};

class WinHttpTransport final : public HttpTransport {
 public:
  WinHttpTransport()
      : session_(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)) {}

  std::unique_ptr<Exchange> Start(const TransportRequest& request,
                                  ExchangeHandler& handler) override {
    if (!WholeBodyFits(request)) return nullptr;
    std::shared_ptr<WinExchange> exchange = Begin(request, handler);
    if (!exchange) return nullptr;
    watcher_.Add(exchange);
    return std::make_unique<WinHttpExchangeHandle>(std::move(exchange));
  }

  // The exchange runs on WinHTTP's threads, and every handler call is carried over to this
  // thread, which also asks the handler whether to stop while it waits.
  bool Run(const TransportRequest& request, ExchangeHandler& handler) override {
    if (!WholeBodyFits(request)) return false;
    Relay relay(handler);
    std::shared_ptr<WinExchange> exchange = Begin(request, relay);
    if (!exchange) return false;
    const WinHttpExchangeHandle handle(exchange);
    relay.Serve([&] { exchange->Poll(false); });
    return true;
  }

 private:
  // A body given whole is the body: its size is the announced length, within what WinHTTP
  // sends with a request.
  static bool WholeBodyFits(const TransportRequest& request) {
    return !request.wholeBody || (request.bodyLength == request.wholeBody->size() &&
                                  request.wholeBody->size() <= 0xFFFFFFFFull);
  }

  // Starts an exchange; null when it cannot start, the handler then never called.
  std::shared_ptr<WinExchange> Begin(const TransportRequest& request, ExchangeHandler& handler) {
    if (!session_) return nullptr;
    if (request.method != "GET" && request.method != "POST") return nullptr;
    auto exchange = std::make_shared<WinExchange>();
    WinExchange& ex = *exchange;
    ex.session = session_.get();
    ex.base = request;
    ex.readSize = request.receiveBufferBytes > 0
                      ? std::min<std::size_t>(request.receiveBufferBytes, 0x7FFFFFFF)
                      : kDefaultReadSize;
    ex.Aim(request.method, request.secure, request.host, request.port, request.target);

    std::lock_guard lock(ex.callbackMutex);
    // From the opening on WinHTTP holds the state until it reports the request closing.
    ex.self = exchange;
    if (!ex.Open()) {
      ex.self.reset();
      return nullptr;
    }
    ex.handler = &handler;
    bool sent = ex.Send();
    // The direct attempt did not even start: the current user's proxy, if there is one.
    if (!sent && !ex.loopback) {
      ex.proxyTried = true;
      sent = ApplyUserProxy(ex.request, ex.url) && ex.Send();
    }
    if (!sent) {
      ex.handler = nullptr;  // never called when the exchange cannot start
      ex.ended = true;
      ex.CloseRequest();
      return nullptr;
    }
    return exchange;
  }

  InternetHandle session_;
  Watcher watcher_;
};

}  // namespace

HttpTransport& DefaultTransport() {
  // Lives as long as the process: a static destructor would join the watcher thread while
  // the loader lock is held (a library unloaded at process exit), where that cannot end.
  static WinHttpTransport* const transport = new WinHttpTransport;
  return *transport;
}

bool OnTransportThread() { return t_transportDepth > 0; }

}  // namespace vesk::platform
