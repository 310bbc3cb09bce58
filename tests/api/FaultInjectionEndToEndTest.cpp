// Faults end to end, through the public API: connections cut at random points of uploads,
// downloads and chunked uploads, resumed until every file is whole; replies slower than the
// time-outs; HTTP errors; malformed and truncated JSON and XML; a device that goes away while
// a copy, move, compress or extract is being followed. Every fault ends in its documented
// code, within bounds, and nothing hangs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/DeviceReplies.h"
#include "support/EmulatedDevice.h"
#include "support/FileDigest.h"
#include "support/Notifications.h"
#include "support/ScriptedServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::test::FileNotes;
using vesk::test::FileSize;
using vesk::test::JsonReply;
using vesk::test::ScriptedReply;
using vesk::test::Sha256;
using vesk::test::XmlReply;

// The seed of the random drop points: VESK_FAULT_SEED, or a fresh one. Printed with every
// failure, so that a failing run can be repeated.
unsigned long long Seed() {
  if (const char* seed = getenv("VESK_FAULT_SEED")) return std::strtoull(seed, nullptr, 10);
  return std::random_device()() | 1;
}

// ---- connections cut at random points, against the emulator ----

class CutTransfers : public vesk::test::EmulatedDeviceTest {
 protected:
  CutTransfers() : EmulatedDeviceTest({"Public"}) {
    char pattern[] = "/tmp/vesk-faults-XXXXXX";
    local_ = mkdtemp(pattern);
  }
  ~CutTransfers() override { fs::remove_all(local_); }

  // The next transfer that carries more than `after` body bytes is cut there.
  void CutAfter(std::uint64_t after) {
    vesk::emulator::TransferFaults faults;
    faults.dropAfterBytes = static_cast<long long>(after);
    faults.dropCount = 1;
    device_->SetTransferFaults(faults);
  }

  // Runs one attempt of a transfer, synchronously or asynchronously as the generator picks.
  int Attempt(const std::function<int()>& sync,
              const std::function<IVeskHttpFileStationRequestBase*(FileNotes*)>& async,
              IVeskHttpFileStation* files) {
    if (std::uniform_int_distribution<int>(0, 1)(rng_) == 0) return sync();
    FileNotes notes;
    IVeskHttpFileStationRequestBase* request = async(&notes);
    if (!request) return -1;
    EXPECT_TRUE(notes.WaitForCompletions(1, 120s));
    files->CloseRequest(&request);
    const auto all = notes.Notes();
    return all.empty() ? -1 : all.back().result;
  }

  std::uint64_t Below(std::uint64_t limit) {
    return std::uniform_int_distribution<std::uint64_t>(0, limit == 0 ? 0 : limit - 1)(rng_);
  }

  fs::path local_;
  const unsigned long long seed_ = Seed();
  std::mt19937_64 rng_{seed_};
};

