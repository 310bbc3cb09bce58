// The emulated device's addresses and video transcoding queue driven over HTTP, and the
// program's address flags.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Peer.h"
#include "emulator/Emulator.h"

extern char** environ;

namespace vesk::emulator {
namespace {

using namespace test;
namespace fs = std::filesystem;
using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kBadSid = "0123456789abcdef0123456789abcdef";

Json::Value ParseJson(const Reply& reply) {
  EXPECT_EQ(reply.status, 200) << reply.body;
  Json::Value root;
  std::istringstream in(reply.body);
  if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &root, nullptr)) {
    ADD_FAILURE() << "not JSON: " << reply.body;
  }
  return root;
}

std::string Login(const std::string& base) {
  return ParseJson(PostForm(base + "/cgi-bin/filemanager/wfm2Login.cgi",
                            "user=admin&pwd=" + Encode(Base64("admin"))))["sid"]
      .asString();
}

// utilRequest.cgi?func=func&sid=sid&query, every value encoded as the library does.
Json::Value Get(const std::string& base, const std::string& sid, const std::string& func,
                const Fields& query = {}) {
  std::string url =
      base + "/cgi-bin/filemanager/utilRequest.cgi?func=" + func + "&sid=" + Encode(sid);
  for (const auto& [name, value] : query) url += "&" + name + "=" + Encode(value);
  return ParseJson(Send(url));
}

