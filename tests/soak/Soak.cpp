// The soak: thousands of mixed synchronous and asynchronous operations of both services, from
// several threads at once, against the device emulator in this process. A tenth of them are
// cancelled at random moments; asynchronous handles are released from other threads, some
// before their request has ended; Cancel overlaps CloseRequest on one handle; every file moved
// is checked by SHA-256 against its source.
//
// It fails (exit status 1) on any result an operation should not have, a file that differs
// from its source, a thread of the program or the library left over at the end, or a time
// limit (--seconds) reached before all the operations asked for were done; a watchdog
// aborts it when no operation has finished for a while (a deadlock or a hang). In the
// AddressSanitizer build LeakSanitizer checks for leaks at exit.
//
// usage: vesk_soak [--operations N] [--seconds S] [--threads T] [--seed X] [--stall S]
#include <openssl/evp.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"
#include "support/FileDigest.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using vesk::test::FileSize;
using vesk::test::Sha256;

struct Options {
  long operations = 10000;
  double seconds = 300;  // no operation starts after this
  int threads = 6;
  unsigned long long seed = 0;  // 0: a fresh one
  double stallSeconds = 90;     // the watchdog's limit without a finished operation
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (flag == "--operations") {
      options.operations = std::atol(value);
    } else if (flag == "--seconds") {
      options.seconds = std::atof(value);
    } else if (flag == "--threads") {
      options.threads = std::max(1, std::atoi(value));
    } else if (flag == "--seed") {
      options.seed = std::strtoull(value, nullptr, 10);
    } else if (flag == "--stall") {
      options.stallSeconds = std::atof(value);
    } else {
      return false;
    }
  }
  return true;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// ---- files ----

void WriteRandomFile(const fs::path& path, std::uint64_t size, std::mt19937_64& rng) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

// The threads of this process that are not the emulator's (libmicrohttpd names its threads
// "MHD-...", and threads started from them inherit the name), and all of them.
struct ThreadCount {
  int ours = 0, all = 0;
};

ThreadCount CountThreads() {
  ThreadCount count;
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    ++count.all;
    if (name.rfind("MHD-", 0) != 0) ++count.ours;
  }
  return count;
}

// The library ends idle threads of its own in its own time, and nothing tells when: the count
// is sampled until it has held still for a while (longer than any idle thread lingers), or
// until it is down to `target`, for at most a minute.
ThreadCount SettledThreadCount(int target = -1) {
  constexpr std::chrono::milliseconds kStill = 12s, kLimit = 60s, kSample = 250ms;
  const auto begin = Clock::now();
  ThreadCount count = CountThreads();
  auto since = begin;
  while (Clock::now() - begin < kLimit) {
    if (target >= 0 ? count.ours <= target : Clock::now() - since >= kStill) break;
    std::this_thread::sleep_for(kSample);  // sampling, not waiting for anything of ours
    const ThreadCount now = CountThreads();
    if (now.ours != count.ours) since = Clock::now();
    count = now;
  }
  return count;
}

// ---- helpers that run work on threads of their own ----

// Runs actions once their moment has come.
class Timer {
 public:
  Timer() : thread_([this] { Loop(); }) {}
  ~Timer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void After(std::chrono::microseconds delay, std::function<void()> action) {
    // Notified under the lock, like WorkQueue::Post.
    std::lock_guard lock(mutex_);
    actions_.emplace(Clock::now() + delay, std::move(action));
    cv_.notify_all();
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    while (true) {
      if (!actions_.empty() && (stopping_ || actions_.begin()->first <= Clock::now())) {
        auto action = std::move(actions_.begin()->second);
        actions_.erase(actions_.begin());
        lock.unlock();
        action();
        lock.lock();
        continue;
      }
      if (stopping_) return;
      if (actions_.empty()) {
        cv_.wait(lock);
      } else {
        cv_.wait_until(lock, actions_.begin()->first);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::multimap<Clock::time_point, std::function<void()>> actions_;
  bool stopping_ = false;
  std::thread thread_;
};

// Runs jobs on a few threads of its own, in order of arrival.
class WorkQueue {
 public:
  explicit WorkQueue(int threads) {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
  }
  ~WorkQueue() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    for (auto& thread : threads_) thread.join();
  }
  void Post(std::function<void()> job) {
    // Notified under the lock: the job may end the caller's wait and let the queue be destroyed
    // while a notification made after the unlock would still use its condition variable.
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    cv_.notify_one();
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    while (true) {
      cv_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// The notifications of one asynchronous request. Waits are unbounded: the watchdog bounds
// the whole run.
template <typename Info>
struct Notes {
  std::mutex mutex;
  std::condition_variable cv;
  int completions = 0;
  int result = -1;
  int progress = 0;
  long long lastBytes = 0;
  bool backwards = false;

  static void Record(Info* info) {
    auto* self = static_cast<Notes*>(info->userData);
    std::lock_guard lock(self->mutex);
    if (info->result == VESK_HTTP_IN_PROGRESS) {
      ++self->progress;
      if constexpr (requires { info->bytes; }) {
        if (info->bytes < self->lastBytes) self->backwards = true;
        self->lastBytes = info->bytes;
      }
    } else {
      ++self->completions;
      self->result = info->result;
    }
    self->cv.notify_all();
  }
  void WaitForCompletion() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return completions > 0; });
  }
  void WaitForProgress() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return progress > 0 || completions > 0; });
  }
};
using FileNotes = Notes<_VESK_HTTP_NOTIFY_INFO_>;
using SystemNotes = Notes<_VESK_HTTP_SYSTEM_NOTIFY_INFO_>;

// ---- the run ----

struct SourceFile {
  std::wstring name;
  fs::path path;
  std::uint64_t size;
  std::string sha;
};

