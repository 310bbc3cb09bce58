// The device's archive functions over a real folder, driven by libcurl as the library drives
// them: compression into zip and 7z, listing, extraction, jobs with progress and cancel, and
// archives whose entries try to leave their destination. Archives are checked by reading them
// with libarchive.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
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

constexpr std::chrono::milliseconds kJobTimeout(120000);

using vesk::test::ReadFile;
using vesk::test::Snapshot;
using vesk::test::WriteFile;
// Relative path -> "dir", "-> target" or the file's content.
using Tree = vesk::test::FolderTree;

// libarchive converts entry names through the thread's locale: UTF-8 while this lives.
class Utf8Names {
 public:
  Utf8Names() : locale_(newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0))) {
    previous_ = uselocale(locale_);
  }
  ~Utf8Names() {
    uselocale(previous_);
    freelocale(locale_);
  }

 private:
  locale_t locale_;
  locale_t previous_;
};

// What libarchive reads in an archive (in the form of Snapshot); "!error" ends it when it
// cannot be read through.
Tree ReadArchive(const fs::path& file, const std::string& password = {}) {
  std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(),
                                                                &archive_read_free);
  archive_read_support_format_all(reader.get());
  if (!password.empty()) archive_read_add_passphrase(reader.get(), password.c_str());
  const Utf8Names utf8;
  Tree tree;
  if (archive_read_open_filename(reader.get(), file.c_str(), 65536) != ARCHIVE_OK) {
    return {{"!error", archive_error_string(reader.get())}};
  }
  archive_entry* entry = nullptr;
  while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
    std::string name = archive_entry_pathname_utf8(entry);
    if (name.back() == '/') name.pop_back();
    if (archive_entry_filetype(entry) == AE_IFDIR) {
      tree[name] = "dir";
    } else if (archive_entry_filetype(entry) == AE_IFLNK) {
      tree[name] = std::string("-> ") + archive_entry_symlink_utf8(entry);
    } else {
      std::string content(65536, '\0');
      std::string& data = tree[name];
      la_ssize_t size;
      while ((size = archive_read_data(reader.get(), content.data(), content.size())) > 0) {
        data.append(content.data(), static_cast<std::size_t>(size));
      }
      if (size < 0) return {{"!error", archive_error_string(reader.get())}};
    }
  }
  return tree;
}

// An archive entry for MakeArchive: a file with content, "dir", or "-> target".
struct Entry {
  std::string name;
  std::string content;
};

// Writes an archive with entries as they are given (names unchecked), in a format of
// libarchive's ("zip", "pax"); a pax entry of sparseSize bytes holds no data.
void MakeArchive(const fs::path& file, const char* format, const std::vector<Entry>& entries,
                 long long sparseSize = 0) {
  std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                 &archive_write_free);
  const Utf8Names utf8;
  ASSERT_EQ(archive_write_set_format_by_name(writer.get(), format), ARCHIVE_OK);
  ASSERT_EQ(archive_write_open_filename(writer.get(), file.c_str()), ARCHIVE_OK);
  for (const Entry& e : entries) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        &archive_entry_free);
    archive_entry_set_pathname(entry.get(), e.name.c_str());
    archive_entry_set_mtime(entry.get(), 1600000000, 0);
    if (e.content == "dir") {
      archive_entry_set_filetype(entry.get(), AE_IFDIR);
      archive_entry_set_perm(entry.get(), 0755);
    } else if (e.content.starts_with("-> ")) {
      archive_entry_set_filetype(entry.get(), AE_IFLNK);
      archive_entry_set_symlink(entry.get(), e.content.substr(3).c_str());
      archive_entry_set_perm(entry.get(), 0777);
    } else {
      archive_entry_set_filetype(entry.get(), AE_IFREG);
      archive_entry_set_perm(entry.get(), 0644);
      archive_entry_set_size(entry.get(), sparseSize ? sparseSize : e.content.size());
      if (sparseSize) archive_entry_sparse_add_entry(entry.get(), sparseSize - 1, 1);
    }
    ASSERT_EQ(archive_write_header(writer.get(), entry.get()), ARCHIVE_OK) << e.name;
    if (!e.content.empty() && e.content != "dir" && !e.content.starts_with("-> ")) {
      archive_write_data(writer.get(), e.content.data(), e.content.size());
    }
  }
  ASSERT_EQ(archive_write_close(writer.get()), ARCHIVE_OK);
}

