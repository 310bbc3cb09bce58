// File-service login, sid fetch through the system session, and logout.
#include "filestation/CommandRoutines.h"
#include "filestation/FSRequest.h"
#include "filestation/LoginReply.h"
#include "http/Encoding.h"

namespace vesk {

void RunFileStationLogin(FSRequest& r) {
  // Every value is percent-encoded: the base64 password's "+", "/", "=" and line feeds
  // would otherwise reach the device's form decoder changed.
  std::string user, password;
  if (!r.Encode(r.Str(L"username"), user) ||
      !r.Encode(FromUtf8(Base64Encode(ToUtf8(r.Str(L"password")))), password))
    return;
  std::string body = "user=" + user + "&pwd=" + password;
  if (const std::wstring& computerName = r.Str(L"computerName"); !computerName.empty()) {
    std::string name, uid;
    if (!r.Encode(computerName, name) || !r.Encode(r.Str(L"computerUID"), uid)) return;
    body += "&tovo_user=1&tovo_device_type=" + std::to_string(r.Int(L"deviceType")) +
            "&tovo_computer=" + name + "&uid=" + uid;
  }
  if (!r.Call({.path = L"filemanager/wfm2Login.cgi",
               .post = true,
               .headers = RequestHeaders::Form,
               .body = body}))
    return;
  CWebFileManLogin reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.status != 1) {
    r.SetResult(VESK_HTTP_LOGIN_FAILED);
    return;
  }
  r.Out().sid = reply.sid;
}

void RunFileStationGetSid(FSRequest& r) {
  std::wstring sid, name, uid;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"computerName"), name) ||
      !r.Encode(r.Str(L"computerUID"), uid))
    return;
  if (!r.Call({.path = L"filemanager/utilRequest.cgi?func=tovo_get_sid&sid=" + sid +
                       L"&tovo_device_type=" + std::to_wstring(r.Int(L"deviceType")) +
                       L"&tovo_computer=" + name + L"&uid=" + uid,
               .headers = RequestHeaders::NoCache}))
    return;
  // A reply without "status" counts as success.
  CWebFileManLogin reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.status != 0) {
    r.SetResult(VESK_HTTP_LOGIN_FAILED);
    return;
  }
  r.Out().deviceSid = reply.sid;
}

void RunFileStationLogout(FSRequest& r) {
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return;
  if (!r.Call({.path = L"filemanager/wfm2Logout.cgi?sid=" + sid + L"&logout=1",
               .headers = RequestHeaders::NoCache}))
    return;
  CWebFileManLogin reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.status != 1) r.SetResult(VESK_HTTP_SERVER_FAILED);
}

}  // namespace vesk
