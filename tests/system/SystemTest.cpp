// The system service and the server object against the scripted test server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filestation/Threads.h"
#include "support/DeviceReplies.h"
#include "support/Notifications.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using test::ScriptedReply;
using test::ScriptedServer;
using test::ServerAt;
using test::SettingsDocument;
using test::SystemNotes;
using test::XmlReply;

const char kLoggedIn[] = "<reply><authPassed>1</authPassed><authSid>sys+1</authSid></reply>";

// A server logged in to the scripted device's system service.
struct SystemSession {
  explicit SystemSession(ScriptedServer& device) : server(ServerAt(device)) {
    device.Enqueue(XmlReply(kLoggedIn));
    EXPECT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    system = server.OpenSystem();
  }
  ~SystemSession() {
    if (system) server.CloseSystem(&system);
  }
  CVeskHttpServer server;
  IVeskHttpSystem* system = nullptr;
};

TEST(SystemLogin, PostsAdminFormAndKeepsTheSid) {
  ScriptedServer device;
  {
    SystemSession session(device);
    ASSERT_NE(session.system, nullptr);
    EXPECT_EQ(session.server.QuerySystemVersion(), VESK_HTTP_SYSTEM_API_VERSION_1);
  }
  const auto requests = device.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/cgi-bin/authLogin.cgi");
  EXPECT_EQ(requests[0].body, "user=admin&pwd=c2VjcmV0&admin=1");
  EXPECT_EQ(*requests[0].Header("Content-Type"),
            "application/x-www-form-urlencoded; charset=UTF-8");

  // The logout carries a count between 0 and 32767 and the session's sid.
  EXPECT_EQ(requests[1].method, "GET");
  const std::string prefix = "/cgi-bin/authLogout.cgi?logout=1&count=", suffix = "&sid=sys%2B1";
  const std::string& target = requests[1].target;
  ASSERT_THAT(target, ::testing::StartsWith(prefix));
  ASSERT_THAT(target, ::testing::EndsWith(suffix));
  const std::string count =
      target.substr(prefix.size(), target.size() - prefix.size() - suffix.size());
  ASSERT_FALSE(count.empty());
  ASSERT_EQ(count.find_first_not_of("0123456789"), std::string::npos) << target;
  EXPECT_LE(std::stoi(count), 32767);
}

TEST(SystemLogin, RepliesMapToResults) {
  struct Case {
    const char* name;
    ScriptedReply reply;
    int result;
  } cases[] = {
      {"refused", XmlReply("<reply><authPassed>0</authPassed></reply>"), VESK_HTTP_LOGIN_FAILED},
      {"passed written differently", XmlReply("<reply><authPassed>TRUE</authPassed></reply>"),
       VESK_HTTP_LOGIN_FAILED},
      {"not XML", XmlReply("{\"status\":1}"), VESK_HTTP_LOGIN_FAILED},
      {"HTTP error", {.status = 403}, VESK_HTTP_BAD_HTTP_STATUS},
      {"no reply", {.dropConnection = true}, VESK_HTTP_SEND_FAILED},
  };
  for (const Case& c : cases) {
    ScriptedServer device;
    device.Enqueue(c.reply);
    CVeskHttpServer server = ServerAt(device);
    EXPECT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), c.result) << c.name;
    EXPECT_EQ(server.OpenSystem(), nullptr) << c.name;
    EXPECT_EQ(server.QuerySystemVersion(), VESK_HTTP_SYSTEM_API_VERSION_NONE) << c.name;
  }
}

TEST(SystemLogout, AnyOkReplyEndsTheSessionAndFailuresKeepIt) {
  ScriptedServer device;
  SystemSession session(device);
  device.Enqueue({.status = 500});
  EXPECT_EQ(session.server.CloseSystem(&session.system), VESK_HTTP_BAD_HTTP_STATUS);
  EXPECT_NE(session.system, nullptr);
  device.Enqueue({.body = ""});
  EXPECT_EQ(session.server.CloseSystem(&session.system), VESK_HTTP_SUCCESS);
  EXPECT_EQ(session.system, nullptr);
  EXPECT_EQ(session.server.OpenSystem(), nullptr);
}

