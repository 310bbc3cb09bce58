#include "EmulatorProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vesk::emulator::test {

EmulatorProgram::EmulatorProgram(std::vector<std::string> args) {
  args.insert(args.begin(), VESK_EMULATOR_BINARY);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_ = fds[0];
}

EmulatorProgram::~EmulatorProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

std::string EmulatorProgram::ReadLine() {
  std::string line;
  char c;
  pollfd wait{out_, POLLIN, 0};
  while (poll(&wait, 1, 60000) == 1 && read(out_, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

void EmulatorProgram::Signal(int signal) const { kill(pid_, signal); }

int EmulatorProgram::Wait() {
  int status = 0;
  const pid_t ended = waitpid(pid_, &status, 0);
  pid_ = -1;
  return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vesk::emulator::test
