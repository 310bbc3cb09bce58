// The replies of the file-tree commands: the share roots (get_tree), the listings of folders,
// file status and search (get_list, stat, search), and the status of copy and move jobs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filestation/ParserBase.h"

namespace vesk {

// One reported entry. Texts are carried whole, whatever their length.
struct PathInfoEntry {
  std::wstring name;
  std::wstring permissionText;  // "ReadWrite", "ReadOnly", "AccessDenied", or empty
  bool isFolder = false;
  bool isCompressed = false;
  std::int64_t size = 0;
  std::wstring modifyTimeText;  // the device's own text
  std::wstring group;
  std::wstring owner;
};

// Which fields of an entry a listing fills (PathInfoFlags); -1 fills them all.
enum PathInfoField : int {
  kPathInfoPermission = 0x01,
  kPathInfoModifyTime = 0x02,
  kPathInfoFolder = 0x08,
  kPathInfoSize = 0x10,
  kPathInfoName = 0x20,
  kPathInfoCompressed = 0x30,  // either of the two bits
  kPathInfoGroup = 0x40,
  kPathInfoOwner = 0x50,  // either of the two bits
};

// Which kinds of entries a listing keeps (PathType).
enum PathKind : int { kPathKindFiles = 0x1, kPathKindFolders = 0x2 };

// Whether a name matches a pattern, letters compared without case: "?" stands for one
// character, "*" for any run (none included); "*" and "*.*" match every name.
bool NameMatchesPattern(std::wstring_view pattern, std::wstring_view name);

// The share roots: an array of nodes, of which the folder nodes ("iconCls" "folder") with a
// non-empty "text" are reported; an object root carries only a "status".
class CGetFolderInfoJson : public ZJsonParserBase {
 public:
  int status = 0;
  std::vector<PathInfoEntry> entries;

  int Parse(std::string_view utf8) override;

 protected:
  void Reset() override;
  bool ReadMembers(const JsonValue& root) override;
};

// A folder listing, a file status or a search result: an object with "status", "total" and
// "datas", the entries. The caller sets the pattern, the kinds and the fields before parsing.
// With a pattern without "*" or "?" the scan stops at the first entry whose name matches.
class CGetPathInfoJson : public ZJsonParserBase {
 public:
  int status = -1;  // 0 when the reply has none
  int total = 0;    // the device's count of entries, whatever the page holds
  std::wstring pattern = L"*";
  int pathType = kPathKindFiles | kPathKindFolders;
  int pathInfoFlags = 0;
  std::vector<PathInfoEntry> entries;

 protected:
  void Reset() override;
  bool ReadMembers(const JsonValue& root) override;
};

// The status of a copy or move job. The percentage counts only in a reply with status 1
// that names the file being worked on.
class CGetMoveStatusJson : public ZJsonParserBase {
 public:
  int status = -1;
  int percent = 0;

 protected:
  void Reset() override;
  bool ReadMembers(const JsonValue& root) override;
};

}  // namespace vesk
