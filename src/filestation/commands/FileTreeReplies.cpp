#include "filestation/commands/FileTreeReplies.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/Text.h"

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

const PathInfoTexts& PathInfoEntry::Texts() const {
  static const PathInfoTexts kNone;
  return texts ? *texts : kNone;
}

std::size_t CGetPathInfoJson::EntryMembers::Find(std::string_view name) {
  std::size_t i = 0;
  while (i < kFields.size() && kFields[i].first != name) ++i;
  return i;
}

void CGetPathInfoJson::Reset() {
  status = -1;
  total = 0;
  entries.clear();
}

bool CGetPathInfoJson::ReadCounts(const JsonValue* statusMember, const JsonValue* totalMember) {
  status = 0;
  return ReadLenientInt(statusMember, status) && ReadLenientInt(totalMember, total);
}

bool CGetPathInfoJson::ReadEntry(const EntryMembers& m, bool wildcard, bool& stop) {
  std::wstring name;
  if (!ReadText(m.filename, name)) return false;
  if (name.empty() || !NameMatchesPattern(pattern, name)) return true;

  std::int64_t folder = 0, epoch = 0, compressed = 0;
  if (!ReadLenientInt64(m.isfolder, folder) || !ReadLenientInt64(m.epochmt, epoch) ||
      !ReadLenientInt64(m.iscommpressed, compressed))
    return false;
  const bool isFolder = folder == 1;
  const bool kindWanted = (pathType & (isFolder ? kPathKindFolders : kPathKindFiles)) != 0;
  // An entry the device marks with a zero time is not listed.
  const bool zeroTime = Present(m.epochmt) && epoch == 0;
  // A plain name names one entry: the scan ends with it.
  stop = !wildcard;
  if (!kindWanted || zeroTime) return true;

  PathInfoEntry entry;
  const bool timeRead = (pathInfoFlags & kPathInfoModifyTime) && epoch > 0;
  const bool anyText =
      (pathInfoFlags & (kPathInfoPermission | kPathInfoGroup | kPathInfoOwner)) || timeRead;
  if (keepTexts && anyText) entry.texts = std::make_unique<PathInfoTexts>();
  // A text the flags ask for must be readable; it is kept when texts are.
  const auto readText = [&](const JsonValue* member, std::wstring PathInfoTexts::*field) {
    if (entry.texts) return ReadText(member, (*entry.texts).*field);
    return Present(member) == nullptr || !(member->IsArray() || member->IsObject());
  };
  if (pathInfoFlags & kPathInfoName) entry.name = std::move(name);
  if (pathInfoFlags & kPathInfoFolder) entry.isFolder = isFolder;
  if (pathInfoFlags & kPathInfoPermission) {
    // Without a usable "privilege" the permission is unknown: the text stays empty.
    std::int64_t privilege = 0;
    if (!ReadLenientInt64(m.privilege, privilege)) return false;
    if (entry.texts && Present(m.privilege))
      entry.texts->permissionText = PermissionText(privilege);
  }
  if ((pathInfoFlags & kPathInfoSize) && !ReadLenientInt64(m.filesize, entry.size)) return false;
  if (timeRead && !readText(m.mt, &PathInfoTexts::modifyTimeText)) return false;
  if (timeRead && entry.texts) entry.texts->modifyTime = epoch;
  if (pathInfoFlags & kPathInfoCompressed) entry.isCompressed = compressed == 1;
  if ((pathInfoFlags & kPathInfoGroup) && !readText(m.group, &PathInfoTexts::group)) return false;
  if ((pathInfoFlags & kPathInfoOwner) && !readText(m.owner, &PathInfoTexts::owner)) return false;
  entries.push_back(std::move(entry));
  return true;
}

bool CGetPathInfoJson::ReadMembers(const JsonValue& root) {
  if (!ReadCounts(FindMember(root, "status"), FindMember(root, "total"))) return false;
  if (total == 0) return true;
  const JsonValue* datas = FindMember(root, "datas");
  if (!datas || !datas->IsArray()) return true;

  const bool wildcard = pattern.find_first_of(L"*?") != std::wstring::npos;
  for (const JsonValue& element : datas->GetArray()) {
    if (!element.IsObject()) continue;  // no name: not an entry
    // The members an entry may have, found in one pass; of several of one name the last.
    EntryMembers members;
    for (const auto& m : element.GetObject()) {
      const std::size_t field = EntryMembers::Find(StringOf(m.name));
      if (field < EntryMembers::kFields.size())
        members.*EntryMembers::kFields[field].second = &m.value;
    }
    bool stop = false;
    if (!ReadEntry(members, wildcard, stop)) return false;
    if (stop) break;
  }
  return true;
}

// The one-pass reading of a listing: the root's "status", "total" and "datas" (of several of
// one name, the last), each object of a "datas" array read as an entry as soon as it ends.
class CGetPathInfoJson::OnePass final : public ZJsonParserBase::JsonEvents {
 public:
  explicit OnePass(CGetPathInfoJson& reply)
      : reply_(reply), wildcard_(reply.pattern.find_first_of(L"*?") != std::wstring::npos) {}

  void Restart() override {
    depth_ = 0;
    rootIsObject_ = inDatas_ = inEntry_ = entryFailed_ = scanEnded_ = false;
    for (Slot* root : {&status_, &total_, &datasSlot_}) root->value.SetNull();
    rootMember_ = pending_ = nullptr;
    reply_.entries.clear();
  }

