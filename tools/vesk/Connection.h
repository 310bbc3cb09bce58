// Where and as whom vesk connects, the password, and the session: login to the services a
// command needs, the wording of connection failures, and logout at the end.
#ifndef VESK_TOOLS_CONNECTION_H
#define VESK_TOOLS_CONNECTION_H

#include <chrono>
#include <memory>
#include <string>

#include "Interrupt.h"
#include "Messages.h"
#include "VeskHttp.h"

namespace vesk::cli {

struct ConnectionOptions {
  std::string host;  // --host or VESK_HOST
  int port = 8080;
  bool tls = false;
  int tlsPort = 443;
  // --pin: the SHA-256 fingerprint the device's certificate must have; --ca-file: the
  // authorities to verify it against. Neither: any certificate passes.
  std::string pin;
  std::string caFile;
  std::string user;          // --user or VESK_USER
  std::string passwordFile;  // --password-file
  std::string computerName;
  double timeoutSeconds = 0;  // 0: the library's defaults
  bool viaSystem = false;     // log in to the system service first, the file service through it
};

// The password: the first line of --password-file, else VESK_PASSWORD, else typed at a prompt
// on the terminal without echo. A Failure when there is none to be had.
std::string ReadPassword(const ConnectionOptions& options);

// Another secret (an archive's password): the environment variable, else typed at a prompt.
std::string ReadSecret(const char* variable, const std::string& question);

class Session {
 public:
  using Clock = std::chrono::steady_clock;
  enum Service { kFiles = 1, kSystem = 2 };

  Session(const ConnectionOptions& options, const std::string& password);
  ~Session();  // logs out of whatever is open, the file service first
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Logs in to the services (a mask of Service); a Failure when that does not work.
  void Open(int services);

  IVeskHttpFileStation& Files() { return *files_; }
  IVeskHttpSystem& System() { return *system_; }
  // "host:port" of the port in use.
  const std::string& Address() const { return address_; }

  // The failure a result code means for op on subject; started is when the call began, to
  // tell a time-out from a broken connection.
  Failure Fail(int code, Op op, const std::string& subject, Clock::time_point started) const;

  // Runs one library call (a callable returning a result code) and throws its failure.
  template <typename Call>
  void Run(Op op, const std::string& subject, Call&& call) {
    const auto started = Clock::now();
    const int result = call();
    if (result != VESK_HTTP_SUCCESS) throw Fail(result, op, subject, started);
  }

  // Leaves the session open when vesk ends, for links that carry its session id.
  void Keep() { keep_ = true; }

 private:
  Failure LoginFailure(int code, Clock::time_point started) const;
  double EffectiveTimeout() const;

  ConnectionOptions options_;
  std::string address_;
  CVeskHttpServer* server_;  // owned; left alive on purpose when a station stays open
  IVeskHttpFileStation* files_ = nullptr;
  IVeskHttpSystem* system_ = nullptr;
  bool keep_ = false;
  std::unique_ptr<CancellableScope> cancellable_;  // from the login to the end of the logout
};

}  // namespace vesk::cli

#endif  // VESK_TOOLS_CONNECTION_H
