// Records the notifications of asynchronous requests, for tests to wait on and inspect, and the
// progress reports of synchronous ones.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "VeskHttp.h"

namespace vesk::test {

// Pass the log as the request's user data and Record as its callback.
template <typename Info>
class NotificationLog {
 public:
  static void Record(Info* info) {
    auto* self = static_cast<NotificationLog*>(info->userData);
    std::lock_guard lock(self->mutex_);
    self->notes_.push_back(*info);
    if (info->result != VESK_HTTP_IN_PROGRESS) ++self->completions_;
    self->cv_.notify_all();
  }

  bool WaitForNotes(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return notes_.size() >= count; });
  }
  bool WaitForCompletions(int count = 1, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return completions_ >= count; });
  }

  std::vector<Info> Notes() {
    std::lock_guard lock(mutex_);
    return notes_;
  }
  int Completions() {
    std::lock_guard lock(mutex_);
    return completions_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Info> notes_;
  int completions_ = 0;
};

using FileNotes = NotificationLog<_VESK_HTTP_NOTIFY_INFO_>;
using SystemNotes = NotificationLog<_VESK_HTTP_SYSTEM_NOTIFY_INFO_>;

// Records what a synchronous operation reports to its progress callback (percentages, or byte
// totals). Pass the log as the user data and Record as the callback.
class ProgressLog {
 public:
  static void Record(void* user, long long value) {
    auto* self = static_cast<ProgressLog*>(user);
    std::lock_guard lock(self->mutex_);
    self->values_.push_back(value);
    if (self->flag_)
      std::atomic_ref<int>(*self->flag_).store(self->flagValue_, std::memory_order_release);
  }

  // From now on every report also sets *flag (a cancel flag) to value, as a caller would from
  // its callback.
  void SetFlagOnReport(int* flag, int value) {
    std::lock_guard lock(mutex_);
    flag_ = flag;
    flagValue_ = value;
  }

  std::vector<long long> Values() {
    std::lock_guard lock(mutex_);
    return values_;
  }

 private:
  std::mutex mutex_;
  std::vector<long long> values_;
  int* flag_ = nullptr;
  int flagValue_ = 0;
};

}  // namespace vesk::test
