#include "CommandSupport.h"

#include "Interrupt.h"
#include "Text.h"

namespace vesk::cli {

std::unique_ptr<Session> Connect(const Globals& globals, int services) {
  if (globals.connection.host.empty()) {
    throw Failure(kUsage, "no device: give --host HOST or set VESK_HOST");
  }
  if (globals.connection.user.empty()) {
    throw Failure(kUsage, "no user: give --user USER or set VESK_USER");
  }
  const std::string password = ReadPassword(globals.connection);
  auto session = std::make_unique<Session>(globals.connection, password);
  session->Open(services);
  return session;
}

std::optional<CVeskHttpFileStatus> StatusOf(Session& session, const std::string& path) {
  CVeskHttpFileStatus status;
  const auto started = Session::Clock::now();
  const int result = session.Files().GetFileStatus(Wide(path).c_str(), CancelFlag(), &status);
  // A device answers a missing item with status 4, or with an empty record.
  if (result == VESK_HTTP_DEVICE_STATUS_4) return std::nullopt;
  if (result != VESK_HTTP_SUCCESS) throw session.Fail(result, Op::Stat, path, started);
  if (*status.GetFileName() == L'\0') return std::nullopt;
  return status;
}

void Items::Remember(const Failure& failure) {
  const int status = failure.Status();
  if (status == kUnreachable || status == kLoginRefused || status == kInterrupted) throw failure;
  PrintError(failure.Message());
  if (status_ == kOk) status_ = status;
}

}  // namespace vesk::cli
