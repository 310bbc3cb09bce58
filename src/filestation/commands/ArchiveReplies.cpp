#include "filestation/commands/ArchiveReplies.h"

namespace vesk {

void CGetListExtractedFileInfoJson::Reset() { *this = CGetListExtractedFileInfoJson(); }

bool CGetListExtractedFileInfoJson::ReadMembers(const JsonValue& root) {
  status = 0;
  if (!ReadLenientIntMember(root, "status", status) || !ReadLenientIntMember(root, "total", total))
    return false;
  if (total == 0) return true;
  const JsonValue* datas = FindMember(root, "datas");
  if (!datas || !datas->IsArray()) return true;

  elementCount = static_cast<int>(datas->Size());
  for (const JsonValue& element : datas->GetArray()) {
    if (!element.IsObject()) continue;  // no name: not an entry
    ExtractListEntry entry;
    if (!ReadTextMember(element, "filename", entry.name)) return false;
    if (entry.name.empty()) continue;
    std::int64_t folder = 0;
    if (!ReadLenientInt64Member(element, "isfolder", folder) ||
        !ReadLenientInt64Member(element, "filesize", entry.size) ||
        !ReadLenientInt64Member(element, "compress_size", entry.compressedSize) ||
        !ReadTextMember(element, "mt", entry.modifyTimeText))
      return false;
    entry.isFolder = folder == 1;
    entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace vesk
