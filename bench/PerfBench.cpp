// The library's cost per operation, each scenario next to a baseline measured in the same run:
// rounds alternate between the two and the medians are compared (Compare.h). Every scenario
// prints its two figures and a line "RATIO <name> <library/baseline>".
//
//   stat-http, stat-https  synchronous GetFileStatus in a loop, against a raw libcurl easy
//                          handle reused for the same GET whose reply's HTTP status is checked
//                          and whose JSON is parsed and read (operations a second)
//   list-async             200 concurrent GetFileListAsync, against raw libcurl multi doing the
//                          same 200 GETs, each reply checked and read as the stat baseline reads
//                          it (seconds for the batch); also the threads of each side, sampled
//                          every millisecond while the batch runs
//   parse-list             a listing reply of 100 000 entries through the listing parser,
//                          against jsoncpp parsing the same text into a Json::Value (seconds)
//   list-100k              one synchronous GetFileList of a folder of 100 000 files, against
//                          raw libcurl with a reused handle whose reply is parsed into a jsoncpp
//                          tree and walked for each entry's name and size (entries a second),
//                          with each side's peak resident memory above idle and the size of the
//                          list the library returns
//   upload-1g, download-1g whole-file transfers, against raw libcurl in this process sending
//                          the same request the library sends, with the library's piece sizes
//                          (uploads read and sent 65535 bytes at a time; downloads received up
//                          to 512 KiB at a time and written 256 KiB or more at a time) on a
//                          handle kept from one transfer to the next (MiB a second); the peak
//                          resident memory of the library's transfers above idle; and, for
//                          reference without a ratio, the curl program sending the same request
//                          (a process and a connection of its own for each transfer)
//   ranged-read            1 000 synchronous ReadFileRange of 64 KiB at random offsets of a file
//                          of the transfer size, against raw libcurl with a reused handle posting
//                          the download form with the same offsets, checking the status and
//                          stopping after 64 KiB (reads a second)
//
// Every transfer writes a file that does not exist yet: each side's output of the previous
// round (the local download, the device's copy of an upload) is removed before its timer
// starts. The device is vesk-emulator in a process of its own on loopback, so that this
// process's memory and threads are the library's.
//
//   perf_bench [--rounds N] [--bytes N] [--only NAME]
//   (VESK_BENCH_BYTES also sets the transfer size; default 1 GiB)
#include <curl/curl.h>
#include <fcntl.h>
#include <json/reader.h>
#include <malloc.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Compare.h"
#include "VeskHttp.h"
#include "filestation/commands/FileTreeReplies.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vesk::bench::Compare;
using vesk::bench::Reference;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "perf_bench: %s\n", message.c_str());
  std::exit(1);
}

// ---- this process's memory and threads ----

long StatusField(const char* name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(name);
  while (std::getline(in, line))
    if (line.compare(0, n, name) == 0 && line.size() > n && line[n] == ':')
      return std::atol(line.c_str() + n + 1);
  return -1;
}
long ResidentKiB() { return StatusField("VmRSS"); }
long PeakResidentKiB() { return StatusField("VmHWM"); }
long Threads() { return StatusField("Threads"); }
// Starts the peak afresh from the present size, after handing freed memory back to the system
// so that what an earlier round freed does not hide this round's growth.
void ResetPeak() {
  malloc_trim(0);
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

// The most threads this process had while it lived, read from /proc/self/status every
// millisecond by a thread of its own (which it leaves out of the count). A thread that lived
// for less than a millisecond may be missed.
class ThreadSampler {
 public:
  ThreadSampler() : thread_([this] { Run(); }) {}
  ~ThreadSampler() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  ThreadSampler(const ThreadSampler&) = delete;
  ThreadSampler& operator=(const ThreadSampler&) = delete;
  long Peak() const { return peak_.load() - 1; }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    do {
      const long now = Threads();
      if (now > peak_.load()) peak_.store(now);
      // The pace of the sampling; a stop ends the wait at once.
    } while (!wake_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stop_; }));
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;  // guarded by mutex_
  std::atomic<long> peak_{0};
  std::thread thread_;  // last: it starts once the rest is set up
};

// ---- the emulator ----

