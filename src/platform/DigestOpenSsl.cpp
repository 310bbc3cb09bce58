#include <openssl/evp.h>

#include <memory>

#include "platform/Digest.h"

namespace vesk::platform {
namespace {

std::string Digest(const EVP_MD* algorithm, std::initializer_list<std::string_view> pieces) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) return {};
  for (const std::string_view piece : pieces) {
    if (EVP_DigestUpdate(context.get(), piece.data(), piece.size()) != 1) return {};
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

std::string Sha1(std::initializer_list<std::string_view> pieces) {
  return Digest(EVP_sha1(), pieces);
}

std::string Sha256(std::initializer_list<std::string_view> pieces) {
  return Digest(EVP_sha256(), pieces);
}

}  // namespace vesk::platform
