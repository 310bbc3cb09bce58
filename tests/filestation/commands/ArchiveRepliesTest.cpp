// The archive-listing reply parser, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filestation/commands/ArchiveReplies.h"

namespace vesk {
namespace {

TEST(CGetListExtractedFileInfoJson, ReadsEveryEntryInFull) {
  CGetListExtractedFileInfoJson reply;
  ASSERT_EQ(reply.Parse(R"({"status":0,"total":"40","datas":[)"
                        R"({"filename":"big.iso","isfolder":0,"filesize":5368709120,)"
                        R"("compress_size":"4294967296","mt":"2023/11/14 22:13"},)"
                        R"({"filename":"","filesize":1},)"
                        R"({"filename":"dir","isfolder":"1"},)"
                        R"(7,)"
                        R"({"filename":"\u00e9t\u00e9","isfolder":2,"filesize":"9000000000"}]})"),
            1);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.total, 40);
  EXPECT_EQ(reply.elementCount, 5);
  ASSERT_EQ(reply.entries.size(), 3u);  // the nameless and the non-object elements are skipped
  const ExtractListEntry& big = reply.entries[0];
  EXPECT_EQ(big.name, L"big.iso");
  EXPECT_FALSE(big.isFolder);
  EXPECT_EQ(big.size, 5368709120LL);
  EXPECT_EQ(big.compressedSize, 4294967296LL);
  EXPECT_EQ(big.modifyTimeText, L"2023/11/14 22:13");
  const ExtractListEntry& dir = reply.entries[1];
  EXPECT_TRUE(dir.isFolder);
  EXPECT_EQ(dir.size, 0);
  EXPECT_EQ(dir.compressedSize, 0);
  EXPECT_EQ(dir.modifyTimeText, L"");
  EXPECT_EQ(reply.entries[2].name, L"\x00e9t\x00e9");
  EXPECT_FALSE(reply.entries[2].isFolder);  // only 1 marks a folder
  EXPECT_EQ(reply.entries[2].size, 9000000000LL);
}

TEST(CGetListExtractedFileInfoJson, StatusTotalAndMalformedReplies) {
  const std::string one = R"([{"filename":"a"}])";
  struct Case {
    std::string text;
    int parsed, status, total;
    std::size_t entries;
  } cases[] = {
      {R"({"total":1,"datas":)" + one + "}", 1, 0, 1, 1},  // no status: 0
      {R"({"status":4,"total":1,"datas":)" + one + "}", 1, 4, 1, 1},
      {R"({"status":"5"})", 1, 5, 0, 0},
      {R"({"status":0,"total":0,"datas":)" + one + "}", 1, 0, 0, 0},  // an empty archive
      {R"({"status":0,"total":1,"datas":{"filename":"a"}})", 1, 0, 1, 0},
      {"[1]", 1, -1, 0, 0},  // not an object: nothing read
      {"nope", -1, -1, 0, 0},
      {R"({"status":0,"total":1,"datas":[{"filename":"a","filesize":{}}]})", -1, -1, 0, 0},
      {R"({"status":0,"total":1,"datas":[{"filename":"a","filesize":"big"}]})", -1, -1, 0, 0},
      {R"({"status":0,"total":1,"datas":[{"filename":["a"]}]})", -1, -1, 0, 0},
      {R"({"status":0,"total":1e30})", -1, -1, 0, 0},
  };
  for (const Case& c : cases) {
    CGetListExtractedFileInfoJson reply;
    EXPECT_EQ(reply.Parse(c.text), c.parsed) << c.text;
    EXPECT_EQ(reply.status, c.status) << c.text;
    EXPECT_EQ(reply.total, c.total) << c.text;
    EXPECT_EQ(reply.entries.size(), c.entries) << c.text;
  }
}

}  // namespace
}  // namespace vesk
