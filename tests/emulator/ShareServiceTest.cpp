// The emulated device's share links, viewer and thumbnails driven over HTTP: links made in two
// steps and fetched with a plain HTTP client, access codes, expiry, deletion, the list's pages,
// the viewer's bytes and types, thumbnails decoded, and refusals.
#include <gd.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Peer.h"
#include "TestDevice.h"
#include "emulator/Emulator.h"

namespace vesk::emulator {
namespace {

using namespace test;
namespace fs = std::filesystem;

constexpr const char* kFile = "report, final}.txt";  // "," and "}" end a scanned value
constexpr const char* kContent = "the shared bytes\n";

// The value of key as the library's reply scanner reads it: after the key's first occurrence,
// quotes and spaces are skipped (colons too, until something is collected), and "," or "}"
// ends it; backslashes are then removed. nullopt when the key is missing.
std::optional<std::string> Scan(const std::string& reply, const std::string& key) {
  const std::size_t at = reply.find(key);
  if (at == std::string::npos || at == 0) return std::nullopt;
  std::string value;
  for (std::size_t i = at + key.size(); i < reply.size(); ++i) {
    const char c = reply[i];
    if (c == ',' || c == '}') break;
    if (c == '"' || c == ' ' || (c == ':' && value.empty()) || c == '\\') continue;
    value += c;
  }
  return value;
}

// Local time as text in a strftime format.
std::string LocalText(std::time_t when, const char* format) {
  tm parts{};
  localtime_r(&when, &parts);
  std::ostringstream text;
  text << std::put_time(&parts, format);
  return text.str();
}

// Tomorrow at hour:minute:second, local time.
std::time_t Tomorrow(int hour, int minute, int second) {
  const std::time_t now = std::time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  parts.tm_mday += 1;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  return mktime(&parts);
}

// The device over base/root with the share Public (holding kFile and the folder sub), whose
// clock the test sets; logged in on construction.
class Device : public TestDevice {
 public:
  explicit Device(bool tls = true)
      : Device(tls, std::make_shared<std::atomic<std::time_t>>(std::time(nullptr))) {}

  void SetClock(std::time_t now) { *clock_ = now; }

  Reply Post(const std::string& func, const Fields& form, const std::string* sid = nullptr) const {
    std::string body;
    for (const auto& [name, value] : form)
      body += (body.empty() ? "" : "&") + name + "=" + Encode(value);
    return PostForm(UtilUrl(func, {}, false, sid), body);
  }

 private:
  using Clock = std::shared_ptr<std::atomic<std::time_t>>;

  Device(bool tls, Clock clock) : TestDevice("vesk-share", Options(tls, clock)), clock_(clock) {
    fs::create_directories(Public() / "sub");
    std::ofstream(Public() / kFile, std::ios::binary) << kContent;
    std::ofstream(Outside() / "secret.txt") << "secret";
    fs::create_symlink(Outside() / "secret.txt", Public() / "out.txt");
    Start();
  }
  static EmulatorOptions Options(bool tls, const Clock& clock) {
    EmulatorOptions options;
    options.tls = tls;
    options.clock = [clock] { return clock->load(); };
    return options;
  }

