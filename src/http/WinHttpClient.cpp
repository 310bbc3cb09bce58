#include "http/WinHttpClient.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cwctype>
#include <utility>
#include <vector>

#include "http/CancelFlag.h"
#include "platform/Text.h"

namespace vesk {
namespace {

// Upload pieces never exceed this, so each one is a single transport write.
constexpr std::uint64_t kFilePiece = 65535;
// Replies collected in memory are small documents; a reply beyond this is not one the
// library can use and fails the exchange instead of exhausting memory.
constexpr std::size_t kMaxReplyInMemory = 64u << 20;
// The body of a refused download is kept only this far, for diagnosis.
constexpr std::size_t kMaxRefusedDownloadBody = 1u << 20;
// A download's bytes arrive in receives of up to kDownloadReceive bytes and go to the file in
// writes of at least kDownloadWrite (but the last), each followed by a progress report: a few
// large writes cost far less than many small ones, for under a megabyte of memory.
constexpr std::size_t kDownloadReceive = 512u << 10;
constexpr std::size_t kDownloadWrite = 256u << 10;
// The smallest receive a ranged read asks for: libcurl's own default.
constexpr std::size_t kSmallestReceive = 16u << 10;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

struct CrackedUrl {
  bool secure = false;
  std::string host;
  unsigned short port = 0;
  std::string target;
};

// Splits an absolute http or https URL into its parts.
bool CrackUrl(const std::string& url, CrackedUrl& out) {
  std::size_t pos;
  if (url.size() >= 7 && EqualsNoCase(std::string_view(url).substr(0, 7), "http://")) {
    out.secure = false;
    pos = 7;
  } else if (url.size() >= 8 && EqualsNoCase(std::string_view(url).substr(0, 8), "https://")) {
    out.secure = true;
    pos = 8;
  } else {
    return false;
  }
  const std::size_t end = url.find_first_of("/?", pos);
  std::string_view authority(url.data() + pos, (end == std::string::npos ? url.size() : end) - pos);
  out.target = end == std::string::npos ? "/" : url.substr(end);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);

  std::string_view host = authority, port;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
    }
  } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty() || host.find_first_of(" \t\r\n") != std::string_view::npos) return false;
  out.host = std::string(host);
  if (port.empty()) {
    out.port = out.secure ? 443 : 80;
    return true;
  }
  if (port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit)) return false;
  const int number = std::stoi(std::string(port));
  if (number < 1 || number > 65535) return false;
  out.port = static_cast<unsigned short>(number);
  return true;
}

// Hands each "Name: value" line of text (lines LF or CR LF ended) to take(name, value), both
// trimmed; lines without a name are passed over. false as soon as take returns false.
template <typename Take>
bool ForEachHeaderLine(std::string_view text, Take take) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    const auto colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos || colon == 0) continue;
    if (!take(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)))) return false;
  }
  return true;
}

// The Content-Length a reply head announces; none when it has no such line or a value that is
// not a decimal number.
std::optional<std::uint64_t> ContentLength(std::string_view head) {
  std::optional<std::uint64_t> length;
  ForEachHeaderLine(head, [&](std::string_view name, std::string_view value) {
    if (!EqualsNoCase(name, "Content-Length")) return true;
    std::uint64_t number = 0;
    const auto [at, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error == std::errc() && at == value.data() + value.size() && !value.empty())
      length = number;
    return false;  // the first one counts
  });
  return length;
}

}  // namespace

WinHttpClient::WinHttpClient(std::wstring_view url, const int* cancelFlagPtr, bool ignoreCancel,
                             platform::HttpTransport& transport)
    : WinHttpClient(ToUtf8(url), cancelFlagPtr, ignoreCancel, transport) {}

WinHttpClient::WinHttpClient(std::string url, const int* cancelFlagPtr, bool ignoreCancel,
                             platform::HttpTransport& transport)
    : transport_(transport),
      url_(std::move(url)),
      cancelFlagPtr_(cancelFlagPtr),
      ignoreCancel_(ignoreCancel) {}

