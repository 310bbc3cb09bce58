// Upload, download and chunked upload against the scripted test server: the bytes each
// command sends, the file bytes it writes and the results its replies give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filestation/FileStation.h"
#include "filestation/Threads.h"
#include "support/DeviceReplies.h"
#include "support/Files.h"
#include "support/LoggedInStation.h"
#include "support/Notifications.h"

namespace vesk {
namespace {

using test::JsonReply;
using test::ScriptedReply;
using test::ScriptedServer;
using ::testing::ElementsAreArray;
using Progress = test::ProgressLog;

const std::string kUtil = "/cgi-bin/filemanager/utilRequest.cgi?func=";
const std::string kBoundary = "----------gL6GI3KM7cH2Ij5ae0Ef1gL6ei4Ef1";

std::string Head(const std::string& name) {
  return kBoundary + "\r\nContent-Disposition: form-data; name=\"Filename\"\r\n\r\n" + name +
         "\r\n" + kBoundary + "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"" +
         name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

std::string Tail(const std::string& field) {
  return "\r\n" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + field +
         "\"\r\n\r\nSubmit Query\r\n" + kBoundary + "--";
}

std::string Pattern(std::size_t size, unsigned seed = 7) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
  return bytes;
}

// The caller's reader of an upload, over a string: it hands out at most `piece` bytes a call,
// fails (-1) from byte `failAt` on and reports the end (0) from byte `endAt` on; it records
// the progress totals too.
struct Source {
  std::string content;
  long long piece = LLONG_MAX;
  long long failAt = -1;
  long long endAt = -1;
  std::vector<long long> totals;

  static long long Read(void* user, long long offset, char* buffer, long long size) {
    auto* self = static_cast<Source*>(user);
    if (self->failAt >= 0 && offset >= self->failAt) return -1;
    auto end = static_cast<long long>(self->content.size());
    if (self->endAt >= 0) end = std::min(end, self->endAt);
    const long long n = std::min({size, self->piece, std::max(0LL, end - offset)});
    std::copy_n(self->content.data() + offset, n, buffer);
    return n;
  }
  static void Progress(void* user, long long total) {
    static_cast<Source*>(user)->totals.push_back(total);
  }
};

// What a ranged read hands its sink, and its progress totals. The sink stops the read once it
// holds `stopAt` bytes, and sets `*cancel` once it holds `cancelAt`.
struct Sink {
  std::string bytes;
  std::vector<long long> totals;
  std::size_t stopAt = SIZE_MAX;
  std::size_t cancelAt = SIZE_MAX;
  int* cancel = nullptr;

  static int Take(void* user, const char* data, long long size) {
    auto* self = static_cast<Sink*>(user);
    self->bytes.append(data, static_cast<std::size_t>(size));
    if (self->cancel && self->bytes.size() >= self->cancelAt) StoreFlag(self->cancel, 1);
    return self->bytes.size() >= self->stopAt ? 0 : 1;
  }
  static void Progress(void* user, long long total) {
    static_cast<Sink*>(user)->totals.push_back(total);
  }
};

// A logged-in station, and a folder for local files.
class Transfers : public test::LoggedInStationTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    LoggedInStationTest::SetUp();
  }

  std::wstring Local(const std::string& name, const std::string* content = nullptr) const {
    const auto path = dir_ / name;
    if (content) std::ofstream(path, std::ios::binary) << *content;
    return path.wstring();
  }
  std::string Read(const std::string& name) const { return test::ReadFile(dir_ / name); }

  test::TempFolder local_{"vesk-transfer"};
  const std::filesystem::path dir_ = local_.Path();
};

TEST_F(Transfers, UploadSendsTheFileBetweenHeadAndTailInPieces) {
  // Pieces are at most 65535 bytes: the totals show where each one ended. A local file and the
  // caller's reader go out alike.
  struct Case {
    std::size_t size;
    std::vector<long long> totals;
  } cases[] = {
      {0, {}},
      {1, {1}},
      {65535, {65535}},
      {65536, {65535, 65536}},
      {200000, {65535, 131070, 196605, 200000}},
  };
  for (const Case& c : cases) {
    for (const bool fromReader : {false, true}) {
      SCOPED_TRACE(fromReader ? "from a reader" : "from a file");
      const std::string content = Pattern(c.size);
      device_.Enqueue(JsonReply(R"({"status":1})"));
      Progress progress;
      Source source{content};
      ASSERT_EQ(fromReader
                    ? station_.UploadFromReader(L"/Public/My Files", L"up.bin",
                                                static_cast<long long>(c.size), nullptr, &source,
                                                &Source::Read, &Source::Progress)
                    : station_.UploadFile(Local("up.bin", &content).c_str(), L"/Public/My Files",
                                          nullptr, &progress, &Progress::Record),
                VESK_HTTP_SUCCESS);
      EXPECT_THAT(fromReader ? source.totals : progress.Values(), ElementsAreArray(c.totals))
          << c.size;
      const auto r = Last();
      EXPECT_EQ(r.method, "POST");
      EXPECT_EQ(r.target, kUtil + "upload&sid=S&dest_path=%2FPublic%2FMy%20Files&overwrite=1");
      EXPECT_EQ(*r.Header("Content-Type"), "multipart/form-data; boundary=" + kBoundary);
      EXPECT_EQ(*r.Header("Accept"), "text/*");
      EXPECT_EQ(*r.Header("Cache-Control"), "no-cache");
      const std::string body = Head("up.bin") + content + Tail("Upload");
      EXPECT_EQ(*r.Header("Content-Length"), std::to_string(body.size()));
      EXPECT_TRUE(r.body == body) << c.size;
    }
  }
}

