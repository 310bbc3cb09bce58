// Compressing, listing and extracting archives through the public API, against the device
// emulator serving a temporary folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/EmulatedDevice.h"
#include "support/Files.h"
#include "support/WideText.h"

namespace {

namespace fs = std::filesystem;
using vesk::test::Snapshot;
using vesk::test::Utf8Path;
using vesk::test::Wide;
using vesk::test::WriteFile;

// Argument values of the archive operations.
constexpr int kZip = 0, k7z = 1;
constexpr int kNormalLevel = 0;
constexpr int kNoEncryption = -1;  // outside the encryption table: no method is sent
constexpr int kCreateOrReplace = 0;
constexpr int kExtractAll = 0, kExtractPart = 1;
constexpr int kPathNone = 0, kPathFull = 1;

// A progress callback makes a compression or extraction wait for the device's job to end.
void IgnoreProgress(void*, long long) {}

// Sets the cancel flag it is given as user data at the first progress report.
void CancelAtFirstProgress(void* flag, long long) { *static_cast<int*>(flag) = 1; }

class ArchiveEndToEnd : public vesk::test::EmulatedDeviceTest {
 protected:
  explicit ArchiveEndToEnd(unsigned long long jobBytesPerSecond = 0)
      : EmulatedDeviceTest({"Public", "Backup"}, PlainHttp(jobBytesPerSecond)) {}

