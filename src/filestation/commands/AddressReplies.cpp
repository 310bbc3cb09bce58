#include "filestation/commands/AddressReplies.h"

#include "platform/Text.h"

namespace vesk {

bool CGetDomainIPListJson::ReadMembers(const JsonValue& root) {
  // The status says nothing the caller uses: it never fails the reply.
  status = GetIntMember(root, "status");
  const auto text = [&](const char* name, std::wstring& out) {
    std::string utf8;
    if (!ReadUtf8Member(root, name, utf8)) return false;
    if (!utf8.empty()) out = FromUtf8(utf8);
    return true;
  };
  return text("farlinknas_hn", cloudHostName) && text("external_ip", externalIP) &&
         text("local_ip", localIP) && text("host_ip", hostIP);
}

}  // namespace vesk
