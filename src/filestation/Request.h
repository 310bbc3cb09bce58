// The machinery every request of both services shares: a copy of what it needs, its run
// on the caller's thread or on a worker of its own, cancellation, and the command-routine
// skeleton's exchange with the device.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "VeskHttp.h"
#include "filestation/Threads.h"
#include "http/CancelFlag.h"

namespace vesk {

class WinHttpClient;
namespace platform {
class LocalFile;
}

// How HTTPS exchanges check the device's certificate. By default they accept any.
struct TlsSettings {
  bool verifyCertificate = false;  // it must chain to a trusted authority and name the host
  std::wstring caFile;             // with verifyCertificate: the authorities to trust (PEM)
                                   // instead of the system's; empty: the system's
  std::string certificatePin;      // 32 bytes: the SHA-256 digest it must have; empty: any
};

// What a station hands a request; the request keeps its own copy.
struct RequestDescriptor {
  int command = 0;
  int asynchronous = 0;
  std::wstring host;
  int port = 0;
  int ssl = 0;
  std::map<std::wstring, std::wstring, std::less<>> stringParams;
  std::map<std::wstring, long long, std::less<>> intParams;
  std::wstring agentName;
  int timeout = 0;  // milliseconds for all four HTTP limits; 0 or less keeps the defaults
  TlsSettings tls;
  void* userData = nullptr;
  VESK_HTTP_PROGRESS_CALLBACK progressCallback = nullptr;           // synchronous file service
  VESK_HTTP_NOTIFY_CALLBACK notifyCallback = nullptr;               // asynchronous file service
  VESK_HTTP_SYSTEM_NOTIFY_CALLBACK systemNotifyCallback = nullptr;  // asynchronous system
  VESK_HTTP_DATA_SOURCE dataSource = nullptr;  // an upload from the caller's reader
  VESK_HTTP_DATA_SINK dataSink = nullptr;      // a ranged read's sink
};

// The extra request headers of an exchange.
enum class RequestHeaders {
  None,       // no extra header
  NoCache,    // "Cache-Control: no-cache", "Pragma: no-cache", "Connection: Keep-Alive"
  Form,       // a form POST: content type, length and "Connection: Keep-Alive"
  Multipart,  // an upload: "Accept: text/*", the multipart content type and length,
              // "Connection: Keep-Alive" and "Cache-Control: no-cache"
};

// The boundary of every upload's multipart form. The body uses it unchanged as its delimiter
// line, without the two leading hyphens the standard form adds: the device expects that.
inline constexpr char kMultipartBoundary[] = "----------gL6GI3KM7cH2Ij5ae0Ef1gL6ei4Ef1";

// A file that travels inside an exchange: its bytes sent between an upload's multipart head and
// tail, read through a data source; or, with neither, a download's reply written into a local
// file.
struct FileTransfer {
  VESK_HTTP_DATA_SOURCE source = nullptr;  // an upload's bytes, read at offsets of the file
  void* sourceContext = nullptr;
  platform::LocalFile* file = nullptr;  // a download's file, open and positioned where the
                                        // reply's first byte belongs
  std::uint64_t fileSize = 0;           // an upload's whole file size; 0 for a download
  std::uint64_t resumeOffset = 0;       // bytes the device already holds (upload) or the local
                                        // file already holds (download); progress counts from it
  std::string head, tail;               // an upload's multipart pieces
};

// Where a ranged read's bytes go: at most `limit` bytes of a 200 reply to sink(context, ...),
// the reply's first byte being byte `offset` of the file (progress counts from it).
struct SinkTransfer {
  VESK_HTTP_DATA_SINK sink = nullptr;
  void* context = nullptr;
  std::uint64_t offset = 0;
  std::uint64_t limit = 0;
};

// One exchange of a command routine.
struct HttpCall {
  std::wstring path;  // after "/cgi-bin/", query included
  bool post = false;
  RequestHeaders headers = RequestHeaders::None;
  std::string body;           // the form body of a POST
  bool ignoreCancel = false;  // for requests that must go through although cancel is set
};

// For tests: when set, every Cancel of a handle calls it on its own thread as soon as it is
// inside its request (from then on the release waits for it), before it does anything else.
void SetCancelEnteredHook(void (*hook)());

class RequestCore : private PoolJob {
 public:
  explicit RequestCore(RequestDescriptor descriptor);
  RequestCore(const RequestCore&) = delete;
  RequestCore& operator=(const RequestCore&) = delete;
  virtual ~RequestCore();