// An emulator over a fresh folder base/root with the share Public and base/outside beside it;
// logged in on construction.
class Device {
 public:
  explicit Device(EmulatorOptions options = {}) : base_(MakeBase()) {
    fs::create_directories(base_ / "root" / "Public" / "sub");
    fs::create_directories(base_ / "outside");
    options.root = (base_ / "root").string();
    options.tls = false;
    emulator_ = std::make_unique<Emulator>(options);
    std::string error;
    EXPECT_TRUE(emulator_->Start(&error)) << error;
    sid_ = Login(Base());
  }
  ~Device() {
    emulator_.reset();
    std::error_code code;
    fs::remove_all(base_, code);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  fs::path Base_() const { return base_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(emulator_->Port()); }
  Json::Value Get(const std::string& func, const Fields& query = {}) const {
    return emulator::Get(Base(), sid_, func, query);
  }

 private:
  static fs::path MakeBase() {
    std::string pattern = (fs::temp_directory_path() / "vesk-info-XXXXXX").string();
    return mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
  }

  fs::path base_;
  std::unique_ptr<Emulator> emulator_;
  std::string sid_;
};

TEST(DeviceInfoServiceTest, AddressesAreTheOnesSetOrTheMachines) {
  EmulatorOptions options;
  options.addresses.cloudName = "nas.cloud.example";
  options.addresses.externalIp = "203.0.113.7";
  options.addresses.localIp = "";
  options.addresses.hostIp = "2001:db8::1";
  Json::Value reply = Device(options).Get("get_domain_ip_list");
  EXPECT_EQ(reply["status"], 1);
  EXPECT_EQ(reply["farlinknas_hn"], "nas.cloud.example");
  EXPECT_EQ(reply["external_ip"], "203.0.113.7");
  EXPECT_EQ(reply["local_ip"], "");
  EXPECT_EQ(reply["host_ip"], "2001:db8::1");

  const Device machine;
  reply = machine.Get("get_domain_ip_list");
  EXPECT_EQ(reply["status"], 1);
  EXPECT_NE(reply["farlinknas_hn"], "");
  EXPECT_NE(reply["local_ip"], "");
  EXPECT_NE(reply["external_ip"], "");
  EXPECT_EQ(reply["host_ip"], "127.0.0.1");  // the bind address
  EXPECT_EQ(Get(machine.Base(), kBadSid, "get_domain_ip_list")["status"], 3);
}

TEST(DeviceInfoServiceTest, TheTranscodingQueueTakesEachFileOnce) {
  const Device device;
  const fs::path pub = device.Base_() / "root" / "Public";
  std::ofstream(pub / "clip one.mp4") << "video";
  std::ofstream(device.Base_() / "outside" / "clip.mp4") << "video";
  fs::create_symlink(device.Base_() / "outside" / "clip.mp4", pub / "out.mp4");
  const auto queue = [&](const std::string& folder, const std::string& name) {
    return device.Get(
        "video_ml_queue",
        {{"op", "3"}, {"subop", "0"}, {"path", folder}, {"total", "1"}, {"filename", name}});
  };
  const auto remove = [&](const std::string& folder, const std::string& name) {
    return device.Get(
        "delete_transcode",
        {{"op", "5"}, {"path", folder}, {"file_total", "1"}, {"mode", "2"}, {"file_name", name}});
  };

  const Json::Value queued = queue("/Public", "clip one.mp4");
  EXPECT_EQ(queued["status"], 1);
  EXPECT_GT(queued["pid"].asInt64(), 0);
  EXPECT_EQ(queue("/Public/", "clip one.mp4")["status"], 2) << "a twin of a queued file";
  const Json::Value removed = remove("/Public", "clip one.mp4");
  EXPECT_EQ(removed["status"], 1);
  EXPECT_EQ(removed["pid"], queued["pid"]);
  EXPECT_EQ(remove("/Public", "clip one.mp4")["status"], 4) << "not queued";
  const Json::Value again = queue("/Public", "clip one.mp4");
  EXPECT_EQ(again["status"], 1);
  EXPECT_NE(again["pid"], queued["pid"]);

  const std::pair<const char*, const char*> missing[] = {
      {"/Public", "none.mp4"}, {"/Public", "sub"}, {"/Public/..", "outside"},
      {"/Public", "out.mp4"},  {"/", "Public"},    {"/Public", "..\\outside\\clip.mp4"},
  };
  for (const auto& [folder, name] : missing) {
    EXPECT_EQ(queue(folder, name)["status"], 4) << folder << " " << name;
    EXPECT_EQ(remove(folder, name)["status"], 4) << folder << " " << name;
  }
  EXPECT_EQ(Get(device.Base(), kBadSid, "video_ml_queue",
                {{"op", "3"}, {"path", "/Public"}, {"filename", "clip one.mp4"}})["status"],
            3);
  EXPECT_EQ(Get(device.Base(), kBadSid, "delete_transcode",
                {{"op", "5"}, {"path", "/Public"}, {"file_name", "clip one.mp4"}})["status"],
            3);
}

// --- The program's flags ----------------------------------------------------------------------

// Runs vesk-emulator with args; its standard output is read through a pipe. The destructor
// kills it when it still runs.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    args.insert(args.begin(), VESK_EMULATOR_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The next line of its output; empty at its end or after 60 s without one.
  std::string ReadLine() {
    std::string line;
    char c;
    pollfd wait{out_, POLLIN, 0};
    while (poll(&wait, 1, 60000) == 1 && read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Waits for it to end: its exit status, or -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, 0);
    pid_ = -1;
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(DeviceInfoServiceTest, TheProgramReportsTheAddressesItIsGiven) {
  Program program({"--port", "0", "--no-tls", "--cloud-name", "box.example", "--external-ip",
                   "198.51.100.4", "--local-ip", "10.1.2.3", "--host-ip", ""});
  const std::string line = program.ReadLine();
  const std::size_t at = line.find("http://");
  ASSERT_NE(at, std::string::npos) << line;
  const std::string base = line.substr(at);
  const Json::Value reply = Get(base, Login(base), "get_domain_ip_list");
  EXPECT_EQ(reply["farlinknas_hn"], "box.example");
  EXPECT_EQ(reply["external_ip"], "198.51.100.4");
  EXPECT_EQ(reply["local_ip"], "10.1.2.3");
  EXPECT_EQ(reply["host_ip"], "");

  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--local-ip", "10.1.2"},
                                              {"--external-ip", "host.example"},
                                              {"--host-ip"}}) {
    Program refused(bad);
    EXPECT_EQ(refused.Wait(), 2) << bad[0];
  }
}

}  // namespace
}  // namespace vesk::emulator
