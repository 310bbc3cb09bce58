#include "http/ComputerIdentity.h"

#include <openssl/evp.h>

#include <memory>

#include "platform/MachineIdentity.h"

namespace vesk {

std::wstring ComputeComputerUID(std::string_view account,
                                const std::vector<unsigned char>& hardwareAddress) {
  if (account.empty() || hardwareAddress.empty()) return {};
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), account.data(), account.size()) != 1 ||
      EVP_DigestUpdate(context.get(), hardwareAddress.data(), hardwareAddress.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    return {};
  }
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring uid;
  uid.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    uid.push_back(kHex[digest[i] >> 4]);
    uid.push_back(kHex[digest[i] & 0x0F]);
  }
  return uid;
}

std::wstring GetComputerUID() {
  return ComputeComputerUID(platform::AccountIdentifier(), platform::FirstHardwareAddress());
}

}  // namespace vesk
