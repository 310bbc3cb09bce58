// The reply-parser fuzz harness, shared by the libFuzzer binary and the corpus replay test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vesk::fuzz {

// Feeds one input to every reply parser and checks what must hold for any input: no exception
// escapes, Parse gives 1 or -1, a reply that is not parsed leaves the initial values, a parser
// that parsed another reply before gives the same result as a fresh one, flags are 0 or 1, and
// values that depend on a passed login are only there with it. Returns a description of the
// first broken rule, or an empty text.
std::string CheckReplyParsers(const std::uint8_t* data, std::size_t size);

}  // namespace vesk::fuzz
