// The HTTP server layer and the scripted test server, driven by libcurl as the client.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "httpd/Certificate.h"
#include "httpd/HttpServer.h"
#include "support/ScriptedServer.h"

namespace vesk::httpd {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ScriptedReply;
using test::ScriptedServer;

// libcurl's global state, set up once before any test thread exists.
struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
} curlGlobal;

using CurlPtr = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderListPtr = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

CurlPtr NewHandle() { return CurlPtr(curl_easy_init(), &curl_easy_cleanup); }

struct Call {
  Call(std::string u, std::string m = "GET", std::vector<std::string> h = {})
      : url(std::move(u)), method(std::move(m)), headers(std::move(h)) {}
  std::string url;
  std::string method;
  std::vector<std::string> headers;
  std::optional<std::string> body;
  bool chunked = false;        // send the body with chunked transfer encoding
  std::string trustedCertPem;  // non-empty: verify the server against this certificate
};

struct Exchange {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string headers;  // raw header lines, status line included
  std::string body;
  std::string error;                           // libcurl's message
  Clock::time_point start, headersAt, bodyAt;  // request start, first header line, first body byte
};

struct Transfer {
  Exchange* exchange;
  std::string_view upload;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  Exchange& exchange = *static_cast<Transfer*>(user)->exchange;
  if (exchange.headers.empty()) exchange.headersAt = Clock::now();
  exchange.headers.append(data, size * count);
  return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Exchange& exchange = *static_cast<Transfer*>(user)->exchange;
  if (exchange.body.empty()) exchange.bodyAt = Clock::now();
  exchange.body.append(data, size * count);
  return size * count;
}

// Hands the upload out in small pieces so that a chunked upload has several chunks.
size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
  std::string_view& upload = static_cast<Transfer*>(user)->upload;
  const size_t n = std::min<size_t>({size * count, upload.size(), 7});
  std::memcpy(buffer, upload.data(), n);
  upload.remove_prefix(n);
  return n;
}

// Runs one request on handle; the handle keeps its connections between calls.
Exchange Perform(CURL* handle, const Call& call) {
  Exchange exchange;
  Transfer transfer{&exchange, {}};
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_reset(handle);
  curl_easy_setopt(handle, CURLOPT_URL, call.url.c_str());
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, call.method.c_str());
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  if (call.body && call.chunked) {
    transfer.upload = *call.body;
    curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, &OnUpload);
    curl_easy_setopt(handle, CURLOPT_READDATA, &transfer);
  } else if (call.body) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, call.body->data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(call.body->size()));
  }
  HeaderListPtr headers(nullptr, &curl_slist_free_all);
  for (const std::string& header : call.headers) {
    headers.reset(curl_slist_append(headers.release(), header.c_str()));
  }
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  if (call.trustedCertPem.empty()) {
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
  } else {
    curl_blob blob{const_cast<char*>(call.trustedCertPem.data()), call.trustedCertPem.size(),
                   CURL_BLOB_COPY};
    curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
  }
  exchange.start = Clock::now();
  exchange.code = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &exchange.status);
  exchange.error = error;
  return exchange;
}

Exchange Perform(const Call& call) { return Perform(NewHandle().get(), call); }

