// System-service requests: the handle callers hold and the dispatcher of the system
// commands. They share the request machinery of the file service.
#pragma once

#include <string>

#include "VeskHttp.h"
#include "filestation/Request.h"

namespace vesk {

using SYSRequestDescriptor = RequestDescriptor;

class SYSRequestBase : public IVeskHttpSystemRequestBase, public RequestCore {
 public:
  explicit SYSRequestBase(SYSRequestDescriptor descriptor) : RequestCore(std::move(descriptor)) {}

  // Reads nothing of the request before it is known to be held (see CancelHandle).
  int Cancel() override { return CancelHandle(this); }
  CVeskHttpSystemSettingInfo GetSystemSettingResult() const override { return {}; }

  // Outputs of the login and settings commands.
  std::wstring sid;
  CVeskHttpSystemSettingInfo settings;

 protected:
  void NotifyCompletion() override;
};

class SYSRequest final : public SYSRequestBase {
 public:
  explicit SYSRequest(SYSRequestDescriptor descriptor) : SYSRequestBase(std::move(descriptor)) {}
  ~SYSRequest() override { CancelAndJoin(); }

  CVeskHttpSystemSettingInfo GetSystemSettingResult() const override { return settings; }

 protected:
  void Execute() override;
  void ExecuteCommand() override { Execute(); }
};

}  // namespace vesk