void WinHttpClient::SetRequestHeaders(std::wstring_view headers) {
  requestHeaders_ = ToUtf8(headers);
}

void WinHttpClient::SetCaFile(const std::wstring& caFile) { caFile_ = ToUtf8(caFile); }

void WinHttpClient::SetUserAgent(std::wstring_view userAgent) { userAgent_ = ToUtf8(userAgent); }

WinHttpClient::~WinHttpClient() {
  exchange_.reset();  // no transport call runs or will run after this
  Complete();
}

void WinHttpClient::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
  timeouts_.resolveMs = resolveMs;
  timeouts_.connectMs = connectMs;
  timeouts_.sendMs = sendMs;
  timeouts_.receiveMs = receiveMs;
}

bool WinHttpClient::Send(std::wstring_view verb, void* context, HttpCompletion completion) {
  completion_ = completion;
  completionContext_ = context;
  if (!StartExchange(verb)) return FailSend();
  return true;
}

bool WinHttpClient::SendWithSource(std::wstring_view verb, VESK_HTTP_DATA_SOURCE source,
                                   void* sourceContext, std::uint64_t fileSize, void* context,
                                   HttpCompletion completion, void* progressContext,
                                   VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                                   VESK_HTTP_NOTIFY_CALLBACK notifyCallback) {
  source_ = source;
  sourceContext_ = sourceContext;
  fileSize_ = fileSize;
  startFileBytesSent_ = fileBytesSent_;
  // The file's bytes travel only between a head and a tail.
  const bool usable = source && head_.set;
  return StartFileExchange(verb, usable ? FileMode::Upload : FileMode::None, context, completion,
                           progressContext, progressCallback, notifyCallback);
}

bool WinHttpClient::SendWithFile(std::wstring_view verb, platform::LocalFile* file, void* context,
                                 HttpCompletion completion, void* progressContext,
                                 VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                                 VESK_HTTP_NOTIFY_CALLBACK notifyCallback) {
  file_ = file;
  const bool usable = file && file->IsOpen() && !head_.set && !tail_.set;
  return StartFileExchange(verb, usable ? FileMode::Download : FileMode::None, context, completion,
                           progressContext, progressCallback, notifyCallback);
}

bool WinHttpClient::SendToSink(std::wstring_view verb, VESK_HTTP_DATA_SINK sink, void* sinkContext,
                               std::uint64_t limit, void* context, HttpCompletion completion,
                               void* progressContext, VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                               VESK_HTTP_NOTIFY_CALLBACK notifyCallback) {
  sink_ = sink;
  sinkContext_ = sinkContext;
  sinkLimit_ = limit;
  const bool usable = sink && !head_.set && !tail_.set;
  return StartFileExchange(verb, usable ? FileMode::Sink : FileMode::None, context, completion,
                           progressContext, progressCallback, notifyCallback);
}

bool WinHttpClient::StartFileExchange(std::wstring_view verb, FileMode mode, void* context,
                                      HttpCompletion completion, void* progressContext,
                                      VESK_HTTP_PROGRESS_CALLBACK progressCallback,
                                      VESK_HTTP_NOTIFY_CALLBACK notifyCallback) {
  completion_ = completion;
  completionContext_ = context;
  if (mode == FileMode::None) return FailSend();  // nothing for the file's bytes to travel by
  fileMode_ = mode;
  progressContext_ = progressContext;
  progressCallback_ = progressCallback;
  notifyCallback_ = notifyCallback;
  if (!StartExchange(verb)) return FailSend();
  return true;
}

