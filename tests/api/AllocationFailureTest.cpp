// What the server object does when memory runs out. This program replaces the global operator
// new, so that a test can make the large allocations of one thread fail; it stays apart from the
// other suites for that reason.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

#include "VeskHttp.h"
#include "support/DeviceReplies.h"
#include "support/ScriptedServer.h"

namespace {

// While true on a thread, its allocations of a megabyte or more fail.
thread_local bool failLargeAllocations = false;
constexpr std::size_t kLarge = std::size_t{1} << 20;

// Makes the large allocations of this thread fail while it lives.
struct LargeAllocationsFail {
  LargeAllocationsFail() { failLargeAllocations = true; }
  ~LargeAllocationsFail() { failLargeAllocations = false; }
  LargeAllocationsFail(const LargeAllocationsFail&) = delete;
  LargeAllocationsFail& operator=(const LargeAllocationsFail&) = delete;
};

}  // namespace

// The replaced allocation functions: malloc and free underneath, as the standard ones, so that
// the sanitizers see matching pairs. The other forms of new and delete call these.
namespace {
[[gnu::noinline]] void* Allocate(std::size_t size) {
  if (failLargeAllocations && size >= kLarge) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void Free(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace vesk {
namespace {

using test::ScriptedServer;

const char kLoggedIn[] = "<reply><authPassed>1</authPassed><authSid>sys+1</authSid></reply>";

// The result of a fresh system login over HTTPS: it shows whether the certificate checks are on,
// since the scripted device's certificate is self-signed.
VESK_HTTP_RESULT LoginResult(CVeskHttpServer& server) {
  const VESK_HTTP_RESULT result = server.Login(VESK_HTTP_STATION_SYSTEM);
  if (IVeskHttpSystem* system = server.OpenSystem()) server.CloseSystem(&system);
  return result;
}

// Certificate checks that cannot be stored are refused, and the previous ones stay in force:
// checks that were off are never reported on.
TEST(ServerSettings, CertificateChecksThatCannotBeStoredLeaveThePreviousOnes) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  ScriptedServer device(ScriptedServer::Scheme::Https);
  device.SetDefaultReply(test::XmlReply(kLoggedIn));
  // Its copy is the one large allocation of the call.
  const std::wstring longName(kLarge, L'x');
  for (const int previous : {0, 1}) {
    SCOPED_TRACE(previous ? "checks on" : "checks off");
    CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"secret", 1, L""));
    server.SetSystemSSLPortNum(device.Port());
    ASSERT_EQ(server.SetVerifyCertificate(previous, nullptr), 1);
    const VESK_HTTP_RESULT before = LoginResult(server);
    EXPECT_EQ(before, previous ? VESK_HTTP_SEND_FAILED : VESK_HTTP_SUCCESS);
    {
      LargeAllocationsFail failing;
      EXPECT_EQ(server.SetVerifyCertificate(!previous, longName.c_str()), 0);
    }
    EXPECT_EQ(LoginResult(server), before);
  }
}

}  // namespace
}  // namespace vesk