TEST(SystemSettings, ReadsTheSettingsElementByPosition) {
  struct Case {
    const char* name;
    std::string reply;
    int result;
    CVeskHttpSystemSettingInfo settings;
  } cases[] = {
      {"all fields",
       SettingsDocument("1",
                        "<serverName>nas &amp; co</serverName><port>8080</port><SSL>TRUE</SSL>"
                        "<SSLPort>443</SSLPort><SSLForce>true</SSLForce>"),
       VESK_HTTP_SUCCESS, CVeskHttpSystemSettingInfo(L"nas & co", 8080, 1, 443, 0)},
      {"flags as digits, no port",
       SettingsDocument("1", "<serverName>n</serverName><SSL>0</SSL><SSLForce>1</SSLForce>"),
       VESK_HTTP_SUCCESS, CVeskHttpSystemSettingInfo(L"n", 0, 0, 0, 1)},
      {"session expired", SettingsDocument("0", "<port>1</port>"), VESK_HTTP_SERVER_FAILED, {}},
      {"no settings element",
       "<reply><authPassed>1</authPassed><a/><b/><c/><d/><e/><f/><system/></reply>",
       VESK_HTTP_SERVER_FAILED,
       {}},
      {"not XML", "nonsense <", VESK_HTTP_SERVER_FAILED, {}},
  };
  for (const Case& c : cases) {
    ScriptedServer device;
    SystemSession session(device);
    device.Enqueue(XmlReply(c.reply));
    CVeskHttpSystemSettingInfo settings(L"untouched", 1, 1, 1, 1);
    EXPECT_EQ(session.system->GetSystemSetting(nullptr, &settings), c.result) << c.name;
    const CVeskHttpSystemSettingInfo& expected =
        c.result == VESK_HTTP_SUCCESS ? c.settings
                                      : CVeskHttpSystemSettingInfo(L"untouched", 1, 1, 1, 1);
    EXPECT_STREQ(settings.GetServerName(), expected.GetServerName()) << c.name;
    EXPECT_EQ(settings.GetSYSPort(), expected.GetSYSPort()) << c.name;
    EXPECT_EQ(settings.IsSSL(), expected.IsSSL()) << c.name;
    EXPECT_EQ(settings.GetSYSSSLPort(), expected.GetSYSSSLPort()) << c.name;
    EXPECT_EQ(settings.IsSSLForce(), expected.IsSSLForce()) << c.name;
    EXPECT_EQ(device.Requests()[1].target,
              "/cgi-bin/sys/sysRequest.cgi?subfunc=sys_setting&sid=sys%2B1");
  }
}

TEST(SystemWebFileManager, AnyOkReplySucceeds) {
  ScriptedServer device;
  SystemSession session(device);
  device.Enqueue({.body = "<whatever/>"});
  EXPECT_EQ(session.system->EnableWebFileManager(nullptr), VESK_HTTP_SUCCESS);
  device.Enqueue({.status = 500});
  EXPECT_EQ(session.system->EnableWebFileManager(nullptr), VESK_HTTP_BAD_HTTP_STATUS);
  const auto requests = device.Requests();
  EXPECT_EQ(requests[1].target,
            "/cgi-bin/application/appRequest.cgi?subfunc=web_file_mgmt&apply=1&sid=sys%2B1"
            "&chk_Webfs=1&chk_LogoWebfs=1");
  EXPECT_EQ(*requests[1].Header("Cache-Control"), "no-cache");
}