TEST_F(Transfers, UploadNamesTheFileByTheLastPartOfTheLocalPath) {
  const std::string content = "x";
  std::filesystem::create_directories(dir_ / "a\\b");
  struct Case {
    std::string local, sent;
  } cases[] = {
      {"a\\b/report.pdf", "report.pdf"},  // either separator ends the folder part
      {"say \"hi\".txt", "say \"hi\".txt"},
      {"line\r\nbreak", "line%0D%0Abreak"},  // a line break would end the header line
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    // Windows file names hold no double quote and no control character.
    if (c.local.find_first_of("\"\r\n") != std::string::npos) continue;
#endif
    device_.Enqueue(JsonReply(R"({"status":1})"));
    EXPECT_EQ(
        station_.UploadFile(Local(c.local, &content).c_str(), L"/P", nullptr, nullptr, nullptr),
        VESK_HTTP_SUCCESS);
    EXPECT_TRUE(Last().body == Head(c.sent) + content + Tail("Upload")) << c.sent;
  }
  // A relative path without separators is its own name.
#ifdef _WIN32
  const std::string relative = "say 'hi'.txt";
#else
  const std::string relative = "say \"hi\".txt";
#endif
  Local(relative, &content);
  const std::wstring cwd = std::filesystem::current_path().wstring();
  std::filesystem::current_path(dir_);
  device_.Enqueue(JsonReply(R"({"status":1})"));
  EXPECT_EQ(station_.UploadFile(std::wstring(relative.begin(), relative.end()).c_str(), L"/P",
                                nullptr, nullptr, nullptr),
            VESK_HTTP_SUCCESS);
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(Last().body == Head(relative) + content + Tail("Upload"));
}

TEST_F(Transfers, UploadResults) {
  const std::string content = "abc";
  const std::wstring local = Local("f.txt", &content);
  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":1,"success":"true"})"), VESK_HTTP_SUCCESS},
      {JsonReply(R"({"status":2})"), VESK_HTTP_SUCCESS},
      {JsonReply(R"({"status":4})"), VESK_HTTP_SUCCESS},
      {JsonReply(R"({"success":"true"})"), VESK_HTTP_SUCCESS},
      {JsonReply(R"({"status":0})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"status":"0"})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("<html>"), VESK_HTTP_SERVER_FAILED},
      {{.status = 500}, VESK_HTTP_BAD_HTTP_STATUS},
      {{.body = R"({"status":1})", .declaredLength = 100}, VESK_HTTP_SEND_FAILED},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.UploadFile(local.c_str(), L"/P", nullptr, nullptr, nullptr), c.result)
        << c.reply.body;
  }
  // A local file that cannot be read is refused before the device hears of it.
  const std::size_t sent = Count();
  EXPECT_EQ(station_.UploadFile(Local("missing").c_str(), L"/P", nullptr, nullptr, nullptr),
            VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(station_.UploadFile(dir_.wstring().c_str(), L"/P", nullptr, nullptr, nullptr),
            VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(Count(), sent);
}

TEST_F(Transfers, DownloadAsksForTheFolderAndNameOfTheDevicePath) {
  struct Case {
    std::function<int(FileStation&, const wchar_t*)> call;
    std::string body;  // empty: refused without a request
  } cases[] = {
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(L"/Public/a.txt", l, 0, nullptr, nullptr, nullptr);
       },
       "isfolder=0&source_total=1&source_path=%2FPublic&source_file=a.txt"},
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(L"a&b.txt", l, 0, nullptr, nullptr, nullptr);
       },
       "isfolder=0&source_total=1&source_path=a%26b.txt&source_file=a%26b.txt"},
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(CVeskHttpFileEntry(0, 3, L"/My Files", L"b c"), l, 0, nullptr,
                               nullptr, nullptr);
       },
       "isfolder=0&source_total=1&source_path=%2FMy%20Files&source_file=b%20c"},
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(L"/Public/", l, 0, nullptr, nullptr, nullptr);
       },
       ""},
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(L"/a.txt", l, 0, nullptr, nullptr, nullptr);
       },
       ""},
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(CVeskHttpFileEntry(0, 3, L"/P", L""), l, 0, nullptr, nullptr,
                               nullptr);
       },
       ""},
      {[](FileStation& s, const wchar_t* l) {
         return s.DownloadFile(L"/P/a", l, -1, nullptr, nullptr, nullptr);
       },
       ""},
  };
  const std::wstring local = Local("down.bin");
  for (const Case& c : cases) {
    device_.Enqueue({.body = "data"});
    const std::size_t sent = Count();
    if (c.body.empty()) {
      EXPECT_EQ(c.call(station_, local.c_str()), VESK_HTTP_INVALID_REQUEST);
      EXPECT_EQ(Count(), sent);
      continue;
    }
    EXPECT_EQ(c.call(station_, local.c_str()), VESK_HTTP_SUCCESS);
    const auto r = Last();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, kUtil + "download&sid=S");
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(*r.Header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
    EXPECT_EQ(Read("down.bin"), "data");
  }
  EXPECT_EQ(station_.DownloadFileAsync(L"/Public/", local.c_str(), 0, nullptr, nullptr), nullptr);
}

