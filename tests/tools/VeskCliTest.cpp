// The vesk command line, run as a subprocess against an emulated device: what it does to the
// device's files, its exit statuses and messages, --json output, resumed transfers, Ctrl-C and
// the progress line on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/Emulator.h"
#include "support/FileDigest.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::test::Sha256;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1 << 20;

void WriteFile(const fs::path& path, std::uint64_t size, unsigned seed = 1) {
  std::ofstream out(path, std::ios::binary);
  std::string data(size, '\0');
  for (std::uint64_t i = 0; i < size; ++i)
    data[i] = static_cast<char>((i * 2654435761u) >> 13 ^ seed);
  out << data;
}

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors)) << text;
  return value;
}

// What a finished vesk left: its exit status and its two outputs.
struct Outcome {
  int status = -1;
  std::string out, err;
};

// A vesk process, its standard input /dev/null, in a session of its own (so without a
// controlling terminal), its outputs collected when it is waited for. Given a terminal width,
// its standard streams are instead one pseudo-terminal that wide, and what it writes there,
// as the terminal passes it on (a line feed as CR LF), is collected as its standard output.
class Vesk {
 public:
  Vesk(const std::vector<std::string>& args, const std::vector<std::string>& env,
       const fs::path& folder, unsigned short terminalColumns = 0) {
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (terminalColumns > 0) {
      winsize size{};
      size.ws_row = 24;
      size.ws_col = terminalColumns;
      EXPECT_EQ(openpty(&out[0], &out[1], nullptr, nullptr, &size), 0);
      for (const int fd : out) fcntl(fd, F_SETFD, FD_CLOEXEC);
      for (int stream = 0; stream < 3; ++stream) {
        posix_spawn_file_actions_adddup2(&actions, out[1], stream);
      }
    } else {
      EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
      EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
      posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    }
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> argv = {VESK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<std::string> environment = env;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, VESK_BINARY, &actions, &attributes, argp.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    if (err[1] >= 0) close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Vesk() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Collects the outputs until the process ends; kills it if it runs for minutes.
  Outcome Wait() {
    Outcome outcome;
    const auto deadline = Clock::now() + 120s;
    std::array<pollfd, 2> fds{{{out_, POLLIN, 0}, {err_, POLLIN, 0}}};
    std::string* texts[2] = {&outcome.out, &outcome.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms || poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) {
        ADD_FAILURE() << "vesk did not end";
        kill(pid_, SIGKILL);
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buffer[4096];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else {  // the end of a pipe; a terminal's, once vesk closed it, reads as EIO
          close(fds[i].fd);
          fds[i].fd = -1;
        }
      }
    }
    for (auto& fd : fds) {
      if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

// Waits, without polling, until a file in folder (or the file `name` there) has grown to at
// least `bytes` bytes; false after a minute.
bool WaitForBytes(const fs::path& folder, const std::string& name, std::uintmax_t bytes) {
  const int watch = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY);
  const auto grown = [&] {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      if ((name.empty() || entry.path().filename() == name) && entry.is_regular_file(error) &&
          entry.file_size(error) >= bytes) {
        return true;
      }
    }
    return false;
  };
  const auto deadline = Clock::now() + 60s;
  bool done = grown();
  while (!done && Clock::now() < deadline) {
    pollfd wait{watch, POLLIN, 0};
    if (poll(&wait, 1, 1000) > 0) {
      char events[4096];
      [[maybe_unused]] auto n = read(watch, events, sizeof events);
    }
    done = grown();
  }
  close(watch);
  return done;
}

// A device with the shares Public and Backup, a local folder vesk runs in, and a cache folder
// for its upload state.
class VeskCli : public ::testing::Test {
 protected:
  VeskCli() {
    char pattern[] = "/tmp/vesk-cli-XXXXXX";
    base_ = mkdtemp(pattern);
    root_ = base_ / "device";
    local_ = base_ / "local";
    for (const auto& folder : {root_ / "Public", root_ / "Backup", local_, base_ / "cache"})
      fs::create_directories(folder);
    vesk::emulator::EmulatorOptions options;
    options.root = root_.string();
    device_ = std::make_unique<vesk::emulator::Emulator>(options);
  }
  ~VeskCli() override {
    device_.reset();
    fs::remove_all(base_);
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
  }

  std::vector<std::string> Environment(const std::string& password = "admin") const {
    std::vector<std::string> env = {"VESK_HOST=127.0.0.1",
                                    "VESK_USER=admin",
                                    "VESK_PORT=" + std::to_string(device_->Port()),
                                    "XDG_CACHE_HOME=" + (base_ / "cache").string(),
                                    "HOME=" + local_.string(),
                                    "LANG=C"};
    if (!password.empty()) env.push_back("VESK_PASSWORD=" + password);
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    return env;
  }
  std::unique_ptr<Vesk> Start(const std::vector<std::string>& args) const {
    return std::make_unique<Vesk>(args, Environment(), local_);
  }
  Outcome RunOnTerminal(unsigned short columns, const std::vector<std::string>& args) const {
    return Vesk(args, Environment(), local_, columns).Wait();
  }
  Outcome Run(const std::vector<std::string>& args) const { return Start(args)->Wait(); }
  Outcome RunWith(const std::vector<std::string>& env, const std::vector<std::string>& args) const {
    return Vesk(args, env, local_).Wait();
  }
  void Faults(long long dropAfter, unsigned long long rate, int count) {
    vesk::emulator::TransferFaults faults;
    faults.dropAfterBytes = dropAfter;
    faults.bytesPerSecond = rate;
    faults.dropCount = count;
    device_->SetTransferFaults(faults);
  }
  fs::path Device(const std::string& path) const { return root_ / path; }
  fs::path Local(const std::string& name) const { return local_ / name; }

  fs::path base_, root_, local_;
  std::unique_ptr<vesk::emulator::Emulator> device_;
};

#define EXPECT_OK(outcome)             \
  do {                                 \
    const Outcome& o_ = (outcome);     \
    EXPECT_EQ(o_.status, 0) << o_.err; \
    EXPECT_EQ(o_.err, "");             \
  } while (0)

TEST_F(VeskCli, ChangesTheTreeAsAsked) {
  WriteFile(Local("one.txt"), 10);
  WriteFile(Local("two.txt"), 20);
  EXPECT_OK(Run({"mkdir", "-p", "/Public/docs/old"}));
  EXPECT_TRUE(fs::is_directory(Device("Public/docs/old")));
  EXPECT_OK(Run({"put", "one.txt", "two.txt", "/Public/docs"}));
  EXPECT_EQ(fs::file_size(Device("Public/docs/two.txt")), 20u);

  // Within a folder mv renames; into a folder it moves; to a new path in another folder both.
  EXPECT_OK(Run({"mv", "/Public/docs/one.txt", "/Public/docs/first.txt"}));
  EXPECT_OK(Run({"mv", "/Public/docs/first.txt", "/Public/docs/old"}));
  EXPECT_OK(Run({"mv", "/Public/docs/two.txt", "/Backup/second.txt"}));
  EXPECT_TRUE(fs::exists(Device("Public/docs/old/first.txt")));
  EXPECT_TRUE(fs::exists(Device("Backup/second.txt")));
  EXPECT_FALSE(fs::exists(Device("Public/docs/two.txt")));

  EXPECT_OK(Run({"cp", "/Backup/second.txt", "/Public/docs/old"}));
  EXPECT_EQ(Sha256(Device("Public/docs/old/second.txt")), Sha256(Local("two.txt")));
  EXPECT_OK(Run({"touch", "-t", "1000000000", "/Backup/second.txt"}));
  struct stat info {};
  ASSERT_EQ(stat(Device("Backup/second.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1000000000);

  // One missing item does not stop the others; the command still fails.
  const Outcome removed =
      Run({"rm", "/Backup/second.txt", "/Backup/missing", "/Public/docs/old/first.txt"});
  EXPECT_EQ(removed.status, 1);
  EXPECT_EQ(removed.err, "vesk: /Backup/missing: no such file or folder\n");
  EXPECT_FALSE(fs::exists(Device("Backup/second.txt")));
  EXPECT_FALSE(fs::exists(Device("Public/docs/old/first.txt")));

  // A folder goes only with -r.
  EXPECT_EQ(Run({"rm", "/Public/docs"}).status, 1);
  EXPECT_OK(Run({"rm", "-r", "/Public/docs"}));
  EXPECT_FALSE(fs::exists(Device("Public/docs")));
  EXPECT_EQ(device_->SessionCount(), 0u);  // every run logged out
}

TEST_F(VeskCli, NamesWithSpacesAndNonAsciiCharactersMakeTheRoundTrip) {
  for (const std::string name : {"a b & c.txt", "\xc3\xbc\xe6\x96\x87 \xe2\x82\xac.bin"}) {
    SCOPED_TRACE(name);
    WriteFile(Local(name), 3000, 7);
    EXPECT_OK(Run({"put", name, "/Public"}));
    const Outcome listed = Run({"ls", "/Public"});
    EXPECT_NE(listed.out.find(name + "\n"), std::string::npos) << listed.out;
    EXPECT_OK(Run({"mv", "/Public/" + name, "/Public/copy of " + name}));
    EXPECT_OK(Run({"get", "/Public/copy of " + name, "back " + name}));
    EXPECT_EQ(Sha256(Local("back " + name)), Sha256(Local(name)));
  }
}

TEST_F(VeskCli, JsonOutputParses) {
  WriteFile(Device("Public/a.bin"), 1234);
  fs::create_directory(Device("Public/folder"));

  const Json::Value shares = ParseJson(Run({"--json", "shares"}).out);
  ASSERT_EQ(shares.size(), 2u);
  EXPECT_EQ(shares[0]["name"].asString(), "Backup");

  const Json::Value listed = ParseJson(Run({"ls", "-l", "--json", "/Public"}).out);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["name"].asString(), "a.bin");
  EXPECT_EQ(listed[0]["type"].asString(), "file");
  EXPECT_EQ(listed[0]["size"].asInt64(), 1234);
  EXPECT_EQ(listed[0]["permission"].asString(), "ReadWrite");
  EXPECT_EQ(listed[1]["type"].asString(), "folder");

  const Json::Value status = ParseJson(Run({"--json", "stat", "/Public/a.bin"}).out);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0]["path"].asString(), "/Public/a.bin");
  EXPECT_EQ(status[0]["size"].asInt64(), 1234);
  EXPECT_FALSE(status[0]["modified"].asString().empty());

  const Json::Value found = ParseJson(Run({"--json", "find", "/", "A.B"}).out);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["searched"].asString(), "/Public");

  const Json::Value settings = ParseJson(Run({"--json", "settings"}).out);
  EXPECT_EQ(settings["serverName"].asString(), "vesk-emulator");
  EXPECT_EQ(settings["port"].asInt(), device_->Port());
  EXPECT_EQ(settings["sslPort"].asInt(), device_->TlsPort());
}

TEST_F(VeskCli, SystemServiceCommands) {
  EXPECT_FALSE(device_->WebFileManagerEnabled());
  const Outcome switched = Run({"web-fm", "on"});
  EXPECT_OK(switched);
  EXPECT_TRUE(device_->WebFileManagerEnabled());
  const Outcome through = Run({"--via-system", "ls", "/"});
  EXPECT_OK(through);
  EXPECT_EQ(through.out, "Backup/\nPublic/\n");
  EXPECT_EQ(device_->SessionCount(), 0u);
}

TEST_F(VeskCli, ShareLinksComeAndGo) {
  WriteFile(Device("Public/report.txt"), 100);
  const Json::Value created = ParseJson(
      Run({"--json", "share", "create", "--expires", "2099-01-31 18:00", "/Public/report.txt"})
          .out);
  const std::string url = created["url"].asString();
  EXPECT_TRUE(url.starts_with("http://127.0.0.1:")) << url;
  const Json::Value listed = ParseJson(Run({"--json", "share", "ls"}).out);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["url"].asString(), url);
  EXPECT_EQ(listed[0]["file"].asString(), "/Public/report.txt");