TEST(SystemAsync, NotifiesOnceWithOperationAndResult) {
  ScriptedServer device;
  SystemSession session(device);
  device.Enqueue(XmlReply(SettingsDocument("1", "<serverName>box</serverName><port>81</port>")));
  device.Enqueue({.body = ""});
  SystemNotes notes;
  IVeskHttpSystemRequestBase* settings =
      session.system->GetSystemSettingAsync(&notes, &SystemNotes::Record);
  ASSERT_NE(settings, nullptr);
  ASSERT_TRUE(notes.WaitForNotes(1));
  IVeskHttpSystemRequestBase* web =
      session.system->EnableWebFileManagerAsync(&notes, &SystemNotes::Record);
  ASSERT_TRUE(notes.WaitForNotes(2));

  const auto got = notes.Notes();
  EXPECT_EQ(got[0].result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(got[0].operation, VESK_HTTP_SYS_OP_GET_SYSTEM_SETTING);
  EXPECT_EQ(got[0].request, settings);
  EXPECT_EQ(got[0].userData, &notes);
  EXPECT_STREQ(settings->GetSystemSettingResult().GetServerName(), L"box");
  EXPECT_EQ(settings->GetSystemSettingResult().GetSYSPort(), 81);
  EXPECT_EQ(got[1].result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(got[1].operation, VESK_HTTP_SYS_OP_ENABLE_WEB_FILE_MANAGER);
  EXPECT_EQ(got[1].request, web);

  // A request of another system object is left alone.
  ScriptedServer other;
  SystemSession otherSession(other);
  IVeskHttpSystemRequestBase* foreign = web;
  EXPECT_EQ(otherSession.system->CloseRequest(&foreign), 1);
  EXPECT_EQ(foreign, web);

  EXPECT_EQ(session.system->CloseRequest(&settings), 1);
  EXPECT_EQ(session.system->CloseRequest(&web), 1);
  EXPECT_EQ(settings, nullptr);
  EXPECT_EQ(web, nullptr);
  EXPECT_EQ(notes.Notes().size(), 2u);
}

TEST(SystemCancel, CallersFlagEndsAWaitingRequestWithCancelled) {
  ScriptedServer device;
  SystemSession session(device);
  device.Enqueue({.delayBeforeHeaders = 30s});
  int flag = 0;
  std::thread canceller([&] {
    device.WaitForRequests(2, 10s);
    StoreFlag(&flag, 1);
  });
  const auto start = std::chrono::steady_clock::now();
  CVeskHttpSystemSettingInfo settings;
  EXPECT_EQ(session.system->GetSystemSetting(&flag, &settings), VESK_HTTP_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  canceller.join();

  // A successful reply does not win over a set flag either.
  device.Enqueue(XmlReply(SettingsDocument("1", "<port>1</port>")));
  EXPECT_EQ(session.system->EnableWebFileManager(&flag), VESK_HTTP_CANCELLED);
}

TEST(SystemTimeout, ServerTimeoutBoundsEveryExchange) {
  ScriptedServer device;
  SystemSession session(device);
  session.server.SetTimeouts(300);  // stations created afterwards only
  device.Enqueue({.body = "late", .delayBeforeHeaders = 2s});
  EXPECT_EQ(session.system->EnableWebFileManager(nullptr), VESK_HTTP_SUCCESS);

  CVeskHttpServer quick = ServerAt(device);
  quick.SetTimeouts(300);
  device.Enqueue(XmlReply(kLoggedIn));
  ASSERT_EQ(quick.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
  IVeskHttpSystem* system = quick.OpenSystem();
  device.Enqueue({.delayBeforeHeaders = 30s});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(system->EnableWebFileManager(nullptr), VESK_HTTP_SEND_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(quick.CloseSystem(&system), VESK_HTTP_SUCCESS);
}

TEST(Server, StationTypesVersionsAndClosingNothing) {
  ScriptedServer device;
  CVeskHttpServer server = ServerAt(device);
  EXPECT_EQ(server.QueryFileStationVersion(), VESK_HTTP_FILE_STATION_API_VERSION_NONE);
  EXPECT_EQ(server.Login(static_cast<_VESK_HTTP_STATION_TYPE_>(5)), VESK_HTTP_BAD_STATION_TYPE);
  EXPECT_EQ(server.OpenFileStation(), nullptr);
  EXPECT_EQ(server.OpenSystem(), nullptr);
  EXPECT_TRUE(device.Requests().empty());

  IVeskHttpFileStation* noStation = nullptr;
  IVeskHttpSystem* noSystem = nullptr;
  EXPECT_EQ(server.CloseFileStation(&noStation), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(server.CloseSystem(&noSystem), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(server.CloseFileStation(nullptr), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(server.CloseSystem(nullptr), VESK_HTTP_NOT_LOGGED_IN);

  IVeskHttpSystem* notLoggedIn = nullptr;
  device.Enqueue(XmlReply(kLoggedIn));
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
  notLoggedIn = server.OpenSystem();
  device.Enqueue({.body = ""});
  ASSERT_EQ(server.CloseSystem(&notLoggedIn), VESK_HTTP_SUCCESS);
  EXPECT_EQ(server.QuerySystemVersion(), VESK_HTTP_SYSTEM_API_VERSION_1);
}

}  // namespace
}  // namespace vesk