struct Stats {
  std::mutex mutex;
  std::map<std::string, std::map<int, long>> outcomes;  // "kind form" -> result -> count
  std::vector<std::string> failures;
  std::atomic<long> operations{0}, cancelsPlanned{0}, releasedElsewhere{0}, releasedEarly{0},
      overlaps{0}, filesChecked{0};
  std::atomic<long long> bytesUp{0}, bytesDown{0};
  std::atomic<Clock::rep> lastFinish{Clock::now().time_since_epoch().count()};

  void Fail(const std::string& what) {
    std::lock_guard lock(mutex);
    failures.push_back(what);
  }
};

// An emulator serving a fresh temporary folder with the share "Public".
struct Device {
  explicit Device(const vesk::emulator::EmulatorOptions& base) {
    char pattern[] = "/tmp/vesk-soak-XXXXXX";
    root = mkdtemp(pattern);
    fs::create_directory(root / "Public");
    vesk::emulator::EmulatorOptions options = base;
    options.root = root.string();
    emulator = std::make_unique<vesk::emulator::Emulator>(options);
  }
  ~Device() {
    emulator.reset();
    fs::remove_all(root);
  }
  fs::path root;
  std::unique_ptr<vesk::emulator::Emulator> emulator;
};

struct Soak;

// One thread's share of the run: its own folders on the device and here, its own random
// numbers, its own names.
class Worker {
 public:
  Worker(Soak& soak, int index);
  void Run();
  const char* Current() const { return current_.load(); }

 private:
  // Whether to do something with probability p.
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  // Most operations take a millisecond or two here: most cancels come within that, some later.
  std::chrono::microseconds CancelDelay() {
    const int limit = Chance(0.5) ? 1000 : Chance(0.6) ? 5000 : 30000;
    return std::chrono::microseconds(Uniform(0, limit));
  }
  std::string Serial() { return std::to_string(++serial_); }
  const SourceFile& AnySource();

  void Check(bool ok, const std::string& what);
  void Record(const std::string& kind, int result, bool cancelled,
              std::initializer_list<int> alsoFine = {});
  void CheckFile(const fs::path& copy, const fs::path& source);

  // A synchronous call, given its cancel flag; cancelled at a random moment in a tenth of the
  // cases. Returns its result.
  int Sync(const char* kind, const std::function<int(int*)>& call,
           std::initializer_list<int> alsoFine = {});
  // An asynchronous request seen to its end in one of four ways: waited for and released here;
  // waited for and released on another thread; cancelled at a random moment (on another
  // thread), then released; released at a random moment on another thread, which cancels it.
  // Returns the completion's result, or -1 when no completion came (the request never began).
  template <typename Station, typename Handle, typename NotesT>
  int Async(const char* kind, Station* station, const std::function<Handle*(NotesT*)>& start,
            std::initializer_list<int> alsoFine = {});
  int FileAsync(const char* kind, IVeskHttpFileStation* station,
                const std::function<IVeskHttpFileStationRequestBase*(FileNotes*)>& start,
                std::initializer_list<int> alsoFine = {}) {
    return Async<IVeskHttpFileStation, IVeskHttpFileStationRequestBase, FileNotes>(kind, station,
                                                                                   start, alsoFine);
  }

  // The scenarios.
  void Browse();
  void System();
  void TreeChanges();
  void Upload();
  void Download();
  void ChunkedUpload();
  void CopyAndMove();
  void Archive();
  void ShareLinks();
  void Video();
  void Links();
  void CancelOverlappingRelease();

  Soak& soak_;
  const int index_;
  std::mt19937_64 rng_;
  fs::path deviceDir_;         // in the emulator's root
  std::wstring deviceFolder_;  // as the device names it
  fs::path localDir_;
  long serial_ = 0;
  std::atomic<const char*> current_{"idle"};
};

struct Soak {
  Options options;
  Stats stats;
  std::vector<SourceFile> sources;
  Device fast{vesk::emulator::EmulatorOptions{}};
  // Transfers crawl here: a download of its file takes half a minute, so that it certainly
  // runs when it is cancelled.
  Device slow{[] {
    vesk::emulator::EmulatorOptions slowOptions;
    slowOptions.tls = false;
    slowOptions.faults.bytesPerSecond = 256 << 10;
    return slowOptions;
  }()};
  fs::path slowFile;
  fs::path local;
  CVeskHttpServer server, secureServer, slowServer;
  IVeskHttpFileStation* files = nullptr;  // through the system session
  IVeskHttpFileStation* secureFiles = nullptr;
  IVeskHttpFileStation* slowFiles = nullptr;
  IVeskHttpSystem* system = nullptr;
  Clock::time_point deadline;

  // Declared last: destroyed first, so that no action or job outlives what it uses.
  std::unique_ptr<Timer> timer;
  std::unique_ptr<WorkQueue> elsewhere;  // releases and cancels handles of other threads

  bool MoreToDo() const {
    return stats.operations.load() < options.operations && Clock::now() < deadline;
  }
};

Worker::Worker(Soak& soak, int index)
    : soak_(soak), index_(index), rng_(soak.options.seed * 7919 + static_cast<unsigned>(index)) {
  const std::string name = "w" + std::to_string(index);
  deviceDir_ = soak.fast.root / "Public" / name;
  deviceFolder_ = L"/Public/" + Wide(name);
  localDir_ = soak.local / name;
  fs::create_directories(deviceDir_);
  fs::create_directories(localDir_);
  std::ofstream(deviceDir_ / "video.mp4") << "not really a video";
}

const SourceFile& Worker::AnySource() {
  return soak_
      .sources[static_cast<std::size_t>(Uniform(0, static_cast<int>(soak_.sources.size()) - 1))];
}

void Worker::Check(bool ok, const std::string& what) {
  if (!ok) soak_.stats.Fail("thread " + std::to_string(index_) + ": " + what);
}

