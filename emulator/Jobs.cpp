#include "emulator/Jobs.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

namespace vesk::emulator {

namespace {

// The largest piece of a file copied at once.
constexpr std::size_t kMaxPiece = 64 * 1024;
// A throttled job copies in pieces of a sixteenth of its rate, so that its progress moves about
// sixteen times a second.
constexpr unsigned long long kPiecesPerSecond = 16;

}  // namespace

// A job's state, guarded by its table's mutex, and the Progress its work reports to.
struct JobTable::Job final : Progress {
  Job(JobTable& jobTable, JobKind jobKind, std::string name)
      : table(jobTable), kind(jobKind), filename(std::move(name)) {}

  void Plan(std::uint64_t units) override {
    std::lock_guard<std::mutex> lock(table.mutex_);
    planned += units;
    table.changed_.notify_all();
  }

  void Working(const std::string& name) override {
    std::lock_guard<std::mutex> lock(table.mutex_);
    filename = name;
    table.changed_.notify_all();
  }

  bool Done(std::uint64_t units) override {
    std::unique_lock<std::mutex> lock(table.mutex_);
    done += units;
    table.changed_.notify_all();
    if (Stopping() || table.bytesPerSecond_ == 0) return !Stopping();
    // Not ahead of the rate: wait until the units done so far are due, or the job is to stop.
    const std::chrono::duration<double> due(static_cast<double>(done) /
                                            static_cast<double>(table.bytesPerSecond_));
    table.closing_.wait_until(lock, started + std::chrono::duration_cast<Clock::duration>(due),
                              [this] { return Stopping(); });
    return !Stopping();
  }

  // Called with table.mutex_ held.
  bool Stopping() const { return !table.open_ || cancelled; }

  std::size_t PieceSize() const override {
    const unsigned long long rate = table.bytesPerSecond_;
    if (rate == 0) return kMaxPiece;
    return static_cast<std::size_t>(
        std::clamp<unsigned long long>(rate / kPiecesPerSecond, 1, kMaxPiece));
  }

  JobTable& table;
  const JobKind kind;
  const Clock::time_point started = Clock::now();
  std::thread worker;
  // Guarded by table.mutex_:
  std::string filename;
  std::uint64_t planned = 0;
  std::uint64_t done = 0;
  bool running = true;
  bool cancelled = false;
  long long error = 0;
};

JobTable::JobTable(unsigned long long bytesPerSecond) : bytesPerSecond_(bytesPerSecond) {}

JobTable::~JobTable() { Close(); }

void JobTable::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
}

void JobTable::Close() {
  std::map<long long, std::unique_ptr<Job>> jobs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    jobs.swap(jobs_);
    closing_.notify_all();
    changed_.notify_all();
  }
  // The workers still use their jobs until they end; the jobs go after the joins.
  for (auto& [pid, job] : jobs) {
    if (job->worker.joinable()) job->worker.join();
  }
}

long long JobTable::Start(JobKind kind, std::string name, Work work) {
  std::vector<std::thread> ended;  // workers of forgotten jobs, joined outside the lock
  long long pid = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return 0;
    const auto running = std::count_if(jobs_.begin(), jobs_.end(),
                                       [](const auto& entry) { return entry.second->running; });
    if (static_cast<std::size_t>(running) >= kMaxRunning) return 0;
    for (auto it = jobs_.begin(); jobs_.size() >= kMaxKept && it != jobs_.end();) {
      if (it->second->running) {
        ++it;
      } else {
        ended.push_back(std::move(it->second->worker));
        it = jobs_.erase(it);
      }
    }
    auto job = std::make_unique<Job>(*this, kind, std::move(name));
    Job& started = *job;
    started.worker = std::thread([this, &started, work = std::move(work)] { Run(started, work); });
    pid = ++lastPid_;
    jobs_.emplace(pid, std::move(job));
  }
  for (std::thread& worker : ended) worker.join();
  return pid;
}

void JobTable::Run(Job& job, const Work& work) {
  long long error = 0;
  try {
    work(job);
  } catch (const Refusal& refusal) {
    error = refusal.Status();
  } catch (const std::exception&) {
    error = kMissing;  // stopped, or out of resources
  }
  // The last touch of the job: once it reads as ended, it may be forgotten.
  std::lock_guard<std::mutex> lock(mutex_);
  job.running = false;
  job.error = error;
  job.cancelled = job.cancelled && error != 0;  // a job that finished despite a late cancel
  changed_.notify_all();
}

JobSnapshot JobTable::SnapshotLocked(const Job& job) {
  JobSnapshot snapshot;
  snapshot.running = job.running;
  snapshot.filename = job.filename;
  snapshot.error = job.error;
  snapshot.cancelled = job.cancelled;
  if (!job.running && job.error == 0) {
    snapshot.percent = 100;
  } else if (job.planned > 0) {
    // Below 100 until the job has really ended.
    const long double share = static_cast<long double>(job.done) * 100 / job.planned;
    snapshot.percent = static_cast<int>(std::min<long double>(99, share));
  }
  return snapshot;
}

std::optional<JobSnapshot> JobTable::Find(JobKind kind, long long pid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = jobs_.find(pid);
  if (found == jobs_.end() || found->second->kind != kind) return std::nullopt;
  return SnapshotLocked(*found->second);
}

bool JobTable::Cancel(JobKind kind, long long pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = jobs_.find(pid);
  if (found == jobs_.end() || found->second->kind != kind) return false;
  Job& job = *found->second;
  if (job.running) {
    job.cancelled = true;
    closing_.notify_all();
    changed_.notify_all();
  }
  return true;
}

bool JobTable::WaitFor(long long pid, int percent, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  bool reached = false;
  changed_.wait_for(lock, timeout, [&] {
    const auto found = jobs_.find(pid);
    if (found == jobs_.end()) return true;
    const JobSnapshot snapshot = SnapshotLocked(*found->second);
    reached = !snapshot.running || snapshot.percent > percent;
    return reached;
  });
  return reached;
}

}  // namespace vesk::emulator
