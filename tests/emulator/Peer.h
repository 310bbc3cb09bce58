// The emulator tests' HTTP peer: libcurl, driven the way the library drives the device.
#ifndef VESK_TESTS_EMULATOR_PEER_H
#define VESK_TESTS_EMULATOR_PEER_H

#include <curl/curl.h>

#include <string>
#include <vector>

namespace vesk::emulator::test {

inline constexpr const char* kFormType =
    "Content-Type: application/x-www-form-urlencoded; charset=UTF-8";

// Base64 as the library sends it: a line feed after every 76 characters.
std::string Base64(const std::string& bytes);

// Percent-encodes every byte but letters, digits and "-._~"; keep names a byte that stays.
std::string Encode(const std::string& text, char keep = 0);

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string contentType;
  std::string body;
};

// One exchange; a body makes it a POST unless method says otherwise. HTTPS is not verified,
// as the library does not verify the device.
Reply Send(const std::string& url, const char* method = "GET", const std::string* body = nullptr,
           std::vector<std::string> headers = {});

Reply PostForm(const std::string& url, const std::string& body);

}  // namespace vesk::emulator::test

#endif  // VESK_TESTS_EMULATOR_PEER_H