TEST_F(Transfers, DownloadResumesAtTheOffsetAndEndsTheFileThere) {
  const std::string old = Pattern(3000, 1);
  const std::wstring local = Local("resume.bin", &old);

  // Resumed at 1000 with 500 bytes: they land at 1000 to 1499, the totals count from 1000 and
  // the older, longer file ends after them.
  const std::string reply = Pattern(500, 2);
  device_.Enqueue({.body = reply});
  Progress progress;
  ASSERT_EQ(
      station_.DownloadFile(L"/P/f", local.c_str(), 1000, nullptr, &progress, &Progress::Record),
      VESK_HTTP_SUCCESS);
  EXPECT_EQ(Last().body, "isfolder=0&source_total=1&source_path=%2FP&source_file=f&offset=1000");
  EXPECT_TRUE(Read("resume.bin") == old.substr(0, 1000) + reply);
  const auto totals = progress.Values();
  ASSERT_FALSE(totals.empty());
  EXPECT_GT(totals.front(), 1000);
  EXPECT_EQ(totals.back(), 1500);

  // Offsets are carried whole: 4 GiB is not 0.
  const long long big = 4294967296LL + 10;
  device_.Enqueue({.body = "tail"});
  ASSERT_EQ(
      station_.DownloadFile(L"/P/f", Local("big.bin").c_str(), big, nullptr, nullptr, nullptr),
      VESK_HTTP_SUCCESS);
  EXPECT_EQ(Last().body,
            "isfolder=0&source_total=1&source_path=%2FP&source_file=f&offset=4294967306");
  EXPECT_EQ(std::filesystem::file_size(dir_ / "big.bin"), static_cast<std::uintmax_t>(big + 4));
  std::ifstream in(dir_ / "big.bin", std::ios::binary);
  in.seekg(big);
  std::string written(4, '\0');
  in.read(written.data(), 4);
  EXPECT_EQ(written, "tail");
}

