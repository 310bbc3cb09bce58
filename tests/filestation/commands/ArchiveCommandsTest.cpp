// Compress, extract and the archive listing against the scripted test server: the bytes each
// operation sends, how a job is followed and cancelled, and the results the replies give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filestation/FileStation.h"
#include "filestation/Threads.h"
#include "support/DeviceReplies.h"
#include "support/LoggedInStation.h"
#include "support/Notifications.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using test::JsonReply;
using test::ScriptedReply;
using test::ScriptedServer;
using Notes = test::FileNotes;
using Progress = test::ProgressLog;

const std::string kUtil = "/cgi-bin/filemanager/utilRequest.cgi?func=";
// Two names that need their own encoding: form delimiters, a percent sign, a space and
// non-ASCII letters (which go out as UTF-8).
const std::vector<const wchar_t*> kNames = {L"a&b=c.txt", L"50% \x00e9t\x00e9.doc"};
const std::string kEncodedNames[] = {"a%26b%3Dc.txt", "50%25%20\xc3\xa9t\xc3\xa9.doc"};

// Compression or extraction of "/P/a.zip", with or without following the job.
enum class Job { Compress, Extract };
const Job kJobs[] = {Job::Compress, Job::Extract};
const char* Name(Job job) { return job == Job::Compress ? "compress" : "extract"; }

ScriptedReply Status(int status) {
  return JsonReply(R"({"status":)" + std::to_string(status) + "}");
}

class Archives : public test::LoggedInStationTest {
 protected:
  Archives() : LoggedInStationTest(L"PC") {}

  int Run(Job job, int* flag = nullptr, Progress* progress = nullptr) {
    const auto callback = progress ? &Progress::Record : nullptr;
    return job == Job::Compress ? station_.CompressFile(L"a.zip", L"/P", 1, {L"a"}, 0, L"", 0, 0, 0,
                                                        flag, progress, callback)
                                : station_.ExtractFile(L"/P/a.zip", L"/D", L"", 0, 0, {}, 0, 0,
                                                       flag, progress, callback);
  }
  IVeskHttpFileStationRequestBase* RunAsync(Job job, Notes* notes) {
    return job == Job::Compress ? station_.CompressFileAsync(L"a.zip", L"/P", 1, {L"a"}, 0, L"", 0,
                                                             0, 0, notes, &Notes::Record)
                                : station_.ExtractFileAsync(L"/P/a.zip", L"/D", L"", 0, 0, {}, 0, 0,
                                                            notes, &Notes::Record);
  }
  static std::string StatusTarget(Job job, const std::string& pid) {
    return kUtil + "get_" + Name(job) + "_status&sid=S&pid=" + pid;
  }
  static std::string CancelTarget(Job job, const std::string& pid) {
    return kUtil + "cancel_" + Name(job) + "&sid=S&pid=" + pid;
  }
};

