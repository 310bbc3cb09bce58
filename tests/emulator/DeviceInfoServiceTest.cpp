// The emulated device's addresses and video transcoding queue driven over HTTP, and the
// program's address flags.
#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "EmulatorProgram.h"
#include "Peer.h"
#include "TestDevice.h"
#include "emulator/Emulator.h"

namespace vesk::emulator {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string kBadSid = "0123456789abcdef0123456789abcdef";

// utilRequest.cgi?func=func&sid=sid&query at base, every value encoded as the library does.
Json::Value Get(const std::string& base, const std::string& sid, const std::string& func,
                const Fields& query = {}) {
  return ParseJson(Send(UtilUrl(base, func, sid, query)));
}

// The device over base/root with the share Public (holding the folder sub), over plain HTTP;
// logged in on construction.
class Device : public TestDevice {
 public:
  explicit Device(EmulatorOptions options = {})
      : TestDevice("vesk-info", PlainHttp(std::move(options))) {
    fs::create_directories(Public() / "sub");
    Start();
  }

  Json::Value Get(const std::string& func, const Fields& query = {}) const {
    return emulator::Get(BaseUrl(), Sid(), func, query);
  }

 private:
  static EmulatorOptions PlainHttp(EmulatorOptions options) {
    options.tls = false;
    return options;
  }
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
  EXPECT_EQ(Get(machine.BaseUrl(), kBadSid, "get_domain_ip_list")["status"], 3);
}

TEST(DeviceInfoServiceTest, TheTranscodingQueueTakesEachFileOnce) {
  const Device device;
  const fs::path pub = device.Base() / "root" / "Public";
  std::ofstream(pub / "clip one.mp4") << "video";
  std::ofstream(device.Base() / "outside" / "clip.mp4") << "video";
  fs::create_symlink(device.Base() / "outside" / "clip.mp4", pub / "out.mp4");
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
  EXPECT_EQ(Get(device.BaseUrl(), kBadSid, "video_ml_queue",
                {{"op", "3"}, {"path", "/Public"}, {"filename", "clip one.mp4"}})["status"],
            3);
  EXPECT_EQ(Get(device.BaseUrl(), kBadSid, "delete_transcode",
                {{"op", "5"}, {"path", "/Public"}, {"file_name", "clip one.mp4"}})["status"],
            3);
}

// --- The program's flags ----------------------------------------------------------------------

TEST(DeviceInfoServiceTest, TheProgramReportsTheAddressesItIsGiven) {
  EmulatorProgram program({"--port", "0", "--no-tls", "--cloud-name", "box.example",
                           "--external-ip", "198.51.100.4", "--local-ip", "10.1.2.3", "--host-ip",
                           ""});
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
    EmulatorProgram refused(bad);
    EXPECT_EQ(refused.Wait(), 2) << bad[0];
  }
}

}  // namespace
}  // namespace vesk::emulator
