// What the emulated device keeps about published files: its share links and its video
// transcoding queue. Both live as long as the emulator object (a restart through Stop and
// Start keeps them, as a device keeps them across reboots). Safe to use from any thread.
#ifndef VESK_EMULATOR_SHARE_LINKS_H
#define VESK_EMULATOR_SHARE_LINKS_H

#include <cstddef>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vesk::emulator {

// One share link: a URL that downloads one file to anyone who opens it.
struct ShareLink {
  std::string id;                     // 32 lower-case hexadecimal digits, the last part of the URL
  std::string devicePath;             // the file, as "/Share/folder/name"
  std::string url;                    // as handed out: scheme, host, port, "/shared/" and id
  std::string accessCode;             // empty: none asked for
  std::optional<std::time_t> expiry;  // none: never expires
  std::string expiryText;             // "0" or "YYYY-MM-DDThh:mm:ss", local time
  std::string creator;
  bool active = false;            // allocated by get_share_link, active once share_file confirms it
  unsigned long long serial = 0;  // allocation order
};

// Links by id. Allocated links that were never activated are dropped, oldest first, beyond
// kMaxPending; active links are capped at kMaxActive.
class ShareLinkTable {
 public:
  static constexpr std::size_t kMaxActive = 1024;
  static constexpr std::size_t kMaxPending = 256;

  // Adds a link that is not active yet. False when kMaxActive links are active.
  bool Allocate(ShareLink link);
  // The link id; nullopt when there is none.
  std::optional<ShareLink> Find(const std::string& id) const;
  // Makes link id active; false when there is no such link any more or kMaxActive are active.
  bool Activate(const std::string& id);
  bool Remove(const std::string& id);
  // The active links, in allocation order.
  std::vector<ShareLink> Active() const;

 private:
  mutable std::mutex mutex_;  // guards the members below
  std::map<std::string, ShareLink> links_;
  std::size_t active_ = 0;
  unsigned long long serial_ = 0;
};

// The files queued for transcoding, each once, by the real path of the file.
class TranscodeQueue {
 public:
  static constexpr std::size_t kMaxQueued = 4096;

  enum class Outcome { Done, Twin, Missing, Full };
  // Queues file: Done and its job id (1, 2, ...), Twin when it is queued already, Full at
  // kMaxQueued files.
  Outcome Add(const std::string& file, long long* pid);
  // Takes file off the queue: Done and the job id it had, Missing when it is not queued.
  Outcome Remove(const std::string& file, long long* pid);

 private:
  std::mutex mutex_;  // guards the members below
  std::map<std::string, long long> queued_;
  long long nextPid_ = 1;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_SHARE_LINKS_H
