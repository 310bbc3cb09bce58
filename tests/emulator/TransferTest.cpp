// The emulated device's transfer functions driven over HTTP: uploads in the library's framing
// and the standard one, downloads from an offset, chunked uploads that are cut and resumed,
// refusals, and the faults the emulator plays on transfers.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Peer.h"
#include "TestDevice.h"
#include "emulator/Emulator.h"

namespace vesk::emulator {
namespace {

using namespace test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using vesk::test::ReadFile;
using vesk::test::WriteFile;

constexpr const char* kBoundary = "----------gL6GI3KM7cH2Ij5ae0Ef1gL6ei4Ef1";
constexpr const char* kUploads = "/Public/.uploads";
constexpr unsigned long long k4GiB = 4ULL << 30;

// Bytes that vary, so that a piece out of place shows.
std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 3);
  return bytes;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The multipart body as the library frames it: the boundary itself is the delimiter line.
// lastPart names the closing part: Upload for upload, chunked_upload for chunked_upload.
std::string LibraryHead(const std::string& name) {
  const std::string b = kBoundary;
  return b + "\r\nContent-Disposition: form-data; name=\"Filename\"\r\n\r\n" + name + "\r\n" + b +
         "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"" + name +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}
std::string LibraryBody(const std::string& name, const std::string& data,
                        const std::string& lastPart = "Upload") {
  const std::string b = kBoundary;
  return LibraryHead(name) + data + "\r\n" + b + "\r\nContent-Disposition: form-data; name=\"" +
         lastPart + "\"\r\n\r\nSubmit Query\r\n" + b + "--";
}
const std::string kMultipartType =
    std::string("Content-Type: multipart/form-data; boundary=") + kBoundary;

// Signalled once a transfer has moved its first body bytes, either way.
class FirstBytes {
 public:
  static int OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    if (down > 0 || up > 0) {
      auto* first = static_cast<FirstBytes*>(self);
      std::lock_guard<std::mutex> lock(first->mutex_);
      first->moved_ = true;
      first->changed_.notify_all();
    }
    return 0;
  }
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 60s, [this] { return moved_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool moved_ = false;
};

// The device over base/root with the share Public, holding .uploads (the chunked uploads'
// folder); logged in on construction.
class Device : public TestDevice {
 public:
  explicit Device(bool tls = false) : TestDevice("vesk-transfer", Options(tls)) {
    fs::create_directories(Public() / ".uploads");
    Start();
  }

  Json::Value Get(const std::string& func, const Fields& query) const {
    return ParseJson(Send(UtilUrl(func, query)));
  }
  Reply Post(const std::string& func, const Fields& query, const std::string& body,
             const std::string& type = kMultipartType) const {
    // Without "Expect: 100-continue", as the library sends: a cut upload has no status at all.
    return Send(UtilUrl(func, query), "POST", &body, {type, "Expect:"});
  }
  Reply Download(const std::string& form, bool tls = false) const {
    return PostForm(UtilUrl("download", {}, tls), form);
  }

  std::string StartChunked() const {
    const Json::Value reply = Get("start_chunked_upload", {{"upload_root_dir", kUploads}});
    EXPECT_EQ(reply["status"], 0) << reply;
    return reply["upload_id"].asString();
  }
  Json::Value ChunkedStatus(const std::string& id) const {
    return Get("get_chunked_upload_status", {{"upload_id", id}, {"upload_root_dir", kUploads}});
  }

 private:
  static EmulatorOptions Options(bool tls) {
    EmulatorOptions options;
    options.tls = tls;
    return options;
  }
};

// The fields of a chunked_upload attempt; changes replace fields or add to them.
Fields ChunkQuery(const std::string& id, std::size_t offset, std::size_t fileSize,
                  const Fields& changes = {}) {
  Fields query = {{"upload_id", id},
                  {"offset", std::to_string(offset)},
                  {"filesize", std::to_string(fileSize)},
                  {"dest_path", "/Public"},
                  {"overwrite", "1"},
                  {"upload_root_dir", kUploads}};
  for (const auto& [name, value] : changes) {
    const auto found = std::find_if(query.begin(), query.end(),
                                    [&](const auto& field) { return field.first == name; });
    if (found != query.end()) {
      found->second = value;
    } else {
      query.emplace_back(name, value);
    }
  }
  return query;
}

void ExpectDone(const Reply& reply) {
  const Json::Value json = ParseJson(reply);
  EXPECT_EQ(json["status"], 1) << json;
  EXPECT_EQ(json["success"], "true") << json;
}

void ExpectRefused(const Reply& reply, int error) {
  const Json::Value json = ParseJson(reply);
  EXPECT_EQ(json["status"], 0) << json;
  EXPECT_EQ(json["success"], "false") << json;
  EXPECT_EQ(json["error"], error) << json;
}

// The standard framing, as curl's MIME API writes it.
Reply UploadWithCurlMime(const std::string& url, const std::string& name, const std::string& data) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  std::unique_ptr<curl_mime, decltype(&curl_mime_free)> mime(curl_mime_init(curl.get()),
                                                             &curl_mime_free);
  curl_mimepart* part = curl_mime_addpart(mime.get());
  curl_mime_name(part, "Filename");
  curl_mime_data(part, name.c_str(), CURL_ZERO_TERMINATED);
  part = curl_mime_addpart(mime.get());
  curl_mime_name(part, "Filedata");
  curl_mime_filename(part, name.c_str());
  curl_mime_type(part, "application/octet-stream");
  curl_mime_data(part, data.data(), data.size());
  part = curl_mime_addpart(mime.get());
  curl_mime_name(part, "Upload");
  curl_mime_data(part, "Submit Query", CURL_ZERO_TERMINATED);
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, mime.get());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
  return vesk::test::HttpPerform(curl.get());
}