bool WinHttpClient::StartExchange(std::wstring_view verb) {
  if (url_.empty()) return false;
  std::string method = ToUtf8(verb);
  std::transform(method.begin(), method.end(), method.begin(), ::toupper);
  if (method != "GET" && method != "POST") return false;

  CrackedUrl url;
  if (!CrackUrl(url_, url)) return false;
  hostName_ = url.host;

  platform::TransportRequest request;
  request.method = method;
  request.secure = url.secure;
  request.host = std::move(url.host);
  request.port = url.port;
  request.target = std::move(url.target);
  request.userAgent = userAgent_;
  request.verifyCertificate = verifyCertificate_;
  request.caFile = caFile_;
  request.certificatePin = certificatePin_;
  request.timeouts = timeouts_;

  // Header lines: a repeated name joins the first one's value; Content-Length is the body's
  // announced length, which the transport sends itself.
  std::optional<std::uint64_t> declaredLength;
  std::vector<std::pair<std::string, std::string>> headers;
  const bool headersValid = ForEachHeaderLine(requestHeaders_, [&](std::string_view name,
                                                                   std::string_view value) {
    if (EqualsNoCase(name, "Content-Length")) {
      if (value.empty() || !std::all_of(value.begin(), value.end(), ::isdigit) || value.size() > 19)
        return false;
      declaredLength = std::stoull(std::string(value));
      return true;
    }
    auto same = std::find_if(headers.begin(), headers.end(),
                             [&](const auto& h) { return EqualsNoCase(h.first, name); });
    if (same != headers.end()) {
      same->second += "; ";
      same->second += value;
    } else {
      headers.emplace_back(name, value);
    }
    return true;
  });
  if (!headersValid) return false;
  for (const auto& [name, value] : headers) request.headers.push_back(name + ": " + value);

  if (fileMode_ == FileMode::Download) request.receiveBufferBytes = kDownloadReceive;
  // A ranged read receives in pieces of about its length (within the download's bounds): a
  // short read then takes few bytes from the connection that it would only throw away.
  if (fileMode_ == FileMode::Sink)
    request.receiveBufferBytes = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(sinkLimit_, kSmallestReceive, kDownloadReceive));
  if (method == "POST") {
    const bool upload = fileMode_ == FileMode::Upload;
    if (upload && fileBytesSent_ > fileSize_) return false;  // resume offset past the end
    const std::uint64_t total = body_.bytes.size() + head_.bytes.size() + tail_.bytes.size() +
                                (upload ? fileSize_ - fileBytesSent_ : 0);
    // The announced length must be the length that goes out: a body sent short or long
    // would corrupt the exchange.
    if (declaredLength && *declaredLength != total) return false;
    request.bodyLength = total;
    // A body that is only the body part is in memory whole: it goes out with the head.
    if (!head_.set && !tail_.set && fileMode_ != FileMode::Upload) request.wholeBody = body_.bytes;
  }

  // On the caller's thread the exchange has ended, and the completion callback run, when Run
  // returns true.
  if (runOnCallerThread_) return transport_.Run(request, *this);
  exchange_ = transport_.Start(request, *this);
  return exchange_ != nullptr;
}

bool WinHttpClient::FailSend() {
  exchange_.reset();
  Complete();
  return false;
}

void WinHttpClient::Complete() {
  // The completion callback is the last use of the client by the exchange.
  if (HttpCompletion completion = std::exchange(completion_, nullptr))
    completion(completionContext_, this);
}

void WinHttpClient::ReportProgress(int operation, std::uint64_t total) {
  // Totals never go backwards, also when the transport resends a body from its start.
  if (static_cast<long long>(total) <= lastReported_) return;
  lastReported_ = static_cast<long long>(total);
  if (progressCallback_) progressCallback_(progressContext_, lastReported_);
  if (notifyCallback_) {
    _VESK_HTTP_NOTIFY_INFO_ info{VESK_HTTP_IN_PROGRESS, operation, 0,
                                 lastReported_,         nullptr,   progressContext_};
    notifyCallback_(&info);
  }
}

