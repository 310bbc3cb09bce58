// The chunked-upload replies read without a device.
#include <gtest/gtest.h>

#include <string>

#include "filestation/commands/TransferReplies.h"

namespace vesk {
namespace {

TEST(ChunkSizeReply, ReadsTheSizeWholeInEveryForm) {
  struct Case {
    std::string reply;
    int parsed, status;
    long long size;
  } cases[] = {
      {R"({"status":0,"size":40000})", 1, 0, 40000},
      {R"({"status":0,"size":"40000"})", 1, 0, 40000},
      {R"({"status":0,"size":" -12abc"})", 1, 0, -12},
      {R"({"status":0,"size":"abc"})", 1, 0, 0},
      {R"({"status":0,"size":6442450944})", 1, 0, 6442450944LL},  // beyond 32 bits
      {R"({"status":0,"size":"6442450944"})", 1, 0, 6442450944LL},
      {R"({"status":0,"size":4.0e9})", 1, 0, 4000000000LL},
      {R"({"status":0,"size":1e30})", -1, -1, 0},  // no 64-bit number holds it
      {R"({"status":0,"size":true})", 1, 0, 0},
      {R"({"status":0,"size":null})", 1, 0, 0},
      {R"({"status":0,"size":[5]})", 1, 0, 0},
      {R"({"status":"5"})", 1, 5, 0},
      {R"([{"status":0,"size":5}])", 1, -1, 0},  // parses, but says nothing
      {"not json", -1, -1, 0},
  };
  for (const Case& c : cases) {
    CGetChunkFileSizeJson reply;
    EXPECT_EQ(reply.Parse(c.reply), c.parsed) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.size, c.size) << c.reply;
  }
}

TEST(UploadIdReply, NeedsAnObjectAndCarriesTheIdWhole) {
  struct Case {
    std::string reply;
    int parsed, status;
    std::wstring id;
  } cases[] = {
      {R"({"status":0,"upload_id":"a1b2"})", 1, 0, L"a1b2"},
      {R"({"status":0,"upload_id":12})", 1, 0, L"12"},
      {R"({"status":0,"upload_id":"\u00e9t\u00e9"})", 1, 0, L"\x00e9t\x00e9"},
      {R"({"status":0,"upload_id":")" + std::string(5000, 'x') + R"("})", 1, 0,
       std::wstring(5000, L'x')},
      {R"({"status":9})", 1, 9, L""},
      {R"({"status":0,"upload_id":[1]})", -1, -1, L""},
      {R"([{"status":0,"upload_id":"u"}])", -1, -1, L""},
      {R"("u")", -1, -1, L""},
  };
  for (const Case& c : cases) {
    CGetUploadIDJson reply;
    EXPECT_EQ(reply.Parse(c.reply), c.parsed) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.uploadId, c.id) << c.reply;
  }
}

}  // namespace
}  // namespace vesk