class EmulatorProcess {
 public:
  EmulatorProcess(const fs::path& root, const fs::path& log) {
    std::vector<std::string> args = {VESK_EMULATOR_PATH, "--root", root.string(), "--port", "0",
                                     "--tls-port",       "0"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) Die("cannot start " + args[0]);
    // It prints the URLs it serves once it listens.
    for (int i = 0; i < 500 && (port_ == 0 || tlsPort_ == 0); ++i) {
      usleep(10000);  // waiting for another process to come up; not synchronisation within ours
      std::ifstream in(log);
      std::string line;
      while (std::getline(in, line)) {
        if (line.find("serving http://") != std::string::npos)
          port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
        if (line.find("serving https://") != std::string::npos)
          tlsPort_ = std::atoi(line.c_str() + line.rfind(':') + 1);
      }
    }
    if (port_ == 0 || tlsPort_ == 0) Die("the emulator did not come up");
  }
  ~EmulatorProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  int Port() const { return port_; }
  int TlsPort() const { return tlsPort_; }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
  int tlsPort_ = 0;
};

// ---- raw libcurl ----

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct Easy {
  CURL* easy = curl_easy_init();
  std::string reply;
  ~Easy() { curl_easy_cleanup(easy); }
  void Get(const std::string& url) {
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  }
  bool Perform() {
    reply.clear();
    return curl_easy_perform(easy) == CURLE_OK && StatusIs200();
  }
  bool StatusIs200() {
    long status = 0;
    return curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  }
};

// A number the device sends as a number or as its decimal text.
long long NumberOf(const rapidjson::Value& v) {
  if (v.IsInt64()) return v.GetInt64();
  if (v.IsNumber()) return static_cast<long long>(v.GetDouble());
  if (v.IsString()) return std::strtoll(v.GetString(), nullptr, 10);
  return 0;
}

// What a client written straight on libcurl does with a listing or status reply, after it has
// checked the HTTP status: parses the JSON in place with RapidJSON (the parser the library
// uses) and reads the status, the total and each entry's name, kind, size, time and permission.
// The number of entries read; -1 when the reply is no listing.
long ReadListingReply(std::string& reply) {
  rapidjson::Document root;
  root.ParseInsitu(reply.data());
  if (root.HasParseError() || !root.IsObject()) return -1;
  const auto status = root.FindMember("status");
  const auto total = root.FindMember("total");
  const auto datas = root.FindMember("datas");
  if (status != root.MemberEnd() && NumberOf(status->value) == 0) return -1;
  if (total == root.MemberEnd() || datas == root.MemberEnd() || !datas->value.IsArray()) return -1;
  long read = 0;
  std::size_t names = 0;
  long long sum = 0;
  for (const rapidjson::Value& entry : datas->value.GetArray()) {
    if (!entry.IsObject()) continue;
    for (const auto& member : entry.GetObject()) {
      const std::string_view name(member.name.GetString(), member.name.GetStringLength());
      if (name == "filename" && member.value.IsString()) {
        names += member.value.GetStringLength();
      } else if (name == "isfolder" || name == "filesize" || name == "epochmt" ||
                 name == "privilege") {
        sum += NumberOf(member.value);
      }
    }
    ++read;
  }
  return names > 0 && sum >= 0 ? read : -1;
}

// The file service's sid through a raw login, for the baselines' requests.
std::string RawSid(const std::string& base) {
  Easy e;
  e.Get(base + "wfm2Login.cgi");
  const std::string form = "user=admin&pwd=YWRtaW4%3D";  // "admin" in base64
  curl_easy_setopt(e.easy, CURLOPT_POSTFIELDS, form.c_str());
  if (!e.Perform()) Die("raw login");
  const auto at = e.reply.find("\"sid\":\"");
  if (at == std::string::npos) Die("no sid in the login reply");
  return e.reply.substr(at + 7, e.reply.find('"', at + 7) - at - 7);
}