long long WinHttpClient::ReadBody(char* buffer, std::size_t max) {
  auto take = [&](Piece& piece) {
    const std::size_t n = std::min(max, piece.bytes.size() - piece.sent);
    std::copy_n(piece.bytes.data() + piece.sent, n, buffer);
    piece.sent += n;
    return static_cast<long long>(n);
  };
  if (body_.set && body_.sent < body_.bytes.size()) return take(body_);
  if (head_.set && head_.sent < head_.bytes.size()) return take(head_);
  if (fileMode_ == FileMode::Upload && fileBytesSent_ < fileSize_) {
    const auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>({kFilePiece, fileSize_ - fileBytesSent_, max}));
    // The source fills the piece, in as many reads as it takes; one that fails or ends before
    // the piece is whole ends the exchange: the device must never get a body with a gap.
    std::size_t filled = 0;
    while (filled < n) {
      const long long got = source_(sourceContext_, static_cast<long long>(fileBytesSent_ + filled),
                                    buffer + filled, static_cast<long long>(n - filled));
      if (got <= 0 || static_cast<std::uint64_t>(got) > n - filled) {
        localFileFailed_ = true;
        return -1;
      }
      filled += static_cast<std::size_t>(got);
    }
    fileBytesSent_ += n;
    ReportProgress(VESK_HTTP_OP_UPLOAD_FILE, fileBytesSent_);
    return static_cast<long long>(n);
  }
  if (tail_.set && tail_.sent < tail_.bytes.size()) return take(tail_);
  return 0;
}

bool WinHttpClient::RewindBody() {
  body_.sent = head_.sent = tail_.sent = 0;
  // The source is read again from the resume offset on.
  fileBytesSent_ = startFileBytesSent_;
  return true;
}

void WinHttpClient::OnHeaders(int status, const std::string& rawHeaders) {
  rawHeaders_ = rawHeaders;
  status_ = status;
  hasStatus_ = true;
  received_.clear();
  // A download writes, and a ranged read hands over, only the file's own bytes: an error page
  // never lands in the file or the sink.
  writeToFile_ = fileMode_ == FileMode::Download && status == 200;
  toSink_ = fileMode_ == FileMode::Sink && status == 200;
  if (fileMode_ == FileMode::Sink) {
    replyLength_ = ContentLength(rawHeaders);
    replyReceived_ = 0;
  }
  // A reply kept in memory takes its announced length at once (within the limit on replies
  // in memory) rather than growing by doubling, which would hold it up to three times over.
  if (fileMode_ == FileMode::None) {
    if (const std::optional<std::uint64_t> length = ContentLength(rawHeaders))
      received_.reserve(
          static_cast<std::size_t>(std::min<std::uint64_t>(*length, kMaxReplyInMemory)));
  }
}

bool WinHttpClient::WriteToFile(const char* data, std::size_t size) {
  if (!file_->WriteAll(data, size)) {  // never leave a gap in the file
    localFileFailed_ = true;
    return false;
  }
  fileBytesReceived_ += size;
  ReportProgress(VESK_HTTP_OP_DOWNLOAD_FILE, fileBytesReceived_);
  return true;
}

bool WinHttpClient::FlushDownload() {
  if (pendingWrite_.empty()) return true;
  const bool written = WriteToFile(pendingWrite_.data(), pendingWrite_.size());
  pendingWrite_.clear();
  return written;
}

bool WinHttpClient::HandToSink(const char* data, std::size_t size) {
  replyReceived_ += size;
  if (!sinkSatisfied_) {
    // The bytes go to the sink where the transport put them: no copy, no allocation.
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, sinkLimit_ - bytesToSink_));
    bool more = true;
    if (n > 0) {
      more = sink_(sinkContext_, data, static_cast<long long>(n)) != 0;
      bytesToSink_ += n;
      fileBytesReceived_ += n;
      ReportProgress(VESK_HTTP_OP_DOWNLOAD_FILE, fileBytesReceived_);
    }
    if (more && bytesToSink_ < sinkLimit_) return true;
    sinkSatisfied_ = true;
  }
  // Satisfied: the exchange goes on only to its end, when these were the reply's last bytes, so
  // that the connection stays for the next exchange; otherwise it is cut off here.
  return replyLength_ && replyReceived_ == *replyLength_;
}

