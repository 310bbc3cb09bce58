// Browsing and changing the device's file tree through the public API, against the device
// emulator serving a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/EmulatedDevice.h"
#include "support/Files.h"
#include "support/Notifications.h"
#include "support/WideText.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::test::Utf8Path;
using vesk::test::Wide;

// A progress callback makes a copy or move wait for the device's job to end; without one it
// returns as soon as the job is accepted.
void IgnoreProgress(void*, long long) {}

void WriteFile(const fs::path& path, std::size_t size, char fill = 'x') {
  std::ofstream(path, std::ios::binary) << std::string(size, fill);
}

// A device serving a fresh folder whose top-level folders "Public" and "Backup" are shares.
class FileTreeEndToEnd : public vesk::test::EmulatedDeviceTest {
 protected:
  explicit FileTreeEndToEnd(unsigned long long jobBytesPerSecond = 0)
      : EmulatedDeviceTest({"Public", "Backup"}, PlainHttp(jobBytesPerSecond)) {}
};

TEST_F(FileTreeEndToEnd, ListsAFolderPageByPageAsTheFileSystemHasIt) {
  std::map<std::wstring, std::pair<int, long long>> expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "item " + std::to_string(i);
    if (i % 10 == 0) {
      fs::create_directory(root_ / "Public" / name);
      expected[Wide(name)] = {1, 0};
    } else {
      WriteFile(root_ / "Public" / name, i);
      expected[Wide(name)] = {0, i};
    }
  }
  std::vector<CVeskHttpFileEntry> roots;
  ASSERT_EQ(files_->GetShareFolderList(nullptr, &roots), VESK_HTTP_SUCCESS);
  std::vector<std::wstring> rootNames;
  for (const auto& r : roots) rootNames.push_back(r.GetFileName());
  EXPECT_THAT(rootNames, ::testing::UnorderedElementsAre(L"Public", L"Backup"));

  int count = 0;
  ASSERT_EQ(files_->GetFileListCount(L"/Public", nullptr, &count), VESK_HTTP_SUCCESS);
  EXPECT_EQ(count, 300);
  std::vector<CVeskHttpFileEntry> list;
  for (int start = 0; start < count; start += 64)
    ASSERT_EQ(files_->GetFileList(L"/Public", start, 64, nullptr, &list), VESK_HTTP_SUCCESS);
  ASSERT_EQ(list.size(), 300u);
  std::map<std::wstring, std::pair<int, long long>> listed;
  for (const auto& e : list) {
    EXPECT_STREQ(e.GetFilePath(), L"/Public");
    listed[e.GetFileName()] = {e.IsDir(), e.IsDir() ? 0 : e.GetFileSize()};
  }
  EXPECT_EQ(listed, expected);
}

TEST_F(FileTreeEndToEnd, StatusOfFilesBeyondFourGiB) {
  const long long size = (5LL << 30) + 7;
  {
#ifdef _WIN32
    std::ofstream(root_ / "Public" / "big.bin", std::ios::binary).close();
    std::filesystem::resize_file(root_ / "Public" / "big.bin", size);  // sparse under Wine too
#else
    const std::string path = (root_ / "Public" / "big.bin").string();
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);  // sparse: no disk space taken
    ::close(fd);
#endif
  }
  CVeskHttpFileStatus status;
  ASSERT_EQ(files_->GetFileStatus(L"/Public/big.bin", nullptr, &status), VESK_HTTP_SUCCESS);
  EXPECT_EQ(status.GetFileSize(), size);
  EXPECT_STREQ(status.GetFileName(), L"big.bin");
  EXPECT_STREQ(status.GetFolderPermission(), L"ReadWrite");
  EXPECT_STRNE(status.GetOwner(), L"");
  EXPECT_STRNE(status.GetMT(), L"");

  std::vector<CVeskHttpFileEntry> list;
  ASSERT_EQ(files_->GetFileList(L"/Public", 0, 10, nullptr, &list), VESK_HTTP_SUCCESS);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].GetFileSize(), size);

  CVeskHttpFileStatus changed;
  ASSERT_EQ(files_->SetFileModifyTime(L"/Public/big.bin", 1000000000, nullptr, &changed),
            VESK_HTTP_SUCCESS);
#ifdef _WIN32
  struct _stat64 st {};
  ASSERT_EQ(::_wstat64((root_ / "Public" / "big.bin").c_str(), &st), 0);
