#include "emulator/Replies.h"

#include <algorithm>

#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

httpd::Response TextReply(int status, const char* contentType, std::string body) {
  httpd::Response response;
  response.status = status;
  response.headers.emplace_back("Content-Type", contentType);
  response.headers.emplace_back("Cache-Control", "no-store");
  response.body = std::move(body);
  return response;
}

// Appends text as a JSON string. Most texts need no escape and are copied as they are; the
// others take JsonString's escapes.
void AppendJsonString(std::string& out, std::string_view text) {
  const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
    return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
  });
  if (!plain) {
    out += JsonString(text);
    return;
  }
  out += '"';
  out += text;
  out += '"';
}

void AppendMember(std::string& out, std::string_view name) {
  AppendJsonString(out, name);
  out += ':';
}

}  // namespace

JsonObject& JsonObject::Add(std::string_view name, long long value) {
  if (!members_.empty()) members_ += ',';
  AppendMember(members_, name);
  members_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view text) {
  if (!members_.empty()) members_ += ',';
  AppendMember(members_, name);
  AppendJsonString(members_, text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view name, const JsonArray& array) {
  if (!members_.empty()) members_ += ',';
  AppendMember(members_, name);
  members_ += array.Text();
  return *this;
}

std::string JsonObject::Text() const { return '{' + members_ + '}'; }

JsonArray& JsonArray::Add(const JsonObject& element) {
  if (!elements_.empty()) elements_ += ',';
  elements_ += element.Text();
  return *this;
}

std::string JsonArray::Text() const { return '[' + elements_ + ']'; }

void JsonWriter::Next() {
  if (!first_) text_ += ',';
  first_ = false;
}

void JsonWriter::Name(std::string_view name) {
  Next();
  AppendMember(text_, name);
}

JsonWriter& JsonWriter::OpenObject() {
  Next();
  text_ += '{';
  closers_ += '}';
  first_ = true;
  return *this;
}

JsonWriter& JsonWriter::OpenArray(std::string_view name) {
  Name(name);
  text_ += '[';
  closers_ += ']';
  first_ = true;
  return *this;
}

JsonWriter& JsonWriter::Close() {
  if (closers_.empty()) return *this;
  text_ += closers_.back();
  closers_.pop_back();
  first_ = false;
  return *this;
}

JsonWriter& JsonWriter::Add(std::string_view name, long long value) {
  Name(name);
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Add(std::string_view name, std::string_view text) {
  Name(name);
  AppendJsonString(text_, text);
  return *this;
}

std::string JsonWriter::Take() {
  while (!closers_.empty()) Close();
  std::string text;
  text.swap(text_);
  first_ = true;
  return text;
}

void XmlWriter::Indent() { text_.append(2 * open_.size(), ' '); }

XmlWriter& XmlWriter::Open(std::string_view name) {
  Indent();
  text_ += '<';
  text_ += name;
  text_ += ">\n";
  open_.emplace_back(name);
  return *this;
}

XmlWriter& XmlWriter::Close() {
  if (open_.empty()) return *this;
  const std::string name = std::move(open_.back());
  open_.pop_back();
  Indent();
  text_ += "</" + name + ">\n";
  return *this;
}

XmlWriter& XmlWriter::Leaf(std::string_view name, std::string_view text) {
  Indent();
  text_ += '<';
  text_ += name;
  text_ += '>';
  text_ += XmlText(text);
  text_ += "</";
  text_ += name;
  text_ += ">\n";
  return *this;
}

XmlWriter& XmlWriter::Comment(std::string_view text) {
  Indent();
  text_ += "<!-- ";
  text_ += text;
  text_ += " -->\n";
  return *this;
}

std::string XmlWriter::Text() {
  while (!open_.empty()) Close();
  return text_;
}

httpd::Response JsonReply(const JsonObject& object) {
  return TextReply(200, "application/json; charset=\"UTF-8\"", object.Text());
}

httpd::Response JsonReply(const JsonArray& array) {
  return TextReply(200, "application/json; charset=\"UTF-8\"", array.Text());
}

httpd::Response JsonReply(JsonWriter& text) {
  return TextReply(200, "application/json; charset=\"UTF-8\"", text.Take());
}

httpd::Response XmlReply(XmlWriter& document) {
  return TextReply(200, "text/xml; charset=\"UTF-8\"", document.Text());
}

httpd::Response PlainTextReply(std::string body) {
  return TextReply(200, "text/plain; charset=\"UTF-8\"", std::move(body));
}

httpd::Response ErrorReply(int status, std::string_view reason) {
  return TextReply(status, "text/plain; charset=\"UTF-8\"", std::string(reason) + "\n");
}

}  // namespace vesk::emulator
