// The HTTP transport: the one boundary between the library and the platform's HTTP engine.
//
// WinHttpClient drives every exchange through this interface and never sees the engine
// behind it. An engine runs each exchange on threads of its own and reports back through an
// ExchangeHandler, one call at a time per exchange, ending with exactly one OnComplete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

// Milliseconds; 0 means no limit. Connection set-up is bounded by resolve and connect
// together; send and receive are inactivity limits (the longest time without progress).
struct TransportTimeouts {
  int resolveMs = 0;
  int connectMs = 60000;
  int sendMs = 30000;
  int receiveMs = 30000;
};

struct TransportRequest {
  std::string method;   // "GET" or "POST"
  bool secure = false;  // TLS
  std::string host;     // name or address; an IPv6 address in brackets
  unsigned short port = 0;
  std::string target;  // path and query, UTF-8; the engine percent-encodes bytes that may not
                       // travel raw (controls, space, "#", non-ASCII) and leaves "%" alone
  std::vector<std::string> headers;         // "Name: value" lines, sent as given, in order
  std::string userAgent;                    // empty: no User-Agent header
  std::optional<std::uint64_t> bodyLength;  // set for a request with a body (its Content-Length)
  // A body known whole when the exchange starts (bodyLength is then its size): it goes out with
  // the request's head, and ReadBody is never asked. It must stay valid until the exchange ends.
  // Unset: ReadBody gives the body.
  std::optional<std::string_view> wholeBody;
  // false: accept a certificate from an untrusted issuer, for another name, or out of date.
  bool verifyCertificate = false;
  // With verifyCertificate: a PEM file of the authorities to trust instead of the system's
  // trust store; empty: the system's.
  std::string caFile;
  // Not empty: the SHA-256 digest (32 bytes) that the server's own certificate must have,
  // whether or not certificates are verified. A connection whose certificate does not match
  // carries no request byte, and the exchange fails.
  std::string certificatePin;
  TransportTimeouts timeouts;
  // How many reply bytes one receive may take, for a large reply; 0: the engine's default.
  std::size_t receiveBufferBytes = 0;
};

enum class ExchangeEnd {
  Completed,  // the whole reply arrived
  Failed,     // refused, reset, timed out, TLS failure, cut short, or a handler refused data
  Stopped,    // ShouldStop answered true
};

class ExchangeHandler {
 public:
  virtual ~ExchangeHandler() = default;
  // The next bytes of the request body, at most `max`: their count, 0 at the end, -1 to fail
  // the exchange.
  virtual long long ReadBody(char* buffer, std::size_t max) = 0;
  // Starts the body again from its first byte (the engine resends it, on a redirect or a
  // fresh connection). false when it cannot.
  virtual bool RewindBody() = 0;
  // The final reply's status and its raw head (status line and header lines, CR LF ended).
  virtual void OnHeaders(int status, const std::string& rawHeaders) = 0;
  // Reply body bytes as they arrive; false fails the exchange.
  virtual bool OnBodyData(const char* data, std::size_t size) = 0;
  // Asked at every event and, while the engine waits, every few tens of milliseconds.
  virtual bool ShouldStop() = 0;
  // The last call for the exchange.
  virtual void OnComplete(ExchangeEnd end) = 0;
};

// A running exchange. Destroying the handle detaches its handler: once the destructor has
// returned no handler call is running or will run, and OnComplete may not have been called.
class Exchange {
 public:
  virtual ~Exchange() = default;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Starts an exchange. nullptr when it cannot start; the handler is then never called.
  virtual std::unique_ptr<Exchange> Start(const TransportRequest& request,
                                          ExchangeHandler& handler) = 0;
  // Carries out an exchange and returns once it has ended: every handler call, OnComplete last,
  // has been made by then. false when it cannot start; the handler is then never called. Both
  // engines make the calls on the calling thread, asking ShouldStop at least every few tens of
  // milliseconds; this default runs the exchange through Start and waits for its end.
  virtual bool Run(const TransportRequest& request, ExchangeHandler& handler);
};

// The request target as every engine sends it: bytes that may not travel raw (controls, space,
// "#", non-ASCII) percent-encoded, "%" left alone so that values the caller encoded arrive as
// they were, and a "/" put first when the target does not start with one. The engine itself
// escapes nothing more.
std::string WireTarget(const std::string& target);

// The engine of this platform, shared by the whole process so that its connections are
// reused across exchanges.
HttpTransport& DefaultTransport();

// True on a thread of the engine: handler calls of exchanges begun with Start, and so their
// transfer progress, run there. Code that waits for an exchange to end must not wait on such a
// thread. (The handler calls of Run are made on the caller's own thread, which is no engine
// thread.)
bool OnTransportThread();

}  // namespace vesk::platform
