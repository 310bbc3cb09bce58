// The file service's transfer functions: upload, download and chunked upload. Each is
// utilRequest.cgi?func=NAME&sid=S&...; like the tree functions they take any live sid, resolve
// every path inside --root (FileTree.h), and decode every query and form value once.
//
// Uploads stream their multipart/form-data bodies to disk as they arrive: bodies of any
// length, never held in memory (the router's body limit does not apply to them). Their parts,
// in this order: Filename (the file's name, not used), Filedata (filename="NAME", the file's
// bytes), and Upload for upload, chunked_upload for chunked_upload (not used). The delimiter
// lines may be the library's (the boundary itself) or the standard ones ("--" and the
// boundary): see Multipart.h.
//
//   POST upload dest_path, overwrite: the data goes into a temporary file in dest_path
//       (".vesk-upload-XXXXXX"), which is renamed to dest_path/NAME once the whole body has
//       arrived well-formed. A body cut short, malformed or refused leaves nothing behind.
//       Reply {"status":1,"success":"true"}.
//   POST download, a form: isfolder=0, source_total=1, source_path, source_file and optionally
//       offset (decimal, 64-bit): 200, application/octet-stream, the file's bytes from offset
//       to its end (sent with sendfile when no fault is played).
//   GET start_chunked_upload upload_root_dir=T: {"status":0,"upload_id":ID}. ID, 32 lower-case
//       hexadecimal digits, names an unfinished upload whose data the device keeps in T as the
//       file ".vesk-chunked-ID" until it is finished or deleted, across dropped connections
//       and restarts. At most 64 unfinished uploads per folder.
//   GET get_chunked_upload_status upload_id, upload_root_dir: {"status":0,"size":N}, N the
//       bytes the upload holds.
//   POST chunked_upload upload_id, upload_root_dir, offset=O, filesize=F, dest_path, overwrite,
//       settime (0 or 1), mtime (seconds since 1970, may be negative; needed with settime=1),
//       rename_dest (optional; empty counts as absent): the Filedata bytes are written at O of
//       the upload's data as they arrive (data past O is cut off first, so that a resend is
//       harmless). When the body has arrived well-formed and the upload holds exactly F bytes,
//       its data becomes dest_path/NAME, NAME being rename_dest when given and the Filedata
//       filename otherwise, with the modification time mtime when settime=1; the upload id is
//       gone then. Reply {"status":1,"success":"true"}. A connection that breaks keeps what
//       arrived, for the client to resume from what get_chunked_upload_status reports.
//   GET delete_chunked_upload_file upload_id, upload_root_dir: {"status":0}.
//
// overwrite: 1 replaces an existing file, 0 refuses it; an existing folder is always refused.
// A chunked_upload that starts while an older attempt on the same upload is still running
// takes the upload over: the older attempt writes nothing more.
//
// Refusals, with the statuses of FileTree.h:
//   upload, chunked_upload: {"status":0,"success":"false","error":S} (the library takes any
//     other status as success): 2 the target exists (overwrite=0) or is a folder; 3 no live
//     session; 4 a folder that is missing, not permitted or the top of the tree, a failing
//     disk, and for chunked_upload an upload that holds fewer than F bytes once the body is
//     in; 5 a name or path the device does not take, and for chunked_upload an unknown or
//     malformed upload id, an offset beyond the bytes held, an upload that holds more than F
//     bytes, or an attempt another one took over.
//   start_chunked_upload, get_chunked_upload_status, delete_chunked_upload_file:
//     {"status":S}: 3 no live session; 4 the folder is missing, not permitted or the top; 5 a
//     path not allowed, an unknown or malformed upload id; 9 the folder holds 64 unfinished
//     uploads already (start).
//   download answers with HTTP errors, so that an error document is never taken for file
//     data: 403 no live session; 404 no such file (missing, a folder, not permitted); 400 a
//     malformed form or a name or path the device does not take; 416 an offset beyond the
//     file's end (with Content-Range: bytes */SIZE); 415 a body that is not a form.
// Malformed requests get 400 (a missing or malformed field, a body that is not well-formed
// multipart or lacks a single Filedata part with a filename), an upload whose Content-Type is
// not multipart/form-data with a boundary 415, a body without Content-Length 411.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "emulator/FileTree.h"
#include "emulator/Multipart.h"
#include "emulator/Replies.h"
#include "emulator/Router.h"
#include "emulator/Wire.h"

