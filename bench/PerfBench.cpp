// The library's cost per operation, each scenario next to a baseline measured in the same run:
// rounds alternate between the two and the medians are compared. Every scenario prints its two
// figures and a line "RATIO <name> <library/baseline>".
//
//   stat-http, stat-https  synchronous GetFileStatus in a loop, against a raw libcurl easy
//                          handle reused for the same GET (operations a second)
//   list-async             200 concurrent GetFileListAsync, against raw libcurl multi doing the
//                          same 200 GETs (seconds for the batch; also the library's threads)
//   parse-list             a listing reply of 100 000 entries through the listing parser,
//                          against jsoncpp parsing the same text into a Json::Value (seconds)
//   list-100k              one synchronous GetFileList of a folder of 100 000 files, against
//                          raw libcurl with a reused handle whose reply is parsed into a jsoncpp
//                          tree and walked for each entry's name and size (entries a second),
//                          with each side's peak resident memory above idle and the size of the
//                          list the library returns
//   upload-1g, download-1g whole-file transfers, against the curl program sending the same
//                          request (MiB a second), with the library's peak resident memory
//                          above idle
//   ranged-read            1 000 synchronous ReadFileRange of 64 KiB at random offsets of a file
//                          of the transfer size, against raw libcurl with a reused handle posting
//                          the download form with the same offsets, checking the status and
//                          stopping after 64 KiB (reads a second)
//
// The device is vesk-emulator in a process of its own on loopback, so that this process's
// memory and threads are the library's.
//
//   perf_bench [--rounds N] [--bytes N] [--only NAME]
//   (VESK_BENCH_BYTES also sets the transfer size; default 1 GiB)
#include <curl/curl.h>
#include <fcntl.h>
#include <json/reader.h>
#include <malloc.h>
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
#include <vector>

#include "VeskHttp.h"
#include "filestation/commands/FileTreeReplies.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

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
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  }
  bool Perform() {
    reply.clear();
    long status = 0;
    return curl_easy_perform(easy) == CURLE_OK &&
           curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
  }
};

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

// Alternates library and baseline rounds; each returns its figure for the round.
void Compare(const char* name, const char* unit, int rounds, const std::function<double()>& library,
             const std::function<double()>& baseline, const char* note = nullptr) {
  std::vector<double> lib, base;
  for (int i = 0; i < rounds; ++i) {
    // Which goes first alternates too, so that neither always follows the other.
    if (i % 2 == 0) {
      lib.push_back(library());
      base.push_back(baseline());
    } else {
      base.push_back(baseline());
      lib.push_back(library());
    }
  }
  const double l = Median(lib), b = Median(base);
  std::printf("%-12s library %12.4g %-8s baseline %12.4g %-8s (median of %d)%s%s\n", name, l, unit,
              b, unit, rounds, note ? "  " : "", note ? note : "");
  std::printf("RATIO %s %.3f\n", name, l / b);
  std::fflush(stdout);
}

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
      if (!raw.Perform()) Die("raw stat");
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

  struct Batch {
    std::mutex mutex;
    std::condition_variable cv;
    int done = 0;
    int failed = 0;
    long peakThreads = 0;
  };
  long peakThreads = 0;
  const auto library = [&] {
    Batch batch;
    std::vector<IVeskHttpFileStationRequestBase*> requests;
    const auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
      requests.push_back(files->GetFileListAsync(
          L"/Public/listing", 0, 50, &batch, [](_VESK_HTTP_NOTIFY_INFO_* info) {
            auto& b = *static_cast<Batch*>(info->userData);
            std::lock_guard lock(b.mutex);
            if (info->result != VESK_HTTP_SUCCESS) ++b.failed;
            // The thread count, sampled while the batch is in full flight.
            if (++b.done % 50 == 1) b.peakThreads = std::max(b.peakThreads, Threads());
            b.cv.notify_one();
          }));
      if (!requests.back()) Die("GetFileListAsync");
    }
    {
      std::unique_lock lock(batch.mutex);
      batch.cv.wait(lock, [&] { return batch.done == kRequests; });
    }
    const double seconds = Seconds(Clock::now() - start);
    for (auto* r : requests) files->CloseRequest(&r);
    if (batch.failed) Die("a listing failed");
    peakThreads = std::max(peakThreads, batch.peakThreads);
    return seconds;
  };

  CURLM* multi = curl_multi_init();
  const std::string url = s.Url(false) + "utilRequest.cgi?func=get_list&sid=" + s.sid +
                          "&is_iso=0&list_mode=all&path=%2FPublic%2Flisting&dir=ASC&limit=50"
                          "&sort=filename&start=0";
  const auto baseline = [&] {
    std::vector<std::unique_ptr<Easy>> handles;
    const auto start = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
      handles.push_back(std::make_unique<Easy>());
      handles.back()->Get(url);
      curl_multi_add_handle(multi, handles.back()->easy);
    }
    int running = 0;
    do {
      curl_multi_perform(multi, &running);
      if (running) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    } while (running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
      if (msg->msg == CURLMSG_DONE && msg->data.result != CURLE_OK) Die("raw listing");
    const double seconds = Seconds(Clock::now() - start);
    for (auto& h : handles) curl_multi_remove_handle(multi, h->easy);
    return seconds;
  };
  // The thread count is known only after the rounds: it has a line of its own.
  Compare("list-async", "s", o.rounds, library, baseline);
  std::printf("list-async   library threads during the batch: at most %ld (process total)\n",
              peakThreads);
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