  // Synchronous: runs the request on this thread, watching the caller's flag, and returns
  // its result. Asynchronous: starts the worker, watching the request's own flag; 0, or
  // VESK_HTTP_THREAD_FAILED.
  int Start(int* callerCancelFlag);

  // ---- handles ----
  // A request that a caller holds as a handle may be cancelled on one thread while it is
  // released on another. Cancel knows nothing but the handle's address, and the release may
  // free the request at any moment, so a Cancel must not read the request before it knows the
  // request is still held. Handles are therefore counted outside the requests, in one table of
  // the process: a request is entered there before its handle can be seen (before its run
  // starts, since its notification carries the handle too) and retired by its release, which
  // first waits for every Cancel inside it; a Cancel that finds its request retired returns at
  // once without touching it.
  //
  // Enters a request into the table of handles.
  static void Publish(const RequestCore* request);
  // Takes a request off the table once no Cancel is inside it; from then on no Cancel enters.
  // The release frees the request after this.
  static void Retire(const RequestCore* request) noexcept;
  // The Cancel of a handle: CancelAndJoin on a published request, nothing on one that is
  // not (any more). Returns 1.
  static int CancelHandle(RequestCore* request) noexcept;

  // Sets the cancel flag, stops a request that has not begun, wakes a waiting routine and
  // waits for the worker. A finished request returns at once. Returns 1.
  //
  // Safe to overlap: a Cancel (CancelHandle) and the release may come from two threads at
  // once, and a second Cancel too. The release does not free the request while a Cancel is
  // inside it; under the worker lock the second to come waits for the first and then finds
  // nothing left to do, so a worker is joined once. On the worker itself (its notification
  // callback) and on the transport's thread (a progress notification) it only signals the
  // stop: waiting there would wait for the very thread that has to finish the request.
  int CancelAndJoin();
  // The same before the request is freed: it waits for the worker on any thread but the
  // worker's own.
  void JoinForRelease();
  // True on the request's own worker thread (a notification callback runs there).
  bool OnWorkerThread() const;
  // False where a release would wait for a thread that waits for it: on the request's own
  // worker, and on the transport's thread (a progress notification) while a worker runs.
  bool MayReleaseHere() const;
  int Result() const { return result_; }
  int Command() const { return command_; }
  bool Asynchronous() const { return asynchronous_ != 0; }

