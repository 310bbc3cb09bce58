#include "ChunkState.h"

#include <fcntl.h>
#include <json/json.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "Messages.h"

namespace vesk::cli {

namespace {

namespace fs = std::filesystem;

bool SameUpload(const Json::Value& entry, const ChunkedUpload& key) {
  return entry.isObject() && entry["device"].asString() == key.device &&
         entry["tempFolder"].asString() == key.tempFolder &&
         entry["destFolder"].asString() == key.destFolder && entry["local"].asString() == key.local;
}

Json::Value Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Json::Value(Json::arrayValue);
  Json::CharReaderBuilder builder;
  Json::Value root;
  std::string errors;
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isArray()) {
    return Json::Value(Json::arrayValue);  // an unreadable record only loses resumes
  }
  return root;
}

// Runs change on the records with the state file locked against other vesk processes, and
// writes the result back (to a new file that then takes the old one's place).
void Update(const std::function<void(Json::Value&)>& change) {
  const std::string path = ChunkStateFile();
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  const std::string lockPath = path + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) throw Failure(kLocalFile, lockPath + ": cannot open the upload state lock");
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }  // closing releases the lock
  } unlock{lock};
  while (::flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) throw Failure(kLocalFile, lockPath + ": cannot lock the upload state");
  }
  Json::Value records = Load(path);
  change(records);
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  builder["emitUTF8"] = true;
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << Json::writeString(builder, records) << '\n';
    if (!out.flush()) throw Failure(kLocalFile, temporary + ": cannot write the upload state");
  }
  fs::rename(temporary, path, error);
  if (error) throw Failure(kLocalFile, path + ": cannot write the upload state");
}

}  // namespace

std::string ChunkStateFile() {
  std::string base;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
    base = cache;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.cache";
  } else {
    throw Failure(kLocalFile, "no folder to keep the upload state in: set HOME or XDG_CACHE_HOME");
  }
  return base + "/vesk/chunked-uploads.json";
}

std::optional<ChunkedUpload> FindChunkedUpload(const ChunkedUpload& key) {
  std::optional<ChunkedUpload> found;
  const std::string path = ChunkStateFile();
  for (const Json::Value& entry : Load(path)) {
    if (!SameUpload(entry, key)) continue;
    ChunkedUpload upload = key;
    upload.size = entry["size"].asLargestInt();
    upload.modified = entry["modified"].asLargestInt();
    upload.uploadId = entry["uploadId"].asString();
    found = upload;
  }
  return found;
}

void RememberChunkedUpload(const ChunkedUpload& upload) {
  Update([&](Json::Value& records) {
    Json::Value kept(Json::arrayValue);
    for (const Json::Value& entry : records) {
      if (!SameUpload(entry, upload)) kept.append(entry);
    }
    Json::Value entry(Json::objectValue);
    entry["device"] = upload.device;
    entry["tempFolder"] = upload.tempFolder;
    entry["destFolder"] = upload.destFolder;
    entry["local"] = upload.local;
    entry["size"] = Json::Int64(upload.size);
    entry["modified"] = Json::Int64(upload.modified);
    entry["uploadId"] = upload.uploadId;
    kept.append(entry);
    records = kept;
  });
}

void ForgetChunkedUpload(const ChunkedUpload& key) {
  Update([&](Json::Value& records) {
    Json::Value kept(Json::arrayValue);
    for (const Json::Value& entry : records) {
      if (!SameUpload(entry, key)) kept.append(entry);
    }
    records = kept;
  });
}

}  // namespace vesk::cli
