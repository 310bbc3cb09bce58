// The system service: administrator login and logout, the web-server settings and the web
// file manager switch.
//
// Replies are XML documents whose root element, <deviceReply>, holds <authPassed>: 1 when the
// request's credentials or sid were accepted, 0 when the device refused them. Only system
// sessions are accepted here; a file-service sid is refused like an unknown one.
#include <string>

#include "emulator/Replies.h"
#include "emulator/Router.h"

namespace vesk::emulator {

namespace {

constexpr const char* kRoot = "deviceReply";
constexpr const char* kVersion = "1.0.0";

// The library's logout sends a pseudo-random count in this range.
constexpr unsigned long long kMaxLogoutCount = 32767;

// A document holding only <authPassed>.
httpd::Response AuthReply(bool passed) {
  XmlWriter document;
  document.Open(kRoot).Leaf("authPassed", passed ? "1" : "0");
  return XmlReply(document);
}

bool IsSystemSession(const Call& call, const std::string& sid) {
  return call.device.sessions.Find(sid) == SessionKind::System;
}

// "0" or "1"; anything else is a BadRequest.
bool Flag(const FieldSet& fields, std::string_view name) {
  const std::string& value = fields.Require(name);
  if (value != "0" && value != "1") throw BadRequest(std::string(name) + " is not 0 or 1");
  return value == "1";
}

// POST authLogin.cgi: user, pwd (base64), admin=1.
httpd::Response Login(const Call& call) {
  const FieldSet form = call.Form();
  const std::string& user = form.Require("user");
  const std::string& pwd = form.Require("pwd");
  if (form.Require("admin") != "1") throw BadRequest("admin is not 1");
  if (!call.device.AccountMatches(user, pwd)) return AuthReply(false);
  const std::string sid = call.device.sessions.Open(SessionKind::System);
  if (sid.empty()) return AuthReply(false);
  XmlWriter document;
  document.Open(kRoot)
      .Leaf("authPassed", "1")
      .Leaf("authSid", sid)
      .Leaf("username", call.device.options.user)
      .Leaf("isAdmin", "1");
  return XmlReply(document);
}

// GET authLogout.cgi?logout=1&count=N&sid=S: ends the system session and the file sessions
// fetched through it.
httpd::Response Logout(const Call& call) {
  if (call.query.Require("logout") != "1") throw BadRequest("logout is not 1");
  if (!ParseDecimal(call.query.Require("count"), kMaxLogoutCount)) {
    throw BadRequest("count is not a number from 0 to 32767");
  }
  const std::string& sid = call.query.Require("sid");
  if (!IsSystemSession(call, sid)) return AuthReply(false);
  return AuthReply(call.device.sessions.Close(sid));
}

// GET sysRequest.cgi?subfunc=sys_setting&sid=S. The web-server settings sit at a fixed place:
// the root's eighth child element (<services>), its second child element (<web>), and that
// one's first child element (<server>), which holds serverName, port, SSL, SSLPort and
// SSLForce. They report the ports the emulator really listens on.
httpd::Response Settings(const Call& call) {
  if (!IsSystemSession(call, call.query.Require("sid"))) return AuthReply(false);
  const DeviceState& device = call.device;
  const bool tls = device.tlsPort != 0;
  const std::string webFileManager = device.webFileManager ? "1" : "0";
  XmlWriter document;
  document.Open(kRoot)
      .Leaf("authPassed", "1")
      .Leaf("username", device.options.user)
      .Leaf("deviceName", device.options.serverName)
      .Leaf("version", kVersion)
      .Leaf("timeZone", "UTC")
      .Leaf("language", "en")
      .Leaf("webFileManager", webFileManager)
      .Comment("the web server's settings: services, web, server")
      .Open("services")
      .Open("fileService")
      .Leaf("enabled", "1")
      .Close()
      .Open("web")
      .Open("server")
      .Leaf("serverName", device.options.serverName)
      .Leaf("port", std::to_string(device.plainPort))
      .Leaf("SSL", tls ? "TRUE" : "FALSE")
      .Leaf("SSLPort", std::to_string(device.tlsPort))
      .Leaf("SSLForce", "FALSE")
      .Close()
      .Open("fileManager")
      .Leaf("enabled", webFileManager);
  return XmlReply(document);
}

// GET appRequest.cgi?subfunc=web_file_mgmt&apply=1&sid=S&chk_Webfs=F&chk_LogoWebfs=F: sets
// the web file manager switch to chk_Webfs.
httpd::Response WebFileManager(const Call& call) {
  if (call.query.Require("apply") != "1") throw BadRequest("apply is not 1");
  const bool enable = Flag(call.query, "chk_Webfs");
  Flag(call.query, "chk_LogoWebfs");
  if (!IsSystemSession(call, call.query.Require("sid"))) return AuthReply(false);
  call.device.webFileManager = enable;
  XmlWriter document;
  document.Open(kRoot).Leaf("authPassed", "1").Leaf("webFileManager", enable ? "1" : "0");
  return XmlReply(document);
}

}  // namespace

std::vector<Route> SystemServiceRoutes() {
  return {
      {"/cgi-bin/authLogin.cgi", "", "", "POST", &Login},
      {"/cgi-bin/authLogout.cgi", "", "", "GET", &Logout},
      {"/cgi-bin/sys/sysRequest.cgi", "subfunc", "sys_setting", "GET", &Settings},
      {"/cgi-bin/application/appRequest.cgi", "subfunc", "web_file_mgmt", "GET", &WebFileManager},
  };
}

}  // namespace vesk::emulator
