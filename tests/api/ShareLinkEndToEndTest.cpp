// Share links through the public API, against the device emulator serving a temporary folder:
// links made with and without an access code and an expiry, opened with a plain HTTP client,
// listed, deleted, and expired.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/EmulatedDevice.h"
#include "support/HttpGet.h"

namespace {

namespace fs = std::filesystem;
using vesk::test::Ascii;
using vesk::test::HttpGet;

#ifdef _WIN32
tm* localtime_r(const std::time_t* when, tm* parts) {
  return localtime_s(parts, when) == 0 ? parts : nullptr;
}
#endif

// Tomorrow at 10:30 local time, and the same moment as wide text in the given format.
std::time_t TomorrowAt1030() {
  const std::time_t now = std::time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  parts.tm_mday += 1;
  parts.tm_hour = 10;
  parts.tm_min = 30;
  parts.tm_sec = 0;
  parts.tm_isdst = -1;
  return mktime(&parts);
}

std::wstring LocalText(std::time_t when, const char* format) {
  tm parts{};
  localtime_r(&when, &parts);
  std::ostringstream text;
  text << std::put_time(&parts, format);
  const std::string narrow = text.str();
  return std::wstring(narrow.begin(), narrow.end());
}

class ShareLinkEndToEnd : public vesk::test::EmulatedDeviceTest {
 protected:
  ShareLinkEndToEnd() : EmulatedDeviceTest({"Public"}) {
    std::ofstream(root_ / "Public" / "report 1.txt", std::ios::binary) << kContent;
  }

  std::vector<CVeskHttpShareLink> List() {
    std::vector<CVeskHttpShareLink> links;
    EXPECT_EQ(files_->GetShareLinkList(100, nullptr, &links), VESK_HTTP_SUCCESS);
    return links;
  }

  static constexpr const char* kContent = "shared through a link\n";
};

TEST_F(ShareLinkEndToEnd, ALinkDownloadsTheFileForAnyClientUntilDeleted) {
  const std::time_t expiry = TomorrowAt1030();
  const struct {
    const wchar_t* password;
    std::wstring dateTime;
    int secure;
    std::wstring expireTime;
  } cases[] = {
      {L"", L"0", 0, L"0"},
      {L"pa55", LocalText(expiry, "%Y-%m-%d %H:%M"), 1, LocalText(expiry, "%Y-%m-%dT%H:%M:%S")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.secure);
    device_->SetClock(std::nullopt);  // the system's clock
    CVeskHttpShareLink link;
    ASSERT_EQ(files_->CreateShareLink(CVeskHttpShareLinkInfo(L"/Public/report 1.txt", c.password,
                                                             c.dateTime.c_str(), c.secure),
                                      nullptr, &link),
              VESK_HTTP_SUCCESS);
    const std::string url = Ascii(link.GetURL());
    const std::string origin = c.secure ? "https://127.0.0.1:" + std::to_string(device_->TlsPort())
                                        : "http://127.0.0.1:" + std::to_string(device_->Port());
    EXPECT_EQ(url.rfind(origin + "/", 0), 0u) << url;
    EXPECT_STREQ(link.GetFileName(), L"/Public/report 1.txt");
    EXPECT_EQ(std::wstring(link.GetExpireTime()), c.expireTime);

    const std::string code = Ascii(c.password);
    const vesk::test::HttpReply fetched = HttpGet(url + "?access_code=" + code);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, kContent);
    if (!code.empty()) {
      EXPECT_EQ(HttpGet(url).status, 403);
      EXPECT_EQ(HttpGet(url + "?access_code=wrong").status, 403);
      device_->SetClock(expiry);
      EXPECT_EQ(HttpGet(url + "?access_code=" + code).status, 410);
    }

    const std::vector<CVeskHttpShareLink> links = List();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(Ascii(links[0].GetURL()), url);
    EXPECT_STREQ(links[0].GetFileName(), L"/Public/report 1.txt");
    EXPECT_EQ(std::wstring(links[0].GetExpireTime()), c.expireTime);

    ASSERT_EQ(files_->DeleteShareLink(link, nullptr), VESK_HTTP_SUCCESS);
    EXPECT_EQ(HttpGet(url + "?access_code=" + code).status, 404);
    EXPECT_NE(files_->DeleteShareLink(link, nullptr), VESK_HTTP_SUCCESS);
    EXPECT_TRUE(List().empty());
  }
}

TEST_F(ShareLinkEndToEnd, ALinkTheDeviceRefusesIsAFailure) {
  const std::wstring yesterday = LocalText(std::time(nullptr) - 86400, "%Y-%m-%d %H:%M");
  const struct {
    const wchar_t* path;
    std::wstring dateTime;
  } cases[] = {
      {L"/Public/missing.txt", L"0"},          {L"/Public", L"0"},
      {L"/Public/../report 1.txt", L"0"},      {L"/Public/report 1.txt", yesterday},
      {L"/Public/report 1.txt", L"next week"},
  };
  for (const auto& c : cases) {
    CVeskHttpShareLink link;
    link.SetURL(L"untouched");
    EXPECT_NE(files_->CreateShareLink(CVeskHttpShareLinkInfo(c.path, L"", c.dateTime.c_str(), 0),
                                      nullptr, &link),
              VESK_HTTP_SUCCESS)
        << std::string(c.dateTime.begin(), c.dateTime.end());
    EXPECT_STREQ(link.GetURL(), L"untouched");
  }
  EXPECT_TRUE(List().empty());
}

}  // namespace