// Runs curl with the arguments; its standard output goes to outFile. true when it exits 0.
bool CurlProgram(std::vector<std::string> args, const std::string& outFile) {
  args.insert(args.begin(), {"curl", "--silent", "--show-error", "--fail", "-o", outFile});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- reporting ----

struct Options {
  int rounds = 5;
  std::uint64_t bytes = 1ULL << 30;
  std::string only;
};

// ---- scenarios ----

struct Setup {
  fs::path base;
  int port = 0, tlsPort = 0;
  std::string sid;  // the baselines' session
  std::string Url(bool tls) const {
    return std::string(tls ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(tls ? tlsPort : port) + "/cgi-bin/filemanager/";
  }
};

void StatLoop(const Setup& s, const Options& o, bool tls) {
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", tls ? 1 : 0, L""));
  server.SetFileStationPortNum(s.port);
  server.SetFileStationSSLPortNum(s.tlsPort);
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) Die("library login");
  IVeskHttpFileStation* files = server.OpenFileStation();
  constexpr int kOps = 2000;
  const auto library = [&] {
    const auto start = Clock::now();
    for (int i = 0; i < kOps; ++i) {
      CVeskHttpFileStatus status;
      if (files->GetFileStatus(L"/Public/listing/f0001.txt", nullptr, &status) != VESK_HTTP_SUCCESS)
        Die("GetFileStatus");
    }
    return kOps / Seconds(Clock::now() - start);
  };
  Easy raw;
  raw.Get(s.Url(tls) + "utilRequest.cgi?func=stat&sid=" + s.sid +
          "&path=%2FPublic%2Flisting&file_total=1&file_name=f0001.txt");
  const auto baseline = [&] {
    const auto start = Clock::now();
    for (int i = 0; i < kOps; ++i)
      if (!raw.Perform() || ReadListingReply(raw.reply) != 1) Die("raw stat");
    return kOps / Seconds(Clock::now() - start);
  };
  Compare(tls ? "stat-https" : "stat-http", "ops/s", o.rounds, library, baseline);
  server.CloseFileStation(&files);
}

void ListAsync(const Setup& s, const Options& o) {
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(s.port);
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) Die("library login");
  IVeskHttpFileStation* files = server.OpenFileStation();
  constexpr int kRequests = 200;
  constexpr long kEntries = 30;  // the listing folder's files, all on the page of 50

  struct Batch {
    std::mutex mutex;
    std::condition_variable cv;
    int done = 0;
    int failed = 0;
  };
  long libraryThreads = 0, baselineThreads = 0;
  const auto library = [&] {
    Batch batch;
    std::vector<IVeskHttpFileStationRequestBase*> requests;
    double seconds = 0;
    {
      const ThreadSampler threads;
      const auto start = Clock::now();
      for (int i = 0; i < kRequests; ++i) {
        requests.push_back(files->GetFileListAsync(L"/Public/listing", 0, 50, &batch,
                                                   [](_VESK_HTTP_NOTIFY_INFO_* info) {
                                                     auto& b = *static_cast<Batch*>(info->userData);
                                                     std::lock_guard lock(b.mutex);
                                                     if (info->result != VESK_HTTP_SUCCESS)
                                                       ++b.failed;
                                                     ++b.done;
                                                     b.cv.notify_one();
                                                   }));
        if (!requests.back()) Die("GetFileListAsync");
      }
      {
        std::unique_lock lock(batch.mutex);
        batch.cv.wait(lock, [&] { return batch.done == kRequests; });
      }
      if (batch.failed) Die("a listing failed");
      // Each request's entries, as a caller reads them.
      for (IVeskHttpFileStationRequestBase* r : requests)
        if (r->GetFileEntryList()->size() != static_cast<std::size_t>(kEntries))
          Die("a listing's entries");
      seconds = Seconds(Clock::now() - start);
      libraryThreads = std::max(libraryThreads, threads.Peak());
    }
    for (auto* r : requests) files->CloseRequest(&r);
    return seconds;
  };

  CURLM* multi = curl_multi_init();
  const std::string url = s.Url(false) + "utilRequest.cgi?func=get_list&sid=" + s.sid +
                          "&is_iso=0&list_mode=all&path=%2FPublic%2Flisting&dir=ASC&limit=50"
                          "&sort=filename&start=0";
  const auto baseline = [&] {
    std::vector<std::unique_ptr<Easy>> handles;
    double seconds = 0;
    {
      const ThreadSampler threads;
      const auto start = Clock::now();
      for (int i = 0; i < kRequests; ++i) {
        handles.push_back(std::make_unique<Easy>());
        handles.back()->Get(url);
        curl_multi_add_handle(multi, handles.back()->easy);
      }
      int running = 0, done = 0;
      do {
        curl_multi_perform(multi, &running);
        // Each reply is checked and read as it completes.
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
          if (msg->msg != CURLMSG_DONE) continue;
          Easy* easy = nullptr;
          curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &easy);
          if (msg->data.result != CURLE_OK || !easy->StatusIs200() ||
              ReadListingReply(easy->reply) != kEntries)
            Die("raw listing");
          ++done;
        }
        if (running) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
      } while (running);
      if (done != kRequests) Die("raw listings unfinished");
      seconds = Seconds(Clock::now() - start);
      baselineThreads = std::max(baselineThreads, threads.Peak());
    }
    for (auto& h : handles) curl_multi_remove_handle(multi, h->easy);
    return seconds;
  };
  Compare("list-async", "s", o.rounds, library, baseline);
  // The thread counts are known only after the rounds: they have a line of their own.
  std::printf(
      "list-async   most threads in the process during a batch (sampled every ms): library %ld, "
      "baseline %ld\n",
      libraryThreads, baselineThreads);
  curl_multi_cleanup(multi);
  server.CloseFileStation(&files);
}