  EXPECT_OK(Run({"share", "rm", url}));
  EXPECT_EQ(ParseJson(Run({"--json", "share", "ls"}).out).size(), 0u);
  const Outcome missing = Run({"share", "rm", url});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "vesk: " + url + ": no such share link\n");
  EXPECT_EQ(Run({"share", "create", "/Public/nothing.txt"}).err,
            "vesk: /Public/nothing.txt: no such file or folder\n");
}

TEST_F(VeskCli, ArchivesAreMadeListedAndExtracted) {
  fs::create_directories(Device("Public/album/inner"));
  WriteFile(Device("Public/album/a.jpg"), 5000, 1);
  WriteFile(Device("Public/album/inner/b.jpg"), 7000, 2);
  EXPECT_OK(Run({"zip", "/Public/album.zip", "/Public/album"}));
  ASSERT_TRUE(fs::exists(Device("Public/album.zip")));
  const Outcome again = Run({"zip", "album.zip", "/Public/album"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "vesk: /Public/album.zip: already exists\n");
  EXPECT_OK(Run({"zip", "-f", "album.zip", "/Public/album"}));

  const Json::Value entries = ParseJson(Run({"--json", "unzip", "-l", "/Public/album.zip"}).out);
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry["name"].asString());
  EXPECT_NE(std::find(names.begin(), names.end(), "album/inner/b.jpg"), names.end());

  EXPECT_OK(Run({"unzip", "/Public/album.zip", "/Backup"}));
  EXPECT_EQ(Sha256(Device("Backup/album/inner/b.jpg")), Sha256(Device("Public/album/inner/b.jpg")));
  EXPECT_EQ(Run({"unzip", "-l", "/Public/album/a.jpg"}).err,
            "vesk: /Public/album/a.jpg: not an archive the device can read\n");
}

