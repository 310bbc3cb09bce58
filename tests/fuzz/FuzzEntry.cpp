// libFuzzer's entry point for one harness, chosen when the fuzzer is built: VESK_FUZZ_CHECK
// names the check and VESK_FUZZ_NAME the target. Aborts, printing the broken rule, when the
// check reports one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "EmulatorFuzz.h"
#include "JsonDifferential.h"
#include "ReplyParsersFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = VESK_FUZZ_CHECK(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "%s: %s\n", VESK_FUZZ_NAME, failure.c_str());
    std::abort();
  }
  return 0;
}