std::string ListingText(int entries) {
  std::string text = "{\"status\":0,\"total\":" + std::to_string(entries) + ",\"datas\":[";
  for (int i = 0; i < entries; ++i) {
    if (i) text += ',';
    const std::string n = std::to_string(i);
    text += "{\"filename\":\"file-" + n +
            " \\u00e9t\\u00e9.txt\",\"isfolder\":" + (i % 10 == 0 ? "1" : "0") +
            ",\"filesize\":\"" + std::to_string(1000 + i * 37) +
            "\",\"group\":\"everyone\",\"owner\":\"admin\",\"iscommpressed\":0,"
            "\"privilege\":\"777\",\"filetype\":0,\"mt\":\"2026/01/02 03:04:05\",\"epochmt\":" +
            std::to_string(1767323045 + i) + "}";
  }
  return text + "]}";
}

void ParseList(const Options& o) {
  const std::string text = ListingText(100000);
  const auto library = [&] {
    const auto start = Clock::now();
    vesk::CGetPathInfoJson reply;
    reply.pathInfoFlags = -1;
    if (reply.Parse(text) != 1 || reply.entries.size() != 100000) Die("listing parser");
    return Seconds(Clock::now() - start);
  };
  const auto baseline = [&] {
    const auto start = Clock::now();
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) Die("jsoncpp");
    return Seconds(Clock::now() - start);
  };
  Compare("parse-list", "s", o.rounds, library, baseline);
}

// The heap a listing occupies: the records and the texts they hold beyond the strings' own
// in-place storage (each allocation rounded up as the C library rounds it).
std::size_t ListBytes(const std::vector<CVeskHttpFileEntry>& list) {
  const auto text = [](const wchar_t* t) -> std::size_t {
    const std::size_t chars = std::wcslen(t);
    if (chars < 16 / sizeof(wchar_t)) return 0;
    return ((chars + 1) * sizeof(wchar_t) + 8 + 15) / 16 * 16;
  };
  std::size_t bytes = list.capacity() * sizeof(CVeskHttpFileEntry);
  for (const CVeskHttpFileEntry& e : list) bytes += text(e.GetFilePath()) + text(e.GetFileName());
  return bytes;
}

void List100k(const Setup& s, const Options& o) {
  constexpr int kEntries = 100000;
  const fs::path folder = s.base / "root" / "Public" / "big";
  fs::create_directories(folder);
  for (int i = 1; i <= kEntries; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file-%06d.txt", i);
    std::ofstream{folder / name};
  }
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(s.port);
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) Die("library login");
  IVeskHttpFileStation* files = server.OpenFileStation();
  const int rounds = std::max(1, std::min(o.rounds, 3));
  long libraryPeak = 0, baselinePeak = 0;
  std::size_t listBytes = 0;
  const auto library = [&] {
    ResetPeak();
    const long idle = ResidentKiB();
    const auto start = Clock::now();
    double seconds = 0;
    {
      std::vector<CVeskHttpFileEntry> list;
      if (files->GetFileList(L"/Public/big", 0, kEntries, nullptr, &list) != VESK_HTTP_SUCCESS ||
          list.size() != kEntries)
        Die("library listing");
      seconds = Seconds(Clock::now() - start);
      listBytes = ListBytes(list);
    }
    libraryPeak = std::max(libraryPeak, PeakResidentKiB() - idle);
    return kEntries / seconds;
  };
  Easy raw;
  raw.Get(s.Url(false) + "utilRequest.cgi?func=get_list&sid=" + s.sid +
          "&is_iso=0&list_mode=all&path=%2FPublic%2Fbig&dir=ASC&limit=" + std::to_string(kEntries) +
          "&sort=filename&start=0");
  const auto baseline = [&] {
    ResetPeak();
    const long idle = ResidentKiB();
    const auto start = Clock::now();
    double seconds = 0;
    {
      if (!raw.Perform()) Die("raw listing");
      Json::CharReaderBuilder builder;
      std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
      Json::Value root;
      std::string errors;
      if (!reader->parse(raw.reply.data(), raw.reply.data() + raw.reply.size(), &root, &errors))
        Die("jsoncpp");
      // What a caller reads of each entry: its name and size.
      std::size_t names = 0;
      long long sizes = 0;
      for (const Json::Value& entry : root["datas"]) {
        names += entry["filename"].asString().size();
        sizes += entry["filesize"].asInt64();
      }
      if (root["datas"].size() != kEntries || names == 0 || sizes != 0) Die("raw listing entries");
      seconds = Seconds(Clock::now() - start);
      std::string().swap(raw.reply);
    }
    baselinePeak = std::max(baselinePeak, PeakResidentKiB() - idle);
    return kEntries / seconds;
  };
  Compare("list-100k", "entries/s", rounds, library, baseline);
  std::printf(
      "list-100k    peak resident memory above idle: library %.1f MiB, baseline %.1f MiB; "
      "the returned list holds %.1f MiB\n",
      libraryPeak / 1024.0, baselinePeak / 1024.0, listBytes / 1048576.0);
  server.CloseFileStation(&files);
  fs::remove_all(folder);
}

