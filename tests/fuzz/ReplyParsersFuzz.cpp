#include "ReplyParsersFuzz.h"

#include <tinyxml2.h>

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>

#include "filestation/LoginReply.h"
#include "filestation/ParserBase.h"
#include "filestation/commands/AddressReplies.h"
#include "filestation/commands/ArchiveReplies.h"
#include "filestation/commands/FileTreeReplies.h"
#include "filestation/commands/ShareLinkReplies.h"
#include "filestation/commands/TransferReplies.h"
#include "platform/Text.h"
#include "system/SystemReplies.h"

namespace vesk {

// Entries compare field by field, for the checks below.
static bool operator==(const PathInfoEntry& a, const PathInfoEntry& b) {
  const PathInfoTexts &x = a.Texts(), &y = b.Texts();
  return std::tie(a.name, x.permissionText, a.isFolder, a.isCompressed, a.size, x.modifyTimeText,
                  x.modifyTime, x.group,
                  x.owner) == std::tie(b.name, y.permissionText, b.isFolder, b.isCompressed, b.size,
                                       y.modifyTimeText, y.modifyTime, y.group, y.owner);
}

static bool operator==(const ExtractListEntry& a, const ExtractListEntry& b) {
  return std::tie(a.name, a.isFolder, a.size, a.compressedSize, a.modifyTimeText) ==
         std::tie(b.name, b.isFolder, b.size, b.compressedSize, b.modifyTimeText);
}

static bool operator==(const ShareListEntry& a, const ShareListEntry& b) {
  return std::tie(a.shareId, a.fileName, a.downloadLink, a.creator, a.expiry) ==
         std::tie(b.shareId, b.fileName, b.downloadLink, b.creator, b.expiry);
}

namespace fuzz {
namespace {

// Listings read every field; one with a wildcard pattern, one with a plain name.
struct WildcardListing : CGetPathInfoJson {
  WildcardListing() { pathInfoFlags = -1; }
};
struct PlainNameListing : CGetPathInfoJson {
  PlainNameListing() {
    pattern = L"a.txt";
    pathInfoFlags = -1;
  }
};

// Replies that fill every field, parsed first into a parser that then parses the input: the
// result must not depend on what the parser held before.
constexpr std::string_view kFullStatus = R"({"status":5,"success":"true","pid":"p"})";
constexpr std::string_view kFullLogin = R"({"status":1,"sid":"s"})";
constexpr std::string_view kFullAuth = "<r><authPassed>1</authPassed><authSid>s</authSid></r>";
constexpr std::string_view kFullSettings =
    "<r><authPassed>1</authPassed><a/><b/><c/><d/><e/><f/><g><n/><o><s>"
    "<serverName>n</serverName><port>1</port><SSL>1</SSL><SSLPort>2</SSLPort>"
    "<SSLForce>1</SSLForce></s></o></g></r>";

auto Fields(const CWebFileManGetResultJson& p) { return std::tie(p.status, p.success, p.pid); }
auto Fields(const CWebFileManLogin& p) { return std::tie(p.status, p.sid); }
auto Fields(const AuthLoginResultXml& p) { return std::tie(p.passed, p.sid); }
auto Fields(const SYSGetSystemSettingXml& p) {
  return std::tie(p.passed, p.settingsFound, p.port, p.sslPort, p.ssl, p.sslForce, p.serverName);
}
auto Fields(const JobStartReply& r) { return std::tie(r.jobId, r.status, r.success); }
auto Fields(const CGetFolderInfoJson& p) { return std::tie(p.status, p.entries); }
auto Fields(const CGetPathInfoJson& p) { return std::tie(p.status, p.total, p.entries); }
auto Fields(const CGetMoveStatusJson& p) { return std::tie(p.status, p.percent); }
auto Fields(const CGetUploadIDJson& p) { return std::tie(p.status, p.uploadId); }
auto Fields(const CGetChunkFileSizeJson& p) { return std::tie(p.status, p.size); }
auto Fields(const CWebFileManGetLinkXml& p) { return std::tie(p.status, p.link, p.expiry); }
auto Fields(const CWebFileManCreateLinkXml& p) { return std::tie(p.status, p.success); }
auto Fields(const CShareLinkListJson& p) {
  return std::tie(p.status, p.maxShareCount, p.total, p.entries);
}
auto Fields(const CGetDomainIPListJson& p) {
  return std::tie(p.status, p.cloudHostName, p.externalIP, p.localIP, p.hostIP);
}
auto Fields(const CGetListExtractedFileInfoJson& p) {
  return std::tie(p.status, p.total, p.elementCount, p.entries);
}

constexpr std::string_view kFullTree = R"([{"text":"Public","iconCls":"folder"}])";
constexpr std::string_view kFullListing =
    R"({"status":0,"total":2,"datas":[{"filename":"a.txt","isfolder":0,"filesize":5,)"
    R"("epochmt":1,"mt":"t","privilege":755,"iscommpressed":1,"group":"g","owner":"o"}]})";
constexpr std::string_view kFullJob = R"({"status":1,"filename":"f","percent":40})";
constexpr std::string_view kFullUploadId = R"({"status":0,"upload_id":"u1"})";
constexpr std::string_view kFullChunkSize = R"({"status":0,"size":40000})";
constexpr std::string_view kFullGetLink =
    R"({"status":1,"link_url":"https:\/\/h\/s?id=1","expire_time":"2030\/01\/02"})";
constexpr std::string_view kFullCreateLink = R"({"status":1,"success":"true"})";
constexpr std::string_view kFullShareList =
    R"({"status":1,"max_share_file":9,"total":1,"datas":[{"ssid":"s","filename":"f",)"
    R"("expire_time":"e","download_link":"d","creator":"c"}]})";
constexpr std::string_view kFullAddresses =
    R"({"status":1,"farlinknas_hn":"c","external_ip":"e","local_ip":"l","host_ip":"h"})";

// What FindReplyValue must respect for any key: a value it finds is not empty, does not begin
// with a colon and holds none of the characters the scan skips or ends at.
std::string ScannedValueRules(std::string_view input) {
  for (const char* key : {"status", "link_url", "\"", ":"}) {
    std::wstring value = L"untouched";
    if (!FindReplyValue(key, input, value)) {
      if (value != L"untouched") return "FindReplyValue wrote a value it did not find";
      continue;
    }
    if (value.empty() || value.front() == L':' ||
        value.find_first_of(L"\" ,}") != std::wstring::npos)
      return std::string("FindReplyValue gave a value it should have ended or skipped: ") + key;
  }
  return "";
}
constexpr std::string_view kFullArchiveList =
    R"({"status":0,"total":2,"datas":[{"filename":"a","isfolder":1,"filesize":"5000000000",)"
    R"("compress_size":7,"mt":"t"},{"filename":""}]})";

// What every listing must respect, whatever it read.
std::string ListingRules(const CGetPathInfoJson& p, int parsed) {
  if (parsed == -1 && !p.entries.empty()) return "entries from a reply not parsed";
  if (!p.entries.empty() && p.total == 0) return "entries from an empty listing";
  const bool wildcard = p.pattern.find_first_of(L"*?") != std::wstring::npos;
  if (!wildcard && p.entries.size() > 1) return "a plain name gave more than one entry";
  for (const PathInfoEntry& e : p.entries) {
    if (e.name.empty() || !NameMatchesPattern(p.pattern, e.name))
      return "an entry whose name does not match";
    const std::wstring& permission = e.Texts().permissionText;
    if (!permission.empty() && permission != L"ReadWrite" && permission != L"ReadOnly" &&
        permission != L"AccessDenied")
      return "an unknown permission text";
    if (e.Texts().modifyTime < 0) return "a time before 1970";
  }
  return "";
}

// A listing read in one pass against the same listing read from the whole tree: the same
// result and fields, with the texts kept or not.
template <typename Listing>
std::string OnePassAgreesWithTree(const char* name, std::string_view input) {
  for (const bool keepTexts : {true, false}) {
    Listing onePass, tree;
    onePass.keepTexts = tree.keepTexts = keepTexts;
    const int read = onePass.Parse(input);
    if (tree.ZJsonParserBase::Parse(input) != read || Fields(onePass) != Fields(tree))
      return std::string(name) + ": the one-pass reading differs from the tree's";
  }
  return "";
}

bool IsFlag(int value) { return value == 0 || value == 1; }

// The checks every parser shares; `rules` adds the parser's own, given the parse result.
template <typename Parser, typename Rules>
std::string CheckParser(const char* name, std::string_view input, std::string_view prime,
                        Rules rules) {
  const std::string where = std::string(name) + ": ";
  try {
    Parser fresh;
    const int parsed = fresh.Parse(input);
    if (parsed != 1 && parsed != -1) return where + "Parse returned " + std::to_string(parsed);
    if (parsed == -1 && Fields(fresh) != Fields(Parser())) {
      return where + "not parsed, yet the fields changed";
    }
    Parser reused;
    reused.Parse(prime);
    if (reused.Parse(input) != parsed || Fields(reused) != Fields(fresh)) {
      return where + "a parser used before gives another result than a fresh one";
    }
    return rules(fresh, parsed);
  } catch (const std::exception& e) {
    return where + "exception escaped: " + e.what();
  } catch (...) {
    return where + "exception escaped";
  }
}

// The reading functions on whatever the input holds, where they cannot be reached through a
// parser: GetIntMember on every member, the XML reading functions on every child of the root.
std::string CheckReadingFunctions(std::string_view input) {
  try {
    const std::string text(input.substr(0, input.find('\0')));
    // The lenient integer read on the tree the parsers read, for every member of the root.
    ZJsonParserBase::JsonDocument document;
    if (ZJsonParserBase::ParseJson(text, document)) {
      const JsonValue& root = document.Root();
      ZJsonParserBase::GetIntMember(root, "status");
      if (root.IsObject()) {
        for (auto m = root.MemberBegin(); m != root.MemberEnd(); ++m) {
          const std::string member(m->name.GetString(), m->name.GetStringLength());
          ZJsonParserBase::GetIntMember(root, member.c_str());
        }
      }
    }

    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS) {
      const tinyxml2::XMLElement* xmlRoot = doc.FirstChildElement();
      for (const tinyxml2::XMLElement* child = xmlRoot ? xmlRoot->FirstChildElement() : nullptr;
           child != nullptr; child = child->NextSiblingElement()) {
        const char* name = child->Name();
        std::string utf8;
        std::wstring wide;
        int flag = 7, number = 7;
        const int hasText = ZXmlParserBase::ReadUtf8(name, utf8, xmlRoot);
        if (ZXmlParserBase::ReadText(name, wide, xmlRoot) != hasText ||
            ZXmlParserBase::ReadBool(name, flag, xmlRoot) != hasText ||
            ZXmlParserBase::ReadInt(number, xmlRoot, name) != hasText) {
          return "XML reading functions disagree on whether the element has text";
        }
        if (hasText == 1) {
          if (wide != FromUtf8(utf8)) return "ReadText differs from the UTF-8 text";
          if (flag != (utf8 == "TRUE" || utf8 == "1" ? 1 : 0)) return "ReadBool misread";
          if (number != LeadingDecimal(utf8)) return "ReadInt misread";
        } else if (flag != 7 || number != 7 || !wide.empty() || !utf8.empty()) {
          return "an XML reading function wrote its output without text";
        }
      }
    }
  } catch (const std::exception& e) {
    return std::string("reading functions: exception escaped: ") + e.what();
  }
  return {};
}

}  // namespace

std::string CheckReplyParsers(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string failure;

  failure = CheckParser<CWebFileManGetResultJson>(
      "CWebFileManGetResultJson", input, kFullStatus,
      [](const CWebFileManGetResultJson& p, int) -> std::string {
        return IsFlag(p.success) ? "" : "success is not 0 or 1";
      });
  if (!failure.empty()) return failure;

  failure = CheckParser<CWebFileManLogin>("CWebFileManLogin", input, kFullLogin,
                                          [](const CWebFileManLogin&, int) { return ""; });
  if (!failure.empty()) return failure;

  failure =
      CheckParser<AuthLoginResultXml>("AuthLoginResultXml", input, kFullAuth,
                                      [](const AuthLoginResultXml& p, int parsed) -> std::string {
                                        if (parsed == 1 && p.passed != 1 && p.passed != -1)
                                          return "passed not 1 or -1";
                                        if (p.passed != 1 && !p.sid.empty())
                                          return "a sid without a passed login";
                                        return "";
                                      });
  if (!failure.empty()) return failure;

  failure = CheckParser<SYSGetSystemSettingXml>(
      "SYSGetSystemSettingXml", input, kFullSettings,
      [](const SYSGetSystemSettingXml& p, int parsed) -> std::string {
        if (parsed == 1 && p.passed != 1 && p.passed != -1) return "passed not 1 or -1";
        if (!IsFlag(p.ssl) || !IsFlag(p.sslForce)) return "a flag is not 0 or 1";
        if (p.settingsFound && p.passed != 1) return "settings found without a passed reply";
        if (!p.settingsFound && (p.port != 0 || p.sslPort != 0 || p.ssl != 0 || p.sslForce != 0 ||
                                 !p.serverName.empty())) {
          return "settings read without the settings element";
        }
        return "";
      });
  if (!failure.empty()) return failure;

  failure = CheckParser<CGetFolderInfoJson>("CGetFolderInfoJson", input, kFullTree,
                                            [](const CGetFolderInfoJson& p, int) -> std::string {
                                              for (const PathInfoEntry& e : p.entries)
                                                if (e.name.empty() || !e.isFolder)
                                                  return "a share root that is not a named folder";
                                              return "";
                                            });
  if (!failure.empty()) return failure;

  failure = CheckParser<WildcardListing>("CGetPathInfoJson *", input, kFullListing, ListingRules);
  if (!failure.empty()) return failure;
  failure =
      CheckParser<PlainNameListing>("CGetPathInfoJson a.txt", input, kFullListing, ListingRules);
  if (!failure.empty()) return failure;
  failure = OnePassAgreesWithTree<WildcardListing>("CGetPathInfoJson *", input);
  if (!failure.empty()) return failure;
  failure = OnePassAgreesWithTree<PlainNameListing>("CGetPathInfoJson a.txt", input);
  if (!failure.empty()) return failure;

  failure = CheckParser<CGetMoveStatusJson>(
      "CGetMoveStatusJson", input, kFullJob, [](const CGetMoveStatusJson& p, int) -> std::string {
        return p.status != 1 && p.percent != 0 ? "a percentage without status 1" : "";
      });
  if (!failure.empty()) return failure;

  failure = CheckParser<CGetUploadIDJson>("CGetUploadIDJson", input, kFullUploadId,
                                          [](const CGetUploadIDJson&, int) { return ""; });
  if (!failure.empty()) return failure;

  failure =
      CheckParser<CGetChunkFileSizeJson>("CGetChunkFileSizeJson", input, kFullChunkSize,
                                         [](const CGetChunkFileSizeJson&, int) { return ""; });
  if (!failure.empty()) return failure;

  failure = CheckParser<CGetListExtractedFileInfoJson>(
      "CGetListExtractedFileInfoJson", input, kFullArchiveList,
      [](const CGetListExtractedFileInfoJson& p, int parsed) -> std::string {
        if (parsed == -1 && !p.entries.empty()) return "entries from a reply not parsed";
        if (!p.entries.empty() && p.total == 0) return "entries from an empty archive";
        if (p.entries.size() > static_cast<std::size_t>(p.elementCount))
          return "more entries than elements";
        for (const ExtractListEntry& e : p.entries)
          if (e.name.empty()) return "an entry without a name";
        return "";
      });
  if (!failure.empty()) return failure;

  // Without a "status" value the scanned replies read nothing.
  std::wstring statusText;
  const bool hasStatus = FindReplyValue("status", input, statusText);
  failure = CheckParser<CWebFileManGetLinkXml>(
      "CWebFileManGetLinkXml", input, kFullGetLink,
      [&](const CWebFileManGetLinkXml& p, int parsed) -> std::string {
        if (parsed != 1) return "did not report success";
        if (p.status != 1 && p.status != -1) return "status not 1 or -1";
        if (!hasStatus && (p.status != -1 || !p.link.empty() || !p.expiry.empty()))
          return "values read from a reply without a status";
        if (p.link.find(L'\\') != std::wstring::npos || p.expiry.find(L'\\') != std::wstring::npos)
          return "a backslash left in a value";
        return "";
      });
  if (!failure.empty()) return failure;

  failure = CheckParser<CWebFileManCreateLinkXml>(
      "CWebFileManCreateLinkXml", input, kFullCreateLink,
      [&](const CWebFileManCreateLinkXml& p, int parsed) -> std::string {
        if (parsed != 1) return "did not report success";
        if (p.status != 1 && p.status != -1) return "status not 1 or -1";
        if (!IsFlag(p.success)) return "success is not 0 or 1";
        if (!hasStatus && (p.status != -1 || p.success != 0))
          return "values read from a reply without a status";
        return "";
      });
  if (!failure.empty()) return failure;

  failure = ScannedValueRules(input);
  if (!failure.empty()) return failure;

  failure = CheckParser<CShareLinkListJson>(
      "CShareLinkListJson", input, kFullShareList,
      [](const CShareLinkListJson& p, int) -> std::string {
        return !p.entries.empty() && p.total < 1 ? "links from a list whose total is not 1 or more"
                                                 : "";
      });
  if (!failure.empty()) return failure;

  failure = CheckParser<CGetDomainIPListJson>("CGetDomainIPListJson", input, kFullAddresses,
                                              [](const CGetDomainIPListJson&, int) { return ""; });
  if (!failure.empty()) return failure;

  try {
    JobStartReply fresh, reused{7, 7, 7};
    const int parsed = ParseJobStartReply(input, fresh);
    if (parsed != 1 && parsed != -1) return "ParseJobStartReply returned another value";
    if (ParseJobStartReply(input, reused) != parsed || Fields(reused) != Fields(fresh)) {
      return "ParseJobStartReply depends on what its output held";
    }
    if (parsed == -1 && Fields(fresh) != Fields(JobStartReply())) {
      return "ParseJobStartReply: not parsed, yet the fields changed";
    }
    if (!IsFlag(fresh.success)) return "ParseJobStartReply: success is not 0 or 1";
  } catch (const std::exception& e) {
    return std::string("ParseJobStartReply: exception escaped: ") + e.what();
  }

  return CheckReadingFunctions(input);
}

}  // namespace fuzz
}  // namespace vesk
