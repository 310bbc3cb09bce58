#include "filestation/Request.h"

#include <algorithm>
#include <thread>
#include <unordered_map>

#include "http/Encoding.h"
#include "http/WinHttpClient.h"
#include "platform/HttpTransport.h"

namespace vesk {

RequestCore::RequestCore(RequestDescriptor d)
    : command_(d.command),
      asynchronous_(d.asynchronous),
      host_(std::move(d.host)),
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
      systemNotifyCallback_(d.systemNotifyCallback),
      dataSource_(d.dataSource),
      dataSink_(d.dataSink),
      // The part of every URL before the path, and the agent, in UTF-8 once.
      baseUrl_((ssl_ == 1 ? "https://" : "http://") + ToUtf8(host_) + ":" + std::to_string(port_) +
               "/cgi-bin/"),
      agentUtf8_(ToUtf8(agentName_)) {}

RequestCore::~RequestCore() = default;

namespace {

// The requests that callers hold as handles, each with the number of Cancels inside it. It lives
// as long as the process (it is never destroyed), so that a Cancel or a release that runs while
// the process exits still finds it.
class HandleTable {
 public:
  static HandleTable& Shared() {
    static HandleTable* const table = new HandleTable;
    return *table;
  }

  void Publish(const RequestCore* request) {
    std::lock_guard lock(mutex_);
    cancelsInside_.emplace(request, 0);
  }

  void Retire(const RequestCore* request) {
    std::unique_lock lock(mutex_);
    const auto it = cancelsInside_.find(request);
    if (it == cancelsInside_.end()) return;
    // Other requests may be entered meanwhile, and the table rehashed: that moves no element,
    // so the count is held by reference (an iterator would not survive it).
    const int& cancels = it->second;
    left_.wait(lock, [&] { return cancels == 0; });
    cancelsInside_.erase(request);
  }

  // true when the request is held: it stays alive until the matching Leave.
  bool Enter(const RequestCore* request) {
    std::lock_guard lock(mutex_);
    const auto it = cancelsInside_.find(request);
    if (it == cancelsInside_.end()) return false;
    ++it->second;
    return true;
  }

