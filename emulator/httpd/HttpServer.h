// A small HTTP/1.1 server over libmicrohttpd, shared by the device emulator and the test
// servers.
//
// Every connection gets its own thread, so a handler or a body source may block (a slow
// device) without stalling other connections, and keep-alive connections stay open between
// requests. Requests reach the handler exactly as sent: the raw target, the headers in order
// with their names as sent, and the raw body bytes (no form or multipart parsing).
//
// Handlers, body consumers and body sources run on the connection's thread; the server holds
// none of its own locks while it calls them.
#ifndef VESK_HTTPD_HTTP_SERVER_H
#define VESK_HTTPD_HTTP_SERVER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MHD_Daemon;

namespace vesk::httpd {

// Name/value pairs in order: headers, query parameters, form fields.
using Fields = std::vector<std::pair<std::string, std::string>>;

// Decodes %XX escapes; a malformed escape stays as it is. With plusIsSpace, '+' becomes a
// space (query strings and form bodies); otherwise it stays '+' (paths).
std::string PercentDecode(std::string_view text, bool plusIsSpace);

// The value of a hexadecimal digit, -1 for any other character.
int HexDigitValue(char c);

// Splits "a=1&b=2" into decoded pairs in order. Empty pieces are skipped; a piece without
// '=' is a name with an empty value.
Fields ParseUrlEncoded(std::string_view text);

// The pieces of "a=1&b=2" as raw (still escaped) name/value views into text, in order. Empty
// pieces are skipped; a piece without '=' is a name with an empty value.
std::vector<std::pair<std::string_view, std::string_view>> SplitUrlEncoded(std::string_view text);

class BodyConsumer;

// One request as it arrived.
struct Request {
  std::string method;   // as sent
  std::string target;   // the request target exactly as sent: path and query, still escaped
  std::string version;  // "HTTP/1.1"
  Fields headers;       // in the order received, names as sent
  std::string body;     // raw body bytes after any chunked decoding; empty if a consumer took them
  unsigned long long connection = 0;  // serial number (1, 2, ...) of the request's connection
  bool loopbackPeer = false;          // the client's address is a loopback one (127.0.0.0/8)
  // The consumer Handlers::bodyConsumer made for this request, which the server keeps until
  // the request ends; nullptr when there is none.
  BodyConsumer* consumer = nullptr;

  // The first header of that name, compared without case; nullptr if there is none.
  const std::string* Header(std::string_view name) const;
  // The target before '?', percent-decoded ('+' stays '+').
  std::string Path() const;
  // The query parameters, decoded, in order.
  Fields Query() const;
  // The body decoded as application/x-www-form-urlencoded, whatever the Content-Type says
  // (check the header separately when it matters).
  Fields FormFields() const;
};

// A reply body produced piece by piece: files, slow replies, broken replies.
class BodySource {
 public:
  virtual ~BodySource() = default;
  // Writes up to max bytes at buf for position offset (the sum of all counts returned so
  // far) and returns the count. Returns 0 at the end of a body of unknown length, and -1 to
  // break the connection here. With an announced length, 0 before that length also breaks
  // the connection, and the server never asks for bytes past it.
  virtual long long Read(unsigned long long offset, char* buf, std::size_t max) = 0;
};

// Takes a request body piece by piece instead of holding it in memory (large uploads).
class BodyConsumer {
 public:
  virtual ~BodyConsumer() = default;
  // Returns false to refuse the body: the rest of it is read and dropped, and the request
  // handler still gets the request.
  virtual bool Write(const char* data, std::size_t size) = 0;
  // Checked after every Write: true makes the server close the connection at once, without
  // a reply and without reading the rest of the body (a device that breaks off an upload).
  // The request handler is not called then.
  virtual bool DropConnection() const { return false; }
};

// An open file descriptor, closed when it goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

struct Response {
  int status = 200;
  // Sent as given and in this order. Content-Length is the server's: it comes from the body
  // or from sourceSize, and a reply that sets it itself is answered with a 500 instead.
  Fields headers;
  std::string body;
  std::unique_ptr<BodySource> source;  // when set, replaces body
  long long sourceSize = -1;           // Content-Length announced for source; -1: unknown (chunked)
  // When valid, replaces body and source: fileSize bytes of this file from fileOffset on,
  // which the server sends with sendfile(2) where it can (plain HTTP) and closes afterwards.
  FileDescriptor file;
  unsigned long long fileOffset = 0;
  unsigned long long fileSize = 0;
  bool dropConnection = false;  // close the connection without any reply
};

struct Handlers {
  // Called once the whole request, body included, has arrived. An exception becomes a 500
  // whose body is the exception's message. Without a handler every request gets a 404.
  std::function<Response(Request&)> onRequest;
  // Optional: called once the request head has arrived. A non-null consumer receives the
  // body pieces instead of Request::body. An exception becomes a 500 for the request.
  std::function<std::unique_ptr<BodyConsumer>(const Request& head)> bodyConsumer;
};

struct ServerOptions {
  std::string bindAddress = "127.0.0.1";  // IPv4 address to listen on
  unsigned short port = 0;                // 0: an ephemeral port; Port() tells which
  std::string tlsCertPem, tlsKeyPem;      // both set: HTTPS
  // Held between the handler's return and the reply's first byte, on every request, to play
  // a distant peer. Only the request's own connection waits; Stop ends the wait at once and
  // closes the connection without a reply.
  std::chrono::milliseconds replyDelay{0};
};

class Server {
 public:
  Server(ServerOptions options, Handlers handlers);
  ~Server();  // Stop()
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Starts listening. Returns false with a message in *error (if given) when it cannot.
  bool Start(std::string* error);
  // Ends every WaitFor at once, then closes every connection and joins their threads. Must
  // not be called from a handler or body callback. Safe to call more than once.
  void Stop();
  // The bound port while running, 0 otherwise.
  unsigned short Port() const;
  // TCP connections accepted since the server was made.
  unsigned long long ConnectionCount() const;
  // Waits for duration, for handlers and body sources that play a slow device. Returns true
  // when the time has passed, false at once when the server is stopping or stopped.
  bool WaitFor(std::chrono::milliseconds duration);

 private:
  struct Callbacks;  // the libmicrohttpd callbacks
  friend struct Callbacks;
  struct DaemonDeleter {
    void operator()(MHD_Daemon* daemon) const;
  };

  const ServerOptions options_;
  const Handlers handlers_;
  std::atomic<unsigned long long> connections_{0};
  std::atomic<unsigned short> port_{0};

  std::mutex waitMutex_;  // guards stopping_
  std::condition_variable waitCondition_;
  bool stopping_ = true;

  std::mutex logMutex_;  // guards lastLog_
  std::string lastLog_;  // libmicrohttpd's last message, for Start's error

  std::mutex lifecycleMutex_;  // guards daemon_; serialises Start and Stop
  std::unique_ptr<MHD_Daemon, DaemonDeleter> daemon_;
};

}  // namespace vesk::httpd

#endif  // VESK_HTTPD_HTTP_SERVER_H
