// The emulated device's reply documents: JSON objects for the file service, XML documents for
// the system service, plain text for HTTP errors. Every reply is UTF-8 and says so in its
// Content-Type as charset="UTF-8".
#ifndef VESK_EMULATOR_REPLIES_H
#define VESK_EMULATOR_REPLIES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "httpd/HttpServer.h"

namespace vesk::emulator {

class JsonArray;

// A JSON object built member by member, in order.
class JsonObject {
 public:
  JsonObject& Add(std::string_view name, long long value);
  JsonObject& Add(std::string_view name, std::string_view text);
  JsonObject& Add(std::string_view name, const JsonArray& array);
  std::string Text() const;

 private:
  std::string members_;
};

// A JSON array of objects built element by element, in order.
class JsonArray {
 public:
  JsonArray& Add(const JsonObject& element);
  std::string Text() const;

 private:
  std::string elements_;
};

// A JSON text written straight into one string, for replies too large to assemble from
// JsonObject and JsonArray, which copy every part into the next: OpenObject, OpenArray and
// Close nest, and the commas between members and elements come by themselves. Members (Add,
// OpenArray with a name) go into an open object, objects into an open array or at the top.
class JsonWriter {
 public:
  // Makes room for a text of about this many bytes.
  void Reserve(std::size_t bytes) { text_.reserve(bytes); }
  JsonWriter& OpenObject();
  JsonWriter& OpenArray(std::string_view name);
  JsonWriter& Close();
  JsonWriter& Add(std::string_view name, long long value);
  JsonWriter& Add(std::string_view name, std::string_view text);
  // The text, with everything still open closed; the writer is left empty.
  std::string Take();

 private:
  // The comma before a member or element that is not the first of its container.
  void Next();
  void Name(std::string_view name);

  std::string text_;
  std::string closers_;  // the closing bracket of each open container, the innermost last
  bool first_ = true;    // nothing written yet into the innermost open container
};

// An XML document written element by element: Open and Close nest, Leaf adds an element
// holding only text. The XML declaration comes first.
class XmlWriter {
 public:
  XmlWriter& Open(std::string_view name);
  XmlWriter& Close();
  XmlWriter& Leaf(std::string_view name, std::string_view text);
  XmlWriter& Comment(std::string_view text);
  // The document, with every element still open closed.
  std::string Text();

 private:
  void Indent();

  std::string text_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  std::vector<std::string> open_;
};

// 200 replies.
httpd::Response JsonReply(const JsonObject& object);
httpd::Response JsonReply(const JsonArray& array);
httpd::Response JsonReply(JsonWriter& text);
httpd::Response XmlReply(XmlWriter& document);
httpd::Response PlainTextReply(std::string body);
// An HTTP error with a one-line plain-text reason.
httpd::Response ErrorReply(int status, std::string_view reason);

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_REPLIES_H
