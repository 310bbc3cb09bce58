// The live requests of a station, and the two ways a station runs one. The list's lock is
// held only while the list changes: requests run, and are destroyed, outside it, so no
// callback ever waits for it.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "VeskHttp.h"
#include "filestation/Request.h"
#include "filestation/Threads.h"

namespace vesk {

// Every public operation reports failure through its result: nothing is thrown past a
// station's operation.
template <typename F>
VESK_HTTP_RESULT Guarded(F&& f) noexcept {
  try {
    return static_cast<VESK_HTTP_RESULT>(f());
  } catch (...) {
    return VESK_HTTP_INVALID_REQUEST;
  }
}

// The same for operations that hand out a request: null when anything failed.
template <typename F>
auto GuardedAsync(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    return nullptr;
  }
}

template <typename Request>
class RequestList {
 public:
  RequestList() = default;
  RequestList(const RequestList&) = delete;
  RequestList& operator=(const RequestList&) = delete;
  // Requests the caller never released are cancelled and joined with the station.
  ~RequestList() {
    std::vector<std::unique_ptr<Request>> left;
    {
      std::lock_guard lock(mutex_);
      left.swap(requests_);
    }
    for (const auto& request : left) Release(*request);
  }

  Request* Add(std::unique_ptr<Request> request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
    return requests_.back().get();
  }

  // Takes a request off the list; nullptr when it is not on it.
  template <typename Handle>
  std::unique_ptr<Request> Take(const Handle* handle) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(requests_.begin(), requests_.end(), [&](const auto& request) {
      return static_cast<const Handle*>(request.get()) == handle;
    });
    if (it == requests_.end()) return nullptr;
    // A request cannot be released from its own notification, nor a running one from a
    // transfer's progress notification: that would wait for itself.
    if (!(*it)->MayReleaseHere()) return nullptr;
    std::unique_ptr<Request> taken = std::move(*it);
    requests_.erase(it);
    return taken;
  }

  // Runs a request on the caller's thread; readOutputs sees it only when it succeeded.
  template <typename ReadOutputs>
  int RunSync(RequestDescriptor descriptor, int* cancelFlag, ReadOutputs&& readOutputs) {
    Request* request = Add(std::make_unique<Request>(std::move(descriptor)));
    const int result = request->Start(cancelFlag);
    if (result == 0) readOutputs(*request);
    Take(request);  // destroyed here, outside the lock
    return result;
  }

  // The same, with readOutputs called whatever the result: for outputs that tell how far a
  // request got before it failed.
  template <typename ReadOutputs>
  int RunSyncReadingAlways(RequestDescriptor descriptor, int* cancelFlag,
                           ReadOutputs&& readOutputs) {
    Request* request = Add(std::make_unique<Request>(std::move(descriptor)));
    const int result = request->Start(cancelFlag);
    readOutputs(*request);
    Take(request);  // destroyed here, outside the lock
    return result;
  }

  // Starts a request on its own worker and hands it to the caller; nullptr when the worker
  // cannot start.
  Request* RunAsync(RequestDescriptor descriptor) {
    Request* request = Add(std::make_unique<Request>(std::move(descriptor)));
    try {
      // Published before it starts: its notification hands the handle out.
      RequestCore::Publish(request);
    } catch (...) {
      Take(request);
      throw;
    }
    if (request->Start(nullptr) != 0) {
      if (std::unique_ptr<Request> taken = Take(request)) Release(*taken);
      return nullptr;
    }
    return request;
  }

  // Releases a request the caller holds and nulls the caller's pointer; a request that is
  // not on this list is left alone.
  template <typename Handle>
  int Close(Handle** handle) {
    if (!handle || !*handle) return 1;
    if (std::unique_ptr<Request> request = Take(*handle)) {
      Release(*request);
      *handle = nullptr;
    }
    return 1;
  }

 private:
  // Waits for every Cancel inside a handed-out request on other threads (none enters after),
  // then for its worker, wherever the release is called from (but the worker itself, which
  // Take refuses); the request is freed after this.
  static void Release(Request& request) {
    RequestCore::Retire(&request);
    request.JoinForRelease();
  }

  ZMutex mutex_;
  std::vector<std::unique_ptr<Request>> requests_;
};

}  // namespace vesk
