// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <limits>

#include "platform/Digest.h"

namespace vesk::platform {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

struct Algorithm {
  BCRYPT_ALG_HANDLE handle = nullptr;
  ~Algorithm() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct Hash {
  BCRYPT_HASH_HANDLE handle = nullptr;
  ~Hash() {
    if (handle) BCryptDestroyHash(handle);
  }
};

std::string Digest(LPCWSTR algorithmId, std::initializer_list<std::string_view> pieces) {
  Algorithm algorithm;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm.handle, algorithmId, nullptr, 0)))
    return {};
  DWORD length = 0;
  ULONG written = 0;
  if (!Succeeded(BCryptGetProperty(algorithm.handle, BCRYPT_HASH_LENGTH,
                                   reinterpret_cast<PUCHAR>(&length), sizeof length, &written, 0)))
    return {};
  // The hash object lives in memory CNG manages itself (a null buffer), as Windows 7 and later
  // allow.
  Hash hash;
  if (!Succeeded(BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0)))
    return {};
  for (std::string_view piece : pieces) {
    // BCryptHashData takes at most 4 GiB - 1 bytes at a time.
    while (!piece.empty()) {
      const std::size_t size =
          std::min<std::size_t>(piece.size(), std::numeric_limits<ULONG>::max());
      auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data()));
      if (!Succeeded(BCryptHashData(hash.handle, data, static_cast<ULONG>(size), 0))) return {};
      piece.remove_prefix(size);
    }
  }
  std::string digest(length, '\0');
  if (!Succeeded(BCryptFinishHash(hash.handle, reinterpret_cast<PUCHAR>(digest.data()), length, 0)))
    return {};
  return digest;
}

}  // namespace

std::string Sha1(std::initializer_list<std::string_view> pieces) {
  return Digest(BCRYPT_SHA1_ALGORITHM, pieces);
}

std::string Sha256(std::initializer_list<std::string_view> pieces) {
  return Digest(BCRYPT_SHA256_ALGORITHM, pieces);
}

}  // namespace vesk::platform
