// The public API end to end against the device emulator on this machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/Notifications.h"

namespace {

using namespace std::chrono_literals;

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(device_.Start(&error)) << error;
  }

  // A server object for the emulator, plain or secure.
  CVeskHttpServer Server(const wchar_t* password = L"admin", int secure = 0,
                         const wchar_t* computerName = L"") {
    CVeskHttpServer server(
        CVeskHttpServerInfo(L"127.0.0.1", L"admin", password, secure, computerName));
    server.SetFileStationPortNum(device_.Port());
    server.SetFileStationSSLPortNum(device_.TlsPort());
    server.SetSystemPortNum(device_.Port());
    server.SetSystemSSLPortNum(device_.TlsPort());
    return server;
  }

  vesk::emulator::Emulator device_{vesk::emulator::EmulatorOptions{}};
};

TEST_F(EndToEnd, FileServiceLoginsAndCloseAndReopen) {
  for (const int secure : {0, 1}) {
    for (const wchar_t* computer : {L"", L"DESK_COMPUTER", L"My PC & co+1"}) {
      CVeskHttpServer server = Server(L"admin", secure, computer);
      EXPECT_EQ(server.QueryFileStationVersion(), VESK_HTTP_FILE_STATION_API_VERSION_NONE);
      ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
      EXPECT_EQ(server.QueryFileStationVersion(), VESK_HTTP_FILE_STATION_API_VERSION_1);
      EXPECT_EQ(device_.SessionCount(), 1u);
      IVeskHttpFileStation* station = server.OpenFileStation();
      ASSERT_NE(station, nullptr);
      ASSERT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
      EXPECT_EQ(device_.SessionCount(), 0u);
      EXPECT_EQ(server.OpenFileStation(), nullptr);
      // And open again on the same server object.
      ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
      station = server.OpenFileStation();
      EXPECT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
    }
  }
}

TEST_F(EndToEnd, PasswordsWithEveryCharacterTheFormCouldMangle) {
  vesk::emulator::EmulatorOptions options;
  options.password = "p+a/s=s&w%o#r d\xc3\xa4" +
                     std::string(100, 'x');  // base64 with "+", "/", "=" and line feeds
  vesk::emulator::Emulator device(options);
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const std::wstring password = L"p+a/s=s&w%o#r d\x00e4" + std::wstring(100, L'x');
  for (const auto type : {VESK_HTTP_STATION_SYSTEM, VESK_HTTP_STATION_FILE_STATION}) {
    CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", password.c_str(), 0, L""));
    server.SetFileStationPortNum(device.Port());
    server.SetSystemPortNum(device.Port());
    ASSERT_EQ(server.Login(type), VESK_HTTP_SUCCESS);
    IVeskHttpFileStation* files = server.OpenFileStation();
    IVeskHttpSystem* system = server.OpenSystem();
    EXPECT_EQ(files ? server.CloseFileStation(&files) : server.CloseSystem(&system),
              VESK_HTTP_SUCCESS);
  }
}

