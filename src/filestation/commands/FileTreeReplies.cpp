#include "filestation/commands/FileTreeReplies.h"

#include <cstdint>
#include <cstring>

#include "http/Encoding.h"

namespace vesk {
namespace {

// Lower case for comparing names, the same in every locale: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic capitals.
wchar_t Fold(wchar_t c) {
  const auto u = static_cast<std::uint32_t>(c);
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7) ||
      (u >= 0x391 && u <= 0x3AB && u != 0x3A2) || (u >= 0x410 && u <= 0x42F))
    return static_cast<wchar_t>(u + 0x20);
  if (u >= 0x400 && u <= 0x40F) return static_cast<wchar_t>(u + 0x50);
  // Latin Extended-A pairs capitals and small letters as even and odd code points, with the
  // pairing shifted by one between U+0139 and U+0148 and after U+0178.
  if (u >= 0x100 && u <= 0x137 && u % 2 == 0) return static_cast<wchar_t>(u + 1);
  if (u >= 0x139 && u <= 0x148 && u % 2 == 1) return static_cast<wchar_t>(u + 1);
  if (u >= 0x14A && u <= 0x177 && u % 2 == 0) return static_cast<wchar_t>(u + 1);
  if (u == 0x178) return static_cast<wchar_t>(0xFF);
  if (u >= 0x179 && u <= 0x17E && u % 2 == 1) return static_cast<wchar_t>(u + 1);
  return c;
}

// Whether a member's name is `name`.
bool Named(const JsonValue& memberName, std::string_view name) {
  return memberName.GetStringLength() == name.size() &&
         std::memcmp(memberName.GetString(), name.data(), name.size()) == 0;
}

// The permission text of a "privilege" value: its hundreds digit holds the owner's rights.
std::wstring PermissionText(std::int64_t privilege) {
  const std::int64_t rights = privilege / 100;
  if (rights & 2) return L"ReadWrite";
  if (rights & 4) return L"ReadOnly";
  return L"AccessDenied";
}

}  // namespace

