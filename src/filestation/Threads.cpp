#include "filestation/Threads.h"

#include "platform/HttpTransport.h"

#include <algorithm>
#include <new>
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

namespace vesk {

WorkerPool& WorkerPool::Shared() {
  // Never destroyed: a request still running when the process exits must not hold the exit up
  // (and its worker must not outlive the pool it runs on). The transport is made first, so
  // that its set-up precedes every exchange a worker runs.
  platform::DefaultTransport();
  static WorkerPool* const pool =
      new WorkerPool(std::max<std::size_t>(4, std::thread::hardware_concurrency()),
                     std::chrono::milliseconds(50), std::chrono::seconds(10));
  return *pool;
}

WorkerPool::WorkerPool(std::size_t baseWorkers, std::chrono::milliseconds grace,
                       std::chrono::milliseconds idleEnd)
    : baseWorkers_(std::max<std::size_t>(1, baseWorkers)), grace_(grace), idleEnd_(idleEnd) {}

WorkerPool::~WorkerPool() {
  std::vector<std::thread> joining;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& [id, thread] : workers_) joining.push_back(std::move(thread));
    workers_.clear();
    JoinEndedLocked(joining);
    if (supervisorThread_.joinable()) joining.push_back(std::move(supervisorThread_));
  }
  work_.notify_all();
  supervisor_.notify_all();
  for (std::thread& t : joining) t.join();
}

bool WorkerPool::Submit(PoolJob& job) {
  std::vector<std::thread> ended;
  {
    std::lock_guard lock(mutex_);
    JoinEndedLocked(ended);
    try {
      queue_.push_back(&job);
    } catch (...) {
      return false;
    }
    const std::size_t waiting = queue_.size() - queueHead_;
    if (waiting > idle_ && workers_.size() < baseWorkers_ && !SpawnLocked() && workers_.empty()) {
      queue_.pop_back();
      return false;
    }
    if (waiting > idle_ && workers_.size() >= baseWorkers_ && !supervisorThread_.joinable()) {
      try {
        supervisorThread_ = std::thread([this] { Supervise(); });
      } catch (const std::system_error&) {
        // The workers there are still take the job, only later.
      }
    }
  }
  work_.notify_one();
  supervisor_.notify_one();
  for (std::thread& t : ended) t.join();
  return true;
}

bool WorkerPool::Withdraw(PoolJob& job) {
  std::lock_guard lock(mutex_);
  const auto begin = queue_.begin() + static_cast<std::ptrdiff_t>(queueHead_);
  const auto it = std::find(begin, queue_.end(), &job);
  if (it == queue_.end()) return false;
  queue_.erase(it);
  return true;
}

std::size_t WorkerPool::Workers() const {
  std::lock_guard lock(mutex_);
  return workers_.size();
}

bool WorkerPool::SpawnLocked() {
  try {
    std::thread thread([this] { WorkerLoop(); });
    const std::thread::id id = thread.get_id();
    workers_.emplace_back(id, std::move(thread));
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void WorkerPool::JoinEndedLocked(std::vector<std::thread>& out) {
  for (std::thread& t : ended_) out.push_back(std::move(t));
  ended_.clear();
}

void WorkerPool::WorkerLoop() {
  std::unique_lock lock(mutex_);
  while (true) {
    ++idle_;
    const bool woken =
        work_.wait_for(lock, idleEnd_, [this] { return stopping_ || queueHead_ < queue_.size(); });
    --idle_;
    if (queueHead_ < queue_.size()) {
      PoolJob* job = queue_[queueHead_++];
      if (queueHead_ == queue_.size()) {
        queue_.clear();
        queueHead_ = 0;
      }
      ++taken_;
      lock.unlock();
      job->RunJob();  // the job may be freed as soon as it has returned
      lock.lock();
      continue;
    }
    if (stopping_) return;  // the destructor joins this thread
    if (!woken) {
      // Idle for long: this worker ends, and the next Submit (or the destructor) joins it.
      const auto self = std::find_if(workers_.begin(), workers_.end(), [](const auto& w) {
        return w.first == std::this_thread::get_id();
      });
      if (self != workers_.end()) {
        ended_.push_back(std::move(self->second));
        workers_.erase(self);
      }
      return;
    }
  }
}

void WorkerPool::Supervise() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (queueHead_ >= queue_.size()) {
      supervisor_.wait(lock);
      continue;
    }
    // Jobs wait: when no worker takes one within the whole grace, every worker is held up, and
    // one more is added. (A wake-up before the grace is over, by a job queued meanwhile, is no
    // reason to add one.)
    const std::uint64_t taken = taken_;
    const bool moved =
        supervisor_.wait_for(lock, grace_, [&] { return stopping_ || taken_ != taken; });
    if (!moved && queueHead_ < queue_.size() && idle_ == 0) SpawnLocked();
  }
}

}  // namespace vesk