TEST_F(Transfers, FailedDownloadsNeverPassAsFileData) {
  const std::string old = "previous content";
  struct Case {
    ScriptedReply reply;
    int result;
    std::string file;  // what the local file holds afterwards
  } cases[] = {
      // A refusal's body is not the file.
      {{.status = 404, .body = "not found"}, VESK_HTTP_BAD_HTTP_STATUS, old},
      // A reply cut short keeps what arrived, for a resume from the file's size.
      {{.body = "0123456789", .declaredLength = 20}, VESK_HTTP_SEND_FAILED, "previous0123456789"},
      {{.dropConnection = true}, VESK_HTTP_SEND_FAILED, old},
  };
  for (const Case& c : cases) {
    const std::wstring local = Local("f.bin", &old);
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.DownloadFile(L"/P/f", local.c_str(), 8, nullptr, nullptr, nullptr),
              c.result);
    EXPECT_EQ(Read("f.bin"), c.file);
  }
  // A local file that takes no more bytes fails the download as a local failure.
  if (std::filesystem::exists("/dev/full")) {
    device_.Enqueue({.body = "data"});
    EXPECT_EQ(station_.DownloadFile(L"/P/f", L"/dev/full", 0, nullptr, nullptr, nullptr),
              VESK_HTTP_INVALID_REQUEST);
  }
  // A local file that cannot be opened for writing: nothing is asked of the device.
  const std::size_t sent = Count();
  EXPECT_EQ(station_.DownloadFile(L"/P/f", dir_.wstring().c_str(), 0, nullptr, nullptr, nullptr),
            VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(
      station_.DownloadFile(L"/P/f", Local("no/such/folder").c_str(), 0, nullptr, nullptr, nullptr),
      VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(Count(), sent);
}

TEST_F(Transfers, ChunkedUploadSendsTheRestFromWhereTheDeviceStopped) {
  const std::string content = Pattern(100000);
  const std::wstring local = Local("big file.bin", &content);
  // Last written long ago, read since: the device gets the time of the last write.
  std::error_code error;
  std::filesystem::last_write_time(
      dir_ / "big file.bin",
      std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1600000000))),
      error);
  ASSERT_FALSE(error) << error.message();

  struct Case {
    std::string sizeReply;
    std::size_t offset;
    const wchar_t* rename;
    std::string renameQuery;
  } cases[] = {
      {R"({"status":0,"size":40000})", 40000, L"", ""},
      {R"({"status":0,"size":"40000"})", 40000, L"new name.bin", "&rename_dest=new%20name.bin"},
      {R"({"status":0,"size":65535})", 65535, L"", ""},
      {R"({"status":0})", 0, L"", ""},
  };
  // The caller's reader goes out as the local file does, under the name and with the time it
  // gives (and no new name of its own).
  for (const Case& c : cases) {
    for (const bool fromReader : {false, true}) {
      SCOPED_TRACE(fromReader ? "from a reader" : "from a file");
      device_.Enqueue(JsonReply(c.sizeReply));
      device_.Enqueue(JsonReply(R"({"status":1})"));
      Progress progress;
      Source source{content};
      ASSERT_EQ(fromReader ? station_.ChunkedUploadFromReader(
                                 L"/Public/in", L"big file.bin", L"id+1", L"/Public/.tmp", 100000,
                                 1600000000, nullptr, &source, &Source::Read, &Source::Progress)
                           : station_.ChunkedUploadFile(local.c_str(), L"/Public/in", c.rename,
                                                        L"id+1", L"/Public/.tmp", nullptr,
                                                        &progress, &Progress::Record),
                VESK_HTTP_SUCCESS);
      const auto requests = device_.Requests();
      const auto& status = requests[requests.size() - 2];
      EXPECT_EQ(status.method, "GET");
      EXPECT_EQ(status.target, kUtil +
                                   "get_chunked_upload_status&sid=S&upload_id=id%2B1"
                                   "&upload_root_dir=%2FPublic%2F.tmp");
      const auto& upload = requests.back();
      EXPECT_EQ(upload.method, "POST");
      EXPECT_EQ(upload.target, kUtil +
                                   "chunked_upload&sid=S&upload_id=id%2B1&settime=1"
                                   "&mtime=1600000000&offset=" +
                                   std::to_string(c.offset) +
                                   "&filesize=100000&dest_path=%2FPublic%2Fin&overwrite=1" +
                                   (fromReader ? "" : c.renameQuery) +
                                   "&upload_root_dir=%2FPublic%2F.tmp");
      const std::string body =
          Head("big file.bin") + content.substr(c.offset) + Tail("chunked_upload");
      EXPECT_EQ(*upload.Header("Content-Length"), std::to_string(body.size()));
      EXPECT_TRUE(upload.body == body) << c.sizeReply;
      const auto totals = fromReader ? source.totals : progress.Values();
      ASSERT_FALSE(totals.empty());
      EXPECT_GT(totals.front(), static_cast<long long>(c.offset));
      EXPECT_EQ(totals.back(), 100000);
      if (c.offset >= 40000) {
        EXPECT_EQ(totals.size(), 1u);  // the rest fits one piece
      }
    }
  }
}

TEST_F(Transfers, ChunkedUploadSendsNothingUnlessTheDeviceSaysWhereToResume) {
  const std::string content = Pattern(1000);
  const std::wstring local = Local("f.bin", &content);
  struct Case {
    ScriptedReply status;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":5})"), VESK_HTTP_CHUNK_STATUS_5},
      {JsonReply(R"({"status":4,"size":10})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"([{"status":0,"size":10}])"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"status":0,"size":-1})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"status":0,"size":1e30})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("oops"), VESK_HTTP_SERVER_FAILED},
      {{.status = 403}, VESK_HTTP_BAD_HTTP_STATUS},
      // The device holds more than the local file has: this is not the file it was given.
      {JsonReply(R"({"status":0,"size":1001})"), VESK_HTTP_INVALID_REQUEST},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.status);
    const std::size_t sent = Count();
    EXPECT_EQ(station_.ChunkedUploadFile(local.c_str(), L"/P", L"", L"u", L"/P/t", nullptr, nullptr,
                                         nullptr),
              c.result)
        << c.status.body;
    EXPECT_EQ(Count(), sent + 1);  // the status query only
  }
  device_.Enqueue(JsonReply(R"({"status":0,"size":0})"));
  EXPECT_EQ(station_.ChunkedUploadFile(Local("missing").c_str(), L"/P", L"", L"u", L"/P/t", nullptr,
                                       nullptr, nullptr),
            VESK_HTTP_INVALID_REQUEST);
}

TEST_F(Transfers, ReaderUploadsNeverSendABodyWithAGap) {
  const std::string content = Pattern(200000);
  // An upload's reply; a chunked upload's status query has its own, first in the queue.
  device_.SetDefaultReply(JsonReply(R"({"status":1})"));
  struct Case {
    const char* name;
    Source source;
    int result;
  } cases[] = {
      // The library asks again for what a short read left out.
      {"a reader that hands out little at a time", {content, 1000}, VESK_HTTP_SUCCESS},
      {"a reader that fails", {content, LLONG_MAX, 70000}, VESK_HTTP_INVALID_REQUEST},
      {"a reader that ends early", {content, LLONG_MAX, -1, 70000}, VESK_HTTP_INVALID_REQUEST},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(station_.UploadFromReader(L"/P", L"f.bin", 200000, nullptr, &c.source, &Source::Read,
                                        nullptr),
              c.result);
    device_.Enqueue(JsonReply(R"({"status":0,"size":0})"));
    EXPECT_EQ(station_.ChunkedUploadFromReader(L"/P", L"f.bin", L"u", L"/P/t", 200000, 1600000000,
                                               nullptr, &c.source, &Source::Read, nullptr),
              c.result);
    // Only whole bodies reached the device.
    for (const auto& r : Sent()) {
      if (r.method == "POST") {
        EXPECT_TRUE(
            r.body ==
            Head("f.bin") + content +
                Tail(r.target.find("chunked") != std::string::npos ? "chunked_upload" : "Upload"));
      }
    }
  }
}

