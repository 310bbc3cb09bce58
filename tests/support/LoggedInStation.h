// A file station logged in to a scripted device, for the tests of the file-service commands.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "VeskHttp.h"
#include "filestation/FileStation.h"
#include "support/DeviceReplies.h"
#include "support/ScriptedServer.h"

namespace vesk::test {

// A station logged in as admin (password "pw") to the scripted device, which gave it the sid
// "S"; the login is the device's first request.
class LoggedInStationTest : public ::testing::Test {
 protected:
  // computerName: the one the station logs in with.
  explicit LoggedInStationTest(const wchar_t* computerName = L"") : computerName_(computerName) {}

  void SetUp() override {
    device_.Enqueue(JsonReply(R"({"status":1,"sid":"S"})"));
    station_.SetPorts(device_.Port(), 443);
    ASSERT_EQ(station_.Login(L"127.0.0.1", L"admin", L"pw", 0, computerName_), VESK_HTTP_SUCCESS);
  }

  httpd::Request Last() const { return device_.Requests().back(); }
  // The requests after the login, and how many there are.
  std::vector<httpd::Request> Sent() const {
    const auto all = device_.Requests();
    return {all.begin() + 1, all.end()};
  }
  std::size_t Count() const { return device_.Requests().size() - 1; }

  ScriptedServer device_;
  FileStation station_;

 private:
  const wchar_t* computerName_;
};

}  // namespace vesk::test
