// The multipart harness: the streaming reader of upload bodies must read a body alike however
// it is cut into pieces, hand its sink a well-ordered sequence of calls, and read what it took
// the same way once the parts are framed again.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "EmulatorFuzz.h"
#include "emulator/Multipart.h"

namespace vesk::fuzz {
namespace {

using emulator::MultipartReader;
using emulator::PartHeaders;

struct Part {
  std::string name;
  std::optional<std::string> filename;
  std::string contentType;
  httpd::Fields headers;
  std::string data;
  bool ended = false;
  bool operator==(const Part&) const = default;
};

// What a reading gave: the parts in order and how it ended.
struct Reading {
  std::vector<Part> parts;
  bool written = true;   // every Write returned true
  bool finished = true;  // Finish returned true
  std::string error;
  std::string misuse;  // the first call the sink should never have had
  bool operator==(const Reading&) const = default;
};

// Records the parts. It refuses a part named "refuse", the data of one named "refuse-data"
// and the end of one named "refuse-end", so that the reader's handling of a sink's refusal is
// fuzzed too.
class RecordingSink : public emulator::MultipartSink {
 public:
  explicit RecordingSink(Reading& reading) : reading_(reading) {}

  bool BeginPart(const PartHeaders& headers) override {
    if (!reading_.parts.empty() && !reading_.parts.back().ended)
      Misuse("a part began inside another");
    if (headers.name == "refuse") return false;
    reading_.parts.push_back(
        {headers.name, headers.filename, headers.contentType, headers.all, "", false});
    return true;
  }
  bool PartData(const char* data, std::size_t size) override {
    if (size == 0) Misuse("an empty piece of data");
    if (reading_.parts.empty() || reading_.parts.back().ended) {
      Misuse("data outside a part");
      return false;
    }
    Part& part = reading_.parts.back();
    if (part.name == "refuse-data") return false;
    part.data.append(data, size);
    return true;
  }
  bool EndPart() override {
    if (reading_.parts.empty() || reading_.parts.back().ended) {
      Misuse("the end of no part");
      return false;
    }
    if (reading_.parts.back().name == "refuse-end") return false;
    reading_.parts.back().ended = true;
    return true;
  }

 private:
  void Misuse(const char* what) {
    if (reading_.misuse.empty()) reading_.misuse = what;
  }
  Reading& reading_;
};

// Reads body fed in pieces of the given sizes (the last piece takes the rest).
Reading Read(const std::string& boundary, std::string_view body,
             const std::vector<std::size_t>& pieces) {
  Reading reading;
  RecordingSink sink(reading);
  MultipartReader reader(boundary, sink);
  std::size_t at = 0;
  for (std::size_t i = 0; at < body.size(); ++i) {
    const std::size_t size =
        i < pieces.size() ? std::min(pieces[i], body.size() - at) : body.size() - at;
    if (!reader.Write(body.data() + at, size)) reading.written = false;
    at += size;
  }
  reading.finished = reader.Finish();
  reading.error = reader.Error();
  if (reading.finished && !reading.written) reading.misuse = "finished after a failed write";
  if (reading.finished != reading.error.empty()) reading.misuse = "an error that does not fail";
  if (reader.Failed() == reading.finished) reading.misuse = "Failed disagrees with Finish";
  return reading;
}

std::uint64_t Hash(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

std::string Compare(const Reading& whole, const Reading& other, const char* how) {
  if (!other.misuse.empty()) return std::string(how) + ": " + other.misuse;
  if (other == whole) return "";
  return std::string(how) + ": read otherwise than whole (" + other.error + " / " + whole.error +
         ")";
}

}  // namespace

std::string CheckMultipart(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  if (newline == std::string_view::npos) return "";
  const std::string_view contentType = input.substr(0, newline);
  const std::string_view body = input.substr(newline + 1);
  try {
    std::optional<std::string> boundary = emulator::MultipartBoundary(contentType);
    if (boundary) {
      if (boundary->empty() || boundary->size() > 70) return "a boundary of a wrong length";
      if (std::any_of(boundary->begin(), boundary->end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        return "a boundary with a control character";
      }
      if (contentType.find(*boundary) == std::string_view::npos)
        return "a boundary that the Content-Type does not hold";
    } else {
      boundary = "b";  // the body is still fuzzed
    }

    const Reading whole = Read(*boundary, body, {});
    if (!whole.misuse.empty()) return "whole: " + whole.misuse;
    std::size_t held = 0;
    for (const Part& part : whole.parts) held += part.data.size();
    if (held > body.size()) return "more data than the body holds";

    std::string failure =
        Compare(whole, Read(*boundary, body, std::vector<std::size_t>(body.size(), 1)), "bytes");
    if (!failure.empty()) return failure;
    std::minstd_rand random(static_cast<std::uint32_t>(Hash(input)));
    std::vector<std::size_t> pieces;
    for (std::size_t total = 0; total < body.size();) {
      const std::size_t piece = random() % 4 == 0 ? 1 + random() % (body.size() - total)
                                                  : 1 + random() % (boundary->size() + 8);
      pieces.push_back(piece);
      total += piece;
    }
    failure = Compare(whole, Read(*boundary, body, pieces), "random pieces");
    if (!failure.empty()) return failure;

    if (!whole.finished) return "";
    // A body read well is framed again in the style of its first delimiter; read again, it
    // gives the same parts: no part's data holds a delimiter, and no header was lost.
    if (whole.parts.empty()) return "";
    const std::string standard = "--" + *boundary;
    const std::string delimiter =
        body.substr(0, standard.size()) == standard ? standard : *boundary;
    std::string framed;
    for (const Part& part : whole.parts) {
      if (!part.ended) return "a part left open in a body read well";
      framed += delimiter + "\r\n";
      for (const auto& [name, value] : part.headers) framed += name + ": " + value + "\r\n";
      framed += "\r\n" + part.data + "\r\n";
    }
    framed += delimiter + "--";
    return Compare(whole, Read(*boundary, framed, {}), "framed again");
  } catch (const std::exception& e) {
    return std::string("exception escaped: ") + e.what();
  }
}

}  // namespace vesk::fuzz
