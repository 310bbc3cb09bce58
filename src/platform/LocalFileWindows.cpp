// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/LocalFile.h"

namespace vesk::platform {
namespace {

HANDLE Native(void* handle) { return static_cast<HANDLE>(handle); }

}  // namespace

LocalFile::LocalFile(LocalFile&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

LocalFile& LocalFile::operator=(LocalFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

LocalFile::~LocalFile() { Close(); }

bool LocalFile::IsOpen() const { return handle_ != nullptr; }

bool LocalFile::Open(const std::wstring& path, Mode mode) {
  Close();
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;
  // Others may read the file meanwhile, as with POSIX files; a file being written may also be
  // renamed or deleted by them.
  const DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_WRITE;
  const DWORD share = mode == Mode::Read ? (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
                                         : (FILE_SHARE_READ | FILE_SHARE_DELETE);
  const DWORD disposition = mode == Mode::Read ? OPEN_EXISTING : OPEN_ALWAYS;
  const HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = handle;
  // A folder cannot be opened this way (that needs FILE_FLAG_BACKUP_SEMANTICS); only a disk
  // file is one to read or write.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    Close();
    return false;
  }
  return true;
}

void LocalFile::Close() {
  if (handle_ != nullptr) CloseHandle(Native(std::exchange(handle_, nullptr)));
}

std::optional<std::uint64_t> LocalFile::Size() const {
  LARGE_INTEGER size{};
  if (handle_ == nullptr || !GetFileSizeEx(Native(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::int64_t> LocalFile::LastWriteTime() const {
  FILETIME written{};
  if (handle_ == nullptr || !GetFileTime(Native(handle_), nullptr, nullptr, &written))
    return std::nullopt;
  // 100-nanosecond intervals since 1601-01-01 UTC, to whole seconds since 1970-01-01 UTC,
  // rounded towards the past as POSIX times are.
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  const auto ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
  std::int64_t seconds = ticks / kTicksPerSecond;
  if (ticks % kTicksPerSecond < 0) --seconds;
  return seconds - kSecondsFrom1601To1970;
}

std::optional<std::uint64_t> LocalFile::Position() const {
  LARGE_INTEGER position{};
  if (handle_ == nullptr ||
      !SetFilePointerEx(Native(handle_), LARGE_INTEGER{}, &position, FILE_CURRENT))
    return std::nullopt;
  return static_cast<std::uint64_t>(position.QuadPart);
}

bool LocalFile::Seek(std::uint64_t offset) {
  if (handle_ == nullptr ||
      offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max()))
    return false;
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(Native(handle_), target, nullptr, FILE_BEGIN) != 0;
}

long long LocalFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
  if (handle_ == nullptr ||
      offset > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max()))
    return -1;
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    // The offset travels with the read: the file's position plays no part.
    OVERLAPPED at{};
    const std::uint64_t from = offset + done;
    at.Offset = static_cast<DWORD>(from & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD got = 0;
    if (!ReadFile(Native(handle_), out + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<long long>(done);
}

bool LocalFile::WriteAll(const void* data, std::size_t size) {
  if (handle_ == nullptr) return false;
  const auto* in = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(Native(handle_), in, want, &wrote, nullptr) || wrote == 0) return false;
    in += wrote;
    size -= wrote;
  }
  return true;
}

bool LocalFile::Truncate(std::uint64_t size) {
  // SetEndOfFile cuts or extends at the file pointer: move it there and back again.
  const std::optional<std::uint64_t> position = Position();
  if (!position || !Seek(size)) return false;
  const bool cut = SetEndOfFile(Native(handle_)) != 0;
  return Seek(*position) && cut;
}

}  // namespace vesk::platform
