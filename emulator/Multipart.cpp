#include "emulator/Multipart.h"

#include <algorithm>

#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

bool IsPadding(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsPadding(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsPadding(text.back())) text.remove_suffix(1);
  return text;
}

// Splits a header value of the form "type; name=value; name="quoted value"" into its
// lower-cased type and parameters. A quoted value ends at the first quote that is followed
// by ";" or the end of the value (spaces aside), so that a file name holding a quote, which
// the library sends unescaped, survives. Returns false on a malformed value.
bool ParseParameters(std::string_view value, std::string* type, httpd::Fields* parameters) {
  const std::size_t semicolon = value.find(';');
  *type = AsciiLower(Trim(value.substr(0, semicolon)));
  value = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
  while (true) {
    value = Trim(value);
    if (value.empty()) return true;
    if (value.front() == ';') {
      value.remove_prefix(1);
      continue;
    }
    const std::size_t eq = value.find('=');
    if (eq == std::string_view::npos) return false;
    const std::string name = AsciiLower(Trim(value.substr(0, eq)));
    if (name.empty()) return false;
    value = Trim(value.substr(eq + 1));
    if (!value.empty() && value.front() == '"') {
      std::size_t close = 1;
      while (true) {
        close = value.find('"', close);
        if (close == std::string_view::npos) return false;  // no closing quote
        const std::string_view after = Trim(value.substr(close + 1));
        if (after.empty() || after.front() == ';') break;
        ++close;
      }
      parameters->emplace_back(name, std::string(value.substr(1, close - 1)));
      value.remove_prefix(close + 1);
    } else {
      const std::size_t end = value.find(';');
      parameters->emplace_back(name, std::string(Trim(value.substr(0, end))));
      value = end == std::string_view::npos ? std::string_view() : value.substr(end);
    }
  }
}

// The one value of name among parameters: absent leaves *value as it is; false when the
// parameter is given more than once.
bool SingleParameter(const httpd::Fields& parameters, std::string_view name,
                     std::optional<std::string>* value) {
  for (const auto& [key, text] : parameters) {
    if (key != name) continue;
    if (*value) return false;
    *value = text;
  }
  return true;
}

}  // namespace

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
  std::string type;
  httpd::Fields parameters;
  if (!ParseParameters(contentType, &type, &parameters) || type != "multipart/form-data") {
    return std::nullopt;
  }
  std::optional<std::string> boundary;
  if (!SingleParameter(parameters, "boundary", &boundary) || !boundary || boundary->empty() ||
      boundary->size() > 70) {
    return std::nullopt;
  }
  for (const char c : *boundary) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  }
  return boundary;
}

MultipartReader::MultipartReader(std::string boundary, MultipartSink& sink)
    : boundary_(std::move(boundary)), sink_(sink) {}

bool MultipartReader::Fail(std::string message) {
  if (state_ != State::Failed) {
    state_ = State::Failed;
    error_ = std::move(message);
  }
  held_.clear();
  headers_.clear();
  return false;
}

bool MultipartReader::Write(const char* data, std::size_t size) {
  std::string_view input(data, size);
  std::string carry;  // bytes after a delimiter that ReadData found, still to be read
  while (!input.empty()) {
    bool ok = true;
    switch (state_) {
      case State::FirstLine:
        ok = ReadFirstLine(input);
        break;
      case State::AfterDelimiter:
        ok = ReadAfterDelimiter(input);
        break;
      case State::Headers:
        ok = ReadHeaders(input);
        break;
      case State::Data:
        ok = ReadData(input, carry);
        break;
      case State::Epilogue:
        input = {};
        break;
      case State::Failed:
        return false;
    }
    if (!ok) return false;
  }
  return state_ != State::Failed;
}

bool MultipartReader::Finish() {
  if (state_ == State::Epilogue) return true;
  if (state_ != State::Failed) Fail("the body ended before its closing delimiter");
  return false;
}

bool MultipartReader::ReadFirstLine(std::string_view& input) {
  // The longest first line that can be a delimiter line: "--", the boundary, "--" or
  // padding, and CR LF.
  const std::size_t maxLine = 2 + boundary_.size() + std::max<std::size_t>(2, kMaxPadding) + 2;
  const std::size_t newline = input.find('\n');
  const std::size_t take = newline == std::string_view::npos ? input.size() : newline + 1;
  if (line_.size() + take > maxLine) return Fail("the body does not begin with a delimiter line");
  line_.append(input.substr(0, take));
  input.remove_prefix(take);
  if (line_.back() != '\n') return true;

  // The standard style first: for a boundary that begins with "--" both could match.
  const std::string standard = "--" + boundary_;
  std::string_view line(line_);
  std::string delimiter;
  if (line.substr(0, standard.size()) == standard) {
    delimiter = standard;
  } else if (line.substr(0, boundary_.size()) == boundary_) {
    delimiter = boundary_;
  } else {
    return Fail("the body does not begin with a delimiter line");
  }
  pattern_ = "\r\n" + delimiter;
  state_ = State::AfterDelimiter;
  // What follows the delimiter on its line is read like the rest of any delimiter line.
  const std::string rest(line.substr(delimiter.size()));
  line_.clear();
  std::string_view restView(rest);
  while (!restView.empty() && state_ == State::AfterDelimiter) {
    if (!ReadAfterDelimiter(restView)) return false;
  }
  return true;
}