void Transfers(const Setup& s, const Options& o) {
  const fs::path local = s.base / "local";
  fs::create_directories(local);
  WriteFile(local / "lib.bin", o.bytes);
  WriteFile(local / "curl.bin", o.bytes);
  const int rounds = std::max(1, std::min(o.rounds, 3));
  const double mib = static_cast<double>(o.bytes) / (1 << 20);

  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(s.port);
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) Die("library login");
  IVeskHttpFileStation* files = server.OpenFileStation();
  const std::string url = s.Url(false);
  long peakAboveIdle = 0;
  // Runs a library transfer and notes the peak resident memory above what it started with.
  const auto measured = [&](const std::function<bool()>& transfer) {
    ResetPeak();
    const long idle = ResidentKiB();
    const auto start = Clock::now();
    if (!transfer()) Die("library transfer");
    const double seconds = Seconds(Clock::now() - start);
    peakAboveIdle = std::max(peakAboveIdle, PeakResidentKiB() - idle);
    return mib / seconds;
  };

  peakAboveIdle = 0;
  Compare(
      "upload-1g", "MiB/s", rounds,
      [&] {
        return measured([&] {
          return files->UploadFile((local / "lib.bin").wstring().c_str(), L"/Public", nullptr,
                                   nullptr, nullptr) == VESK_HTTP_SUCCESS;
        });
      },
      [&] {
        const auto start = Clock::now();
        if (!CurlProgram(
                {"-F", "Filename=curl.bin", "-F",
                 "Filedata=@" + (local / "curl.bin").string() + ";type=application/octet-stream",
                 "-F", "Upload=Submit Query",
                 url + "utilRequest.cgi?func=upload&sid=" + s.sid +
                     "&dest_path=%2FPublic&overwrite=1"},
                "/dev/null"))
          Die("curl upload");
        return mib / Seconds(Clock::now() - start);
      });
  std::printf("upload-1g    library peak resident memory above idle: %.1f MiB\n",
              peakAboveIdle / 1024.0);

  peakAboveIdle = 0;
  Compare(
      "download-1g", "MiB/s", rounds,
      [&] {
        fs::remove(local / "lib.down");
        return measured([&] {
          return files->DownloadFile(L"/Public/lib.bin", (local / "lib.down").wstring().c_str(), 0,
                                     nullptr, nullptr, nullptr) == VESK_HTTP_SUCCESS;
        });
      },
      [&] {
        const auto start = Clock::now();
        if (!CurlProgram(
                {"-H", "Content-Type: application/x-www-form-urlencoded; charset=UTF-8", "-d",
                 "isfolder=0&source_total=1&source_path=%2FPublic&source_file=curl.bin",
                 url + "utilRequest.cgi?func=download&sid=" + s.sid},
                (local / "curl.down").string()))
          Die("curl download");
        return mib / Seconds(Clock::now() - start);
      });
  std::printf("download-1g  library peak resident memory above idle: %.1f MiB\n",
              peakAboveIdle / 1024.0);
  if (!SameContent(local / "lib.bin", local / "lib.down") ||
      !SameContent(local / "curl.bin", local / "curl.down"))
    Die("a download differs from its file");
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
