#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace vesk::test {

namespace {

// A scripted body: waits before the first byte if told to, then serves the body, and breaks
// the connection if the announced length is longer than the body.
class ScriptedBody : public httpd::BodySource {
 public:
  ScriptedBody(httpd::Server& server, std::string body, std::chrono::milliseconds delay)
      : server_(server), body_(std::move(body)), delay_(delay) {}

  long long Read(unsigned long long offset, char* buf, std::size_t max) override {
    if (!delayed_) {
      delayed_ = true;
      if (delay_.count() > 0 && !server_.WaitFor(delay_)) return -1;
    }
    if (offset >= body_.size()) return -1;
    const std::size_t count = std::min<std::size_t>(max, body_.size() - offset);
    std::memcpy(buf, body_.data() + offset, count);
    return static_cast<long long>(count);
  }

 private:
  httpd::Server& server_;
  const std::string body_;
  const std::chrono::milliseconds delay_;
  bool delayed_ = false;
};

}  // namespace

ScriptedServer::ScriptedServer(Scheme scheme, httpd::CertificatePair cert)
    : scheme_(scheme), cert_(std::move(cert)) {
  httpd::ServerOptions options;
  if (scheme_ == Scheme::Https) {
    if (cert_.certPem.empty() || cert_.keyPem.empty()) {
      cert_ = httpd::MakeSelfSignedCertificate("localhost", -1, 30);
    }
    options.tlsCertPem = cert_.certPem;
    options.tlsKeyPem = cert_.keyPem;
  } else {
    cert_ = {};
  }
  httpd::Handlers handlers;
  handlers.onRequest = [this](httpd::Request& request) { return Answer(request); };
  server_ = std::make_unique<httpd::Server>(std::move(options), std::move(handlers));
  std::string error;
  if (!server_->Start(&error)) ADD_FAILURE() << "the scripted server did not start: " << error;
}

ScriptedServer::~ScriptedServer() { server_->Stop(); }

void ScriptedServer::Enqueue(ScriptedReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(reply));
}

void ScriptedServer::SetDefaultReply(ScriptedReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaultReply_ = std::move(reply);
}

std::vector<httpd::Request> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ScriptedServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return requestArrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

unsigned long long ScriptedServer::ConnectionCount() const { return server_->ConnectionCount(); }

unsigned short ScriptedServer::Port() const { return server_->Port(); }

std::string ScriptedServer::BaseUrl() const {
  return std::string(scheme_ == Scheme::Https ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(Port());
}

std::wstring ScriptedServer::WideUrl(const std::string& pathAndQuery) const {
  const std::string url = BaseUrl() + pathAndQuery;
  return std::wstring(url.begin(), url.end());
}

httpd::Response ScriptedServer::Answer(httpd::Request& request) {
  ScriptedReply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    if (queue_.empty()) {
      reply = defaultReply_;
    } else {
      reply = std::move(queue_.front());
      queue_.pop_front();
    }
  }
  requestArrived_.notify_all();

  httpd::Response response;
  if (reply.dropConnection ||
      (reply.delayBeforeHeaders.count() > 0 && !server_->WaitFor(reply.delayBeforeHeaders))) {
    response.dropConnection = true;
    return response;
  }
  response.status = reply.status;
  response.headers = std::move(reply.headers);
  if (reply.declaredLength < 0 && reply.delayBeforeBody.count() == 0) {
    response.body = std::move(reply.body);
    return response;
  }
  // A body source sends the headers before its first byte is asked for.
  response.sourceSize =
      reply.declaredLength < 0 ? static_cast<long long>(reply.body.size()) : reply.declaredLength;
  response.source =
      std::make_unique<ScriptedBody>(*server_, std::move(reply.body), reply.delayBeforeBody);
  return response;
}

}  // namespace vesk::test
