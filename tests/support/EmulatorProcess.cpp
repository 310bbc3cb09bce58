// The device emulator for the Windows test programs, which run under Wine: the emulator is not
// built for Windows, so this stand-in starts the native vesk-emulator (VESK_NATIVE_EMULATOR) as
// a Linux process through Wine's Z: drive, reads the ports it prints, and stops it with a
// SIGTERM. It is started with --test-control, and the test hooks (the session count, the web
// file manager switch, waiting for a job, the transfer faults, the clock) are its control
// routes, reached through the tests' HTTP helper. The clock option is read once, at the start: the
// device's clock stays at that time until SetClock moves it.
#include <gtest/gtest.h>

#include "support/WindowsApi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "emulator/Emulator.h"
#include "support/HttpGet.h"

namespace vesk::emulator {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// How long the emulator may take to come up or to go away on a loaded machine, and how often
// that is looked at meanwhile.
constexpr auto kProcessLimit = 60s;
constexpr auto kPollSpacing = 20ms;

// The Linux name of a Windows path, through Wine; empty when it has none.
std::string UnixPath(const fs::path& path) {
  using Convert = char*(CDECL*)(LPCWSTR);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return {};
  char* unix = convert(fs::absolute(path).c_str());
  if (!unix) return {};
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// A word for the shell, quoted whole.
std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Starts a Linux program through Wine (commandLine names it by its Unix path on Z:). Wine does
// not report the exit of such a program, so nothing is waited for here.
bool StartLinuxProgram(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// True while the Linux process pid runs (a process that ended but was not yet reaped counts as
// gone).
bool Running(long long pid) {
  std::ifstream stat(fs::path(L"Z:\\proc") / std::to_wstring(pid) / L"stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t end = line.rfind(')');
  return end != std::string::npos && end + 2 < line.size() && line[end + 2] != 'Z';
}

// One exchange with the test control of the emulator on port: the reply's body, or nullopt
// with the failure added to the test. A POST sends form as its form body. wait: how long the
// emulator may take to answer beyond the usual limit.
std::optional<std::string> Control(unsigned short port, const char* method, const std::string& name,
                                   const std::string& form = {},
                                   std::chrono::milliseconds wait = {}) {
  const std::string path = std::string(kControlPath) + "/" + name;
  const auto fail = [&](const std::string& what) -> std::optional<std::string> {
    ADD_FAILURE() << "the emulator's test control " << path << ": " << what << " ("
                  << GetLastError() << ")";
    return std::nullopt;
  };
  if (!port) return fail("the emulator is not running");
  const bool post = std::string_view(method) == "POST";
  const vesk::test::HttpReply reply = vesk::test::HttpExchange(
      "http://127.0.0.1:" + std::to_string(port) + path, method, post ? &form : nullptr,
      post ? std::vector<std::string>{"Content-Type: application/x-www-form-urlencoded"}
           : std::vector<std::string>{},
      std::chrono::duration_cast<std::chrono::milliseconds>(kProcessLimit + wait));
  if (reply.status == 0) return fail("the exchange failed");
  if (reply.status != 200) return fail("HTTP " + std::to_string(reply.status) + ": " + reply.body);
  return reply.body;
}

}  // namespace

struct Emulator::Impl {
  EmulatorOptions options;
  fs::path control;  // the folder of the start script, the pid file and the log
  long long pid = 0;
  unsigned short port = 0, tlsPort = 0;

  ~Impl() {
    std::error_code ignored;
    if (!control.empty()) fs::remove_all(control, ignored);
  }

  // The emulator's command line: every option that it has a flag for.
  bool Arguments(std::string* arguments, std::string* error) const {
    if (options.serverName != EmulatorOptions().serverName) {
      *error = "the emulator's server name cannot be set from its command line";
      return false;
    }
    std::vector<std::string> words = {"--port",        std::to_string(options.port),
                                      "--tls-port",    std::to_string(options.tlsPort),
                                      "--user",        options.user,
                                      "--password",    options.password,
                                      "--bind",        options.bindAddress,
                                      "--test-control"};
    const auto path = [&](const char* flag, const std::string& windowsPath) {
      if (windowsPath.empty()) return true;
      const std::string unix = UnixPath(windowsPath);
      if (unix.empty()) *error = "no Linux name for " + windowsPath;
      words.insert(words.end(), {flag, unix});
      return !unix.empty();
    };
    if (!path("--root", options.root) || !path("--cert", options.certFile) ||
        !path("--key", options.keyFile)) {
      return false;
    }
    if (!options.tls) words.push_back("--no-tls");
    if (options.jobBytesPerSecond)
      words.insert(words.end(), {"--job-rate", std::to_string(options.jobBytesPerSecond)});
    const TransferFaults& faults = options.faults;
    if (faults.bytesPerSecond)
      words.insert(words.end(), {"--transfer-rate", std::to_string(faults.bytesPerSecond)});
    if (faults.dropAfterBytes >= 0)
      words.insert(words.end(), {"--drop-after", std::to_string(faults.dropAfterBytes)});
    if (faults.dropCount >= 0)
      words.insert(words.end(), {"--drop-count", std::to_string(faults.dropCount)});
    if (options.latency.count() > 0)
      words.insert(words.end(), {"--latency", std::to_string(options.latency.count())});
    const DeviceAddresses& addresses = options.addresses;
    for (const auto& [flag, value] :
         {std::pair{"--cloud-name", &addresses.cloudName},
          std::pair{"--external-ip", &addresses.externalIp},
          std::pair{"--local-ip", &addresses.localIp}, std::pair{"--host-ip", &addresses.hostIp}}) {
      if (*value) words.insert(words.end(), {flag, **value});
    }
    for (const std::string& word : words) *arguments += " " + Quoted(word);
    return true;
  }

  // A fresh control folder under Z:\tmp, so that both sides can name it.
  bool MakeControlFolder(std::string* error) {
    std::random_device seed;
    std::mt19937_64 random((static_cast<unsigned long long>(seed()) << 32) ^ seed());
    for (int attempt = 0; attempt < 100 && control.empty(); ++attempt) {
      std::ostringstream name;
      name << "vesk-emulator-" << std::hex << random();
      const fs::path candidate = fs::path(L"Z:\\tmp") / name.str();
      std::error_code code;
      if (fs::create_directory(candidate, code)) control = candidate;
    }
    if (control.empty()) *error = "no control folder under /tmp for the emulator";
    return !control.empty();
  }

  // The ports the emulator printed once it serves; false with the log in *error when it
  // printed something else (it failed) or nothing in time.
  bool ReadPorts(std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + kProcessLimit;
    std::string log;
    for (;;) {
      std::ifstream in(control / "log", std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      log = content.str();
      unsigned short http = 0, https = 0;
      bool failed = false;
      std::istringstream lines(log);
      for (std::string line; std::getline(lines, line);) {
        if (lines.eof()) break;  // a line still being written
        const std::string serving = "vesk-emulator: serving http";
        if (line.compare(0, serving.size(), serving) != 0) {
          failed = true;
          break;
        }
        const auto number =
            static_cast<unsigned short>(std::stoul(line.substr(line.rfind(':') + 1)));
        (line[serving.size()] == 's' ? https : http) = number;
      }
      if (failed) break;
      if (http && (https || !options.tls)) {
        std::ifstream pidFile(control / "pid");
        if (pidFile >> pid) {
          // Stop waits for the process to leave /proc: it must be seen there first.
          if (Running(pid)) {
            port = http;
            tlsPort = https;
            return true;
          }
          log = "its process " + std::to_string(pid) + " is not seen under /proc\n" + log;
          break;
        }
      }
      if (std::chrono::steady_clock::now() > deadline) {
        log = "no ports within " + std::to_string(kProcessLimit.count()) + " s\n" + log;
        break;
      }
      std::this_thread::sleep_for(kPollSpacing);  // waits on another process to come up
    }
    *error = "vesk-emulator did not start: " + log;
    if (std::ifstream pidFile(control / "pid"); pidFile >> pid) Kill();
    return false;
  }

  // Sends SIGTERM and waits, bounded, until the process is gone.
  void Kill() {
    if (pid <= 0) return;
    if (StartLinuxProgram(L"Z:\\bin\\kill " + std::to_wstring(pid))) {
      const auto deadline = std::chrono::steady_clock::now() + kProcessLimit;
      while (Running(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollSpacing);  // waits on another process to go away
      EXPECT_FALSE(Running(pid)) << "vesk-emulator " << pid << " still runs";
    } else {
      ADD_FAILURE() << "cannot start kill for vesk-emulator " << pid;
    }
    pid = 0;
  }
};

Emulator::Emulator(EmulatorOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}

Emulator::~Emulator() { Stop(); }

bool Emulator::Start(std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (impl_->pid) return true;
  std::string arguments;
  if (!impl_->Arguments(&arguments, error)) return false;
  if (impl_->control.empty() && !impl_->MakeControlFolder(error)) return false;
  // The script stays with the emulator's arguments whole (any text, any length), out of the
  // Windows command line; exec leaves the emulator with the shell's pid.
  const std::string control = UnixPath(impl_->control);
  std::filesystem::remove(impl_->control / "log");
  std::filesystem::remove(impl_->control / "pid");
  std::ofstream(impl_->control / "run.sh", std::ios::binary)
      << "echo $$ > " << Quoted(control + "/pid") << "\nexec " << Quoted(VESK_NATIVE_EMULATOR)
      << arguments << " < /dev/null > " << Quoted(control + "/log") << " 2>&1\n";
  const std::string script = control + "/run.sh";
  if (!StartLinuxProgram(L"Z:\\bin\\sh \"" + std::wstring(script.begin(), script.end()) + L"\"")) {
    *error = "cannot start Z:\\bin\\sh";
    return false;
  }
  if (!impl_->ReadPorts(error)) return false;
  if (impl_->options.clock) SetClock(impl_->options.clock());
  return true;
}

void Emulator::Stop() {
  impl_->Kill();
  impl_->port = impl_->tlsPort = 0;
}

unsigned short Emulator::Port() const { return impl_->port; }
unsigned short Emulator::TlsPort() const { return impl_->tlsPort; }

bool Emulator::WebFileManagerEnabled() const {
  return Control(impl_->port, "GET", "web-file-manager").value_or("") == "1";
}

std::size_t Emulator::SessionCount() const {
  const std::optional<std::string> count = Control(impl_->port, "GET", "sessions");
  return count ? static_cast<std::size_t>(std::stoull(*count)) : 0;
}

unsigned long long Emulator::TlsConnectionCount() const {
  const std::optional<std::string> count = Control(impl_->port, "GET", "tls-connections");
  return count ? std::stoull(*count) : 0;
}

void Emulator::SetTransferFaults(const TransferFaults& faults) {
  std::string form = "bytes_per_second=" + std::to_string(faults.bytesPerSecond);
  if (faults.dropAfterBytes >= 0)
    form += "&drop_after_bytes=" + std::to_string(faults.dropAfterBytes);
  if (faults.dropCount >= 0) form += "&drop_count=" + std::to_string(faults.dropCount);
  Control(impl_->port, "POST", "transfer-faults", form);
}

bool Emulator::WaitForJob(long long pid, int percent, std::chrono::milliseconds timeout) const {
  if (pid < 0) return false;
  timeout = std::clamp(timeout, std::chrono::milliseconds(0), kControlWaitLimit);
  const std::string form = "pid=" + std::to_string(pid) +
                           "&percent=" + std::to_string(std::clamp(percent, 0, 100)) +
                           "&timeout=" + std::to_string(timeout.count());
  return Control(impl_->port, "POST", "wait-job", form, timeout).value_or("") == "1";
}

void Emulator::SetClock(std::optional<std::time_t> now) {
  Control(impl_->port, "POST", "clock",
          now ? "time=" + std::to_string(static_cast<long long>(*now)) : std::string());
}

}  // namespace vesk::emulator
