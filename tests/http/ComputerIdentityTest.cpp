#include "http/ComputerIdentity.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/MachineIdentity.h"

namespace vesk {
namespace {

bool IsLowerHex40(const std::wstring& uid) {
  return uid.size() == 40 && std::all_of(uid.begin(), uid.end(), [](wchar_t c) {
           return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
         });
}

const std::vector<unsigned char> kMac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(ComputeComputerUID, Sha1OfAccountThenAddressAsLowerCaseHex) {
  std::string longAccount = "S-1-5-21-";
  for (int i = 0; i < 30; ++i) longAccount += "1234567890-";
  struct Case {
    std::string account;
    std::vector<unsigned char> address;
    std::wstring uid;
  } cases[] = {
      // The account bytes come first, the address bytes right after them.
      {"ab", {'c'}, L"a9993e364706816aba3e25717850c26c9cd0d89d"},  // SHA-1("abc")
      {"uid:1000:alice", kMac, L"a2b72dfc12d5f86f46ea6097328c655aefe0733e"},
      {"uid:1001:bob", kMac, L"354dc7d20ec012d16d1f30dafdc3bb2af79e74f3"},
      // 339 bytes of account and 8 of address: hashed whole, beyond 260 bytes.
      {longAccount,
       {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4},
       L"11fde77c21103ac935b37ce84ee16ae4d5636a0c"},
      // Nothing to hash without either part.
      {"abc", {}, L""},
      {"", kMac, L""},
      {"", {}, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.account);
    EXPECT_EQ(ComputeComputerUID(c.account, c.address), c.uid);
  }
}

TEST(ComputeComputerUID, DiffersBetweenAccountsAndAddresses) {
  const std::set<std::wstring> uids = {
      ComputeComputerUID("uid:1000:alice", kMac),
      ComputeComputerUID("uid:1001:alice", kMac),
      ComputeComputerUID("uid:1000:alicf", kMac),
      ComputeComputerUID("uid:1000:alice", {0x00, 0x11, 0x22, 0x33, 0x44, 0x56}),
      ComputeComputerUID("uid:1000:alice", {0x00, 0x11, 0x22, 0x33, 0x44}),
  };
  EXPECT_EQ(uids.size(), 5u);
  for (const std::wstring& uid : uids) EXPECT_TRUE(IsLowerHex40(uid));
}

#ifdef _WIN32
// The account's security identifier in its text form: "S-1-", the identifier authority, and
// one or more sub-authorities, all decimal.
TEST(MachineIdentity, AccountIdentifierIsThisProcessUsersSid) {
  const std::string account = platform::AccountIdentifier();
  ASSERT_EQ(account.rfind("S-1-", 0), 0u) << account;
  std::size_t parts = 0;
  for (std::size_t start = 4; start <= account.size(); ++parts) {
    const std::size_t end = std::min(account.find('-', start), account.size());
    const std::string part = account.substr(start, end - start);
    EXPECT_FALSE(part.empty()) << account;
    EXPECT_TRUE(std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
        << account;
    start = end + 1;
  }
  EXPECT_GE(parts, 2u) << account;
  EXPECT_EQ(platform::AccountIdentifier(), account);
}
#else
TEST(MachineIdentity, AccountIdentifierNamesThisProcessUser) {
  const std::string account = platform::AccountIdentifier();
  std::string expected = "uid:" + std::to_string(getuid()) + ":";
  if (const passwd* entry = getpwuid(getuid())) expected += entry->pw_name;
  EXPECT_EQ(account, expected);
}
#endif

TEST(MachineIdentity, FirstHardwareAddressIsANonZeroInterfaceAddress) {
  const std::vector<unsigned char> address = platform::FirstHardwareAddress();
  if (address.empty()) GTEST_SKIP() << "no network interface with a hardware address";
  EXPECT_LE(address.size(), 8u);
  EXPECT_TRUE(std::any_of(address.begin(), address.end(), [](unsigned char b) { return b; }));

  // It is the address of one of the interfaces sysfs lists, other than the loopback.
  std::string text;
  for (unsigned char b : address) {
    static const char kHex[] = "0123456789abcdef";
    if (!text.empty()) text += ':';
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  std::set<std::string> listed;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net", error)) {
    if (entry.path().filename() == "lo") continue;
    std::ifstream file(entry.path() / "address");
    std::string line;
    if (std::getline(file, line)) listed.insert(line);
  }
  if (!listed.empty()) {
    EXPECT_EQ(listed.count(text), 1u) << text;
  }
}

TEST(GetComputerUID, StableHashOfThisAccountAndAddress) {
  const std::wstring uid = GetComputerUID();
  EXPECT_EQ(uid,
            ComputeComputerUID(platform::AccountIdentifier(), platform::FirstHardwareAddress()));
  EXPECT_EQ(GetComputerUID(), uid);
  if (platform::FirstHardwareAddress().empty()) {
    EXPECT_EQ(uid, L"");
  } else {
    EXPECT_TRUE(IsLowerHex40(uid)) << std::string(uid.begin(), uid.end());
  }
}

}  // namespace
}  // namespace vesk
