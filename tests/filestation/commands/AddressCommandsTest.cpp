// The device's addresses, video transcoding, and the viewer and thumbnail links, against the
// scripted test server.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "filestation/Commands.h"
#include "filestation/FSRequest.h"
#include "filestation/FileStation.h"
#include "platform/Text.h"
#include "support/DeviceReplies.h"
#include "support/LoggedInStation.h"
#include "support/Notifications.h"

namespace vesk {
namespace {

using test::JsonReply;
using test::ScriptedReply;
using test::ScriptedServer;
using Notes = test::FileNotes;

const std::string kUtil = "/cgi-bin/filemanager/utilRequest.cgi?func=";

using Addresses = test::LoggedInStationTest;

TEST_F(Addresses, AddressReplyFillsTheRecordWhateverItsStatus) {
  struct Case {
    ScriptedReply reply;
    int result;
    CVeskHttpNASInfo info;  // what the caller's record holds afterwards
  } cases[] = {
      {JsonReply(R"({"status":1,"farlinknas_hn":"box","external_ip":"203.0.113.7",)"
                 R"("local_ip":"192.168.1.5","host_ip":"h"})"),
       VESK_HTTP_SUCCESS,
       {L"box", L"203.0.113.7", L"192.168.1.5", L"h"}},
      {JsonReply(R"({"external_ip":"e","local_ip":"l","host_ip":"h"})"),
       VESK_HTTP_SUCCESS,
       {L"", L"e", L"l", L"h"}},
      {JsonReply(R"({"status":0,"farlinknas_hn":"c"})"), VESK_HTTP_SUCCESS, {L"c", L"", L"", L""}},
      {JsonReply(R"([{"farlinknas_hn":"c"}])"), VESK_HTTP_SERVER_FAILED, {L"m", L"m", L"m", L"m"}},
      {JsonReply("<html>"), VESK_HTTP_SERVER_FAILED, {L"m", L"m", L"m", L"m"}},
      {{.status = 404}, VESK_HTTP_BAD_HTTP_STATUS, {L"m", L"m", L"m", L"m"}},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    CVeskHttpNASInfo info(L"m", L"m", L"m", L"m");
    EXPECT_EQ(station_.GetDomainIPList(nullptr, &info), c.result) << c.reply.body;
    const auto r = Last();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, kUtil + "get_domain_ip_list&sid=S");
    EXPECT_EQ(r.Header("Cache-Control"), nullptr);
    EXPECT_STREQ(info.GetFarlinkNasName(), c.info.GetFarlinkNasName()) << c.reply.body;
    EXPECT_STREQ(info.GetNasExternalIP(), c.info.GetNasExternalIP()) << c.reply.body;
    EXPECT_STREQ(info.GetNasLocalIP(), c.info.GetNasLocalIP()) << c.reply.body;
    EXPECT_STREQ(info.GetNasHostIP(), c.info.GetNasHostIP()) << c.reply.body;
  }
}

TEST_F(Addresses, VideoCommandsNameTheFolderAndTheFile) {
  struct Case {
    std::function<int(FileStation&)> call;
    std::string target;
  } cases[] = {
      {[](FileStation& s) { return s.AddVideoTranscode(L"/Public/My Videos/a&b.mp4", nullptr); },
       kUtil + "video_ml_queue&sid=S&op=3&subop=0&path=%2FPublic%2FMy%20Videos&total=1"
               "&filename=a%26b.mp4"},
      {[](FileStation& s) { return s.AddVideoTranscode(L"clip.mp4", nullptr); },
       kUtil + "video_ml_queue&sid=S&op=3&subop=0&path=clip.mp4&total=1&filename=clip.mp4"},
      {[](FileStation& s) { return s.DeleteVideoTranscode(L"/Public\\v #1.mkv", nullptr); },
       kUtil + "delete_transcode&sid=S&op=5&path=%2FPublic&file_total=1&mode=2"
               "&file_name=v%20%231.mkv"},
  };
  for (const Case& c : cases) {
    device_.Enqueue(JsonReply(R"({"status":1,"pid":3})"));
    EXPECT_EQ(c.call(station_), VESK_HTTP_SUCCESS);
    const auto r = Last();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, c.target);
    EXPECT_EQ(*r.Header("Cache-Control"), "no-cache");
    EXPECT_EQ(*r.Header("Pragma"), "no-cache");
  }
}

