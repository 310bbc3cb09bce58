// The unfinished chunked uploads of this user, so that running the same `vesk put --chunked`
// again resumes one: a small JSON file under $XDG_CACHE_HOME/vesk (or ~/.cache/vesk).
#ifndef VESK_TOOLS_CHUNK_STATE_H
#define VESK_TOOLS_CHUNK_STATE_H

#include <optional>
#include <string>

namespace vesk::cli {

struct ChunkedUpload {
  // What an upload is known by.
  std::string device;      // user@host:port
  std::string tempFolder;  // the device folder that holds unfinished uploads
  std::string destFolder;  // the device folder that receives the file
  std::string local;       // the local file, absolute
  // What it was started for: a local file that changed since starts a new upload.
  long long size = 0;
  long long modified = 0;  // seconds since 1970
  std::string uploadId;
};

// The state file's path; a Failure when there is no cache folder to keep it in.
std::string ChunkStateFile();

// The upload recorded for the same device, folders and local file, if any.
std::optional<ChunkedUpload> FindChunkedUpload(const ChunkedUpload& key);
// Records the upload, replacing any for the same device, folders and local file.
void RememberChunkedUpload(const ChunkedUpload& upload);
// Drops the record for the same device, folders and local file.
void ForgetChunkedUpload(const ChunkedUpload& key);

}  // namespace vesk::cli

#endif  // VESK_TOOLS_CHUNK_STATE_H
