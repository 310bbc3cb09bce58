#include "filestation/LoginReply.h"

namespace vesk {

void CWebFileManLogin::Reset() { *this = CWebFileManLogin(); }

bool CWebFileManLogin::ReadMembers(const JsonValue& root) {
  return ReadLenientIntMember(root, "status", status) && ReadTextMember(root, "sid", sid);
}

}  // namespace vesk
