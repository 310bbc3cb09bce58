// One HTTP or HTTPS exchange with the device.
//
// A command routine constructs a client for a URL, configures it, calls Send (the reply is
// collected in memory and decoded to wide text), SendWithSource (a file's bytes, read through a
// data source, are sent inside the body), SendWithFile (the reply is written into a local file)
// or SendToSink (the reply is handed to a data sink), waits until the completion callback has run,
// reads the status and the reply, and destroys the client. Send returns at once; the
// completion callback then runs exactly once, on the transport's thread. A Send that returns
// false has already called it. A client set to run on the caller's thread carries the whole
// exchange out inside Send, which calls the completion callback before it returns.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "VeskHttp.h"
#include "platform/HttpTransport.h"
#include "platform/LocalFile.h"

namespace vesk {

class WinHttpClient;
using HttpCompletion = void (*)(void* context, WinHttpClient* client);

class WinHttpClient final : private platform::ExchangeHandler {
 public:
  // The cancel flag (may be null) stops the exchange as soon as it reads non-zero, unless
  // ignoreCancel is set; a file transfer always honours it.
  WinHttpClient(std::wstring_view url, const int* cancelFlagPtr, bool ignoreCancel,
                platform::HttpTransport& transport = platform::DefaultTransport());
  // The same with the URL already in UTF-8.
  WinHttpClient(std::string url, const int* cancelFlagPtr, bool ignoreCancel,
                platform::HttpTransport& transport = platform::DefaultTransport());
  WinHttpClient(const WinHttpClient&) = delete;
  WinHttpClient& operator=(const WinHttpClient&) = delete;
  // Completes an exchange that is still open (its completion callback runs from here).
  ~WinHttpClient() override;

  // ---- configuration, before sending ----
  // Milliseconds, 0 for no limit. Defaults: resolve 0, connect 60000, send 30000, receive
  // 30000.
  void SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);
  void SetUserAgent(std::wstring_view userAgent);
  void SetUserAgentUtf8(std::string userAgent) { userAgent_ = std::move(userAgent); }
  // Extra header lines, each ended by CR LF. A repeated name is merged into one header with
  // the values joined by "; ". A Content-Length line announces the body's length.
  void SetRequestHeaders(std::wstring_view headers);
  void SetRequestHeadersUtf8(std::string headers) { requestHeaders_ = std::move(headers); }
  // HTTPS: whether the certificate must chain to a trusted authority and name the host (by
  // default it is not checked); the PEM file of the authorities to trust instead of the
  // system's store (empty: the system's); and the SHA-256 digest (32 bytes) the certificate
  // must have, checked whether or not it is verified (empty: none).
  void SetVerifyCertificate(bool verify) { verifyCertificate_ = verify; }
  void SetCaFile(const std::wstring& caFile);
  void SetCertificatePin(std::string sha256) { certificatePin_ = std::move(sha256); }
  // The request body in up to three pieces, sent as body, head, file, tail.
  void SetBodyPart(std::string bytes) { body_.bytes = std::move(bytes), body_.set = true; }
  void SetHeadPart(std::string bytes) { head_.bytes = std::move(bytes), head_.set = true; }
  void SetTailPart(std::string bytes) { tail_.bytes = std::move(bytes), tail_.set = true; }
  // Resume offsets: file bytes the device already has (upload), or the bytes of the file before
  // the first one the reply brings (download, ranged read). Progress totals include them.
  void SetFileBytesSent(std::uint64_t bytes) { fileBytesSent_ = bytes; }
  void SetFileBytesReceived(std::uint64_t bytes) { fileBytesReceived_ = bytes; }
  // true: the sends carry the exchange out on the calling thread and return once it
  // has ended, so that a caller that would only wait saves two thread switches; progress is
  // then reported on this thread. false (the default): the transport's own thread does it.
  void SetRunOnCallerThread(bool inlineRun) { runOnCallerThread_ = inlineRun; }

