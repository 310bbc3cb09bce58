// The device's addresses, its transcoding queue, and the viewer and thumbnail links through
// the public API, against the device emulator serving a temporary folder.
#ifndef _WIN32
#include <gd.h>
#endif
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/EmulatedDevice.h"
#include "support/HttpGet.h"

namespace {

namespace fs = std::filesystem;
using vesk::test::Ascii;
using vesk::test::HttpGet;

class DeviceInfoEndToEnd : public vesk::test::EmulatedDeviceTest {
 protected:
  DeviceInfoEndToEnd() : EmulatedDeviceTest({"Public"}, Options()) {
    fs::create_directory(root_ / "Public" / "sub dir");
  }

  static vesk::emulator::EmulatorOptions Options() {
    vesk::emulator::EmulatorOptions options;
    options.addresses.cloudName = "box.cloud.example";
    options.addresses.externalIp = "203.0.113.9";
    options.addresses.localIp = "192.168.7.20";
    options.addresses.hostIp = "192.168.7.21";
    options.tls = false;
    return options;
  }
};

TEST_F(DeviceInfoEndToEnd, ReadsTheAddressesTheDeviceReports) {
  CVeskHttpNASInfo info;
  ASSERT_EQ(files_->GetDomainIPList(nullptr, &info), VESK_HTTP_SUCCESS);
  EXPECT_STREQ(info.GetFarlinkNasName(), L"box.cloud.example");
  EXPECT_STREQ(info.GetNasExternalIP(), L"203.0.113.9");
  EXPECT_STREQ(info.GetNasLocalIP(), L"192.168.7.20");
  EXPECT_STREQ(info.GetNasHostIP(), L"192.168.7.21");
}

TEST_F(DeviceInfoEndToEnd, QueuesAndRemovesTranscodingJobs) {
  std::ofstream(root_ / "Public" / "sub dir" / "clip 1.mp4") << "video";
  const wchar_t* clip = L"/Public/sub dir/clip 1.mp4";
  EXPECT_EQ(files_->AddVideoTranscode(clip, nullptr), VESK_HTTP_SUCCESS);
  EXPECT_EQ(files_->AddVideoTranscode(clip, nullptr), VESK_HTTP_DEVICE_STATUS_2);
  EXPECT_EQ(files_->DeleteVideoTranscode(clip, nullptr), VESK_HTTP_SUCCESS);
  EXPECT_EQ(files_->DeleteVideoTranscode(clip, nullptr), VESK_HTTP_DEVICE_STATUS_4);
  EXPECT_EQ(files_->AddVideoTranscode(clip, nullptr), VESK_HTTP_SUCCESS);
  EXPECT_EQ(files_->AddVideoTranscode(L"/Public/none.mp4", nullptr), VESK_HTTP_DEVICE_STATUS_4);
  EXPECT_EQ(files_->AddVideoTranscode(L"/Public/../etc/passwd", nullptr),
            VESK_HTTP_DEVICE_STATUS_4);
}

TEST_F(DeviceInfoEndToEnd, TheViewerLinkOpensTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "names the file with '?', which a Windows program cannot create";
#endif
  const std::string bytes = std::string("a & b #1?\0end", 13);
  std::ofstream(root_ / "Public" / "sub dir" / "a & b #1?.txt", std::ios::binary) << bytes;
  std::wstring url;
  ASSERT_EQ(files_->GetViewerURL(L"/Public/sub dir/a & b #1?.txt", &url), VESK_HTTP_SUCCESS);
  const vesk::test::HttpReply reply = HttpGet(Ascii(url));
  EXPECT_EQ(reply.status, 200) << Ascii(url);
  EXPECT_EQ(reply.body, bytes);
  EXPECT_EQ(reply.contentType.rfind("text/plain", 0), 0u) << reply.contentType;

  ASSERT_EQ(files_->GetViewerURL(L"/Public/sub dir/missing.txt", &url), VESK_HTTP_SUCCESS);
  EXPECT_EQ(HttpGet(Ascii(url)).status, 404);
}

TEST_F(DeviceInfoEndToEnd, TheThumbnailLinkGivesAScaledPng) {
#ifdef _WIN32
  GTEST_SKIP() << "makes and reads its images with libgd, which the Windows build does not have";
#else
  {
    const std::unique_ptr<gdImage, decltype(&gdImageDestroy)> image(
        gdImageCreateTrueColor(160, 120), &gdImageDestroy);
    gdImageFilledRectangle(image.get(), 0, 0, 159, 119, gdTrueColor(0, 160, 0));
    int size = 0;
    const std::unique_ptr<void, decltype(&gdFree)> png(gdImagePngPtr(image.get(), &size), &gdFree);
    std::ofstream(root_ / "Public" / "sub dir" / "photo #2.png", std::ios::binary)
        << std::string(static_cast<const char*>(png.get()), static_cast<std::size_t>(size));
  }
  std::wstring url;
  ASSERT_EQ(files_->GetThumbnailURL(L"/Public/sub dir/photo #2.png", &url), VESK_HTTP_SUCCESS);
  vesk::test::HttpReply reply = HttpGet(Ascii(url));
  ASSERT_EQ(reply.status, 200) << Ascii(url) << ": " << reply.body;
  EXPECT_EQ(reply.contentType, "image/png");
  const std::unique_ptr<gdImage, decltype(&gdImageDestroy)> thumb(
      gdImageCreateFromPngPtr(static_cast<int>(reply.body.size()), reply.body.data()),
      &gdImageDestroy);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(gdImageSX(thumb.get()), 80);
  EXPECT_EQ(gdImageSY(thumb.get()), 60);
  EXPECT_NEAR(gdTrueColorGetGreen(gdImageGetTrueColorPixel(thumb.get(), 40, 30)), 160, 2);

  std::ofstream(root_ / "Public" / "notes.txt") << "text";
  ASSERT_EQ(files_->GetThumbnailURL(L"/Public/notes.txt", &url), VESK_HTTP_SUCCESS);
  EXPECT_EQ(HttpGet(Ascii(url)).status, 415);
#endif
}

}  // namespace
