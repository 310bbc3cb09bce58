#include "httpd/HttpServer.h"

#include <microhttpd.h>
#include <unistd.h>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <exception>

namespace vesk::httpd {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

struct ResponseDeleter {
  void operator()(MHD_Response* response) const { MHD_destroy_response(response); }
};
using ResponsePtr = std::unique_ptr<MHD_Response, ResponseDeleter>;

// What the server keeps for one request between libmicrohttpd's calls. Made when the request
// line arrives, freed when libmicrohttpd reports the request finished.
struct RequestState {
  Request request;
  bool headSeen = false;
  std::unique_ptr<BodyConsumer> consumer;
  bool consumerRefused = false;
  std::string failure;  // set when the body consumer factory threw: the reply is a 500
};

// The reply body of a BodySource, as libmicrohttpd's content reader sees it.
struct SourceState {
  std::unique_ptr<BodySource> source;
  long long size;  // -1: unknown
};

Response ErrorResponse(std::string message) {
  Response response;
  response.status = 500;
  response.headers.emplace_back("Content-Type", "text/plain");
  response.body = std::move(message);
  return response;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out.push_back(
          static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::vector<std::pair<std::string_view, std::string_view>> SplitUrlEncoded(std::string_view text) {
  std::vector<std::pair<std::string_view, std::string_view>> pieces;
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view piece = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (piece.empty()) continue;
    const std::size_t eq = piece.find('=');
    pieces.emplace_back(piece.substr(0, eq),
                        eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1));
  }
  return pieces;
}

Fields ParseUrlEncoded(std::string_view text) {
  Fields fields;
  for (const auto& [name, value] : SplitUrlEncoded(text))
    fields.emplace_back(PercentDecode(name, true), PercentDecode(value, true));
  return fields;
}

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

const std::string* Request::Header(std::string_view name) const {
  for (const auto& header : headers) {
    if (EqualsIgnoringCase(header.first, name)) return &header.second;
  }
  return nullptr;
}

std::string Request::Path() const {
  return PercentDecode(std::string_view(target).substr(0, target.find('?')), false);
}

Fields Request::Query() const {
  const std::size_t question = target.find('?');
  if (question == std::string::npos) return {};
  return ParseUrlEncoded(std::string_view(target).substr(question + 1));
}

Fields Request::FormFields() const { return ParseUrlEncoded(body); }

// libmicrohttpd's callbacks. Each takes the Server as its closure and lets no exception out.
struct Server::Callbacks {
  static void Log(void* cls, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    auto* server = static_cast<Server*>(cls);
    std::lock_guard<std::mutex> lock(server->logMutex_);
    try {
      server->lastLog_ = text;
    } catch (...) {
      server->lastLog_.clear();
    }
  }

  static void NotifyConnection(void* cls, MHD_Connection*, void** socketContext,
                               MHD_ConnectionNotificationCode code) {
    if (code != MHD_CONNECTION_NOTIFY_STARTED) return;
    auto* server = static_cast<Server*>(cls);
    // The serial number itself is the connection's context: nothing to free.
    const unsigned long long serial = ++server->connections_;
    *socketContext = reinterpret_cast<void*>(static_cast<std::uintptr_t>(serial));
  }

  // Sees the request target before libmicrohttpd unescapes it; what it returns becomes the
  // request's context in Access and Completed.
  static void* UriLog(void*, const char* uri, MHD_Connection*) {
    try {
      auto state = std::make_unique<RequestState>();
      state->request.target = uri;
      return state.release();  // owned by libmicrohttpd until Completed
    } catch (...) {
      return nullptr;  // Access drops a request without state
    }
  }

  static void Completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    std::unique_ptr<RequestState> state(static_cast<RequestState*>(*context));
    *context = nullptr;
  }

