#include "system/SystemReplies.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

// ---------------------------------------------------------------------------------------------
// AuthLoginResultXml

TEST(AuthLoginResultXml, ReadsPassedAndSid) {
  const std::string longSid(400, 'k');
  struct Case {
    std::string text;
    int parsed, passed;
    std::wstring sid;
  } cases[] = {
      {"<root><authPassed>1</authPassed><authSid>s1d</authSid></root>", 1, 1, L"s1d"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- reply -->\n<root>\n"
       "  <authPassed><![CDATA[1]]></authPassed>\n  <authSid><![CDATA[s1d]]></authSid>\n"
       "</root>\n",
       1, 1, L"s1d"},
      {"<root><authSid>s1d</authSid><authPassed>1</authPassed></root>", 1, 1, L"s1d"},
      {"<root><authPassed>1</authPassed><authSid>" + longSid + "</authSid></root>", 1, 1,
       std::wstring(longSid.begin(), longSid.end())},  // whole, beyond 255 characters
      {"<root><authPassed>1</authPassed></root>", 1, 1, L""},
      // Only the exact text 1 passes; the sid is then not read.
      {"<root><authPassed>0</authPassed><authSid>s1d</authSid></root>", 1, -1, L""},
      {"<root><authPassed> 1</authPassed><authSid>s1d</authSid></root>", 1, -1, L""},
      {"<root><authPassed>TRUE</authPassed><authSid>s1d</authSid></root>", 1, -1, L""},
      {"<root><authSid>s1d</authSid></root>", 1, -1, L""},
      {"<root><x><authPassed>1</authPassed></x></root>", 1, -1, L""},
      {"<authPassed>1</authPassed>", 1, -1, L""},  // the root itself is not its own child
      {"<!-- nothing but a comment -->", 1, -1, L""},
      // Not XML: not parsed, nothing filled.
      {"", -1, 0, L""},
      {R"({"authPassed":1})", -1, 0, L""},
      {"<root><authPassed>1</authPassed>", -1, 0, L""},
      {"<root><authPassed>1</authSid></root>", -1, 0, L""},
      {std::string("\0<root><authPassed>1</authPassed></root>", 40), -1, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    AuthLoginResultXml reply;
    reply.passed = 5;  // Parse resets the fields first
    reply.sid = L"stale";
    EXPECT_EQ(reply.Parse(c.text), c.parsed);
    EXPECT_EQ(reply.passed, c.passed);
    EXPECT_EQ(reply.sid, c.sid);
  }
}

// ---------------------------------------------------------------------------------------------
// SYSGetSystemSettingXml

// A settings reply: the settings element is reached as the root's eighth child element, its
// second child element, and that one's first child element. Comments and text between the
// elements do not count as children.
std::string SettingsReply(const std::string& passed, const std::string& settings) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n"
         "<authPassed><![CDATA[" +
         passed +
         "]]></authPassed>\n"
         "<!-- a comment between the children -->\n"
         "<authSid>s</authSid><c3/><c4>x</c4><c5/>\n<c6/><c7><setting><port>1</port></setting>"
         "</c7>\n"
         "<func>\n  <name>sys_setting</name>\n  <ownContent>\n    <setting>" +
         settings +
         "</setting>\n    <other/>\n  </ownContent>\n</func>\n"
         "<c9><setting><port>2</port></setting></c9>\n</root>\n";
}

struct Settings {
  int parsed, passed;
  bool found;
  int port, sslPort, ssl, sslForce;
  std::wstring serverName;
};

void ExpectSettings(const std::string& text, const Settings& want) {
  SCOPED_TRACE(text);
  SYSGetSystemSettingXml reply;
  reply.port = 99;  // Parse resets the fields first
  reply.serverName = L"stale";
  EXPECT_EQ(reply.Parse(text), want.parsed);
  EXPECT_EQ(reply.passed, want.passed);
  EXPECT_EQ(reply.settingsFound, want.found);
  EXPECT_EQ(reply.port, want.port);
  EXPECT_EQ(reply.sslPort, want.sslPort);
  EXPECT_EQ(reply.ssl, want.ssl);
  EXPECT_EQ(reply.sslForce, want.sslForce);
  EXPECT_EQ(reply.serverName, want.serverName);
}