TEST_F(Transfers, ReaderUploadsCheckTheirArgumentsBeforeSendingAnything) {
  Source source{"abc"};
  const auto upload = [&](const wchar_t* name, long long size, VESK_HTTP_DATA_SOURCE reader) {
    return station_.UploadFromReader(L"/P", name, size, nullptr, &source, reader, nullptr);
  };
  const auto chunked = [&](const wchar_t* name, long long size, long long time,
                           VESK_HTTP_DATA_SOURCE reader) {
    return station_.ChunkedUploadFromReader(L"/P", name, L"u", L"/P/t", size, time, nullptr,
                                            &source, reader, nullptr);
  };
  const struct {
    const char* name;
    std::function<int()> call;
  } refused[] = {
      {"no name", [&] { return upload(L"", 3, &Source::Read); }},
      {"a null name", [&] { return upload(nullptr, 3, &Source::Read); }},
      {"a negative size", [&] { return upload(L"f", -1, &Source::Read); }},
      {"no reader", [&] { return upload(L"f", 3, nullptr); }},
      {"chunked: no name", [&] { return chunked(L"", 3, 1, &Source::Read); }},
      {"chunked: a negative size", [&] { return chunked(L"f", -1, 1, &Source::Read); }},
      {"chunked: no reader", [&] { return chunked(L"f", 3, 1, nullptr); }},
      {"chunked: the time 0", [&] { return chunked(L"f", 3, 0, &Source::Read); }},
      {"chunked: a time before 1970", [&] { return chunked(L"f", 3, -5, &Source::Read); }},
      {"chunked: a time after 9999",
       [&] { return chunked(L"f", 3, 253402300800LL, &Source::Read); }},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(c.call(), VESK_HTTP_INVALID_REQUEST) << c.name;
    EXPECT_EQ(Count(), 0u) << c.name;
  }

  // The first and the last second the device takes go out whole.
  for (const long long time : {1LL, 253402300799LL}) {
    device_.Enqueue(JsonReply(R"({"status":0,"size":0})"));
    device_.Enqueue(JsonReply(R"({"status":1})"));
    EXPECT_EQ(chunked(L"f", 3, time, &Source::Read), VESK_HTTP_SUCCESS);
    EXPECT_NE(Last().target.find("&mtime=" + std::to_string(time) + "&"), std::string::npos);
  }
  // A device that holds more than the reader's size: only the status query goes out.
  device_.Enqueue(JsonReply(R"({"status":0,"size":4})"));
  const std::size_t sent = Count();
  EXPECT_EQ(chunked(L"f", 3, 1, &Source::Read), VESK_HTTP_INVALID_REQUEST);
  EXPECT_EQ(Count(), sent + 1);
}

// ---- ranged reads ----

TEST_F(Transfers, RangedReadAsksForTheDownloadFromItsOffset) {
  const std::string reply = Pattern(500);
  device_.SetDefaultReply({.body = reply});
  const std::string form = "isfolder=0&source_total=1&source_path=";
  struct Case {
    const wchar_t* path;
    long long offset, length;
    std::string body;  // empty: nothing is asked of the device
    int result;
    bool sink = true;
  } cases[] = {
      {L"/Public/a b.txt", 0, -1, form + "%2FPublic&source_file=a%20b.txt", VESK_HTTP_SUCCESS},
      {L"/P/f", 1000, 10, form + "%2FP&source_file=f&offset=1000", VESK_HTTP_SUCCESS},
      // Offsets are carried whole: 4 GiB is not 0.
      {L"/P/f", 4294967306LL, 4, form + "%2FP&source_file=f&offset=4294967306", VESK_HTTP_SUCCESS},
      {L"a&b", 0, 1, form + "a%26b&source_file=a%26b", VESK_HTTP_SUCCESS},
      {L"/P/f", 0, 0, "", VESK_HTTP_SUCCESS},  // nothing to read
      {L"/P/", 0, -1, "", VESK_HTTP_INVALID_REQUEST},
      {L"/f", 0, -1, "", VESK_HTTP_INVALID_REQUEST},
      {nullptr, 0, -1, "", VESK_HTTP_INVALID_REQUEST},
      {L"/P/f", -1, -1, "", VESK_HTTP_INVALID_REQUEST},
      {L"/P/f", 0, -1, "", VESK_HTTP_INVALID_REQUEST, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.empty() ? "refused" : c.body);
    const std::size_t sent = Count();
    Sink sink;
    long long read = -1;
    EXPECT_EQ(station_.ReadFileRange(c.path, c.offset, c.length, nullptr, &sink,
                                     c.sink ? &Sink::Take : nullptr, &Sink::Progress, &read),
              c.result);
    if (c.body.empty()) {
      EXPECT_EQ(Count(), sent);
      EXPECT_EQ(read, 0);
      EXPECT_EQ(sink.bytes, "");
      continue;
    }
    const auto r = Last();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, kUtil + "download&sid=S");
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(*r.Header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
    const std::string expected = reply.substr(0, c.length < 0 ? reply.size() : c.length);
    EXPECT_TRUE(sink.bytes == expected);
    EXPECT_EQ(read, static_cast<long long>(expected.size()));
    // Progress counts the file's bytes from its start.
    ASSERT_FALSE(sink.totals.empty());
    EXPECT_GT(sink.totals.front(), c.offset);
    EXPECT_EQ(sink.totals.back(), c.offset + read);
  }
}

