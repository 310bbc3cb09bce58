// Cancel flags: plain ints owned by callers and written from other threads. Every read and write
// goes through these, so that each is an atomic access.
#pragma once

#include <atomic>

namespace vesk {

inline int LoadFlag(const int* flag) {
  return std::atomic_ref<int>(*const_cast<int*>(flag)).load(std::memory_order_acquire);
}
inline void StoreFlag(int* flag, int value) {
  std::atomic_ref<int>(*flag).store(value, std::memory_order_release);
}

}  // namespace vesk
