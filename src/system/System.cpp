#include "system/System.h"

#include "filestation/Commands.h"

namespace vesk {
System::System() = default;
System::~System() = default;

SYSRequestDescriptor System::DescribeWithSid(int command, bool asynchronous) const {
  SYSRequestDescriptor d = Describe(command, asynchronous);
  d.stringParams[L"sid"] = sid_;
  return d;
}

int System::Login(const std::wstring& host, const std::wstring& user, const std::wstring& password,
                  int ssl) {
  if (LoggedIn()) return VESK_HTTP_SUCCESS;
  return Guarded([&] {
    const Connection connection{host, user, password, ssl};
    SYSRequestDescriptor d = DescribeFor(connection, SYS_CMD_LOGIN, false);
    d.stringParams[L"username"] = user;
    d.stringParams[L"password"] = password;
    std::wstring sid;
    const int result =
        requests_.RunSync(std::move(d), nullptr, [&](SYSRequest& r) { sid = r.sid; });
    if (result != VESK_HTTP_SUCCESS) return result;
    sid_ = sid;
    connection_ = connection;
    loggedIn_ = 1;
    return result;
  });
}

int System::Close() { return Logout(DescribeWithSid(SYS_CMD_LOGOUT, false)); }

VESK_HTTP_RESULT System::GetSystemSetting(int* cancelFlag, CVeskHttpSystemSettingInfo* settings) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  return Guarded([&] {
    return requests_.RunSync(DescribeWithSid(SYS_CMD_GET_SYSTEM_SETTING, false), cancelFlag,
                             [&](SYSRequest& r) {
                               if (settings) *settings = r.settings;
                             });
  });
}

VESK_HTTP_RESULT System::EnableWebFileManager(int* cancelFlag) {
  if (!LoggedIn()) return VESK_HTTP_NOT_LOGGED_IN;
  return Guarded([&] {
    return requests_.RunSync(DescribeWithSid(SYS_CMD_ENABLE_WEB_FILE_MANAGER, false), cancelFlag,
                             [](SYSRequest&) {});
  });
}

int System::CloseRequest(IVeskHttpSystemRequestBase** request) {
  try {
    return requests_.Close(request);
  } catch (...) {
    return 1;
  }
}

IVeskHttpSystemRequestBase* System::StartAsync(int command, void* userData,
                                               VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) {
  if (!LoggedIn()) return nullptr;
  return GuardedAsync([&]() -> IVeskHttpSystemRequestBase* {
    SYSRequestDescriptor d = DescribeWithSid(command, true);
    d.userData = userData;
    d.systemNotifyCallback = notify;
    return requests_.RunAsync(std::move(d));
  });
}

IVeskHttpSystemRequestBase* System::GetSystemSettingAsync(void* userData,
                                                          VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) {
  return StartAsync(SYS_CMD_GET_SYSTEM_SETTING, userData, notify);
}

IVeskHttpSystemRequestBase* System::EnableWebFileManagerAsync(
    void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) {
  return StartAsync(SYS_CMD_ENABLE_WEB_FILE_MANAGER, userData, notify);
}

}  // namespace vesk
