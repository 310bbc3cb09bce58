// The device every emulator test drives: an emulator serving a fresh folder, logged in to the
// file service.
#ifndef VESK_TESTS_EMULATOR_TEST_DEVICE_H
#define VESK_TESTS_EMULATOR_TEST_DEVICE_H

#include <filesystem>
#include <string>

#include "Peer.h"
#include "emulator/Emulator.h"
#include "support/Files.h"

namespace vesk::emulator::test {

// An emulator over a fresh folder: Root() (base/root) is what it serves, and Outside()
// (base/outside) beside it holds what no request may reach. A test's device derives from it:
// its constructor lays out the files, then calls Start.
class TestDevice {
 public:
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;

  const std::filesystem::path& Base() const { return base_.Path(); }
  std::filesystem::path Root() const { return Base() / "root"; }
  std::filesystem::path Public() const { return Root() / "Public"; }
  std::filesystem::path Outside() const { return Base() / "outside"; }
  Emulator& Emu() { return emulator_; }
  const std::string& Sid() const { return sid_; }

  // "http://127.0.0.1:<port>", or "https://127.0.0.1:<TLS port>".
  std::string BaseUrl(bool tls = false) const;
  // UtilUrl at BaseUrl(tls) with the session's sid, or with *sid when given.
  std::string UtilUrl(const std::string& func, const Fields& query = {}, bool tls = false,
                      const std::string* sid = nullptr) const;

 protected:
  // prefix names the folder; Root() and Outside() are made. Without withRoot the emulator
  // serves no folder at all (options.root stays unset).
  TestDevice(const std::string& prefix, EmulatorOptions options, bool withRoot = true);
  ~TestDevice();

  // Starts the emulator and logs in as admin; a failure of either fails the test.
  void Start();

 private:
  static EmulatorOptions Serving(EmulatorOptions options, const std::filesystem::path& root);

  vesk::test::TempFolder base_;  // outlives the emulator
  Emulator emulator_;
  std::string sid_;
};

}  // namespace vesk::emulator::test

#endif  // VESK_TESTS_EMULATOR_TEST_DEVICE_H
