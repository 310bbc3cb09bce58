#include "filestation/Request.h"

#include <algorithm>
#include <thread>

#include "http/Encoding.h"
#include "http/WinHttpClient.h"
#include "platform/HttpTransport.h"

namespace vesk {

// The worker of an asynchronous request: runs it once unless it was stopped first.
class RequestCore::Worker final : public ZThread {
 public:
  explicit Worker(RequestCore& request) : request_(request) {}
  ~Worker() override { Join(); }

 protected:
  void Run() override {
    // The request outlives this: its release joins the worker first.
    request_.workerThread_ = std::this_thread::get_id();
    if (!request_.stopped_) request_.Run();
    request_.workerThread_ = std::thread::id();
    request_.workerBusy_ = false;
  }

 private:
  RequestCore& request_;
};

RequestCore::RequestCore(RequestDescriptor d)
    : command_(d.command),
      asynchronous_(d.asynchronous),
      host_(std::move(d.host)),
      user_(std::move(d.user)),
      password_(std::move(d.password)),
      port_(d.port),
      ssl_(d.ssl),
      stringParams_(std::move(d.stringParams)),
      intParams_(std::move(d.intParams)),
      agentName_(std::move(d.agentName)),
      timeout_(d.timeout),
      tls_(std::move(d.tls)),
      userData_(d.userData),
      progressCallback_(d.progressCallback),
      notifyCallback_(d.notifyCallback),
      systemNotifyCallback_(d.systemNotifyCallback) {}

RequestCore::~RequestCore() = default;

int RequestCore::Start(int* callerCancelFlag) {
  if (!asynchronous_) {
    cancelFlagPtr_ = callerCancelFlag;
    Run();
    return result_;
  }
  cancelFlagPtr_ = &cancelFlag_;
  std::lock_guard lock(workerMutex_);
  try {
    if (!worker_) worker_ = std::make_unique<Worker>(*this);
  } catch (...) {
    return VESK_HTTP_THREAD_FAILED;
  }
  stopped_ = false;
  if (worker_->IsRunning()) return VESK_HTTP_SUCCESS;
  workerBusy_ = true;
  if (!worker_->Start()) {
    workerBusy_ = false;
    return VESK_HTTP_THREAD_FAILED;
  }
  return VESK_HTTP_SUCCESS;
}

void RequestCore::Run() {
  if (stopped_) return;
  try {
    ExecuteCommand();
  } catch (...) {
    // Nothing escapes a request: an exhausted allocation or the like fails it locally.
    result_ = VESK_HTTP_INVALID_REQUEST;
  }
  // Cancellation overrides every other result.
  if (Cancelled()) result_ = VESK_HTTP_CANCELLED;
  if (asynchronous_) NotifyCompletion();
}

int RequestCore::CancelAndJoin() {
  StopAndJoin(!platform::OnTransportThread());
  return 1;
}

void RequestCore::JoinForRelease() { StopAndJoin(true); }

void RequestCore::StopAndJoin(bool mayWait) {
  const auto signalStop = [this] {
    StoreFlag(&cancelFlag_, 1);
    stopped_ = true;
    doneEvent_.Set();
  };
  if (!mayWait || OnWorkerThread()) {
    // The worker ends once the routine sees the flag; the release joins it later.
    signalStop();
    return;
  }
  // A release that comes while a cancel runs waits here until the cancel is done, and vice
  // versa; whichever comes second finds the worker already joined.
  std::lock_guard lock(workerMutex_);
  signalStop();
  if (worker_) {
    // The transport watches the flag, so a running exchange ends within moments and the
    // routine runs to its end; a worker that already finished is reaped at once.
    worker_->Join();
    worker_.reset();
  }
}

bool RequestCore::OnWorkerThread() const {
  return workerThread_.load() == std::this_thread::get_id();
}

bool RequestCore::MayReleaseHere() const {
  return !OnWorkerThread() && !(platform::OnTransportThread() && workerBusy_.load());
}

const std::wstring& RequestCore::Str(std::wstring_view key) const {
  static const std::wstring kEmpty;
  const auto it = stringParams_.find(key);
  return it == stringParams_.end() ? kEmpty : it->second;
}

long long RequestCore::Int(std::wstring_view key, long long fallback) const {
  const auto it = intParams_.find(key);
  return it == intParams_.end() ? fallback : it->second;
}

bool RequestCore::Cancelled() const { return cancelFlagPtr_ && LoadFlag(cancelFlagPtr_) == 1; }

bool RequestCore::FlagSet() const { return cancelFlagPtr_ && LoadFlag(cancelFlagPtr_) != 0; }

bool RequestCore::Pause(std::chrono::milliseconds duration) {
  // A caller's flag has no way to wake us, so the wait is cut in short slices; Cancel of an
  // asynchronous request also sets the event.
  constexpr auto kSlice = std::chrono::milliseconds(20);
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (!FlagSet()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds::zero()) return true;
    doneEvent_.WaitFor(std::min(left, kSlice));
  }
  return false;
}