  VESK_HTTP_RESULT Compress(const wchar_t* name, const std::vector<std::wstring>& items,
                            int format) {
    std::vector<const wchar_t*> names;
    for (const std::wstring& item : items) names.push_back(item.c_str());
    return files_->CompressFile(name, L"/Public", static_cast<int>(names.size()), names, format,
                                L"", kNormalLevel, kNoEncryption, kCreateOrReplace, nullptr,
                                nullptr, &IgnoreProgress);
  }
  VESK_HTTP_RESULT Extract(const wchar_t* archive, const wchar_t* dest,
                           const std::vector<std::wstring>& parts, int overwrite, int pathMode) {
    std::vector<const wchar_t*> names;
    for (const std::wstring& part : parts) names.push_back(part.c_str());
    return files_->ExtractFile(archive, dest, L"", parts.empty() ? kExtractAll : kExtractPart,
                               static_cast<int>(names.size()), names, overwrite, pathMode, nullptr,
                               nullptr, &IgnoreProgress);
  }
};

TEST_F(ArchiveEndToEnd, NamesThatNeedEncodingGoThroughCompressListAndExtract) {
  // Top-level items and entries below them whose names hold every character a form or a query
  // gives a meaning to, and text beyond ASCII.
  const std::vector<std::string> items = {"my folder", "a&b=c#d%e+f",
                                          "\xc3\xbcml\xc3\xa4ut \xe2\x82\xac"};
  const fs::path from = root_ / "Public";
  WriteFile(from / Utf8Path(items[0] + "/sub dir/x&y#z%.txt"), "nested");
  WriteFile(from / Utf8Path(items[0] + "/\xe6\x96\x87\xe4\xbb\xb6"), "wide");
  WriteFile(from / Utf8Path(items[1]), "hash and percent");
  WriteFile(from / Utf8Path(items[2] + "/%41%42"), "not an escape");
  std::vector<std::wstring> wideItems;
  for (const std::string& item : items) wideItems.push_back(Wide(item));
  const auto source = Snapshot(from);

  for (const int format : {kZip, k7z}) {
    SCOPED_TRACE(format);
    const std::wstring archive = format == kZip ? L"/Public/pack #1.zip" : L"/Public/pack #1.7z";
    ASSERT_EQ(Compress(L"pack #1", wideItems, format), VESK_HTTP_SUCCESS);

    std::vector<CVeskHttpExtractEntry> entries;
    ASSERT_EQ(files_->GetExtractList(archive.c_str(), 0, 100, nullptr, &entries),
              VESK_HTTP_SUCCESS);
    // Every item, folders and sizes as they are on disk.
    std::map<std::wstring, std::pair<int, long long>> listed, expected;
    for (const auto& entry : entries) {
      listed[entry.GetFileName()] = {entry.IsDir(), entry.GetFileSize()};
      EXPECT_STRNE(entry.GetModifyTime(), L"") << entry.GetFileName();
    }
    for (const auto& [name, content] : source) {
      expected[Wide(name)] = content == "dir" ? std::pair<int, long long>{1, 0}
                                              : std::pair<int, long long>{0, content.size()};
    }
    EXPECT_EQ(listed, expected);

    const std::wstring dest = format == kZip ? L"out zip" : L"out 7z";
    ASSERT_EQ(files_->CreateFolder(L"/Backup", dest.c_str(), nullptr), VESK_HTTP_SUCCESS);
    ASSERT_EQ(Extract(archive.c_str(), (L"/Backup/" + dest).c_str(), {}, 0, kPathFull),
              VESK_HTTP_SUCCESS);
    const fs::path out = root_ / "Backup" / (format == kZip ? "out zip" : "out 7z");
    EXPECT_EQ(Snapshot(out), source);

    // A part, by the name the listing gave it, straight into a folder.
    fs::remove_all(out);
    fs::create_directory(out);
    ASSERT_EQ(Extract(archive.c_str(), (L"/Backup/" + dest).c_str(),
                      {wideItems[0] + L"/sub dir", wideItems[1]}, 0, kPathNone),
              VESK_HTTP_SUCCESS);
    EXPECT_EQ(Snapshot(out), (std::map<std::string, std::string>{{"x&y#z%.txt", "nested"},
                                                                 {items[1], "hash and percent"}}));
  }
}

TEST_F(ArchiveEndToEnd, OverwriteDecidesAboutExistingFiles) {
  WriteFile(root_ / "Public" / "set" / "same.txt", "archived");
  WriteFile(root_ / "Public" / "set" / "new.txt", "new");
  ASSERT_EQ(Compress(L"set", {L"set"}, kZip), VESK_HTTP_SUCCESS);
  WriteFile(root_ / "Backup" / "set" / "same.txt", "existing");

  EXPECT_EQ(Extract(L"/Public/set.zip", L"/Backup", {}, 0, kPathFull), VESK_HTTP_DEVICE_STATUS_2);
  EXPECT_EQ(Snapshot(root_ / "Backup"),
            (std::map<std::string, std::string>{{"set", "dir"}, {"set/same.txt", "existing"}}));
  EXPECT_EQ(Extract(L"/Public/set.zip", L"/Backup", {}, 1, kPathFull), VESK_HTTP_SUCCESS);
  EXPECT_EQ(Snapshot(root_ / "Backup"),
            (std::map<std::string, std::string>{
                {"set", "dir"}, {"set/new.txt", "new"}, {"set/same.txt", "archived"}}));
}

TEST_F(ArchiveEndToEnd, RefusalsComeBackAsDeviceStatuses) {
  WriteFile(root_ / "Public" / "notes.txt", "not an archive");
  std::vector<CVeskHttpExtractEntry> entries;
  EXPECT_EQ(files_->GetExtractList(L"/Public/notes.txt", 0, 10, nullptr, &entries),
            VESK_HTTP_DEVICE_STATUS_5);
  EXPECT_EQ(files_->GetExtractList(L"/Public/none.zip", 0, 10, nullptr, &entries),
            VESK_HTTP_DEVICE_STATUS_4);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(Compress(L"a", {L"missing"}, kZip), VESK_HTTP_DEVICE_STATUS_4);
  ASSERT_EQ(Compress(L"a", {L"notes.txt"}, kZip), VESK_HTTP_SUCCESS);
  std::vector<const wchar_t*> names = {L"notes.txt"};
  EXPECT_EQ(files_->CompressFile(L"a", L"/Public", 1, names, kZip, L"", kNormalLevel, kNoEncryption,
                                 1, nullptr, nullptr, &IgnoreProgress),
            VESK_HTTP_DEVICE_STATUS_2);
}

// A device whose jobs go slowly enough to be cancelled.
class SlowArchiveJobs : public ArchiveEndToEnd {
 protected:
  SlowArchiveJobs() : ArchiveEndToEnd(64 * 1024) {}
};

TEST_F(SlowArchiveJobs, CancelStopsTheJobOnTheDevice) {
  // 4 MiB at 64 KiB a second would take a minute.
  WriteFile(root_ / "Public" / "big" / "data.bin", std::string(4 << 20, 'b'));
  const auto before = Snapshot(root_);
  int cancel = 0;
  std::vector<const wchar_t*> names = {L"big"};
  EXPECT_EQ(
      files_->CompressFile(L"big", L"/Public", 1, names, kZip, L"", kNormalLevel, kNoEncryption,
                           kCreateOrReplace, &cancel, &cancel, &CancelAtFirstProgress),
      VESK_HTTP_CANCELLED);
  // The device stopped the job (the first of this device: pid 1), which removed its partial
  // archive before the cancel returned.
  EXPECT_TRUE(device_->WaitForJob(1, 100, std::chrono::milliseconds(0)));
  EXPECT_TRUE(Snapshot(root_) == before);  // 4 MiB of content: compared without printing it
}

}  // namespace
