// HTTPS certificate checks through the public API, against the emulator's TLS port: by
// default any certificate passes; verification trusts the system's store or a given CA file;
// a pin accepts only the certificate with that SHA-256 fingerprint.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#ifndef _WIN32
#include "httpd/Certificate.h"
#endif

namespace {

namespace fs = std::filesystem;
using vesk::emulator::Emulator;
using vesk::emulator::EmulatorOptions;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A device's certificate and key files and the certificate's SHA-256 fingerprint ("AB:01:...").
struct DeviceCertificate {
  fs::path cert, key;
  std::string pin;
};

// Two devices on this machine: one with a self-signed certificate, one with a certificate
// signed by a test authority (ca.pem).
//
// On Linux the certificates are made here, in a temporary folder. The Windows build has no
// OpenSSL: there they were made at build time with the build machine's openssl program
// (tests/CMakeLists.txt), in the folder VESK_TLS_CERTIFICATES, each with its fingerprint in a
// ".sha256" file as openssl prints it.
class TlsEndToEnd : public ::testing::Test {
 protected:
  TlsEndToEnd() {
#ifdef _WIN32
    dir_ = VESK_TLS_CERTIFICATES;
    selfSigned_ = Made("self");
    signed_ = Made("signed");
#else
    char pattern[] = "/tmp/vesk-tls-XXXXXX";
    dir_ = mkdtemp(pattern);
    temporary_ = true;
    const auto authority = vesk::httpd::MakeSelfSignedCertificate("Test CA", -1, 30);
    Write("ca.pem", authority.certPem);
    selfSigned_ = Make("self", vesk::httpd::MakeSelfSignedCertificate("device", -1, 30));
    signed_ = Make("signed", vesk::httpd::MakeSignedCertificate(authority, "device", -1, 30));
#endif
    selfSignedDevice_ = Device(selfSigned_);
    signedDevice_ = Device(signed_);
  }
  ~TlsEndToEnd() override {
    selfSignedDevice_.reset();
    signedDevice_.reset();
    if (temporary_) fs::remove_all(dir_);
  }

#ifdef _WIN32
  // A certificate made at build time, and its fingerprint from "sha256 Fingerprint=AB:01:...".
  DeviceCertificate Made(const std::string& name) const {
    DeviceCertificate made{dir_ / (name + ".crt"), dir_ / (name + ".key"), {}};
    std::ifstream in(dir_ / (name + ".sha256"));
    std::getline(in, made.pin);
    made.pin.erase(0, made.pin.find('=') + 1);
    EXPECT_EQ(made.pin.size(), 95u) << "no fingerprint for " << name << " in " << dir_;
    return made;
  }
#else
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }

  DeviceCertificate Make(const std::string& name, const vesk::httpd::CertificatePair& pair) {
    Write(name + ".crt", pair.certPem);
    Write(name + ".key", pair.keyPem);
    return {dir_ / (name + ".crt"), dir_ / (name + ".key"),
            vesk::httpd::Sha256Fingerprint(pair.certPem)};
  }
#endif

  static std::unique_ptr<Emulator> Device(const DeviceCertificate& cert) {
    EmulatorOptions options;
    options.certFile = cert.cert.string();
    options.keyFile = cert.key.string();
    auto device = std::make_unique<Emulator>(options);
    std::string error;
    EXPECT_TRUE(device->Start(&error)) << error;
    return device;
  }

  // A secure server object for a device, both services on its TLS port.
  static CVeskHttpServer Server(const Emulator& device) {
    CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 1, L""));
    server.SetFileStationSSLPortNum(device.TlsPort());
    server.SetSystemSSLPortNum(device.TlsPort());
    return server;
  }

  // Logs in to one service; on success runs one operation and closes the station again.
  static int LoginAndWork(CVeskHttpServer& server, _VESK_HTTP_STATION_TYPE_ type) {
    const int result = server.Login(type);
    if (result != VESK_HTTP_SUCCESS) return result;
    if (type == VESK_HTTP_STATION_SYSTEM) {
      IVeskHttpSystem* system = server.OpenSystem();
      CVeskHttpSystemSettingInfo settings;
      EXPECT_EQ(system->GetSystemSetting(nullptr, &settings), VESK_HTTP_SUCCESS);
      EXPECT_EQ(server.CloseSystem(&system), VESK_HTTP_SUCCESS);
    } else {
      IVeskHttpFileStation* files = server.OpenFileStation();
      std::vector<CVeskHttpFileEntry> shares;
      EXPECT_EQ(files->GetShareFolderList(nullptr, &shares), VESK_HTTP_SUCCESS);
      EXPECT_EQ(server.CloseFileStation(&files), VESK_HTTP_SUCCESS);
    }
    return result;
  }

  fs::path dir_;
  bool temporary_ = false;  // dir_ was made for this test
  DeviceCertificate selfSigned_, signed_;
  std::unique_ptr<Emulator> selfSignedDevice_, signedDevice_;
};