  bool Value(const JsonValue& value) override {
    if (depth_ == 0) {
      rootIsObject_ = false;
    } else if (depth_ == 1) {
      TakeRootMember(&value, value.GetType());
    } else if (depth_ == 3 && inEntry_ && pending_ != nullptr) {
      pending_->Set(value);
      pending_ = nullptr;
    }
    return true;
  }

  bool Key(std::string_view name) override {
    if (depth_ == 1) {
      rootMember_ = name == "status"  ? &status_
                    : name == "total" ? &total_
                    : name == "datas" ? &datasSlot_
                                      : nullptr;
    } else if (depth_ == 3 && inEntry_) {
      const std::size_t field = EntryMembers::Find(name);
      pending_ = field < members_.size() ? &members_[field] : nullptr;
    }
    return true;
  }

  bool StartObject() override {
    if (depth_ == 0) {
      rootIsObject_ = true;
    } else if (depth_ == 1) {
      TakeRootMember(nullptr, rapidjson::kObjectType);
    } else if (depth_ == 2 && inDatas_) {
      inEntry_ = true;
      for (Slot& member : members_) member.value.SetNull();
    } else if (depth_ == 3 && inEntry_ && pending_ != nullptr) {
      pending_->value.SetObject();
      pending_ = nullptr;
    }
    ++depth_;
    return true;
  }

  bool StartArray() override {
    if (depth_ == 0) {
      rootIsObject_ = false;
    } else if (depth_ == 1) {
      inDatas_ = rootMember_ == &datasSlot_;
      TakeRootMember(nullptr, rapidjson::kArrayType);
    } else if (depth_ == 3 && inEntry_ && pending_ != nullptr) {
      pending_->value.SetArray();
      pending_ = nullptr;
    }
    ++depth_;
    return true;
  }

  bool End() override {
    --depth_;
    if (depth_ == 2 && inEntry_) {
      inEntry_ = false;
      ReadEntry();
    } else if (depth_ == 1) {
      inDatas_ = false;
    }
    return true;
  }

  // After a successful read: the reply's fields as the tree reading would give them.
  bool Finish() {
    if (!rootIsObject_) {
      reply_.entries.clear();
      return true;
    }
    if (!reply_.ReadCounts(&status_.value, &total_.value)) return false;
    if (reply_.total == 0 || !datasSlot_.value.IsArray()) {
      reply_.entries.clear();
      return true;
    }
    return !entryFailed_;
  }

 private:
  // A member's last value, kept beyond the event that carried it (an array or object as an
  // empty one: the readers reject those by their type).
  struct Slot {
    JsonValue value;  // null: absent
    std::string text;

    void Set(const JsonValue& from) {
      if (from.IsString()) {
        text.assign(from.GetString(), from.GetStringLength());
        value.SetString(rapidjson::StringRef(text.data(), text.size()));
      } else if (from.IsDouble()) {
        value.SetDouble(from.GetDouble());
      } else if (from.IsUint64()) {
        value.SetUint64(from.GetUint64());
      } else if (from.IsInt64()) {
        value.SetInt64(from.GetInt64());
      } else if (from.IsBool()) {
        value.SetBool(from.GetBool());
      } else {
        value.SetNull();
      }
    }
  };

  // The value of the root member named last: a scalar (from) or a container of the type.
  void TakeRootMember(const JsonValue* from, rapidjson::Type type) {
    Slot* const member = std::exchange(rootMember_, nullptr);
    if (member == nullptr) return;
    if (from != nullptr) {
      member->Set(*from);
    } else if (type == rapidjson::kArrayType) {
      member->value.SetArray();
    } else {
      member->value.SetObject();
    }
    if (member == &datasSlot_) {
      // A later "datas" replaces what an earlier one listed.
      reply_.entries.clear();
      entryFailed_ = scanEnded_ = false;
    }
  }

  void ReadEntry() {
    if (entryFailed_ || scanEnded_) return;
    EntryMembers members;
    for (std::size_t i = 0; i < members_.size(); ++i)
      members.*EntryMembers::kFields[i].second = &members_[i].value;
    if (!reply_.ReadEntry(members, wildcard_, scanEnded_)) entryFailed_ = true;
  }

  CGetPathInfoJson& reply_;
  const bool wildcard_;
  int depth_ = 0;  // open objects and arrays
  bool rootIsObject_ = false;
  Slot status_, total_, datasSlot_;
  Slot* rootMember_ = nullptr;  // the root member whose value comes next, when it is read
  bool inDatas_ = false;        // the array open at depth 2 is the last "datas"
  bool inEntry_ = false;        // the object open at depth 3 is one of its entries
  std::array<Slot, EntryMembers::kFields.size()> members_;  // in the order of kFields
  Slot* pending_ = nullptr;  // the entry member whose value comes next, when it is read
  bool entryFailed_ = false, scanEnded_ = false;
};

int CGetPathInfoJson::Parse(std::string_view utf8) {
  Reset();
  try {
    OnePass reading(*this);
    if (ReadJsonEvents(utf8, reading) && reading.Finish()) return 1;
  } catch (const std::exception&) {
    // Running out of memory: not parsed, like every other failure.
  }
  Reset();
  return -1;
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
