// The emulated device driven over HTTP and HTTPS by libcurl, as the library would drive it,
// and the vesk-emulator program started as a child process.
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <tinyxml2.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "EmulatorProgram.h"
#include "Peer.h"
#include "emulator/Emulator.h"

namespace vesk::emulator {
namespace {

using namespace test;

// Long enough that its base64 form wraps, and its base64 form holds "+", "/" and "=".
const std::string kPassword = "Correct horse >>> battery ??? staple ~~~ and long enough: \xc3\xa4!";

// The "status" of a file-service JSON reply; -1 when there is none.
int JsonStatus(const Reply& reply, std::string* sid = nullptr) {
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "application/json; charset=\"UTF-8\"");
  Json::Value root;
  std::istringstream in(reply.body);
  if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &root, nullptr) || !root.isObject()) {
    ADD_FAILURE() << "not a JSON object: " << reply.body;
    return -1;
  }
  if (sid) *sid = root.get("sid", "").asString();
  return root.isMember("status") ? root["status"].asInt() : -1;
}

// A system reply parsed; its root element, or nullptr.
const tinyxml2::XMLElement* XmlRoot(const Reply& reply, tinyxml2::XMLDocument& document) {
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "text/xml; charset=\"UTF-8\"");
  if (document.Parse(reply.body.c_str(), reply.body.size()) != tinyxml2::XML_SUCCESS) {
    ADD_FAILURE() << "not XML: " << reply.body;
    return nullptr;
  }
  return document.RootElement();
}

std::string ChildText(const tinyxml2::XMLElement* element, const char* name) {
  const tinyxml2::XMLElement* child = element ? element->FirstChildElement(name) : nullptr;
  return child && child->GetText() ? child->GetText() : "";
}

// The n-th (from 1) child element of element, other nodes skipped; nullptr when there is none.
const tinyxml2::XMLElement* NthChildElement(const tinyxml2::XMLElement* element, int n) {
  const tinyxml2::XMLElement* child = element ? element->FirstChildElement() : nullptr;
  while (child && --n > 0) child = child->NextSiblingElement();
  return child;
}

class EmulatorTest : public ::testing::Test {
 protected:
  static EmulatorOptions Options(bool tls = true) {
    EmulatorOptions options;
    options.password = kPassword;
    options.serverName = "test-device";
    options.tls = tls;
    return options;
  }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(emulator_.Start(&error)) << error;
  }

  std::string Url(const std::string& pathAndQuery, bool tls = false) const {
    return (tls ? "https://127.0.0.1:" + std::to_string(emulator_.TlsPort())
                : "http://127.0.0.1:" + std::to_string(emulator_.Port())) +
           pathAndQuery;
  }

  Reply FileLogin(const std::string& body, bool tls = false) const {
    return PostForm(Url("/cgi-bin/filemanager/wfm2Login.cgi", tls), body);
  }
  // A live file-service sid.
  std::string FileSid() const {
    std::string sid;
    EXPECT_EQ(JsonStatus(FileLogin("user=admin&pwd=" + Encode(Base64(kPassword))), &sid), 1);
    return sid;
  }
  // A live system sid.
  std::string SystemSid(bool tls = false) const {
    tinyxml2::XMLDocument document;
    const auto* root = XmlRoot(PostForm(Url("/cgi-bin/authLogin.cgi", tls),
                                        "user=admin&pwd=" + Encode(Base64(kPassword)) + "&admin=1"),
                               document);
    EXPECT_EQ(ChildText(root, "authPassed"), "1");
    return ChildText(root, "authSid");
  }
  Reply FetchSid(const std::string& sid) const {
    return Send(Url("/cgi-bin/filemanager/utilRequest.cgi?func=tovo_get_sid&sid=" + Encode(sid) +
                    "&tovo_device_type=2&tovo_computer=HOST_MOBILE&uid=0a1b"));
  }
  Reply FileLogout(const std::string& sid) const {
    return Send(Url("/cgi-bin/filemanager/wfm2Logout.cgi?sid=" + Encode(sid) + "&logout=1"));
  }
  Reply SystemLogout(const std::string& sid) const {
    return Send(Url("/cgi-bin/authLogout.cgi?logout=1&count=12345&sid=" + Encode(sid)));
  }
  Reply Settings(const std::string& sid, bool tls = false) const {
    return Send(Url("/cgi-bin/sys/sysRequest.cgi?subfunc=sys_setting&sid=" + Encode(sid), tls));
  }
  // authPassed of a system reply.
  static std::string Passed(const Reply& reply) {
    tinyxml2::XMLDocument document;
    return ChildText(XmlRoot(reply, document), "authPassed");
  }

  Emulator emulator_{Options()};
};

