// File-service login, sid fetch, logout and the request machinery, against the scripted
// test server: the bytes the device receives and the results its replies give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "filestation/Commands.h"
#include "filestation/FSRequest.h"
#include "filestation/FileStation.h"
#include "http/ComputerIdentity.h"
#include "platform/Text.h"
#include "support/DeviceReplies.h"
#include "support/Files.h"
#include "support/Notifications.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using test::JsonReply;
using test::ScriptedReply;
using test::ScriptedServer;
using test::ServerAt;
using Notes = test::FileNotes;
using ::testing::StartsWith;

const std::string kFormType = "application/x-www-form-urlencoded; charset=UTF-8";

TEST(FileStationLogin, PostsTheFormWithEveryValueEncoded) {
  const std::string uid = ToUtf8(GetComputerUID());
  // 60 bytes give 76 characters, a line feed and one more group.
  std::string longPassword = "user=admin&pwd=";
  for (int i = 0; i < 19; ++i) longPassword += "eHh4";
  longPassword += "%0AeHh4";
  struct Case {
    std::wstring computerName;
    std::wstring password;
    std::string body;
  } cases[] = {
      {L"", L"secret", "user=admin&pwd=c2VjcmV0"},
      {L"", L"p\x00e4+w/\x00df?", "user=admin&pwd=cMOkK3cvw58%2F"},
      {L"", std::wstring(60, L'x'), longPassword},
      {L"DESK_COMPUTER", L"secret",
       "user=admin&pwd=c2VjcmV0&tovo_user=1&tovo_device_type=1&tovo_computer=DESK_COMPUTER&uid=" +
           uid},
      {L"My PC&co", L"secret",
       "user=admin&pwd=c2VjcmV0&tovo_user=1&tovo_device_type=4&tovo_computer=My%20PC%26co&uid=" +
           uid},
  };
  for (const Case& c : cases) {
    ScriptedServer device;
    device.Enqueue(JsonReply(R"({"status":1,"sid":"s1"})"));
    CVeskHttpServer server = ServerAt(device, c.computerName.c_str(), c.password.c_str());
    ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
    const auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/cgi-bin/filemanager/wfm2Login.cgi");
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(*r.Header("Content-Type"), kFormType);
    EXPECT_EQ(*r.Header("Content-Length"), std::to_string(c.body.size()));
    EXPECT_EQ(*r.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(*r.Header("User-Agent"), "Norvik VeskHttp C++ SDK for Windows 1.0.0");
    IVeskHttpFileStation* station = server.OpenFileStation();
    device.Enqueue(JsonReply(R"({"status":1})"));
    ASSERT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
  }
}

TEST(FileStationLogin, DeviceTypeFollowsTheComputerName) {
  struct Case {
    std::wstring name;
    int type;
  } cases[] = {{L"A_COMPUTER", 1},   {L"X_MOBILE_COMPUTER", 1},
               {L"PHONE_MOBILE", 2}, {L"BROWSER_WEB", 3},
               {L"plain", 4},        {L"phone_mobile", 4}};
  for (const Case& c : cases) EXPECT_EQ(DeviceTypeOf(c.name), c.type);
}

TEST(FileStationLogin, RepliesMapToResults) {
  struct Case {
    const char* name;
    ScriptedReply reply;
    int result;
  } cases[] = {
      {"accepted", JsonReply(R"({"status":1,"sid":"abc"})"), VESK_HTTP_SUCCESS},
      {"accepted without sid", JsonReply(R"({"status":1})"), VESK_HTTP_SUCCESS},
      {"refused", JsonReply(R"({"status":0})"), VESK_HTTP_LOGIN_FAILED},
      {"status as text", JsonReply(R"({"status":"1","sid":"t"})"), VESK_HTTP_SUCCESS},
      {"status text without a number", JsonReply(R"({"status":"yes"})"), VESK_HTTP_LOGIN_FAILED},
      {"not JSON", JsonReply("<html>"), VESK_HTTP_LOGIN_FAILED},
      {"unexpected type", JsonReply(R"({"status":[1]})"), VESK_HTTP_LOGIN_FAILED},
      {"HTTP error", {.status = 500, .body = "oops"}, VESK_HTTP_BAD_HTTP_STATUS},
      {"connection dropped", {.dropConnection = true}, VESK_HTTP_SEND_FAILED},
      {"reply cut short",
       {.body = R"({"status":1,"sid":"abc"})", .declaredLength = 200},
       VESK_HTTP_SEND_FAILED},
  };
  for (const Case& c : cases) {
    ScriptedServer device;
    device.Enqueue(c.reply);
    CVeskHttpServer server = ServerAt(device);
    EXPECT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), c.result) << c.name;
    EXPECT_EQ(server.OpenFileStation() != nullptr, c.result == VESK_HTTP_SUCCESS) << c.name;
    if (IVeskHttpFileStation* station = server.OpenFileStation()) {
      device.Enqueue(JsonReply(R"({"status":1})"));
      EXPECT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
    }
  }
}

