// vesk put: uploads local files into a device folder, whole, or with --chunked in a chunked
// upload that the same command resumes after it was cut off or interrupted.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ChunkState.h"
#include "CommandSupport.h"
#include "Interrupt.h"
#include "Paths.h"
#include "Progress.h"
#include "Text.h"

namespace vesk::cli {

namespace {

namespace fs = std::filesystem;

struct PutOptions {
  std::vector<std::string> paths;  // local files, then the device folder
  bool chunked = false;
  std::string tempFolder;  // for --chunked; empty: the destination folder
};

struct LocalFile {
  long long size = 0;
  long long modified = 0;
};

LocalFile ReadableFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw Failure(
        kLocalFile,
        path + ": " + (errno == ENOENT ? std::string("no such local file") : std::strerror(errno)));
  }
  if (S_ISDIR(info.st_mode)) throw Failure(kLocalFile, path + ": is a folder (put sends files)");
  if (!S_ISREG(info.st_mode)) throw Failure(kLocalFile, path + ": not a regular file");
  return LocalFile{static_cast<long long>(info.st_size), static_cast<long long>(info.st_mtime)};
}

void PutWhole(Session& session, const std::string& local, const LocalFile& file,
              const std::string& folder) {
  const std::string target = Join(folder, LocalName(local));
  Progress progress(Progress::Kind::Bytes, LocalName(local), file.size);
  const auto started = Session::Clock::now();
  const int result = session.Files().UploadFile(Wide(local).c_str(), Wide(folder).c_str(),
                                                CancelFlag(), &progress, &Progress::Report);
  progress.Finish();
  if (result == VESK_HTTP_CANCELLED) {
    throw Failure(kInterrupted, "interrupted: " + local + " was not uploaded");
  }
  if (result != VESK_HTTP_SUCCESS) {
    throw session.Fail(result, Op::Upload, result == VESK_HTTP_INVALID_REQUEST ? local : target,
                       started);
  }
}

// Sends the file in a chunked upload that outlives this run: the upload id is kept in the
// state file until the device holds the whole file, so that the same command resumes it.
void PutChunked(Session& session, const std::string& device, const std::string& local,
                const LocalFile& file, const std::string& folder, const std::string& tempFolder) {
  ChunkedUpload upload;
  upload.device = device;
  upload.tempFolder = tempFolder;
  upload.destFolder = folder;
  std::error_code error;
  upload.local = fs::absolute(local, error).lexically_normal().string();
  upload.size = file.size;
  upload.modified = file.modified;
  const std::wstring temp = Wide(tempFolder);

  std::optional<ChunkedUpload> known = FindChunkedUpload(upload);
  if (known && (known->size != file.size || known->modified != file.modified)) {
    // The local file changed since: what the device holds of it is of no use.
    session.Files().DeleteChunkedUploadFile(Wide(known->uploadId).c_str(), temp.c_str(),
                                            CancelFlag());
    ForgetChunkedUpload(upload);
    known.reset();
  }
  const std::string target = Join(folder, LocalName(local));
  Progress progress(Progress::Kind::Bytes, LocalName(local), file.size);
  int result = VESK_HTTP_SUCCESS;
  auto started = Session::Clock::now();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!known) {
      std::wstring id;
      session.Run(Op::ChunkStart, tempFolder, [&] {
        return session.Files().StartChunkedUpload(temp.c_str(), CancelFlag(), &id);
      });
      upload.uploadId = Utf8(id);
      RememberChunkedUpload(upload);
      known = upload;
    }
    started = Session::Clock::now();
    result = session.Files().ChunkedUploadFile(Wide(local).c_str(), Wide(folder).c_str(), L"",
                                               Wide(known->uploadId).c_str(), temp.c_str(),
                                               CancelFlag(), &progress, &Progress::Report);
    // The device no longer holds the upload (it finished or dropped it): start a new one.
    if (result != VESK_HTTP_CHUNK_STATUS_5) break;
    ForgetChunkedUpload(upload);
    known.reset();
  }
  progress.Finish();
  if (result == VESK_HTTP_SUCCESS) {
    ForgetChunkedUpload(upload);
    return;
  }
  const std::string again = "run the same command again to resume the upload";
  if (result == VESK_HTTP_CANCELLED) {
    throw Failure(kInterrupted, "interrupted: " + local + " is partly uploaded; " + again);
  }
  const Failure failure = session.Fail(
      result, Op::ChunkUpload, result == VESK_HTTP_INVALID_REQUEST ? local : target, started);
  if (failure.Status() == kUnreachable) throw WithAdvice(failure, again);
  throw failure;
}

int RunPut(const Globals& globals, const PutOptions& options) {
  if (options.paths.size() < 2) {
    throw Failure(kUsage, "put: give one or more local files, then a device folder");
  }
  const std::string folder = DevicePath(options.paths.back());
  const std::string tempFolder =
      options.tempFolder.empty() ? folder : DevicePath(options.tempFolder);
  auto session = Connect(globals, Session::kFiles);
  const auto status = folder == "/" ? std::nullopt : StatusOf(*session, folder);
  if (!status || !status->IsDir()) throw Failure(kFailed, folder + ": no such folder");
  const std::string device = globals.connection.user + "@" + session->Address();
  Items items;
  for (std::size_t i = 0; i + 1 < options.paths.size(); ++i) {
    items.Run([&] {
      ThrowIfInterrupted();
      const std::string& local = options.paths[i];
      const LocalFile file = ReadableFile(local);
      if (options.chunked) {
        PutChunked(*session, device, local, file, folder, tempFolder);
      } else {
        PutWhole(*session, local, file, folder);
      }
    });
  }
  return items.Status();
}

}  // namespace

void RegisterPut(Registry& registry) {
  CLI::App* command = registry.Add(
      "put", "Upload local files into a device folder",
      "A file of the same name in the folder is replaced. With --chunked, an upload that is\n"
      "cut off or interrupted goes on where the device stopped when the same command runs\n"
      "again (vesk keeps its id under $XDG_CACHE_HOME/vesk, or ~/.cache/vesk).");
  PutOptions& options = registry.On(command, &RunPut);
  command->add_flag("--chunked", options.chunked, "Upload in a resumable chunked upload");
  command->add_option("--temp-folder", options.tempFolder,
                      "Device folder for unfinished chunked uploads\n(default: the "
                      "destination folder)");
  command->add_option("paths", options.paths, "Local files, then the device folder")->required();
}

}  // namespace vesk::cli