  static MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, size_t keySize,
                                  const char* value, size_t valueSize) {
    try {
      static_cast<Fields*>(cls)->emplace_back(std::string(key, keySize),
                                              value ? std::string(value, valueSize) : "");
      return MHD_YES;
    } catch (...) {
      return MHD_NO;
    }
  }

  static ssize_t ReadSource(void* cls, uint64_t pos, char* buf, size_t max) {
    auto* state = static_cast<SourceState*>(cls);
    if (state->size >= 0) {
      const uint64_t left = static_cast<uint64_t>(state->size) - pos;
      max = static_cast<size_t>(std::min<uint64_t>(max, left));
    }
    long long count;
    try {
      count = state->source->Read(pos, buf, max);
    } catch (...) {
      count = -1;
    }
    if (count < 0) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (count == 0) {
      return state->size < 0 ? MHD_CONTENT_READER_END_OF_STREAM : MHD_CONTENT_READER_END_WITH_ERROR;
    }
    return static_cast<ssize_t>(std::min<unsigned long long>(count, max));
  }

  static void FreeSource(void* cls) {
    std::unique_ptr<SourceState> state(static_cast<SourceState*>(cls));
  }

  // Turns the handler's Response into libmicrohttpd's; nullptr when that fails.
  static ResponsePtr MakeResponse(Response& response, std::string* refusedHeader) {
    ResponsePtr made;
    if (response.file.Valid()) {
      made.reset(MHD_create_response_from_fd_at_offset64(response.fileSize, response.file.Get(),
                                                         response.fileOffset));
      if (made) response.file.Release();  // closed by libmicrohttpd with the response
    } else if (response.source) {
      auto state = std::make_unique<SourceState>();
      state->source = std::move(response.source);
      state->size = response.sourceSize < 0 ? -1 : response.sourceSize;
      const uint64_t size = state->size < 0 ? MHD_SIZE_UNKNOWN : static_cast<uint64_t>(state->size);
      made.reset(MHD_create_response_from_callback(size, 32 * 1024, &ReadSource, state.get(),
                                                   &FreeSource));
      if (made) state.release();  // FreeSource frees it with the response
    } else {
      made.reset(MHD_create_response_from_buffer(response.body.size(), response.body.data(),
                                                 MHD_RESPMEM_MUST_COPY));
    }
    if (!made) return made;
    for (const auto& [name, value] : response.headers) {
      if (MHD_add_response_header(made.get(), name.c_str(), value.c_str()) != MHD_YES) {
        *refusedHeader = name;
        return nullptr;
      }
    }
    return made;
  }

  static MHD_Result Queue(MHD_Connection* connection, Response response) {
    std::string refusedHeader;
    ResponsePtr made = MakeResponse(response, &refusedHeader);
    if (!made && !refusedHeader.empty()) {
      Response error = ErrorResponse("reply header refused: " + refusedHeader);
      made = MakeResponse(error, &refusedHeader);
      response.status = error.status;
    }
    if (!made) return MHD_NO;
    return MHD_queue_response(connection, static_cast<unsigned int>(response.status), made.get());
  }

  static MHD_Result Access(void* cls, MHD_Connection* connection, const char*, const char* method,
                           const char* version, const char* uploadData, size_t* uploadDataSize,
                           void** context) {
    auto* server = static_cast<Server*>(cls);
    auto* state = static_cast<RequestState*>(*context);
    if (!state) return MHD_NO;
    try {
      Request& request = state->request;
      if (!state->headSeen) {
        state->headSeen = true;
        request.method = method;
        request.version = version;
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &CollectHeader, &request.headers);
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
          request.connection = static_cast<unsigned long long>(
              reinterpret_cast<std::uintptr_t>(info->socket_context));
        }
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
          const sockaddr* peer = info->client_addr;
          request.loopbackPeer =
              peer && peer->sa_family == AF_INET &&
              (ntohl(reinterpret_cast<const sockaddr_in*>(peer)->sin_addr.s_addr) >> 24) == 127;
        }
        if (server->handlers_.bodyConsumer) {
          try {
            state->consumer = server->handlers_.bodyConsumer(request);
            request.consumer = state->consumer.get();
          } catch (const std::exception& e) {
            state->failure = e.what();
          } catch (...) {
            state->failure = "body consumer failed";
          }
        }
        return MHD_YES;
      }

      if (*uploadDataSize != 0) {
        if (state->consumer) {
          if (!state->consumerRefused) {
            bool accepted;
            try {
              accepted = state->consumer->Write(uploadData, *uploadDataSize);
            } catch (...) {
              accepted = false;
            }
            state->consumerRefused = !accepted;
          }
          if (state->consumer->DropConnection()) return MHD_NO;  // closes without a reply
        } else if (state->failure.empty()) {
          request.body.append(uploadData, *uploadDataSize);
        }
        *uploadDataSize = 0;
        return MHD_YES;
      }

      // The whole request has arrived.
      Response response;
      if (!state->failure.empty()) {
        response = ErrorResponse(state->failure);
      } else if (!server->handlers_.onRequest) {
        response.status = 404;
      } else {
        try {
          response = server->handlers_.onRequest(request);
        } catch (const std::exception& e) {
          response = ErrorResponse(e.what());
        } catch (...) {
          response = ErrorResponse("request handler failed");
        }
      }
      if (response.dropConnection) return MHD_NO;  // closes without a status line
      if (server->options_.replyDelay.count() > 0 && !server->WaitFor(server->options_.replyDelay))
        return MHD_NO;  // stopping: closes without a reply
      return Queue(connection, std::move(response));
    } catch (...) {
      return MHD_NO;
    }
  }
};