  // ---- sending ----
  // verb is "GET" or "POST" in any case.
  bool Send(std::wstring_view verb, void* context, HttpCompletion completion);
  // An upload: with a head part set, the file's bytes go between head and tail in pieces of at
  // most 65535 bytes until fileSize bytes have been sent, read through source at offsets from
  // the resume offset on (again from there when the transport sends the body anew). A source
  // that fails or ends early fails the exchange: the body never goes out with a gap. Progress is
  // reported after each piece with the running total, to the progress callback and as an
  // in-progress notification.
  bool SendWithSource(std::wstring_view verb, VESK_HTTP_DATA_SOURCE source, void* sourceContext,
                      std::uint64_t fileSize, void* context, HttpCompletion completion,
                      void* progressContext, VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                      VESK_HTTP_NOTIFY_CALLBACK notifyCallback);
  // A download: without head and tail, a 200 reply is written into the file (open for writing,
  // positioned where the data belongs); any other reply stays in memory. Progress is reported as
  // for an upload. A download's pieces are written in groups of at least 256 KiB; when the
  // exchange ends, in whatever way, every byte received has been written before the completion
  // callback runs.
  bool SendWithFile(std::wstring_view verb, platform::LocalFile* file, void* context,
                    HttpCompletion completion, void* progressContext,
                    VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                    VESK_HTTP_NOTIFY_CALLBACK notifyCallback);
  // A ranged read: the bytes of a 200 reply go to sink as the transport hands them over, at most
  // limit of them, with a progress report after each piece; any other reply is dropped (and cut
  // off when it is longer than an error page would be). The read is satisfied once the sink
  // returns 0 or limit bytes went to it. The exchange then goes on only when that was the
  // reply's last byte, so that its connection serves the next one; a reply with bytes left is
  // cut off, and its connection closed.
  bool SendToSink(std::wstring_view verb, VESK_HTTP_DATA_SINK sink, void* sinkContext,
                  std::uint64_t limit, void* context, HttpCompletion completion,
                  void* progressContext, VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                  VESK_HTTP_NOTIFY_CALLBACK notifyCallback);

  // ---- results, read after the completion callback has run ----
  // "200"; empty without a reply
  std::wstring GetStatusText() const {
    return hasStatus_ ? std::to_wstring(status_) : std::wstring();
  }
  bool HasStatus() const { return hasStatus_; }
  int GetStatus() const { return status_; }  // 0 without a reply
  // The reply decoded to wide text: it ends at its first zero byte, and invalid UTF-8 becomes
  // U+FFFD. Empty unless the whole reply arrived (and for a download written to its file).
  std::wstring GetResponseText() const;
  // The same reply as the bytes that came, up to the first zero byte.
  std::string_view GetResponseUtf8() const;
  // Moves the reply of GetResponseUtf8 into out; the client no longer holds it.
  void TakeResponseUtf8(std::string& out);
  // The reply's head decoded from the bytes that came; decoded each time it is asked for.
  std::wstring GetRawHeaders() const;
  std::wstring GetCharset() const { return FindCharset(GetRawHeaders()); }
  std::wstring GetHostName() const;
  // true only when the whole reply arrived; false when the exchange failed, was stopped or
  // was cut short, whatever status came before.
  bool IsReplyComplete() const { return replyComplete_; }
  // true when the exchange failed because the upload's source could not be read, or the
  // download's file written.
  bool LocalFileFailed() const { return localFileFailed_; }
  // A ranged read: the bytes handed to the sink, and whether the read was satisfied (the sink
  // stopped it, or it took its limit), which a reply cut off after that does not undo.
  std::uint64_t BytesToSink() const { return bytesToSink_; }
  bool SinkSatisfied() const { return sinkSatisfied_; }
  std::uint64_t GetFileBytesSent() const { return fileBytesSent_; }
  std::uint64_t GetFileBytesReceived() const { return fileBytesReceived_; }