TEST(FileStationLogin, UnreachableDeviceFailsToSend) {
  unsigned short port;
  {
    ScriptedServer gone;
    port = gone.Port();
  }
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"secret", 0, L""));
  server.SetFileStationPortNum(port);
  EXPECT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SEND_FAILED);
}

TEST(FileStationLogout, CarriesTheSessionSidAndKeepsTheStationOnFailure) {
  ScriptedServer device;
  device.Enqueue(JsonReply(R"({"status":1,"sid":"a+b&c"})"));
  CVeskHttpServer server = ServerAt(device, L"OFFICE_COMPUTER");
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
  IVeskHttpFileStation* station = server.OpenFileStation();

  struct Case {
    ScriptedReply reply;
    int result;
  } failures[] = {{JsonReply(R"({"status":0})"), VESK_HTTP_SERVER_FAILED},
                  {JsonReply("nonsense"), VESK_HTTP_SERVER_FAILED},
                  {{.status = 404}, VESK_HTTP_BAD_HTTP_STATUS}};
  for (const Case& c : failures) {
    device.Enqueue(c.reply);
    EXPECT_EQ(server.CloseFileStation(&station), c.result);
    EXPECT_EQ(station, server.OpenFileStation());  // still open
  }
  device.Enqueue(JsonReply(R"({"status":1})"));
  EXPECT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
  EXPECT_EQ(station, nullptr);
  EXPECT_EQ(server.OpenFileStation(), nullptr);
  EXPECT_EQ(server.QueryFileStationVersion(), VESK_HTTP_FILE_STATION_API_VERSION_1);

  const auto requests = device.Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    // A fresh login that named the computer still uses the sid its reply gave.
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].target, "/cgi-bin/filemanager/wfm2Logout.cgi?sid=a%2Bb%26c&logout=1");
    EXPECT_EQ(*requests[i].Header("Cache-Control"), "no-cache");
    EXPECT_EQ(*requests[i].Header("Pragma"), "no-cache");
  }
}

TEST(FileStationLogin, ThroughTheSystemSessionFetchesASidWithoutPassword) {
  ScriptedServer systemDevice;
  systemDevice.Enqueue(
      test::XmlReply("<reply><authPassed>1</authPassed><authSid>SYS 1</authSid></reply>"));
  systemDevice.Enqueue(JsonReply(R"({"sid":"device-sid"})"));  // no status: success
  CVeskHttpServer server = ServerAt(systemDevice);
  server.SetFileStationPortNum(1);  // the file service is reached on the system's port
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);

  auto requests = systemDevice.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target,
            "/cgi-bin/filemanager/utilRequest.cgi?func=tovo_get_sid&sid=SYS%201"
            "&tovo_device_type=2&tovo_computer=NORVIK_MOBILE&uid=" +
                ToUtf8(GetComputerUID()));
  EXPECT_EQ(requests[1].body, "");

  // Later file requests carry the system's sid.
  IVeskHttpFileStation* station = server.OpenFileStation();
  systemDevice.Enqueue(JsonReply(R"({"status":1})"));
  EXPECT_EQ(server.CloseFileStation(&station), VESK_HTTP_SUCCESS);
  requests = systemDevice.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].target, "/cgi-bin/filemanager/wfm2Logout.cgi?sid=SYS%201&logout=1");

  IVeskHttpSystem* system = server.OpenSystem();
  EXPECT_EQ(server.CloseSystem(&system), VESK_HTTP_SUCCESS);
}

TEST(FileStationLogin, ARefusedSidFetchFailsTheLogin) {
  for (const char* reply : {R"({"status":4})", "{", R"({"status":"x"})"}) {
    ScriptedServer device;
    device.Enqueue(test::XmlReply("<r><authPassed>1</authPassed><authSid>S</authSid></r>"));
    device.Enqueue(JsonReply(reply));
    CVeskHttpServer server = ServerAt(device);
    ASSERT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    EXPECT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_LOGIN_FAILED) << reply;
    EXPECT_EQ(server.OpenFileStation(), nullptr);
    IVeskHttpSystem* system = server.OpenSystem();
    server.CloseSystem(&system);
  }
}

