// Moving files between this computer and the device through the public API, against the
// device emulator: round trips, interruptions and resumes, offsets beyond 4 GiB, cancel, and
// the memory a large transfer takes.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <psapi.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/EmulatedDevice.h"
#include "support/FileDigest.h"
#include "support/Notifications.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vesk::test::Sha256;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t k4GiB = 4ULL << 30;

// Writes size bytes of a pattern that differs at every position of a piece, in pieces, so that
// large files never sit in memory; seed tells files apart.
void WriteFile(const fs::path& path, std::uint64_t size, unsigned seed = 1) {
  std::ofstream out(path, std::ios::binary);
  std::string piece(kMiB, '\0');
  for (std::uint64_t done = 0; done < size;) {
    for (std::size_t i = 0; i < piece.size(); ++i)
      piece[i] = static_cast<char>((done + i) * 2654435761u >> 13 ^ seed);
    const auto n = std::min<std::uint64_t>(piece.size(), size - done);
    out.write(piece.data(), static_cast<std::streamsize>(n));
    done += n;
  }
}

// Sets a file's last access and last write times (seconds since the epoch).
void SetFileTimes(const fs::path& path, long long accessed, long long written) {
#ifdef _WIN32
  // FILETIME counts 100 ns from 1601-01-01, 11644473600 s before the epoch.
  const auto fileTime = [](long long seconds) {
    const unsigned long long ticks = (seconds + 11644473600ULL) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  };
  const FILETIME access = fileTime(accessed), write = fileTime(written);
  const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(file, nullptr, &access, &write));
  CloseHandle(file);
#else
  const timespec times[2] = {{static_cast<time_t>(accessed), 0}, {static_cast<time_t>(written), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

// A file's last write time in seconds since the epoch.
long long WrittenAt(const fs::path& path) {
#ifdef _WIN32
  struct _stat64 st {};
  EXPECT_EQ(_wstat64(path.c_str(), &st), 0) << path;
  return st.st_mtime;
#else
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec;
#endif
}

// The totals of a synchronous transfer; can set a cancel flag once a total passes a mark.
struct Progress {
  static void Record(void* self, long long total) {
    auto* p = static_cast<Progress*>(self);
    if (total < p->last) p->backwards = true;
    p->last = total;
    if (p->cancelFlag && total >= p->cancelAt) *p->cancelFlag = 1;
  }
  long long last = 0;
  bool backwards = false;
  int* cancelFlag = nullptr;
  long long cancelAt = 0;
};

// A device serving a fresh folder with the share "Public" (holding the folder ".uploads"), and
// a local folder.
class TransferEndToEnd : public vesk::test::EmulatedDeviceTest {
 protected:
  TransferEndToEnd() : EmulatedDeviceTest({"Public"}) {
    fs::create_directories(root_ / "Public" / ".uploads");
    char pattern[] = "/tmp/vesk-local-XXXXXX";
    local_ = mkdtemp(pattern);
  }
  ~TransferEndToEnd() override { fs::remove_all(local_); }

  fs::path Device(const std::string& name) const { return root_ / "Public" / name; }
  fs::path Local(const std::string& name) const { return local_ / name; }
  void Faults(long long dropAfter, unsigned long long rate = 0, int count = 1) {
    vesk::emulator::TransferFaults faults;
    faults.bytesPerSecond = rate;
    faults.dropAfterBytes = dropAfter;
    faults.dropCount = count;
    device_->SetTransferFaults(faults);
  }

  fs::path local_;
};

TEST_F(TransferEndToEnd, FilesOfEverySizeMakeTheRoundTripUnchanged) {
  for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{65535},
                                   std::uint64_t{65536}, 5 * kMiB + 3}) {
    SCOPED_TRACE(size);
    const std::string name = "file " + std::to_string(size) + ".bin";
    WriteFile(Local(name), size, static_cast<unsigned>(size));
    Progress up;
    ASSERT_EQ(files_->UploadFile(Local(name).wstring().c_str(), L"/Public", nullptr, &up,
                                 &Progress::Record),
              VESK_HTTP_SUCCESS);
    EXPECT_EQ(Sha256(Device(name)), Sha256(Local(name)));
    EXPECT_EQ(up.last, static_cast<long long>(size));
    EXPECT_FALSE(up.backwards);

    Progress down;
    const fs::path back = Local("back " + name);
    ASSERT_EQ(files_->DownloadFile((L"/Public/" + fs::path(name).wstring()).c_str(),
                                   back.wstring().c_str(), 0, nullptr, &down, &Progress::Record),
              VESK_HTTP_SUCCESS);
    EXPECT_EQ(Sha256(back), Sha256(Local(name)));
    EXPECT_EQ(fs::file_size(back), size);
    EXPECT_EQ(down.last, static_cast<long long>(size));
    EXPECT_FALSE(down.backwards);
  }
}