long long Milliseconds(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// A server on the wrapper directly, started or failing the test.
std::unique_ptr<Server> StartServer(Handlers handlers, ServerOptions options = {}) {
  auto server = std::make_unique<Server>(std::move(options), std::move(handlers));
  std::string error;
  EXPECT_TRUE(server->Start(&error)) << error;
  return server;
}

std::string Url(const Server& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

// --- Request decoding -------------------------------------------------------------------

TEST(HttpRequestTest, PercentDecodingKeepsPlusOnlyInPaths) {
  struct Case {
    std::string in;
    bool plusIsSpace;
    std::string out;
  };
  const Case cases[] = {
      {"a%20b+c", false, "a b+c"},
      {"a%20b+c", true, "a b c"},
      {"%2f%2F%41", false, "//A"},
      {"%e2%9C%93", false, "\xe2\x9c\x93"},
      {"x%00y", false, std::string("x\0y", 3)},
      {"%zz%4%", true, "%zz%4%"},
      {"100%", false, "100%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PercentDecode(c.in, c.plusIsSpace), c.out) << c.in << " " << c.plusIsSpace;
  }
}

TEST(HttpRequestTest, SplitsTargetsQueriesAndForms) {
  Request request;
  request.target = "/web%20dir/a+b.cgi?name=a%2Bb&q=x+y&flag&&=v&name=2";
  request.body = "path=%2Fhome%2Fx+y&mode=0&empty=";
  request.headers = {{"X-Token", "first"}, {"x-token", "second"}};

  EXPECT_EQ(request.Path(), "/web dir/a+b.cgi");
  EXPECT_EQ(request.Query(),
            (Fields{{"name", "a+b"}, {"q", "x y"}, {"flag", ""}, {"", "v"}, {"name", "2"}}));
  EXPECT_EQ(request.FormFields(), (Fields{{"path", "/home/x y"}, {"mode", "0"}, {"empty", ""}}));
  ASSERT_NE(request.Header("X-TOKEN"), nullptr);
  EXPECT_EQ(*request.Header("X-TOKEN"), "first");
  EXPECT_EQ(request.Header("X-Token-2"), nullptr);

  request.target = "/plain";
  EXPECT_EQ(request.Path(), "/plain");
  EXPECT_TRUE(request.Query().empty());
}

// --- What the server records --------------------------------------------------------------

TEST(HttpServerTest, RecordsRequestsByteForByte) {
  struct Case {
    const char* name;
    std::string method;
    std::string contentType;
    std::string body;
    bool chunked;
  };
  const Case cases[] = {
      {"multipart with bare-boundary delimiters", "POST", "multipart/form-data; boundary=AaB03x",
       "AaB03x\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n"
       "Content-Type: application/octet-stream\r\n\r\nline one\r\n--AaB03x\r\nAaB03x--\r\n",
       false},
      {"binary with NUL bytes", "PUT", "application/octet-stream",
       std::string("\0head\0\r\n\xff tail\0", 14), false},
      {"chunked upload", "POST", "text/plain", "0123456789abcdefghijklmnopqrstuvwxyz", true},
      {"no body", "DELETE", "", "", false},
  };
  const std::string target = "/a%20dir/entry.cgi?path=%2Fhome%2Fx&name=a+b%2Bc&empty=";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    Call call{server.BaseUrl() + target, c.method, {"X-Second: 2", "x-lower: v", "X-MiXeD: a  b"}};
    if (!c.contentType.empty()) call.headers.push_back("Content-Type: " + c.contentType);
    if (!c.body.empty()) call.body = c.body;
    call.chunked = c.chunked;
    const Exchange exchange = Perform(call);
    ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;

    const std::vector<Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Request& request = requests[0];
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.target, target);
    EXPECT_EQ(request.version, "HTTP/1.1");
    EXPECT_EQ(request.body, c.body);
    EXPECT_EQ(request.connection, 1u);
    // Names as sent, in the order sent.
    std::vector<std::string> names;
    for (const auto& header : request.headers) names.push_back(header.first);
    const auto second = std::find(names.begin(), names.end(), "X-Second");
    ASSERT_NE(second, names.end());
    ASSERT_LE(second + 3, names.end());
    EXPECT_EQ(*(second + 1), "x-lower");
    EXPECT_EQ(*(second + 2), "X-MiXeD");
    ASSERT_NE(request.Header("x-mixed"), nullptr);
    EXPECT_EQ(*request.Header("x-mixed"), "a  b");
    if (c.chunked) {
      ASSERT_NE(request.Header("Transfer-Encoding"), nullptr);
      EXPECT_EQ(*request.Header("Transfer-Encoding"), "chunked");
    }
  }
}

// --- Replies ------------------------------------------------------------------------------

TEST(HttpServerTest, SendsStatusHeadersAndBodyAsGiven) {
  ScriptedServer server;
  ScriptedReply reply;
  reply.status = 404;
  reply.headers = {{"Content-Type", "application/json; charset=\"UTF-8\""},
                   {"X-Reply", "one"},
                   {"X-Reply", "two"}};
  reply.body = std::string("{\"a\":1}\0\xff", 9);
  server.Enqueue(reply);

  const Exchange exchange = Perform({server.BaseUrl() + "/x"});
  ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
  EXPECT_EQ(exchange.status, 404);
  EXPECT_EQ(exchange.body, reply.body);
  EXPECT_NE(exchange.headers.find("\r\nContent-Type: application/json; charset=\"UTF-8\"\r\n"),
            std::string::npos)
      << exchange.headers;
  EXPECT_NE(exchange.headers.find("\r\nX-Reply: one\r\nX-Reply: two\r\n"), std::string::npos)
      << exchange.headers;
  EXPECT_NE(exchange.headers.find("\r\nContent-Length: 9\r\n"), std::string::npos)
      << exchange.headers;
}

TEST(HttpServerTest, HandlerFailuresBecomeServerErrors) {
  struct Case {
    const char* name;
    std::function<Response(Request&)> onRequest;
    long status;
    std::string bodyPart;
  };
  const Case cases[] = {
      {"throwing handler", [](Request&) -> Response { throw std::runtime_error("disk on fire"); },
       500, "disk on fire"},
      {"reply sets Content-Length",
       [](Request&) {
         Response r;
         r.headers = {{"Content-Length", "3"}};
         r.body = "abc";
         return r;
       },
       500, "Content-Length"},
      {"no handler", nullptr, 404, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = StartServer({c.onRequest, nullptr});
    const Exchange exchange = Perform({Url(*server, "/")});
    ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
    EXPECT_EQ(exchange.status, c.status);
    EXPECT_NE(exchange.body.find(c.bodyPart), std::string::npos) << exchange.body;
  }
}

// Serves pieces, then ends with the given count (0: end, -1: break) or throws.
class PiecesSource : public BodySource {
 public:
  PiecesSource(std::vector<std::string> pieces, long long last, bool throwAtEnd)
      : pieces_(std::move(pieces)), last_(last), throwAtEnd_(throwAtEnd) {}
  long long Read(unsigned long long offset, char* buf, size_t max) override {
    if (offset != sent_) return -1;  // positions must add up
    if (next_ == pieces_.size()) {
      if (throwAtEnd_) throw std::runtime_error("source failed");
      return last_;
    }
    const std::string& piece = pieces_[next_++];
    if (piece.size() > max) return -1;
    std::memcpy(buf, piece.data(), piece.size());
    sent_ += piece.size();
    return static_cast<long long>(piece.size());
  }

 private:
  std::vector<std::string> pieces_;
  long long last_;
  bool throwAtEnd_;
  size_t next_ = 0;
  unsigned long long sent_ = 0;
};

TEST(HttpServerTest, BodySourcesEndOrBreakTheReply) {
  struct Case {
    const char* name;
    long long size;
    long long last;
    bool throwAtEnd;
    CURLcode code;
    const char* framing;  // expected in the reply head
  };
  const Case cases[] = {
      {"announced length, complete", 9, -1, false, CURLE_OK, "Content-Length: 9"},
      {"unknown length ends", -1, 0, false, CURLE_OK, "Transfer-Encoding: chunked"},
      {"unknown length breaks", -1, -1, false, CURLE_PARTIAL_FILE, "Transfer-Encoding: chunked"},
      {"announced length ends early", 20, 0, false, CURLE_PARTIAL_FILE, "Content-Length: 20"},
      {"source throws", 20, 0, true, CURLE_PARTIAL_FILE, "Content-Length: 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto server =
        StartServer({[&](Request&) {
                       Response r;
                       r.source = std::make_unique<PiecesSource>(
                           std::vector<std::string>{"abc", "def", "ghi"}, c.last, c.throwAtEnd);
                       r.sourceSize = c.size;
                       return r;
                     },
                     nullptr});
    const Exchange exchange = Perform({Url(*server, "/file")});
    EXPECT_EQ(exchange.code, c.code) << exchange.error;
    EXPECT_EQ(exchange.status, 200);
    EXPECT_EQ(exchange.body, "abcdefghi");
    EXPECT_NE(exchange.headers.find(c.framing), std::string::npos) << exchange.headers;
  }
}

TEST(HttpServerTest, DroppedConnectionGivesNoStatus) {
  ScriptedServer server;
  ScriptedReply drop;
  drop.dropConnection = true;
  server.Enqueue(drop);
  const Exchange exchange = Perform({server.BaseUrl() + "/"});
  EXPECT_EQ(exchange.code, CURLE_GOT_NOTHING) << exchange.error;
  EXPECT_EQ(exchange.status, 0);
  EXPECT_TRUE(exchange.headers.empty()) << exchange.headers;
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpServerTest, BodyShorterThanDeclaredLengthBreaksAfterStatus) {
  ScriptedServer server;
  ScriptedReply reply;
  reply.body = "0123456789";
  reply.declaredLength = 100;
  server.Enqueue(reply);
  const Exchange exchange = Perform({server.BaseUrl() + "/"});
  EXPECT_EQ(exchange.code, CURLE_PARTIAL_FILE) << exchange.error;
  EXPECT_EQ(exchange.status, 200);
  EXPECT_EQ(exchange.body, "0123456789");
  EXPECT_NE(exchange.headers.find("Content-Length: 100\r\n"), std::string::npos);
}

// --- Connections --------------------------------------------------------------------------

TEST(HttpServerTest, KeepAliveConnectionsAreReused) {
  ScriptedServer server;
  server.SetDefaultReply({200, {}, "hello"});
  CurlPtr first = NewHandle();
  for (int i = 0; i < 2; ++i) {
    const Exchange exchange = Perform(first.get(), {server.BaseUrl() + "/"});
    ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
    EXPECT_EQ(exchange.body, "hello");
  }
  EXPECT_EQ(server.ConnectionCount(), 1u);

  ASSERT_EQ(Perform(NewHandle().get(), {server.BaseUrl() + "/"}).code, CURLE_OK);
  EXPECT_EQ(server.ConnectionCount(), 2u);
  std::vector<unsigned long long> connections;
  for (const Request& request : server.Requests()) connections.push_back(request.connection);
  EXPECT_EQ(connections, (std::vector<unsigned long long>{1, 1, 2}));
}

// Requests that end before their head or body is complete are released with the connection
// (the sanitizer build reports anything left behind), and the server keeps serving.
TEST(HttpServerTest, AbortedRequestsAreReleased) {
  ScriptedServer server;
  const std::string partials[] = {
      "GET /only-the-request-line HTTP/1.1\r\n",
      "POST /half-a-body HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nabc",
  };
  for (const std::string& partial : partials) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(send(fd, partial.data(), partial.size(), 0), static_cast<ssize_t>(partial.size()));
    // Half-close, then read until the server closes too: by then it has read the partial
    // request and given the connection up.
    shutdown(fd, SHUT_WR);
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char buffer[512];
    ssize_t received;
    while ((received = recv(fd, buffer, sizeof buffer, 0)) > 0) {
    }
    EXPECT_EQ(received, 0) << "the server did not close the connection";
    close(fd);
  }
  EXPECT_EQ(Perform({server.BaseUrl() + "/"}).code, CURLE_OK);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpServerTest, StartFailsWhenItCannotListen) {
  ScriptedServer taken;
  ServerOptions samePort;
  samePort.port = taken.Port();
  ServerOptions badAddress;
  badAddress.bindAddress = "localhost";  // a name, not an address
  for (const ServerOptions* options : {&samePort, &badAddress}) {
    Server server(*options, {});
    std::string error;
    EXPECT_FALSE(server.Start(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(server.Port(), 0);
  }
}

// --- Body consumers -----------------------------------------------------------------------

class CollectingConsumer : public BodyConsumer {
 public:
  CollectingConsumer(std::string* sink, bool refuse) : sink_(sink), refuse_(refuse) {}
  bool Write(const char* data, size_t size) override {
    if (refuse_) return false;
    sink_->append(data, size);
    return true;
  }

 private:
  std::string* sink_;
  bool refuse_;
};

TEST(HttpServerTest, BodyConsumerTakesTheBodyOrRefusesIt) {
  std::string upload(1 << 20, '\0');
  for (size_t i = 0; i < upload.size(); ++i) upload[i] = static_cast<char>(i * 7 + i / 4096);
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refused" : "accepted");
    std::string consumed;
    std::string headPath, handlerBody = "untouched";
    const BodyConsumer* made = nullptr;
    const BodyConsumer* seen = nullptr;
    Handlers handlers;
    handlers.bodyConsumer = [&](const Request& head) {
      headPath = head.Path();
      auto consumer = std::make_unique<CollectingConsumer>(&consumed, refuse);
      made = consumer.get();
      return consumer;
    };
    handlers.onRequest = [&](Request& request) {
      handlerBody = request.body;
      seen = request.consumer;
      Response r;
      r.status = refuse ? 413 : 200;
      return r;
    };
    auto server = StartServer(std::move(handlers));
    Call call{Url(*server, "/upload/big.bin"), "POST"};
    call.body = upload;
    const Exchange exchange = Perform(call);
    ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
    EXPECT_EQ(exchange.status, refuse ? 413 : 200);
    EXPECT_EQ(headPath, "/upload/big.bin");
    EXPECT_TRUE(handlerBody.empty());
    EXPECT_TRUE(consumed == (refuse ? "" : upload)) << consumed.size();
    EXPECT_EQ(seen, made);  // the handler reaches the consumer to finish its work
  }
}

// Takes body bytes until it holds limit of them, then has the connection dropped.
class DroppingConsumer : public BodyConsumer {
 public:
  DroppingConsumer(std::size_t limit, std::size_t* taken) : limit_(limit), taken_(taken) {}
  bool Write(const char*, size_t size) override {
    *taken_ += std::min(size, limit_ - *taken_);
    return true;
  }
  bool DropConnection() const override { return *taken_ == limit_; }

 private:
  std::size_t limit_;
  std::size_t* taken_;
};

TEST(HttpServerTest, BodyConsumerCanDropTheConnection) {
  std::size_t taken = 0;
  bool handled = false;
  Handlers handlers;
  handlers.bodyConsumer = [&](const Request&) {
    return std::make_unique<DroppingConsumer>(100000, &taken);
  };
  handlers.onRequest = [&](Request&) {
    handled = true;
    return Response{};
  };
  auto server = StartServer(std::move(handlers));
  Call call{Url(*server, "/upload"), "POST", {"Expect:"}};
  call.body = std::string(4 << 20, 'u');
  const Exchange exchange = Perform(call);
  EXPECT_NE(exchange.code, CURLE_OK);
  EXPECT_EQ(exchange.status, 0);
  server->Stop();  // joins the connection's thread
  EXPECT_EQ(taken, 100000u);
  EXPECT_FALSE(handled);
}

TEST(HttpServerTest, FileBodiesAreSentFromTheirOffset) {
  char path[] = "/tmp/vesk-httpd-file-XXXXXX";
  FileDescriptor created(mkstemp(path));
  ASSERT_TRUE(created.Valid());
  unlink(path);
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 251);
  ASSERT_EQ(write(created.Get(), content.data(), content.size()),
            static_cast<ssize_t>(content.size()));
  const CertificatePair cert = MakeSelfSignedCertificate("localhost", -1, 1);
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "HTTPS" : "HTTP");
    Handlers handlers;
    handlers.onRequest = [&](Request&) {
      Response r;
      r.file = FileDescriptor(dup(created.Get()));
      r.fileOffset = 1234;
      r.fileSize = content.size() - 1234 - 10;
      return r;
    };
    ServerOptions options;
    if (tls) {
      options.tlsCertPem = cert.certPem;
      options.tlsKeyPem = cert.keyPem;
    }
    auto server = StartServer(std::move(handlers), options);
    const std::string url = (tls ? "https" : "http") + std::string("://127.0.0.1:") +
                            std::to_string(server->Port()) + "/file";
    const Exchange exchange = Perform({url});
    ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
    EXPECT_TRUE(exchange.body == content.substr(1234, content.size() - 1234 - 10));
  }
}

