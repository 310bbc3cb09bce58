#include "platform/Digest.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk::platform {
namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out.push_back(kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

// The published test vectors, through the platform's engine (OpenSSL or CNG); a digest of
// several pieces is the digest of their concatenation.
TEST(Digest, Sha1AndSha256GiveThePublishedVectors) {
  const std::string longer = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Hex(Sha1({"abc"})), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(Sha1({"a", "", "bc"})), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(Sha1({})), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Hex(Sha256({"abc"})),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256({"ab", "c"})),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256({""})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256({longer.substr(0, 20), longer.substr(20)})),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace vesk::platform
