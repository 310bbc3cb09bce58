#include "filestation/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vesk {
namespace {

using namespace std::chrono_literals;

// Runs until released, recording which thread ran it.
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
    release.Wait();
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
  a.Join();
  EXPECT_FALSE(a.IsRunning());
  EXPECT_EQ(a.runs.load(), 1);
  b.release.Set();
}

TEST(ZThread, DestroyingAFinishedWorkerReturnsAtOnce) {
  auto worker = std::make_unique<GateThread>();
  ASSERT_TRUE(worker->Start());
  worker->release.Set();
  worker->Join();
  worker.reset();  // nothing left to wait for
}

TEST(ZMutex, TheHolderMayLockAgain) {
  ZMutex mutex;
  std::lock_guard outer(mutex);
  std::lock_guard inner(mutex);
  SUCCEED();
}

}  // namespace
}  // namespace vesk
