// Copies a file or folder on the device, following the device's job, and gives up following
// it once it has passed a given percentage: a cancelled request ends at once with
// VESK_HTTP_CANCELLED. (The device has no way to stop a copy: what it copied stays.)
// usage: copy_cancel PORT SOURCE DEST_FOLDER [CANCEL_AT_PERCENT]
//        e.g. copy_cancel 8080 /Public/album /Backup 50
#include <VeskHttp.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>

// Text of the command line, in the locale's encoding, as wide text.
static std::wstring Wide(const char* text) {
  std::mbstate_t state{};
  const std::size_t length = std::mbsrtowcs(nullptr, &text, 0, &state);
  if (length == static_cast<std::size_t>(-1)) return {};
  std::wstring wide(length, L'\0');
  std::mbsrtowcs(wide.data(), &text, length, &state);
  return wide;
}

// The copy's state as its notifications report it.
struct Copy {
  std::mutex mutex;
  std::condition_variable changed;
  int percent = 0;
  int result = VESK_HTTP_IN_PROGRESS;  // the final result once the request has ended
};

// Runs on the request's worker thread: VESK_HTTP_IN_PROGRESS with the job's percentage while
// it runs, then once more with the final result.
static void OnNotify(_VESK_HTTP_NOTIFY_INFO_* info) {
  auto* copy = static_cast<Copy*>(info->userData);
  std::lock_guard lock(copy->mutex);
  if (info->result == VESK_HTTP_IN_PROGRESS)
    copy->percent = info->percent;
  else
    copy->result = info->result;
  copy->changed.notify_one();
}

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: copy_cancel PORT SOURCE DEST_FOLDER [CANCEL_AT_PERCENT]\n");
    return 2;
  }
  const int cancelAt = argc == 5 ? std::atoi(argv[4]) : 101;  // 101: never
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(std::atol(argv[1]));
  if (int result = server.Login(VESK_HTTP_STATION_FILE_STATION); result != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "login failed: %d\n", result);
    return 1;
  }
  IVeskHttpFileStation* files = server.OpenFileStation();

  Copy copy;
  // Mode 0: an item of the same name in the destination is not replaced.
  IVeskHttpFileStationRequestBase* request =
      files->CopyFileAsync(Wide(argv[2]).c_str(), Wide(argv[3]).c_str(), 0, &copy, &OnNotify);
  if (!request) {
    std::fprintf(stderr, "the copy did not start\n");
    server.CloseFileStation(&files);
    return 1;
  }
  bool cancel = false;
  int shown = -1;
  {
    std::unique_lock lock(copy.mutex);
    while (copy.result == VESK_HTTP_IN_PROGRESS && !cancel) {
      copy.changed.wait(lock);
      if (copy.percent != shown) std::fprintf(stderr, "copied %d%%\n", shown = copy.percent);
      cancel = copy.percent >= cancelAt;
    }
  }
  // Cancel returns once the request has ended: its final notification has come by then. It is
  // never called with our lock held, since that notification takes the lock.
  if (cancel) request->Cancel();
  int result;
  {
    std::lock_guard lock(copy.mutex);
    result = copy.result;
  }
  files->CloseRequest(&request);

  if (result == VESK_HTTP_SUCCESS)
    std::printf("copied %s into %s\n", argv[2], argv[3]);
  else if (result == VESK_HTTP_CANCELLED)
    std::printf("stopped following the copy at %d%%\n", shown);
  else
    std::fprintf(stderr, "copy failed: %d\n", result);
  server.CloseFileStation(&files);
  return result == VESK_HTTP_SUCCESS || result == VESK_HTTP_CANCELLED ? 0 : 1;
}