TEST_F(VeskCli, DeviceInformationTranscodingAndLinks) {
  WriteFile(Device("Public/clip.mp4"), 100);
  const Json::Value addresses = ParseJson(Run({"--json", "addr"}).out);
  EXPECT_TRUE(addresses.isMember("localAddress")) << addresses;

  EXPECT_OK(Run({"transcode", "add", "/Public/clip.mp4"}));
  EXPECT_EQ(Run({"transcode", "add", "/Public/clip.mp4"}).err,
            "vesk: /Public/clip.mp4: already queued for transcoding\n");
  EXPECT_OK(Run({"transcode", "rm", "/Public/clip.mp4"}));

  const Json::Value links = ParseJson(Run({"--json", "url", "viewer", "/Public/clip.mp4"}).out);
  ASSERT_EQ(links.size(), 1u);
  EXPECT_NE(links[0]["url"].asString().find("func=get_viewer"), std::string::npos);
  EXPECT_EQ(device_->SessionCount(), 1u);  // the link's session stays open
}

// A port that nothing listens on, and a socket that takes connections but never answers.
unsigned short ClosedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

struct SilentServer {
  SilentServer() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 8);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~SilentServer() { close(fd); }
  int fd;
  unsigned short port;
};

TEST_F(VeskCli, EachFailureIsOneLineWithItsExitStatus) {
  WriteFile(Device("Public/a.bin"), 10);
  fs::create_directory(Device("Public/folder"));
  const SilentServer silent;
  const std::string closed = std::to_string(ClosedPort());
  struct Case {
    std::string password;
    std::vector<std::string> args;
    int status;
    std::string err;  // the whole of standard error, or its start when it ends with "..."
  };
  const std::vector<Case> cases = {
      {"wrong", {"ls"}, 3, "vesk: login refused: wrong user or password\n"},
      {"admin", {"ls", "/Public/missing"}, 1, "vesk: /Public/missing: no such file or folder\n"},
      {"admin", {"get", "/Public/missing"}, 1, "vesk: /Public/missing: no such file or folder\n"},
      {"admin", {"mkdir", "/Public/folder"}, 1, "vesk: /Public/folder: already exists\n"},
      {"admin",
       {"cp", "/Public/a.bin", "/Public"},
       1,
       "vesk: /Public/a.bin: already exists there (-f replaces it)\n"},
      {"admin",
       {"--port", closed, "ls"},
       4,
       "vesk: cannot reach 127.0.0.1:" + closed + ": connection refused\n"},
      {"admin",
       {"--port", std::to_string(silent.port), "--timeout", "1", "ls"},
       4,
       "vesk: cannot reach 127.0.0.1:" + std::to_string(silent.port) + ": no answer within 1 s\n"},
      {"admin", {"put", "missing.bin", "/Public"}, 5, "vesk: missing.bin: no such local file\n"},
      {"admin",
       {"get", "/Public/a.bin", "no/such/folder/a.bin"},
       5,
       "vesk: no/such/folder/a.bin: cannot write this file\n"},
      {"",
       {"ls"},
       2,
       "vesk: no password: set VESK_PASSWORD, give --password-file FILE, or run "
       "vesk on a terminal\n"},
      {"admin", {"mv", "/Public/a.bin"}, 2, "vesk: mv: give one or more items, then where to\n"},
      {"admin", {"ls", "--bogus"}, 2, "vesk: ..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Outcome outcome = RunWith(Environment(c.password), c.args);
    EXPECT_EQ(outcome.status, c.status);
    if (c.err.ends_with("...")) {
      EXPECT_TRUE(outcome.err.starts_with(c.err.substr(0, c.err.size() - 3))) << outcome.err;
    } else {
      EXPECT_EQ(outcome.err, c.err);
    }
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_EQ(device_->SessionCount(), 0u);
}

TEST_F(VeskCli, AnUnknownCommandIsNamedWithTheNearestOnes) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"lss"}, "vesk: 'lss' is not a command; did you mean 'ls'?\n"},
      // Around the word: global options before it, its own arguments after it.
      {{"--json", "--port", "1", "sl", "-l", "/Public"},
       "vesk: 'sl' is not a command; did you mean 'ls'?\n"},
      {{"mkdri", "-p", "/Public/a"}, "vesk: 'mkdri' is not a command; did you mean 'mkdir'?\n"},
      {{"settting"}, "vesk: 'settting' is not a command; did you mean 'settings'?\n"},
      {{"mm", "/Public/a"}, "vesk: 'mm' is not a command; did you mean 'mv' or 'rm'?\n"},
      {{"xyz"}, "vesk: 'xyz' is not a command; see 'vesk --help'\n"},
      {{"list"}, "vesk: 'list' is not a command; see 'vesk --help'\n"},
      {{""}, "vesk: '' is not a command; see 'vesk --help'\n"},
      // Without a word in a command's place, CLI11's own message stands.
      {{},
       "vesk: A subcommand is required\nRun 'vesk --help', or 'vesk COMMAND --help', for "
       "usage.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome outcome = Run(c.args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_EQ(device_->SessionCount(), 0u);
}