  Clock clock_;
};

// The form of get_share_link as the library fills it; changes replace fields or add to them.
Fields LinkForm(const Fields& changes = {}) {
  Fields form = {{"download_type", "create_download_link"},
                 {"valid_duration", "forever"},
                 {"file_total", "1"},
                 {"access_code", ""},
                 {"access_enabled", "false"},
                 {"hostname", "127.0.0.1"},
                 {"ssl", "false"},
                 {"file_name", std::string("/Public/") + kFile},
                 {"path", "/Public"},
                 {"network_type", "internet"}};
  for (const auto& [name, value] : changes) {
    auto it =
        std::find_if(form.begin(), form.end(), [&](const auto& f) { return f.first == name; });
    if (it == form.end()) {
      form.emplace_back(name, value);
    } else {
      it->second = value;
    }
  }
  return form;
}

struct Allocated {
  std::string status, url, expiry;
};

// get_share_link, read as the library reads it.
Allocated Allocate(const Device& device, const Fields& form) {
  const Reply reply = device.Post("get_share_link", form);
  EXPECT_EQ(reply.status, 200) << reply.body;
  return {Scan(reply.body, "status").value_or(""), Scan(reply.body, "link_url").value_or(""),
          Scan(reply.body, "expire_time").value_or("")};
}

// share_file for a link allocated with form: the status it answers.
std::string Confirm(const Device& device, Fields form, const Allocated& link) {
  form.emplace_back("link_url", link.url);
  form.emplace_back("expire_time", link.expiry);
  return Scan(device.Post("share_file", form).body, "status").value_or("");
}

// Both steps; the link's URL.
std::string MakeLink(const Device& device, const Fields& form) {
  const Allocated link = Allocate(device, form);
  EXPECT_EQ(link.status, "1");
  EXPECT_EQ(Confirm(device, form, link), "1");
  return link.url;
}

Json::Value List(const Device& device, const Fields& query) {
  return ParseJson(Send(device.UtilUrl("get_share_list", query)));
}

TEST(ShareServiceTest, ALinkServesItsFileOnceConfirmedUntilDeleted) {
  Device device;
  struct Case {
    const char* code;
    bool ssl;
    Fields changes;
  };
  const Case cases[] = {
      {"", false, {}},
      {"s3cret code", false, {{"access_code", "s3cret code"}, {"access_enabled", "true"}}},
      {"", true, {{"ssl", "true"}}},
      // A bare name is taken inside path.
      {"", false, {{"file_name", kFile}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    const Fields form = LinkForm(c.changes);
    const Allocated link = Allocate(device, form);
    ASSERT_EQ(link.status, "1");
    EXPECT_EQ(link.expiry, "0");
    const std::string prefix = device.BaseUrl(c.ssl) + "/shared/";
    ASSERT_EQ(link.url.rfind(prefix, 0), 0u) << link.url;
    // The scanner reads what a JSON parser reads.
    EXPECT_EQ(
        ParseJson(device.Post("get_share_link", form))["link_url"].asString().rfind(prefix, 0), 0u);
    const std::string withCode = link.url + "?access_code=" + Encode(c.code);

    EXPECT_EQ(Send(withCode).status, 404) << "works before share_file";
    ASSERT_EQ(Confirm(device, form, link), "1");
    const Reply fetched = Send(withCode);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, kContent);
    if (*c.code) {
      EXPECT_EQ(Send(link.url).status, 403);
      EXPECT_EQ(Send(link.url + "?access_code=s3cret").status, 403);
    }

    const Json::Value list = List(device, {{"dir", "ASC"}, {"limit", "10"}, {"sort", "filename"}});
    ASSERT_EQ(list["total"], 1) << list;
    EXPECT_EQ(list["datas"][0]["download_link"], link.url);
    EXPECT_EQ(list["datas"][0]["filename"], std::string("/Public/") + kFile);
    EXPECT_EQ(list["datas"][0]["expire_time"], "0");
    EXPECT_EQ(list["datas"][0]["creator"], "admin");

    // The file's path as the caller spelled it names the link's file.
    const Fields remove = {{"file_total", "1"},
                           {"download_link", link.url},
                           {"filename", std::string("Public//") + kFile}};
    EXPECT_EQ(Scan(device.Post("delete_share", remove).body, "status"), "1");
    EXPECT_EQ(Send(withCode).status, 404);
    EXPECT_EQ(Scan(device.Post("delete_share", remove).body, "status"), "4");
    EXPECT_EQ(List(device, {})["total"], 0);
  }
}

TEST(ShareServiceTest, LinksExpireAtTheTimeAsked) {
  Device device;
  const std::time_t at1030 = Tomorrow(10, 30, 15), endOfDay = Tomorrow(23, 59, 59);
  const struct {
    std::string datetime;
    std::time_t expiry;
  } cases[] = {
      {LocalText(at1030, "%Y-%m-%d %H:%M:%S"), at1030},
      {LocalText(at1030, "%Y/%m/%d %H:%M"), at1030 - 15},
      {LocalText(at1030, "%Y-%m-%dT%H:%M:%S"), at1030},
      {LocalText(at1030, "%Y-%m-%d"), endOfDay},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.datetime);
    device.SetClock(std::time(nullptr));
    const Fields form = LinkForm({{"valid_duration", "specific_time"}, {"datetime", c.datetime}});
    const Allocated link = Allocate(device, form);
    ASSERT_EQ(link.status, "1");
    EXPECT_EQ(link.expiry, LocalText(c.expiry, "%Y-%m-%dT%H:%M:%S"));
    ASSERT_EQ(Confirm(device, form, link), "1");
    device.SetClock(c.expiry - 1);
    EXPECT_EQ(Send(link.url).status, 200);
    device.SetClock(c.expiry);
    EXPECT_EQ(Send(link.url).status, 410);
    // An expired link stays listed until it is deleted.
    const Json::Value list = List(device, {});
    ASSERT_EQ(list["total"], 1);
    EXPECT_EQ(list["datas"][0]["expire_time"], link.expiry);
    EXPECT_EQ(Scan(device
                       .Post("delete_share", {{"download_link", link.url},
                                              {"filename", std::string("/Public/") + kFile}})
                       .body,
                   "status"),
              "1");
  }

  device.SetClock(std::time(nullptr));
  const std::string year = LocalText(std::time(nullptr), "%Y");
  const std::string next = std::to_string(std::stoi(year) + 1);
  for (const std::string& refused : {LocalText(std::time(nullptr) - 86400, "%Y-%m-%d %H:%M"),
                                     next + "-02-30 10:00", next + "-13-01", next + "-01-01 24:00",
                                     next + "-1-01", std::string("tomorrow"), std::string()}) {
    const Fields form = LinkForm({{"valid_duration", "specific_time"}, {"datetime", refused}});
    EXPECT_EQ(Allocate(device, form).status, "5") << refused;
  }
  EXPECT_EQ(List(device, {})["total"], 0);
}

TEST(ShareServiceTest, LinkRequestsRefuseWhatTheDeviceCannotTake) {
  Device device;
  const std::string badSid = "0123456789abcdef0123456789abcdef";
  const struct {
    Fields changes;
    const char* status;
  } cases[] = {
      {{{"file_name", "/Public/missing.txt"}}, "4"},
      {{{"file_name", "/Public/sub"}}, "4"},
      {{{"file_name", "/Public/../outside/secret.txt"}}, "5"},
      {{{"file_name", "/Public/out.txt"}}, "5"},  // a link leading out of the root
      {{{"file_name", "..\\outside\\secret.txt"}}, "5"},
      {{{"hostname", "bad host"}}, "5"},
      {{{"hostname", "a,b}"}}, "5"},
      {{{"hostname", ""}}, "5"},
      {{{"access_enabled", "true"}}, "5"},  // and no code
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Allocate(device, LinkForm(c.changes)).status, c.status) << c.changes[0].second;
  }
  EXPECT_EQ(Scan(device.Post("get_share_link", LinkForm(), &badSid).body, "status"), "3");
  for (const auto& [name, value] :
       Fields{{"valid_duration", "period_of_time"}, {"ssl", "yes"}, {"file_total", "2"}}) {
    EXPECT_EQ(device.Post("get_share_link", LinkForm({{name, value}})).status, 400) << name;
  }
  Device plain(false);
  EXPECT_EQ(Allocate(plain, LinkForm({{"ssl", "true"}})).status, "5")
      << "an https link without HTTPS";

