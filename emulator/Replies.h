// The emulated device's reply documents: JSON objects for the file service, XML documents for
// the system service, plain text for HTTP errors. Every reply is UTF-8 and says so in its
// Content-Type as charset="UTF-8".
#ifndef VESK_EMULATOR_REPLIES_H
#define VESK_EMULATOR_REPLIES_H

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
httpd::Response XmlReply(XmlWriter& document);
// An HTTP error with a one-line plain-text reason.
httpd::Response ErrorReply(int status, std::string_view reason);

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_REPLIES_H
