// A streaming reader of multipart/form-data request bodies, for the device's upload
// endpoints. It is fed the body piece by piece through httpd::BodyConsumer, keeps no more of
// it than a delimiter's length plus one part's header block, and hands each part's headers and
// data to a sink as they arrive, so that an uploaded file never sits in memory.
//
// Delimiters: the library's uploads use the declared boundary itself as the delimiter line
// (B), where the standard form is "--" followed by it (--B). The reader takes the style of
// the first delimiter line and expects every later delimiter in that style:
//
//   [preamble CRLF] D [padding] CRLF headers CRLF CRLF data CRLF D [padding] CRLF ...
//   ... data CRLF D "--" [epilogue]
//
// where D is B or --B and padding is spaces or tabs. The body must begin with its first
// delimiter line: neither the library nor common clients send a preamble, and skipping stray
// bytes as one would let a damaged body lose its first part without a word. The epilogue,
// anything after the closing delimiter, is ignored.
#ifndef VESK_EMULATOR_MULTIPART_H
#define VESK_EMULATOR_MULTIPART_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "httpd/HttpServer.h"

namespace vesk::emulator {

// The boundary of a "multipart/form-data; boundary=..." Content-Type (quoted or not, names
// compared without case). nullopt for another media type, a missing boundary, or one that is
// empty, longer than 70 characters, or holds a control character.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

// One part's header block.
struct PartHeaders {
  std::string name;                     // Content-Disposition's name
  std::optional<std::string> filename;  // Content-Disposition's filename, when given
  std::string contentType;              // empty when not given
  httpd::Fields all;                    // every header line, names as sent, values trimmed
};

// Where the reader delivers the parts. Each returns false to stop the reader with an error
// (the sink's own, say a full disk), which the reader then reports.
class MultipartSink {
 public:
  virtual ~MultipartSink() = default;
  virtual bool BeginPart(const PartHeaders& part) = 0;
  // The next piece of the current part's data; pieces may be of any size, empty ones are not
  // delivered.
  virtual bool PartData(const char* data, std::size_t size) = 0;
  // The current part's data is complete: its closing delimiter has arrived.
  virtual bool EndPart() = 0;
};

class MultipartReader : public httpd::BodyConsumer {
 public:
  // Limits on a part's header block, which is the only thing the reader holds in full.
  static constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
  static constexpr std::size_t kMaxPadding = 256;  // spaces or tabs after a delimiter

  // boundary as declared in Content-Type (see MultipartBoundary); sink must outlive the
  // reader.
  MultipartReader(std::string boundary, MultipartSink& sink);

  // Feeds the next piece of the body. Returns false once the body is malformed or the sink
  // has refused; the rest of the body is then ignored.
  bool Write(const char* data, std::size_t size) override;
  // To be called once the whole body has arrived: true when the closing delimiter was read
  // and nothing failed. A body that ends early is an error, and a part that was begun but not
  // ended must be discarded by the sink.
  bool Finish();

  bool Failed() const { return state_ == State::Failed; }
  // Why the reader failed; empty while it has not.
  const std::string& Error() const { return error_; }

 private:
  enum class State { FirstLine, AfterDelimiter, Headers, Data, Epilogue, Failed };

  bool Fail(std::string message);
  // Each reads from the front of input, and returns false on failure. ReadData may leave in
  // carry the bytes after a delimiter it found, and input pointing at them.
  bool ReadFirstLine(std::string_view& input);
  bool ReadAfterDelimiter(std::string_view& input);
  bool ReadHeaders(std::string_view& input);
  bool ReadData(std::string_view& input, std::string& carry);
  bool BeginPart();

  const std::string boundary_;
  MultipartSink& sink_;
  State state_ = State::FirstLine;
  std::string error_;

  // FirstLine: the body's first line so far.
  std::string line_;
  // "\r\n" + the delimiter in the style the first delimiter line chose.
  std::string pattern_;
  // After a delimiter: what followed it so far ("-" of "--", padding, "\r").
  std::string tail_;
  // Headers: the part's header block so far.
  std::string headers_;
  // Data: bytes that may begin a delimiter, held until the next piece tells.
  std::string held_;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_MULTIPART_H
