// Listing, status, search, changes, copy and move against the scripted test server: the
// bytes each operation sends and the results its replies give.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <condition_variable>
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
using test::ProgressLog;

const std::string kUtil = "/cgi-bin/filemanager/utilRequest.cgi?func=";
const std::string kComputer = "My%20PC%261";

// Logged in from the computer "My PC&1" (kComputer as the device receives it).
class FileTree : public test::LoggedInStationTest {
 protected:
  FileTree() : LoggedInStationTest(L"My PC&1") {}
};

TEST_F(FileTree, EveryOperationSendsItsRequest) {
  enum Headers { kNone, kNoCache, kForm };
  struct Case {
    std::function<void(FileStation&)> call;
    std::string method, target, body;
    Headers headers;
  } cases[] = {
      {[](FileStation& s) { s.GetShareFolderList(nullptr, nullptr); }, "GET",
       kUtil + "get_tree&sid=S&is_iso=0&node=share_root&tovo_user=1&tovo_computer=" + kComputer, "",
       kNone},
      {[](FileStation& s) { s.GetFileListCount(L"/Public/a b&c", nullptr, nullptr); }, "GET",
       kUtil + "get_list&sid=S&is_iso=0&list_mode=all&path=%2FPublic%2Fa%20b%26c&dir=ASC"
               "&limit=1&sort=filename&start=0",
       "", kNoCache},
      {[](FileStation& s) { s.GetFileList(L"/Public", 50, 25, nullptr, nullptr); }, "GET",
       kUtil + "get_list&sid=S&is_iso=0&list_mode=all&path=%2FPublic&dir=ASC&limit=25"
               "&sort=filename&start=50",
       "", kNoCache},
      {[](FileStation& s) {
         s.GetFileStatusList(L"/Public/a b&c", 50, 25, nullptr, nullptr, nullptr);
       },
       "GET",
       kUtil + "get_list&sid=S&is_iso=0&list_mode=all&path=%2FPublic%2Fa%20b%26c&dir=ASC"
               "&limit=25&sort=filename&start=50",
       "", kNoCache},
      {[](FileStation& s) { s.GetFileStatus(L"/Public/a.txt", nullptr, nullptr); }, "GET",
       kUtil + "stat&sid=S&path=%2FPublic&file_total=1&file_name=a.txt", "", kNone},
      {[](FileStation& s) { s.GetFileStatus(L"Public\\a.txt", nullptr, nullptr); }, "GET",
       kUtil + "stat&sid=S&path=Public&file_total=1&file_name=a.txt", "", kNone},
      {[](FileStation& s) { s.GetFileStatus(L"a.txt", nullptr, nullptr); }, "GET",
       kUtil + "stat&sid=S&path=a.txt&file_total=1&file_name=a.txt", "", kNone},
      {[](FileStation& s) { s.GetFileStatus(L"/Public/", nullptr, nullptr); }, "GET",
       kUtil + "stat&sid=S&path=%2FPublic&file_total=1&file_name=", "", kNone},
      {[](FileStation& s) { s.SearchFile(L"/Public", L"re port", 30, nullptr, nullptr); }, "GET",
       kUtil +
           "search&sid=S&keyword=re%20port&source_path=%2FPublic&dir=ASC&limit=30"
           "&sort=filename&start=0&tovo_user=1&tovo_computer=" +
           kComputer,
       "", kNone},
      {[](FileStation& s) { s.SearchFileStatus(L"/Public", L"re port", 30, nullptr, nullptr); },
       "GET",
       kUtil +
           "search&sid=S&keyword=re%20port&source_path=%2FPublic&dir=ASC&limit=30"
           "&sort=filename&start=0&tovo_user=1&tovo_computer=" +
           kComputer,
       "", kNone},
      {[](FileStation& s) { s.CreateFolder(L"/Public", L"New #1", nullptr); }, "GET",
       kUtil +
           "createdir&sid=S&dest_folder=New%20%231&dest_path=%2FPublic&tovo_user=1"
           "&tovo_computer=" +
           kComputer,
       "", kNone},
      {[](FileStation& s) {
         s.CreateFolder(CVeskHttpFileEntry(1, 0, L"/Public", L"Photos"), L"x", nullptr);
       },
       "GET",
       kUtil +
           "createdir&sid=S&dest_folder=x&dest_path=%2FPublic%2FPhotos&tovo_user=1"
           "&tovo_computer=" +
           kComputer,
       "", kNone},
      {[](FileStation& s) { s.DeleteFile(L"/Public/old.txt", nullptr); }, "POST",
       kUtil + "delete&sid=S", "file_name=old.txt&file_total=1&path=%2FPublic", kForm},
      {[](FileStation& s) { s.DeleteFile(CVeskHttpFileEntry(0, 1, L"/A/B", L"c d"), nullptr); },
       "POST", kUtil + "delete&sid=S", "file_name=c%20d&file_total=1&path=%2FA%2FB", kForm},
      {[](FileStation& s) { s.RenameFile(L"/Public/a.txt", L"b+c=d.txt", nullptr); }, "POST",
       kUtil + "rename&sid=S", "path=%2FPublic&source_name=a.txt&dest_name=b%2Bc%3Dd.txt", kForm},
      {[](FileStation& s) { s.RenameFile(L"/P/\x6587", L"\x00e9", nullptr); }, "POST",
       kUtil + "rename&sid=S", "path=%2FP&source_name=\xe6\x96\x87&dest_name=\xc3\xa9", kForm},
      {[](FileStation& s) { s.SetFileModifyTime(L"/Public/a.txt", 1700000000, nullptr, nullptr); },
       "GET",
       kUtil + "stat&sid=S&settime=1&mtime=1700000000&path=%2FPublic&file_total=1&file_name=a.txt",
       "", kNone},
      {[](FileStation& s) { s.SetFileModifyTime64(L"/P/a", 253402300799LL, nullptr, nullptr); },
       "GET", kUtil + "stat&sid=S&settime=1&mtime=253402300799&path=%2FP&file_total=1&file_name=a",
       "", kNone},
      {[](FileStation& s) { s.SetFileModifyTime64(L"/P/a", 1, nullptr, nullptr); }, "GET",
       kUtil + "stat&sid=S&settime=1&mtime=1&path=%2FP&file_total=1&file_name=a", "", kNone},
      {[](FileStation& s) {
         s.CopyFile(L"/Public/a.txt", L"/Backup", 1, nullptr, nullptr, nullptr);
       },
       "POST", kUtil + "copy&sid=S",
       "source_file=a.txt&source_total=1&source_path=%2FPublic&dest_path=%2FBackup&mode=1", kForm},
      {[](FileStation& s) {
         s.MoveFile(CVeskHttpFileEntry(0, 0, L"/P", L"x%y"), L"/D", 0, nullptr, nullptr, nullptr);
       },
       "POST", kUtil + "move&sid=S",
       "source_file=x%25y&source_total=1&source_path=%2FP&dest_path=%2FD&mode=0", kForm},
  };
  for (const Case& c : cases) {
    c.call(station_);
    const auto r = Last();
    EXPECT_EQ(r.method, c.method) << c.target;
    EXPECT_EQ(r.target, c.target);
    EXPECT_EQ(r.body, c.body) << c.target;
    EXPECT_EQ(r.Header("Cache-Control") != nullptr, c.headers == kNoCache) << c.target;
    EXPECT_EQ(r.Header("Pragma") != nullptr, c.headers == kNoCache) << c.target;
    if (c.headers == kForm) {
      EXPECT_EQ(*r.Header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
      EXPECT_EQ(*r.Header("Content-Length"), std::to_string(c.body.size()));
    } else {
      EXPECT_EQ(r.Header("Content-Type"), nullptr) << c.target;
    }
  }
}

std::string Entry(const std::string& name, int folder, const std::string& size) {
  return R"({"filename":")" + name + R"(","isfolder":)" + std::to_string(folder) +
         R"(,"filesize":)" + size +
         R"(,"epochmt":1700000000,"mt":"2023-11-14","privilege":755,)"
         R"("group":"users","owner":"admin","iscommpressed":0})";
}

TEST_F(FileTree, ListingsFillTheCallersListAndCount) {
  device_.Enqueue(
      JsonReply(R"([{"text":"Public","iconCls":"folder"},{"text":"f","iconCls":"x"}])"));
  std::vector<CVeskHttpFileEntry> roots;
  ASSERT_EQ(station_.GetShareFolderList(nullptr, &roots), VESK_HTTP_SUCCESS);
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].IsDir(), 1);
  EXPECT_EQ(roots[0].GetFileSize(), 0);
  EXPECT_STREQ(roots[0].GetFilePath(), L"");
  EXPECT_STREQ(roots[0].GetFileName(), L"Public");

  device_.Enqueue(JsonReply(R"({"status":0,"total":"12","datas":[)" + Entry("a", 0, "1") + "]}"));
  int count = -1;
  ASSERT_EQ(station_.GetFileListCount(L"/Public", nullptr, &count), VESK_HTTP_SUCCESS);
  EXPECT_EQ(count, 12);  // the device's total, not the entries of the page

  std::vector<CVeskHttpFileEntry> list;
  for (const char* page : {R"(,"datas":[)", R"(,"datas":[)"}) {
    device_.Enqueue(JsonReply(std::string(R"({"total":3)") + page + Entry("big", 0, "5368709120") +
                              "," + Entry("dir", 1, "4096") + "]}"));
    ASSERT_EQ(station_.GetFileList(L"/Public", 0, 2, nullptr, &list), VESK_HTTP_SUCCESS);
  }
  ASSERT_EQ(list.size(), 4u);  // the second page is appended to the first
  EXPECT_EQ(list[0].GetFileSize(), 5368709120LL);
  EXPECT_STREQ(list[0].GetFilePath(), L"/Public");
  EXPECT_EQ(list[1].IsDir(), 1);
}

