// The file-tree reply parsers, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filestation/commands/FileTreeReplies.h"

namespace vesk {
namespace {

TEST(NameMatchesPattern, WildcardsAndCase) {
  struct Case {
    std::wstring pattern, name;
    bool match;
  } cases[] = {
      {L"*", L"anything", true},      {L"*.*", L"noDot", true},
      {L"*.*", L"a.b", true},         {L"a?c", L"ABC", true},
      {L"a?c", L"ac", false},         {L"*x", L"box", true},
      {L"*x", L"boxes", false},       {L"b*s", L"boxes", true},
      {L"*.TXT", L"a.txt", true},     {L"report", L"REPORT", true},
      {L"report", L"report2", false}, {L"a*b*c", L"aXbYbZc", true},
      {L"a**", L"a", true},           {L"", L"a", false},
      {L"\x00c4*", L"\x00e4x", true}, {L"\x0416\x0100", L"\x0436\x0101", true},
      {L"*.*.*", L"a.b", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NameMatchesPattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

// One "datas" element.
std::string Element(const std::string& name, const std::string& more = "") {
  return R"({"filename":")" + name +
         R"(","isfolder":0,"filesize":10,"epochmt":1700000000,)"
         R"("mt":"2023/11/14 22:13:20","privilege":"755","group":"users","owner":"admin")" +
         (more.empty() ? "" : "," + more) + "}";
}

std::string Listing(const std::string& total, const std::vector<std::string>& elements) {
  std::string datas;
  for (const auto& e : elements) datas += (datas.empty() ? "" : ",") + e;
  return R"({"status":0,"total":)" + total + R"(,"datas":[)" + datas + "]}";
}

CGetPathInfoJson Parsed(const std::string& text, const std::wstring& pattern = L"*",
                        int pathType = 3, int* parse = nullptr) {
  CGetPathInfoJson reply;
  reply.pattern = pattern;
  reply.pathType = pathType;
  reply.pathInfoFlags = -1;
  const int result = reply.Parse(text);
  if (parse) *parse = result;
  return reply;
}

TEST(CGetPathInfoJson, ReadsEveryFieldOfAnEntry) {
  const auto reply = Parsed(Listing("1", {Element("a.txt", R"("iscommpressed":1)")}));
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.total, 1);
  ASSERT_EQ(reply.entries.size(), 1u);
  const PathInfoEntry& e = reply.entries[0];
  EXPECT_EQ(e.name, L"a.txt");
  EXPECT_FALSE(e.isFolder);
  EXPECT_TRUE(e.isCompressed);
  EXPECT_EQ(e.size, 10);
  EXPECT_EQ(e.Texts().modifyTimeText, L"2023/11/14 22:13:20");
  EXPECT_EQ(e.Texts().modifyTime, 1700000000);
  EXPECT_EQ(e.Texts().permissionText, L"ReadWrite");
  EXPECT_EQ(e.Texts().group, L"users");
  EXPECT_EQ(e.Texts().owner, L"admin");
}

TEST(CGetPathInfoJson, TotalAndFilters) {
  struct Case {
    const char* name;
    std::string reply;
    std::wstring pattern;
    int pathType;
    int total;
    std::vector<std::wstring> names;
  } cases[] = {
      {"total as text", Listing("\"12\"", {Element("a"), Element("b")}), L"*", 3, 12, {L"a", L"b"}},
      {"total 0 lists nothing", Listing("0", {Element("a")}), L"*", 3, 0, {}},
      {"no total lists nothing", R"({"status":0,"datas":[)" + Element("a") + "]}", L"*", 3, 0, {}},
      {"zero time is not listed",
       Listing("2", {Element("a", R"("epochmt":0)"), Element("b")}),
       L"*",
       3,
       2,
       {L"b"}},
      {"files only",
       Listing("2", {Element("dir", R"("isfolder":1)"), Element("f")}),
       L"*",
       1,
       2,
       {L"f"}},
      {"folders only",
       Listing("2", {Element("dir", R"("isfolder":1)"), Element("f")}),
       L"*",
       2,
       2,
       {L"dir"}},
      {"plain name stops at the first match",
       Listing("3", {Element("x"), Element("A.txt"), Element("a.txt")}),
       L"a.txt",
       3,
       3,
       {L"A.txt"}},
      {"plain name skipped by its kind ends the scan",
       Listing("2", {Element("a", R"("isfolder":1)"), Element("a")}),
       L"a",
       1,
       2,
       {}},
      {"wildcard reports every match",
       Listing("3", {Element("a1"), Element("b"), Element("a2")}),
       L"a*",
       3,
       3,
       {L"a1", L"a2"}},
      {"an empty pattern matches nothing", Listing("1", {Element("a")}), L"", 3, 1, {}},
      {"elements that are not objects are skipped",
       Listing("2", {"7", Element("a")}),
       L"*",
       3,
       2,
       {L"a"}},
  };
  for (const Case& c : cases) {
    const auto reply = Parsed(c.reply, c.pattern, c.pathType);
    EXPECT_EQ(reply.total, c.total) << c.name;
    std::vector<std::wstring> names;
    for (const auto& e : reply.entries) names.push_back(e.name);
    EXPECT_EQ(names, c.names) << c.name;
  }
}

TEST(CGetPathInfoJson, ValuesOfEveryShape) {
  const std::wstring kTime = L"2023/11/14 22:13:20";
  struct Case {
    const char* more;
    std::wstring permission;
    long long size;
    std::wstring time;
    long long seconds;
  } cases[] = {
      {R"("privilege":755)", L"ReadWrite", 10, kTime, 1700000000},
      {R"("privilege":500)", L"ReadOnly", 10, kTime, 1700000000},
      {R"("privilege":100)", L"AccessDenied", 10, kTime, 1700000000},
      {R"("privilege":"644")", L"ReadWrite", 10, kTime, 1700000000},
      {R"("privilege":null)", L"", 10, kTime, 1700000000},
      {R"("filesize":5368709120)", L"ReadWrite", 5368709120LL, kTime, 1700000000},
      {R"("filesize":"3000000000")", L"ReadWrite", 3000000000LL, kTime, 1700000000},
      // Times beyond 2038 are read whole, as numbers or as text.
      {R"("epochmt":253402300799)", L"ReadWrite", 10, kTime, 253402300799LL},
      {R"("epochmt":"4102444800")", L"ReadWrite", 10, kTime, 4102444800LL},
      // A time before 1970 is listed, with neither text nor seconds.
      {R"("epochmt":-5)", L"ReadWrite", 10, L"", 0},
  };
  for (const Case& c : cases) {
    // The later member wins in jsoncpp: "more" overrides the element's defaults.
    const auto reply = Parsed(Listing("1", {Element("a", c.more)}));
    ASSERT_EQ(reply.entries.size(), 1u) << c.more;
    EXPECT_EQ(reply.entries[0].Texts().permissionText, c.permission) << c.more;
    EXPECT_EQ(reply.entries[0].size, c.size) << c.more;
    EXPECT_EQ(reply.entries[0].Texts().modifyTimeText, c.time) << c.more;
    EXPECT_EQ(reply.entries[0].Texts().modifyTime, c.seconds) << c.more;
  }
  // Without "epochmt" the entry is listed with no time; without "privilege" with no
  // permission, never one left over from the entry before.
  const auto bare = Parsed(
      Listing("2", {Element("a"), R"({"filename":"b","filesize":1,"mt":"t","isfolder":"1"})"}));
  ASSERT_EQ(bare.entries.size(), 2u);
  EXPECT_EQ(bare.entries[1].Texts().permissionText, L"");
  EXPECT_EQ(bare.entries[1].Texts().modifyTimeText, L"");
  EXPECT_EQ(bare.entries[1].Texts().modifyTime, 0);
  EXPECT_TRUE(bare.entries[1].isFolder);
}

TEST(CGetPathInfoJson, UnusableRepliesAreNotParsed) {
  struct Case {
    std::string reply;
    int parse;
    int status;
  } cases[] = {
      {"not json", -1, -1},
      {"[1,2]", 1, -1},  // a root that is not an object: no status
      {R"({"status":4})", 1, 4},
      {R"({"status":"3","total":1})", 1, 3},
      {Listing("1", {Element("a", R"("filesize":[1])")}), -1, -1},
      {Listing("1", {Element("a", R"("isfolder":{})")}), -1, -1},
      {Listing("1", {R"({"filename":["a"]})"}), -1, -1},
      {R"({"status":[0]})", -1, -1},
      {R"({"status":0,"total":1e300})", -1, -1},
  };
  for (const Case& c : cases) {
    int parse = 0;
    const auto reply = Parsed(c.reply, L"*", 3, &parse);
    EXPECT_EQ(parse, c.parse) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    if (parse != 1) {
      EXPECT_TRUE(reply.entries.empty());
    }
  }
}

// The listing is read in one pass, entry by entry; it must read every reply as the reading of
// the whole tree does, where members come in any order or more than once.
TEST(CGetPathInfoJson, OnePassReadsAsTheWholeTree) {
  struct Case {
    std::string reply;
    std::wstring pattern;
    int parse;
    std::vector<std::wstring> names;
  } cases[] = {
      {R"({"datas":[)" + Element("a") + R"(],"total":1,"status":0})", L"*", 1, {L"a"}},
      {R"({"total":2,"datas":[)" + Element("a") + R"(],"datas":[)" + Element("b") + "]}",
       L"*",
       1,
       {L"b"}},
      {R"({"total":1,"datas":[{"filename":[1]}],"datas":[)" + Element("b") + "]}", L"*", 1, {L"b"}},
      {R"({"total":1,"datas":[)" + Element("b") + R"(],"datas":[{"filename":[1]}]})", L"*", -1, {}},
      {R"({"total":1,"datas":[)" + Element("a") + R"(],"datas":null})", L"*", 1, {}},
      {R"({"total":0,"datas":[{"filename":{}}]})", L"*", 1, {}},
      {R"({"total":1,"status":{"datas":[)" + Element("a") + "]}}", L"*", -1, {}},
      {R"({"total":3,"datas":[)" + Element("x") + "," + Element("a") + R"(,{"filename":["bad"]}]})",
       L"a",
       1,
       {L"a"}},
      {R"({"total":2,"datas":[[{"filename":"no"}],{"filename":"a","x":{"filename":"no",)"
       R"("datas":[1]},"filesize":7},5,{"filename":"b","filesize":[2],"filesize":3}]})",
       L"*",
       1,
       {L"a", L"b"}},
      // A raw control character makes the text be read again from its start.
      {"{\"total\":2,\"datas\":[{\"filename\":\"a\"},{\"filename\":\"t\tb\"}]}",
       L"*",
       1,
       {L"a", L"t\tb"}},
      {"\xEF\xBB\xBF{\"total\":1,\"datas\":[{\"filename\":\"a\"}]}", L"*", 1, {L"a"}},
      {R"({"total":1,"datas":[{"filename":"a"}]} trailing)", L"*", 1, {L"a"}},
      {R"({"total":1,"datas":[{"filename":"a"}])", L"*", -1, {}},
  };
  for (const Case& c : cases) {
    CGetPathInfoJson onePass, tree;
    onePass.pattern = tree.pattern = c.pattern;
    onePass.pathInfoFlags = tree.pathInfoFlags = -1;
    EXPECT_EQ(onePass.Parse(c.reply), c.parse) << c.reply;
    EXPECT_EQ(tree.ZJsonParserBase::Parse(c.reply), c.parse) << c.reply;
    std::vector<std::wstring> names, treeNames;
    for (const auto& e : onePass.entries) names.push_back(e.name);
    for (const auto& e : tree.entries) treeNames.push_back(e.name);
    EXPECT_EQ(names, c.names) << c.reply;
    EXPECT_EQ(treeNames, c.names) << c.reply;
    EXPECT_EQ(onePass.total, tree.total) << c.reply;
    EXPECT_EQ(onePass.status, tree.status) << c.reply;
  }
}

// A listing that does not keep the texts still refuses a text it cannot read, and keeps the rest.
TEST(CGetPathInfoJson, TextsCheckedWhenNotKept) {
  CGetPathInfoJson reply;
  reply.pathInfoFlags = -1;
  reply.keepTexts = false;
  ASSERT_EQ(reply.Parse(Listing("1", {Element("a.txt", R"("iscommpressed":1)")})), 1);
  ASSERT_EQ(reply.entries.size(), 1u);
  EXPECT_EQ(reply.entries[0].name, L"a.txt");
  EXPECT_EQ(reply.entries[0].size, 10);
  EXPECT_TRUE(reply.entries[0].isCompressed);
  EXPECT_EQ(reply.entries[0].texts, nullptr);
  for (const char* bad : {R"("owner":{})", R"("group":[])", R"("mt":[1])", R"("privilege":[])"})
    EXPECT_EQ(reply.Parse(Listing("1", {Element("a", bad)})), -1) << bad;
}

TEST(CGetFolderInfoJson, ListsFolderNodesOnly) {
  CGetFolderInfoJson reply;
  ASSERT_EQ(reply.Parse(R"([{"text":"Public","iconCls":"folder"},{"text":"x","iconCls":"file"},)"
                        R"({"text":"","iconCls":"folder"},5,{"iconCls":"folder"},)"
                        R"({"text":"\u6587\u4ef6","iconCls":"folder"}])"),
            1);
  ASSERT_EQ(reply.entries.size(), 2u);
  EXPECT_EQ(reply.entries[0].name, L"Public");
  EXPECT_TRUE(reply.entries[0].isFolder);
  EXPECT_EQ(reply.entries[1].name, L"\x6587\x4ef6");

  EXPECT_EQ(reply.Parse(R"({"status":4})"), 1);
  EXPECT_EQ(reply.status, 4);
  EXPECT_TRUE(reply.entries.empty());
  EXPECT_EQ(reply.Parse("\"text\""), 1);
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.Parse("[{"), -1);
  EXPECT_EQ(reply.Parse(R"([{"text":{},"iconCls":"folder"}])"), -1);
}

TEST(CGetMoveStatusJson, PercentCountsOnlyWithStatusOneAndAFile) {
  struct Case {
    std::string reply;
    int parse, status, percent;
  } cases[] = {
      {R"({"status":1,"filename":"a","percent":40})", 1, 1, 40},
      {R"({"status":"1","filename":"a","percent":"40"})", 1, 1, 40},
      {R"({"status":2,"percent":40})", 1, 2, 0},
      {R"({"status":1,"percent":40})", -1, -1, 0},
      {R"({"status":1,"filename":"","percent":40})", -1, -1, 0},
      {R"({"status":1,"filename":"a"})", -1, -1, 0},
      {R"({"percent":40})", -1, -1, 0},
      {"[1]", 1, -1, 0},
      {"{", -1, -1, 0},
      {R"({"status":1,"filename":"a","percent":[1]})", -1, -1, 0},
  };
  for (const Case& c : cases) {
    CGetMoveStatusJson reply;
    EXPECT_EQ(reply.Parse(c.reply), c.parse) << c.reply;
    EXPECT_EQ(reply.status, c.status) << c.reply;
    EXPECT_EQ(reply.percent, c.percent) << c.reply;
  }
}

}  // namespace
}  // namespace vesk