void WriteFile(const fs::path& path, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string piece(1 << 20, '\0');
  for (std::size_t i = 0; i < piece.size(); ++i)
    piece[i] = static_cast<char>(i * 2654435761u >> 11);
  for (std::uint64_t done = 0; done < size; done += piece.size())
    out.write(piece.data(),
              static_cast<std::streamsize>(std::min<std::uint64_t>(piece.size(), size - done)));
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), static_cast<std::streamsize>(p.size()));
    y.read(q.data(), static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), x.gcount()) != 0) return false;
  }
  return !x && !y;
}

// ---- raw libcurl transfers ----

// The library's figures: upload pieces of at most 65535 bytes, download receives of up to
// 512 KiB, download writes of 256 KiB or more (but the last).
constexpr std::size_t kUploadPiece = 65535;
constexpr long kDownloadReceive = 512 << 10;
constexpr std::size_t kDownloadWrite = 256 << 10;
// The library's multipart form: its boundary and the lines around the file.
constexpr char kBoundary[] = "----------gL6GI3KM7cH2Ij5ae0Ef1gL6ei4Ef1";

// An upload's body: the form's head, the file read in pieces, the form's tail.
struct UploadBody {
  int fd = -1;
  std::uint64_t left = 0;
  std::string head, tail;
  std::size_t headSent = 0, tailSent = 0;
};

size_t ReadUploadBody(char* buffer, size_t size, size_t count, void* data) {
  auto& body = *static_cast<UploadBody*>(data);
  const std::size_t max = size * count;
  const auto copy = [&](const std::string& text, std::size_t& sent) {
    const std::size_t n = std::min(max, text.size() - sent);
    std::memcpy(buffer, text.data() + sent, n);
    sent += n;
    return n;
  };
  if (body.headSent < body.head.size()) return copy(body.head, body.headSent);
  if (body.left > 0) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>({kUploadPiece, max, body.left}));
    for (std::size_t done = 0; done < n;) {
      const ssize_t got = ::read(body.fd, buffer + done, n - done);
      if (got <= 0) return CURL_READFUNC_ABORT;
      done += static_cast<std::size_t>(got);
    }
    body.left -= n;
    return n;
  }
  return copy(body.tail, body.tailSent);
}

