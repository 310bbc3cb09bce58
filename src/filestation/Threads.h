// Threads, locks and events of the request machinery, on the C++ standard library.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vesk {

// Cancel flags are plain ints owned by callers and written from other threads; every read and
// write goes through these so that it is an atomic access.
inline int LoadFlag(const int* flag) {
  return std::atomic_ref<int>(*const_cast<int*>(flag)).load(std::memory_order_acquire);
}
inline void StoreFlag(int* flag, int value) {
  std::atomic_ref<int>(*flag).store(value, std::memory_order_release);
}

// A lock that the thread holding it may take again.
class ZMutex {
 public:
  ZMutex() = default;
  ZMutex(const ZMutex&) = delete;
  ZMutex& operator=(const ZMutex&) = delete;
  virtual ~ZMutex() = default;

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

  // BasicLockable, for std::lock_guard and std::unique_lock.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// An auto-reset event: Set wakes one waiter (or the next one to wait) and resets itself.
class ZEvent {
 public:
  ZEvent() = default;
  ZEvent(const ZEvent&) = delete;
  ZEvent& operator=(const ZEvent&) = delete;

  void Set();
  void Wait();
  // false when the time ran out before the event was set.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// A joinable worker thread that runs the virtual Run once per Start. A derived class must
// call Join in its own destructor, because Run belongs to it. Start, Join and destruction
// are not for two threads at once: the owner serialises them (a request does so under its
// worker lock). IsRunning may be asked from any thread.
class ZThread {
 public:
  ZThread() = default;
  ZThread(const ZThread&) = delete;
  ZThread& operator=(const ZThread&) = delete;
  virtual ~ZThread();

  // Starts the thread unless it is running; false when the platform refuses a new thread.
  bool Start();
  // Waits until Run has returned. Called from the worker itself, it does not wait.
  void Join();
  bool IsRunning() const { return running_.load(); }

 protected:
  virtual void Run() = 0;

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace vesk
