#include "http/ComputerIdentity.h"

#include "platform/Digest.h"
#include "platform/MachineIdentity.h"

namespace vesk {

std::wstring ComputeComputerUID(std::string_view account,
                                const std::vector<unsigned char>& hardwareAddress) {
  if (account.empty() || hardwareAddress.empty()) return {};
  const std::string digest = platform::Sha1(
      {account, std::string_view(reinterpret_cast<const char*>(hardwareAddress.data()),
                                 hardwareAddress.size())});
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring uid;
  uid.reserve(2 * digest.size());
  for (const char c : digest) {
    const auto byte = static_cast<unsigned char>(c);
    uid.push_back(kHex[byte >> 4]);
    uid.push_back(kHex[byte & 0x0F]);
  }
  return uid;
}

std::wstring GetComputerUID() {
  return ComputeComputerUID(platform::AccountIdentifier(), platform::FirstHardwareAddress());
}

}  // namespace vesk
