#include "emulator/ShareLinks.h"

#include <algorithm>
#include <utility>

namespace vesk::emulator {

bool ShareLinkTable::Allocate(ShareLink link) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (active_ >= kMaxActive) return false;
  link.active = false;
  link.serial = ++serial_;
  const std::string id = link.id;
  if (!links_.emplace(id, std::move(link)).second) return false;
  // Links a client allocated and never confirmed go, oldest first.
  std::size_t pending = links_.size() - active_;
  while (pending > kMaxPending) {
    auto oldest = links_.end();
    for (auto it = links_.begin(); it != links_.end(); ++it) {
      if (!it->second.active &&
          (oldest == links_.end() || it->second.serial < oldest->second.serial))
        oldest = it;
    }
    links_.erase(oldest);
    --pending;
  }
  return true;
}

std::optional<ShareLink> ShareLinkTable::Find(const std::string& id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = links_.find(id);
  if (it == links_.end()) return std::nullopt;
  return it->second;
}

bool ShareLinkTable::Activate(const std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = links_.find(id);
  if (it == links_.end()) return false;
  if (it->second.active) return true;
  if (active_ >= kMaxActive) return false;
  it->second.active = true;
  ++active_;
  return true;
}

bool ShareLinkTable::Remove(const std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = links_.find(id);
  if (it == links_.end()) return false;
  if (it->second.active) --active_;
  links_.erase(it);
  return true;
}

std::vector<ShareLink> ShareLinkTable::Active() const {
  std::vector<ShareLink> links;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, link] : links_) {
      if (link.active) links.push_back(link);
    }
  }
  std::sort(links.begin(), links.end(),
            [](const ShareLink& a, const ShareLink& b) { return a.serial < b.serial; });
  return links;
}

TranscodeQueue::Outcome TranscodeQueue::Add(const std::string& file, long long* pid) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (queued_.count(file)) return Outcome::Twin;
  if (queued_.size() >= kMaxQueued) return Outcome::Full;
  *pid = nextPid_++;
  queued_.emplace(file, *pid);
  return Outcome::Done;
}

TranscodeQueue::Outcome TranscodeQueue::Remove(const std::string& file, long long* pid) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto it = queued_.find(file);
  if (it == queued_.end()) return Outcome::Missing;
  *pid = it->second;
  queued_.erase(it);
  return Outcome::Done;
}

}  // namespace vesk::emulator
