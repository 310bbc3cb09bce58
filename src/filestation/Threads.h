// Threads, locks and events of the request machinery, on the C++ standard library.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The cancel flags' helpers live with the HTTP layer, their lowest user; sources that took them
// from here still find them.
#include "http/CancelFlag.h"

namespace vesk {

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

// A job for the worker pool.
class PoolJob {
 public:
  virtual void RunJob() = 0;

 protected:
  ~PoolJob() = default;
};

// A few threads that run the asynchronous requests of the whole process, so that a request
// costs no thread of its own. A job waits in a queue for a free worker; a worker that finds
// the queue empty for a while ends. The pool keeps as many workers as the machine has cores
// (at least four), and adds one more whenever queued jobs find every worker busy for longer
// than a short grace: so jobs that block for long (a transfer, a device job, a notification
// callback that waits for another request) never hold the others up for good, while a burst of
// short requests runs on the few.
class WorkerPool {
 public:
  // The process's pool, which lives as long as the process.
  static WorkerPool& Shared();

  WorkerPool(std::size_t baseWorkers, std::chrono::milliseconds grace,
             std::chrono::milliseconds idleEnd);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  // Runs what is queued to its end, then joins every worker.
  ~WorkerPool();

  // Queues a job. false when no worker can be had for it (the platform refuses threads).
  bool Submit(PoolJob& job);
  // Takes a job off the queue before a worker has taken it: true when it was there (it will
  // not run), false when a worker has it already or it was never queued.
  bool Withdraw(PoolJob& job);
  // Workers that exist now, busy or idle.
  std::size_t Workers() const;

 private:
  void WorkerLoop();
  void Supervise();
  bool SpawnLocked();                                   // adds a worker; mutex_ held
  void JoinEndedLocked(std::vector<std::thread>& out);  // hands ended workers out to join

  const std::size_t baseWorkers_;
  const std::chrono::milliseconds grace_;
  const std::chrono::milliseconds idleEnd_;
  mutable std::mutex mutex_;
  std::condition_variable work_;        // a job was queued, or the pool stops
  std::condition_variable supervisor_;  // jobs wait, or the pool stops
  std::vector<PoolJob*> queue_;         // oldest first
  std::size_t queueHead_ = 0;
  std::vector<std::pair<std::thread::id, std::thread>> workers_;
  std::vector<std::thread> ended_;  // workers that ended and are still to be joined
  std::size_t idle_ = 0;
  std::uint64_t taken_ = 0;  // jobs taken by workers so far
  bool stopping_ = false;
  std::thread supervisorThread_;
};

}  // namespace vesk
