#include "filestation/commands/TransferReplies.h"

namespace vesk {

bool CGetUploadIDJson::ReadMembers(const JsonValue& root) {
  return ReadLenientIntMember(root, "status", status) &&
         ReadTextMember(root, "upload_id", uploadId);
}

bool CGetChunkFileSizeJson::ReadMembers(const JsonValue& root) {
  if (!ReadLenientIntMember(root, "status", status)) return false;
  if (const JsonValue* value = FindMember(root, "size")) {
    if (value->IsString()) {
      size = LeadingDecimal64(StringOf(*value));
    } else if (value->IsNumber()) {
      return ReadInt64(value, size);
    }
  }
  return true;
}

}  // namespace vesk
