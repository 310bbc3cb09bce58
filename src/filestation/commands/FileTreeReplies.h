// The replies of the file-tree commands: the share roots (get_tree), the listings of folders,
// file status and search (get_list, stat, search), and the status of copy and move jobs.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filestation/ParserBase.h"

namespace vesk {

// What a file status reports of an entry beyond its name, size and flags: four texts, and the
// modification time in seconds that comes with the time text.
struct PathInfoTexts {
  std::wstring permissionText;  // "ReadWrite", "ReadOnly", "AccessDenied", or empty
  std::wstring modifyTimeText;  // the device's own text
  std::wstring group;
  std::wstring owner;
  // Seconds since 1970 ("epochmt"), read with the time text: 0 when the text is not read.
  std::int64_t modifyTime = 0;
};

// One reported entry. Texts are carried whole, whatever their length.
struct PathInfoEntry {
  std::wstring name;
  std::int64_t size = 0;
  bool isFolder = false;
  bool isCompressed = false;
  // Set when the listing reads and keeps any of the texts, so that a long listing of names and
  // sizes carries nothing more per entry.
  std::unique_ptr<PathInfoTexts> texts;

  // The texts, empty when the entry has none.
  const PathInfoTexts& Texts() const;
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
//
// Parse reads the reply in one pass, each entry as soon as its object ends, without a tree of
// the whole reply: a listing of a large folder costs its entries and little more. Of several
// root members of one name the last counts, as everywhere; entries read from an earlier "datas"
// are dropped when another follows.
class CGetPathInfoJson : public ZJsonParserBase {
 public:
  int status = -1;  // 0 when the reply has none
  int total = 0;    // the device's count of entries, whatever the page holds
  std::wstring pattern = L"*";
  int pathType = kPathKindFiles | kPathKindFolders;
  int pathInfoFlags = 0;
  // false: the four texts of an entry (permission, time, group, owner) are checked as the
  // flags ask, but not kept, nor is the time in seconds; for listings that report names and
  // sizes only.
  bool keepTexts = true;
  std::vector<PathInfoEntry> entries;

  int Parse(std::string_view utf8) override;

  // The members of one "datas" object the listing reads; null when absent.
  struct EntryMembers {
    const JsonValue *filename = nullptr, *isfolder = nullptr, *epochmt = nullptr,
                    *iscommpressed = nullptr, *privilege = nullptr, *filesize = nullptr,
                    *mt = nullptr, *group = nullptr, *owner = nullptr;

    // Each member's name in the reply, with the field that points at it.
    static constexpr std::array<std::pair<std::string_view, const JsonValue * EntryMembers::*>, 9>
        kFields = {{{"filename", &EntryMembers::filename},
                    {"isfolder", &EntryMembers::isfolder},
                    {"epochmt", &EntryMembers::epochmt},
                    {"iscommpressed", &EntryMembers::iscommpressed},
                    {"privilege", &EntryMembers::privilege},
                    {"filesize", &EntryMembers::filesize},
                    {"mt", &EntryMembers::mt},
                    {"group", &EntryMembers::group},
                    {"owner", &EntryMembers::owner}}};
    // The position in kFields of the member of that name; kFields.size() for a name the
    // listing does not read.
    static std::size_t Find(std::string_view name);
  };

 protected:
  void Reset() override;
  // The same reading over a tree of the whole reply (what ZJsonParserBase::Parse does).
  bool ReadMembers(const JsonValue& root) override;

 private:
  class OnePass;
  // Reads one entry and appends it when it is listed. false when a member it reads cannot be
  // read; stop becomes true when the scan ends with this entry.
  bool ReadEntry(const EntryMembers& members, bool wildcard, bool& stop);
  // Reads "status" and "total"; false when either cannot be read.
  bool ReadCounts(const JsonValue* statusMember, const JsonValue* totalMember);
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
