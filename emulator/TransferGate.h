// The faults the emulator plays on transfers and what its transfers share: the metering of
// each transfer's body, the end of throttle waits when the emulator stops, and the attempts on
// each chunked upload.
#ifndef VESK_EMULATOR_TRANSFER_GATE_H
#define VESK_EMULATOR_TRANSFER_GATE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "emulator/Emulator.h"

namespace vesk::emulator {

class TransferGate;

// One transfer's share of the faults the emulator plays (TransferFaults): it meters the body
// bytes of one upload or download. Used by one thread at a time.
class TransferMeter {
 public:
  // The size of the next piece of at most want body bytes the transfer may move: smaller
  // while throttled, so that the rate holds in short steps, and never past the byte at which
  // the transfer is to be cut. 0 when the transfer is cut here, or the emulator is stopping.
  std::size_t Next(std::size_t want);
  // Counts size body bytes moved and, while throttled, waits until they are due. False when
  // the emulator stops meanwhile.
  bool Moved(std::size_t size);
  // True when the next length bytes will be neither throttled nor cut.
  bool Unhindered(unsigned long long length) const;

 private:
  friend class TransferGate;
  TransferMeter(TransferGate& gate, const TransferFaults& faults, std::shared_ptr<int> drops);

  TransferGate* gate_;
  // Guarded by the gate's mutex:
  unsigned long long bytesPerSecond_;
  long long dropAfterBytes_;
  std::shared_ptr<int> drops_;  // cuts left for the faults this transfer started under
  bool cut_ = false;
  const std::chrono::steady_clock::time_point started_;
  unsigned long long moved_ = 0;
};

// What the transfers of one device share: the faults they play, the end of their throttle
// waits when the emulator stops, and the attempts on each chunked upload. Safe to use from
// any number of threads.
class TransferGate {
 public:
  // The attempts on one chunked upload. An attempt claims the upload by taking a new owner
  // number, and writes only while it is still the owner, with mutex held, so that an attempt
  // that is still running when the client has started another one (or deleted the upload)
  // cannot write into the data after it.
  struct UploadSlot {
    std::mutex mutex;
    unsigned long long owner = 0;  // guarded by mutex
  };

  explicit TransferGate(const TransferFaults& faults);

  // Transfers run from now on.
  void Open();
  // Ends every throttle wait at once; every transfer is cut at its next piece until Open.
  void Close();
  void SetFaults(const TransferFaults& faults);
  // The meter of a transfer that starts now, under the faults set last.
  TransferMeter Start();

  // The slot of the chunked upload whose data is the file dataPath (a real path).
  std::shared_ptr<UploadSlot> Slot(const std::string& dataPath);
  // Held while the unfinished uploads of a folder are counted and one is added to them.
  std::mutex& CreationMutex() { return creationMutex_; }

 private:
  friend class TransferMeter;

  std::mutex mutex_;  // guards the members below and the meters' state
  std::condition_variable closing_;
  bool open_ = false;
  TransferFaults faults_;
  std::shared_ptr<int> drops_;  // cuts left under faults_; -1: no end

  std::mutex slotsMutex_;  // guards slots_
  std::map<std::string, std::weak_ptr<UploadSlot>> slots_;
  std::mutex creationMutex_;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_TRANSFER_GATE_H