// A download's file: the reply's bytes gathered into writes of kDownloadWrite or more.
struct DownloadSink {
  CURL* easy = nullptr;
  int fd = -1;
  std::string pending;
  std::uint64_t written = 0;
  bool Write(const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::write(fd, data + done, size - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    written += size;
    return true;
  }
  bool Flush() {
    const bool ok = Write(pending.data(), pending.size());
    pending.clear();
    return ok;
  }
};

size_t WriteDownload(char* data, size_t size, size_t count, void* context) {
  auto& sink = *static_cast<DownloadSink*>(context);
  const std::size_t n = size * count;
  // Only the file's own bytes go into the file: a refusal's body never does.
  long status = 0;
  if (curl_easy_getinfo(sink.easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
    return 0;
  // Small receives are gathered; a large one goes straight to the file.
  if (sink.pending.empty() && n >= kDownloadWrite) return sink.Write(data, n) ? n : 0;
  sink.pending.append(data, n);
  if (sink.pending.size() >= kDownloadWrite && !sink.Flush()) return 0;
  return n;
}

// Transfers on one handle kept from one transfer to the next, as the library keeps its
// thread's handle and connection.
class RawTransfers {
 public:
  explicit RawTransfers(std::string url, std::string sid)
      : url_(std::move(url)), sid_(std::move(sid)) {
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  }
  ~RawTransfers() {
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
  }
  RawTransfers(const RawTransfers&) = delete;
  RawTransfers& operator=(const RawTransfers&) = delete;

  // The library's upload request: a multipart form of the file, sent with its length; the
  // reply's HTTP status and its JSON status checked.
  bool Upload(const fs::path& file, const std::string& name, std::uint64_t size) {
    UploadBody body;
    body.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (body.fd < 0) return false;
    body.left = size;
    const std::string delimiter = std::string(kBoundary) + "\r\n";
    body.head = delimiter + "Content-Disposition: form-data; name=\"Filename\"\r\n\r\n" + name +
                "\r\n" + delimiter +
                "Content-Disposition: form-data; name=\"Filedata\"; filename=\"" + name +
                "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    body.tail = "\r\n" + std::string(kBoundary) +
                "\r\nContent-Disposition: form-data; name=\"Upload\"\r\n\r\nSubmit Query\r\n" +
                kBoundary + "--";
    const curl_off_t length = static_cast<curl_off_t>(body.head.size() + size + body.tail.size());
    SetHeaders({"Accept: text/*",
                std::string("Content-Type: multipart/form-data; boundary=") + kBoundary,
                "Connection: Keep-Alive", "Cache-Control: no-cache", "Expect:"});
    std::string reply;
    curl_easy_setopt(
        easy_, CURLOPT_URL,
        (url_ + "utilRequest.cgi?func=upload&sid=" + sid_ + "&dest_path=%2FPublic&overwrite=1")
            .c_str());
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, length);
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &ReadUploadBody);
    curl_easy_setopt(easy_, CURLOPT_READDATA, &body);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 65536L);
    const bool sent = curl_easy_perform(easy_) == CURLE_OK;
    ::close(body.fd);
    long status = 0;
    if (!sent || curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        status != 200)
      return false;
    rapidjson::Document root;
    root.Parse(reply.data(), reply.size());
    if (root.HasParseError() || !root.IsObject()) return false;
    const auto member = root.FindMember("status");
    return member != root.MemberEnd() && NumberOf(member->value) != 0;
  }

  // The library's download request: a form naming the file; a 200 reply's body into a new
  // file, all of it.
  bool Download(const std::string& name, const fs::path& file, std::uint64_t size) {
    DownloadSink sink;
    sink.easy = easy_;
    sink.fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (sink.fd < 0) return false;
    sink.pending.reserve(2 * kDownloadWrite);
    const std::string form = "isfolder=0&source_total=1&source_path=%2FPublic&source_file=" + name;
    SetHeaders({"Content-Type: application/x-www-form-urlencoded; charset=UTF-8",
                "Connection: Keep-Alive", "Expect:"});
    curl_easy_setopt(easy_, CURLOPT_URL,
                     (url_ + "utilRequest.cgi?func=download&sid=" + sid_).c_str());
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size()));
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &WriteDownload);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kDownloadReceive);
    const bool received = curl_easy_perform(easy_) == CURLE_OK && sink.Flush();
    const bool closed = ::close(sink.fd) == 0;
    return received && closed && sink.written == size;
  }

 private:
  void SetHeaders(const std::vector<std::string>& lines) {
    curl_slist_free_all(headers_);
    headers_ = nullptr;
    for (const std::string& line : lines) headers_ = curl_slist_append(headers_, line.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
  }
  CURL* easy_ = curl_easy_init();
  curl_slist* headers_ = nullptr;
  std::string url_, sid_;
};