TEST_F(FileTree, FailedListingsLeaveTheCallersOutputsAlone) {
  struct Case {
    ScriptedReply reply;
    int result;
  } cases[] = {
      {JsonReply(R"({"status":4})"), VESK_HTTP_DEVICE_STATUS_4},
      {JsonReply(R"({"status":3,"total":1})"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("[1]"), VESK_HTTP_SERVER_FAILED},
      {JsonReply("nope"), VESK_HTTP_SERVER_FAILED},
      {JsonReply(R"({"total":1,"datas":[{"filename":"a","filesize":{}}]})"),
       VESK_HTTP_SERVER_FAILED},
      {{.status = 500}, VESK_HTTP_BAD_HTTP_STATUS},
  };
  for (const Case& c : cases) {
    device_.Enqueue(c.reply);
    std::vector<CVeskHttpFileEntry> list(1);
    EXPECT_EQ(station_.GetFileList(L"/P", 0, 10, nullptr, &list), c.result);
    EXPECT_EQ(list.size(), 1u);
    device_.Enqueue(c.reply);
    int count = -7;
    EXPECT_EQ(station_.GetFileListCount(L"/P", nullptr, &count), c.result);
    EXPECT_EQ(count, -7);
    device_.Enqueue(c.reply);
    CVeskHttpFileStatus status(0, 0, 0, L"kept", L"", L"", L"", L"", L"");
    EXPECT_EQ(station_.GetFileStatus(L"/P/a", nullptr, &status), c.result);
    EXPECT_STREQ(status.GetFolderPermission(), L"kept");
    device_.Enqueue(c.reply);
    std::vector<CVeskHttpFileStatus> statuses(1);
    count = -7;
    EXPECT_EQ(station_.GetFileStatusList(L"/P", 0, 10, nullptr, &count, &statuses), c.result);
    EXPECT_EQ(statuses.size(), 1u);
    EXPECT_EQ(count, -7);
    device_.Enqueue(c.reply);
    EXPECT_EQ(station_.SearchFileStatus(L"/P", L"a", 10, nullptr, &statuses), c.result);
    EXPECT_EQ(statuses.size(), 1u);
  }
}

TEST_F(FileTree, StatusAndSetTimeFillTheRecord) {
  const std::string twoA = R"({"status":0,"total":2,"datas":[)" + Entry("A.TXT", 0, "3") + "," +
                           Entry("a.txt", 0, "4") + "]}";
  for (const bool setTime : {false, true}) {
    device_.Enqueue(JsonReply(twoA));
    CVeskHttpFileStatus status;
    const int result = setTime ? station_.SetFileModifyTime(L"/P/a.txt", 5, nullptr, &status)
                               : station_.GetFileStatus(L"/P/a.txt", nullptr, &status);
    ASSERT_EQ(result, VESK_HTTP_SUCCESS);
    EXPECT_STREQ(status.GetFileName(), L"A.TXT");  // the first match, whatever its case
    EXPECT_EQ(status.GetFileSize(), 3);
    EXPECT_STREQ(status.GetFilePath(), L"/P");
    EXPECT_STREQ(status.GetFolderPermission(), L"ReadWrite");
    EXPECT_STREQ(status.GetOwner(), L"admin");
    EXPECT_STREQ(status.GetGroup(), L"users");
    EXPECT_STREQ(status.GetMT(), L"2023-11-14");
    EXPECT_EQ(status.GetModifyTime64(), 1700000000);
  }
  // A name the device does not report gives success and an empty record.
  device_.Enqueue(JsonReply(twoA));
  CVeskHttpFileStatus status(1, 1, 9, L"x", L"x", L"x", L"x", L"x", L"x");
  ASSERT_EQ(station_.GetFileStatus(L"/P/other", nullptr, &status), VESK_HTTP_SUCCESS);
  EXPECT_STREQ(status.GetFileName(), L"");
  EXPECT_EQ(status.GetFileSize(), 0);

  device_.Enqueue(
      JsonReply(R"({"total":2,"datas":[)" + Entry("x", 0, "1") + "," + Entry("y", 1, "2") + "]}"));
  std::vector<CVeskHttpFileEntry> hits;
  ASSERT_EQ(station_.SearchFile(L"/Public", L"x", 10, nullptr, &hits), VESK_HTTP_SUCCESS);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_STREQ(hits[1].GetFilePath(), L"/Public");  // hits carry the searched folder
}

// A listing or a search with status reads each entry as a status reads its item, all from the
// one reply: whatever an entry lacks stays empty (no request is made for it), and an entry with
// a zero time is not listed.
TEST_F(FileTree, StatusListingsReadEachEntryAsAStatus) {
  const std::string reply = R"({"status":0,"total":"9","datas":[)" +
                            Entry("full", 0, "5368709120") +
                            R"(,{"filename":"bare"},)"
                            R"({"filename":"untimed","isfolder":1,"mt":"2023-11-14"},)"
                            R"({"filename":"zero","epochmt":0,"mt":"1970-01-01"},)"
                            R"({"filename":"late","epochmt":4102444800,"mt":"2100-01-01",)"
                            R"("iscommpressed":1,"filesize":"7"}]})";
  struct Expected {
    std::wstring name;
    int isDir, compressed;
    long long size;
    std::wstring permission, owner, group, time;
    long long seconds;
  } expected[] = {
      {L"full", 0, 0, 5368709120LL, L"ReadWrite", L"admin", L"users", L"2023-11-14", 1700000000},
      {L"bare", 0, 0, 0, L"", L"", L"", L"", 0},
      {L"untimed", 1, 0, 0, L"", L"", L"", L"", 0},
      {L"late", 0, 1, 7, L"", L"", L"", L"2100-01-01", 4102444800LL},
  };
  int total = 0;
  const std::function<int(std::vector<CVeskHttpFileStatus>*)> calls[] = {
      [&](auto* list) { return station_.GetFileStatusList(L"/P", 0, 10, nullptr, &total, list); },
      [&](auto* list) { return station_.SearchFileStatus(L"/P", L"e", 10, nullptr, list); },
  };
  for (const auto& call : calls) {
    device_.Enqueue(JsonReply(reply));
    const std::size_t before = Count();
    std::vector<CVeskHttpFileStatus> list(1);  // the records go after what it holds
    ASSERT_EQ(call(&list), VESK_HTTP_SUCCESS);
    EXPECT_EQ(Count(), before + 1);
    ASSERT_EQ(list.size(), 1 + std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
      const CVeskHttpFileStatus& got = list[i + 1];
      const Expected& e = expected[i];
      EXPECT_EQ(got.GetFileName(), e.name);
      EXPECT_STREQ(got.GetFilePath(), L"/P");
      EXPECT_EQ(got.IsDir(), e.isDir) << got.GetFileName();
      EXPECT_EQ(got.IsCommpressed(), e.compressed) << got.GetFileName();
      EXPECT_EQ(got.GetFileSize(), e.size) << got.GetFileName();
      EXPECT_EQ(got.GetFolderPermission(), e.permission) << got.GetFileName();
      EXPECT_EQ(got.GetOwner(), e.owner) << got.GetFileName();
      EXPECT_EQ(got.GetGroup(), e.group) << got.GetFileName();
      EXPECT_EQ(got.GetMT(), e.time) << got.GetFileName();
      EXPECT_EQ(got.GetModifyTime64(), e.seconds) << got.GetFileName();
    }
  }
  EXPECT_EQ(total, 9);  // the folder's count, not the page's
}

TEST_F(FileTree, AsynchronousStatusListingsHandTheirRecordsOver) {
  for (const bool search : {false, true}) {
    device_.Enqueue(JsonReply(R"({"total":7,"datas":[)" + Entry("a", 0, "3") + "]}"));
    Notes notes;
    IVeskHttpFileStationRequestBase* request =
        search ? station_.SearchFileStatusAsync(L"/P", L"a", 10, &notes, &Notes::Record)
               : station_.GetFileStatusListAsync(L"/P", 0, 10, &notes, &Notes::Record);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(notes.WaitForCompletions());
    EXPECT_EQ(notes.Notes().back().result, VESK_HTTP_SUCCESS);
    EXPECT_EQ(request->GetTotalCount(), 7);
    const std::vector<CVeskHttpFileStatus>& records = *request->GetFileStatusList();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(records[0].GetOwner(), L"admin");
    EXPECT_EQ(records[0].GetModifyTime64(), 1700000000);
    station_.CloseRequest(&request);
  }
}

// A time the device does not take is refused before anything is sent, never cut to fit; the
// int form, which forwards to the 64-bit one, refuses 0 and the times before 1970.
TEST_F(FileTree, TimesTheDeviceDoesNotTakeAreRefusedUnsent) {
  for (const long long time : {0LL, -5LL, 253402300800LL, LLONG_MIN, LLONG_MAX}) {
    CVeskHttpFileStatus status(0, 0, 0, L"kept", L"", L"", L"", L"", L"");
    EXPECT_EQ(station_.SetFileModifyTime64(L"/P/a", time, nullptr, &status),
              VESK_HTTP_INVALID_REQUEST)
        << time;
    EXPECT_EQ(station_.SetFileModifyTime64Async(L"/P/a", time, nullptr, nullptr), nullptr) << time;
    if (time >= INT_MIN && time <= INT_MAX) {
      const int narrow = static_cast<int>(time);
      EXPECT_EQ(station_.SetFileModifyTime(L"/P/a", narrow, nullptr, &status),
                VESK_HTTP_INVALID_REQUEST)
          << time;
      EXPECT_EQ(station_.SetFileModifyTimeAsync(L"/P/a", narrow, nullptr, nullptr), nullptr)
          << time;
    }
    EXPECT_STREQ(status.GetFolderPermission(), L"kept");
  }
  EXPECT_EQ(Count(), 0u);
  FileStation loggedOut;
  EXPECT_EQ(loggedOut.SetFileModifyTime64(L"/P/a", 0, nullptr, nullptr), VESK_HTTP_NOT_LOGGED_IN);
}

TEST_F(FileTree, ChangeRepliesMapToResults) {
  struct Case {
    std::string reply;
    int createFolder, remove, rename;
  } cases[] = {
      {R"({"status":1,"success":"true"})", 0, 0, 0},
      {R"({"status":1})", 50, 50, 50},
      {R"({"status":1,"success":"TRUE"})", 50, 50, 50},
      {R"({"status":2,"success":"true"})", 700, 0, 700},
      {R"({"status":3,"success":true})", 0, 0, 0},
      {R"({"status":4,"success":"true"})", 702, 702, 702},
      {R"({"success":"true"})", 0, 0, 0},
      {"oops", 50, 50, 50},
  };
  for (const Case& c : cases) {
    device_.Enqueue(JsonReply(c.reply));
    EXPECT_EQ(station_.CreateFolder(L"/P", L"n", nullptr), c.createFolder) << c.reply;
    device_.Enqueue(JsonReply(c.reply));
    EXPECT_EQ(station_.DeleteFile(L"/P/n", nullptr), c.remove) << c.reply;
    device_.Enqueue(JsonReply(c.reply));
    EXPECT_EQ(station_.RenameFile(L"/P/n", L"m", nullptr), c.rename) << c.reply;
  }
}

TEST_F(FileTree, JobStartRepliesMapToResults) {
  struct Case {
    std::string reply;
    int copy, move;
  } cases[] = {
      {R"({"status":1,"pid":7})", 0, 0},   {R"({"status":"1","pid":7})", 0, 0},
      {R"({"status":2})", 700, 0},         {R"({"status":4})", 702, 0},
      {R"({"status":3})", 50, 0},          {R"({"pid":"12"})", 50, 0},
      {R"({"status":0,"pid":1})", 50, 50}, {"x", 50, 50},
  };
  for (const Case& c : cases) {
    const std::size_t before = Count();
    device_.Enqueue(JsonReply(c.reply));
    EXPECT_EQ(station_.CopyFile(L"/P/a", L"/D", 0, nullptr, nullptr, nullptr), c.copy) << c.reply;
    device_.Enqueue(JsonReply(c.reply));
    EXPECT_EQ(station_.MoveFile(L"/P/a", L"/D", 0, nullptr, nullptr, nullptr), c.move) << c.reply;
    // Without a progress callback the job is not followed.
    EXPECT_EQ(Count(), before + 2) << c.reply;
  }
}

ScriptedReply Job(int percent, int status = 1) {
  return JsonReply(R"({"status":)" + std::to_string(status) + R"(,"filename":"f.bin","percent":)" +
                   std::to_string(percent) + "}");
}

TEST_F(FileTree, CopyFollowsTheJobUntilItIsDone) {
  struct Case {
    const char* name;
    std::string start;
    std::vector<ScriptedReply> statuses;
    int result;
    std::vector<long long> reported;
    std::string pid;
  } cases[] = {
      {"rises to 100",
       R"({"status":1,"pid":7})",
       {Job(30), Job(60), Job(100)},
       0,
       {30, 60, 100},
       "7"},
      {"no pid", R"({"status":1})", {Job(100)}, 0, {100}, "0"},
      {"beyond 100 ends without a final report",
       R"({"status":1,"pid":3})",
       {Job(30), Job(120)},
       0,
       {30},
       "3"},
      {"a file-less first reply fails",
       R"({"status":1,"pid":3})",
       {JsonReply(R"({"status":1,"percent":5})")},
       50,
       {0},
       "3"},
      {"status 0 fails", R"({"status":1,"pid":3})", {Job(20), Job(0, 0)}, 50, {20, 20}, "3"},
      {"never backwards",
       R"({"status":1,"pid":3})",
       {Job(50), Job(0, 2), Job(100)},
       0,
       {50, 50, 100},
       "3"},
  };
  for (const Case& c : cases) {
    const std::size_t before = Count();
    device_.Enqueue(JsonReply(c.start));
    for (const auto& reply : c.statuses) device_.Enqueue(reply);
    ProgressLog percentages;
    EXPECT_EQ(station_.CopyFile(L"/P/a", L"/D", 1, nullptr, &percentages, &ProgressLog::Record),
              c.result)
        << c.name;
    EXPECT_EQ(percentages.Values(), c.reported) << c.name;
    EXPECT_EQ(Count(), before + 1 + c.statuses.size()) << c.name;
    EXPECT_EQ(Last().target, kUtil + "get_copy_status&sid=S&pid=" + c.pid) << c.name;
  }
}

TEST_F(FileTree, MovePollsItsOwnStatusFunction) {
  device_.Enqueue(JsonReply(R"({"pid":"12"})"));
  device_.Enqueue(Job(100));
  ProgressLog percentages;
  EXPECT_EQ(station_.MoveFile(L"/P/a", L"/D", 1, nullptr, &percentages, &ProgressLog::Record),
            VESK_HTTP_SUCCESS);
  EXPECT_EQ(Last().target, kUtil + "get_move_status&sid=S&pid=12");
  EXPECT_EQ(percentages.Values(), std::vector<long long>{100});
}

TEST_F(FileTree, PollingIsSpacedAndGivesUpOnAVanishedJob) {
  device_.Enqueue(JsonReply(R"({"status":1,"pid":9})"));
  device_.Enqueue(Job(10));
  device_.SetDefaultReply({.status = 503});
  ProgressLog percentages;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(station_.CopyFile(L"/P/a", L"/D", 1, nullptr, &percentages, &ProgressLog::Record),
            VESK_HTTP_BAD_HTTP_STATUS);
  // One good query, then five failures in a row end the polling.
  EXPECT_EQ(Count(), 1u + 6u);
  // The pauses between the queries grow: 100 + 200 + 400 + 800 + 1000 ms at least.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2400ms);
}

TEST_F(FileTree, CancelEndsPollingPromptly) {
  device_.SetDefaultReply(Job(10));
  for (const int flagValue : {1, 2}) {
    int flag = 0;
    ProgressLog percentages;
    std::thread canceller([&] {
      device_.WaitForRequests(device_.Requests().size() + 3, 20s);
      StoreFlag(&flag, flagValue);
    });
    device_.Enqueue(JsonReply(R"({"status":1,"pid":9})"));
    const auto start = std::chrono::steady_clock::now();
    const int result =
        station_.CopyFile(L"/P/a", L"/D", 1, &flag, &percentages, &ProgressLog::Record);
    canceller.join();
    const auto waited = std::chrono::steady_clock::now() - start;
    // Flag 1 cancels; any other value only stops, leaving the result of the last query (or
    // of the query it cut short).
    if (flagValue == 1) {
      EXPECT_EQ(result, VESK_HTTP_CANCELLED);
    } else {
      EXPECT_THAT(result, ::testing::AnyOf(VESK_HTTP_SUCCESS, VESK_HTTP_SEND_FAILED));
    }
    EXPECT_LT(waited, 10s);
  }
}

TEST_F(FileTree, AsynchronousCopyNotifiesProgressThenCompletesOnce) {
  device_.Enqueue(JsonReply(R"({"status":1,"pid":4})"));
  device_.Enqueue(Job(50));
  device_.Enqueue(Job(100));
  Notes notes;
  IVeskHttpFileStationRequestBase* request =
      station_.CopyFileAsync(L"/P/a", L"/D", 1, &notes, &Notes::Record);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(notes.WaitForCompletions());
  station_.CloseRequest(&request);
  const auto got = notes.Notes();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].result, VESK_HTTP_IN_PROGRESS);
  EXPECT_EQ(got[0].percent, 50);
  EXPECT_EQ(got[0].request, nullptr);
  EXPECT_EQ(got[1].percent, 100);
  EXPECT_EQ(got[2].result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(notes.Completions(), 1);
  for (const auto& note : got) EXPECT_EQ(note.operation, VESK_HTTP_OP_COPY_FILE);
}