TEST_F(Archives, EveryOperationSendsItsRequest) {
  const std::string names =
      "compress_file=" + kEncodedNames[0] + "&compress_file=" + kEncodedNames[1] + "&";
  const std::string parts =
      "part_file=" + kEncodedNames[0] + "&part_file=" + kEncodedNames[1] + "&";
  struct Case {
    std::function<void(FileStation&)> call;
    std::string target, body;  // a body: a form POST; none: a GET
  } cases[] = {
      {[](FileStation& s) {
         s.CompressFile(L"My Archive.zip", L"/Public/Docs", 2, kNames, 0, L"p&w", 0, 0, 0, nullptr,
                        nullptr, nullptr);
       },
       kUtil + "compress&sid=S",
       "compress_name=My%20Archive.zip&type=zip&level=normal&pwd=p%26w&encryipt=AES256"
       "&path=%2FPublic%2FDocs&total=2&mode=1&" +
           names},
      {[](FileStation& s) {
         s.CompressFile(L"b.7z", L"/P", -3, {}, 1, L"", 1, 1, 1, nullptr, nullptr, nullptr);
       },
       kUtil + "compress&sid=S",
       "compress_name=b.7z&type=7z&level=large&pwd=&encryipt=ZipCrypto&path=%2FP&total=-3"
       "&mode=2&"},
      {[](FileStation& s) {
         s.CompressFile(L"c", L"/P", 0, {}, 2, L"", 2, -1, 2, nullptr, nullptr, nullptr);
       },
       kUtil + "compress&sid=S",
       "compress_name=c&type=&level=fast&pwd=&encryipt=&path=%2FP&total=0&mode=3&"},
      {[](FileStation& s) {
         s.CompressFile(L"d", L"/P", 0, {}, -1, L"", 3, 2, 3, nullptr, nullptr, nullptr);
       },
       kUtil + "compress&sid=S",
       "compress_name=d&type=&level=&pwd=&encryipt=&path=%2FP&total=0&mode=4&"},
      {[](FileStation& s) {
         s.CompressFile(L"e", L"/P", 0, {}, 0, L"", 0, 0, 4, nullptr, nullptr, nullptr);
       },
       kUtil + "compress&sid=S",
       "compress_name=e&type=zip&level=normal&pwd=&encryipt=AES256&path=%2FP&total=0&mode=&"},
      {[](FileStation& s) {
         s.ExtractFile(L"/Public/a b.zip", L"/Out", L"pw", 0, 5, kNames, 0, 0, nullptr, nullptr,
                       nullptr);
       },
       kUtil + "extract&sid=S",
       "extract_file=%2FPublic%2Fa%20b.zip&dest_path=%2FOut&pwd=pw&mode=extract_all"
       "&overwrite=0&path_mode=none&code_page=UTF-8&part_total=0&"},
      {[](FileStation& s) {
         s.ExtractFile(L"Public\\a.zip", L"/D", L"", 1, 2, kNames, 7, 1, nullptr, nullptr, nullptr);
       },
       kUtil + "extract&sid=S",
       "extract_file=Public%2Fa.zip&dest_path=%2FD&pwd=&mode=extract_part&overwrite=1"
       "&path_mode=full&code_page=UTF-8&part_total=2&" +
           parts},
      {[](FileStation& s) {
         s.ExtractFile(L"a.zip", L"/D", L"", 2, 2, kNames, -1, 2, nullptr, nullptr, nullptr);
       },
       kUtil + "extract&sid=S",
       "extract_file=a.zip%2Fa.zip&dest_path=%2FD&pwd=&mode=&overwrite=1&path_mode="
       "&code_page=UTF-8&part_total=0&"},
      {[](FileStation& s) { s.GetExtractList(L"/Public/a b.7z", 10, 50, nullptr, nullptr); },
       kUtil + "get_extract_list&sid=S&path=/&extract_file=%2FPublic%2Fa%20b.7z&code_page=UTF-8"
               "&start=10&limit=50&sort=filename&dir=ASC",
       ""},
      {[](FileStation& s) { s.GetExtractList(L"x\\y&z.zip", 0, -1, nullptr, nullptr); },
       kUtil + "get_extract_list&sid=S&path=/&extract_file=x%2Fy%26z.zip&code_page=UTF-8"
               "&start=0&limit=-1&sort=filename&dir=ASC",
       ""},
      {[](FileStation& s) { s.GetExtractList(L"solo.zip", 0, 1, nullptr, nullptr); },
       kUtil + "get_extract_list&sid=S&path=/&extract_file=solo.zip%2Fsolo.zip&code_page=UTF-8"
               "&start=0&limit=1&sort=filename&dir=ASC",
       ""},
  };
  for (const Case& c : cases) {
    const std::size_t before = Count();
    c.call(station_);
    ASSERT_EQ(Count(), before + 1) << c.target;
    const auto r = Last();
    EXPECT_EQ(r.method, c.body.empty() ? "GET" : "POST") << c.target;
    EXPECT_EQ(r.target, c.target);
    EXPECT_EQ(r.body, c.body) << c.target;
    EXPECT_EQ(r.Header("Cache-Control"), nullptr) << c.target;
    if (c.body.empty()) {
      EXPECT_EQ(r.Header("Content-Type"), nullptr) << c.target;
    } else {
      EXPECT_EQ(*r.Header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
      EXPECT_EQ(*r.Header("Content-Length"), std::to_string(c.body.size()));
    }
  }
}

TEST_F(Archives, JobStartRepliesMapToResults) {
  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":1,"pid":7})"), 0},
      {JsonReply(R"({"status":"1","pid":7})"), 0},
      {JsonReply(R"({"status":2})"), VESK_HTTP_DEVICE_STATUS_2},
      {JsonReply(R"({"status":4})"), VESK_HTTP_DEVICE_STATUS_4},
      {JsonReply(R"({"status":5})"), VESK_HTTP_DEVICE_STATUS_5},
      // Any other answer started nothing: never taken for success.
      {JsonReply(R"({"status":3})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"pid":12})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("x"), VESK_HTTP_SERVER_FAILED},
      {{.status = 500}, VESK_HTTP_BAD_HTTP_STATUS},
  };
  for (const Case& c : cases) {
    for (const Job job : kJobs) {
      const std::size_t before = Count();
      device_.Enqueue(c.reply);
      EXPECT_EQ(Run(job), c.result) << Name(job) << " " << c.reply.body;
      // Without a progress callback the job is not followed.
      EXPECT_EQ(Count(), before + 1) << Name(job) << " " << c.reply.body;
    }
  }
}