TEST_F(Transfers, RangedReadOutcomesAndTheConnectionTheyLeave) {
  // Larger than a receive: a read that stops early stops before the reply has ended.
  const std::string big = Pattern(4 << 20);
  const std::string small = Pattern(5000);
  enum class Connection { Kept, Closed, Gone };
  int cancel = 0;
  struct Case {
    const char* name;
    ScriptedReply reply;
    long long length;
    Sink sink;
    int result;
    long long delivered;  // -1: some bytes, fewer than the reply's
    Connection connection;
  } cases[] = {
      {"a short file: the reply ends first",
       {.body = small},
       9000,
       {},
       VESK_HTTP_SUCCESS,
       5000,
       Connection::Kept},
      {"the length ends with the reply",
       {.body = small},
       5000,
       {},
       VESK_HTTP_SUCCESS,
       5000,
       Connection::Kept},
      {"to the end",
       {.body = big},
       -1,
       {},
       VESK_HTTP_SUCCESS,
       static_cast<long long>(big.size()),
       Connection::Kept},
      {"the length ends mid-reply",
       {.body = big},
       100,
       {},
       VESK_HTTP_SUCCESS,
       100,
       Connection::Closed},
      {"the sink stops with the reply's last byte",
       {.body = small},
       -1,
       {.stopAt = 5000},
       VESK_HTTP_SUCCESS,
       5000,
       Connection::Kept},
      {"the sink stops mid-reply",
       {.body = big},
       -1,
       {.stopAt = 1},
       VESK_HTTP_SUCCESS,
       -1,
       Connection::Closed},
      {"cancelled mid-reply",
       {.body = big},
       -1,
       {.cancelAt = 1, .cancel = &cancel},
       VESK_HTTP_CANCELLED,
       -1,
       Connection::Closed},
      {"an offset past the end",
       {.status = 416, .headers = {{"Content-Range", "bytes */10"}}, .body = "no such range"},
       -1,
       {},
       VESK_HTTP_BAD_HTTP_STATUS,
       0,
       Connection::Kept},
      {"no such file",
       {.status = 404, .body = "not found"},
       -1,
       {},
       VESK_HTTP_BAD_HTTP_STATUS,
       0,
       Connection::Kept},
      // An error page too long to be one is not read to its end.
      {"a refusal of many megabytes",
       {.status = 500, .body = big},
       -1,
       {},
       VESK_HTTP_BAD_HTTP_STATUS,
       0,
       Connection::Closed},
      // A read cut short is never a success, and says how far it got.
      {"the connection cut after some bytes",
       {.body = small, .declaredLength = 9000},
       -1,
       {},
       VESK_HTTP_SEND_FAILED,
       5000,
       Connection::Gone},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    cancel = 0;
    device_.Enqueue(c.reply);
    long long read = -1;
    EXPECT_EQ(
        station_.ReadFileRange(L"/P/f", 0, c.length, &cancel, &c.sink, &Sink::Take, nullptr, &read),
        c.result);
    EXPECT_EQ(read, static_cast<long long>(c.sink.bytes.size()));
    if (c.delivered >= 0) {
      EXPECT_EQ(read, c.delivered);
    } else {
      EXPECT_GT(read, 0);
      EXPECT_LT(read, static_cast<long long>(c.reply.body.size()));
    }
    // Only a 200 reply's bytes reach the sink, and only the file's.
    EXPECT_TRUE(c.sink.bytes == c.reply.body.substr(0, c.sink.bytes.size()));
    if (c.reply.status != 200) {
      EXPECT_EQ(c.sink.bytes, "");
    }

    // The next exchange shows whether the connection was kept.
    device_.Enqueue({.body = "next"});
    Sink next;
    EXPECT_EQ(station_.ReadFileRange(L"/P/f", 0, -1, nullptr, &next, &Sink::Take, nullptr, nullptr),
              VESK_HTTP_SUCCESS);
    EXPECT_EQ(next.bytes, "next");
    const auto requests = device_.Requests();
    const bool same =
        requests[requests.size() - 1].connection == requests[requests.size() - 2].connection;
    if (c.connection == Connection::Kept) {
      EXPECT_TRUE(same);
    } else if (c.connection == Connection::Closed) {
      EXPECT_FALSE(same);
    }
  }
}