TEST_F(TlsEndToEnd, VerificationAndPinsDecideWhichDevicesAreReached) {
  const std::wstring selfSignedPin = Wide(selfSigned_.pin);
  const std::wstring signedPin = Wide(signed_.pin);
  const std::wstring ca = (dir_ / "ca.pem").wstring();
  struct Case {
    const char* name;
    const Emulator* device;
    int verify;
    std::wstring caFile, pin;
    int result;
  } cases[] = {
      {"self-signed, unchecked", selfSignedDevice_.get(), 0, L"", L"", VESK_HTTP_SUCCESS},
      {"self-signed, its pin", selfSignedDevice_.get(), 0, L"", selfSignedPin, VESK_HTTP_SUCCESS},
      {"self-signed, another pin", selfSignedDevice_.get(), 0, L"", signedPin,
       VESK_HTTP_SEND_FAILED},
      {"self-signed, verified", selfSignedDevice_.get(), 1, L"", L"", VESK_HTTP_SEND_FAILED},
      {"self-signed, verified by the test CA", selfSignedDevice_.get(), 1, ca, L"",
       VESK_HTTP_SEND_FAILED},
      {"signed, verified by the test CA", signedDevice_.get(), 1, ca, L"", VESK_HTTP_SUCCESS},
      {"signed, verified by the test CA, its pin", signedDevice_.get(), 1, ca, signedPin,
       VESK_HTTP_SUCCESS},
      {"signed, verified by the system's store", signedDevice_.get(), 1, L"", L"",
       VESK_HTTP_SEND_FAILED},
      {"signed, another pin", signedDevice_.get(), 0, L"", selfSignedPin, VESK_HTTP_SEND_FAILED},
  };
  for (const Case& c : cases) {
    for (const auto type : {VESK_HTTP_STATION_SYSTEM, VESK_HTTP_STATION_FILE_STATION}) {
      CVeskHttpServer server = Server(*c.device);
      EXPECT_EQ(server.SetVerifyCertificate(c.verify, c.caFile.c_str()), 1);
      EXPECT_EQ(server.SetCertificatePin(c.pin.c_str()), 1);
      EXPECT_EQ(LoginAndWork(server, type), c.result) << c.name << ", service " << type;
      // A refused certificate carried no request: no session was opened.
      EXPECT_EQ(c.device->SessionCount(), 0u) << c.name;
    }
  }
}