// --- Upload ---------------------------------------------------------------------------------

TEST(TransferTest, UploadsStoreTheBytesInEitherFraming) {
  Device device;
  const std::string b = kBoundary;
  // Line ends and near-delimiters of both framings, one cut off at the very end. (CR LF and
  // the delimiter itself cannot be data in either framing.)
  const std::string tricky = "line\r\n" + b.substr(0, 39) + "X\r\n\r\nx" + b + "\r\n\r\n-" + b +
                             "--\r\n" + std::string(3, '\0') + "\r\n--" + b.substr(0, 13);
  const struct {
    const char* name;
    std::string data;
  } files[] = {
      {"empty.bin", ""},
      {"tricky.bin", tricky},
      {"large file.bin", Pattern(3 << 20, 7)},
  };
  for (const bool standard : {false, true}) {
    for (const auto& file : files) {
      SCOPED_TRACE(std::string(file.name) + (standard ? ", standard framing" : ""));
      const std::string name = (standard ? "std " : "") + std::string(file.name);
      const Fields query = {{"dest_path", "/Public"}, {"overwrite", "0"}};
      ExpectDone(standard ? UploadWithCurlMime(device.UtilUrl("upload", query), name, file.data)
                          : device.Post("upload", query, LibraryBody(name, file.data)));
      EXPECT_TRUE(ReadFile(device.Public() / name) == file.data);
    }
  }
  // Nothing else is left in the folder: no temporary files.
  EXPECT_EQ(Names(device.Public()).size(), 1 + 2 * std::size(files));
}