TEST_F(Archives, FollowsTheJobToItsEnd) {
  struct Case {
    const char* name;
    std::string start;
    std::vector<ScriptedReply> polls;
    int result;
    std::vector<long long> reported;
    std::string pid;
  } cases[] = {
      {"running, then done",
       R"({"status":1,"pid":7})",
       {Status(6), Status(6), Status(6), Status(1)},
       0,
       {0, 0, 0, 100},
       "7"},
      {"no pid: job 0", R"({"status":1})", {Status(1)}, 0, {100}, "0"},
      {"a first poll not parsed ends it", R"({"status":1,"pid":3})", {JsonReply("x")}, 50, {}, "3"},
      {"a first poll refused ends it", R"({"status":1,"pid":3})", {{.status = 500}}, 101, {}, "3"},
      {"status 0 ends it", R"({"status":1,"pid":3})", {Status(6), Status(0)}, 50, {0}, "3"},
      {"no status ends it", R"({"status":1,"pid":3})", {Status(6), JsonReply("{}")}, 50, {0}, "3"},
      {"a later failure is retried",
       R"({"status":1,"pid":3})",
       {Status(6), JsonReply("x"), Status(3), Status(1)},
       0,
       {0, 100},
       "3"},
  };
  for (const Case& c : cases) {
    for (const Job job : kJobs) {
      const std::size_t before = Count();
      device_.Enqueue(JsonReply(c.start));
      for (const auto& reply : c.polls) device_.Enqueue(reply);
      Progress progress;
      EXPECT_EQ(Run(job, nullptr, &progress), c.result) << Name(job) << ": " << c.name;
      EXPECT_EQ(progress.Values(), c.reported) << Name(job) << ": " << c.name;
      EXPECT_EQ(Count(), before + 1 + c.polls.size()) << Name(job) << ": " << c.name;
      EXPECT_EQ(Last().target, StatusTarget(job, c.pid)) << c.name;
    }
  }
}

TEST_F(Archives, PollingIsSpacedAndGivesUpOnAFailingDevice) {
  // A device that stopped answering, and one that keeps reporting a status that is neither
  // running nor done: both end after five failed polls in a row.
  struct Case {
    Job job;
    ScriptedReply failure;
    int result;
  } cases[] = {
      {Job::Compress, {.status = 503}, VESK_HTTP_BAD_HTTP_STATUS},
      {Job::Extract, Status(3), VESK_HTTP_SERVER_FAILED},
  };
  for (const Case& c : cases) {
    const std::size_t before = Count();
    device_.Enqueue(JsonReply(R"({"status":1,"pid":9})"));
    device_.Enqueue(Status(6));
    device_.SetDefaultReply(c.failure);
    Progress progress;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(c.job, nullptr, &progress), c.result) << Name(c.job);
    EXPECT_EQ(Count(), before + 1 + 1 + 5) << Name(c.job);
    // The pauses between the polls grow: 100 + 200 + 400 + 800 + 1000 ms at least.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 2400ms) << Name(c.job);
    EXPECT_EQ(progress.Values(), std::vector<long long>{0}) << Name(c.job);
  }
}