TEST_F(CutTransfers, EveryFileArrivesWholeHoweverOftenItsConnectionIsCut) {
  SCOPED_TRACE("seed " + std::to_string(seed_) + " (VESK_FAULT_SEED repeats it)");
  int transfers = 0, attempts = 0, cuts = 0;
  for (const int secure : {0, 1}) {
    CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", secure, L""));
    server.SetFileStationPortNum(device_->Port());
    server.SetFileStationSSLPortNum(device_->TlsPort());
    ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
    IVeskHttpFileStation* files = server.OpenFileStation();
    for (const std::uint64_t size : {std::uint64_t{1}, std::uint64_t{65543}, std::uint64_t{700001},
                                     std::uint64_t{(2 << 20) + 3}}) {
      const std::string tag = std::to_string(secure) + "-" + std::to_string(size);
      SCOPED_TRACE(tag);
      const fs::path source = local_ / ("source-" + tag);
      {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng_());
        std::ofstream(source, std::ios::binary) << bytes;
      }
      const std::wstring folder = L"/Public";
      // Each kind of transfer is cut a random number of times, each time at a random point of
      // what is left of its body, then runs to its end.
      const auto run = [&](const char* kind, const std::function<std::uint64_t()>& left,
                           const std::function<int()>& attempt,
                           const std::function<void()>& afterCut) {
        SCOPED_TRACE(kind);
        ++transfers;
        const int cutsWanted = std::uniform_int_distribution<int>(1, 4)(rng_);
        for (int i = 0;; ++i) {
          ASSERT_LT(i, 20) << "never finished";
          if (i < cutsWanted) CutAfter(Below(left()));
          ++attempts;
          const int result = attempt();
          device_->SetTransferFaults({});
          if (result == VESK_HTTP_SUCCESS) break;
          ASSERT_EQ(result, VESK_HTTP_SEND_FAILED);
          ++cuts;
          afterCut();
        }
      };

      // A whole-file upload starts again; a cut one leaves nothing behind.
      const fs::path uploaded = root_ / "Public" / source.filename();
      const std::wstring sourcePath = source.wstring();
      run(
          "upload", [&] { return size + 512; },
          [&] {
            return Attempt(
                [&] {
                  return files->UploadFile(sourcePath.c_str(), folder.c_str(), nullptr, nullptr,
                                           nullptr);
                },
                [&](FileNotes* n) {
                  return files->UploadFileAsync(sourcePath.c_str(), folder.c_str(), n,
                                                &FileNotes::Record);
                },
                files);
          },
          [&] { EXPECT_FALSE(fs::exists(uploaded)); });
      EXPECT_EQ(Sha256(uploaded), Sha256(source));

      // A download resumes from what the local file holds, which is always the file's start.
      const fs::path downloaded = local_ / ("downloaded-" + tag);
      const std::wstring devicePath = L"/Public/" + source.filename().wstring();
      const std::wstring downloadedPath = downloaded.wstring();
      run(
          "download", [&] { return size - FileSize(downloaded); },
          [&] {
            const auto offset = static_cast<long long>(FileSize(downloaded));
            return Attempt(
                [&] {
                  return files->DownloadFile(devicePath.c_str(), downloadedPath.c_str(), offset,
                                             nullptr, nullptr, nullptr);
                },
                [&](FileNotes* n) {
                  return files->DownloadFileAsync(devicePath.c_str(), downloadedPath.c_str(),
                                                  offset, n, &FileNotes::Record);
                },
                files);
          },
          [&] { EXPECT_EQ(Sha256(downloaded), Sha256(uploaded, 0, FileSize(downloaded))); });
      EXPECT_EQ(Sha256(downloaded), Sha256(source));

      // A chunked upload sends what the device does not hold yet; what it holds after a cut is
      // the file's start.
      std::wstring id;
      ASSERT_EQ(files->StartChunkedUpload(folder.c_str(), nullptr, &id), VESK_HTTP_SUCCESS);
      const std::wstring name = L"chunked-" + source.filename().wstring();
      const fs::path chunked = root_ / "Public" / fs::path(name);
      const fs::path held = root_ / "Public" / fs::path(L".vesk-chunked-" + id);
      run(
          "chunked upload", [&] { return size + 512; },
          [&] {
            return Attempt(
                [&] {
                  return files->ChunkedUploadFile(sourcePath.c_str(), folder.c_str(), name.c_str(),
                                                  id.c_str(), folder.c_str(), nullptr, nullptr,
                                                  nullptr);
                },
                [&](FileNotes* n) {
                  return files->ChunkedUploadFileAsync(sourcePath.c_str(), folder.c_str(),
                                                       name.c_str(), id.c_str(), folder.c_str(), n,
                                                       &FileNotes::Record);
                },
                files);
          },
          [&] {
            ASSERT_TRUE(fs::exists(held));
            EXPECT_EQ(Sha256(held), Sha256(source, 0, FileSize(held)));
          });
      EXPECT_EQ(Sha256(chunked), Sha256(source));
      fs::remove(uploaded);
      fs::remove(chunked);
    }
    ASSERT_EQ(server.CloseFileStation(&files), VESK_HTTP_SUCCESS);
  }
  std::printf(
      "fault injection: %d transfers, %d attempts, %d cut and resumed, every file whole "
      "(seed %llu)\n",
      transfers, attempts, cuts, seed_);
  EXPECT_GT(cuts, 0);
}

// ---- slow, failing and broken devices, scripted ----

// A file station and a system service logged in to a scripted device, with short time-outs.
class ScriptedFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vesk-faults-XXXXXX";
    local_ = mkdtemp(pattern);
    std::ofstream(local_ / "up.bin", std::ios::binary) << std::string(100000, 'u');
    device_.Enqueue(XmlReply("<reply><authPassed>1</authPassed><authSid>sys</authSid></reply>"));
    device_.Enqueue(JsonReply(R"({"status":0,"sid":"files"})"));
    server_ = vesk::test::ServerAt(device_);
    server_.SetTimeouts(500);
    ASSERT_EQ(server_.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    ASSERT_EQ(server_.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
    files_ = server_.OpenFileStation();
    system_ = server_.OpenSystem();
    // A request the test did not script is answered with an error it would notice.
    device_.SetDefaultReply({.status = 418});
  }
  void TearDown() override {
    device_.SetDefaultReply({});
    device_.Enqueue(JsonReply(R"({"status":1})"));
    if (files_) {
      EXPECT_EQ(server_.CloseFileStation(&files_), VESK_HTTP_SUCCESS);
    }
    if (system_) {
      EXPECT_EQ(server_.CloseSystem(&system_), VESK_HTTP_SUCCESS);
    }
    fs::remove_all(local_);
  }

  std::wstring Local(const char* name) const { return (local_ / name).wstring(); }

  vesk::test::ScriptedServer device_;
  CVeskHttpServer server_;
  IVeskHttpFileStation* files_ = nullptr;
  IVeskHttpSystem* system_ = nullptr;
  fs::path local_;
};