bool NameMatchesPattern(std::wstring_view pattern, std::wstring_view name) {
  if (pattern == L"*") return true;
  if (pattern.size() == 3 && pattern[0] == L'*' && pattern[1] == L'.' && pattern[2] == L'*')
    return true;
  // Wildcard match over the whole name, going back only to the most recent "*".
  std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == L'?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::wstring_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

// ---- share roots ----

void CGetFolderInfoJson::Reset() {
  status = 0;
  entries.clear();
}

int CGetFolderInfoJson::Parse(std::string_view utf8) {
  Reset();
  JsonDocument document;
  if (!ParseJson(utf8, document)) return -1;
  const JsonValue& root = document.Root();
  if (root.IsObject()) {
    if (!ReadMembers(root)) {
      Reset();
      return -1;
    }
    return 1;
  }
  if (!root.IsArray()) return 1;
  for (const JsonValue& node : root.GetArray()) {
    std::string text, icon;
    // A node that is not an object has no text: like an empty one, it is not a share.
    if (!node.IsObject()) continue;
    if (!ReadUtf8Member(node, "text", text) || !ReadUtf8Member(node, "iconCls", icon)) {
      Reset();
      return -1;
    }
    if (text.empty() || icon != "folder") continue;
    PathInfoEntry entry;
    entry.name = FromUtf8(text);
    entry.isFolder = true;
    entries.push_back(std::move(entry));
  }
  return 1;
}

bool CGetFolderInfoJson::ReadMembers(const JsonValue& root) {
  return ReadLenientIntMember(root, "status", status);
}

// ---- listings ----

void CGetPathInfoJson::Reset() {
  status = -1;
  total = 0;
  entries.clear();
}

bool CGetPathInfoJson::ReadMembers(const JsonValue& root) {
  status = 0;
  if (!ReadLenientIntMember(root, "status", status) || !ReadLenientIntMember(root, "total", total))
    return false;
  if (total == 0) return true;
  const JsonValue* datas = FindMember(root, "datas");
  if (!datas || !datas->IsArray()) return true;

  const bool wildcard = pattern.find_first_of(L"*?") != std::wstring::npos;
  if (wildcard) entries.reserve(datas->Size());
  for (const JsonValue& element : datas->GetArray()) {
    if (!element.IsObject()) continue;  // no name: not an entry
    // The members an entry may have, found in one pass; of several of one name the last.
    const JsonValue *filenameMember = nullptr, *folderMember = nullptr, *epochMember = nullptr,
                    *compressedMember = nullptr, *privilegeMember = nullptr, *sizeMember = nullptr,
                    *timeMember = nullptr, *groupMember = nullptr, *ownerMember = nullptr;
    for (const auto& m : element.GetObject()) {
      const JsonValue& n = m.name;
      if (Named(n, "filename")) {
        filenameMember = &m.value;
      } else if (Named(n, "isfolder")) {
        folderMember = &m.value;
      } else if (Named(n, "epochmt")) {
        epochMember = &m.value;
      } else if (Named(n, "iscommpressed")) {
        compressedMember = &m.value;
      } else if (Named(n, "privilege")) {
        privilegeMember = &m.value;
      } else if (Named(n, "filesize")) {
        sizeMember = &m.value;
      } else if (Named(n, "mt")) {
        timeMember = &m.value;
      } else if (Named(n, "group")) {
        groupMember = &m.value;
      } else if (Named(n, "owner")) {
        ownerMember = &m.value;
      }
    }
    std::wstring name;
    if (!ReadText(filenameMember, name)) return false;
    if (name.empty() || !NameMatchesPattern(pattern, name)) continue;

    std::int64_t folder = 0, epoch = 0, compressed = 0;
    if (!ReadLenientInt64(folderMember, folder) || !ReadLenientInt64(epochMember, epoch) ||
        !ReadLenientInt64(compressedMember, compressed))
      return false;
    const bool isFolder = folder == 1;
    const bool kindWanted = (pathType & (isFolder ? kPathKindFolders : kPathKindFiles)) != 0;
    // An entry the device marks with a zero time is not listed.
    const bool zeroTime = Present(epochMember) && epoch == 0;
    if (!kindWanted || zeroTime) {
      if (!wildcard) break;  // a plain name names one entry: the scan ends with it
      continue;
    }

    PathInfoEntry entry;
    if (pathInfoFlags & kPathInfoName) entry.name = std::move(name);
    if (pathInfoFlags & kPathInfoFolder) entry.isFolder = isFolder;
    if (pathInfoFlags & kPathInfoPermission) {
      // Without a usable "privilege" the permission is unknown: the text stays empty.
      std::int64_t privilege = 0;
      if (!ReadLenientInt64(privilegeMember, privilege)) return false;
      if (Present(privilegeMember)) entry.permissionText = PermissionText(privilege);
    }
    if (pathInfoFlags & kPathInfoSize) {
      if (!ReadLenientInt64(sizeMember, entry.size)) return false;
    }
    if ((pathInfoFlags & kPathInfoModifyTime) && epoch > 0) {
      if (!ReadText(timeMember, entry.modifyTimeText)) return false;
    }
    if (pathInfoFlags & kPathInfoCompressed) entry.isCompressed = compressed == 1;
    if ((pathInfoFlags & kPathInfoGroup) && !ReadText(groupMember, entry.group)) return false;
    if ((pathInfoFlags & kPathInfoOwner) && !ReadText(ownerMember, entry.owner)) return false;
    entries.push_back(std::move(entry));
    if (!wildcard) break;
  }
  return true;
}

// ---- copy and move jobs ----

void CGetMoveStatusJson::Reset() {
  status = -1;
  percent = 0;
}

bool CGetMoveStatusJson::ReadMembers(const JsonValue& root) {
  if (!FindMember(root, "status") || !ReadLenientIntMember(root, "status", status)) return false;
  if (status != 1) return true;
  std::string file;
  if (!ReadUtf8Member(root, "filename", file) || file.empty()) return false;
  return FindMember(root, "percent") && ReadLenientIntMember(root, "percent", percent);
}

}  // namespace vesk
