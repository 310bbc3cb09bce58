// WinHttpClient against the scripted test server: what goes on the wire, what comes back,
// and how exchanges end.
#include "http/WinHttpClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filestation/Threads.h"
#include "support/Files.h"
#include "support/ScriptedServer.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using test::ScriptedServer;
using Clock = std::chrono::steady_clock;

// Waits for a client's completion callback and counts its calls.
struct Completion {
  ZEvent done;
  std::atomic<int> calls{0};
  static void Signal(void* context, WinHttpClient*) {
    auto* self = static_cast<Completion*>(context);
    ++self->calls;
    self->done.Set();
  }
  bool Wait(std::chrono::milliseconds limit = 30s) { return done.WaitFor(limit); }
};

// Progress totals and notifications of one transfer.
struct Progress {
  std::mutex mutex;
  std::vector<long long> totals;
  std::vector<_VESK_HTTP_NOTIFY_INFO_> notes;
  static void OnProgress(void* user, long long amount) {
    auto* self = static_cast<Progress*>(user);
    std::lock_guard lock(self->mutex);
    self->totals.push_back(amount);
  }
  static void OnNotify(_VESK_HTTP_NOTIFY_INFO_* info) {
    auto* self = static_cast<Progress*>(info->userData);
    std::lock_guard lock(self->mutex);
    self->notes.push_back(*info);
  }
};

const wchar_t kFormHeaders[] =
    L"Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
    L"Content-Length: %d\r\nConnection: Keep-Alive\r\n\r\n";

std::wstring FormHeaders(std::size_t length) {
  std::wstring text = kFormHeaders;
  text.replace(text.find(L"%d"), 2, std::to_wstring(length));
  return text;
}

// Runs one exchange to its end and returns the finished client.
std::unique_ptr<WinHttpClient> Exchange(const std::wstring& url, const wchar_t* verb,
                                        const std::string& body = {}, const int* cancel = nullptr,
                                        bool ignoreCancel = false) {
  auto client = std::make_unique<WinHttpClient>(url, cancel, ignoreCancel);
  if (!body.empty()) {
    client->SetRequestHeaders(FormHeaders(body.size()));
    client->SetBodyPart(body);
  }
  Completion completion;
  const bool sent = client->Send(verb, &completion, &Completion::Signal);
  EXPECT_TRUE(completion.Wait());
  EXPECT_EQ(completion.calls.load(), 1);
  EXPECT_TRUE(sent || client->GetStatusText().empty());
  return client;
}

class TempDir {
 public:
  std::filesystem::path operator/(const std::string& name) const { return folder_.Path() / name; }

 private:
  test::TempFolder folder_{"vesk-client"};
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7) % 26);
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- requests on the wire ----