namespace vesk::emulator {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPath = "/cgi-bin/filemanager/utilRequest.cgi";
// The folder already holds the most unfinished chunked uploads it may.
constexpr long long kTooManyUploads = 9;
constexpr std::size_t kMaxUploadsPerFolder = 64;
constexpr const char* kChunkedPrefix = ".vesk-chunked-";
constexpr const char* kTemporaryPattern = ".vesk-upload-XXXXXX";
constexpr std::size_t kUploadIdLength = 32;
// The last second of the year 9999, and as far before 1970.
constexpr unsigned long long kMaxTime = 253402300799ULL;
constexpr mode_t kFileMode = 0644;

// --- Request fields ---------------------------------------------------------------------------

bool Flag(const FieldSet& fields, std::string_view name) {
  const std::string& value = fields.Require(name);
  if (value != "0" && value != "1") throw BadRequest(std::string(name) + " is not 0 or 1");
  return value == "1";
}

// Seconds since 1970: decimal digits with an optional "-".
long long Seconds(const FieldSet& fields, std::string_view name) {
  std::string_view text = fields.Require(name);
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const auto value = ParseDecimal(text, kMaxTime);
  if (!value) throw BadRequest(std::string(name) + " is not a time in seconds");
  return negative ? -static_cast<long long>(*value) : static_cast<long long>(*value);
}

void CheckSession(const Call& call) {
  if (!call.device.sessions.Find(call.query.Require("sid"))) throw Refusal(kNoSession);
}

// --- Chunked uploads on disk ------------------------------------------------------------------

// The data file of the upload a request names in its upload root folder; the id is checked
// before it becomes part of a path.
fs::path UploadData(const Call& call, const FileTree& tree) {
  const fs::path folder = tree.Folder(call.query.Require("upload_root_dir"), Top::Refuse);
  const std::string& id = call.query.Require("upload_id");
  if (!IsHexId(id, kUploadIdLength)) throw Refusal(kNotAllowed);
  return folder / (kChunkedPrefix + id);
}

// The status of an upload's data file; refuses an upload that does not exist.
struct stat UploadStatus(const fs::path& data) {
  struct stat info;
  if (lstat(data.c_str(), &info) != 0) {
    throw Refusal(errno == ENOENT ? kNotAllowed : StatusForErrno(errno));
  }
  if (!S_ISREG(info.st_mode)) throw Refusal(kNotAllowed);
  return info;
}

void WriteAll(int fd, const char* data, std::size_t size, off_t* position) {
  while (size > 0) {
    const ssize_t written = pwrite(fd, data, size, *position);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throw Refusal(StatusForErrno(errno));
    data += written;
    size -= static_cast<std::size_t>(written);
    *position += written;
  }
}

// --- Upload bodies ----------------------------------------------------------------------------

// The body of an upload or a chunked upload. Made when the request's head arrives, it checks
// the head; a request it accepts has its body metered by the transfer's faults and read part
// by part, the Filedata part going to the subclass's file. A refused request's body is
// dropped, and the refusal waits for Finish.
class UploadBody : public httpd::BodyConsumer, private MultipartSink {
 public:
  explicit UploadBody(DeviceState& device) : device_(device) {}

  // Checks the request head: the session, the body's type, then Setup's checks. A failure is
  // kept for Finish, and the body is dropped.
  void Prepare(const Call& head) {
    try {
      CheckSession(head);
      const std::string* type = head.request.Header("Content-Type");
      std::optional<std::string> boundary = MultipartBoundary(type ? *type : "");
      if (!boundary) throw HttpError(415, "expected a multipart/form-data body with a boundary");
      const FileTree tree(head.device.options.root);
      Setup(head, tree);
      reader_.emplace(std::move(*boundary), static_cast<MultipartSink&>(*this));
      meter_.emplace(device_.transfers.Start());
    } catch (const HttpError& error) {
      error_ = error;
    } catch (const Refusal& refusal) {
      refusal_ = refusal.Status();
    } catch (const fs::filesystem_error& error) {
      refusal_ = StatusForErrno(error.code().value());
    }
  }

