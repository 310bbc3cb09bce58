// Whole-file upload and download, and ranged reads.
#include "filestation/commands/Transfers.h"

#include <cstdint>

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

std::optional<UploadSource> ReaderSource(FSRequest& r, const std::wstring& fileName) {
  const long long size = r.Int(L"fileSize", -1);
  if (fileName.empty() || size < 0 || !r.DataSource()) {
    r.SetResult(VESK_HTTP_INVALID_REQUEST);
    return std::nullopt;
  }
  return UploadSource{r.DataSource(), r.UserData(), static_cast<std::uint64_t>(size)};
}

std::optional<UploadSource> LocalFileSource(FSRequest& r, const std::wstring& path,
                                            platform::LocalFile& file) {
  std::optional<std::uint64_t> size;
  if (file.Open(path, platform::LocalFile::Mode::Read)) size = file.Size();
  if (!size) {
    r.SetResult(VESK_HTTP_INVALID_REQUEST);
    return std::nullopt;
  }
  return UploadSource{&platform::ReadLocalFile, &file, *size};
}

void ReadUploadReply(FSRequest& r) {
  CWebFileManGetResultJson reply;
  if (reply.Parse(r.ReplyText()) != 1 || reply.status == 0) r.SetResult(VESK_HTTP_SERVER_FAILED);
}

void RunUpload(FSRequest& r) {
  std::wstring sid, dest;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"destpath"), dest)) return;
  platform::LocalFile file;
  const std::wstring& name = r.Str(L"destfilename");
  const auto source =
      FromReader(r) ? ReaderSource(r, name) : LocalFileSource(r, r.Str(L"uploadfilepath"), file);
  if (!source) return;
  const FileTransfer transfer{.source = source->read,
                              .sourceContext = source->context,
                              .fileSize = source->size,
                              .head = MultipartHead(name),
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

namespace {

// The form of the device's download function: one file of a folder (both percent-encoded),
// from a byte offset on.
std::string DownloadForm(const std::string& folder, const std::string& name, std::uint64_t offset) {
  std::string body = "isfolder=0&source_total=1&source_path=" + folder + "&source_file=" + name;
  if (offset != 0) body += "&offset=" + std::to_string(offset);
  return body;
}

}  // namespace

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
  const FileTransfer transfer{.file = &file, .resumeOffset = offset};
  // The reply goes into the file only when it is the file: a refusal's body never does. A
  // failed or cancelled transfer leaves what arrived, so that the caller can resume from the
  // file's size.
  if (!r.CallWithFile({.path = L"filemanager/utilRequest.cgi?func=download&sid=" + sid,
                       .post = true,
                       .headers = RequestHeaders::Form,
                       .body = DownloadForm(folder, name, offset)},
                      transfer))
    return;
  // A whole download ends the file: bytes an older, longer file held beyond it are not part
  // of this one.
  const auto end = file.Position();
  if (!end || !file.Truncate(*end)) r.SetResult(VESK_HTTP_INVALID_REQUEST);
}

void RunReadRange(FSRequest& r) {
  const long long offset = r.Int(L"downloadOffset", -1);
  const long long length = r.Int(L"length", -1);
  // A read needs a file in a folder, a place in it and somewhere for the bytes to go.
  if (r.Str(L"downloadfilepath").empty() || r.Str(L"downloadfilename").empty() || offset < 0 ||
      !r.DataSink()) {
    r.SetResult(VESK_HTTP_INVALID_REQUEST);
    return;
  }
  if (length == 0) return;  // nothing to read: the device is not asked
  std::wstring sid;
  std::string folder, name;
  if (!r.Encode(r.Str(L"sid"), sid) || !r.Encode(r.Str(L"downloadfilename"), name) ||
      !r.Encode(r.Str(L"downloadfilepath"), folder))
    return;
  // The device's download has no length: the read takes what it wants of the reply, which
  // runs to the file's end, and leaves the rest.
  const auto from = static_cast<std::uint64_t>(offset);
  const SinkTransfer transfer{
      .sink = r.DataSink(),
      .context = r.UserData(),
      .offset = from,
      .limit = length < 0 ? UINT64_MAX : static_cast<std::uint64_t>(length)};
  std::uint64_t delivered = 0;
  r.CallToSink({.path = L"filemanager/utilRequest.cgi?func=download&sid=" + sid,
                .post = true,
                .headers = RequestHeaders::Form,
                .body = DownloadForm(folder, name, from)},
               transfer, delivered);
  r.Out().bytesRead = static_cast<long long>(delivered);
}

}  // namespace vesk
