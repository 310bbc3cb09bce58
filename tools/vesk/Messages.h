// Exit statuses and the one-line messages that tell the user what went wrong.
#ifndef VESK_TOOLS_MESSAGES_H
#define VESK_TOOLS_MESSAGES_H

#include <exception>
#include <string>

namespace vesk::cli {

// vesk's exit statuses; `vesk --help` and the README list them.
enum ExitStatus : int {
  kOk = 0,
  kFailed = 1,        // the device refused or failed the operation, or the item does not exist
  kUsage = 2,         // the command line is wrong, or a password cannot be had
  kLoginRefused = 3,  // wrong user or password, or the session ended
  kUnreachable = 4,   // the device cannot be reached, the connection broke, or it timed out
  kLocalFile = 5,     // a local file or folder cannot be read or written
  kInterrupted = 130  // Ctrl-C
};

// A failure that ends a command or one item of it: the exit status and the message (printed
// as "vesk: MESSAGE").
class Failure : public std::exception {
 public:
  Failure(int status, std::string message) : status_(status), message_(std::move(message)) {}
  int Status() const { return status_; }
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  int status_;
  std::string message_;
};

// The failure with what to do next appended: "MESSAGE; ADVICE".
Failure WithAdvice(const Failure& failure, const std::string& advice);

// The device operations, for the wording of their failures.
enum class Op {
  Login,
  Logout,
  List,
  Stat,
  Search,
  CreateFolder,
  Delete,
  Rename,
  SetTime,
  Copy,
  Move,
  Upload,
  Download,
  ChunkStart,
  ChunkUpload,
  ChunkDelete,
  ShareCreate,
  ShareList,
  ShareDelete,
  Compress,
  ExtractList,
  Extract,
  Address,
  TranscodeAdd,
  TranscodeDelete,
  Link,
  Settings,
  WebFileManager
};

// The failure a library result code means for op on subject (a device path, a local path for
// local-file results, or empty). Connection failures (a failed exchange) are worded by the
// session, which knows the address and the time-out.
Failure ResultFailure(int code, Op op, const std::string& subject);

// Prints "vesk: MESSAGE" on standard error.
void PrintError(const std::string& message);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_MESSAGES_H
