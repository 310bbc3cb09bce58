// Whole-file upload and download.
#include "filestation/commands/Transfers.h"

#include "filestation/CommandRoutines.h"
#include "filestation/ParserBase.h"
#include "platform/Text.h"

namespace vesk {

std::string MultipartHead(const std::wstring& fileName) {
  std::string name;
  for (const char c : ToUtf8(fileName)) {
    if (c == '\r') {
      name += "%0D";
    } else if (c == '\n') {
      name += "%0A";
    } else {
      name += c;
    }
  }
  const std::string delimiter = std::string(kMultipartBoundary) + "\r\n";
  return delimiter + "Content-Disposition: form-data; name=\"Filename\"\r\n\r\n" + name + "\r\n" +
         delimiter + "Content-Disposition: form-data; name=\"Filedata\"; filename=\"" + name +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

std::string MultipartTail(const char* submitField) {
  return "\r\n" + std::string(kMultipartBoundary) + "\r\nContent-Disposition: form-data; name=\"" +
         submitField + "\"\r\n\r\nSubmit Query\r\n" + kMultipartBoundary + "--";
}

std::optional<std::uint64_t> OpenUploadFile(FSRequest& r, const std::wstring& path,
                                            platform::LocalFile& file) {
  std::optional<std::uint64_t> size;
  if (file.Open(path, platform::LocalFile::Mode::Read)) size = file.Size();
  if (!size) r.SetResult(VESK_HTTP_INVALID_REQUEST);
  return size;
}

void ReadUploadReply(FSRequest& r) {
  CWebFileManGetResultJson reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.status == 0) r.SetResult(VESK_HTTP_SERVER_FAILED);
}

void RunUpload(FSRequest& r) {
  std::wstring sid, dest;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"destpath"), dest)) return;
  platform::LocalFile file;
  const auto size = OpenUploadFile(r, r.Str(L"uploadfilepath"), file);
  if (!size) return;
  const FileTransfer transfer{.file = &file,
                              .fileSize = *size,
                              .head = MultipartHead(r.Str(L"destfilename")),
                              .tail = MultipartTail("Upload")};
  if (!r.CallWithFile(
          {.path = L"filemanager/utilRequest.cgi?func=upload&sid=" + sid + L"&dest_path=" + dest +
                   L"&overwrite=" + std::to_wstring(r.Int(L"overwrite")),
           .post = true,
           .headers = RequestHeaders::Multipart},
          transfer))
    return;
  ReadUploadReply(r);
}

void RunDownload(FSRequest& r) {
  std::wstring sid;
  std::string folder, name;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"downloadfilename"), name) ||
      !r.Encode(r.Str(L"downloadfilepath"), folder))
    return;
  // Offsets are carried whole: a download resumed at 4 GiB or more continues there.
  const auto offset = static_cast<std::uint64_t>(r.Int(L"downloadOffset"));
  platform::LocalFile file;
  if (!file.Open(r.Str(L"destfilepathplusname"), platform::LocalFile::Mode::Write) ||
      !file.Seek(offset)) {
    r.SetResult(VESK_HTTP_INVALID_REQUEST);
    return;
  }
  std::string body = "isfolder=0&source_total=1&source_path=" + folder + "&source_file=" + name;
  if (offset != 0) body += "&offset=" + std::to_string(offset);
  const FileTransfer transfer{.file = &file, .resumeOffset = offset};
  // The reply goes into the file only when it is the file: a refusal's body never does. A
  // failed or cancelled transfer leaves what arrived, so that the caller can resume from the
  // file's size.
  if (!r.CallWithFile({.path = L"filemanager/utilRequest.cgi?func=download&sid=" + sid,
                       .post = true,
                       .headers = RequestHeaders::Form,
                       .body = std::move(body)},
                      transfer))
    return;
  // A whole download ends the file: bytes an older, longer file held beyond it are not part
  // of this one.
  const auto end = file.Position();
  if (!end || !file.Truncate(*end)) r.SetResult(VESK_HTTP_INVALID_REQUEST);
}

}  // namespace vesk
