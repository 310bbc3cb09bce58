// What a station of either service keeps besides its own session: the connection data of
// its login, the settings the server object gives it, and its live requests; and the
// descriptors it fills from them.
#pragma once

#include <atomic>
#include <string>
#include <utility>

#include "VeskHttp.h"
#include "filestation/RequestList.h"

namespace vesk {

// Where and as whom a station's requests go.
struct Connection {
  std::wstring host;
  std::wstring user;
  std::wstring password;
  int ssl = 0;
};

template <typename Request>
class Station {
 public:
  // Set by the server object before Login.
  void SetAgentName(std::wstring agentName) { agentName_ = std::move(agentName); }
  void SetTimeout(int timeoutMs) { timeout_ = timeoutMs; }
  void SetPorts(int port, int sslPort) {
    port_ = port;
    sslPort_ = sslPort;
  }
  void SetTls(TlsSettings tls) { tls_ = std::move(tls); }
  bool LoggedIn() const { return loggedIn_ != 0; }

 protected:
  // A descriptor for a connection: its data, the port its SSL flag selects, the agent name
  // and the time-out.
  RequestDescriptor DescribeFor(const Connection& connection, int command,
                                bool asynchronous) const {
    RequestDescriptor d;
    d.command = command;
    d.asynchronous = asynchronous ? 1 : 0;
    d.host = connection.host;
    d.ssl = connection.ssl;
    d.port = connection.ssl == 1 ? sslPort_ : port_;
    d.agentName = agentName_;
    d.timeout = timeout_;
    d.tls = tls_;
    return d;
  }
  RequestDescriptor Describe(int command, bool asynchronous) const {
    return DescribeFor(connection_, command, asynchronous);
  }

  // Runs the logout; when it succeeds the station is no longer logged in and forgets its
  // connection. A failed logout leaves it logged in.
  int Logout(RequestDescriptor logout) {
    if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
    return Guarded([&] {
      const int result = requests_.RunSync(std::move(logout), nullptr, [](Request&) {});
      if (result == VESK_HTTP_SUCCESS) {
        loggedIn_ = 0;
        connection_ = Connection();
      }
      return result;
    });
  }

  std::atomic<int> loggedIn_{0};
  Connection connection_;
  int port_ = 8080;
  int sslPort_ = 443;
  std::wstring agentName_ = L"Norvik VeskHttp C++ SDK for Windows 1.0.0";
  int timeout_ = 0;
  TlsSettings tls_;
  RequestList<Request> requests_;
};

}  // namespace vesk