TEST_F(VeskCli, ACutDownloadResumesWithTheCommandItSuggests) {
  WriteFile(Device("Public/big.bin"), 3 * kMiB + 5, 3);
  Faults(kMiB, 0, 1);
  const Outcome cut = Run({"get", "/Public/big.bin"});
  EXPECT_EQ(cut.status, 4);
  EXPECT_TRUE(cut.err.starts_with("vesk: /Public/big.bin: lost the connection to 127.0.0.1:"))
      << cut.err;
  EXPECT_TRUE(cut.err.ends_with("; resume with: vesk get --resume /Public/big.bin ./big.bin\n"))
      << cut.err;
  ASSERT_LT(fs::file_size(Local("big.bin")), 3 * kMiB);

  EXPECT_OK(Run({"get", "--resume", "/Public/big.bin", "./big.bin"}));
  EXPECT_EQ(Sha256(Local("big.bin")), Sha256(Device("Public/big.bin")));
}

TEST_F(VeskCli, ACutChunkedUploadResumesWhenTheSameCommandRunsAgain) {
  WriteFile(Local("data.bin"), 3 * kMiB + 9, 4);
  Faults(kMiB, 0, -1);
  const Outcome cut = Run({"put", "--chunked", "data.bin", "/Public"});
  EXPECT_EQ(cut.status, 4);
  EXPECT_TRUE(cut.err.ends_with("; run the same command again to resume the upload\n")) << cut.err;
  EXPECT_FALSE(fs::exists(Device("Public/data.bin")));

  device_->SetTransferFaults({});
  EXPECT_OK(Run({"put", "--chunked", "data.bin", "/Public"}));
  EXPECT_EQ(Sha256(Device("Public/data.bin")), Sha256(Local("data.bin")));
  // Nothing is left to resume, on the device or in the state file.
  for (const auto& entry : fs::directory_iterator(Device("Public")))
    EXPECT_EQ(entry.path().filename(), "data.bin");
  EXPECT_EQ(ParseJson([&] {
              std::ifstream in(base_ / "cache" / "vesk" / "chunked-uploads.json");
              std::stringstream text;
              text << in.rdbuf();
              return text.str();
            }())
                .size(),
            0u);
}