#else
  struct stat st {};
  ASSERT_EQ(::stat((root_ / "Public" / "big.bin").c_str(), &st), 0);
#endif
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_STREQ(changed.GetFileName(), L"big.bin");
}

TEST_F(FileTreeEndToEnd, AwkwardNamesSurviveEveryOperation) {
  for (const std::string name :
       {"a b", "a&b=c", "h#1", "100%", "x+y", "\xe6\x96\x87\xe4\xbb\xb6", "%41%42"}) {
    SCOPED_TRACE(name);
    const std::wstring wname = Wide(name);
    const std::wstring folder = L"/Public/" + wname;
    const fs::path local = Utf8Path(name);
    ASSERT_EQ(files_->CreateFolder(L"/Public", wname.c_str(), nullptr), VESK_HTTP_SUCCESS);
    ASSERT_TRUE(fs::is_directory(root_ / "Public" / local));
    WriteFile(root_ / "Public" / local / local, 3);

    CVeskHttpFileStatus status;
    ASSERT_EQ(files_->GetFileStatus((folder + L"/" + wname).c_str(), nullptr, &status),
              VESK_HTTP_SUCCESS);
    EXPECT_EQ(status.GetFileName(), wname);
    EXPECT_EQ(status.GetFileSize(), 3);

    std::vector<CVeskHttpFileEntry> hits;
    ASSERT_EQ(files_->SearchFile(L"/Public", wname.c_str(), 50, nullptr, &hits), VESK_HTTP_SUCCESS);
    EXPECT_FALSE(hits.empty());

    const std::wstring renamed = wname + L" 2";
    ASSERT_EQ(files_->RenameFile((folder + L"/" + wname).c_str(), renamed.c_str(), nullptr),
              VESK_HTTP_SUCCESS);
    EXPECT_TRUE(fs::exists(root_ / "Public" / local / Utf8Path(name + " 2")));

    ASSERT_EQ(files_->CopyFile((folder + L"/" + renamed).c_str(), L"/Backup", 1, nullptr, nullptr,
                               &IgnoreProgress),
              VESK_HTTP_SUCCESS);
    ASSERT_EQ(files_->MoveFile(folder.c_str(), L"/Backup", 1, nullptr, nullptr, &IgnoreProgress),
              VESK_HTTP_SUCCESS);
    EXPECT_FALSE(fs::exists(root_ / "Public" / local));

    ASSERT_EQ(files_->DeleteFile((L"/Backup/" + wname).c_str(), nullptr), VESK_HTTP_SUCCESS);
    ASSERT_EQ(files_->DeleteFile(CVeskHttpFileEntry(0, 3, L"/Backup", renamed.c_str()), nullptr),
              VESK_HTTP_SUCCESS);
    EXPECT_TRUE(fs::is_empty(root_ / "Backup"));
  }
}

TEST_F(FileTreeEndToEnd, RefusalsComeBackAsDeviceStatuses) {
  fs::create_directory(root_ / "Public" / "taken");
  EXPECT_EQ(files_->CreateFolder(L"/Public", L"taken", nullptr), VESK_HTTP_DEVICE_STATUS_2);
  EXPECT_EQ(files_->RenameFile(L"/Public/missing", L"x", nullptr), VESK_HTTP_DEVICE_STATUS_4);
  EXPECT_EQ(files_->CopyFile(L"/Public/missing", L"/Backup", 0, nullptr, nullptr, nullptr),
            VESK_HTTP_DEVICE_STATUS_4);
  std::vector<CVeskHttpFileEntry> list;
  EXPECT_EQ(files_->GetFileList(L"/Nowhere", 0, 10, nullptr, &list), VESK_HTTP_DEVICE_STATUS_4);
  EXPECT_EQ(files_->GetFileList(L"/Public/../..", 0, 10, nullptr, &list), VESK_HTTP_SERVER_FAILED);
  EXPECT_TRUE(list.empty());
}

