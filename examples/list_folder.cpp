// Lists a folder of the device page by page, or the share roots when no folder is named.
// usage: list_folder PORT [FOLDER]          e.g. list_folder 8080 /Public
#include <VeskHttp.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

// Text of the command line, in the locale's encoding, as wide text.
static std::wstring Wide(const char* text) {
  std::mbstate_t state{};
  const std::size_t length = std::mbsrtowcs(nullptr, &text, 0, &state);
  if (length == static_cast<std::size_t>(-1)) return {};
  std::wstring wide(length, L'\0');
  std::mbsrtowcs(wide.data(), &text, length, &state);
  return wide;
}

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    std::fprintf(stderr, "usage: list_folder PORT [FOLDER]\n");
    return 2;
  }
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(std::atol(argv[1]));
  if (int result = server.Login(VESK_HTTP_STATION_FILE_STATION); result != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "login failed: %d\n", result);
    return 1;
  }
  IVeskHttpFileStation* files = server.OpenFileStation();

  int result = VESK_HTTP_SUCCESS;
  std::vector<CVeskHttpFileEntry> entries;  // every call appends to it
  if (argc < 3) {
    result = files->GetShareFolderList(nullptr, &entries);
  } else {
    // The device hands out a folder in pages; the count says how many to ask for.
    const std::wstring folder = Wide(argv[2]);
    int count = 0;
    result = files->GetFileListCount(folder.c_str(), nullptr, &count);
    constexpr int kPage = 50;
    for (int start = 0; result == VESK_HTTP_SUCCESS && start < count; start += kPage)
      result = files->GetFileList(folder.c_str(), start, kPage, nullptr, &entries);
  }
  if (result == VESK_HTTP_SUCCESS) {
    for (const CVeskHttpFileEntry& entry : entries)
      std::printf("%s %12lld  %ls\n", entry.IsDir() ? "d" : "-", entry.GetFileSize(),
                  entry.GetFileName());
  } else {
    std::fprintf(stderr, "listing failed: %d\n", result);
  }
  server.CloseFileStation(&files);
  return result == VESK_HTTP_SUCCESS ? 0 : 1;
}