TEST(WinHttpClient, GetCarriesOnlyTheCallersHeaders) {
  ScriptedServer server;
  auto client =
      std::make_unique<WinHttpClient>(server.WideUrl("/cgi-bin/x.cgi?a=1&b=%41"), nullptr, false);
  client->SetUserAgent(L"Agent 1.0");
  client->SetRequestHeaders(
      L"Cache-Control: no-cache\r\nPragma: no-cache\r\nConnection: Keep-Alive\r\n\r\n");
  Completion completion;
  ASSERT_TRUE(client->Send(L"get", &completion, &Completion::Signal));
  ASSERT_TRUE(completion.Wait());

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/cgi-bin/x.cgi?a=1&b=%41");
  EXPECT_EQ(r.body, "");
  std::vector<std::string> names;
  for (const auto& [name, value] : r.headers) names.push_back(name);
  EXPECT_THAT(names, ::testing::UnorderedElementsAre("Host", "User-Agent", "Cache-Control",
                                                     "Pragma", "Connection"));
  EXPECT_EQ(*r.Header("User-Agent"), "Agent 1.0");
  EXPECT_EQ(*r.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_EQ(client->GetHostName(), L"127.0.0.1");
}

TEST(WinHttpClient, PostsAFormBodyByteForByte) {
  ScriptedServer server;
  const std::string body = "user=admin&pwd=c2VjcmV0%0A&x=%26%3D%2B";
  Exchange(server.WideUrl("/cgi-bin/login.cgi"), L"POST", body);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, body);
  EXPECT_EQ(*requests[0].Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(*requests[0].Header("Content-Type"),
            "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(requests[0].Header("Expect"), nullptr);
  EXPECT_EQ(requests[0].Header("Transfer-Encoding"), nullptr);
}

TEST(WinHttpClient, TargetKeepsPercentAndEncodesWhatCannotTravelRaw) {
  ScriptedServer server;
  Exchange(server.WideUrl("/p?name=a%26b c") + L"\x4e2d#x", L"GET");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/p?name=a%26b%20c%E4%B8%AD%23x");
}

TEST(WinHttpClient, RepeatedHeaderNamesAreMerged) {
  ScriptedServer server;
  auto client = std::make_unique<WinHttpClient>(server.WideUrl("/"), nullptr, false);
  client->SetRequestHeaders(L"X-Tag: one\r\nx-tag: two\r\nX-Other: 3\r\n");
  Completion completion;
  ASSERT_TRUE(client->Send(L"GET", &completion, &Completion::Signal));
  ASSERT_TRUE(completion.Wait());
  const auto r = server.Requests().at(0);
  EXPECT_EQ(*r.Header("X-Tag"), "one; two");
  EXPECT_EQ(*r.Header("X-Other"), "3");
}

TEST(WinHttpClient, SendThatCannotStartHasAlreadyCompleted) {
  ScriptedServer server;
  struct Case {
    std::wstring url;
    std::wstring verb;
    std::wstring headers;
  } cases[] = {
      {L"", L"GET", L""},
      {server.WideUrl("/"), L"PUT", L""},
      {L"ftp://127.0.0.1/x", L"GET", L""},
      {L"http://127.0.0.1:99999/x", L"GET", L""},
      {server.WideUrl("/"), L"POST", L"Content-Length: 5\r\n"},  // announces 5, has 0
  };
  for (const Case& c : cases) {
    WinHttpClient client(c.url, nullptr, false);
    client.SetRequestHeaders(c.headers);
    Completion completion;
    EXPECT_FALSE(client.Send(c.verb, &completion, &Completion::Signal));
    EXPECT_EQ(completion.calls.load(), 1);
  }
  EXPECT_EQ(server.Requests().size(), 0u);
}

TEST(WinHttpClient, LongTargetsAreSentWhole) {
  ScriptedServer server;
  const std::string path = "/cgi-bin/x.cgi?path=" + std::string(3000, 'a');
  auto client = Exchange(server.WideUrl(path), L"GET");
  EXPECT_EQ(client->GetStatusText(), L"200");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].target, path);
}

// ---- replies ----

TEST(WinHttpClient, DecodesTheReplyAndFindsTheCharset) {
  struct Case {
    std::string contentType;
    std::string body;
    std::wstring charset;
    std::wstring text;
  } cases[] = {
      {"application/json; charset=\"UTF-8\"", "{\"n\":\"\xe4\xb8\xad\"}", L"UTF-8",
       L"{\"n\":\"\x4e2d\"}"},
      {"text/xml; CHARSET=\"utf-8\"", "<a/>", L"utf-8", L"<a/>"},
      // Without quotes the charset is not found; the reply still decodes as UTF-8, this
      // platform's narrow code page.
      {"text/plain; charset=UTF-8", "\xc3\xa9", L"", L"\x00e9"},
      {"text/plain", std::string("before\0after", 12), L"", L"before"},
      {"text/plain", "bad \xff byte", L"", L"bad \xfffd byte"},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    server.Enqueue({.headers = {{"Content-Type", c.contentType}}, .body = c.body});
    auto client = Exchange(server.WideUrl("/"), L"GET");
    EXPECT_EQ(client->GetCharset(), c.charset) << c.contentType;
    EXPECT_EQ(client->GetResponseText(), c.text) << c.contentType;
    EXPECT_TRUE(client->IsReplyComplete());
    EXPECT_THAT(client->GetRawHeaders(), ::testing::StartsWith(L"HTTP/1.1 200"));
  }
}

TEST(WinHttpClient, ReportsTheStatusOfAnErrorReply) {
  ScriptedServer server;
  server.Enqueue({.status = 404, .body = "missing"});
  auto client = Exchange(server.WideUrl("/"), L"GET");
  EXPECT_EQ(client->GetStatusText(), L"404");
  EXPECT_EQ(WinHttpClient::ParseStatusCode(client->GetStatusText()), 404);
  EXPECT_TRUE(client->IsReplyComplete());
}