void Worker::Record(const std::string& kind, int result, bool cancelled,
                    std::initializer_list<int> alsoFine) {
  Stats& stats = soak_.stats;
  ++stats.operations;
  stats.lastFinish = Clock::now().time_since_epoch().count();
  {
    std::lock_guard lock(stats.mutex);
    ++stats.outcomes[kind][result];
  }
  const bool fine = result == VESK_HTTP_SUCCESS ||
                    (cancelled && (result == VESK_HTTP_CANCELLED || result == -1)) ||
                    std::find(alsoFine.begin(), alsoFine.end(), result) != alsoFine.end();
  Check(fine, kind + " ended with " + std::to_string(result) +
                  (cancelled ? " (cancelled)" : " (not cancelled)"));
}

void Worker::CheckFile(const fs::path& copy, const fs::path& source) {
  ++soak_.stats.filesChecked;
  const auto copySize = FileSize(copy), sourceSize = FileSize(source);
  Check(copySize == sourceSize && Sha256(copy) == Sha256(source),
        "the file " + copy.string() + " (" + std::to_string(copySize) + " bytes) differs from " +
            source.string() + " (" + std::to_string(sourceSize) + " bytes)");
}

int Worker::Sync(const char* kind, const std::function<int(int*)>& call,
                 std::initializer_list<int> alsoFine) {
  auto flag = std::make_shared<int>(0);  // outlives a cancel that comes too late
  const bool cancel = Chance(0.1);
  if (cancel) {
    ++soak_.stats.cancelsPlanned;
    soak_.timer->After(CancelDelay(), [flag] { std::atomic_ref<int>(*flag).store(1); });
  }
  current_ = kind;
  const int result = call(flag.get());
  current_ = "idle";
  Record(std::string(kind) + " sync", result, cancel, alsoFine);
  return result;
}

template <typename Station, typename Handle, typename NotesT>
int Worker::Async(const char* kind, Station* station, const std::function<Handle*(NotesT*)>& start,
                  std::initializer_list<int> alsoFine) {
  current_ = kind;
  auto notes = std::make_shared<NotesT>();  // outlives the request
  Handle* handle = start(notes.get());
  if (!handle) {
    Check(false, std::string(kind) + ": no handle");
    current_ = "idle";
    return -1;
  }
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  const auto release = [station, handle] {
    Handle* released = handle;
    station->CloseRequest(&released);
    return released == nullptr;
  };
  bool cancelled = false;
  const int way = Uniform(0, 19);
  if (way < 1) {
    // Cancelled at a random moment, on another thread; released afterwards.
    cancelled = true;
    ++soak_.stats.cancelsPlanned;
    soak_.timer->After(CancelDelay(), [this, handle, done] {
      soak_.elsewhere->Post([handle, done] {
        handle->Cancel();
        done->set_value();
      });
    });
    finished.wait();
    Check(release(), std::string(kind) + ": the release left the handle");
  } else if (way < 2) {
    // Released at a random moment on another thread, finished or not.
    cancelled = true;
    ++soak_.stats.cancelsPlanned;
    ++soak_.stats.releasedEarly;
    ++soak_.stats.releasedElsewhere;
    soak_.timer->After(CancelDelay(), [this, release, done, kind] {
      soak_.elsewhere->Post([this, release, done, kind] {
        Check(release(), std::string(kind) + ": the release left the handle");
        done->set_value();
      });
    });
    finished.wait();
  } else if (way < 12) {
    // Waited for, and released on another thread.
    ++soak_.stats.releasedElsewhere;
    soak_.elsewhere->Post([this, notes, release, done, kind] {
      notes->WaitForCompletion();
      Check(release(), std::string(kind) + ": the release left the handle");
      done->set_value();
    });
    finished.wait();
  } else {
    notes->WaitForCompletion();
    Check(release(), std::string(kind) + ": the release left the handle");
  }
  current_ = "idle";
  // After the release no notification comes any more.
  std::lock_guard lock(notes->mutex);
  Check(notes->completions <= 1, std::string(kind) + ": more than one completion");
  Check(cancelled || notes->completions == 1, std::string(kind) + ": no completion");
  Check(!notes->backwards, std::string(kind) + ": progress went backwards");
  const int result = notes->completions == 1 ? notes->result : -1;
  Record(std::string(kind) + " async", result, cancelled, alsoFine);
  return result;
}

// ---- scenarios ----

