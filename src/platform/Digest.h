// Message digests through the platform's cryptography: OpenSSL's EVP on Linux, CNG on Windows.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vesk::platform {

// The SHA-1 digest (20 raw bytes) of the concatenation of the pieces, first piece first; empty
// when the platform cannot compute it. Pieces of any length are hashed whole.
std::string Sha1(std::initializer_list<std::string_view> pieces);
// The SHA-256 digest (32 raw bytes), by the same rules.
std::string Sha256(std::initializer_list<std::string_view> pieces);

}  // namespace vesk::platform