// Redirects are followed as the platform's default policy does; one it will not follow
// (from https down to http, to another scheme, or one too many) is the reply: a whole reply
// with the redirect's status.
struct RedirectCase {
  const char* name;
  ScriptedServer::Scheme scheme;
  std::string location;  // empty: the redirecting server itself, for ever
  std::wstring status, body;
  std::size_t targetRequests;
};

void ExpectRedirects(const ScriptedServer& target, const std::vector<RedirectCase>& cases) {
  std::size_t landed = 0;
  for (const RedirectCase& c : cases) {
    ScriptedServer server(c.scheme);
    const std::string location = c.location.empty() ? server.BaseUrl() + "/again" : c.location;
    server.SetDefaultReply({.status = 302, .headers = {{"Location", location}}, .body = "moved"});
    for (const wchar_t* verb : {L"GET", L"POST"}) {
      auto client = Exchange(server.WideUrl("/start"), verb, "a=1");
      EXPECT_EQ(client->GetStatusText(), c.status) << c.name;
      EXPECT_TRUE(client->IsReplyComplete()) << c.name;
      EXPECT_EQ(client->GetResponseText(), c.body) << c.name;
      landed += c.targetRequests;
      EXPECT_EQ(target.Requests().size(), landed) << c.name;
    }
  }
}

TEST(WinHttpClient, RedirectsAreFollowedOrReportedWithTheirStatus) {
  ScriptedServer target;
  target.SetDefaultReply({.body = "landed"});
  ExpectRedirects(target, {
                              {"http to http", ScriptedServer::Scheme::Http,
                               target.BaseUrl() + "/x", L"200", L"landed", 1},
                              {"to another scheme", ScriptedServer::Scheme::Http,
                               "ftp://127.0.0.1/x", L"302", L"", 0},
                              {"one too many", ScriptedServer::Scheme::Http, "", L"302", L"", 0},
                          });
}

TEST(WinHttpClient, RedirectFromHttpsDownToHttpIsTheReply) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  ScriptedServer target;
  target.SetDefaultReply({.body = "landed"});
  ExpectRedirects(target, {{"https to http", ScriptedServer::Scheme::Https, target.BaseUrl() + "/x",
                            L"302", L"", 0}});
}

TEST(WinHttpClient, ParseStatusCode) {
  struct Case {
    std::wstring text;
    int code;
  } cases[] = {{L"200", 200},    {L"1,000", 1000}, {L"", 0},     {L"404", 404},
               {L" 2 0 0", 200}, {L"abc", 0},      {L"-5x", -5}, {L"99999999999", 2147483647}};
  for (const Case& c : cases) EXPECT_EQ(WinHttpClient::ParseStatusCode(c.text), c.code) << c.text;
}

// ---- how exchanges fail ----

TEST(WinHttpClient, ExchangesThatBreakAreNeverComplete) {
  struct Case {
    const char* name;
    ScriptedReply reply;
    std::wstring status;
  } cases[] = {
      {"dropped before the status", {.dropConnection = true}, L""},
      {"cut short after a 200", {.body = "{\"status\":1", .declaredLength = 500}, L"200"},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    server.Enqueue(c.reply);
    auto client = Exchange(server.WideUrl("/"), L"GET");
    EXPECT_EQ(client->GetStatusText(), c.status) << c.name;
    EXPECT_FALSE(client->IsReplyComplete()) << c.name;
    EXPECT_EQ(client->GetResponseText(), L"") << c.name;
  }
}

TEST(WinHttpClient, ClosedPortFailsWithoutStatus) {
  unsigned short port;
  {
    ScriptedServer server;
    port = server.Port();
  }
  auto client = Exchange(L"http://127.0.0.1:" + std::to_wstring(port) + L"/cgi-bin/x.cgi", L"GET");
  EXPECT_EQ(client->GetStatusText(), L"");
  EXPECT_FALSE(client->IsReplyComplete());
}

TEST(WinHttpClient, ReceiveTimeoutEndsASilentExchange) {
  ScriptedServer server;
  server.Enqueue({.delayBeforeHeaders = 30s});
  WinHttpClient client(server.WideUrl("/"), nullptr, false);
  client.SetTimeouts(300, 300, 300, 300);
  Completion completion;
  const auto start = Clock::now();
  ASSERT_TRUE(client.Send(L"GET", &completion, &Completion::Signal));
  ASSERT_TRUE(completion.Wait(20s));
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 250ms);
  EXPECT_LT(elapsed, 10s);
  EXPECT_FALSE(client.IsReplyComplete());
  EXPECT_EQ(client.GetStatusText(), L"");
}