  // share_file confirms only the link allocated, for its file, code and expiry.
  const Fields form = LinkForm({{"access_code", "c"}, {"access_enabled", "true"}});
  const Allocated link = Allocate(device, form);
  std::ofstream(device.Public() / "other.txt") << "other";
  Allocated unknown = link;
  unknown.url.back() = unknown.url.back() == '0' ? '1' : '0';
  Allocated otherExpiry = link;
  otherExpiry.expiry = "2099-01-01T00:00:00";
  EXPECT_EQ(Confirm(device, form, unknown), "4");
  EXPECT_EQ(Confirm(device,
                    LinkForm({{"file_name", "/Public/other.txt"},
                              {"access_code", "c"},
                              {"access_enabled", "true"}}),
                    link),
            "4");
  EXPECT_EQ(Confirm(device, LinkForm({{"access_code", "d"}, {"access_enabled", "true"}}), link),
            "5");
  EXPECT_EQ(Confirm(device, form, otherExpiry), "5");
  EXPECT_EQ(List(device, {})["total"], 0);
  EXPECT_EQ(Send(link.url + "?access_code=c").status, 404);
  EXPECT_EQ(Confirm(device, form, link), "1");
  EXPECT_EQ(Send(link.url + "?access_code=c").status, 200);
  EXPECT_EQ(Scan(device
                     .Post("delete_share",
                           {{"download_link", link.url}, {"filename", "/Public/other.txt"}})
                     .body,
                 "status"),
            "4")
      << "deleted a link naming another file";
}

TEST(ShareServiceTest, TheListPagesThroughLinksByFileName) {
  Device device;
  for (const char* name : {"c", "a", "e", "b", "d"}) {
    std::ofstream(device.Public() / name) << name;
    MakeLink(device, LinkForm({{"file_name", std::string("/Public/") + name}}));
  }
  const auto names = [&](const Fields& query) {
    const Json::Value list = List(device, query);
    EXPECT_EQ(list["status"], 1);
    EXPECT_EQ(list["total"], 5);
    EXPECT_GE(list["max_share_file"].asInt(), 5);
    std::string seen;
    for (const Json::Value& entry : list["datas"]) seen += entry["filename"].asString() + " ";
    return seen;
  };
  EXPECT_EQ(names({{"dir", "ASC"}, {"start", "0"}, {"limit", "2"}, {"sort", "filename"}}),
            "/Public/a /Public/b ");
  EXPECT_EQ(names({{"start", "2"}, {"limit", "2"}}), "/Public/c /Public/d ");
  EXPECT_EQ(names({{"start", "4"}, {"limit", "10"}}), "/Public/e ");
  EXPECT_EQ(names({{"start", "9"}, {"limit", "10"}}), "");
  EXPECT_EQ(names({{"dir", "DESC"}, {"limit", "2"}}), "/Public/e /Public/d ");
  EXPECT_EQ(Send(device.UtilUrl("get_share_list", {{"limit", "-1"}})).status, 400);
}

TEST(ShareServiceTest, TheViewerServesTheFileWithATypeByItsExtension) {
  Device device;
  const struct {
    const char* name;
    const char* type;
  } cases[] = {
      {"notes & #1?.txt", "text/plain; charset=utf-8"},
      {"Photo.JPG", "image/jpeg"},
      {"page.html", "text/html"},
      {"clip.mp4", "video/mp4"},
      {"data.unknown", "application/octet-stream"},
      {"empty.bin", "application/octet-stream"},
  };
  for (const auto& c : cases) {
    const std::string bytes =
        std::string(c.name) == "empty.bin" ? "" : std::string(c.name) + '\0' + "x";
    std::ofstream(device.Public() / "sub" / c.name, std::ios::binary) << bytes;
    const std::string url = device.BaseUrl() + "/cgi-bin/filemanager/utilRequest.cgi/" +
                            Encode(c.name) + "?func=get_viewer&sid=" + device.Sid() +
                            "&source_path=" + Encode("/Public/sub") +
                            "&source_file=" + Encode(c.name);
    const Reply reply = Send(url);
    EXPECT_EQ(reply.status, 200) << c.name;
    EXPECT_EQ(reply.body, bytes) << c.name;
    EXPECT_EQ(reply.contentType, c.type) << c.name;
  }
  const struct {
    const char* sid;
    const char* folder;
    const char* name;
    long status;
  } refusals[] = {
      {"0123456789abcdef0123456789abcdef", "/Public", kFile, 403},
      {nullptr, "/Public", "missing.txt", 404},
      {nullptr, "/Public", "sub", 404},
      {nullptr, "/Public/..", "outside", 400},
      {nullptr, "/Public", "out.txt", 400},
  };
  for (const auto& r : refusals) {
    const std::string url = device.BaseUrl() +
                            "/cgi-bin/filemanager/utilRequest.cgi/x?func=get_viewer&sid=" +
                            (r.sid ? r.sid : device.Sid()) + "&source_path=" + Encode(r.folder) +
                            "&source_file=" + Encode(r.name);
    EXPECT_EQ(Send(url).status, r.status) << r.folder << "/" << r.name;
  }
}

// --- Thumbnails -------------------------------------------------------------------------------

struct ImageDeleter {
  void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using Image = std::unique_ptr<gdImage, ImageDeleter>;

// A width x height image, red with a blue right half, in the format of extension.
std::string MakeImage(int width, int height, const std::string& extension) {
  const Image image(gdImageCreateTrueColor(width, height));
  gdImageFilledRectangle(image.get(), 0, 0, width - 1, height - 1, gdTrueColor(255, 0, 0));
  gdImageFilledRectangle(image.get(), width / 2, 0, width - 1, height - 1, gdTrueColor(0, 0, 255));
  int size = 0;
  void* data = extension == "png"   ? gdImagePngPtr(image.get(), &size)
               : extension == "gif" ? gdImageGifPtr(image.get(), &size)
                                    : gdImageJpegPtr(image.get(), &size, 95);
  std::string bytes(static_cast<const char*>(data), static_cast<std::size_t>(size));
  gdFree(data);
  return bytes;
}

TEST(ShareServiceTest, ThumbnailsFitImagesInTheAskedSize) {
  Device device;
  const struct {
    const char* extension;
    int width, height, size, thumbWidth, thumbHeight;
  } cases[] = {
      {"png", 200, 100, 80, 80, 40},
      {"jpeg", 90, 300, 80, 24, 80},
      {"gif", 20, 10, 80, 20, 10},  // small images keep their size
      {"png", 200, 100, 33, 33, 17},
  };
  for (const auto& c : cases) {
    const std::string name = "pic " + std::to_string(c.width) + "." + c.extension;
    std::ofstream(device.Public() / name, std::ios::binary)
        << MakeImage(c.width, c.height, c.extension);
    const Reply reply = Send(device.UtilUrl(
        "get_thumb", {{"path", "/Public"}, {"name", name}, {"size", std::to_string(c.size)}}));
    ASSERT_EQ(reply.status, 200) << name << ": " << reply.body;
    EXPECT_EQ(reply.contentType, "image/png");
    const Image thumb(gdImageCreateFromPngPtr(static_cast<int>(reply.body.size()),
                                              const_cast<char*>(reply.body.data())));
    ASSERT_TRUE(thumb) << name;
    EXPECT_EQ(gdImageSX(thumb.get()), c.thumbWidth) << name;
    EXPECT_EQ(gdImageSY(thumb.get()), c.thumbHeight) << name;
    const int left = gdImageGetTrueColorPixel(thumb.get(), 0, c.thumbHeight / 2);
    const int right = gdImageGetTrueColorPixel(thumb.get(), c.thumbWidth - 1, c.thumbHeight / 2);
    EXPECT_GT(gdTrueColorGetRed(left), 200) << name;
    EXPECT_LT(gdTrueColorGetBlue(left), 60) << name;
    EXPECT_GT(gdTrueColorGetBlue(right), 200) << name;
    EXPECT_LT(gdTrueColorGetRed(right), 60) << name;
  }

  std::ofstream(device.Public() / "fake.png") << "not an image";
  std::ofstream(device.Public() / "notes.txt") << "text";
  const std::string badSid = "0123456789abcdef0123456789abcdef";
  const struct {
    const char* folder;
    const char* name;
    const char* size;
    const std::string* sid;
    long status;
  } refusals[] = {
      {"/Public", "notes.txt", "80", nullptr, 415},
      {"/Public", "fake.png", "80", nullptr, 415},
      {"/Public", "missing.png", "80", nullptr, 404},
      {"/Public", "sub", "80", nullptr, 404},
      {"/Public", "pic 200.png", "80", &badSid, 403},
      {"/Public/../outside", "secret.txt", "80", nullptr, 400},
      {"/Public", "pic 200.png", "0", nullptr, 400},
  };
  for (const auto& r : refusals) {
    const Reply reply = Send(device.UtilUrl(
        "get_thumb", {{"path", r.folder}, {"name", r.name}, {"size", r.size}}, false, r.sid));
    EXPECT_EQ(reply.status, r.status) << r.folder << "/" << r.name;
    EXPECT_EQ(reply.contentType.rfind("text/plain", 0), 0u) << r.name;
  }
}

}  // namespace
}  // namespace vesk::emulator
