// The emulator tests' HTTP peer: libcurl, driven the way the library drives the device.
#ifndef VESK_TESTS_EMULATOR_PEER_H
#define VESK_TESTS_EMULATOR_PEER_H

#include <json/json.h>

#include <string>
#include <utility>
#include <vector>

#include "support/HttpGet.h"

namespace vesk::emulator::test {

inline constexpr const char* kFormType =
    "Content-Type: application/x-www-form-urlencoded; charset=UTF-8";

// Query or form fields in the order sent; a name may repeat.
using Fields = std::vector<std::pair<std::string, std::string>>;

// Base64 as the library sends it: a line feed after every 76 characters.
std::string Base64(const std::string& bytes);

// Percent-encodes every byte but letters, digits and "-._~"; keep names a byte that stays.
std::string Encode(const std::string& text, char keep = 0);

using Reply = vesk::test::HttpReply;

// One exchange; a body makes it a POST unless method says otherwise. HTTPS is not verified,
// as the library does not verify the device.
Reply Send(const std::string& url, const char* method = "GET", const std::string* body = nullptr,
           std::vector<std::string> headers = {});

Reply PostForm(const std::string& url, const std::string& body);

// A file-service reply: a 200 with a JSON document, which it returns. Anything else fails the
// test (and gives a null value when it is not JSON).
Json::Value ParseJson(const Reply& reply);

// base + "/cgi-bin/filemanager/utilRequest.cgi?func=" + func + "&sid=" + sid, then each field
// of query; sid and every value encoded as the library does. base: "http://127.0.0.1:<port>".
std::string UtilUrl(const std::string& base, const std::string& func, const std::string& sid,
                    const Fields& query = {});

// Logs in to the file service at base as admin/admin: the session's sid (a failure fails the
// test).
std::string Login(const std::string& base);

}  // namespace vesk::emulator::test

#endif  // VESK_TESTS_EMULATOR_PEER_H
