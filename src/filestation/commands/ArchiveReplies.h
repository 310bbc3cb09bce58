// The reply of the archive listing (get_extract_list): the entries of an archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filestation/ParserBase.h"

namespace vesk {

// One entry of an archive. Texts are carried whole, whatever their length.
struct ExtractListEntry {
  std::wstring name;
  bool isFolder = false;
  std::int64_t size = 0;            // the entry's size once extracted
  std::int64_t compressedSize = 0;  // its size inside the archive
  std::wstring modifyTimeText;      // the device's own text
};

// An archive listing: an object with "status", "total" and "datas", the entries. Sizes are
// read in full, whether the device writes them as numbers or as decimal text; entries without
// a name are skipped.
class CGetListExtractedFileInfoJson : public ZJsonParserBase {
 public:
  int status = -1;       // 0 when the reply has none
  int total = 0;         // the device's count of entries, whatever the page holds
  int elementCount = 0;  // the elements of "datas", named or not
  std::vector<ExtractListEntry> entries;

 protected:
  void Reset() override;
  bool ReadMembers(const JsonValue& root) override;
};

}  // namespace vesk
