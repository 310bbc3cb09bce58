// The streaming multipart/form-data reader, fed whole, byte by byte and in random pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "emulator/Multipart.h"

namespace vesk::emulator {
namespace {

using namespace std::string_literals;

// The library's upload boundary, which its bodies use bare as the delimiter.
const std::string B = "----------gL6GI3KM7cH2Ij5ae0Ef1gL6ei4Ef1";

struct Part {
  std::string name;
  std::optional<std::string> filename;
  std::string contentType;
  std::string data;
  bool ended = false;
  bool operator==(const Part&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Part& part) {
  return out << "{" << part.name << ", " << part.filename.value_or("(none)") << ", "
             << part.contentType << ", " << part.data.size() << " bytes, "
             << (part.ended ? "ended" : "open") << "}";
}

class RecordingSink : public MultipartSink {
 public:
  bool BeginPart(const PartHeaders& headers) override {
    EXPECT_TRUE(parts.empty() || parts.back().ended) << "a part began inside another";
    parts.push_back({headers.name, headers.filename, headers.contentType, "", false});
    return true;
  }
  bool PartData(const char* data, std::size_t size) override {
    EXPECT_GT(size, 0u) << "an empty piece was delivered";
    EXPECT_FALSE(parts.empty() || parts.back().ended) << "data outside a part";
    if (parts.empty()) return false;
    parts.back().data.append(data, size);
    delivered += size;
    return !refuseData;
  }
  bool EndPart() override {
    if (parts.empty()) return false;
    parts.back().ended = true;
    return true;
  }

