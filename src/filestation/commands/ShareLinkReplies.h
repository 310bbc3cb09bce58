// The replies of the share-link commands: the link a creation's first step allocates, the
// status of its second step and of a deletion (all three scanned as text, key by key), and the
// list of the device's links (JSON).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "filestation/ParserBase.h"

namespace vesk {

// Scans a reply for the value that follows a key, without parsing the reply as a document:
// - the key is found as a plain, case-sensitive substring, its first occurrence; not found, or
//   found at the very start of the text: false;
// - the characters after it are walked to the end of the text: double quotes and spaces are
//   skipped, and so are colons until the value's first character has been collected (a colon
//   inside the value, as in a URL, is kept); a comma or "}" ends the value; anything else is
//   collected;
// - nothing collected: false; otherwise the value, converted from UTF-8, and true.
// So a value carries no spaces: "a b" reads as "ab". The value is carried whole, whatever its
// length. The reply ends at its first NUL byte, if it has one.
bool FindReplyValue(std::string_view key, std::string_view reply, std::wstring& value);

// The reply of a creation's first step (get_share_link). Nothing is read from a reply without
// a "status" value. Values lose every backslash (the device escapes the slashes of its URLs),
// a trailing one included. Parse always gives 1.
class CWebFileManGetLinkXml : public ZXmlParserBase {
 public:
  int status = -1;      // 1 when "status" reads "1"; else -1
  std::wstring link;    // "link_url", or "filename" when the reply has no "link_url"
  std::wstring expiry;  // "expire_time"; empty when the reply has none

  int Parse(std::string_view utf8) override;

 protected:
  void Reset() override { *this = CWebFileManGetLinkXml(); }
  bool ReadElements(const tinyxml2::XMLElement*) override { return true; }
};

// The reply of a creation's second step (share_file) and of a deletion (delete_share). Nothing
// is read from a reply without a "status" value. Parse always gives 1.
class CWebFileManCreateLinkXml : public ZXmlParserBase {
 public:
  int status = -1;  // 1 when "status" reads "1"; else -1
  int success = 0;  // 1 when "success" reads "true" in any case

  int Parse(std::string_view utf8) override;

 protected:
  void Reset() override { *this = CWebFileManCreateLinkXml(); }
  bool ReadElements(const tinyxml2::XMLElement*) override { return true; }
};

// One link of the device's list. Each text is empty when the reply lacks it (or gives it as
// anything but a string), and is carried whole.
struct ShareListEntry {
  std::wstring shareId;       // "ssid"
  std::wstring fileName;      // "filename"
  std::wstring downloadLink;  // "download_link"
  std::wstring creator;       // "creator"
  std::wstring expiry;        // "expire_time"
};

// The reply of get_share_list. A root that is not an object parses and reads nothing. The
// three counts are read leniently (GetIntMember: a number, the leading digits of text, else 0)
// and never make a reply count as not parsed. The entries are read only when "total" is at
// least 1 and "datas" is an array: one entry per element, in order.
class CShareLinkListJson : public ZJsonParserBase {
 public:
  int status = -1;        // "status"; 0 in an object without it
  int maxShareCount = 0;  // "max_share_file"
  int total = 0;          // "total"
  std::vector<ShareListEntry> entries;

 protected:
  void Reset() override { *this = CShareLinkListJson(); }
  bool ReadMembers(const JsonValue& root) override;
};

}  // namespace vesk