// ---- cancellation ----

// Sets the flag once the server holds the request, and measures how long the exchange still
// takes.
Clock::duration CancelWhileWaiting(ScriptedReply reply, int flagValue, bool ignoreCancel,
                                   WinHttpClient** out, ScriptedServer& server,
                                   std::unique_ptr<WinHttpClient>& holder, int& flag) {
  server.Enqueue(reply);
  holder = std::make_unique<WinHttpClient>(server.WideUrl("/"), &flag, ignoreCancel);
  *out = holder.get();
  Completion completion;
  EXPECT_TRUE(holder->Send(L"GET", &completion, &Completion::Signal));
  EXPECT_TRUE(server.WaitForRequests(1, 10s));
  StoreFlag(&flag, flagValue);
  const auto start = Clock::now();
  EXPECT_TRUE(completion.Wait(40s));
  return Clock::now() - start;
}

TEST(WinHttpClient, CancelEndsTheExchangeWhileTheDeviceIsSilent) {
  for (const int flagValue : {1, 2}) {
    for (const auto& reply : {ScriptedReply{.delayBeforeHeaders = 30s},
                              ScriptedReply{.body = "late", .delayBeforeBody = 30s}}) {
      ScriptedServer server;
      std::unique_ptr<WinHttpClient> holder;
      WinHttpClient* client = nullptr;
      int flag = 0;
      const auto elapsed =
          CancelWhileWaiting(reply, flagValue, false, &client, server, holder, flag);
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
      std::printf("cancel with flag %d ended the exchange after %lld ms\n", flagValue,
                  static_cast<long long>(ms));
      // The engine looks at the flag every 20 ms; a loaded machine gets a wide margin.
      EXPECT_LT(elapsed, 2s);
      EXPECT_FALSE(client->IsReplyComplete());
    }
  }
}

TEST(WinHttpClient, IgnoreCancelRunsTheExchangeToItsEnd) {
  ScriptedServer server;
  std::unique_ptr<WinHttpClient> holder;
  WinHttpClient* client = nullptr;
  int flag = 0;
  CancelWhileWaiting({.body = "{}", .delayBeforeHeaders = 300ms}, 1, true, &client, server, holder,
                     flag);
  EXPECT_TRUE(client->IsReplyComplete());
  EXPECT_EQ(client->GetStatusText(), L"200");
  EXPECT_EQ(client->GetResponseText(), L"{}");
}

TEST(WinHttpClient, DestroyingAnOpenExchangeCompletesItOnce) {
  ScriptedServer server;
  server.Enqueue({.delayBeforeHeaders = 30s});
  Completion completion;
  auto client = std::make_unique<WinHttpClient>(server.WideUrl("/"), nullptr, false);
  ASSERT_TRUE(client->Send(L"GET", &completion, &Completion::Signal));
  ASSERT_TRUE(server.WaitForRequests(1, 10s));
  const auto start = Clock::now();
  client.reset();
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(completion.calls.load(), 1);
}

// ---- connections ----

void ExpectOneConnectionForSuccessiveExchanges(ScriptedServer::Scheme scheme) {
  ScriptedServer server(scheme);
  server.SetDefaultReply({.body = "{\"status\":1}"});
  for (int i = 0; i < 5; ++i) {
    auto client = Exchange(server.WideUrl("/cgi-bin/x.cgi?i=" + std::to_string(i)),
                           i % 2 ? L"POST" : L"GET", i % 2 ? "a=1" : "");
    EXPECT_EQ(client->GetResponseText(), L"{\"status\":1}");
  }
  EXPECT_EQ(server.Requests().size(), 5u);
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(WinHttpClient, ReusesOneConnectionForSuccessiveExchanges) {
  ExpectOneConnectionForSuccessiveExchanges(ScriptedServer::Scheme::Http);
}

TEST(WinHttpClient, ReusesOneSecureConnectionForSuccessiveExchanges) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  ExpectOneConnectionForSuccessiveExchanges(ScriptedServer::Scheme::Https);
}

