// The library reads JSON replies with RapidJSON set to read them as jsoncpp's reader with its
// default settings does. This harness parses one input both ways and compares the trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk::fuzz {

// "" when both parsers accept the input with equal trees, or both refuse it, or the input holds
// one of the documented differences (DocumentedJsonDifference); else what differs.
std::string CheckJsonDifferential(std::string_view input);
inline std::string CheckJsonDifferential(const std::uint8_t* data, std::size_t size) {
  return CheckJsonDifferential(std::string_view(reinterpret_cast<const char*>(data), size));
}
// The difference alone, documented or not ("" when there is none).
std::string JsonDifference(std::string_view input);

// The constructs on which the two readings differ by design, "" when the input holds none:
// number forms that JSON does not allow and jsoncpp reads anyway (leading zeros, a "+" sign, a
// bare "-", a "." without digits after it), which RapidJSON refuses (and at the root, where
// anything after the value is ignored, reads up to the bad part); and a \u escape of a high
// UTF-16 surrogate followed by a \u escape that is not a low one, which jsoncpp decodes into a
// made-up pair and RapidJSON refuses (other unpaired surrogate escapes read the same both
// ways; the check flags every unpaired one); and a number written with more than 308 integer
// digits or an exponent above 308 whose value is still in a double's range (a zero significand,
// or 0.001e309), which jsoncpp reads and RapidJSON refuses; and a comment after a value followed by
// anything but a comma or a closing brace, which jsoncpp takes for the comma (swallowing the token)
// and RapidJSON refuses; and a // comment ended by a lone carriage return, where jsoncpp ends
// it and RapidJSON reads on to the next line feed; and a "/" that begins no comment, which
// jsoncpp sometimes passes over; and a comment right after "[", which jsoncpp refuses in an
// empty array, or between a trailing comma and the closing bracket, which it refuses too.
std::string DocumentedJsonDifference(std::string_view input);

}  // namespace vesk::fuzz
