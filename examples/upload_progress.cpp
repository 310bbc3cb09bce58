// Uploads a local file into a folder of the device, showing how far it has come.
// usage: upload_progress PORT LOCAL_FILE DEVICE_FOLDER   e.g. upload_progress 8080 a.iso /Public
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

// What the progress callback needs: the size to show the bytes against.
struct Progress {
  long long total;
};

// Called after every piece of the file has gone out (pieces are at most 65535 bytes), with the
// running total of the file's bytes; it runs on a library thread, not the caller's.
static void OnProgress(void* userData, long long bytes) {
  const auto* progress = static_cast<const Progress*>(userData);
  std::fprintf(stderr, "\r%lld of %lld bytes (%lld%%)", bytes, progress->total,
               progress->total > 0 ? bytes * 100 / progress->total : 100);
}

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc != 4) {
    std::fprintf(stderr, "usage: upload_progress PORT LOCAL_FILE DEVICE_FOLDER\n");
    return 2;
  }
  std::error_code error;
  Progress progress{static_cast<long long>(std::filesystem::file_size(argv[2], error))};
  if (error) {
    std::fprintf(stderr, "%s: %s\n", argv[2], error.message().c_str());
    return 1;
  }

  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(std::atol(argv[1]));
  if (int result = server.Login(VESK_HTTP_STATION_FILE_STATION); result != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "login failed: %d\n", result);
    return 1;
  }
  IVeskHttpFileStation* files = server.OpenFileStation();
  // The file keeps its name on the device; one there already is replaced.
  const int result = files->UploadFile(Wide(argv[2]).c_str(), Wide(argv[3]).c_str(), nullptr,
                                       &progress, &OnProgress);
  std::fprintf(stderr, "\n");
  if (result == VESK_HTTP_SUCCESS)
    std::printf("uploaded %s to %s\n", argv[2], argv[3]);
  else
    std::fprintf(stderr, "upload failed: %d\n", result);
  server.CloseFileStation(&files);
  return result == VESK_HTTP_SUCCESS ? 0 : 1;
}