TEST_F(TransferEndToEnd, AsynchronousTransfersOverHttpsReportEveryPiece) {
  CVeskHttpServer secure(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 1, L""));
  secure.SetFileStationSSLPortNum(device_->TlsPort());
  ASSERT_EQ(secure.Login(VESK_HTTP_STATION_FILE_STATION), VESK_HTTP_SUCCESS);
  IVeskHttpFileStation* files = secure.OpenFileStation();
  const std::uint64_t size = 3 * kMiB + 1;
  WriteFile(Local("tls.bin"), size, 8);

  using Notes = vesk::test::FileNotes;
  auto run = [&](IVeskHttpFileStationRequestBase* request, Notes& notes, int operation) {
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(notes.WaitForCompletions());
    const auto all = notes.Notes();
    long long last = 0;
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
      EXPECT_EQ(all[i].operation, operation);
      EXPECT_GT(all[i].bytes, last);
      last = all[i].bytes;
    }
    EXPECT_EQ(last, static_cast<long long>(size));
    EXPECT_EQ(all.back().result, VESK_HTTP_SUCCESS);
    files->CloseRequest(&request);
  };
  Notes up, down;
  run(files->UploadFileAsync(Local("tls.bin").wstring().c_str(), L"/Public", &up, &Notes::Record),
      up, VESK_HTTP_OP_UPLOAD_FILE);
  EXPECT_EQ(Sha256(Device("tls.bin")), Sha256(Local("tls.bin")));
  run(files->DownloadFileAsync(L"/Public/tls.bin", Local("tls back.bin").wstring().c_str(), 0,
                               &down, &Notes::Record),
      down, VESK_HTTP_OP_DOWNLOAD_FILE);
  EXPECT_EQ(Sha256(Local("tls back.bin")), Sha256(Local("tls.bin")));
  EXPECT_EQ(secure.CloseFileStation(&files), VESK_HTTP_SUCCESS);
}

TEST_F(TransferEndToEnd, AnInterruptedDownloadResumesFromTheLocalFilesSize) {
  WriteFile(Device("big.bin"), 3 * kMiB + 17);
  Faults(kMiB);
  const std::wstring local = Local("big.bin").wstring();
  EXPECT_EQ(files_->DownloadFile(L"/Public/big.bin", local.c_str(), 0, nullptr, nullptr, nullptr),
            VESK_HTTP_SEND_FAILED);
  const auto kept = fs::file_size(Local("big.bin"));
  ASSERT_GT(kept, 0u);
  ASSERT_LE(kept, kMiB);
  EXPECT_EQ(Sha256(Local("big.bin")), Sha256(Device("big.bin"), 0, kept));

  Progress progress;
  ASSERT_EQ(files_->DownloadFile(L"/Public/big.bin", local.c_str(), static_cast<long long>(kept),
                                 nullptr, &progress, &Progress::Record),
            VESK_HTTP_SUCCESS);
  EXPECT_EQ(Sha256(Local("big.bin")), Sha256(Device("big.bin")));
  EXPECT_EQ(progress.last, static_cast<long long>(3 * kMiB + 17));
}

