// The lifetime of a request handle: a Cancel on one thread and the handle's release on another,
// overlapping at random moments, for listings, status queries, uploads, downloads and the
// system service's settings, while they run and after their run has ended, against the
// emulator. Run under ThreadSanitizer (make test-tsan), a release that frees the request while a
// Cancel still uses it is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "VeskHttp.h"
#include "filestation/Request.h"
#include "support/EmulatedDevice.h"
#include "support/Files.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The seed of the delays: VESK_OVERLAP_SEED, or a fresh one. Printed with every failure.
unsigned long long Seed() {
  if (const char* seed = std::getenv("VESK_OVERLAP_SEED")) return std::strtoull(seed, nullptr, 10);
  return std::random_device()() | 1;
}

// A one-shot signal between two threads of a test.
class Signal {
 public:
  void Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    cv_.notify_all();
  }
  bool WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

// Where the library reports that a Cancel is inside (the test makes one pair at a time).
std::atomic<Signal*> cancelInside{nullptr};
void OnCancelInside() {
  if (Signal* signal = cancelInside.load()) signal->Set();
}

// What a request's notifications said, and whether its own completion notification was refused
// when it tried to release the request.
template <typename Info, typename Station, typename Handle>
struct Outcome {
  Station* station = nullptr;
  std::mutex mutex;
  std::condition_variable cv;
  int completions = 0;
  int result = -1;
  bool selfReleaseRefused = false;

  static void Record(Info* info) {
    auto* self = static_cast<Outcome*>(info->userData);
    if (info->result == VESK_HTTP_IN_PROGRESS) return;
    Handle* handle = info->request;
    self->station->CloseRequest(&handle);
    std::lock_guard lock(self->mutex);
    self->selfReleaseRefused = handle != nullptr;
    self->result = info->result;
    ++self->completions;
    self->cv.notify_all();
  }
  bool WaitForCompletion() {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, 30s, [this] { return completions > 0; });
  }
};
using FileOutcome =
    Outcome<_VESK_HTTP_NOTIFY_INFO_, IVeskHttpFileStation, IVeskHttpFileStationRequestBase>;
using SystemOutcome =
    Outcome<_VESK_HTTP_SYSTEM_NOTIFY_INFO_, IVeskHttpSystem, IVeskHttpSystemRequestBase>;

class RequestLifetime : public test::EmulatedDeviceTest {
 protected:
  RequestLifetime() : EmulatedDeviceTest({"Public"}, PlainHttp()) {}

  void SetUp() override {
    EmulatedDeviceTest::SetUp();
    ASSERT_TRUE(files_);
    server_.SetSystemPortNum(device_->Port());
    ASSERT_EQ(server_.Login(VESK_HTTP_STATION_SYSTEM), VESK_HTTP_SUCCESS);
    system_ = server_.OpenSystem();
    ASSERT_TRUE(system_);
    std::ofstream(root_ / "Public" / "big.bin", std::ios::binary)
        << std::string(kTransferBytes, 'd');
    std::ofstream(local_.Path() / "up.bin", std::ios::binary) << std::string(kTransferBytes, 'u');
    SetCancelEnteredHook(&OnCancelInside);
  }
  void TearDown() override {
    SetCancelEnteredHook(nullptr);
    if (system_) {
      EXPECT_EQ(server_.CloseSystem(&system_), VESK_HTTP_SUCCESS);
    }
    EmulatedDeviceTest::TearDown();
  }

  // Cancels the handle on a thread of its own after cancelDelay, and releases it on this thread
  // once that Cancel is inside the library, after releaseDelay. The release must wait for the
  // request's end: a request that ran has sent its one completion notification when the release
  // returns (one that had not begun when it was cancelled never runs and sends none).
  // runningTransfer: an upload or download that only the cancel ends. Returns whether the
  // request ran.
  template <typename Handle, typename Station, typename Result>
  bool CancelAndRelease(Handle* handle, Station* station, Result& outcome, bool ended,
                        bool runningTransfer, std::chrono::microseconds cancelDelay,
                        std::chrono::milliseconds releaseDelay) {
    Signal inside;
    cancelInside = &inside;
    std::thread canceller([&] {
      std::this_thread::sleep_for(cancelDelay);
      EXPECT_EQ(handle->Cancel(), 1);
    });
    EXPECT_TRUE(inside.WaitFor(30s)) << "the Cancel never came inside";
    std::this_thread::sleep_for(releaseDelay);
    Handle* released = handle;
    EXPECT_EQ(station->CloseRequest(&released), 1);
    EXPECT_EQ(released, nullptr);
    bool ran;
    {
      std::lock_guard lock(outcome.mutex);
      ran = outcome.completions > 0;
      EXPECT_LE(outcome.completions, 1);
      if (ended) {
        EXPECT_TRUE(ran);
      }
      if (ran) {
        EXPECT_TRUE(outcome.selfReleaseRefused);
        if (runningTransfer) {
          EXPECT_EQ(outcome.result, VESK_HTTP_CANCELLED);
        } else {
          EXPECT_TRUE(outcome.result == VESK_HTTP_SUCCESS || outcome.result == VESK_HTTP_CANCELLED)
              << outcome.result;
        }
      }
    }
    canceller.join();
    cancelInside = nullptr;
    return ran;
  }

