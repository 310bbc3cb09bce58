// File-service requests: the handle callers hold, the outputs of every command and the
// dispatcher that runs a command's routine.
#pragma once

#include <string>
#include <vector>

#include "VeskHttp.h"
#include "filestation/Request.h"

namespace vesk {

using FSRequestDescriptor = RequestDescriptor;

// What the file-service commands produce; each routine fills its part.
struct FSRequestOutputs {
  std::wstring sid;        // login
  std::wstring deviceSid;  // sid fetch through the system session
  std::vector<CVeskHttpFileEntry> fileEntries;
  std::vector<CVeskHttpExtractEntry> extractEntries;
  std::vector<CVeskHttpFileStatus> fileStatuses;
  std::vector<CVeskHttpShareLink> shareLinks;
  CVeskHttpNASInfo nasInfo;
  std::wstring pid;  // job id of a device job
  std::wstring linkText;
  CVeskHttpShareLink shareLink;
  int totalCount = 0;
  int extraCount = 0;
  long long bytesRead = 0;  // a ranged read: the bytes handed to the caller's sink
  std::wstring resultString;
};

// The default answers of the handle interface, and the request's state.
class FSRequestBase : public IVeskHttpFileStationRequestBase, public RequestCore {
 public:
  explicit FSRequestBase(FSRequestDescriptor descriptor) : RequestCore(std::move(descriptor)) {}

  // Reads nothing of the request before it is known to be held (see CancelHandle).
  int Cancel() override { return CancelHandle(this); }
  int GetTotalCount() const override { return 0; }
  std::vector<CVeskHttpFileEntry>* GetFileEntryList() override { return nullptr; }
  std::vector<CVeskHttpExtractEntry>* GetExtractEntryList() override { return nullptr; }
  CVeskHttpShareLink GetShareLinkResult() const override { return {}; }
  std::vector<CVeskHttpShareLink>* GetShareLinkList() override { return nullptr; }
  CVeskHttpFileStatus GetFileStatusResult() const override { return {}; }
  CVeskHttpNASInfo GetNASInfoResult() const override { return {}; }
  const wchar_t* GetResultString() const override { return L""; }
  std::vector<CVeskHttpFileStatus>* GetFileStatusList() override { return nullptr; }
  long long GetBytesRead() const override { return 0; }

  FSRequestOutputs& Out() { return out_; }
  const FSRequestOutputs& Out() const { return out_; }

  // Reports a device job's percentage: to the progress callback of a synchronous request, as
  // an in-progress notification of an asynchronous one. Reports never go backwards.
  void ReportJobProgress(int percent);

 protected:
  void NotifyCompletion() override;

  FSRequestOutputs out_;
  int lastReportedPercent_ = -1;
};

class FSRequest final : public FSRequestBase {
 public:
  explicit FSRequest(FSRequestDescriptor descriptor) : FSRequestBase(std::move(descriptor)) {}
  // A request is cancelled and its worker joined before anything of it is freed.
  ~FSRequest() override { CancelAndJoin(); }

  int GetTotalCount() const override { return out_.totalCount; }
  std::vector<CVeskHttpFileEntry>* GetFileEntryList() override { return &out_.fileEntries; }
  std::vector<CVeskHttpExtractEntry>* GetExtractEntryList() override {
    return &out_.extractEntries;
  }
  CVeskHttpShareLink GetShareLinkResult() const override { return out_.shareLink; }
  std::vector<CVeskHttpShareLink>* GetShareLinkList() override { return &out_.shareLinks; }
  CVeskHttpFileStatus GetFileStatusResult() const override {
    return out_.fileStatuses.empty() ? CVeskHttpFileStatus() : out_.fileStatuses.front();
  }
  CVeskHttpNASInfo GetNASInfoResult() const override { return out_.nasInfo; }
  const wchar_t* GetResultString() const override { return out_.resultString.c_str(); }
  std::vector<CVeskHttpFileStatus>* GetFileStatusList() override { return &out_.fileStatuses; }
  long long GetBytesRead() const override { return out_.bytesRead; }

 protected:
  // Runs the routine of the request's command.
  void Execute() override;
  void ExecuteCommand() override { Execute(); }
};

}  // namespace vesk
