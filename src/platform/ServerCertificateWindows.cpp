// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// The socket headers before windows.h, which the header below includes.
// clang-format on
#include "platform/ServerCertificate.h"
// The SECURITY_FLAG_IGNORE_* values of the SSL policy checks.
#include <winhttp.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Digest.h"

namespace vesk::platform {
namespace {

struct CertStoreDeleter {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
struct ChainEngineDeleter {
  void operator()(void* engine) const {
    CertFreeCertificateChainEngine(static_cast<HCERTCHAINENGINE>(engine));
  }
};
struct ChainContextDeleter {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};

bool MatchesPin(const CERT_CONTEXT& certificate, const std::string& pin) {
  const std::string digest = Sha256({std::string_view(
      reinterpret_cast<const char*>(certificate.pbCertEncoded), certificate.cbCertEncoded)});
  if (digest.size() != pin.size() || digest.empty()) return false;
  unsigned char diff = 0;  // compared in full, whatever the first difference
  for (std::size_t i = 0; i < digest.size(); ++i)
    diff |= static_cast<unsigned char>(digest[i] ^ pin[i]);
  return diff == 0;
}

// A memory store holding every certificate of a PEM file; null when the file cannot be read
// or holds none.
std::unique_ptr<void, CertStoreDeleter> LoadPemStore(const std::string& path) {
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())),
                   std::ios::binary);
  if (!in) return nullptr;
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::unique_ptr<void, CertStoreDeleter> store(
      CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (!store) return nullptr;
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int added = 0;
  for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
    const std::size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(at, end + kEnd.size() - at);
    at = end + kEnd.size();
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
      continue;
    if (CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr))
      ++added;
  }
  return added > 0 ? std::move(store) : nullptr;
}

// The bytes of an IPv4 or IPv6 address written as text; nullopt for a host name.
std::optional<std::vector<BYTE>> ParseAddress(const std::wstring& host) {
  IN_ADDR v4{};
  if (InetPtonW(AF_INET, host.c_str(), &v4) == 1) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&v4);
    return std::vector<BYTE>(bytes, bytes + sizeof v4);
  }
  IN6_ADDR v6{};
  if (InetPtonW(AF_INET6, host.c_str(), &v6) == 1) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&v6);
    return std::vector<BYTE>(bytes, bytes + sizeof v6);
  }
  return std::nullopt;
}

// Whether the certificate's subject alternative names hold the address.
bool NamesAddress(const CERT_CONTEXT& certificate, const std::vector<BYTE>& address) {
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate.pCertInfo->cExtension,
                        certificate.pCertInfo->rgExtension);
  if (!extension) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
        entry.IPAddress.cbData == address.size() &&
        std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0)
      found = true;
  }
  LocalFree(names);
  return found;
}

// The SSL policy on a built chain: the host name (an address looked for among the
// certificate's addresses here, since not every platform's check knows them), the dates and,
// unless `ignore` says otherwise, a trusted root.
bool NameAndDatesAccepted(const CERT_CONTEXT& certificate, const CERT_CHAIN_CONTEXT& chain,
                          const std::wstring& host, DWORD ignore) {
  std::wstring serverName = host;
  if (serverName.size() > 2 && serverName.front() == L'[' && serverName.back() == L']')
    serverName = serverName.substr(1, serverName.size() - 2);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = ignore;
  if (const std::optional<std::vector<BYTE>> address = ParseAddress(serverName)) {
    if (!NamesAddress(certificate, *address)) return false;
    ssl.fdwChecks |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
  }
  ssl.pwszServerName = serverName.data();
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, &chain, &policyPara, &status) &&
         status.dwError == 0;
}

// Whether the server's certificate chains up to one of the PEM file's authorities only (the
// system's trust store plays no part) and is valid for the host now. The chain engine trusts
// the file's certificates alone as roots; where the platform's engine cannot be told so, the
// chain is built with the file's certificates at hand, and its root must be one of them.
bool VerifiedByAuthorities(const CERT_CONTEXT& certificate, const std::string& caFile,
                           const std::wstring& host) {
  auto authorities = LoadPemStore(caFile);
  if (!authorities) return false;
  HCERTSTORE stores[] = {authorities.get()};
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = sizeof config;
  config.hExclusiveRoot = authorities.get();
  config.cAdditionalStore = 1;
  config.rghAdditionalStore = stores;
  HCERTCHAINENGINE rawEngine = nullptr;
  if (!CertCreateCertificateChainEngine(&config, &rawEngine)) {
    // An engine that knows no exclusive roots takes the configuration without them.
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveRoot);
    config.hExclusiveRoot = nullptr;
    if (!CertCreateCertificateChainEngine(&config, &rawEngine)) return false;
  }
  std::unique_ptr<void, ChainEngineDeleter> engine(rawEngine);

  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  PCCERT_CHAIN_CONTEXT rawChain = nullptr;
  if (!CertGetCertificateChain(static_cast<HCERTCHAINENGINE>(engine.get()), &certificate, nullptr,
                               certificate.hCertStore, &chainPara, 0, nullptr, &rawChain))
    return false;
  std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainContextDeleter> chain(rawChain);

  // One whole chain, nothing wrong with it but, at most, a root the platform does not know.
  if (chain->cChain != 1 || chain->rgpChain[0]->cElement == 0 ||
      (chain->TrustStatus.dwErrorStatus & ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT)) != 0)
    return false;
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  const CERT_CONTEXT* root = simple.rgpElement[simple.cElement - 1]->pCertContext;
  const CERT_CONTEXT* known = CertFindCertificateInStore(authorities.get(), X509_ASN_ENCODING, 0,
                                                         CERT_FIND_EXISTING, root, nullptr);
  if (!known) return false;
  CertFreeCertificateContext(known);

  // The name and the dates; the root was checked above.
  return NameAndDatesAccepted(certificate, *chain, host, SECURITY_FLAG_IGNORE_UNKNOWN_CA);
}

// Whether the certificate chains to a root the system trusts, for this host and today: what
// WinHTTP's own handshake checks, checked again on every request, since a pooled connection
// may have been opened by a request that asked for no check.
bool VerifiedBySystem(const CERT_CONTEXT& certificate, const std::wstring& host) {
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  PCCERT_CHAIN_CONTEXT rawChain = nullptr;
  if (!CertGetCertificateChain(nullptr, &certificate, nullptr, certificate.hCertStore, &chainPara,
                               0, nullptr, &rawChain))
    return false;
  std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainContextDeleter> chain(rawChain);
  // A whole chain with nothing wrong in it: its root among those the system trusts.
  return chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR &&
         NameAndDatesAccepted(certificate, *chain, host, 0);
}

}  // namespace

bool ServerCertificateAccepted(const CERT_CONTEXT& certificate, const std::string& pin, bool verify,
                               const std::string& caFile, const std::wstring& host) {
  if (!pin.empty() && !MatchesPin(certificate, pin)) return false;
  if (verify && !(caFile.empty() ? VerifiedBySystem(certificate, host)
                                 : VerifiedByAuthorities(certificate, caFile, host)))
    return false;
  return true;
}

}  // namespace vesk::platform
