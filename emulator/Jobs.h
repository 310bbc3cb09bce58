// The device's background jobs: copies, moves, compressions and extractions, each run by a
// worker thread of its own and known by its job id ("pid") until the emulator stops.
#ifndef VESK_EMULATOR_JOBS_H
#define VESK_EMULATOR_JOBS_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "emulator/FileTree.h"

namespace vesk::emulator {

enum class JobKind { Copy, Move, Compress, Extract };

// A job as the status queries report it.
struct JobSnapshot {
  bool running = true;
  std::string filename;    // the item being worked on
  int percent = 0;         // 100 once done; below 100 while running or after a failure
  long long error = 0;     // the refusal status of a failed job, 0 otherwise
  bool cancelled = false;  // stopped by Cancel before it ended on its own
};

// Safe to use from any number of threads.
class JobTable {
 public:
  // Jobs started past this many running ones are refused, so that a client cannot make the
  // device start threads without bound; ended jobs past this many are forgotten, oldest first.
  static constexpr std::size_t kMaxRunning = 16;
  static constexpr std::size_t kMaxKept = 256;

  // The work of a job: throws Refusal when it fails, WorkStopped when progress says to stop.
  using Work = std::function<void(Progress&)>;

  // bytesPerSecond throttles every job's progress (units of Progress) to that rate; 0 leaves
  // jobs unthrottled.
  explicit JobTable(unsigned long long bytesPerSecond);
  ~JobTable();  // Close()
  JobTable(const JobTable&) = delete;
  JobTable& operator=(const JobTable&) = delete;

  // Takes jobs from now on.
  void Open();
  // Ends the throttle waits of every running job, which then stop at their next piece, joins
  // every worker and forgets every job. Jobs are refused until Open.
  void Close();

  bool Throttled() const { return bytesPerSecond_ != 0; }
  // Starts work as a job whose first item is named name: its pid (1, 2, ...), or 0 when the
  // table is closed or kMaxRunning jobs are running.
  long long Start(JobKind kind, std::string name, Work work);
  // The job pid of that kind; nullopt when there is none.
  std::optional<JobSnapshot> Find(JobKind kind, long long pid) const;
  // Tells the running job pid of that kind to stop: its throttle wait ends at once and its
  // next Progress::Done says to stop. A job that has ended stays as it ended. False when there
  // is no such job.
  bool Cancel(JobKind kind, long long pid);
  // Waits until job pid has ended or its percent is above percent, or until timeout: true
  // unless the time ran out or there is no such job.
  bool WaitFor(long long pid, int percent, std::chrono::milliseconds timeout) const;

 private:
  struct Job;
  using Clock = std::chrono::steady_clock;

  void Run(Job& job, const Work& work);
  // Called with mutex_ held.
  static JobSnapshot SnapshotLocked(const Job& job);

  const unsigned long long bytesPerSecond_;

  mutable std::mutex mutex_;  // guards the members below and every Job's state
  // Signalled on every change of a job and when the table closes.
  mutable std::condition_variable changed_;
  // Signalled when the table closes or a job is cancelled: ends the throttle waits.
  std::condition_variable closing_;
  bool open_ = false;
  long long lastPid_ = 0;
  std::map<long long, std::unique_ptr<Job>> jobs_;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_JOBS_H
