// Replays every file of the fuzz corpus through the fuzz harness, so that the inputs the fuzzer
// found (and the seeds) keep being checked in every ordinary test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ReplyParsersFuzz.h"

namespace {

TEST(FuzzCorpus, EveryInputKeepsTheParsersRules) {
  const std::filesystem::path corpus = VESK_FUZZ_CORPUS_DIR;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 20u) << "the corpus at " << corpus << " is missing";

  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(vesk::fuzz::CheckReplyParsers(bytes.data(), bytes.size()), "") << file;
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << file;
  }
}

}  // namespace