  bool Write(const char* data, std::size_t size) override {
    if (!reader_) return false;  // refused: the server drops the rest
    while (size > 0 && !drop_) {
      const std::size_t piece = meter_->Next(size);
      if (piece == 0) {
        Cut();
        break;
      }
      reader_->Write(data, piece);  // a malformed body fails Finish
      data += piece;
      size -= piece;
      if (!meter_->Moved(piece)) Cut();
    }
    return true;
  }

  bool DropConnection() const override { return drop_; }

  // The reply once the whole body has arrived.
  httpd::Response Finish() {
    // What a failed upload leaves goes before the reply, so that a client that has the reply
    // finds nothing left.
    if (error_) {
      Abandon();
      throw *error_;
    }
    if (reader_ && (!reader_->Finish() || !fileSeen_)) {
      Abandon();
      throw BadRequest(reader_->Failed() ? "malformed multipart body: " + reader_->Error()
                                         : "the body has no Filedata part");
    }
    if (refusal_ == 0) {
      Guard([this] { Complete(); });
    }
    if (refusal_ != 0) {
      Abandon();
      return JsonReply(
          JsonObject().Add("status", 0LL).Add("success", "false").Add("error", refusal_));
    }
    return JsonReply(JsonObject().Add("status", kDone).Add("success", "true"));
  }

 protected:
  // The checks of the request head beyond the session and the body's type. Throws
  // HttpError, Refusal or filesystem_error.
  virtual void Setup(const Call& head, const FileTree& tree) = 0;
  // The Filedata part begins, with this filename: checks it and readies the file.
  virtual void BeginFile(const std::string& filename) = 0;
  virtual void FileData(const char* data, std::size_t size) = 0;
  // The upload has failed, or its connection is about to be cut: drops what must not stay.
  virtual void Abandon() {}
  // The body has arrived well-formed and nothing was refused: finishes the file.
  virtual void Complete() = 0;

  DeviceState& device_;

 private:
  // Runs a step of the file, keeping its refusal.
  template <typename Step>
  void Guard(Step step) {
    try {
      step();
    } catch (const Refusal& refusal) {
      refusal_ = refusal.Status();
    } catch (const fs::filesystem_error& error) {
      refusal_ = StatusForErrno(error.code().value());
    }
  }

  void Cut() {
    drop_ = true;
    // Before the connection closes, so that a client that sees it closed finds nothing left.
    Abandon();
  }

  // The parts other than Filedata carry nothing the device needs, and are skipped as they
  // arrive. A false return is a malformed body.
  bool BeginPart(const PartHeaders& part) override {
    inFile_ = part.name == "Filedata";
    if (!inFile_) return true;
    if (fileSeen_ || !part.filename) return false;  // one Filedata part, named
    fileSeen_ = true;
    if (refusal_ == 0) {
      Guard([&] { BeginFile(*part.filename); });
    }
    return true;
  }
  bool PartData(const char* data, std::size_t size) override {
    if (inFile_ && refusal_ == 0) {
      Guard([&] { FileData(data, size); });
    }
    return true;
  }
  bool EndPart() override {
    inFile_ = false;
    return true;
  }