  std::vector<Part> parts;
  std::size_t delivered = 0;
  bool refuseData = false;
};

// The upload body of the library's whole-file upload, byte for byte.
std::string DeviceUploadBody(const std::string& fileName, const std::string& fileData) {
  return B + "\r\nContent-Disposition: form-data; name=\"Filename\"\r\n\r\n" + fileName + "\r\n" +
         B + "\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"" + fileName +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + fileData + "\r\n" + B +
         "\r\nContent-Disposition: form-data; name=\"Upload\"\r\n\r\nSubmit Query\r\n" + B + "--";
}

std::vector<Part> DeviceUploadParts(const std::string& fileName, const std::string& fileData) {
  return {{"Filename", std::nullopt, "", fileName, true},
          {"Filedata", fileName, "application/octet-stream", fileData, true},
          {"Upload", std::nullopt, "", "Submit Query", true}};
}

// A body with standard delimiters ("--" + boundary) and the usual line end after the last.
std::string StandardBody(const std::vector<Part>& parts, const std::string& epilogue = "") {
  std::string body;
  for (const Part& part : parts) {
    body += "--" + B + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
    if (part.filename) body += "; filename=\"" + *part.filename + "\"";
    body += "\r\n";
    if (!part.contentType.empty()) body += "Content-Type: " + part.contentType + "\r\n";
    body += "\r\n" + part.data + "\r\n";
  }
  return body + "--" + B + "--\r\n" + epilogue;
}

// Binary file bytes that hold almost-delimiters: the boundary cut short after a line end, lone
// carriage returns and line feeds, a NUL, and a line end just before the real delimiter.
const std::string kTrickyData = "\x00\x01\xff"s + "\r\n" + B.substr(0, 14) + "x\r" + "\r\r\n" +
                                "\r\n" + B.substr(0, B.size() - 1) + "\n-" + "\r\n-" + "\r";

struct Outcome {
  bool ok;
  std::vector<Part> parts;
};

enum class Feed { Whole, ByteByByte, RandomPieces };

Outcome Read(const std::string& body, Feed feed, unsigned seed = 0) {
  RecordingSink sink;
  MultipartReader reader(B, sink);
  bool writesOk = true;
  std::mt19937 random(seed);
  std::size_t offset = 0;
  while (offset < body.size()) {
    std::size_t size = body.size() - offset;
    if (feed == Feed::ByteByByte) size = 1;
    if (feed == Feed::RandomPieces) {
      size = std::min(size, std::uniform_int_distribution<std::size_t>(1, 64)(random));
    }
    writesOk = reader.Write(body.data() + offset, size) && writesOk;
    offset += size;
  }
  const bool finished = reader.Finish();
  EXPECT_EQ(finished, writesOk && !reader.Failed());
  EXPECT_EQ(finished, reader.Error().empty()) << reader.Error();
  return {finished, sink.parts};
}

TEST(MultipartReaderTest, ReadsBodiesAlikeHoweverTheyAreCut) {
  struct Case {
    const char* name;
    std::string body;
    bool ok;
    std::vector<Part> parts;  // checked when ok
  };
  const std::string cut = DeviceUploadBody("a.bin", "data");
  const Case cases[] = {
      {"device upload, bare delimiters", DeviceUploadBody("report.pdf", kTrickyData), true,
       DeviceUploadParts("report.pdf", kTrickyData)},
      {"device upload of an empty file", DeviceUploadBody("empty", ""), true,
       DeviceUploadParts("empty", "")},
      {"file name holding a quote", DeviceUploadBody("a\"b.txt", "x"), true,
       DeviceUploadParts("a\"b.txt", "x")},
      {"standard delimiters with an epilogue",
       StandardBody(DeviceUploadParts("r.pdf", kTrickyData), "epilogue\r\n--" + B + "\r\n"), true,
       DeviceUploadParts("r.pdf", kTrickyData)},
      {"standard delimiter text in a bare body is data",
       DeviceUploadBody("s", "\r\n--" + B + "\r\n"), true,
       DeviceUploadParts("s", "\r\n--" + B + "\r\n")},
      {"bare delimiter text in a standard body is data",
       StandardBody({{"f", "f", "", "\r\n" + B + "\r\n", true}}),
       true,
       {{"f", "f", "", "\r\n" + B + "\r\n", true}}},
      {"padding after delimiters",
       B + " \t\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n" + B + "--",
       true,
       {{"a", std::nullopt, "", "1", true}}},
      {"missing final delimiter",
       cut.substr(0, cut.find("\r\n" + B +
                              "\r\nContent-Disposition: "
                              "form-data; name=\"Upload\"")),
       false,
       {}},
      {"closing delimiter cut short", cut.substr(0, cut.size() - 1), false, {}},
      {"garbage line before the first delimiter", "garbage\r\n" + cut, false, {}},
      {"garbage glued to the first delimiter", "garbage" + cut, false, {}},
      {"delimiter followed by other text",
       B + "\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n" + B + "x\r\n",
       false,
       {}},
      {"bare line feed after a delimiter",
       B + "\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n" + B + "--",
       false,
       {}},
      {"part without Content-Disposition",
       B + "\r\nContent-Type: text/plain\r\n\r\n1\r\n" + B + "--",
       false,
       {}},
      {"part without a name",
       B + "\r\nContent-Disposition: form-data; filename=\"f\"\r\n\r\n1\r\n" + B + "--",
       false,
       {}},
      {"header block that never ends",
       B + "\r\nContent-Disposition: form-data; name=a\r\nX: " +
           std::string(MultipartReader::kMaxHeaderBytes, 'h'),
       false,
       {}},
      {"another boundary",
       "--other\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n--other--",
       false,
       {}},
      {"empty body", "", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome whole = Read(c.body, Feed::Whole);
    EXPECT_EQ(whole.ok, c.ok);
    if (c.ok) {
      EXPECT_EQ(whole.parts, c.parts);
    }
    const Outcome bytes = Read(c.body, Feed::ByteByByte);
    EXPECT_EQ(bytes.ok, whole.ok);
    EXPECT_EQ(bytes.parts, whole.parts);
    for (unsigned seed = 1; seed <= 20; ++seed) {
      const Outcome pieces = Read(c.body, Feed::RandomPieces, seed);
      EXPECT_EQ(pieces.ok, whole.ok) << "seed " << seed;
      EXPECT_EQ(pieces.parts, whole.parts) << "seed " << seed;
    }
  }
}

TEST(MultipartReaderTest, StreamsFileDataWithoutHoldingIt) {
  std::string data(1 << 20, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());
  const std::string body = DeviceUploadBody("big.bin", data);
  const std::size_t dataStart = body.find("octet-stream\r\n\r\n") + 16;

  RecordingSink sink;
  MultipartReader reader(B, sink);
  for (std::size_t offset = 0; offset < body.size(); offset += 4096) {
    const std::size_t size = std::min<std::size_t>(4096, body.size() - offset);
    ASSERT_TRUE(reader.Write(body.data() + offset, size));
    const std::size_t fed = offset + size;
    if (fed > dataStart && fed < dataStart + data.size()) {
      // Only what could still be the start of the delimiter is held back.
      ASSERT_GE(sink.delivered + B.size() + 2, fed - dataStart) << "after " << fed << " bytes";
    }
  }
  ASSERT_TRUE(reader.Finish()) << reader.Error();
  EXPECT_EQ(sink.parts, DeviceUploadParts("big.bin", data));
}

TEST(MultipartReaderTest, StopsWhenTheSinkRefuses) {
  RecordingSink sink;
  sink.refuseData = true;
  MultipartReader reader(B, sink);
  const std::string body = DeviceUploadBody("f", std::string(1000, 'x'));
  EXPECT_FALSE(reader.Write(body.data(), body.size()));
  EXPECT_TRUE(reader.Failed());
  EXPECT_FALSE(reader.Error().empty());
  EXPECT_FALSE(reader.Finish());
}

TEST(MultipartReaderTest, FindsTheBoundaryInContentType) {
  const struct {
    std::string contentType;
    std::optional<std::string> boundary;
  } cases[] = {
      {"multipart/form-data; boundary=" + B, B},
      {"Multipart/Form-Data;BOUNDARY=\"a b;c\"", "a b;c"},
      {"multipart/form-data; charset=UTF-8; boundary=xyz", "xyz"},
      {"multipart/form-data", std::nullopt},
      {"multipart/form-data; boundary=", std::nullopt},
      {"multipart/form-data; boundary=a; boundary=b", std::nullopt},
      {"multipart/form-data; boundary=" + std::string(71, 'b'), std::nullopt},
      {"multipart/mixed; boundary=xyz", std::nullopt},
      {"application/x-www-form-urlencoded", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MultipartBoundary(c.contentType), c.boundary) << c.contentType;
  }
}

}  // namespace
}  // namespace vesk::emulator