TEST(WinHttpClient, ManyThreadsShareTheTransport) {
  ScriptedServer server;
  server.SetDefaultReply({.body = "ok"});
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        auto client = Exchange(server.WideUrl("/t" + std::to_string(t)), L"POST", "n=1");
        if (client->GetResponseText() == L"ok") ++good;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 60);
}

TEST(WinHttpClient, HttpsAcceptsSelfSignedAndExpiredCertificatesUnlessVerifying) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  ScriptedServer selfSigned(ScriptedServer::Scheme::Https);
  selfSigned.SetDefaultReply({.body = "secure"});
  EXPECT_EQ(Exchange(selfSigned.WideUrl("/"), L"GET")->GetResponseText(), L"secure");

  ScriptedServer expired(ScriptedServer::Scheme::Https,
                         httpd::MakeSelfSignedCertificate("other.example", -30, -1));
  expired.SetDefaultReply({.body = "still"});
  EXPECT_EQ(Exchange(expired.WideUrl("/"), L"GET")->GetResponseText(), L"still");

  WinHttpClient verifying(selfSigned.WideUrl("/"), nullptr, false);
  verifying.SetVerifyCertificate(true);
  Completion completion;
  ASSERT_TRUE(verifying.Send(L"GET", &completion, &Completion::Signal));
  ASSERT_TRUE(completion.Wait());
  EXPECT_FALSE(verifying.IsReplyComplete());
  EXPECT_EQ(verifying.GetStatusText(), L"");
}

// The SHA-256 digest of a PEM certificate, as the transport takes a pin.
std::string PinOf(const std::string& certPem) {
  const std::string hex = httpd::Sha256Fingerprint(certPem);
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 3)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The status of one GET under these certificate checks; empty when the exchange failed.
std::wstring SecureGet(const ScriptedServer& server, bool verify, const std::wstring& caFile,
                       const std::string& pin) {
  WinHttpClient client(server.WideUrl("/"), nullptr, false);
  client.SetVerifyCertificate(verify);
  client.SetCaFile(caFile);
  client.SetCertificatePin(pin);
  Completion completion;
  client.Send(L"GET", &completion, &Completion::Signal);
  EXPECT_TRUE(completion.Wait());
  return client.IsReplyComplete() ? client.GetStatusText() : L"";
}

// Connections are kept between the steps, and curl knows nothing of the pin: one made
// without the pin, or with the right one, must still never carry an exchange whose pin its
// certificate does not match.
TEST(WinHttpClient, APinIsCheckedOnEveryConnectionAnExchangeUses) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  ScriptedServer server(ScriptedServer::Scheme::Https);
  const std::string right = PinOf(server.Certificate().certPem);
  std::string wrong = right;
  wrong.back() = static_cast<char>(wrong.back() ^ 1);
  EXPECT_EQ(SecureGet(server, false, L"", ""), L"200");
  EXPECT_EQ(SecureGet(server, false, L"", wrong), L"");
  EXPECT_EQ(SecureGet(server, false, L"", right), L"200");
  EXPECT_EQ(SecureGet(server, false, L"", wrong), L"");
  EXPECT_EQ(SecureGet(server, false, L"", ""), L"200");
  EXPECT_EQ(server.Requests().size(), 3u);  // not a byte from the mismatched exchanges

  ScriptedServer fresh(ScriptedServer::Scheme::Https);
  EXPECT_EQ(SecureGet(fresh, false, L"", right), L"");
  EXPECT_TRUE(fresh.Requests().empty());
}

// In order, so that each case could reuse the connections of the ones before it.
TEST(WinHttpClient, VerificationTrustsTheSystemStoreOrTheGivenAuthorities) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  const auto authority = httpd::MakeSelfSignedCertificate("Test CA", -1, 30);
  const auto stranger = httpd::MakeSelfSignedCertificate("Other CA", -1, 30);
  ScriptedServer server(ScriptedServer::Scheme::Https,
                        httpd::MakeSignedCertificate(authority, "device", -1, 30));
  TempDir dir;
  WriteFile(dir / "ca.pem", authority.certPem);
  WriteFile(dir / "other.pem", stranger.certPem);
  const std::wstring ca = (dir / "ca.pem").wstring(), other = (dir / "other.pem").wstring();
  const std::string pin = PinOf(server.Certificate().certPem);
  struct Case {
    const char* name;
    bool verify;
    std::wstring caFile;
    std::string pin;
    std::wstring status;
  } cases[] = {
      {"not verified", false, L"", "", L"200"},
      {"the system's store", true, L"", "", L""},
      {"its authority", true, ca, "", L"200"},
      {"another authority", true, other, "", L""},
      {"a file that is not there", true, (dir / "none.pem").wstring(), "", L""},
      {"its authority and its pin", true, ca, pin, L"200"},
      {"its authority and another pin", true, ca, PinOf(authority.certPem), L""},
      {"another authority and its pin", true, other, pin, L""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SecureGet(server, c.verify, c.caFile, c.pin), c.status) << c.name;
}

