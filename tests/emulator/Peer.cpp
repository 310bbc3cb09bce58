#include "Peer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

namespace vesk::emulator::test {

namespace {

// libcurl's global state, set up once before any test thread exists.
struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
} curlGlobal;

}  // namespace

std::string Base64(const std::string& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned bits = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) bits |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) bits |= static_cast<unsigned char>(bytes[i + 2]);
    for (std::size_t k = 0; k < 4; ++k) {
      out += i + k <= bytes.size() ? kAlphabet[(bits >> (18 - 6 * k)) & 63] : '=';
      if (out.size() % 77 == 76) out += '\n';
    }
  }
  return out;
}

std::string Encode(const std::string& text, char keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~' || (keep && c == keep)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

Reply Send(const std::string& url, const char* method, const std::string* body,
           std::vector<std::string> headers) {
  return vesk::test::HttpExchange(url, method, body, headers);
}

Reply PostForm(const std::string& url, const std::string& body) {
  return Send(url, "POST", &body, {kFormType});
}

Json::Value ParseJson(const Reply& reply) {
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "application/json; charset=\"UTF-8\"");
  Json::Value root;
  std::istringstream in(reply.body);
  if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &root, nullptr)) {
    ADD_FAILURE() << "not JSON: " << reply.body;
  }
  return root;
}

std::string UtilUrl(const std::string& base, const std::string& func, const std::string& sid,
                    const Fields& query) {
  std::string url =
      base + "/cgi-bin/filemanager/utilRequest.cgi?func=" + func + "&sid=" + Encode(sid);
  for (const auto& [name, value] : query) url += "&" + name + "=" + Encode(value);
  return url;
}

std::string Login(const std::string& base) {
  const Json::Value login = ParseJson(PostForm(base + "/cgi-bin/filemanager/wfm2Login.cgi",
                                               "user=admin&pwd=" + Encode(Base64("admin"))));
  const std::string sid = login["sid"].asString();
  EXPECT_FALSE(sid.empty()) << login;
  return sid;
}

}  // namespace vesk::emulator::test