// An operation of either service, and the code it gives for a reply that does not parse.
struct Operation {
  const char* name;
  std::function<int(IVeskHttpFileStation*, IVeskHttpSystem*, const fs::path& local)> run;
  int malformed;  // -1: the operation does not read its reply
};

const std::vector<Operation>& Operations() {
  using F = IVeskHttpFileStation*;
  using S = IVeskHttpSystem*;
  static const std::vector<Operation> operations = {
      {"GetFileList",
       [](F f, S, const fs::path&) {
         std::vector<CVeskHttpFileEntry> list;
         return static_cast<int>(f->GetFileList(L"/P", 0, 10, nullptr, &list));
       },
       VESK_HTTP_SERVER_FAILED},
      {"GetFileStatus",
       [](F f, S, const fs::path&) {
         CVeskHttpFileStatus status;
         return static_cast<int>(f->GetFileStatus(L"/P/a", nullptr, &status));
       },
       VESK_HTTP_SERVER_FAILED},
      {"CreateFolder",
       [](F f, S, const fs::path&) {
         return static_cast<int>(f->CreateFolder(L"/P", L"n", nullptr));
       },
       VESK_HTTP_SERVER_FAILED},
      {"RenameFile",
       [](F f, S, const fs::path&) {
         return static_cast<int>(f->RenameFile(L"/P/a", L"b", nullptr));
       },
       VESK_HTTP_SERVER_FAILED},
      {"CopyFile",
       [](F f, S, const fs::path&) {
         return static_cast<int>(f->CopyFile(L"/P/a", L"/Q", 0, nullptr, nullptr, nullptr));
       },
       VESK_HTTP_SERVER_FAILED},
      {"CompressFile",
       [](F f, S, const fs::path&) {
         return static_cast<int>(f->CompressFile(L"a.zip", L"/P", 1, {L"a"}, 0, L"", 0, -1, 0,
                                                 nullptr, nullptr, nullptr));
       },
       VESK_HTTP_SERVER_FAILED},
      {"GetExtractList",
       [](F f, S, const fs::path&) {
         std::vector<CVeskHttpExtractEntry> list;
         return static_cast<int>(f->GetExtractList(L"/P/a.zip", 0, 10, nullptr, &list));
       },
       VESK_HTTP_SERVER_FAILED},
      {"CreateShareLink",
       [](F f, S, const fs::path&) {
         CVeskHttpShareLink link;
         return static_cast<int>(
             f->CreateShareLink(CVeskHttpShareLinkInfo(L"/P/a", L"", L"0", 0), nullptr, &link));
       },
       VESK_HTTP_SERVER_FAILED},
      {"GetShareLinkList",
       [](F f, S, const fs::path&) {
         std::vector<CVeskHttpShareLink> links;
         return static_cast<int>(f->GetShareLinkList(10, nullptr, &links));
       },
       VESK_HTTP_SERVER_FAILED},
      {"GetDomainIPList",
       [](F f, S, const fs::path&) {
         CVeskHttpNASInfo info;
         return static_cast<int>(f->GetDomainIPList(nullptr, &info));
       },
       VESK_HTTP_SERVER_FAILED},
      {"StartChunkedUpload",
       [](F f, S, const fs::path&) {
         std::wstring id;
         return static_cast<int>(f->StartChunkedUpload(L"/P", nullptr, &id));
       },
       VESK_HTTP_SERVER_FAILED},
      {"UploadFile",
       [](F f, S, const fs::path& local) {
         return static_cast<int>(
             f->UploadFile((local / "up.bin").wstring().c_str(), L"/P", nullptr, nullptr, nullptr));
       },
       VESK_HTTP_SERVER_FAILED},
      {"DownloadFile",
       [](F f, S, const fs::path& local) {
         return static_cast<int>(f->DownloadFile(L"/P/a", (local / "down.bin").wstring().c_str(), 0,
                                                 nullptr, nullptr, nullptr));
       },
       -1},
      {"GetSystemSetting",
       [](F, S s, const fs::path&) {
         CVeskHttpSystemSettingInfo settings;
         return static_cast<int>(s->GetSystemSetting(nullptr, &settings));
       },
       VESK_HTTP_SERVER_FAILED},
      {"EnableWebFileManager",
       [](F, S s, const fs::path&) { return static_cast<int>(s->EnableWebFileManager(nullptr)); },
       -1},
  };
  return operations;
}

