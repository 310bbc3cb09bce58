// vesk get: downloads device files, into the current folder, a named file or a local folder;
// --resume goes on from the local file's size.
#include <sys/stat.h>

#include <filesystem>

#include "CommandSupport.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

namespace fs = std::filesystem;

struct GetOptions {
  std::vector<std::string> paths;  // device files, then optionally a local file or folder
  bool resume = false;
};

std::optional<long long> LocalSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<long long>(info.st_size);
}

void GetOne(Session& session, const std::string& path, const std::string& local, bool resume) {
  const auto status = StatusOf(session, path);
  if (!status) throw Failure(kFailed, path + ": no such file or folder");
  if (status->IsDir()) throw Failure(kFailed, path + ": is a folder (get fetches files)");
  const long long size = status->GetFileSize();
  long long offset = 0;
  if (resume) {
    offset = LocalSize(local).value_or(0);
    if (offset > size) {
      throw Failure(kLocalFile, local + ": longer than " + path + " on the device (" +
                                    std::to_string(size) + " bytes); cannot resume");
    }
    if (offset == size && size > 0) return;  // already whole
  }
  Progress progress(Progress::Kind::Bytes, Name(path), size);
  const auto started = Session::Clock::now();
  const int result = session.Files().DownloadFile(Wide(path).c_str(), Wide(local).c_str(), offset,
                                                  CancelFlag(), &progress, &Progress::Report);
  progress.Finish();
  if (result == VESK_HTTP_SUCCESS) return;
  const std::string held = local + " holds " + std::to_string(LocalSize(local).value_or(0)) +
                           " of " + std::to_string(size) + " bytes";
  const std::string again =
      "resume with: vesk get --resume " + ShellQuote(path) + " " + ShellQuote(local);
  if (result == VESK_HTTP_CANCELLED) {
    throw Failure(kInterrupted, "interrupted: " + held + "; " + again);
  }
  const Failure failure = session.Fail(result, Op::Download,
                                       result == VESK_HTTP_INVALID_REQUEST ? local : path, started);
  if (failure.Status() == kUnreachable) throw WithAdvice(failure, held + "; " + again);
  throw failure;
}

int RunGet(const Globals& globals, const GetOptions& options) {
  std::vector<std::string> sources = options.paths;
  std::string localFolder = ".";
  std::optional<std::string> localFile;
  if (sources.size() >= 2) {
    std::error_code error;
    if (fs::is_directory(sources.back(), error)) {
      localFolder = sources.back();
      sources.pop_back();
    } else if (sources.size() == 2) {
      localFile = sources.back();
      sources.pop_back();
    } else {
      throw Failure(kUsage, sources.back() + ": no such local folder (several files go into one)");
    }
  }
  auto session = Connect(globals, Session::kFiles);
  Items items;
  for (const std::string& given : sources) {
    items.Run([&] {
      ThrowIfInterrupted();
      const std::string path = DevicePath(given);
      const std::string local =
          localFile ? *localFile : (fs::path(localFolder) / fs::path(Name(path))).string();
      GetOne(*session, path, local, options.resume);
    });
  }
  return items.Status();
}

}  // namespace

void RegisterGet(Registry& registry) {
  CLI::App* command = registry.Add(
      "get", "Download files",
      "  vesk get /P/a.bin               into ./a.bin\n"
      "  vesk get /P/a.bin b.bin         into b.bin\n"
      "  vesk get /P/a /P/b ~/Downloads  into a local folder\n"
      "A local file of the same name is replaced, unless --resume goes on from its size\n"
      "(for a download that was cut off or interrupted).");
  GetOptions& options = registry.On(command, &RunGet);
  command->add_flag("--resume", options.resume,
                    "Go on from the local file's size instead of starting over");
  command->add_option("paths", options.paths, "Device files, then where to put them")->required();
}

}  // namespace vesk::cli
