#include "tools/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace kv5::test {

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& extraEnvironment) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

  std::vector<std::string> argStore = {program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argStore) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** entry = environ; *entry; ++entry) envStore.emplace_back(*entry);
  envStore.insert(envStore.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> envp;
  for (std::string& entry : envStore) envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0 && !exitCode_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

void ProgramRun::Collect(std::chrono::milliseconds limit) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, static_cast<int>(limit.count())) <= 0) return;
  char buffer[4096];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(got));
    } else {
      // End of the stream: the child closed it.
      close(fds[i].fd);
      (i == 0 ? outFd_ : errFd_) = -1;
    }
  }
}

bool ProgramRun::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (out_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline || (outFd_ < 0 && errFd_ < 0)) return false;
    Collect(std::chrono::milliseconds(50));
  }
  return true;
}

void ProgramRun::Signal(int number) {
  if (pid_ > 0 && !exitCode_) kill(pid_, number);
}

std::optional<int> ProgramRun::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!exitCode_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    Collect(std::chrono::milliseconds(20));
  }
  // Whatever the child wrote last is still in the pipes.
  while (outFd_ >= 0 || errFd_ >= 0) Collect(std::chrono::milliseconds(100));
  return exitCode_;
}

}  // namespace kv5::test