// ---- file mode: uploads ----

struct UploadResult {
  bool sent = false;
  bool complete = false;
  std::string body;
  std::vector<long long> totals;
  std::vector<_VESK_HTTP_NOTIFY_INFO_> notes;
};

UploadResult Upload(const std::string& content, std::uint64_t offset, std::uint64_t fileSize) {
  TempDir dir;
  WriteFile(dir / "up.bin", content);
  platform::LocalFile file;
  EXPECT_TRUE(file.Open((dir / "up.bin").wstring(), platform::LocalFile::Mode::Read));

  ScriptedServer server;
  server.SetDefaultReply({.body = "{\"status\":1}"});
  const std::string head = "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n";
  const std::string tail = "\r\n--b--\r\n";
  WinHttpClient client(server.WideUrl("/cgi-bin/upload"), nullptr, false);
  client.SetHeadPart(head);
  client.SetTailPart(tail);
  client.SetFileBytesSent(offset);
  client.SetRequestHeaders(L"Content-Type: multipart/form-data; boundary=b\r\n");
  Progress progress;
  Completion completion;
  UploadResult result;
  result.sent = client.SendWithSource(L"POST", &platform::ReadLocalFile, &file, fileSize,
                                      &completion, &Completion::Signal, &progress,
                                      &Progress::OnProgress, &Progress::OnNotify);
  EXPECT_TRUE(completion.Wait());
  result.complete = client.IsReplyComplete();
  if (!server.Requests().empty()) result.body = server.Requests()[0].body;
  result.totals = progress.totals;
  result.notes = progress.notes;
  EXPECT_THAT(result.body, ::testing::AnyOf(::testing::IsEmpty(), ::testing::StartsWith(head)));
  return result;
}

TEST(WinHttpClientUpload, SendsTheFileInPiecesWithProgress) {
  const std::string head = "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n";
  const std::string tail = "\r\n--b--\r\n";
  struct Case {
    std::size_t size;
    std::uint64_t offset;
    std::vector<long long> totals;
  } cases[] = {
      {65535, 0, {65535}},
      {65536, 0, {65535, 65536}},
      {0, 0, {}},
      {100000, 65535, {100000}},  // resumed: the rest goes as one piece
      {200000, 0, {65535, 131070, 196605, 200000}},
  };
  for (const Case& c : cases) {
    const std::string content = Pattern(c.size);
    const UploadResult r = Upload(content, c.offset, c.size);
    EXPECT_TRUE(r.sent);
    EXPECT_TRUE(r.complete) << c.size;
    EXPECT_EQ(r.body, head + content.substr(c.offset) + tail) << c.size;
    EXPECT_EQ(r.totals, c.totals) << c.size;
    ASSERT_EQ(r.notes.size(), c.totals.size());
    for (std::size_t i = 0; i < r.notes.size(); ++i) {
      EXPECT_EQ(r.notes[i].result, VESK_HTTP_IN_PROGRESS);
      EXPECT_EQ(r.notes[i].operation, VESK_HTTP_OP_UPLOAD_FILE);
      EXPECT_EQ(r.notes[i].bytes, c.totals[i]);
      EXPECT_EQ(r.notes[i].request, nullptr);
    }
  }
}

TEST(WinHttpClientUpload, NeverSendsABodyWithAGap) {
  // The file is shorter than announced: the exchange fails instead of sending short.
  const UploadResult shortFile = Upload(Pattern(1000), 0, 5000);
  EXPECT_TRUE(shortFile.sent);
  EXPECT_FALSE(shortFile.complete);
  EXPECT_LT(shortFile.body.size(), 5000u);

  // A resume offset past the end of the file is never sent.
  const UploadResult pastEnd = Upload(Pattern(1000), 2000, 1000);
  EXPECT_FALSE(pastEnd.sent);
  EXPECT_EQ(pastEnd.body, "");
}

