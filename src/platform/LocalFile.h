// Local files for uploads and downloads: the platform's file calls behind one small class
// (POSIX descriptors, or Windows file handles opened with the wide path).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk::platform {

class LocalFile {
 public:
  enum class Mode {
    Read,   // an existing file, for reading
    Write,  // created when missing, never truncated, for writing at a chosen position
  };

  LocalFile() = default;
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;
  LocalFile(LocalFile&& other) noexcept;
  LocalFile& operator=(LocalFile&& other) noexcept;
  ~LocalFile();

  bool Open(const std::wstring& path, Mode mode);
  bool IsOpen() const;
  void Close();

  std::optional<std::uint64_t> Size() const;
  // The last-write time in whole seconds since 1970-01-01 UTC (negative before it).
  std::optional<std::int64_t> LastWriteTime() const;
  std::optional<std::uint64_t> Position() const;
  bool Seek(std::uint64_t offset);
  // Reads up to size bytes from byte offset on, whatever the position; fewer only at the end of
  // the file. -1 on a read error.
  long long ReadAt(std::uint64_t offset, void* buffer, std::size_t size);
  // Writes all bytes at the current position; false when they could not all be written.
  bool WriteAll(const void* data, std::size_t size);
  // Cuts the file to size bytes (or extends it with a hole).
  bool Truncate(std::uint64_t size);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // the file's HANDLE; null when closed
#else
  int fd_ = -1;
#endif
};

// A local file as an upload's data source, in the form of VESK_HTTP_DATA_SOURCE: `file` is an
// open LocalFile, read at the offsets asked for.
inline long long ReadLocalFile(void* file, long long offset, char* buffer, long long size) {
  if (offset < 0 || size < 0) return -1;
  return static_cast<LocalFile*>(file)->ReadAt(static_cast<std::uint64_t>(offset), buffer,
                                               static_cast<std::size_t>(size));
}

}  // namespace vesk::platform
