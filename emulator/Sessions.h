// The emulated device's session table, shared by its file service and its system service.
#ifndef VESK_EMULATOR_SESSIONS_H
#define VESK_EMULATOR_SESSIONS_H

#include <cstddef>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>

namespace vesk::emulator {

enum class SessionKind {
  File,    // a file-service login, or a file-service sid fetched through a system session
  System,  // an administrator login to the system service
};

// Live sessions by sid. Safe to use from any number of threads.
class SessionTable {
 public:
  // Logins past this many live sessions are refused, so that a client that never logs out
  // cannot make the device grow without bound.
  static constexpr std::size_t kMaxSessions = 4096;

  // Opens a session and returns its fresh sid: 32 lower-case hexadecimal digits (128 bits
  // from the system's random source). parent names the system session a file session is
  // fetched through; it ends with its parent. Returns an empty string when the table is full.
  std::string Open(SessionKind kind, const std::string& parent = {});
  // The kind of the live session sid; nullopt for an unknown or ended sid.
  std::optional<SessionKind> Find(const std::string& sid) const;
  // Ends sid and the sessions fetched through it. False when sid was not live.
  bool Close(const std::string& sid);
  // Ends the sessions fetched through parent, leaving parent itself live.
  void CloseChildren(const std::string& parent);
  void Clear();
  std::size_t Count() const;

 private:
  struct Session {
    SessionKind kind;
    std::string parent;  // empty: none
  };

  void CloseChildrenLocked(const std::string& parent);

  mutable std::mutex mutex_;  // guards the members below
  std::unordered_map<std::string, Session> sessions_;
  std::random_device random_;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_SESSIONS_H
