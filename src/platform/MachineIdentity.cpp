#include "platform/MachineIdentity.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <tuple>

namespace vesk::platform {

std::string AccountIdentifier() {
  const uid_t uid = getuid();
  const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
  constexpr std::size_t kMaxBuffer = 1 << 20;
  passwd entry{};
  passwd* found = nullptr;
  for (;;) {
    const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kMaxBuffer) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error == EINTR) continue;
    if (error != 0) return {};
    break;
  }
  std::string account = "uid:" + std::to_string(uid) + ":";
  if (found != nullptr && found->pw_name != nullptr) account += found->pw_name;
  return account;
}

std::vector<unsigned char> FirstHardwareAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);

  struct Candidate {
    bool virtualInterface;
    int index;
    std::vector<unsigned char> address;
  };
  std::vector<Candidate> candidates;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_PACKET) continue;
    if ((it->ifa_flags & IFF_LOOPBACK) != 0 || it->ifa_name == nullptr) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
    const std::size_t length = link->sll_halen;
    if (length == 0 || length > sizeof link->sll_addr) continue;
    const unsigned char* bytes = link->sll_addr;
    if (std::all_of(bytes, bytes + length, [](unsigned char b) { return b == 0; })) continue;
    // A network interface backed by hardware has a "device" link in sysfs.
    struct stat info {};
    const std::string device = std::string("/sys/class/net/") + it->ifa_name + "/device";
    candidates.push_back(
        {stat(device.c_str(), &info) != 0, link->sll_ifindex, {bytes, bytes + length}});
  }
  if (candidates.empty()) return {};
  const auto first = std::min_element(
      candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.virtualInterface, a.index) < std::tie(b.virtualInterface, b.index);
      });
  return first->address;
}

}  // namespace vesk::platform
