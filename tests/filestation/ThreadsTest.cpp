#include "filestation/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs f, which may wait, on a thread of its own, and waits at most 60 s for it. A wait that
// never ends (a deadlock) fails the test and ends the program there, rather than holding the run
// until the test runner's time-out.
template <typename F>
void WithinAMinute(F&& f) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread runner([&] {
    f();
    done.set_value();
  });
  if (finished.wait_for(60s) != std::future_status::ready) {
    ADD_FAILURE() << "still waiting after 60 s: a deadlock";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  runner.join();
}

// Runs until released (or for 30 s at most), recording which thread ran it.
class GateThread final : public ZThread {
 public:
  ~GateThread() override { Join(); }
  ZEvent started, release;
  std::thread::id ranOn;
  std::atomic<int> runs{0};

 protected:
  void Run() override {
    ranOn = std::this_thread::get_id();
    ++runs;
    started.Set();
    release.WaitFor(30s);
  }
};

TEST(ZEvent, AutoResetsAfterOneWake) {
  ZEvent event;
  EXPECT_FALSE(event.WaitFor(10ms));
  event.Set();
  event.Set();  // a second Set before the wait does not queue a second wake
  EXPECT_TRUE(event.WaitFor(0ms));
  EXPECT_FALSE(event.WaitFor(10ms));
}

TEST(ZThread, JoinWaitsForRunAndTwoWorkersRunAtOnce) {
  GateThread a, b;
  ASSERT_TRUE(a.Start());
  ASSERT_TRUE(b.Start());
  // Both are inside Run at the same time: each waits for its own release.
  ASSERT_TRUE(a.started.WaitFor(10s));
  ASSERT_TRUE(b.started.WaitFor(10s));
  EXPECT_TRUE(a.IsRunning());
  EXPECT_NE(a.ranOn, b.ranOn);
  EXPECT_TRUE(a.Start());  // already running: not started twice
  a.release.Set();
  WithinAMinute([&] { a.Join(); });
  EXPECT_FALSE(a.IsRunning());
  EXPECT_EQ(a.runs.load(), 1);
  b.release.Set();
}

TEST(ZThread, DestroyingAFinishedWorkerReturnsAtOnce) {
  auto worker = std::make_unique<GateThread>();
  ASSERT_TRUE(worker->Start());
  worker->release.Set();
  WithinAMinute([&] { worker->Join(); });
  EXPECT_FALSE(worker->IsRunning());
  const auto start = Clock::now();
  WithinAMinute([&] { worker.reset(); });  // nothing left to wait for
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(ZMutex, TheHolderMayLockAgain) {
  ZMutex mutex;
  int held = 0;
  WithinAMinute([&] {
    std::lock_guard outer(mutex);
    std::lock_guard inner(mutex);
    ++held;
  });
  EXPECT_EQ(held, 1);
}

// ---- the worker pool ----

// A job that counts its runs and can be made to wait for a gate.
struct CountingJob final : PoolJob {
  std::atomic<int> runs{0};
  ZEvent* gate = nullptr;  // waited for once, when set
  ZEvent ran;
  void RunJob() override {
    if (gate) gate->Wait();
    ++runs;
    ran.Set();
  }
};

TEST(WorkerPool, ABurstOfJobsRunsOnceEachOnTheBaseWorkers) {
  std::vector<CountingJob> jobs(200);
  auto pool = std::make_unique<WorkerPool>(3, 10s, 10s);
  for (CountingJob& job : jobs) ASSERT_TRUE(pool->Submit(job));
  for (CountingJob& job : jobs) ASSERT_TRUE(job.ran.WaitFor(30s));
  EXPECT_LE(pool->Workers(), 3u);
  WithinAMinute([&] { pool.reset(); });  // joins every worker
  for (const CountingJob& job : jobs) EXPECT_EQ(job.runs.load(), 1);
}

// A job that waits for a job queued behind it: the pool adds a worker rather than wait for
// ever. A job taken back before it started never runs.
TEST(WorkerPool, GrowsWhenEveryWorkerIsHeldUpAndLetsQueuedJobsBeWithdrawn) {
  ZEvent gate;
  CountingJob blocked, behind, withdrawn;
  blocked.gate = &gate;
  auto patient = std::make_unique<WorkerPool>(1, 10min, 10s);  // never grows within the test
  ASSERT_TRUE(patient->Submit(blocked));
  ASSERT_TRUE(patient->Submit(withdrawn));
  EXPECT_TRUE(patient->Withdraw(withdrawn));
  EXPECT_FALSE(patient->Withdraw(withdrawn));
  gate.Set();
  EXPECT_TRUE(blocked.ran.WaitFor(30s));
  WithinAMinute([&] { patient.reset(); });
  EXPECT_EQ(withdrawn.runs.load(), 0);

  auto growing = std::make_unique<WorkerPool>(1, 20ms, 10s);
  CountingJob held;
  ZEvent release;
  held.gate = &release;
  ASSERT_TRUE(growing->Submit(held));
  ASSERT_TRUE(growing->Submit(behind));
  EXPECT_TRUE(behind.ran.WaitFor(30s));  // on a worker added for it
  EXPECT_GE(growing->Workers(), 2u);
  release.Set();
  EXPECT_TRUE(held.ran.WaitFor(30s));
  WithinAMinute([&] { growing.reset(); });
}

}  // namespace
}  // namespace vesk
