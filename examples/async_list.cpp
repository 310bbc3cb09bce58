// Lists several folders of the device at once: one asynchronous request per folder, each
// reporting its end through a notification, while the main thread waits for all of them.
// usage: async_list PORT FOLDER...   e.g. async_list 8080 /Public /Backup
#include <VeskHttp.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

// Text of the command line, in the locale's encoding, as wide text.
static std::wstring Wide(const char* text) {
  std::mbstate_t state{};
  const std::size_t length = std::mbsrtowcs(nullptr, &text, 0, &state);
  if (length == static_cast<std::size_t>(-1)) return {};
  std::wstring wide(length, L'\0');
  std::mbsrtowcs(wide.data(), &text, length, &state);
  return wide;
}

// What the requests report to the main thread.
struct Completions {
  std::mutex mutex;
  std::condition_variable done;
  int left = 0;  // requests not yet finished
};

// One folder's request and its outcome.
struct Listing {
  Completions* completions;
  const char* folder;
  IVeskHttpFileStationRequestBase* request = nullptr;
  int result = VESK_HTTP_IN_PROGRESS;
};

// Runs on the request's worker thread: once at the end with the final result (a listing
// reports no progress). It must not release the request; the main thread does that.
static void OnNotify(_VESK_HTTP_NOTIFY_INFO_* info) {
  if (info->result == VESK_HTTP_IN_PROGRESS) return;
  auto* listing = static_cast<Listing*>(info->userData);
  std::lock_guard lock(listing->completions->mutex);
  listing->result = info->result;
  --listing->completions->left;
  listing->completions->done.notify_one();
}

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 3) {
    std::fprintf(stderr, "usage: async_list PORT FOLDER...\n");
    return 2;
  }
  CVeskHttpServer server(CVeskHttpServerInfo(L"127.0.0.1", L"admin", L"admin", 0, L""));
  server.SetFileStationPortNum(std::atol(argv[1]));
  if (int result = server.Login(VESK_HTTP_STATION_FILE_STATION); result != VESK_HTTP_SUCCESS) {
    std::fprintf(stderr, "login failed: %d\n", result);
    return 1;
  }
  IVeskHttpFileStation* files = server.OpenFileStation();

  Completions completions;
  std::vector<Listing> listings;
  for (int i = 2; i < argc; ++i) listings.push_back({&completions, argv[i]});
  for (Listing& listing : listings) {
    // Counted before the start: the notification may come before the call returns.
    {
      std::lock_guard lock(completions.mutex);
      ++completions.left;
    }
    listing.request =
        files->GetFileListAsync(Wide(listing.folder).c_str(), 0, 1000, &listing, &OnNotify);
    if (!listing.request) {  // not started: no notification will come
      std::lock_guard lock(completions.mutex);
      --completions.left;
      listing.result = VESK_HTTP_THREAD_FAILED;
    }
  }
  {
    std::unique_lock lock(completions.mutex);
    completions.done.wait(lock, [&] { return completions.left == 0; });
  }

  int failures = 0;
  for (Listing& listing : listings) {
    if (listing.result != VESK_HTTP_SUCCESS) {
      std::fprintf(stderr, "%s: listing failed: %d\n", listing.folder, listing.result);
      ++failures;
    } else {
      // The outputs stay with the request until it is released.
      const std::vector<CVeskHttpFileEntry>& entries = *listing.request->GetFileEntryList();
      std::printf("%s: %d entries\n", listing.folder, listing.request->GetTotalCount());
      for (const CVeskHttpFileEntry& entry : entries)
        std::printf("  %ls%s\n", entry.GetFileName(), entry.IsDir() ? "/" : "");
    }
    files->CloseRequest(&listing.request);  // every handle is released before the station
  }
  server.CloseFileStation(&files);
  return failures == 0 ? 0 : 1;
}
