// Share links against the scripted test server: the bytes each operation sends, the results
// its replies give and the outputs the caller gets.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "filestation/FileStation.h"
#include "filestation/Threads.h"
#include "support/DeviceReplies.h"
#include "support/LoggedInStation.h"
#include "support/Notifications.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using test::JsonReply;
using test::ScriptedReply;
using test::ScriptedServer;
using Notes = test::FileNotes;

const std::string kUtil = "/cgi-bin/filemanager/utilRequest.cgi?func=";
const std::string kFormType = "application/x-www-form-urlencoded; charset=UTF-8";

class ShareLinks : public test::LoggedInStationTest {
 protected:
  void ExpectForm(const httpd::Request& r, const std::string& function,
                  const std::string& body) const {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, kUtil + function + "&sid=S");
    EXPECT_EQ(*r.Header("Content-Type"), kFormType);
    EXPECT_EQ(*r.Header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(r.body, body);
  }
};

CVeskHttpShareLink Link(const wchar_t* name, const wchar_t* expiry, const wchar_t* url) {
  CVeskHttpShareLink link;
  link.SetFileName(name);
  link.SetExpireTime(expiry);
  link.SetURL(url);
  return link;
}

void ExpectLink(const CVeskHttpShareLink& got, const CVeskHttpShareLink& want) {
  EXPECT_STREQ(got.GetFileName(), want.GetFileName());
  EXPECT_STREQ(got.GetExpireTime(), want.GetExpireTime());
  EXPECT_STREQ(got.GetURL(), want.GetURL());
}

TEST_F(ShareLinks, CreationAllocatesThenActivatesTheLinkWithTheSameForm) {
  const std::string forever =
      "download_type=create_download_link&valid_duration=forever&file_total=1";
  const std::string untilDate =
      "download_type=create_download_link&valid_duration=specific_time"
      "&datetime=2030-01-02%2003%3A04&file_total=1";
  struct Case {
    CVeskHttpShareLinkInfo info;
    std::string reply;
    std::string form;        // both steps
    std::string activation;  // what the second step adds
    CVeskHttpShareLink link;
  } cases[] = {
      {{L"/Public/a b.txt", L"", L"0", 0},
       R"({"status":1,"link_url":"https:\/\/h:443\/share.cgi?ssid=0a&x=1","expire_time":"2031"})",
       forever + "&access_code=&access_enabled=false&hostname=127.0.0.1&ssl=false"
                 "&file_name=%2FPublic%2Fa%20b.txt&path=%2FPublic&network_type=internet",
       "&link_url=https%3A%2F%2Fh%3A443%2Fshare.cgi%3Fssid%3D0a%26x%3D1&expire_time=0",
       Link(L"/Public/a b.txt", L"2031", L"https://h:443/share.cgi?ssid=0a&x=1")},
      // The expiry sent back is the device's, not the caller's date.
      {{L"/Public/Docs\\r.pdf", L"p&w d", L"2030-01-02 03:04", 1},
       R"({"status":1,"link_url":"https:\/\/h\/s?id=7","expire_time":"2030\/01\/02"})",
       untilDate + "&access_code=p%26w%20d&access_enabled=true&hostname=127.0.0.1&ssl=true"
                   "&file_name=%2FPublic%2FDocs%5Cr.pdf&path=%2FPublic%2FDocs"
                   "&network_type=internet",
       "&link_url=https%3A%2F%2Fh%2Fs%3Fid%3D7&expire_time=2030%2F01%2F02",
       Link(L"/Public/Docs\\r.pdf", L"2030/01/02", L"https://h/s?id=7")},
      // A path without separator is both the folder and the name; a reply without a
      // link_url names the link by its filename.
      {{L"file.txt", L"", L"0", 0},
       R"({"status":1,"filename":"file.txt"})",
       forever + "&access_code=&access_enabled=false&hostname=127.0.0.1&ssl=false"
                 "&file_name=file.txt&path=file.txt&network_type=internet",
       "&link_url=file.txt&expire_time=0",
       Link(L"file.txt", L"", L"file.txt")},
      {{L"/P/f", L"x", L"2030-01-02 03:04", 0},
       R"({"status":1,"link_url":"u"})",
       untilDate + "&access_code=x&access_enabled=true&hostname=127.0.0.1&ssl=false"
                   "&file_name=%2FP%2Ff&path=%2FP&network_type=internet",
       "&link_url=u&expire_time=",
       Link(L"/P/f", L"", L"u")},
  };
  for (const Case& c : cases) {
    const std::size_t before = Sent().size();
    device_.Enqueue(JsonReply(c.reply));
    device_.Enqueue(JsonReply(R"({"status":1,"success":"true"})"));
    CVeskHttpShareLink got;
    ASSERT_EQ(station_.CreateShareLink(c.info, nullptr, &got), VESK_HTTP_SUCCESS) << c.form;
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), before + 2);
    ExpectForm(sent[before], "get_share_link", c.form);
    ExpectForm(sent[before + 1], "share_file", c.form + c.activation);
    ExpectLink(got, c.link);
  }
}