void Worker::Browse() {
  IVeskHttpFileStation* files = Chance(0.25) ? soak_.secureFiles : soak_.files;
  const bool async = Chance(0.5);
  const int sources = static_cast<int>(soak_.sources.size());
  switch (Uniform(0, 5)) {
    case 0:
      if (async) {
        FileAsync("share roots", files, [&](FileNotes* n) {
          return files->GetShareFolderListAsync(n, &FileNotes::Record);
        });
      } else {
        std::vector<CVeskHttpFileEntry> roots;
        if (Sync("share roots",
                 [&](int* flag) { return files->GetShareFolderList(flag, &roots); }) == 0)
          Check(roots.size() == 1 && std::wstring(roots[0].GetFileName()) == L"Public",
                "share roots");
      }
      break;
    case 1:
      if (async) {
        FileAsync("count", files, [&](FileNotes* n) {
          return files->GetFileListCountAsync(L"/Public/src", n, &FileNotes::Record);
        });
      } else {
        int count = -1;
        if (Sync("count", [&](int* flag) {
              return files->GetFileListCount(L"/Public/src", flag, &count);
            }) == 0)
          Check(count == sources, "count of /Public/src: " + std::to_string(count));
      }
      break;
    case 2:
      if (async) {
        FileAsync("list", files, [&](FileNotes* n) {
          return files->GetFileListAsync(L"/Public/src", 0, 100, n, &FileNotes::Record);
        });
      } else {
        std::vector<CVeskHttpFileEntry> list;
        if (Sync("list", [&](int* flag) {
              return files->GetFileList(L"/Public/src", 0, 100, flag, &list);
            }) == 0)
          Check(static_cast<int>(list.size()) == sources, "listing of /Public/src");
      }
      break;
    case 3: {
      const SourceFile& source = AnySource();
      const std::wstring path = L"/Public/src/" + source.name;
      if (async) {
        FileAsync("status", files, [&](FileNotes* n) {
          return files->GetFileStatusAsync(path.c_str(), n, &FileNotes::Record);
        });
      } else {
        CVeskHttpFileStatus status;
        if (Sync("status",
                 [&](int* flag) { return files->GetFileStatus(path.c_str(), flag, &status); }) == 0)
          Check(status.GetFileSize() == static_cast<long long>(source.size), "status size");
      }
      break;
    }
    case 4:
      if (async) {
        FileAsync("search", files, [&](FileNotes* n) {
          return files->SearchFileAsync(L"/Public/src", L"f1", 50, n, &FileNotes::Record);
        });
      } else {
        std::vector<CVeskHttpFileEntry> hits;
        Sync("search",
             [&](int* flag) { return files->SearchFile(L"/Public/src", L"f1", 50, flag, &hits); });
      }
      break;
    default:
      if (async) {
        FileAsync("addresses", files,
                  [&](FileNotes* n) { return files->GetDomainIPListAsync(n, &FileNotes::Record); });
      } else {
        CVeskHttpNASInfo info;
        Sync("addresses", [&](int* flag) { return files->GetDomainIPList(flag, &info); });
      }
      break;
  }
}

void Worker::System() {
  IVeskHttpSystem* system = soak_.system;
  const bool settings = Chance(0.7);
  if (Chance(0.5)) {
    Async<IVeskHttpSystem, IVeskHttpSystemRequestBase, SystemNotes>(
        settings ? "settings" : "web file manager", system,
        [&](SystemNotes* n) -> IVeskHttpSystemRequestBase* {
          return settings ? system->GetSystemSettingAsync(n, &SystemNotes::Record)
                          : system->EnableWebFileManagerAsync(n, &SystemNotes::Record);
        });
  } else if (settings) {
    CVeskHttpSystemSettingInfo info;
    if (Sync("settings", [&](int* flag) { return system->GetSystemSetting(flag, &info); }) == 0)
      Check(info.GetSYSPort() == soak_.fast.emulator->Port(), "settings port");
  } else {
    Sync("web file manager", [&](int* flag) { return system->EnableWebFileManager(flag); });
  }
}

void Worker::TreeChanges() {
  IVeskHttpFileStation* files = soak_.files;
  const std::wstring name = L"d" + Wide(Serial());
  const std::wstring path = deviceFolder_ + L"/" + name;
  const std::wstring renamed = name + L"r";
  const std::wstring renamedPath = deviceFolder_ + L"/" + renamed;
  // Each step depends on the one before; a cancelled step ends the chain, and the rest is
  // cleared away.
  int result;
  if (Chance(0.5)) {
    result = FileAsync("create folder", files, [&](FileNotes* n) {
      return files->CreateFolderAsync(deviceFolder_.c_str(), name.c_str(), n, &FileNotes::Record);
    });
  } else {
    result = Sync("create folder", [&](int* flag) {
      return files->CreateFolder(deviceFolder_.c_str(), name.c_str(), flag);
    });
  }
  if (result == 0) {
    result = Sync("rename", [&](int* flag) {
      return files->RenameFile(path.c_str(), renamed.c_str(), flag);
    });
  }
  if (result == 0) {
    CVeskHttpFileStatus status;
    result = Sync("set time", [&](int* flag) {
      return files->SetFileModifyTime(renamedPath.c_str(), 1000000000, flag, &status);
    });
    if (result == 0) Check(fs::is_directory(deviceDir_ / renamed), "renamed folder");
  }
  // One of the two is gone, and the emulator refuses to delete what is missing.
  for (const std::wstring& item : {path, renamedPath}) {
    if (Chance(0.5)) {
      FileAsync(
          "delete", files,
          [&](FileNotes* n) { return files->DeleteFileAsync(item.c_str(), n, &FileNotes::Record); },
          {VESK_HTTP_DEVICE_STATUS_4});
    } else {
      Sync("delete", [&](int* flag) { return files->DeleteFile(item.c_str(), flag); },
           {VESK_HTTP_DEVICE_STATUS_4});
    }
  }
}

void Worker::Upload() {
  IVeskHttpFileStation* files = Chance(0.25) ? soak_.secureFiles : soak_.files;
  const std::string name = "up" + Serial() + ".bin";
  const fs::path local = localDir_ / name;
  const std::uint64_t size = Chance(0.2) ? static_cast<std::uint64_t>(Uniform(0, 2)) * 65535
                                         : static_cast<std::uint64_t>(Uniform(0, 1 << 20));
  WriteRandomFile(local, size, rng_);
  const int result =
      Chance(0.5)
          ? FileAsync("upload", files,
                      [&](FileNotes* n) {
                        return files->UploadFileAsync(local.wstring().c_str(),
                                                      deviceFolder_.c_str(), n, &FileNotes::Record);
                      })
          : Sync("upload", [&](int* flag) {
              return files->UploadFile(local.wstring().c_str(), deviceFolder_.c_str(), flag,
                                       nullptr, nullptr);
            });
  const fs::path copy = deviceDir_ / name;
  if (result == 0) {
    soak_.stats.bytesUp += static_cast<long long>(size);
    CheckFile(copy, local);
  } else {
    // A cut upload leaves nothing; one cancelled when it was done is whole.
    if (fs::exists(copy)) CheckFile(copy, local);
  }
  // The device refuses to delete what is missing (702): only an upload that did not succeed
  // may have left nothing to delete.
  const auto remove = [&](int* flag) {
    return files->DeleteFile((deviceFolder_ + L"/" + Wide(name)).c_str(), flag);
  };
  if (result != 0 && !fs::exists(copy)) {
    Sync("delete", remove, {VESK_HTTP_DEVICE_STATUS_4});
  } else {
    Sync("delete", remove);
  }
  fs::remove(local);
}

