#include "filestation/commands/TransferReplies.h"

namespace vesk {

bool CGetUploadIDJson::ReadMembers(const Json::Value& root) {
  return ReadLenientIntMember(root, "status", status) &&
         ReadTextMember(root, "upload_id", uploadId);
}

bool CGetChunkFileSizeJson::ReadMembers(const Json::Value& root) {
  if (!ReadLenientIntMember(root, "status", status)) return false;
  if (const Json::Value* value = FindMember(root, "size")) {
    if (value->isString()) {
      size = LeadingDecimal64(value->asString());
    } else if (value->isNumeric()) {
      return ReadInt64Member(root, "size", size);
    }
  }
  return true;
}

}  // namespace vesk
