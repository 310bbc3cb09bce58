// What every HTTP transport shares: the request target as it goes on the wire, and running an
// exchange to its end through Start.
#include <condition_variable>
#include <mutex>

#include "platform/HttpTransport.h"

namespace vesk::platform {

std::string WireTarget(const std::string& target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (target.empty() || target[0] != '/') out.push_back('/');
  for (const char ch : target) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '#') {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

bool HttpTransport::Run(const TransportRequest& request, ExchangeHandler& handler) {
  // Hands every call on to the handler and wakes the caller after the last.
  class Waiter final : public ExchangeHandler {
   public:
    explicit Waiter(ExchangeHandler& handler) : handler_(handler) {}
    long long ReadBody(char* buffer, std::size_t max) override {
      return handler_.ReadBody(buffer, max);
    }
    bool RewindBody() override { return handler_.RewindBody(); }
    void OnHeaders(int status, const std::string& rawHeaders) override {
      handler_.OnHeaders(status, rawHeaders);
    }
    bool OnBodyData(const char* data, std::size_t size) override {
      return handler_.OnBodyData(data, size);
    }
    bool ShouldStop() override { return handler_.ShouldStop(); }
    void OnComplete(ExchangeEnd end) override {
      handler_.OnComplete(end);
      // Notified under the lock: the waiter may go as soon as it sees the end.
      std::lock_guard lock(mutex_);
      done_ = true;
      ended_.notify_one();
    }
    void Wait() {
      std::unique_lock lock(mutex_);
      ended_.wait(lock, [this] { return done_; });
    }

   private:
    ExchangeHandler& handler_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
  } waiter(handler);
  std::unique_ptr<Exchange> exchange = Start(request, waiter);
  if (!exchange) return false;
  waiter.Wait();
  return true;
}

}  // namespace vesk::platform
