// Upload, download and chunked upload against the scripted test server: the bytes each
// command sends, the file bytes it writes and the results its replies give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "filestation/FileStation.h"
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
  // Pieces are at most 65535 bytes: the totals show where each one ended.
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
    const std::string content = Pattern(c.size);
    device_.Enqueue(JsonReply(R"({"status":1})"));
    Progress progress;
    ASSERT_EQ(station_.UploadFile(Local("up.bin", &content).c_str(), L"/Public/My Files", nullptr,
                                  &progress, &Progress::Record),
              VESK_HTTP_SUCCESS);
    EXPECT_THAT(progress.Values(), ElementsAreArray(c.totals)) << c.size;
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
  for (const Case& c : cases) {
    device_.Enqueue(JsonReply(c.sizeReply));
    device_.Enqueue(JsonReply(R"({"status":1})"));
    Progress progress;
    ASSERT_EQ(station_.ChunkedUploadFile(local.c_str(), L"/Public/in", c.rename, L"id+1",
                                         L"/Public/.tmp", nullptr, &progress, &Progress::Record),
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
                                 c.renameQuery + "&upload_root_dir=%2FPublic%2F.tmp");
    const std::string body =
        Head("big file.bin") + content.substr(c.offset) + Tail("chunked_upload");
    EXPECT_EQ(*upload.Header("Content-Length"), std::to_string(body.size()));
    EXPECT_TRUE(upload.body == body) << c.sizeReply;
    const auto totals = progress.Values();
    ASSERT_FALSE(totals.empty());
    EXPECT_GT(totals.front(), static_cast<long long>(c.offset));
    EXPECT_EQ(totals.back(), 100000);
    if (c.offset >= 40000) {
      EXPECT_EQ(totals.size(), 1u);  // the rest fits one piece
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

}  // namespace
}  // namespace vesk