bool WinHttpClient::OnBodyData(const char* data, std::size_t size) {
  if (toSink_) return HandToSink(data, size);
  if (fileMode_ == FileMode::Sink) {
    // A refusal's body is neither the file nor kept: read to its end, so that the connection
    // serves again, unless it is too long to be a mere error page.
    replyReceived_ += size;
    return replyReceived_ <= kMaxRefusedDownloadBody;
  }
  if (writeToFile_) {
    // Small receives are gathered; a large one goes straight to the file.
    if (pendingWrite_.empty() && size >= kDownloadWrite) return WriteToFile(data, size);
    if (pendingWrite_.capacity() < kDownloadWrite) pendingWrite_.reserve(2 * kDownloadWrite);
    pendingWrite_.append(data, size);
    return pendingWrite_.size() < kDownloadWrite || FlushDownload();
  }
  if (fileMode_ == FileMode::Download) {
    const std::size_t room =
        kMaxRefusedDownloadBody - std::min(kMaxRefusedDownloadBody, received_.size());
    received_.append(data, std::min(size, room));
    return true;
  }
  if (received_.size() + size > kMaxReplyInMemory) return false;
  received_.append(data, size);
  return true;
}

bool WinHttpClient::ShouldStop() {
  const bool honour = fileMode_ != FileMode::None || !ignoreCancel_;
  return honour && cancelFlagPtr_ && LoadFlag(cancelFlagPtr_) != 0;
}

void WinHttpClient::OnComplete(platform::ExchangeEnd end) {
  replyComplete_ = end == platform::ExchangeEnd::Completed;
  // Whatever ended the exchange, every byte received is in the file before anyone hears of
  // the end, so that a resume from the file's size loses nothing. A download whose last bytes
  // cannot be written has failed.
  if (writeToFile_ && !FlushDownload()) replyComplete_ = false;
  std::string().swap(pendingWrite_);
  // Only a whole reply is ever read.
  if (!replyComplete_) std::string().swap(received_);
  Complete();
}

std::string_view WinHttpClient::GetResponseUtf8() const {
  // The text ends at its first zero byte.
  const std::string_view reply = received_;
  return reply.substr(0, reply.find('\0'));
}

void WinHttpClient::TakeResponseUtf8(std::string& out) {
  const std::size_t zero = received_.find('\0');
  if (zero != std::string::npos) received_.resize(zero);
  out.swap(received_);
  received_.clear();
}

std::wstring WinHttpClient::GetResponseText() const {
  // A quoted "utf-8" charset and this platform's narrow code page both decode as UTF-8,
  // invalid sequences becoming U+FFFD.
  return FromUtf8(GetResponseUtf8());
}

std::wstring WinHttpClient::GetRawHeaders() const { return FromUtf8(rawHeaders_); }

std::wstring WinHttpClient::GetHostName() const { return FromUtf8(hostName_); }

int WinHttpClient::ParseStatusCode(std::wstring_view text) {
  std::wstring cleaned;
  for (const wchar_t c : text)
    if (c != L',' && c != L' ') cleaned.push_back(c);
  std::size_t i = 0;
  while (i < cleaned.size() && std::iswspace(static_cast<wint_t>(cleaned[i]))) ++i;
  bool negative = false;
  if (i < cleaned.size() && (cleaned[i] == L'+' || cleaned[i] == L'-'))
    negative = cleaned[i++] == L'-';
  long long value = 0;
  for (; i < cleaned.size() && cleaned[i] >= L'0' && cleaned[i] <= L'9'; ++i) {
    value = value * 10 + (cleaned[i] - L'0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

std::wstring WinHttpClient::FindCharset(std::wstring_view rawHeaders) {
  std::wstring lower(rawHeaders);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) {
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  });
  constexpr std::wstring_view kKey = L"charset=\"";
  for (std::size_t at = lower.find(kKey); at != std::wstring::npos; at = lower.find(kKey, at + 1)) {
    const std::size_t begin = at + kKey.size();
    std::size_t end = begin;
    while (end < rawHeaders.size() &&
           (std::iswalnum(static_cast<wint_t>(rawHeaders[end])) || rawHeaders[end] == L'-' ||
            rawHeaders[end] == L'_') &&
           rawHeaders[end] < 0x80)
      ++end;
    if (end > begin && end < rawHeaders.size() && rawHeaders[end] == L'"')
      return std::wstring(rawHeaders.substr(begin, end - begin));
  }
  return {};
}

}  // namespace vesk
