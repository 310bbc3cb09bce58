// Downloads a file of the device, resuming where the local file ends: after a broken
// connection it tries again from there, and a download that was cut off in an earlier run
// goes on when the same command is run again.
// usage: download_resume PORT DEVICE_FILE LOCAL_FILE   e.g. download_resume 8080 /Public/a.iso
// a.iso
#include <VeskHttp.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <string>

// Text of the command line, in the locale's encoding, as wide text.
static std::wstring Wide(const char* text) {
  std::mbstate_t state{};
  const std::size_t length = std::mbsrtowcs(nullptr, &text, 0, &state);
  if (length == static_cast<std::size_t>(-1)) return {};
  std::wstring wide(length, L'\0');
  std::mbsrtowcs(wide.data(), &text, length, &state);
  return wide;
}

// The running total of the file's bytes, counted from its start: a resumed download goes on
// from the offset it was given.
static void OnProgress(void*, long long bytes) { std::fprintf(stderr, "\r%lld bytes", bytes); }

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_resume PORT DEVICE_FILE LOCAL_FILE\n");
    return 2;
  }
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(std::atol(argv[1]));
  if (int result = server.Login(VESK_HTTP_STATION_FILE_STATION); result != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "login failed: %d\n", result);
    return 1;
  }
  IVeskHttpFileStation* files = server.OpenFileStation();

  constexpr int kAttempts = 5;
  int result = VESK_HTTP_SEND_FAILED;
  for (int attempt = 1; attempt <= kAttempts && result == VESK_HTTP_SEND_FAILED; ++attempt) {
    // What the local file holds arrived in an earlier attempt: ask only for the rest.
    std::error_code error;
    const auto size = std::filesystem::file_size(argv[3], error);
    const long long offset = error ? 0 : static_cast<long long>(size);
    if (offset > 0) std::fprintf(stderr, "resuming at byte %lld\n", offset);
    result = files->DownloadFile(Wide(argv[2]).c_str(), Wide(argv[3]).c_str(), offset, nullptr,
                                 nullptr, &OnProgress);
    std::fprintf(stderr, "\n");
    // VESK_HTTP_SEND_FAILED: the connection broke, also in the middle of the file. What
    // arrived stays in the local file.
  }
  if (result == VESK_HTTP_SUCCESS)
    std::printf("downloaded %s to %s\n", argv[2], argv[3]);
  else
    std::fprintf(stderr, "download failed: %d\n", result);
  server.CloseFileStation(&files);
  return result == VESK_HTTP_SUCCESS ? 0 : 1;
}
