#include "system/SYSRequest.h"

#include <cstdlib>

#include "filestation/Commands.h"
#include "http/Encoding.h"
#include "system/SystemReplies.h"

namespace vesk {
namespace {

void RunSystemLogin(SYSRequest& r) {
  std::string user, password;
  if (!r.Encode(r.Str(L"username"), user) ||
      !r.Encode(FromUtf8(Base64Encode(ToUtf8(r.Str(L"password")))), password))
    return;
  if (!r.Call({.path = L"authLogin.cgi",
               .post = true,
               .headers = RequestHeaders::Form,
               .body = "user=" + user + "&pwd=" + password + "&admin=1"}))
    return;
  AuthLoginResultXml reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.passed != 1) {
    r.SetResult(VESK_HTTP_LOGIN_FAILED);
    return;
  }
  r.sid = reply.sid;
}

void RunSystemLogout(SYSRequest& r) {
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return;
  // The count only keeps caches from answering; the generator is the C library's.
  const int count = std::rand() % 32768;
  // Any 200 reply ends the session; its body says nothing more.
  r.Call({.path = L"authLogout.cgi?logout=1&count=" + std::to_wstring(count) + L"&sid=" + sid,
          .headers = RequestHeaders::NoCache});
}

void RunGetSystemSetting(SYSRequest& r) {
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return;
  if (!r.Call({.path = L"sys/sysRequest.cgi?subfunc=sys_setting&sid=" + sid,
               .headers = RequestHeaders::NoCache}))
    return;
  // A reply without the settings element cannot be read: the device answered, uselessly.
  SYSGetSystemSettingXml reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.passed != 1 || !reply.settingsFound) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
    return;
  }
  r.settings = CVeskHttpSystemSettingInfo(reply.serverName.c_str(), reply.port, reply.ssl ? 1 : 0,
                                          reply.sslPort, reply.sslForce ? 1 : 0);
}

void RunEnableWebFileManager(SYSRequest& r) {
  std::wstring sid;
  if (!r.Encode(r.Str(L"sid"), sid)) return;
  // The device answers 200 whether or not it complied; there is nothing more to read.
  r.Call({.path = L"application/appRequest.cgi?subfunc=web_file_mgmt&apply=1&sid=" + sid +
                  L"&chk_Webfs=1&chk_LogoWebfs=1",
          .headers = RequestHeaders::NoCache});
}

}  // namespace

void SYSRequestBase::NotifyCompletion() {
  if (!SystemNotifyCallback()) return;
  _VESK_HTTP_SYSTEM_NOTIFY_INFO_ info{Result(), SystemOperationOf(Command()), this, UserData()};
  SystemNotifyCallback()(&info);
}

void SYSRequest::Execute() {
  SetResult(VESK_HTTP_SUCCESS);
  switch (Command()) {
    case SYS_CMD_LOGIN:
      RunSystemLogin(*this);
      break;
    case SYS_CMD_LOGOUT:
      RunSystemLogout(*this);
      break;
    case SYS_CMD_GET_SYSTEM_SETTING:
      RunGetSystemSetting(*this);
      break;
    case SYS_CMD_ENABLE_WEB_FILE_MANAGER:
      RunEnableWebFileManager(*this);
      break;
    default:
      SetResult(VESK_HTTP_INVALID_REQUEST);
      break;
  }
}

}  // namespace vesk