TEST(SYSGetSystemSettingXml, ReadsTheSettingsElement) {
  const std::string fields =
      "<serverName>Store-1</serverName><port>8080</port><SSL>1</SSL><SSLPort>443</SSLPort>"
      "<SSLForce>1</SSLForce>";
  struct Case {
    std::string settings;
    Settings want;
  } cases[] = {
      {fields, {1, 1, true, 8080, 443, 1, 1, L"Store-1"}},
      // SSL written TRUE gives 1; SSLForce written true gives 0.
      {"<serverName>Store-1</serverName><port>8080</port><SSL>TRUE</SSL>"
       "<SSLPort>8081</SSLPort><SSLForce>true</SSLForce>",
       {1, 1, true, 8080, 8081, 1, 0, L"Store-1"}},
      // A missing port leaves 0; the other values are still read.
      {"<serverName>Store-1</serverName><SSL>0</SSL><SSLPort>443</SSLPort>",
       {1, 1, true, 0, 443, 0, 0, L"Store-1"}},
      {"<port>80abc</port><SSLPort>x</SSLPort><serverName>\xe6\x96\x87</serverName>",
       {1, 1, true, 80, 0, 0, 0, L"\x6587"}},
      {"<serverName><![CDATA[" + std::string(300, 'n') + "]]></serverName>",
       {1, 1, true, 0, 0, 0, 0, std::wstring(300, L'n')}},
      {"", {1, 1, true, 0, 0, 0, 0, L""}},
  };
  for (const Case& c : cases) ExpectSettings(SettingsReply("1", c.settings), c.want);
}

TEST(SYSGetSystemSettingXml, NotPassedOrWithoutTheElementPathReadsNoSettings) {
  const std::string fields = "<serverName>S</serverName><port>8080</port><SSL>1</SSL>";
  const Settings notPassed{1, -1, false, 0, 0, 0, 0, L""};
  const Settings noPath{1, 1, false, 0, 0, 0, 0, L""};
  struct Case {
    std::string text;
    Settings want;
  } cases[] = {
      {SettingsReply("0", fields), notPassed},
      {SettingsReply("", fields), notPassed},
      {SettingsReply("TRUE", fields), notPassed},
      // Settings as direct children of the root are not where they are looked for.
      {"<root><authPassed>1</authPassed>" + fields + "</root>", noPath},
      // Seven child elements only.
      {"<root><authPassed>1</authPassed><a/><b/><c/><d/><e/><f/></root>", noPath},
      // The eighth has one child element only; comments and text do not count.
      {"<root><authPassed>1</authPassed><a/><b/><c/><d/><e/><f/>"
       "<g><name/><!-- c -->text</g></root>",
       noPath},
      // The fields one level too high: the first of them is taken as the settings element.
      {"<root><authPassed>1</authPassed><a/><b/><c/><d/><e/><f/>"
       "<g><name/><own>" +
           fields + "</own></g></root>",
       {1, 1, true, 0, 0, 0, 0, L""}},
      // Its second child element has no child element, only text.
      {"<root><authPassed>1</authPassed><a/><b/><c/><d/><e/><f/>"
       "<g><name/><own>just text</own></g></root>",
       noPath},
      {"<authPassed>1</authPassed>", {1, -1, false, 0, 0, 0, 0, L""}},
      // Not XML.
      {"", {-1, 0, false, 0, 0, 0, 0, L""}},
      {R"({"authPassed":"1"})", {-1, 0, false, 0, 0, 0, 0, L""}},
      {SettingsReply("1", fields).substr(0, 200), {-1, 0, false, 0, 0, 0, 0, L""}},
  };
  for (const Case& c : cases) ExpectSettings(c.text, c.want);
}

TEST(XmlParsers, DeepNestingIsRejectedWithoutCrashing) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  const std::string texts[] = {
      deep,
      "<root><authPassed>1</authPassed>" + deep + "</root>",
      std::string(100000, '<'),
  };
  for (const std::string& text : texts) {
    AuthLoginResultXml login;
    EXPECT_EQ(login.Parse(text), -1);
    EXPECT_EQ(login.passed, 0);
    SYSGetSystemSettingXml settings;
    EXPECT_EQ(settings.Parse(text), -1);
  }
  // Nesting well below the limit parses.
  std::string moderate = "<root><authPassed>1</authPassed><n>";
  for (int i = 0; i < 50; ++i) moderate += "<a>";
  for (int i = 0; i < 50; ++i) moderate += "</a>";
  moderate += "</n><authSid>s</authSid></root>";
  AuthLoginResultXml login;
  EXPECT_EQ(login.Parse(moderate), 1);
  EXPECT_EQ(login.sid, L"s");
}

}  // namespace
}  // namespace vesk