TEST_F(TransferEndToEnd, AnInterruptedChunkedUploadResumesWhereTheDeviceStopped) {
  const std::uint64_t size = 4 * kMiB + 5;
  WriteFile(Local("data.bin"), size, 9);
  SetFileTimes(Local("data.bin"), 1700000900, 1500000000);  // read lately, written long ago
  ASSERT_FALSE(HasFatalFailure());

  std::wstring id;
  ASSERT_EQ(files_->StartChunkedUpload(L"/Public/.uploads", nullptr, &id), VESK_HTTP_SUCCESS);
  ASSERT_FALSE(id.empty());
  const std::wstring local = Local("data.bin").wstring();
  // Every attempt is cut, also the one the HTTP engine makes by itself when a reused
  // connection breaks before any reply (it sends the request again on a fresh one).
  Faults(2 * kMiB, 0, -1);
  EXPECT_EQ(files_->ChunkedUploadFile(local.c_str(), L"/Public", L"renamed.bin", id.c_str(),
                                      L"/Public/.uploads", nullptr, nullptr, nullptr),
            VESK_HTTP_SEND_FAILED);
  EXPECT_FALSE(fs::exists(Device("renamed.bin")));

  device_->SetTransferFaults({});
  Progress progress;
  ASSERT_EQ(files_->ChunkedUploadFile(local.c_str(), L"/Public", L"renamed.bin", id.c_str(),
                                      L"/Public/.uploads", nullptr, &progress, &Progress::Record),
            VESK_HTTP_SUCCESS);
  EXPECT_EQ(Sha256(Device("renamed.bin")), Sha256(Local("data.bin")));
  EXPECT_EQ(progress.last, static_cast<long long>(size));
  EXPECT_EQ(WrittenAt(Device("renamed.bin")), 1500000000);
  // The finished upload is gone from the device's list of unfinished ones.
  EXPECT_EQ(files_->DeleteChunkedUploadFile(id.c_str(), L"/Public/.uploads", nullptr),
            VESK_HTTP_DEVICE_STATUS_5);

  // An upload given up on is deleted.
  std::wstring other;
  ASSERT_EQ(files_->StartChunkedUpload(L"/Public/.uploads", nullptr, &other), VESK_HTTP_SUCCESS);
  EXPECT_NE(other, id);
  EXPECT_EQ(files_->DeleteChunkedUploadFile(other.c_str(), L"/Public/.uploads", nullptr),
            VESK_HTTP_SUCCESS);
  EXPECT_EQ(files_->ChunkedUploadFile(local.c_str(), L"/Public", L"", other.c_str(),
                                      L"/Public/.uploads", nullptr, nullptr, nullptr),
            VESK_HTTP_CHUNK_STATUS_5);
}

TEST_F(TransferEndToEnd, ADownloadResumedBeyond4GiBWritesAtTheRightPlace) {
  // Both files are sparse: only their last mebibyte holds data.
  const std::uint64_t size = k4GiB + kMiB;
  WriteFile(Device("tail.tmp"), kMiB, 5);
  {
    std::ofstream(Device("huge.bin"), std::ios::binary).close();
    fs::resize_file(Device("huge.bin"), k4GiB);
    std::ofstream out(Device("huge.bin"), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(k4GiB));
    std::ifstream tail(Device("tail.tmp"), std::ios::binary);
    out << tail.rdbuf();
  }
  ASSERT_EQ(fs::file_size(Device("huge.bin")), size);
  std::ofstream(Local("huge.bin"), std::ios::binary).close();
  fs::resize_file(Local("huge.bin"), k4GiB);

  Progress progress;
  ASSERT_EQ(
      files_->DownloadFile(L"/Public/huge.bin", Local("huge.bin").wstring().c_str(),
                           static_cast<long long>(k4GiB), nullptr, &progress, &Progress::Record),
      VESK_HTTP_SUCCESS);
  EXPECT_EQ(fs::file_size(Local("huge.bin")), size);
  EXPECT_EQ(Sha256(Local("huge.bin"), k4GiB), Sha256(Device("tail.tmp")));
  EXPECT_EQ(progress.last, static_cast<long long>(size));
}