  static constexpr std::size_t kTransferBytes = 1 << 20;
  test::TempFolder local_{"vesk-lifetime"};
  IVeskHttpSystem* system_ = nullptr;
};

TEST_F(RequestLifetime, CancelAndReleaseMayOverlapAtAnyMoment) {
  const unsigned long long seed = Seed();
  std::printf("seed %llu (VESK_OVERLAP_SEED repeats it)\n", seed);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (VESK_OVERLAP_SEED repeats it)");
  std::mt19937_64 random(seed);
  enum Kind { kListing, kStatus, kUpload, kDownload, kSettings, kKinds };
  static const char* const kNames[] = {"listing", "status", "upload", "download", "settings"};
  constexpr int kPairs = 100;
  const std::wstring upload = (local_.Path() / "up.bin").wstring();
  const std::wstring download = (local_.Path() / "down.bin").wstring();
  int running = 0, ranAfterCancel = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    const int kind = pair % kKinds;
    // A quarter of the handles are cancelled and released after their run has ended.
    const bool ended = std::uniform_int_distribution<int>(0, 3)(random) == 0;
    running += !ended;
    const auto cancelDelay =
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random));
    constexpr std::chrono::milliseconds kReleaseDelays[] = {0ms, 1ms, 5ms};
    const auto releaseDelay = kReleaseDelays[std::uniform_int_distribution<int>(0, 2)(random)];
    SCOPED_TRACE(std::string(kNames[kind]) + (ended ? ", ended" : ", running") + ", cancel after " +
                 std::to_string(cancelDelay.count()) + " us, release " +
                 std::to_string(releaseDelay.count()) + " ms later");
    // A running transfer moves a quarter of its file a second: only a cancel ends it in time.
    emulator::TransferFaults faults;
    faults.bytesPerSecond = ended ? 0 : kTransferBytes / 4;
    device_->SetTransferFaults(faults);

    if (kind == kSettings) {
      SystemOutcome outcome;
      outcome.station = system_;
      IVeskHttpSystemRequestBase* handle =
          system_->GetSystemSettingAsync(&outcome, &SystemOutcome::Record);
      ASSERT_NE(handle, nullptr);
      if (ended) {
        ASSERT_TRUE(outcome.WaitForCompletion());
      }
      ranAfterCancel +=
          CancelAndRelease(handle, system_, outcome, ended, false, cancelDelay, releaseDelay) &&
          !ended;
      continue;
    }
    FileOutcome outcome;
    outcome.station = files_;
    IVeskHttpFileStationRequestBase* handle = nullptr;
    switch (kind) {
      case kListing:
        handle = files_->GetFileListAsync(L"/Public", 0, 100, &outcome, &FileOutcome::Record);
        break;
      case kStatus:
        handle = files_->GetFileStatusAsync(L"/Public/big.bin", &outcome, &FileOutcome::Record);
        break;
      case kUpload:
        handle =
            files_->UploadFileAsync(upload.c_str(), L"/Public", &outcome, &FileOutcome::Record);
        break;
      default:
        handle = files_->DownloadFileAsync(L"/Public/big.bin", download.c_str(), 0, &outcome,
                                           &FileOutcome::Record);
        break;
    }
    ASSERT_NE(handle, nullptr);
    if (ended) {
      ASSERT_TRUE(outcome.WaitForCompletion());
    }
    ranAfterCancel += CancelAndRelease(handle, files_, outcome, ended,
                                       !ended && (kind == kUpload || kind == kDownload),
                                       cancelDelay, releaseDelay) &&
                      !ended;
  }
  std::printf("%d of %d requests cancelled while running had begun\n", ranAfterCancel, running);
}

}  // namespace
}  // namespace vesk
