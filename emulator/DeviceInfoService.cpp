// The file service's functions about the device itself: its addresses, and its video
// transcoding queue. Each is utilRequest.cgi?func=NAME&sid=S&... (GET); like the tree functions
// they take any live sid, resolve every path inside --root (FileTree.h), and decode every
// query value once.
//
//   get_domain_ip_list: {"status":1,"farlinknas_hn":C,"external_ip":E,"local_ip":L,
//       "host_ip":H}, the addresses of EmulatorOptions::addresses (--cloud-name,
//       --external-ip, --local-ip, --host-ip), each read from the machine when not set.
//   video_ml_queue op=3, subop=0, path, total=1, filename: queues the file for transcoding:
//       {"status":1,"success":"true","pid":P}, P the job's id. The emulator keeps the queue;
//       nothing is transcoded, and a file stays queued until delete_transcode takes it off.
//   delete_transcode op=5, path, file_total=1, mode=2, file_name: takes the file off the
//       queue: {"status":1,"success":"true","pid":P}, P the id its job had.
// Refusals, {"status":S}: 3 no live session; 2 (video_ml_queue) the file is queued already;
// 4 no such file: missing, a folder, not permitted, a path the device does not take or one
// leading out of the root, and for delete_transcode a file that is not queued. A queue
// holding TranscodeQueue::kMaxQueued files answers 503; a malformed query 400.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "emulator/FileTree.h"
#include "emulator/Replies.h"
#include "emulator/Router.h"
#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPath = "/cgi-bin/filemanager/utilRequest.cgi";
constexpr const char* kLoopback = "127.0.0.1";

// --- Addresses --------------------------------------------------------------------------------

std::string Dotted(std::uint32_t address) {  // host byte order
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 255) + '.' +
         std::to_string((address >> 8) & 255) + '.' + std::to_string(address & 255);
}

// Addresses a host keeps to its own networks: private, shared (carrier-grade NAT), link-local.
bool IsPrivate(std::uint32_t address) {
  return (address >> 24) == 10 || (address >> 20) == ((172u << 4) | 1) ||
         (address >> 16) == ((192u << 8) | 168) || (address >> 22) == ((100u << 2) | 1) ||
         (address >> 16) == ((169u << 8) | 254);
}

// The machine's IPv4 addresses of interfaces that are up, loopback left out: the first
// private one and the first public one, each empty when there is none.
void MachineAddresses(std::string* privateAddress, std::string* publicAddress) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return;
  for (const ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !(it->ifa_flags & IFF_UP) ||
        (it->ifa_flags & IFF_LOOPBACK)) {
      continue;
    }
    const std::uint32_t address =
        ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
    if ((address >> 24) == 127) continue;
    std::string* slot = IsPrivate(address) ? privateAddress : publicAddress;
    if (slot->empty()) *slot = Dotted(address);
  }
  freeifaddrs(list);
}

httpd::Response DomainIpList(const Call& call) {
  const DeviceAddresses& set = call.device.options.addresses;
  std::string privateAddress, publicAddress;
  if (!set.localIp || !set.externalIp || !set.hostIp) {
    MachineAddresses(&privateAddress, &publicAddress);
  }
  const std::string local = set.localIp               ? *set.localIp
                            : !privateAddress.empty() ? privateAddress
                            : !publicAddress.empty()  ? publicAddress
                                                      : kLoopback;
  const std::string external = set.externalIp           ? *set.externalIp
                               : !publicAddress.empty() ? publicAddress
                                                        : local;
  const std::string& bind = call.device.options.bindAddress;
  const std::string host = set.hostIp ? *set.hostIp : bind == "0.0.0.0" ? local : bind;
  std::string cloud = set.cloudName.value_or("");
  if (!set.cloudName) {
    utsname names{};
    cloud = uname(&names) == 0 ? names.nodename : "localhost";
  }
  return JsonReply(JsonObject()
                       .Add("status", kDone)
                       .Add("farlinknas_hn", cloud)
                       .Add("external_ip", external)
                       .Add("local_ip", local)
                       .Add("host_ip", host));
}

// --- Transcoding ------------------------------------------------------------------------------

// The real path of the file a query names; Refusal(kMissing) for anything that is not one.
std::string QueuedFile(const Call& call, const char* folderKey, const char* nameKey) {
  const std::string& folder = call.query.Require(folderKey);
  const std::string& name = call.query.Require(nameKey);
  try {
    const FileTree tree(call.device.options.root);
    const TreeItem item = tree.Item(tree.Folder(folder, Top::Refuse), name);
    if (!S_ISREG(item.info.st_mode)) throw Refusal(kMissing);
    return item.target.string();
  } catch (const Refusal&) {
    throw Refusal(kMissing);
  } catch (const fs::filesystem_error&) {
    throw Refusal(kMissing);
  }
}

httpd::Response JobReply(TranscodeQueue::Outcome outcome, long long pid) {
  switch (outcome) {
    case TranscodeQueue::Outcome::Done:
      return JsonReply(JsonObject().Add("status", kDone).Add("success", "true").Add("pid", pid));
    case TranscodeQueue::Outcome::Twin:
      return JsonReply(JsonObject().Add("status", kExists));
    case TranscodeQueue::Outcome::Missing:
      return JsonReply(JsonObject().Add("status", kMissing));
    case TranscodeQueue::Outcome::Full:
      break;
  }
  throw HttpError(503, "the transcoding queue is full");
}

httpd::Response VideoQueue(const Call& call) {
  Expect(call.query, "op", "3");
  Expect(call.query, "subop", "0");
  Expect(call.query, "total", "1");
  const std::string file = QueuedFile(call, "path", "filename");
  long long pid = 0;
  const TranscodeQueue::Outcome outcome = call.device.transcodes.Add(file, &pid);
  return JobReply(outcome, pid);
}

httpd::Response DeleteTranscode(const Call& call) {
  Expect(call.query, "op", "5");
  Expect(call.query, "file_total", "1");
  Expect(call.query, "mode", "2");
  const std::string file = QueuedFile(call, "path", "file_name");
  long long pid = 0;
  const TranscodeQueue::Outcome outcome = call.device.transcodes.Remove(file, &pid);
  return JobReply(outcome, pid);
}

// The route of one function: the sid is checked first, and refusals are {"status":S}.
Route InfoRoute(const char* func, httpd::Response (*endpoint)(const Call&)) {
  return {kPath, "func", func, "GET", [endpoint](const Call& call) {
            if (!call.device.sessions.Find(call.query.Require("sid"))) {
              return JsonReply(JsonObject().Add("status", kNoSession));
            }
            try {
              return endpoint(call);
            } catch (const Refusal& refusal) {
              return JsonReply(JsonObject().Add("status", refusal.Status()));
            }
          }};
}

}  // namespace

std::vector<Route> DeviceInfoRoutes() {
  return {
      InfoRoute("get_domain_ip_list", &DomainIpList),
      InfoRoute("video_ml_queue", &VideoQueue),
      InfoRoute("delete_transcode", &DeleteTranscode),
  };
}

}  // namespace vesk::emulator
