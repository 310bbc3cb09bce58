// The share-link replies read without a device: the key scanner, the two scanned replies and
// the JSON list.
#include <gtest/gtest.h>

#include <string>

#include "filestation/commands/ShareLinkReplies.h"

namespace vesk {
namespace {

using namespace std::string_literals;

TEST(FindReplyValue, ScansTheTextAfterTheFirstOccurrenceOfTheKey) {
  const std::string longValue(5000, 'v');
  struct Case {
    std::string key, reply;
    bool found;
    std::wstring value;
  } cases[] = {
      {"status", R"({"status":1,"x":2})", true, L"1"},
      {"status", R"({"status":"1"})", true, L"1"},
      {"status", R"({ "status" :: " 12 " })", true, L"12"},  // leading colons and spaces
      {"link_url", R"({"link_url":"http://h:8080/s?a=1"})", true, L"http://h:8080/s?a=1"},
      {"expire_time", R"({"expire_time":"2030-01-02 03:04"})", true, L"2030-01-0203:04"},
      {"status", R"(x"status":12)", true, L"12"},  // runs to the end of the text
      {"status", "<r><status>1</status></r>", true, L">1</status></r>"},
      {"filename", R"({"sharefilename":"a","filename":"b"})", true, L"a"},  // first occurrence
      {"filename", R"({"filename":"\u00e9"})", true, L"\\u00e9"},           // no JSON escapes
      {"filename", "{\"filename\":\"\xc3\xa9\xe6\x96\x87\"}", true, L"\x00e9\x6587"},
      {"filename", R"({"filename":")" + longValue + R"("})", true,
       std::wstring(longValue.begin(), longValue.end())},
      {"status", R"(status:1)", false, L""},  // the key at the very start
      {"status", R"({"Status":1})", false, L""},
      {"status", R"({"other":1})", false, L""},
      {"status", R"({"status":""})", false, L""},
      {"status", R"({"status": ":" ,"x":1})", false, L""},
      {"status", R"({"status"})", false, L""},
      {"status", "{\"a\":\"\0\",\"status\":1}"s, false, L""},  // the text ends at a NUL
  };
  for (const Case& c : cases) {
    std::wstring value = L"untouched";
    EXPECT_EQ(FindReplyValue(c.key, c.reply, value), c.found) << c.reply;
    EXPECT_EQ(value, c.found ? c.value : L"untouched") << c.reply;
  }
}

TEST(GetLinkReply, TakesTheLinkAndExpiryOnlyFromAReplyWithAStatus) {
  struct Case {
    std::string reply;
    int status;
    std::wstring link, expiry;
  } cases[] = {
      {R"({"status":1,"link_url":"https:\/\/h\/share.cgi?ssid=ab","expire_time":"2030\/01\/02"})",
       1, L"https://h/share.cgi?ssid=ab", L"2030/01/02"},
      {R"({"status":1,"filename":"a.txt"})", 1, L"a.txt", L""},  // no link_url: the name
      {R"({"status":1,"link_url":"u","filename":"a.txt"})", 1, L"u", L""},
      {R"({"status":1,"link_url":x\\y\})", 1, L"xy", L""},  // a trailing backslash goes too
      {R"({"status":1,"link_url":"\\\\"})", 1, L"", L""},
      {R"({"status":0,"link_url":"u","expire_time":"e"})", -1, L"u", L"e"},
      {R"({"status":"true","link_url":"u"})", -1, L"u", L""},
      {R"({"link_url":"u","expire_time":"e"})", -1, L"", L""},  // no status: nothing read
      {R"({"status":"","link_url":"u"})", -1, L"", L""},
      {"", -1, L"", L""},
  };
  for (const Case& c : cases) {
    CWebFileManGetLinkXml reply;
    reply.Parse(R"({"status":1,"link_url":"old","expire_time":"old"})");  // reset by a parse
    EXPECT_EQ(reply.Parse(c.reply), 1) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.link, c.link) << c.reply;
    EXPECT_EQ(reply.expiry, c.expiry) << c.reply;
  }
}

TEST(CreateLinkReply, ReadsStatusAndSuccess) {
  struct Case {
    std::string reply;
    int status, success;
  } cases[] = {
      {R"({"status":1,"success":"true"})", 1, 1},
      {R"({"status":1,"success":TRUE})", 1, 1},
      {R"({"status":1,"success":"false"})", 1, 0},
      {R"({"status":1})", 1, 0},
      {R"({"status":0,"success":"true"})", -1, 1},
      {R"({"status":11})", -1, 0},
      {R"({"success":"true"})", -1, 0},  // no status: nothing read
      {"<html>", -1, 0},
  };
  for (const Case& c : cases) {
    CWebFileManCreateLinkXml reply;
    reply.Parse(R"({"status":1,"success":"true"})");
    EXPECT_EQ(reply.Parse(c.reply), 1) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.success, c.success) << c.reply;
  }
}

TEST(ShareListReply, ReadsEveryLinkWhenTheTotalSaysThereAreAny) {
  CShareLinkListJson reply;
  ASSERT_EQ(reply.Parse(R"({"status":1,"max_share_file":"500","total":2,"datas":[
      {"ssid":"s1","filename":"/P/a.txt","expire_time":"2030-01-02","download_link":"https://h/1",
       "creator":"admin"},
      {"filename":"/P/\u00e9","download_link":7,"creator":null}]})"),
            1);
  EXPECT_EQ(reply.status, 1);
  EXPECT_EQ(reply.maxShareCount, 500);
  EXPECT_EQ(reply.total, 2);
  ASSERT_EQ(reply.entries.size(), 2u);
  const ShareListEntry& a = reply.entries[0];
  EXPECT_EQ(a.shareId, L"s1");
  EXPECT_EQ(a.fileName, L"/P/a.txt");
  EXPECT_EQ(a.expiry, L"2030-01-02");
  EXPECT_EQ(a.downloadLink, L"https://h/1");
  EXPECT_EQ(a.creator, L"admin");
  const ShareListEntry& b = reply.entries[1];  // only string members count
  EXPECT_EQ(b.fileName, L"/P/\x00e9");
  EXPECT_EQ(b.downloadLink, L"");
  EXPECT_EQ(b.creator, L"");

  struct Case {
    std::string reply;
    int parsed, status, total;
    std::size_t entries;
  } cases[] = {
      {R"({"total":0,"datas":[{"filename":"a"}]})", 1, 0, 0, 0},
      {R"({"datas":[{"filename":"a"}]})", 1, 0, 0, 0},
      {R"({"total":"2","datas":[{"filename":"a"},{"filename":"b"}]})", 1, 0, 2, 2},
      {R"({"total":5,"datas":[{"filename":"a"}]})", 1, 0, 5, 1},  // a page of a longer list
      {R"({"total":1,"datas":[3]})", 1, 0, 1, 1},  // an element without texts: an empty link
      {R"({"total":1,"datas":{"filename":"a"}})", 1, 0, 1, 0},
      {R"({"status":"x","total":[1],"max_share_file":{}})", 1, 0, 0, 0},
      {R"([{"total":1}])", 1, -1, 0, 0},
      {R"({"total":1,"datas":[)", -1, -1, 0, 0},
      {"", -1, -1, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(reply.Parse(c.reply), c.parsed) << c.reply;  // the same parser: reset each time
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.total, c.total) << c.reply;
    EXPECT_EQ(reply.entries.size(), c.entries) << c.reply;
  }
}

}  // namespace
}  // namespace vesk