TEST_F(VeskCli, CtrlCCancelsATransferLogsOutAndExits130) {
  WriteFile(Device("Public/slow.bin"), 8 * kMiB, 5);
  WriteFile(Local("up.bin"), 8 * kMiB, 6);
  Faults(-1, 256 * 1024, -1);  // each transfer would take about 30 seconds

  auto download = Start({"get", "/Public/slow.bin"});
  ASSERT_TRUE(WaitForBytes(local_, "slow.bin", 1));
  const auto signalled = Clock::now();
  download->Signal(SIGINT);
  const Outcome interrupted = download->Wait();
  EXPECT_LT(Clock::now() - signalled, 20s);
  EXPECT_EQ(interrupted.status, 130);
  EXPECT_TRUE(interrupted.err.starts_with("vesk: interrupted: ./slow.bin holds "))
      << interrupted.err;
  EXPECT_TRUE(
      interrupted.err.ends_with(" of 8388608 bytes; resume with: vesk get --resume "
                                "/Public/slow.bin ./slow.bin\n"))
      << interrupted.err;
  EXPECT_EQ(device_->SessionCount(), 0u);

  auto upload = Start({"put", "up.bin", "/Backup"});
  ASSERT_TRUE(WaitForBytes(Device("Backup"), "", 1));
  upload->Signal(SIGINT);
  const Outcome stopped = upload->Wait();
  EXPECT_EQ(stopped.status, 130);
  EXPECT_EQ(stopped.err, "vesk: interrupted: up.bin was not uploaded\n");
  EXPECT_FALSE(fs::exists(Device("Backup/up.bin")));
  EXPECT_EQ(device_->SessionCount(), 0u);

  device_->SetTransferFaults({});
  EXPECT_OK(Run({"get", "--resume", "/Public/slow.bin", "./slow.bin"}));
  EXPECT_EQ(Sha256(Local("slow.bin")), Sha256(Device("Public/slow.bin")));
}

