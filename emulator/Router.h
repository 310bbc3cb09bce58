// The emulated device's state and the table that routes each request to its endpoint.
#ifndef VESK_EMULATOR_ROUTER_H
#define VESK_EMULATOR_ROUTER_H

#include <atomic>
#include <climits>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "emulator/Emulator.h"
#include "emulator/Jobs.h"
#include "emulator/Sessions.h"
#include "emulator/ShareLinks.h"
#include "emulator/TransferGate.h"
#include "emulator/Wire.h"
#include "httpd/HttpServer.h"

namespace vesk::emulator {

// What the plain and the TLS listener of one emulator share.
struct DeviceState {
  explicit DeviceState(EmulatorOptions deviceOptions) : options(std::move(deviceOptions)) {}

  // True when user and the base64 form of the password (strictly decoded, see DecodeBase64)
  // match the device's account.
  bool AccountMatches(const std::string& user, const std::string& base64Password) const;
  // The device's time: the one SetClock fixed, else the clock option's, else the system's.
  std::time_t Now() const;

  const EmulatorOptions options;
  SessionTable sessions;
  JobTable jobs{options.jobBytesPerSecond};  // open while the emulator runs
  TransferGate transfers{options.faults};    // open while the emulator runs
  ShareLinkTable shareLinks;
  TranscodeQueue transcodes;
  std::atomic<bool> webFileManager{false};
  // The device's time when fixed by SetClock, else kClockNotFixed.
  static constexpr long long kClockNotFixed = LLONG_MIN;
  std::atomic<long long> fixedClock{kClockNotFixed};
  std::atomic<unsigned short> plainPort{0};  // bound ports, 0 while not listening
  std::atomic<unsigned short> tlsPort{0};
  // The TLS listener while it runs, for its connection count; it is destroyed only after the
  // plain listener, which serves the control routes, has stopped.
  std::atomic<const httpd::Server*> secureServer{nullptr};
};

// What an endpoint gets: the device, the request, and its query decoded strictly.
struct Call {
  DeviceState& device;
  const httpd::Request& request;
  const FieldSet& query;

  // The body as an application/x-www-form-urlencoded form. A request that declares another
  // Content-Type is answered with a 415 (thrown as HttpError).
  FieldSet Form() const;
};

using Endpoint = std::function<httpd::Response(const Call&)>;
// Makes the consumer of a streaming route's body once the request's head has arrived
// (call.request is the head: no body yet). It should not throw for a request it refuses:
// the consumer can drop the body and keep the reason for the endpoint.
using BodyFactory = std::function<std::unique_ptr<httpd::BodyConsumer>(const Call& head)>;

// One endpoint: a path, and for paths that serve several functions, the function's name as
// the value of a query key ("func", "subfunc").
struct Route {
  std::string path;         // decoded, e.g. "/cgi-bin/authLogin.cgi"
  std::string selectorKey;  // empty: the path alone selects the route
  std::string selector;
  std::string method;  // the one method the endpoint takes
  Endpoint endpoint;
  // Set for routes whose bodies stream (uploads): the body, of any length, goes to the
  // consumer this makes, which the endpoint finds as call.request.consumer.
  BodyFactory body;
  // Also serves the paths under path: path + "/" + anything (a file name a browser shows).
  bool subpaths = false;

  bool Serves(const std::string& requestPath) const {
    return requestPath == path ||
           (subpaths && requestPath.size() > path.size() && requestPath.starts_with(path) &&
            requestPath[path.size()] == '/');
  }
};

class FileTree;

// An endpoint that works on the device's file tree.
using TreeEndpoint = httpd::Response (*)(const Call&, const FileTree&);
// The reply to a refused request, carrying the refusal's status in the shape of the function
// refused.
using RefusalReply = std::function<httpd::Response(long long status)>;

// The route of utilRequest.cgi?func=func (taking one method) for an endpoint that works on
// the file tree of --root. The sid is checked first; then endpoint runs on the tree. A sid
// that names no live session (kNoSession), a Refusal the endpoint throws and a file-system
// call that fails (the status for its errno) are answered with refused(status).
Route FileTreeRoute(const char* func, const char* method, TreeEndpoint endpoint,
                    RefusalReply refused);

std::vector<Route> FileServiceRoutes();
std::vector<Route> FileTreeRoutes();
std::vector<Route> SystemServiceRoutes();
std::vector<Route> TransferRoutes();
std::vector<Route> ShareRoutes();
std::vector<Route> ArchiveRoutes();
std::vector<Route> DeviceInfoRoutes();
// The test control routes under kControlPath (see EmulatorOptions::testControl).
std::vector<Route> ControlRoutes();

// Answers requests by the route table. Before an endpoint runs:
//  - an unknown path, or a known path with an unknown or missing function: 404;
//  - a method other than the endpoint's: 405 with an Allow header (the device's CGI programs
//    are reached with one method each; a 405 tells a wrong client apart from a refusal);
//  - a body sent without Content-Length (chunked): 411; a body over kMaxBody bytes: 413,
//    except on streaming routes (Route::body), whose bodies are never held;
//  - a malformed query (bad escape, the selector given twice): 400.
// An endpoint's HttpError (BadRequest: 400) becomes that status with the message as the
// body; a device refusal is the endpoint's own 200 reply.
class Router {
 public:
  // No form body the library sends comes near this; uploads stream (Route::body).
  static constexpr std::size_t kMaxBody = 64 * 1024;

  Router(DeviceState& device, std::vector<Route> routes);

  httpd::Response Handle(httpd::Request& request) const;
  // The consumer of a streaming route's body, made by the route; for other requests, one
  // that drops bodies that will be refused for their size, so that they are never held in
  // memory.
  std::unique_ptr<httpd::BodyConsumer> BodyConsumerFor(const httpd::Request& head) const;

 private:
  httpd::Response Dispatch(httpd::Request& request) const;
  // The route of a request, or the error reply that refuses it (404 or 405).
  const Route* Match(const httpd::Request& request, const FieldSet& query,
                     httpd::Response* refusal) const;

  DeviceState& device_;
  const std::vector<Route> routes_;
};

}  // namespace vesk::emulator

#endif  // VESK_EMULATOR_ROUTER_H