void Worker::Download() {
  IVeskHttpFileStation* files = Chance(0.25) ? soak_.secureFiles : soak_.files;
  const SourceFile& source = AnySource();
  const std::wstring path = L"/Public/src/" + source.name;
  const fs::path local = localDir_ / ("down" + Serial());
  // Until it is whole: each attempt resumes from what the local file holds.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const long long offset = static_cast<long long>(FileSize(local));
    const int result =
        Chance(0.5)
            ? FileAsync("download", files,
                        [&](FileNotes* n) {
                          return files->DownloadFileAsync(path.c_str(), local.wstring().c_str(),
                                                          offset, n, &FileNotes::Record);
                        })
            : Sync("download", [&](int* flag) {
                return files->DownloadFile(path.c_str(), local.wstring().c_str(), offset, flag,
                                           nullptr, nullptr);
              });
    const std::uint64_t kept = FileSize(local);
    soak_.stats.bytesDown += static_cast<long long>(kept) - offset;
    if (result == 0) {
      CheckFile(local, source.path);
      break;
    }
    // What a cancelled download kept is the file's beginning.
    ++soak_.stats.filesChecked;
    Check(kept <= source.size && Sha256(local) == Sha256(source.path, 0, kept),
          "a cancelled download kept something else than the file's beginning");
  }
  fs::remove(local);
}

void Worker::ChunkedUpload() {
  IVeskHttpFileStation* files = soak_.files;
  const fs::path local = localDir_ / ("chunk" + Serial());
  WriteRandomFile(local, static_cast<std::uint64_t>(Uniform(0, 3 << 20)), rng_);
  std::wstring id;
  if (Sync("start chunked upload", [&](int* flag) {
        return files->StartChunkedUpload(deviceFolder_.c_str(), flag, &id);
      }) != 0)
    return;
  const std::wstring name = L"chunked" + Wide(Serial());
  const fs::path copy = deviceDir_ / fs::path(name);
  // Until it is whole: each attempt sends what the device does not hold yet. An attempt
  // cancelled once the device had it all reports the cancel; the device has finished the upload
  // then and no longer knows its id: the next status query says so (705), and the file must
  // then be whole on the device. After a cancel the device may also refuse the next attempt's
  // data (50): because it finished the upload between that query and the data (the file is
  // whole then), or because the cancelled attempt's request reached it late and took the upload
  // over (the file is not there yet, and the next attempt resumes).
  bool cancelledBefore = false;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::initializer_list<int> alsoFine = {VESK_HTTP_CHUNK_STATUS_5, VESK_HTTP_SERVER_FAILED};
    const int result = Chance(0.5)
                           ? FileAsync(
                                 "chunked upload", files,
                                 [&](FileNotes* n) {
                                   return files->ChunkedUploadFileAsync(
                                       local.wstring().c_str(), deviceFolder_.c_str(), name.c_str(),
                                       id.c_str(), deviceFolder_.c_str(), n, &FileNotes::Record);
                                 },
                                 cancelledBefore ? alsoFine : std::initializer_list<int>{})
                           : Sync(
                                 "chunked upload",
                                 [&](int* flag) {
                                   return files->ChunkedUploadFile(
                                       local.wstring().c_str(), deviceFolder_.c_str(), name.c_str(),
                                       id.c_str(), deviceFolder_.c_str(), flag, nullptr, nullptr);
                                 },
                                 cancelledBefore ? alsoFine : std::initializer_list<int>{});
    const bool finished =
        result == VESK_HTTP_SUCCESS ||
        (cancelledBefore && (result == VESK_HTTP_CHUNK_STATUS_5 ||
                             (result == VESK_HTTP_SERVER_FAILED && fs::exists(copy))));
    if (finished) {
      soak_.stats.bytesUp += static_cast<long long>(FileSize(local));
      CheckFile(copy, local);
      break;
    }
    cancelledBefore = true;
  }
  fs::remove(copy);
  fs::remove(local);
}

void Worker::CopyAndMove() {
  IVeskHttpFileStation* files = soak_.files;
  const SourceFile& source = AnySource();
  // Folders of their own: a job no longer followed runs on, and must meet no later one.
  const std::string serial = Serial();
  fs::create_directory(deviceDir_ / ("copy" + serial));
  fs::create_directory(deviceDir_ / ("move" + serial));
  const std::wstring copyFolder = deviceFolder_ + L"/copy" + Wide(serial);
  const std::wstring moveFolder = deviceFolder_ + L"/move" + Wide(serial);
  const std::wstring sourcePath = L"/Public/src/" + source.name;
  const auto followed = [](void*, long long) {};
  int result = Chance(0.5)
                   ? FileAsync("copy", files,
                               [&](FileNotes* n) {
                                 return files->CopyFileAsync(sourcePath.c_str(), copyFolder.c_str(),
                                                             0, n, &FileNotes::Record);
                               })
                   : Sync("copy", [&](int* flag) {
                       return files->CopyFile(sourcePath.c_str(), copyFolder.c_str(), 0, flag,
                                              nullptr, followed);
                     });
  if (result != 0) return;
  const fs::path copy = deviceDir_ / ("copy" + serial) / fs::path(source.name);
  CheckFile(copy, source.path);
  const std::wstring copyPath = copyFolder + L"/" + source.name;
  result = Chance(0.5)
               ? FileAsync("move", files,
                           [&](FileNotes* n) {
                             return files->MoveFileAsync(copyPath.c_str(), moveFolder.c_str(), 0, n,
                                                         &FileNotes::Record);
                           })
               : Sync("move", [&](int* flag) {
                   return files->MoveFile(copyPath.c_str(), moveFolder.c_str(), 0, flag, nullptr,
                                          followed);
                 });
  if (result != 0) return;
  CheckFile(deviceDir_ / ("move" + serial) / fs::path(source.name), source.path);
  Check(!fs::exists(copy), "a moved file stayed where it was");
}