TEST_F(ScriptedFaults, ErrorsAndBrokenRepliesEndInTheirCodes) {
  struct Reply {
    const char* name;
    ScriptedReply reply;
    int result;  // -2: the operation's code for a reply that does not parse
  };
  const std::string json = R"({"status":1,"success":"true","total":3,"datas":[{"filename":"a"}]})";
  const std::vector<Reply> replies = {
      {"HTTP 500",
       {.status = 500, .body = "<html>Internal Server Error</html>"},
       VESK_HTTP_BAD_HTTP_STATUS},
      {"HTTP 502 without a body", {.status = 502}, VESK_HTTP_BAD_HTTP_STATUS},
      {"cut short of its length", {.body = json, .declaredLength = 4096}, VESK_HTTP_SEND_FAILED},
      {"no reply at all", {.dropConnection = true}, VESK_HTTP_SEND_FAILED},
      {"empty", JsonReply(""), -2},
      {"an HTML page", {.body = "<html><body>Service unavailable</body></html>"}, -2},
      {"truncated JSON", JsonReply(json.substr(0, 40)), -2},
      {"truncated XML",
       XmlReply("<?xml version=\"1.0\" encoding=\"UTF-8\"?><reply><authPassed>1</authPassed>"
                "<linkURL>http://x/"),
       -2},
      {"binary bytes", {.body = std::string("\0\xff\xfe\x80{[<", 7)}, -2},
  };
  for (const Operation& op : Operations()) {
    for (const Reply& r : replies) {
      const int expected = r.result == -2 ? op.malformed : r.result;
      if (expected == -1) continue;  // the operation does not read that reply
      SCOPED_TRACE(std::string(op.name) + " answered " + r.name);
      // Every request gets the reply, also one the HTTP engine sends again by itself.
      device_.SetDefaultReply(r.reply);
      fs::remove(local_ / "down.bin");
      EXPECT_EQ(op.run(files_, system_, local_), expected);
      // A refused download writes nothing into the local file.
      if (expected == VESK_HTTP_BAD_HTTP_STATUS) {
        EXPECT_EQ(FileSize(local_ / "down.bin"), 0u);
      }
    }
  }
  // Logins read their replies too: a broken one refuses the login, an error is an error.
  for (const auto type : {VESK_HTTP_STATION_FILE_STATION, VESK_HTTP_STATION_SYSTEM}) {
    for (const Reply& r : replies) {
      SCOPED_TRACE(std::string("login answered ") + r.name);
      CVeskHttpServer other = vesk::test::ServerAt(device_);
      device_.SetDefaultReply(r.reply);
      EXPECT_EQ(other.Login(type), r.result == -2 ? VESK_HTTP_LOGIN_FAILED : r.result);
    }
  }
  device_.SetDefaultReply({.status = 418});
}

TEST_F(ScriptedFaults, RepliesSlowerThanTheTimeOutEndTheExchange) {
  // The device thinks for half a minute: before its headers, or after a 200 status line.
  const std::vector<std::pair<const char*, ScriptedReply>> replies = {
      {"no headers", {.delayBeforeHeaders = 30s}},
      {"a 200 status and no body",
       {.body = R"({"status":1,"success":"true"})", .delayBeforeBody = 30s}},
  };
  for (const Operation& op : Operations()) {
    for (const auto& [name, reply] : replies) {
      SCOPED_TRACE(std::string(op.name) + ": " + name);
      device_.SetDefaultReply(reply);
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(op.run(files_, system_, local_), VESK_HTTP_SEND_FAILED);
      // Half a second of silence ends it; the bound is wide for a loaded machine.
      EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
      if (std::string(op.name) == "DownloadFile") {
        EXPECT_EQ(FileSize(local_ / "down.bin"), 0u);
      }
    }
  }
  device_.SetDefaultReply({.status = 418});
}

