#include "system/SystemReplies.h"

namespace vesk {
namespace {

// 1 when the root's child "authPassed" reads exactly "1", else -1.
int ReadPassed(const tinyxml2::XMLElement* root) {
  std::string text;
  return ZXmlParserBase::ReadUtf8("authPassed", text, root) == 1 && text == "1" ? 1 : -1;
}

}  // namespace

void AuthLoginResultXml::Reset() { *this = AuthLoginResultXml(); }

bool AuthLoginResultXml::ReadElements(const tinyxml2::XMLElement* root) {
  passed = ReadPassed(root);
  if (passed == 1) ReadText("authSid", sid, root);
  return true;
}

void SYSGetSystemSettingXml::Reset() { *this = SYSGetSystemSettingXml(); }

bool SYSGetSystemSettingXml::ReadElements(const tinyxml2::XMLElement* root) {
  passed = ReadPassed(root);
  if (passed != 1) return true;
  const tinyxml2::XMLElement* settings =
      ChildElementAt(ChildElementAt(ChildElementAt(root, 7), 1), 0);
  settingsFound = settings != nullptr;
  if (!settingsFound) return true;
  ReadText("serverName", serverName, settings);
  ReadInt(port, settings, "port");
  ReadBool("SSL", ssl, settings);
  ReadInt(sslPort, settings, "SSLPort");
  ReadBool("SSLForce", sslForce, settings);
  return true;
}

}  // namespace vesk