TEST_F(Transfers, StartAndDeleteMapTheDeviceStatuses) {
  struct Case {
    std::string reply;
    int start, remove;
  } cases[] = {
      {R"({"status":0,"upload_id":"u-1"})", VESK_HTTP_SUCCESS, VESK_HTTP_SUCCESS},
      {R"({"status":4})", VESK_HTTP_DEVICE_STATUS_4, VESK_HTTP_SERVER_FAILED},
      {R"({"status":9})", VESK_HTTP_DEVICE_STATUS_9, VESK_HTTP_SERVER_FAILED},
      {R"({"status":5})", VESK_HTTP_SERVER_FAILED, VESK_HTTP_DEVICE_STATUS_5},
      {R"({"status":0})", VESK_HTTP_SERVER_FAILED, VESK_HTTP_SUCCESS},  // a start without an id
      {R"([{"status":0,"upload_id":"u"}])", VESK_HTTP_SERVER_FAILED, VESK_HTTP_SERVER_FAILED},
      {"nope", VESK_HTTP_SERVER_FAILED, VESK_HTTP_SERVER_FAILED},
  };
  for (const Case& c : cases) {
    device_.Enqueue(JsonReply(c.reply));
    std::wstring id = L"kept";
    EXPECT_EQ(station_.StartChunkedUpload(L"/Public/.t mp", nullptr, &id), c.start) << c.reply;
    EXPECT_EQ(Last().target,
              kUtil + "start_chunked_upload&sid=S&upload_root_dir=%2FPublic%2F.t%20mp");
    EXPECT_EQ(id, c.start == VESK_HTTP_SUCCESS ? L"u-1" : L"kept");

    device_.Enqueue(JsonReply(c.reply));
    EXPECT_EQ(station_.DeleteChunkedUploadFile(L"u 1", L"/P/t", nullptr), c.remove) << c.reply;
    EXPECT_EQ(Last().target,
              kUtil + "delete_chunked_upload_file&sid=S&upload_id=u%201&upload_root_dir=%2FP%2Ft");
  }
}

TEST_F(Transfers, AsynchronousTransfersReportProgressAndCompletion) {
  const std::string content = Pattern(70000);
  const std::wstring local = Local("f.bin", &content);
  using Notes = test::FileNotes;
  auto run = [&](const std::function<IVeskHttpFileStationRequestBase*(Notes&)>& start) {
    Notes notes;
    IVeskHttpFileStationRequestBase* request = start(notes);
    EXPECT_NE(request, nullptr);
    EXPECT_TRUE(notes.WaitForCompletions());
    station_.CloseRequest(&request);
    return notes.Notes();
  };

  device_.Enqueue(JsonReply(R"({"status":0,"upload_id":"id7"})"));
  std::wstring id;
  {
    Notes notes;
    IVeskHttpFileStationRequestBase* request =
        station_.StartChunkedUploadAsync(L"/P/t", &notes, &Notes::Record);
    ASSERT_TRUE(notes.WaitForCompletions());
    EXPECT_STREQ(request->GetResultString(), L"id7");
    station_.CloseRequest(&request);
  }

  struct Case {
    std::function<IVeskHttpFileStationRequestBase*(Notes&)> start;
    int progressOperation, operation;
  } cases[] = {
      {[&](Notes& n) {
         device_.Enqueue(JsonReply(R"({"status":1})"));
         return station_.UploadFileAsync(local.c_str(), L"/P", &n, &Notes::Record);
       },
       VESK_HTTP_OP_UPLOAD_FILE, VESK_HTTP_OP_UPLOAD_FILE},
      {[&](Notes& n) {
         device_.Enqueue({.body = content});
         return station_.DownloadFileAsync(L"/P/f.bin", Local("d.bin").c_str(), 0, &n,
                                           &Notes::Record);
       },
       VESK_HTTP_OP_DOWNLOAD_FILE, VESK_HTTP_OP_DOWNLOAD_FILE},
      {[&](Notes& n) {
         device_.Enqueue(JsonReply(R"({"status":0,"size":0})"));
         device_.Enqueue(JsonReply(R"({"status":1})"));
         return station_.ChunkedUploadFileAsync(local.c_str(), L"/P", L"", L"id7", L"/P/t", &n,
                                                &Notes::Record);
       },
       VESK_HTTP_OP_UPLOAD_FILE, VESK_HTTP_OP_CHUNKED_UPLOAD_FILE},
  };
  for (const Case& c : cases) {
    const auto notes = run(c.start);
    ASSERT_GE(notes.size(), 2u);
    long long last = 0;
    for (std::size_t i = 0; i + 1 < notes.size(); ++i) {
      EXPECT_EQ(notes[i].result, VESK_HTTP_IN_PROGRESS);
      EXPECT_EQ(notes[i].operation, c.progressOperation);
      EXPECT_GT(notes[i].bytes, last);
      last = notes[i].bytes;
    }
    EXPECT_EQ(last, 70000);
    EXPECT_EQ(notes.back().result, VESK_HTTP_SUCCESS);
    EXPECT_EQ(notes.back().operation, c.operation);
  }
  EXPECT_TRUE(Read("d.bin") == content);
}

