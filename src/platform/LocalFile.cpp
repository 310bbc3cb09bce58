#include "platform/LocalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

#include "platform/Text.h"

namespace vesk::platform {

LocalFile::LocalFile(LocalFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LocalFile& LocalFile::operator=(LocalFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

LocalFile::~LocalFile() { Close(); }

bool LocalFile::IsOpen() const { return fd_ >= 0; }

bool LocalFile::Open(const std::wstring& path, Mode mode) {
  Close();
  const std::string name = ToUtf8(path);
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  // A path holding a code unit that is no Unicode scalar value names no file here: its UTF-8
  // form would name another one (with U+FFFD in its place).
  if (FromUtf8(name) != path) return false;
  const int flags = mode == Mode::Read ? O_RDONLY : (O_WRONLY | O_CREAT);
  do {
    fd_ = ::open(name.c_str(), flags | O_CLOEXEC, 0644);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    Close();
    return false;
  }
  return true;
}

void LocalFile::Close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

std::optional<std::uint64_t> LocalFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::int64_t> LocalFile::LastWriteTime() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

std::optional<std::uint64_t> LocalFile::Position() const {
  if (fd_ < 0) return std::nullopt;
  const off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  if (pos < 0) return std::nullopt;
  return static_cast<std::uint64_t>(pos);
}

bool LocalFile::Seek(std::uint64_t offset) {
  return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

long long LocalFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
  if (fd_ < 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

bool LocalFile::WriteAll(const void* data, std::size_t size) {
  if (fd_ < 0) return false;
  const auto* in = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, in, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    in += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool LocalFile::Truncate(std::uint64_t size) {
  if (fd_ < 0) return false;
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace vesk::platform
