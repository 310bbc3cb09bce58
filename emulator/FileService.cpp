// The file service's session endpoints: login, sid fetch through a system session, logout.
//
// Replies are JSON objects whose "status" carries the outcome:
//   login     {"status":1,"sid":S,"username":U}; refused (wrong user or password): {"status":0}
//   sid fetch {"status":0,"sid":S}; refused (not a live system sid): {"status":3}
//   logout    {"status":1}; refused (not a live sid): {"status":3}
#include <string>

#include "emulator/Replies.h"
#include "emulator/Router.h"

namespace vesk::emulator {

namespace {

constexpr long long kLoginOk = 1;
constexpr long long kLoginRefused = 0;
constexpr long long kSidFetchOk = 0;
constexpr long long kLogoutOk = 1;
// The sid names no live session the request may use.
constexpr long long kNoSession = 3;

constexpr const char* kPath = "/cgi-bin/filemanager/";

httpd::Response Status(long long status) { return JsonReply(JsonObject().Add("status", status)); }

// The computer fields a login from a named computer carries: device type 1 to 4 and a
// non-empty computer name; the computer's identity may be empty.
void CheckComputerFields(const FieldSet& fields) {
  if (!ParseDecimal(fields.Require("tovo_device_type"), 4).value_or(0)) {
    throw BadRequest("tovo_device_type is not a device type");
  }
  if (fields.Require("tovo_computer").empty()) throw BadRequest("tovo_computer is empty");
  fields.Require("uid");
}

// POST wfm2Login.cgi: user, pwd (base64), and either all of tovo_user=1, tovo_device_type,
// tovo_computer, uid or none of them.
httpd::Response Login(const Call& call) {
  const FieldSet form = call.Form();
  const std::string& user = form.Require("user");
  const std::string& pwd = form.Require("pwd");
  if (const std::string* tovoUser = form.Find("tovo_user")) {
    if (*tovoUser != "1") throw BadRequest("tovo_user is not 1");
    CheckComputerFields(form);
  } else if (form.Find("tovo_device_type") || form.Find("tovo_computer") || form.Find("uid")) {
    throw BadRequest("computer fields without tovo_user");
  }
  if (!call.device.AccountMatches(user, pwd)) return Status(kLoginRefused);
  const std::string sid = call.device.sessions.Open(SessionKind::File);
  if (sid.empty()) return Status(kLoginRefused);
  return JsonReply(JsonObject()
                       .Add("status", kLoginOk)
                       .Add("sid", sid)
                       .Add("username", call.device.options.user));
}

// GET utilRequest.cgi?func=tovo_get_sid&sid=S&tovo_device_type=T&tovo_computer=C&uid=U: a
// fresh file-service session for a live system session, ending with it.
httpd::Response GetSid(const Call& call) {
  const std::string& sid = call.query.Require("sid");
  CheckComputerFields(call.query);
  if (call.device.sessions.Find(sid) != SessionKind::System) return Status(kNoSession);
  const std::string fileSid = call.device.sessions.Open(SessionKind::File, sid);
  if (fileSid.empty()) return Status(kNoSession);
  return JsonReply(JsonObject().Add("status", kSidFetchOk).Add("sid", fileSid));
}

// GET wfm2Logout.cgi?sid=S&logout=1. A file sid ends its session. A system sid, which a
// file-service login through the system uses for its requests, ends the file sessions fetched
// through it; the system session itself lives on until the system service's logout.
httpd::Response Logout(const Call& call) {
  const std::string& sid = call.query.Require("sid");
  if (call.query.Require("logout") != "1") throw BadRequest("logout is not 1");
  const auto kind = call.device.sessions.Find(sid);
  if (kind == SessionKind::System) {
    call.device.sessions.CloseChildren(sid);
  } else if (!kind || !call.device.sessions.Close(sid)) {
    return Status(kNoSession);
  }
  return Status(kLogoutOk);
}

}  // namespace

std::vector<Route> FileServiceRoutes() {
  const std::string path = kPath;
  return {
      {path + "wfm2Login.cgi", "", "", "POST", &Login},
      {path + "wfm2Logout.cgi", "", "", "GET", &Logout},
      {path + "utilRequest.cgi", "func", "tovo_get_sid", "GET", &GetSid},
  };
}

}  // namespace vesk::emulator