// A form or query as the library sends it: every value encoded on its own, lists as repeated
// fields, a trailing "&".
std::string Wire(const Fields& fields) {
  std::string text;
  for (const auto& [name, value] : fields) text += name + "=" + Encode(value) + "&";
  return text;
}

// The device over base/root with the shares Public and Backup, over plain HTTP; logged in on
// construction.
class Device : public TestDevice {
 public:
  explicit Device(unsigned long long bytesPerSecond = 0)
      : TestDevice("vesk-archive", Options(bytesPerSecond)) {
    fs::create_directories(Root() / "Public");
    fs::create_directories(Root() / "Backup");
    Start();
  }

  Reply Raw(const std::string& func, const std::string& text, bool post,
            const std::string& sid) const {
    const std::string url = UtilUrl(func, {}, false, &sid);
    return post ? PostForm(url, text) : Send(url + "&" + text);
  }
  Json::Value Get(const std::string& func, const Fields& fields) const {
    return ParseJson(Raw(func, Wire(fields), false, Sid()));
  }
  Json::Value Post(const std::string& func, const Fields& fields) const {
    return ParseJson(Raw(func, Wire(fields), true, Sid()));
  }

  Json::Value Compress(const std::string& name, const std::vector<std::string>& files,
                       const std::string& type = "zip", const std::string& mode = "1",
                       const std::string& password = "", const std::string& encryption = "",
                       const std::string& level = "normal", const std::string& path = "/Public") {
    Fields fields = {{"compress_name", name},
                     {"type", type},
                     {"level", level},
                     {"pwd", password},
                     {"encryipt", encryption},
                     {"path", path},
                     {"total", std::to_string(files.size())},
                     {"mode", mode}};
    for (const std::string& file : files) fields.emplace_back("compress_file", file);
    return Post("compress", fields);
  }
  Json::Value Extract(const std::string& archive, const std::string& dest,
                      const std::vector<std::string>& parts = {},
                      const std::string& overwrite = "0", const std::string& pathMode = "full",
                      const std::string& password = "") {
    Fields fields = {
        {"extract_file", archive}, {"dest_path", dest},
        {"pwd", password},         {"mode", parts.empty() ? "extract_all" : "extract_part"},
        {"overwrite", overwrite},  {"path_mode", pathMode},
        {"code_page", "UTF-8"},    {"part_total", std::to_string(parts.size())}};
    for (const std::string& part : parts) fields.emplace_back("part_file", part);
    return Post("extract", fields);
  }
  // Waits for the job of a start reply to end: its status reply.
  Json::Value Finish(const char* statusFunc, const Json::Value& start) {
    EXPECT_EQ(start["status"], 1) << start;
    const long long pid = start["pid"].asInt64();
    EXPECT_TRUE(Emu().WaitForJob(pid, 100, kJobTimeout)) << "job " << pid;
    return Get(statusFunc, {{"pid", std::to_string(pid)}});
  }
  void CompressDone(const Json::Value& start) {
    const Json::Value status = Finish("get_compress_status", start);
    EXPECT_EQ(status["status"], 1) << status;
    EXPECT_EQ(status["percent"], 100) << status;
  }
  void ExtractDone(const Json::Value& start) {
    const Json::Value status = Finish("get_extract_status", start);
    EXPECT_EQ(status["status"], 1) << status;
  }

 private:
  static EmulatorOptions Options(unsigned long long bytesPerSecond) {
    EmulatorOptions options;
    options.tls = false;
    options.jobBytesPerSecond = bytesPerSecond;
    return options;
  }
};