TEST_F(EndToEnd, RefusalsAndFailuresMapToTheirCodes) {
  CVeskHttpServer wrong = Server(L"wrong");
  EXPECT_EQ(wrong.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_LOGIN_FAILED);
  EXPECT_EQ(wrong.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_LOGIN_FAILED);
  EXPECT_EQ(wrong.OpenFileStation(), nullptr);
  EXPECT_EQ(wrong.QueryFileStationVersion(), VESK_HTTP_FILE_STATION_API_VERSION_NONE);

  // A password far beyond any form buffer is carried whole; the device refuses the body's
  // size with an HTTP error.
  const std::wstring huge(70000, L'a');
  CVeskHttpServer tooBig = Server(huge.c_str());
  EXPECT_EQ(tooBig.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_BAD_HTTP_STATUS);

  unsigned short closedPort;
  {
    vesk::emulator::Emulator gone{vesk::emulator::EmulatorOptions{}};
    std::string error;
    ASSERT_TRUE(gone.Start(&error)) << error;
    closedPort = gone.Port();
  }
  CVeskHttpServer unreachable(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  unreachable.SetFileStationPortNum(closedPort);
  unreachable.SetSystemPortNum(closedPort);
  EXPECT_EQ(unreachable.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SEND_FAILED);
  EXPECT_EQ(unreachable.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SEND_FAILED);

  CVeskHttpServer server = Server();
  EXPECT_EQ(server.Login(static_cast<_VESK_HTTP_STATION_TYPE_>(5)), VESK_HTTP_BAD_STATION_TYPE);
}

TEST_F(EndToEnd, SystemSettingsAndWebFileManager) {
  for (const int secure : {0, 1}) {
    CVeskHttpServer server = Server(L"admin", secure);
    ASSERT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    IVeskHttpSystem* system = server.OpenSystem();
    CVeskHttpSystemSettingInfo settings;
    ASSERT_EQ(system->GetSystemSetting(nullptr, &settings), VESK_HTTP_SUCCESS);
    EXPECT_STREQ(settings.GetServerName(), L"vesk-emulator");
    EXPECT_EQ(settings.GetSYSPort(), device_.Port());
    EXPECT_EQ(settings.GetSYSSSLPort(), device_.TlsPort());
    EXPECT_EQ(settings.IsSSL(), 1);
    EXPECT_EQ(settings.IsSSLForce(), 0);
    EXPECT_EQ(system->EnableWebFileManager(nullptr), VESK_HTTP_SUCCESS);
    EXPECT_TRUE(device_.WebFileManagerEnabled());
    ASSERT_EQ(server.CloseSystem(&system), VESK_HTTP_SUCCESS);
    // The session is gone: a second close has nothing to log out.
    EXPECT_EQ(server.CloseSystem(&system), VESK_HTTP_NOT_LOGGED_IN);
  }
}

TEST_F(EndToEnd, FileServiceThroughTheSystemSession) {
  CVeskHttpServer server = Server();
  server.SetFileStationPortNum(1);  // unused: the file service is reached on the system's port
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
  EXPECT_EQ(device_.SessionCount(), 2u);
  IVeskHttpFileStation* station = server.OpenFileStation();
  ASSERT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
  IVeskHttpSystem* system = server.OpenSystem();
  CVeskHttpSystemSettingInfo settings;
  EXPECT_EQ(system->GetSystemSetting(nullptr, &settings), VESK_HTTP_SUCCESS);
  EXPECT_EQ(server.CloseSystem(&system), VESK_HTTP_SUCCESS);
  EXPECT_EQ(device_.SessionCount(), 0u);
}

TEST_F(EndToEnd, ManyThreadsUseOneSystemAtOnce) {
  CVeskHttpServer server = Server();
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
  IVeskHttpSystem* system = server.OpenSystem();

  vesk::test::SystemNotes pending;

  std::atomic<int> good{0};
  std::vector<IVeskHttpSystemRequestBase*> handles(8, nullptr);
  std::vector<std::thread> threads;
  const auto start = std::chrono::steady_clock::now();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        CVeskHttpSystemSettingInfo settings;
        if (system->GetSystemSetting(nullptr, &settings) == VESK_HTTP_SUCCESS &&
            settings.GetSYSPort() == device_.Port())
          ++good;
      }
      handles[2 * t] = system->GetSystemSettingAsync(&pending, &vesk::test::SystemNotes::Record);
      handles[2 * t + 1] =
          system->EnableWebFileManagerAsync(&pending, &vesk::test::SystemNotes::Record);
    });
  }
  for (auto& thread : threads) thread.join();
  // Asynchronous requests are released from another thread than the one that made them.
  std::thread releaser([&] {
    pending.WaitForCompletions(8);
    for (auto*& handle : handles) system->CloseRequest(&handle);
  });
  releaser.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_EQ(good.load(), 40);
  EXPECT_EQ(pending.Completions(), 8);
  for (auto* handle : handles) EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(server.CloseSystem(&system), VESK_HTTP_SUCCESS);
}

}  // namespace
