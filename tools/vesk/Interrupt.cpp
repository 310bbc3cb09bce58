#include "Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "Messages.h"

namespace vesk::cli {

namespace {

int cancelFlag = 0;  // read by the library's threads, written by the signal thread
std::atomic<int> cancellable{0};

[[noreturn]] void EndNow() {
  // On a terminal the message starts a line of its own, after the "^C" or a progress line.
  static const char kMessage[] = "\nvesk: interrupted\n";
  const int skip = isatty(STDERR_FILENO) == 1 ? 0 : 1;
  [[maybe_unused]] const auto written =
      ::write(STDERR_FILENO, kMessage + skip, sizeof kMessage - 1 - skip);
  ::_exit(kInterrupted);
}

void TakeSignals(sigset_t signals) {
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (cancellable.load() == 0 || Interrupted()) EndNow();
    std::atomic_ref<int>(cancelFlag).store(1);
  }
}

}  // namespace

void InstallInterruptHandler() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // The thread lives until the process ends; it holds nothing that needs releasing.
  std::thread(TakeSignals, signals).detach();
}

int* CancelFlag() { return &cancelFlag; }

bool Interrupted() { return std::atomic_ref<int>(cancelFlag).load() != 0; }

void ThrowIfInterrupted() {
  if (Interrupted()) throw Failure(kInterrupted, "interrupted");
}

CancellableScope::CancellableScope() { cancellable.fetch_add(1); }
CancellableScope::~CancellableScope() { cancellable.fetch_sub(1); }

}  // namespace vesk::cli