void Server::DaemonDeleter::operator()(MHD_Daemon* daemon) const { MHD_stop_daemon(daemon); }

Server::Server(ServerOptions options, Handlers handlers)
    : options_(std::move(options)), handlers_(std::move(handlers)) {}

Server::~Server() { Stop(); }

bool Server::Start(std::string* error) {
  auto fail = [error](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  if (daemon_) return fail("the server is already running");

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  if (inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
    return fail("not an IPv4 address: " + options_.bindAddress);
  }
  const bool tls = !options_.tlsCertPem.empty() && !options_.tlsKeyPem.empty();
  // Without TLS the list ends at its first item.
  MHD_OptionItem tlsOptions[] = {
      {tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0,
       const_cast<char*>(options_.tlsKeyPem.c_str())},
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.tlsCertPem.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    stopping_ = false;
  }
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    lastLog_.clear();
  }

  // MHD_USE_ERROR_LOG routes libmicrohttpd's messages to Log, which keeps the last one for
  // the error below and prints nothing.
  unsigned int flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                       MHD_USE_ITC | MHD_USE_ERROR_LOG;
  if (tls) flags |= MHD_USE_TLS;
  // The port argument only names the port in libmicrohttpd's messages: the socket address
  // decides where it listens.
  daemon_.reset(MHD_start_daemon(
      flags, options_.port, nullptr, nullptr, &Callbacks::Access, this, MHD_OPTION_EXTERNAL_LOGGER,
      &Callbacks::Log, this, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
      MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::UriLog, this, MHD_OPTION_NOTIFY_COMPLETED,
      &Callbacks::Completed, this, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::NotifyConnection, this,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(256 * 1024), MHD_OPTION_ARRAY,
      tlsOptions, MHD_OPTION_END));
  if (!daemon_) {
    std::string message =
        "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port);
    std::lock_guard<std::mutex> lock(logMutex_);
    if (!lastLog_.empty()) message += ": " + lastLog_;
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return fail(message);
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_.get(), MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : options_.port;
  return true;
}

void Server::Stop() {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    stopping_ = true;
  }
  waitCondition_.notify_all();
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  daemon_.reset();  // closes the connections and joins their threads
  port_ = 0;
}

unsigned short Server::Port() const { return port_; }

unsigned long long Server::ConnectionCount() const { return connections_; }

bool Server::WaitFor(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(waitMutex_);
  return !waitCondition_.wait_for(lock, duration, [this] { return stopping_; });
}

}  // namespace vesk::httpd
