// What whole-file and chunked uploads share: the multipart framing around the file's bytes,
// the reading of the device's reply, and the local file.
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

// Opens the local file of an upload and reads its size; nullopt, with the result set to
// VESK_HTTP_INVALID_REQUEST, when either fails.
std::optional<std::uint64_t> OpenUploadFile(FSRequest& request, const std::wstring& path,
                                            platform::LocalFile& file);

// Reads the device's answer to an upload: only a reply that does not parse or has status 0
// fails (VESK_HTTP_SERVER_FAILED).
void ReadUploadReply(FSRequest& request);

}  // namespace vesk
