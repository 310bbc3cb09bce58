// vesk-emulator: serves the emulated device until SIGINT or SIGTERM.
#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "emulator/Emulator.h"
#include "emulator/Wire.h"

namespace {

constexpr const char* kUsage =
    "Usage: vesk-emulator [--root DIR] [--user U] [--password P] [--port N] [--tls-port N]\n"
    "                     [--bind ADDR] [--cert FILE --key FILE] [--no-tls]\n"
    "                     [--job-rate BYTES] [--transfer-rate BYTES]\n"
    "                     [--drop-after BYTES] [--drop-count N] [--latency MS]\n"
    "                     [--cloud-name NAME] [--external-ip ADDR] [--local-ip ADDR]\n"
    "                     [--host-ip ADDR] [--test-control]\n"
    "\n"
    "  --root DIR          folder whose top-level folders are the share roots\n"
    "  --user U            the device's user name (default admin)\n"
    "  --password P        its password (default admin)\n"
    "  --port N            plain HTTP port (default 8080; 0 picks a free one)\n"
    "  --tls-port N        HTTPS port (default 8443; 0 picks a free one)\n"
    "  --bind ADDR         IPv4 address to listen on (default 127.0.0.1)\n"
    "  --cert FILE         PEM certificate for HTTPS, with --key (default: a self-signed\n"
    "  --key FILE          one made at start)\n"
    "  --no-tls            serve plain HTTP only\n"
    "  --job-rate N        throttle copy, move, compress and extract jobs to N bytes a\n"
    "                      second, so that their progress can be followed (default 0:\n"
    "                      unthrottled)\n"
    "  --transfer-rate N   throttle every upload and download to about N body bytes a\n"
    "                      second (default 0: unthrottled)\n"
    "  --drop-after N      break transfers off after N body bytes: an upload's connection\n"
    "                      is closed without a reply, a download's reply ends short\n"
    "                      (default: never)\n"
    "  --drop-count N      break off only the next N transfers that reach --drop-after\n"
    "                      (default: every one)\n"
    "  --latency MS        hold every reply MS milliseconds before its first byte, as a\n"
    "                      device across a wide-area link would (default 0); only the\n"
    "                      request's own connection waits\n"
    "  --cloud-name NAME   the cloud host name the device reports (default: this\n"
    "                      machine's host name)\n"
    "  --external-ip ADDR  the external address it reports (default: the first public\n"
    "                      IPv4 address of this machine, else the local address)\n"
    "  --local-ip ADDR     the local address it reports (default: the first private\n"
    "                      IPv4 address of this machine, else 127.0.0.1)\n"
    "  --host-ip ADDR      the host address it reports (default: the --bind address)\n"
    "                      An empty NAME or ADDR is reported empty.\n"
    "  --test-control      serve the test control routes under /vesk-emulator/control/ on\n"
    "                      the plain HTTP port, to loopback clients alone: the session\n"
    "                      count, the web file manager switch, waiting for a job, the\n"
    "                      transfer faults and the device's clock, for test programs that\n"
    "                      run the emulator as a process of their own (default: off)\n";

// The longest --latency taken: an hour.
constexpr unsigned long long kMaxLatencyMs = 3600 * 1000;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vesk-emulator: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// An IPv4 or IPv6 address, or empty.
bool IsAddress(const char* text) {
  in6_addr address{};  // large enough for either
  return *text == '\0' || inet_pton(AF_INET, text, &address) == 1 ||
         inet_pton(AF_INET6, text, &address) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  vesk::emulator::EmulatorOptions options;
  options.port = 8080;
  options.tlsPort = 8443;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (flag == "--no-tls") {
      options.tls = false;
      continue;
    }
    if (flag == "--test-control") {
      options.testControl = true;
      continue;
    }
    std::string* text = flag == "--root"       ? &options.root
                        : flag == "--user"     ? &options.user
                        : flag == "--password" ? &options.password
                        : flag == "--bind"     ? &options.bindAddress
                        : flag == "--cert"     ? &options.certFile
                        : flag == "--key"      ? &options.keyFile
                                               : nullptr;
    unsigned short* port = flag == "--port"       ? &options.port
                           : flag == "--tls-port" ? &options.tlsPort
                                                  : nullptr;
    unsigned long long* rate = flag == "--job-rate"        ? &options.jobBytesPerSecond
                               : flag == "--transfer-rate" ? &options.faults.bytesPerSecond
                                                           : nullptr;
    vesk::emulator::DeviceAddresses& addresses = options.addresses;
    std::optional<std::string>* address = flag == "--cloud-name"    ? &addresses.cloudName
                                          : flag == "--external-ip" ? &addresses.externalIp
                                          : flag == "--local-ip"    ? &addresses.localIp
                                          : flag == "--host-ip"     ? &addresses.hostIp
                                                                    : nullptr;
    const bool dropAfter = flag == "--drop-after", dropCount = flag == "--drop-count",
               latency = flag == "--latency";
    if (!text && !port && !rate && !address && !dropAfter && !dropCount && !latency) {
      return UsageError("unknown option " + std::string(flag));
    }
    if (i + 1 == argc) return UsageError(std::string(flag) + " needs a value");
    const char* value = argv[++i];
    if (text) {
      *text = value;
    } else if (address) {
      if (flag != "--cloud-name" && !IsAddress(value)) {
        return UsageError(std::string(flag) + " takes an IPv4 or IPv6 address");
      }
      *address = value;
    } else if (rate) {
      const auto number = vesk::emulator::ParseDecimal(value, ~0ULL);
      if (!number) return UsageError(std::string(flag) + " takes a number of bytes a second");
      *rate = *number;
    } else if (dropAfter) {
      const auto number = vesk::emulator::ParseDecimal(value, LLONG_MAX);
      if (!number) return UsageError("--drop-after takes a number of bytes");
      options.faults.dropAfterBytes = static_cast<long long>(*number);
    } else if (dropCount) {
      const auto number = vesk::emulator::ParseDecimal(value, INT_MAX);
      if (!number) return UsageError("--drop-count takes a number of transfers");
      options.faults.dropCount = static_cast<int>(*number);
    } else if (latency) {
      const auto number = vesk::emulator::ParseDecimal(value, kMaxLatencyMs);
      if (!number) return UsageError("--latency takes a number of milliseconds up to 3600000");
      options.latency = std::chrono::milliseconds(*number);
    } else if (const auto number = vesk::emulator::ParseDecimal(value, 65535)) {
      *port = static_cast<unsigned short>(*number);
    } else {
      return UsageError(std::string(flag) + " takes a port number from 0 to 65535");
    }
  }

  // SIGINT and SIGTERM are blocked in every thread (the server threads inherit the mask) and
  // taken by sigwait below. A peer that goes away mid-reply must not end the process.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  vesk::emulator::Emulator emulator(options);
  std::string error;
  if (!emulator.Start(&error)) {
    std::fprintf(stderr, "vesk-emulator: %s\n", error.c_str());
    return 1;
  }
  std::printf("vesk-emulator: serving http://%s:%u\n", options.bindAddress.c_str(),
              static_cast<unsigned>(emulator.Port()));
  if (options.tls) {
    std::printf("vesk-emulator: serving https://%s:%u\n", options.bindAddress.c_str(),
                static_cast<unsigned>(emulator.TlsPort()));
  }
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  emulator.Stop();
  std::printf("vesk-emulator: stopped by %s\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  return 0;
}
