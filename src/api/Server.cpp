// The server object: where and as whom to connect, and the two stations it logs in.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "VeskHttp.h"
#include "filestation/FileStation.h"
#include "system/System.h"

using vesk::FileStation;
using vesk::System;

namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The 32 bytes of a SHA-256 fingerprint written as 64 hexadecimal digits, run together or
// as pairs joined by colons; nothing when it is written any other way.
std::optional<std::string> ParseFingerprint(std::wstring_view text) {
  constexpr std::size_t kBytes = 32;
  const bool colons = text.size() == kBytes * 3 - 1;
  if (!colons && text.size() != kBytes * 2) return std::nullopt;
  std::string bytes;
  std::size_t at = 0;
  for (std::size_t i = 0; i < kBytes; ++i) {
    if (colons && i > 0 && text[at++] != L':') return std::nullopt;
    const int high = HexDigit(text[at++]);
    const int low = HexDigit(text[at++]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

// Whether a host name can only name a host: the URL made of it would otherwise lead elsewhere
// (a "/", "?", "#" or "@" ends or redirects its host part) or to a name no one can have (a
// control character, a space, a code unit that is no Unicode scalar value, more characters
// than a host name holds).
bool UsableHost(std::wstring_view host) {
  constexpr std::size_t kMaxHost = 259;
  if (host.empty() || host.size() > kMaxHost) return false;
  for (const wchar_t c : host) {
    const auto unit = static_cast<std::uint32_t>(c);
    if (unit <= 0x20 || unit == 0x7F || unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF) ||
        std::wstring_view(L"/?#@\\").find(c) != std::wstring_view::npos)
      return false;
  }
  return true;
}

// A header value carries no line break: each control character of an agent name becomes a
// space, so that the name stays one header.
std::wstring HeaderValue(std::wstring text) {
  for (wchar_t& c : text) {
    const auto unit = static_cast<std::uint32_t>(c);
    if (unit < 0x20 || unit == 0x7F) c = L' ';
  }
  return text;
}

}  // namespace

CVeskHttpServer::CVeskHttpServer() : CVeskHttpServer(CVeskHttpServerInfo()) {}

CVeskHttpServer::CVeskHttpServer(CVeskHttpServerInfo info)
    : info_(std::move(info)),
      fileStation_(nullptr),
      system_(nullptr),
      fileStationPort_(8080),
      fileStationSSLPort_(443),
      systemPort_(8080),
      systemSSLPort_(443),
      timeout_(0),
      verifyCertificate_(0),
      fileStationVersion_(VESK_HTTP_FILE_STATION_API_VERSION_NONE),
      systemVersion_(VESK_HTTP_SYSTEM_API_VERSION_NONE) {}

CVeskHttpServer::CVeskHttpServer(const CVeskHttpServer& other) = default;
CVeskHttpServer& CVeskHttpServer::operator=(const CVeskHttpServer& other) = default;
// The stations are the caller's to close; the server does not close them.
CVeskHttpServer::~CVeskHttpServer() = default;

int CVeskHttpServer::SetFileStationPortNum(long port) {
  fileStationPort_ = static_cast<int>(port);
  return 1;
}
int CVeskHttpServer::SetFileStationSSLPortNum(long port) {
  fileStationSSLPort_ = static_cast<int>(port);
  return 1;
}
int CVeskHttpServer::SetSystemPortNum(long port) {
  systemPort_ = static_cast<int>(port);
  return 1;
}
int CVeskHttpServer::SetSystemSSLPortNum(long port) {
  systemSSLPort_ = static_cast<int>(port);
  return 1;
}
int CVeskHttpServer::SetAgentName(const wchar_t* agentName) {
  try {
    agentName_ = HeaderValue(agentName ? agentName : L"");
  } catch (...) {
  }
  return 1;
}
int CVeskHttpServer::SetTimeouts(int timeoutMs) {
  timeout_ = timeoutMs;
  return 1;
}
int CVeskHttpServer::SetVerifyCertificate(int verify, const wchar_t* caFile) {
  // Both settings change together or not at all: a copy of the file's name that cannot be made
  // leaves the previous checks in force, and says so.
  try {
    std::wstring file = caFile ? caFile : L"";
    caFile_ = std::move(file);
  } catch (...) {
    return 0;
  }
  verifyCertificate_ = verify ? 1 : 0;
  return 1;
}
int CVeskHttpServer::SetCertificatePin(const wchar_t* sha256Fingerprint) {
  try {
    if (!sha256Fingerprint || !*sha256Fingerprint) {
      certificatePin_.clear();
      return 1;
    }
    std::optional<std::string> pin = ParseFingerprint(sha256Fingerprint);
    if (!pin) return 0;
    certificatePin_ = std::move(*pin);
    return 1;
  } catch (...) {
    return 0;
  }
}

// TODO(1.1): not built yet.
int CVeskHttpServer::SetRetryPolicy(int maxRetries, int initialDelayMs, int maxDelayMs) {
  if (maxRetries < 0 || initialDelayMs < 0 || maxDelayMs < 0 || initialDelayMs > maxDelayMs)
    return 0;
  return 1;
}

VESK_HTTP_RESULT CVeskHttpServer::Login(_VESK_HTTP_STATION_TYPE_ type) {
  try {
    // A host that is none cannot be reached; nothing is sent.
    if ((type == VESK_HTTP_STATION_FILE_STATION || type == VESK_HTTP_STATION_SYSTEM) &&
        !UsableHost(info_.GetHostName()))
      return VESK_HTTP_SEND_FAILED;
    switch (type) {
      case VESK_HTTP_STATION_FILE_STATION: {
        auto station = std::make_unique<FileStation>();
        if (!agentName_.empty()) station->SetAgentName(agentName_);
        station->SetTimeout(timeout_);
        station->SetPorts(fileStationPort_, fileStationSSLPort_);
        station->SetTls({verifyCertificate_ != 0, caFile_, certificatePin_});
        // With a system session the file service is reached through it.
        if (auto* system = static_cast<System*>(system_); system && system->LoggedIn())
          station->UseSystemSession(system->GetConnection(), system->Port(), system->SslPort(),
                                    system->Sid());
        const int result =
            station->Login(info_.GetHostName(), info_.GetUsername(), info_.GetPassword(),
                           info_.IsSecureMode(), info_.GetComputerName());
        if (result != VESK_HTTP_SUCCESS) return static_cast<VESK_HTTP_RESULT>(result);
        fileStation_ = station.release();  // an earlier station stays the caller's to close
        fileStationVersion_ = VESK_HTTP_FILE_STATION_API_VERSION_1;
        return VESK_HTTP_SUCCESS;
      }
      case VESK_HTTP_STATION_SYSTEM: {
        auto system = std::make_unique<System>();
        if (!agentName_.empty()) system->SetAgentName(agentName_);
        system->SetTimeout(timeout_);
        system->SetPorts(systemPort_, systemSSLPort_);
        system->SetTls({verifyCertificate_ != 0, caFile_, certificatePin_});
        const int result = system->Login(info_.GetHostName(), info_.GetUsername(),
                                         info_.GetPassword(), info_.IsSecureMode());
        if (result != VESK_HTTP_SUCCESS) return static_cast<VESK_HTTP_RESULT>(result);
        system_ = system.release();
        systemVersion_ = VESK_HTTP_SYSTEM_API_VERSION_1;
        return VESK_HTTP_SUCCESS;
      }
      default:
        return VESK_HTTP_BAD_STATION_TYPE;
    }
  } catch (...) {
    return VESK_HTTP_INVALID_REQUEST;
  }
}

IVeskHttpFileStation* CVeskHttpServer::OpenFileStation() { return fileStation_; }
IVeskHttpSystem* CVeskHttpServer::OpenSystem() { return system_; }

VESK_HTTP_RESULT CVeskHttpServer::CloseFileStation(IVeskHttpFileStation** station) {
  // No station to log out: answered like a station that is not logged in.
  if (!station || !*station) return VESK_HTTP_NOT_LOGGED_IN;
  auto* fileStation = static_cast<FileStation*>(*station);
  const int result = fileStation->Close();
  if (result != VESK_HTTP_SUCCESS) return static_cast<VESK_HTTP_RESULT>(result);
  if (fileStation_ == *station) fileStation_ = nullptr;
  *station = nullptr;
  delete fileStation;  // the station's owner is the server, through the exported ABI
  return VESK_HTTP_SUCCESS;
}

VESK_HTTP_RESULT CVeskHttpServer::CloseSystem(IVeskHttpSystem** system) {
  if (!system || !*system) return VESK_HTTP_NOT_LOGGED_IN;
  auto* systemObject = static_cast<System*>(*system);
  const int result = systemObject->Close();
  if (result != VESK_HTTP_SUCCESS) return static_cast<VESK_HTTP_RESULT>(result);
  if (system_ == *system) system_ = nullptr;
  *system = nullptr;
  delete systemObject;
  return VESK_HTTP_SUCCESS;
}

_VESK_HTTP_FILE_STATION_API_VERSION_ CVeskHttpServer::QueryFileStationVersion() {
  return fileStationVersion_;
}
_VESK_HTTP_SYSTEM_API_VERSION_ CVeskHttpServer::QuerySystemVersion() { return systemVersion_; }