// About 200 KB of words in a fixed pseudo-random order: text that compresses better at higher
// levels.
std::string Words() {
  static const char* const kWords[] = {"archive", "folder", "device", "entry", "level", "zip",
                                       "seven",   "job",    "cancel", "path",  "share", "file"};
  std::string text;
  unsigned state = 12345;
  while (text.size() < 200000) {
    state = state * 1103515245 + 12345;
    text += kWords[(state >> 16) % 12];
    text += (state >> 8) % 7 == 0 ? "\n" : " ";
  }
  return text;
}

// A folder with a bit of everything: nested folders, an empty folder and file, names that
// need encoding, and a link.
Tree MakeDocs(const fs::path& folder) {
  WriteFile(folder / "docs" / "a b&c#%.txt", "first");
  WriteFile(folder / "docs" / "sub" / "Grüße €.txt", "second");
  WriteFile(folder / "docs" / "sub" / "empty", "");
  fs::create_directories(folder / "docs" / "void");
  fs::create_symlink("sub/empty", folder / "docs" / "link");
  WriteFile(folder / "top.txt", "top");
  return {{"docs", "dir"},
          {"docs/a b&c#%.txt", "first"},
          {"docs/link", "-> sub/empty"},
          {"docs/sub", "dir"},
          {"docs/sub/Grüße €.txt", "second"},
          {"docs/sub/empty", ""},
          {"docs/void", "dir"},
          {"top.txt", "top"}};
}

