// File checks for the transfer tests and the soak: a SHA-256 of a file or of part of it, and a
// file's size. OpenSSL only (CNG on Windows), so that programs without the test framework can
// use it too.
#pragma once

#ifdef _WIN32
#include "support/WindowsApi.h"
// windows.h first
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace vesk::test {

// The SHA-256 (raw bytes) of bytes [from, from + length) of a file, or of all of it from
// `from` on.
inline std::string Sha256(const std::filesystem::path& path, std::uint64_t from = 0,
                          std::uint64_t length = ~0ULL) {
#ifdef _WIN32
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  const std::unique_ptr<void, void (*)(void*)> algorithmOwner(
      algorithm, [](void* a) { BCryptCloseAlgorithmProvider(a, 0); });
  BCRYPT_HASH_HANDLE hash = nullptr;
  BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  const std::unique_ptr<void, void (*)(void*)> hashOwner(hash,
                                                         [](void* h) { BCryptDestroyHash(h); });
  const auto update = [&](const char* data, std::uint64_t n) {
    BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data)), static_cast<ULONG>(n),
                   0);
  };
#else
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  const auto update = [&](const char* data, std::uint64_t n) {
    EVP_DigestUpdate(ctx.get(), data, n);
  };
#endif
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from));
  std::vector<char> buffer(1 << 20);
  while (length > 0 && in) {
    in.read(buffer.data(),
            static_cast<std::streamsize>(std::min<std::uint64_t>(buffer.size(), length)));
    const auto n = static_cast<std::uint64_t>(in.gcount());
    if (n == 0) break;
    update(buffer.data(), n);
    length -= n;
  }
#ifdef _WIN32
  std::string digest(32, '\0');
  BCryptFinishHash(hash, reinterpret_cast<PUCHAR>(digest.data()), 32, 0);
  return digest;
#else
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &size);
  return std::string(reinterpret_cast<char*>(digest), size);
#endif
}

// A file's size; 0 when there is no such file.
inline std::uint64_t FileSize(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace vesk::test
