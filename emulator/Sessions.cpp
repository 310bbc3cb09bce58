#include "emulator/Sessions.h"

#include <cstdint>
#include <iterator>

namespace vesk::emulator {

std::string SessionTable::Open(SessionKind kind, const std::string& parent) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessions_.size() >= kMaxSessions) return {};
  std::string sid;
  do {
    sid.clear();
    for (int word = 0; word < 4; ++word) {
      std::uint32_t bits = random_();
      for (int digit = 0; digit < 8; ++digit, bits >>= 4) sid.push_back(kHex[bits & 0xF]);
    }
  } while (sessions_.count(sid) != 0);
  sessions_.emplace(sid, Session{kind, parent});
  return sid;
}

std::optional<SessionKind> SessionTable::Find(const std::string& sid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = sessions_.find(sid);
  if (found == sessions_.end()) return std::nullopt;
  return found->second.kind;
}

bool SessionTable::Close(const std::string& sid) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessions_.erase(sid) == 0) return false;
  CloseChildrenLocked(sid);
  return true;
}

void SessionTable::CloseChildren(const std::string& parent) {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseChildrenLocked(parent);
}

void SessionTable::CloseChildrenLocked(const std::string& parent) {
  // Only system sessions have children, and those are file sessions without children of
  // their own: one level is all there is. An empty parent stands for "none" and has none.
  if (parent.empty()) return;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = it->second.parent == parent ? sessions_.erase(it) : std::next(it);
  }
}

void SessionTable::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

std::size_t SessionTable::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

}  // namespace vesk::emulator