TEST_F(ShareLinks, CreationFailsUnlessBothStepsSayStatusOne) {
  const ScriptedReply allocated = JsonReply(R"({"status":1,"link_url":"u"})");
  struct Case {
    std::vector<ScriptedReply> replies;
    int result;
  } cases[] = {
      {{JsonReply(R"({"link_url":"u"})")}, VESK_HTTP_SERVER_FAILED},
      {{JsonReply(R"({"status":0,"link_url":"u"})")}, VESK_HTTP_SERVER_FAILED},
      {{JsonReply(R"({"status":1,"expire_time":"e"})")}, VESK_HTTP_SERVER_FAILED},  // no link
      {{JsonReply("")}, VESK_HTTP_SERVER_FAILED},
      {{{.status = 404}}, VESK_HTTP_BAD_HTTP_STATUS},
      {{{.body = R"({"status":1,"link_url":"u"})", .declaredLength = 50}}, VESK_HTTP_SEND_FAILED},
      {{allocated, JsonReply(R"({"status":0,"success":"true"})")}, VESK_HTTP_SERVER_FAILED},
      {{allocated, JsonReply(R"({"success":"true"})")}, VESK_HTTP_SERVER_FAILED},
      {{allocated, {.status = 500}}, VESK_HTTP_BAD_HTTP_STATUS},
      {{allocated, {.body = R"({"status":1})", .declaredLength = 50}}, VESK_HTTP_SEND_FAILED},
  };
  for (const Case& c : cases) {
    const std::size_t before = Sent().size();
    for (const ScriptedReply& reply : c.replies) device_.Enqueue(reply);
    CVeskHttpShareLink got = Link(L"mine", L"mine", L"mine");
    EXPECT_EQ(station_.CreateShareLink({L"/P/f", L"", L"0", 0}, nullptr, &got), c.result)
        << c.replies.front().body;
    // A first step that fails sends no second one; the caller's record is left alone.
    EXPECT_EQ(Sent().size(), before + c.replies.size()) << c.replies.front().body;
    ExpectLink(got, Link(L"mine", L"mine", L"mine"));
  }
}

TEST_F(ShareLinks, CancelledCreationActivatesNothing) {
  // The flag is set once the first step has reached the device; wherever it is seen, the
  // link is not activated.
  ScriptedReply slow = JsonReply(R"({"status":1,"link_url":"u"})");
  slow.delayBeforeHeaders = 30s;
  device_.Enqueue(slow);
  int flag = 0;
  std::thread canceller([&] {
    device_.WaitForRequests(2, 20s);
    StoreFlag(&flag, 1);
  });
  const auto start = std::chrono::steady_clock::now();
  CVeskHttpShareLink got;
  EXPECT_EQ(station_.CreateShareLink({L"/P/f", L"", L"0", 0}, &flag, &got), VESK_HTTP_CANCELLED);
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 25s);
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_STREQ(got.GetURL(), L"");
}

TEST_F(ShareLinks, ListingAppendsTheDevicesLinks) {
  std::vector<CVeskHttpShareLink> list{Link(L"kept", L"", L"")};
  device_.Enqueue(JsonReply(R"({"status":0,"total":"7","datas":[
      {"filename":"/P/a","expire_time":"e1","download_link":"https://h/1","ssid":"x"},
      {"filename":"/P/b"}]})"));
  ASSERT_EQ(station_.GetShareLinkList(-1, nullptr, &list), VESK_HTTP_SUCCESS);
  const auto r = Sent().back();
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target,
            kUtil + "get_share_list&sid=S&dir=ASC&limit=-1&sort=filename&start=0&tovo_user=1");
  EXPECT_EQ(r.Header("Content-Type"), nullptr);
  EXPECT_EQ(r.Header("Cache-Control"), nullptr);
  ASSERT_EQ(list.size(), 3u);
  ExpectLink(list[0], Link(L"kept", L"", L""));
  ExpectLink(list[1], Link(L"/P/a", L"e1", L"https://h/1"));
  ExpectLink(list[2], Link(L"/P/b", L"", L""));

  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":3,"total":0})"), VESK_HTTP_SUCCESS},  // the status is not read
      {JsonReply("[]"), VESK_HTTP_SUCCESS},
      {JsonReply("<html>"), VESK_HTTP_SERVER_FAILED},
      {{.status = 500}, VESK_HTTP_BAD_HTTP_STATUS},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.GetShareLinkList(10, nullptr, &list), c.result) << c.reply.body;
    EXPECT_EQ(list.size(), 3u) << c.reply.body;
  }
}

