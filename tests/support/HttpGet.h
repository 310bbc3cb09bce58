// Plain HTTP(S) exchanges with libcurl, for tests that talk to a device the way any HTTP client
// would: open the links the library builds or the device hands out, or drive the emulator as
// the library drives it. HTTPS is not verified.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace vesk::test {

struct HttpReply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string contentType;
  std::string body;
};

// url as wide text holds only ASCII (the library percent-encodes every value).
inline std::string Ascii(const std::wstring& url) { return std::string(url.begin(), url.end()); }

// Runs the exchange curl is set up for: the reply's status, Content-Type and body.
inline HttpReply HttpPerform(CURL* curl) {
  struct Collect {
    static size_t Write(char* data, size_t size, size_t count, void* body) {
      static_cast<std::string*>(body)->append(data, size * count);
      return size * count;
    }
  };
  HttpReply reply;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect::Write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  reply.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  char* type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
    reply.contentType = type;
  }
  return reply;
}

// One exchange with method; a body is sent whole, and headers ("Name: value") are added to
// libcurl's own.
inline HttpReply HttpExchange(const std::string& url, const char* method = "GET",
                              const std::string* body = nullptr,
                              const std::vector<std::string>& headers = {}) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> list(nullptr, &curl_slist_free_all);
  for (const std::string& header : headers)
    list.reset(curl_slist_append(list.release(), header.c_str()));
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
  if (body) {
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(body->size()));
  }
  return HttpPerform(curl.get());
}

inline HttpReply HttpGet(const std::string& url) { return HttpExchange(url); }

}  // namespace vesk::test
