// Local files for uploads and downloads, the same on every platform: opening by wide path,
// sizes and positions beyond 32 bits, reads that stop at the end, truncation and the last-write
// time.
#include "platform/LocalFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/Text.h"
#include "support/Files.h"

namespace vesk {
namespace {

using platform::LocalFile;

// A path as the library takes it: wide text (UTF-8 is the native form on POSIX).
std::wstring Wide(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.native();
#else
  return FromUtf8(path.native());
#endif
}

class LocalFiles : public ::testing::Test {
 protected:
  std::filesystem::path Path(const char8_t* name) const { return folder_.Path() / name; }

  test::TempFolder folder_{"vesk-localfile"};
};

TEST_F(LocalFiles, OpensByWidePathForReadingOnlyWhatExists) {
  // A name outside ASCII, with a character beyond the basic plane.
  const std::filesystem::path path = Path(u8"r\u00e9sum\u00e9 \u4e2d \U0001F600.txt");
  LocalFile file;
  EXPECT_FALSE(file.Open(Wide(path), LocalFile::Mode::Read));
  EXPECT_FALSE(file.IsOpen());
  test::WriteFile(path, "hello");
  ASSERT_TRUE(file.Open(Wide(path), LocalFile::Mode::Read));
  EXPECT_EQ(file.Size(), 5u);
  char buffer[16] = {};
  EXPECT_EQ(file.ReadAt(0, buffer, sizeof buffer), 5);  // fewer only at the end
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(file.ReadAt(3, buffer, sizeof buffer), 2);  // wherever the position is
  EXPECT_EQ(std::string(buffer, 2), "lo");
  EXPECT_EQ(file.ReadAt(5, buffer, sizeof buffer), 0);
  EXPECT_FALSE(file.WriteAll("x", 1));  // opened for reading only

  // Neither a folder, nor an empty path, nor one with a zero in it names a file to open.
  EXPECT_FALSE(file.Open(Wide(folder_.Path()), LocalFile::Mode::Read));
  EXPECT_FALSE(file.Open(Wide(folder_.Path()), LocalFile::Mode::Write));
  EXPECT_FALSE(file.Open(L"", LocalFile::Mode::Read));
  EXPECT_FALSE(file.Open(Wide(path) + std::wstring(1, L'\0') + L"x", LocalFile::Mode::Read));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Size(), std::nullopt);
  EXPECT_EQ(file.ReadAt(0, buffer, 1), -1);
}

TEST_F(LocalFiles, WritingCreatesOrKeepsTheFileAndWritesWhereItIsPositioned) {
  const std::filesystem::path path = Path(u8"w.bin");
  {
    LocalFile file;
    ASSERT_TRUE(file.Open(Wide(path), LocalFile::Mode::Write));
    EXPECT_EQ(file.Size(), 0u);
    ASSERT_TRUE(file.WriteAll("abcdef", 6));
    EXPECT_EQ(file.Position(), 6u);
  }
  LocalFile file;
  ASSERT_TRUE(file.Open(Wide(path), LocalFile::Mode::Write));  // never truncated
  EXPECT_EQ(file.Size(), 6u);
  EXPECT_EQ(file.Position(), 0u);
  ASSERT_TRUE(file.Seek(2));
  ASSERT_TRUE(file.WriteAll("XY", 2));
  EXPECT_EQ(file.Position(), 4u);

  // Truncation cuts (or extends with zeros) and leaves the position where it was.
  ASSERT_TRUE(file.Truncate(3));
  EXPECT_EQ(file.Size(), 3u);
  EXPECT_EQ(file.Position(), 4u);
  ASSERT_TRUE(file.Truncate(5));
  EXPECT_EQ(file.Size(), 5u);
  file.Close();
  EXPECT_EQ(test::ReadFile(path), std::string("abX\0\0", 5));

  // Moves hand the file over; the one moved from is closed.
  ASSERT_TRUE(file.Open(Wide(path), LocalFile::Mode::Read));
  LocalFile other(std::move(file));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(other.Size(), 5u);
  file = std::move(other);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_FALSE(other.IsOpen());
}

TEST_F(LocalFiles, PositionsBeyondFourGibibytes) {
  const std::filesystem::path path = Path(u8"p.bin");
  test::WriteFile(path, "x");
  LocalFile file;
  ASSERT_TRUE(file.Open(Wide(path), LocalFile::Mode::Read));
  constexpr std::uint64_t kFar = (std::uint64_t{1} << 32) + 7;
  ASSERT_TRUE(file.Seek(kFar));  // past the end is allowed; nothing is written
  EXPECT_EQ(file.Position(), kFar);
  char byte = 0;
  EXPECT_EQ(file.ReadAt(kFar, &byte, 1), 0);
  EXPECT_EQ(file.Size(), 1u);
}

TEST_F(LocalFiles, LastWriteTimeIsTheFileSystemsInUnixSeconds) {
  const std::filesystem::path path = Path(u8"t.bin");
  test::WriteFile(path, "x");
  const struct {
    long long seconds;
  } cases[] = {
      {1600000000},
      {0},
      {4102444800},  // 2020, 1970, 2100
#ifndef _WIN32
      {-86400},  // 1969: the Windows C run-time that sets the time takes none before 1970
#endif
  };
  for (const auto& c : cases) {
    std::error_code error;
    std::filesystem::last_write_time(path,
                                     std::chrono::file_clock::from_sys(
                                         std::chrono::sys_seconds(std::chrono::seconds(c.seconds))),
                                     error);
    ASSERT_FALSE(error) << c.seconds << ": " << error.message();
    LocalFile file;
    ASSERT_TRUE(file.Open(Wide(path), LocalFile::Mode::Read));
    EXPECT_EQ(file.LastWriteTime(), c.seconds);
  }
}

}  // namespace
}  // namespace vesk
