// Replays every file of each fuzz target's corpus through its harness, so that the inputs the
// fuzzers found (and the seeds) keep being checked in every ordinary test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EmulatorFuzz.h"
#include "ReplyParsersFuzz.h"

namespace {

struct Target {
  const char* corpus;  // its folder under the corpus directory
  std::string (*check)(const std::uint8_t*, std::size_t);
  std::size_t seeds;  // at least this many files: fewer means the corpus is missing
};

class FuzzCorpus : public testing::TestWithParam<Target> {};

TEST_P(FuzzCorpus, EveryInputKeepsTheHarnessRules) {
  const std::filesystem::path corpus =
      std::filesystem::path(VESK_FUZZ_CORPUS_DIR) / GetParam().corpus;
  std::vector<std::filesystem::path> files;
  std::error_code code;
  for (std::filesystem::directory_iterator it(corpus, code), end; !code && it != end;
       it.increment(code)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), GetParam().seeds) << "the corpus at " << corpus << " is missing";

  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(GetParam().check(bytes.data(), bytes.size()), "") << file;
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus,
                         testing::Values(Target{"reply_parsers", vesk::fuzz::CheckReplyParsers, 20},
                                         Target{"form", vesk::fuzz::CheckForms, 10},
                                         Target{"multipart", vesk::fuzz::CheckMultipart, 10},
                                         Target{"paths", vesk::fuzz::CheckPaths, 10}),
                         [](const testing::TestParamInfo<Target>& param) {
                           return std::string(param.param.corpus);
                         });

}  // namespace
