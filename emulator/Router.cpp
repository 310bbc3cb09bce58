#include "emulator/Router.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string_view>
#include <utility>

#include "emulator/FileTree.h"
#include "emulator/Replies.h"

namespace vesk::emulator {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Takes a body that is going to be refused and keeps none of it.
class DiscardBody : public httpd::BodyConsumer {
 public:
  bool Write(const char*, std::size_t) override { return false; }
};

// True when the request's body is to be refused for its framing or, unless it streams, its
// size (see Router). Sets *status to the refusal's HTTP status.
bool RefusedBody(const httpd::Request& request, bool streams, int* status, std::string* reason) {
  if (request.Header("Transfer-Encoding")) {
    *status = 411;
    *reason = "a request body needs a Content-Length";
    return true;
  }
  const std::string* length = request.Header("Content-Length");
  if (!length || streams) return false;
  const auto size = ParseDecimal(Trim(*length), Router::kMaxBody);
  if (!size) {
    *status = 413;
    *reason = "request body too large";
    return true;
  }
  return false;
}

// The request's query, decoded strictly.
FieldSet QueryOf(const httpd::Request& request) {
  const std::size_t question = request.target.find('?');
  return FieldSet::Parse(question == std::string::npos
                             ? std::string_view()
                             : std::string_view(request.target).substr(question + 1));
}

}  // namespace

Route FileTreeRoute(const char* func, const char* method, TreeEndpoint endpoint,
                    RefusalReply refused) {
  return {"/cgi-bin/filemanager/utilRequest.cgi", "func", func, method,
          [endpoint, refused = std::move(refused)](const Call& call) {
            if (!call.device.sessions.Find(call.query.Require("sid"))) return refused(kNoSession);
            try {
              const FileTree tree(call.device.options.root);
              return endpoint(call, tree);
            } catch (const Refusal& refusal) {
              return refused(refusal.Status());
            } catch (const std::filesystem::filesystem_error& error) {
              return refused(StatusForErrno(error.code().value()));
            }
          }};
}

bool DeviceState::AccountMatches(const std::string& user, const std::string& base64Password) const {
  const auto password = DecodeBase64(base64Password);
  return password && user == options.user && *password == options.password;
}

std::time_t DeviceState::Now() const {
  const long long fixed = fixedClock.load();
  if (fixed != kClockNotFixed) return static_cast<std::time_t>(fixed);
  return options.clock ? options.clock() : std::time(nullptr);
}

FieldSet Call::Form() const {
  const std::string* type = request.Header("Content-Type");
  std::string_view media = type ? std::string_view(*type) : std::string_view();
  media = Trim(media.substr(0, media.find(';')));
  if (AsciiLower(media) != "application/x-www-form-urlencoded") {
    throw HttpError(415, "expected an application/x-www-form-urlencoded body");
  }
  return FieldSet::Parse(request.body);
}

Router::Router(DeviceState& device, std::vector<Route> routes)
    : device_(device), routes_(std::move(routes)) {}

std::unique_ptr<httpd::BodyConsumer> Router::BodyConsumerFor(const httpd::Request& head) const {
  int status = 0;
  std::string reason;
  if (!head.Header("Transfer-Encoding")) {
    // A request that does not reach a streaming route here is refused by Dispatch, or is an
    // ordinary one.
    try {
      const FieldSet query = QueryOf(head);
      httpd::Response refusal;
      const Route* route = Match(head, query, &refusal);
      if (route && route->body) return route->body(Call{device_, head, query});
    } catch (const HttpError&) {
    }
  }
  if (RefusedBody(head, false, &status, &reason)) return std::make_unique<DiscardBody>();
  return nullptr;
}

httpd::Response Router::Handle(httpd::Request& request) const {
  try {
    return Dispatch(request);
  } catch (const HttpError& error) {
    return ErrorReply(error.Status(), error.what());
  } catch (const std::exception& error) {
    return ErrorReply(500, error.what());
  }
}

const Route* Router::Match(const httpd::Request& request, const FieldSet& query,
                           httpd::Response* refusal) const {
  const std::string path = request.Path();
  bool known = false;
  const Route* match = nullptr;
  for (const Route& route : routes_) {
    if (!route.Serves(path)) continue;
    known = true;
    if (route.selectorKey.empty()) {
      match = &route;
      break;
    }
    const std::string* selector = query.Find(route.selectorKey);
    if (selector && *selector == route.selector) {
      match = &route;
      break;
    }
  }
  if (!match) {
    *refusal = ErrorReply(404, known ? "no such function" : "no such path");
    return nullptr;
  }
  if (request.method != match->method) {
    *refusal = ErrorReply(405, "method not allowed");
    refusal->headers.emplace_back("Allow", match->method);
    return nullptr;
  }
  return match;
}

httpd::Response Router::Dispatch(httpd::Request& request) const {
  const std::string path = request.Path();
  if (std::none_of(routes_.begin(), routes_.end(),
                   [&](const Route& route) { return route.Serves(path); })) {
    return ErrorReply(404, "no such path");
  }
  const FieldSet query = QueryOf(request);
  httpd::Response refusal;
  const Route* match = Match(request, query, &refusal);
  if (!match) return refusal;
  int status = 0;
  std::string reason;
  if (RefusedBody(request, match->body != nullptr, &status, &reason)) {
    return ErrorReply(status, reason);
  }
  return match->endpoint(Call{device_, request, query});
}

}  // namespace vesk::emulator
