// A device emulator serving a fresh temporary folder, and a file station logged in to it, for
// the tests that drive the device through the public API.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "VeskHttp.h"
#include "emulator/Emulator.h"

namespace vesk::test {

class EmulatedDeviceTest : public ::testing::Test {
 protected:
  // shares: the top-level folders of the device's root, its share roots.
  explicit EmulatedDeviceTest(std::initializer_list<const char*> shares,
                              emulator::EmulatorOptions options = {}) {
    char pattern[] = "/tmp/vesk-e2e-XXXXXX";
    root_ = mkdtemp(pattern);
    for (const char* share : shares) std::filesystem::create_directory(root_ / share);
    options.root = root_.string();
    device_ = std::make_unique<emulator::Emulator>(options);
  }
  ~EmulatedDeviceTest() override {
    device_.reset();
    std::filesystem::remove_all(root_);
  }

  // Options for a device over plain HTTP alone whose jobs (copy, move, compress, extract) move
  // jobBytesPerSecond bytes a second (0: as fast as they can).
  static emulator::EmulatorOptions PlainHttp(unsigned long long jobBytesPerSecond = 0) {
    emulator::EmulatorOptions options;
    options.jobBytesPerSecond = jobBytesPerSecond;
    options.tls = false;
    return options;
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
    server_ = CVeskHttpServer(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
    server_.SetFileStationPortNum(device_->Port());
    server_.SetFileStationSSLPortNum(device_->TlsPort());
    ASSERT_EQ(server_.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
    files_ = server_.OpenFileStation();
  }
  void TearDown() override {
    if (files_) {
      EXPECT_EQ(server_.CloseFileStation(&files_), VESK_HTTP_SUCCESS);
    }
  }

  std::filesystem::path root_;
  std::unique_ptr<emulator::Emulator> device_;
  CVeskHttpServer server_;
  IVeskHttpFileStation* files_ = nullptr;
};

}  // namespace vesk::test
