// Throughput of whole-file upload and download through the library against the device
// emulator on loopback, next to the curl program making the same requests to the same device
// in the same run (the baseline).
//
//   transfer_bench [BYTES]    (default 1 GiB; VESK_BENCH_BYTES also sets it)
//
// The files live in a temporary folder under $TMPDIR (or /tmp), which needs room for four
// copies of the file.
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "VeskHttp.h"
#include "emulator/Emulator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void WriteFile(const fs::path& path, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string piece(1 << 20, '\0');
  for (std::size_t i = 0; i < piece.size(); ++i)
    piece[i] = static_cast<char>(i * 2654435761u >> 11);
  for (std::uint64_t done = 0; done < size; done += piece.size())
    out.write(piece.data(),
              static_cast<std::streamsize>(std::min<std::uint64_t>(piece.size(), size - done)));
}

// Runs curl with the arguments; its standard output goes to outFile. true when it exits 0.
bool Curl(std::vector<std::string> args, const std::string& outFile) {
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

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double MiBPerSecond(std::uint64_t bytes, Clock::duration elapsed) {
  return static_cast<double>(bytes) / (1 << 20) / std::chrono::duration<double>(elapsed).count();
}

void Report(const char* what, std::uint64_t bytes, Clock::duration library, Clock::duration curl) {
  std::printf(
      "%-9s library %8.1f MiB/s   curl %8.1f MiB/s   (library/curl %.2f)\n", what,
      MiBPerSecond(bytes, library), MiBPerSecond(bytes, curl),
      std::chrono::duration<double>(curl).count() / std::chrono::duration<double>(library).count());
}

int Fail(const char* message) {
  std::fprintf(stderr, "transfer_bench: %s\n", message);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t bytes = 1ULL << 30;
  if (const char* env = std::getenv("VESK_BENCH_BYTES")) bytes = std::stoull(env);
  if (argc > 1) bytes = std::stoull(argv[1]);

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp ? tmp : "/tmp") + "/vesk-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) return Fail("cannot make a temporary folder");
  const fs::path base = pattern;
  struct Cleanup {
    fs::path path;
    ~Cleanup() { fs::remove_all(path); }
  } cleanup{base};
  fs::create_directories(base / "root" / "Public");
  fs::create_directory(base / "local");
  WriteFile(base / "local" / "lib.bin", bytes);
  WriteFile(base / "local" / "curl.bin", bytes);

  vesk::emulator::EmulatorOptions options;
  options.root = (base / "root").string();
  options.tls = false;
  vesk::emulator::Emulator device(options);
  std::string error;
  if (!device.Start(&error)) return Fail(error.c_str());
  const std::string url =
      "http://127.0.0.1:" + std::to_string(device.Port()) + "/cgi-bin/filemanager/";

  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(device.Port());
  if (server.Login(VESK_HTTP_STATION_FILE_STATION) != VESK_HTTP_SUCCESS) return Fail("login");
  IVeskHttpFileStation* files = server.OpenFileStation();

  // curl's own session: "admin" in base64 is "YWRtaW4=".
  const std::string loginReply = (base / "login.json").string();
  if (!Curl({"-d", "user=admin&pwd=YWRtaW4%3D", url + "wfm2Login.cgi"}, loginReply))
    return Fail("curl login");
  const std::string reply = ReadAll(loginReply);
  const auto at = reply.find("\"sid\":\"");
  if (at == std::string::npos) return Fail("no sid in curl's login reply");
  const std::string sid = reply.substr(at + 7, reply.find('"', at + 7) - at - 7);

  std::printf("%llu bytes over loopback to vesk-emulator\n",
              static_cast<unsigned long long>(bytes));

  auto start = Clock::now();
  if (files->UploadFile((base / "local" / "lib.bin").wstring().c_str(), L"/Public", nullptr,
                        nullptr, nullptr) != VESK_HTTP_SUCCESS)
    return Fail("library upload");
  const auto libraryUp = Clock::now() - start;

  start = Clock::now();
  if (!Curl(
          {"-F", "Filename=curl.bin", "-F",
           "Filedata=@" + (base / "local" / "curl.bin").string() + ";type=application/octet-stream",
           "-F", "Upload=Submit Query",
           url + "utilRequest.cgi?func=upload&sid=" + sid + "&dest_path=%2FPublic&overwrite=1"},
          "/dev/null"))
    return Fail("curl upload");
  const auto curlUp = Clock::now() - start;

  start = Clock::now();
  if (files->DownloadFile(L"/Public/lib.bin", (base / "local" / "lib.down").wstring().c_str(), 0,
                          nullptr, nullptr, nullptr) != VESK_HTTP_SUCCESS)
    return Fail("library download");
  const auto libraryDown = Clock::now() - start;

  start = Clock::now();
  if (!Curl({"-H", "Content-Type: application/x-www-form-urlencoded; charset=UTF-8", "-d",
             "isfolder=0&source_total=1&source_path=%2FPublic&source_file=curl.bin",
             url + "utilRequest.cgi?func=download&sid=" + sid},
            (base / "local" / "curl.down").string()))
    return Fail("curl download");
  const auto curlDown = Clock::now() - start;

  if (fs::file_size(base / "root" / "Public" / "lib.bin") != bytes ||
      fs::file_size(base / "root" / "Public" / "curl.bin") != bytes ||
      fs::file_size(base / "local" / "lib.down") != bytes ||
      fs::file_size(base / "local" / "curl.down") != bytes)
    return Fail("a transfer did not move the whole file");

  Report("upload", bytes, libraryUp, curlUp);
  Report("download", bytes, libraryDown, curlDown);
  server.CloseFileStation(&files);
  return 0;
}