TEST_F(EmulatorTest, FileLoginChecksUserAndPassword) {
  const std::string base64 = Base64(kPassword);
  ASSERT_NE(base64.find_first_of("+"), std::string::npos);
  ASSERT_NE(base64.find_first_of("/"), std::string::npos);
  ASSERT_NE(base64.find_first_of("="), std::string::npos);
  ASSERT_NE(base64.find_first_of("\n"), std::string::npos);
  const struct {
    const char* name;
    std::string body;
    int status;
  } cases[] = {
      {"short form", "user=admin&pwd=" + Encode(base64), 1},
      {"with the computer fields",
       "user=admin&pwd=" + Encode(base64) +
           "&tovo_user=1&tovo_device_type=1&tovo_computer=" + Encode("PC 1_COMPUTER") + "&uid=ab",
       1},
      {"wrong password", "user=admin&pwd=" + Encode(Base64("admin")), 0},
      {"wrong user", "user=root&pwd=" + Encode(base64), 0},
      {"unencoded + in the password", "user=admin&pwd=" + Encode(base64, '+'), 0},
      {"password not in base64", "user=admin&pwd=" + Encode(kPassword), 0},
  };
  std::size_t logins = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string sid;
    EXPECT_EQ(JsonStatus(FileLogin(c.body), &sid), c.status);
    EXPECT_EQ(sid.empty(), c.status != 1);
    if (c.status == 1) ++logins;
  }
  EXPECT_EQ(emulator_.SessionCount(), logins);
}

