#include "emulator/TransferGate.h"

#include <algorithm>

namespace vesk::emulator {

namespace {

using Clock = std::chrono::steady_clock;

// A throttled transfer moves its bytes in pieces of about a sixteenth of its rate.
constexpr unsigned long long kPiecesPerSecond = 16;
constexpr std::size_t kMaxThrottledPiece = 64 * 1024;

}  // namespace

TransferMeter::TransferMeter(TransferGate& gate, const TransferFaults& faults,
                             std::shared_ptr<int> drops)
    : gate_(&gate),
      bytesPerSecond_(faults.bytesPerSecond),
      dropAfterBytes_(faults.dropAfterBytes),
      drops_(std::move(drops)),
      started_(Clock::now()) {}

std::size_t TransferMeter::Next(std::size_t want) {
  const std::lock_guard<std::mutex> lock(gate_->mutex_);
  if (!gate_->open_ || cut_) return 0;
  if (dropAfterBytes_ >= 0 && moved_ >= static_cast<unsigned long long>(dropAfterBytes_)) {
    if (*drops_ != 0) {
      if (*drops_ > 0) --*drops_;
      cut_ = true;
      return 0;
    }
    dropAfterBytes_ = -1;  // the cuts ran out before this one
  }
  std::size_t piece = want;
  if (bytesPerSecond_ != 0) {
    piece = std::min<unsigned long long>(
        piece,
        std::clamp<unsigned long long>(bytesPerSecond_ / kPiecesPerSecond, 1, kMaxThrottledPiece));
  }
  if (dropAfterBytes_ >= 0) {
    piece = std::min<unsigned long long>(piece, dropAfterBytes_ - moved_);
  }
  return piece;
}

bool TransferMeter::Moved(std::size_t size) {
  std::unique_lock<std::mutex> lock(gate_->mutex_);
  moved_ += size;
  if (bytesPerSecond_ == 0 || !gate_->open_) return gate_->open_;
  const std::chrono::duration<double> due(static_cast<double>(moved_) /
                                          static_cast<double>(bytesPerSecond_));
  gate_->closing_.wait_until(lock, started_ + std::chrono::duration_cast<Clock::duration>(due),
                             [this] { return !gate_->open_; });
  return gate_->open_;
}

bool TransferMeter::Unhindered(unsigned long long length) const {
  const std::lock_guard<std::mutex> lock(gate_->mutex_);
  return bytesPerSecond_ == 0 &&
         (dropAfterBytes_ < 0 || static_cast<unsigned long long>(dropAfterBytes_) >= length ||
          *drops_ == 0);
}

TransferGate::TransferGate(const TransferFaults& faults) { SetFaults(faults); }

void TransferGate::Open() {
  const std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
}

void TransferGate::Close() {
  const std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  closing_.notify_all();
}

void TransferGate::SetFaults(const TransferFaults& faults) {
  const std::lock_guard<std::mutex> lock(mutex_);
  faults_ = faults;
  drops_ = std::make_shared<int>(faults.dropCount < 0 ? -1 : faults.dropCount);
}

TransferMeter TransferGate::Start() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return TransferMeter(*this, faults_, drops_);
}

std::shared_ptr<TransferGate::UploadSlot> TransferGate::Slot(const std::string& dataPath) {
  const std::lock_guard<std::mutex> lock(slotsMutex_);
  std::erase_if(slots_, [](const auto& entry) { return entry.second.expired(); });
  std::shared_ptr<UploadSlot> slot = slots_[dataPath].lock();
  if (!slot) {
    slot = std::make_shared<UploadSlot>();
    slots_[dataPath] = slot;
  }
  return slot;
}

}  // namespace vesk::emulator
