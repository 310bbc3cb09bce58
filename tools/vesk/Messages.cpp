#include "Messages.h"

#include <cstdio>

#include "VeskHttp.h"

namespace vesk::cli {

namespace {

// What the operation does to its subject, for "the device refused to VERB".
const char* Verb(Op op) {
  switch (op) {
    case Op::Login:
      return "log in";
    case Op::Logout:
      return "log out";
    case Op::List:
      return "list it";
    case Op::Stat:
      return "read its status";
    case Op::Search:
      return "search it";
    case Op::CreateFolder:
      return "create it";
    case Op::Delete:
      return "delete it";
    case Op::Rename:
      return "rename it";
    case Op::SetTime:
      return "set its modification time";
    case Op::Copy:
      return "copy it";
    case Op::Move:
      return "move it";
    case Op::Upload:
      return "take the upload";
    case Op::Download:
      return "send it";
    case Op::ChunkStart:
      return "start a chunked upload";
    case Op::ChunkUpload:
      return "take the chunked upload";
    case Op::ChunkDelete:
      return "drop the unfinished upload";
    case Op::ShareCreate:
      return "create a share link";
    case Op::ShareList:
      return "list the share links";
    case Op::ShareDelete:
      return "delete the share link";
    case Op::Compress:
      return "compress it";
    case Op::ExtractList:
      return "list the archive";
    case Op::Extract:
      return "extract the archive";
    case Op::Address:
      return "tell its addresses";
    case Op::TranscodeAdd:
      return "queue it for transcoding";
    case Op::TranscodeDelete:
      return "remove its transcoded copy";
    case Op::Link:
      return "make the link";
    case Op::Settings:
      return "tell its settings";
    case Op::WebFileManager:
      return "switch the web file manager on";
  }
  return "do it";
}

std::string On(const std::string& subject, const std::string& text) {
  return subject.empty() ? text : subject + ": " + text;
}

}  // namespace

Failure ResultFailure(int code, Op op, const std::string& subject) {
  switch (code) {
    case VESK_HTTP_CANCELLED:
      return Failure(kInterrupted, "interrupted");
    case VESK_HTTP_SERVER_FAILED:
      return Failure(kFailed, On(subject, std::string("the device refused to ") + Verb(op)));
    case VESK_HTTP_SEND_FAILED:
      return Failure(kUnreachable, On(subject, "the exchange with the device failed"));
    case VESK_HTTP_BAD_HTTP_STATUS:
      if (op == Op::Download) {
        return Failure(kFailed,
                       On(subject, "the device refused to send it (missing, or not permitted)"));
      }
      return Failure(kFailed, On(subject, "the device answered with an HTTP error"));
    case VESK_HTTP_INVALID_REQUEST:
      if (op == Op::Download) return Failure(kLocalFile, On(subject, "cannot write this file"));
      if (op == Op::Upload || op == Op::ChunkUpload) {
        return Failure(kLocalFile, On(subject, "cannot read this file"));
      }
      return Failure(kFailed, On(subject, "the request cannot be made"));
    case VESK_HTTP_NOT_LOGGED_IN:
      return Failure(kLoginRefused, "not logged in: the session has ended");
    case VESK_HTTP_LOGIN_FAILED:
      return Failure(kLoginRefused, "login refused: wrong user or password");
    case VESK_HTTP_THREAD_FAILED:
      return Failure(kFailed, "cannot start a worker thread");
    case VESK_HTTP_DEVICE_STATUS_2:
      switch (op) {
        case Op::Copy:
        case Op::Move:
          return Failure(kFailed, On(subject, "already exists there (-f replaces it)"));
        case Op::TranscodeAdd:
          return Failure(kFailed, On(subject, "already queued for transcoding"));
        case Op::Extract:
          return Failure(kFailed, On(subject, "items of the archive already exist there"));
        default:
          return Failure(kFailed, On(subject, "already exists"));
      }
    case VESK_HTTP_DEVICE_STATUS_5:
      if (op == Op::ExtractList) {
        return Failure(kFailed, On(subject, "not an archive the device can read"));
      }
      if (op == Op::ChunkDelete) {
        return Failure(kFailed, On(subject, "the device holds no such unfinished upload"));
      }
      return Failure(kFailed, On(subject, "the device does not take this name or path"));
    case VESK_HTTP_DEVICE_STATUS_4:
      if (op == Op::CreateFolder) {
        return Failure(kFailed, On(subject, "no such parent folder, or it may not be changed"));
      }
      if (op == Op::ChunkStart) return Failure(kFailed, On(subject, "no such folder"));
      return Failure(kFailed, On(subject, "no such file or folder"));
    case VESK_HTTP_DEVICE_STATUS_9:
      return Failure(kFailed, On(subject, "too many unfinished uploads in this folder"));
    case VESK_HTTP_CHUNK_STATUS_5:
      return Failure(kFailed, On(subject, "the device no longer holds this unfinished upload"));
    default:
      return Failure(kFailed, On(subject, std::string("the device refused to ") + Verb(op) +
                                              " (result " + std::to_string(code) + ")"));
  }
}

Failure WithAdvice(const Failure& failure, const std::string& advice) {
  return Failure(failure.Status(), failure.Message() + "; " + advice);
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "vesk: %s\n", message.c_str());
  std::fflush(stderr);
}

}  // namespace vesk::cli