  std::optional<HttpError> error_;
  long long refusal_ = 0;
  std::optional<MultipartReader> reader_;  // set once the head is accepted
  std::optional<TransferMeter> meter_;
  bool drop_ = false;
  bool inFile_ = false;
  bool fileSeen_ = false;
};

// A file being uploaded whole into a temporary file of its destination folder, removed unless
// it became the upload.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() { Remove(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Create(const fs::path& folder) {
    std::string pattern = (folder / kTemporaryPattern).string();
    httpd::FileDescriptor fd(mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.Valid()) throw Refusal(StatusForErrno(errno));
    path_ = pattern;
    fd_ = std::move(fd);
  }
  void Write(const char* data, std::size_t size) { WriteAll(fd_.Get(), data, size, &position_); }
  // Makes it the file target.
  void Place(const fs::path& target, bool overwrite) {
    if (fchmod(fd_.Get(), kFileMode) != 0) throw Refusal(StatusForErrno(errno));
    FileTree::PlaceFile(path_, target, overwrite);
    path_.clear();
  }
  void Remove() {
    fd_ = httpd::FileDescriptor();
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
  }

 private:
  fs::path path_;  // empty: nothing to remove
  httpd::FileDescriptor fd_;
  off_t position_ = 0;
};

// POST upload.
class WholeUpload final : public UploadBody {
 public:
  using UploadBody::UploadBody;

 private:
  void Setup(const Call& head, const FileTree& tree) override {
    const std::string& destination = head.query.Require("dest_path");
    overwrite_ = Flag(head.query, "overwrite");
    folder_ = tree.Folder(destination, Top::Refuse);
  }

  void BeginFile(const std::string& filename) override {
    CheckName(filename);
    target_ = folder_ / filename;
    // Refused at once rather than after the whole body; checked again when it is in place.
    struct stat existing;
    if (lstat(target_.c_str(), &existing) == 0 && (S_ISDIR(existing.st_mode) || !overwrite_)) {
      throw Refusal(kExists);
    }
    file_.Create(folder_);
  }
  void FileData(const char* data, std::size_t size) override { file_.Write(data, size); }
  void Abandon() override { file_.Remove(); }
  void Complete() override { file_.Place(target_, overwrite_); }

  fs::path folder_, target_;
  bool overwrite_ = false;
  TemporaryFile file_;
};

// POST chunked_upload: one attempt at an unfinished upload.
class ChunkedAttempt final : public UploadBody {
 public:
  using UploadBody::UploadBody;

 private:
  void Setup(const Call& head, const FileTree& tree) override {
    const FieldSet& query = head.query;
    const auto offset = static_cast<off_t>(Number(query, "offset", LLONG_MAX));
    fileSize_ = static_cast<off_t>(Number(query, "filesize", LLONG_MAX));
    const std::string& destination = query.Require("dest_path");
    overwrite_ = Flag(query, "overwrite");
    if (query.Find("settime") && Flag(query, "settime")) mtime_ = Seconds(query, "mtime");
    if (const std::string* name = query.Find("rename_dest"); name && !name->empty()) {
      CheckName(*name);
      name_ = *name;
    }
    data_ = UploadData(head, tree);
    folder_ = tree.Folder(destination, Top::Refuse);

    // Claims the upload and cuts its data at the offset. (O_NONBLOCK: a pipe put in the
    // data's place must not hold the request.)
    slot_ = device_.transfers.Slot(data_.string());
    const std::lock_guard<std::mutex> lock(slot_->mutex);
    fd_ =
        httpd::FileDescriptor(open(data_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.Valid()) throw Refusal(errno == ENOENT ? kNotAllowed : StatusForErrno(errno));
    struct stat info;
    if (fstat(fd_.Get(), &info) != 0) throw Refusal(StatusForErrno(errno));
    if (!S_ISREG(info.st_mode) || offset > info.st_size) throw Refusal(kNotAllowed);
    owner_ = ++slot_->owner;
    if (ftruncate(fd_.Get(), offset) != 0) throw Refusal(StatusForErrno(errno));
    position_ = offset;
  }

  void BeginFile(const std::string& filename) override {
    if (name_.empty()) {
      CheckName(filename);
      name_ = filename;
    }
  }

  void FileData(const char* data, std::size_t size) override {
    const std::lock_guard<std::mutex> lock(slot_->mutex);
    if (slot_->owner != owner_) throw Refusal(kNotAllowed);
    WriteAll(fd_.Get(), data, size, &position_);
  }

  void Complete() override {
    const std::lock_guard<std::mutex> lock(slot_->mutex);
    if (slot_->owner != owner_) throw Refusal(kNotAllowed);
    struct stat info;
    if (fstat(fd_.Get(), &info) != 0) throw Refusal(StatusForErrno(errno));
    if (info.st_size != fileSize_) throw Refusal(info.st_size < fileSize_ ? kMissing : kNotAllowed);
    if (mtime_) {
      const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*mtime_), 0}};
      if (futimens(fd_.Get(), times) != 0) throw Refusal(StatusForErrno(errno));
    }
    if (fchmod(fd_.Get(), kFileMode) != 0) throw Refusal(StatusForErrno(errno));
    FileTree::PlaceFile(data_, folder_ / name_, overwrite_);
    ++slot_->owner;  // the upload is gone
  }

  fs::path data_, folder_;
  std::string name_;  // the stored name: rename_dest, or the Filedata filename
  off_t fileSize_ = 0;
  bool overwrite_ = false;
  std::optional<long long> mtime_;
  std::shared_ptr<TransferGate::UploadSlot> slot_;
  unsigned long long owner_ = 0;
  httpd::FileDescriptor fd_;
  off_t position_ = 0;
};