// A connection is kept for later exchanges whatever checks the exchange that opened it made:
// a pin is checked on such a kept connection too, before any byte of a request goes out.
TEST_F(TlsEndToEnd, APinIsCheckedOnAKeptConnection) {
  const Emulator& device = *selfSignedDevice_;
  CVeskHttpServer unpinned = Server(device);
  ASSERT_EQ(LoginAndWork(unpinned, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
  const unsigned long long opened = device.TlsConnectionCount();
  ASSERT_GE(opened, 1u);

  CVeskHttpServer pinned = Server(device);
  ASSERT_EQ(pinned.SetCertificatePin(Wide(signed_.pin).c_str()), 1);
  EXPECT_EQ(pinned.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SEND_FAILED);
  EXPECT_EQ(device.SessionCount(), 0u);  // the login request never went out
#ifdef _WIN32
  // WinHTTP's pool served the refused login with the kept connection: this is the case the
  // check on every request exists for.
  EXPECT_EQ(device.TlsConnectionCount(), opened);
#endif
  // The connection serves a caller whose pin it matches as before.
  ASSERT_EQ(pinned.SetCertificatePin(Wide(selfSigned_.pin).c_str()), 1);
  EXPECT_EQ(LoginAndWork(pinned, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
}

TEST_F(TlsEndToEnd, PinsAreReadInEitherCaseWithOrWithoutColons) {
  const std::string colons = selfSigned_.pin;
  std::string bare, lower = colons;
  std::copy_if(colons.begin(), colons.end(), std::back_inserter(bare),
               [](char c) { return c != ':'; });
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  const std::string other = signed_.pin;
  for (const std::string& pin : {colons, bare, lower}) {
    CVeskHttpServer server = Server(*selfSignedDevice_);
    EXPECT_EQ(server.SetCertificatePin(Wide(other).c_str()), 1);
    EXPECT_EQ(server.SetCertificatePin(Wide(pin).c_str()), 1) << pin;
    EXPECT_EQ(LoginAndWork(server, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS) << pin;
  }

  // A malformed pin is refused and leaves the pin that was set; an empty one removes it.
  std::string shifted = colons;  // "AB:CD..." as "ABC:D..."
  std::swap(shifted[2], shifted[3]);
  const std::string malformed[] = {
      bare.substr(1),                            // a digit short
      bare + "0",                                // a digit over
      "G" + bare.substr(1),                      // not hexadecimal
      shifted,                                   // a colon out of place
      ":" + colons.substr(0, 94),                //
      bare.substr(0, 2) + ":" + bare.substr(2),  // colons in some places only
      "sha256//" + bare,                         // another notation
      " " + bare,                                //
  };
  CVeskHttpServer server = Server(*selfSignedDevice_);
  ASSERT_EQ(server.SetCertificatePin(Wide(other).c_str()), 1);
  for (const std::string& pin : malformed)
    EXPECT_EQ(server.SetCertificatePin(Wide(pin).c_str()), 0) << pin;
  EXPECT_EQ(LoginAndWork(server, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SEND_FAILED);
  EXPECT_EQ(server.SetCertificatePin(L""), 1);
  EXPECT_EQ(LoginAndWork(server, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
  EXPECT_EQ(server.SetCertificatePin(Wide(other).c_str()), 1);
  EXPECT_EQ(server.SetCertificatePin(nullptr), 1);
  EXPECT_EQ(LoginAndWork(server, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
}

TEST_F(TlsEndToEnd, SettingsTakeEffectAtLoginAndPlainHttpIgnoresThem) {
  // A station keeps the settings of its login.
  CVeskHttpServer server = Server(*selfSignedDevice_);
  ASSERT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
  EXPECT_EQ(server.SetVerifyCertificate(1, nullptr), 1);
  IVeskHttpFileStation* files = server.OpenFileStation();
  std::vector<CVeskHttpFileEntry> shares;
  EXPECT_EQ(files->GetShareFolderList(nullptr, &shares), VESK_HTTP_SUCCESS);
  EXPECT_EQ(server.CloseFileStation(&files), VESK_HTTP_SUCCESS);
  EXPECT_EQ(server.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SEND_FAILED);
  EXPECT_EQ(server.SetVerifyCertificate(0, nullptr), 1);  // back to the default
  EXPECT_EQ(LoginAndWork(server, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);

  // A file-service login through the system session checks the certificate too.
  CVeskHttpServer through = Server(*selfSignedDevice_);
  ASSERT_EQ(through.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
  EXPECT_EQ(through.SetCertificatePin(Wide(signed_.pin).c_str()), 1);
  EXPECT_EQ(through.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SEND_FAILED);
  IVeskHttpSystem* system = through.OpenSystem();
  EXPECT_EQ(through.CloseSystem(&system), VESK_HTTP_SUCCESS);

  // Plain HTTP has no certificate to check.
  CVeskHttpServer plain(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  plain.SetFileStationPortNum(selfSignedDevice_->Port());
  plain.SetVerifyCertificate(1, nullptr);
  plain.SetCertificatePin(Wide(signed_.pin).c_str());
  EXPECT_EQ(LoginAndWork(plain, VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
}

}  // namespace
