// What whole-file and chunked uploads share: the multipart framing around the file's bytes,
// the reading of the device's reply, and where the file's bytes come from.
#pragma once

#include <optional>
#include <string>

#include "filestation/FSRequest.h"
#include "platform/LocalFile.h"

namespace vesk {

// The multipart head that precedes the file's bytes: the name as a "Filename" field, then the
// "Filedata" part's header naming it again. CR and LF in the name are sent as %0D and %0A, as
// browsers do, since they would end the header line; everything else, a double quote
// included, goes as it stands.
std::string MultipartHead(const std::wstring& fileName);
// The tail after the file's bytes: a final field named submitField, and the closing delimiter.
std::string MultipartTail(const char* submitField);

// The bytes an upload sends: `size` of them, read through a data source. Every upload reads its
// file this way; a local file is one source among others.
struct UploadSource {
  VESK_HTTP_DATA_SOURCE read = nullptr;
  void* context = nullptr;
  std::uint64_t size = 0;
};

// Whether the request uploads from the caller's reader (its data source, with the file's size
// as "fileSize") rather than from a local file.
inline bool FromReader(const FSRequest& request) { return request.Int(L"fromReader") != 0; }
// The caller's reader and the size it names; nullopt, with the result set to
// VESK_HTTP_INVALID_REQUEST, when the file has no name, the size is negative or there is no
// reader.
std::optional<UploadSource> ReaderSource(FSRequest& request, const std::wstring& fileName);
// Opens the local file of an upload into `file` and reads its size; nullopt, with the result
// set to VESK_HTTP_INVALID_REQUEST, when either fails.
std::optional<UploadSource> LocalFileSource(FSRequest& request, const std::wstring& path,
                                            platform::LocalFile& file);

// Reads the device's answer to an upload: only a reply that does not parse or has status 0
// fails (VESK_HTTP_SERVER_FAILED).
void ReadUploadReply(FSRequest& request);

}  // namespace vesk
