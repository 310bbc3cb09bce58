// Plain HTTP(S) exchanges with libcurl (WinHTTP on Windows), for tests that talk to a device the
// way any HTTP client would: open the links the library builds or the device hands out, or drive
// the emulator as the library drives it. HTTPS is not verified.
#pragma once

#ifdef _WIN32
#include "support/WindowsApi.h"
// windows.h first
#include <winhttp.h>
#else
#include <curl/curl.h>
#endif

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vesk::test {

#ifdef _WIN32

struct HttpReply {
  long status = 0;  // 0: the exchange failed
  std::string contentType;
  std::string body;
};

inline std::string Ascii(const std::wstring& url) { return std::string(url.begin(), url.end()); }

// One exchange with method, within timeout for each step; a body is sent whole, and headers
// ("Name: value") are added to WinHTTP's own.
inline HttpReply HttpExchange(const std::string& url, const char* method = "GET",
                              const std::string* body = nullptr,
                              const std::vector<std::string>& headers = {},
                              std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  using Handle = std::unique_ptr<void, decltype(&WinHttpCloseHandle)>;
  HttpReply reply;
  std::wstring wideUrl(url.begin(), url.end());
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = ~0UL;
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return reply;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  const Handle session(WinHttpOpen(L"vesk-test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
                       &WinHttpCloseHandle);
  if (!session) return reply;
  const int limit = static_cast<int>(timeout.count());
  WinHttpSetTimeouts(session.get(), limit, limit, limit, limit);
  const Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0),
                          &WinHttpCloseHandle);
  if (!connection) return reply;
  const std::string verb = method;
  const Handle request(
      WinHttpOpenRequest(connection.get(), std::wstring(verb.begin(), verb.end()).c_str(),
                         target.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                         secure ? WINHTTP_FLAG_SECURE : 0),
      &WinHttpCloseHandle);
  if (!request) return reply;
  DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                 SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  if (secure)
    WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
  std::wstring lines;
  for (const std::string& header : headers)
    lines += std::wstring(header.begin(), header.end()) + L"\r\n";
  std::string data = body ? *body : std::string();
  if (!WinHttpSendRequest(request.get(),
                          lines.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : lines.c_str(),
                          lines.empty() ? 0 : static_cast<DWORD>(-1L),
                          data.empty() ? WINHTTP_NO_REQUEST_DATA : data.data(),
                          static_cast<DWORD>(data.size()), static_cast<DWORD>(data.size()), 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    return reply;
  }
  DWORD status = 0, size = sizeof status;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  size = 0;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (size > 0) {
    std::wstring type(size / sizeof(wchar_t), L'\0');
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX,
                            type.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
      type.resize(size / sizeof(wchar_t));
      reply.contentType.assign(type.begin(), type.end());
    }
  }
  for (;;) {
    char buffer[65536];
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) return reply;
    if (read == 0) break;
    reply.body.append(buffer, read);
  }
  reply.status = static_cast<long>(status);
  return reply;
}

inline HttpReply HttpGet(const std::string& url) { return HttpExchange(url); }

#else

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

// One exchange with method, within timeout; a body is sent whole, and headers ("Name: value")
// are added to libcurl's own.
inline HttpReply HttpExchange(const std::string& url, const char* method = "GET",
                              const std::string* body = nullptr,
                              const std::vector<std::string>& headers = {},
                              std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> list(nullptr, &curl_slist_free_all);
  for (const std::string& header : headers)
    list.reset(curl_slist_append(list.release(), header.c_str()));
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
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

#endif

}  // namespace vesk::test