// A byte count as the progress line writes it ("64.0 KiB", "512 B").
double Bytes(const std::string& number, const std::string& unit) {
  const std::vector<std::string> units = {"B", "KiB", "MiB", "GiB"};
  const auto power = std::find(units.begin(), units.end(), unit) - units.begin();
  return std::stod(number) * static_cast<double>(1ULL << (10 * power));
}

TEST_F(VeskCli, TheProgressLineRedrawsInPlaceOnATerminal) {
  constexpr unsigned short kColumns = 90;
  WriteFile(Local("up.bin"), 16 * kMiB, 8);
  WriteFile(Device("Public/down.bin"), 8 * kMiB, 9);
  // About two seconds up and one down: the line is redrawn at most ten times a second. The
  // socket buffers take the first few MiB of an upload at once.
  Faults(-1, 8 * kMiB, -1);
  struct Case {
    std::vector<std::string> args;
    std::string label, total;
  };
  const std::vector<Case> cases = {
      {{"put", "up.bin", "/Public"}, "up.bin", "16.0 MiB"},
      {{"get", "/Public/down.bin", "down.bin"}, "down.bin", "8.0 MiB"},
  };
  // One redraw: back to the line's start, clear it, the label, the bar, the percentage, the
  // bytes so far and in all, then rate and time left or taken.
  const std::regex redraw(
      "\x1b\\[K(\\S+) \\[[#.]+\\] +([0-9]+)%  ([0-9.]+) (B|KiB|MiB) / ([0-9.]+ (?:B|KiB|MiB))(.*)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Outcome outcome = RunOnTerminal(kColumns, c.args);
    ASSERT_EQ(outcome.status, 0) << outcome.out;
    // The line feed that ends the line is the only one, the terminal's CR LF.
    ASSERT_TRUE(outcome.out.starts_with("\r") && outcome.out.ends_with("\r\n")) << outcome.out;
    const std::string text = outcome.out.substr(1, outcome.out.size() - 3);
    ASSERT_EQ(text.find('\n'), std::string::npos) << outcome.out;
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; start <= text.size(); start = end + 1) {
      end = std::min(text.find('\r', start), text.size());
      lines.push_back(text.substr(start, end - start));
    }
    EXPECT_GE(lines.size(), 4u) << outcome.out;
    int percent = -1;
    double bytes = -1;
    for (const std::string& line : lines) {
      std::smatch parts;
      ASSERT_TRUE(std::regex_match(line, parts, redraw)) << line;
      EXPECT_LE(line.size() - 3, kColumns - 1u) << line;  // never wraps onto a second line
      EXPECT_EQ(parts[1], c.label);
      EXPECT_EQ(parts[5], c.total);
      EXPECT_GE(std::stoi(parts[2]), percent) << line;
      EXPECT_GE(Bytes(parts[3], parts[4]), bytes) << line;
      percent = std::stoi(parts[2]);
      bytes = Bytes(parts[3], parts[4]);
    }
    // The last redraw is the whole transfer, with the time it took.
    EXPECT_EQ(percent, 100);
    EXPECT_TRUE(lines.back().find(c.total + " / " + c.total) != std::string::npos &&
                std::regex_search(lines.back(), std::regex("  in [0-9]+:[0-9]{2}$")))
        << lines.back();
  }
  EXPECT_EQ(Sha256(Device("Public/up.bin")), Sha256(Local("up.bin")));
  EXPECT_EQ(Sha256(Local("down.bin")), Sha256(Device("Public/down.bin")));
}

}  // namespace
