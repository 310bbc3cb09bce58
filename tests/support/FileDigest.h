// File checks for the transfer tests and the soak: a SHA-256 of a file or of part of it, and a
// file's size. OpenSSL only, so that programs without the test framework can use it too.
#pragma once

#include <openssl/evp.h>

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
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from));
  std::vector<char> buffer(1 << 20);
  while (length > 0 && in) {
    in.read(buffer.data(),
            static_cast<std::streamsize>(std::min<std::uint64_t>(buffer.size(), length)));
    const auto n = static_cast<std::uint64_t>(in.gcount());
    if (n == 0) break;
    EVP_DigestUpdate(ctx.get(), buffer.data(), n);
    length -= n;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &size);
  return std::string(reinterpret_cast<char*>(digest), size);
}

// A file's size; 0 when there is no such file.
inline std::uint64_t FileSize(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

}  // namespace vesk::test
