#include "Connection.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "Text.h"

namespace vesk::cli {

namespace {

// A file descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Puts the terminal back as it was when it goes out of scope.
class TerminalMode {
 public:
  TerminalMode(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
  ~TerminalMode() { tcsetattr(fd_, TCSAFLUSH, &saved_); }
  TerminalMode(const TerminalMode&) = delete;
  TerminalMode& operator=(const TerminalMode&) = delete;

 private:
  int fd_;
  termios saved_;
};

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Reads a line from the terminal without echo. The terminal does not turn Ctrl-C into a
// signal meanwhile (so that echo is always restored); vesk sees the character and stops.
// Without a terminal, a Failure with the message `missing`.
std::string Prompt(const std::string& question, const std::string& missing) {
  Descriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  termios saved{};
  if (tty.Get() < 0 || tcgetattr(tty.Get(), &saved) != 0) throw Failure(kUsage, missing);
  WriteAll(tty.Get(), question);
  std::string line;
  bool interrupted = false;
  {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG);
    quiet.c_cc[VMIN] = 1;
    quiet.c_cc[VTIME] = 0;
    TerminalMode restore(tty.Get(), saved);
    tcsetattr(tty.Get(), TCSAFLUSH, &quiet);
    for (;;) {
      char c = 0;
      const ssize_t n = ::read(tty.Get(), &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || c == '\n' || c == '\r' || c == saved.c_cc[VEOF]) break;
      if (c == saved.c_cc[VINTR]) {
        interrupted = true;
        break;
      }
      if (c == saved.c_cc[VERASE] || c == '\b' || c == 0x7F) {
        // Drop the last character, with the bytes that continue it.
        while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80)
          line.pop_back();
        if (!line.empty()) line.pop_back();
        continue;
      }
      line += c;
    }
  }
  WriteAll(tty.Get(), "\n");
  if (interrupted) throw Failure(kInterrupted, "interrupted");
  return line;
}

// Why a TCP connection to host:port cannot be made, or empty when it can.
std::string WhyNoConnection(const std::string& host, int port, double timeoutSeconds) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (lookup == EAI_NONAME || lookup == EAI_NODATA) return "no such host name";
  if (lookup == EAI_AGAIN) return "the host name cannot be looked up now";
  if (lookup != 0) return std::string("the host name cannot be looked up: ") + gai_strerror(lookup);
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  const int waitMs = static_cast<int>(std::lround(std::min(timeoutSeconds, 10.0) * 1000));
  std::string why = "no address to connect to";
  for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
    Descriptor socket(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (socket.Get() < 0) continue;
    int error = 0;
    if (::connect(socket.Get(), a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        pollfd wait{socket.Get(), POLLOUT, 0};
        if (::poll(&wait, 1, waitMs) <= 0) {
          why = "connection timed out";
          continue;
        }
        socklen_t length = sizeof error;
        getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
    switch (error) {
      case 0:
        return std::string();
      case ECONNREFUSED:
        why = "connection refused";
        break;
      case ETIMEDOUT:
        why = "connection timed out";
        break;
      case EHOSTUNREACH:
        why = "no route to host";
        break;
      case ENETUNREACH:
        why = "network unreachable";
        break;
      default:
        why = std::strerror(error);
        break;
    }
  }
  return why;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

// Servers whose stations could not be closed: kept reachable until the process ends rather
// than destroyed under an open station.
std::vector<CVeskHttpServer*>& KeptServers() {
  static auto* kept = new std::vector<CVeskHttpServer*>();
  return *kept;
}

}  // namespace

std::string ReadPassword(const ConnectionOptions& options) {
  if (!options.passwordFile.empty()) {
    std::ifstream file(options.passwordFile, std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line)) {
      throw Failure(kLocalFile, options.passwordFile + ": cannot read the password file");
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  if (const char* password = std::getenv("VESK_PASSWORD")) return password;
  return Prompt("Password for " + options.user + "@" + options.host + ": ",
                "no password: set VESK_PASSWORD, give --password-file FILE, or run vesk on a "
                "terminal");
}

std::string ReadSecret(const char* variable, const std::string& question) {
  if (const char* secret = std::getenv(variable)) return secret;
  return Prompt(question, std::string("no ") + question.substr(0, question.find(':')) + ": set " +
                              variable + ", or run vesk on a terminal");
}

Session::Session(const ConnectionOptions& options, const std::string& password)
    : options_(options) {
  const int port = options.tls ? options.tlsPort : options.port;
  const bool ipv6 = options.host.find(':') != std::string::npos;
  address_ = (ipv6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(port);
  server_ = new CVeskHttpServer(CVeskHttpServerInfo(
      Wide(options.host).c_str(), Wide(options.user).c_str(), Wide(password).c_str(),
      options.tls ? 1 : 0, Wide(options.computerName).c_str()));
  server_->SetFileStationPortNum(options.port);
  server_->SetSystemPortNum(options.port);
  server_->SetFileStationSSLPortNum(options.tlsPort);
  server_->SetSystemSSLPortNum(options.tlsPort);
  server_->SetAgentName(Wide("vesk/" VESK_HTTP_VERSION_STRING).c_str());
  if (options.timeoutSeconds > 0) {
    server_->SetTimeouts(static_cast<int>(std::lround(options.timeoutSeconds * 1000)));
  }
  // Without these any certificate passes: devices serve self-signed ones. The pin was
  // checked when the command line was read.
  if (!options.caFile.empty()) server_->SetVerifyCertificate(1, Wide(options.caFile).c_str());
  if (!options.pin.empty()) server_->SetCertificatePin(Wide(options.pin).c_str());
}

Session::~Session() {
  if (keep_) {
    KeptServers().push_back(server_);
    return;
  }
  if (files_) server_->CloseFileStation(&files_);
  if (system_) server_->CloseSystem(&system_);
  if (files_ || system_) {
    KeptServers().push_back(server_);
  } else {
    delete server_;
  }
}

void Session::Open(int services) {
  // A Ctrl-C during a login is taken once it is done, so that the session is closed again.
  cancellable_ = std::make_unique<CancellableScope>();
  const bool system = (services & kSystem) || options_.viaSystem;
  if (system) {
    const auto started = Clock::now();
    const int result = server_->Login(VESK_HTTP_STATION_SYSTEM);
    if (result != VESK_HTTP_SUCCESS) throw LoginFailure(result, started);
    system_ = server_->OpenSystem();
    ThrowIfInterrupted();
  }
  if (services & kFiles) {
    const auto started = Clock::now();
    const int result = server_->Login(VESK_HTTP_STATION_FILE_STATION);
    if (result != VESK_HTTP_SUCCESS) throw LoginFailure(result, started);
    files_ = server_->OpenFileStation();
    ThrowIfInterrupted();
  }
}

double Session::EffectiveTimeout() const {
  // Without --timeout the library waits 30 s for a reply.
  return options_.timeoutSeconds > 0 ? options_.timeoutSeconds : 30;
}

Failure Session::LoginFailure(int code, Clock::time_point started) const {
  if (code == VESK_HTTP_SEND_FAILED) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    std::string why = WhyNoConnection(
        options_.host, options_.tls ? options_.tlsPort : options_.port, EffectiveTimeout());
    if (why.empty()) {
      if (elapsed >= EffectiveTimeout() * 0.9) {
        why = "no answer within " + Seconds(EffectiveTimeout());
      } else if (options_.tls && (!options_.pin.empty() || !options_.caFile.empty())) {
        why =
            "connected, but its certificate did not pass --pin or --ca-file, or the secure "
            "exchange failed";
      } else if (options_.tls) {
        why = "connected, but the secure exchange failed (is it the device's HTTPS port?)";
      } else {
        why = "connected, but the exchange failed (is it the device's HTTP port?)";
      }
    }
    return Failure(kUnreachable, "cannot reach " + address_ + ": " + why);
  }
  if (code == VESK_HTTP_BAD_HTTP_STATUS || code == VESK_HTTP_SERVER_FAILED) {
    return Failure(kUnreachable, "cannot log in at " + address_ +
                                     ": it does not answer like the device's web "
                                     "administration (wrong port?)");
  }
  return ResultFailure(code, Op::Login, std::string());
}

Failure Session::Fail(int code, Op op, const std::string& subject,
                      Clock::time_point started) const {
  if (code == VESK_HTTP_SEND_FAILED) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    const std::string what =
        elapsed >= EffectiveTimeout() * 0.9
            ? address_ + " did not answer within " + Seconds(EffectiveTimeout())
            : "lost the connection to " + address_;
    return Failure(kUnreachable, subject.empty() ? what : subject + ": " + what);
  }
  return ResultFailure(code, op, subject);
}

}  // namespace vesk::cli
