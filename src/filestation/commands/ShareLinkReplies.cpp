#include "filestation/commands/ShareLinkReplies.h"

#include <algorithm>

#include "platform/Text.h"

namespace vesk {
namespace {

// A reply ends at its first NUL byte, as with every other parser.
std::string_view UpToNul(std::string_view text) {
  return text.substr(0, std::min(text.find('\0'), text.size()));
}

// The value of a key with every backslash removed; false when the reply has none.
bool FindUnescaped(std::string_view key, std::string_view reply, std::wstring& value) {
  std::wstring found;
  if (!FindReplyValue(key, reply, found)) return false;
  found.erase(std::remove(found.begin(), found.end(), L'\\'), found.end());
  value = std::move(found);
  return true;
}

// Whether a value reads as the word given in lower case, ignoring the case of ASCII letters.
bool EqualsIgnoringCase(const std::wstring& value, std::wstring_view lower) {
  return std::equal(
      value.begin(), value.end(), lower.begin(), lower.end(),
      [](wchar_t a, wchar_t b) { return (a >= L'A' && a <= L'Z' ? a - L'A' + L'a' : a) == b; });
}

}  // namespace

bool FindReplyValue(std::string_view key, std::string_view reply, std::wstring& value) {
  reply = UpToNul(reply);
  const std::size_t at = reply.find(key);
  if (at == std::string_view::npos || at == 0) return false;
  std::string collected;
  for (std::size_t i = at + key.size(); i < reply.size(); ++i) {
    const char c = reply[i];
    if (c == ',' || c == '}') break;
    if (c == '"' || c == ' ' || (c == ':' && collected.empty())) continue;
    collected += c;
  }
  if (collected.empty()) return false;
  value = FromUtf8(collected);
  return true;
}

int CWebFileManGetLinkXml::Parse(std::string_view utf8) {
  Reset();
  std::wstring text;
  if (!FindReplyValue("status", utf8, text)) return 1;
  if (text == L"1") status = 1;
  FindUnescaped("expire_time", utf8, expiry);
  // A reply without "link_url" names the link by its "filename".
  FindUnescaped("filename", utf8, link);
  FindUnescaped("link_url", utf8, link);
  return 1;
}

int CWebFileManCreateLinkXml::Parse(std::string_view utf8) {
  Reset();
  std::wstring text;
  if (!FindReplyValue("status", utf8, text)) return 1;
  if (text == L"1") status = 1;
  if (FindReplyValue("success", utf8, text) && EqualsIgnoringCase(text, L"true")) success = 1;
  return 1;
}

bool CShareLinkListJson::ReadMembers(const JsonValue& root) {
  status = GetIntMember(root, "status");
  maxShareCount = GetIntMember(root, "max_share_file");
  total = GetIntMember(root, "total");
  const JsonValue* datas = FindMember(root, "datas");
  if (total < 1 || datas == nullptr || !datas->IsArray()) return true;
  for (const JsonValue& element : datas->GetArray()) {
    ShareListEntry entry;
    // Only string members count; anything else leaves its text empty.
    const auto text = [&](const char* name, std::wstring& out) {
      const JsonValue* member = FindMember(element, name);
      if (member != nullptr && member->IsString()) out = FromUtf8(StringOf(*member));
    };
    text("ssid", entry.shareId);
    text("filename", entry.fileName);
    text("expire_time", entry.expiry);
    text("download_link", entry.downloadLink);
    text("creator", entry.creator);
    entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace vesk
