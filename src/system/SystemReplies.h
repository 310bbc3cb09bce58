// The XML replies of the system service: its login and its web-server settings.
#pragma once

#include <string>

#include "filestation/ParserBase.h"

namespace vesk {

// The system login reply: a root element holding "authPassed" and "authSid".
class AuthLoginResultXml : public ZXmlParserBase {
 public:
  // After a parse: 1 when the text of the root's child "authPassed" is exactly "1", else -1
  // (also when it is missing). 0 only before a parse or after one that returned -1.
  int passed = 0;
  // The text of "authSid", read only when passed is 1; whole whatever its length.
  std::wstring sid;

 protected:
  void Reset() override;
  bool ReadElements(const tinyxml2::XMLElement* root) override;
};

// The web-server settings reply. The settings are read only when passed is 1, from the
// settings element: the first child element of the second child element of the root's eighth
// child element (child elements counted in document order, other nodes skipped).
class SYSGetSystemSettingXml : public ZXmlParserBase {
 public:
  int passed = 0;              // as in AuthLoginResultXml
  bool settingsFound = false;  // passed is 1 and the settings element exists
  int port = 0;                // "port" (ReadInt); 0 when missing
  int sslPort = 0;             // "SSLPort" (ReadInt)
  int ssl = 0;                 // "SSL" (ReadBool: 1 for "TRUE" or "1", 0 otherwise)
  int sslForce = 0;            // "SSLForce" (ReadBool)
  std::wstring serverName;     // "serverName" (ReadText), whole

 protected:
  void Reset() override;
  bool ReadElements(const tinyxml2::XMLElement* root) override;
};

}  // namespace vesk