void Transfers(const Setup& s, const Options& o) {
  const fs::path local = s.base / "local";
  const fs::path device = s.base / "root" / "Public";  // the emulator's copy of /Public
  fs::create_directories(local);
  // One file for every side, which each uploads under a name of its own (the library takes
  // the local file's name): links to the same bytes, so that no side reads colder pages.
  WriteFile(local / "source.bin", o.bytes);
  for (const char* name : {"lib.bin", "raw.bin", "curl.bin"})
    fs::create_hard_link(local / "source.bin", local / name);
  const int rounds = std::max(1, std::min(o.rounds, 3));
  const double mib = static_cast<double>(o.bytes) / (1 << 20);

  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(s.port);
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) Die("library login");
  IVeskHttpFileStation* files = server.OpenFileStation();
  const std::string url = s.Url(false);
  RawTransfers raw(url, s.sid);
  long peakAboveIdle = 0;
  // Times one transfer, after its output of the previous round is removed.
  const auto timed = [&](const fs::path& output, const std::function<bool()>& transfer,
                         const char* what) {
    fs::remove(output);
    const auto start = Clock::now();
    if (!transfer()) Die(what);
    return mib / Seconds(Clock::now() - start);
  };
  // The same for the library, noting the peak resident memory above what it started with.
  const auto measured = [&](const fs::path& output, const std::function<bool()>& transfer) {
    fs::remove(output);
    ResetPeak();
    const long idle = ResidentKiB();
    const double figure = timed(output, transfer, "library transfer");
    peakAboveIdle = std::max(peakAboveIdle, PeakResidentKiB() - idle);
    return figure;
  };

  peakAboveIdle = 0;
  Compare(
      "upload-1g", "MiB/s", rounds,
      [&] {
        return measured(device / "lib.bin", [&] {
          return files->UploadFile((local / "lib.bin").wstring().c_str(), L"/Public", nullptr,
                                   nullptr, nullptr) == VESK_HTTP_SUCCESS;
        });
      },
      [&] {
        return timed(
            device / "raw.bin", [&] { return raw.Upload(local / "raw.bin", "raw.bin", o.bytes); },
            "raw libcurl upload");
      });
  std::printf("upload-1g    library peak resident memory above idle: %.1f MiB\n",
              peakAboveIdle / 1024.0);
  Reference("upload-1g", "MiB/s", "the curl program", rounds, [&] {
    return timed(
        device / "curl.bin",
        [&] {
          return CurlProgram(
              {"-F", "Filename=curl.bin", "-F",
               "Filedata=@" + (local / "curl.bin").string() + ";type=application/octet-stream",
               "-F", "Upload=Submit Query",
               url + "utilRequest.cgi?func=upload&sid=" + s.sid +
                   "&dest_path=%2FPublic&overwrite=1"},
              "/dev/null");
        },
        "curl upload");
  });

  peakAboveIdle = 0;
  Compare(
      "download-1g", "MiB/s", rounds,
      [&] {
        return measured(local / "lib.down", [&] {
          return files->DownloadFile(L"/Public/lib.bin", (local / "lib.down").wstring().c_str(), 0,
                                     nullptr, nullptr, nullptr) == VESK_HTTP_SUCCESS;
        });
      },
      [&] {
        return timed(
            local / "raw.down",
            [&] { return raw.Download("raw.bin", local / "raw.down", o.bytes); },
            "raw libcurl download");
      });
  std::printf("download-1g  library peak resident memory above idle: %.1f MiB\n",
              peakAboveIdle / 1024.0);
  Reference("download-1g", "MiB/s", "the curl program", rounds, [&] {
    return timed(
        local / "curl.down",
        [&] {
          return CurlProgram(
              {"-H", "Content-Type: application/x-www-form-urlencoded; charset=UTF-8", "-d",
               "isfolder=0&source_total=1&source_path=%2FPublic&source_file=curl.bin",
               url + "utilRequest.cgi?func=download&sid=" + s.sid},
              (local / "curl.down").string());
        },
        "curl download");
  });
  for (const char* down : {"lib.down", "raw.down", "curl.down"})
    if (!SameContent(local / "source.bin", local / down))
      Die(std::string("a download differs from its file: ") + down);
  server.CloseFileStation(&files);
}

// ---- ranged reads ----

constexpr long long kRangedReadBytes = 64 * 1024;

// What one ranged read took, for either side.
struct RangeTaken {
  long long bytes = 0;
  CURL* easy = nullptr;  // the baseline's handle, whose status it checks
  bool refused = false;
};

int TakeRange(void* user, const char*, long long size) {
  static_cast<RangeTaken*>(user)->bytes += size;
  return 1;
}

// The baseline's write callback: only a 200 reply counts, and the read stops after its length.
size_t TakeRangeRaw(char*, size_t size, size_t count, void* user) {
  auto& taken = *static_cast<RangeTaken*>(user);
  if (taken.bytes == 0) {
    long status = 0;
    curl_easy_getinfo(taken.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
      taken.refused = true;
      return 0;
    }
  }
  const long long wanted =
      std::min<long long>(static_cast<long long>(size * count), kRangedReadBytes - taken.bytes);
  taken.bytes += wanted;
  return taken.bytes < kRangedReadBytes ? size * count : 0;  // 0 ends the transfer here
}