  // ---- for command routines ----
  const std::wstring& Str(std::wstring_view key) const;  // empty when absent
  long long Int(std::wstring_view key, long long fallback = 0) const;
  void SetResult(int result) { result_ = result; }
  // Percent-encodes a value and converts it to UTF-8 for a query or a form body. false when
  // the cancel flag stopped the encoding: the value must not be sent, and the result is set.
  bool Encode(const std::wstring& value, std::string& out);
  bool Encode(const std::wstring& value, std::wstring& out);
  // One exchange with the device. true when the device answered 200 with a whole reply,
  // which ReplyText() then holds; otherwise the result is set (100 when no status arrived or
  // the reply was cut short, 101 for another status) and false is returned.
  bool Call(const HttpCall& call);
  // One exchange carrying a file (see FileTransfer), with the outcome of Call; a source that
  // cannot be read, or a local file that cannot be written, during the exchange gives
  // VESK_HTTP_INVALID_REQUEST. A download's ReplyText() is empty. The progress callbacks of the
  // request are reported to after every piece of the file.
  bool CallWithFile(const HttpCall& call, const FileTransfer& transfer);
  // One exchange whose 200 reply goes to a sink (see SinkTransfer), with the outcome of Call,
  // but that a read the sink stopped, or that took its limit, has succeeded whatever became of
  // the rest of the reply. `delivered` receives the bytes handed to the sink, whatever the
  // outcome; the progress callbacks are reported to after every piece.
  bool CallToSink(const HttpCall& call, const SinkTransfer& transfer, std::uint64_t& delivered);
  const std::string& ReplyText() const { return replyText_; }
  // Frees the reply's text once it has been read.
  void DiscardReply() { std::string().swap(replyText_); }
  // true when the cancel flag reads 1: the request has been cancelled.
  bool Cancelled() const;
  // true when the cancel flag reads anything but 0: the request is to stop.
  bool FlagSet() const;
  // Waits between two status queries of a device job; false, at once, when the request is
  // to stop. The cancel flag is looked at every few tens of milliseconds.
  bool Pause(std::chrono::milliseconds duration);
  void* UserData() const { return userData_; }
  VESK_HTTP_PROGRESS_CALLBACK ProgressCallback() const { return progressCallback_; }
  VESK_HTTP_NOTIFY_CALLBACK NotifyCallback() const { return notifyCallback_; }
  VESK_HTTP_DATA_SOURCE DataSource() const { return dataSource_; }
  VESK_HTTP_DATA_SINK DataSink() const { return dataSink_; }

 protected:
  virtual void ExecuteCommand() = 0;
  // Sends the completion notification of an asynchronous request.
  virtual void NotifyCompletion() = 0;
  VESK_HTTP_SYSTEM_NOTIFY_CALLBACK SystemNotifyCallback() const { return systemNotifyCallback_; }

  // The routine's body, on the caller's thread or the worker.
  void Run();

 private:
  enum class JobState { Idle, Queued, Running, Done };

  // The asynchronous run on a worker of the pool.
  void RunJob() override;

  void StopAndJoin(bool mayWait);
  // The URL of a path after "/cgi-bin/", in UTF-8.
  std::string Url(const std::wstring& path) const;
  void Configure(WinHttpClient& client, RequestHeaders headers, std::uint64_t bodyLength) const;
  bool Conclude(WinHttpClient& client, bool sent);
  static void OnExchangeDone(void* context, WinHttpClient* client);

  const int command_;
  const int asynchronous_;
  const std::wstring host_;
  const int port_;
  const int ssl_;
  const std::map<std::wstring, std::wstring, std::less<>> stringParams_;
  const std::map<std::wstring, long long, std::less<>> intParams_;
  const std::wstring agentName_;
  const int timeout_;
  const TlsSettings tls_;
  void* const userData_;
  const VESK_HTTP_PROGRESS_CALLBACK progressCallback_;
  const VESK_HTTP_NOTIFY_CALLBACK notifyCallback_;
  const VESK_HTTP_SYSTEM_NOTIFY_CALLBACK systemNotifyCallback_;
  const VESK_HTTP_DATA_SOURCE dataSource_;
  const VESK_HTTP_DATA_SINK dataSink_;

  const std::string baseUrl_;  // "http(s)://host:port/cgi-bin/"
  const std::string agentUtf8_;
  std::atomic<int> result_{VESK_HTTP_SUCCESS};
  std::string replyText_;
  int cancelFlag_ = 0;  // the request's own flag, read through LoadFlag
  int* cancelFlagPtr_ = nullptr;
  ZEvent doneEvent_;
  std::atomic<bool> exchangeDone_{false};
  std::atomic<bool> stopped_{false};
  // Serialises starting, cancelling and joining the worker; held while a cancel waits for it.
  std::mutex workerMutex_;
  // The asynchronous run: where it is, and the signal of its end.
  std::mutex jobMutex_;
  std::condition_variable jobDone_;
  JobState jobState_ = JobState::Idle;  // guarded by jobMutex_
  // The worker's thread while it runs the request, for OnWorkerThread.
  std::atomic<std::thread::id> workerThread_{};
  // From the worker's start until its run has ended.
  std::atomic<bool> workerBusy_{false};
};

}  // namespace vesk
