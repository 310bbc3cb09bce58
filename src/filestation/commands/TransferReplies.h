// The replies of the chunked-upload commands: the upload id of a start (and the status of a
// delete), and the size of an upload the device holds.
#pragma once

#include <cstdint>
#include <string>

#include "filestation/ParserBase.h"

namespace vesk {

// The reply of start_chunked_upload and delete_chunked_upload_file. A root that is not an
// object does not parse.
class CGetUploadIDJson : public ZJsonParserBase {
 public:
  int status = -1;        // "status", a number or decimal text
  std::wstring uploadId;  // "upload_id" as text, carried whole

 protected:
  void Reset() override { *this = CGetUploadIDJson(); }
  bool ReadMembers(const JsonValue& root) override;
  bool ObjectRootRequired() const override { return true; }
};

// The reply of get_chunked_upload_status. A root that is not an object parses, leaving the
// status at -1.
class CGetChunkFileSizeJson : public ZJsonParserBase {
 public:
  int status = -1;        // "status", a number or decimal text
  std::int64_t size = 0;  // "size": a number read whole as a 64-bit integer (a real number
                          // truncated; one beyond the range does not parse), the leading
                          // decimal digits of text, 0 for any other type

 protected:
  void Reset() override { *this = CGetChunkFileSizeJson(); }
  bool ReadMembers(const JsonValue& root) override;
};

}  // namespace vesk
