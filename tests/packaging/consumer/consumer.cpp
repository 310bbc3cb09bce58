// A program built against an installed VeskHttp: its header's version must be the one the
// build system found, and the library must work against the device emulator on PORT (both
// services, one logged in through the other). Prints the share roots.
// usage: consumer PORT
#include <VeskHttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef EXPECTED_VERSION
#error "EXPECTED_VERSION: the version the build system found"
#endif

static_assert(VESK_HTTP_VERSION == VESK_HTTP_MAKE_VERSION(VESK_HTTP_VERSION_MAJOR,
                                                          VESK_HTTP_VERSION_MINOR,
                                                          VESK_HTTP_VERSION_PATCH));

int main(int argc, char** argv) {
  if (std::strcmp(VESK_HTTP_VERSION_STRING, EXPECTED_VERSION) != 0) {
    std::fprintf(stderr, "header version %s, package version %s\n", VESK_HTTP_VERSION_STRING,
                 EXPECTED_VERSION);
    return 1;
  }
  if (argc != 2) return 2;
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetSystemPortNum(std::atol(argv[1]));
  server.SetFileStationPortNum(std::atol(argv[1]));
  if (server.Login(VESK_HTTP_STATION_SYSTEM) != VESK_HTTP_SUCCESS ||
      server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "login failed\n");
    return 1;
  }
  IVeskHttpSystem* system = server.OpenSystem();
  IVeskHttpFileStation* files = server.OpenFileStation();
  std::vector<CVeskHttpFileEntry> roots;
  const int result = files->GetShareFolderList(nullptr, &roots);
  for (const CVeskHttpFileEntry& root : roots) std::printf("%ls\n", root.GetFileName());
  if (server.CloseFileStation(&files) != VESK_HTTP_SUCCESS ||
      server.CloseSystem(&system) != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "logout failed\n");
    return 1;
  }
  return result == VESK_HTTP_SUCCESS ? 0 : 1;
}
