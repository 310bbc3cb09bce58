// The reply parsers read JSON with RapidJSON, set up to read what jsoncpp's reader with its
// default settings reads. Every corpus file of the reply-parser fuzzer, every input the fuzzer
// has found (VESK_FUZZ_INPUTS: folders separated by ":"; by default the scratch folder of
// `make fuzz`) and the cases below give the same tree both ways, apart from the documented
// differences (tests/fuzz/JsonDifferential.h).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "filestation/commands/FileTreeReplies.h"
#include "fuzz/JsonDifferential.h"

namespace vesk {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void CheckFolder(const fs::path& folder, int& checked) {
  if (!fs::is_directory(folder)) return;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(fuzz::CheckJsonDifferential(ReadFile(entry.path())), "") << entry.path();
    ++checked;
  }
}

TEST(JsonDifferential, CorpusAndFuzzerInputsReadAsJsoncppReadsThem) {
  int checked = 0;
  CheckFolder(VESK_REPLY_CORPUS_DIR, checked);
  EXPECT_GT(checked, 0) << "no corpus in " << VESK_REPLY_CORPUS_DIR;
  std::string extra = VESK_FUZZ_SCRATCH_DIR;
  if (const char* env = std::getenv("VESK_FUZZ_INPUTS")) extra = env;
  for (std::size_t start = 0; start <= extra.size();) {
    const std::size_t end = std::min(extra.find(':', start), extra.size());
    if (end > start) CheckFolder(extra.substr(start, end - start), checked);
    start = end + 1;
  }
}

TEST(JsonDifferential, LenientFormsReadAsJsoncppReadsThem) {
  const std::string deep1000 = std::string(999, '[') + "[]" + std::string(999, ']');
  const std::string deep1001 = std::string(1000, '[') + "[]" + std::string(1000, ']');
  const std::vector<std::string> cases = {
      R"({"status":1})",
      "\xEF\xBB\xBF{\"status\":1}",      // byte-order mark
      "{\"a\":1,\"a\":2,\"a\":null}",    // the last of equal names
      "/* c */ {\"a\":[1,2,],} // end",  // comments, trailing commas
      "{\"a\":1} trailing words",        // anything after the root
      "{\"name\":\"a\tb\nc\x01\"}",      // raw control characters
      "{\"name\":\"\\\"/*\x02*/\\\\\x03\"} /* \"\x04 */",
      "{\"name\":\"caf\xE9 \xFF\xFE\"}",  // not UTF-8
      "{\"n\":\"\\u0000x\",\"e\":\"\\u00e9\\ud83d\\ude00\"}",
      "[0,-0,1.5e3,-2E-2,9223372036854775807,9223372036854775808,18446744073709551616,"
      "-9223372036854775808,-9223372036854775809,1e308,0.1,123456789012345678901234567890]",
      "[true,false,null,\"\",{},[]]",
      deep1000,
      deep1001,
      "",
      "   ",
      "{\"a\":}",
      "{\"a\" 1}",
      "[1 2]",
      "\"\\x\"",
      "1e400",
      "NaN",
      "{'a':1}",
  };
  for (const std::string& text : cases) EXPECT_EQ(fuzz::CheckJsonDifferential(text), "") << text;
}

TEST(JsonDifferential, DocumentedDifferencesAreRecognised) {
  // They do differ, and are told apart as documented.
  for (const char* text : {"[01]", "[+1]", "[-]", "[1.]", "{\"s\":\"\\ud800\\u0041\"}", "[0e400]",
                           "{\"a\":1 /* c */ {\"b\":2}", "// c\r[1]", "{\"a\":0 //\n/]}",
                           "[/* c */ ]", "[1, // c\n]"}) {
    EXPECT_NE(fuzz::JsonDifference(text), "") << text;
    EXPECT_NE(fuzz::DocumentedJsonDifference(text), "") << text;
  }
  for (const char* text : {"[10]", "[0.5]", "[1e+5]", "[-1]", "{\"s\":\"\\ud83d\\ude00\"}",
                           "{\"s\":\"01 + -\"}", "/* 01 */ [1]", "[1e300]",
                           "{\"a\":1 /* c */ ,\"b\":2}", "{\"a\":1 // c\n}", "// c\r\n[1]"}) {
    EXPECT_EQ(fuzz::DocumentedJsonDifference(text), "") << text;
  }
}

// What the difference is about in the end: replies devices send keep parsing as before.
TEST(JsonDifferential, ListingOfOddNamesStillLists) {
  CGetPathInfoJson reply;
  reply.pathInfoFlags = -1;
  ASSERT_EQ(reply.Parse("{\"status\":0,\"total\":\"3\",\"datas\":["
                        "{\"filename\":\"caf\xE9.txt\",\"isfolder\":0,\"filesize\":\"12\"},"
                        "{\"filename\":\"tab\there\",\"isfolder\":\"1\",\"epochmt\":5},"
                        "{\"filename\":\"x\",\"filename\":\"last\",\"filesize\":7}]}"),
            1);
  EXPECT_EQ(reply.total, 3);
  ASSERT_EQ(reply.entries.size(), 3u);
  EXPECT_EQ(reply.entries[0].name, L"caf\uFFFD.txt");
  EXPECT_EQ(reply.entries[0].size, 12);
  EXPECT_EQ(reply.entries[1].name, L"tab\there");
  EXPECT_TRUE(reply.entries[1].isFolder);
  EXPECT_EQ(reply.entries[2].name, L"last");
  EXPECT_EQ(reply.entries[2].size, 7);
}

}  // namespace
}  // namespace vesk
