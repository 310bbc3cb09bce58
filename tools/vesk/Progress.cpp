#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vesk::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

// Characters on screen of UTF-8 text: its bytes that do not continue a character.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The text cut to at most `columns` characters, with "..." in front when cut.
std::string Fit(const std::string& text, std::size_t columns) {
  if (Width(text) <= columns) return text;
  if (columns <= 3) return std::string(columns, '.');
  std::size_t keep = columns - 3, start = text.size();
  while (keep > 0 && start > 0) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) --keep;
  }
  return "..." + text.substr(start);
}

std::string Duration(double seconds) {
  const long long s = std::llround(seconds);
  char text[48];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

std::string HumanBytes(long long bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 6) {
    value /= 1024;
    ++unit;
  }
  char text[48];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%lld B", bytes);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  }
  return text;
}

Progress::Progress(Kind kind, std::string label, long long total)
    : kind_(kind),
      label_(std::move(label)),
      total_(total),
      active_(isatty(STDERR_FILENO) == 1),
      started_(Clock::now()) {}

Progress::~Progress() { Finish(); }

void Progress::Report(void* self, long long amount) {
  auto* progress = static_cast<Progress*>(self);
  if (!progress || !progress->active_) return;
  std::lock_guard<std::mutex> lock(progress->mutex_);
  if (progress->finished_) return;
  const auto now = Clock::now();
  if (progress->first_ < 0) {
    progress->first_ = amount;
    progress->firstAt_ = now;
  }
  if (amount <= progress->amount_ && progress->drawn_) return;  // never backwards
  progress->amount_ = std::max(progress->amount_, amount);
  if (progress->drawn_ && now - progress->lastDraw_ < 100ms) return;
  progress->lastDraw_ = now;
  progress->Draw(false);
}

void Progress::Finish() {
  if (!active_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return;
  finished_ = true;
  if (drawn_) {
    Draw(true);
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

void Progress::Draw(bool final) {
  std::string numbers;
  int percent = 0;
  if (kind_ == Kind::Percent) {
    percent = static_cast<int>(std::clamp<long long>(amount_, 0, 100));
  } else {
    percent =
        total_ > 0 ? static_cast<int>(std::clamp<long long>(amount_ * 100 / total_, 0, 100)) : 100;
    numbers = "  " + HumanBytes(amount_) + " / " + HumanBytes(total_);
    const double seconds = std::chrono::duration<double>(Clock::now() - firstAt_).count();
    const long long moved = amount_ - std::max(0LL, first_);
    if (seconds > 0.2 && moved > 0) {
      const double rate = static_cast<double>(moved) / seconds;
      numbers += "  " + HumanBytes(static_cast<long long>(rate)) + "/s";
      if (!final && total_ > amount_) {
        numbers += "  " + Duration(static_cast<double>(total_ - amount_) / rate) + " left";
      }
    }
    if (final) {
      numbers += "  in " + Duration(std::chrono::duration<double>(Clock::now() - started_).count());
    }
  }
  char percentText[16];
  std::snprintf(percentText, sizeof percentText, " %3d%%", percent);
  const std::size_t columns = static_cast<std::size_t>(TerminalColumns()) - 1;
  const std::size_t fixed = Width(numbers) + 5 + 2;
  std::string label = label_;
  std::size_t barWidth = 0;
  if (columns > fixed + 20) {
    label = Fit(label_, std::min<std::size_t>(Width(label_), (columns - fixed) / 2));
    barWidth = columns - fixed - Width(label) - 3;
  } else {
    label = Fit(label_, columns > fixed ? columns - fixed : 0);
  }
  std::string line = label;
  if (barWidth >= 10) {
    const std::size_t filled = barWidth * static_cast<std::size_t>(percent) / 100;
    line += " [" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
  }
  line += percentText + numbers;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace vesk::cli