TEST_F(EmulatorTest, AnswersMalformedRequestsWithHttpErrors) {
  const std::string pwd = "&pwd=" + Encode(Base64(kPassword));
  const std::string login = "/cgi-bin/filemanager/wfm2Login.cgi";
  const std::string getSid = "/cgi-bin/filemanager/utilRequest.cgi?func=tovo_get_sid&sid=x";
  const std::string computer = "&tovo_device_type=2&tovo_computer=PC&uid=u";
  const std::string logout = "/cgi-bin/authLogout.cgi?logout=1&sid=x";
  const std::string webFiles = "/cgi-bin/application/appRequest.cgi?subfunc=web_file_mgmt&sid=x";
  const struct {
    const char* name;
    const char* method;
    std::string target;
    std::string body;  // sent as a form when not empty
    long status;
    std::vector<std::string> headers = {kFormType};
  } cases[] = {
      {"unknown path", "GET", "/cgi-bin/nothing.cgi", "", 404},
      {"unknown function", "GET", "/cgi-bin/filemanager/utilRequest.cgi?func=nothing", "", 404},
      {"no function", "GET", "/cgi-bin/sys/sysRequest.cgi?sid=x", "", 404},
      {"function twice", "GET", getSid + "&func=tovo_get_sid" + computer, "", 400},
      {"GET login", "GET", login, "", 405},
      {"POST sid fetch", "POST", getSid + computer, "a=1", 405},
      {"user twice", "POST", login, "user=admin&user=admin" + pwd, 400},
      {"no password", "POST", login, "user=admin", 400},
      {"bad escape", "POST", login, "user=admin&pwd=%zz", 400},
      {"cut escape", "POST", login, "user=admin&pwd=abc%4", 400},
      {"not a form", "POST", login, "user=admin" + pwd, 415, {"Content-Type: text/plain"}},
      {"computer fields without tovo_user", "POST", login, "user=admin" + pwd + computer, 400},
      {"huge device type", "POST", login,
       "user=admin" + pwd +
           "&tovo_user=1&tovo_device_type=99999999999999999999999&tovo_computer=P"
           "C&uid=u",
       400},
      {"body over the limit", "POST", login, "user=admin" + pwd + "&x=" + std::string(70000, 'x'),
       413},
      {"chunked body",
       "POST",
       login,
       "user=admin" + pwd,
       411,
       {kFormType, "Transfer-Encoding: chunked"}},
      {"sid fetch without computer name", "GET", getSid + "&tovo_device_type=2&uid=u", "", 400},
      {"system login without admin", "POST", "/cgi-bin/authLogin.cgi", "user=admin" + pwd, 400},
      {"logout count out of range", "GET", logout + "&count=32768", "", 400},
      {"logout without count", "GET", logout, "", 400},
      {"switch value not a flag", "GET", webFiles + "&apply=1&chk_Webfs=2&chk_LogoWebfs=1", "",
       400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Reply reply =
        Send(Url(c.target), c.method, c.body.empty() ? nullptr : &c.body, c.headers);
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_EQ(reply.contentType, "text/plain; charset=\"UTF-8\"");
  }
  EXPECT_EQ(emulator_.SessionCount(), 0u);
  EXPECT_FALSE(emulator_.WebFileManagerEnabled());
  EXPECT_FALSE(FileSid().empty());  // still serving
}

TEST_F(EmulatorTest, SidFetchNeedsALiveSystemSession) {
  const std::string systemSid = SystemSid();
  std::string fileSid;
  ASSERT_EQ(JsonStatus(FetchSid(systemSid), &fileSid), 0);
  EXPECT_FALSE(fileSid.empty());
  EXPECT_NE(fileSid, systemSid);
  EXPECT_EQ(emulator_.SessionCount(), 2u);

  for (const std::string& refused :
       {FileSid(), fileSid, std::string("0123456789abcdef"), std::string()}) {
    EXPECT_NE(JsonStatus(FetchSid(refused)), 0) << "sid " << refused;
  }
}

TEST_F(EmulatorTest, LogoutsEndSessions) {
  // A file logout ends its session; the sid is refused afterwards.
  const std::string fileSid = FileSid();
  EXPECT_EQ(JsonStatus(FileLogout(fileSid)), 1);
  EXPECT_NE(JsonStatus(FileLogout(fileSid)), 1);
  EXPECT_EQ(emulator_.SessionCount(), 0u);

  // A file logout with a system sid (a file-service login through the system) ends the file
  // sessions fetched through it and leaves the system session alive.
  const std::string systemSid = SystemSid();
  std::string fetched;
  ASSERT_EQ(JsonStatus(FetchSid(systemSid), &fetched), 0);
  EXPECT_EQ(JsonStatus(FileLogout(systemSid)), 1);
  EXPECT_EQ(emulator_.SessionCount(), 1u);
  EXPECT_NE(JsonStatus(FileLogout(fetched)), 1);
  EXPECT_EQ(Passed(Settings(systemSid)), "1");

  // The system logout ends the system session and what was fetched through it.
  ASSERT_EQ(JsonStatus(FetchSid(systemSid), &fetched), 0);
  EXPECT_EQ(Passed(SystemLogout(systemSid)), "1");
  EXPECT_EQ(Passed(SystemLogout(systemSid)), "0");
  EXPECT_EQ(Passed(Settings(systemSid)), "0");
  EXPECT_NE(JsonStatus(FetchSid(systemSid)), 0);
  EXPECT_NE(JsonStatus(FileLogout(fetched)), 1);
  EXPECT_EQ(emulator_.SessionCount(), 0u);
}

TEST_F(EmulatorTest, SystemLoginChecksThePassword) {
  tinyxml2::XMLDocument document;
  const auto* root = XmlRoot(PostForm(Url("/cgi-bin/authLogin.cgi"),
                                      "user=admin&pwd=" + Encode(Base64("wrong")) + "&admin=1"),
                             document);
  EXPECT_EQ(ChildText(root, "authPassed"), "0");
  EXPECT_EQ(ChildText(root, "authSid"), "");
  EXPECT_EQ(emulator_.SessionCount(), 0u);

  const std::string sid = SystemSid();
  EXPECT_FALSE(sid.empty());
  EXPECT_EQ(emulator_.SessionCount(), 1u);
}

TEST_F(EmulatorTest, SettingsSitWhereTheLibraryLooks) {
  Emulator plainOnly(Options(false));
  std::string error;
  ASSERT_TRUE(plainOnly.Start(&error)) << error;
  const struct {
    const char* name;
    Emulator& emulator;
    const char* ssl;
  } cases[] = {{"with TLS", emulator_, "TRUE"}, {"without TLS", plainOnly, "FALSE"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string base = "http://127.0.0.1:" + std::to_string(c.emulator.Port());
    tinyxml2::XMLDocument login, settings;
    const std::string sid =
        ChildText(XmlRoot(PostForm(base + "/cgi-bin/authLogin.cgi",
                                   "user=admin&pwd=" + Encode(Base64(kPassword)) + "&admin=1"),
                          login),
                  "authSid");
    const auto* root = XmlRoot(
        Send(base + "/cgi-bin/sys/sysRequest.cgi?subfunc=sys_setting&sid=" + sid), settings);
    EXPECT_EQ(ChildText(root, "authPassed"), "1");
    // The root's eighth child element, its second, its first: the settings element.
    const auto* server = NthChildElement(NthChildElement(NthChildElement(root, 8), 2), 1);
    ASSERT_NE(server, nullptr) << "no settings element";
    EXPECT_EQ(ChildText(server, "serverName"), "test-device");
    EXPECT_EQ(ChildText(server, "port"), std::to_string(c.emulator.Port()));
    EXPECT_EQ(ChildText(server, "SSL"), c.ssl);
    EXPECT_EQ(ChildText(server, "SSLPort"), std::to_string(c.emulator.TlsPort()));
    EXPECT_EQ(ChildText(server, "SSLForce"), "FALSE");
  }
  EXPECT_EQ(plainOnly.TlsPort(), 0);

  // Only a live system session reads them.
  for (const std::string& refused : {FileSid(), std::string("nosuchsid")}) {
    tinyxml2::XMLDocument document;
    const auto* root = XmlRoot(Settings(refused), document);
    EXPECT_EQ(ChildText(root, "authPassed"), "0");
    EXPECT_EQ(NthChildElement(root, 8), nullptr);
  }
}

TEST_F(EmulatorTest, WebFileManagerSwitchNeedsASystemSession) {
  auto enable = [&](const std::string& sid) {
    return Passed(Send(
        Url("/cgi-bin/application/appRequest.cgi?subfunc=web_file_mgmt&apply=1&sid=" + Encode(sid) +
            "&chk_Webfs=1&chk_LogoWebfs=1")));
  };
  EXPECT_EQ(enable(FileSid()), "0");
  EXPECT_EQ(enable("nosuchsid"), "0");
  EXPECT_FALSE(emulator_.WebFileManagerEnabled());
  EXPECT_EQ(enable(SystemSid()), "1");
  EXPECT_TRUE(emulator_.WebFileManagerEnabled());
}

TEST_F(EmulatorTest, BothPortsServeOneDevice) {
  // A login over HTTPS, with the generated certificate, is live over plain HTTP, and the
  // other way round.
  const std::string tlsSystemSid = SystemSid(true);
  EXPECT_EQ(Passed(Settings(tlsSystemSid, false)), "1");
  EXPECT_EQ(Passed(Settings(SystemSid(false), true)), "1");
  std::string sid;
  EXPECT_EQ(JsonStatus(FileLogin("user=admin&pwd=" + Encode(Base64(kPassword)), true), &sid), 1);
  EXPECT_EQ(JsonStatus(FileLogout(sid)), 1);
  EXPECT_EQ(emulator_.SessionCount(), 2u);
}

// --- The program --------------------------------------------------------------------------

TEST(EmulatorProgramTest, ServesUntilSigterm) {
  EmulatorProgram child({"--port", "0", "--tls-port", "0", "--user", "u", "--password", "p",
                         "--job-rate", "1048576", "--transfer-rate", "1048576", "--drop-after", "0",
                         "--drop-count", "2", "--latency", "300"});
  ASSERT_TRUE(child.Started());
  // The first line names the plain URL.
  const std::string line = child.ReadLine();
  const std::size_t at = line.find("http://");
  ASSERT_NE(at, std::string::npos) << "no URL printed: " << line;
  const std::string url = line.substr(at);
  ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;

  tinyxml2::XMLDocument document;
  const auto asked = std::chrono::steady_clock::now();
  const auto* root = XmlRoot(
      PostForm(url + "/cgi-bin/authLogin.cgi", "user=u&pwd=" + Encode(Base64("p")) + "&admin=1"),
      document);
  EXPECT_EQ(ChildText(root, "authPassed"), "1");
  EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(300));

  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), 0);
}

TEST(EmulatorProgramTest, RefusesBadFlags) {
  const std::vector<std::string> cases[] = {{"--bogus"},
                                            {"--port"},
                                            {"--port", "65536"},
                                            {"--tls-port", "x"},
                                            {"--port", "-1"},
                                            {"--job-rate"},
                                            {"--job-rate", "-1"},
                                            {"--job-rate", "1e6"},
                                            {"--transfer-rate", "x"},
                                            {"--drop-after", "-1"},
                                            {"--drop-count", "-1"},
                                            {"--drop-count"},
                                            {"--latency", "-5"},
                                            {"--latency", "3600001"},
                                            {"--latency"}};
  for (const auto& args : cases) {
    EmulatorProgram child(args);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 2) << args[0];
  }
}

}  // namespace
}  // namespace vesk::emulator