// --- HTTPS --------------------------------------------------------------------------------

TEST(HttpServerTest, ServesHttpsWithGeneratedCertificates) {
  {
    ScriptedServer server(ScriptedServer::Scheme::Https);
    ASSERT_EQ(server.BaseUrl().rfind("https://127.0.0.1:", 0), 0u);
    server.SetDefaultReply({200, {}, "secure"});
    CurlPtr handle = NewHandle();
    for (int i = 0; i < 2; ++i) {
      const Exchange unverified = Perform(handle.get(), {server.BaseUrl() + "/"});
      ASSERT_EQ(unverified.code, CURLE_OK) << unverified.error;
      EXPECT_EQ(unverified.body, "secure");
    }
    EXPECT_EQ(server.ConnectionCount(), 1u);  // keep-alive over TLS too
    // The certificate names 127.0.0.1 and can be its own trust anchor.
    Call verified{server.BaseUrl() + "/"};
    verified.trustedCertPem = server.Certificate().certPem;
    const Exchange exchange = Perform(verified);
    ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
    EXPECT_EQ(exchange.body, "secure");
  }
  {
    const CertificatePair expired = MakeSelfSignedCertificate("localhost", -10, -1);
    ScriptedServer server(ScriptedServer::Scheme::Https, expired);
    EXPECT_EQ(Perform({server.BaseUrl() + "/"}).code, CURLE_OK);
    Call verified{server.BaseUrl() + "/"};
    verified.trustedCertPem = expired.certPem;
    const Exchange exchange = Perform(verified);
    EXPECT_EQ(exchange.code, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_NE(exchange.error.find("expired"), std::string::npos) << exchange.error;
  }
}

// --- Slow devices -------------------------------------------------------------------------

TEST(HttpServerTest, DelaysHoldTheHeadThenTheBody) {
  ScriptedServer server;
  ScriptedReply reply;
  reply.body = "slow body";
  reply.delayBeforeHeaders = 300ms;
  reply.delayBeforeBody = 300ms;
  server.Enqueue(reply);
  const Exchange exchange = Perform({server.BaseUrl() + "/"});
  ASSERT_EQ(exchange.code, CURLE_OK) << exchange.error;
  EXPECT_EQ(exchange.body, "slow body");
  // Lower bounds only: the head waits for the first delay, and arrives well before the body.
  EXPECT_GE(Milliseconds(exchange.headersAt - exchange.start), 290);
  EXPECT_GE(Milliseconds(exchange.bodyAt - exchange.headersAt), 200);
}

// The reply delay holds every reply on its own connection: several at once take about one
// delay together, not one after the other; stopping ends a wait at once.
TEST(HttpServerTest, ReplyDelayHoldsEachReplyOnItsOwnConnection) {
  constexpr auto kDelay = 500ms;
  constexpr int kClients = 6;
  std::promise<void> handled;
  std::atomic<int> calls{0};
  Handlers handlers;
  handlers.onRequest = [&](Request& request) {
    if (request.Path() == "/stuck" && calls++ == 0) handled.set_value();
    Response response;
    response.body = "late";
    return response;
  };
  ServerOptions options;
  options.replyDelay = kDelay;
  auto server = StartServer(handlers, options);

  const Exchange one = Perform({Url(*server, "/")});
  ASSERT_EQ(one.code, CURLE_OK) << one.error;
  EXPECT_EQ(one.body, "late");
  EXPECT_GE(Milliseconds(one.headersAt - one.start), 490);

  std::vector<Exchange> exchanges(kClients);
  std::vector<std::thread> clients;
  const Clock::time_point start = Clock::now();
  for (Exchange& exchange : exchanges)
    clients.emplace_back([&] { exchange = Perform({Url(*server, "/")}); });
  for (std::thread& client : clients) client.join();
  // One after the other they would take kClients delays at the least.
  EXPECT_LT(Clock::now() - start, kClients * kDelay);
  for (const Exchange& exchange : exchanges) EXPECT_EQ(exchange.body, "late") << exchange.error;

  auto stuck = std::make_unique<Server>(ServerOptions{.replyDelay = 60s}, handlers);
  ASSERT_TRUE(stuck->Start(nullptr));
  Exchange waiting;
  std::thread client([&] { waiting = Perform({Url(*stuck, "/stuck")}); });
  handled.get_future().wait();
  const Clock::time_point stopping = Clock::now();
  stuck->Stop();
  EXPECT_LT(Clock::now() - stopping, 10s);
  client.join();
  EXPECT_NE(waiting.code, CURLE_OK);
  EXPECT_TRUE(waiting.body.empty());
}

TEST(HttpServerTest, DestroyingTheServerEndsLongDelays) {
  struct Case {
    const char* name;
    ScriptedReply reply;
  };
  Case cases[2];
  cases[0].name = "before the headers";
  cases[0].reply.delayBeforeHeaders = 30s;
  cases[1].name = "before the body";
  cases[1].reply.body = "never";
  cases[1].reply.delayBeforeBody = 30s;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = std::make_unique<ScriptedServer>();
    server->Enqueue(c.reply);
    server->SetDefaultReply({200, {}, "fast"});
    const std::string url = server->BaseUrl() + "/";
    Exchange slow;
    std::thread client([&] { slow = Perform({url}); });
    EXPECT_TRUE(server->WaitForRequests(1, 10s));  // no ASSERT: the client must be joined

    // Another connection is served while the first one waits.
    const Exchange fast = Perform({url});
    EXPECT_EQ(fast.code, CURLE_OK) << fast.error;
    EXPECT_EQ(fast.body, "fast");

    const Clock::time_point stopping = Clock::now();
    server.reset();
    EXPECT_LT(Milliseconds(Clock::now() - stopping), 5000);
    client.join();
    EXPECT_NE(slow.code, CURLE_OK);
    EXPECT_TRUE(slow.body.empty());
  }
}

}  // namespace
}  // namespace vesk::httpd
