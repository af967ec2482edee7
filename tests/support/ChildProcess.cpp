#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

extern char** environ;

namespace kv5::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> entries;
  std::vector<std::string> order;
  auto put = [&](const std::string& entry) {
    const std::string key = entry.substr(0, entry.find('='));
    if (entries.find(key) == entries.end()) order.push_back(key);
    entries[key] = entry;
  };
  for (char** each = environ; *each != nullptr; ++each) put(*each);
  for (const auto& entry : extra) put(entry);
  std::vector<std::string> merged;
  for (const auto& key : order) merged.push_back(entries[key]);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A program named without a slash is looked up in PATH, as a shell would.
std::string Resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return program;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options) {
  std::string error;
  Start(program, args, options, &error);
}

ChildProcess::~ChildProcess() {
  Stop(SIGTERM, std::chrono::seconds(5));
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const Options& options, std::string* error) {
  if (pid_ > 0) {
    *error = "a child is already running";
    return false;
  }
  // Everything the child needs is prepared before fork: afterwards only async-signal-safe calls.
  std::vector<std::string> argvText{Resolve(program)};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<std::string> envText = MergedEnvironment(options.environment);
  std::vector<char*> argv = Pointers(argvText);
  std::vector<char*> envp = Pointers(envText);

  int input[2] = {-1, -1};
  int output[2] = {-1, -1};
  int errors[2] = {-1, -1};
  int fileFd = -1;
  auto fail = [&](const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    for (int* fd : {&input[0], &input[1], &output[0], &output[1], &errors[0], &errors[1], &fileFd})
      CloseFd(*fd);
    return false;
  };
  const bool piped = options.output == Output::Pipe || options.output == Output::Capture;
  if (options.input == Input::Pipe && pipe2(input, O_CLOEXEC) != 0) return fail("pipe");
  if (piped && pipe2(output, O_CLOEXEC) != 0) return fail("pipe");
  if (options.output == Output::Capture && pipe2(errors, O_CLOEXEC) != 0) return fail("pipe");
  if (options.output == Output::LogFile) {
    fileFd = open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fileFd < 0) return fail("cannot write " + options.logPath);
  }
  if (options.output == Output::Discard) {
    fileFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fileFd < 0) return fail("/dev/null");
  }
  int nullInput = -1;
  if (options.input == Input::Null) {
    nullInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nullInput < 0) return fail("/dev/null");
  }

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the parent died before the signal was bound
    if (input[0] >= 0) dup2(input[0], STDIN_FILENO);
    if (nullInput >= 0) dup2(nullInput, STDIN_FILENO);
    if (output[1] >= 0) dup2(output[1], STDOUT_FILENO);
    if (errors[1] >= 0) dup2(errors[1], STDERR_FILENO);
    if (fileFd >= 0) {
      dup2(fileFd, STDOUT_FILENO);
      dup2(fileFd, STDERR_FILENO);
    }
    close_range(3, ~0u, 0);  // the test's own descriptors (JACK sockets among them) stay behind
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  CloseFd(input[0]);
  CloseFd(output[1]);
  CloseFd(errors[1]);
  CloseFd(fileFd);
  CloseFd(nullInput);
  if (pid < 0) {
    input[0] = output[1] = errors[1] = -1;
    return fail("fork");
  }
  started_ = true;
  capture_ = options.output == Output::Capture;
  pid_ = pid;
  stdinFd_ = input[1];
  stdoutFd_ = output[0];
  stderrFd_ = errors[0];
  buffered_.clear();
  out_.clear();
  err_.clear();
  status_ = -1;
  killed_ = false;
  return true;
}

bool ChildProcess::ReadLine(std::string* line, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const size_t newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      *line = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return true;
    }
    if (stdoutFd_ < 0) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{stdoutFd_, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    char chunk[512];
    const ssize_t got = read(stdoutFd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      CloseFd(stdoutFd_);  // end of output; a last line without newline is not handed out
      continue;
    }
    buffered_.append(chunk, static_cast<size_t>(got));
  }
}

void ChildProcess::Collect(std::chrono::milliseconds limit) {
  if (!capture_ || (stderrFd_ < 0 && stdoutFd_ < 0)) return;
  pollfd fds[2] = {{stdoutFd_, POLLIN, 0}, {stderrFd_, POLLIN, 0}};
  if (poll(fds, 2, static_cast<int>(limit.count())) <= 0) return;
  char chunk[4096];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) {
      (i == 0 ? out_ : err_).append(chunk, static_cast<size_t>(got));
    } else {
      CloseFd(i == 0 ? stdoutFd_ : stderrFd_);  // the child closed the stream
    }
  }
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (out_.find(text) == std::string::npos) {
    if (Clock::now() >= deadline || (stdoutFd_ < 0 && stderrFd_ < 0)) return false;
    Collect(std::chrono::milliseconds(50));
  }
  return true;
}

void ChildProcess::CloseInput() {
  CloseFd(stdinFd_);
}

void ChildProcess::CloseAll() {
  CloseInput();
  CloseFd(stdoutFd_);
  CloseFd(stderrFd_);
}

void ChildProcess::Signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

bool ChildProcess::Reap(bool block) {
  if (pid_ <= 0) return true;
  int status = 0;
  pid_t done = 0;
  do {
    done = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return false;
  status_ = done == pid_ ? status : -1;
  pid_ = -1;
  return true;
}

bool ChildProcess::Running() {
  return pid_ > 0 && !Reap(false);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (!started_) return std::nullopt;
  const auto deadline = Clock::now() + limit;
  while (!Reap(false)) {
    if (Clock::now() >= deadline) return std::nullopt;
    if (capture_) {
      Collect(std::chrono::milliseconds(20));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // Whatever the child wrote last is still in the pipes.
  while (capture_ && (stdoutFd_ >= 0 || stderrFd_ >= 0)) Collect(std::chrono::milliseconds(100));
  return status_ < 0 ? std::nullopt : std::optional<int>(ExitCode(status_));
}

int ChildProcess::WaitStatus() {
  Reap(true);
  return status_;
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) {
    CloseAll();
    return status_;
  }
  if (!Reap(false)) {
    kill(pid_, signal);
    const auto deadline = Clock::now() + limit;
    while (!Reap(false)) {
      if (Clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        killed_ = true;
        Reap(true);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  CloseAll();
  return status_;
}

int ExitCode(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

}  // namespace kv5::test