TEST_F(FileTree, EveryAsynchronousFormCompletesOnceWithItsOperation) {
  device_.SetDefaultReply(JsonReply(R"({"status":1,"success":"true","total":0})"));
  const CVeskHttpFileEntry entry(0, 0, L"/P", L"a");
  struct Case {
    std::function<IVeskHttpFileStationRequestBase*(FileStation&, Notes*)> start;
    int operation;
  } cases[] = {
      {[](FileStation& s, Notes* n) { return s.GetShareFolderListAsync(n, &Notes::Record); }, 3},
      {[](FileStation& s, Notes* n) { return s.GetFileListCountAsync(L"/P", n, &Notes::Record); },
       1},
      {[](FileStation& s, Notes* n) { return s.GetFileListAsync(L"/P", 0, 1, n, &Notes::Record); },
       2},
      {[](FileStation& s, Notes* n) { return s.GetFileStatusAsync(L"/P/a", n, &Notes::Record); },
       13},
      {[](FileStation& s, Notes* n) {
         return s.SearchFileAsync(L"/P", L"a", 1, n, &Notes::Record);
       },
       14},
      {[](FileStation& s, Notes* n) { return s.CreateFolderAsync(L"/P", L"n", n, &Notes::Record); },
       7},
      {[&](FileStation& s, Notes* n) {
         return s.CreateFolderAsync(entry, L"n", n, &Notes::Record);
       },
       7},
      {[](FileStation& s, Notes* n) { return s.DeleteFileAsync(L"/P/a", n, &Notes::Record); }, 10},
      {[&](FileStation& s, Notes* n) { return s.DeleteFileAsync(entry, n, &Notes::Record); }, 10},
      {[](FileStation& s, Notes* n) { return s.RenameFileAsync(L"/P/a", L"b", n, &Notes::Record); },
       15},
      {[](FileStation& s, Notes* n) {
         return s.SetFileModifyTimeAsync(L"/P/a", 1, n, &Notes::Record);
       },
       16},
      {[](FileStation& s, Notes* n) {
         return s.SetFileModifyTime64Async(L"/P/a", 4102444800LL, n, &Notes::Record);
       },
       16},
      {[](FileStation& s, Notes* n) {
         return s.GetFileStatusListAsync(L"/P", 0, 1, n, &Notes::Record);
       },
       26},
      {[](FileStation& s, Notes* n) {
         return s.SearchFileStatusAsync(L"/P", L"a", 1, n, &Notes::Record);
       },
       27},
      {[](FileStation& s, Notes* n) {
         return s.CopyFileAsync(L"/P/a", L"/D", 0, n, &Notes::Record);
       },
       8},
      {[&](FileStation& s, Notes* n) {
         return s.CopyFileAsync(entry, L"/D", 0, n, &Notes::Record);
       },
       8},
      {[](FileStation& s, Notes* n) {
         return s.MoveFileAsync(L"/P/a", L"/D", 0, n, &Notes::Record);
       },
       9},
      {[&](FileStation& s, Notes* n) {
         return s.MoveFileAsync(entry, L"/D", 0, n, &Notes::Record);
       },
       9},
  };
  for (const Case& c : cases) {
    Notes notes;
    IVeskHttpFileStationRequestBase* request = c.start(station_, &notes);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(notes.WaitForCompletions());
    station_.CloseRequest(&request);
    const auto got = notes.Notes();
    EXPECT_EQ(notes.Completions(), 1);
    EXPECT_EQ(got.back().operation, c.operation);
    EXPECT_NE(got.back().request, nullptr);
  }
}

}  // namespace
}  // namespace vesk