TEST_F(Archives, CancelStopsTheJobOnTheDevice) {
  // The flag is set from the progress callback on the first report, so the sequence is exact.
  // Flag 1 cancels: the device is asked to stop the job (although the flag is set) and the
  // result is 2 whatever it answers. Another value only stops following the job, which was
  // started: success.
  for (const Job job : kJobs) {
    for (const int flagValue : {1, 2}) {
      const std::size_t before = Count();
      device_.Enqueue(JsonReply(R"({"status":1,"pid":5})"));
      device_.Enqueue(Status(6));
      if (flagValue == 1) device_.Enqueue(Status(1));  // the cancel request's reply
      int flag = 0;
      Progress progress;
      progress.SetFlagOnReport(&flag, flagValue);
      const int expected = flagValue == 1 ? VESK_HTTP_CANCELLED : VESK_HTTP_SUCCESS;
      EXPECT_EQ(Run(job, &flag, &progress), expected) << Name(job) << " " << flagValue;
      EXPECT_EQ(progress.Values(), std::vector<long long>{0});
      const auto requests = device_.Requests();
      ASSERT_EQ(requests.size() - 1, before + (flagValue == 1 ? 3 : 2));
      EXPECT_EQ(requests[before + 2].target, StatusTarget(job, "5"));
      if (flagValue == 1) {
        EXPECT_EQ(requests.back().target, CancelTarget(job, "5"));
      }
    }
  }
}

TEST_F(Archives, CancelFromAnotherThreadIsPrompt) {
  device_.SetDefaultReply(Status(6));
  for (const Job job : kJobs) {
    int flag = 0;
    Progress progress;
    // Cancelled after the start and three polls.
    const std::size_t cancelAt = device_.Requests().size() + 4;
    std::thread canceller([&] {
      device_.WaitForRequests(cancelAt, 30s);
      StoreFlag(&flag, 1);
    });
    device_.Enqueue(JsonReply(R"({"status":1,"pid":9})"));
    const auto start = std::chrono::steady_clock::now();
    const int result = Run(job, &flag, &progress);
    canceller.join();
    EXPECT_EQ(result, VESK_HTTP_CANCELLED) << Name(job);
    // The polls before the cancel take well under two seconds; the cancel ends a pause at once.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s) << Name(job);
    EXPECT_EQ(Last().target, CancelTarget(job, "9")) << Name(job);
  }
}

TEST_F(Archives, AsynchronousFormsNotifyAndCancel) {
  for (const Job job : kJobs) {
    const int operation =
        job == Job::Compress ? VESK_HTTP_OP_COMPRESS_FILE : VESK_HTTP_OP_EXTRACT_FILE;
    // Followed to its end: progress notes, then one completion.
    device_.Enqueue(JsonReply(R"({"status":1,"pid":4})"));
    device_.Enqueue(Status(6));
    device_.Enqueue(Status(1));
    Notes notes;
    IVeskHttpFileStationRequestBase* request = RunAsync(job, &notes);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(notes.WaitForCompletions());
    station_.CloseRequest(&request);
    auto got = notes.Notes();
    ASSERT_EQ(got.size(), 3u) << Name(job);
    EXPECT_EQ(got[0].result, VESK_HTTP_IN_PROGRESS);
    EXPECT_EQ(got[0].percent, 0);
    EXPECT_EQ(got[0].request, nullptr);
    EXPECT_EQ(got[1].result, VESK_HTTP_IN_PROGRESS);
    EXPECT_EQ(got[1].percent, 100);
    EXPECT_EQ(got[2].result, VESK_HTTP_SUCCESS);
    EXPECT_NE(got[2].request, nullptr);
    for (const auto& note : got) EXPECT_EQ(note.operation, operation) << Name(job);

    // Cancelled through the handle while it is followed: the device is asked to stop it.
    device_.SetDefaultReply(Status(6));
    device_.Enqueue(JsonReply(R"({"status":1,"pid":8})"));
    Notes cancelled;
    request = RunAsync(job, &cancelled);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(cancelled.WaitForNotes(1));
    request->Cancel();
    ASSERT_EQ(cancelled.Completions(), 1);
    EXPECT_EQ(cancelled.Notes().back().result, VESK_HTTP_CANCELLED);
    EXPECT_EQ(Last().target, CancelTarget(job, "8"));
    station_.CloseRequest(&request);
  }
}

