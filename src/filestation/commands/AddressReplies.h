// The reply of get_domain_ip_list: the device's cloud host name and its addresses.
#pragma once

#include <string>

#include "filestation/ParserBase.h"

namespace vesk {

// A root that is not an object does not parse. Each text is taken when its member is there
// with non-empty text (a number as its decimal text); a member given as an array or an object
// makes the reply count as not parsed. Texts are carried whole.
class CGetDomainIPListJson : public ZJsonParserBase {
 public:
  int status = -1;             // "status" read leniently (GetIntMember); 0 when absent
  std::wstring cloudHostName;  // "farlinknas_hn"
  std::wstring externalIP;     // "external_ip"
  std::wstring localIP;        // "local_ip"
  std::wstring hostIP;         // "host_ip"

 protected:
  void Reset() override { *this = CGetDomainIPListJson(); }
  bool ReadMembers(const JsonValue& root) override;
  bool ObjectRootRequired() const override { return true; }
};

}  // namespace vesk