TEST_F(Addresses, VideoRepliesMapToResults) {
  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":1,"pid":42})"), VESK_HTTP_SUCCESS},
      {JsonReply(R"({"status":2})"), VESK_HTTP_DEVICE_STATUS_2},
      {JsonReply(R"({"status":"4"})"), VESK_HTTP_DEVICE_STATUS_4},
      {JsonReply(R"({"status":5})"), VESK_HTTP_DEVICE_STATUS_5},
      // Any other answer queued nothing: never taken for success.
      {JsonReply(R"({"status":3})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"status":0})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("{}"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("not json"), VESK_HTTP_SERVER_FAILED},
      {{.status = 500}, VESK_HTTP_BAD_HTTP_STATUS},
      {{.body = R"({"status":1})", .declaredLength = 50}, VESK_HTTP_SEND_FAILED},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.AddVideoTranscode(L"/P/v.mp4", nullptr), c.result) << c.reply.body;
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.DeleteVideoTranscode(L"/P/v.mp4", nullptr), c.result) << c.reply.body;
  }

  // The job id of a started job stays with the request.
  device_.Enqueue(JsonReply(R"({"status":1,"pid":42})"));
  FSRequestDescriptor d;
  d.command = FS_CMD_VIDEO_QUEUE;
  d.host = L"127.0.0.1";
  d.port = device_.Port();
  FSRequest request(std::move(d));
  EXPECT_EQ(request.Start(nullptr), VESK_HTTP_SUCCESS);
  EXPECT_EQ(request.Out().pid, L"42");
}

TEST_F(Addresses, AsynchronousFormsNotifyWithTheirOperations) {
  device_.Enqueue(JsonReply(R"({"farlinknas_hn":"c","host_ip":"h"})"));
  Notes addressNotes;
  IVeskHttpFileStationRequestBase* address =
      station_.GetDomainIPListAsync(&addressNotes, &Notes::Record);
  ASSERT_NE(address, nullptr);
  ASSERT_TRUE(addressNotes.WaitForCompletions());
  const CVeskHttpNASInfo info = address->GetNASInfoResult();
  EXPECT_STREQ(info.GetFarlinkNasName(), L"c");
  EXPECT_STREQ(info.GetNasHostIP(), L"h");
  EXPECT_EQ(addressNotes.Notes().back().operation, VESK_HTTP_OP_GET_DOMAIN_IP_LIST);
  EXPECT_EQ(addressNotes.Notes().back().request, address);
  station_.CloseRequest(&address);

  struct Case {
    std::function<IVeskHttpFileStationRequestBase*(FileStation&, Notes*)> start;
    int operation, result;
  } cases[] = {
      {[](FileStation& s, Notes* n) {
         return s.AddVideoTranscodeAsync(L"/P/v.mp4", n, &Notes::Record);
       },
       VESK_HTTP_OP_ADD_VIDEO_TRANSCODE, VESK_HTTP_DEVICE_STATUS_2},
      {[](FileStation& s, Notes* n) {
         return s.DeleteVideoTranscodeAsync(L"/P/v.mp4", n, &Notes::Record);
       },
       VESK_HTTP_OP_DELETE_VIDEO_TRANSCODE, VESK_HTTP_DEVICE_STATUS_2},
  };
  for (const Case& c : cases) {
    device_.Enqueue(JsonReply(R"({"status":2})"));
    Notes notes;
    IVeskHttpFileStationRequestBase* request = c.start(station_, &notes);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(notes.WaitForCompletions());
    const auto got = notes.Notes();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].operation, c.operation);
    EXPECT_EQ(got[0].result, c.result);
    EXPECT_EQ(got[0].request, request);
    station_.CloseRequest(&request);
  }
}