TEST(TransferTest, UploadsRefuseWhatTheyMayNotStore) {
  Device device;
  const fs::path existing = device.Public() / "existing.txt";
  fs::create_directory(device.Public() / "folder");
  const std::string other = "other";
  const std::string badSid = "0123";
  struct Case {
    const char* name;
    Fields query;
    std::string filename;
    int error;        // the refusal; 0: stored
    long http = 200;  // an HTTP error instead
    std::string body = {};
    std::string type = kMultipartType;
    const std::string* sid = nullptr;
  };
  const Case cases[] = {
      {"new file", {{"dest_path", "/Public"}, {"overwrite", "0"}}, "new.txt", 0},
      {"replaces with overwrite",
       {{"dest_path", "/Public"}, {"overwrite", "1"}},
       "existing.txt",
       0},
      {"keeps without overwrite",
       {{"dest_path", "/Public"}, {"overwrite", "0"}},
       "existing.txt",
       2},
      {"a folder is not replaced", {{"dest_path", "/Public"}, {"overwrite", "1"}}, "folder", 2},
      {"no session",
       {{"dest_path", "/Public"}, {"overwrite", "1"}},
       "x",
       3,
       200,
       {},
       kMultipartType,
       &badSid},
      {"missing folder", {{"dest_path", "/Public/none"}, {"overwrite", "1"}}, "x", 4},
      {"the top", {{"dest_path", "/"}, {"overwrite", "1"}}, "x", 4},
      {"path out of the root",
       {{"dest_path", "/Public/../../outside"}, {"overwrite", "1"}},
       "x",
       5},
      {"name ..", {{"dest_path", "/Public"}, {"overwrite", "1"}}, "..", 5},
      {"name with a backslash", {{"dest_path", "/Public"}, {"overwrite", "1"}}, "a\\b", 5},
      {"overwrite not a flag", {{"dest_path", "/Public"}, {"overwrite", "2"}}, "x", 0, 400},
      {"no destination", {{"overwrite", "1"}}, "x", 0, 400},
      {"not multipart", {{"dest_path", "/Public"}, {"overwrite", "1"}}, "x", 0, 415, {}, kFormType},
      {"no closing delimiter",
       {{"dest_path", "/Public"}, {"overwrite", "1"}},
       "x",
       0,
       400,
       LibraryHead("x") + "data\r\n" + kBoundary},
      {"no Filedata part",
       {{"dest_path", "/Public"}, {"overwrite", "1"}},
       "x",
       0,
       400,
       std::string(kBoundary) +
           "\r\nContent-Disposition: form-data; name=\"Filename\"\r\n\r\nx\r\n" + kBoundary + "--"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(existing, "old");
    const std::set<std::string> before = Names(device.Public());
    const std::string body = c.body.empty() ? LibraryBody(c.filename, other) : c.body;
    const Reply reply =
        Send(device.UtilUrl("upload", c.query, false, c.sid), "POST", &body, {c.type});
    if (c.http != 200) {
      EXPECT_EQ(reply.status, c.http) << reply.body;
    } else if (c.error != 0) {
      ExpectRefused(reply, c.error);
    } else {
      ExpectDone(reply);
    }
    const bool stored = c.http == 200 && c.error == 0;
    EXPECT_EQ(ReadFile(existing), stored && c.filename == "existing.txt" ? other : "old");
    std::set<std::string> expected = before;
    if (stored) expected.insert(c.filename);
    EXPECT_EQ(Names(device.Public()), expected);
    EXPECT_TRUE(fs::is_empty(device.Public() / "folder"));
  }
  EXPECT_TRUE(fs::is_empty(device.Public() / ".." / ".." / "outside"));
}

TEST(TransferTest, ACutUploadLeavesNothingBehind) {
  Device device;
  const std::string data = Pattern(1 << 20, 3);
  const std::string body = LibraryBody("cut.bin", data);
  TransferFaults faults;
  faults.dropAfterBytes = 300000;
  faults.dropCount = 1;
  device.Emu().SetTransferFaults(faults);
  const std::set<std::string> before = Names(device.Public());
  const Fields query = {{"dest_path", "/Public"}, {"overwrite", "1"}};

  const Reply cut = device.Post("upload", query, body);
  EXPECT_NE(cut.code, CURLE_OK);
  EXPECT_EQ(cut.status, 0) << "a reply came: " << cut.body;
  EXPECT_EQ(Names(device.Public()), before);

  // The one cut is spent: the next attempt goes through.
  ExpectDone(device.Post("upload", query, body));
  EXPECT_TRUE(ReadFile(device.Public() / "cut.bin") == data);
}

// --- Download -------------------------------------------------------------------------------

TEST(TransferTest, DownloadsSendTheFileFromAnOffset) {
  Device device(true);
  const std::string content = Pattern(100000, 1);
  WriteFile(device.Public() / "file.bin", content);
  // A sparse file whose last bytes lie beyond 4 GiB.
  const std::string tail = "the end of a big file";
  WriteFile(device.Public() / "big.bin", "");
  fs::resize_file(device.Public() / "big.bin", k4GiB);
  std::ofstream(device.Public() / "big.bin", std::ios::binary | std::ios::app) << tail;

  const struct {
    std::string name;
    std::string offset;  // empty: none sent
    std::string expected;
  } cases[] = {
      {"file.bin", "", content},
      {"file.bin", "0", content},
      {"file.bin", "99999", content.substr(99999)},
      {"file.bin", "100000", ""},
      {"big.bin", std::to_string(k4GiB + 4), tail.substr(4)},
      {"big.bin", std::to_string(k4GiB - 2), std::string(2, '\0') + tail},
  };
  for (const bool tls : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name + " from " + c.offset + (tls ? " over TLS" : ""));
      std::string form = "isfolder=0&source_total=1&source_path=%2FPublic&source_file=" + c.name;
      if (!c.offset.empty()) form += "&offset=" + c.offset;
      const Reply reply = device.Download(form, tls);
      EXPECT_EQ(reply.code, CURLE_OK);
      EXPECT_EQ(reply.status, 200);
      EXPECT_EQ(reply.contentType, "application/octet-stream");
      EXPECT_TRUE(reply.body == c.expected) << reply.body.size();
    }
  }
}