TEST_F(Transfers, AsynchronousReadsAndReaderUploadsRunTheCallersCallbacksOnTheirWorker) {
  const std::string content = Pattern(70000);
  // The notifications, the reader and the sink share the request's user data.
  struct Streams : test::FileNotes {
    Source source;
    std::string taken;
    std::vector<std::thread::id> threads;
    static Streams& Of(void* user) {
      return *static_cast<Streams*>(static_cast<test::FileNotes*>(user));
    }
    static long long Read(void* user, long long offset, char* buffer, long long size) {
      Of(user).threads.push_back(std::this_thread::get_id());
      return Source::Read(&Of(user).source, offset, buffer, size);
    }
    static int Take(void* user, const char* data, long long size) {
      Of(user).threads.push_back(std::this_thread::get_id());
      Of(user).taken.append(data, static_cast<std::size_t>(size));
      return 1;
    }
  };
  struct Case {
    const char* name;
    std::function<IVeskHttpFileStationRequestBase*(Streams&)> start;
    int result, progressOperation, operation;
    std::size_t requests;
  } cases[] = {
      {"a ranged read",
       [&](Streams& s) {
         device_.Enqueue({.body = content});
         return station_.ReadFileRangeAsync(L"/P/f.bin", 0, -1, static_cast<test::FileNotes*>(&s),
                                            &Streams::Take, &Streams::Record);
       },
       VESK_HTTP_SUCCESS, VESK_HTTP_OP_DOWNLOAD_FILE, VESK_HTTP_OP_READ_FILE_RANGE, 1},
      {"an upload from a reader",
       [&](Streams& s) {
         device_.Enqueue(JsonReply(R"({"status":1})"));
         return station_.UploadFromReaderAsync(L"/P", L"f.bin", 70000,
                                               static_cast<test::FileNotes*>(&s), &Streams::Read,
                                               &Streams::Record);
       },
       VESK_HTTP_SUCCESS, VESK_HTTP_OP_UPLOAD_FILE, VESK_HTTP_OP_UPLOAD_FILE, 1},
      {"a chunked upload from a reader",
       [&](Streams& s) {
         device_.Enqueue(JsonReply(R"({"status":0,"size":0})"));
         device_.Enqueue(JsonReply(R"({"status":1})"));
         return station_.ChunkedUploadFromReaderAsync(L"/P", L"f.bin", L"id7", L"/P/t", 70000,
                                                      1600000000, static_cast<test::FileNotes*>(&s),
                                                      &Streams::Read, &Streams::Record);
       },
       VESK_HTTP_SUCCESS, VESK_HTTP_OP_UPLOAD_FILE, VESK_HTTP_OP_CHUNKED_UPLOAD_FILE, 2},
      // Refusals come as the completion, as the synchronous forms return them.
      {"a read without a sink",
       [&](Streams& s) {
         return station_.ReadFileRangeAsync(L"/P/f.bin", 0, -1, static_cast<test::FileNotes*>(&s),
                                            nullptr, &Streams::Record);
       },
       VESK_HTTP_INVALID_REQUEST, 0, VESK_HTTP_OP_READ_FILE_RANGE, 0},
      {"a chunked upload with a time the device does not take",
       [&](Streams& s) {
         return station_.ChunkedUploadFromReaderAsync(L"/P", L"f.bin", L"id7", L"/P/t", 70000, 0,
                                                      static_cast<test::FileNotes*>(&s),
                                                      &Streams::Read, &Streams::Record);
       },
       VESK_HTTP_INVALID_REQUEST, 0, VESK_HTTP_OP_CHUNKED_UPLOAD_FILE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Streams streams;
    streams.source.content = content;
    const std::size_t sent = Count();
    IVeskHttpFileStationRequestBase* request = c.start(streams);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(streams.WaitForCompletions());
    EXPECT_EQ(request->GetBytesRead(), static_cast<long long>(streams.taken.size()));
    station_.CloseRequest(&request);
    EXPECT_EQ(Count(), sent + c.requests);
    const auto notes = streams.Notes();
    EXPECT_EQ(notes.back().result, c.result);
    EXPECT_EQ(notes.back().operation, c.operation);
    for (const std::thread::id thread : streams.threads)
      EXPECT_NE(thread, std::this_thread::get_id());
    if (c.result != VESK_HTTP_SUCCESS) {
      EXPECT_EQ(notes.size(), 1u);
      continue;
    }
    long long last = 0;
    for (std::size_t i = 0; i + 1 < notes.size(); ++i) {
      EXPECT_EQ(notes[i].result, VESK_HTTP_IN_PROGRESS);
      EXPECT_EQ(notes[i].operation, c.progressOperation);
      EXPECT_GT(notes[i].bytes, last);
      last = notes[i].bytes;
    }
    EXPECT_EQ(last, 70000);
    if (c.operation == VESK_HTTP_OP_READ_FILE_RANGE) {
      EXPECT_TRUE(streams.taken == content);
    } else {
      EXPECT_TRUE(Last().body.find(content) != std::string::npos);
    }
  }
}

}  // namespace
}  // namespace vesk