TEST_F(Addresses, ViewerAndThumbnailLinksNeedNoRequest) {
  const std::string base =
      "http://127.0.0.1:" + std::to_string(device_.Port()) + "/cgi-bin/filemanager/utilRequest.cgi";
  const std::size_t sent = device_.Requests().size();
  struct Case {
    std::wstring path;
    std::string viewer, thumbnail;  // after the base
  } cases[] = {
      {L"/Public/a.jpg", "/a.jpg?func=get_viewer&sid=S&source_path=%2FPublic&source_file=a.jpg",
       "?func=get_thumb&sid=S&path=%2FPublic&name=a.jpg&size=80"},
      {L"/Public/My Photos\\b&c #1.png",
       "/b%26c%20%231.png?func=get_viewer&sid=S&source_path=%2FPublic%2FMy%20Photos"
       "&source_file=b%26c%20%231.png",
       "?func=get_thumb&sid=S&path=%2FPublic%2FMy%20Photos&name=b%26c%20%231.png&size=80"},
      {L"photo.jpg", "/photo.jpg?func=get_viewer&sid=S&source_path=photo.jpg&source_file=photo.jpg",
       "?func=get_thumb&sid=S&path=photo.jpg&name=photo.jpg&size=80"},
  };
  for (const Case& c : cases) {
    std::wstring viewer, thumbnail;
    EXPECT_EQ(station_.GetViewerURL(c.path.c_str(), &viewer), VESK_HTTP_SUCCESS);
    EXPECT_EQ(station_.GetThumbnailURL(c.path.c_str(), &thumbnail), VESK_HTTP_SUCCESS);
    EXPECT_EQ(viewer, FromUtf8(base + c.viewer));
    EXPECT_EQ(thumbnail, FromUtf8(base + c.thumbnail));
  }
  EXPECT_EQ(station_.GetViewerURL(L"/P/a", nullptr), VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(station_.GetThumbnailURL(L"/P/a", nullptr), VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(device_.Requests().size(), sent);
}

TEST(AddressesOverHttps, LinksUseTheSecurePortAndTheSessionOfTheLogin) {
  VESK_SKIP_WITHOUT_TEST_HTTPS();
  // Logged in through the system session: the links carry that session's sid.
  ScriptedServer device(ScriptedServer::Scheme::Https);
  device.Enqueue(JsonReply(R"({"sid":"fetched"})"));
  FileStation station;
  station.UseSystemSession({L"127.0.0.1", L"admin", L"pw", 1}, 1, device.Port(), L"SYS 1");
  ASSERT_EQ(station.Login(L"127.0.0.1", L"admin", L"pw", 1, L""), VESK_HTTP_SUCCESS);
  std::wstring viewer, thumbnail;
  ASSERT_EQ(station.GetViewerURL(L"/P/a.jpg", &viewer), VESK_HTTP_SUCCESS);
  ASSERT_EQ(station.GetThumbnailURL(L"/P/a.jpg", &thumbnail), VESK_HTTP_SUCCESS);
  const std::wstring base = L"https://127.0.0.1:" + std::to_wstring(device.Port()) +
                            L"/cgi-bin/filemanager/utilRequest.cgi";
  EXPECT_EQ(viewer,
            base + L"/a.jpg?func=get_viewer&sid=SYS%201&source_path=%2FP&source_file=a.jpg");
  EXPECT_EQ(thumbnail, base + L"?func=get_thumb&sid=SYS%201&path=%2FP&name=a.jpg&size=80");
}

TEST(AddressesLoggedOut, AnswerNotLoggedInWithoutARequest) {
  ScriptedServer device;
  FileStation station;
  station.SetPorts(device.Port(), 443);
  CVeskHttpNASInfo info(L"m", L"m", L"m", L"m");
  std::wstring url = L"mine";
  EXPECT_EQ(station.GetDomainIPList(nullptr, &info), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.AddVideoTranscode(L"/P/v", nullptr), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.DeleteVideoTranscode(L"/P/v", nullptr), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.GetViewerURL(L"/P/v", &url), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.GetThumbnailURL(L"/P/v", &url), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.GetViewerURL(L"/P/v", nullptr), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.GetDomainIPListAsync(nullptr, nullptr), nullptr);
  EXPECT_EQ(station.AddVideoTranscodeAsync(L"/P/v", nullptr, nullptr), nullptr);
  EXPECT_EQ(station.DeleteVideoTranscodeAsync(L"/P/v", nullptr, nullptr), nullptr);
  EXPECT_STREQ(info.GetFarlinkNasName(), L"m");
  EXPECT_EQ(url, L"mine");
  EXPECT_TRUE(device.Requests().empty());
}

}  // namespace
}  // namespace vesk
