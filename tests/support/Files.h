// Local files for the tests: fresh temporary folders, whole-file reads and writes, and the
// contents of a folder tree as one comparable value.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace vesk::test {

// A fresh folder under the system's temporary folder, named after prefix, removed with
// everything in it.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    // A random name that no folder has yet: create_directory makes it only when it is new.
    std::error_code code;
    const std::filesystem::path base = std::filesystem::temp_directory_path(code);
    std::random_device seed;
    std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
    for (int attempt = 0; !code && attempt < 100 && path_.empty(); ++attempt) {
      char suffix[17];
      std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
      const std::filesystem::path candidate = base / (prefix + "-" + suffix);
      if (std::filesystem::create_directory(candidate, code)) path_ = candidate;
    }
    EXPECT_FALSE(path_.empty()) << "no temporary folder for " << prefix;
  }
  ~TempFolder() {
    std::error_code code;
    if (!path_.empty()) std::filesystem::remove_all(path_, code);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Names in these tests are UTF-8 text and "/"-separated, on Windows too, where a path holds
// UTF-16 and a narrow string would be read in the program's code page.

// The path of a UTF-8 name.
inline std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path as UTF-8 text with "/" between its parts.
inline std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.generic_u8string();
  return std::string(name.begin(), name.end());
}

// The whole content of a file; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Writes a file with content, making the folders it lies in first.
inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Everything below a folder, links not followed: each path relative to it (UTF-8, "/") with
// "dir", "-> " and a link's target, or a file's content.
using FolderTree = std::map<std::string, std::string>;

// The tree below folder; empty when there is no such folder.
inline FolderTree Snapshot(const std::filesystem::path& folder) {
  FolderTree tree;
  std::error_code code;
  for (std::filesystem::recursive_directory_iterator it(folder, code), end; !code && it != end;
       it.increment(code)) {
    const std::string name = Utf8Name(it->path().lexically_relative(folder));
    if (it->is_symlink()) {
      tree[name] = "-> " + Utf8Name(std::filesystem::read_symlink(it->path()));
    } else if (it->is_directory()) {
      tree[name] = "dir";
    } else {
      tree[name] = ReadFile(it->path());
    }
  }
  return tree;
}

}  // namespace vesk::test