void RangedRead(const Setup& s, const Options& o) {
  constexpr int kReads = 1000;
  const fs::path file = s.base / "root" / "Public" / "ranged.bin";
  const std::uint64_t size = std::max<std::uint64_t>(o.bytes, kRangedReadBytes);
  WriteFile(file, size);
  // The same random offsets for both sides.
  std::vector<long long> offsets(kReads);
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  for (long long& offset : offsets) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    offset = static_cast<long long>(state % (size - kRangedReadBytes + 1));
  }

  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(s.port);
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) Die("library login");
  IVeskHttpFileStation* files = server.OpenFileStation();
  const auto library = [&] {
    const auto start = Clock::now();
    for (const long long offset : offsets) {
      RangeTaken taken;
      long long read = 0;
      if (files->ReadFileRange(L"/Public/ranged.bin", offset, kRangedReadBytes, nullptr, &taken,
                               &TakeRange, nullptr, &read) != VESK_HTTP_SUCCESS ||
          read != kRangedReadBytes || taken.bytes != kRangedReadBytes)
        Die("ReadFileRange");
    }
    return kReads / Seconds(Clock::now() - start);
  };

  CURL* easy = curl_easy_init();
  const std::string url = s.Url(false) + "utilRequest.cgi?func=download&sid=" + s.sid;
  curl_slist* headers =
      curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded; charset=UTF-8");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TakeRangeRaw);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  std::string form;
  const auto baseline = [&] {
    const auto start = Clock::now();
    for (const long long offset : offsets) {
      form = "isfolder=0&source_total=1&source_path=%2FPublic&source_file=ranged.bin";
      if (offset != 0) form += "&offset=" + std::to_string(offset);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, form.c_str());
      RangeTaken taken{.easy = easy};
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, &taken);
      const CURLcode result = curl_easy_perform(easy);
      // A read stopped after its length ends as a write error; one whose reply ended with it, as
      // a success.
      if ((result != CURLE_OK && result != CURLE_WRITE_ERROR) || taken.refused ||
          taken.bytes != kRangedReadBytes)
        Die("raw ranged read");
    }
    return kReads / Seconds(Clock::now() - start);
  };
  Compare("ranged-read", "reads/s", o.rounds, library, baseline);
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  server.CloseFileStation(&files);
  fs::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const char* env = std::getenv("VESK_BENCH_BYTES")) o.bytes = std::stoull(env);
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--rounds") {
      o.rounds = std::max(1, std::atoi(argv[i + 1]));
    } else if (flag == "--bytes") {
      o.bytes = std::stoull(argv[i + 1]);
    } else if (flag == "--only") {
      o.only = argv[i + 1];
    } else {
      Die("usage: perf_bench [--rounds N] [--bytes N] [--only NAME]");
    }
  }
  // A name, or the first part of names before a "-" ("stat" for both stat scenarios).
  const auto wanted = [&](const std::string& name) {
    return o.only.empty() || (name.compare(0, o.only.size(), o.only) == 0 &&
                              (name.size() == o.only.size() || name[o.only.size()] == '-'));
  };
  signal(SIGPIPE, SIG_IGN);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp ? tmp : "/tmp") + "/vesk-perf-XXXXXX";
  if (!mkdtemp(pattern.data())) Die("cannot make a temporary folder");
  Setup s;
  s.base = pattern;
  struct Cleanup {
    fs::path path;
    ~Cleanup() { fs::remove_all(path); }
  } cleanup{s.base};
  const fs::path listing = s.base / "root" / "Public" / "listing";
  fs::create_directories(listing);
  for (int i = 0; i < 30; ++i) {
    const std::string n = std::to_string(i);
    std::ofstream(listing / ("f" + std::string(4 - n.size(), '0') + n + ".txt")) << "content " << n;
  }
  {
    EmulatorProcess device(s.base / "root", s.base / "emulator.log");
    s.port = device.Port();
    s.tlsPort = device.TlsPort();
    s.sid = RawSid(s.Url(false));
    std::printf("perf_bench: vesk-emulator on 127.0.0.1:%d and :%d, %d rounds\n", s.port, s.tlsPort,
                o.rounds);
    if (wanted("stat-http")) StatLoop(s, o, false);
    if (wanted("stat-https")) StatLoop(s, o, true);
    if (wanted("list-async")) ListAsync(s, o);
    if (wanted("parse-list")) ParseList(o);
    if (wanted("list-100k")) List100k(s, o);
    if (wanted("upload-1g") || wanted("download-1g")) Transfers(s, o);
    if (wanted("ranged-read")) RangedRead(s, o);
  }
  curl_global_cleanup();
  return 0;
}
