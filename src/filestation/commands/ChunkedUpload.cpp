// Chunked upload: the device keeps a partial upload under an id between attempts; each
// attempt asks how much it holds and sends the rest of the file, read from a local file or
// through the caller's reader.
#include "filestation/CommandRoutines.h"
#include "filestation/commands/CommandSupport.h"
#include "filestation/commands/TransferReplies.h"
#include "filestation/commands/Transfers.h"

namespace vesk {
namespace {

const std::wstring kUtil = L"filemanager/utilRequest.cgi?func=";

// The values every chunked-upload request names, percent-encoded.
struct UploadFields {
  std::wstring sid, id, root;

  // Encodes the request's values; false with the result set when the cancel flag cut it short.
  bool Read(FSRequest& r) {
    return r.Encode(r.Str(L"sid"), sid) && r.Encode(r.Str(L"UploadID"), id) &&
           r.Encode(r.Str(L"UploadTempPath"), root);
  }
  // "&sid=...&upload_id=...&upload_root_dir=...", the id left out for a start.
  std::wstring Query(bool withId = true) const {
    return L"&sid=" + sid + (withId ? L"&upload_id=" + id : L"") + L"&upload_root_dir=" + root;
  }
};

// Asks the device how many bytes of the upload it holds: the resume offset, or nullopt with
// the result set.
std::optional<std::uint64_t> HeldBytes(FSRequest& r, const UploadFields& upload) {
  if (!r.Call({.path = kUtil + L"get_chunked_upload_status" + upload.Query()})) return std::nullopt;
  CGetChunkFileSizeJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
  } else if (reply.status == 5) {
    r.SetResult(VESK_HTTP_CHUNK_STATUS_5);
  } else if (reply.status != 0 || reply.size < 0) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);  // a negative size is no place to resume at
  } else {
    return static_cast<std::uint64_t>(reply.size);
  }
  return std::nullopt;
}

}  // namespace

void RunStartChunkedUpload(FSRequest& r) {
  UploadFields upload;
  if (!upload.Read(r) || !r.Call({.path = kUtil + L"start_chunked_upload" + upload.Query(false)}))
    return;
  CGetUploadIDJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
  } else if (reply.status == 0) {
    // An upload without an id could never be continued or deleted.
    if (reply.uploadId.empty()) r.SetResult(VESK_HTTP_SERVER_FAILED);
    r.Out().resultString = reply.uploadId;
  } else {
    r.SetResult(reply.status == 4   ? VESK_HTTP_DEVICE_STATUS_4
                : reply.status == 9 ? VESK_HTTP_DEVICE_STATUS_9
                                    : VESK_HTTP_SERVER_FAILED);
  }
}

void RunChunkedUpload(FSRequest& r) {
  // An upload from the caller's reader is checked before anything is sent: its name, size and
  // reader, and a time the device takes.
  const bool fromReader = FromReader(r);
  const std::wstring& name = r.Str(L"UploadDestFileName");
  std::optional<UploadSource> source;
  if (fromReader) {
    source = ReaderSource(r, name);
    if (!source) return;
    if (!DeviceTakesTime(r.Int(L"modifyTime"))) {
      r.SetResult(VESK_HTTP_INVALID_REQUEST);
      return;
    }
  }
  UploadFields upload;
  std::wstring dest, rename;
  if (!upload.Read(r) || !r.Encode(r.Str(L"UploadDestFilePath"), dest) ||
      !r.Encode(r.Str(L"RenameDestFileName"), rename))
    return;
  const auto offset = HeldBytes(r, upload);
  if (!offset || r.Cancelled()) return;

  // A local file is opened only once the device has said where to resume. Its time is its
  // last write; a reader's upload names its own.
  platform::LocalFile file;
  std::optional<std::int64_t> mtime;
  if (fromReader) {
    mtime = r.Int(L"modifyTime");
  } else {
    source = LocalFileSource(r, r.Str(L"UploadFilePath"), file);
    if (!source) return;
    mtime = file.LastWriteTime();
  }
  // The device holding more than the file has means this is not the file it was given;
  // nothing is sent. The same for a file whose time cannot be read.
  if (*offset > source->size || !mtime) {
    r.SetResult(VESK_HTTP_INVALID_REQUEST);
    return;
  }
  // The device gives the finished file this modification time.
  const std::wstring path =
      kUtil + L"chunked_upload&sid=" + upload.sid + L"&upload_id=" + upload.id +
      L"&settime=1&mtime=" + std::to_wstring(*mtime) + L"&offset=" + std::to_wstring(*offset) +
      L"&filesize=" + std::to_wstring(source->size) + L"&dest_path=" + dest + L"&overwrite=" +
      std::to_wstring(r.Int(L"overwrite")) + (rename.empty() ? L"" : L"&rename_dest=" + rename) +
      L"&upload_root_dir=" + upload.root;
  const FileTransfer transfer{.source = source->read,
                              .sourceContext = source->context,
                              .fileSize = source->size,
                              .resumeOffset = *offset,
                              .head = MultipartHead(name),
                              .tail = MultipartTail("chunked_upload")};
  if (!r.CallWithFile({.path = path, .post = true, .headers = RequestHeaders::Multipart}, transfer))
    return;
  ReadUploadReply(r);
}

void RunDeleteChunkedUpload(FSRequest& r) {
  UploadFields upload;
  if (!upload.Read(r) || !r.Call({.path = kUtil + L"delete_chunked_upload_file" + upload.Query()}))
    return;
  CGetUploadIDJson reply;
  if (reply.Parse(r.ReplyText()) != 1) {
    r.SetResult(VESK_HTTP_SERVER_FAILED);
  } else if (reply.status != 0) {
    r.SetResult(reply.status == 5 ? VESK_HTTP_DEVICE_STATUS_5 : VESK_HTTP_SERVER_FAILED);
  }
}

}  // namespace vesk