bool RequestCore::Encode(const std::wstring& value, std::wstring& out) {
  out = value;
  if (UrlEncode(out, cancelFlagPtr_)) return true;
  // Cut short by the cancel flag: nothing is sent.
  result_ = VESK_HTTP_SEND_FAILED;
  return false;
}

bool RequestCore::Encode(const std::wstring& value, std::string& out) {
  std::wstring encoded;
  if (!Encode(value, encoded)) return false;
  out = ToUtf8(encoded);
  return true;
}

std::wstring RequestCore::BaseUrl() const {
  return (ssl_ == 1 ? L"https://" : L"http://") + host_ + L":" + std::to_wstring(port_) +
         L"/cgi-bin/";
}

void RequestCore::Configure(WinHttpClient& client, RequestHeaders headers,
                            std::uint64_t bodyLength) const {
  if (timeout_ > 0) client.SetTimeouts(timeout_, timeout_, timeout_, timeout_);
  client.SetUserAgent(agentName_);
  switch (headers) {
    case RequestHeaders::None:
      break;
    case RequestHeaders::NoCache:
      client.SetRequestHeaders(
          L"Cache-Control: no-cache\r\nPragma: no-cache\r\nConnection: Keep-Alive\r\n\r\n");
      break;
    case RequestHeaders::Form:
      client.SetRequestHeaders(
          L"Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
          L"Content-Length: " +
          std::to_wstring(bodyLength) + L"\r\nConnection: Keep-Alive\r\n\r\n");
      break;
    case RequestHeaders::Multipart:
      client.SetRequestHeaders(L"Accept: text/*\r\nContent-Type: multipart/form-data; boundary=" +
                               FromUtf8(kMultipartBoundary) + L"\r\nContent-Length: " +
                               std::to_wstring(bodyLength) +
                               L"\r\nConnection: Keep-Alive\r\nCache-Control: no-cache\r\n\r\n");
      break;
  }
  // Unless the caller asked for checks, the device's certificate is accepted as it is:
  // devices serve self-signed ones.
  if (ssl_ == 1) {
    client.SetVerifyCertificate(tls_.verifyCertificate);
    client.SetCaFile(tls_.caFile);
    client.SetCertificatePin(tls_.certificatePin);
  }
}

void RequestCore::OnExchangeDone(void* context, WinHttpClient*) {
  auto* self = static_cast<RequestCore*>(context);
  self->exchangeDone_ = true;
  self->doneEvent_.Set();
}

void RequestCore::AwaitExchange() {
  // Cancel also sets the event, but only the end of the exchange ends the wait: the
  // transport stops a cancelled exchange by itself within moments.
  while (!exchangeDone_) doneEvent_.Wait();
}

bool RequestCore::Conclude(WinHttpClient& client, bool sent) {
  AwaitExchange();
  if (!sent || client.GetStatusText().empty()) {
    result_ = VESK_HTTP_SEND_FAILED;  // nothing came back: refused, reset, timed out
    return false;
  }
  if (WinHttpClient::ParseStatusCode(client.GetStatusText()) != 200) {
    result_ = VESK_HTTP_BAD_HTTP_STATUS;
    return false;
  }
  if (!client.IsReplyComplete()) {
    result_ = VESK_HTTP_SEND_FAILED;  // a reply cut short is never taken for a whole one
    return false;
  }
  replyText_ = ToUtf8(client.GetResponseText());
  return true;
}

bool RequestCore::CallWithFile(const HttpCall& call, const FileTransfer& transfer) {
  WinHttpClient client(BaseUrl() + call.path, cancelFlagPtr_, false);
  const bool upload = !transfer.head.empty() || !transfer.tail.empty();
  if (upload) {
    // A resume offset past the end makes this length disagree with what the client would
    // send, and the client then refuses to start the exchange.
    Configure(
        client, call.headers,
        transfer.head.size() + transfer.tail.size() + transfer.fileSize - transfer.resumeOffset);
    client.SetHeadPart(transfer.head);
    client.SetTailPart(transfer.tail);
    client.SetFileBytesSent(transfer.resumeOffset);
  } else {
    Configure(client, call.headers, call.body.size());
    if (!call.body.empty()) client.SetBodyPart(call.body);
    client.SetFileBytesReceived(transfer.resumeOffset);
  }
  exchangeDone_ = false;
  const bool sent =
      client.SendWithFile(L"POST", transfer.file, transfer.fileSize, this, &OnExchangeDone,
                          userData_, progressCallback_, notifyCallback_);
  if (Conclude(client, sent)) return true;
  if (client.LocalFileFailed()) result_ = VESK_HTTP_INVALID_REQUEST;
  return false;
}

bool RequestCore::Call(const HttpCall& call) {
  WinHttpClient client(BaseUrl() + call.path, cancelFlagPtr_, call.ignoreCancel);
  Configure(client, call.headers, call.body.size());
  if (call.post && !call.body.empty()) client.SetBodyPart(call.body);
  exchangeDone_ = false;
  const bool sent = client.Send(call.post ? L"POST" : L"GET", this, &OnExchangeDone);
  return Conclude(client, sent);
}

}  // namespace vesk