void Worker::Archive() {
  IVeskHttpFileStation* files = soak_.files;
  const std::string serial = Serial();
  const fs::path folder = deviceDir_ / ("zip" + serial);
  fs::create_directories(folder / "in");
  WriteRandomFile(folder / "in" / "a.bin", static_cast<std::uint64_t>(Uniform(0, 1 << 16)), rng_);
  WriteRandomFile(folder / "in" / "b.bin", static_cast<std::uint64_t>(Uniform(0, 1 << 16)), rng_);
  const std::wstring deviceFolder = deviceFolder_ + L"/zip" + Wide(serial);
  const std::vector<const wchar_t*> names = {L"in"};
  const auto followed = [](void*, long long) {};
  int result =
      Chance(0.5)
          ? FileAsync("compress", files,
                      [&](FileNotes* n) {
                        return files->CompressFileAsync(L"a.zip", deviceFolder.c_str(), 1, names, 0,
                                                        L"", 2, -1, 0, n, &FileNotes::Record);
                      })
          : Sync("compress", [&](int* flag) {
              return files->CompressFile(L"a.zip", deviceFolder.c_str(), 1, names, 0, L"", 2, -1, 0,
                                         flag, nullptr, followed);
            });
  if (result != 0) return;
  const std::wstring archive = deviceFolder + L"/a.zip";
  std::vector<CVeskHttpExtractEntry> entries;
  if (Sync("extract list", [&](int* flag) {
        return files->GetExtractList(archive.c_str(), 0, 50, flag, &entries);
      }) == 0)
    Check(entries.size() == 3, "the archive lists " + std::to_string(entries.size()) + " entries");
  fs::create_directory(folder / "out");
  const std::wstring out = deviceFolder + L"/out";
  result = Chance(0.5)
               ? FileAsync("extract", files,
                           [&](FileNotes* n) {
                             return files->ExtractFileAsync(archive.c_str(), out.c_str(), L"", 0, 0,
                                                            {}, 1, 1, n, &FileNotes::Record);
                           })
               : Sync("extract", [&](int* flag) {
                   return files->ExtractFile(archive.c_str(), out.c_str(), L"", 0, 0, {}, 1, 1,
                                             flag, nullptr, followed);
                 });
  if (result != 0) return;
  CheckFile(folder / "out" / "in" / "a.bin", folder / "in" / "a.bin");
  CheckFile(folder / "out" / "in" / "b.bin", folder / "in" / "b.bin");
}

void Worker::ShareLinks() {
  IVeskHttpFileStation* files = soak_.files;
  const std::wstring path = L"/Public/src/" + AnySource().name;
  CVeskHttpShareLink link;
  const int result = Sync("create share link", [&](int* flag) {
    return files->CreateShareLink(CVeskHttpShareLinkInfo(path.c_str(), L"", L"0", 0), flag, &link);
  });
  std::vector<CVeskHttpShareLink> links;
  Sync("share links", [&](int* flag) { return files->GetShareLinkList(100, flag, &links); });
  if (result != 0) return;
  if (Chance(0.5)) {
    FileAsync("delete share link", files, [&](FileNotes* n) {
      return files->DeleteShareLinkAsync(link, n, &FileNotes::Record);
    });
  } else {
    Sync("delete share link", [&](int* flag) { return files->DeleteShareLink(link, flag); });
  }
}

void Worker::Video() {
  IVeskHttpFileStation* files = soak_.files;
  const std::wstring path = deviceFolder_ + L"/video.mp4";
  // A cancelled step can leave the file queued or not: both answers are fine then.
  Sync("queue video", [&](int* flag) { return files->AddVideoTranscode(path.c_str(), flag); },
       {VESK_HTTP_DEVICE_STATUS_2});
  Sync("unqueue video", [&](int* flag) { return files->DeleteVideoTranscode(path.c_str(), flag); },
       {VESK_HTTP_DEVICE_STATUS_4});
}

void Worker::Links() {
  std::wstring viewer, thumbnail;
  const std::wstring path = L"/Public/src/" + AnySource().name;
  Record("viewer link", soak_.files->GetViewerURL(path.c_str(), &viewer), false);
  Record("thumbnail link", soak_.files->GetThumbnailURL(path.c_str(), &thumbnail), false);
}

// Cancel on one thread and the release on another, overlapping: the release comes once the
// cancel has stopped the request (its completion notification comes while Cancel still waits
// for the worker), so the release has to wait for the cancel in progress.
void Worker::CancelOverlappingRelease() {
  IVeskHttpFileStation* files = soak_.slowFiles;
  current_ = "cancel overlapping release";
  const fs::path local = localDir_ / ("slow" + Serial());
  auto notes = std::make_shared<FileNotes>();
  IVeskHttpFileStationRequestBase* handle = files->DownloadFileAsync(
      L"/Public/slow.bin", local.wstring().c_str(), 0, notes.get(), &FileNotes::Record);
  if (!handle) {
    Check(false, "slow download: no handle");
    return;
  }
  notes->WaitForProgress();  // it runs, and would for half a minute
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> cancelled = done->get_future();
  soak_.elsewhere->Post([handle, done] {
    handle->Cancel();
    done->set_value();
  });
  notes->WaitForCompletion();
  int result;
  {
    std::lock_guard lock(notes->mutex);
    result = notes->result;
  }
  // A request that ended by itself: the release waits for the cancel to return.
  if (result != VESK_HTTP_CANCELLED) cancelled.wait();
  files->CloseRequest(&handle);
  Check(handle == nullptr, "slow download: the release left the handle");
  cancelled.wait();
  ++soak_.stats.overlaps;
  ++soak_.stats.cancelsPlanned;
  Record("cancel overlapping release", result, true);
  const std::uint64_t kept = FileSize(local);
  soak_.stats.bytesDown += static_cast<long long>(kept);
  ++soak_.stats.filesChecked;
  Check(Sha256(local) == Sha256(soak_.slowFile, 0, kept),
        "a cancelled slow download kept something else than the file's beginning");
  fs::remove(local);
  current_ = "idle";
}