// Every field of two status records of one item but its path, which a search reports as the
// folder searched.
void ExpectSameStatus(const CVeskHttpFileStatus& got, const CVeskHttpFileStatus& want) {
  SCOPED_TRACE(std::wstring(want.GetFileName()));
  EXPECT_STREQ(got.GetFileName(), want.GetFileName());
  EXPECT_EQ(got.IsDir(), want.IsDir());
  EXPECT_EQ(got.IsCommpressed(), want.IsCommpressed());
  EXPECT_EQ(got.GetFileSize(), want.GetFileSize());
  EXPECT_STREQ(got.GetFolderPermission(), want.GetFolderPermission());
  EXPECT_STREQ(got.GetOwner(), want.GetOwner());
  EXPECT_STREQ(got.GetGroup(), want.GetGroup());
  EXPECT_STREQ(got.GetMT(), want.GetMT());
  EXPECT_EQ(got.GetModifyTime64(), want.GetModifyTime64());
}

// The records of an asynchronous listing or search with status, once it has completed.
std::vector<CVeskHttpFileStatus> Finished(IVeskHttpFileStation* files,
                                          IVeskHttpFileStationRequestBase* request,
                                          vesk::test::FileNotes& notes, int* total) {
  std::vector<CVeskHttpFileStatus> records;
  EXPECT_NE(request, nullptr);
  if (!request) return records;
  EXPECT_TRUE(notes.WaitForCompletions());
  EXPECT_EQ(notes.Notes().back().result, VESK_HTTP_SUCCESS);
  records = *request->GetFileStatusList();
  *total = request->GetTotalCount();
  EXPECT_EQ(files->CloseRequest(&request), 1);
  return records;
}

TEST_F(FileTreeEndToEnd, StatusListingsGiveEachEntryAsItsStatusDoes) {
  for (int i = 0; i < 40; ++i) {
    const std::string name = "entry " + std::to_string(i);
    if (i % 8 == 0) {
      fs::create_directory(root_ / "Public" / name);
    } else {
      WriteFile(root_ / "Public" / name, i);
    }
  }
  WriteFile(root_ / "Public" / "packed.zip", 3);
  // A time beyond 2038, set through the device and read back whole.
  CVeskHttpFileStatus changed;
  ASSERT_EQ(files_->SetFileModifyTime64(L"/Public/entry 1", 4102444800LL, nullptr, &changed),
            VESK_HTTP_SUCCESS);
  EXPECT_EQ(changed.GetModifyTime64(), 4102444800LL);

  int total = 0;
  std::vector<CVeskHttpFileStatus> list;
  for (int start = 0; start < 41; start += 16) {
    ASSERT_EQ(files_->GetFileStatusList(L"/Public", start, 16, nullptr, &total, &list),
              VESK_HTTP_SUCCESS);
  }
  EXPECT_EQ(total, 41);
  ASSERT_EQ(list.size(), 41u);
  for (const CVeskHttpFileStatus& record : list) {
    EXPECT_STREQ(record.GetFilePath(), L"/Public");
    CVeskHttpFileStatus single;
    ASSERT_EQ(files_->GetFileStatus((std::wstring(L"/Public/") + record.GetFileName()).c_str(),
                                    nullptr, &single),
              VESK_HTTP_SUCCESS);
    ExpectSameStatus(record, single);
    EXPECT_GT(record.GetModifyTime64(), 0);
  }
  const auto named = [&](const wchar_t* name) {
    return *std::find_if(list.begin(), list.end(), [&](const CVeskHttpFileStatus& record) {
      return std::wstring(record.GetFileName()) == name;
    });
  };
  EXPECT_EQ(named(L"entry 1").GetModifyTime64(), 4102444800LL);
  EXPECT_EQ(named(L"packed.zip").IsCommpressed(), 1);
  EXPECT_EQ(named(L"entry 8").IsDir(), 1);

  vesk::test::FileNotes notes;
  int asyncTotal = 0;
  const std::vector<CVeskHttpFileStatus> page = Finished(
      files_,
      files_->GetFileStatusListAsync(L"/Public", 16, 16, &notes, &vesk::test::FileNotes::Record),
      notes, &asyncTotal);
  EXPECT_EQ(asyncTotal, 41);
  ASSERT_EQ(page.size(), 16u);
  for (std::size_t i = 0; i < page.size(); ++i) ExpectSameStatus(page[i], list[16 + i]);
}

