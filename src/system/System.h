// The system service: an administrator session with the device's system functions.
#pragma once

#include <string>

#include "VeskHttp.h"
#include "filestation/Station.h"
#include "system/SYSRequest.h"

namespace vesk {

class System final : public IVeskHttpSystem, public Station<SYSRequest> {
 public:
  System();
  ~System() override;

  int Login(const std::wstring& host, const std::wstring& user, const std::wstring& password,
            int ssl);
  int Close();

  // What a file-service login through this session takes over.
  const Connection& GetConnection() const { return connection_; }
  int Port() const { return port_; }
  int SslPort() const { return sslPort_; }
  const std::wstring& Sid() const { return sid_; }

  VESK_HTTP_RESULT GetSystemSetting(int* cancelFlag, CVeskHttpSystemSettingInfo* settings) override;
  VESK_HTTP_RESULT EnableWebFileManager(int* cancelFlag) override;
  int CloseRequest(IVeskHttpSystemRequestBase** request) override;
  IVeskHttpSystemRequestBase* GetSystemSettingAsync(
      void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) override;
  IVeskHttpSystemRequestBase* EnableWebFileManagerAsync(
      void* userData, VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify) override;

 private:
  // A descriptor with the session's sid.
  SYSRequestDescriptor DescribeWithSid(int command, bool asynchronous) const;
  IVeskHttpSystemRequestBase* StartAsync(int command, void* userData,
                                         VESK_HTTP_SYSTEM_NOTIFY_CALLBACK notify);

  std::wstring sid_;
};

}  // namespace vesk
