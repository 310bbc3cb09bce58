// The test control routes (--test-control): the emulator's test hooks over HTTP, as a test
// program that runs the emulator as a process of its own uses them.
#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "EmulatorProgram.h"
#include "Peer.h"
#include "TestDevice.h"
#include "emulator/Emulator.h"

namespace vesk::emulator {
namespace {

using namespace test;
using vesk::test::WriteFile;
namespace fs = std::filesystem;

EmulatorOptions Options(bool testControl, unsigned long long jobBytesPerSecond = 0) {
  EmulatorOptions options;
  options.testControl = testControl;
  options.jobBytesPerSecond = jobBytesPerSecond;
  return options;
}

// A device over base/root with the share Public, logged in to the file service.
class Device : public TestDevice {
 public:
  explicit Device(bool testControl = true, unsigned long long jobBytesPerSecond = 0)
      : TestDevice("vesk-control", Options(testControl, jobBytesPerSecond)) {
    fs::create_directories(Public());
    Start();
  }

  Reply Control(const std::string& name, const std::string* form = nullptr,
                bool tls = false) const {
    const std::string url = BaseUrl(tls) + kControlPath + "/" + name;
    return form ? PostForm(url, *form) : Send(url);
  }
  // A control exchange that must succeed: its body.
  std::string Ok(const std::string& name, const std::string& form) const {
    const Reply reply = Control(name, &form);
    EXPECT_EQ(reply.status, 200) << name << ": " << reply.body;
    return reply.body;
  }
  std::string Ok(const std::string& name) const {
    const Reply reply = Control(name);
    EXPECT_EQ(reply.status, 200) << name << ": " << reply.body;
    return reply.body;
  }
};

TEST(ControlTest, ServedOnlyWhenAskedAndOnlyOnThePlainPort) {
  {
    const Device off(false);
    EXPECT_EQ(off.Control("sessions").status, 404);
    EXPECT_EQ(off.Control("web-file-manager").status, 404);
  }
  const Device on;
  EXPECT_EQ(on.Ok("sessions"), "1");
  EXPECT_EQ(on.Control("sessions", nullptr, true).status, 404);
  // The device's own 404 and 405 for what the control does not serve or take.
  EXPECT_EQ(on.Control("nosuchhook").status, 404);
  EXPECT_EQ(on.Control("sessions", &on.Sid()).status, 405);
  EXPECT_EQ(on.Control("clock").status, 405);

  // The program's flag turns them on.
  for (const bool flag : {false, true}) {
    std::vector<std::string> args = {"--port", "0", "--no-tls"};
    if (flag) args.push_back("--test-control");
    EmulatorProgram child(args);
    ASSERT_TRUE(child.Started());
    const std::string line = child.ReadLine();
    const std::size_t at = line.find("http://");
    ASSERT_NE(at, std::string::npos) << line;
    const Reply reply = Send(line.substr(at) + kControlPath + "/sessions");
    EXPECT_EQ(reply.status, flag ? 200 : 404) << reply.body;
    if (flag) {
      EXPECT_EQ(reply.body, "0");
    }
  }
}

TEST(ControlTest, ReportsTheSessionsAndTheWebFileManagerSwitch) {
  const Device device;
  EXPECT_EQ(device.Ok("sessions"), "1");
  EXPECT_EQ(device.Ok("web-file-manager"), "0");
  const Reply login = PostForm(device.BaseUrl() + "/cgi-bin/authLogin.cgi",
                               "user=admin&pwd=" + Encode(Base64("admin")) + "&admin=1");
  const std::size_t open = login.body.find("<authSid>"), close = login.body.find("</authSid>");
  ASSERT_TRUE(open != std::string::npos && close != std::string::npos) << login.body;
  const std::string systemSid = login.body.substr(open + 9, close - open - 9);
  EXPECT_EQ(device.Ok("sessions"), "2");
  const Reply enabled =
      Send(device.BaseUrl() + "/cgi-bin/application/appRequest.cgi?subfunc=web_file_mgmt&apply=1" +
           "&sid=" + Encode(systemSid) + "&chk_Webfs=1&chk_LogoWebfs=1");
  EXPECT_NE(enabled.body.find("<authPassed>1</authPassed>"), std::string::npos) << enabled.body;
  EXPECT_EQ(device.Ok("web-file-manager"), "1");
}

TEST(ControlTest, WaitsForAJobWithinItsBound) {
  // A copy of 64 KiB at 16 KiB a second takes about 4 s.
  Device device(true, 16 * 1024);
  WriteFile(device.Public() / "big.bin", std::string(64 * 1024, 'x'));
  fs::create_directories(device.Root() / "Backup");
  const Json::Value start = ParseJson(PostForm(
      device.UtilUrl("copy"),
      "source_file=big.bin&source_total=1&source_path=%2FPublic&dest_path=%2FBackup&mode=0"));
  ASSERT_EQ(start["status"], 1) << start;
  const std::string pid = std::to_string(start["pid"].asInt64());

  // Past its bound the wait gives up; then the job is seen running, then ended.
  EXPECT_EQ(device.Ok("wait-job", "pid=" + pid + "&percent=100&timeout=0"), "0");
  EXPECT_EQ(device.Ok("wait-job", "pid=" + pid + "&percent=1&timeout=120000"), "1");
  EXPECT_EQ(device.Ok("wait-job", "pid=" + pid + "&percent=100&timeout=120000"), "1");
  EXPECT_EQ(fs::file_size(device.Root() / "Backup" / "big.bin"), 64u * 1024);
  EXPECT_EQ(device.Ok("wait-job", "pid=999&percent=100&timeout=1000"), "0");  // no such job

  const std::string tooLong = std::to_string(kControlWaitLimit.count() + 1);
  for (const std::string& refused :
       {"pid=" + pid + "&percent=100&timeout=" + tooLong, "pid=" + pid + "&percent=101&timeout=0",
        std::string("pid=-1&percent=100&timeout=0"), std::string("percent=100&timeout=0")}) {
    EXPECT_EQ(device.Control("wait-job", &refused).status, 400) << refused;
  }
}

TEST(ControlTest, SetsTheTransferFaults) {
  const Device device;
  const std::string content(100000, 'd');
  WriteFile(device.Public() / "file.bin", content);
  const std::string form = "isfolder=0&source_total=1&source_path=%2FPublic&source_file=file.bin";
  auto download = [&] { return PostForm(device.UtilUrl("download"), form).body.size(); };

  EXPECT_EQ(device.Ok("transfer-faults", "drop_after_bytes=1000&drop_count=2"), "ok");
  EXPECT_EQ(download(), 1000u);
  EXPECT_EQ(download(), 1000u);
  EXPECT_EQ(download(), content.size());                                // both cuts spent
  EXPECT_EQ(device.Ok("transfer-faults", "drop_after_bytes=5"), "ok");  // every one
  for (int i = 0; i < 3; ++i) EXPECT_EQ(download(), 5u);
  EXPECT_EQ(device.Ok("transfer-faults", ""), "ok");  // none again
  EXPECT_EQ(download(), content.size());

  for (const std::string refused : {"drop_after_bytes=-1", "drop_count=x", "bytes_per_second=1e3",
                                    "drop_count=1&drop_count=2"}) {
    EXPECT_EQ(device.Control("transfer-faults", &refused).status, 400) << refused;
  }
}

TEST(ControlTest, FixesTheClockThatShareLinksExpireBy) {
  const Device device;
  WriteFile(device.Public() / "file.txt", "shared");
  // A link valid until an hour from now (the time as the device's local time).
  const std::time_t expiry = std::time(nullptr) / 60 * 60 + 3600;
  tm parts{};
  localtime_r(&expiry, &parts);
  std::ostringstream datetime;
  datetime << std::put_time(&parts, "%Y-%m-%d %H:%M");
  std::string form = "download_type=create_download_link&valid_duration=specific_time&datetime=" +
                     Encode(datetime.str()) +
                     "&file_total=1&access_code=&access_enabled=false&hostname=127.0.0.1&ssl=false"
                     "&file_name=%2FPublic%2Ffile.txt&path=%2FPublic&network_type=internet";
  const Json::Value link = ParseJson(PostForm(device.UtilUrl("get_share_link"), form));
  ASSERT_EQ(link["status"], 1) << link;
  const std::string url = link["link_url"].asString();
  form += "&link_url=" + Encode(url) + "&expire_time=" + Encode(link["expire_time"].asString());
  ASSERT_EQ(ParseJson(PostForm(device.UtilUrl("share_file"), form))["status"], 1);

  EXPECT_EQ(Send(url).status, 200);
  EXPECT_EQ(device.Ok("clock", "time=" + std::to_string(expiry - 1)), "ok");
  EXPECT_EQ(Send(url).status, 200);
  EXPECT_EQ(device.Ok("clock", "time=" + std::to_string(expiry)), "ok");
  EXPECT_EQ(Send(url).status, 410);
  EXPECT_EQ(device.Ok("clock", ""), "ok");  // the system's clock again
  EXPECT_EQ(Send(url).status, 200);

  for (const std::string refused : {"time=-5", "time=soon"}) {
    EXPECT_EQ(device.Control("clock", &refused).status, 400) << refused;
  }
}

}  // namespace
}  // namespace vesk::emulator