TEST_F(FileTreeEndToEnd, SearchWithStatusGivesEachHitAsItsStatusDoes) {
  fs::create_directories(root_ / "Public" / "a" / "b");
  fs::create_directory(root_ / "Public" / "a" / "Reports");
  WriteFile(root_ / "Public" / "report 1.txt", 5);
  WriteFile(root_ / "Public" / "a" / "b" / "REPORT 2.txt", 6);
  WriteFile(root_ / "Public" / "a" / "other.txt", 7);
  ASSERT_EQ(
      files_->SetFileModifyTime64(L"/Public/a/b/REPORT 2.txt", 4102444800LL, nullptr, nullptr),
      VESK_HTTP_SUCCESS);
  const std::map<std::wstring, std::wstring> where = {
      {L"report 1.txt", L"/Public/report 1.txt"},
      {L"REPORT 2.txt", L"/Public/a/b/REPORT 2.txt"},
      {L"Reports", L"/Public/a/Reports"}};

  std::vector<CVeskHttpFileStatus> hits;
  ASSERT_EQ(files_->SearchFileStatus(L"/Public", L"report", 50, nullptr, &hits), VESK_HTTP_SUCCESS);
  vesk::test::FileNotes notes;
  int total = 0;
  const std::vector<CVeskHttpFileStatus> asyncHits =
      Finished(files_,
               files_->SearchFileStatusAsync(L"/Public", L"report", 50, &notes,
                                             &vesk::test::FileNotes::Record),
               notes, &total);
  EXPECT_EQ(total, 3);
  const std::vector<CVeskHttpFileStatus>* both[] = {&hits, &asyncHits};
  for (const std::vector<CVeskHttpFileStatus>* found : both) {
    ASSERT_EQ(found->size(), 3u);
    for (const CVeskHttpFileStatus& hit : *found) {
      EXPECT_STREQ(hit.GetFilePath(), L"/Public");  // the folder searched
      const auto at = where.find(hit.GetFileName());
      ASSERT_NE(at, where.end()) << hit.GetFileName();
      CVeskHttpFileStatus single;
      ASSERT_EQ(files_->GetFileStatus(at->second.c_str(), nullptr, &single), VESK_HTTP_SUCCESS);
      ExpectSameStatus(hit, single);
      if (at->first == L"REPORT 2.txt") {
        EXPECT_EQ(hit.GetModifyTime64(), 4102444800LL);
      }
    }
  }
}

// A device whose copy and move jobs go slowly enough to follow.
class SlowJobs : public FileTreeEndToEnd {
 protected:
  SlowJobs() : FileTreeEndToEnd(2u << 20) {}
};

struct Percentages {
  std::vector<long long> values;
  static void Record(void* user, long long percent) {
    static_cast<Percentages*>(user)->values.push_back(percent);
  }
  // Progress that rose through the job, never backwards, to 100: a value strictly between 0
  // and 100 was reported on the way (the job takes about two seconds at this rate), so that a
  // report jumping from the start straight to the end does not pass.
  void ExpectRiseTo100() const {
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.back(), 100);
    EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](long long v) {
      return v > 0 && v < 100;
    })) << ::testing::PrintToString(values);
  }
};

TEST_F(SlowJobs, CopyAndMoveReportProgressUpTo100) {
  fs::create_directory(root_ / "Public" / "album");
  for (int i = 0; i < 4; ++i) WriteFile(root_ / "Public" / "album" / std::to_string(i), 1 << 20);

  Percentages copy;
  ASSERT_EQ(files_->CopyFile(L"/Public/album", L"/Backup", 0, nullptr, &copy, &Percentages::Record),
            VESK_HTTP_SUCCESS);
  copy.ExpectRiseTo100();
  EXPECT_EQ(fs::file_size(root_ / "Backup" / "album" / "3"), 1u << 20);

  fs::create_directory(root_ / "Backup" / "moved");
  Percentages move;
  ASSERT_EQ(
      files_->MoveFile(L"/Public/album", L"/Backup/moved", 0, nullptr, &move, &Percentages::Record),
      VESK_HTTP_SUCCESS);
  move.ExpectRiseTo100();
  EXPECT_FALSE(fs::exists(root_ / "Public" / "album"));
  EXPECT_EQ(fs::file_size(root_ / "Backup" / "moved" / "album" / "0"), 1u << 20);
}

