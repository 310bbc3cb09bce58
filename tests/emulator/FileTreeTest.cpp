// The device's file-tree functions over a real folder, driven by libcurl as the library drives
// them: listing, status, search, changes, copy and move jobs, refusals and path safety.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Peer.h"
#include "TestDevice.h"
#include "emulator/Emulator.h"

namespace vesk::emulator {
namespace {

using namespace test;
namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kJobTimeout(60000);

using vesk::test::ReadFile;
using vesk::test::WriteFile;

void SetModifyTime(const fs::path& path, time_t seconds) {
  const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

struct stat Lstat(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

// Everything under path, links not followed: each relative path with its kind, permissions,
// size, modification time and content (or link text).
std::map<std::string, std::string> Snapshot(const fs::path& path) {
  std::map<std::string, std::string> entries;
  std::error_code code;
  for (fs::recursive_directory_iterator it(path, code), end; !code && it != end;
       it.increment(code)) {
    const struct stat info = Lstat(it->path());
    std::string description = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) +
                              " " + std::to_string(info.st_mtim.tv_sec) + "." +
                              std::to_string(info.st_mtim.tv_nsec);
    if (S_ISREG(info.st_mode)) description += " " + ReadFile(it->path());
    if (S_ISLNK(info.st_mode)) description += " -> " + fs::read_symlink(it->path()).string();
    entries[fs::relative(it->path(), path).string()] = description;
  }
  EXPECT_FALSE(code) << code.message();
  return entries;
}

std::string Wire(const Fields& fields) {
  std::string text;
  for (const auto& [name, value] : fields) {
    text += (text.empty() ? "" : "&") + name + "=" + Encode(value);
  }
  return text;
}

// A refusal in the shape the reply of func carries it (FileTreeService.cpp).
void ExpectRefusal(const std::string& func, const Json::Value& reply, long long status) {
  const Json::Value reason(static_cast<Json::Int64>(status));
  if (func == "move" || func == "get_copy_status" || func == "get_move_status") {
    EXPECT_EQ(reply["status"], 0) << reply;
    EXPECT_EQ(reply["error"], reason) << reply;
    if (func == "move") {
      EXPECT_EQ(reply["success"], "false") << reply;
    }
  } else if (func == "createdir" || func == "delete" || func == "rename" || func == "copy") {
    EXPECT_EQ(reply["status"], reason) << reply;
    EXPECT_EQ(reply["success"], status == 2 || status == 4 ? "true" : "false") << reply;
  } else {
    EXPECT_EQ(reply["status"], reason) << reply;
    EXPECT_FALSE(reply.isMember("datas")) << reply;
  }
}

// The order listings use: ASCII letters without case, ties by the bytes.
bool NameBefore(const std::string& a, const std::string& b) {
  auto fold = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  return fold(a) != fold(b) ? fold(a) < fold(b) : a < b;
}

// The device over base/root with the shares Public and Backup, over plain HTTP (without
// withRoot it serves no folder); logged in on construction.
class Device : public TestDevice {
 public:
  explicit Device(unsigned long long bytesPerSecond = 0, bool withRoot = true)
      : TestDevice("vesk-tree", Options(bytesPerSecond), withRoot) {
    fs::create_directories(Root() / "Public");
    fs::create_directories(Root() / "Backup");
    Start();
  }

  // func with text as its query (GET) or its form body (POST), as sent on the wire.
  Reply Raw(const std::string& func, const char* method, const std::string& text,
            const std::string& sid, std::vector<std::string> headers = {kFormType}) const {
    const std::string url = UtilUrl(func, {}, false, &sid);
    if (std::string_view(method) == "GET") {
      return Send(text.empty() ? url : url + "&" + text, method, nullptr, std::move(headers));
    }
    return Send(url, method, &text, std::move(headers));
  }
  Json::Value Get(const std::string& func, const Fields& fields) const {
    return ParseJson(Raw(func, "GET", Wire(fields), Sid()));
  }
  Json::Value Post(const std::string& func, const Fields& fields) const {
    return ParseJson(Raw(func, "POST", Wire(fields), Sid()));
  }

  // Starts a copy or move of folder/name into destination: the start reply.
  Json::Value StartJob(const std::string& func, const std::string& folder, const std::string& name,
                       const std::string& destination, const std::string& mode = "0") const {
    return Post(func, {{"source_file", name},
                       {"source_total", "1"},
                       {"source_path", folder},
                       {"dest_path", destination},
                       {"mode", mode}});
  }
  // Waits for the job of a start reply to end: its last status reply.
  Json::Value Finish(const std::string& func, const Json::Value& start) {
    EXPECT_EQ(start["status"], 1) << start;
    const long long pid = start["pid"].asInt64();
    EXPECT_TRUE(Emu().WaitForJob(pid, 100, kJobTimeout)) << "job " << pid;
    return Get(func == "copy" ? "get_copy_status" : "get_move_status",
               {{"pid", std::to_string(pid)}});
  }

 private:
  static EmulatorOptions Options(unsigned long long bytesPerSecond) {
    EmulatorOptions options;
    options.tls = false;
    options.jobBytesPerSecond = bytesPerSecond;
    return options;
  }
};

TEST(FileTreeTest, ShareRootsAreTheTopFoldersInsideTheRoot) {
  Device device;
  const fs::path root = device.Root();
  fs::create_directory(root / "Zeta share");
  fs::create_directory(root / "Public" / "b");
  fs::create_directory(root / "Public" / "A");
  WriteFile(root / "Public" / "file.txt", "x");
  WriteFile(root / "notes.txt", "not a share");
  fs::create_directory_symlink("Public", root / "Inward");
  fs::create_directory_symlink(device.Outside(), root / "Away");
  fs::create_directory_symlink("missing", root / "Nowhere");

  const struct {
    std::string node;
    std::vector<std::string> ids;
  } cases[] = {
      {"share_root", {"/Backup", "/Inward", "/Public", "/Zeta share"}},
      {"/Public", {"/Public/A", "/Public/b"}},
      {"/Public/", {"/Public/A", "/Public/b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.node);
    const Json::Value nodes = device.Get(
        "get_tree",
        {{"is_iso", "0"}, {"node", c.node}, {"tovo_user", "1"}, {"tovo_computer", "PC"}});
    ASSERT_TRUE(nodes.isArray()) << nodes;
    std::vector<std::string> ids;
    for (const Json::Value& node : nodes) {
      ids.push_back(node["id"].asString());
      EXPECT_EQ(node["iconCls"], "folder");
      EXPECT_EQ("/" + node["text"].asString(), ids.back().substr(ids.back().rfind('/')));
    }
    EXPECT_EQ(ids, c.ids);
  }

  // A device without a root has no shares and no folders.
  Device bare(0, false);
  EXPECT_EQ(bare.Get("get_tree", {{"node", "share_root"}}), Json::Value(Json::arrayValue));
  ExpectRefusal("get_list", bare.Get("get_list", {{"path", "/Public"}}), 4);
}

TEST(FileTreeTest, ListsAFolderPageByPage) {
  Device device;
  const fs::path folder = device.Root() / "Public" / "many";
  fs::create_directory(folder);
  for (int i = 0; i < 300; ++i) {
    char name[32];
    if (i % 6 == 0) {
      std::snprintf(name, sizeof name, "Dir %03d", i);
      fs::create_directory(folder / name);
    } else {
      std::snprintf(name, sizeof name, "%s-%03d.txt", i % 2 ? "file" : "FILE", i);
      WriteFile(folder / name, std::string(i, 'x'));
    }
  }
  // Names alike but for case: their order is settled by their bytes.
  fs::rename(folder / "file-001.txt", folder / "case.txt");
  fs::rename(folder / "FILE-002.txt", folder / "Case.txt");

  std::vector<std::string> expected;
  for (const auto& entry : fs::directory_iterator(folder)) {
    expected.push_back(entry.path().filename().string());
  }
  std::sort(expected.begin(), expected.end(), NameBefore);
  ASSERT_EQ(expected.size(), 300u);

  const std::size_t kLimit = 37;
  for (const std::string& dir : std::vector<std::string>{"ASC", "DESC", "desc"}) {
    SCOPED_TRACE(dir);
    std::vector<std::string> listed;
    for (std::size_t start = 0; start < expected.size() + kLimit; start += kLimit) {
      const Json::Value page = device.Get("get_list", {{"is_iso", "0"},
                                                       {"list_mode", "all"},
                                                       {"path", "/Public/many"},
                                                       {"dir", dir},
                                                       {"limit", std::to_string(kLimit)},
                                                       {"sort", "filename"},
                                                       {"start", std::to_string(start)}});
      EXPECT_EQ(page["total"], 300) << page;
      EXPECT_FALSE(page.isMember("status"));
      const std::size_t rest = start < expected.size() ? expected.size() - start : 0;
      EXPECT_EQ(page["datas"].size(), std::min(kLimit, rest));
      for (const Json::Value& entry : page["datas"]) {
        const std::string name = entry["filename"].asString();
        listed.push_back(name);
        const bool isFolder = fs::is_directory(folder / name);
        EXPECT_EQ(entry["isfolder"], isFolder ? 1 : 0) << name;
        EXPECT_EQ(entry["filesize"].asUInt64(), isFolder ? 0 : fs::file_size(folder / name));
        EXPECT_GT(entry["epochmt"].asInt64(), 0);
      }
    }
    std::vector<std::string> order = expected;
    if (dir != "ASC") std::reverse(order.begin(), order.end());
    EXPECT_EQ(listed, order);
  }

  // The count the library asks for: one entry, the folder's total.
  const Json::Value count =
      device.Get("get_list", {{"path", "/Public/many"}, {"start", "0"}, {"limit", "1"}});
  EXPECT_EQ(count["total"], 300);
  ASSERT_EQ(count["datas"].size(), 1u);
  EXPECT_EQ(count["datas"][0]["filename"], expected.front());
}

// Names that need escapes in the reply, punctuation that folding to upper case would place
// differently, bytes beyond ASCII, and a tie of four names alike but for case that a page
// boundary cuts: each comes back whole, in this order.
TEST(FileTreeTest, ListsOddNamesWholeInOrder) {
  Device device;
  const fs::path folder = device.Root() / "Public" / "odd";
  fs::create_directory(folder);
  const std::vector<std::string> ascending = {
      "[br]",
      "_under",
      "AB",
      "Ab",
      "aB",
      "ab",
      "b\"q",
      "back\\slash",
      "CAF\xc3\x89",
      "caf\xc3\xa9",
      "ctl\x01\x1f",
      "del\x7f",
      "nl\nname",
      "tab\tname",
      "Zeta",
      "zeta",
      "{brace}",
      "~tilde",
      "\xc3\xa9t\xc3\xa9",
  };
  for (const std::string& name : ascending) WriteFile(folder / name, name);

  const std::size_t kLimit = 4;
  for (const std::string& dir : std::vector<std::string>{"ASC", "DESC"}) {
    SCOPED_TRACE(dir);
    std::vector<std::string> listed;
    for (std::size_t start = 0; start < ascending.size(); start += kLimit) {
      const Json::Value page = device.Get("get_list", {{"list_mode", "all"},
                                                       {"path", "/Public/odd"},
                                                       {"dir", dir},
                                                       {"limit", std::to_string(kLimit)},
                                                       {"sort", "filename"},
                                                       {"start", std::to_string(start)}});
      EXPECT_EQ(page["total"].asUInt64(), ascending.size()) << page;
      for (const Json::Value& entry : page["datas"]) {
        listed.push_back(entry["filename"].asString());
        EXPECT_EQ(entry["filesize"].asUInt64(), listed.back().size()) << entry;
      }
    }
    std::vector<std::string> expected = ascending;
    if (dir == "DESC") std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
  }
}

TEST(FileTreeTest, StatReportsWhatTheFileSystemHolds) {
  Device device;
  const fs::path share = device.Root() / "Public";
  const unsigned long long kBig = (5ULL << 30) + 7;  // over 4 GiB, sparse
  const struct {
    std::string name;
    bool folder;
    unsigned long long size;
    mode_t mode;
    time_t mtime;
    Json::Int64 privilege;
    std::string mt;
    int compressed;
  } cases[] = {
      {"big.bin", false, kBig, 0640, 1700000000, 640, "2023/11/14 22:13:20", 0},
      {"Photos.ZIP", false, 3, 0755, 86400, 755, "1970/01/02 00:00:00", 1},
      {"readonly.txt", false, 5, 0444, 2000000000, 444, "2033/05/18 03:33:20", 0},
      {"folder.tar", true, 0, 0700, 1234567890, 700, "2009/02/13 23:31:30", 0},
      // A time of 0 would make a reader skip the entry: the device reports 1.
      {"epoch.txt", false, 1, 0600, 0, 600, "1970/01/01 00:00:00", 0},
  };
  for (const auto& c : cases) {
    const fs::path path = share / c.name;
    if (c.folder) {
      fs::create_directory(path);
    } else {
      WriteFile(path, std::string(c.size < 16 ? c.size : 0, 'x'));
      if (c.size >= 16) {
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(c.size)), 0);
      }
    }
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    SetModifyTime(path, c.mtime);
  }

  const Json::Value listing = device.Get("get_list", {{"path", "/Public"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Json::Value reply =
        device.Get("stat", {{"path", "/Public"}, {"file_total", "1"}, {"file_name", c.name}});
    EXPECT_EQ(reply["total"], 1) << reply;
    ASSERT_EQ(reply["datas"].size(), 1u) << reply;
    const Json::Value& entry = reply["datas"][0];
    EXPECT_EQ(entry["filename"], c.name);
    EXPECT_EQ(entry["isfolder"], c.folder ? 1 : 0);
    EXPECT_TRUE(entry["filesize"].isIntegral());
    EXPECT_EQ(entry["filesize"].asUInt64(), c.size);
    EXPECT_EQ(entry["privilege"], c.privilege);
    EXPECT_EQ(entry["epochmt"], static_cast<Json::Int64>(std::max<time_t>(1, c.mtime)));
    EXPECT_EQ(entry["mt"], c.mt);
    EXPECT_EQ(entry["iscommpressed"], c.compressed);
    const struct stat info = Lstat(share / c.name);
    EXPECT_EQ(entry["owner"], getpwuid(info.st_uid)->pw_name);
    EXPECT_EQ(entry["group"], getgrgid(info.st_gid)->gr_name);

    bool listed = false;
    for (const Json::Value& item : listing["datas"]) {
      if (item["filename"] != c.name) continue;
      listed = true;
      EXPECT_EQ(item, entry);
    }
    EXPECT_TRUE(listed);
  }

  // A share root is an item of the top, whether the folder is given as "/" or empty.
  for (const std::string& top : std::vector<std::string>{"/", ""}) {
    const Json::Value reply =
        device.Get("stat", {{"path", top}, {"file_total", "1"}, {"file_name", "Public"}});
    ASSERT_EQ(reply["datas"].size(), 1u) << reply;
    EXPECT_EQ(reply["datas"][0]["isfolder"], 1);
  }
}

TEST(FileTreeTest, SetTimeChangesTheModificationTimeThenAnswersLikeStat) {
  Device device;
  WriteFile(device.Root() / "Public" / "file.txt", "x");
  fs::create_directory(device.Root() / "Public" / "folder");
  fs::create_directory_symlink("folder", device.Root() / "Public" / "link");
  const struct {
    std::string name;
    long long mtime;
    std::string mt;
    fs::path changed;  // what the time lands on
  } cases[] = {
      {"file.txt", 1, "1970/01/01 00:00:01", "file.txt"},
      {"file.txt", 2147483647, "2038/01/19 03:14:07", "file.txt"},
      {"folder", 4102444800, "2100/01/01 00:00:00", "folder"},
      {"link", 1600000000, "2020/09/13 12:26:40", "folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.mtime));
    const Json::Value reply = device.Get("stat", {{"settime", "1"},
                                                  {"mtime", std::to_string(c.mtime)},
                                                  {"path", "/Public"},
                                                  {"file_total", "1"},
                                                  {"file_name", c.name}});
    ASSERT_EQ(reply["datas"].size(), 1u) << reply;
    EXPECT_EQ(reply["datas"][0]["epochmt"], static_cast<Json::Int64>(c.mtime));
    EXPECT_EQ(reply["datas"][0]["mt"], c.mt);
    EXPECT_EQ(Lstat(device.Root() / "Public" / c.changed).st_mtim.tv_sec, c.mtime);
    const Json::Value stat =
        device.Get("stat", {{"path", "/Public"}, {"file_total", "1"}, {"file_name", c.name}});
    EXPECT_EQ(stat, reply);
  }
}

TEST(FileTreeTest, NamesWithReservedCharactersWorkThroughEveryFunction) {
  Device device;
  const fs::path root = device.Root();
  const std::string names[] = {
      "two words", "a&b=c", "#hash", "100%", "%41%42", "1+1", "caf\xc3\xa9 \xe2\x9c\x93",
      "?query",    "x;y,z", "'q'",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string folder = "/Public/" + name;
    const std::string renamed = name + " renamed";

    Json::Value reply = device.Get("createdir", {{"dest_folder", name},
                                                 {"dest_path", "/Public"},
                                                 {"tovo_user", "1"},
                                                 {"tovo_computer", "PC"}});
    EXPECT_EQ(reply["status"], 1) << reply;
    EXPECT_EQ(reply["success"], "true");
    ASSERT_TRUE(fs::is_directory(root / "Public" / name));
    WriteFile(root / "Public" / name / name, "content of " + name);

    reply = device.Get("get_list", {{"path", folder}, {"list_mode", "all"}});
    EXPECT_EQ(reply["total"], 1) << reply;
    EXPECT_EQ(reply["datas"][0]["filename"], name);

    reply = device.Get("stat", {{"path", folder}, {"file_total", "1"}, {"file_name", name}});
    EXPECT_EQ(reply["datas"][0]["filesize"].asUInt64(), ("content of " + name).size()) << reply;

    reply =
        device.Post("rename", {{"path", folder}, {"source_name", name}, {"dest_name", renamed}});
    EXPECT_EQ(reply["status"], 1) << reply;
    EXPECT_EQ(ReadFile(root / "Public" / name / renamed), "content of " + name);

    reply = device.Finish("copy", device.StartJob("copy", "/Public", name, "/Backup"));
    EXPECT_EQ(reply["status"], 1) << reply;
    EXPECT_EQ(reply["percent"], 100);
    EXPECT_EQ(ReadFile(root / "Backup" / name / renamed), "content of " + name);

    reply = device.Finish("move", device.StartJob("move", "/Backup", name, folder));
    EXPECT_EQ(reply["percent"], 100) << reply;
    EXPECT_FALSE(fs::exists(root / "Backup" / name));
    EXPECT_EQ(ReadFile(root / "Public" / name / name / renamed), "content of " + name);

    // The folder, the renamed file in it, the moved folder and the renamed file in that.
    reply = device.Get("search", {{"keyword", name}, {"source_path", "/Public"}});
    EXPECT_EQ(reply["total"], 4) << reply;

    reply = device.Post("delete", {{"file_name", name}, {"file_total", "1"}, {"path", "/Public"}});
    EXPECT_EQ(reply["status"], 1) << reply;
    EXPECT_FALSE(fs::exists(root / "Public" / name));
  }
  EXPECT_TRUE(fs::is_empty(device.Root() / "Public"));
}

TEST(FileTreeTest, SearchFindsNamesAtAnyDepthWithoutCase) {
  Device device;
  const fs::path share = device.Root() / "Public";
  fs::create_directories(share / "Trips" / "2024" / "Summer Beach");
  WriteFile(share / "beach.jpg", "1");
  WriteFile(share / "Trips" / "BEACH-ball.png", "22");
  WriteFile(share / "Trips" / "2024" / "Summer Beach" / "sand.jpg", "333");
  WriteFile(share / "Trips" / "2024" / "mountain.jpg", "4444");
  fs::create_directory_symlink(device.Outside(), share / "Trips" / "out");
  fs::create_directory(device.Outside() / "beach outside");
  fs::create_directory_symlink("..", share / "Trips" / "2024" / "loop beach");

  const struct {
    std::string keyword;
    std::string path;
    std::string dir;
    std::string start, limit;
    int total;
    std::vector<std::string> names;
  } cases[] = {
      {"beach",
       "/Public",
       "ASC",
       "0",
       "10",
       4,
       {"BEACH-ball.png", "beach.jpg", "loop beach", "Summer Beach"}},
      {"BeAcH", "/Public", "DESC", "1", "2", 4, {"loop beach", "beach.jpg"}},
      {"beach", "/Public/Trips/2024", "ASC", "0", "10", 2, {"loop beach", "Summer Beach"}},
      {".jpg", "/Public", "ASC", "0", "10", 3, {"beach.jpg", "mountain.jpg", "sand.jpg"}},
      {"nothing", "/Public", "ASC", "0", "10", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword + " in " + c.path);
    const Json::Value reply = device.Get("search", {{"keyword", c.keyword},
                                                    {"source_path", c.path},
                                                    {"dir", c.dir},
                                                    {"limit", c.limit},
                                                    {"sort", "filename"},
                                                    {"start", c.start},
                                                    {"tovo_user", "1"},
                                                    {"tovo_computer", "PC"}});
    EXPECT_EQ(reply["total"], c.total) << reply;
    std::vector<std::string> names;
    for (const Json::Value& entry : reply["datas"]) names.push_back(entry["filename"].asString());
    EXPECT_EQ(names, c.names);
  }
}

// Throttled so that a job takes about two thirds of a second, in pieces of 16 KiB.
TEST(FileTreeTest, CopyAndMoveReportRisingProgress) {
  Device device(256 * 1024);
  const fs::path root = device.Root();
  const fs::path album = root / "Public" / "album";
  fs::create_directories(album / "sub");
  const std::set<std::string> items = {"album",    "one.bin", "two.bin", "three.bin",
                                       "four.bin", "sub",     "five.bin"};
  for (const char* name : {"one.bin", "two.bin", "three.bin", "four.bin", "sub/five.bin"}) {
    WriteFile(album / name, std::string(32 * 1024, name[0]));
  }
  const auto original = Snapshot(album);
  fs::create_directory(root / "Public" / "inbox");

  const struct {
    std::string func, from, to;
    fs::path result;
    bool sourceStays;
  } cases[] = {
      {"copy", "/Public", "/Backup", root / "Backup" / "album", true},
      {"move", "/Backup", "/Public/inbox", root / "Public" / "inbox" / "album", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.func);
    const Json::Value start = device.StartJob(c.func, c.from, "album", c.to);
    ASSERT_EQ(start["status"], 1) << start;
    ASSERT_TRUE(start["pid"].isIntegral()) << start;
    const long long pid = start["pid"].asInt64();
    const std::string statusFunc = c.func == "copy" ? "get_copy_status" : "get_move_status";

    std::vector<int> seen;
    for (int percent = 0; percent < 100;) {
      ASSERT_TRUE(device.Emu().WaitForJob(pid, percent, kJobTimeout));
      const Json::Value reply = device.Get(statusFunc, {{"pid", std::to_string(pid)}});
      ASSERT_EQ(reply["status"], 1) << reply;
      EXPECT_TRUE(items.count(reply["filename"].asString())) << reply;
      EXPECT_GE(reply["percent"].asInt(), percent);
      percent = reply["percent"].asInt();
      seen.push_back(percent);
    }
    const auto between =
        std::count_if(seen.begin(), seen.end(), [](int p) { return p > 0 && p < 100; });
    EXPECT_GE(between, 3) << "too few steps seen";
    // Contents, modes and times as they were.
    EXPECT_EQ(Snapshot(c.result), original);
    EXPECT_EQ(fs::exists(root / "Backup" / "album"), c.sourceStays);
  }
}

// At one byte a second, each copy would take over an hour.
TEST(FileTreeTest, RunningJobsAreBoundedAndStopEndsThem) {
  Device device(1);
  const fs::path share = device.Root() / "Public";
  std::vector<std::string> pids;
  for (int i = 0; i <= 16; ++i) {
    const std::string name = "file" + std::to_string(i);
    WriteFile(share / name, std::string(4096, 'f'));
    const Reply reply = device.Raw("copy", "POST",
                                   Wire({{"source_file", name},
                                         {"source_total", "1"},
                                         {"source_path", "/Public"},
                                         {"dest_path", "/Backup"},
                                         {"mode", "0"}}),
                                   device.Sid());
    if (i < 16) {
      const Json::Value start = ParseJson(reply);
      ASSERT_EQ(start["status"], 1) << start;
      pids.push_back(start["pid"].asString());
    } else {
      EXPECT_EQ(reply.status, 503) << "a seventeenth job ran";
    }
  }
  for (const std::string& pid : pids) {
    const Json::Value running = device.Get("get_copy_status", {{"pid", pid}});
    EXPECT_EQ(running["status"], 1) << running;
    EXPECT_LT(running["percent"].asInt(), 100);
  }

  const auto before = std::chrono::steady_clock::now();
  device.Emu().Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  // What was copied stays, if anything was; the rest never comes.
  for (int i = 0; i < 16; ++i) {
    std::error_code code;
    const auto copied =
        fs::file_size(device.Root() / "Backup" / ("file" + std::to_string(i)), code);
    EXPECT_TRUE(code || copied < 4096) << copied;
  }
}

TEST(FileTreeTest, ModeDecidesAboutAnExistingTarget) {
  using Files = std::map<std::string, std::string>;
  const struct {
    std::string func, item, mode;
    long long refusal;  // 0: accepted
    Files backup;       // what /Backup/item then holds
    bool sourceStays;
  } cases[] = {
      {"copy", "a.txt", "0", 2, {{"", "old"}}, true},
      {"copy", "a.txt", "1", 0, {{"", "new"}}, true},
      {"copy", "album", "0", 2, {{"y", "old y"}, {"z", "old z"}}, true},
      {"copy", "album", "1", 0, {{"x", "new x"}, {"y", "new y"}, {"z", "old z"}}, true},
      {"move", "a.txt", "0", 2, {{"", "old"}}, true},
      {"move", "a.txt", "1", 0, {{"", "new"}}, false},
      {"move", "album", "1", 0, {{"x", "new x"}, {"y", "new y"}, {"z", "old z"}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.func + " " + c.item + " mode " + c.mode);
    Device device;
    const fs::path root = device.Root();
    WriteFile(root / "Public" / "a.txt", "new");
    WriteFile(root / "Backup" / "a.txt", "old");
    fs::create_directory(root / "Public" / "album");
    fs::create_directory(root / "Backup" / "album");
    WriteFile(root / "Public" / "album" / "x", "new x");
    WriteFile(root / "Public" / "album" / "y", "new y");
    WriteFile(root / "Backup" / "album" / "y", "old y");
    WriteFile(root / "Backup" / "album" / "z", "old z");

    const Json::Value start = device.StartJob(c.func, "/Public", c.item, "/Backup", c.mode);
    if (c.refusal) {
      ExpectRefusal(c.func, start, c.refusal);
    } else {
      EXPECT_EQ(device.Finish(c.func, start)["percent"], 100);
    }
    Files backup;
    const fs::path target = root / "Backup" / c.item;
    if (fs::is_directory(target)) {
      for (const auto& entry : fs::directory_iterator(target)) {
        backup[entry.path().filename().string()] = ReadFile(entry.path());
      }
    } else {
      backup[""] = ReadFile(target);
    }
    EXPECT_EQ(backup, c.backup);
    EXPECT_EQ(fs::exists(root / "Public" / c.item), c.sourceStays);
  }
}

TEST(FileTreeTest, RefusesWhatADeviceRefuses) {
  Device device;
  const fs::path root = device.Root();
  WriteFile(root / "Public" / "a.txt", "a");
  WriteFile(root / "Backup" / "a.txt", "b");
  fs::create_directories(root / "Public" / "folder" / "deeper");
  WriteFile(root / "Public" / "folder" / "inner.txt", "i");
  fs::create_directories(root / "Public" / "nest" / "nest");
  WriteFile(root / "notes.txt", "a file at the top");
  const Json::Value started = device.StartJob("copy", "/Public/folder", "inner.txt", "/Backup");
  ASSERT_EQ(device.Finish("copy", started)["percent"], 100);
  const std::string copyPid = started["pid"].asString();
  const auto before = Snapshot(root);

  const std::string live = device.Sid();
  auto transfer = [](std::string name, std::string from, std::string to, std::string mode = "0") {
    return Fields{{"source_file", std::move(name)},
                  {"source_total", "1"},
                  {"source_path", std::move(from)},
                  {"dest_path", std::move(to)},
                  {"mode", std::move(mode)}};
  };
  const struct {
    const char* label;
    std::string func;
    Fields fields;
    long long reason;
    std::string sid;
  } cases[] = {
      {"folder exists",
       "createdir",
       {{"dest_folder", "folder"}, {"dest_path", "/Public"}},
       2,
       live},
      {"file of that name",
       "createdir",
       {{"dest_folder", "a.txt"}, {"dest_path", "/Public"}},
       2,
       live},
      {"parent missing", "createdir", {{"dest_folder", "n"}, {"dest_path", "/Public/no"}}, 4, live},
      {"parent is a file",
       "createdir",
       {{"dest_folder", "n"}, {"dest_path", "/Public/a.txt"}},
       4,
       live},
      {"new share", "createdir", {{"dest_folder", "Share"}, {"dest_path", "/"}}, 4, live},
      {"empty folder name", "createdir", {{"dest_folder", ""}, {"dest_path", "/Public"}}, 5, live},
      {"folder name with /",
       "createdir",
       {{"dest_folder", "x/y"}, {"dest_path", "/Public"}},
       5,
       live},
      {"rename onto a folder",
       "rename",
       {{"path", "/Public"}, {"source_name", "a.txt"}, {"dest_name", "folder"}},
       2,
       live},
      {"rename onto itself",
       "rename",
       {{"path", "/Public"}, {"source_name", "a.txt"}, {"dest_name", "a.txt"}},
       2,
       live},
      {"rename missing",
       "rename",
       {{"path", "/Public"}, {"source_name", "no.txt"}, {"dest_name", "b.txt"}},
       4,
       live},
      {"rename to a path",
       "rename",
       {{"path", "/Public"}, {"source_name", "a.txt"}, {"dest_name", "folder/b.txt"}},
       5,
       live},
      {"rename to nothing",
       "rename",
       {{"path", "/Public"}, {"source_name", "a.txt"}, {"dest_name", ""}},
       5,
       live},
      {"rename a share",
       "rename",
       {{"path", "/"}, {"source_name", "Public"}, {"dest_name", "P"}},
       4,
       live},
      {"delete missing",
       "delete",
       {{"file_name", "no"}, {"file_total", "1"}, {"path", "/Public"}},
       4,
       live},
      {"delete a share",
       "delete",
       {{"file_name", "Public"}, {"file_total", "1"}, {"path", "/"}},
       4,
       live},
      {"delete without a name",
       "delete",
       {{"file_name", ""}, {"file_total", "1"}, {"path", "/Public"}},
       5,
       live},
      {"stat missing",
       "stat",
       {{"path", "/Public"}, {"file_total", "1"}, {"file_name", "no"}},
       4,
       live},
      {"stat a file at the top",
       "stat",
       {{"path", "/"}, {"file_total", "1"}, {"file_name", "notes.txt"}},
       4,
       live},
      {"settime missing",
       "stat",
       {{"settime", "1"},
        {"mtime", "5"},
        {"path", "/Public"},
        {"file_total", "1"},
        {"file_name", "no"}},
       4,
       live},
      {"list missing", "get_list", {{"path", "/Public/no"}}, 4, live},
      {"list a file", "get_list", {{"path", "/Public/a.txt"}}, 4, live},
      {"list the top", "get_list", {{"path", "/"}}, 4, live},
      {"tree of a missing folder", "get_tree", {{"node", "/Nope"}}, 4, live},
      {"search missing", "search", {{"keyword", "a"}, {"source_path", "/Nope"}}, 4, live},
      {"copy onto a file", "copy", transfer("a.txt", "/Public", "/Backup"), 2, live},
      {"copy missing", "copy", transfer("no.txt", "/Public", "/Backup"), 4, live},
      {"copy to nowhere", "copy", transfer("a.txt", "/Public", "/Nope"), 4, live},
      {"copy to the top", "copy", transfer("a.txt", "/Public", "/", "1"), 4, live},
      {"copy into itself", "copy", transfer("folder", "/Public", "/Public/folder"), 6, live},
      {"copy into its own subfolder", "copy",
       transfer("folder", "/Public", "/Public/folder/deeper", "1"), 6, live},
      {"copy onto itself", "copy", transfer("a.txt", "/Public", "/Public", "1"), 6, live},
      {"copy onto itself without overwrite", "copy", transfer("a.txt", "/Public", "/Public"), 2,
       live},
      {"copy over a folder holding it", "copy", transfer("nest", "/Public/nest", "/Public", "1"), 6,
       live},
      {"move over a folder holding it", "move", transfer("nest", "/Public/nest", "/Public", "1"), 6,
       live},
      {"move onto a file", "move", transfer("a.txt", "/Public", "/Backup"), 2, live},
      {"move missing", "move", transfer("no.txt", "/Public", "/Backup"), 4, live},
      {"move a share", "move", transfer("Public", "/", "/Backup"), 4, live},
      {"move into itself", "move", transfer("folder", "/Public", "/Public/folder/deeper"), 6, live},
      {"move with a name holding /", "move", transfer("folder/inner.txt", "/Public", "/Backup"), 5,
       live},
      {"unknown job", "get_copy_status", {{"pid", "999"}}, 4, live},
      {"no job 0", "get_move_status", {{"pid", "0"}}, 4, live},
      {"a copy's pid for a move", "get_move_status", {{"pid", copyPid}}, 4, live},
      {"list without a session", "get_list", {{"path", "/Public"}}, 3, "nosuchsid"},
      {"tree without a session", "get_tree", {{"node", "share_root"}}, 3, ""},
      {"createdir without a session",
       "createdir",
       {{"dest_folder", "n"}, {"dest_path", "/Public"}},
       3,
       "nosuchsid"},
      {"delete without a session",
       "delete",
       {{"file_name", "a.txt"}, {"file_total", "1"}, {"path", "/Public"}},
       3,
       "nosuchsid"},
      {"copy without a session", "copy", transfer("a.txt", "/Public", "/Public/folder"), 3,
       "nosuchsid"},
      {"move without a session", "move", transfer("a.txt", "/Public", "/Public/folder"), 3,
       "nosuchsid"},
      {"job status without a session", "get_copy_status", {{"pid", copyPid}}, 3, "nosuchsid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const bool post =
        c.func == "delete" || c.func == "rename" || c.func == "copy" || c.func == "move";
    ExpectRefusal(c.func,
                  ParseJson(device.Raw(c.func, post ? "POST" : "GET", Wire(c.fields), c.sid)),
                  c.reason);
  }
  EXPECT_EQ(Snapshot(root), before);

  // A folder the file system does not let the device write to (root writes anyway).
  if (geteuid() != 0) {
    ASSERT_EQ(chmod((root / "Public" / "folder").c_str(), 0555), 0);
    ExpectRefusal("createdir",
                  device.Get("createdir", {{"dest_folder", "n"}, {"dest_path", "/Public/folder"}}),
                  4);
    chmod((root / "Public" / "folder").c_str(), 0755);
  }
}

TEST(FileTreeTest, HostilePathsNeverLeaveTheRoot) {
  Device device;
  const fs::path root = device.Root();
  const fs::path outside = device.Outside();
  WriteFile(outside / "secret.txt", "secret outside");
  WriteFile(outside / "a.txt", "outside a");
  fs::create_directory(outside / "dir");
  WriteFile(outside / "dir" / "inner.txt", "secret inner");
  WriteFile(root / "Public" / "a.txt", "a");
  WriteFile(root / "Backup" / "b.txt", "b");
  fs::create_directory_symlink(outside, root / "Public" / "escape");
  fs::create_directory_symlink("../../outside", root / "Public" / "up");
  fs::create_symlink(outside / "secret.txt", root / "Public" / "escfile");
  fs::create_directory_symlink("../outside", root / "Away");
  fs::create_directory_symlink("../Backup", root / "Public" / "inward");
  const auto outsideBefore = Snapshot(outside);
  const auto rootBefore = Snapshot(root);

  // Where the hostile text goes in each request that takes a path or a name.
  struct Slot {
    const char* label;
    const char* func;
    const char* method;
    std::string before, after;  // the request text around the hostile value
  };
  const std::string moveTail = "&dest_path=%2FBackup&mode=1";
  const Slot folderSlots[] = {
      {"tree node", "get_tree", "GET", "node=", ""},
      {"list path", "get_list", "GET", "start=0&limit=50&path=", ""},
      {"stat path", "stat", "GET", "file_total=1&file_name=secret.txt&path=", ""},
      {"settime path", "stat", "GET",
       "settime=1&mtime=1000&file_total=1&file_name=secret.txt&path=", ""},
      {"search path", "search", "GET", "keyword=secret&source_path=", ""},
      {"createdir path", "createdir", "GET", "dest_folder=made&dest_path=", ""},
      {"delete path", "delete", "POST", "file_name=secret.txt&file_total=1&path=", ""},
      {"rename path", "rename", "POST", "source_name=secret.txt&dest_name=renamed&path=", ""},
      {"copy source path", "copy", "POST",
       "source_file=secret.txt&source_total=1&source_path=", moveTail},
      {"copy destination", "copy", "POST",
       "source_file=a.txt&source_total=1&source_path=%2FPublic&mode=1&dest_path=", ""},
      {"move source path", "move", "POST",
       "source_file=secret.txt&source_total=1&source_path=", moveTail},
      {"move destination", "move", "POST",
       "source_file=a.txt&source_total=1&source_path=%2FPublic&mode=1&dest_path=", ""},
  };
  const Slot itemSlots[] = {
      {"stat name", "stat", "GET", "path=%2FPublic&file_total=1&file_name=", ""},
      {"settime name", "stat", "GET",
       "settime=1&mtime=1000&path=%2FPublic&file_total=1&file_name=", ""},
      {"delete name", "delete", "POST", "path=%2FPublic&file_total=1&file_name=", ""},
      {"rename source", "rename", "POST", "path=%2FPublic&dest_name=renamed&source_name=", ""},
      {"copy source", "copy", "POST",
       "source_path=%2FPublic&source_total=1&source_file=", moveTail},
      {"move source", "move", "POST",
       "source_path=%2FPublic&source_total=1&source_file=", moveTail},
  };
  const Slot newNameSlots[] = {
      {"createdir name", "createdir", "GET", "dest_path=%2FPublic&dest_folder=", ""},
      {"rename target", "rename", "POST", "path=%2FPublic&source_name=a.txt&dest_name=", ""},
  };
  struct Hostile {
    std::string wire;  // as sent: percent-encoded, or raw where the encoding is the point
    long long reason;
  };
  const Hostile paths[] = {
      {Encode("/Public/.."), 5},
      {Encode("/Public/../../outside"), 5},
      {Encode(".."), 5},
      {Encode("/../outside"), 5},
      {Encode("/Public/./a"), 5},
      {Encode("/Public\\..\\..\\outside"), 5},
      {"%2FPublic%2F%2e%2e%2F%2e%2e%2Foutside", 5},
      {"/Public/%2E%2E/%2E%2E/outside", 5},
      {"%2FPublic%2F..%5C..%5Coutside", 5},
      {"%2FPublic%2F%00", 5},
      {Encode("/Public/escape"), 5},
      {Encode("/Public/escape/dir"), 5},
      {Encode("/Public/up"), 5},
      {Encode("/Public/up/dir"), 5},
      {Encode("/Away"), 5},
      {Encode("/Public/inward/../../outside"), 5},
      // Absolute paths of the outside folder name nothing inside the root.
      {Encode("//" + outside.string()), 4},
      {Encode(outside.string()), 4},
      // Decoded once, "%2e%2e" is a name like any other, and there is none such.
      {"%2FPublic%2F%252e%252e", 4},
  };
  const Hostile itemNames[] = {
      {Encode(".."), 5},
      {Encode("."), 5},
      {"", 5},
      {"%2e%2e", 5},
      {Encode("../../outside/secret.txt"), 5},
      {"..%2F..%2Foutside%2Fsecret.txt", 5},
      {Encode("..\\..\\outside\\secret.txt"), 5},
      {Encode((outside / "secret.txt").string()), 5},
      {"secret.txt%00", 5},
      {Encode("escfile"), 5},
      {Encode("escape"), 5},
      {Encode("up"), 5},
  };
  const Hostile newNames[] = {
      {Encode(".."), 5},       {Encode("."), 5},       {"", 5},
      {"%2e%2E", 5},           {Encode("../made"), 5}, {"..%2F..%2Foutside%2Fmade", 5},
      {Encode("..\\made"), 5}, {"made%00", 5},         {Encode(outside.string() + "/made"), 5},
  };
  const struct {
    const char* kind;
    std::vector<Slot> slots;
    std::vector<Hostile> values;
  } tables[] = {
      {"folder",
       {std::begin(folderSlots), std::end(folderSlots)},
       {std::begin(paths), std::end(paths)}},
      {"item",
       {std::begin(itemSlots), std::end(itemSlots)},
       {std::begin(itemNames), std::end(itemNames)}},
      {"new name",
       {std::begin(newNameSlots), std::end(newNameSlots)},
       {std::begin(newNames), std::end(newNames)}},
  };
  for (const auto& table : tables) {
    for (const Slot& slot : table.slots) {
      for (const Hostile& hostile : table.values) {
        SCOPED_TRACE(std::string(slot.label) + " <- " + hostile.wire);
        const Reply reply = device.Raw(slot.func, slot.method,
                                       slot.before + hostile.wire + slot.after, device.Sid());
        const Json::Value parsed = ParseJson(reply);
        ExpectRefusal(slot.func, parsed, hostile.reason);
        EXPECT_EQ(reply.body.find("secret"), std::string::npos) << reply.body;
        if (parsed.isMember("pid"))
          device.Emu().WaitForJob(parsed["pid"].asInt64(), 100, kJobTimeout);
      }
    }
  }
  EXPECT_EQ(Snapshot(outside), outsideBefore);
  EXPECT_EQ(Snapshot(root), rootBefore);
  std::set<std::string> top;
  for (const auto& entry : fs::directory_iterator(device.Base())) {
    top.insert(entry.path().filename().string());
  }
  EXPECT_EQ(top, (std::set<std::string>{"outside", "root"}));

  // Links that stay inside the root are followed.
  const Json::Value inward = device.Get("get_list", {{"path", "/Public/inward"}});
  ASSERT_EQ(inward["total"], 1) << inward;
  EXPECT_EQ(inward["datas"][0]["filename"], "b.txt");
  const Json::Value listing = device.Get("get_list", {{"path", "/Public"}});
  std::vector<std::string> names;
  for (const Json::Value& entry : listing["datas"]) names.push_back(entry["filename"].asString());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "inward"}));
}

TEST(FileTreeTest, AnswersMalformedTreeRequestsWithHttpErrors) {
  Device device;
  WriteFile(device.Root() / "Public" / "a.txt", "a");
  const auto before = Snapshot(device.Root());
  const std::string copy =
      "source_file=a.txt&source_total=1&source_path=%2FPublic&dest_path=%2FBackup";
  const struct {
    const char* label;
    std::string func;
    const char* method;
    std::string text;
    long status;
    std::vector<std::string> headers = {kFormType};
  } cases[] = {
      {"list without a path", "get_list", "GET", "start=0", 400},
      {"list order not ASC or DESC", "get_list", "GET", "path=%2FPublic&dir=UP", 400},
      {"list sorted otherwise", "get_list", "GET", "path=%2FPublic&sort=size", 400},
      {"negative start", "get_list", "GET", "path=%2FPublic&start=-1", 400},
      {"limit not a number", "get_list", "GET", "path=%2FPublic&limit=ten", 400},
      {"limit beyond 32 bits", "get_list", "GET", "path=%2FPublic&limit=4294967296", 400},
      {"other list mode", "get_list", "GET", "path=%2FPublic&list_mode=some", 400},
      {"path twice", "get_list", "GET", "path=%2FPublic&path=%2FBackup", 400},
      {"bad escape", "get_list", "GET", "path=%2FPub%zzlic", 400},
      {"tree without a node", "get_tree", "GET", "is_iso=0", 400},
      {"two files", "stat", "GET", "path=%2FPublic&file_name=a.txt&file_total=2", 400},
      {"settime without mtime", "stat", "GET", "path=%2FPublic&file_name=a.txt&settime=1", 400},
      {"mtime 0", "stat", "GET", "path=%2FPublic&file_name=a.txt&settime=1&mtime=0", 400},
      {"negative mtime", "stat", "GET", "path=%2FPublic&file_name=a.txt&settime=1&mtime=-5", 400},
      {"settime 2", "stat", "GET", "path=%2FPublic&file_name=a.txt&settime=2&mtime=5", 400},
      {"search without keyword", "search", "GET", "source_path=%2FPublic", 400},
      {"createdir without name", "createdir", "GET", "dest_path=%2FPublic", 400},
      {"delete without fields", "delete", "POST", "", 400},
      {"rename without a new name", "rename", "POST", "path=%2FPublic&source_name=a.txt", 400},
      {"mode 2", "copy", "POST", copy + "&mode=2", 400},
      {"mode missing", "copy", "POST", copy, 400},
      {"three sources", "move", "POST",
       "source_file=a.txt&source_total=3&source_path=%2FPublic&dest_path=%2FBackup&mode=0", 400},
      {"pid not a number", "get_copy_status", "GET", "pid=abc", 400},
      {"negative pid", "get_move_status", "GET", "pid=-1", 400},
      {"delete by GET", "delete", "GET", "file_name=a.txt&file_total=1&path=%2FPublic", 405},
      {"createdir by POST", "createdir", "POST", "dest_folder=n&dest_path=%2FPublic", 405},
      {"copy not a form", "copy", "POST", copy + "&mode=0", 415, {"Content-Type: text/plain"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Reply reply = device.Raw(c.func, c.method, c.text, device.Sid(), c.headers);
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(reply.contentType, "text/plain; charset=\"UTF-8\"");
  }
  EXPECT_EQ(Snapshot(device.Root()), before);
}

}  // namespace
}  // namespace vesk::emulator
