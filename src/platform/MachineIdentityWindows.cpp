// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
// clang-format on

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/MachineIdentity.h"
#include "platform/Text.h"

namespace vesk::platform {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct LocalFreer {
  void operator()(void* block) const { LocalFree(block); }
};

}  // namespace

std::string AccountIdentifier() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const std::unique_ptr<void, HandleCloser> token(raw);
  DWORD size = 0;
  GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  // TOKEN_USER holds pointers: the block is kept aligned for them.
  std::vector<std::uintptr_t> block((size + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t));
  if (!GetTokenInformation(raw, TokenUser, block.data(), size, &size)) return {};
  const auto* user = reinterpret_cast<const TOKEN_USER*>(block.data());
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(user->User.Sid, &text) || text == nullptr) return {};
  const std::unique_ptr<void, LocalFreer> owner(text);
  return ToSystemCodePage(text);
}

std::vector<unsigned char> FirstHardwareAddress() {
  // The list is asked for at the size the system reports, so that any number of adapters fits.
  ULONG size = 0;
  std::vector<std::uintptr_t> block;
  ULONG result = GetAdaptersInfo(nullptr, &size);
  for (int attempt = 0; result == ERROR_BUFFER_OVERFLOW && attempt < 4; ++attempt) {
    block.assign((size + sizeof(std::uintptr_t) - 1) / sizeof(std::uintptr_t), 0);
    result = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(block.data()), &size);
  }
  if (result != ERROR_SUCCESS || block.empty()) return {};
  for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(block.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->AddressLength == 0) continue;
    if (adapter->AddressLength > 8) return {};
    return {adapter->Address, adapter->Address + adapter->AddressLength};
  }
  return {};
}

}  // namespace vesk::platform
