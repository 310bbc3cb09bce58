// The vesk-emulator program, started as a child process for the tests of its command line.
#ifndef VESK_TESTS_EMULATOR_EMULATOR_PROGRAM_H
#define VESK_TESTS_EMULATOR_EMULATOR_PROGRAM_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace vesk::emulator::test {

// vesk-emulator run with args; its standard output is read through a pipe, its standard error
// goes nowhere. The destructor kills it when it still runs.
class EmulatorProgram {
 public:
  explicit EmulatorProgram(std::vector<std::string> args);
  ~EmulatorProgram();
  EmulatorProgram(const EmulatorProgram&) = delete;
  EmulatorProgram& operator=(const EmulatorProgram&) = delete;

  bool Started() const { return pid_ > 0; }

  // The next line of its output; empty at its end or after 60 s without one.
  std::string ReadLine();

  void Signal(int signal) const;

  // Waits for it to end: its exit status, or -1 when it did not exit normally.
  int Wait();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace vesk::emulator::test

#endif  // VESK_TESTS_EMULATOR_EMULATOR_PROGRAM_H
