// The address reply read without a device.
#include <gtest/gtest.h>

#include <string>

#include "filestation/commands/AddressReplies.h"

namespace vesk {
namespace {

TEST(DomainIPListReply, TakesTheTextsOfAnObjectWhateverItsStatus) {
  const std::string longName(3000, 'n');
  struct Case {
    std::string reply;
    int parsed, status;
    std::wstring cloud, external, local, host;
  } cases[] = {
      {R"({"status":1,"farlinknas_hn":"box.example","external_ip":"203.0.113.7",)"
       R"("local_ip":"192.168.1.5","host_ip":"10.0.0.2"})",
       1, 1, L"box.example", L"203.0.113.7", L"192.168.1.5", L"10.0.0.2"},
      {R"({"external_ip":"e","local_ip":"l","host_ip":"h"})", 1, 0, L"", L"e", L"l", L"h"},
      {R"({"status":"0","farlinknas_hn":"","local_ip":null,"host_ip":5})", 1, 0, L"", L"", L"",
       L"5"},
      {R"({"status":[1],"farlinknas_hn":"\u00e9")" + std::string(",\"host_ip\":\"") + longName +
           "\"}",
       1, 0, L"\x00e9", L"", L"", std::wstring(longName.begin(), longName.end())},
      // Not an answer: the texts keep nothing of it.
      {R"({"farlinknas_hn":"c","external_ip":["e"]})", -1, -1, L"", L"", L"", L""},
      {R"([{"farlinknas_hn":"c"}])", -1, -1, L"", L"", L"", L""},
      {R"("c")", -1, -1, L"", L"", L"", L""},
      {R"({"farlinknas_hn":)", -1, -1, L"", L"", L"", L""},
  };
  for (const Case& c : cases) {
    CGetDomainIPListJson reply;
    reply.Parse(R"({"status":7,"farlinknas_hn":"old","external_ip":"old","local_ip":"old",)"
                R"("host_ip":"old"})");  // every parse starts afresh
    EXPECT_EQ(reply.Parse(c.reply), c.parsed) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.cloudHostName, c.cloud) << c.reply;
    EXPECT_EQ(reply.externalIP, c.external) << c.reply;
    EXPECT_EQ(reply.localIP, c.local) << c.reply;
    EXPECT_EQ(reply.hostIP, c.host) << c.reply;
  }
}

}  // namespace
}  // namespace vesk
