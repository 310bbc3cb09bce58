// A device emulator serving a fresh temporary folder, and a file station logged in to it, for
// the tests that drive the device through the public API. On Windows (under Wine) the emulator
// is the native one in a process of its own (support/EmulatorProcess.cpp), serving a folder
// under /tmp that both sides name.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "VeskHttp.h"
#include "emulator/Emulator.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>

// mkdtemp for the Windows test programs: a fresh folder named after pattern, whose trailing
// XXXXXX are replaced; nullptr when none could be made.
inline char* mkdtemp(char* pattern) {
  const std::string base = pattern;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::copy(base.begin(), base.end(), pattern);
    if (_mktemp_s(pattern, base.size() + 1) != 0) return nullptr;
    if (_mkdir(pattern) == 0) return pattern;
  }
  return nullptr;
}
#endif

namespace vesk::test {

class EmulatedDeviceTest : public ::testing::Test {
 protected:
  // shares: the top-level folders of the device's root, its share roots.
  explicit EmulatedDeviceTest(std::initializer_list<const char*> shares,
                              emulator::EmulatorOptions options = {}) {
#ifdef _WIN32
    char pattern[] = "Z:\\tmp\\vesk-e2e-XXXXXX";
#else
    char pattern[] = "/tmp/vesk-e2e-XXXXXX";
#endif
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