// ---- file mode: downloads ----

struct DownloadResult {
  bool complete = false;
  std::wstring status;
  std::string file;
  std::vector<long long> totals;
};

DownloadResult Download(const std::filesystem::path& path, std::uint64_t offset,
                        ScriptedReply reply) {
  ScriptedServer server;
  server.Enqueue(std::move(reply));
  platform::LocalFile file;
  EXPECT_TRUE(file.Open(path.wstring(), platform::LocalFile::Mode::Write));
  EXPECT_TRUE(file.Seek(offset));
  WinHttpClient client(server.WideUrl("/cgi-bin/download"), nullptr, false);
  const std::string body = "path=%2Fshare&name=a.bin";
  client.SetRequestHeaders(FormHeaders(body.size()));
  client.SetBodyPart(body);
  client.SetFileBytesReceived(offset);
  Progress progress;
  Completion completion;
  EXPECT_TRUE(client.SendWithFile(L"POST", &file, &completion, &Completion::Signal, &progress,
                                  &Progress::OnProgress, nullptr));
  EXPECT_TRUE(completion.Wait());
  file.Close();
  EXPECT_EQ(server.Requests().at(0).body, body);
  const bool regular = std::filesystem::is_regular_file(path);
  return {client.IsReplyComplete(), client.GetStatusText(), regular ? ReadFile(path) : "",
          progress.totals};
}

TEST(WinHttpClientDownload, WritesAtTheResumeOffsetWithRisingTotals) {
  TempDir dir;
  const std::string existing = Pattern(1000);
  WriteFile(dir / "down.bin", existing);
  const std::string data(500, 'z');
  const auto r = Download(dir / "down.bin", 1000, {.body = data});
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.file, existing + data);
  ASSERT_FALSE(r.totals.empty());
  EXPECT_GT(r.totals.front(), 1000);
  EXPECT_EQ(r.totals.back(), 1500);
  EXPECT_TRUE(std::is_sorted(r.totals.begin(), r.totals.end()));
}

TEST(WinHttpClientDownload, LargeDownloadStreamsIntoTheFile) {
  TempDir dir;
  const std::string data = Pattern(3 << 20);
  const auto r = Download(dir / "big.bin", 0, {.body = data});
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.file.size(), data.size());
  EXPECT_TRUE(r.file == data);
  EXPECT_GT(r.totals.size(), 1u);
}

TEST(WinHttpClientDownload, ErrorPagesAndBrokenTransfersDoNotPassAsFileData) {
  TempDir dir;
  // A refused download leaves the file as it was.
  WriteFile(dir / "keep.bin", "original");
  const auto refused = Download(dir / "keep.bin", 8, {.status = 404, .body = "not found"});
  EXPECT_EQ(refused.status, L"404");
  EXPECT_EQ(refused.file, "original");
  EXPECT_TRUE(refused.totals.empty());

  // A transfer cut short keeps every byte that arrived, for resuming, and is not complete:
  // also the bytes still gathered for a grouped write, and the last total says so.
  for (const std::size_t arrived : {std::size_t{7}, std::size_t{300001}}) {
    const std::string data = Pattern(arrived);
    const auto cut = Download(
        dir / "cut.bin", 0, {.body = data, .declaredLength = static_cast<long long>(2 * arrived)});
    EXPECT_EQ(cut.status, L"200");
    EXPECT_FALSE(cut.complete);
    EXPECT_TRUE(cut.file == data) << cut.file.size();
    ASSERT_FALSE(cut.totals.empty());
    EXPECT_EQ(cut.totals.back(), static_cast<long long>(arrived));
  }
}

TEST(WinHttpClientDownload, AFailedLocalWriteFailsTheExchange) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const auto r = Download("/dev/full", 0, {.body = Pattern(100000)});
  EXPECT_EQ(r.status, L"200");
  EXPECT_FALSE(r.complete);
}

