// The value records through the shared library's exported interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VeskHttp.h"

namespace {

TEST(Records, DefaultsAreZeroAndEmptyTexts) {
  const CVeskHttpFileStatus status;
  EXPECT_EQ(status.IsDir(), 0);
  EXPECT_EQ(status.IsCommpressed(), 0);
  EXPECT_EQ(status.GetFileSize(), 0);
  for (const wchar_t* text :
       {status.GetFolderPermission(), status.GetFilePath(), status.GetFileName(), status.GetGroup(),
        status.GetOwner(), status.GetMT()}) {
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, L"");
  }
  const CVeskHttpSystemSettingInfo settings;
  EXPECT_STREQ(settings.GetServerName(), L"");
  EXPECT_EQ(
      settings.GetSYSPort() + settings.IsSSL() + settings.GetSYSSSLPort() + settings.IsSSLForce(),
      0);
}

TEST(Records, ConstructorsKeepFieldOrderAndSizesAbove4GiB) {
  const long long big = 5LL << 30;
  CVeskHttpFileStatus status(1, 1, big, L"ReadWrite", L"/share", L"a.bin", L"users", L"admin",
                             L"2026/12/10 04:00:00");
  EXPECT_EQ(status.GetFileSize(), big);
  EXPECT_STREQ(status.GetFolderPermission(), L"ReadWrite");
  EXPECT_STREQ(status.GetFilePath(), L"/share");
  EXPECT_STREQ(status.GetFileName(), L"a.bin");
  EXPECT_STREQ(status.GetGroup(), L"users");
  EXPECT_STREQ(status.GetOwner(), L"admin");
  EXPECT_STREQ(status.GetMT(), L"2026/12/10 04:00:00");

  CVeskHttpExtractEntry extract(0, big, big + 1, L"mt", L"name");
  EXPECT_EQ(extract.GetCompressFileSize(), big + 1);
  CVeskHttpFileEntry entry;
  entry.SetFileSize(big);
  EXPECT_EQ(entry.GetFileSize(), big);
  entry.SetFileName(L"");
  ASSERT_NE(entry.GetFileName(), nullptr);
  EXPECT_STREQ(entry.GetFileName(), L"");

  const CVeskHttpServerInfo info(L"nas.local", L"admin", L"secret", 1, L"PC_COMPUTER");
  EXPECT_STREQ(info.GetHostName(), L"nas.local");
  EXPECT_STREQ(info.GetUsername(), L"admin");
  EXPECT_STREQ(info.GetPassword(), L"secret");
  EXPECT_EQ(info.IsSecureMode(), 1);
  EXPECT_STREQ(info.GetComputerName(), L"PC_COMPUTER");

  const CVeskHttpNASInfo nas(L"cloud", L"1.2.3.4", L"10.0.0.2", L"10.0.0.1");
  EXPECT_STREQ(nas.GetFarlinkNasName(), L"cloud");
  EXPECT_STREQ(nas.GetNasHostIP(), L"10.0.0.1");
  const CVeskHttpSystemSettingInfo settings(L"nas", 8080, 1, 443, 0);
  EXPECT_EQ(settings.GetSYSSSLPort(), 443);
  EXPECT_EQ(settings.IsSSLForce(), 0);
}

TEST(Records, CopiesAreIndependent) {
  CVeskHttpShareLinkInfo original(L"/share/a.txt", L"pw", L"2027-01-01", 1);
  CVeskHttpShareLinkInfo copy(original);
  original.SetShareFilePath(L"/other");
  original.SetPassword(L"changed");
  original.SetIsSecureMode(0);
  EXPECT_STREQ(copy.GetShareFilePath(), L"/share/a.txt");
  EXPECT_STREQ(copy.GetPassword(), L"pw");
  EXPECT_STREQ(copy.GetDateTime(), L"2027-01-01");
  EXPECT_EQ(copy.IsSecureMode(), 1);

  CVeskHttpShareLink link;
  link.SetURL(L"https://x/1");
  CVeskHttpShareLink assigned;
  assigned = link;
  link.SetURL(L"changed");
  EXPECT_STREQ(assigned.GetURL(), L"https://x/1");
}

// The 64-bit time lives beside the time text: each keeps its value whatever is done to the
// other, and copies carry both.
TEST(Records, TheStatusTimeAndItsTextAreKeptApart) {
  CVeskHttpFileStatus status(0, 0, 1, L"", L"", L"a", L"", L"", L"2100/01/01 00:00:00");
  EXPECT_EQ(status.GetModifyTime64(), 0);
  status.SetModifyTime64(4102444800LL);
  EXPECT_STREQ(status.GetMT(), L"2100/01/01 00:00:00");
  status.SetMT(L"a longer text than the one before it");
  status.SetMT(L"t");
  EXPECT_STREQ(status.GetMT(), L"t");
  EXPECT_EQ(status.GetModifyTime64(), 4102444800LL);
  CVeskHttpFileStatus copy(status), assigned;
  assigned = status;
  status.SetModifyTime64(-1);
  EXPECT_EQ(status.GetModifyTime64(), -1);
  EXPECT_EQ(copy.GetModifyTime64(), 4102444800LL);
  EXPECT_EQ(assigned.GetModifyTime64(), 4102444800LL);
  EXPECT_STREQ(assigned.GetMT(), L"t");
  status.SetModifyTime64(0);
  EXPECT_EQ(status.GetModifyTime64(), 0);
  EXPECT_STREQ(status.GetMT(), L"t");
}

TEST(Records, ExportedVectorsHoldRecords) {
  std::vector<CVeskHttpFileEntry> entries;
  entries.push_back(CVeskHttpFileEntry(1, 0, L"/share", L"folder"));
  entries.emplace_back(0, 12, L"/share", L"file.txt");
  std::vector<CVeskHttpFileEntry> copy = entries;
  entries.clear();
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_STREQ(copy[1].GetFileName(), L"file.txt");
  std::vector<CVeskHttpExtractEntry> extracts(3);
  std::vector<CVeskHttpShareLink> links(2);
  std::vector<CVeskHttpFileStatus> statuses(1);
  statuses.emplace_back(0, 0, 1, L"", L"", L"b", L"", L"", L"");
  EXPECT_EQ(extracts.size() + links.size() + statuses.size(), 7u);
}

}  // namespace
