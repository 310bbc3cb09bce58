// Fuzz harnesses of the emulator's request parsing, shared by the libFuzzer binaries and the
// corpus replay test. Each feeds one input to the code it covers and checks what must hold for
// any input; it returns a description of the first broken rule, or an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesk::fuzz {

// Query strings and form bodies (FieldSet, DecodeComponent), base64 passwords, decimal
// numbers, and the JSON escaping that carries request text back in replies. The input is the
// text as it arrives.
std::string CheckForms(const std::uint8_t* data, std::size_t size);

// The streaming multipart/form-data reader of uploads. The input is a Content-Type value, a
// line feed, and the body.
std::string CheckMultipart(const std::uint8_t* data, std::size_t size);

// Resolution of device paths inside the root, against a small tree with symlinks that lead
// outside, made once per process. The input is a percent-encoded device path and, after a line
// feed, a percent-encoded item name.
std::string CheckPaths(const std::uint8_t* data, std::size_t size);

}  // namespace vesk::fuzz
