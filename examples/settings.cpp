// Prints the device's web-server settings through the system service.
// usage: settings [PORT]   (the emulator's defaults: 127.0.0.1, port 8080, admin/admin)
#include <VeskHttp.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  if (argc > 1) server.SetSystemPortNum(std::atol(argv[1]));
  if (server.Login(VESK_HTTP_STATION_SYSTEM) != VESK_HTTP_SUCCESS) return 1;
  IVeskHttpSystem* system = server.OpenSystem();
  CVeskHttpSystemSettingInfo settings;
  const int result = system->GetSystemSetting(nullptr, &settings);
  if (result == VESK_HTTP_SUCCESS)
    std::printf("%ls: port %d, SSL port %d\n", settings.GetServerName(), settings.GetSYSPort(),
                settings.GetSYSSSLPort());
  server.CloseSystem(&system);
  return result == VESK_HTTP_SUCCESS ? 0 : 1;
}
