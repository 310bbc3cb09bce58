// The reply of the file-service login and of the sid fetch through a system session.
#pragma once

#include <string>

#include "filestation/ParserBase.h"

namespace vesk {

class CWebFileManLogin : public ZJsonParserBase {
 public:
  int status = 0;    // "status", a number or decimal text (ReadLenientIntMember); 0 when absent
  std::wstring sid;  // "sid" as text (ReadTextMember), whole whatever its length

 protected:
  void Reset() override;
  bool ReadMembers(const JsonValue& root) override;
};

}  // namespace vesk