// ---- the request machinery ----

FSRequestDescriptor DescriptorFor(const ScriptedServer& device, int command, bool async) {
  FSRequestDescriptor d;
  d.command = command;
  d.asynchronous = async ? 1 : 0;
  d.host = L"127.0.0.1";
  d.port = device.Port();
  d.stringParams[L"sid"] = L"s";
  return d;
}

TEST(FSRequest, CommandsWithoutARoutineAnswerInvalidRequest) {
  ScriptedServer device;
  for (const int command : {0, 268, 278, 285, 300}) {
    FSRequest request(DescriptorFor(device, command, false));
    EXPECT_EQ(request.Start(nullptr), VESK_HTTP_INVALID_REQUEST) << command;
  }
  EXPECT_TRUE(device.Requests().empty());
}

TEST(FSRequest, CancelOverridesEveryOtherResult) {
  ScriptedServer device;
  device.SetDefaultReply(JsonReply(R"({"status":1})"));
  int flag = 1;
  FSRequest request(DescriptorFor(device, FS_CMD_LOGOUT, false));
  EXPECT_EQ(request.Start(&flag), VESK_HTTP_CANCELLED);

  // A flag that is set but not 1 stops the exchange without meaning cancelled.
  flag = 2;
  FSRequest stopped(DescriptorFor(device, FS_CMD_LOGOUT, false));
  EXPECT_EQ(stopped.Start(&flag), VESK_HTTP_SEND_FAILED);
}

TEST(FSRequest, ReleasingAFinishedRequestIsImmediate) {
  ScriptedServer device;
  device.SetDefaultReply(JsonReply(R"({"status":1})"));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    auto request = std::make_unique<FSRequest>(DescriptorFor(device, FS_CMD_LOGOUT, true));
    ASSERT_EQ(request->Start(nullptr), VESK_HTTP_SUCCESS);
    request.reset();  // cancel, join
  }
  // Twenty releases with the old fixed pauses would take six seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(FSRequest, AsynchronousRequestNotifiesOnceWithItsOperation) {
  ScriptedServer device;
  device.SetDefaultReply(JsonReply(R"({"status":1})"));
  Notes notes;
  FSRequestDescriptor d = DescriptorFor(device, FS_CMD_RENAME, true);
  d.userData = &notes;
  d.notifyCallback = &Notes::Record;
  FSRequest request(std::move(d));
  ASSERT_EQ(request.Start(nullptr), VESK_HTTP_SUCCESS);
  ASSERT_TRUE(notes.WaitForNotes(1));
  request.CancelAndJoin();  // joins the worker: no notification can follow
  const auto got = notes.Notes();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].operation, VESK_HTTP_OP_RENAME_FILE);
  EXPECT_EQ(got[0].request, static_cast<IVeskHttpFileStationRequestBase*>(&request));
  EXPECT_EQ(got[0].userData, &notes);
}

TEST(FSRequest, CancellingARunningRequestEndsItWithCancelledPromptly) {
  ScriptedServer device;
  device.SetDefaultReply({.delayBeforeHeaders = 30s});
  Notes notes;
  FSRequestDescriptor d = DescriptorFor(device, FS_CMD_LOGOUT, true);
  d.userData = &notes;
  d.notifyCallback = &Notes::Record;
  auto request = std::make_unique<FSRequest>(std::move(d));
  ASSERT_EQ(request->Start(nullptr), VESK_HTTP_SUCCESS);
  ASSERT_TRUE(device.WaitForRequests(1, 10s));
  const auto start = std::chrono::steady_clock::now();
  request->CancelAndJoin();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  const auto got = notes.Notes();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].result, VESK_HTTP_CANCELLED);
  EXPECT_EQ(got[0].operation, VESK_HTTP_OP_NONE);
}

