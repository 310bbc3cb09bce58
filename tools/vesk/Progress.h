// The progress line of long operations: on a terminal (standard error) one line redrawn in
// place, with bytes, rate and time left for transfers and the percentage for device jobs;
// nothing at all when standard error is not a terminal.
#ifndef VESK_TOOLS_PROGRESS_H
#define VESK_TOOLS_PROGRESS_H

#include <chrono>
#include <mutex>
#include <string>

namespace vesk::cli {

class Progress {
 public:
  enum class Kind { Bytes, Percent };

  // label names what is going on; total is the byte count a transfer ends at.
  Progress(Kind kind, std::string label, long long total = 0);
  ~Progress();  // Finish()
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // The library's progress callback (VESK_HTTP_PROGRESS_CALLBACK) with a Progress as its user
  // data: bytes so far, or the percentage. May be called from any thread.
  static void Report(void* self, long long amount);

  // Leaves the line: the last state stays on screen and the cursor moves to the next line.
  void Finish();

 private:
  void Draw(bool final);  // with mutex_ held

  const Kind kind_;
  const std::string label_;
  const long long total_;
  const bool active_;
  std::mutex mutex_;
  long long amount_ = 0;
  long long first_ = -1;  // the first amount reported: where a resumed transfer started
  bool drawn_ = false, finished_ = false;
  std::chrono::steady_clock::time_point started_, firstAt_, lastDraw_;
};

// "1.5 MiB" style sizes (binary units).
std::string HumanBytes(long long bytes);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_PROGRESS_H