TEST_F(TransferEndToEnd, CancelEndsATransferPromptlyAndKeepsWhatArrived) {
  // At this rate each transfer would take about 30 seconds.
  const std::uint64_t size = 8 * kMiB;
  WriteFile(Device("slow.bin"), size, 3);
  WriteFile(Local("up.bin"), size, 4);
  Faults(-1, 256 * 1024, -1);

  int cancel = 0;
  Progress progress{.cancelFlag = &cancel, .cancelAt = 256 * 1024};
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(files_->DownloadFile(L"/Public/slow.bin", Local("slow.bin").wstring().c_str(), 0,
                                 &cancel, &progress, &Progress::Record),
            VESK_HTTP_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  const auto kept = fs::file_size(Local("slow.bin"));
  EXPECT_GE(kept, static_cast<std::uint64_t>(progress.last));
  EXPECT_LT(kept, size);
  EXPECT_EQ(Sha256(Local("slow.bin")), Sha256(Device("slow.bin"), 0, kept));

  // An upload cancelled half-way leaves nothing at the destination.
  cancel = 0;
  progress = Progress{.cancelFlag = &cancel, .cancelAt = 256 * 1024};
  started = std::chrono::steady_clock::now();
  EXPECT_EQ(files_->UploadFile(Local("up.bin").wstring().c_str(), L"/Public", &cancel, &progress,
                               &Progress::Record),
            VESK_HTTP_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  EXPECT_FALSE(fs::exists(Device("up.bin")));

  // The asynchronous form stops on Cancel and reports the cancel as its result.
  vesk::test::FileNotes notes;
  IVeskHttpFileStationRequestBase* request =
      files_->DownloadFileAsync(L"/Public/slow.bin", Local("async.bin").wstring().c_str(), 0,
                                &notes, &vesk::test::FileNotes::Record);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(notes.WaitForNotes(1));  // a first piece arrived
  started = std::chrono::steady_clock::now();
  request->Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  ASSERT_TRUE(notes.WaitForCompletions());
  EXPECT_EQ(notes.Notes().back().result, VESK_HTTP_CANCELLED);
  files_->CloseRequest(&request);
}

// ---- ranged reads and uploads from the caller's reader ----

// The caller's side of the 1.1 transfers: a reader over a local file and a sink that collects
// what a ranged read hands over. Its notifications, reads, sink and progress share one user
// data, the FileNotes base.
struct Streams : vesk::test::FileNotes {
  explicit Streams(const fs::path& source = {}) : in(source, std::ios::binary) {}
  static Streams& Of(void* user) {
    return *static_cast<Streams*>(static_cast<vesk::test::FileNotes*>(user));
  }
  void* User() { return static_cast<vesk::test::FileNotes*>(this); }

  static long long Read(void* user, long long offset, char* buffer, long long size) {
    Streams& self = Of(user);
    self.offsets.push_back(offset);
    self.in.clear();
    self.in.seekg(offset);
    self.in.read(buffer, size);
    return self.in.bad() ? -1 : static_cast<long long>(self.in.gcount());
  }
  static int Sink(void* user, const char* data, long long size) {
    Streams& self = Of(user);
    self.taken.append(data, static_cast<std::size_t>(size));
    return self.taken.size() >= self.stopAt ? 0 : 1;
  }
  static void Progress(void* user, long long total) { Of(user).last = total; }

  std::ifstream in;
  std::vector<long long> offsets;  // where the reader was asked to read
  std::string taken;
  std::size_t stopAt = SIZE_MAX;
  long long last = 0;
};

// Bytes of a file, read the plain way.
std::string Slice(const fs::path& path, std::uint64_t from, std::uint64_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from));
  std::string bytes(length, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

TEST_F(TransferEndToEnd, RangedReadsTakeAnyPartOfAFile) {
  const std::uint64_t size = 3 * kMiB + 17;
  WriteFile(Device("r.bin"), size, 11);
  const std::string file = Slice(Device("r.bin"), 0, size);
  const auto end = static_cast<long long>(size);
  const struct {
    const char* name;
    const wchar_t* path;
    long long offset, length;
    int result;
    std::size_t taken;
  } cases[] = {
      {"the whole file", L"/Public/r.bin", 0, -1, VESK_HTTP_SUCCESS, file.size()},
      {"64 KiB from the middle", L"/Public/r.bin", static_cast<long long>(kMiB) + 5, 65536,
       VESK_HTTP_SUCCESS, 65536},
      {"past the end of a short file", L"/Public/r.bin", end - 10, 100, VESK_HTTP_SUCCESS, 10},
      {"from the end", L"/Public/r.bin", end, -1, VESK_HTTP_SUCCESS, 0},
      {"beyond the end", L"/Public/r.bin", end + 1, 10, VESK_HTTP_BAD_HTTP_STATUS, 0},
      {"a missing file", L"/Public/none.bin", 0, 10, VESK_HTTP_BAD_HTTP_STATUS, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Streams streams;
    long long read = -1;
    EXPECT_EQ(files_->ReadFileRange(c.path, c.offset, c.length, nullptr, streams.User(),
                                    &Streams::Sink, &Streams::Progress, &read),
              c.result);
    EXPECT_EQ(read, static_cast<long long>(c.taken));
    EXPECT_TRUE(streams.taken ==
                file.substr(std::min<std::size_t>(c.offset, file.size()), c.taken));
    if (c.taken > 0) {
      EXPECT_EQ(streams.last, c.offset + read);
    }
  }

  // A sink that stops at once, then a read that goes on over whatever connection is left.
  Streams stopping;
  stopping.stopAt = 1;
  long long read = 0;
  EXPECT_EQ(files_->ReadFileRange(L"/Public/r.bin", 0, -1, nullptr, stopping.User(), &Streams::Sink,
                                  nullptr, &read),
            VESK_HTTP_SUCCESS);
  EXPECT_GT(read, 0);
  EXPECT_LT(read, end);
  EXPECT_TRUE(stopping.taken == file.substr(0, stopping.taken.size()));

  // The asynchronous form, on its worker.
  Streams async;
  IVeskHttpFileStationRequestBase* request = files_->ReadFileRangeAsync(
      L"/Public/r.bin", static_cast<long long>(kMiB), static_cast<long long>(2 * kMiB),
      async.User(), &Streams::Sink, &Streams::Record);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(async.WaitForCompletions());
  EXPECT_EQ(request->GetBytesRead(), static_cast<long long>(2 * kMiB));
  files_->CloseRequest(&request);
  EXPECT_EQ(async.Notes().back().result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(async.Notes().back().operation, VESK_HTTP_OP_READ_FILE_RANGE);
  EXPECT_TRUE(async.taken == file.substr(kMiB, 2 * kMiB));

  // A read the connection cuts short fails, and says how far it got.
  Faults(static_cast<long long>(kMiB));
  Streams cut;
  EXPECT_EQ(files_->ReadFileRange(L"/Public/r.bin", 0, -1, nullptr, cut.User(), &Streams::Sink,
                                  nullptr, &read),
            VESK_HTTP_SEND_FAILED);
  EXPECT_EQ(read, static_cast<long long>(cut.taken.size()));
  EXPECT_LE(cut.taken.size(), kMiB);
  EXPECT_TRUE(cut.taken == file.substr(0, cut.taken.size()));
}

TEST_F(TransferEndToEnd, UploadsFromAReaderArriveWhole) {
  for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{65536}, 5 * kMiB + 3}) {
    SCOPED_TRACE(size);
    const std::string name = "reader " + std::to_string(size) + ".bin";
    WriteFile(Local(name), size, static_cast<unsigned>(size) + 2);
    Streams streams(Local(name));
    ASSERT_EQ(files_->UploadFromReader(L"/Public", fs::path(name).wstring().c_str(),
                                       static_cast<long long>(size), nullptr, streams.User(),
                                       &Streams::Read, &Streams::Progress),
              VESK_HTTP_SUCCESS);
    EXPECT_EQ(Sha256(Device(name)), Sha256(Local(name)));
    EXPECT_EQ(streams.last, static_cast<long long>(size));
  }

  WriteFile(Local("async.bin"), 3 * kMiB + 1, 12);
  Streams async(Local("async.bin"));
  IVeskHttpFileStationRequestBase* request =
      files_->UploadFromReaderAsync(L"/Public", L"async.bin", static_cast<long long>(3 * kMiB + 1),
                                    async.User(), &Streams::Read, &Streams::Record);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(async.WaitForCompletions());
  files_->CloseRequest(&request);
  EXPECT_EQ(async.Notes().back().result, VESK_HTTP_SUCCESS);
  EXPECT_EQ(Sha256(Device("async.bin")), Sha256(Local("async.bin")));
}

TEST_F(TransferEndToEnd, AChunkedUploadFromAReaderResumesAfterACut) {
  const std::uint64_t size = 4 * kMiB + 5;
  WriteFile(Local("data.bin"), size, 13);
  std::wstring id;
  ASSERT_EQ(files_->StartChunkedUpload(L"/Public/.uploads", nullptr, &id), VESK_HTTP_SUCCESS);
  // Every attempt is cut, also one the HTTP engine makes by itself on a fresh connection.
  Faults(2 * kMiB, 0, -1);
  Streams first(Local("data.bin"));
  EXPECT_EQ(
      files_->ChunkedUploadFromReader(L"/Public", L"from reader.bin", id.c_str(),
                                      L"/Public/.uploads", static_cast<long long>(size), 1500000000,
                                      nullptr, first.User(), &Streams::Read, nullptr),
      VESK_HTTP_SEND_FAILED);
  EXPECT_FALSE(fs::exists(Device("from reader.bin")));
  const fs::path held = root_ / "Public" / ".uploads" / fs::path(L".vesk-chunked-" + id);
  const std::uint64_t kept = vesk::test::FileSize(held);
  ASSERT_GT(kept, 0u);

  // The asynchronous form resumes where the device stopped: nothing is read, or sent, twice.
  device_->SetTransferFaults({});
  Streams rest(Local("data.bin"));
  IVeskHttpFileStationRequestBase* request = files_->ChunkedUploadFromReaderAsync(
      L"/Public", L"from reader.bin", id.c_str(), L"/Public/.uploads", static_cast<long long>(size),
      1500000000, rest.User(), &Streams::Read, &Streams::Record);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(rest.WaitForCompletions(1, 60s));
  files_->CloseRequest(&request);
  EXPECT_EQ(rest.Notes().back().result, VESK_HTTP_SUCCESS);
  ASSERT_FALSE(rest.offsets.empty());
  EXPECT_EQ(rest.offsets.front(), static_cast<long long>(kept));
  EXPECT_EQ(Sha256(Device("from reader.bin")), Sha256(Local("data.bin")));
  EXPECT_EQ(WrittenAt(Device("from reader.bin")), 1500000000);
}

// The high-water mark of this process's resident memory, in bytes.
std::uint64_t PeakResidentBytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
#endif
}

TEST_F(TransferEndToEnd, ALargeTransferTakesBoundedMemory) {
  // The device runs in this process too, so the bound covers both ends of the transfer.
  const std::uint64_t size = 256 * kMiB;
  WriteFile(Local("large.bin"), size, 6);
  const std::uint64_t before = PeakResidentBytes();
  ASSERT_EQ(files_->UploadFile(Local("large.bin").wstring().c_str(), L"/Public", nullptr, nullptr,
                               nullptr),
            VESK_HTTP_SUCCESS);
  ASSERT_EQ(files_->DownloadFile(L"/Public/large.bin", Local("back.bin").wstring().c_str(), 0,
                                 nullptr, nullptr, nullptr),
            VESK_HTTP_SUCCESS);
  EXPECT_LT(PeakResidentBytes() - before, 48 * kMiB);
  EXPECT_EQ(fs::file_size(Local("back.bin")), size);
  EXPECT_EQ(Sha256(Local("back.bin")), Sha256(Local("large.bin")));
}

}  // namespace
