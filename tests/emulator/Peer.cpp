#include "Peer.h"

#include <cctype>
#include <memory>

namespace vesk::emulator::test {

namespace {

// libcurl's global state, set up once before any test thread exists.
struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
} curlGlobal;

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

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
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> list(nullptr, &curl_slist_free_all);
  for (const std::string& header : headers)
    list.reset(curl_slist_append(list.release(), header.c_str()));
  Reply reply;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
  if (body) {
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(body->size()));
  }
  reply.code = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
  char* type = nullptr;
  if (curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
    reply.contentType = type;
  }
  return reply;
}

Reply PostForm(const std::string& url, const std::string& body) {
  return Send(url, "POST", &body, {kFormType});
}

}  // namespace vesk::emulator::test