bool MultipartReader::ReadAfterDelimiter(std::string_view& input) {
  while (!input.empty()) {
    const char c = input.front();
    if (tail_.empty() && c == '-') {
      tail_ = "-";
    } else if (tail_ == "-") {
      if (c != '-') return Fail("malformed closing delimiter");
      input.remove_prefix(1);
      tail_.clear();
      state_ = State::Epilogue;
      return true;
    } else if (IsPadding(c) && (tail_.empty() || tail_.back() != '\r')) {
      if (tail_.size() >= kMaxPadding) return Fail("too much padding after a delimiter");
      tail_.push_back(c);
    } else if (c == '\r' && (tail_.empty() || tail_.back() != '\r')) {
      tail_.push_back(c);
    } else if (c == '\n' && !tail_.empty() && tail_.back() == '\r') {
      input.remove_prefix(1);
      tail_.clear();
      headers_.clear();
      state_ = State::Headers;
      return true;
    } else {
      return Fail("a delimiter is followed by something other than a line end or \"--\"");
    }
    input.remove_prefix(1);
  }
  return true;
}

bool MultipartReader::ReadHeaders(std::string_view& input) {
  while (!input.empty()) {
    headers_.push_back(input.front());
    input.remove_prefix(1);
    if (headers_.size() > kMaxHeaderBytes) return Fail("a part's header block is too long");
    const bool ended =
        headers_ == "\r\n" ||
        (headers_.size() >= 4 && headers_.compare(headers_.size() - 4, 4, "\r\n\r\n") == 0);
    if (ended) return BeginPart();
  }
  return true;
}

bool MultipartReader::BeginPart() {
  PartHeaders part;
  std::string_view block(headers_);
  while (!block.empty()) {
    const std::size_t end = block.find("\r\n");  // the block ends with CR LF
    const std::string_view line = block.substr(0, end);
    block.remove_prefix(end + 2);
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 ||
        line.find_first_of("\r\n") != std::string_view::npos) {
      return Fail("malformed part header");
    }
    part.all.emplace_back(std::string(line.substr(0, colon)),
                          std::string(Trim(line.substr(colon + 1))));
  }
  headers_.clear();

  std::optional<std::string> disposition, contentType;
  for (const auto& [name, value] : part.all) {
    const std::string lower = AsciiLower(name);
    std::optional<std::string>* slot = lower == "content-disposition" ? &disposition
                                       : lower == "content-type"      ? &contentType
                                                                      : nullptr;
    if (!slot) continue;
    if (*slot) return Fail("part header given more than once: " + name);
    *slot = value;
  }
  if (!disposition) return Fail("a part without Content-Disposition");
  std::string type;
  httpd::Fields parameters;
  if (!ParseParameters(*disposition, &type, &parameters) || type != "form-data") {
    return Fail("a part's Content-Disposition is not form-data");
  }
  std::optional<std::string> name;
  if (!SingleParameter(parameters, "name", &name) ||
      !SingleParameter(parameters, "filename", &part.filename) || !name) {
    return Fail("a part without a single name");
  }
  part.name = std::move(*name);
  part.contentType = contentType.value_or("");
  if (!sink_.BeginPart(part)) return Fail("the part was refused: " + part.name);
  held_.clear();
  state_ = State::Data;
  return true;
}

bool MultipartReader::ReadData(std::string_view& input, std::string& carry) {
  held_.append(input);
  input = {};
  const std::size_t found = held_.find(pattern_);
  if (found == std::string::npos) {
    // Everything but a tail that may begin a delimiter is the part's data.
    const std::size_t keep = std::min(held_.size(), pattern_.size() - 1);
    const std::size_t ready = held_.size() - keep;
    if (ready > 0) {
      if (!sink_.PartData(held_.data(), ready)) return Fail("the part's data was refused");
      held_.erase(0, ready);
    }
    return true;
  }
  if (found > 0 && !sink_.PartData(held_.data(), found)) {
    return Fail("the part's data was refused");
  }
  if (!sink_.EndPart()) return Fail("the part's end was refused");
  carry.assign(held_, found + pattern_.size());
  held_.clear();
  state_ = State::AfterDelimiter;
  input = carry;
  return true;
}

}  // namespace vesk::emulator
