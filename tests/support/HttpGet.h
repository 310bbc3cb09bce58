// A plain HTTP(S) GET with libcurl, for tests that open the links the library builds or the
// device hands out the way any HTTP client would. HTTPS is not verified.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace vesk::test {

struct HttpReply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string contentType;
  std::string body;
};

// url as wide text holds only ASCII (the library percent-encodes every value).
inline std::string Ascii(const std::wstring& url) { return std::string(url.begin(), url.end()); }

inline HttpReply HttpGet(const std::string& url) {
  struct Collect {
    static size_t Write(char* data, size_t size, size_t count, void* body) {
      static_cast<std::string*>(body)->append(data, size * count);
      return size * count;
    }
  };
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  HttpReply reply;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect::Write);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.body);
  reply.code = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.status);
  char* type = nullptr;
  if (curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
    reply.contentType = type;
  }
  return reply;
}

}  // namespace vesk::test