TEST_F(ShareLinks, DeletionNamesTheLinkAndFailsUnlessStatusOne) {
  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":1,"success":"true"})"), VESK_HTTP_SUCCESS},
      {JsonReply(R"({"status":0})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"success":"true"})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("<html>"), VESK_HTTP_SERVER_FAILED},
      {{.status = 403}, VESK_HTTP_BAD_HTTP_STATUS},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.DeleteShareLink(Link(L"/P/a b", L"e", L"https://h/s?a=1&b"), nullptr),
              c.result)
        << c.reply.body;
    ExpectForm(Sent().back(), "delete_share",
               "file_total=1&download_link=https%3A%2F%2Fh%2Fs%3Fa%3D1%26b&filename=%2FP%2Fa%20b");
  }
}

TEST_F(ShareLinks, AsynchronousFormsNotifyAndLeaveTheirOutputsOnTheHandle) {
  Notes notes;
  device_.Enqueue(JsonReply(R"({"status":1,"link_url":"u","expire_time":"e"})"));
  device_.Enqueue(JsonReply(R"({"status":1})"));
  IVeskHttpFileStationRequestBase* created =
      station_.CreateShareLinkAsync({L"/P/f", L"", L"0", 0}, &notes, &Notes::Record);
  ASSERT_NE(created, nullptr);
  ASSERT_TRUE(notes.WaitForCompletions(1));
  ExpectLink(created->GetShareLinkResult(), Link(L"/P/f", L"e", L"u"));

  device_.Enqueue(JsonReply(R"({"total":4,"datas":[{"filename":"/P/f","download_link":"u"}]})"));
  IVeskHttpFileStationRequestBase* listed =
      station_.GetShareLinkListAsync(1, &notes, &Notes::Record);
  ASSERT_NE(listed, nullptr);
  ASSERT_TRUE(notes.WaitForCompletions(2));
  EXPECT_EQ(listed->GetTotalCount(), 4);
  ASSERT_EQ(listed->GetShareLinkList()->size(), 1u);
  ExpectLink(listed->GetShareLinkList()->front(), Link(L"/P/f", L"", L"u"));

  device_.Enqueue(JsonReply(R"({"status":0})"));
  IVeskHttpFileStationRequestBase* deleted =
      station_.DeleteShareLinkAsync(Link(L"/P/f", L"", L"u"), &notes, &Notes::Record);
  ASSERT_NE(deleted, nullptr);
  ASSERT_TRUE(notes.WaitForCompletions(3));

  const auto got = notes.Notes();
  ASSERT_EQ(got.size(), 3u);
  const IVeskHttpFileStationRequestBase* handles[] = {created, listed, deleted};
  const int operations[] = {VESK_HTTP_OP_CREATE_SHARE_LINK, VESK_HTTP_OP_GET_SHARE_LINK_LIST,
                            VESK_HTTP_OP_DELETE_SHARE_LINK};
  const int results[] = {VESK_HTTP_SUCCESS, VESK_HTTP_SUCCESS, VESK_HTTP_SERVER_FAILED};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].operation, operations[i]);
    EXPECT_EQ(got[i].result, results[i]);
    EXPECT_EQ(got[i].request, handles[i]);
    EXPECT_EQ(got[i].userData, &notes);
  }
  for (IVeskHttpFileStationRequestBase* handle : {created, listed, deleted})
    station_.CloseRequest(&handle);
}

TEST(ShareLinksLoggedOut, AnswerNotLoggedInWithoutARequest) {
  ScriptedServer device;
  FileStation station;
  station.SetPorts(device.Port(), 443);
  CVeskHttpShareLink link = Link(L"mine", L"", L"");
  std::vector<CVeskHttpShareLink> list;
  EXPECT_EQ(station.CreateShareLink({L"/P/f", L"", L"0", 0}, nullptr, &link),
            VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.GetShareLinkList(10, nullptr, &list), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.DeleteShareLink(link, nullptr), VESK_HTTP_NOT_LOGGED_IN);
  EXPECT_EQ(station.CreateShareLinkAsync({L"/P/f", L"", L"0", 0}, nullptr, nullptr), nullptr);
  EXPECT_EQ(station.GetShareLinkListAsync(10, nullptr, nullptr), nullptr);
  EXPECT_EQ(station.DeleteShareLinkAsync(link, nullptr, nullptr), nullptr);
  EXPECT_STREQ(link.GetFileName(), L"mine");
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(device.Requests().empty());
}

}  // namespace
}  // namespace vesk