void Worker::Run() {
  // Weights of the scenarios.
  const std::vector<std::pair<int, void (Worker::*)()>> scenarios = {
      {30, &Worker::Browse},     {12, &Worker::System},   {12, &Worker::TreeChanges},
      {10, &Worker::Upload},     {10, &Worker::Download}, {6, &Worker::ChunkedUpload},
      {8, &Worker::CopyAndMove}, {3, &Worker::Archive},   {5, &Worker::ShareLinks},
      {3, &Worker::Video},       {2, &Worker::Links},     {1, &Worker::CancelOverlappingRelease},
  };
  int total = 0;
  for (const auto& s : scenarios) total += s.first;
  while (soak_.MoreToDo()) {
    int pick = Uniform(0, total - 1);
    for (const auto& [weight, scenario] : scenarios) {
      if (pick < weight) {
        (this->*scenario)();
        break;
      }
      pick -= weight;
    }
  }
}

// ---- setting up, watching, reporting ----

const char* ResultName(int result) {
  switch (result) {
    case -1:
      return "none";
    case VESK_HTTP_SUCCESS:
      return "ok";
    case VESK_HTTP_CANCELLED:
      return "cancelled";
    case VESK_HTTP_SERVER_FAILED:
      return "50";
    case VESK_HTTP_SEND_FAILED:
      return "100";
    case VESK_HTTP_BAD_HTTP_STATUS:
      return "101";
    case VESK_HTTP_INVALID_REQUEST:
      return "200";
    case VESK_HTTP_DEVICE_STATUS_2:
      return "700";
    case VESK_HTTP_DEVICE_STATUS_4:
      return "702";
    default:
      return "other";
  }
}

bool SetUp(Soak& soak) {
  std::string error;
  if (!soak.fast.emulator->Start(&error) || !soak.slow.emulator->Start(&error)) {
    std::fprintf(stderr, "soak: the emulator did not start: %s\n", error.c_str());
    return false;
  }
  std::mt19937_64 rng(soak.options.seed);
  const fs::path sources = soak.fast.root / "Public" / "src";
  fs::create_directory(sources);
  const std::vector<std::uint64_t> sizes = {0, 1, 65535, 65536, 65537, 1 << 20};
  for (int i = 0; i < 16; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    const std::uint64_t size = i < static_cast<int>(sizes.size())
                                   ? sizes[static_cast<std::size_t>(i)]
                                   : std::uniform_int_distribution<std::uint64_t>(0, 2 << 20)(rng);
    WriteRandomFile(sources / name, size, rng);
    soak.sources.push_back({Wide(name), sources / name, size, Sha256(sources / name)});
  }
  soak.slowFile = soak.slow.root / "Public" / "slow.bin";
  WriteRandomFile(soak.slowFile, 8 << 20, rng);
  char pattern[] = "/tmp/vesk-soak-local-XXXXXX";
  soak.local = mkdtemp(pattern);

  const auto server = [](unsigned short port, unsigned short tlsPort, int secure) {
    CVeskHttpServer s(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", secure, L""));
    s.SetFileStationPortNum(port);
    s.SetSystemPortNum(port);
    s.SetFileStationSSLPortNum(tlsPort);
    s.SetSystemSSLPortNum(tlsPort);
    return s;
  };
  soak.server = server(soak.fast.emulator->Port(), soak.fast.emulator->TlsPort(), 0);
  soak.secureServer = server(soak.fast.emulator->Port(), soak.fast.emulator->TlsPort(), 1);
  soak.slowServer = server(soak.slow.emulator->Port(), 0, 0);
  if (soak.server.Login(VESK_HTTP_STATION_SYSTEM) != VESK_HTTP_SUCCESS ||
      soak.server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS ||
      soak.secureServer.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS ||
      soak.slowServer.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "soak: a login failed\n");
    return false;
  }
  soak.files = soak.server.OpenFileStation();
  soak.system = soak.server.OpenSystem();
  soak.secureFiles = soak.secureServer.OpenFileStation();
  soak.slowFiles = soak.slowServer.OpenFileStation();
  return true;
}

// Starts the library's process-wide threads before they are counted: bursts of asynchronous
// requests from several threads at once, and synchronous ones of every station.
void WarmUp(Soak& soak) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&soak] {
      std::vector<std::unique_ptr<FileNotes>> notes;
      std::vector<IVeskHttpFileStationRequestBase*> handles;
      for (int i = 0; i < 16; ++i) {
        notes.push_back(std::make_unique<FileNotes>());
        handles.push_back(
            soak.files->GetShareFolderListAsync(notes.back().get(), &FileNotes::Record));
      }
      for (std::size_t i = 0; i < handles.size(); ++i) {
        if (handles[i]) notes[i]->WaitForCompletion();
        soak.files->CloseRequest(&handles[i]);
      }
      std::vector<CVeskHttpFileEntry> roots;
      CVeskHttpSystemSettingInfo settings;
      soak.files->GetShareFolderList(nullptr, &roots);
      soak.secureFiles->GetShareFolderList(nullptr, &roots);
      soak.slowFiles->GetShareFolderList(nullptr, &roots);
      soak.system->GetSystemSetting(nullptr, &settings);
    });
  }
  for (auto& thread : threads) thread.join();
}