std::string ListEntry(const std::string& name, int folder, const std::string& size,
                      const std::string& compressed) {
  return R"({"filename":")" + name + R"(","isfolder":)" + std::to_string(folder) +
         R"(,"filesize":)" + size + R"(,"compress_size":)" + compressed +
         R"(,"mt":"2023/11/14 22:13"})";
}

TEST_F(Archives, ArchiveListAppendsToTheCallersList) {
  device_.Enqueue(JsonReply(R"({"status":0,"total":3,"datas":[)" +
                            ListEntry("big.iso", 0, "5368709120", R"("4294967296")") + "," +
                            ListEntry("", 0, "1", "1") + "," + ListEntry("dir", 1, "0", "0") +
                            "]}"));
  std::vector<CVeskHttpExtractEntry> list(1);
  ASSERT_EQ(station_.GetExtractList(L"/P/a.zip", 0, 50, nullptr, &list), VESK_HTTP_SUCCESS);
  ASSERT_EQ(list.size(), 3u);  // after the caller's entry; the nameless one is skipped
  EXPECT_STREQ(list[1].GetFileName(), L"big.iso");
  EXPECT_EQ(list[1].IsDir(), 0);
  EXPECT_EQ(list[1].GetFileSize(), 5368709120LL);
  EXPECT_EQ(list[1].GetCompressFileSize(), 4294967296LL);
  EXPECT_STREQ(list[1].GetModifyTime(), L"2023/11/14 22:13");
  EXPECT_STREQ(list[2].GetFileName(), L"dir");
  EXPECT_EQ(list[2].IsDir(), 1);

  // The asynchronous form: the entries are read from the handle.
  device_.Enqueue(JsonReply(R"({"total":1,"datas":[)" + ListEntry("x", 0, "1", "1") + "]}"));
  Notes notes;
  IVeskHttpFileStationRequestBase* request =
      station_.GetExtractListAsync(L"/P/a.zip", 0, 50, &notes, &Notes::Record);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(notes.WaitForCompletions());
  const auto got = notes.Notes();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(got[0].operation, VESK_HTTP_OP_GET_EXTRACT_LIST);
  ASSERT_NE(request->GetExtractEntryList(), nullptr);
  ASSERT_EQ(request->GetExtractEntryList()->size(), 1u);
  EXPECT_STREQ(request->GetExtractEntryList()->front().GetFileName(), L"x");
  station_.CloseRequest(&request);
}

TEST_F(Archives, FailedArchiveListsLeaveTheCallersListAlone) {
  const std::string one = R"(,"total":1,"datas":[{"filename":"a"}]})";
  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":4)" + one), VESK_HTTP_DEVICE_STATUS_4},
      {JsonReply(R"({"status":5)" + one), VESK_HTTP_DEVICE_STATUS_5},
      {JsonReply(R"({"status":1)" + one), VESK_HTTP_SERVER_FAILED},
      {JsonReply("[1]"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("nope"), VESK_HTTP_SERVER_FAILED},
      {{.status = 404}, VESK_HTTP_BAD_HTTP_STATUS},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    std::vector<CVeskHttpExtractEntry> list(1);
    EXPECT_EQ(station_.GetExtractList(L"/P/a.zip", 0, 50, nullptr, &list), c.result)
        << c.reply.body;
    EXPECT_EQ(list.size(), 1u) << c.reply.body;
  }
}

}  // namespace
}  // namespace vesk