// The device answers the start of a job and its first status query, then goes away: it drops
// every connection, or it stops answering. Following gives up after five failed queries.
TEST_F(ScriptedFaults, ADeviceThatGoesAwayDuringAJobEndsItsFollowing) {
  struct Job {
    const char* name;
    std::string start, running;
    std::function<int(IVeskHttpFileStation*, int*, VESK_HTTP_PROGRESS_CALLBACK)> sync;
    std::function<IVeskHttpFileStationRequestBase*(IVeskHttpFileStation*, FileNotes*)> async;
  };
  const std::vector<const wchar_t*> names = {L"a"};
  const std::vector<Job> jobs = {
      {"copy", R"({"status":1,"pid":9})", R"({"status":1,"filename":"a","percent":10})",
       [](IVeskHttpFileStation* f, int* flag, VESK_HTTP_PROGRESS_CALLBACK p) {
         return static_cast<int>(f->CopyFile(L"/P/a", L"/Q", 0, flag, nullptr, p));
       },
       [](IVeskHttpFileStation* f, FileNotes* n) {
         return f->CopyFileAsync(L"/P/a", L"/Q", 0, n, &FileNotes::Record);
       }},
      {"move", R"({"status":1,"pid":"9"})", R"({"status":1,"filename":"a","percent":10})",
       [](IVeskHttpFileStation* f, int* flag, VESK_HTTP_PROGRESS_CALLBACK p) {
         return static_cast<int>(f->MoveFile(L"/P/a", L"/Q", 0, flag, nullptr, p));
       },
       [](IVeskHttpFileStation* f, FileNotes* n) {
         return f->MoveFileAsync(L"/P/a", L"/Q", 0, n, &FileNotes::Record);
       }},
      {"compress", R"({"status":1,"pid":9})", R"({"status":6,"percent":0})",
       [&names](IVeskHttpFileStation* f, int* flag, VESK_HTTP_PROGRESS_CALLBACK p) {
         return static_cast<int>(
             f->CompressFile(L"a.zip", L"/P", 1, names, 0, L"", 0, -1, 0, flag, nullptr, p));
       },
       [&names](IVeskHttpFileStation* f, FileNotes* n) {
         return f->CompressFileAsync(L"a.zip", L"/P", 1, names, 0, L"", 0, -1, 0, n,
                                     &FileNotes::Record);
       }},
      {"extract", R"({"status":1,"pid":9})", R"({"status":6,"percent":0})",
       [](IVeskHttpFileStation* f, int* flag, VESK_HTTP_PROGRESS_CALLBACK p) {
         return static_cast<int>(
             f->ExtractFile(L"/P/a.zip", L"/Q", L"", 0, 0, {}, 1, 1, flag, nullptr, p));
       },
       [](IVeskHttpFileStation* f, FileNotes* n) {
         return f->ExtractFileAsync(L"/P/a.zip", L"/Q", L"", 0, 0, {}, 1, 1, n, &FileNotes::Record);
       }},
  };
  const std::vector<std::pair<const char*, ScriptedReply>> ways = {
      {"drops every connection", {.dropConnection = true}},
      {"stops answering", {.delayBeforeHeaders = 30s}},
  };
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    const Job& job = jobs[j];
    for (std::size_t w = 0; w < ways.size(); ++w) {
      const auto& [way, gone] = ways[w];
      {
        // Each job goes away both ways, once followed synchronously and once asynchronously.
        const bool async = (j + w) % 2 == 1;
        SCOPED_TRACE(std::string(job.name) + (async ? " async, " : " sync, ") + "the device " +
                     way);
        const std::size_t before = device_.Requests().size();
        device_.Enqueue(JsonReply(job.start));
        device_.Enqueue(JsonReply(job.running));
        device_.SetDefaultReply(gone);
        const auto start = std::chrono::steady_clock::now();
        int result;
        if (async) {
          FileNotes notes;
          IVeskHttpFileStationRequestBase* request = job.async(files_, &notes);
          ASSERT_NE(request, nullptr);
          ASSERT_TRUE(notes.WaitForCompletions(1, 60s));
          result = notes.Notes().back().result;
          files_->CloseRequest(&request);
        } else {
          result = job.sync(files_, nullptr, [](void*, long long) {});
        }
        const auto waited = std::chrono::steady_clock::now() - start;
        device_.SetDefaultReply({.status = 418});
        EXPECT_EQ(result, VESK_HTTP_SEND_FAILED);
        // Five failed queries spaced by growing pauses (about 2.5 s) and their time-outs; the
        // bound is wide for a loaded machine.
        EXPECT_LT(waited, 40s);
        const std::size_t made = device_.Requests().size() - before;
        EXPECT_GE(made, 1u + 1u + 5u);
        EXPECT_LE(made, 1u + 1u + 10u);  // the HTTP engine may resend one on a fresh connection
      }
    }
  }
}

}  // namespace