template <typename Body>
std::unique_ptr<httpd::BodyConsumer> MakeBody(const Call& head) {
  auto body = std::make_unique<Body>(head.device);
  body->Prepare(head);
  return body;
}

httpd::Response FinishUpload(const Call& call) {
  auto* body = dynamic_cast<UploadBody*>(call.request.consumer);
  if (!body) throw HttpError(500, "the upload's body was not taken");
  return body->Finish();
}

// --- Download ---------------------------------------------------------------------------------

// A download's reply body read from its file and metered by the transfer's faults.
class MeteredFile : public httpd::BodySource {
 public:
  MeteredFile(httpd::FileDescriptor file, unsigned long long offset, TransferMeter meter)
      : file_(std::move(file)), offset_(offset), meter_(std::move(meter)) {}

  long long Read(unsigned long long position, char* buf, std::size_t max) override {
    const std::size_t piece = meter_.Next(max);
    if (piece == 0) return -1;  // cut here
    ssize_t size;
    do {
      size = pread(file_.Get(), buf, piece, static_cast<off_t>(offset_ + position));
    } while (size < 0 && errno == EINTR);
    if (size <= 0) return -1;  // the file shrank or failed: the reply breaks
    if (!meter_.Moved(static_cast<std::size_t>(size))) return -1;
    return size;
  }

 private:
  httpd::FileDescriptor file_;
  const unsigned long long offset_;
  TransferMeter meter_;
};

int HttpStatusFor(long long refusal) {
  switch (refusal) {
    case kNoSession:
      return 403;
    case kNotAllowed:
      return 400;
    default:
      return 404;
  }
}