// A progress callback may itself make a request: the transport's own thread is busy calling
// back, so that request must not wait for it.
TEST(WinHttpClientUpload, ProgressCallbackMayMakeARequestOfItsOwn) {
  ScriptedServer server;
  server.SetDefaultReply({.body = "inner"});
  struct Context {
    std::wstring url;
    std::wstring innerReply;
  } context{server.WideUrl("/inner"), L""};
  TempDir dir;
  WriteFile(dir / "f.bin", Pattern(10));
  platform::LocalFile file;
  ASSERT_TRUE(file.Open((dir / "f.bin").wstring(), platform::LocalFile::Mode::Read));
  WinHttpClient client(server.WideUrl("/outer"), nullptr, false);
  client.SetHeadPart("h");
  client.SetTailPart("t");
  Completion completion;
  ASSERT_TRUE(client.SendWithSource(
      L"POST", &platform::ReadLocalFile, &file, 10, &completion, &Completion::Signal, &context,
      [](void* user, long long) {
        auto* ctx = static_cast<Context*>(user);
        ctx->innerReply = Exchange(ctx->url, L"GET")->GetResponseText();
      },
      nullptr));
  ASSERT_TRUE(completion.Wait());
  EXPECT_TRUE(client.IsReplyComplete());
  EXPECT_EQ(context.innerReply, L"inner");
}

// ---- exchanges run on the caller's thread ----

// The exchange is over, its completion called once on this thread, when Send returns; a
// thread's successive exchanges share one connection, and a progress callback's own request
// (made while the thread's exchange runs) goes through as well.
TEST(WinHttpClientOnCallersThread, SendReturnsWithTheExchangeDoneAndReusesTheConnection) {
  ScriptedServer server;
  server.SetDefaultReply({.body = "{\"status\":1}"});
  for (int i = 0; i < 3; ++i) {
    WinHttpClient client(server.WideUrl("/cgi-bin/x.cgi?i=" + std::to_string(i)), nullptr, false);
    client.SetRunOnCallerThread(true);
    struct Seen {
      int calls = 0;
      std::thread::id thread;
    } seen;
    ASSERT_TRUE(client.Send(L"GET", &seen, [](void* context, WinHttpClient*) {
      auto* s = static_cast<Seen*>(context);
      ++s->calls;
      s->thread = std::this_thread::get_id();
    }));
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.thread, std::this_thread::get_id());
    EXPECT_EQ(client.GetStatus(), 200);
    EXPECT_EQ(client.GetResponseUtf8(), "{\"status\":1}");
  }
  EXPECT_EQ(server.ConnectionCount(), 1u);

  TempDir dir;
  WriteFile(dir / "f.bin", Pattern(10));
  platform::LocalFile file;
  ASSERT_TRUE(file.Open((dir / "f.bin").wstring(), platform::LocalFile::Mode::Read));
  WinHttpClient outer(server.WideUrl("/outer"), nullptr, false);
  outer.SetRunOnCallerThread(true);
  outer.SetHeadPart("h");
  outer.SetTailPart("t");
  std::string inner;
  Completion completion;
  ASSERT_TRUE(outer.SendWithSource(
      L"POST", &platform::ReadLocalFile, &file, 10, &completion, &Completion::Signal, &inner,
      [](void* user, long long) {
        WinHttpClient nested(L"http://127.0.0.1:1/unused", nullptr, false);
        nested.SetRunOnCallerThread(true);
        Completion done;
        nested.Send(L"GET", &done, &Completion::Signal);
        *static_cast<std::string*>(user) = done.calls == 1 ? "completed" : "pending";
      },
      nullptr));
  EXPECT_EQ(completion.calls.load(), 1);
  EXPECT_TRUE(outer.IsReplyComplete());
  EXPECT_EQ(inner, "completed");
}

TEST(WinHttpClientOnCallersThread, ACancelFlagEndsASilentExchange) {
  ScriptedServer server;
  server.Enqueue({.delayBeforeHeaders = 30s});
  int flag = 0;
  std::thread canceller([&] {
    if (server.WaitForRequests(1, 10s)) StoreFlag(&flag, 1);
  });
  WinHttpClient client(server.WideUrl("/"), &flag, false);
  client.SetRunOnCallerThread(true);
  Completion completion;
  const auto start = Clock::now();
  EXPECT_TRUE(client.Send(L"GET", &completion, &Completion::Signal));
  const auto elapsed = Clock::now() - start;
  canceller.join();
  EXPECT_EQ(completion.calls.load(), 1);
  EXPECT_FALSE(client.IsReplyComplete());
  EXPECT_FALSE(client.HasStatus());
  // The flag is looked at every 20 ms; a loaded machine gets a wide margin below the 30 s.
  EXPECT_LT(elapsed, 10s);
}

}  // namespace
}  // namespace vesk