TEST(ArchiveServiceTest, CompressesItemsIntoZipAnd7zArchives) {
  Device device;
  const Tree docs = MakeDocs(device.Public());
  const struct {
    std::string name, type, level, file;
  } cases[] = {
      {"plain", "zip", "normal", "plain.zip"},       {"Quick.ZIP", "zip", "fast", "Quick.ZIP"},
      {"best", "zip", "large", "best.zip"},          {"seven", "7z", "normal", "seven.7z"},
      {"seven fast", "7z", "fast", "seven fast.7z"}, {"mixed.zip", "7z", "large", "mixed.zip.7z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    device.CompressDone(device.Compress(c.name, {"docs", "top.txt"}, c.type, "1", "", "", c.level));
    EXPECT_EQ(ReadArchive(device.Public() / c.file), docs);
  }
  // Levels are real: text shrinks more at the large level than at the fast one.
  WriteFile(device.Public() / "words.txt", Words());
  for (const std::string type : {"zip", "7z"}) {
    SCOPED_TRACE(type);
    std::uintmax_t sizes[2] = {};
    for (const std::string level : {"fast", "large"}) {
      device.CompressDone(
          device.Compress("words-" + level, {"words.txt"}, type, "1", "", "", level));
      const fs::path file = device.Public() / ("words-" + level + "." + type);
      EXPECT_TRUE(ReadArchive(file) == (Tree{{"words.txt", Words()}}));
      sizes[level == "large"] = fs::file_size(file);
    }
    EXPECT_LT(sizes[1], sizes[0]);
  }
  // Nothing but the archives was added.
  for (const auto& entry : fs::directory_iterator(device.Public())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
  }
}

TEST(ArchiveServiceTest, UpdateModesDecideAboutAnExistingArchive) {
  Device device;
  const fs::path archive = device.Public() / "set.zip";
  const auto now = fs::file_time_type::clock::now();
  const struct {
    std::string mode;
    std::vector<std::string> files;
    Tree expected;
  } cases[] = {
      {"3", {"a.txt", "b.txt", "c.txt"}, {{"a.txt", "a2"}, {"b.txt", "b2"}, {"c.txt", "c2"}}},
      {"4", {"a.txt", "b.txt", "c.txt"}, {{"a.txt", "a1"}, {"b.txt", "b2"}, {"c.txt", "c2"}}},
      {"1", {"b.txt", "c.txt"}, {{"b.txt", "b2"}, {"c.txt", "c2"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    fs::remove(archive);
    WriteFile(device.Public() / "a.txt", "a1");
    WriteFile(device.Public() / "b.txt", "b1");
    device.CompressDone(device.Compress("set", {"a.txt", "b.txt"}));
    // The files change: a.txt is now older than its entry, b.txt newer.
    WriteFile(device.Public() / "a.txt", "a2");
    WriteFile(device.Public() / "b.txt", "b2");
    WriteFile(device.Public() / "c.txt", "c2");
    fs::last_write_time(device.Public() / "a.txt", now - std::chrono::hours(48));
    fs::last_write_time(device.Public() / "b.txt", now + std::chrono::hours(48));
    device.CompressDone(device.Compress("set", c.files, "zip", c.mode));
    EXPECT_EQ(ReadArchive(archive), c.expected);
  }
  // Mode 2 takes only a new archive.
  EXPECT_EQ(device.Compress("set", {"c.txt"}, "zip", "2")["status"], 2);
  device.CompressDone(device.Compress("fresh", {"c.txt"}, "zip", "2"));
  EXPECT_EQ(ReadArchive(device.Public() / "fresh.zip"), (Tree{{"c.txt", "c2"}}));
}

TEST(ArchiveServiceTest, EncryptsZipArchivesWithTheirPassword) {
  Device device;
  WriteFile(device.Public() / "secret.txt", "classified");
  for (const std::string encryption : {"AES256", "ZipCrypto"}) {
    SCOPED_TRACE(encryption);
    const std::string name = "locked-" + encryption;
    device.CompressDone(
        device.Compress(name, {"secret.txt"}, "zip", "1", "pa ss&wörd", encryption));
    const fs::path file = device.Public() / (name + ".zip");
    EXPECT_EQ(ReadArchive(file, "pa ss&wörd"), (Tree{{"secret.txt", "classified"}}));
    EXPECT_EQ(ReadArchive(file, "wrong").count("!error"), 1u);
    EXPECT_EQ(ReadArchive(file).count("!error"), 1u);

    // Names list without the password; extraction needs the right one.
    const Json::Value list =
        device.Get("get_extract_list", {{"extract_file", "/Public/" + name + ".zip"},
                                        {"start", "0"},
                                        {"limit", "10"},
                                        {"sort", "filename"},
                                        {"dir", "ASC"}});
    EXPECT_EQ(list["total"], 1) << list;
    const std::string dest = "out-" + encryption;
    fs::create_directories(device.Root() / "Backup" / dest);
    for (const std::string password : {"", "wrong"}) {
      // A wrong password is refused at the start, or, when it passes the archive's short
      // password check by chance, fails the job.
      const Json::Value start =
          device.Extract("/Public/" + name + ".zip", "/Backup/" + dest, {}, "0", "full", password);
      const Json::Value outcome = start["status"] == 1
                                      ? device.Finish("get_extract_status", start)["error"]
                                      : start["status"];
      EXPECT_EQ(outcome, 5) << start;
    }
    EXPECT_TRUE(Snapshot(device.Root() / "Backup" / dest).empty());
    device.ExtractDone(device.Extract("/Public/" + name + ".zip", "/Backup/" + dest, {}, "0",
                                      "full", "pa ss&wörd"));
    EXPECT_EQ(Snapshot(device.Root() / "Backup" / dest), (Tree{{"secret.txt", "classified"}}));
  }
}

TEST(ArchiveServiceTest, ListsArchivesPageByPage) {
  Device device;
  MakeArchive(device.Public() / "list.zip", "zip",
              {{"b/two.txt", "22"}, {"a.txt", "1"}, {"C/", "dir"}, {"b/deep/x", "xxx"}});
  const auto list = [&](const std::string& file, const Fields& page) {
    Fields fields = {
        {"path", "/"}, {"extract_file", file}, {"code_page", "UTF-8"}, {"sort", "filename"}};
    fields.insert(fields.end(), page.begin(), page.end());
    return device.Get("get_extract_list", fields);
  };
  // Folders that entry paths imply are listed too.
  const std::vector<std::string> all = {"a.txt", "b", "b/deep", "b/deep/x", "b/two.txt", "C"};
  const struct {
    Fields page;
    std::vector<std::string> names;
  } cases[] = {
      {{{"start", "0"}, {"limit", "100"}, {"dir", "ASC"}}, all},
      {{{"start", "1"}, {"limit", "2"}, {"dir", "ASC"}}, {"b", "b/deep"}},
      {{{"start", "5"}, {"limit", "5"}, {"dir", "ASC"}}, {"C"}},
      {{{"start", "9"}, {"limit", "5"}, {"dir", "ASC"}}, {}},
      {{{"start", "0"}, {"limit", "2"}, {"dir", "DESC"}}, {"C", "b/two.txt"}},
  };
  for (const auto& c : cases) {
    const Json::Value reply = list("/Public/list.zip", c.page);
    EXPECT_FALSE(reply.isMember("status") && reply["status"] != 0) << reply;
    EXPECT_EQ(reply["total"], 6) << reply;
    std::vector<std::string> names;
    for (const Json::Value& entry : reply["datas"]) names.push_back(entry["filename"].asString());
    EXPECT_EQ(names, c.names) << reply;
  }
  const Json::Value first = list("/Public/list.zip", {{"limit", "6"}});
  const Json::Value& file = first["datas"][4];
  EXPECT_EQ(file["filename"], "b/two.txt");
  EXPECT_EQ(file["isfolder"], 0);
  EXPECT_EQ(file["filesize"], 2);
  EXPECT_TRUE(file["compress_size"].isIntegral()) << file;
  EXPECT_EQ(file["mt"], "2020/09/13 12:26:40");
  EXPECT_EQ(first["datas"][5]["isfolder"], 1);

  // Sizes beyond 2^31 are decimal strings, read in full.
  MakeArchive(device.Public() / "big.tar", "pax", {{"huge.bin", "x"}}, (5LL << 30) + 7);
  const Json::Value big = list("/Public/big.tar", {});
  ASSERT_EQ(big["datas"].size(), 1u) << big;
  EXPECT_EQ(big["datas"][0]["filesize"], "5368709127");
  EXPECT_TRUE(big["datas"][0]["compress_size"].isIntegral()) << big;
}

TEST(ArchiveServiceTest, ExtractsAllOrPartsWithOrWithoutFolders) {
  Device device;
  const Tree docs = MakeDocs(device.Public());
  device.CompressDone(device.Compress("docs", {"docs", "top.txt"}, "7z"));
  const struct {
    std::string name;
    std::vector<std::string> parts;
    std::string pathMode;
    Tree expected;
  } cases[] = {
      {"all", {}, "full", docs},
      {"part",
       {"docs/sub", "top.txt"},
       "full",
       {{"docs", "dir"},
        {"docs/sub", "dir"},
        {"docs/sub/Grüße €.txt", "second"},
        {"docs/sub/empty", ""},
        {"top.txt", "top"}}},
      {"flat",
       {"docs/sub/", "docs/link", "docs/a b&c#%.txt"},
       "none",
       {{"Grüße €.txt", "second"},
        {"empty", ""},
        {"link", "-> sub/empty"},
        {"a b&c#%.txt", "first"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(device.Root() / "Backup" / c.name);
    device.ExtractDone(
        device.Extract("/Public/docs.7z", "/Backup/" + c.name, c.parts, "0", c.pathMode));
    EXPECT_EQ(Snapshot(device.Root() / "Backup" / c.name), c.expected);
  }
}

TEST(ArchiveServiceTest, OverwriteDecidesAboutExistingFiles) {
  Device device;
  MakeArchive(device.Public() / "set.zip", "zip",
              {{"keep/", "dir"}, {"keep/new.txt", "new"}, {"same.txt", "archived"}});
  const fs::path dest = device.Root() / "Backup";
  WriteFile(dest / "keep" / "old.txt", "old");
  WriteFile(dest / "same.txt", "existing");
  const Tree before = Snapshot(dest);

  // Without overwrite nothing is extracted when a file would be replaced; the folder alone
  // would merge.
  EXPECT_EQ(device.Extract("/Public/set.zip", "/Backup", {}, "0")["status"], 2);
  EXPECT_EQ(Snapshot(dest), before);
  device.ExtractDone(device.Extract("/Public/set.zip", "/Backup", {"keep"}, "0"));
  EXPECT_EQ(Snapshot(dest), (Tree{{"keep", "dir"},
                                  {"keep/new.txt", "new"},
                                  {"keep/old.txt", "old"},
                                  {"same.txt", "existing"}}));
  // With overwrite files are replaced and folders merged.
  device.ExtractDone(device.Extract("/Public/set.zip", "/Backup", {}, "1"));
  EXPECT_EQ(Snapshot(dest), (Tree{{"keep", "dir"},
                                  {"keep/new.txt", "new"},
                                  {"keep/old.txt", "old"},
                                  {"same.txt", "archived"}}));
  // A folder is never replaced by a file.
  fs::remove(dest / "same.txt");
  fs::create_directories(dest / "same.txt" / "inside");
  EXPECT_EQ(device.Extract("/Public/set.zip", "/Backup", {}, "1")["status"], 2);
  EXPECT_TRUE(fs::is_directory(dest / "same.txt" / "inside"));
}

TEST(ArchiveServiceTest, EntriesNeverWriteOutsideTheDestination) {
  Device device;
  const fs::path dest = device.Public() / "dest";
  fs::create_directories(dest);
  const fs::path outside = device.Outside();
  const std::string escape = fs::relative(outside, dest).string();  // "../../../outside"

  // Archives that name places outside are refused whole: nothing is written anywhere.
  const std::vector<std::vector<Entry>> refused = {
      {{"fine.txt", "ok"}, {"../up.txt", "x"}},
      {{"fine.txt", "ok"}, {escape + "/planted.txt", "x"}},
      {{"fine.txt", "ok"}, {outside.string() + "/planted.txt", "x"}},
      {{"fine.txt", "ok"}, {"a/../../up.txt", "x"}},
      {{"fine.txt", "ok"}, {"back\\slash.txt", "x"}},
  };
  for (std::size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    MakeArchive(device.Public() / "evil.tar", "pax", refused[i]);
    for (const char* pathMode : {"full", "none"}) {
      EXPECT_EQ(device.Extract("/Public/evil.tar", "/Public/dest", {}, "1", pathMode)["status"], 5);
    }
  }
  // Links are made only when they stay inside; nothing is ever written through one.
  MakeArchive(device.Public() / "links.tar", "pax",
              {{"out", "-> " + outside.string()},
               {"out/planted.txt", "x"},
               {"rel", "-> " + escape},
               {"rel/planted.txt", "x"},
               {"dir/in", "-> ../fine.txt"},
               {"dir/up", "-> ../../x"},
               {"fine.txt", "ok"}});
  device.ExtractDone(device.Extract("/Public/links.tar", "/Public/dest", {}, "1"));
  EXPECT_EQ(Snapshot(dest), (Tree{{"dir", "dir"},
                                  {"dir/in", "-> ../fine.txt"},
                                  {"fine.txt", "ok"},
                                  {"out", "dir"},
                                  {"out/planted.txt", "x"},
                                  {"rel", "dir"},
                                  {"rel/planted.txt", "x"}}));
  // A link of the archive that a later entry goes through fails the extraction.
  MakeArchive(device.Public() / "through.tar", "pax",
              {{"hop", "-> sub"}, {"sub/", "dir"}, {"hop/x", "x"}});
  fs::remove_all(dest);
  fs::create_directories(dest);
  const Json::Value status =
      device.Finish("get_extract_status", device.Extract("/Public/through.tar", "/Public/dest"));
  EXPECT_EQ(status["status"], 0) << status;
  EXPECT_EQ(status["error"], 5) << status;
  EXPECT_TRUE(Snapshot(dest).empty());

  EXPECT_TRUE(Snapshot(outside).empty());
  const Tree root = Snapshot(device.Root());
  for (const auto& [name, what] : root) {
    EXPECT_TRUE(name.starts_with("Public") || name.starts_with("Backup")) << name;
  }
}

TEST(ArchiveServiceTest, CancelStopsAThrottledJobAndLeavesNothingBehind) {
  // 4 MiB at 64 KiB a second would take a minute.
  Device device(64 * 1024);
  WriteFile(device.Public() / "data" / "big.bin", std::string(4 << 20, 'd'));
  MakeArchive(device.Public() / "big.zip", "zip", {{"big.bin", std::string(4 << 20, 'd')}});
  fs::create_directories(device.Public() / "dest");
  const Tree before = Snapshot(device.Root());

  // Snapshots hold 4 MiB files: compared without printing them.
  const struct {
    const char* kind;
    const char* what;
    std::function<Json::Value()> start;
  } cases[] = {
      {"compress", "zip",
       [&] { return device.Compress("partial", {"data"}, "zip", "1", "", "", "fast"); }},
      {"compress", "7z",
       [&] { return device.Compress("partial", {"data"}, "7z", "1", "", "", "fast"); }},
      {"extract", "zip", [&] { return device.Extract("/Public/big.zip", "/Public/dest"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.what);
    const Json::Value start = c.start();
    ASSERT_EQ(start["status"], 1) << start;
    const std::string pid = std::to_string(start["pid"].asInt64());
    const std::string kind = c.kind;
    // It runs, reporting its progress, and writes as it goes.
    ASSERT_TRUE(device.Emu().WaitForJob(start["pid"].asInt64(), 1, kJobTimeout));
    const Json::Value running = device.Get("get_" + kind + "_status", {{"pid", pid}});
    EXPECT_EQ(running["status"], 6) << running;
    EXPECT_GE(running["percent"].asInt(), 1) << running;
    EXPECT_FALSE(Snapshot(device.Root()) == before);

    EXPECT_EQ(device.Get("cancel_" + kind, {{"pid", pid}})["status"], 1);
    // The cancel came back once the job had stopped: it reads as cancelled, and what it wrote
    // is gone.
    const Json::Value stopped = device.Get("get_" + kind + "_status", {{"pid", pid}});
    EXPECT_EQ(stopped["status"], 0) << stopped;
    EXPECT_EQ(stopped["cancelled"], 1) << stopped;
    EXPECT_TRUE(Snapshot(device.Root()) == before);
    EXPECT_EQ(device.Get("cancel_" + kind, {{"pid", pid}})["status"], 1);  // ended: no change
  }
}

TEST(ArchiveServiceTest, RefusesWhatADeviceRefuses) {
  Device device;
  WriteFile(device.Public() / "file.txt", "x");
  WriteFile(device.Public() / "not-an-archive.zip", "just text");
  MakeArchive(device.Public() / "ok.zip", "zip", {{"a.txt", "a"}});
  fs::create_directories(device.Public() / "folder.zip");
  fs::create_symlink(device.Outside(), device.Public() / "away");

  const struct {
    std::string what;
    std::function<Json::Value()> send;
    long long status;
  } cases[] = {
      {"no such folder",
       [&] {
         return device.Compress("a", {"file.txt"}, "zip", "1", "", "", "normal", "/Public/none");
       },
       4},
      {"no such item", [&] { return device.Compress("a", {"none"}); }, 4},
      {"no items", [&] { return device.Compress("a", {}); }, 4},
      {"item through ..", [&] { return device.Compress("a", {"../Backup"}); }, 5},
      {"archive name with /", [&] { return device.Compress("x/y", {"file.txt"}); }, 5},
      {"path outside",
       [&] {
         return device.Compress("a", {"file.txt"}, "zip", "1", "", "", "normal", "/Public/away");
       },
       5},
      {"at the top",
       [&] { return device.Compress("a", {"Public"}, "zip", "1", "", "", "normal", "/"); }, 4},
      {"unknown type", [&] { return device.Compress("a", {"file.txt"}, "rar"); }, 5},
      {"empty type", [&] { return device.Compress("a", {"file.txt"}, ""); }, 5},
      {"unknown level", [&] { return device.Compress("a", {"file.txt"}, "zip", "1", "", "", ""); },
       5},
      {"unknown mode", [&] { return device.Compress("a", {"file.txt"}, "zip", "5"); }, 5},
      {"7z with a password",
       [&] { return device.Compress("a", {"file.txt"}, "7z", "1", "pw", "AES256"); }, 5},
      {"password without method",
       [&] { return device.Compress("a", {"file.txt"}, "zip", "1", "pw", ""); }, 5},
      {"archive is a folder", [&] { return device.Compress("folder", {"file.txt"}, "zip", "1"); },
       2},
      {"mode 2 onto an archive", [&] { return device.Compress("ok", {"file.txt"}, "zip", "2"); },
       2},
      {"adding to a non-archive",
       [&] { return device.Compress("not-an-archive", {"file.txt"}, "zip", "3"); }, 5},
      {"extract: no archive", [&] { return device.Extract("/Public/none.zip", "/Backup"); }, 4},
      {"extract: not an archive",
       [&] { return device.Extract("/Public/not-an-archive.zip", "/Backup"); }, 5},
      {"extract: a folder", [&] { return device.Extract("/Public/folder.zip", "/Backup"); }, 5},
      {"extract: no destination", [&] { return device.Extract("/Public/ok.zip", "/Backup/none"); },
       4},
      {"extract: destination outside",
       [&] { return device.Extract("/Public/ok.zip", "/Public/away"); }, 5},
      {"extract: no such part",
       [&] { return device.Extract("/Public/ok.zip", "/Backup", {"b.txt"}); }, 4},
      {"extract: unknown path mode",
       [&] { return device.Extract("/Public/ok.zip", "/Backup", {}, "0", ""); }, 5},
      {"list: not an archive",
       [&] {
         return device.Get("get_extract_list", {{"extract_file", "/Public/file.txt"}});
       },
       5},
      {"list: no archive",
       [&] {
         return device.Get("get_extract_list", {{"extract_file", "/Public/none.zip"}});
       },
       4},
      {"list: outside",
       [&] {
         return device.Get("get_extract_list", {{"extract_file", "/Public/away/x.zip"}});
       },
       5},
      {"list: unknown code page",
       [&] {
         return device.Get("get_extract_list",
                           {{"extract_file", "/Public/ok.zip"}, {"code_page", "no-such-set"}});
       },
       5},
      {"cancel: unknown pid",
       [&] {
         return device.Get("cancel_compress", {{"pid", "99"}});
       },
       4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.send()["status"].asInt64(), c.status) << c.what;
  }
  // Status queries refuse as status 0, which ends a reader's polling.
  for (const char* func : {"get_compress_status", "get_extract_status"}) {
    const Json::Value reply = device.Get(func, {{"pid", "99"}});
    EXPECT_EQ(reply["status"], 0) << reply;
    EXPECT_EQ(reply["error"], 4) << reply;
  }
  // Without a session.
  for (const auto& [func, post] :
       std::vector<std::pair<std::string, bool>>{{"compress", true},
                                                 {"extract", true},
                                                 {"get_extract_list", false},
                                                 {"cancel_extract", false}}) {
    EXPECT_EQ(ParseJson(device.Raw(func, "pid=1", post, "bad"))["status"], 3) << func;
  }
  const Json::Value status = ParseJson(device.Raw("get_compress_status", "pid=1", false, "bad"));
  EXPECT_EQ(status["status"], 0) << status;
  EXPECT_EQ(status["error"], 3) << status;
  // Counts that do not match the names sent are malformed.
  EXPECT_EQ(device
                .Raw("compress",
                     "compress_name=a&type=zip&level=normal&pwd=&encryipt=&path=%2FPublic&"
                     "total=2&mode=1&compress_file=file.txt&",
                     true, device.Sid())
                .status,
            400);
  // Nothing was made by any of it.
  EXPECT_EQ(Snapshot(device.Root() / "Backup"), Tree{});
  EXPECT_FALSE(fs::exists(device.Public() / "a.zip"));
}

}  // namespace
}  // namespace vesk::emulator
