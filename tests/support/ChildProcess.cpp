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
  int logFd = -1;
  if (!options.inheritInput && pipe2(input, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (options.output == Output::Pipe && pipe2(output, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    CloseFd(input[0]);
    CloseFd(input[1]);
    return false;
  }
  if (options.output == Output::LogFile) {
    logFd = open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0) {
      *error = "cannot write " + options.logPath + ": " + std::strerror(errno);
      CloseFd(input[0]);
      CloseFd(input[1]);
      return false;
    }
  }

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the parent died before the signal was bound
    if (input[0] >= 0) dup2(input[0], STDIN_FILENO);
    if (options.output == Output::Pipe) dup2(output[1], STDOUT_FILENO);
    if (logFd >= 0) {
      dup2(logFd, STDOUT_FILENO);
      dup2(logFd, STDERR_FILENO);
    }
    close_range(3, ~0u, 0);  // the test's own descriptors (JACK sockets among them) stay behind
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  CloseFd(input[0]);
  CloseFd(output[1]);
  CloseFd(logFd);
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    CloseFd(input[1]);
    CloseFd(output[0]);
    return false;
  }
  pid_ = pid;
  stdinFd_ = input[1];
  stdoutFd_ = output[0];
  buffered_.clear();
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

void ChildProcess::CloseInput() {
  CloseFd(stdinFd_);
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

int ChildProcess::Wait() {
  Reap(true);
  return status_;
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) {
    CloseInput();
    CloseFd(stdoutFd_);
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
  CloseInput();
  CloseFd(stdoutFd_);
  return status_;
}

}  // namespace kv5::test
