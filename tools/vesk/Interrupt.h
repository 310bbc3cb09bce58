// Ctrl-C. Once logged in, a Ctrl-C sets the cancel flag that every library call gets, so that
// the running operation ends with VESK_HTTP_CANCELLED and the session is still closed; before
// that, or at a second Ctrl-C, vesk ends at once. Either way the exit status is 130.
#ifndef VESK_TOOLS_INTERRUPT_H
#define VESK_TOOLS_INTERRUPT_H

namespace vesk::cli {

// Blocks SIGINT and starts the thread that takes it. Called first in main, before any other
// thread starts, so that every thread inherits the blocked signal.
void InstallInterruptHandler();

// The cancel flag handed to the library: 1 once the user pressed Ctrl-C.
int* CancelFlag();
bool Interrupted();
// Throws the Failure of an interrupted command when the user pressed Ctrl-C.
void ThrowIfInterrupted();

// While one lives, Ctrl-C cancels through the flag instead of ending vesk at once.
class CancellableScope {
 public:
  CancellableScope();
  ~CancellableScope();
  CancellableScope(const CancellableScope&) = delete;
  CancellableScope& operator=(const CancellableScope&) = delete;
};

}  // namespace vesk::cli

#endif  // VESK_TOOLS_INTERRUPT_H