TEST(TransferTest, DownloadRefusalsAreHttpErrors) {
  Device device;
  WriteFile(device.Public() / "file.bin", "12345");
  WriteFile(device.Public() / ".." / ".." / "outside" / "secret", "secret");
  const std::string folder = "isfolder=0&source_total=1&source_path=%2FPublic";
  const struct {
    const char* name;
    std::string form;
    long status;
    std::string sid = {};
    std::string header = kFormType;
  } cases[] = {
      {"no session", folder + "&source_file=file.bin", 403, "0123"},
      {"missing file", folder + "&source_file=none", 404},
      {"a folder", folder + "&source_file=.uploads", 404},
      {"missing folder", "source_path=%2FNone&source_file=file.bin", 404},
      {"path out of the root", "source_path=%2FPublic%2F..%2F..%2Foutside&source_file=secret", 400},
      {"name out of the folder", folder + "&source_file=..", 400},
      {"offset beyond the end", folder + "&source_file=file.bin&offset=6", 416},
      {"offset not a number", folder + "&source_file=file.bin&offset=-1", 400},
      {"a folder asked for", "isfolder=1&source_path=%2FPublic&source_file=file.bin", 400},
      {"no file named", folder, 400},
      {"not a form", folder + "&source_file=file.bin", 415, {}, "Content-Type: text/plain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string url = device.UtilUrl("download", {}, false, c.sid.empty() ? nullptr : &c.sid);
    const Reply reply = Send(url, "POST", &c.form, {c.header});
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(reply.contentType, "text/plain; charset=\"UTF-8\"");
  }
}

TEST(TransferTest, ACutDownloadEndsShortOfItsLength) {
  Device device;
  const std::string content = Pattern(1 << 20, 5);
  WriteFile(device.Public() / "file.bin", content);
  TransferFaults faults;
  faults.dropAfterBytes = 123457;
  faults.dropCount = 1;
  device.Emu().SetTransferFaults(faults);
  const std::string form = "isfolder=0&source_total=1&source_path=%2FPublic&source_file=file.bin";

  const Reply cut = device.Download(form);
  EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(cut.status, 200);
  EXPECT_TRUE(cut.body == content.substr(0, 123457)) << cut.body.size();

  const Reply whole = device.Download(form);
  EXPECT_EQ(whole.code, CURLE_OK);
  EXPECT_TRUE(whole.body == content) << whole.body.size();
}

// --- Chunked upload -------------------------------------------------------------------------

TEST(TransferTest, AChunkedUploadResumesWhereItWasCut) {
  Device device;
  const std::string data = Pattern((2 << 20) + 11, 9);
  const std::string id = device.StartChunked();
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
  EXPECT_EQ(device.ChunkedStatus(id)["size"], 0);

  // The first attempt is cut 700000 bytes into the file's data: what arrived stays.
  TransferFaults faults;
  const std::size_t cutAt = 700000;
  faults.dropAfterBytes = static_cast<long long>(LibraryHead("x").size() + cutAt);
  faults.dropCount = 1;
  device.Emu().SetTransferFaults(faults);
  const Reply cut = device.Post("chunked_upload", ChunkQuery(id, 0, data.size()),
                                LibraryBody("x", data, "chunked_upload"));
  EXPECT_EQ(cut.status, 0) << cut.body;
  const Json::Value status = device.ChunkedStatus(id);
  EXPECT_EQ(status["status"], 0) << status;
  const auto held = status["size"].asUInt64();
  EXPECT_GT(held, 0u);
  EXPECT_LE(held, cutAt);

  // A resend from below what is held replaces the rest; a body that ends before the file does
  // keeps the upload open.
  const std::size_t resend = held / 2, stop = data.size() - 1000;
  ExpectRefused(device.Post("chunked_upload", ChunkQuery(id, resend, data.size()),
                            LibraryBody("x", data.substr(resend, stop - resend), "chunked_upload")),
                4);
  EXPECT_EQ(device.ChunkedStatus(id)["size"].asUInt64(), stop);

  // The last attempt completes it under rename_dest, with the time asked for.
  const long long mtime = -86400LL * 365;
  ExpectDone(device.Post(
      "chunked_upload",
      ChunkQuery(
          id, stop, data.size(),
          {{"settime", "1"}, {"mtime", std::to_string(mtime)}, {"rename_dest", "final name.bin"}}),
      LibraryBody("x", data.substr(stop), "chunked_upload")));
  EXPECT_TRUE(ReadFile(device.Public() / "final name.bin") == data);
  struct stat info {};
  ASSERT_EQ(stat((device.Public() / "final name.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, mtime);
  EXPECT_FALSE(fs::exists(device.Public() / "x"));
  // The upload is gone, and its data with it.
  EXPECT_EQ(device.ChunkedStatus(id)["status"], 5);
  EXPECT_TRUE(fs::is_empty(device.Public() / ".uploads"));
}

TEST(TransferTest, ChunkedUploadsRefuseWhatTheyCannotTake) {
  Device device;
  WriteFile(device.Public() / "existing.txt", "old");
  const std::string id = device.StartChunked();
  // Not yet the 20 bytes of the file: the upload stays open with the 10 it holds.
  ExpectRefused(device.Post("chunked_upload", ChunkQuery(id, 0, 20),
                            LibraryBody("part.bin", "0123456789", "chunked_upload")),
                4);

  const std::string rest = LibraryBody("existing.txt", "abcdefghij", "chunked_upload");
  const struct {
    const char* name;
    Fields query;
    int error;
  } attempts[] = {
      {"offset beyond the bytes held", ChunkQuery(id, 11, 20), 5},
      {"unknown upload", ChunkQuery(std::string(32, 'a'), 0, 10), 5},
      {"more than the file's size", ChunkQuery(id, 10, 15), 5},
      {"name not allowed", ChunkQuery(id, 10, 20, {{"rename_dest", "a/b"}}), 5},
      {"existing target without overwrite", ChunkQuery(id, 10, 20, {{"overwrite", "0"}}), 2},
      {"missing destination", ChunkQuery(id, 10, 20, {{"dest_path", "/Public/none"}}), 4},
  };
  for (const auto& c : attempts) {
    SCOPED_TRACE(c.name);
    ExpectRefused(device.Post("chunked_upload", c.query, rest), c.error);
    EXPECT_EQ(ReadFile(device.Public() / "existing.txt"), "old");
  }
  // The refusals left the upload as a full file waiting for its place.
  EXPECT_EQ(device.ChunkedStatus(id)["size"], 20);

  // Ids are checked before they name anything.
  WriteFile(device.Public() / ".." / ".." / "outside" / "data", "outside");
  const std::vector<std::string> badIds = {"../../../outside/data",
                                           std::string(31, 'a'),
                                           std::string(33, 'a'),
                                           std::string(32, 'A'),
                                           std::string(31, 'a') + "/",
                                           "",
                                           id + "%00"};
  for (const std::string& bad : badIds) {
    SCOPED_TRACE(bad);
    for (const char* func : {"get_chunked_upload_status", "delete_chunked_upload_file"}) {
      EXPECT_EQ(device.Get(func, {{"upload_id", bad}, {"upload_root_dir", kUploads}})["status"], 5);
    }
  }
  EXPECT_EQ(ReadFile(device.Public() / ".." / ".." / "outside" / "data"), "outside");

  const struct {
    const char* name;
    std::string root;
    int status;
  } roots[] = {
      {"missing folder", "/Public/none", 4},
      {"the top", "/", 4},
      {"out of the root", "/Public/../../outside", 5},
  };
  for (const auto& c : roots) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(device.Get("start_chunked_upload", {{"upload_root_dir", c.root}})["status"],
              c.status);
    EXPECT_EQ(device.Get("get_chunked_upload_status",
                         {{"upload_id", id}, {"upload_root_dir", c.root}})["status"],
              c.status);
  }
  const std::string noSid = "0123";
  EXPECT_EQ(ParseJson(Send(device.UtilUrl("start_chunked_upload", {{"upload_root_dir", kUploads}},
                                          false, &noSid)))["status"],
            3);

  EXPECT_EQ(device.Get("delete_chunked_upload_file",
                       {{"upload_id", id}, {"upload_root_dir", kUploads}})["status"],
            0);
  EXPECT_EQ(device.ChunkedStatus(id)["status"], 5);
  ExpectRefused(device.Post("chunked_upload", ChunkQuery(id, 0, 10), rest), 5);

  // A folder holds a bounded number of unfinished uploads.
  std::set<std::string> ids;
  for (int i = 0; i < 64; ++i) ids.insert(device.StartChunked());
  EXPECT_EQ(ids.size(), 64u);
  EXPECT_EQ(device.Get("start_chunked_upload", {{"upload_root_dir", kUploads}})["status"], 9);
}

// --- Faults ---------------------------------------------------------------------------------

TEST(TransferTest, StopEndsThrottledTransfersAtOnce) {
  const std::string data = Pattern(1 << 20, 2);
  for (const bool upload : {false, true}) {
    SCOPED_TRACE(upload ? "upload" : "download");
    Device device;
    WriteFile(device.Public() / "file.bin", data);
    TransferFaults faults;
    faults.bytesPerSecond = 1000;  // about 17 minutes for the whole file
    device.Emu().SetTransferFaults(faults);
    const std::string body =
        upload ? LibraryBody("up.bin", data)
               : "isfolder=0&source_total=1&source_path=%2FPublic&source_file=file.bin";
    const std::string url =
        upload ? device.UtilUrl("upload", {{"dest_path", "/Public"}, {"overwrite", "1"}})
               : device.UtilUrl("download", {});

    FirstBytes first;
    CURLcode code = CURLE_OK;
    std::thread client([&] {
      std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                               &curl_easy_cleanup);
      std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
          curl_slist_append(nullptr, upload ? kMultipartType.c_str() : kFormType),
          &curl_slist_free_all);
      curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
      curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
      curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.data());
      curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 120L);
      curl_easy_setopt(
          curl.get(), CURLOPT_WRITEFUNCTION,
          +[](char*, size_t size, size_t count, void*) { return size * count; });
      curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
      curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &FirstBytes::OnProgress);
      curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &first);
      code = curl_easy_perform(curl.get());
    });
    EXPECT_TRUE(first.Wait());  // no ASSERT: the client must be joined

    const auto stopping = std::chrono::steady_clock::now();
    device.Emu().Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 20s);
    client.join();
    EXPECT_NE(code, CURLE_OK);
    EXPECT_FALSE(fs::exists(device.Public() / "up.bin"));
  }
}

}  // namespace
}  // namespace vesk::emulator
