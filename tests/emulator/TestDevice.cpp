#include "TestDevice.h"

#include <gtest/gtest.h>

#include <utility>

namespace vesk::emulator::test {

TestDevice::TestDevice(const std::string& prefix, EmulatorOptions options, bool withRoot)
    : base_(prefix),
      emulator_(withRoot ? Serving(std::move(options), Base() / "root") : std::move(options)) {
  std::filesystem::create_directories(Root());
  std::filesystem::create_directories(Outside());
}

TestDevice::~TestDevice() { emulator_.Stop(); }

EmulatorOptions TestDevice::Serving(EmulatorOptions options, const std::filesystem::path& root) {
  options.root = root.string();
  return options;
}

void TestDevice::Start() {
  std::string error;
  EXPECT_TRUE(emulator_.Start(&error)) << error;
  sid_ = Login(BaseUrl());
}

std::string TestDevice::BaseUrl(bool tls) const {
  return tls ? "https://127.0.0.1:" + std::to_string(emulator_.TlsPort())
             : "http://127.0.0.1:" + std::to_string(emulator_.Port());
}

std::string TestDevice::UtilUrl(const std::string& func, const Fields& query, bool tls,
                                const std::string* sid) const {
  return test::UtilUrl(BaseUrl(tls), func, sid ? *sid : sid_, query);
}

}  // namespace vesk::emulator::test