TEST_F(SlowJobs, CancelDuringACopyEndsItPromptly) {
  WriteFile(root_ / "Public" / "huge.bin", 64 << 20);  // half a minute at this rate
  int flag = 0;
  // Cancel once the job reports progress: the copy is well under way on the device.
  struct Context {
    std::promise<void> started;
    std::atomic<bool> told{false};
  } context;
  std::thread canceller([&] {
    context.started.get_future().wait();
    std::atomic_ref<int>(flag).store(1);
  });
  const auto start = std::chrono::steady_clock::now();
  const int result = files_->CopyFile(L"/Public/huge.bin", L"/Backup", 0, &flag, &context,
                                      [](void* user, long long) {
                                        auto* c = static_cast<Context*>(user);
                                        if (!c->told.exchange(true)) c->started.set_value();
                                      });
  const auto waited = std::chrono::steady_clock::now() - start;
  canceller.join();
  EXPECT_EQ(result, VESK_HTTP_CANCELLED);
  EXPECT_LT(waited, 10s);
}

TEST_F(FileTreeEndToEnd, EveryAsynchronousFormCompletesOnceWithItsOperation) {
  fs::create_directory(root_ / "Public" / "d");
  WriteFile(root_ / "Public" / "f", 5);
  const CVeskHttpFileEntry folderEntry(1, 0, L"/Public", L"d");
  using Start = std::function<IVeskHttpFileStationRequestBase*(vesk::test::FileNotes*)>;
  const auto notify = &vesk::test::FileNotes::Record;
  const std::vector<std::pair<Start, int>> cases = {
      {[&](auto* n) { return files_->GetShareFolderListAsync(n, notify); }, 3},
      {[&](auto* n) { return files_->GetFileListCountAsync(L"/Public", n, notify); }, 1},
      {[&](auto* n) { return files_->GetFileListAsync(L"/Public", 0, 5, n, notify); }, 2},
      {[&](auto* n) { return files_->GetFileStatusAsync(L"/Public/f", n, notify); }, 13},
      {[&](auto* n) { return files_->SearchFileAsync(L"/Public", L"f", 5, n, notify); }, 14},
      {[&](auto* n) { return files_->CreateFolderAsync(L"/Public", L"n1", n, notify); }, 7},
      {[&](auto* n) { return files_->CreateFolderAsync(folderEntry, L"n2", n, notify); }, 7},
      {[&](auto* n) { return files_->SetFileModifyTimeAsync(L"/Public/f", 5, n, notify); }, 16},
      {[&](auto* n) {
         return files_->SetFileModifyTime64Async(L"/Public/f", 4102444800LL, n, notify);
       },
       16},
      {[&](auto* n) { return files_->GetFileStatusListAsync(L"/Public", 0, 5, n, notify); }, 26},
      {[&](auto* n) { return files_->SearchFileStatusAsync(L"/Public", L"f", 5, n, notify); }, 27},
      {[&](auto* n) { return files_->CopyFileAsync(L"/Public/f", L"/Backup", 1, n, notify); }, 8},
      {[&](auto* n) {
         return files_->CopyFileAsync(CVeskHttpFileEntry(0, 5, L"/Public", L"f"), L"/Backup", 1, n,
                                      notify);
       },
       8},
      {[&](auto* n) { return files_->RenameFileAsync(L"/Backup/f", L"g", n, notify); }, 15},
      {[&](auto* n) { return files_->MoveFileAsync(L"/Backup/g", L"/Public/d", 1, n, notify); }, 9},
      {[&](auto* n) {
         return files_->MoveFileAsync(CVeskHttpFileEntry(0, 5, L"/Public/d", L"g"), L"/Backup", 1,
                                      n, notify);
       },
       9},
      {[&](auto* n) { return files_->DeleteFileAsync(L"/Backup/g", n, notify); }, 10},
      {[&](auto* n) {
         return files_->DeleteFileAsync(CVeskHttpFileEntry(1, 0, L"/Public", L"n1"), n, notify);
       },
       10},
  };
  for (const auto& [start, operation] : cases) {
    SCOPED_TRACE(operation);
    vesk::test::FileNotes notes;
    IVeskHttpFileStationRequestBase* request = start(&notes);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(notes.WaitForCompletions());
    EXPECT_EQ(files_->CloseRequest(&request), 1);
    const auto got = notes.Notes();
    EXPECT_EQ(notes.Completions(), 1);
    EXPECT_EQ(got.back().result, VESK_HTTP_SUCCESS);
    for (const auto& note : got) EXPECT_EQ(note.operation, operation);
  }
  EXPECT_FALSE(fs::exists(root_ / "Backup" / "g"));
  EXPECT_TRUE(fs::is_directory(root_ / "Public" / "d" / "n2"));
}

}  // namespace