  void Leave(const RequestCore* request) {
    std::lock_guard lock(mutex_);
    const auto it = cancelsInside_.find(request);
    // Under the lock: a release that sees the count at 0 goes on to free the request, but the
    // table it waits on stays.
    if (--it->second == 0) left_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable left_;  // a count fell to 0
  std::unordered_map<const RequestCore*, int> cancelsInside_;
};

std::atomic<void (*)()> cancelEnteredHook{nullptr};

}  // namespace

void SetCancelEnteredHook(void (*hook)()) { cancelEnteredHook = hook; }

void RequestCore::Publish(const RequestCore* request) { HandleTable::Shared().Publish(request); }

void RequestCore::Retire(const RequestCore* request) noexcept {
  HandleTable::Shared().Retire(request);
}

int RequestCore::CancelHandle(RequestCore* request) noexcept {
  HandleTable& table = HandleTable::Shared();
  try {
    if (!table.Enter(request)) return 1;  // released, or being released: nothing to touch
  } catch (...) {
    return 1;
  }
  if (void (*hook)() = cancelEnteredHook.load()) hook();
  try {
    request->CancelAndJoin();
  } catch (...) {
    // A lock the system refused: the release still stops and joins the request.
  }
  table.Leave(request);
  return 1;
}

int RequestCore::Start(int* callerCancelFlag) {
  if (!asynchronous_) {
    cancelFlagPtr_ = callerCancelFlag;
    Run();
    return result_;
  }
  cancelFlagPtr_ = &cancelFlag_;
  std::lock_guard lock(workerMutex_);
  {
    std::lock_guard job(jobMutex_);
    if (jobState_ != JobState::Idle) return VESK_HTTP_SUCCESS;  // started once only
    jobState_ = JobState::Queued;
  }
  stopped_ = false;
  workerBusy_ = true;
  if (!WorkerPool::Shared().Submit(*this)) {
    workerBusy_ = false;
    std::lock_guard job(jobMutex_);
    jobState_ = JobState::Idle;
    return VESK_HTTP_THREAD_FAILED;
  }
  return VESK_HTTP_SUCCESS;
}

void RequestCore::RunJob() {
  {
    std::lock_guard job(jobMutex_);
    jobState_ = JobState::Running;
  }
  // The request outlives this: its release waits until the job is done.
  workerThread_ = std::this_thread::get_id();
  if (!stopped_) Run();
  workerThread_ = std::thread::id();
  workerBusy_ = false;
  std::lock_guard job(jobMutex_);
  jobState_ = JobState::Done;
  // Under the lock: the request may be freed as soon as a joiner sees the state.
  jobDone_.notify_all();
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
  // versa; whichever comes second finds the job already done.
  std::lock_guard lock(workerMutex_);
  signalStop();
  std::unique_lock job(jobMutex_);
  if (jobState_ == JobState::Queued || jobState_ == JobState::Running) {
    job.unlock();
    // A job no worker has taken yet never runs (and never notifies, as a request stopped
    // before it began).
    const bool withdrawn = WorkerPool::Shared().Withdraw(*this);
    job.lock();
    if (withdrawn) {
      jobState_ = JobState::Done;
      workerBusy_ = false;
    }
    // The transport watches the flag, so a running exchange ends within moments and the
    // routine runs to its end.
    jobDone_.wait(job, [this] { return jobState_ == JobState::Done; });
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

std::string RequestCore::Url(const std::wstring& path) const { return baseUrl_ + ToUtf8(path); }

void RequestCore::Configure(WinHttpClient& client, RequestHeaders headers,
                            std::uint64_t bodyLength) const {
  if (timeout_ > 0) client.SetTimeouts(timeout_, timeout_, timeout_, timeout_);
  client.SetUserAgentUtf8(agentUtf8_);
  // The routine would only wait for the exchange: it runs on this thread (the caller's, or
  // the worker's), which saves a switch to the transport's thread and back.
  client.SetRunOnCallerThread(true);
  switch (headers) {
    case RequestHeaders::None:
      break;
    case RequestHeaders::NoCache:
      client.SetRequestHeadersUtf8(
          "Cache-Control: no-cache\r\nPragma: no-cache\r\nConnection: Keep-Alive\r\n\r\n");
      break;
    case RequestHeaders::Form:
      client.SetRequestHeadersUtf8(
          "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
          "Content-Length: " +
          std::to_string(bodyLength) + "\r\nConnection: Keep-Alive\r\n\r\n");
      break;
    case RequestHeaders::Multipart:
      client.SetRequestHeadersUtf8(
          "Accept: text/*\r\nContent-Type: multipart/form-data; boundary=" +
          std::string(kMultipartBoundary) + "\r\nContent-Length: " + std::to_string(bodyLength) +
          "\r\nConnection: Keep-Alive\r\nCache-Control: no-cache\r\n\r\n");
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
  // The exchange ran on this very thread: nobody waits for a signal.
  static_cast<RequestCore*>(context)->exchangeDone_ = true;
}

bool RequestCore::Conclude(WinHttpClient& client, bool sent) {
  // Exchanges run on the routine's own thread (WinHttpClient::SetRunOnCallerThread), so the
  // exchange has ended when the send returns.
  if (!sent || !exchangeDone_ || !client.HasStatus()) {
    result_ = VESK_HTTP_SEND_FAILED;  // nothing came back: refused, reset, timed out
    return false;
  }
  if (client.GetStatus() != 200) {
    result_ = VESK_HTTP_BAD_HTTP_STATUS;
    return false;
  }
  if (!client.IsReplyComplete()) {
    result_ = VESK_HTTP_SEND_FAILED;  // a reply cut short is never taken for a whole one
    return false;
  }
  // The reply stays UTF-8, as it came: parsers convert only the values they keep.
  client.TakeResponseUtf8(replyText_);
  return true;
}

bool RequestCore::CallWithFile(const HttpCall& call, const FileTransfer& transfer) {
  WinHttpClient client(Url(call.path), cancelFlagPtr_, false);
  const bool upload = !transfer.head.empty() || !transfer.tail.empty();
  exchangeDone_ = false;
  bool sent;
  if (upload) {
    // A resume offset past the end makes this length disagree with what the client would
    // send, and the client then refuses to start the exchange.
    Configure(
        client, call.headers,
        transfer.head.size() + transfer.tail.size() + transfer.fileSize - transfer.resumeOffset);
    client.SetHeadPart(transfer.head);
    client.SetTailPart(transfer.tail);
    client.SetFileBytesSent(transfer.resumeOffset);
    sent =
        client.SendWithSource(L"POST", transfer.source, transfer.sourceContext, transfer.fileSize,
                              this, &OnExchangeDone, userData_, progressCallback_, notifyCallback_);
  } else {
    Configure(client, call.headers, call.body.size());
    if (!call.body.empty()) client.SetBodyPart(call.body);
    client.SetFileBytesReceived(transfer.resumeOffset);
    sent = client.SendWithFile(L"POST", transfer.file, this, &OnExchangeDone, userData_,
                               progressCallback_, notifyCallback_);
  }
  if (Conclude(client, sent)) return true;
  if (client.LocalFileFailed()) result_ = VESK_HTTP_INVALID_REQUEST;
  return false;
}

bool RequestCore::CallToSink(const HttpCall& call, const SinkTransfer& transfer,
                             std::uint64_t& delivered) {
  WinHttpClient client(Url(call.path), cancelFlagPtr_, false);
  Configure(client, call.headers, call.body.size());
  if (call.post && !call.body.empty()) client.SetBodyPart(call.body);
  client.SetFileBytesReceived(transfer.offset);
  exchangeDone_ = false;
  const bool sent = client.SendToSink(call.post ? L"POST" : L"GET", transfer.sink, transfer.context,
                                      transfer.limit, this, &OnExchangeDone, userData_,
                                      progressCallback_, notifyCallback_);
  delivered = client.BytesToSink();
  // Only a 200 reply reaches the sink, so a satisfied read has its status; the rest of the
  // reply, cut off or not, is of no matter.
  if (sent && exchangeDone_ && client.SinkSatisfied()) return true;
  return Conclude(client, sent);
}

bool RequestCore::Call(const HttpCall& call) {
  WinHttpClient client(Url(call.path), cancelFlagPtr_, call.ignoreCancel);
  Configure(client, call.headers, call.body.size());
  if (call.post && !call.body.empty()) client.SetBodyPart(call.body);
  exchangeDone_ = false;
  const bool sent = client.Send(call.post ? L"POST" : L"GET", this, &OnExchangeDone);
  return Conclude(client, sent);
}

}  // namespace vesk