  // The status as a number: "," and spaces removed, then an optional sign and the leading
  // digits; no digits read as 0.
  static int ParseStatusCode(std::wstring_view text);
  // The charset named in double quotes by "charset=" in a header block (case-insensitive);
  // empty when there is none.
  static std::wstring FindCharset(std::wstring_view rawHeaders);

 private:
  struct Piece {
    std::string bytes;
    bool set = false;
    std::size_t sent = 0;
  };

  // What the body's or the reply's file bytes travel through.
  enum class FileMode { None, Upload, Download, Sink };

  bool StartFileExchange(std::wstring_view verb, FileMode mode, void* context,
                         HttpCompletion completion, void* progressContext,
                         VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                         VESK_HTTP_NOTIFY_CALLBACK notifyCallback);
  bool StartExchange(std::wstring_view verb);
  bool FailSend();
  void Complete();
  void ReportProgress(int operation, std::uint64_t total);
  // Download: writes bytes to the file and reports progress; false (the local file failed)
  // when they could not all be written.
  bool WriteToFile(const char* data, std::size_t size);
  // Writes the gathered bytes of a download.
  bool FlushDownload();
  // Ranged read: hands bytes of a 200 reply to the sink; false ends the exchange.
  bool HandToSink(const char* data, std::size_t size);

  // platform::ExchangeHandler, called on the transport's thread.
  long long ReadBody(char* buffer, std::size_t max) override;
  bool RewindBody() override;
  void OnHeaders(int status, const std::string& rawHeaders) override;
  bool OnBodyData(const char* data, std::size_t size) override;
  bool ShouldStop() override;
  void OnComplete(platform::ExchangeEnd end) override;

  platform::HttpTransport& transport_;
  std::unique_ptr<platform::Exchange> exchange_;

  std::string url_;  // UTF-8
  const int* cancelFlagPtr_;
  bool ignoreCancel_;
  bool runOnCallerThread_ = false;
  bool verifyCertificate_ = false;
  std::string caFile_;
  std::string certificatePin_;
  std::string userAgent_ = "WinHttpClient";
  std::string requestHeaders_;
  platform::TransportTimeouts timeouts_;
  Piece body_, head_, tail_;

  HttpCompletion completion_ = nullptr;
  void* completionContext_ = nullptr;

  // File mode.
  FileMode fileMode_ = FileMode::None;
  VESK_HTTP_DATA_SOURCE source_ = nullptr;  // upload
  void* sourceContext_ = nullptr;
  platform::LocalFile* file_ = nullptr;  // download
  VESK_HTTP_DATA_SINK sink_ = nullptr;   // ranged read
  void* sinkContext_ = nullptr;
  std::uint64_t sinkLimit_ = 0;
  std::uint64_t bytesToSink_ = 0;
  bool sinkSatisfied_ = false;
  std::optional<std::uint64_t> replyLength_;  // the 200 reply's announced length, if any
  std::uint64_t replyReceived_ = 0;           // its bytes so far
  std::uint64_t fileSize_ = 0;
  std::uint64_t fileBytesSent_ = 0;
  std::uint64_t fileBytesReceived_ = 0;
  std::uint64_t startFileBytesSent_ = 0;
  long long lastReported_ = -1;
  void* progressContext_ = nullptr;
  VESK_HTTP_PROGRESS_CALLBACK progressCallback_ = nullptr;
  VESK_HTTP_NOTIFY_CALLBACK notifyCallback_ = nullptr;
  bool writeToFile_ = false;  // a download's 200 reply: its bytes go into the file
  bool toSink_ = false;       // a ranged read's 200 reply: its bytes go to the sink
  bool localFileFailed_ = false;
  std::string pendingWrite_;  // download bytes received but not yet written

  // Results, kept as the bytes that came until someone asks for them as wide text.
  std::string hostName_;
  std::string rawHeaders_;
  int status_ = 0;
  bool hasStatus_ = false;
  std::string received_;  // the reply; after completion only when the whole reply arrived
  bool replyComplete_ = false;
};

}  // namespace vesk