bool TearDown(Soak& soak) {
  bool ok = soak.server.CloseFileStation(&soak.files) == VESK_HTTP_SUCCESS;
  ok = soak.secureServer.CloseFileStation(&soak.secureFiles) == VESK_HTTP_SUCCESS && ok;
  ok = soak.slowServer.CloseFileStation(&soak.slowFiles) == VESK_HTTP_SUCCESS && ok;
  ok = soak.server.CloseSystem(&soak.system) == VESK_HTTP_SUCCESS && ok;
  if (!ok) std::fprintf(stderr, "soak: a station did not close\n");
  fs::remove_all(soak.local);
  return ok;
}

// Aborts the run when no operation has finished for the stall limit, naming what each worker
// was doing; notes the peak thread count meanwhile.
class Watchdog {
 public:
  Watchdog(Soak& soak, const std::vector<std::unique_ptr<Worker>>& workers)
      : soak_(soak), workers_(workers), thread_([this] { Loop(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  int PeakThreads() const { return peak_.load(); }

 private:
  void Loop() {
    const auto limit = std::chrono::duration<double>(soak_.options.stallSeconds);
    std::unique_lock lock(mutex_);
    while (!cv_.wait_for(lock, 1s, [&] { return stopping_; })) {
      peak_ = std::max(peak_.load(), CountThreads().all);
      const Clock::time_point last{Clock::duration(soak_.stats.lastFinish.load())};
      if (Clock::now() - last < limit) continue;
      std::fprintf(stderr, "soak: WATCHDOG: no operation finished for %.0f s; the workers:\n",
                   limit.count());
      for (std::size_t i = 0; i < workers_.size(); ++i)
        std::fprintf(stderr, "  thread %zu: %s\n", i, workers_[i]->Current());
      std::fflush(stderr);
      std::abort();
    }
  }

  Soak& soak_;
  const std::vector<std::unique_ptr<Worker>>& workers_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::atomic<int> peak_{0};
  std::thread thread_;
};

int Report(Soak& soak, double seconds, ThreadCount start, ThreadCount end, int peak,
           bool tornDown) {
  Stats& stats = soak.stats;
  std::printf("soak: %ld operations in %.1f s on %d threads (seed %llu)\n", stats.operations.load(),
              seconds, soak.options.threads, soak.options.seed);
  std::printf("  operations by kind and outcome:\n");
  for (const auto& [kind, results] : stats.outcomes) {
    long count = 0;
    std::string detail;
    for (const auto& [result, n] : results) {
      count += n;
      detail +=
          std::string(detail.empty() ? "" : ", ") + ResultName(result) + " " + std::to_string(n);
    }
    std::printf("    %-30s %6ld  (%s)\n", kind.c_str(), count, detail.c_str());
  }
  std::printf("  cancels at random moments: %ld (of them releases before the end: %ld)\n",
              stats.cancelsPlanned.load(), stats.releasedEarly.load());
  std::printf("  handles released on another thread: %ld\n", stats.releasedElsewhere.load());
  std::printf("  Cancel overlapping CloseRequest: %ld\n", stats.overlaps.load());
  std::printf("  bytes moved: %.1f MiB up, %.1f MiB down\n", stats.bytesUp.load() / 1048576.0,
              stats.bytesDown.load() / 1048576.0);
  std::printf("  files checked by SHA-256: %ld\n", stats.filesChecked.load());
  std::printf(
      "  threads of the program and the library: %d at the start, %d at the end; peak of all "
      "threads (the emulator's too): %d\n",
      start.ours, end.ours, peak);
  // A run the time limit stopped early did not do what it was asked to.
  const bool allDone = stats.operations.load() >= soak.options.operations;
  bool ok = tornDown && stats.failures.empty() && start.ours == end.ours && allDone;
  if (!allDone)
    std::printf("FAILED: the time limit (%.0f s) stopped the soak after %ld of %ld operations\n",
                soak.options.seconds, stats.operations.load(), soak.options.operations);
  if (start.ours != end.ours) std::printf("FAILED: threads were left over\n");
  for (const std::string& failure : stats.failures) std::printf("FAILED: %s\n", failure.c_str());
  std::printf("soak: %s\n", ok ? "passed" : "FAILED");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: vesk_soak [--operations N] [--seconds S] [--threads T] [--seed X] "
                 "[--stall S]\n");
    return 2;
  }
  if (options.seed == 0) options.seed = std::random_device()() | 1;
  std::printf("soak: seed %llu (run again with --seed %llu)\n", options.seed, options.seed);
  std::fflush(stdout);

  int status;
  {
    Soak soak;
    soak.options = options;
    if (!SetUp(soak)) return 1;
    // Counted once everything lasting runs: the emulators and the library's own threads.
    WarmUp(soak);
    const ThreadCount start = SettledThreadCount();
    const auto began = Clock::now();
    soak.deadline = began + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(options.seconds));
    int peak;
    {
      soak.timer = std::make_unique<Timer>();
      soak.elsewhere = std::make_unique<WorkQueue>(3);
      std::vector<std::unique_ptr<Worker>> workers;
      for (int i = 0; i < options.threads; ++i)
        workers.push_back(std::make_unique<Worker>(soak, i));
      Watchdog watchdog(soak, workers);
      std::vector<std::thread> threads;
      for (auto& worker : workers) threads.emplace_back([&worker] { worker->Run(); });
      for (auto& thread : threads) thread.join();
      soak.elsewhere.reset();
      soak.timer.reset();
      peak = watchdog.PeakThreads();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const ThreadCount end = SettledThreadCount(start.ours);
    const bool tornDown = TearDown(soak);
    status = Report(soak, seconds, start, end, peak, tornDown);
  }
  return status;
}