TEST(FileStation, ReleasedHandlesAreForgottenAndNothingRunsAfterClose) {
  ScriptedServer device;
  device.Enqueue(JsonReply(R"({"status":1,"sid":"s"})"));
  FileStation fileStation;
  fileStation.SetPorts(device.Port(), 443);
  ASSERT_EQ(fileStation.Login(L"127.0.0.1", L"admin", L"secret", 0, L""), VESK_HTTP_SUCCESS);
  IVeskHttpFileStation* station = &fileStation;
  device.Enqueue(JsonReply(R"({"status":1,"success":"true"})"));
  Notes notes;
  IVeskHttpFileStationRequestBase* handle =
      station->RenameFileAsync(L"/Public/a", L"b", &notes, &Notes::Record);
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(notes.WaitForNotes(1));
  const auto got = notes.Notes();
  EXPECT_EQ(got[0].result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(got[0].operation, VESK_HTTP_OP_RENAME_FILE);
  EXPECT_EQ(got[0].request, handle);
  EXPECT_EQ(station->CloseRequest(&handle), 1);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(station->CloseRequest(&handle), 1);  // twice: nothing happens

  device.Enqueue(JsonReply(R"({"status":1})"));
  ASSERT_EQ(fileStation.Close(), VESK_HTTP_SUCCESS);
  std::vector<CVeskHttpFileEntry> list;
  EXPECT_EQ(station->GetShareFolderList(nullptr, &list), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station->GetShareFolderListAsync(nullptr, nullptr), nullptr);
  EXPECT_EQ(fileStation.Close(), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(device.Requests().size(), 3u);  // login, rename and logout only
}

TEST(FileStation, ManyThreadsShareOneStation) {
  ScriptedServer device;
  device.Enqueue(JsonReply(R"({"status":1,"sid":"s"})"));
  device.SetDefaultReply(JsonReply(R"({"status":1})"));
  FileStation station;
  station.SetPorts(device.Port(), 443);
  ASSERT_EQ(station.Login(L"127.0.0.1", L"admin", L"secret", 0, L""), VESK_HTTP_SUCCESS);

  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        Notes notes;
        IVeskHttpFileStationRequestBase* handle =
            station.RenameFileAsync(L"/a/b", L"c", &notes, &Notes::Record);
        std::vector<CVeskHttpFileEntry> list;
        station.GetShareFolderList(nullptr, &list);
        // Released from this thread while it may still run on its worker.
        station.CloseRequest(&handle);
        if (!handle) ++done;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(done.load(), 40);
}

// Transfer progress is reported on the transport's thread; a Cancel from there stops the
// transfer instead of waiting for a worker that waits for that thread, and a release from
// there is refused.
TEST(FileStation, CancelAndReleaseFromATransferProgressNotification) {
  ScriptedServer device;
  device.Enqueue(JsonReply(R"({"status":1,"sid":"s"})"));
  device.Enqueue({.body = std::string(4 << 20, 'x')});
  FileStation station;
  station.SetPorts(device.Port(), 443);
  ASSERT_EQ(station.Login(L"127.0.0.1", L"admin", L"secret", 0, L""), VESK_HTTP_SUCCESS);

  struct Transfer {
    FileStation* station;
    std::atomic<IVeskHttpFileStationRequestBase*> handle{nullptr};
    std::atomic<bool> cancelled{false}, releaseRefused{false};
    ZEvent handleKnown, completed;
    std::atomic<int> result{-1};
    static void OnNotify(_VESK_HTTP_NOTIFY_INFO_* info) {
      auto* transfer = static_cast<Transfer*>(info->userData);
      if (info->result != VESK_HTTP_IN_PROGRESS) {
        transfer->result = info->result;
        transfer->completed.Set();
      } else if (!transfer->cancelled.exchange(true)) {
        transfer->handleKnown.Wait();
        IVeskHttpFileStationRequestBase* handle = transfer->handle.load();
        handle->Cancel();
        transfer->station->CloseRequest(&handle);
        transfer->releaseRefused = handle != nullptr;
      }
    }
  } transfer{&station};
  const test::TempFolder folder("vesk-progress-cancel");
  const auto local = folder.Path() / "big.bin";
  IVeskHttpFileStationRequestBase* handle = station.DownloadFileAsync(
      L"/Public/big.bin", local.wstring().c_str(), 0, &transfer, &Transfer::OnNotify);
  ASSERT_NE(handle, nullptr);
  transfer.handle = handle;
  transfer.handleKnown.Set();
  EXPECT_TRUE(transfer.completed.WaitFor(30s));
  EXPECT_EQ(transfer.result.load(), VESK_HTTP_CANCELLED);
  EXPECT_TRUE(transfer.releaseRefused.load());
  station.CloseRequest(&handle);
  EXPECT_EQ(handle, nullptr);
  std::filesystem::remove(local);
}

}  // namespace
}  // namespace vesk
