// Device replies and a server object pointed at a scripted test server, for the tests of
// the services.
#pragma once

#include <string>

#include "VeskHttp.h"
#include "support/ScriptedServer.h"

namespace vesk::test {

inline ScriptedReply JsonReply(std::string body) {
  return {.headers = {{"Content-Type", "application/json; charset=\"UTF-8\""}},
          .body = std::move(body)};
}

inline ScriptedReply XmlReply(std::string body) {
  return {.headers = {{"Content-Type", "text/xml; charset=\"UTF-8\""}}, .body = std::move(body)};
}

// A system reply whose settings element sits where the library reads it: the root's eighth
// child element, its second child element, its first child element.
inline std::string SettingsDocument(const std::string& authPassed, const std::string& settings) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><reply><authPassed>" + authPassed +
         "</authPassed><a/><b/><c/><d/><e/><f/><system><general/><web><settings>" + settings +
         "</settings></web></system></reply>";
}

// A server object for admin/secret at the scripted server, both services on its port.
inline CVeskHttpServer ServerAt(const ScriptedServer& device, const wchar_t* computerName = L"",
                                const wchar_t* password = L"secret") {
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", password, 0, computerName));
  server.SetFileStationPortNum(device.Port());
  server.SetSystemPortNum(device.Port());
  return server;
}

}  // namespace vesk::test
