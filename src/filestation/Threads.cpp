#include "filestation/Threads.h"

#include <system_error>

namespace vesk {

void ZEvent::Set() {
  // Notified under the lock: a waiter that wakes may destroy the event at once, so Set must
  // not touch it after the waiter can see the signal.
  std::lock_guard lock(mutex_);
  signalled_ = true;
  cv_.notify_one();
}

void ZEvent::Wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

bool ZEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

ZThread::~ZThread() { Join(); }

bool ZThread::Start() {
  if (running_.load()) return true;
  Join();  // a finished earlier run is reaped before the next starts
  running_ = true;
  try {
    thread_ = std::thread([this] {
      Run();
      running_ = false;
    });
  } catch (const std::system_error&) {
    running_ = false;
    return false;
  }
  return true;
}

void ZThread::Join() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    // The worker is releasing itself; it cannot wait for its own end.
    thread_.detach();
    return;
  }
  thread_.join();
}

}  // namespace vesk