httpd::Response Download(const Call& call) {
  if (!call.device.sessions.Find(call.query.Require("sid"))) {
    throw HttpError(403, "no live session");
  }
  const FieldSet form = call.Form();
  Expect(form, "isfolder", "0");
  Expect(form, "source_total", "1");
  const std::string& folder = form.Require("source_path");
  const std::string& name = form.Require("source_file");
  const unsigned long long offset = form.Find("offset") ? Number(form, "offset", LLONG_MAX) : 0;

  httpd::FileDescriptor file;
  struct stat info {};
  try {
    const FileTree tree(call.device.options.root);
    const TreeItem item = tree.Item(tree.Folder(folder, Top::Refuse), name);
    if (item.Folder()) throw Refusal(kMissing);
    file = httpd::FileDescriptor(open(item.target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.Valid() || fstat(file.Get(), &info) != 0) throw Refusal(StatusForErrno(errno));
    if (!S_ISREG(info.st_mode)) throw Refusal(kMissing);
  } catch (const Refusal& refusal) {
    throw HttpError(HttpStatusFor(refusal.Status()),
                    "refused with status " + std::to_string(refusal.Status()));
  } catch (const fs::filesystem_error& error) {
    throw HttpError(404, error.what());
  }
  const auto size = static_cast<unsigned long long>(info.st_size);
  if (offset > size) {
    httpd::Response response = ErrorReply(416, "the offset lies beyond the end of the file");
    response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    return response;
  }

  httpd::Response response;
  response.headers.emplace_back("Content-Type", "application/octet-stream");
  response.headers.emplace_back("Cache-Control", "no-store");
  const unsigned long long length = size - offset;
  if (length == 0) return response;
  TransferMeter meter = call.device.transfers.Start();
  if (meter.Unhindered(length)) {
    response.file = std::move(file);
    response.fileOffset = offset;
    response.fileSize = length;
  } else {
    response.source = std::make_unique<MeteredFile>(std::move(file), offset, std::move(meter));
    response.sourceSize = static_cast<long long>(length);
  }
  return response;
}

// --- Chunked upload bookkeeping ---------------------------------------------------------------

httpd::Response StartChunked(const Call& call, const FileTree& tree) {
  const fs::path folder = tree.Folder(call.query.Require("upload_root_dir"), Top::Refuse);
  const std::lock_guard<std::mutex> lock(call.device.transfers.CreationMutex());
  std::size_t unfinished = 0;
  std::error_code code;
  for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
    const std::string name = it->path().filename().string();
    const std::string_view prefix = kChunkedPrefix;
    if (name.starts_with(prefix) &&
        IsHexId(std::string_view(name).substr(prefix.size()), kUploadIdLength)) {
      ++unfinished;
    }
  }
  if (code) throw Refusal(StatusForErrno(code.value()));
  if (unfinished >= kMaxUploadsPerFolder) throw Refusal(kTooManyUploads);
  for (;;) {
    const std::string id = NewHexId(kUploadIdLength);
    const httpd::FileDescriptor data(open((folder / (kChunkedPrefix + id)).c_str(),
                                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                          0600));
    if (!data.Valid() && errno == EEXIST) continue;  // that id is taken: draw again
    if (!data.Valid()) throw Refusal(StatusForErrno(errno));
    return JsonReply(JsonObject().Add("status", 0LL).Add("upload_id", id));
  }
}

httpd::Response ChunkedStatus(const Call& call, const FileTree& tree) {
  const struct stat info = UploadStatus(UploadData(call, tree));
  return JsonReply(
      JsonObject().Add("status", 0LL).Add("size", static_cast<long long>(info.st_size)));
}

httpd::Response DeleteChunked(const Call& call, const FileTree& tree) {
  const fs::path data = UploadData(call, tree);
  UploadStatus(data);
  // Takes the upload from any attempt still writing before it goes.
  const auto slot = call.device.transfers.Slot(data.string());
  const std::lock_guard<std::mutex> lock(slot->mutex);
  ++slot->owner;
  if (unlink(data.c_str()) != 0) {
    throw Refusal(errno == ENOENT ? kNotAllowed : StatusForErrno(errno));
  }
  return JsonReply(JsonObject().Add("status", 0LL));
}

// The route of a chunked upload query, whose refusals are {"status":S}.
Route ChunkedRoute(const char* func, TreeEndpoint endpoint) {
  return FileTreeRoute(func, "GET", endpoint, [](long long status) {
    return JsonReply(JsonObject().Add("status", status));
  });
}

Route UploadRoute(const char* func, BodyFactory body) {
  return {kPath, "func", func, "POST", &FinishUpload, std::move(body)};
}

}  // namespace

std::vector<Route> TransferRoutes() {
  return {
      UploadRoute("upload", &MakeBody<WholeUpload>),
      UploadRoute("chunked_upload", &MakeBody<ChunkedAttempt>),
      {kPath, "func", "download", "POST", &Download},
      ChunkedRoute("start_chunked_upload", &StartChunked),
      ChunkedRoute("get_chunked_upload_status", &ChunkedStatus),
      ChunkedRoute("delete_chunked_upload_file", &DeleteChunked),
  };
}

}  // namespace vesk::emulator
