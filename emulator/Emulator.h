// vesk-emulator's device: an emulated network storage device that answers the library's
// requests on 127.0.0.1, over plain HTTP and HTTPS, with real sessions and state.
#ifndef VESK_EMULATOR_EMULATOR_H
#define VESK_EMULATOR_EMULATOR_H

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vesk::emulator {

// Faults the emulator plays on transfers (upload and chunked upload request bodies, download
// reply bodies), for tests of interruption and resume.
//
// Body bytes are raw request-body bytes for uploads (multipart framing included) and reply body
// bytes for downloads. A cut upload's connection is closed without a reply (a whole-file upload
// leaves nothing; what a chunked upload wrote stays); a cut download's reply ends short of the
// Content-Length it announced. A transfer whose body is no longer than dropAfterBytes is not cut
// and does not count against dropCount. Requests the device refuses before their data flows (no
// session, a missing folder, a malformed request) are not transfers and play no faults.
struct TransferFaults {
  // About this many body bytes a second per transfer; 0 = unthrottled.
  unsigned long long bytesPerSecond = 0;
  // Close the connection after this many body bytes of a transfer; -1 = never.
  long long dropAfterBytes = -1;
  // How many transfers, from the next one on, are cut; -1 = every one.
  int dropCount = -1;
};

// The addresses get_domain_ip_list reports. Each one not set is read from the machine when it
// is asked for: the cloud name is the host name (gethostname), the local address the first
// private IPv4 address of an interface that is up (else the first other non-loopback one,
// else 127.0.0.1), the external address the first public IPv4 address (else the local one),
// and the host address the bind address (the local one when binding to 0.0.0.0). A value set
// to "" is reported empty.
struct DeviceAddresses {
  std::optional<std::string> cloudName, externalIp, localIp, hostIp;
};

struct EmulatorOptions {
  std::string root;  // folder whose top-level folders are the share roots (may be empty)
  std::string user = "admin", password = "admin";
  std::string bindAddress = "127.0.0.1";
  unsigned short port = 0;        // plain HTTP; 0 = ephemeral
  unsigned short tlsPort = 0;     // HTTPS; 0 = ephemeral
  bool tls = true;                // serve HTTPS as well
  std::string certFile, keyFile;  // PEM files; empty = generate a self-signed certificate
  std::string serverName = "vesk-emulator";
  // Throttles copy, move, compress and extract jobs to about this many bytes a second (each
  // item counts as one byte more), so that their progress can be followed and they can be
  // cancelled; 0 = as fast as the disk goes. A throttled move copies and removes instead of
  // renaming.
  unsigned long long jobBytesPerSecond = 0;
  TransferFaults faults;  // played from the start; see SetTransferFaults
  // Holds every reply this long before its first byte, on both ports (test control routes
  // included), to play a device across a wide-area link: the cost of each request shows as it
  // would there. Only the request's own connection waits; Stop ends the waits at once.
  std::chrono::milliseconds latency{0};
  DeviceAddresses addresses;
  // The device's clock, for the expiry of share links; empty: the system's. Tests set it to
  // follow a link past its expiry without waiting.
  std::function<std::time_t()> clock;
  // Serves the test control routes on the plain HTTP port, to loopback clients alone: the
  // hooks below (SessionCount, TlsConnectionCount, WebFileManagerEnabled, WaitForJob,
  // SetTransferFaults, SetClock) for a test program that runs the emulator as a process of its
  // own. Off by default.
  bool testControl = false;
};

// The path under which the test control routes are served (see EmulatorOptions::testControl).
// On the plain HTTP port, loopback clients alone:
//   GET  <kControlPath>/sessions          the number of live sessions, as decimal text
//   GET  <kControlPath>/tls-connections   TlsConnectionCount, as decimal text
//   GET  <kControlPath>/web-file-manager  "1" when the web file manager switch is on, else "0"
//   POST <kControlPath>/wait-job          WaitForJob: form fields pid, percent and timeout
//                                         (milliseconds, at most kControlWaitLimit); "1" or "0"
//   POST <kControlPath>/transfer-faults   SetTransferFaults: form fields bytes_per_second,
//                                         drop_after_bytes and drop_count, each absent one at
//                                         its default (unthrottled, never, every one)
//   POST <kControlPath>/clock             SetClock: form field time (seconds since the epoch);
//                                         without it, the clock option again
// A POST answers "ok". A client from another address gets a 403, a malformed request a 400.
inline constexpr const char* kControlPath = "/vesk-emulator/control";
inline constexpr std::chrono::milliseconds kControlWaitLimit{10 * 60 * 1000};

// Both ports serve one device: one session table, one state. Start, Stop and the accessors
// may be called from any thread, but Start and Stop not from inside a request.
class Emulator {
 public:
  explicit Emulator(EmulatorOptions options);
  ~Emulator();  // Stop()
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Starts listening. False with a message in *error (if given) when the root is not a
  // folder, the certificate cannot be read or made, or a port cannot be bound; nothing is
  // left listening then.
  bool Start(std::string* error);
  // Stops listening, cuts every transfer in progress (a throttled one at once: what a chunked
  // upload received so far stays), waits for every request in progress, stops every copy or move
  // job where it is (what it copied so far stays) and every compression or extraction (which
  // removes what it wrote) and waits for them, and forgets every session and job (the web file
  // manager switch and a clock fixed by SetClock stay as they are). Safe to call more than once.
  void Stop();

  unsigned short Port() const;         // bound plain port, 0 when stopped
  unsigned short TlsPort() const;      // bound TLS port, 0 when stopped or without TLS
  bool WebFileManagerEnabled() const;  // the switch set by web_file_mgmt, initially off
  std::size_t SessionCount() const;    // live sessions of both services
  // TCP connections the TLS port accepted since Start; 0 when stopped or without TLS. Tests
  // read it to tell a kept connection from a new one.
  unsigned long long TlsConnectionCount() const;

  // Replaces the faults played on transfers; transfers that start afterwards play them (and
  // count against the new dropCount), those in progress go on with theirs. From any thread.
  // Stop ends every throttle wait at once.
  void SetTransferFaults(const TransferFaults& faults);

  // Waits until the job pid (of any kind) has ended or its percent is above percent, or until
  // timeout: true unless the time ran out or there is no such job. For tests and tools that
  // follow a job without polling its status.
  bool WaitForJob(long long pid, int percent, std::chrono::milliseconds timeout) const;

  // Fixes the device's clock at now from here on, in place of the clock option (or the
  // system's clock); nullopt goes back to that. From any thread.
  void SetClock(std::optional<std::time_t> now);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_EMULATOR_H
